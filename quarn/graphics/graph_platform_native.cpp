// The native build has no window and no library start-up; paths are kept as given.
#if !defined(_WIN32)

#include "quarn/graphics/graph_platform.h"

#include <cwchar>

int32_t GraphLibraryStarted() { return 1; }
int32_t GraphQuitRequested() { return 0; }

// Without a window there is nothing to wait for and no library start-up.
void WaitForActiveWindow() {}
int32_t HasLibraryStarted() { return 0; }

int32_t GraphResolveFullPath(const wchar_t* path, wchar_t* out, int32_t units)
{
    const size_t length = std::wcslen(path);
    if (units < 1 || length >= static_cast<size_t>(units)) {
        return -1;
    }
    std::wmemcpy(out, path, length + 1);
    return static_cast<int32_t>(length);
}

#endif
