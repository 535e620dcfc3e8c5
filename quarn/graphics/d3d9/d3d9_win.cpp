// The Direct3D 9 back end: the Direct3D object and device, the depth buffer and the sub back
// buffer, the device-call table over the real device, the hardware present, back-buffer locks,
// and the render back end that the drawing front end calls on the hardware path.
#include <windows.h>

#include <d3d9.h>

#include <cstring>

#include "quarn/graphics/d3d9/device_graph.h"
#include "quarn/graphics/d3d9/device_reapply.h"
#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/graphics/render_backend.h"
#include "quarn/graphics/d3d9/mask_win.h"
#include "quarn/graphics/mask.h"
#include "quarn/graphics/d3d9/shader_win.h"

// The seam passes the device API's numbers through unchanged.
static_assert(kRsZEnable == uint32_t(D3DRS_ZENABLE) && kRsShadeMode == uint32_t(D3DRS_SHADEMODE) &&
                  kRsZWriteEnable == uint32_t(D3DRS_ZWRITEENABLE) &&
                  kRsAlphaTestEnable == uint32_t(D3DRS_ALPHATESTENABLE) && kRsSrcBlend == uint32_t(D3DRS_SRCBLEND) &&
                  kRsDestBlend == uint32_t(D3DRS_DESTBLEND) && kRsCullMode == uint32_t(D3DRS_CULLMODE) &&
                  kRsZFunc == uint32_t(D3DRS_ZFUNC) && kRsAlphaRef == uint32_t(D3DRS_ALPHAREF) &&
                  kRsAlphaFunc == uint32_t(D3DRS_ALPHAFUNC) && kRsDitherEnable == uint32_t(D3DRS_DITHERENABLE) &&
                  kRsAlphaBlendEnable == uint32_t(D3DRS_ALPHABLENDENABLE) &&
                  kRsFogEnable == uint32_t(D3DRS_FOGENABLE) && kRsSpecularEnable == uint32_t(D3DRS_SPECULARENABLE) &&
                  kRsFogColor == uint32_t(D3DRS_FOGCOLOR) && kRsFogStart == uint32_t(D3DRS_FOGSTART) &&
                  kRsFogEnd == uint32_t(D3DRS_FOGEND) && kRsFogDensity == uint32_t(D3DRS_FOGDENSITY) &&
                  kRsTextureFactor == uint32_t(D3DRS_TEXTUREFACTOR) && kRsLighting == uint32_t(D3DRS_LIGHTING) &&
                  kRsNormalizeNormals == uint32_t(D3DRS_NORMALIZENORMALS) &&
                  kRsDiffuseMaterialSource == uint32_t(D3DRS_DIFFUSEMATERIALSOURCE) &&
                  kRsSpecularMaterialSource == uint32_t(D3DRS_SPECULARMATERIALSOURCE) &&
                  kRsAmbientMaterialSource == uint32_t(D3DRS_AMBIENTMATERIALSOURCE) &&
                  kRsFogVertexMode == uint32_t(D3DRS_FOGVERTEXMODE) && kRsBlendOp == uint32_t(D3DRS_BLENDOP) &&
                  kRsScissorTestEnable == uint32_t(D3DRS_SCISSORTESTENABLE) &&
                  kRsDepthBias == uint32_t(D3DRS_DEPTHBIAS),
              "render states");
static_assert(kSampAddressU == uint32_t(D3DSAMP_ADDRESSU) && kSampMagFilter == uint32_t(D3DSAMP_MAGFILTER) &&
                  kSampMipFilter == uint32_t(D3DSAMP_MIPFILTER) &&
                  kSampMaxAnisotropy == uint32_t(D3DSAMP_MAXANISOTROPY) && kTssColorOp == uint32_t(D3DTSS_COLOROP) &&
                  kTssAlphaArg2 == uint32_t(D3DTSS_ALPHAARG2) && kTssTexCoordIndex == uint32_t(D3DTSS_TEXCOORDINDEX) &&
                  kTssTextureTransformFlags == uint32_t(D3DTSS_TEXTURETRANSFORMFLAGS) &&
                  kTopBlendCurrentAlpha == uint32_t(D3DTOP_BLENDCURRENTALPHA) &&
                  kTopSubtract == uint32_t(D3DTOP_SUBTRACT) &&
                  kTopBlendDiffuseAlpha == uint32_t(D3DTOP_BLENDDIFFUSEALPHA) &&
                  kTaTFactor == uint32_t(D3DTA_TFACTOR) && kTaComplement == uint32_t(D3DTA_COMPLEMENT) &&
                  kBlendInvDestColor == uint32_t(D3DBLEND_INVDESTCOLOR) &&
                  kBlendOpRevSubtract == uint32_t(D3DBLENDOP_REVSUBTRACT) &&
                  kCmpGreaterEqual == uint32_t(D3DCMP_GREATEREQUAL) && kTsWorld == uint32_t(D3DTS_WORLDMATRIX(0)) &&
                  kTsTexture0 == uint32_t(D3DTS_TEXTURE0) && kPtTriangleFan == uint32_t(D3DPT_TRIANGLEFAN) &&
                  kFmtDxt5 == uint32_t(D3DFMT_DXT5) && kFmtD24X8 == uint32_t(D3DFMT_D24X8) &&
                  kFmtA2R10G10B10 == uint32_t(D3DFMT_A2R10G10B10),
              "stage, sampler and format values");
