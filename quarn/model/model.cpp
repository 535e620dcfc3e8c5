// The registry: its start with the sine table, the slot tables and handles, the walks over
// the device's loss, deletion and the end.
#include <cstring>

#include "quarn/model/model.h"
#include "quarn/model/model_internal.h"
#include "quarn/model/model_os.h"
#include "quarn/quarn.h"

ModelRegistry g_modelRegistry{};

namespace {

const ModelDeviceFacts* s_installedFacts = nullptr;

constexpr int32_t kBaseSlotLimit = kModelBaseSlotBits + 1;
constexpr int32_t kInstanceSlotLimit = 0x10000;
constexpr int32_t kFirstSlotCapacity = 16;

void FreeSlotTable(ModelSlotTable* table)
{
    FreeTrackedMemory(static_cast<void*>(table->slots));
    *table = ModelSlotTable{};
}

// The instance's handle as the walks make it from its record and slot.
int32_t InstanceHandleAt(int32_t slot)
{
    void* entry = g_modelRegistry.instances.slots[slot];
    const int32_t check = entry == QUARN_MODEL_PLACEHOLDER ? 0 : static_cast<ModelInstanceRecord*>(entry)->check;
    return MakeModelInstanceHandle(check, slot);
}

void FreeTextureEntryBlocks(ModelTextureEntry* entry)
{
    for (ModelOwnedBlock& block : entry->blocks) {
        FreeOwnedBlock(&block);
    }
}

void FreeOwnedList(ModelOwnedList* list)
{
    for (int32_t i = 0; list->entries != nullptr && i < list->count; ++i) {
        FreeOwnedBlock(&list->entries[i]);
    }
}

// The instance's frame entry for a frame index, its own blocks and chain for -1; null for a
// frame outside the base.
struct InstanceFrameSlots {
    void** blocks;
    ModelBlockLink** chain;
};
bool FindInstanceFrameSlots(int32_t handle, int32_t frame, InstanceFrameSlots* out)
{
    ModelInstanceRecord* instance = FindModelInstance(handle);
    if (instance == nullptr) {
        return false;
    }
    if (frame == -1) {
        *out = InstanceFrameSlots{instance->blocks, &instance->blockChain};
        return true;
    }
    if (frame < 0 || frame >= instance->base->frameCount || instance->frames == nullptr) {
        return false;
    }
    ModelInstanceFrame& entry = instance->frames[frame];
    *out = InstanceFrameSlots{entry.blocks, &entry.blockChain};
    return true;
}

}  // namespace

// ---- Device facts

ModelDeviceFacts ReadModelDeviceFacts()
{
    ModelDeviceFacts facts = s_installedFacts != nullptr ? *s_installedFacts : SystemModelDeviceFacts();
    // A device that reported no limit allows 256 pixels.
    if (facts.maxTextureWidth <= 0) {
        facts.maxTextureWidth = 256;
    }
    if (facts.maxTextureHeight <= 0) {
        facts.maxTextureHeight = 256;
    }
    return facts;
}

void SetModelDeviceFacts(const ModelDeviceFacts* facts) { s_installedFacts = facts; }

// ---- Owned blocks

void FreeOwnedBlock(ModelOwnedBlock* block)
{
    if (block->owned) {
        FreeTrackedMemory(block->data);
    }
    *block = ModelOwnedBlock{};
}

void FreeBlockChain(ModelBlockLink** chain)
{
    ModelBlockLink* link = *chain;
    *chain = nullptr;
    while (link != nullptr) {
        ModelBlockLink* next = link->next;
        FreeTrackedMemory(link);
        link = next;
    }
}

// ---- Slots and handles

int32_t TakeModelSlot(ModelSlotTable* table, void* record)
{
    const int32_t limit = table == &g_modelRegistry.instances ? kInstanceSlotLimit : kBaseSlotLimit;
    if (record == nullptr || table->count >= limit) {
        return -1;
    }
    if (table->count == table->capacity) {
        const int32_t capacity = table->capacity == 0          ? kFirstSlotCapacity
                                 : table->capacity * 2 > limit ? limit
                                                               : table->capacity * 2;
        void* grown = ReallocTrackedMemory(static_cast<void*>(table->slots),
                                           static_cast<uint32_t>(capacity) * sizeof(void*), __FILE__, __LINE__);
        if (grown == nullptr) {
            return -1;
        }
        table->slots = static_cast<void**>(grown);
        table->capacity = capacity;
    }
    table->slots[table->count] = record;
    ++table->liveCount;
    return table->count++;
}

ModelBaseRecord* FindModelBase(int32_t handle)
{
    const ModelSlotTable& table = g_modelRegistry.bases;
    if (handle < 0 || (handle & kModelHandleTypeBits) != kModelBaseHandleType) {
        return nullptr;
    }
    const int32_t slot = handle & kModelBaseSlotBits;
    if (slot >= table.count || table.slots[slot] == QUARN_MODEL_PLACEHOLDER) {
        return nullptr;
    }
    return static_cast<ModelBaseRecord*>(table.slots[slot]);
}

