// The screen: its mode, the core of graphics start-up, the draw target, present and its pacing,
// and the display's modes. Starting the fonts with graphics, the
// screen-mode change and the front-screen refresh are the runtime's.
#include <windows.h>
#include <ddraw.h>

#include <cstddef>

#include "quarn/graphics/d3d9/camera.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/graphics/mask.h"
#include "quarn/graphics/render_backend.h"

namespace {

// The display's modes of 16 colour bits or more, built on first use (process heap).
DisplayModeEntry* s_displayModes = nullptr;
int32_t s_displayModeCount = 0;

}  // namespace

int32_t ScreenWidth()
{
    int32_t width = 0;
    GetConfiguredScreenSize(&width, nullptr);
    return width;
}

int32_t ScreenHeight()
{
    int32_t height = 0;
    GetConfiguredScreenSize(nullptr, &height);
    return height;
}

ScreenMode CurrentScreenMode()
{
    return ScreenMode{g_screenSettings.width, g_screenSettings.height, g_screenSettings.colorBits,
                      g_screenSettings.refreshRate};
}

void StoreScreenMode(const ScreenMode& mode)
{
    g_screenSettings.width = mode.width;
    g_screenSettings.height = mode.height;
    g_screenSettings.colorBits = mode.bits;
    g_screenSettings.refreshRate = mode.refresh;
}

namespace {

}  // namespace

// ---- What the window's messages ask of the screen

int32_t HasDirectDraw() { return GetDirectDrawObject() != nullptr ? 1 : 0; }

int32_t HasGraphRestoreRoutine() { return g_drawSettings.graphRestoreRoutine != nullptr ? 1 : 0; }

