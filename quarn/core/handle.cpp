#include "quarn/core/handle.h"

void* FindHandleRecord(const HandleTable* table, int32_t handle)
{
    if (handle < 0 || (handle & kHandleTypeBits) != (table->type << 27)) {
        return nullptr;
    }
    const int32_t slot = HandleSlotOf(handle);
    if (slot >= table->capacity) {
        return nullptr;
    }
    const HandleSlot& entry = table->slots[slot];
    if (entry.record == nullptr || entry.check != HandleCheckOf(handle)) {
        return nullptr;
    }
    return entry.record;
}

namespace {
int32_t FirstFreeSlot(const HandleTable* table)
{
    for (int32_t slot = 0; slot < table->createLimit; ++slot) {
        if (table->slots[slot].record == nullptr) {
            return slot;
        }
    }
    return -1;
}
}  // namespace

int32_t AddHandleRecord(HandleTable* table, void* record) { return AddHandleRecordAt(table, record, -1, -1); }

int32_t AddHandleRecordAt(HandleTable* table, void* record, int32_t slot, int32_t check)
{
    // The live count is no test of room: it also counts records in reserved slots.
    if (record == nullptr) {
        return -1;
    }
    if (check < -1 || check >= kHandleCheckLimit) {
        return -1;
    }
    if (slot != -1) {
        if (slot < 0 || slot >= table->createLimit || table->slots[slot].record != nullptr) {
            return -1;
        }
    } else if (table->rule == kSlotHighWaterFirst && table->highWater < table->createLimit) {
        slot = table->highWater;
    } else {
        slot = FirstFreeSlot(table);
    }
    if (slot < 0) {
        return -1;
    }
    if (check == -1) {
        check = table->nextCheck;
        table->nextCheck = (check + 1) % kHandleCheckLimit;
    }
    table->slots[slot].record = record;
    table->slots[slot].check = check;
    table->liveCount += 1;
    if (slot >= table->highWater) {
        table->highWater = slot + 1;
    }
    return MakeHandle(table->type, check, slot);
}

void* RemoveHandleRecord(HandleTable* table, int32_t handle)
{
    void* record = FindHandleRecord(table, handle);
    if (record == nullptr) {
        return nullptr;
    }
    const int32_t slot = HandleSlotOf(handle);
    table->slots[slot].record = nullptr;
    table->slots[slot].check = 0;
    table->liveCount -= 1;
    if (slot == table->highWater - 1) {
        int32_t top = slot;
        while (top > 0 && table->slots[top - 1].record == nullptr) {
            --top;
        }
        table->highWater = table->liveCount == 0 ? 0 : top;
    }
    return record;
}

int32_t HandleOfSlot(const HandleTable* table, int32_t slot)
{
    if (slot < 0 || slot >= table->capacity || table->slots[slot].record == nullptr) {
        return -1;
    }
    return MakeHandle(table->type, table->slots[slot].check, slot);
}
