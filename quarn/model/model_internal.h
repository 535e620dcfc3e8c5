// What the registry's files share among themselves.
#pragma once

#include "quarn/model/model.h"

// Frees the block when it is owned and clears the entry.
void FreeOwnedBlock(ModelOwnedBlock* block);
// Frees every block of the chain and clears it.
void FreeBlockChain(ModelBlockLink** chain);
// Visits every slot that holds a record (placeholders and free slots skipped), in slot order.
void ForEachModelRecord(ModelSlotTable* table, void (*visit)(int32_t slot, void* record, void* context), void* context);