static_assert(sizeof(DeviceViewport) == sizeof(D3DVIEWPORT9) && sizeof(Matrix4x4) == sizeof(D3DMATRIX),
              "viewport and matrix layouts");

GraphicsDeviceState g_graphicsDevice{};
int32_t g_deviceCreationRefused = 0;
int32_t g_direct3DExRefused = 0;

namespace {

GraphicsDeviceState& G() { return g_graphicsDevice; }

int32_t Code(HRESULT result) { return SUCCEEDED(result) ? 0 : static_cast<int32_t>(result); }

// ---- The device-call table over the real device

int32_t DevSetRenderState(uint32_t state, uint32_t value)
{
    return Code(G().device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(state), value));
}
int32_t DevSetSamplerState(uint32_t sampler, uint32_t type, uint32_t value)
{
    return Code(G().device->SetSamplerState(sampler, static_cast<D3DSAMPLERSTATETYPE>(type), value));
}
int32_t DevSetTextureStageState(uint32_t stage, uint32_t type, uint32_t value)
{
    return Code(G().device->SetTextureStageState(stage, static_cast<D3DTEXTURESTAGESTATETYPE>(type), value));
}
int32_t DevSetTexture(uint32_t stage, void* texture)
{
    return Code(G().device->SetTexture(stage, static_cast<IDirect3DBaseTexture9*>(texture)));
}
int32_t DevSetTransform(uint32_t which, const Matrix4x4* matrix)
{
    return Code(G().device->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(which),
                                         reinterpret_cast<const D3DMATRIX*>(matrix)));
}
int32_t DevSetViewport(const DeviceViewport* viewport)
{
    D3DVIEWPORT9 v{viewport->x, viewport->y, viewport->width, viewport->height, viewport->minZ, viewport->maxZ};
    return Code(G().device->SetViewport(&v));
}
int32_t DevSetScissorRect(const PixelRect* rect)
{
    const RECT r{rect->left, rect->top, rect->right, rect->bottom};
    return Code(G().device->SetScissorRect(&r));
}
int32_t DevSetFvf(uint32_t fvf) { return Code(G().device->SetFVF(fvf)); }
int32_t DevDrawPrimitiveUp(uint32_t type, uint32_t count, const void* vertices, uint32_t stride)
{
    return Code(G().device->DrawPrimitiveUP(static_cast<D3DPRIMITIVETYPE>(type), count, vertices, stride));
}
int32_t DevDrawIndexedPrimitiveUp(uint32_t type, uint32_t vertexCount, uint32_t primitiveCount, const uint16_t* indices,
                                  const void* vertices, uint32_t stride)
{
    return Code(G().device->DrawIndexedPrimitiveUP(static_cast<D3DPRIMITIVETYPE>(type), 0, vertexCount, primitiveCount,
                                                   indices, D3DFMT_INDEX16, vertices, stride));
}
int32_t DevBeginScene() { return Code(G().device->BeginScene()); }
int32_t DevEndScene() { return Code(G().device->EndScene()); }
int32_t DevSetRenderTarget(void* surface, uint32_t* width, uint32_t* height)
{
    auto* s = static_cast<IDirect3DSurface9*>(surface);
    D3DSURFACE_DESC desc{};
    if (s == nullptr || FAILED(s->GetDesc(&desc))) {
        return -1;
    }
    *width = desc.Width;
    *height = desc.Height;
    return Code(G().device->SetRenderTarget(0, s));
}
int32_t DevUnbindShaders()
{
    G().device->SetVertexShader(nullptr);
    G().device->SetPixelShader(nullptr);
    return 0;
}

int32_t DevSetLight(uint32_t index, const DeviceLight* light)
{
    return Code(G().device->SetLight(index, reinterpret_cast<const D3DLIGHT9*>(light)));
}
int32_t DevLightEnable(uint32_t index, int32_t enable) { return Code(G().device->LightEnable(index, enable)); }
int32_t DevSetMaterial(const DeviceMaterial* material)
{
    return Code(G().device->SetMaterial(reinterpret_cast<const D3DMATERIAL9*>(material)));
}
int32_t DevSetVertexShaderConstantF(uint32_t start, const float* data, uint32_t count)
{
    return Code(G().device->SetVertexShaderConstantF(start, data, count));
}
int32_t DevSetPixelShaderConstantF(uint32_t start, const float* data, uint32_t count)
{
    return Code(G().device->SetPixelShaderConstantF(start, data, count));
}
int32_t DevSetVertexShaderConstantB(uint32_t start, const int32_t* data, uint32_t count)
{
    static_assert(sizeof(BOOL) == sizeof(int32_t), "bool constants");
    return Code(G().device->SetVertexShaderConstantB(start, reinterpret_cast<const BOOL*>(data), count));
}
static_assert(sizeof(DeviceLight) == sizeof(D3DLIGHT9) && sizeof(DeviceMaterial) == sizeof(D3DMATERIAL9),
              "light and material layouts");
void* DevCreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool)
{
    IDirect3DVertexBuffer9* buffer = nullptr;
    if (FAILED(G().device->CreateVertexBuffer(length, usage, fvf, static_cast<D3DPOOL>(pool), &buffer, nullptr))) {
        return nullptr;
    }
    return buffer;
}
void* DevCreateIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool)
{
    IDirect3DIndexBuffer9* buffer = nullptr;
    if (FAILED(G().device->CreateIndexBuffer(length, usage, static_cast<D3DFORMAT>(format), static_cast<D3DPOOL>(pool),
                                             &buffer, nullptr))) {
        return nullptr;
    }
    return buffer;
}
int32_t DevLockBuffer(void* buffer, int32_t index, void** bytes)
{
    return index != 0 ? Code(static_cast<IDirect3DIndexBuffer9*>(buffer)->Lock(0, 0, bytes, 0))
                      : Code(static_cast<IDirect3DVertexBuffer9*>(buffer)->Lock(0, 0, bytes, 0));
}
int32_t DevUnlockBuffer(void* buffer, int32_t index)
{
    return index != 0 ? Code(static_cast<IDirect3DIndexBuffer9*>(buffer)->Unlock())
                      : Code(static_cast<IDirect3DVertexBuffer9*>(buffer)->Unlock());
}
// Both kinds of buffer are resources: Release sits at the same place of their interfaces.
void DevReleaseBuffer(void* buffer) { static_cast<IDirect3DResource9*>(buffer)->Release(); }

const DeviceCalls kRealDeviceCalls = {
    // State, target and drawing
    .setRenderState = DevSetRenderState,
    .setSamplerState = DevSetSamplerState,
    .setTextureStageState = DevSetTextureStageState,
    .setTexture = DevSetTexture,
    .setTransform = DevSetTransform,
    .setViewport = DevSetViewport,
    .setScissorRect = DevSetScissorRect,
    .setFvf = DevSetFvf,
    .drawPrimitiveUp = DevDrawPrimitiveUp,
    .drawIndexedPrimitiveUp = DevDrawIndexedPrimitiveUp,
    .beginScene = DevBeginScene,
    .endScene = DevEndScene,
    .setRenderTarget = DevSetRenderTarget,
    .unbindShaders = DevUnbindShaders,
    // Lights, material and shader constants
    .setLight = DevSetLight,
    .lightEnable = DevLightEnable,
    .setMaterial = DevSetMaterial,
    .setVertexShaderConstantF = DevSetVertexShaderConstantF,
    .setPixelShaderConstantF = DevSetPixelShaderConstantF,
    .setVertexShaderConstantB = DevSetVertexShaderConstantB,
    // Vertex and index buffers
    .createVertexBuffer = DevCreateVertexBuffer,
    .createIndexBuffer = DevCreateIndexBuffer,
    .lockBuffer = DevLockBuffer,
    .unlockBuffer = DevUnlockBuffer,
    .releaseBuffer = DevReleaseBuffer,
};

int32_t IsShader20(DWORD version) { return (version & 0xFFFF) >= 0x0200 ? 1 : 0; }

const wchar_t* BackBufferFormatName(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_X8R8G8B8: return L"D3DFMT_X8R8G8B8";
    case D3DFMT_R5G6B5: return L"D3DFMT_R5G6B5";
    case D3DFMT_X1R5G5B5: return L"D3DFMT_X1R5G5B5";
    default: return nullptr;
    }
}

}  // namespace

int32_t CheckTextureFormat(uint32_t usage, uint32_t format, void*)
{
    return SUCCEEDED(G().direct3d->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, G().backBufferFormat, usage,
                                                     D3DRTYPE_TEXTURE, static_cast<D3DFORMAT>(format)))
               ? 1
               : 0;
}

// ---- Objects and the device

int32_t CreateDirect3DObject()
{
    GraphicsDeviceState& g = G();
    ReleaseObject(g.direct3d);
    g.direct3dEx = nullptr;
    AppendLog(L"IDirect3D9Ex オブジェクトを取得します.... ");
    using CreateEx = HRESULT(WINAPI*)(UINT, IDirect3D9Ex**);
    using Create = IDirect3D9*(WINAPI*)(UINT);
    HMODULE module = GetDirect3DModule();
    auto createEx = reinterpret_cast<CreateEx>(reinterpret_cast<void*>(GetProcAddress(module, "Direct3DCreate9Ex")));
    IDirect3D9Ex* ex = nullptr;
    if (createEx != nullptr && !g_direct3DExRefused && createEx(D3D_SDK_VERSION, &ex) == S_OK && ex != nullptr) {
        g.direct3dEx = ex;
        g.direct3d = ex;
    } else {
        AppendLog(L"IDirect3D9 オブジェクトを取得します.... ");
        auto create = reinterpret_cast<Create>(reinterpret_cast<void*>(GetProcAddress(module, "Direct3DCreate9")));
        if (create == nullptr) {
            return AppendLog(L"Direct3DCreate9 APIのアドレス取得に失敗しました\n");
        }
        g.direct3d = create(D3D_SDK_VERSION);
        if (g.direct3d == nullptr) {
            return AppendLog(L"IDirect3D9 オブジェクトの取得に失敗しました\n");
        }
    }
    AppendLog(L"成功\n");
    return 0;
}

