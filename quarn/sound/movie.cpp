// Movie handles: destroy, the per-draw frame update on the DirectShow and the Ogg paths,
// suspend and resume with the window, and the DirectDraw overlay. The system calls go through
// movie_os.h.
#include "quarn/sound/movie.h"

#include <cmath>
#include <cstring>

#include "quarn/core/core.h"
#include "quarn/sound/movie_os.h"
#include "quarn/sound/sound_stream.h"

namespace {
FixedHandleTable<kMovieCapacity> s_movieTable{kHandleTypeMovie, kSlotFirstFree};

MovieRecord* FindMovie(int32_t handle)
{
    auto* movie = FindHandleRecordAs<MovieRecord>(s_movieTable.get(), handle);
    if (movie == nullptr || movie->check != static_cast<uint32_t>(HandleCheckOf(handle))) {
        return nullptr;
    }
    return movie;
}

IUnknown* MediaControlOf(const MovieRecord* movie) { return movie->interfaces[kMovieMediaControl]; }
IUnknown* MediaSeekingOf(const MovieRecord* movie) { return movie->interfaces[kMovieMediaSeeking]; }
IUnknown* OverlaySurfaceOf(const MovieRecord* movie) { return movie->interfaces[kMovieOverlaySurface]; }

void HideOverlay(const MovieRecord* movie)
{
    if (IUnknown* surface = OverlaySurfaceOf(movie)) {
        CurrentMovieOsApi()->updateOverlay(surface, nullptr, nullptr, kOverlayHide);
    }
}

// The order in which destroy lets the interfaces go: the overlay's neighbours first, the
// filter graph itself last.
constexpr int32_t kReleaseOrder[kMovieInterfaceCount] = {7, kMovieOverlaySurface, 5, 4, 3, 2, 1, 12, kMovieMediaSeeking,
                                                         8, kMovieMediaControl,   9, 0};

void AdvanceDirectShowMovie(MovieRecord* movie)
{
    const MovieOsApi* os = CurrentMovieOsApi();
    MovieFrameReceiver* receiver = movie->frameReceiver;
    if (receiver != nullptr && receiver->newFrame != 0) {
        receiver->newFrame = 0;
        if (movie->frameCallback != nullptr) {
            // The frame image lends the receiver's buffer from here on.
            if (movie->ownsFramePixels != 0) {
                FreeTrackedMemory(movie->frameImage.pixels);
                movie->ownsFramePixels = 0;
            }
            movie->frameImage.width = receiver->frameWidth;
            movie->frameImage.height = receiver->frameHeight;
            movie->frameImage.pitch = receiver->framePitch;
            movie->frameImage.pixels = static_cast<uint8_t*>(receiver->frameBuffer);
            SetupRgb888Format(&movie->frameImage.format);
            movie->currentFrameImage = &movie->frameImage;
            movie->frameCallback(movie, movie->callbackUserData);
        }
    }
    IUnknown* seeking = MediaSeekingOf(movie);
    IUnknown* control = MediaControlOf(movie);
    // Without both interfaces the end of the movie cannot be seen, nor a loop started.
    if (seeking == nullptr || control == nullptr) {
        return;
    }
    if (os->currentPosition(seeking) < movie->stopPosition) {
        return;
    }
    if ((movie->playMode & kMoviePlayLoop) != 0) {
        os->rewind(seeking);
        os->run(control);
    } else {
        movie->playing = 0;
        movie->stopped = 1;
    }
}

void AdvanceOggMovie(MovieRecord* movie)
{
    OggVideoDecoder* decoder = movie->decoder;
    if (decoder != nullptr && movie->stopped == 0) {
        OggVideoInfo info{};
        GetOggVideoInfo(decoder, &info);
        const bool loops = (movie->playMode & kMoviePlayLoop) != 0;
        const bool hasSound = movie->movieSound != -1;
        const int64_t elapsed = hasSound ? MovieSoundElapsedUs(MeasureSoundPlayMs(movie->movieSound))
                                         : CurrentMovieOsApi()->readClock() - movie->startTime;
        // A movie timed by its sound stays on its last frame; the sound decides when it ends.
        const int32_t frame = ChooseDueOggFrame(elapsed, info.framesPerSecond, info.frameCount, loops && !hasSound);
        if (frame >= 0) {
            const int32_t current = GetOggVideoFrame(decoder);
            if (frame != current) {
                const int32_t step = frame > current ? frame - current : info.frameCount - current + frame;
                SkipOggVideoFrames(decoder, step);
            }
            if (frame == GetOggVideoFrame(decoder) && frame == info.frameCount - 1 && !loops && !hasSound) {
                movie->playing = 0;
                movie->stopped = 1;
            }
        }
    }
    // Without a decoding thread the due frame is decoded here, before the callback shows it.
    if (decoder != nullptr && decoder->thread == nullptr && decoder->readyFlags[1] == 0) {
        DecodeOggVideoFrame(decoder);
    }
    if (movie->frameCallback != nullptr) {
        movie->frameCallback(movie, movie->callbackUserData);
        movie->frameReady = 1;
    }
}

}  // namespace

