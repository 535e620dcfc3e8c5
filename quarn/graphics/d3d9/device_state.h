// The hardware renderer's device state: the cache of every state last sent to the device, the
// vertex batch that collects 2-D drawing, the blend-mode mapping onto fixed-function states,
// and the choice of texture formats.
//
// Portable: the device is reached only through DeviceCalls, a narrow table the Windows back end
// fills over the real device and tests fill with a recorder. The numbers below are the device
// API's own values, so that the Windows side passes them through unchanged.
#pragma once

#include <cstdint>

#include "quarn/core/core.h"
#include "quarn/image/image.h"
#include "quarn/softrender/blend_mode.h"

// ---- Device API values used by the library
enum : uint32_t {
    // Render states
    kRsZEnable = 7,
    kRsFillMode = 8,
    kRsShadeMode = 9,
    kRsZWriteEnable = 14,
    kRsAlphaTestEnable = 15,
    kRsSrcBlend = 19,
    kRsDestBlend = 20,
    kRsCullMode = 22,
    kRsZFunc = 23,
    kRsAlphaRef = 24,
    kRsAlphaFunc = 25,
    kRsDitherEnable = 26,
    kRsAlphaBlendEnable = 27,
    kRsFogEnable = 28,
    kRsSpecularEnable = 29,
    kRsFogColor = 34,
    kRsFogStart = 36,
    kRsFogEnd = 37,
    kRsFogDensity = 38,
    kRsTextureFactor = 60,
    kRsLighting = 137,
    kRsNormalizeNormals = 143,
    kRsDiffuseMaterialSource = 145,
    kRsSpecularMaterialSource = 146,
    kRsAmbientMaterialSource = 147,
    kRsFogVertexMode = 140,
    kRsBlendOp = 171,
    kRsScissorTestEnable = 174,
    kRsDepthBias = 195,
    // Sampler states
    kSampAddressU = 1,
    kSampAddressV = 2,
    kSampMagFilter = 5,
    kSampMinFilter = 6,
    kSampMipFilter = 7,
    kSampMaxAnisotropy = 10,
    // Filters
    kFilterNone = 0,
    kFilterPoint = 1,
    kFilterLinear = 2,
    kFilterAnisotropic = 3,
    // Texture stage states
    kTssColorOp = 1,
    kTssColorArg1 = 2,
    kTssColorArg2 = 3,
    kTssAlphaOp = 4,
    kTssAlphaArg1 = 5,
    kTssAlphaArg2 = 6,
    kTssTexCoordIndex = 11,
    kTssTextureTransformFlags = 24,
    // Texture operations and arguments
    kTopDisable = 1,
    kTopSelectArg1 = 2,
    kTopSelectArg2 = 3,
    kTopModulate = 4,
    kTopModulate2x = 5,
    kTopModulate4x = 6,
    kTopAdd = 7,
    kTopSubtract = 10,
    kTopBlendDiffuseAlpha = 12,
    kTopBlendCurrentAlpha = 16,
    kTaDiffuse = 0,
    kTaCurrent = 1,
    kTaTexture = 2,
    kTaTFactor = 3,
    kTaSpecular = 4,
    kTaComplement = 0x10,
    // Texture transform flags
    kTtffDisable = 0,
    kTtffCount3 = 3,
    // Blend factors and operations
    kBlendZero = 1,
    kBlendOne = 2,
    kBlendSrcColor = 3,
    kBlendSrcAlpha = 5,
    kBlendInvSrcAlpha = 6,
    kBlendInvDestColor = 10,
    kBlendOpAdd = 1,
    kBlendOpRevSubtract = 3,
    // Comparison functions
    kCmpGreater = 5,
    kCmpGreaterEqual = 7,
    kCmpLessEqual = 4,
    // Cull modes, shade modes, material sources, fog modes
    kCullNone = 1,
    kCullCw = 2,
    kCullCcw = 3,
    kShadeFlat = 1,
    kShadeGouraud = 2,
    kMcsMaterial = 0,
    kMcsColor1 = 1,
    kMcsColor2 = 2,
    kFogNone = 0,
    kFogExp = 1,
    kFogExp2 = 2,
    kFogLinear = 3,
    // Transforms
    kTsView = 2,
    kTsProjection = 3,
    kTsTexture0 = 16,
    kTsWorld = 256,
    // Primitive types
    kPtPointList = 1,
    kPtLineList = 2,
    kPtLineStrip = 3,
    kPtTriangleList = 4,
    kPtTriangleStrip = 5,
    kPtTriangleFan = 6,
    // Usage
    kUsageRenderTarget = 1,
    kUsageWriteOnly = 8,
    kUsageDynamic = 0x200,
    // Resource pools
    kPoolDefault = 0,
};