namespace {

// Presentation parameters by window mode and colour bits; -1 for a full-screen depth the
// back buffer cannot have.
int32_t BuildPresentParameters(D3DPRESENT_PARAMETERS* pp, D3DDISPLAYMODEEX* mode, bool* useMode)
{
    GraphicsDeviceState& g = G();
    *pp = D3DPRESENT_PARAMETERS{};
    pp->BackBufferWidth = static_cast<UINT>(ScreenWidth());
    pp->BackBufferHeight = static_cast<UINT>(ScreenHeight());
    pp->BackBufferCount = 1;
    pp->MultiSampleType = D3DMULTISAMPLE_NONE;
    pp->SwapEffect = D3DSWAPEFFECT_COPY;
    pp->Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    pp->hDeviceWindow = QueryMainWindow();
    pp->EnableAutoDepthStencil = FALSE;
    pp->PresentationInterval = g_screenSettings.noVerticalWait ? D3DPRESENT_INTERVAL_IMMEDIATE
                                                               : D3DPRESENT_INTERVAL_ONE;
    *useMode = false;
    const bool vistaDoubled = g_systemCapability.osCode >= kOsVista &&
                              (g_screenSettings.displayFallback || g_screenSettings.doubled);
    auto formatForBits = [&g]() -> D3DFORMAT {
        const int32_t bits = GetConfiguredColorBits();
        if (bits == 16) {
            return g.direct3d->GetAdapterModeCount(D3DADAPTER_DEFAULT, D3DFMT_R5G6B5) != 0 ? D3DFMT_R5G6B5
                                                                                           : D3DFMT_X1R5G5B5;
        }
        return bits == 32 ? D3DFMT_X8R8G8B8 : D3DFMT_UNKNOWN;
    };
    if (g_system.windowed) {
        pp->Windowed = TRUE;
        D3DDISPLAYMODE desktop{};
        g.direct3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &desktop);
        pp->BackBufferFormat = desktop.Format;
        if (desktop.Format == uint32_t(D3DFMT_X8R8G8B8)) {
            g_screenSettings.colorBits = 32;
        } else if (desktop.Format == uint32_t(D3DFMT_R5G6B5) || desktop.Format == uint32_t(D3DFMT_X1R5G5B5) ||
                   desktop.Format == uint32_t(D3DFMT_A1R5G5B5)) {
            g_screenSettings.colorBits = 16;
        }
        return 0;
    }
    const D3DFORMAT format = formatForBits();
    if (format == uint32_t(D3DFMT_UNKNOWN)) {
        return AppendLog(L"非対応のバックバッファービット深度が指定されました\n");
    }
    pp->BackBufferFormat = format;
    if (vistaDoubled) {
        pp->Windowed = TRUE;  // the display mode was switched already
        return 0;
    }
    pp->Windowed = FALSE;
    pp->FullScreen_RefreshRateInHz = static_cast<UINT>(g_screenSettings.refreshRate);
    *mode = D3DDISPLAYMODEEX{};
    mode->Size = sizeof(D3DDISPLAYMODEEX);
    mode->Width = pp->BackBufferWidth;
    mode->Height = pp->BackBufferHeight;
    mode->RefreshRate = pp->FullScreen_RefreshRateInHz;
    mode->Format = format;
    mode->ScanLineOrdering = D3DSCANLINEORDERING_PROGRESSIVE;
    *useMode = true;
    if (g_system.dwmEnableComposition != nullptr) {
        AppendLog(L"Desktop Window Manager を無効にしました\n");
        reinterpret_cast<HRESULT(WINAPI*)(UINT)>(g_system.dwmEnableComposition)(0);
    }
    return 0;
}

HRESULT CreateDeviceWith(DWORD flags, D3DPRESENT_PARAMETERS* pp, D3DDISPLAYMODEEX* mode, bool useMode)
{
    GraphicsDeviceState& g = G();
    if (g_deviceCreationRefused) {
        return D3DERR_NOTAVAILABLE;
    }
    D3DPRESENT_PARAMETERS attempt = *pp;
    HRESULT result;
    if (g.direct3dEx != nullptr) {
        IDirect3DDevice9Ex* device = nullptr;
        result = g.direct3dEx->CreateDeviceEx(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, QueryMainWindow(), flags, &attempt,
                                              useMode ? mode : nullptr, &device);
        if (SUCCEEDED(result)) {
            g.deviceEx = device;
            g.device = device;
        }
    } else {
        IDirect3DDevice9* device = nullptr;
        result = g.direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, QueryMainWindow(), flags, &attempt,
                                          &device);
        if (SUCCEEDED(result)) {
            g.device = device;
        }
    }
    return result;
}

}  // namespace

