// Movie handles over the stand-in system calls: the colour tables, frame choice over time on
// the Ogg path, the DirectShow end and loop, suspend and resume, destroy, and the overlay.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/sound/movie.h"
#include "quarn/sound/movie_os.h"
#include "quarn/sound/sound_os.h"
#include "quarn/sound/sound_stream.h"
#include "tests/sound/fake_movie_os.h"
#include "tests/sound/fake_sound_device.h"

namespace {

using Calls = std::vector<std::string>;

class MovieTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMovieOsApi(FakeMovieOsApi());
        g_fakeMovieOs = FakeMovieOs{};
        before = GetAllocatorTotals();
        openBefore = g_openMovieCount;
    }
    void TearDown() override
    {
        for (int32_t slot = 0; slot < kMovieCapacity; ++slot) {
            DestroyMovie(HandleOfSlot(MovieTable(), slot));
        }
        EXPECT_EQ(MovieTable()->liveCount, 0);
        EXPECT_EQ(g_openMovieCount, openBefore);
        EXPECT_EQ(GetAllocatorTotals().blockCount, before.blockCount) << "a block was left";
        SetMovieOsApi(nullptr);
    }

    // An Ogg movie over a zero-filled decoder of 100 frames at 25 per second, playing.
    int32_t OggMovie(MovieRecord** movie, uint32_t playMode, int64_t frames = 100)
    {
        const int32_t handle = CreateTestMovie(movie);
        (*movie)->ogg = 1;
        (*movie)->decoder = ZeroDecoder(25, 1, frames);
        (*movie)->playMode = playMode;
        (*movie)->playing = 1;
        return handle;
    }

    AllocatorTotals before{};
    int32_t openBefore = 0;
};

TEST(YuvTables, StartValuesStepsAndClamp)
{
    BuildYuvToRgbTables();
    struct Row {
        int row;
        double factor;
        int zeroAt;
    };
    const Row rows[] = {{0, 1.596, 128}, {1, -0.391, 128}, {2, -0.813, 128}, {3, 2.018, 128}, {4, 1.164, 16}};
    const int32_t starts[] = {-3346944, 819968, 1704960, -4231936, -305120};
    const int32_t steps[] = {26148, -6406, -13320, 33062, 19070};
    for (const Row& r : rows) {
        EXPECT_EQ(g_yuvRows[r.row][0], starts[r.row]) << r.row;
        EXPECT_EQ(g_yuvRows[r.row][r.zeroAt], 0) << r.row;
        for (int i = 1; i < 256; ++i) {
            ASSERT_EQ(g_yuvRows[r.row][i] - g_yuvRows[r.row][i - 1], steps[r.row]) << r.row << " at " << i;
            // Each entry is its factor in 14 fraction bits, to within the step's rounding.
            ASSERT_NEAR(g_yuvRows[r.row][i] / 16384.0, r.factor * (i - r.zeroAt), 0.01 * 256) << r.row << " " << i;
        }
    }
    EXPECT_EQ(g_yuvRows[4][17], 19070);
    const struct {
        int value;
        uint8_t clamped;
    } clamps[] = {{-512, 0}, {-1, 0}, {0, 0}, {100, 100}, {255, 255}, {256, 255}, {300, 255}, {767, 255}};
    for (const auto& c : clamps) {
        EXPECT_EQ(g_yuvClampTable[c.value + 512], c.clamped) << c.value;
    }
}

TEST(OggFrameChoice, DueFrameOverTime)
{
    const struct {
        int64_t elapsedUs;
        double fps;
        int32_t frames;
        bool wrap;
        int32_t frame;
    } cases[] = {
        {0, 25, 100, true, 0},
        {1000000, 25, 100, false, 25},
        {39999, 25, 100, false, 0},     // truncated, not rounded
        {4100000, 25, 100, true, 2},    // 102 wraps
        {4100000, 25, 100, false, 99},  // stays on the last
        {-5000000, 25, 100, true, 0},   // before frame 0
        {1000000, 29.97, 30000, false, 29},
        {1000000, 25, 0, true, -1},  // no frames: nothing to choose, nothing divided by 0
        {1000000, 0, 100, true, -1},
        {1000000, 1.0 / 0.0, 100, true, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChooseDueOggFrame(c.elapsedUs, c.fps, c.frames, c.wrap), c.frame)
            << c.elapsedUs << " us at " << c.fps << " fps over " << c.frames;
    }
}

