// Test stand-ins for the window, pump, start-up and clock services that input calls.
#include "tests/system/input_env.h"

#include "quarn/quarn.h"
#include "quarn/system/system.h"

#include <cstdio>
#include <cstdlib>

TestInputEnvironment g_testEnv = {1, 0, nullptr};
WindowServiceHooks g_windowHooks;

void FatalErrorExit(const wchar_t* message)
{
    std::fprintf(stderr, "fatal: %ls\n", message);
    std::abort();
}

void FatalErrorExitFormat(const wchar_t* format, ...)
{
    FatalErrorExit(format);
}

int32_t PumpWindowMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

void WaitUntilWindowActive() {}

HWND QueryMainWindow()
{
    return g_testEnv.window;
}

int32_t IsWindowActive()
{
    return g_testEnv.active;
}

int32_t IsClosePosted()
{
    return g_testEnv.closePosted;
}

int GetClipboardText(wchar_t*, int)
{
    return -1;
}

int SetClipboardText(const wchar_t*)
{
    return 0;
}
