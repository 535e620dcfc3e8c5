#include "tests/sound/fake_movie_os.h"

#include "quarn/core/core.h"

FakeMovieOs g_fakeMovieOs;

namespace {

int g_tokens[kMovieInterfaceCount + 4];

int TokenOf(IUnknown* object) { return static_cast<int>(reinterpret_cast<int*>(object) - g_tokens); }

void Record(const std::string& call) { g_fakeMovieOs.calls.push_back(call); }

int64_t ReadClock() { return g_fakeMovieOs.now; }
void Release(IUnknown* object) { Record("release " + std::to_string(TokenOf(object))); }
void Run(IUnknown* object) { Record("run " + std::to_string(TokenOf(object))); }
void Pause(IUnknown* object) { Record("pause " + std::to_string(TokenOf(object))); }
int64_t CurrentPosition(IUnknown*) { return g_fakeMovieOs.position; }
void Rewind(IUnknown* object) { Record("rewind " + std::to_string(TokenOf(object))); }
void UpdateOverlay(IUnknown*, const PixelRect* source, const PixelRect* destination, uint32_t flags)
{
    if (flags == kOverlayHide && source == nullptr && destination == nullptr) {
        Record("hide");
    } else if (flags == kOverlayShow && source != nullptr && destination != nullptr) {
        Record("show");
        g_fakeMovieOs.shown.push_back(*source);
        g_fakeMovieOs.shown.push_back(*destination);
    } else {
        Record("overlay with flags " + std::to_string(flags));
    }
}
int32_t IsWindowed() { return g_fakeMovieOs.windowed; }
int32_t WindowClipBox(PixelRect* box)
{
    *box = g_fakeMovieOs.clipBox;
    return g_fakeMovieOs.clipKind;
}
void DrawAreaScreenRect(PixelRect* rect) { *rect = g_fakeMovieOs.drawArea; }
void DeleteFile(const wchar_t* path)
{
    std::string narrow;
    for (const wchar_t* p = path; *p != 0; ++p) {
        narrow += static_cast<char>(*p);
    }
    Record("delete " + narrow);
}
void CloseHandle(void* handle) { Record("close " + std::to_string(reinterpret_cast<uintptr_t>(handle))); }
void Sleep(uint32_t ms)
{
    Record("sleep " + std::to_string(ms));
    if (g_fakeMovieOs.threadOwner != nullptr && --g_fakeMovieOs.sleepsUntilThreadEnds <= 0 &&
        g_fakeMovieOs.threadOwner->stopFlag == 1) {
        g_fakeMovieOs.threadOwner->state = 3;
    }
}

const MovieOsApi kFake = {
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

const MovieOsApi* FakeMovieOsApi() { return &kFake; }

IUnknown* FakeInterface(int i) { return reinterpret_cast<IUnknown*>(&g_tokens[i]); }

int32_t CreateTestMovie(MovieRecord** record)
{
    auto* movie = static_cast<MovieRecord*>(AllocTrackedMemoryZeroed(sizeof(MovieRecord), __FILE__, __LINE__));
    const int32_t handle = AddHandleRecord(MovieTable(), movie);
    if (handle < 0) {
        FreeTrackedMemory(movie);
        return -1;
    }
    movie->check = static_cast<uint32_t>(HandleCheckOf(handle));
    movie->movieSound = -1;
    ++g_openMovieCount;
    *record = movie;
    return handle;
}

OggVideoDecoder* ZeroDecoder(uint32_t fpsNumerator, uint32_t fpsDenominator, int64_t frameCount)
{
    auto* d = static_cast<OggVideoDecoder*>(AllocTrackedMemoryZeroed(sizeof(OggVideoDecoder), __FILE__, __LINE__));
    d->info.fps_numerator = fpsNumerator;
    d->info.fps_denominator = fpsDenominator;
    d->frameCount = frameCount;
    return d;
}
