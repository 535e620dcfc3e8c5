// Keeping the screen's proportions while a window border is dragged.
#include <gtest/gtest.h>

#include "quarn/system/window_layout.h"

namespace {

using quarn::PixelRect;

constexpr int32_t kFrameW = 16;
constexpr int32_t kFrameH = 39;

// The application's 300 x 60 screen in a frame that adds 16 x 39.
TEST(WindowSizing, TheDraggedBorderSetsTheScaleAndTheOppositeSidesStay)
{
    struct Case {
        int32_t edge;
        PixelRect proposed;  // as the system proposes it, frame included
        PixelRect kept;
        double scale;
    };
    const Case cases[] = {
        // Width drives: the right or left border moves, the bottom follows.
        {kSizingRight, {100, 100, 100 + kFrameW + 600, 100 + kFrameH + 7}, {100, 100, 716, 100 + kFrameH + 120}, 2.0},
        {kSizingLeft, {100, 100, 700, 150}, {100, 100, 700, 100 + kFrameH + 116}, 584.0 / 300},
        {kSizingBottomRight, {0, 0, kFrameW + 150, 500}, {0, 0, kFrameW + 150, kFrameH + 30}, 0.5},
        {kSizingBottomLeft, {50, 0, 50 + kFrameW + 450, 9}, {50, 0, 50 + kFrameW + 450, kFrameH + 90}, 1.5},
        // Top-left: width drives, and the top moves up from a fixed bottom.
        {kSizingTopLeft, {0, 0, kFrameW + 150, 500}, {0, 500 - kFrameH - 30, kFrameW + 150, 500}, 0.5},
        {kSizingTopRight, {0, 0, kFrameW + 600, 10}, {0, 10 - kFrameH - 120, kFrameW + 600, 10}, 2.0},
        // Height drives: the width follows from the left side.
        {kSizingBottom, {20, 20, 40, 20 + kFrameH + 90}, {20, 20, 20 + kFrameW + 450, 20 + kFrameH + 90}, 1.5},
        {kSizingTop, {20, 20, 40, 20 + kFrameH + 30}, {20, 20, 20 + kFrameW + 150, 20 + kFrameH + 30}, 0.5},
        // A client area that would be empty becomes the screen's own size.
        {kSizingRight, {0, 0, kFrameW + 4, 0}, {0, 0, kFrameW + 300, kFrameH + 60}, 1.0},
        {kSizingTop, {0, 0, 0, kFrameH}, {0, -60, kFrameW + 300, kFrameH}, 1.0},
    };
    for (const Case& c : cases) {
        PixelRect rect = c.proposed;
        double sx = 0.0;
        double sy = 0.0;
        KeepClientProportions(c.edge, kFrameW, kFrameH, 300, 60, &rect, &sx, &sy);
        EXPECT_EQ(rect.left, c.kept.left) << "edge " << c.edge;
        EXPECT_EQ(rect.top, c.kept.top) << "edge " << c.edge;
        EXPECT_EQ(rect.right, c.kept.right) << "edge " << c.edge;
        EXPECT_EQ(rect.bottom, c.kept.bottom) << "edge " << c.edge;
        EXPECT_DOUBLE_EQ(sx, c.scale) << "edge " << c.edge;
        EXPECT_DOUBLE_EQ(sy, double(rect.bottom - rect.top - kFrameH) / 60) << "edge " << c.edge;
    }
}

TEST(WindowSizing, FarOutRectanglesDoNotOverflow)
{
    // Four billion pixels high make a width five times that.
    PixelRect rect{0, -2000000000, 100, 2000000000};
    double sx = 0.0;
    double sy = 0.0;
    KeepClientProportions(kSizingBottom, kFrameW, kFrameH, 300, 60, &rect, &sx, &sy);
    EXPECT_EQ(rect.right, INT32_MAX) << "held to the range";
    EXPECT_EQ(rect.bottom, 2000000000);
    EXPECT_GT(sx, 1e7);
    EXPECT_NEAR(sx / sy, 1.0, 1e-6);
}

}  // namespace
