// The device buffers of bases and instances: the vertex layouts, the batches that share a
// vertex and an index buffer, their builds and releases.
#include <cstring>

#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/model/model.h"
#include "quarn/model/model_internal.h"
#include "quarn/model/model_os.h"

namespace {

constexpr uint32_t kFvfFixedLayout = 0xD2;  // position, normal, diffuse and specular colour
// TEX1 to TEX8 with four-component coordinates in every set.
constexpr uint32_t kFvfTexCoordSets[kModelMaxTexCoordSets + 1] = {
    0, 0x20100, 0xA0200, 0x2A0300, 0xAA0400, 0x2AA0500, 0xAAA0600, 0x2AAA0700, 0xAAAA0800,
};

// Bytes of a layout beyond s = 52 + 16 x sets. The fixed-function layout is exactly what its
// FVF describes: 12 position, 12 normal, 4 + 4 colours, 16 a set.
constexpr int32_t kStrideBeyondS[kModelSkinningKinds][kModelSelectors] = {{-20, 4}, {0, 24}, {20, 44}};

constexpr int32_t kIndexBytes = 2;

ModelBatch* NewBatch()
{
    return static_cast<ModelBatch*>(AllocTrackedMemoryZeroed(sizeof(ModelBatch), __FILE__, __LINE__));
}

// Every batch chain of the base, whatever its skinning kind, selector and coordinate sets.
template <typename Visit>
void ForEachBatchChain(ModelBaseRecord* base, Visit visit)
{
    for (auto& kind : base->chains) {
        for (auto& selector : kind) {
            for (ModelBatchChain& chain : selector) {
                visit(chain);
            }
        }
    }
}

// Gives back whichever of the batch's buffers are locked.
void UnlockBatch(ModelBatch* batch)
{
    if (batch->vertexBytes != nullptr) {
        UnlockDeviceBuffer(batch->vertexBuffer, 0);
        batch->vertexBytes = nullptr;
    }
    if (batch->indexBytes != nullptr) {
        UnlockDeviceBuffer(batch->indexBuffer, 1);
        batch->indexBytes = nullptr;
    }
}

// Unlocks, releases and frees every batch of the base and forgets where its meshes were.
void FreeBaseBatches(ModelBaseRecord* base)
{
    ForEachBatchChain(base, [](ModelBatchChain& chain) {
        ModelBatch* batch = chain.head;
        while (batch != nullptr) {
            ModelBatch* next = batch->next;
            UnlockBatch(batch);
            ReleaseDeviceBuffer(batch->vertexBuffer);
            ReleaseDeviceBuffer(batch->indexBuffer);
            FreeTrackedMemory(batch);
            batch = next;
        }
        chain = ModelBatchChain{};
    });
    base->batchCount = 0;
    for (int32_t i = 0; i < base->meshCount; ++i) {
        base->meshes[i].batch = nullptr;
        base->meshes[i].firstVertex = 0;
        base->meshes[i].firstIndex = 0;
    }
}

int32_t SelectorOf(const ModelMeshEntry& mesh) { return mesh.frame != nullptr && mesh.frame->selector ? 1 : 0; }

// Places every mesh of a known layout in the batches of its chain. 0, or -1 when memory runs
// out.
int32_t PlaceMeshes(ModelBaseRecord* base)
{
    for (int32_t i = 0; i < base->meshCount; ++i) {
        ModelMeshEntry& mesh = base->meshes[i];
        if (mesh.skinningKind >= kModelSkinningKinds || mesh.texCoordSets > kModelMaxTexCoordSets ||
            mesh.vertexCount < 0) {
            continue;
        }
        ModelBatchChain& chain = base->chains[mesh.skinningKind][SelectorOf(mesh)][mesh.texCoordSets];
        if (chain.current == nullptr) {
            ModelBatch* batch = NewBatch();
            if (batch == nullptr) {
                return -1;
            }
            chain.head = batch;
            chain.current = batch;
            chain.count = 1;
            ++base->batchCount;
        }
        ModelBatch* batch = chain.current;
        if (int64_t{batch->indexCount} + mesh.indexCount >= kModelBatchIndexLimit ||
            int64_t{batch->vertexCount} + mesh.vertexCount >= kModelBatchVertexLimit) {
            ModelBatch* added = NewBatch();
            if (added == nullptr) {
                return -1;
            }
            added->previous = batch;
            batch->next = added;
            chain.current = added;
            ++chain.count;
            ++base->batchCount;
            batch = added;
        }
        mesh.batch = batch;
        mesh.firstVertex = batch->vertexCount;
        mesh.firstIndex = batch->indexCount;
        batch->vertexCount += mesh.vertexCount;
        batch->indexCount += mesh.indexCount;
    }
    return 0;
}

// Unlinks and frees the batches that took no index. A mesh in such a batch (one without
// indices) is left without a batch, so that nothing is written through a freed record.
void DropBatchesWithoutIndices(ModelBaseRecord* base)
{
    ForEachBatchChain(base, [base](ModelBatchChain& chain) {
        ModelBatch* batch = chain.head;
        while (batch != nullptr) {
            ModelBatch* next = batch->next;
            if (batch->indexCount == 0) {
                (batch->previous != nullptr ? batch->previous->next : chain.head) = next;
                if (next != nullptr) {
                    next->previous = batch->previous;
                }
                if (chain.current == batch) {
                    chain.current = batch->previous;
                }
                for (int32_t i = 0; i < base->meshCount; ++i) {
                    if (base->meshes[i].batch == batch) {
                        base->meshes[i].batch = nullptr;
                    }
                }
                --chain.count;
                --base->batchCount;
                FreeTrackedMemory(batch);
            }
            batch = next;
        }
    });
}

// Creates and locks the buffers of every batch whose layout may be built now. 0 / -1.
int32_t CreateBatchBuffers(ModelBaseRecord* base, int32_t programmable)
{
    for (int32_t kind = 0; kind < kModelSkinningKinds; ++kind) {
        for (int32_t selector = 0; selector < kModelSelectors; ++selector) {
            for (int32_t sets = 0; sets <= kModelMaxTexCoordSets; ++sets) {
                ModelVertexLayout layout{};
                ModelVertexLayoutOf(kind, selector, sets, &layout);
                if (layout.shadersOnly && !programmable) {
                    continue;
                }
                for (ModelBatch* batch = base->chains[kind][selector][sets].head; batch != nullptr;
                     batch = batch->next) {
                    batch->stride = layout.stride;
                    batch->fvf = layout.fvf;
                    const uint64_t vertexBytes = uint64_t(uint32_t(batch->vertexCount)) * uint32_t(layout.stride);
                    const uint64_t indexBytes = uint64_t(uint32_t(batch->indexCount)) * kIndexBytes;
                    if (vertexBytes > UINT32_MAX) {
                        return -1;
                    }
                    void* bytes = nullptr;
                    batch->vertexBuffer = CreateDeviceVertexBuffer(uint32_t(vertexBytes), kUsageWriteOnly, layout.fvf,
                                                                   kPoolDefault);
                    if (batch->vertexBuffer == nullptr || LockDeviceBuffer(batch->vertexBuffer, 0, &bytes) != 0) {
                        return -1;
                    }
                    batch->vertexBytes = static_cast<uint8_t*>(bytes);
                    batch->indexBuffer = CreateDeviceIndexBuffer(uint32_t(indexBytes), kUsageWriteOnly, kFmtIndex16,
                                                                 kPoolDefault);
                    if (batch->indexBuffer == nullptr || LockDeviceBuffer(batch->indexBuffer, 1, &bytes) != 0) {
                        return -1;
                    }
                    batch->indexBytes = static_cast<uint8_t*>(bytes);
                }
            }
        }
    }
    return 0;
}

uint8_t* PutFloats(uint8_t* at, const float* values, int32_t count)
{
    std::memcpy(at, values, sizeof(float) * size_t(count));
    return at + sizeof(float) * size_t(count);
}

uint8_t* PutWord(uint8_t* at, uint32_t value)
{
    std::memcpy(at, &value, sizeof value);
    return at + sizeof value;
}

// Writes a mesh's vertices and indices into its batch from its first vertex and index on.
// The skinned layouts are drawn by shaders that bring their own vertex format: until then
// their vertices are written as zeros.
void WriteMesh(const ModelMeshEntry& mesh)
{
    ModelBatch* batch = mesh.batch;
    const auto* vertices = static_cast<const ModelMeshVertex*>(mesh.blocks[kMeshVertexBlock].data);
    const auto* texCoords = static_cast<const float*>(mesh.blocks[kMeshTexCoordBlock].data);
    const auto* normalData = static_cast<const Vector3*>(mesh.blocks[kMeshNormalDataBlock].data);
    const auto* indices = static_cast<const uint16_t*>(mesh.blocks[kMeshIndexBlock].data);
    const int32_t sets = mesh.texCoordSets;
    const int32_t selector = SelectorOf(mesh);
    uint8_t* at = batch->vertexBytes + ptrdiff_t{mesh.firstVertex} * batch->stride;
    for (int32_t v = 0; v < mesh.vertexCount; ++v, at += batch->stride) {
        std::memset(at, 0, size_t(batch->stride));
        if (mesh.skinningKind != 0 || vertices == nullptr) {
            continue;
        }
        const ModelMeshVertex& vertex = vertices[v];
        uint8_t* p = PutFloats(at, &vertex.position.x, 3);
        if (selector == 1 && normalData != nullptr) {
            p = PutFloats(p, &normalData[2 * v].x, 3);
            p = PutFloats(p, &normalData[2 * v + 1].x, 3);
        } else if (selector == 1) {
            p += 2 * 3 * sizeof(float);
        }
        p = PutFloats(p, &vertex.normal.x, 3);
        p = PutWord(p, vertex.diffuse);
        p = PutWord(p, vertex.specular);
        for (int32_t set = 0; set < sets; ++set) {
            const float uv[4] = {texCoords != nullptr ? texCoords[(v * sets + set) * 2] : 0.0f,
                                 texCoords != nullptr ? texCoords[(v * sets + set) * 2 + 1] : 0.0f, 1.0f, 1.0f};
            p = PutFloats(p, uv, 4);
        }
    }
    if (indices != nullptr && mesh.indexCount > 0) {
        std::memcpy(batch->indexBytes + ptrdiff_t{mesh.firstIndex} * kIndexBytes, indices,
                    size_t(mesh.indexCount) * kIndexBytes);
    }
}

void UnlockBaseBatches(ModelBaseRecord* base)
{
    ForEachBatchChain(base, [](ModelBatchChain& chain) {
        for (ModelBatch* batch = chain.head; batch != nullptr; batch = batch->next) {
            UnlockBatch(batch);
        }
    });
}

// Runs the call for every instance (placeholders skipped) of the base, with its handle.
void ForEachInstanceOf(const ModelBaseRecord* base, int32_t (*call)(int32_t handle))
{
    struct Visit {
        const ModelBaseRecord* base;
        int32_t (*call)(int32_t);
    } visit{base, call};
    ForEachModelRecord(
        &g_modelRegistry.instances,
        [](int32_t slot, void* record, void* context) {
            const auto* instance = static_cast<const ModelInstanceRecord*>(record);
            const auto* v = static_cast<const Visit*>(context);
            if (instance->base == v->base) {
                v->call(MakeModelInstanceHandle(instance->check, slot));
            }
        },
        &visit);
}

}  // namespace

