// The state cache, the vertex batch and the scenes of the hardware renderer. Every device state
// the library sets passes through here: a value equal to the one last sent is not sent again,
// and any change first draws what is batched, so that batched vertices are drawn under the
// states in force when they were added.
#include "quarn/graphics/d3d9/device_state.h"

#include <cstring>

#include "quarn/graphics/draw_settings.h"
#include "quarn/graphics/graph_platform.h"

DeviceStateCache g_deviceCache{};
VertexBatch g_vertexBatch{};
int32_t g_deviceBlendOpCapable = 0;

namespace {

const DeviceCalls* s_device = nullptr;

// The four batch buffers in static memory: no allocation per draw.
alignas(16) uint8_t s_batch0[3225 * 20];
alignas(16) uint8_t s_batch1[2340 * 28];
alignas(16) uint8_t s_batch2[1638 * 40];
alignas(16) uint8_t s_batch3[2730 * 24];

bool Sends(bool same) { return !same || g_deviceCache.force; }

void ResetBatches()
{
    g_vertexBatch.count = 0;
    g_vertexBatch.worldCount = 0;
    g_vertexBatch.cursor = BatchBuffer(g_vertexBatch.kind);
    g_vertexBatch.worldCursor = BatchBuffer(3);
}

// The filters of a sampler-filter mode: MAG, MIN, MIP; false for a mode without a row.
bool FilterRow(int32_t mode, uint32_t out[3])
{
    static const uint32_t rows[3][3] = {{kFilterPoint, kFilterPoint, kFilterNone},
                                        {kFilterLinear, kFilterLinear, kFilterNone},
                                        {kFilterLinear, kFilterAnisotropic, kFilterLinear}};
    if (mode < 0 || mode > 2) {
        return false;
    }
    std::memcpy(out, rows[mode], sizeof(rows[mode]));
    return true;
}

void SendSamplerFilters(int32_t sampler, const uint32_t filters[3], bool compare)
{
    DeviceStateCache& c = g_deviceCache;
    uint32_t* cached[3] = {&c.magFilter[sampler], &c.minFilter[sampler], &c.mipFilter[sampler]};
    const uint32_t types[3] = {kSampMagFilter, kSampMinFilter, kSampMipFilter};
    for (int32_t i = 0; i < 3; ++i) {
        if (compare && *cached[i] == filters[i]) {
            continue;
        }
        s_device->setSamplerState(static_cast<uint32_t>(sampler), types[i], filters[i]);
        *cached[i] = filters[i];
    }
}

void SendSamplerAnisotropy(int32_t sampler, int32_t value, bool compare)
{
    DeviceStateCache& c = g_deviceCache;
    if (compare && c.samplerAnisotropy[sampler] == value) {
        return;
    }
    s_device->setSamplerState(static_cast<uint32_t>(sampler), kSampMaxAnisotropy, static_cast<uint32_t>(value));
    c.samplerAnisotropy[sampler] = value;
}

// One cached render state: sent when it differs or states are forced. The device's result.
int32_t CachedRenderState(int32_t* cached, uint32_t state, int32_t value)
{
    if (!Sends(*cached == value)) {
        return 0;
    }
    FlushVertexBatch();
    *cached = value;
    return s_device->setRenderState(state, static_cast<uint32_t>(value)) == 0 ? 0 : -1;
}

uint32_t FloatBits(float value)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

int32_t SetSamplerAddress(int32_t sampler, int32_t mode, int32_t* cache, uint32_t type)
{
    if (s_device == nullptr) {
        return 0;
    }
    if (sampler > 7 || sampler < -1) {
        return -1;
    }
    int32_t result = 0;
    if (sampler == -1) {
        bool same = true;
        for (int32_t i = 0; i < 8; ++i) {
            same = same && cache[i] == mode;
        }
        if (!Sends(same)) {
            return 0;
        }
        FlushVertexBatch();
        for (int32_t i = 7; i >= 0; --i) {
            result = s_device->setSamplerState(static_cast<uint32_t>(i), type, static_cast<uint32_t>(mode)) == 0 ? 0
                                                                                                                 : -1;
            cache[i] = mode;
        }
        return result;
    }
    if (!Sends(cache[sampler] == mode)) {
        return 0;
    }
    FlushVertexBatch();
    cache[sampler] = mode;
    return s_device->setSamplerState(static_cast<uint32_t>(sampler), type, static_cast<uint32_t>(mode)) == 0 ? 0 : -1;
}

}  // namespace

const DeviceCalls* CurrentDeviceCalls() { return s_device; }