// Pixel formats (D3DFORMAT codes).
enum : uint32_t {
    kFmtUnknown = 0,
    kFmtR8G8B8 = 20,
    kFmtA8R8G8B8 = 21,
    kFmtX8R8G8B8 = 22,
    kFmtR5G6B5 = 23,
    kFmtX1R5G5B5 = 24,
    kFmtA1R5G5B5 = 25,
    kFmtA4R4G4B4 = 26,
    kFmtR3G3B2 = 27,
    kFmtA8R3G3B2 = 29,
    kFmtX4R4G4B4 = 30,
    kFmtA2B10G10R10 = 31,
    kFmtA8B8G8R8 = 32,
    kFmtX8B8G8R8 = 33,
    kFmtA2R10G10B10 = 35,
    kFmtD32 = 71,
    kFmtD24X8 = 77,
    kFmtD16 = 80,
    kFmtIndex16 = 101,
    kFmtDxt1 = 0x31545844,
    kFmtDxt2 = 0x32545844,
    kFmtDxt3 = 0x33545844,
    kFmtDxt4 = 0x34545844,
    kFmtDxt5 = 0x35545844,
};

// The device's viewport, laid out as the device API's.
struct DeviceViewport {
    uint32_t x, y, width, height;
    float minZ, maxZ;
};

// A light as the device API lays it out: type (1 point, 2 spot, 3 directional), diffuse,
// specular and ambient colours (r, g, b, a), position, direction, range, falloff, the three
// attenuation terms, and the spot cone angles theta (inner) and phi (outer).
struct DeviceLight {
    uint32_t type;
    float diffuse[4];
    float specular[4];
    float ambient[4];
    Vector3 position;
    Vector3 direction;
    float range;
    float falloff;
    float attenuation0, attenuation1, attenuation2;
    float theta, phi;
};
static_assert(sizeof(DeviceLight) == 104, "the device's light record");

// A material as the device API lays it out.
struct DeviceMaterial {
    float diffuse[4];
    float ambient[4];
    float specular[4];
    float emissive[4];
    float power;
};
static_assert(sizeof(DeviceMaterial) == 68, "the device's material record");

