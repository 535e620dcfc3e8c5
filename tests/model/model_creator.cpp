#include "tests/model/model_creator.h"

#include <cstring>

#include "quarn/core/core.h"

namespace {

void* Block(uint32_t bytes) { return AllocTrackedMemoryZeroed(bytes == 0 ? 1 : bytes, __FILE__, __LINE__); }

ModelOwnedBlock OwnedBlock(uint32_t bytes) { return ModelOwnedBlock{Block(bytes), 1}; }

ModelBlockLink* MakeChain(int32_t links)
{
    ModelBlockLink* head = nullptr;
    for (int32_t i = 0; i < links; ++i) {
        auto* link = static_cast<ModelBlockLink*>(Block(sizeof(ModelBlockLink) + 8));
        link->next = head;
        head = link;
    }
    return head;
}

// A texture entry whose image data are owned blocks of the entry.
ModelTextureEntry MakeTextureEntry(const TestTextureShape& shape)
{
    ModelTextureEntry entry{};
    entry.blocks[0] = OwnedBlock(16);  // a name, say
    if (!shape.color.empty()) {
        entry.blocks[1] = OwnedBlock(static_cast<uint32_t>(shape.color.size()));
        std::memcpy(entry.blocks[1].data, shape.color.data(), shape.color.size());
        entry.colorData = entry.blocks[1].data;
        entry.colorSize = static_cast<int32_t>(shape.color.size());
    }
    if (!shape.alpha.empty()) {
        entry.blocks[2] = OwnedBlock(static_cast<uint32_t>(shape.alpha.size()));
        std::memcpy(entry.blocks[2].data, shape.alpha.data(), shape.alpha.size());
        entry.alphaData = entry.blocks[2].data;
        entry.alphaSize = static_cast<int32_t>(shape.alpha.size());
    }
    entry.normalMap = shape.normalMap;
    entry.heightScale = shape.heightScale;
    entry.graph = shape.graph;
    return entry;
}

template <typename T>
T* Carve(uint8_t*& at, int32_t count)
{
    T* first = reinterpret_cast<T*>(at);
    at += sizeof(T) * static_cast<size_t>(count);
    return first;
}

}  // namespace

ModelMeshVertex TestVertex(int32_t mesh, int32_t vertex)
{
    const float m = static_cast<float>(mesh);
    const float v = static_cast<float>(vertex);
    return ModelMeshVertex{{m * 1000.0f + v, v + 0.5f, -v},
                           {m, 1.0f, v * 0.25f},
                           0xFF000000u | static_cast<uint32_t>(mesh) << 16 | static_cast<uint32_t>(vertex & 0xFFFF),
                           0x00ABCDEFu ^ static_cast<uint32_t>(vertex)};
}

float TestTexCoord(int32_t mesh, int32_t vertex, int32_t set, int32_t component)
{
    return static_cast<float>(mesh) * 0.5f + static_cast<float>(vertex) * 0.125f + static_cast<float>(set) * 10.0f +
           (component != 0 ? 100.0f : 0.0f);
}

Vector3 TestNormalData(int32_t mesh, int32_t vertex, int32_t which)
{
    return Vector3{static_cast<float>(which + 1), static_cast<float>(mesh), static_cast<float>(-vertex)};
}

uint16_t TestIndex(int32_t mesh, int32_t index, int32_t vertexCount)
{
    return static_cast<uint16_t>((index * 7 + mesh) % (vertexCount > 0 ? vertexCount : 1));
}