void UseDeviceCalls(const DeviceCalls* calls) { s_device = calls; }

void* CreateDeviceVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool)
{
    if (s_device == nullptr || s_device->createVertexBuffer == nullptr) {
        return nullptr;
    }
    return s_device->createVertexBuffer(length, usage, fvf, pool);
}

void* CreateDeviceIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool)
{
    if (s_device == nullptr || s_device->createIndexBuffer == nullptr) {
        return nullptr;
    }
    return s_device->createIndexBuffer(length, usage, format, pool);
}

int32_t LockDeviceBuffer(void* buffer, int32_t index, void** bytes)
{
    *bytes = nullptr;
    if (buffer == nullptr || s_device == nullptr || s_device->lockBuffer == nullptr) {
        return -1;
    }
    return s_device->lockBuffer(buffer, index, bytes) == 0 && *bytes != nullptr ? 0 : -1;
}

int32_t UnlockDeviceBuffer(void* buffer, int32_t index)
{
    if (buffer == nullptr || s_device == nullptr || s_device->unlockBuffer == nullptr) {
        return -1;
    }
    return s_device->unlockBuffer(buffer, index) == 0 ? 0 : -1;
}

void ReleaseDeviceBuffer(void* buffer)
{
    if (buffer != nullptr && s_device != nullptr && s_device->releaseBuffer != nullptr) {
        s_device->releaseBuffer(buffer);
    }
}

uint8_t* BatchBuffer(int32_t kind)
{
    switch (kind) {
    case 0: return s_batch0;
    case 2: return s_batch2;
    case 3: return s_batch3;
    default: return s_batch1;
    }
}

uint32_t PrimitiveCountOf(uint32_t type, int32_t n)
{
    if (n <= 0) {
        return 0;
    }
    const uint32_t v = static_cast<uint32_t>(n);
    switch (type) {
    case kPtPointList: return v;
    case kPtLineList: return v / 2;
    case kPtLineStrip: return v - 1;
    case kPtTriangleList: return v / 3;
    case kPtTriangleStrip:
    case kPtTriangleFan: return v >= 2 ? v - 2 : 0;
    default: return 0;
    }
}

// ---- Cached setters

int32_t SetSamplerFilterMode(int32_t mode)
{
    if (s_device == nullptr) {
        return -1;
    }
    uint32_t filters[3];
    if (!FilterRow(mode, filters)) {
        return -1;
    }
    for (int32_t i = 0; i < g_deviceCache.stagesInUse && i < 8; ++i) {
        if (g_deviceCache.magFilter[i] != filters[0] || g_deviceCache.minFilter[i] != filters[1] ||
            g_deviceCache.mipFilter[i] != filters[2]) {
            FlushVertexBatch();
            SendSamplerFilters(i, filters, true);
        }
    }
    g_deviceCache.filterMode = mode;
    return 0;
}

int32_t SetMaxAnisotropy(int32_t value)
{
    if (s_device == nullptr) {
        return -1;
    }
    if (value < 1) {
        value = 1;
    }
    for (int32_t i = 0; i < g_deviceCache.stagesInUse && i < 8; ++i) {
        if (g_deviceCache.samplerAnisotropy[i] != value) {
            FlushVertexBatch();
            SendSamplerAnisotropy(i, value, true);
        }
    }
    g_deviceCache.maxAnisotropy = value;
    return 0;
}

int32_t SetSamplerAddressU(int32_t sampler, int32_t mode)
{
    return SetSamplerAddress(sampler, mode, g_deviceCache.addressU, kSampAddressU);
}

int32_t SetSamplerAddressV(int32_t sampler, int32_t mode)
{
    return SetSamplerAddress(sampler, mode, g_deviceCache.addressV, kSampAddressV);
}

int32_t SetZEnable(int32_t flag)
{
    if (s_device == nullptr) {
        return -1;
    }
    if (Sends(g_deviceCache.zEnable == flag)) {
        FlushVertexBatch();
        g_deviceCache.zEnable = flag;
        s_device->setRenderState(kRsZEnable, flag == 1 ? 1u : 0u);
    }
    return 0;
}

int32_t SetZWriteEnable(int32_t flag)
{
    if (s_device == nullptr) {
        return -1;
    }
    CachedRenderState(&g_deviceCache.zWriteEnable, kRsZWriteEnable, flag);
    return 0;
}

int32_t SetZFunc(int32_t func)
{
    if (s_device == nullptr) {
        return -1;
    }
    CachedRenderState(&g_deviceCache.zFunc, kRsZFunc, func);
    return 0;
}