int32_t CreateDirect3DDevice()
{
    GraphicsDeviceState& g = G();
    if (g.direct3d == nullptr) {
        return -1;
    }
    ReleaseObject(g.device);
    g.deviceEx = nullptr;
    D3DPRESENT_PARAMETERS pp{};
    D3DDISPLAYMODEEX mode{};
    bool useMode = false;
    if (BuildPresentParameters(&pp, &mode, &useMode) != 0) {
        return -1;
    }
    D3DCAPS9 adapterCaps{};
    g.direct3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &adapterCaps);
    g.shader20Adapter = IsShader20(adapterCaps.VertexShaderVersion) && IsShader20(adapterCaps.PixelShaderVersion) ? 1
                                                                                                                  : 0;
    AppendLog(g.direct3dEx != nullptr ? L"IDirect3DDevice9Ex オブジェクトを取得します.... "
                                      : L"IDirect3DDevice9 オブジェクトを取得します.... ");
    DWORD flags = g.shader20Adapter ? D3DCREATE_MIXED_VERTEXPROCESSING : D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    HRESULT result = CreateDeviceWith(flags, &pp, &mode, useMode);
    if (FAILED(result)) {
        g.shader20Adapter = 0;
        flags = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
        result = CreateDeviceWith(flags, &pp, &mode, useMode);
    }
    if (FAILED(result)) {
        return AppendLog(g.direct3dEx != nullptr ? L"Direct3DDevice9Ex の作成に失敗しました\n"
                                                 : L"Direct3DDevice9 の作成に失敗しました\n");
    }
    if (g.deviceEx != nullptr) {
        g.deviceEx->SetMaximumFrameLatency(1);
    }
    AppendLog(flags == uint32_t(D3DCREATE_MIXED_VERTEXPROCESSING) ? L"ハードウエア頂点演算を使用します\n"
                                                                  : L"ソフトウエア頂点演算を使用します\n");

    MeasureRefreshPeriod();
    g.device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    const D3DCOLOR background = kWindowBackgroundColor & 0xFFFFFF;
    for (int32_t i = 0; i < 4; ++i) {
        g.device->Clear(0, nullptr, D3DCLEAR_TARGET, background, 1.0f, 0);
        if (i < 3) {
            g.device->Present(nullptr, nullptr, QueryMainWindow(), nullptr);
        }
    }
    if (FAILED(g.device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &g.backBuffer)) ||
        FAILED(g.device->GetSwapChain(0, &g.swapChain))) {
        return AppendLog(L"バックバッファの取得に失敗しました\n");
    }
    AppendLog(L"成功\n");

    g.device->GetDeviceCaps(&g.caps);
    g.vertexShader20 = g.shader20Adapter && IsShader20(g.caps.VertexShaderVersion) ? 1 : 0;
    g.pixelShader20 = g.shader20Adapter && IsShader20(g.caps.PixelShaderVersion) ? 1 : 0;
    g.blendOpCapable = (g.caps.PrimitiveMiscCaps & D3DPMISCCAPS_BLENDOP) != 0 ? 1 : 0;
    uint32_t maxWidth = g.caps.MaxTextureWidth;
    uint32_t maxHeight = g.caps.MaxTextureHeight;
    g.maxTextureSize = MaxTextureSizeFromCaps(&maxWidth, &maxHeight);
    g.caps.MaxTextureWidth = maxWidth;
    g.caps.MaxTextureHeight = maxHeight;
    g_deviceBlendOpCapable = g.blendOpCapable;

    D3DADAPTER_IDENTIFIER9 identifier{};
    if (SUCCEEDED(g.direct3d->GetAdapterIdentifier(0, 0, &identifier))) {
        AppendLogFormatCp932("Driver:%s  Description:%s", identifier.Driver, identifier.Description);
    }

    D3DSURFACE_DESC desc{};
    g.backBuffer->GetDesc(&desc);
    g.backBufferFormat = desc.Format;
    if (const wchar_t* name = BackBufferFormatName(desc.Format)) {
        AppendLogFormat(L"画面のフォーマットは %ls です", name);
    } else {
        AppendLogFormat(L"バックバッファが対応していないフォーマット %d です", static_cast<int>(desc.Format));
    }

    struct Depth {
        D3DFORMAT format;
        const wchar_t* name;
    };
    const Depth depths[] = {{D3DFMT_D16, L"D3DFMT_D16"}, {D3DFMT_D24X8, L"D3DFMT_D24X8"}, {D3DFMT_D32, L"D3DFMT_D32"}};
    g.depthFormat = D3DFMT_UNKNOWN;
    for (const Depth& d : depths) {
        if (SUCCEEDED(g.direct3d->CheckDepthStencilMatch(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, g.backBufferFormat,
                                                         g.backBufferFormat, d.format))) {
            g.depthFormat = d.format;
            AppendLogFormat(L"Ｚバッファのフォーマットは %ls です", d.name);
            break;
        }
    }
    if (g.depthFormat == uint32_t(D3DFMT_UNKNOWN)) {
        return AppendLog(L"使用できる Zバッファフォーマットが見つかりませんでした\n");
    }
    return FillTextureFormatTable(CheckTextureFormat, nullptr, g.backBufferFormat, GetConfiguredColorBits(),
                                  g_textureFormats);
}

int32_t CreateDepthBuffer()
{
    GraphicsDeviceState& g = G();
    if (g.device == nullptr) {
        return -1;
    }
    ReleaseObject(g.depthBuffer);
    AppendLog(L"Ｚバッファを作成します.... ");
    g.depthWidth = DepthBufferSide(ScreenWidth());
    g.depthHeight = DepthBufferSide(ScreenHeight());
    if (FAILED(g.device->CreateDepthStencilSurface(static_cast<UINT>(g.depthWidth), static_cast<UINT>(g.depthHeight),
                                                   g.depthFormat, D3DMULTISAMPLE_NONE, 0, TRUE, &g.depthBuffer,
                                                   nullptr))) {
        g.depthBuffer = nullptr;
        return AppendLog(L"Ｚバッファの作成に失敗しました\n");
    }
    g.device->SetDepthStencilSurface(g.depthBuffer);
    g.device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    AppendLog(L"成功\n");
    return 0;
}

int32_t CreateSubBackBuffer()
{
    GraphicsDeviceState& g = G();
    if (g.device == nullptr) {
        return -1;
    }
    ReleaseObject(g.subBackBuffer);
    if (FAILED(g.device->CreateRenderTarget(static_cast<UINT>(ScreenWidth()), static_cast<UINT>(ScreenHeight()),
                                            g.backBufferFormat, D3DMULTISAMPLE_NONE, 0, FALSE, &g.subBackBuffer,
                                            nullptr))) {
        g.subBackBuffer = nullptr;
        return AppendLog(L"サブバックバッファの作成に失敗しました\n");
    }
    return 0;
}

