#include "quarn/system/system.h"

#include "quarn/core/core.h"

constexpr int32_t kMessagesPerCall = 5;

namespace {
bool MayStayInactive() { return !g_system.active && !g_system.runWhileInactive; }

// Takes the next message for this thread. Any waiting message comes first; the thread's own
// posted messages and those of the main window are subsets of "any", so when none waits
// there is nothing further to look for, and one look at the queue does.
bool TakeMessage(MSG* m) { return PeekMessageW(m, nullptr, 0, 0, PM_REMOVE) != FALSE; }
}  // namespace

int32_t PumpWindowMessages()
{
    if (g_system.keyInputGuard) {
        return 0;
    }
    if (g_system.mainWindow == nullptr) {
        return g_system.quit == 1 ? -1 : 0;
    }
    ++g_system.pumpQueuePasses;
    int32_t count = 0;
    bool stop = false;
    for (;;) {
        if ((g_system.closePosted || g_system.active || g_system.runWhileInactive) && (stop || g_system.quit)) {
            break;
        }
        stop = true;
        if (MayStayInactive()) {
            Sleep(1);
        }
        bool leaveAtOnce = false;
        MSG m;
        while (TakeMessage(&m)) {
            if (m.message == WM_ACTIVATEAPP && g_system.windowed == 1) {
                g_system.active = static_cast<int32_t>(m.wParam & 0xFFFF);
            }
            if (g_system.quit) {
                leaveAtOnce = true;
                break;
            }
            if (m.message == WM_QUIT) {
                g_system.quit = 1;
            }
            TranslateMessage(&m);
            DispatchMessageW(&m);
            if (++count == kMessagesPerCall) {
                count = 0;
                stop = true;
                break;
            }
            stop = false;
        }
        if (leaveAtOnce) {
            break;
        }
        if (MayStayInactive()) {
            RunPumpInactiveRound();
            Sleep(1);
        }
        if (g_system.quit || GetCurrentThreadId() != g_system.mainThreadId) {
            break;
        }
    }
    RunPumpPass();
    return g_system.quit == 1 ? -1 : 0;
}

void WaitUntilWindowActive()
{
    // With no window there is nothing that could become active: waiting would never end.
    if (g_system.mainWindow == nullptr || g_system.painting || g_system.active ||
        (g_system.runWhileInactive && g_system.windowed == 1)) {
        return;
    }
    while (PumpWindowMessages() == 0 && !g_system.active) {
    }
}

int32_t IsQuitRequested() { return g_system.quit; }
HWND QueryMainWindow() { return g_system.mainWindow; }
int32_t IsWindowedMode() { return g_system.windowed; }
int32_t IsWindowActive() { return g_system.active; }
int32_t IsClosePosted() { return g_system.closePosted; }

int32_t QueryDesktopMetrics(int32_t* width, int32_t* height, int32_t* colourBits)
{
    int32_t w = g_system.desktopWidth;
    int32_t h = g_system.desktopHeight;
    int32_t bits = g_system.desktopBits;
    if (g_system.mainWindow == nullptr) {
        w = GetSystemMetrics(SM_CXSCREEN);
        h = GetSystemMetrics(SM_CYSCREEN);
        HDC screen = GetDC(nullptr);
        bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
        ReleaseDC(nullptr, screen);
    }
    if (width != nullptr) {
        *width = w;
    }
    if (height != nullptr) {
        *height = h;
    }
    if (colourBits != nullptr) {
        *colourBits = bits;
    }
    return 0;
}