int32_t SetDepthBias(int32_t bits)
{
    if (s_device == nullptr) {
        return -1;
    }
    CachedRenderState(&g_deviceCache.depthBias, kRsDepthBias, bits);
    return 0;
}

int32_t SetCullMode(int32_t mode)
{
    if (s_device == nullptr) {
        return 0;
    }
    if (Sends(g_deviceCache.cullMode == mode)) {
        FlushVertexBatch();
        g_deviceCache.cullMode = mode;
        s_device->setRenderState(kRsCullMode, mode == 0 ? kCullNone : mode == 2 ? kCullCw : kCullCcw);
    }
    return 0;
}

int32_t SetShadeMode(int32_t mode)
{
    if (s_device == nullptr) {
        return 0;
    }
    CachedRenderState(&g_deviceCache.shadeMode, kRsShadeMode, mode);
    return 0;
}

int32_t SetLightingState(int32_t flag)
{
    if (s_device == nullptr) {
        return 0;
    }
    if (!Sends(g_deviceCache.lighting == flag)) {
        return 0;
    }
    // Lighting takes effect in the transform step only, which 2-D batches skip: no flush.
    g_deviceCache.lighting = flag;
    return s_device->setRenderState(kRsLighting, static_cast<uint32_t>(flag)) == 0 ? 0 : -1;
}

int32_t SetDeviceFogEnable(int32_t flag)
{
    if (s_device == nullptr) {
        return 0;
    }
    return CachedRenderState(&g_deviceCache.fogEnable, kRsFogEnable, flag);
}

int32_t SetDeviceFogMode(int32_t mode)
{
    if (s_device == nullptr) {
        return 0;
    }
    return CachedRenderState(&g_deviceCache.fogMode, kRsFogVertexMode, mode);
}

int32_t SetDeviceFogColor(uint32_t color)
{
    if (s_device == nullptr) {
        return 0;
    }
    int32_t cached = static_cast<int32_t>(g_deviceCache.fogColor);
    const int32_t result = CachedRenderState(&cached, kRsFogColor, static_cast<int32_t>(color));
    g_deviceCache.fogColor = static_cast<uint32_t>(cached);
    return result;
}

int32_t SetDeviceFogStartEnd(float start, float end)
{
    if (s_device == nullptr) {
        return 0;
    }
    DeviceStateCache& c = g_deviceCache;
    if (Sends(c.fogStart == start)) {
        FlushVertexBatch();
        c.fogStart = start;
        s_device->setRenderState(kRsFogStart, FloatBits(start));
    }
    if (Sends(c.fogEnd == end)) {
        FlushVertexBatch();
        c.fogEnd = end;
        s_device->setRenderState(kRsFogEnd, FloatBits(end));
    }
    return 0;
}

int32_t SetDeviceFogDensity(float density)
{
    if (s_device == nullptr) {
        return 0;
    }
    if (!Sends(g_deviceCache.fogDensity == density)) {
        return 0;
    }
    FlushVertexBatch();
    g_deviceCache.fogDensity = density;
    return s_device->setRenderState(kRsFogDensity, FloatBits(density)) == 0 ? 0 : -1;
}

int32_t SetDiffuseFromVertexColor(int32_t flag)
{
    if (s_device == nullptr) {
        return 0;
    }
    return CachedRenderState(&g_deviceCache.diffuseSource, kRsDiffuseMaterialSource,
                             flag != 0 ? static_cast<int32_t>(kMcsColor1) : static_cast<int32_t>(kMcsMaterial));
}

int32_t SetSpecularFromVertexColor(int32_t flag)
{
    if (s_device == nullptr) {
        return 0;
    }
    return CachedRenderState(&g_deviceCache.specularSource, kRsSpecularMaterialSource,
                             flag != 0 ? static_cast<int32_t>(kMcsColor2) : static_cast<int32_t>(kMcsMaterial));
}

int32_t SetSpecularEnable(int32_t flag)
{
    if (s_device == nullptr) {
        return 0;
    }
    CachedRenderState(&g_deviceCache.specularEnable, kRsSpecularEnable, flag);
    return 0;
}