ModelInstanceRecord* FindModelInstance(int32_t handle)
{
    const ModelSlotTable& table = g_modelRegistry.instances;
    if (handle < 0 || (handle & kModelHandleTypeBits) != kModelInstanceHandleType) {
        return nullptr;
    }
    const int32_t slot = HandleSlotOf(handle);
    if (slot >= table.count || table.slots[slot] == nullptr || table.slots[slot] == QUARN_MODEL_PLACEHOLDER) {
        return nullptr;
    }
    auto* instance = static_cast<ModelInstanceRecord*>(table.slots[slot]);
    return instance->check == HandleCheckOf(handle) ? instance : nullptr;
}

void ForEachModelRecord(ModelSlotTable* table, void (*visit)(int32_t slot, void* record, void* context), void* context)
{
    for (int32_t slot = 0; slot < table->count; ++slot) {
        void* entry = table->slots[slot];
        if (entry != nullptr && entry != QUARN_MODEL_PLACEHOLDER) {
            visit(slot, entry, context);
        }
    }
}

// ---- Start and end

int32_t StartModelSystem()
{
    ModelRegistry& r = g_modelRegistry;
    if (r.started || !ReadModelDeviceFacts().hardware) {
        return 0;
    }
    // One turn in kModelSineSteps steps, with pi as single precision holds it.
    const float pi = 3.14159265358979323846f;
    for (int32_t i = 0; i < kModelSineSteps; ++i) {
        const float angle = static_cast<float>(i) * pi * 2.0f / static_cast<float>(kModelSineSteps);
        float cosine = 0.0f;
        ComputeSinCos(angle, &r.sine[i], &cosine);
    }
    r.bases = ModelSlotTable{};
    r.instances = ModelSlotTable{};
    r.started = 1;
    return 0;
}

int32_t ReleaseModelDeviceBuffers()
{
    ForEachModelRecord(
        &g_modelRegistry.bases, [](int32_t slot, void*, void*) { ReleaseBaseBuffers(MakeModelBaseHandle(slot)); },
        nullptr);
    ForEachModelRecord(
        &g_modelRegistry.instances, [](int32_t slot, void*, void*) { ReleaseInstanceBuffers(InstanceHandleAt(slot)); },
        nullptr);
    return 0;
}

int32_t RebuildModelBaseBuffers()
{
    ForEachModelRecord(
        &g_modelRegistry.bases, [](int32_t slot, void*, void*) { BuildBaseBuffers(MakeModelBaseHandle(slot), 1); },
        nullptr);
    return 0;
}

int32_t ShutDownModelSystem()
{
    ModelRegistry& r = g_modelRegistry;
    if (!r.started) {
        return 0;
    }
    for (int32_t slot = 0; slot < r.instances.count; ++slot) {
        if (r.instances.slots[slot] != nullptr) {
            DeleteModelInstance(InstanceHandleAt(slot));
        }
    }
    for (int32_t slot = 0; slot < r.bases.count; ++slot) {
        if (r.bases.slots[slot] != nullptr) {
            DeleteModelBase(MakeModelBaseHandle(slot));
        }
    }
    FreeSlotTable(&r.bases);
    FreeTrackedMemory(r.third.entries);
    r.third.entries = nullptr;
    r.third.count = 0;
    r.third.capacity = 0;
    FreeSlotTable(&r.instances);
    r.started = 0;
    return 0;
}

void ResetModelState()
{
    // The end frees whatever the tables hold, started or not.
    g_modelRegistry.started = 1;
    ShutDownModelSystem();
    std::memset(g_modelRegistry.builtInGraphs, 0, sizeof g_modelRegistry.builtInGraphs);
    s_installedFacts = nullptr;
}

// ---- Deletion