int32_t g_openMovieCount;

HandleTable* MovieTable() { return s_movieTable.get(); }

int64_t MovieSoundElapsedUs(int32_t playMs) { return static_cast<int64_t>(playMs) * 1000; }

int32_t ChooseDueOggFrame(int64_t elapsedUs, double framesPerSecond, int32_t frameCount, bool wrap)
{
    if (frameCount < 1 || !(framesPerSecond > 0) || !std::isfinite(framesPerSecond)) {
        return -1;
    }
    const double due = std::trunc(static_cast<double>(elapsedUs) * framesPerSecond / 1000000.0);
    if (!(due >= 0)) {
        return 0;
    }
    if (due < frameCount) {
        return static_cast<int32_t>(due);
    }
    if (!wrap) {
        return frameCount - 1;
    }
    // Past the range of a 64-bit count only the remainder in double precision is left.
    return static_cast<int32_t>(due < 9.0e18 ? static_cast<int64_t>(due) % frameCount : std::fmod(due, frameCount));
}

int32_t DestroyMovie(int32_t handle)
{
    MovieRecord* movie = FindMovie(handle);
    if (movie == nullptr) {
        return -1;
    }
    const MovieOsApi* os = CurrentMovieOsApi();
    if (movie->ogg != 0) {
        if (movie->movieFile != 0) {
            CloseFileThroughTable(movie->movieFile);
            movie->movieFile = 0;
        }
        if (movie->decoder != nullptr) {
            CloseOggVideoDecoder(movie->decoder);
        }
        DestroySoundHandle(movie->movieSound, 0);
        movie->decoder = nullptr;
        movie->movieSound = -1;
        movie->ogg = 0;
    }
    if (movie->tempFile == 1) {
        os->deleteFile(movie->tempFilePath);
        movie->tempFile = 0;
    }
    if (movie->overlay == 1) {
        HideOverlay(movie);
    }
    if (movie->ownsFramePixels != 0) {
        FreeTrackedMemory(movie->frameImage.pixels);
    }
    movie->frameImage.pixels = nullptr;
    for (int32_t index : kReleaseOrder) {
        if (movie->interfaces[index] != nullptr) {
            os->release(movie->interfaces[index]);
            movie->interfaces[index] = nullptr;
        }
    }
    if (movie->event != nullptr) {
        os->closeHandle(movie->event);
    }
    RemoveHandleRecord(MovieTable(), handle);
    FreeTrackedMemory(movie);
    --g_openMovieCount;
    return 0;
}

int32_t AdvanceMovieFrame(int32_t handle)
{
    MovieRecord* movie = FindMovie(handle);
    if (movie == nullptr) {
        return 0;
    }
    if (movie->ogg != 0) {
        AdvanceOggMovie(movie);
    } else {
        AdvanceDirectShowMovie(movie);
    }
    return 0;
}

