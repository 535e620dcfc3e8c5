// Graphs on the real software screen: the window and graphics started as the library's
// start-up does, drawing through the screen's draw target, and the end of graphics taking the
// graphs with it.
#include <gtest/gtest.h>

#include <objbase.h>

#include <cstring>

#include "quarn/core/core.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/soft/soft_graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/system/system.h"
#include "tests/graphics/screen_fixture.h"

namespace {

constexpr int32_t kWidth = 64;
constexpr int32_t kHeight = 32;

// 0x00RRGGBB of a coded pixel: red 16 + x, green 16 + y.
uint32_t Code(int32_t x, int32_t y)
{
    return static_cast<uint32_t>(16 + x) << 16 | static_cast<uint32_t>(16 + y) << 8 | 0x77;
}

class SoftwareScreenGraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        blocksBefore_ = GetAllocatorTotals().blockCount;
        ASSERT_NO_FATAL_FAILURE(PrepareSoftwareScreen(kWidth, kHeight, L"graph test"));
        ASSERT_NO_FATAL_FAILURE(StartWindowAndGraphics());
        ASSERT_EQ(g_screenSettings.hardwareActive, 0);
        ASSERT_EQ(SelectDrawTarget(-2), 0);
    }
    void TearDown() override
    {
        ShutDownGraphics();
        EXPECT_EQ(GraphTable()->liveCount, 0) << "the end of graphics destroys every graph";
        EndWindowAndState();
        EXPECT_EQ(GetAllocatorTotals().blockCount, blocksBefore_);
    }

    static int32_t CodedGraph(int32_t width, int32_t height)
    {
        BaseImage image{};
        EXPECT_EQ(AllocXrgbBaseImage(width, height, &image), 0);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t c = Code(x, y);
                WriteBaseImagePixel(&image, x, y, (c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF, 255);
            }
        }
        const int32_t graph = ConvertBaseImageToGraph(&image, nullptr, 0, 0, 0);
        DiscardBaseImage(&image);
        return graph;
    }

    const MEMIMG& Screen() const { return g_screenImages.primary; }

    int32_t blocksBefore_ = 0;
};

TEST_F(SoftwareScreenGraphTest, DrawsLandOnTheBackScreen)
{
    const int32_t graph = CodedGraph(6, 4);
    ASSERT_GE(graph, 0);
    EXPECT_EQ(WipeDrawScreen(nullptr), 0);
    EXPECT_EQ(PixelOf(Screen(), 0, 0), 0u);

    EXPECT_EQ(DrawGraphAt(10, 5, graph, 0), 0);
    EXPECT_EQ(DrawGraphStretched(40, 2, 28, 10, graph, 0), 0);  // doubled and mirrored
    EXPECT_EQ(DrawGraphPortion(50, 20, 2, 1, 3, 2, graph, 0, 0), 0);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 6; ++x) {
            EXPECT_EQ(PixelOf(Screen(), 10 + x, 5 + y), Code(x, y));
        }
    }
    for (int32_t y = 0; y < 8; ++y) {
        for (int32_t x = 0; x < 12; ++x) {
            EXPECT_EQ(PixelOf(Screen(), 28 + x, 2 + y), Code(5 - x / 2, y / 2)) << x << "," << y;
        }
    }
    EXPECT_EQ(PixelOf(Screen(), 50, 20), Code(2, 1));
    EXPECT_EQ(PixelOf(Screen(), 52, 21), Code(4, 2));
    EXPECT_EQ(PixelOf(Screen(), 53, 21), 0u);
    EXPECT_EQ(PixelOf(Screen(), 49, 20), 0u);
    EXPECT_EQ(PresentScreen(), 0);

    // The wipe of an area leaves the rest.
    const PixelRect area{10, 5, 12, 6};
    WipeDrawScreen(&area);
    EXPECT_EQ(PixelOf(Screen(), 11, 5), 0u);
    EXPECT_EQ(PixelOf(Screen(), 12, 5), Code(2, 0));
}

TEST_F(SoftwareScreenGraphTest, AGraphAsDrawTargetReceivesTheDraws)
{
    const int32_t canvas = CreateBlankGraph(16, 16);
    const int32_t sprite = CodedGraph(4, 4);
    ASSERT_EQ(SelectDrawTarget(canvas), 0);
    int32_t w = 0;
    QueryGraphSize(-2, &w, nullptr);
    EXPECT_EQ(g_drawSettings.clip.right, 16) << "the clip follows the graph target";
    WipeDrawScreen(nullptr);
    EXPECT_EQ(DrawGraphAt(14, 1, sprite, 0), 0);
    const MEMIMG& view = *SoftViewOf(FindGraphRecord(canvas));
    EXPECT_EQ(PixelOf(view, 14, 1), Code(0, 0));
    EXPECT_EQ(PixelOf(view, 15, 4), Code(1, 3));
    EXPECT_EQ(SetDrawClipRect(-5, -5, 100, 100), 0);
    EXPECT_EQ(g_drawSettings.clip.right, 16);
    EXPECT_EQ(g_drawSettings.clip.bottom, 16);

    // Back on the screen, the canvas draws like any graph.
    ASSERT_EQ(SelectDrawTarget(-2), 0);
    EXPECT_EQ(w, kWidth);
    WipeDrawScreen(nullptr);
    DrawGraphAt(0, 0, canvas, 0);
    EXPECT_EQ(PixelOf(Screen(), 15, 4), Code(1, 3));

    // A destroyed target refuses the clip, and draws no longer reach its freed pixels.
    ASSERT_EQ(SelectDrawTarget(canvas), 0);
    DestroyGraph(canvas);
    EXPECT_EQ(SetDrawClipRect(0, 0, 4, 4), -1);
    EXPECT_EQ(g_drawSettings.softDrawTarget, nullptr);
    EXPECT_EQ(DrawGraphAt(0, 0, sprite, 0), 0);
    ASSERT_EQ(SelectDrawTarget(-2), 0);
}

}  // namespace