int32_t CreateTestBase(const std::vector<TestMeshShape>& meshes, const std::vector<TestTextureShape>& textures)
{
    const auto count = static_cast<int32_t>(meshes.size());
    const uint32_t bytes = sizeof(ModelBaseRecord) + count * (sizeof(ModelFrameEntry) + sizeof(ModelMeshEntry)) +
                           2 * sizeof(ModelOwnedBlock) + sizeof(ModelOwnedBlock);
    uint8_t* at = static_cast<uint8_t*>(Block(bytes));
    auto* base = Carve<ModelBaseRecord>(at, 1);
    base->referenceCount = 1;
    base->frameCount = count;
    base->frames = Carve<ModelFrameEntry>(at, count);
    base->meshCount = count;
    base->meshes = Carve<ModelMeshEntry>(at, count);
    base->smallBlocks = ModelOwnedList{2, Carve<ModelOwnedBlock>(at, 2)};
    base->largeBlocks = ModelOwnedList{1, Carve<ModelOwnedBlock>(at, 1)};
    base->smallBlocks.entries[0] = OwnedBlock(16);
    base->smallBlocks.entries[1] = ModelOwnedBlock{base, 0};  // not owned: never freed through it
    base->largeBlocks.entries[0] = OwnedBlock(124);
    base->ownBlock = OwnedBlock(64);
    base->blockChain = MakeChain(3);
    for (int32_t m = 0; m < count; ++m) {
        const TestMeshShape& shape = meshes[static_cast<size_t>(m)];
        ModelFrameEntry& frame = base->frames[m];
        frame.block = OwnedBlock(32);
        frame.meshInUse = 1;
        frame.selector = shape.selector;
        frame.firstMesh = m;
        frame.meshCount = 1;
        ModelMeshEntry& mesh = base->meshes[m];
        mesh.frame = &frame;
        mesh.skinningKind = shape.skinningKind;
        mesh.texCoordSets = shape.texCoordSets;
        mesh.vertexCount = shape.vertexCount;
        mesh.indexCount = shape.indexCount;
        const auto vertices = static_cast<uint32_t>(shape.vertexCount);
        mesh.blocks[kMeshVertexBlock] = OwnedBlock(vertices * sizeof(ModelMeshVertex));
        mesh.blocks[kMeshTexCoordBlock] = OwnedBlock(vertices * shape.texCoordSets * 2 * sizeof(float));
        mesh.blocks[kMeshNormalDataBlock] = OwnedBlock(vertices * 2 * sizeof(Vector3));
        mesh.blocks[kMeshIndexBlock] = OwnedBlock(shape.indexCount * sizeof(uint16_t));
        auto* v = static_cast<ModelMeshVertex*>(mesh.blocks[kMeshVertexBlock].data);
        auto* uv = static_cast<float*>(mesh.blocks[kMeshTexCoordBlock].data);
        auto* nd = static_cast<Vector3*>(mesh.blocks[kMeshNormalDataBlock].data);
        auto* ix = static_cast<uint16_t*>(mesh.blocks[kMeshIndexBlock].data);
        for (int32_t i = 0; i < shape.vertexCount; ++i) {
            v[i] = TestVertex(m, i);
            for (int32_t set = 0; set < shape.texCoordSets; ++set) {
                uv[(i * shape.texCoordSets + set) * 2] = TestTexCoord(m, i, set, 0);
                uv[(i * shape.texCoordSets + set) * 2 + 1] = TestTexCoord(m, i, set, 1);
            }
            nd[2 * i] = TestNormalData(m, i, 0);
            nd[2 * i + 1] = TestNormalData(m, i, 1);
        }
        for (int32_t i = 0; i < shape.indexCount; ++i) {
            ix[i] = TestIndex(m, i, shape.vertexCount);
        }
    }
    if (!textures.empty()) {
        base->textureCount = static_cast<int32_t>(textures.size());
        base->textures = static_cast<ModelTextureEntry*>(Block(base->textureCount * sizeof(ModelTextureEntry)));
        base->texturesOwned = 1;
        for (int32_t i = 0; i < base->textureCount; ++i) {
            base->textures[i] = MakeTextureEntry(textures[static_cast<size_t>(i)]);
        }
    }
    const int32_t slot = TakeModelSlot(&g_modelRegistry.bases, base);
    return slot < 0 ? -1 : MakeModelBaseHandle(slot);
}