TEST(OggFrameChoice, SoundTimeBeyondHalfAnHour)
{
    // 40 minutes of sound: 2,400,000 ms, whose product with 1000 is past 32 bits.
    EXPECT_EQ(ChooseDueOggFrame(MovieSoundElapsedUs(2400000), 25, 100000, false), 60000);
    EXPECT_EQ(ChooseDueOggFrame(MovieSoundElapsedUs(2400000), 25, 50000, false), 49999);
}

TEST_F(MovieTest, EmptyTableHooksDoNothing)
{
    EXPECT_EQ(DestroyMovie(-1), -1);
    EXPECT_EQ(AdvanceMovieFrame(-1), 0);
    EXPECT_EQ(ShowMovieOverlay(0, 0, 1, -1, 1), -1);
    EXPECT_EQ(SuspendMovie(-1, 1), -1);
    EXPECT_EQ(SuspendAllMovies(), 0);
    EXPECT_EQ(ResumeSuspendedMovies(), 0);
    EXPECT_EQ(RefreshMovieOverlays(), 0);
    EXPECT_TRUE(g_fakeMovieOs.calls.empty());
}

TEST_F(MovieTest, StaleAndForeignHandlesAreRefused)
{
    MovieRecord* movie = nullptr;
    const int32_t handle = CreateTestMovie(&movie);
    const int32_t otherCheck = MakeHandle(kHandleTypeMovie, (HandleCheckOf(handle) + 1) & 2047, HandleSlotOf(handle));
    const int32_t otherType = MakeHandle(kHandleTypeSound, HandleCheckOf(handle), HandleSlotOf(handle));
    for (int32_t bad : {otherCheck, otherType, handle | 0x7F}) {
        EXPECT_EQ(DestroyMovie(bad), -1) << std::hex << bad;
        EXPECT_EQ(SuspendMovie(bad, 0), -1) << std::hex << bad;
    }
    EXPECT_EQ(MovieTable()->liveCount, 1);
    EXPECT_EQ(DestroyMovie(handle), 0);
    EXPECT_EQ(DestroyMovie(handle), -1) << "already gone";
}

TEST_F(MovieTest, OggMovieSkipsForwardToTheDueFrameAndWraps)
{
    MovieRecord* movie = nullptr;
    const int32_t handle = OggMovie(&movie, kMoviePlayLoop);
    OggVideoDecoder* d = movie->decoder;
    g_fakeMovieOs.now = 1000000;
    d->readyFlags[0] = d->readyFlags[1] = 1;
    AdvanceMovieFrame(handle);
    EXPECT_EQ(GetOggVideoFrame(d), 25);
    EXPECT_EQ(d->readyFlags[0] + d->readyFlags[1], 0u) << "a skip drops the ready frames";
    // From frame 98 to frame 3 (103 frames in) of the looping movie: 5 forward.
    d->currentFrame = 98;
    d->readyFlags[0] = 1;
    g_fakeMovieOs.now = 103 * 40000;
    AdvanceMovieFrame(handle);
    EXPECT_EQ(GetOggVideoFrame(d), 3);
    EXPECT_EQ(movie->playing, 1u);
    EXPECT_EQ(movie->stopped, 0u);
    // The same frame again: no skip, the ready flags stay.
    d->readyFlags[0] = 1;
    AdvanceMovieFrame(handle);
    EXPECT_EQ(d->readyFlags[0], 1u);
}

