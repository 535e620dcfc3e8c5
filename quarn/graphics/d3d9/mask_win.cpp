// The mask screen on the device: the mask as an alpha texture, a work texture drawing goes
// into, and the alpha-tested quad that writes the work back through the mask.
// Windows build only.
#include "quarn/graphics/d3d9/mask_win.h"

#include <cstring>

#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/graphics/mask.h"
#include "quarn/graphics/render_backend.h"

DeviceMaskObjects g_deviceMask{};

namespace {

constexpr uint32_t kCmpEqual = D3DCMP_EQUAL, kCmpNotEqual = D3DCMP_NOTEQUAL;

IDirect3DDevice9* Device() { return g_graphicsDevice.device; }

// The mask's alpha: one byte of alpha where the device has it, else a 32-bit texture's alpha.
D3DFORMAT MaskAlphaFormat()
{
    if (CheckTextureFormat(0, D3DFMT_A8, nullptr) != 0) {
        return D3DFMT_A8;
    }
    return CheckTextureFormat(0, D3DFMT_A8R8G8B8, nullptr) != 0 ? D3DFMT_A8R8G8B8 : D3DFMT_UNKNOWN;
}

int32_t Build(int32_t width, int32_t height)
{
    DeviceMaskObjects& m = g_deviceMask;
    const auto colorFormat = static_cast<D3DFORMAT>(g_textureFormats[14]);
    if (colorFormat == D3DFMT_UNKNOWN) {
        FatalErrorExit(L"マスク描画用カラーバッファで使用できるテクスチャフォーマットがありませんでした");
    }
    const D3DFORMAT alphaFormat = MaskAlphaFormat();
    if (alphaFormat == D3DFMT_UNKNOWN) {
        FatalErrorExit(L"マスク描画用アルファチャンネルバッファで使用できるテクスチャフォーマットがありませんでした");
    }
    m.textureWidth = DepthBufferSide(width);
    m.textureHeight = DepthBufferSide(height);
    const UINT w = static_cast<UINT>(m.textureWidth);
    const UINT h = static_cast<UINT>(m.textureHeight);
    // The DEFAULT pool, which every device offers (a 9Ex device has no managed pool); what
    // is written to it goes through the system-memory twin.
    if (m.image == nullptr) {
        m.imageFormat = alphaFormat;
        if (FAILED(Device()->CreateTexture(w, h, 1, 0, alphaFormat, D3DPOOL_DEFAULT, &m.image, nullptr)) ||
            FAILED(Device()->CreateTexture(w, h, 1, 0, alphaFormat, D3DPOOL_SYSTEMMEM, &m.imageTwin, nullptr))) {
            FatalErrorExit(L"マスク用イメージテクスチャの作成に失敗しました");
        }
    }
    if (m.screen == nullptr) {
        if (FAILED(Device()->CreateTexture(w, h, 1, D3DUSAGE_RENDERTARGET, colorFormat, D3DPOOL_DEFAULT, &m.screen,
                                           nullptr)) ||
            FAILED(m.screen->GetSurfaceLevel(0, &m.work))) {
            FatalErrorExit(L"マスク用スクリーンテクスチャの作成に失敗しました");
        }
    }
    return 0;
}

}  // namespace

void DeviceReleaseMask()
{
    DeviceMaskObjects& m = g_deviceMask;
    ReleaseObject(m.work);
    ReleaseObject(m.screen);
    ReleaseObject(m.imageTwin);
    ReleaseObject(m.image);
    m.savedTarget = nullptr;
}

// The mask bytes of the area (null: the whole texture, 0 outside the screen) into the twin's
// alpha, then the twin's changed part into the image texture.
int32_t DeviceUploadMask(const PixelRect* area)
{
    const uint8_t* bits = g_maskScreen.bits;
    const int32_t pitch = g_maskScreen.pitch;
    DeviceMaskObjects& m = g_deviceMask;
    const MaskScreenState& screen = g_maskScreen;
    if (m.image == nullptr || m.imageTwin == nullptr) {
        return -1;
    }
    const RECT rect = area != nullptr ? RECT{area->left, area->top, area->right, area->bottom}
                                      : RECT{0, 0, m.textureWidth, m.textureHeight};
    D3DLOCKED_RECT locked{};
    if (FAILED(m.imageTwin->LockRect(0, &locked, &rect, 0))) {
        return -1;
    }
    const int32_t bytes = m.imageFormat == D3DFMT_A8 ? 1 : 4;
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        auto* row = static_cast<uint8_t*>(locked.pBits) + static_cast<ptrdiff_t>(y - rect.top) * locked.Pitch;
        for (LONG x = rect.left; x < rect.right; ++x) {
            const uint8_t value = x < screen.width && y < screen.height ? bits[y * pitch + x] : 0;
            uint8_t* pixel = row + static_cast<ptrdiff_t>(x - rect.left) * bytes;
            if (bytes == 1) {
                pixel[0] = value;
            } else {
                pixel[0] = pixel[1] = pixel[2] = 0;
                pixel[3] = value;
            }
        }
    }
    m.imageTwin->UnlockRect(0);
    return SUCCEEDED(Device()->UpdateTexture(m.imageTwin, m.image)) ? 0 : -1;
}

