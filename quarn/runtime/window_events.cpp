// What the window and its pump hand up to the runtime: the pump's per-pass work and the window
// messages of the screen, input, sound and network, each calling its subsystem directly.
#include <windows.h>

#include <mmsystem.h>

#include "quarn/core/core.h"
#include "quarn/network/network.h"
#include "quarn/runtime/runtime.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/sound/sound.h"
#include "quarn/system/system.h"

namespace {

// Set once the screen's handlers are registered: from then on a window-mode change redoes
// the screen mode.
int32_t s_screenServed = 0;

// At every return of the pump, in this order.
void RunPumpPassWork()
{
    if (GetCurrentThreadId() == g_system.mainThreadId) {
        UpdateMenuAutoVisibility();
    }
    PollMidiPlayState();
    if (g_inputServed) {
        PollKeyboardFromPump();
        UpdatePadVibrationTimeouts();
    }
    PumpNetworkMessages(1);
    g_system.keyInputGuard = 1;
    if (g_charInputServed) {
        ProcessKeyInputStep();
    }
    g_system.keyInputGuard = 0;
}

// Each round the pump waits while the window is inactive.
void RunPumpInactiveWork()
{
    PumpNetworkMessages(1);
    RefreshMovieOverlays();
}

void ReacquireInput()
{
    if (g_inputServed) {
        ReacquireInputDevices();
    }
}

// WM_ACTIVATE, and WM_ACTIVATEAPP with FALSE (as a WM_ACTIVATE with 0); the window has set
// its active flag already.
LRESULT HandleActivation(HWND window, UINT, WPARAM wParam, LPARAM)
{
    if (g_system.creatingWindow) {
        return 0;
    }
    if (LOWORD(wParam) != 0) {
        // A full-screen device is started again at every activation; a windowed one only when
        // it was lost, which a present tells.
        if (!g_system.windowed) {
            if (g_system.started && !IsIconic(window)) {
                RestartDeviceKeepingMode();
            }
        } else if (g_graphicsDevice.device != nullptr && TestDevicePresent() != 0) {
            RestartDeviceKeepingMode();
        }
        if (g_charInputServed) {
            FlagImeRestore();
        }
        if (!g_system.windowed && g_system.started) {
            g_system.moviesSuspended = 0;
            ResumeSuspendedMovies();
        } else if (!g_system.runWhileInactive) {
            ResumeSuspendedMovies();
        }
        ReacquireInput();
    } else {
        const bool directDraw = HasDirectDraw() != 0;
        const bool hardware = g_screenSettings.hardwareActive != 0;
        // Before Vista a hardware device gives the desktop its mode back by itself.
        if (!g_system.windowed && (g_systemCapability.osCode >= kOsVista || !hardware)) {
            ChangeDisplaySettingsW(nullptr, 0);
            ShowWindow(window, SW_MINIMIZE);
        }
        if (!g_system.windowed && directDraw) {
            if (!HasGraphRestoreRoutine()) {
                AppendLog(L"復元関数が登録されていないため終了します\n");
                PostCloseOnce();
                return 0;
            }
            SuspendAllMovies();
            g_system.moviesSuspended = 1;
        } else {
            if (!g_system.runWhileInactive) {
                SuspendAllMovies();
            }
            ReacquireInput();
        }
        HDC dc = GetDC(window);
        DrawInactiveWindowImage(dc);
        ReleaseDC(window, dc);
    }
    if (g_inputServed) {
        UpdatePadEffectsForActivity();
    }
    return 0;
}

// WM_DISPLAYCHANGE in window mode: the program ends when the screen cannot follow the desktop.
LRESULT HandleDisplayChange(HWND, UINT, WPARAM wParam, LPARAM lParam)
{
    if (!g_system.windowed || g_system.modeChanging) {
        return 0;
    }
    const int32_t newBits = static_cast<int32_t>(wParam);
    const int32_t newWidth = LOWORD(lParam);
    const int32_t newHeight = HIWORD(lParam);
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits = 0;
    QueryScreenSizeAndDepth(&width, &height, &bits);
    if (newBits != bits || newWidth != width || newHeight != height) {
        const bool restorable = HasGraphRestoreRoutine() != 0;
        if (!restorable || newBits == 24 || (newBits == 8 && bits != 8) || newWidth < width || newHeight < height) {
            AppendLog(L"復元関数が登録されていないためか画面が２４ビットカラーに変更されたため終了します\n");
            AppendLog(L"またはスクリーンが小さすぎるためか色ビット数の違いが大きいためか終了します\n");
            PostCloseOnce();
        } else {
            ResumeSuspendedMovies();
        }
    }
    return 0;
}

// WM_PAINT after start-up; lParam is the area to paint.
LRESULT HandlePaint(HWND, UINT, WPARAM, LPARAM lParam)
{
    return PaintScreenArea(reinterpret_cast<const RECT*>(lParam));
}

LRESULT HandleMciNotify(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    HandleMidiNotify();
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT HandleSocketEvent(HWND, UINT, WPARAM wParam, LPARAM lParam)
{
    return DispatchSocketEvent(static_cast<uint32_t>(lParam), static_cast<uint32_t>(wParam));
}

}  // namespace

void RegisterRuntimeWindowHandlers()
{
    RegisterPumpWork(RunPumpPassWork, RunPumpInactiveWork);
    RegisterWindowMessageHandler(WM_ACTIVATE, HandleActivation);
    RegisterWindowMessageHandler(MM_MCINOTIFY, HandleMciNotify);
    RegisterWindowMessageHandler(kSocketEventMessage, HandleSocketEvent);
}

void RegisterScreenWindowHandlers()
{
    RegisterWindowMessageHandler(WM_PAINT, HandlePaint);
    RegisterWindowMessageHandler(WM_DISPLAYCHANGE, HandleDisplayChange);
    RegisterWindowTimerHandler(kFrontScreenTimerId, RefreshFrontScreen);
    s_screenServed = 1;
}

int ChangeWindowMode(int windowed)
{
    AppendLog(L"ChangeWindowMode実行 \n");
    if (windowed == g_system.windowed) {
        return 0;
    }
    g_system.windowModeStyleApplied = 1;
    g_system.displayChanged = 0;
    SetWindowModeFlag(windowed);
    if (g_system.mainWindow == nullptr) {
        return 0;
    }
    g_system.modeChanging = 1;
    ApplyWindowModeStyle();
    const int32_t result = s_screenServed ? RedoScreenMode() : 0;
    const DWORD start = GetTickCount();
    while (PumpWindowMessages() == 0 && !g_system.displayChanged && GetTickCount() - start < kModeChangeWaitMs) {
        Sleep(1);
    }
    g_system.modeChanging = 0;
    if (!windowed) {
        g_system.menuMouseNear = 0;
    }
    return result;
}
