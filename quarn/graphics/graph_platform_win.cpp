#include "quarn/graphics/graph_platform.h"

#include "quarn/graphics/graphics.h"
#include <windows.h>

int32_t GraphLibraryStarted() { return HasLibraryStarted(); }

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