namespace {

// Everything of the hardware path, in release order; the DirectDraw object and the module are
// the renderer start's.
void ReleaseDeviceObjects()
{
    GraphicsDeviceState& g = G();
    if (g.lockSystemSurface != nullptr || g.lockedSurface != nullptr) {
        UnlockBackBuffer();
    }
    ReleaseDeviceShaders();
    DeviceReleaseMask();
    UseDeviceCalls(nullptr);
    ReleaseObject(g.depthBuffer);
    ReleaseObject(g.subBackBuffer);
    ReleaseObject(g.backBuffer);
    ReleaseObject(g.swapChain);
    g.deviceEx = nullptr;
    ReleaseObject(g.device);
    g.direct3dEx = nullptr;
    ReleaseObject(g.direct3d);
    g_deviceCache.inScene = 0;
    g_deviceCache.renderTarget = nullptr;
}

int32_t StopDevice()
{
    ReleaseDeviceObjects();
    return 0;
}

int32_t MakeDeviceScreen() { return InitDeviceSettings(ScreenWidth(), ScreenHeight(), G().backBuffer); }

int32_t ApplyDeviceDrawState(int32_t change)
{
    const DrawSettings& s = g_drawSettings;
    switch (change) {
    case kRenderBlendInputs: g_vertexBatch.vertexColor = ComputeBatchVertexColor(); break;
    case kRenderFilterMode: SetSamplerFilterMode(s.filterMode); break;
    case kRenderFog:
        SetDeviceFogMode(s.fogMode);
        SetDeviceFogColor(s.fogColor);
        SetDeviceFogStartEnd(s.fogStart, s.fogEnd);
        break;
    default: break;
    }
    return 0;
}

int32_t SelectDeviceBlendGraph(int32_t graph, int32_t borderPos, int32_t borderRange)
{
    if (CurrentDeviceCalls() == nullptr) {
        return -1;
    }
    if (graph == -1) {
        SetBlendTexture(nullptr, borderPos, borderRange);
        return 0;
    }
    const GraphRecord* record = FindGraphRecord(graph);
    if (record == nullptr || record->image == nullptr || !record->image->request.hardware ||
        DeviceImageOf(record->image).tileCount <= 0) {
        return -1;
    }
    const TextureTile& tile = DeviceImageOf(record->image).tiles[0];
    SetBlendTexture(tile.texture, borderPos, borderRange);
    return 0;
}

// The surface drawing goes to for a screen target: the sub back buffer while it exists.
IDirect3DSurface9* ScreenSurface() { return G().subBackBuffer != nullptr ? G().subBackBuffer : G().backBuffer; }

int32_t SelectDeviceTarget(int32_t target, const GraphDrawInfo*)
{
    FlushVertexBatch();
    EndSceneIfOpen();
    void* surface = ScreenSurface();
    if (target >= 0) {
        const GraphRecord* record = FindGraphRecord(target);
        if (record == nullptr || FirstPieceTile(record) == nullptr) {
            return -1;
        }
        surface = FirstPieceTile(record)->surface;
    }
    return SetRenderTargetSurface(surface);
}

int32_t TargetWidth() { return g_drawSettings.drawTargetWidth; }
int32_t TargetHeight() { return g_drawSettings.drawTargetHeight; }

int32_t WipeDevice(const PixelRect* area)
{
    GraphicsDeviceState& g = G();
    if (g.device == nullptr) {
        return 0;
    }
    FlushVertexBatch();
    EndSceneIfOpen();
    SetViewportRect(0, 0, TargetWidth(), TargetHeight());
    const D3DCOLOR background = kWindowBackgroundColor & 0xFFFFFF;
    D3DRECT rect{};
    if (area != nullptr) {
        rect = D3DRECT{area->left, area->top, area->right, area->bottom};
    }
    g.device->Clear(area != nullptr ? 1 : 0, area != nullptr ? &rect : nullptr, D3DCLEAR_TARGET, background, 1.0f, 0);
    if (g.depthBuffer != nullptr) {
        g.device->Clear(area != nullptr ? 1 : 0, area != nullptr ? &rect : nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    }
    const PixelRect& clip = g_drawSettings.clip;
    SetViewportRect(clip.left, clip.top, clip.right, clip.bottom);
    return 0;
}

int32_t ApplyDeviceClip()
{
    if (CurrentDeviceCalls() == nullptr) {
        return -1;
    }
    const PixelRect clip = g_drawSettings.clip;
    SetViewportRect(clip.left, clip.top, clip.right, clip.bottom);
    SetScissorRectCached(&clip);
    return 0;
}

int32_t SubtractNeedsEmulation() { return G().blendOpCapable ? 0 : 1; }
void FlushDevice() { FlushVertexBatch(); }

int32_t PresentDevice(const PresentRequest* request)
{
    GraphicsDeviceState& g = G();
    if (g.device == nullptr) {
        return -1;
    }
    FlushVertexBatch();
    EndSceneIfOpen();
    if (g.subBackBuffer != nullptr &&
        FAILED(g.device->StretchRect(g.subBackBuffer, nullptr, g.backBuffer, nullptr, D3DTEXF_NONE))) {
        return -1;
    }
    if (g.swapChain == nullptr) {
        return -1;
    }
    RECT source{request->source.left, request->source.top, request->source.right, request->source.bottom};
    RECT destination{request->destination.left, request->destination.top, request->destination.right,
                     request->destination.bottom};
    const RECT* from = nullptr;
    const RECT* to = nullptr;
    if (g_system.windowed) {
        if (request->area != nullptr) {
            source = RECT{request->mappedSource->left, request->mappedSource->top, request->mappedSource->right,
                          request->mappedSource->bottom};
            destination = RECT{request->area->left, request->area->top, request->area->right, request->area->bottom};
        } else {
            g_screenSettings.lastPresent = request->source;
        }
        from = &source;
        to = &destination;
    } else if (request->doubled) {
        from = &source;
        to = &destination;
    }
    // Where the vertical-blank wait returns at once (Wine), the device's presentation interval
    // cannot be relied on either: on a display without blanks (Xvfb) it returns every present at
    // once and the loop would spin. The timed wait keeps frames at the refresh period there; where
    // the interval does wait, both wait for the same period. A blank wait that works leaves the
    // pacing to the interval alone.
    if (!g_screenSettings.noVerticalWait && g_screenSettings.timedPacing) {
        WaitForVerticalBlankPaced();
    }
    return SUCCEEDED(g.swapChain->Present(from, to, QueryMainWindow(), nullptr, 0)) ? 0 : -1;
}

int32_t KeepDevicePicture() { return EnsureSubBackBuffer(); }

// The texture formats the glyphs' coverage fits: four alpha bits for antialiased glyphs, one
// for plain ones, which the alpha test cuts.
const ColorFormat* DeviceGlyphCacheFormat(int32_t antialiased)
{
    return PickTextureFormat(antialiased ? 1 : 0, antialiased ? 0 : 1, 0, 0);
}

// Makes the Direct3D object, the device and its depth buffer, and puts the device's shaders and
// (when one was asked for) mask screen on it. On any failure everything made is released and
// the next back end takes over.
int32_t StartDevice()
{
    // Full screen from Vista on, a fallback or doubled mode is switched to before the device
    // is made in it; a mode that cannot be had leaves the device untried.
    if (!g_system.windowed && g_systemCapability.osCode >= kOsVista &&
        (g_screenSettings.displayFallback || g_screenSettings.doubled) && SwitchDisplaySettings() != 0) {
        return -1;
    }
    if (CreateDirect3DObject() == 0 && CreateDirect3DDevice() == 0 && CreateDepthBuffer() == 0) {
        UseDeviceCalls(&kRealDeviceCalls);
        StartDeviceShaders();
        if (g_maskScreen.exists) {
            RestoreMaskScreen();
        }
        return 0;
    }
    // The depth buffer, the device and the Direct3D object go.
    ReleaseDeviceObjects();
    return -1;
}

}  // namespace

const RenderBackend kDeviceRenderBackend = {
    .name = "Direct3D 9",
    .hardware = 1,
    .glyphCache = kGlyphCacheTexture,
    .glyphCacheFormat = DeviceGlyphCacheFormat,
    // Start and stop
    .start = StartDevice,
    .makeScreen = MakeDeviceScreen,
    .stop = StopDevice,
    .reset = ResetDeviceBackendState,
    // Draw state and target
    .applyDrawState = ApplyDeviceDrawState,
    .selectBlendGraph = SelectDeviceBlendGraph,
    .selectTarget = SelectDeviceTarget,
    // Drawing
    .wipe = WipeDevice,
    .applyClip = ApplyDeviceClip,
    .paint = DevicePaintGraph,
    .drawQuad = DrawGraphQuad,
    .drawStretchedQuad = DrawGraphStretchedQuad,
    .drawFourCornersQuad = DrawGraphFourCornersQuad,
    .subtractNeedsEmulation = SubtractNeedsEmulation,
    .invertAreaBeforeSubtract = InvertAreaBeforeSubtract,
    .invertAreaAfterSubtract = InvertAreaAfterSubtract,
    .flush = FlushDevice,
    // Present
    .present = PresentDevice,
    .keepPicture = KeepDevicePicture,
    // Images
    .makeImage = DeviceMakeGraphImage,
    .uploadImage = TransferImageToGraphTextures,
    .releaseImage = DeviceReleaseGraphImage,
    .describeImage = DeviceDescribeGraphImage,
    .viewImage = DeviceViewGraphImage,
    .releaseView = DeviceReleaseGraphView,
    // The mask screen
    .buildMask = DeviceBuildMask,
    .releaseMask = DeviceReleaseMask,
    .uploadMask = DeviceUploadMask,
    .targetMaskWork = DeviceTargetMaskWork,
    .prepareMask = DevicePrepareMask,
    .commitMask = DeviceCommitMask,
};

int32_t EnsureSubBackBuffer()
{
    GraphicsDeviceState& g = G();
    if (g.device == nullptr) {
        return -1;
    }
    if (g.subBackBuffer != nullptr) {
        return 0;
    }
    FlushVertexBatch();
    EndSceneIfOpen();
    if (CreateSubBackBuffer() != 0) {
        return -1;
    }
    g.device->StretchRect(g.backBuffer, nullptr, g.subBackBuffer, nullptr, D3DTEXF_NONE);
    const int32_t force = g_deviceCache.force;
    g_deviceCache.force = 1;
    SetRenderTargetSurface(g.subBackBuffer);
    g_deviceCache.force = force;
    return 0;
}

int32_t TestDevicePresent()
{
    GraphicsDeviceState& g = G();
    if (g.device == nullptr) {
        return 0;
    }
    EndSceneIfOpen();
    return FAILED(g.device->Present(nullptr, nullptr, nullptr, nullptr)) ? -1 : 0;
}

int32_t RefreshDialogBoxMode(int32_t flag)
{
    GraphicsDeviceState& g = G();
    if (g_screenSettings.hardwareActive && g.device != nullptr) {
        g.device->SetDialogBoxMode(FALSE);
        if (flag != 0) {
            g.device->SetDialogBoxMode(TRUE);
        }
    }
    return 0;
}

int32_t SetDialogBoxModeOutsideScene(int32_t flag)
{
    GraphicsDeviceState& g = G();
    if (g.device != nullptr) {
        EndSceneIfOpen();
        g.device->SetDialogBoxMode(flag != 0 ? TRUE : FALSE);
    }
    return 0;
}

// ---- Back-buffer locks

namespace {

// The surface and its format behind the current draw target, or null.
IDirect3DSurface9* TargetSurface(D3DFORMAT* format)
{
    const int32_t target = g_drawSettings.drawTarget;
    if (target >= 0) {
        const GraphRecord* record = FindGraphRecord(target);
        if (record != nullptr && FirstPieceTile(record) != nullptr) {
            *format = static_cast<D3DFORMAT>(g_textureFormats[record->image->format & 15]);
            return FirstPieceTile(record)->surface;
        }
    }
    *format = G().backBufferFormat;
    return ScreenSurface();
}

bool AreaInsideTarget(const PixelRect& area, int32_t width, int32_t height)
{
    return area.left >= 0 && area.left < area.right && area.top >= 0 && area.top < area.bottom && area.right <= width &&
           area.bottom <= height;
}

}  // namespace

int32_t LockBackBuffer(const PixelRect* area, BaseImage* out)
{
    GraphicsDeviceState& g = G();
    if (g.lockedSurface != nullptr || g.lockSystemSurface != nullptr || g.softwareLocked) {
        return -1;  // one lock at a time: the unlock knows only one surface
    }
    FlushVertexBatch();
    EndSceneIfOpen();
    if (area == nullptr || !AreaInsideTarget(*area, TargetWidth(), TargetHeight())) {
        return -1;
    }
    const int32_t width = area->right - area->left;
    const int32_t height = area->bottom - area->top;
    if (!g_screenSettings.hardwareActive) {
        const MEMIMG* image = g_drawSettings.softDrawTarget;
        if (image == nullptr || image->store == nullptr) {
            return -1;
        }
        out->format = *image->store->format;
        out->width = width;
        out->height = height;
        out->pitch = image->store->pitch;
        out->pixels = const_cast<uint8_t*>(image->pixels) +
                      ptrdiff_t{area->left} * image->store->format->bytesPerPixel +
                      ptrdiff_t{area->top} * image->store->pitch;
        out->mipmapCount = 0;
        g.softwareLocked = 1;
        return 0;
    }
    if (g.device == nullptr) {
        return -1;
    }
    D3DFORMAT format = D3DFMT_UNKNOWN;
    IDirect3DSurface9* surface = TargetSurface(&format);
    const ColorFormat* layout = GetDisplayFormatColorFormat(format);
    if (surface == nullptr || layout == nullptr) {
        return -1;
    }
    const RECT rect{area->left, area->top, area->right, area->bottom};
    D3DLOCKED_RECT locked{};
    if (SUCCEEDED(surface->LockRect(&locked, &rect, D3DLOCK_READONLY))) {
        g.lockedSurface = surface;
    } else {
        IDirect3DSurface9* target = nullptr;
        if (FAILED(g.device->CreateRenderTarget(static_cast<UINT>(width), static_cast<UINT>(height), format,
                                                D3DMULTISAMPLE_NONE, 0, FALSE, &target, nullptr))) {
            return AppendLog(L"バックバッファロック用描画可能サーフェスの作成に失敗しました\n");
        }
        IDirect3DSurface9* system = nullptr;
        if (FAILED(g.device->CreateOffscreenPlainSurface(static_cast<UINT>(width), static_cast<UINT>(height), format,
                                                         D3DPOOL_SYSTEMMEM, &system, nullptr))) {
            target->Release();
            return AppendLog(L"バックバッファロック用システムメモリサーフェスの作成に失敗しました\n");
        }
        const bool copied = SUCCEEDED(g.device->StretchRect(surface, &rect, target, nullptr, D3DTEXF_NONE)) &&
                            SUCCEEDED(g.device->GetRenderTargetData(target, system)) &&
                            SUCCEEDED(system->LockRect(&locked, nullptr, D3DLOCK_READONLY));
        target->Release();
        if (!copied) {
            // Nothing readable came of it: no pixels are handed out.
            system->Release();
            return -1;
        }
        g.lockSystemSurface = system;
    }
    out->format = *layout;
    out->width = width;
    out->height = height;
    out->pitch = locked.Pitch;
    out->pixels = static_cast<uint8_t*>(locked.pBits);
    out->mipmapCount = 0;
    return 0;
}

int32_t UnlockBackBuffer()
{
    GraphicsDeviceState& g = G();
    if (g.lockSystemSurface != nullptr) {
        g.lockSystemSurface->UnlockRect();
        ReleaseObject(g.lockSystemSurface);
    } else if (g.lockedSurface != nullptr) {
        g.lockedSurface->UnlockRect();
        g.lockedSurface = nullptr;
    }
    g.softwareLocked = 0;
    return 0;
}

IDirect3DSurface9* DrawTargetSurface()
{
    D3DFORMAT format = D3DFMT_UNKNOWN;
    return TargetSurface(&format);
}