int32_t SuspendMovie(int32_t handle, uint32_t keepPlaying)
{
    MovieRecord* movie = FindMovie(handle);
    if (movie == nullptr) {
        return -1;
    }
    if (movie->stopped == 1) {
        return 0;
    }
    if (movie->ogg != 0) {
        HaltSoundHandle(movie->movieSound);
        AdvanceMovieFrame(handle);
    } else {
        IUnknown* control = MediaControlOf(movie);
        if (control == nullptr) {
            return 0;
        }
        CurrentMovieOsApi()->pause(control);
    }
    movie->stopped = 1;
    if (keepPlaying == 0) {
        movie->playing = 0;
    }
    return 0;
}

int32_t SuspendAllMovies()
{
    for (int32_t slot = 0; slot < kMovieCapacity; ++slot) {
        const int32_t handle = HandleOfSlot(MovieTable(), slot);
        if (handle >= 0) {
            SuspendMovie(handle, 1);
        }
    }
    return 0;
}

int32_t ResumeSuspendedMovies()
{
    const MovieOsApi* os = CurrentMovieOsApi();
    for (int32_t slot = 0; slot < kMovieCapacity; ++slot) {
        MovieRecord* movie = FindMovie(HandleOfSlot(MovieTable(), slot));
        if (movie == nullptr || movie->stopped == 0 || movie->playing == 0) {
            continue;
        }
        const uint32_t mode = movie->playMode != 0 ? movie->playMode : 1;
        if (movie->ogg != 0) {
            // The current frame is due now.
            movie->startTime = os->readClock();
            if (movie->decoder != nullptr) {
                OggVideoInfo info{};
                GetOggVideoInfo(movie->decoder, &info);
                if (info.framesPerSecond > 0) {
                    // The frame rate comes from the file and may be tiny: the step back stays
                    // within what the clock arithmetic of the frame choice can take.
                    constexpr int64_t kLongestStepBackUs = int64_t{1} << 62;
                    const double back = std::trunc(1000000.0 / info.framesPerSecond) * GetOggVideoFrame(movie->decoder);
                    movie->startTime -= back < static_cast<double>(kLongestStepBackUs) ? static_cast<int64_t>(back)
                                                                                       : kLongestStepBackUs;
                }
            }
            StartSoundHandle(movie->movieSound, static_cast<int32_t>(mode), 0);
        } else if (IUnknown* control = MediaControlOf(movie)) {
            os->run(control);
        }
        movie->stopped = 0;
        movie->playMode = mode;
        movie->playing = 1;
    }
    return 0;
}

bool ComputeMovieOverlayRects(int32_t x, int32_t y, int32_t magnification, int32_t width, int32_t height,
                              const PixelRect* clip, const PixelRect& drawArea, const MovieOverlayCaps& caps,
                              PixelRect* source, PixelRect* destination)
{
    PixelRect s{0, 0, width, height};
    int32_t sourceWidth = width;
    PixelRect d{x, y, x + width * magnification, y + height * magnification};
    PixelRect c = d;
    int32_t destinationWidth = width * magnification;
    bool shown = true;
    if (clip != nullptr) {
        ClampRectInsideRect(&c, clip);
    }
    d.left += drawArea.left;
    d.right += drawArea.left;
    d.top += drawArea.top;
    d.bottom += drawArea.top;
    c.left += drawArea.left;
    c.right += drawArea.left;
    c.top += drawArea.top;
    c.bottom += drawArea.top;
    ClampRectInsideRect(&c, &drawArea);
    if (c.left == c.right || c.top == c.bottom) {
        shown = false;
    }
    // What the clipping cut off, in source pixels.
    if (c.left > d.left) {
        const int32_t cut = (c.left - d.left) / magnification;
        s.left += cut;
        sourceWidth -= cut;
    }
    if (c.right < d.right) {
        const int32_t cut = (d.right - c.right) / magnification;
        s.right -= cut;
        sourceWidth -= cut;
    }
    if (c.top > d.top) {
        s.top += (c.top - d.top) / magnification;
    }
    if (c.bottom < d.bottom) {
        s.bottom -= (d.bottom - c.bottom) / magnification;
    }
    if ((caps.caps & 8) != 0 && caps.alignBoundarySource != 0) {
        const int32_t r = static_cast<int32_t>(static_cast<uint32_t>(s.left) % caps.alignBoundarySource);
        s.left -= r;
        sourceWidth -= r;
    }
    if ((caps.caps & 0x10) != 0 && caps.alignSizeSource != 0) {
        s.right -= static_cast<int32_t>(static_cast<uint32_t>(sourceWidth) % caps.alignSizeSource);
    }
    if ((caps.caps & 2) != 0 && caps.alignBoundaryDestination != 0) {
        const int32_t r = static_cast<int32_t>(static_cast<uint32_t>(c.left) % caps.alignBoundaryDestination);
        c.left -= r;
        destinationWidth -= r;
    }
    if ((caps.caps & 4) != 0 && caps.alignSizeDestination != 0) {
        const int32_t r = static_cast<int32_t>(static_cast<uint32_t>(destinationWidth) % caps.alignSizeDestination);
        c.right -= r;
        destinationWidth -= r;
    }
    if (destinationWidth < 1) {
        shown = false;
    }
    *source = s;
    *destination = c;
    return shown;
}