// ---- The device-call seam
// Each call returns 0 when the device accepted it and -1 when it failed. Surfaces and textures
// are the device's objects, passed through untouched.
struct DeviceCalls {
    int32_t (*setRenderState)(uint32_t state, uint32_t value);
    int32_t (*setSamplerState)(uint32_t sampler, uint32_t type, uint32_t value);
    int32_t (*setTextureStageState)(uint32_t stage, uint32_t type, uint32_t value);
    int32_t (*setTexture)(uint32_t stage, void* texture);
    int32_t (*setTransform)(uint32_t which, const Matrix4x4* matrix);
    int32_t (*setViewport)(const DeviceViewport* viewport);
    int32_t (*setScissorRect)(const PixelRect* rect);
    int32_t (*setFvf)(uint32_t fvf);
    int32_t (*drawPrimitiveUp)(uint32_t type, uint32_t count, const void* vertices, uint32_t stride);
    int32_t (*drawIndexedPrimitiveUp)(uint32_t type, uint32_t vertexCount, uint32_t primitiveCount,
                                      const uint16_t* indices, const void* vertices, uint32_t stride);
    int32_t (*beginScene)();
    int32_t (*endScene)();
    // Makes the surface render target 0 and reports its size.
    int32_t (*setRenderTarget)(void* surface, uint32_t* width, uint32_t* height);
    // Unbinds any vertex and pixel shader.
    int32_t (*unbindShaders)();
    // Lights, material and shader constants (count registers from start).
    int32_t (*setLight)(uint32_t index, const DeviceLight* light);
    int32_t (*lightEnable)(uint32_t index, int32_t enable);
    int32_t (*setMaterial)(const DeviceMaterial* material);
    int32_t (*setVertexShaderConstantF)(uint32_t start, const float* data, uint32_t count);
    int32_t (*setPixelShaderConstantF)(uint32_t start, const float* data, uint32_t count);
    int32_t (*setVertexShaderConstantB)(uint32_t start, const int32_t* data, uint32_t count);
    // Vertex and index buffers: the device's buffer object, or null when it made none.
    void* (*createVertexBuffer)(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool);
    void* (*createIndexBuffer)(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool);
    // Locks a whole buffer (index 0 a vertex buffer, 1 an index buffer) and hands out its bytes.
    int32_t (*lockBuffer)(void* buffer, int32_t index, void** bytes);
    int32_t (*unlockBuffer)(void* buffer, int32_t index);
    // Drops the caller's reference to a buffer of either kind.
    void (*releaseBuffer)(void* buffer);
};

// The device in use, or null: every operation below acts as "without a device" while null.
const DeviceCalls* CurrentDeviceCalls();
void UseDeviceCalls(const DeviceCalls* calls);

// ---- Device buffers
// The buffer made by the device in use, or null without a device or when it made none.
void* CreateDeviceVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool);
void* CreateDeviceIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool);
// index: 0 a vertex buffer, 1 an index buffer. 0, or -1 without a device or when it refused.
int32_t LockDeviceBuffer(void* buffer, int32_t index, void** bytes);
int32_t UnlockDeviceBuffer(void* buffer, int32_t index);
// Null is ignored, and so is any buffer while there is no device: buffers go before their device.
void ReleaseDeviceBuffer(void* buffer);

// ---- Stage set-ups and descriptors
struct DrawStageEntry {
    void* texture;          // a device texture, or a graph handle (as intptr) when so asked
    int32_t texCoordIndex;  // -1 leaves it
    uint16_t alphaArg1, alphaArg2, alphaOp, colorArg1, colorArg2, colorOp;  // 0xFFFF leaves it
};

struct DrawStateDescriptor {
    int32_t alphaTestEnable;
    int32_t alphaRef;
    int32_t alphaFunc;
    int32_t alphaBlendEnable;
    uint32_t textureFactor;
    int32_t srcBlend;    // -1 leaves it
    int32_t destBlend;   // -1 leaves it
    int32_t blendOp;     // -1 leaves it
    int32_t stageCount;  // 0 to 8
    DrawStageEntry stages[8];
};

// One row per BlendMode, in its order: destination blend, source blend, stage kind (0 plain,
// 1 multiply-blend, 2 complemented colour), blend operation; -1 leaves the state.
struct BlendFactorRow {
    int32_t destBlend, srcBlend, stageKind, blendOp;
};
extern const BlendFactorRow kBlendFactorTable[kBlendModeCount];

// A fixed-function stage set-up: its stages in use, the terminating stage after them.
struct StageSetup {
    int32_t count;
    DrawStageEntry stages[8];
};
// The set-up of stage kind k (0 to 2), colour source c (0 texture, 1 times vertex colour, 2 and
// 3 the same with a blend graph), vertex alpha v (0/1) and texture alpha class t (0 opaque,
// 1 alpha, 2 alpha-tested); null outside those ranges.
const StageSetup* StageSetupFor(int32_t k, int32_t c, int32_t v, int32_t t);

