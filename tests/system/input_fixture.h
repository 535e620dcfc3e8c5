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

// Takes input's and character input's entries out of the window's hook table, so that
// later tests pump without them.
inline void ClearInputHooks()
{
    g_windowHooks.pollKeyboardState = nullptr;
    g_windowHooks.updatePadVibrationTimeouts = nullptr;
    g_windowHooks.reacquireInputDevices = nullptr;
    g_windowHooks.updatePadEffectsForActivity = nullptr;
    g_windowHooks.processKeyInputStep = nullptr;
    g_windowHooks.endKeyInput = nullptr;
    g_windowHooks.handleImeMessage = nullptr;
    g_windowHooks.imeInUse = nullptr;
    g_windowHooks.flagImeRestore = nullptr;
}
