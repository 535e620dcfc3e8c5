#include "quarn/graphics/graph_platform.h"

#include <windows.h>

#include "quarn/graphics/graphics.h"
#include "quarn/system/system.h"

int32_t GraphLibraryStarted() { return HasLibraryStarted(); }
int32_t GraphQuitRequested() { return IsQuitRequested(); }

void WaitForActiveWindow()
{
    // Without a window (before start-up) there is no activation to wait for.
    if (g_system.mainWindow != nullptr) {
        WaitUntilWindowActive();
    }
}

int32_t HasLibraryStarted() { return g_system.started; }

int32_t GraphResolveFullPath(const wchar_t* path, wchar_t* out, int32_t units)
{
    if (units < 1) {
        return -1;
    }
    const DWORD length = GetFullPathNameW(path, static_cast<DWORD>(units), out, nullptr);
    if (length == 0 || length >= static_cast<DWORD>(units)) {
        return -1;
    }
    return static_cast<int32_t>(length);
}