int32_t DeleteModelBase(int32_t handle)
{
    ModelSlotTable& table = g_modelRegistry.bases;
    if (handle < 0 || (handle & kModelHandleTypeBits) != kModelBaseHandleType) {
        return -1;
    }
    const int32_t slot = handle & kModelBaseSlotBits;
    if (slot >= table.count || table.slots[slot] == nullptr) {
        return -1;
    }
    if (table.slots[slot] == QUARN_MODEL_PLACEHOLDER) {
        table.slots[slot] = nullptr;
        --table.liveCount;
        return 0;
    }
    auto* base = static_cast<ModelBaseRecord*>(table.slots[slot]);
    if (--base->referenceCount > 0) {
        return 0;
    }
    ReleaseBaseBuffers(handle);
    FreeOwnedBlock(&base->ownBlock);
    for (int32_t i = 0; base->textures != nullptr && i < base->textureCount; ++i) {
        ModelTextureEntry& entry = base->textures[i];
        FreeTextureEntryBlocks(&entry);
        DestroyGraph(entry.graph);
        entry.graph = 0;
    }
    if (base->texturesOwned) {
        FreeTrackedMemory(base->textures);
        base->textures = nullptr;
    }
    FreeOwnedList(&base->smallBlocks);
    for (int32_t i = 0; base->frames != nullptr && i < base->frameCount; ++i) {
        FreeOwnedBlock(&base->frames[i].block);
    }
    FreeOwnedList(&base->largeBlocks);
    for (int32_t i = 0; base->meshes != nullptr && i < base->meshCount; ++i) {
        for (ModelOwnedBlock& block : base->meshes[i].blocks) {
            FreeOwnedBlock(&block);
        }
    }
    FreeBlockChain(&base->blockChain);
    FreeTrackedMemory(base);
    table.slots[slot] = nullptr;
    --table.liveCount;
    return 0;
}

int32_t DeleteModelInstance(int32_t handle)
{
    ModelSlotTable& table = g_modelRegistry.instances;
    if (handle < 0 || (handle & kModelHandleTypeBits) != kModelInstanceHandleType) {
        return -1;
    }
    const int32_t slot = HandleSlotOf(handle);
    if (slot < table.count && table.slots[slot] == QUARN_MODEL_PLACEHOLDER) {
        table.slots[slot] = nullptr;
        --table.liveCount;
        return 0;
    }
    ModelInstanceRecord* instance = FindModelInstance(handle);
    if (instance == nullptr) {
        return -1;
    }
    ModelBaseRecord* base = instance->base;
    for (int32_t i = 0; i < instance->attachmentCount; ++i) {
        ReleaseInstanceAttachment(handle, i);
    }
    ReleaseInstanceBuffers(handle);
    FreeTrackedMemory(instance->attachments);
    instance->attachments = nullptr;
    instance->attachmentCount = 0;
    for (int32_t frame = -1; frame < base->frameCount; ++frame) {
        FreeInstanceFrameBlock(handle, frame, 0);
        FreeInstanceFrameBlock(handle, frame, 1);
    }
    for (int32_t frame = -1; frame < base->frameCount; ++frame) {
        FreeInstanceFrameChain(handle, frame);
    }
    for (int32_t i = 0; instance->textures != nullptr && i < base->textureCount; ++i) {
        ModelTextureEntry& entry = instance->textures[i];
        if (entry.overridden) {
            FreeTextureEntryBlocks(&entry);
            DestroyGraph(entry.graph);
            entry.graph = -1;
            entry.overridden = 0;
        }
    }
    if (instance->texturesOwned) {
        FreeTrackedMemory(instance->textures);
        instance->textures = nullptr;
    }
    if (instance->previous != nullptr) {
        instance->previous->next = instance->next;
    } else {
        base->firstInstance = instance->next;
    }
    if (instance->next != nullptr) {
        instance->next->previous = instance->previous;
    } else {
        base->lastInstance = instance->previous;
    }
    --base->instanceCount;
    DeleteModelBase(instance->baseHandle);
    FreeTrackedMemory(instance);
    table.slots[slot] = nullptr;
    --table.liveCount;
    return 0;
}

int32_t ReleaseInstanceAttachment(int32_t handle, int32_t index)
{
    ModelInstanceRecord* instance = g_modelRegistry.started ? FindModelInstance(handle) : nullptr;
    if (instance == nullptr || index < 0 || index >= instance->attachmentCount || instance->attachments == nullptr) {
        return -1;
    }
    ModelAttachment& attachment = instance->attachments[index];
    if (attachment.inUse) {
        FreeTrackedMemory(attachment.block);
        attachment.block = nullptr;
        attachment.inUse = 0;
        const int32_t frames = instance->base->frameCount;
        for (int32_t frame = 0; instance->grid != nullptr && frame < frames; ++frame) {
            instance->grid[index * frames + frame] = ModelAttachmentCell{};
        }
        --instance->gridUseCount;
    }
    instance->attachmentState[0] = 0;
    instance->attachmentState[1] = 0;
    return 0;
}

int32_t FreeInstanceFrameChain(int32_t handle, int32_t frame)
{
    InstanceFrameSlots slots{};
    if (!FindInstanceFrameSlots(handle, frame, &slots)) {
        return -1;
    }
    FreeBlockChain(slots.chain);
    return 0;
}

int32_t FreeInstanceFrameBlock(int32_t handle, int32_t frame, int32_t which)
{
    InstanceFrameSlots slots{};
    if (!FindInstanceFrameSlots(handle, frame, &slots)) {
        return -1;
    }
    void*& block = slots.blocks[which != 0 ? 1 : 0];
    FreeTrackedMemory(block);
    block = nullptr;
    return 0;
}
