// The sound and movie entry points that the window and the pump call.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/sound/sound.h"
#include "tests/core/log_capture.h"

namespace {

std::wstring g_log;

class SoundTest : public ::testing::Test {
protected:
    void SetUp() override { CaptureLogInto(&g_log); }
    void TearDown() override { SetLogCapture(nullptr, nullptr); }
};

TEST_F(SoundTest, EmptyTablesMakeTheEntriesDoNothing)
{
    EXPECT_EQ(PollMidiPlayState(), -1) << "the sound system is not started";
    EXPECT_EQ(HandleMidiNotify(), 0);
    EXPECT_EQ(SuspendAllMovies(), 0);
    EXPECT_EQ(ResumeSuspendedMovies(), 0);
    EXPECT_EQ(RefreshMovieOverlays(), 0);
    EXPECT_EQ(SuspendMovie(-1, 1), -1);
    EXPECT_EQ(ShowMovieOverlay(0, 0, 1, MakeHandle(kHandleTypeMovie, 0, 0), 1), -1);
}

TEST_F(SoundTest, MidiNotificationLoopsOrCloses)
{
    g_midiPlayback = MidiPlaybackState{};
    g_midiPlayback.loop = 1;
    EXPECT_EQ(HandleMidiNotify(), 0);
    EXPECT_EQ(g_midiPlayback.playing, 1) << "a looping piece plays again";
    g_midiPlayback.loop = 0;
    EXPECT_EQ(HandleMidiNotify(), 0);
    EXPECT_EQ(g_midiPlayback.playing, 0) << "the end of a single play closes the device";
    EXPECT_EQ(HandleMidiNotify(), 0);
    EXPECT_EQ(g_midiPlayback.playing, 0);
}

TEST_F(SoundTest, SuspendedMoviesResumeWithTheirPlayingFlag)
{
    MovieRecord playing{};
    playing.ogg = 1;
    playing.playing = 1;
    playing.movieSound = -1;
    MovieRecord paused{};
    paused.ogg = 1;
    paused.playing = 0;
    paused.stopped = 1;
    paused.playMode = 2;
    MovieRecord noControl{};  // played by the system's graph without a control interface
    noControl.playing = 1;
    const int32_t h1 = AddHandleRecord(MovieTable(), &playing);
    const int32_t h2 = AddHandleRecord(MovieTable(), &paused);
    const int32_t h3 = AddHandleRecord(MovieTable(), &noControl);
    playing.check = static_cast<uint32_t>(HandleCheckOf(h1));
    paused.check = static_cast<uint32_t>(HandleCheckOf(h2));
    noControl.check = static_cast<uint32_t>(HandleCheckOf(h3));

    EXPECT_EQ(SuspendAllMovies(), 0);
    EXPECT_EQ(playing.stopped, 1u);
    EXPECT_EQ(playing.playing, 1u);
    EXPECT_EQ(noControl.stopped, 0u) << "nothing to pause it with";

    EXPECT_EQ(ResumeSuspendedMovies(), 0);
    EXPECT_EQ(playing.stopped, 0u);
    EXPECT_EQ(playing.playMode, 1u) << "mode 0 resumes as 1";
    EXPECT_EQ(paused.stopped, 1u) << "a movie paused for good stays paused";
    EXPECT_EQ(paused.playMode, 2u);

    EXPECT_EQ(SuspendMovie(h1, 0), 0);
    EXPECT_EQ(playing.playing, 0u);
    EXPECT_EQ(RemoveHandleRecord(MovieTable(), h1), &playing);
    EXPECT_EQ(RemoveHandleRecord(MovieTable(), h2), &paused);
    EXPECT_EQ(RemoveHandleRecord(MovieTable(), h3), &noControl);
    EXPECT_EQ(SuspendMovie(h1, 1), -1);
}

TEST_F(SoundTest, MovieOverlayIsClippedToTheVisibleDrawArea)
{
    const PixelRect drawArea{100, 200, 400, 260};
    const PixelRect clipBox{0, 0, 50, 60};
    struct Case {
        int32_t x, y, mag;
        const PixelRect* clip;
        bool shown;
        PixelRect source, destination;
    };
    const Case cases[] = {
        {10, 20, 1, nullptr, true, {0, 0, 100, 40}, {110, 220, 210, 260}},
        {10, 20, 2, nullptr, true, {0, 0, 100, 20}, {110, 220, 310, 260}},
        {10, 20, 2, &clipBox, true, {0, 0, 20, 20}, {110, 220, 150, 260}},
        {-40, 0, 2, nullptr, true, {20, 0, 100, 30}, {100, 200, 260, 260}},
        {500, 20, 1, nullptr, false, {}, {}},
    };
    auto text = [](const PixelRect& r) {
        return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
               std::to_string(r.bottom);
    };
    for (const Case& c : cases) {
        PixelRect source{-1, -1, -1, -1};
        PixelRect destination{-1, -1, -1, -1};
        const bool shown = ComputeMovieOverlayRects(c.x, c.y, c.mag, 100, 50, c.clip, drawArea, MovieOverlayCaps{},
                                                    &source, &destination);
        EXPECT_EQ(shown, c.shown) << c.x << "," << c.y << " x" << c.mag;
        if (shown) {
            EXPECT_EQ(text(source), text(c.source));
            EXPECT_EQ(text(destination), text(c.destination));
        }
    }
}

}  // namespace
