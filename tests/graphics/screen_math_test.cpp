#include <gtest/gtest.h>

#include "quarn/graphics/graphics.h"

namespace {

void ExpectRect(const PixelRect& r, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.right, right);
    EXPECT_EQ(r.bottom, bottom);
}

TEST(PresentRectTest, ClientAreaMapsBackIntoThePicture)
{
    const PixelRect area{20, 10, 120, 40};
    // Shown unscaled: the picture's own coordinates.
    ExpectRect(MapPresentRect(area, PixelRect{0, 0, 300, 60}, 300, 60), 20, 10, 120, 40);
    // Shown twice as large: half the client coordinates.
    ExpectRect(MapPresentRect(area, PixelRect{0, 0, 600, 120}, 300, 60), 10, 5, 60, 20);
    // Shown below a 30-pixel bar.
    ExpectRect(MapPresentRect(PixelRect{0, 30, 300, 90}, PixelRect{0, 30, 300, 90}, 300, 60), 0, 0, 300, 60);
    // Nothing shown yet: client and picture coincide.
    ExpectRect(MapPresentRect(area, PixelRect{0, 0, 0, 0}, 300, 60), 20, 10, 120, 40);
}

TEST(PresentRectTest, LargeWindowsDoNotOverflow)
{
    const PixelRect area{0, 0, 40000, 40000};
    ExpectRect(MapPresentRect(area, PixelRect{0, 0, 80000, 80000}, 40000, 40000), 0, 0, 20000, 20000);
}

TEST(PresentRectTest, SourceRowsCountFromTheBottom)
{
    const DibSourceRect from = BottomUpSourceRect(PixelRect{20, 10, 120, 40}, 60);
    EXPECT_EQ(from.x, 20);
    EXPECT_EQ(from.y, 20);  // 60 - 40
    EXPECT_EQ(from.width, 100);
    EXPECT_EQ(from.height, 30);
}

TEST(RefreshMeterTest, SettlesAfterTenSteadyIntervals)
{
    RefreshMeter meter;
    StartRefreshMeter(&meter, 1000000);
    int64_t now = 1000000;
    // The first interval has nothing to compare with; ten more agreeing ones settle it.
    const int64_t intervals[] = {16600, 16700, 16650, 16680, 16620, 16700, 16690, 16610, 16670, 16640};
    EXPECT_EQ(FeedRefreshMeter(&meter, now += 16650), -1);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(FeedRefreshMeter(&meter, now += intervals[i]), -1) << i;
    }
    int64_t sum = 0;
    for (int64_t v : intervals) {
        sum += v;
    }
    EXPECT_EQ(FeedRefreshMeter(&meter, now += intervals[9]), sum / 10);
}

TEST(RefreshMeterTest, AJumpStartsTheStreakAgain)
{
    RefreshMeter meter;
    StartRefreshMeter(&meter, 0);
    int64_t now = 0;
    FeedRefreshMeter(&meter, now += 5000);
    for (int i = 0; i < 8; ++i) {
        FeedRefreshMeter(&meter, now += 5000);
    }
    EXPECT_EQ(meter.streak, 8);
    EXPECT_EQ(FeedRefreshMeter(&meter, now += 6000), -1);  // 1000 apart is not steady
    EXPECT_EQ(meter.streak, 0);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(FeedRefreshMeter(&meter, now += 6000), -1);
    }
    EXPECT_EQ(FeedRefreshMeter(&meter, now += 6000), 6000);
}

TEST(RefreshMeterTest, PacingThresholdFollowsTheMeasuredPeriod)
{
    EXPECT_EQ(PacingThreshold(-1), 4000);
    EXPECT_EQ(PacingThreshold(0), 4000);
    EXPECT_EQ(PacingThreshold(16667), 13667);
    EXPECT_EQ(PacingThreshold(5000), 2000);
}