// ---- The vertex batch
constexpr int32_t kBatchCapacity[4] = {3225, 2340, 1638, 2730};
constexpr uint32_t kBatchFvf[4] = {0x44, 0x144, 0x2C4, 0x142};
constexpr int32_t kBatchStride[4] = {20, 28, 40, 24};

// Primitives drawn from n vertices of the type (integer division), 0 for an unknown type.
uint32_t PrimitiveCountOf(uint32_t type, int32_t n);

struct VertexBatch {
    int32_t kind;        // 0 to 3
    uint32_t primitive;  // primitive type of the main batch
    int32_t count;
    uint8_t* cursor;
    uint32_t vertexColor;
    int32_t worldCount;
    uint8_t* worldCursor;
};
extern VertexBatch g_vertexBatch;
// The batch's buffers: kind 0 to 3.
uint8_t* BatchBuffer(int32_t kind);

// ---- The state cache
struct DeviceStateCache {
    int32_t force;
    int32_t blendDirty, textureDirty, inScene, skipDraw;
    int32_t zEnable, zWriteEnable, zFunc, depthBias, cullMode, shadeMode, lighting;
    int32_t fogEnable, fogMode;
    uint32_t fogColor;
    float fogStart, fogEnd, fogDensity;
    int32_t diffuseSource, specularSource;  // 255 unknown
    int32_t filterMode;                     // 3 unknown
    uint32_t magFilter[8], minFilter[8], mipFilter[8];
    int32_t maxAnisotropy;
    int32_t samplerAnisotropy[8];
    int32_t addressU[8], addressV[8];
    DrawStageEntry stages[8];
    int32_t stagesInUse;
    // Draw-state inputs
    BlendMode blendMode;
    int32_t textureAlpha, textureAlphaTest, useVertexColor, useVertexAlpha;
    void* texture;
    void* blendTexture;
    int32_t blendBorderPos, blendBorderRange;
    // Fixed-function states last sent by the mode mapping
    int32_t alphaTestEnable, alphaRef, alphaFunc, alphaBlendEnable;
    uint32_t textureFactor;
    int32_t srcBlend, destBlend, blendOp;
    int32_t textureTransformEnable[8];
    Matrix4x4 textureTransform[8];
    DeviceViewport viewport;
    PixelRect scissor;
    void* renderTarget;
    uint32_t fvf;
    int32_t specularEnable;
    // The descriptor kept by SetDrawStateDescriptor
    DrawStateDescriptor descriptor;
    int32_t descriptorInUse, descriptorTexturesOnly;
    // The arguments of the last PrepareDrawStates
    int32_t lastFlags;
};
extern DeviceStateCache g_deviceCache;

// Whether the device can use blend operation REVSUBTRACT.
extern int32_t g_deviceBlendOpCapable;
// Resolves a graph handle to the texture of its first piece, or null.
void* GraphFirstTexture(int32_t graph);

// ---- Cached setters (the cache rule: nothing without a device; an equal value is not sent
// unless states are being forced; otherwise the batch is flushed, the state sent and cached)
int32_t SetSamplerFilterMode(int32_t mode);
int32_t SetMaxAnisotropy(int32_t value);
int32_t SetSamplerAddressU(int32_t sampler, int32_t mode);
int32_t SetSamplerAddressV(int32_t sampler, int32_t mode);
int32_t SetZEnable(int32_t flag);
int32_t SetZWriteEnable(int32_t flag);
int32_t SetZFunc(int32_t func);
int32_t SetDepthBias(int32_t bits);
int32_t SetCullMode(int32_t mode);
int32_t SetShadeMode(int32_t mode);
int32_t SetLightingState(int32_t flag);
int32_t SetDeviceFogEnable(int32_t flag);
int32_t SetDeviceFogMode(int32_t mode);
int32_t SetDeviceFogColor(uint32_t color);
int32_t SetDeviceFogStartEnd(float start, float end);
int32_t SetDeviceFogDensity(float density);
int32_t SetDiffuseFromVertexColor(int32_t flag);
int32_t SetSpecularFromVertexColor(int32_t flag);
int32_t SetTextureTransform(int32_t stage, int32_t enable, const Matrix4x4* matrix);
int32_t SetViewportCached(const DeviceViewport* viewport);
int32_t SetViewportRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
int32_t SetScissorRectCached(const PixelRect* rect);
int32_t SetBlendStateKey(BlendMode mode, int32_t alpha, int32_t alphaTest);
int32_t SetDrawTexture(void* texture);
int32_t SetBlendTexture(void* texture, int32_t borderPos, int32_t borderRange);
int32_t SetDeviceWorldTransform(const Matrix4x4* matrix);
int32_t ApplyWorldMatrix(const Matrix4x4* matrix);
int32_t ResetTextureCoordIndices();
int32_t SetSpecularEnable(int32_t flag);
int32_t SetRenderTargetSurface(void* surface);