int32_t CreateTestInstance(int32_t baseHandle, int32_t attachments, const std::vector<int32_t>& overridden)
{
    ModelBaseRecord* base = FindModelBase(baseHandle);
    if (base == nullptr) {
        return -1;
    }
    const int32_t frames = base->frameCount;
    const uint32_t bytes = sizeof(ModelInstanceRecord) + frames * sizeof(ModelInstanceFrame) +
                           base->meshCount * sizeof(ModelMeshBuffer) +
                           attachments * frames * sizeof(ModelAttachmentCell);
    uint8_t* at = static_cast<uint8_t*>(Block(bytes));
    auto* instance = Carve<ModelInstanceRecord>(at, 1);
    instance->frames = Carve<ModelInstanceFrame>(at, frames);
    instance->meshBuffers = Carve<ModelMeshBuffer>(at, base->meshCount);
    instance->grid = Carve<ModelAttachmentCell>(at, attachments * frames);
    instance->check = (g_modelRegistry.instances.count * 37 + 11) & 0x7FF;
    instance->baseHandle = baseHandle;
    instance->base = base;
    instance->blocks[0] = Block(8);
    instance->blocks[1] = Block(8);
    instance->blockChain = MakeChain(2);
    for (int32_t f = 0; f < frames; ++f) {
        instance->frames[f].blocks[0] = Block(8);
        instance->frames[f].blocks[1] = f % 2 == 0 ? Block(8) : nullptr;
        instance->frames[f].blockChain = MakeChain(f % 3);
    }
    instance->attachmentCount = attachments;
    instance->attachments = attachments > 0
                                ? static_cast<ModelAttachment*>(Block(attachments * sizeof(ModelAttachment)))
                                : nullptr;
    if (attachments > 0) {
        instance->attachments[0] = ModelAttachment{1, Block(20)};
        for (int32_t f = 0; f < frames; ++f) {
            instance->grid[f] = ModelAttachmentCell{1, {f, 7}};
        }
        instance->gridUseCount = 1;
        instance->attachmentState[0] = 3;
        instance->attachmentState[1] = 4;
    }
    if (base->textureCount > 0) {
        instance->textures = static_cast<ModelTextureEntry*>(Block(base->textureCount * sizeof(ModelTextureEntry)));
        instance->texturesOwned = 1;
        for (int32_t i = 0; i < base->textureCount; ++i) {
            instance->textures[i].graph = -1;
        }
        for (int32_t i : overridden) {
            const ModelTextureEntry& from = base->textures[i];
            TestTextureShape shape{};
            if (from.colorData != nullptr) {
                shape.color.assign(static_cast<const uint8_t*>(from.colorData),
                                   static_cast<const uint8_t*>(from.colorData) + from.colorSize);
            }
            shape.normalMap = from.normalMap;
            shape.heightScale = from.heightScale;
            shape.graph = from.graph;
            instance->textures[i] = MakeTextureEntry(shape);
            instance->textures[i].overridden = 1;
        }
    }
    const int32_t slot = TakeModelSlot(&g_modelRegistry.instances, instance);
    if (slot < 0) {
        return -1;
    }
    instance->handle = MakeModelInstanceHandle(instance->check, slot);
    instance->previous = base->lastInstance;
    if (base->lastInstance != nullptr) {
        base->lastInstance->next = instance;
    } else {
        base->firstInstance = instance;
    }
    base->lastInstance = instance;
    ++base->instanceCount;
    ++base->referenceCount;
    return instance->handle;
}

std::vector<uint8_t> MakeTestTga(int32_t width, int32_t height, uint32_t (*pixel)(int32_t x, int32_t y))
{
    std::vector<uint8_t> file = {0,
                                 0,
                                 2,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 static_cast<uint8_t>(width),
                                 static_cast<uint8_t>(width >> 8),
                                 static_cast<uint8_t>(height),
                                 static_cast<uint8_t>(height >> 8),
                                 32,
                                 0x28};
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t p = pixel(x, y);
            file.insert(file.end(), {static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 8),
                                     static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 24)});
        }
    }
    return file;
}