TEST(RefreshMeterTest, PacingPeriodComesFromTheDisplayWhereTheWaitCannotHaveMeasuredIt)
{
    struct Case {
        int64_t measured;
        int32_t atOnce;
        int32_t displayHz;
        int64_t period;
        int32_t timed;
    };
    const Case cases[] = {
        {16650, 0, 75, 16650, 0},   // a wait that blocks: its own measurement stands
        {4167, 0, 240, 4167, 0},    // a fast display is still a display
        {-1, 0, 60, -1, 0},         // nothing settled: the unmeasured pacing, as before
        {5080, 1, 60, 16666, 1},    // the wait came back at once: it measured its sleep
        {-1, 1, 75, 13333, 1},      // ... whether or not anything settled
        {5080, 1, 0, 16666, 1},     // the display says nothing: 60 Hz
        {5080, 1, 1, 16666, 1},     // 1 is the hardware's default, which says nothing either
        {5080, 1, 1000, 16666, 1},  // no display runs at 1000 Hz
        {1200, 0, 144, 6944, 1},    // a blocking wait that measured a period no display has
    };
    for (const Case& c : cases) {
        int32_t timed = -1;
        EXPECT_EQ(ChoosePacingPeriod(c.measured, c.atOnce, c.displayHz, &timed), c.period)
            << c.measured << " " << c.atOnce << " " << c.displayHz;
        EXPECT_EQ(timed, c.timed) << c.measured << " " << c.atOnce << " " << c.displayHz;
    }
}

TEST(RefreshMeterTest, ABlankWaitReturnsAtOnceWhenAnyBackToBackWaitBeatsTheShortestPeriod)
{
    struct Case {
        int64_t durations[kBlankWaitProbes];
        int32_t atOnce;
    };
    const Case cases[] = {
        {{16650, 16700, 16640, 16690, 16660}, 0},  // 60 Hz: every wait a period
        {{4170, 4160, 4180, 4166, 4170}, 0},       // 240 Hz
        {{2000, 2000, 2000, 2000, 2000}, 0},       // the fastest display there is
        {{120, 90, 110, 100, 95}, 1},              // returns at once on a quick machine
        // On a slow or loaded machine a wait that returns at once can still take a few
        // milliseconds, steadily enough to pass for a period; one quick return gives it away.
        {{2600, 3100, 2900, 1400, 2700}, 1},
        {{2600, 3100, 2900, 2750, 1999}, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BlankWaitReturnsAtOnce(c.durations, kBlankWaitProbes), c.atOnce) << c.durations[0];
    }
}

TEST(RefreshMeterTest, TimedBlanksKeepTheirCadenceAndRestartWhenFarBehind)
{
    const int64_t period = 16666;
    EXPECT_EQ(NextTimedBlank(100000, period, 101000), 116666);  // early: wait for the due time
    EXPECT_EQ(NextTimedBlank(100000, period, 117500), 116666);  // a little late: keep the cadence
    EXPECT_EQ(NextTimedBlank(100000, period, 133331), 116666);
    EXPECT_EQ(NextTimedBlank(100000, period, 133332), 133332);  // a period behind: count from now
    EXPECT_EQ(NextTimedBlank(0, period, 5000000), 5000000);     // never waited before
}

TEST(ModeChangeTest, ResultFromRequestedBeforeAndAfter)
{
    struct Case {
        ScreenMode requested, before, after;
        int32_t result;
    };
    const Case cases[] = {
        {{800, 600, 32, 60}, {300, 60, 32, 60}, {800, 600, 32, 60}, 0},
        {{800, 600, 32, 60}, {300, 60, 32, 60}, {300, 60, 32, 60}, -1},
        {{800, 600, 32, 60}, {300, 60, 32, 60}, {640, 480, 16, 0}, -2},
        {{800, 600, 32, 60}, {300, 60, 32, 60}, {640, 480, 16, 60}, -1},
        {{800, 600, 32, 60}, {300, 60, 32, 60}, {800, 600, 32, 0}, -1},
        // Asking for the fallback itself is a success.
        {{640, 480, 16, 0}, {300, 60, 32, 60}, {640, 480, 16, 0}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyModeChange(c.requested, c.before, c.after), c.result)
            << c.after.width << "x" << c.after.height << "x" << c.after.bits << "@" << c.after.refresh;
    }
}