// Whether a movie on its last frame ends: only without a loop and without a sound.
TEST_F(MovieTest, OggMovieEndsOnItsLastFrameOnlyWithoutLoopOrSound)
{
    const struct {
        uint32_t playMode;
        int32_t sound;
        int64_t now;
        int32_t frame;
        uint32_t stopped;
    } cases[] = {
        {1, -1, 10000000, 99, 1},    // due past the end: last frame, ended
        {1, -1, 99 * 40000, 99, 1},  // exactly the last frame
        {1, -1, 98 * 40000, 98, 0},
        {kMoviePlayLoop, -1, 99 * 40000, 99, 0},
        // A sound times the movie (the sound system is not started here: its position
        // reads -1 ms, so frame 0 is due) and the sound decides the end.
        {1, 5, 0, 0, 0},
    };
    for (const auto& c : cases) {
        MovieRecord* movie = nullptr;
        const int32_t handle = OggMovie(&movie, c.playMode, c.sound == -1 ? 100 : 1);
        movie->movieSound = c.sound;
        g_fakeMovieOs.now = c.now;
        AdvanceMovieFrame(handle);
        EXPECT_EQ(GetOggVideoFrame(movie->decoder), c.frame) << c.now;
        EXPECT_EQ(movie->stopped, c.stopped) << c.now << " sound " << c.sound;
        EXPECT_EQ(movie->playing, 1 - c.stopped) << c.now;
        movie->movieSound = -1;
        DestroyMovie(handle);
    }
}

// A movie timed by its sound, 40 minutes in: the sound's position in microseconds is past
// 32 bits, and the frame due is still the one of its 40th minute.
TEST_F(MovieTest, SoundTimedMovieFollowsItsSoundPastHalfAnHour)
{
    static int s_anyObject;
    SetSoundOsApi(FakeSoundDevice());
    InitializeSoundLock();
    g_soundSystem.directSound = reinterpret_cast<IDirectSound*>(&s_anyObject);
    // A sound held in memory at one frame per second: its play cursor counts seconds.
    FakeBuffer device;
    device.bytes.assign(4096, 0);
    device.play = 2400;
    auto* sound = static_cast<SoundRecord*>(AllocTrackedMemoryZeroed(sizeof(SoundRecord), __FILE__, __LINE__));
    sound->format = WaveFormat{1, 1, 1, 1, 1, 8, 0};
    sound->dataSize = 4096;
    sound->bufferCount = 1;
    sound->buffers[0].present = 1;
    sound->buffers[0].directSoundBuffer = AsDevice(&device);
    const int32_t soundHandle = RegisterSoundRecord(sound);
    ASSERT_GE(soundHandle, 0);
    ASSERT_EQ(MeasureSoundPlayMs(soundHandle), 2400000);

    MovieRecord* movie = nullptr;
    const int32_t handle = OggMovie(&movie, 1, 100000);
    movie->movieSound = soundHandle;
    AdvanceMovieFrame(handle);
    EXPECT_EQ(GetOggVideoFrame(movie->decoder), 60000) << "40 minutes at 25 frames per second";
    EXPECT_EQ(DestroyMovie(handle), 0);
    EXPECT_EQ(SoundTable()->liveCount, 0) << "the movie's sound goes with it";
    ResetSoundState();
    DeleteSoundLock();
    SetSoundOsApi(nullptr);
}

TEST_F(MovieTest, FrameCallbackRunsOnEveryAdvanceEvenWhenStopped)
{
    static int s_calls;
    static uint32_t s_user;
    s_calls = 0;
    MovieRecord* movie = nullptr;
    const int32_t handle = OggMovie(&movie, 1);
    movie->frameCallback = [](MovieRecord*, uint32_t user) {
        ++s_calls;
        s_user = user;
    };
    movie->callbackUserData = 77;
    g_fakeMovieOs.now = 200000;
    AdvanceMovieFrame(handle);
    EXPECT_EQ(s_calls, 1);
    EXPECT_EQ(s_user, 77u);
    EXPECT_EQ(movie->frameReady, 1u);
    movie->stopped = 1;
    g_fakeMovieOs.now = 800000;
    AdvanceMovieFrame(handle);
    EXPECT_EQ(s_calls, 2);
    EXPECT_EQ(GetOggVideoFrame(movie->decoder), 5) << "a stopped movie keeps its frame";
}

