#include "quarn/sound/sound.h"

#include <control.h>
#include <ddraw.h>

#include "quarn/system/system.h"

static FixedHandleTable<kMovieCapacity> s_movieTable{kHandleTypeMovie, kSlotFirstFree};

IDirectDrawSurface7* g_movieOverlayTarget;

HandleTable* MovieTable() { return s_movieTable.get(); }

namespace {
IMediaControl* MediaControlOf(MovieRecord* movie)
{
    return reinterpret_cast<IMediaControl*>(movie->interfaces[kMovieMediaControl]);
}
}  // namespace

int32_t SuspendMovie(int32_t handle, uint32_t keepPlaying)
{
    auto* movie = FindHandleRecordAs<MovieRecord>(MovieTable(), handle);
    if (movie == nullptr) {
        return -1;
    }
    if (movie->stopped == 1) {
        return 0;
    }
    if (!movie->ogg) {
        IMediaControl* control = MediaControlOf(movie);
        if (control == nullptr) {
            return 0;
        }
        control->Pause();
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
    for (int32_t slot = 0; slot < kMovieCapacity; ++slot) {
        auto* movie = FindHandleRecordAs<MovieRecord>(MovieTable(), HandleOfSlot(MovieTable(), slot));
        if (movie == nullptr || movie->stopped == 0 || movie->playing == 0) {
            continue;
        }
        const uint32_t mode = movie->playMode != 0 ? movie->playMode : 1;
        if (!movie->ogg) {
            if (IMediaControl* control = MediaControlOf(movie)) {
                control->Run();
            }
        }
        movie->stopped = 0;
        movie->playMode = mode;
        movie->playing = 1;
    }
    return 0;
}

namespace {
void ClampInside(RECT* r, const RECT& bounds)
{
    auto clamp = [](LONG v, LONG lo, LONG hi) { return v < lo ? lo : (v > hi ? hi : v); };
    r->left = clamp(r->left, bounds.left, bounds.right);
    r->right = clamp(r->right, bounds.left, bounds.right);
    r->top = clamp(r->top, bounds.top, bounds.bottom);
    r->bottom = clamp(r->bottom, bounds.top, bounds.bottom);
}
}  // namespace

bool ComputeMovieOverlayRects(int32_t x, int32_t y, int32_t magnification, int32_t width, int32_t height,
                              const RECT* clip, const RECT& drawArea, RECT* source, RECT* destination)
{
    RECT s{0, 0, width, height};
    RECT d{x, y, x + width * magnification, y + height * magnification};
    RECT c = d;
    if (clip != nullptr) {
        ClampInside(&c, *clip);
    }
    OffsetRect(&d, drawArea.left, drawArea.top);
    OffsetRect(&c, drawArea.left, drawArea.top);
    ClampInside(&c, drawArea);
    if (c.left == c.right || c.top == c.bottom || width * magnification < 1) {
        return false;
    }
    // What the clipping cut off, in source pixels.
    if (c.left > d.left) {
        s.left += (c.left - d.left) / magnification;
    }
    if (c.right < d.right) {
        s.right -= (d.right - c.right) / magnification;
    }
    if (c.top > d.top) {
        s.top += (c.top - d.top) / magnification;
    }
    if (c.bottom < d.bottom) {
        s.bottom -= (d.bottom - c.bottom) / magnification;
    }
    *source = s;
    *destination = c;
    return true;
}

int32_t ShowMovieOverlay(int32_t x, int32_t y, int32_t magnification, int32_t handle, uint32_t shown)
{
    auto* movie = FindHandleRecordAs<MovieRecord>(MovieTable(), handle);
    if (movie == nullptr) {
        return -1;
    }
    if (movie->overlay != 1 || movie->frameReady == 0 || magnification < 1) {
        return 0;
    }
    RECT clipBox{};
    const RECT* clip = nullptr;
    if (IsWindowedMode()) {
        HWND window = QueryMainWindow();
        HDC dc = GetDC(window);
        const int kind = GetClipBox(dc, &clipBox);
        ReleaseDC(window, dc);
        if (kind == SIMPLEREGION) {
            clip = &clipBox;
        } else {
            shown = 0;
        }
    }
    int32_t area[4] = {};
    QueryDrawAreaScreenRect(area);
    const RECT drawArea{area[0], area[1], area[2], area[3]};
    RECT source{};
    RECT destination{};
    if (!ComputeMovieOverlayRects(x, y, magnification, movie->width, movie->height, clip, drawArea, &source,
                                  &destination)) {
        shown = 0;
    }
    auto* surface = reinterpret_cast<IDirectDrawSurface7*>(movie->interfaces[kMovieOverlaySurface]);
    MovieOverlayState& state = movie->overlayState;
    if (shown == 0) {
        source = RECT{};
        destination = RECT{};
        if (surface != nullptr) {
            surface->UpdateOverlay(nullptr, g_movieOverlayTarget, nullptr, DDOVER_HIDE, nullptr);
        }
    } else if (state.shown != shown || !EqualRect(&state.source, &source) ||
               !EqualRect(&state.destination, &destination)) {
        if (surface != nullptr) {
            surface->UpdateOverlay(&source, g_movieOverlayTarget, &destination, DDOVER_SHOW, nullptr);
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
        auto* movie = FindHandleRecordAs<MovieRecord>(MovieTable(), handle);
        if (movie == nullptr || movie->ogg || movie->overlay != 1) {
            continue;
        }
        const MovieOverlayState& s = movie->overlayState;
        ShowMovieOverlay(s.x, s.y, s.magnification, handle, s.shown);
    }
    return 0;
}