TEST(ShownModeTest, OnlyADoubledFullScreenShowsTheQuarterItStandsFor)
{
    struct Case {
        int32_t width, height, bits, refresh, doubled, fallback;
        ScreenMode shown;
        int32_t shownDoubled;
    };
    const Case cases[] = {
        {300, 60, 32, 60, 0, 0, {300, 60, 32, 60}, 0},
        {0, 0, 0, 0, 0, 0, {640, 480, 16, 0}, 0},  // unset: the start-up defaults
        {640, 480, 16, 60, 1, 0, {320, 240, 16, 60}, 1},
        {640, 480, 32, 0, 0, 1, {320, 240, 32, 0}, 1},
        {640, 480, 32, 0, 0, 0, {640, 480, 32, 0}, 0},
        // A flag left over from a 320 x 240 request that fell back to the mode before: the
        // 800 x 600 screen is shown whole, and that is its size.
        {800, 600, 32, 60, 1, 0, {800, 600, 32, 60}, 0},
        {800, 600, 32, 60, 0, 1, {800, 600, 32, 60}, 0},
    };
    for (const Case& c : cases) {
        ScreenSettings s{};
        s.width = c.width;
        s.height = c.height;
        s.colorBits = c.bits;
        s.refreshRate = c.refresh;
        s.doubled = c.doubled;
        s.displayFallback = c.fallback;
        const ScreenMode shown = ShownScreenMode(s);
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " doubled " << c.doubled << " fallback "
                                        << c.fallback);
        EXPECT_EQ(shown.width, c.shown.width);
        EXPECT_EQ(shown.height, c.shown.height);
        EXPECT_EQ(shown.bits, c.shown.bits);
        EXPECT_EQ(shown.refresh, c.shown.refresh);
        EXPECT_EQ(IsShownDoubled(s), c.shownDoubled);
    }
}

TEST(ShownModeTest, AFullScreenQuarterScreenRequestIsSetUpDoubled)
{
    EXPECT_EQ(IsDoubledRequest(320, 240, 0), 1);
    EXPECT_EQ(IsDoubledRequest(320, 240, 1), 0);  // a window shows 320 x 240 as it is
    EXPECT_EQ(IsDoubledRequest(640, 480, 0), 0);
    EXPECT_EQ(IsDoubledRequest(320, 480, 0), 0);
    EXPECT_EQ(IsDoubledRequest(640, 240, 0), 0);
}

TEST(ScreenDibHeaderTest, TopDownBitfieldsCoveringWholeRows)
{
    for (int kind : {kMemImgXrgb32, kMemImgRgb565}) {
        MEMIMG image{};
        ASSERT_EQ(CreatePlainMemImg(&image, 301, 60, kind), 0);
        ScreenDibHeader header;
        BuildScreenDibHeader(&header, &image);
        EXPECT_EQ(header.size, 40u);
        EXPECT_EQ(header.height, -60);
        EXPECT_EQ(header.planes, 1);
        EXPECT_EQ(header.compression, 3u);
        // The header's rows (rounded to 4 bytes) are as long as the image's.
        const int32_t rowBytes = (header.width * header.bitCount + 31) / 32 * 4;
        EXPECT_EQ(rowBytes, image.store->pitch);
        EXPECT_GE(header.width, 301);
        if (kind == kMemImgXrgb32) {
            EXPECT_EQ(header.bitCount, 32);
            EXPECT_EQ(header.masks[0], 0xFF0000u);
            EXPECT_EQ(header.masks[1], 0xFF00u);
            EXPECT_EQ(header.masks[2], 0xFFu);
        } else {
            EXPECT_EQ(header.bitCount, 16);
            EXPECT_EQ(header.masks[0], 0xF800u);
            EXPECT_EQ(header.masks[1], 0x07E0u);
            EXPECT_EQ(header.masks[2], 0x001Fu);
        }
        ReleaseMemImgRef(&image);
    }
}

}  // namespace