namespace {

// ---- Draw target

int32_t TargetSize(int32_t target, const GraphDrawInfo& info, int32_t* width, int32_t* height)
{
    if (target == kDrawTargetBackScreen || target == kDrawTargetFrontScreen) {
        *width = ScreenWidth();
        *height = ScreenHeight();
        return 1;
    }
    if (target == -3 || target == -5) {
        return 0;  // the size stays as it is
    }
    *width = info.width;
    *height = info.height;
    return 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------

int32_t ReturnZero() { return 0; }

int32_t IsFullScreenMode() { return g_system.windowed ? 0 : 1; }

int32_t SetDisplayFallbackFlag(int32_t flag)
{
    g_screenSettings.displayFallback = flag;
    return 0;
}

int SetVerticalSyncWait(int flag)
{
    g_screenSettings.noVerticalWait = flag == 0 ? 1 : 0;
    return 0;
}

int GetVerticalSyncWait() { return g_screenSettings.noVerticalWait == 0 ? 1 : 0; }

int QueryScreenSizeAndDepth(int* width, int* height, int* colorBits)
{
    const ScreenMode shown = ShownScreenMode(g_screenSettings);
    if (width != nullptr) {
        *width = shown.width;
    }
    if (height != nullptr) {
        *height = shown.height;
    }
    if (colorBits != nullptr) {
        *colorBits = shown.bits;
    }
    return 0;
}

int32_t StartGraphicsCore()
{
    if (g_screenSettings.started) {
        return kGraphicsAlreadyStarted;
    }
    ResetGraphTable();
    if (g_screenSettings.width == 0) {
        g_screenSettings.width = kDefaultScreenWidth;
    }
    if (g_screenSettings.height == 0) {
        g_screenSettings.height = kDefaultScreenHeight;
    }
    if (g_screenSettings.colorBits == 0) {
        g_screenSettings.colorBits = kDefaultColorBits;
    }
    if (IsDoubledRequest(g_screenSettings.width, g_screenSettings.height, g_system.windowed)) {
        g_screenSettings.doubled = 1;
        g_screenSettings.width = kDefaultScreenWidth;
        g_screenSettings.height = kDefaultScreenHeight;
    }
    if (StartDirect3D() != 0) {
        return kGraphicsDeviceFailed;
    }
    g_screenSettings.started = 1;
    if (CurrentRenderBackend()->makeScreen() != 0) {
        return kGraphicsScreenFailed;
    }
    ResetDrawSettings();
    BuildMemImgBlendTables();
    return kGraphicsStarted;
}

int32_t ResetDrawSettings()
{
    ApplyDrawSettingDefaults();
    CreateDefaultLight();
    if (g_screenSettings.started) {
        SelectDrawTarget(kDrawTargetFrontScreen);
    }
    return 0;
}

int SelectDrawTarget(int target)
{
    if (!g_screenSettings.started) {
        return -1;
    }
    WaitForActiveWindow();
    GraphDrawInfo info{};
    const bool screen = target == kDrawTargetBackScreen || target == -3 || target == kDrawTargetFrontScreen ||
                        target == -5;
    if (!screen) {
        if (DescribeGraph(target, &info) != 0 || !info.renderTarget) {
            return -1;
        }
    }
    DrawSettings& s = g_drawSettings;
    const int32_t maskDrawing = s.maskDrawing;
    SwitchMaskDrawing(0);
    s.maskDrawing = 0;
    CurrentRenderBackend()->selectTarget(target, screen ? nullptr : &info);

    s.drawTarget = target;
    if (target == kDrawTargetFrontScreen && g_system.mainWindow != nullptr) {
        SetTimer(g_system.mainWindow, kFrontScreenTimerId, kFrontScreenTimerMs, DispatchWindowTimer);
    }

    int32_t width = s.drawTargetWidth;
    int32_t height = s.drawTargetHeight;
    TargetSize(target, info, &width, &height);
    if (width != s.drawTargetWidth || height != s.drawTargetHeight) {
        s.drawTargetWidth = width;
        s.drawTargetHeight = height;
        StoreDrawClipRect(0, 0, width, height);
    } else {
        StoreDrawClipRect(s.clip.left, s.clip.top, s.clip.right, s.clip.bottom);
    }
    ApplyTargetCamera(width, height);
    s.maskDrawing = maskDrawing;
    SwitchMaskDrawing(maskDrawing);
    return 0;
}

int GetDrawTarget() { return g_drawSettings.drawTarget; }

namespace {

// The layered window takes the whole back screen's picture on either renderer: the back screen
// becomes the draw target for as long as its pixels are read, then the target and its clip are
// what they were.
int32_t PresentLayeredScreen()
{
    if (!g_screenSettings.noVerticalWait) {
        WaitForVerticalBlankPaced();
    }
    DrawSettings& s = g_drawSettings;
    const int32_t target = s.drawTarget;
    const PixelRect clip = s.clip;
    if (target != kDrawTargetBackScreen && SelectDrawTarget(kDrawTargetBackScreen) != 0) {
        return -1;
    }
    const PixelRect whole{0, 0, s.drawTargetWidth, s.drawTargetHeight};
    BaseImage image{};
    int32_t result = -1;
    if (LockBackBuffer(&whole, &image) == 0) {
        result = PresentToLayeredWindow(&image, nullptr, g_system.layeredImageAlpha);
        UnlockBackBuffer();
    }
    if (target != kDrawTargetBackScreen) {
        SelectDrawTarget(target);
        StoreDrawClipRect(clip.left, clip.top, clip.right, clip.bottom);
    }
    return result;
}

}  // namespace

int32_t PresentScreenCore(const RECT* area)
{
    if (!g_system.started || g_system.quit) {
        return -1;
    }
    if (g_system.layeredWindow) {
        return PresentLayeredScreen();
    }
    const int32_t sw = ScreenWidth();
    const int32_t sh = ScreenHeight();
    PixelRect given{};
    PixelRect mapped{};
    if (area != nullptr) {
        given = PixelRect{area->left, area->top, area->right, area->bottom};
        mapped = MapPresentRect(given, g_screenSettings.lastPresent, sw, sh);
    }

    const bool half = IsShownDoubled(g_screenSettings) != 0;
    const PixelRect source = half ? PixelRect{0, 0, 320, 240} : PixelRect{0, 0, sw, sh};
    PixelRect destination{0, 0, sw, sh};
    if (g_system.windowed) {
        if (half) {
            destination = PixelRect{0, 0, kDefaultScreenWidth, kDefaultScreenHeight};
        } else {
            double sx = 1.0;
            double sy = 1.0;
            QueryWindowScaleRate(&sx, &sy);
            destination = PixelRect{0, 0, static_cast<int32_t>(sw * sx), static_cast<int32_t>(sh * sy)};
        }
    }
    if (QueryToolBarHeight() > 0 && g_system.mainWindow != nullptr) {
        RECT client{};
        GetClientRect(g_system.mainWindow, &client);
        const int32_t height = destination.bottom - destination.top;
        destination.top = client.bottom - height;
        destination.bottom = destination.top + height;
    }

    const PresentRequest request{area != nullptr ? &given : nullptr, area != nullptr ? &mapped : nullptr, source,
                                 destination, half ? 1 : 0};
    return CurrentRenderBackend()->present(&request);
}

// ---- Vertical blank

namespace {

// The blank wait; false when it failed, which paces nothing either.
bool WaitForBlank(IDirectDraw7* draw) { return SUCCEEDED(draw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr)); }

// The refresh rate of the display's current mode; 0 when it does not say.
int32_t CurrentDisplayHz()
{
    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);
    if (!EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode)) {
        return 0;
    }
    return static_cast<int32_t>(mode.dmDisplayFrequency);
}

