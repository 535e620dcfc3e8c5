#include <windows.h>

#include <gtest/gtest.h>

#include "formats.h"
#include "quarn/core/core.h"

namespace test {
namespace {

// A DIB header with room for a full palette.
struct DibHeader {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
    BITMAPINFO* Info() { return reinterpret_cast<BITMAPINFO*>(this); }
};

TEST(BaseImageToDib, ArgbBecomesNew24BitBuffer)
{
    BaseImage im{};
    ASSERT_EQ(AllocArgbBaseImage(3, 2, &im), 0);
    for (int i = 0; i < 6; ++i) StoreLe(im.pixels + i * 4, 4, 0x80000000u | (0x010203u * (i + 1)));
    DibHeader h;
    uint8_t* px = nullptr;
    EXPECT_EQ(BaseImageToDib(&im, h.Info(), &px, 0, 0), 1);
    ASSERT_NE(px, nullptr);
    EXPECT_NE(px, im.pixels);
    EXPECT_EQ(h.header.biSize, 40u);
    EXPECT_EQ(h.header.biWidth, 3);
    EXPECT_EQ(h.header.biHeight, -2);
    EXPECT_EQ(h.header.biBitCount, 24);
    EXPECT_EQ(h.header.biPlanes, 1);
    // Rows of 12 bytes (9 rounded up), blue, green, red.
    EXPECT_EQ(LoadLe(px + 12 + 2 * 3, 3), 0x010203u * 6);
    EXPECT_EQ(LoadLe(px, 3), 0x010203u);
    FreeTrackedMemory(px);
    DiscardBaseImage(&im);
}

TEST(BaseImageToDib, PalettedLendsOrCopies)
{
    BaseImage im{};
    const ColorFormat grey = Grey8();
    ASSERT_EQ(AllocBaseImage(4, 2, &grey, &im), 0);
    for (int i = 0; i < 8; ++i) im.pixels[i] = uint8_t(i * 10);
    DibHeader h;
    uint8_t* px = nullptr;
    EXPECT_EQ(BaseImageToDib(&im, h.Info(), &px, 0, 0), 0);
    EXPECT_EQ(px, im.pixels);
    EXPECT_EQ(h.header.biBitCount, 8);
    EXPECT_EQ(h.colours[200].rgbRed, 200);
    EXPECT_EQ(BaseImageToDib(&im, h.Info(), &px, 1, 0), 1);
    ASSERT_NE(px, im.pixels);
    EXPECT_EQ(px[5], 50);
    FreeTrackedMemory(px);
    // Forced to 24 bits, the palette colours are written out.
    EXPECT_EQ(BaseImageToDib(&im, h.Info(), &px, 0, 1), 1);
    EXPECT_EQ(h.header.biBitCount, 24);
    EXPECT_EQ(LoadLe(px + 12 + 3, 3), 0x323232u);
    FreeTrackedMemory(px);
    DiscardBaseImage(&im);
}

TEST(BaseImageToDib, Rgb888IsLentWhenRowsMatch)
{
    BaseImage im{};
    const ColorFormat rgb = Rgb888();
    ASSERT_EQ(AllocBaseImage(3, 1, &rgb, &im), 0);  // pitch 12 = DIB pitch
    DibHeader h;
    uint8_t* px = nullptr;
    EXPECT_EQ(BaseImageToDib(&im, h.Info(), &px, 0, 0), 0);
    EXPECT_EQ(px, im.pixels);
    DiscardBaseImage(&im);
    BaseImage none{};
    EXPECT_EQ(BaseImageToDib(&none, h.Info(), &px, 0, 0), -1);
}

}  // namespace
}  // namespace test
