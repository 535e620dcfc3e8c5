#include <windows.h>
#include <d3d9.h>
#include <dsound.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/wait_scale.h"

namespace {

HWND MakeWindow(int width, int height)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuarnEnvTest";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowW(L"QuarnEnvTest", L"env", WS_OVERLAPPEDWINDOW, 0, 0, width, height, nullptr, nullptr,
                              wc.hInstance, nullptr);
    ShowWindow(hwnd, SW_SHOW);
    return hwnd;
}

TEST(Environment, Direct3D9ClearsAndReadsBackThroughTheDevice)
{
    HWND hwnd = MakeWindow(128, 128);
    ASSERT_NE(hwnd, nullptr);
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);

    D3DCAPS9 caps{};
    ASSERT_EQ(d3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_GE(caps.PixelShaderVersion, D3DPS_VERSION(3, 0));

    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = TRUE;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.BackBufferWidth = 64;
    pp.BackBufferHeight = 64;
    pp.hDeviceWindow = hwnd;
    IDirect3DDevice9* dev = nullptr;
    ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, hwnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp,
                                &dev),
              D3D_OK);
    ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0x12, 0x34, 0x56), 1.0f, 0), D3D_OK);

    IDirect3DSurface9* back = nullptr;
    IDirect3DSurface9* sys = nullptr;
    ASSERT_EQ(dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    ASSERT_EQ(dev->CreateOffscreenPlainSurface(64, 64, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &sys, nullptr), D3D_OK);
    ASSERT_EQ(dev->GetRenderTargetData(back, sys), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(sys->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    const DWORD pixel = static_cast<const DWORD*>(lr.pBits)[10 * (lr.Pitch / 4) + 10];
    sys->UnlockRect();
    EXPECT_EQ(pixel & 0xFFFFFF, 0x123456u);

    sys->Release();
    back->Release();
    dev->Release();
    d3d->Release();
    DestroyWindow(hwnd);
}

TEST(Environment, Direct3DCreate9ExIsExported)
{
    HMODULE mod = LoadLibraryW(L"d3d9.dll");
    ASSERT_NE(mod, nullptr);
    EXPECT_NE(GetProcAddress(mod, "Direct3DCreate9Ex"), nullptr);
    FreeLibrary(mod);
}

TEST(Environment, DirectSoundInitialisesOnTheDefaultDevice)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    IDirectSound* ds = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_DirectSound, nullptr, CLSCTX_ALL, IID_IDirectSound, reinterpret_cast<void**>(&ds)),
              S_OK);
    EXPECT_EQ(ds->Initialize(nullptr), DS_OK);
    ds->Release();
    CoUninitialize();
}

// The glyph outline of one character in a face, as GGO_GRAY8 bytes plus its metrics.
std::vector<BYTE> GlyphOf(const wchar_t* face, wchar_t ch, GLYPHMETRICS& gm)
{
    HDC dc = CreateCompatibleDC(nullptr);
    HFONT font = CreateFontW(-20, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, face);
    HGDIOBJ old = SelectObject(dc, font);
    const MAT2 identity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    std::vector<BYTE> bits;
    DWORD size = GetGlyphOutlineW(dc, ch, GGO_GRAY8_BITMAP, &gm, 0, nullptr, &identity);
    if (size != GDI_ERROR && size > 0) {
        bits.resize(size);
        GetGlyphOutlineW(dc, ch, GGO_GRAY8_BITMAP, &gm, size, bits.data(), &identity);
    }
    SelectObject(dc, old);
    DeleteObject(font);
    DeleteDC(dc);
    return bits;
}

TEST(Environment, JapaneseFacesResolveToTheInstalledFont)
{
    // The installed Japanese font, asked for by its own name, is the reference.
    GLYPHMETRICS want{};
    const std::vector<BYTE> reference = GlyphOf(L"IPAGothic", L'\x65E5', want);  // 日
    ASSERT_FALSE(reference.empty());

    // A face nobody has shows what the default fallback draws; it must differ from the
    // reference, or the check below could not tell a replacement from a fallback.
    GLYPHMETRICS fallbackMetrics{};
    const std::vector<BYTE> fallback = GlyphOf(L"NoSuchFaceAnywhere", L'A', fallbackMetrics);
    GLYPHMETRICS referenceA{};
    const std::vector<BYTE> referenceAGlyph = GlyphOf(L"IPAGothic", L'A', referenceA);
    ASSERT_NE(fallback, referenceAGlyph);

    for (const wchar_t* face : {L"meiryo", L"\xFF2D\xFF33 \x30B4\x30B7\x30C3\x30AF"}) {
        GLYPHMETRICS gm{};
        EXPECT_EQ(GlyphOf(face, L'\x65E5', gm), reference) << "face " << static_cast<const void*>(face);
        EXPECT_EQ(gm.gmBlackBoxX, want.gmBlackBoxX);
        GLYPHMETRICS gmA{};
        EXPECT_EQ(GlyphOf(face, L'A', gmA), referenceAGlyph);
    }
}

// The tests' waits for a process or a window grow with the speed tools/wine-run measured; a
// value that is no sane factor leaves them as written.
TEST(Environment, WaitsScaleWithTheMeasuredSpeed)
{
    const char* measured = std::getenv("QUARN_WAIT_SCALE");
    ASSERT_NE(measured, nullptr) << "tools/wine-run gives the tests the measured speed";
    const std::string kept = measured;
    const long factor = std::strtol(kept.c_str(), nullptr, 10);
    EXPECT_GE(factor, 1);
    EXPECT_LE(factor, 40);
    EXPECT_EQ(scaled_wait_ms(1500), 1500ul * static_cast<unsigned long>(factor));

    const struct {
        const char* value;
        unsigned long waitMs;
    } cases[] = {{"3", 4500}, {"1", 1500}, {"0", 1500}, {"-2", 1500}, {"many", 1500}, {"101", 1500}};
    for (const auto& c : cases) {
        _putenv_s("QUARN_WAIT_SCALE", c.value);
        EXPECT_EQ(scaled_wait_ms(1500), c.waitMs) << c.value;
    }
    _putenv_s("QUARN_WAIT_SCALE", kept.c_str());
}

}  // namespace