// Where the blank wait cannot pace: one wait to the time the next blank is due.
void WaitForTimedBlank()
{
    const int64_t now = ReadMicrosecondClock(1);
    const int64_t due = NextTimedBlank(g_screenSettings.lastBlankTime, g_screenSettings.refreshPeriod, now);
    if (due > now) {
        Sleep(static_cast<DWORD>((due - now + 999) / 1000));
    }
    // The next frame is due a period after this one was due, so that the wait's own lateness
    // does not add up.
    g_screenSettings.lastBlankTime = due;
}

}  // namespace

int32_t WaitForVerticalBlankPaced()
{
    if (g_screenSettings.timedPacing) {
        WaitForTimedBlank();
        return 0;
    }
    IDirectDraw7* draw = GetDirectDrawObject();
    const int64_t threshold = PacingThreshold(g_screenSettings.refreshPeriod);
    auto waitBlank = [draw]() {
        if (draw != nullptr) {
            WaitForBlank(draw);
        }
        g_screenSettings.lastBlankTime = ReadMicrosecondClock(1);
    };
    if (ReadMicrosecondClock(1) - g_screenSettings.lastBlankTime < threshold) {
        Sleep(0);
        while (ReadMicrosecondClock(1) - g_screenSettings.lastBlankTime < threshold) {
            Sleep(1);
        }
        waitBlank();
    } else {
        waitBlank();
        Sleep(0);
    }
    return 0;
}

int32_t MeasureRefreshPeriod()
{
    g_screenSettings.refreshPeriod = -1;
    g_screenSettings.timedPacing = 0;
    IDirectDraw7* draw = GetDirectDrawObject();
    if (draw != nullptr) {
        bool atOnce = !WaitForBlank(draw);
        int64_t probes[kBlankWaitProbes];
        int64_t before = ReadMicrosecondClock(1);
        for (int32_t i = 0; i < kBlankWaitProbes && !atOnce; ++i) {
            atOnce = !WaitForBlank(draw);
            const int64_t now = ReadMicrosecondClock(1);
            probes[i] = now - before;
            before = now;
        }
        atOnce = atOnce || BlankWaitReturnsAtOnce(probes, kBlankWaitProbes);
        RefreshMeter meter;
        StartRefreshMeter(&meter, before);
        int64_t measured = -1;
        for (int32_t round = 0; round < 60 && !atOnce; ++round) {
            if (!WaitForBlank(draw)) {
                atOnce = true;
                break;
            }
            const int64_t now = ReadMicrosecondClock(1);
            const int64_t period = FeedRefreshMeter(&meter, now);
            if (period >= 0) {
                measured = period;
                break;
            }
            Sleep(5);
        }
        g_screenSettings.refreshPeriod = ChoosePacingPeriod(measured, atOnce ? 1 : 0, CurrentDisplayHz(),
                                                            &g_screenSettings.timedPacing);
    }
    WaitForVerticalBlankPaced();
    return 0;
}

// ---- Display modes