TEST_F(MovieTest, MovieWithoutFramesChoosesNothing)
{
    MovieRecord* movie = nullptr;
    const int32_t handle = OggMovie(&movie, kMoviePlayLoop, 0);
    g_fakeMovieOs.now = 5000000;
    AdvanceMovieFrame(handle);
    EXPECT_EQ(GetOggVideoFrame(movie->decoder), 0);
    EXPECT_EQ(movie->playing, 1u);
    EXPECT_EQ(movie->stopped, 0u);
}

TEST_F(MovieTest, SuspendAndResumeRebaseTheStartTime)
{
    MovieRecord* movie = nullptr;
    const int32_t handle = OggMovie(&movie, 0);
    movie->decoder->currentFrame = 50;
    g_fakeMovieOs.now = 50 * 40000 + 10000;  // still frame 50 (start time 0)
    EXPECT_EQ(SuspendAllMovies(), 0);
    EXPECT_EQ(movie->stopped, 1u);
    EXPECT_EQ(movie->playing, 1u) << "suspended, to be resumed";
    g_fakeMovieOs.now = 60000000;
    EXPECT_EQ(ResumeSuspendedMovies(), 0);
    EXPECT_EQ(movie->startTime, 60000000 - 2000000) << "frame 50 at 25 per second is due now";
    EXPECT_EQ(movie->stopped, 0u);
    EXPECT_EQ(movie->playMode, 1u) << "play mode 0 plays once";
    // Paused for good: a resume leaves it.
    EXPECT_EQ(SuspendMovie(handle, 0), 0);
    g_fakeMovieOs.now = 90000000;
    ResumeSuspendedMovies();
    EXPECT_EQ(movie->stopped, 1u);
    EXPECT_EQ(movie->playing, 0u);
    EXPECT_EQ(movie->startTime, 58000000);
}

TEST_F(MovieTest, ResumeWithoutAFrameRateDuesTheFrameNow)
{
    MovieRecord* movie = nullptr;
    OggMovie(&movie, 1);
    movie->decoder->info.fps_numerator = 0;
    movie->decoder->currentFrame = 50;
    movie->stopped = 1;
    g_fakeMovieOs.now = 7000000;
    ResumeSuspendedMovies();
    EXPECT_EQ(movie->startTime, 7000000);
    EXPECT_EQ(movie->stopped, 0u);
}

// A frame rate of one frame in 2^32 - 1 seconds, read from a file, on frame 50,000: the
// step back is bounded, and the frame choice after it stays on a frame of the movie.
TEST_F(MovieTest, ResumeAtATinyFrameRateStaysInTheClocksRange)
{
    MovieRecord* movie = nullptr;
    const int32_t handle = OggMovie(&movie, 1, 100000);
    movie->decoder->info.fps_numerator = 1;
    movie->decoder->info.fps_denominator = 0xFFFFFFFFu;
    movie->decoder->currentFrame = 50000;
    movie->stopped = 1;
    g_fakeMovieOs.now = 7000000;
    ResumeSuspendedMovies();
    EXPECT_EQ(movie->startTime, 7000000 - (int64_t{1} << 62));
    AdvanceMovieFrame(handle);
    EXPECT_EQ(GetOggVideoFrame(movie->decoder), 1073) << "2^62 us at one frame in 2^32 - 1 s";
}

TEST_F(MovieTest, DirectShowSuspendPausesAndResumeRuns)
{
    MovieRecord* withControl = nullptr;
    MovieRecord* without = nullptr;
    CreateTestMovie(&withControl);
    CreateTestMovie(&without);
    withControl->interfaces[kMovieMediaControl] = FakeInterface(kMovieMediaControl);
    withControl->playing = without->playing = 1;
    SuspendAllMovies();
    EXPECT_EQ(g_fakeMovieOs.calls, (Calls{"pause 10"}));
    EXPECT_EQ(withControl->stopped, 1u);
    EXPECT_EQ(without->stopped, 0u) << "without IMediaControl nothing changes";
    g_fakeMovieOs.calls.clear();
    ResumeSuspendedMovies();
    EXPECT_EQ(g_fakeMovieOs.calls, (Calls{"run 10"}));
    EXPECT_EQ(withControl->stopped, 0u);
}

