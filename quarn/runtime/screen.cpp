// Graphics composed with the fonts: graphics start-up followed by the font system's start,
// the end of the fonts before graphics end, a screen-mode change that keeps the standard font
// across the new screen, and the public present, which draws the on-screen log first.
#include <windows.h>

#include "quarn/font/font.h"
#include "quarn/graphics/d3d9/camera.h"
#include "quarn/graphics/d3d9/device_reapply.h"
#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/graphics/render_backend.h"
#include "quarn/model/model.h"
#include "quarn/runtime/runtime.h"
#include "quarn/system/input.h"

int32_t InitializeGraphics()
{
    const int32_t result = StartGraphicsCore();
    if (result == kGraphicsAlreadyStarted) {
        return 0;
    }
    if (result == kGraphicsDeviceFailed) {
        ShutDownGraphics();
        ShutDownDirect3D();
        return -1;
    }
    if (result == kGraphicsScreenFailed) {
        ShutDownGraphics();
        return -1;
    }
    StartFontSystem();
    return 0;
}

int32_t ShutDownGraphics()
{
    EndFontSystem();
    // The models' buffers belong to the device, which goes with graphics.
    ReleaseModelDeviceBuffers();
    return ShutDownGraphicsCore();
}

// ---- Present

int PresentScreen() { return PresentScreenArea(nullptr); }

int PresentScreenPreservingContents()
{
    if (!g_system.windowed) {
        CurrentRenderBackend()->keepPicture();
    }
    return PresentScreenArea(nullptr);
}

int PresentScreenArea(const RECT* area)
{
    if (!g_system.started || g_system.quit) {
        return -1;
    }
    DrawSettings& s = g_drawSettings;
    if (IsScreenLogShown()) {
        const PixelRect clip = s.clip;
        const BlendMode mode = s.blendMode;
        const int32_t param = s.blendParam;
        const uint32_t bright = s.brightColor;
        StoreDrawClipRect(0, 0, s.drawTargetWidth, s.drawTargetHeight);
        s.blendMode = kBlendModeNone;
        s.blendParam = 0;
        s.brightColor = kNoBrightColor;
        DrawScreenLog();
        s.clip = clip;
        StoreDrawClipRect(clip.left, clip.top, clip.right, clip.bottom);
        s.blendMode = mode;
        s.blendParam = param;
        s.brightColor = bright;
    }
    return PresentScreenCore(area);
}

int32_t PaintScreenArea(const RECT* area)
{
    if (g_drawSettings.drawTarget != kDrawTargetBackScreen) {
        return 0;
    }
    const int32_t keep = g_screenSettings.noVerticalWait;
    g_screenSettings.noVerticalWait = 1;
    const int32_t result = PresentScreenArea(area);
    g_screenSettings.noVerticalWait = keep;
    return result;
}

void CALLBACK RefreshFrontScreen(HWND window, UINT, UINT_PTR id, DWORD)
{
    KillTimer(window, id);
    if (g_drawSettings.drawTarget != kDrawTargetFrontScreen || g_system.layeredWindow) {
        return;
    }
    if (!g_system.windowed) {
        CurrentRenderBackend()->keepPicture();
    }
    PresentScreenArea(nullptr);
    SetTimer(window, kFrontScreenTimerId, kFrontScreenTimerMs, DispatchWindowTimer);
}

// ---- Screen modes

int ConfigureScreenMode(int width, int height, int colorBits, int refreshRate)
{
    if (width <= 0 || height <= 0 || (colorBits != 8 && colorBits != 16 && colorBits != 32)) {
        return -1;
    }
    if (!g_system.started) {
        StoreScreenMode(ScreenMode{width, height, colorBits, refreshRate});
        return 0;
    }
    ScreenMode requested{width, height, colorBits, refreshRate};
    // A full-screen 320 x 240 is set up as a doubled 640 x 480 screen: getting that is
    // getting the mode asked for.
    if (IsDoubledRequest(width, height, g_system.windowed)) {
        requested.width = kDefaultScreenWidth;
        requested.height = kDefaultScreenHeight;
    }
    const ScreenMode before = CurrentScreenMode();
    ApplyScreenModeChange(width, height, colorBits, 0, refreshRate);
    return ClassifyModeChange(requested, before, CurrentScreenMode());
}

int32_t RedoScreenMode() { return ApplyScreenModeChange(-1, -1, -1, 1, -1); }