// ---- Scenes, batch and defaults
void BeginSceneIfClosed();
void EndSceneIfOpen();
int32_t FlushVertexBatch();
// Appends vertices of the current kind (count of them, stride of the kind) as the primitive:
// the append rule of the drawing operations. 0, or -1 without a device.
int32_t AppendBatchVertices(uint32_t primitive, const void* vertices, int32_t count);
// The 16-bit indices of a w x h grid as triangle strips joined by degenerate triangles, in
// draws of at most 1000 held indices: calls emit(indices, count) per draw. 0, or -1 for fewer
// than 2 columns or rows.
int32_t BuildGridStrips(int32_t columns, int32_t rows, void (*emit)(const uint16_t*, int32_t, void*), void* context);
int32_t DrawVertexGrid(int32_t columns, int32_t rows, const void* vertices);
int32_t SetDefaultDeviceStates();
int32_t InitDeviceSettings(int32_t screenWidth, int32_t screenHeight, void* backBuffer);
void ReapplyCoreStates();
// After a device restart: every state the cache holds is sent again, equal or not (forcing
// stays on until EndDeviceStateResend, so that the camera and the lights above can send
// theirs too; ReapplyAllDeviceStates in device_reapply.h runs the whole). 0, or -1 without a
// device.
int32_t BeginDeviceStateResend();
void EndDeviceStateResend();

// ---- Blend-mode mapping
int32_t PrepareDrawStates(const struct TextureFormatRequest* request, void* texture, uint32_t flags);
int32_t ApplyDrawModeStates(const DrawStateDescriptor* descriptor, int32_t handles, int32_t texturesOnly);
int32_t SetDrawStateDescriptor(const DrawStateDescriptor* descriptor, int32_t texturesOnly);
int32_t ApplyDrawStateDescriptor(const DrawStateDescriptor* descriptor, int32_t texturesOnly, int32_t handles);

// ---- Texture formats
// Answers whether the device accepts a texture of the format with the usage (0 or render
// target) on the given back-buffer format: 1 yes, 0 no.
using TextureFormatCheck = int32_t (*)(uint32_t usage, uint32_t format, void* context);
// Fills the 16 entries in index order with their log lines. 0, or -1 with the line of the first
// entry that has no usable format.
int32_t FillTextureFormatTable(TextureFormatCheck check, void* context, uint32_t backBufferFormat, int32_t screenBits,
                               uint32_t table[16]);
// The table the device was started with.
extern uint32_t g_textureFormats[16];
// The largest texture side from the device's limits (0 counts as 256), both stored back.
int32_t MaxTextureSizeFromCaps(uint32_t* maxWidth, uint32_t* maxHeight);
// The smallest power of two not below the length (1 for 1 or less).
int32_t DepthBufferSide(int32_t length);
const ColorFormat* GetTextureColorFormat(int32_t kind);
const ColorFormat* GetDisplayFormatColorFormat(uint32_t format);
const ColorFormat* ChooseTextureFormat(const struct TextureFormatRequest* request);
const ColorFormat* PickTextureFormat(uint8_t alpha, uint8_t alphaTest, int32_t wide, uint8_t renderTarget);
