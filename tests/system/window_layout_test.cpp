// Keeping the screen's proportions while a window border is dragged.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "quarn/image/image.h"
#include "quarn/system/window_layout.h"

namespace {

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

// ---- The layered window's picture

namespace {

TEST(LayeredPicture, IsTheImageWithTheCaptionHeightAbove)
{
    struct Case {
        int32_t width, height, caption;
        int32_t result, outWidth, outHeight;
    };
    const Case cases[] = {
        {300, 60, 0, 0, 300, 60},    {300, 60, 23, 0, 300, 83},
        {300, 60, -5, 0, 300, 60},  // a window without caption
        {0, 60, 23, -1, 0, 0},       {300, 0, 23, -1, 0, 0},
        {65536, 8192, 23, -1, 0, 0},  // more bytes than a 32-bit size holds
        {1, INT32_MAX, 1, -1, 0, 0},
    };
    for (const Case& c : cases) {
        int32_t w = 0;
        int32_t h = 0;
        EXPECT_EQ(LayeredPictureSize(c.width, c.height, c.caption, &w, &h), c.result) << c.width << "x" << c.height;
        EXPECT_EQ(w, c.outWidth);
        EXPECT_EQ(h, c.outHeight);
    }
}

// A 3 x 2 image of the given format holding the given pixels, row by row.
struct SmallImage {
    BaseImage image{};
    uint32_t pixels[6]{};
    uint16_t pixels16[6]{};
};

void MakeSmallImage(SmallImage* out, int bits, uint32_t alphaMask, const uint32_t values[6])
{
    if (bits == 16) {
        SetupFormatFromMasks(&out->image.format, 16, 0xF800, 0x07E0, 0x001F, 0);
        for (int i = 0; i < 6; ++i) out->pixels16[i] = static_cast<uint16_t>(values[i]);
        out->image.pixels = reinterpret_cast<uint8_t*>(out->pixels16);
        out->image.pitch = 6;
    } else {
        SetupFormatFromMasks(&out->image.format, 32, 0xFF0000, 0xFF00, 0xFF, alphaMask);
        for (int i = 0; i < 6; ++i) out->pixels[i] = values[i];
        out->image.pixels = reinterpret_cast<uint8_t*>(out->pixels);
        out->image.pitch = 12;
    }
    out->image.width = 3;
    out->image.height = 2;
}

constexpr uint32_t kUntouched = 0xABABABAB;

TEST(LayeredPicture, TransparentColourIsCutOutAndTheRestIsOpaque)
{
    // The screen's x8 byte holds junk: without the image's alpha it must not show.
    const uint32_t xrgb[6] = {0x00102030, 0x55000000, 0x00FFFFFF, 0x7F102030, 0x00000001, 0x00000000};
    // The same colours in R5G6B5, the hardware's 16-bit back buffer.
    const uint32_t rgb565[6] = {0x1104, 0x0000, 0xFFFF, 0x1104, 0x0000, 0xF800};
    struct Case {
        const char* name;
        int bits;
        const uint32_t* values;
        uint32_t key;
        uint32_t expected[6];
    };
    const Case cases[] = {
        {"xrgb, black key",
         32,
         xrgb,
         0x000000,
         {0xFF102030, 0x00000000, 0xFFFFFFFF, 0xFF102030, 0xFF000001, 0x00000000}},
        {"xrgb, white key",
         32,
         xrgb,
         0xFFFFFF,
         {0xFF102030, 0xFF000000, 0x00000000, 0xFF102030, 0xFF000001, 0xFF000000}},
        {"rgb565, black key",
         16,
         rgb565,
         0x000000,
         {0xFF102020, 0x00000000, 0xFFF8FCF8, 0xFF102020, 0x00000000, 0xFFF80000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmallImage small;
        MakeSmallImage(&small, c.bits, 0, c.values);
        uint32_t picture[3 * 4];
        std::fill(std::begin(picture), std::end(picture), kUntouched);
        ASSERT_EQ(FillLayeredPicture(reinterpret_cast<uint8_t*>(picture), 12, 3, 4, &small.image, 2, c.key, 0), 0);
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(picture[i], kUntouched) << "caption row pixel " << i;
            EXPECT_EQ(picture[6 + i], c.expected[i]) << "pixel " << i;
        }
    }
}

TEST(LayeredPicture, ImageAlphaIsKeptWhenAskedAndPremultiplied)
{
    const uint32_t argb[6] = {0xFF102030, 0x00FFFFFF, 0x80FF0000, 0xFF000000, 0x40404040, 0xC0000000};
    SmallImage small;
    MakeSmallImage(&small, 32, 0xFF000000, argb);
    uint32_t picture[6];
    ASSERT_EQ(FillLayeredPicture(reinterpret_cast<uint8_t*>(picture), 12, 3, 2, &small.image, 0, 0x000000, 1), 0);
    // Black, the transparent colour, stays as its alpha says.
    const uint32_t expected[6] = {0xFF102030, 0x00000000, 0x80800000, 0xFF000000, 0x40101010, 0xC0000000};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(picture[i], expected[i]) << "pixel " << i;

    // An image without alpha is opaque throughout.
    const uint32_t xrgb[6] = {0x00102030, 0x12000000, 0, 0, 0, 0};
    MakeSmallImage(&small, 32, 0, xrgb);
    ASSERT_EQ(FillLayeredPicture(reinterpret_cast<uint8_t*>(picture), 12, 3, 2, &small.image, 0, 0x000000, 1), 0);
    EXPECT_EQ(picture[0], 0xFF102030u);
    EXPECT_EQ(picture[1], 0xFF000000u);
}

TEST(LayeredPicture, RefusesAPictureTooSmallForTheImage)
{
    const uint32_t xrgb[6] = {1, 2, 3, 4, 5, 6};
    SmallImage small;
    MakeSmallImage(&small, 32, 0, xrgb);
    uint32_t picture[4 * 4];
    std::fill(std::begin(picture), std::end(picture), kUntouched);
    uint8_t* bytes = reinterpret_cast<uint8_t*>(picture);
    EXPECT_EQ(FillLayeredPicture(bytes, 12, 3, 3, &small.image, 2, 0, 0), -1);  // no room for the caption rows
    EXPECT_EQ(FillLayeredPicture(bytes, 12, 2, 4, &small.image, 2, 0, 0), -1);  // too narrow
    EXPECT_EQ(FillLayeredPicture(bytes, 8, 3, 4, &small.image, 2, 0, 0), -1);   // rows overlap
    EXPECT_EQ(FillLayeredPicture(bytes, 12, 3, 4, nullptr, 2, 0, 0), -1);
    for (uint32_t p : picture) EXPECT_EQ(p, kUntouched);
}

}  // namespace