TEST_F(MovieTest, DirectShowFrameEndAndLoop)
{
    static MovieRecord* s_seen;
    s_seen = nullptr;
    static uint8_t s_frame[16 * 4 * 3];
    MovieFrameReceiver receiver{s_frame, 1, 4, 3, 16};
    MovieRecord* movie = nullptr;
    const int32_t handle = CreateTestMovie(&movie);
    movie->frameReceiver = &receiver;
    movie->frameCallback = [](MovieRecord* m, uint32_t) { s_seen = m; };
    movie->interfaces[kMovieMediaControl] = FakeInterface(kMovieMediaControl);
    movie->interfaces[kMovieMediaSeeking] = FakeInterface(kMovieMediaSeeking);
    movie->stopPosition = 5000;
    movie->playMode = kMoviePlayLoop;
    movie->playing = 1;
    g_fakeMovieOs.position = 4999;
    AdvanceMovieFrame(handle);
    EXPECT_EQ(s_seen, movie);
    EXPECT_EQ(receiver.newFrame, 0u);
    EXPECT_EQ(movie->currentFrameImage, &movie->frameImage);
    EXPECT_EQ(movie->frameImage.pixels, s_frame);
    EXPECT_EQ(movie->frameImage.width, 4);
    EXPECT_EQ(movie->frameImage.height, 3);
    EXPECT_EQ(movie->frameImage.pitch, 16);
    EXPECT_EQ(movie->frameImage.format.bitDepth, 24);
    EXPECT_TRUE(g_fakeMovieOs.calls.empty()) << "before the end";
    s_seen = nullptr;
    g_fakeMovieOs.position = 5000;
    AdvanceMovieFrame(handle);
    EXPECT_EQ(s_seen, nullptr) << "no new frame, no callback";
    EXPECT_EQ(g_fakeMovieOs.calls, (Calls{"rewind 11", "run 10"}));
    movie->playMode = 1;
    AdvanceMovieFrame(handle);
    EXPECT_EQ(movie->playing, 0u);
    EXPECT_EQ(movie->stopped, 1u);
    // The frame image lends the receiver's buffer: destroying the movie leaves it alone.
    EXPECT_EQ(DestroyMovie(handle), 0);
}

// A movie whose graph lacks IMediaSeeking or IMediaControl never sees its end: nothing is
// called through the missing interface and the movie plays on.
TEST_F(MovieTest, DirectShowEndNeedsBothInterfaces)
{
    for (int present : {int{kMovieMediaControl}, int{kMovieMediaSeeking}, -1}) {
        for (uint32_t mode : {1u, kMoviePlayLoop}) {
            MovieRecord* movie = nullptr;
            const int32_t handle = CreateTestMovie(&movie);
            if (present >= 0) {
                movie->interfaces[present] = FakeInterface(present);
            }
            movie->playMode = mode;
            movie->playing = 1;
            g_fakeMovieOs.position = 1;
            g_fakeMovieOs.calls.clear();
            AdvanceMovieFrame(handle);
            EXPECT_TRUE(g_fakeMovieOs.calls.empty()) << present << " mode " << mode;
            EXPECT_EQ(movie->playing, 1u) << present << " mode " << mode;
            EXPECT_EQ(movie->stopped, 0u);
            movie->interfaces[kMovieMediaControl] = movie->interfaces[kMovieMediaSeeking] = nullptr;
            DestroyMovie(handle);
        }
    }
}

TEST_F(MovieTest, DestroyReleasesInOrderAndFreesOnlyWhatItOwns)
{
    MovieRecord* movie = nullptr;
    const int32_t handle = CreateTestMovie(&movie);
    for (int i = 0; i < kMovieInterfaceCount; ++i) {
        movie->interfaces[i] = FakeInterface(i);
    }
    movie->tempFile = 1;
    wcscpy(movie->tempFilePath, L"movie.tmp");
    movie->overlay = 1;
    movie->event = reinterpret_cast<void*>(uintptr_t{0x44});
    movie->frameImage.pixels = static_cast<uint8_t*>(AllocTrackedMemory(64, __FILE__, __LINE__));
    movie->ownsFramePixels = 1;
    const int32_t open = g_openMovieCount;
    EXPECT_EQ(DestroyMovie(handle), 0);
    EXPECT_EQ(g_fakeMovieOs.calls,
              (Calls{"delete movie.tmp", "hide", "release 7", "release 6", "release 5", "release 4", "release 3",
                     "release 2", "release 1", "release 12", "release 11", "release 8", "release 10", "release 9",
                     "release 0", "close 68"}));
    EXPECT_EQ(g_openMovieCount, open - 1);
    EXPECT_EQ(HandleOfSlot(MovieTable(), HandleSlotOf(handle)), -1);
}