int32_t SetTextureTransform(int32_t stage, int32_t enable, const Matrix4x4* matrix)
{
    if (s_device == nullptr || stage > 7 || stage < -1) {
        return 0;
    }
    DeviceStateCache& c = g_deviceCache;
    if (stage == -1) {
        FlushVertexBatch();
        for (uint32_t i = 0; i < 4; ++i) {
            s_device->setTextureStageState(i, kTssTextureTransformFlags, enable == 1 ? kTtffCount3 : kTtffDisable);
            if (enable == 1) {
                s_device->setTransform(kTsTexture0 + i, matrix);
            }
            c.textureTransformEnable[i] = enable;
            c.textureTransform[i] = *matrix;
        }
        return 0;
    }
    if (c.textureTransformEnable[stage] == 0 && enable == 0 && !c.force) {
        return 0;
    }
    FlushVertexBatch();
    const auto s = static_cast<uint32_t>(stage);
    if (enable == 1) {
        if (c.textureTransformEnable[stage] != 1 || c.force) {
            s_device->setTextureStageState(s, kTssTextureTransformFlags, kTtffCount3);
        }
        s_device->setTransform(kTsTexture0 + s, matrix);
    } else {
        s_device->setTextureStageState(s, kTssTextureTransformFlags, kTtffDisable);
    }
    c.textureTransformEnable[stage] = enable;
    c.textureTransform[stage] = *matrix;
    return 0;
}

int32_t SetViewportCached(const DeviceViewport* viewport)
{
    if (s_device == nullptr) {
        return -1;
    }
    const DeviceViewport& old = g_deviceCache.viewport;
    const bool same = old.x == viewport->x && old.y == viewport->y && old.width == viewport->width &&
                      old.height == viewport->height;
    if (!Sends(same)) {
        return 0;
    }
    FlushVertexBatch();
    EndSceneIfOpen();
    const int32_t code = s_device->setViewport(viewport);
    if (code != 0) {
        AppendLogFormat(L"ビューポートのセットに失敗しました ErrorCode %x", static_cast<uint32_t>(code));
        return -1;
    }
    g_deviceCache.viewport = *viewport;
    return 0;
}

int32_t SetViewportRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
    if (x2 < x1 || y2 < y1 || x1 < 0 || y1 < 0) {
        return -1;  // the device takes no negative origin or size
    }
    const DeviceViewport viewport{static_cast<uint32_t>(x1),
                                  static_cast<uint32_t>(y1),
                                  static_cast<uint32_t>(x2 - x1),
                                  static_cast<uint32_t>(y2 - y1),
                                  0.0f,
                                  1.0f};
    return SetViewportCached(&viewport);
}

int32_t SetScissorRectCached(const PixelRect* rect)
{
    if (s_device == nullptr) {
        return -1;
    }
    const PixelRect& old = g_deviceCache.scissor;
    const bool same = old.left == rect->left && old.top == rect->top && old.right == rect->right &&
                      old.bottom == rect->bottom;
    if (!Sends(same)) {
        return 0;
    }
    FlushVertexBatch();
    EndSceneIfOpen();
    s_device->setScissorRect(rect);
    g_deviceCache.scissor = *rect;
    return 0;
}

int32_t SetBlendStateKey(BlendMode mode, int32_t alpha, int32_t alphaTest)
{
    if (s_device == nullptr) {
        return -1;
    }
    DeviceStateCache& c = g_deviceCache;
    FlushVertexBatch();
    c.blendMode = mode;
    c.textureAlpha = alpha;
    c.textureAlphaTest = alphaTest;
    c.blendDirty = 1;
    return 0;
}

int32_t SetDrawTexture(void* texture)
{
    if (s_device == nullptr) {
        return -1;
    }
    DeviceStateCache& c = g_deviceCache;
    if (c.texture == texture && !c.force) {
        return 0;
    }
    FlushVertexBatch();
    // Set or cleared, the texture changes the stage set-up; a swap only rebinds.
    if ((c.texture == nullptr) != (texture == nullptr)) {
        c.blendDirty = 1;
    }
    c.texture = texture;
    c.textureDirty = 1;
    return 0;
}

int32_t SetBlendTexture(void* texture, int32_t borderPos, int32_t borderRange)
{
    if (s_device == nullptr) {
        return -1;
    }
    DeviceStateCache& c = g_deviceCache;
    if (texture == nullptr && c.blendTexture == nullptr && !c.force) {
        return 0;
    }
    FlushVertexBatch();
    c.blendTexture = texture;
    if (borderPos != -1) {
        c.blendBorderPos = borderPos;
    }
    if (borderRange != -1) {
        c.blendBorderRange = borderRange;
    }
    c.blendDirty = 1;
    return 0;
}

int32_t SetDeviceWorldTransform(const Matrix4x4* matrix)
{
    if (s_device == nullptr) {
        return 0;
    }
    s_device->setTransform(kTsWorld, matrix);
    return 0;
}

