// Window state shared by the input tests.
#pragma once

#include "quarn/system/system.h"

// The window state input reads: an active window (or none), no close posted, and key tests
// that never wait for activation.
inline void ResetWindowState(HWND window)
{
    g_system.mainWindow = window;
    g_system.active = 1;
    g_system.closePosted = 0;
    g_system.quit = 0;
    g_system.windowed = 1;
    g_system.runWhileInactive = 1;
}