int32_t ApplyScreenModeChange(int32_t width, int32_t height, int32_t bits, int32_t force, int32_t refresh)
{
    ScreenSettings& ss = g_screenSettings;
    // How the running mode is shown, for going back to it whole when the new one fails.
    const int32_t doubledBefore = ss.doubled;
    const int32_t fallbackBefore = ss.displayFallback;
    if (IsDoubledRequest(width, height, g_system.windowed)) {
        ss.doubled = 1;
        width = kDefaultScreenWidth;
        height = kDefaultScreenHeight;
    } else if (g_system.windowed && force == 1 && ss.doubled && ss.width == kDefaultScreenWidth &&
               ss.height == kDefaultScreenHeight) {
        width = 320;
        height = 240;
        ss.doubled = 0;
    } else {
        ss.doubled = 0;
    }
    const ScreenMode before = CurrentScreenMode();
    const ScreenMode wanted{width == -1 ? ss.width : width, height == -1 ? ss.height : height,
                            bits == -1 ? ss.colorBits : bits, refresh == -1 ? ss.refreshRate : refresh};
    const bool same = wanted.width == before.width && wanted.height == before.height && wanted.bits == before.bits &&
                      wanted.refresh == before.refresh;
    if (same && force == 0) {
        return 0;
    }
    AppendLog(L"画面モード変更処理を開始します\n");
    PushLogIndent();
    const bool font = ss.started && RememberStandardFont() == 1;
    if (!g_system.started && !ss.started) {
        StoreScreenMode(wanted);
        PopLogIndent();
        return 0;
    }
    const int32_t target = g_drawSettings.drawTarget;
    if (ss.started) {
        ShutDownGraphics();
    }
    StoreScreenMode(wanted);
    if (InitializeGraphics() != 0) {
        bool up = false;
        if (wanted.width == 320 && wanted.height == 240) {
            StoreScreenMode(ScreenMode{kDefaultScreenWidth, kDefaultScreenHeight, wanted.bits, wanted.refresh});
            ss.displayFallback = 1;
            up = InitializeGraphics() == 0;
        }
        if (!up) {
            StoreScreenMode(before);
            ss.doubled = doubledBefore;
            ss.displayFallback = fallbackBefore;
            up = InitializeGraphics() == 0;
        }
        if (!up) {
            StoreScreenMode(ScreenMode{kDefaultScreenWidth, kDefaultScreenHeight, kDefaultColorBits, 0});
            ss.doubled = 0;
            ss.displayFallback = 0;
            up = InitializeGraphics() == 0;
        }
        if (!up) {
            FatalErrorExit(L"予期せぬ画面モード変更不能現象が起きました2\n");
        }
    }
    if (g_system.windowed) {
        ApplyWindowModeStyle();
    }
    if (font) {
        RecreateStandardFont();
    }
    PopLogIndent();
    AppendLog(L"画面モード変更処理は正常に終了しました\n");
    PumpWindowMessages();
    // A graph target went with the old screen: the back screen takes its place.
    if (SelectDrawTarget(target) != 0) {
        SelectDrawTarget(kDrawTargetBackScreen);
    }
    return 0;
}

// ---- Device restart

int32_t RestartGraphicsDevice(int32_t modeChange, int32_t width, int32_t height, int32_t bits, int32_t refresh)
{
    ScreenSettings& ss = g_screenSettings;
    const bool wasHardware = ss.hardwareActive != 0;
    DrawSettings& s = g_drawSettings;
    const int32_t target = s.drawTarget;
    const Matrix4x4 world = s.world;
    const Matrix4x4 view = s.view;
    const Matrix4x4 projection = s.projection;
    // The graphs' textures belong to the device that goes: released first, made again on the
    // new one.
    ReleaseAllGraphTextures();
    ReleaseModelDeviceBuffers();
    ShutDownDirect3D();
    if (modeChange == 1) {
        const ScreenMode now = CurrentScreenMode();
        StoreScreenMode(ScreenMode{width == -1 ? now.width : width, height == -1 ? now.height : height,
                                   bits == -1 ? now.bits : bits, refresh == -1 ? now.refresh : refresh});
    } else {
        ShutDownInput();  // it starts again at the next key query
    }
    const int32_t started = StartDirect3D();
    if (!ss.hardwareActive) {
        if (!wasHardware && started == 0) {
            return 0;  // the software screen never went away
        }
        // The device's screen is gone and no software screen was ever made: drawing must not
        // go on without one. Graphics start again on the software renderer.
        const bool font = RememberStandardFont() == 1;
        ShutDownGraphics();
        const int32_t softwareOnly = ss.softwareOnly;
        ss.softwareOnly = 1;
        const int32_t result = InitializeGraphics();
        ss.softwareOnly = softwareOnly;
        if (result != 0) {
            FatalErrorExit(L"デバイスの再起動に失敗しました\n");
        }
        if (font) {
            RecreateStandardFont();
        }
        if (SelectDrawTarget(target) != 0) {
            SelectDrawTarget(kDrawTargetBackScreen);
        }
        return 0;
    }
    RecreateAllGraphTextures();
    if (SelectDrawTarget(target) != 0) {
        SelectDrawTarget(kDrawTargetBackScreen);
    }
    ReapplyAllDeviceStates();
    for (int32_t i = 0; i < 2; ++i) {
        WipeDrawScreen(nullptr);
        PresentScreenArea(nullptr);
    }
    if (modeChange == 1) {
        RestoreGraphsFromFiles();
    } else {
        RunGraphRestore();
    }
    // The glyph caches' graphs came back empty: each font starts its cache again.
    RecreateAllFonts();
    // The models' textures go back into their graphs, then their buffers onto the new device.
    RestoreModelTextures();
    RebuildModelBaseBuffers();
    ReapplyCoreStates();
    if (modeChange != 1) {
        ApplyWorldMatrix(&world);
        s.view = view;
        s.projection = projection;
        SetViewTransform(&view);
        SetProjectionTransform(&projection);
    }
    return 0;
}

int32_t RestartDeviceKeepingMode()
{
    RestartGraphicsDevice(0, -1, -1, -1, -1);
    return 0;
}