TEST_F(MovieTest, DestroyLeavesTheFrameReceiversBuffer)
{
    // The receiver's buffer is the library allocator's block of the graph's filter, which
    // frees it itself.
    auto* buffer = static_cast<uint8_t*>(AllocTrackedMemory(4 * 2 * 2, __FILE__, __LINE__));
    MovieFrameReceiver receiver{buffer, 1, 2, 2, 8};
    MovieRecord* movie = nullptr;
    const int32_t handle = CreateTestMovie(&movie);
    movie->frameReceiver = &receiver;
    movie->frameCallback = [](MovieRecord*, uint32_t) {};
    // A pixel block of the record's own is given up when the receiver's frame comes.
    movie->frameImage.pixels = static_cast<uint8_t*>(AllocTrackedMemory(64, __FILE__, __LINE__));
    movie->ownsFramePixels = 1;
    AdvanceMovieFrame(handle);
    EXPECT_EQ(movie->frameImage.pixels, buffer);
    EXPECT_EQ(DestroyMovie(handle), 0);
    buffer[0] = 1;  // still the receiver's
    FreeTrackedMemory(buffer);
}

TEST_F(MovieTest, DestroyClosesTheOggDecoder)
{
    MovieRecord* movie = nullptr;
    const int32_t handle = OggMovie(&movie, 1);
    OggVideoDecoder* d = movie->decoder;
    d->thread = reinterpret_cast<void*>(uintptr_t{0x55});
    g_fakeMovieOs.threadOwner = d;
    g_fakeMovieOs.sleepsUntilThreadEnds = 3;
    EXPECT_EQ(DestroyMovie(handle), 0);
    EXPECT_EQ(g_fakeMovieOs.calls, (Calls{"sleep 1", "sleep 1", "sleep 1", "close 85"}))
        << "the thread is asked to stop and waited for";
}

TEST_F(MovieTest, ClosingAZeroFilledDecoder)
{
    EXPECT_EQ(CloseOggVideoDecoder(ZeroDecoder(0, 0, 0)), 0);
    EXPECT_TRUE(g_fakeMovieOs.calls.empty());
}

TEST(OggVideoSkip, MovesForwardAndWrapsOnce)
{
    OggVideoDecoder* d = ZeroDecoder(25, 1, 100);
    const struct {
        int32_t from, n, to;
        bool clearsReady;
    } cases[] = {{10, 5, 15, true}, {98, 5, 3, true}, {99, 1, 0, true}, {10, 0, 10, false}, {10, -3, 10, false}};
    for (const auto& c : cases) {
        d->currentFrame = c.from;
        d->readyFlags[0] = d->readyFlags[1] = 1;
        EXPECT_EQ(SkipOggVideoFrames(d, c.n), 0);
        EXPECT_EQ(GetOggVideoFrame(d), c.to) << c.from << " + " << c.n;
        EXPECT_EQ(d->readyFlags[0] == 0 && d->readyFlags[1] == 0, c.clearsReady) << c.from << " + " << c.n;
    }
    OggVideoInfo info{};
    d->info.fps_numerator = 30000;
    d->info.fps_denominator = 1001;
    d->info.width = 336;  // the coded frame, whole 16 x 16 blocks
    d->info.height = 240;
    d->info.frame_width = 330;  // the picture in it
    d->info.frame_height = 226;
    GetOggVideoInfo(d, &info);
    EXPECT_DOUBLE_EQ(info.framesPerSecond, 30000.0 / 1001.0);
    EXPECT_EQ(info.frameCount, 100);
    EXPECT_EQ(info.width, 330);
    EXPECT_EQ(info.height, 226);
    CloseOggVideoDecoder(d);
}