int32_t ShowMovieOverlay(int32_t x, int32_t y, int32_t magnification, int32_t handle, uint32_t shown)
{
    MovieRecord* movie = FindMovie(handle);
    if (movie == nullptr) {
        return -1;
    }
    // A magnification below 1 has no size to show at.
    if (movie->overlay != 1 || movie->frameReady == 0 || magnification < 1) {
        return 0;
    }
    const MovieOsApi* os = CurrentMovieOsApi();
    PixelRect clipBox{};
    const PixelRect* clip = nullptr;
    if (os->isWindowed() != 0) {
        const int32_t kind = os->windowClipBox(&clipBox);
        if (kind == 1 || kind == 3) {
            shown = 0;
        } else if (kind == 2) {
            clip = &clipBox;
        }
    }
    PixelRect drawArea{};
    os->drawAreaScreenRect(&drawArea);
    PixelRect source{};
    PixelRect destination{};
    // The system's DirectDraw capability record is all zero: no alignment.
    const MovieOverlayCaps caps{};
    if (!ComputeMovieOverlayRects(x, y, magnification, movie->width, movie->height, clip, drawArea, caps, &source,
                                  &destination)) {
        shown = 0;
    }
    MovieOverlayState& state = movie->overlayState;
    IUnknown* surface = OverlaySurfaceOf(movie);
    auto same = [](const PixelRect& a, const PixelRect& b) {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    };
    if (shown == 0) {
        source = PixelRect{};
        destination = PixelRect{};
        HideOverlay(movie);
    } else if (state.shown != shown || !same(state.source, source) || !same(state.destination, destination)) {
        if (surface != nullptr) {
            os->updateOverlay(surface, &source, &destination, kOverlayShow);
        }
    }
    state.x = x;
    state.y = y;
    state.magnification = magnification;
    state.shown = shown;
    state.source = source;
    state.destination = destination;
    return 0;
}

int32_t RefreshMovieOverlays()
{
    for (int32_t slot = 0; slot < kMovieCapacity; ++slot) {
        const int32_t handle = HandleOfSlot(MovieTable(), slot);
        const MovieRecord* movie = FindMovie(handle);
        if (movie == nullptr || movie->ogg != 0 || movie->overlay != 1) {
            continue;
        }
        const MovieOverlayState& s = movie->overlayState;
        ShowMovieOverlay(s.x, s.y, s.magnification, handle, s.shown);
    }
    return 0;
}

namespace {
const MovieOsApi* s_movieOs;
}  // namespace

const MovieOsApi* CurrentMovieOsApi() { return s_movieOs != nullptr ? s_movieOs : SystemMovieOsApi(); }

const MovieOsApi* SetMovieOsApi(const MovieOsApi* api)
{
    const MovieOsApi* previous = CurrentMovieOsApi();
    s_movieOs = api;
    return previous;
}