int32_t SwitchDisplaySettings()
{
    const uint32_t width = static_cast<uint32_t>(ScreenWidth());
    const uint32_t height = static_cast<uint32_t>(ScreenHeight());
    const uint32_t bits = static_cast<uint32_t>(GetConfiguredColorBits());
    AppendLogFormat(L"画面モードの変更処理を開始します %u x %u  %u bit ", width, height, bits);
    if (bits != 16 && bits != 32) {
        return -1;
    }
    PushLogIndent();
    AppendLog(L"画面解像度を変更します... ");
    auto attempt = [](DWORD flags) {
        DEVMODEW mode{};
        mode.dmSize = 220;
        mode.dmBitsPerPel = static_cast<DWORD>(GetConfiguredColorBits());
        mode.dmPelsWidth = static_cast<DWORD>(ScreenWidth());
        mode.dmPelsHeight = static_cast<DWORD>(ScreenHeight());
        mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
        if (g_screenSettings.refreshRate != 0) {
            mode.dmFields |= DM_DISPLAYFREQUENCY;
            mode.dmDisplayFrequency = static_cast<DWORD>(g_screenSettings.refreshRate);
        }
        return ChangeDisplaySettingsW(&mode, flags) == DISP_CHANGE_SUCCESSFUL;
    };
    bool done = attempt(CDS_FULLSCREEN);
    if (!done) {
        g_screenSettings.refreshRate = 0;
        done = attempt(0);
    }
    if (!done && g_screenSettings.width == 320 && g_screenSettings.height == 240) {
        g_screenSettings.width = kDefaultScreenWidth;
        g_screenSettings.height = kDefaultScreenHeight;
        g_screenSettings.displayFallback = 1;
        done = attempt(0);
        if (done) {
            ApplyWindowModeStyle();
        }
    }
    if (!done) {
        AppendLog(L"画面モードの変更に失敗しました\n");
        PopLogIndent();
        return -1;
    }
    AppendLog(L"成功しました\n");
    PopLogIndent();
    return 0;
}

namespace {
void BuildDisplayModeList()
{
    if (s_displayModes != nullptr) {
        return;
    }
    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);
    int32_t count = 0;
    for (DWORD i = 0; EnumDisplaySettingsW(nullptr, i, &mode); ++i) {
        if (mode.dmBitsPerPel >= 16) {
            ++count;
        }
    }
    s_displayModeCount = 0;
    if (count == 0) {
        return;
    }
    s_displayModes = static_cast<DisplayModeEntry*>(HeapAlloc(GetProcessHeap(), 0, sizeof(DisplayModeEntry) * count));
    if (s_displayModes == nullptr) {
        return;
    }
    // The list is enumerated a second time; a mode that appeared since is left out.
    for (DWORD i = 0; s_displayModeCount < count && EnumDisplaySettingsW(nullptr, i, &mode); ++i) {
        if (mode.dmBitsPerPel >= 16) {
            s_displayModes[s_displayModeCount++] = DisplayModeEntry{static_cast<int>(mode.dmPelsWidth),
                                                                    static_cast<int>(mode.dmPelsHeight),
                                                                    static_cast<int>(mode.dmBitsPerPel),
                                                                    static_cast<int>(mode.dmDisplayFrequency)};
        }
    }
}
}  // namespace

void FreeDisplayModeList()
{
    if (s_displayModes != nullptr) {
        HeapFree(GetProcessHeap(), 0, s_displayModes);
        s_displayModes = nullptr;
    }
    s_displayModeCount = 0;
}

int CountDisplayModes()
{
    BuildDisplayModeList();
    return s_displayModeCount;
}

DisplayModeEntry FetchDisplayMode(int index)
{
    BuildDisplayModeList();
    if (index < 0 || index >= s_displayModeCount) {
        return DisplayModeEntry{-1, -1, -1, -1};
    }
    return s_displayModes[index];
}

int32_t IsDisplayModeListed(int32_t width, int32_t height, int32_t bits)
{
    BuildDisplayModeList();
    for (int32_t i = 0; i < s_displayModeCount; ++i) {
        const DisplayModeEntry& e = s_displayModes[i];
        if (e.width == width && e.height == height && e.colorBits == bits) {
            return 1;
        }
    }
    return 0;
}