int32_t ApplyWorldMatrix(const Matrix4x4* matrix)
{
    FlushVertexBatch();
    g_drawSettings.world = *matrix;
    return SetDeviceWorldTransform(matrix);
}

int32_t ResetTextureCoordIndices()
{
    if (s_device == nullptr) {
        return 0;
    }
    for (int32_t i = 0; i < 8; ++i) {
        if (Sends(g_deviceCache.stages[i].texCoordIndex == i)) {
            FlushVertexBatch();
            s_device->setTextureStageState(static_cast<uint32_t>(i), kTssTexCoordIndex, static_cast<uint32_t>(i));
            g_deviceCache.stages[i].texCoordIndex = i;
        }
    }
    return 0;
}

int32_t SetRenderTargetSurface(void* surface)
{
    if (s_device == nullptr) {
        return -1;
    }
    if (surface == g_deviceCache.renderTarget && !g_deviceCache.force) {
        return 0;
    }
    FlushVertexBatch();
    EndSceneIfOpen();
    uint32_t width = 0;
    uint32_t height = 0;
    if (s_device->setRenderTarget(surface, &width, &height) != 0) {
        return -1;
    }
    g_deviceCache.renderTarget = surface;
    // A new target resets the device's viewport to its whole surface: the cache follows.
    const DeviceViewport viewport{0, 0, width, height, 0.0f, 1.0f};
    const int32_t force = g_deviceCache.force;
    g_deviceCache.force = 1;
    SetViewportCached(&viewport);
    g_deviceCache.force = force;
    return 0;
}

// ---- Scenes and the batch

void BeginSceneIfClosed()
{
    if (s_device == nullptr || g_deviceCache.inScene) {
        return;
    }
    s_device->beginScene();
    g_deviceCache.inScene = 1;
    g_deviceCache.lastFlags = -1;
}

void EndSceneIfOpen()
{
    if (s_device == nullptr || !g_deviceCache.inScene) {
        return;
    }
    s_device->endScene();
    g_deviceCache.inScene = 0;
}

namespace {

void SetFvfCached(uint32_t fvf)
{
    if (g_deviceCache.fvf != fvf) {
        s_device->setFvf(fvf);
        g_deviceCache.fvf = fvf;
    }
}

void DrawWorldBatch()
{
    VertexBatch& b = g_vertexBatch;
    if (b.worldCount <= 0) {
        return;
    }
    SetFvfCached(kBatchFvf[3]);
    Matrix4x4 identity;
    SetIdentityMatrix4x4(&identity);
    s_device->setTransform(kTsWorld, &identity);
    s_device->drawPrimitiveUp(kPtTriangleList, static_cast<uint32_t>(b.worldCount / 3), BatchBuffer(3),
                              static_cast<uint32_t>(kBatchStride[3]));
    s_device->setTransform(kTsWorld, &g_drawSettings.world);
    b.worldCount = 0;
    b.worldCursor = BatchBuffer(3);
}

void DrawMainBatch()
{
    VertexBatch& b = g_vertexBatch;
    if (b.count <= 0) {
        return;
    }
    const uint32_t primitives = PrimitiveCountOf(b.primitive, b.count);
    if (primitives > 0) {
        SetFvfCached(kBatchFvf[b.kind]);
        s_device->drawPrimitiveUp(b.primitive, primitives, BatchBuffer(b.kind),
                                  static_cast<uint32_t>(kBatchStride[b.kind]));
    }
    b.count = 0;
    b.cursor = BatchBuffer(b.kind);
}

bool Drawable()
{
    // Once the program is to end, batched vertices are dropped.
    if (GraphQuitRequested()) {
        return false;
    }
    BeginSceneIfClosed();
    return !g_deviceCache.skipDraw;
}

}  // namespace

int32_t FlushVertexBatch()
{
    if (s_device == nullptr) {
        return -1;
    }
    VertexBatch& b = g_vertexBatch;
    if ((b.count > 0 || b.worldCount > 0) && Drawable()) {
        DrawWorldBatch();
        DrawMainBatch();
    }
    ResetBatches();
    return 0;
}