class MovieOverlayTest : public MovieTest {
protected:
    void SetUp() override
    {
        MovieTest::SetUp();
        handle = CreateTestMovie(&movie);
        movie->interfaces[kMovieOverlaySurface] = FakeInterface(kMovieOverlaySurface);
        movie->overlay = 1;
        movie->frameReady = 1;
        movie->width = 100;
        movie->height = 50;
        g_fakeMovieOs.drawArea = {200, 100, 840, 580};
    }
    MovieRecord* movie = nullptr;
    int32_t handle = -1;
};

TEST_F(MovieOverlayTest, ShowsOnceAndCallsAgainOnlyOnChange)
{
    EXPECT_EQ(ShowMovieOverlay(10, 20, 2, handle, 1), 0);
    EXPECT_EQ(g_fakeMovieOs.calls, (Calls{"show"}));
    ASSERT_EQ(g_fakeMovieOs.shown.size(), 2u);
    const PixelRect& s = g_fakeMovieOs.shown[0];
    const PixelRect& d = g_fakeMovieOs.shown[1];
    EXPECT_EQ((std::vector<int>{s.left, s.top, s.right, s.bottom}), (std::vector<int>{0, 0, 100, 50}));
    EXPECT_EQ((std::vector<int>{d.left, d.top, d.right, d.bottom}), (std::vector<int>{210, 120, 410, 220}));
    EXPECT_EQ(ShowMovieOverlay(10, 20, 2, handle, 1), 0);
    EXPECT_EQ(RefreshMovieOverlays(), 0);
    EXPECT_EQ(g_fakeMovieOs.calls.size(), 1u) << "nothing changed, nothing called";
    ShowMovieOverlay(11, 20, 2, handle, 1);
    EXPECT_EQ(g_fakeMovieOs.calls.size(), 2u);
    // Not ready, or no overlay: nothing at all.
    movie->frameReady = 0;
    ShowMovieOverlay(50, 50, 1, handle, 1);
    EXPECT_EQ(movie->overlayState.x, 11);
    EXPECT_EQ(g_fakeMovieOs.calls.size(), 2u);
}

TEST_F(MovieOverlayTest, ClippingShrinksTheSourceInSourcePixels)
{
    // 640 x 480 draw area: at (-21, 470) with magnification 2 the left 21 and the bottom
    // 90 screen pixels are cut: 10 and 45 source pixels.
    ShowMovieOverlay(-21, 470, 2, handle, 1);
    ASSERT_EQ(g_fakeMovieOs.shown.size(), 2u);
    const PixelRect& s = g_fakeMovieOs.shown[0];
    const PixelRect& d = g_fakeMovieOs.shown[1];
    EXPECT_EQ((std::vector<int>{s.left, s.top, s.right, s.bottom}), (std::vector<int>{10, 0, 100, 5}));
    EXPECT_EQ((std::vector<int>{d.left, d.top, d.right, d.bottom}), (std::vector<int>{200, 570, 379, 580}));
}

TEST_F(MovieOverlayTest, HiddenWhenNothingIsLeftToShow)
{
    const struct {
        int32_t x, y, windowed, clipKind;
        const char* why;
    } cases[] = {
        {700, 10, 0, 2, "right of the draw area"},
        {10, 10, 1, 1, "the window shows nothing"},
        {10, 10, 1, 3, "the window is partly covered"},
    };
    for (const auto& c : cases) {
        ShowMovieOverlay(10, 10, 1, handle, 1);  // shown first
        g_fakeMovieOs.calls.clear();
        g_fakeMovieOs.windowed = c.windowed;
        g_fakeMovieOs.clipKind = c.clipKind;
        EXPECT_EQ(ShowMovieOverlay(c.x, c.y, 1, handle, 1), 0);
        EXPECT_EQ(g_fakeMovieOs.calls, (Calls{"hide"})) << c.why;
        const MovieOverlayState& state = movie->overlayState;
        EXPECT_EQ(state.shown, 0u) << c.why;
        EXPECT_EQ(state.source.right | state.source.bottom | state.destination.left | state.destination.right, 0)
            << c.why;
        g_fakeMovieOs.windowed = 0;
        // Shown again from the hidden state.
        g_fakeMovieOs.calls.clear();
        ShowMovieOverlay(10, 10, 1, handle, 1);
        EXPECT_EQ(g_fakeMovieOs.calls, (Calls{"show"})) << c.why;
    }
}