namespace {

int32_t TargetWork() { return g_deviceMask.work != nullptr ? SetRenderTargetSurface(g_deviceMask.work) : -1; }

}  // namespace

int32_t DeviceBuildMask()
{
    return Build(g_maskScreen.width, g_maskScreen.height) == 0 && DeviceUploadMask(nullptr) == 0 ? 0 : -1;
}

int32_t DeviceTargetMaskWork()
{
    FlushVertexBatch();
    // A new render target takes the device's viewport to its whole surface.
    const int32_t result = TargetWork();
    CurrentRenderBackend()->applyClip();
    return result;
}

void DevicePrepareMask(const PixelRect* area)
{
    DeviceMaskObjects& m = g_deviceMask;
    if (m.work == nullptr) {
        return;
    }
    FlushVertexBatch();
    EndSceneIfOpen();
    m.savedTarget = DrawTargetSurface();
    const RECT rect{area->left, area->top, area->right, area->bottom};
    if (m.savedTarget != nullptr) {
        Device()->StretchRect(m.savedTarget, &rect, m.work, &rect, D3DTEXF_NONE);
    }
}

namespace {

// Pre-transformed vertices with two texture coordinates: the batch's kind 2.
struct MaskVertex {
    float x, y, z, rhw;
    uint32_t diffuse, specular;
    float u0, v0, u1, v1;
};
static_assert(sizeof(MaskVertex) == 40, "vertex kind 2");

}  // namespace

int32_t DeviceCommitMask(const PixelRect* area)
{
    const int32_t reverse = g_maskScreen.reverse;
    DeviceMaskObjects& m = g_deviceMask;
    if (m.screen == nullptr || m.image == nullptr) {
        return -1;
    }
    FlushVertexBatch();
    IDirect3DSurface9* target = m.savedTarget != nullptr ? m.savedTarget : DrawTargetSurface();
    if (target == nullptr || SetRenderTargetSurface(target) != 0) {
        return -1;
    }
    // The work texture's colour in stage 0, the mask's alpha from stage 1, and the alpha test
    // keeping the pixels whose mask byte is 0 (not 0 when reversed).
    DrawStateDescriptor d{};
    d.alphaTestEnable = 1;
    d.alphaRef = 0;
    d.alphaFunc = static_cast<int32_t>(reverse ? kCmpNotEqual : kCmpEqual);
    d.alphaBlendEnable = 0;
    d.textureFactor = 0xFFFFFFFF;
    d.srcBlend = d.destBlend = d.blendOp = -1;
    d.stageCount = 2;
    d.stages[0] = DrawStageEntry{m.screen,       0,          kTaDiffuse, kTaDiffuse,
                                 kTopSelectArg1, kTaTexture, kTaDiffuse, kTopSelectArg1};
    d.stages[1] = DrawStageEntry{m.image,        1,          kTaTexture, kTaCurrent,
                                 kTopSelectArg1, kTaCurrent, kTaDiffuse, kTopSelectArg1};
    SetZEnable(0);
    ApplyDrawModeStates(&d, 0, 0);
    const float tw = static_cast<float>(m.textureWidth);
    const float th = static_cast<float>(m.textureHeight);
    const auto corner = [&](int32_t x, int32_t y) {
        const float u = static_cast<float>(x) / tw;
        const float v = static_cast<float>(y) / th;
        return MaskVertex{
            static_cast<float>(x) - 0.5f, static_cast<float>(y) - 0.5f, 0.0f, 1.0f, 0xFFFFFFFF, 0, u, v, u, v};
    };
    const MaskVertex tl = corner(area->left, area->top);
    const MaskVertex tr = corner(area->right, area->top);
    const MaskVertex bl = corner(area->left, area->bottom);
    const MaskVertex br = corner(area->right, area->bottom);
    const MaskVertex quad[6] = {tl, tr, bl, tr, br, bl};
    VertexBatch& batch = g_vertexBatch;
    const int32_t kind = batch.kind;
    batch.kind = 2;
    batch.cursor = BatchBuffer(2);
    batch.count = 0;
    const int32_t appended = AppendBatchVertices(kPtTriangleList, quad, 6);
    FlushVertexBatch();
    batch.kind = kind;
    batch.cursor = BatchBuffer(kind);
    // The next draw sets its own blend and texture states again.
    g_deviceCache.blendDirty = 1;
    g_deviceCache.textureDirty = 1;
    m.savedTarget = nullptr;
    const int32_t back = TargetWork();
    CurrentRenderBackend()->applyClip();
    return appended == 0 && back == 0 ? 0 : -1;
}