int32_t AppendBatchVertices(uint32_t primitive, const void* vertices, int32_t count)
{
    if (s_device == nullptr) {
        return -1;
    }
    VertexBatch& b = g_vertexBatch;
    const int32_t capacity = kBatchCapacity[b.kind < 0 || b.kind > 3 ? 1 : b.kind];
    if (count <= 0 || count > capacity - 1) {
        return -1;
    }
    if (g_deviceCache.blendDirty || g_deviceCache.textureDirty) {
        ApplyDrawModeStates(nullptr, 1, 0);
    }
    if (b.worldCount > 0 && Drawable()) {
        DrawWorldBatch();
    }
    b.worldCount = 0;
    b.worldCursor = BatchBuffer(3);
    // A point list may fill the buffer; the other writers keep one vertex spare.
    const int32_t limit = primitive == kPtPointList ? capacity : capacity - 1;
    if (b.count > 0 && (b.primitive != primitive || b.count + count > limit)) {
        if (Drawable()) {
            DrawMainBatch();
        }
        b.count = 0;
        b.cursor = BatchBuffer(b.kind);
    }
    b.primitive = primitive;
    const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(kBatchStride[b.kind]);
    std::memcpy(b.cursor, vertices, bytes);
    b.cursor += bytes;
    b.count += count;
    return 0;
}

namespace {

// Index buffer of a grid: what is held before a draw is due, and one more pair of rows.
constexpr int32_t kGridHeldLimit = 1000;
constexpr int32_t kGridIndexCapacity = 4096;

}  // namespace

int32_t BuildGridStrips(int32_t columns, int32_t rows, void (*emit)(const uint16_t*, int32_t, void*), void* context)
{
    if (columns < 2 || rows < 2) {
        return -1;
    }
    // 16-bit indices name at most 65536 vertices, and one pair of rows with its join must fit
    // after the held limit.
    if (static_cast<int64_t>(columns) * rows > 65536 || kGridHeldLimit + 2 * columns + 4 > kGridIndexCapacity) {
        return AppendLog(L"頂点グリッドが大きすぎます\n");
    }
    static uint16_t indices[kGridIndexCapacity];
    int32_t held = 0;
    for (int32_t r = 0; r + 1 < rows; ++r) {
        if (held > 0 && held + 2 * columns + 2 > kGridHeldLimit) {
            emit(indices, held, context);
            held = 0;
        }
        if (held > 0) {
            // Degenerate join: repeat the last index and the first of the next pair.
            indices[held] = indices[held - 1];
            ++held;
            indices[held++] = static_cast<uint16_t>((r + 1) * columns);
        }
        for (int32_t c = 0; c < columns; ++c) {
            indices[held++] = static_cast<uint16_t>((r + 1) * columns + c);
            indices[held++] = static_cast<uint16_t>(r * columns + c);
        }
    }
    if (held > 0) {
        emit(indices, held, context);
    }
    return 0;
}

int32_t DrawVertexGrid(int32_t columns, int32_t rows, const void* vertices)
{
    if (s_device == nullptr) {
        return 0;
    }
    if (columns < 2 || rows < 2) {
        return -1;
    }
    FlushVertexBatch();
    struct Grid {
        uint32_t vertexCount;
        const void* vertices;
    } grid{static_cast<uint32_t>(columns) * static_cast<uint32_t>(rows), vertices};
    return BuildGridStrips(
        columns, rows,
        [](const uint16_t* indices, int32_t count, void* context) {
            const Grid* g = static_cast<const Grid*>(context);
            SetFvfCached(kBatchFvf[1]);
            s_device->drawIndexedPrimitiveUp(kPtTriangleStrip, g->vertexCount, static_cast<uint32_t>(count - 2),
                                             indices, g->vertices, static_cast<uint32_t>(kBatchStride[1]));
        },
        &grid);
}

// ---- Defaults and re-sending

int32_t SetDefaultDeviceStates()
{
    if (s_device == nullptr) {
        return -1;
    }
    FlushVertexBatch();
    DeviceStateCache& c = g_deviceCache;
    static const int32_t coordIndex[4] = {0, 1, 1, 0};
    for (uint32_t i = 0; i < 4; ++i) {
        s_device->setSamplerState(i, kSampAddressU, static_cast<uint32_t>(c.addressU[i]));
        s_device->setSamplerState(i, kSampAddressV, static_cast<uint32_t>(c.addressV[i]));
        s_device->setTextureStageState(i, kTssTexCoordIndex, static_cast<uint32_t>(coordIndex[i]));
        c.stages[i].texCoordIndex = coordIndex[i];
    }
    s_device->setRenderState(kRsShadeMode, static_cast<uint32_t>(c.shadeMode));
    s_device->setRenderState(kRsLighting, static_cast<uint32_t>(c.lighting));
    s_device->setRenderState(kRsCullMode, kCullNone);
    s_device->setRenderState(kRsDitherEnable, 0);
    s_device->unbindShaders();
    c.fvf = 0;
    return 0;
}

