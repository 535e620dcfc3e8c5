// A stand-in for the movie handles' system calls: a clock the test sets, interfaces that are
// numbered tokens, and a record of every call made through them. Movies are made by a
// test-side creator, as nothing in the library creates one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quarn/sound/movie.h"
#include "quarn/sound/movie_os.h"

struct FakeMovieOs {
    int64_t now = 0;       // the library clock, microseconds
    int64_t position = 0;  // IMediaSeeking's current position
    int32_t windowed = 0;
    int32_t clipKind = 2;  // GetClipBox's region kind in window mode
    PixelRect clipBox{0, 0, 10000, 10000};
    PixelRect drawArea{0, 0, 640, 480};
    int sleepsUntilThreadEnds = 0;  // sleeps before the decoding thread reports state 3
    OggVideoDecoder* threadOwner = nullptr;
    std::vector<std::string> calls;  // "release 7", "run", "pause", "rewind", "show", "hide", ...
    std::vector<PixelRect> shown;    // the rectangles of each "show": source, destination
};

extern FakeMovieOs g_fakeMovieOs;
const MovieOsApi* FakeMovieOsApi();

// Interface i of the stand-in: a token whose number the recorded calls name.
IUnknown* FakeInterface(int i);

// A record in the movie table as a creator would leave it: no sound, no file; the slot's
// handle, or -1 when the table is full.
int32_t CreateTestMovie(MovieRecord** record);
// A zero-filled decoder whose information says fps frames per second and frameCount frames.
OggVideoDecoder* ZeroDecoder(uint32_t fpsNumerator, uint32_t fpsDenominator, int64_t frameCount);
