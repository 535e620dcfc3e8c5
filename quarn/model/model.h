// The model registry: model bases (the shared mesh, material and texture data of a model) and
// model instances (one placed copy of a base with its own frame state and its own dynamic
// vertex buffers), the device buffers they draw from, their textures, and the sine table.
//
// Portable: the device is reached through the graphics layer's device calls, and what the
// registry must know of the device through model_os.h.
//
// The library has no model loader: whatever creates a base or an instance fills its record as
// described here and puts it into a slot with TakeModelSlot. A record and the arrays it points
// to (a base's frames, meshes and owned lists; an instance's frames, mesh buffers and
// attachment grid) are one allocation of the tracked allocator, freed with the record; the
// texture arrays (when their owned flag says so), an instance's attachment array and every
// owned block are allocations of their own.
#pragma once

#include <cstdint>

#include "quarn/core/core.h"
#include "quarn/core/handle.h"
#include "quarn/image/image.h"

// ---- Limits and handle bits
constexpr int32_t kModelSineSteps = 65536;  // one full turn
constexpr int32_t kModelSkinningKinds = 3;
constexpr int32_t kModelSelectors = 2;
constexpr int32_t kModelMaxTexCoordSets = 8;
constexpr int32_t kModelBatchIndexLimit = 0xC0000;   // a batch never reaches this many indices
constexpr int32_t kModelBatchVertexLimit = 0x60000;  // nor this many vertices
constexpr int32_t kModelBaseHandleType = 0x08000000;
constexpr int32_t kModelBaseSlotBits = 0x1FFFF;
constexpr int32_t kModelInstanceHandleType = kHandleTypeModelInstance << 27;
constexpr int32_t kModelHandleTypeBits = kHandleTypeBits;
static_assert(kModelInstanceHandleType == 0x50000000, "instance handles carry type 10 in bits 27-30");
// A slot reserved for a record that is not there yet.
#define QUARN_MODEL_PLACEHOLDER (reinterpret_cast<void*>(uintptr_t{1}))

// A block a record may own: freed with the record when owned is set.
struct ModelOwnedBlock {
    void* data;
    int32_t owned;
};

// A chain of owned blocks: each block starts with the link to the next.
struct ModelBlockLink {
    ModelBlockLink* next;
};

// A list of owned blocks.
struct ModelOwnedList {
    int32_t count;
    ModelOwnedBlock* entries;
};

// A texture of a base, or an instance's replacement of one (override set). The image data
// is a file in memory in any format the image decoders read; with no colour data the colour
// is white over the alpha image's size.
struct ModelTextureEntry {
    ModelOwnedBlock blocks[6];  // names and file data the entry owns
    const void* alphaData;
    int32_t alphaSize;
    const void* colorData;
    int32_t colorSize;
    uint32_t normalMap;  // 1: the colour's red channel is a height field
    float heightScale;
    int32_t overridden;  // instances: 1 when the entry replaces the base's texture
    int32_t graph;       // the graph the texture is built into
};

// A vertex of a mesh as its creator gives it.
struct ModelMeshVertex {
    Vector3 position;
    Vector3 normal;
    uint32_t diffuse;
    uint32_t specular;
};

struct ModelBatch;
struct ModelFrameEntry;

// A mesh of a base: its vertices, texture coordinates (u, v per set and vertex), the two
// further vectors of its normal data (per vertex, for frames of selector 1) and its indices,
// each one of its owned blocks.
enum { kMeshVertexBlock = 0, kMeshTexCoordBlock = 1, kMeshNormalDataBlock = 2, kMeshIndexBlock = 3 };
struct ModelMeshEntry {
    ModelFrameEntry* frame;
    uint16_t skinningKind;  // 0, 1 or 2
    uint16_t texCoordSets;  // 0 to 8
    int32_t vertexCount;
    uint16_t indexCount;
    ModelOwnedBlock blocks[4];
    // Where its vertices and indices went, while the base's buffers are built.
    ModelBatch* batch;
    int32_t firstVertex;
    int32_t firstIndex;
};

// A frame of a base; its meshes are meshCount entries of the base's mesh list from firstMesh.
struct ModelFrameEntry {
    ModelOwnedBlock block;
    int32_t meshInUse;  // 1 when the frame carries mesh data
    int32_t selector;   // 1: the vertices carry the further vectors of the normal data
    int32_t firstMesh;
    int32_t meshCount;
};

// One device vertex buffer and one 16-bit index buffer that the meshes of one layout share.
struct ModelBatch {
    void* vertexBuffer;
    void* indexBuffer;
    int32_t vertexCount;
    int32_t indexCount;
    uint8_t* vertexBytes;  // while locked
    uint8_t* indexBytes;
    uint32_t fvf;
    int32_t stride;
    ModelBatch* next;
    ModelBatch* previous;
};
#if defined(__i386__)
static_assert(sizeof(ModelBatch) == 40, "a batch is ten words");
#endif

struct ModelBatchChain {
    ModelBatch* head;
    ModelBatch* current;
    int32_t count;
};

struct ModelInstanceRecord;