int32_t InitDeviceSettings(int32_t screenWidth, int32_t screenHeight, void* backBuffer)
{
    if (s_device == nullptr) {
        return -1;
    }
    // Pre-filled vertices: z 0, rhw 1, and in kind 2 the specular colour white.
    for (int32_t kind = 0; kind < 3; ++kind) {
        for (int32_t i = 0; i < kBatchCapacity[kind]; ++i) {
            uint8_t* v = BatchBuffer(kind) + static_cast<size_t>(i) * static_cast<size_t>(kBatchStride[kind]);
            const float z = 0.0f;
            const float rhw = 1.0f;
            std::memcpy(v + 8, &z, 4);
            std::memcpy(v + 12, &rhw, 4);
            if (kind == 2) {
                const uint32_t white = 0xFFFFFFFF;
                std::memcpy(v + 20, &white, 4);
            }
        }
    }
    DeviceStateCache& c = g_deviceCache;
    // The filters follow the mode cached before this start; an unknown one keeps the
    // per-sampler values as they were.
    const int32_t cachedMode = c.filterMode;
    uint32_t keptFilters[8][3];
    for (int32_t i = 0; i < 8; ++i) {
        keptFilters[i][0] = c.magFilter[i];
        keptFilters[i][1] = c.minFilter[i];
        keptFilters[i][2] = c.mipFilter[i];
    }
    c = DeviceStateCache{};
    const DrawSettings& s = g_drawSettings;
    uint32_t filters[3];
    const bool known = FilterRow(cachedMode, filters);
    if (known) {
        // At start-up every filter of a mode is the same kind: point, linear or anisotropic.
        filters[0] = filters[1] = filters[2] = static_cast<uint32_t>(cachedMode + 1);
    }
    for (int32_t i = 0; i < 8; ++i) {
        c.addressU[i] = s.addressU[i] == 0 ? 3 : s.addressU[i];
        c.addressV[i] = s.addressV[i] == 0 ? 3 : s.addressV[i];
        s_device->setSamplerState(static_cast<uint32_t>(i), kSampAddressU, static_cast<uint32_t>(c.addressU[i]));
        s_device->setSamplerState(static_cast<uint32_t>(i), kSampAddressV, static_cast<uint32_t>(c.addressV[i]));
        if (known) {
            SendSamplerFilters(i, filters, false);
        } else {
            SendSamplerFilters(i, keptFilters[i], false);
        }
        c.samplerAnisotropy[i] = 1;
    }
    const uint32_t one = FloatBits(1.0f);
    const uint32_t states[][2] = {
        {kRsCullMode, kCullNone}, {kRsLighting, 1},       {kRsShadeMode, kShadeFlat},
        {kRsDitherEnable, 0},     {kRsSpecularEnable, 1}, {kRsAmbientMaterialSource, kMcsMaterial},
        {kRsNormalizeNormals, 1}, {kRsFogEnable, 0},      {kRsFogVertexMode, kFogNone},
        {kRsFogColor, 0},         {kRsFogStart, 0},       {kRsFogEnd, one}};
    for (const auto& state : states) {
        s_device->setRenderState(state[0], state[1]);
    }
    for (int32_t i = 0; i < 8; ++i) {
        c.stages[i] = DrawStageEntry{nullptr,     0,          kTaTexture, kTaDiffuse,
                                     kTopDisable, kTaTexture, kTaDiffuse, kTopDisable};
    }
    c.stagesInUse = 0;
    c.viewport = DeviceViewport{0,    0,   static_cast<uint32_t>(screenWidth), static_cast<uint32_t>(screenHeight),
                                0.0f, 1.0f};
    c.scissor = PixelRect{0, 0, screenWidth, screenHeight};
    g_vertexBatch.vertexColor = 0xFFFFFFFF;
    c.blendBorderPos = -1;
    c.fogStart = 0.0f;
    c.fogEnd = 1.0f;
    c.zEnable = 1;
    c.zWriteEnable = 0;
    c.zFunc = kCmpLessEqual;
    c.cullMode = 0;
    c.shadeMode = 1;
    c.lighting = 1;
    c.specularEnable = 1;
    c.diffuseSource = 255;
    c.specularSource = 255;
    c.filterMode = 3;
    c.maxAnisotropy = 1;
    c.renderTarget = backBuffer;
    c.blendDirty = 1;
    c.srcBlend = c.destBlend = c.blendOp = -1;
    c.alphaRef = c.alphaFunc = -1;
    c.alphaTestEnable = c.alphaBlendEnable = -1;
    c.lastFlags = -1;
    g_vertexBatch.kind = 1;
    ResetBatches();

    ReapplyCoreStates();
    BeginSceneIfClosed();
    PrepareDrawStates(nullptr, nullptr, 0);
    if (c.blendDirty || c.textureDirty) {
        ApplyDrawModeStates(nullptr, 1, 0);
    }
    // One point opens the batch at the start of the untextured kind.
    uint8_t point[20] = {};
    const float rhw = 1.0f;
    std::memcpy(point + 12, &rhw, 4);
    std::memcpy(point + 16, &g_vertexBatch.vertexColor, 4);
    if (g_vertexBatch.kind == 0) {
        AppendBatchVertices(kPtPointList, point, 1);
    }
    return 0;
}