int32_t ModelVertexLayoutOf(int32_t skinningKind, int32_t selector, int32_t texCoordSets, ModelVertexLayout* out)
{
    if (skinningKind < 0 || skinningKind >= kModelSkinningKinds || selector < 0 || selector >= kModelSelectors ||
        texCoordSets < 0 || texCoordSets > kModelMaxTexCoordSets) {
        return -1;
    }
    const bool fixedFunction = skinningKind == 0 && selector == 0;
    out->stride = 52 + 16 * texCoordSets + kStrideBeyondS[skinningKind][selector];
    out->fvf = fixedFunction ? kFvfFixedLayout | kFvfTexCoordSets[texCoordSets] : 0;
    out->shadersOnly = fixedFunction ? 0 : 1;
    return 0;
}

int32_t BuildBaseBuffers(int32_t handle, int32_t rebuild)
{
    const ModelDeviceFacts facts = ReadModelDeviceFacts();
    if (!facts.hardware || !facts.shaderCapable) {
        return 0;
    }
    ModelBaseRecord* base = FindModelBase(handle);
    if (base == nullptr) {
        return -1;
    }
    if (base->buffersBuilt) {
        return 0;
    }
    base->rebuildArgument = rebuild;
    std::memset(static_cast<void*>(base->chains), 0, sizeof base->chains);
    base->batchCount = 0;
    if (PlaceMeshes(base) != 0) {
        FreeBaseBatches(base);
        return -1;
    }
    DropBatchesWithoutIndices(base);
    if (CreateBatchBuffers(base, facts.programmableShaders) != 0) {
        FreeBaseBatches(base);
        return -1;
    }
    for (int32_t i = 0; i < base->meshCount; ++i) {
        const ModelMeshEntry& mesh = base->meshes[i];
        if (mesh.batch != nullptr && mesh.batch->vertexBytes != nullptr) {
            WriteMesh(mesh);
        }
    }
    UnlockBaseBatches(base);
    base->buffersBuilt = 1;
    ForEachInstanceOf(base, BuildInstanceBuffers);
    return 0;
}

