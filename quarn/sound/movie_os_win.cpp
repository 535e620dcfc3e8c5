// The movie handles' system calls: COM Release, DirectShow's media control and seeking, the
// DirectDraw overlay, the main window's clip box and draw area, and the kernel calls.
#include <windows.h>

#include <control.h>
#include <ddraw.h>
#include <strmif.h>

#include "quarn/quarn.h"
#include "quarn/sound/movie_os.h"
#include "quarn/system/system.h"

namespace {

int64_t ReadClock() { return ReadMicrosecondClock(0); }

void Release(IUnknown* object) { object->Release(); }

void Run(IUnknown* mediaControl) { reinterpret_cast<IMediaControl*>(mediaControl)->Run(); }

void Pause(IUnknown* mediaControl) { reinterpret_cast<IMediaControl*>(mediaControl)->Pause(); }

int64_t CurrentPosition(IUnknown* mediaSeeking)
{
    LONGLONG position = 0;
    reinterpret_cast<IMediaSeeking*>(mediaSeeking)->GetCurrentPosition(&position);
    return position;
}

void Rewind(IUnknown* mediaSeeking)
{
    LONGLONG start = 0;
    reinterpret_cast<IMediaSeeking*>(mediaSeeking)
        ->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
}

RECT* AsRect(const PixelRect* rect, RECT* out)
{
    if (rect == nullptr) {
        return nullptr;
    }
    *out = RECT{rect->left, rect->top, rect->right, rect->bottom};
    return out;
}

// The destination is the primary surface, which the graphics layer does not hand out: the
// call names none.
void UpdateOverlay(IUnknown* surface, const PixelRect* source, const PixelRect* destination, uint32_t flags)
{
    RECT s{};
    RECT d{};
    reinterpret_cast<IDirectDrawSurface7*>(surface)->UpdateOverlay(AsRect(source, &s), nullptr, AsRect(destination, &d),
                                                                   flags, nullptr);
}

int32_t IsWindowed() { return IsWindowedMode(); }

int32_t WindowClipBox(PixelRect* box)
{
    HWND window = QueryMainWindow();
    HDC dc = GetDC(window);
    RECT r{};
    const int kind = GetClipBox(dc, &r);
    ReleaseDC(window, dc);
    *box = PixelRect{r.left, r.top, r.right, r.bottom};
    return kind;
}

void DrawAreaScreenRect(PixelRect* rect)
{
    int32_t area[4] = {};
    QueryDrawAreaScreenRect(area);
    *rect = PixelRect{area[0], area[1], area[2], area[3]};
}

void RemoveFile(const wchar_t* path) { DeleteFileW(path); }

void CloseKernelHandle(void* handle) { CloseHandle(handle); }

void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

const MovieOsApi kSystem = {
    .readClock = ReadClock,
    .release = Release,
    .run = Run,
    .pause = Pause,
    .currentPosition = CurrentPosition,
    .rewind = Rewind,
    .updateOverlay = UpdateOverlay,
    .isWindowed = IsWindowed,
    .windowClipBox = WindowClipBox,
    .drawAreaScreenRect = DrawAreaScreenRect,
    .deleteFile = RemoveFile,
    .closeHandle = CloseKernelHandle,
    .sleep = SleepMs,
};

}  // namespace

const MovieOsApi* SystemMovieOsApi() { return &kSystem; }