struct ModelBaseRecord {
    int32_t referenceCount;  // each instance holds one
    int32_t frameCount;
    ModelFrameEntry* frames;
    int32_t textureCount;
    ModelTextureEntry* textures;
    int32_t texturesOwned;
    ModelOwnedList smallBlocks;
    ModelOwnedList largeBlocks;
    int32_t meshCount;
    ModelMeshEntry* meshes;
    ModelBatchChain chains[kModelSkinningKinds][kModelSelectors][kModelMaxTexCoordSets + 1];
    int32_t batchCount;
    int32_t buffersBuilt;
    int32_t rebuildArgument;
    ModelBlockLink* blockChain;
    ModelOwnedBlock ownBlock;
    ModelInstanceRecord* firstInstance;
    ModelInstanceRecord* lastInstance;
    int32_t instanceCount;
};

struct ModelInstanceFrame {
    void* blocks[2];  // frame state the instance keeps, freed with it
    ModelBlockLink* blockChain;
};

struct ModelMeshBuffer {
    uint8_t changed;
    void* vertexBuffer;  // dynamic, one mesh's vertices
};

struct ModelAttachmentCell {
    int32_t used;
    int32_t value[2];
};

struct ModelAttachment {
    uint8_t inUse;
    void* block;
};

struct ModelInstanceRecord {
    int32_t handle;
    int32_t check;
    ModelInstanceRecord* previous;  // of the same base
    ModelInstanceRecord* next;
    int32_t baseHandle;
    ModelBaseRecord* base;
    ModelInstanceFrame* frames;  // one per base frame
    int32_t bufferChanged;
    ModelMeshBuffer* meshBuffers;  // one per base mesh
    ModelTextureEntry* textures;   // one per base texture
    int32_t texturesOwned;
    void* blocks[2];
    ModelBlockLink* blockChain;
    ModelAttachmentCell* grid;  // attachment a, frame f at a * frameCount + f
    int32_t gridUseCount;
    int32_t attachmentCount;
    ModelAttachment* attachments;
    int32_t attachmentState[2];
};

// A growable table of slots: null free, QUARN_MODEL_PLACEHOLDER reserved, else a record.
struct ModelSlotTable {
    void** slots;
    int32_t count;  // slots 0 to count - 1 are in use or were
    int32_t capacity;
    int32_t liveCount;
};

struct ModelRegistry {
    uint8_t started;
    float sine[kModelSineSteps];
    ModelSlotTable bases;
    ModelSlotTable instances;
    struct {
        void* entries;
        int32_t count;
        int32_t capacity;
    } third;                   // freed at the end; nothing fills it yet
    int32_t builtInGraphs[3];  // graphs of the built-in textures (none is made)
};
extern ModelRegistry g_modelRegistry;

// ---- The built-in texture images (TGA files)
struct ModelBuiltInImage {
    const uint8_t* bytes;
    int32_t size;
};
extern const ModelBuiltInImage kModelBuiltInImages[3];

// ---- Start, device loss and end (0 each)
int32_t StartModelSystem();
int32_t RestoreModelTextures();
int32_t RebuildModelBaseBuffers();
int32_t ReleaseModelDeviceBuffers();
int32_t ShutDownModelSystem();
// A fresh process's registry: the end, then nothing kept. For test fixtures.
void ResetModelState();

// ---- Slots and handles
// The next slot at the end of the table (it grows as needed) holding the record or a
// placeholder. The slot, or -1 when memory runs out.
int32_t TakeModelSlot(ModelSlotTable* table, void* record);
constexpr int32_t MakeModelBaseHandle(int32_t slot) { return slot | kModelBaseHandleType; }
constexpr int32_t MakeModelInstanceHandle(int32_t check, int32_t slot)
{
    return MakeHandle(kHandleTypeModelInstance, check, slot);
}
// The record of a valid handle, else null (placeholders included).
ModelBaseRecord* FindModelBase(int32_t handle);
ModelInstanceRecord* FindModelInstance(int32_t handle);

// ---- Textures
// Decodes the colour and alpha data into images ready for a texture: the colour replaced by
// its normal map when asked, both resampled to powers of two within half the device's
// largest texture. Both outputs are zeroed first. 0, or -1 with nothing left allocated.
int32_t BuildModelTexture(BaseImage* color, BaseImage* alpha, const void* colorData, int32_t colorSize,
                          const void* alphaData, int32_t alphaSize, uint32_t normalMap, float heightScale);

// ---- Device buffers
// The vertex layout of a batch: stride in bytes and FVF code (0 for the layouts drawn only by
// shaders); -1 for a combination without a layout.
struct ModelVertexLayout {
    int32_t stride;
    uint32_t fvf;
    int32_t shadersOnly;
};
int32_t ModelVertexLayoutOf(int32_t skinningKind, int32_t selector, int32_t texCoordSets, ModelVertexLayout* out);
int32_t BuildBaseBuffers(int32_t handle, int32_t rebuild);
int32_t BuildInstanceBuffers(int32_t handle);
int32_t ReleaseBaseBuffers(int32_t handle);
int32_t ReleaseInstanceBuffers(int32_t handle);

// ---- Deletion
int32_t DeleteModelBase(int32_t handle);
int32_t DeleteModelInstance(int32_t handle);
int32_t ReleaseInstanceAttachment(int32_t handle, int32_t index);
// frame -1 means the instance's own chain or blocks.
int32_t FreeInstanceFrameChain(int32_t handle, int32_t frame);
int32_t FreeInstanceFrameBlock(int32_t handle, int32_t frame, int32_t which);
