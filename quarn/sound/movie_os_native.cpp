// The native build has no DirectShow, DirectDraw or window: the clock stands still, the
// screen is full (no window clip), and the interface and kernel calls do nothing. Tests
// install tables of their own.
#if !defined(_WIN32)

#include "quarn/sound/movie_os.h"

namespace {

int64_t ReadClock() { return 0; }
void Release(IUnknown*) {}
void Run(IUnknown*) {}
void Pause(IUnknown*) {}
int64_t CurrentPosition(IUnknown*) { return 0; }
void Rewind(IUnknown*) {}
void UpdateOverlay(IUnknown*, const PixelRect*, const PixelRect*, uint32_t) {}
int32_t IsWindowed() { return 0; }
int32_t WindowClipBox(PixelRect* box)
{
    *box = PixelRect{};
    return 0;
}
void DrawAreaScreenRect(PixelRect* rect) { *rect = PixelRect{}; }
void DeleteFile(const wchar_t*) {}
void CloseHandle(void*) {}
void Sleep(uint32_t) {}

const MovieOsApi kNoSystem = {
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
    .deleteFile = DeleteFile,
    .closeHandle = CloseHandle,
    .sleep = Sleep,
};

}  // namespace

const MovieOsApi* SystemMovieOsApi() { return &kNoSystem; }

#endif