int32_t BuildInstanceBuffers(int32_t handle)
{
    ModelInstanceRecord* instance = g_modelRegistry.started ? FindModelInstance(handle) : nullptr;
    if (instance == nullptr) {
        return -1;
    }
    const ModelDeviceFacts facts = ReadModelDeviceFacts();
    const bool device = facts.hardware && facts.shaderCapable;
    const bool programmable = facts.programmableShaders != 0;
    if (!device && !programmable) {
        return 0;
    }
    const ModelBaseRecord* base = instance->base;
    for (int32_t f = 0; base->frames != nullptr && instance->meshBuffers != nullptr && f < base->frameCount; ++f) {
        const ModelFrameEntry& frame = base->frames[f];
        if (!frame.meshInUse) {
            continue;
        }
        for (int32_t m = frame.firstMesh; m >= 0 && m < frame.firstMesh + frame.meshCount && m < base->meshCount; ++m) {
            const ModelMeshEntry& mesh = base->meshes[m];
            const bool handled = device ? mesh.skinningKind == 0 || programmable : mesh.skinningKind != 0;
            // A mesh whose batch has no buffer has no layout on this device to copy.
            if (!handled || mesh.vertexCount <= 0 || mesh.batch == nullptr || mesh.batch->vertexBuffer == nullptr) {
                continue;
            }
            ModelMeshBuffer& buffer = instance->meshBuffers[m];
            if (buffer.vertexBuffer != nullptr) {
                continue;
            }
            buffer.vertexBuffer = CreateDeviceVertexBuffer(uint32_t(mesh.vertexCount) * uint32_t(mesh.batch->stride),
                                                           kUsageWriteOnly | kUsageDynamic, mesh.batch->fvf,
                                                           kPoolDefault);
            instance->bufferChanged = 1;
            buffer.changed = 1;
        }
    }
    return 0;
}

int32_t ReleaseBaseBuffers(int32_t handle)
{
    ModelBaseRecord* base = FindModelBase(handle);
    if (base == nullptr) {
        return -1;
    }
    if (!base->buffersBuilt) {
        return 0;
    }
    FreeBaseBatches(base);
    base->buffersBuilt = 0;
    ForEachInstanceOf(base, ReleaseInstanceBuffers);
    return 0;
}

int32_t ReleaseInstanceBuffers(int32_t handle)
{
    ModelInstanceRecord* instance = FindModelInstance(handle);
    if (instance == nullptr) {
        return -1;
    }
    for (int32_t i = 0; instance->meshBuffers != nullptr && i < instance->base->meshCount; ++i) {
        ReleaseDeviceBuffer(instance->meshBuffers[i].vertexBuffer);
        instance->meshBuffers[i].vertexBuffer = nullptr;
    }
    return 0;
}