void ReapplyCoreStates()
{
    if (s_device == nullptr) {
        return;
    }
    DeviceStateCache& c = g_deviceCache;
    c.force = 1;
    const DeviceViewport viewport = c.viewport;
    SetViewportCached(&viewport);
    const PixelRect scissor = c.scissor;
    SetScissorRectCached(&scissor);
    SetDefaultDeviceStates();
    SetSamplerFilterMode(c.filterMode);
    ApplyDrawModeStates(nullptr, 1, 0);
    SetZEnable(c.zEnable);
    SetZWriteEnable(c.zWriteEnable);
    SetZFunc(c.zFunc);
    SetDepthBias(c.depthBias);
    SetCullMode(c.cullMode);
    SetShadeMode(c.shadeMode);
    c.force = 0;
}

int32_t BeginDeviceStateResend()
{
    if (s_device == nullptr) {
        return -1;
    }
    DeviceStateCache& c = g_deviceCache;
    DrawSettings& s = g_drawSettings;
    s_device->setRenderState(kRsDitherEnable, 0);
    c.force = 1;
    c.texture = nullptr;
    ResetBatches();
    SetBlendStateKey(c.blendMode, c.textureAlpha, c.textureAlphaTest);
    SetCullMode(c.cullMode);
    SetSamplerFilterMode(c.filterMode);
    SetShadeMode(c.shadeMode);
    SetMaxAnisotropy(c.maxAnisotropy);
    for (int32_t i = 0; i < 8; ++i) {
        SetSamplerAddressU(i, c.addressU[i]);
        SetSamplerAddressV(i, c.addressV[i]);
    }
    for (int32_t i = 0; i < 8; ++i) {
        const Matrix4x4 matrix = c.textureTransform[i];
        SetTextureTransform(i, c.textureTransformEnable[i], &matrix);
    }
    SetDeviceFogEnable(c.fogEnable);
    SetDeviceFogMode(c.fogMode);
    SetDeviceFogColor(c.fogColor);
    SetDeviceFogStartEnd(c.fogStart, c.fogEnd);
    SetDeviceFogDensity(c.fogDensity);
    SetZEnable(c.zEnable);
    SetZWriteEnable(c.zWriteEnable);
    SetZFunc(c.zFunc);
    SetDepthBias(c.depthBias);
    const Matrix4x4 world = s.world;
    ApplyWorldMatrix(&world);
    SetSpecularEnable(c.specularEnable);
    if (c.diffuseSource != 255) {
        SetDiffuseFromVertexColor(c.diffuseSource != static_cast<int32_t>(kMcsMaterial));
    }
    if (c.specularSource != 255) {
        SetSpecularFromVertexColor(c.specularSource != static_cast<int32_t>(kMcsMaterial));
    }
    SetLightingState(c.lighting);
    const PixelRect clip = s.clip;
    if (clip.left >= 0 && clip.top >= 0 && clip.right >= clip.left && clip.bottom >= clip.top) {
        c.viewport = DeviceViewport{static_cast<uint32_t>(clip.left),
                                    static_cast<uint32_t>(clip.top),
                                    static_cast<uint32_t>(clip.right - clip.left),
                                    static_cast<uint32_t>(clip.bottom - clip.top),
                                    0.0f,
                                    1.0f};
        c.scissor = clip;
    }
    const DeviceViewport viewport = c.viewport;
    SetViewportCached(&viewport);
    SetScissorRectCached(&clip);
    ResetTextureCoordIndices();
    ApplyDrawModeStates(nullptr, 1, 0);
    ReapplyCoreStates();
    return 0;
}

void EndDeviceStateResend() { g_deviceCache.force = 0; }
