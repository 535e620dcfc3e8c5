// The native build has no window and no library start-up; paths are kept as given.
#if !defined(_WIN32)

#include "quarn/graphics/graph_platform.h"
#include "quarn/graphics/render_backend.h"

#include <cwchar>

int32_t GraphLibraryStarted() { return 1; }

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

// No screen to switch or present to.
int32_t StartSoftwareScreen() { return 0; }
int32_t PresentSoftwareScreen(const PresentRequest*) { return 0; }

#endif