TEST_F(MovieOverlayTest, WindowClipBoxClipsInClientCoordinates)
{
    g_fakeMovieOs.windowed = 1;
    g_fakeMovieOs.clipKind = 2;
    g_fakeMovieOs.clipBox = {0, 0, 60, 480};
    ShowMovieOverlay(10, 0, 1, handle, 1);
    ASSERT_EQ(g_fakeMovieOs.shown.size(), 2u);
    EXPECT_EQ(g_fakeMovieOs.shown[0].right, 50);
    EXPECT_EQ(g_fakeMovieOs.shown[1].left, 210);
    EXPECT_EQ(g_fakeMovieOs.shown[1].right, 260);
}

TEST_F(MovieOverlayTest, RefreshReshowsDirectShowOverlaysOnly)
{
    MovieRecord* ogg = nullptr;
    const int32_t oggHandle = CreateTestMovie(&ogg);
    ogg->ogg = 1;
    ogg->overlay = 1;
    ogg->frameReady = 1;
    ogg->interfaces[kMovieOverlaySurface] = FakeInterface(kMovieOverlaySurface);
    ogg->overlayState = {0, 0, 1, 1, {}, {}};
    movie->overlayState = {5, 6, 1, 1, {}, {}};
    RefreshMovieOverlays();
    EXPECT_EQ(g_fakeMovieOs.calls, (Calls{"show"}));
    EXPECT_EQ(movie->overlayState.destination.left, 205);
    ogg->ogg = 0;
    ogg->interfaces[kMovieOverlaySurface] = nullptr;
    DestroyMovie(oggHandle);
}

}  // namespace

namespace {

TEST(MovieOverlayRects, AlignmentFromTheCapabilities)
{
    // 100 x 50 at (10, 20) in a draw area at (100, 200) that cuts the bottom 10 rows.
    const PixelRect drawArea{100, 200, 400, 260};
    const struct {
        MovieOverlayCaps caps;
        PixelRect source, destination;
    } cases[] = {
        {{}, {0, 0, 100, 40}, {110, 220, 210, 260}},
        {{0x10, 0, 16, 0, 0}, {0, 0, 96, 40}, {110, 220, 210, 260}},        // source width to 16s
        {{0x2 | 0x4, 0, 0, 8, 16}, {0, 0, 100, 40}, {104, 220, 196, 260}},  // left to 8s, width to 16s
        {{0x10, 0, 0, 0, 0}, {0, 0, 100, 40}, {110, 220, 210, 260}},        // a zero size aligns nothing
    };
    for (const auto& c : cases) {
        PixelRect s{};
        PixelRect d{};
        EXPECT_TRUE(ComputeMovieOverlayRects(10, 20, 1, 100, 50, nullptr, drawArea, c.caps, &s, &d));
        EXPECT_EQ((std::vector<int>{s.left, s.top, s.right, s.bottom}),
                  (std::vector<int>{c.source.left, c.source.top, c.source.right, c.source.bottom}))
            << c.caps.caps;
        EXPECT_EQ((std::vector<int>{d.left, d.top, d.right, d.bottom}),
                  (std::vector<int>{c.destination.left, c.destination.top, c.destination.right, c.destination.bottom}))
            << c.caps.caps;
    }
    // A boundary that eats the whole width leaves nothing to show.
    PixelRect s{};
    PixelRect d{};
    EXPECT_FALSE(
        ComputeMovieOverlayRects(0, 0, 1, 3, 50, nullptr, drawArea, MovieOverlayCaps{0x4, 0, 0, 0, 8}, &s, &d));
}

}  // namespace
