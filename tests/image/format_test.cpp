#include <gtest/gtest.h>

#include <climits>

#include "formats.h"

namespace test {
namespace {

TEST(ColorFormat, RecordLayout)
{
    EXPECT_EQ(sizeof(ColorFormat), 1064u);
    EXPECT_EQ(offsetof(ColorFormat, palette), 32u);
    EXPECT_EQ(offsetof(ColorFormat, compression), 1060u);
}

TEST(ColorFormat, BuildersFillTheirFieldsAndLeaveTheRest)
{
    ColorFormat f;
    std::memset(&f, 0xAB, sizeof f);
    SetupXrgb8888Format(&f);
    EXPECT_EQ(f.bitDepth, 32);
    EXPECT_EQ(f.bytesPerPixel, 4);
    EXPECT_EQ(f.unusedMask, 0xFF000000u);
    EXPECT_EQ(f.unusedShift, 24);
    EXPECT_EQ(f.unusedWidth, 8);
    EXPECT_EQ(f.alphaWidth, 0);
    EXPECT_EQ(f.compression, 0u);
    EXPECT_EQ(f.palette[7].red, 0xAB);  // palette not written

    std::memset(&f, 0xAB, sizeof f);
    SetupArgb8888Format(&f);
    EXPECT_EQ(f.alphaMask, 0xFF000000u);
    EXPECT_EQ(f.alphaShift, 24);
    EXPECT_EQ(f.unusedMask, 0u);
    EXPECT_EQ(f.unusedShift, 0xAB);  // unused shift and width not written

    SetupGrey8Format(&f);
    EXPECT_EQ(f.bytesPerPixel, 1);
    EXPECT_EQ(f.unusedShift, 0xAB);
    for (int i : {0, 77, 255}) {
        EXPECT_EQ(f.palette[i].red, i);
        EXPECT_EQ(f.palette[i].blue, i);
        EXPECT_EQ(f.palette[i].alpha, 0);
    }
    SetupRgb888Format(&f);
    EXPECT_EQ(f.bytesPerPixel, 3);
    EXPECT_EQ(f.unusedMask, 0u);
}

TEST(ColorFormat, FromMasks)
{
    ColorFormat f = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0);
    EXPECT_EQ(f.unusedMask, 0xFF000000u);
    EXPECT_EQ(f.unusedShift, 24);
    EXPECT_EQ(f.unusedWidth, 8);
    f = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
    EXPECT_EQ(f.unusedMask, 0u);
    EXPECT_EQ(f.unusedShift, 0);
    EXPECT_EQ(f.unusedWidth, 0);
    f = R5G6B5();
    EXPECT_EQ(f.greenShift, 5);
    EXPECT_EQ(f.greenWidth, 6);
    EXPECT_EQ(f.redShift, 11);
    EXPECT_EQ(f.unusedMask, 0u);
    f = X1R5G5B5();
    EXPECT_EQ(f.unusedMask, 0x8000u);
    EXPECT_EQ(f.unusedShift, 15);
    EXPECT_EQ(f.unusedWidth, 1);
    EXPECT_EQ(f.bytesPerPixel, 2);
}

TEST(ColorFormat, RecomputeUnusedBitsKeepsShiftAndWidth)
{
    ColorFormat f = X1R5G5B5();
    f.alphaMask = 0x8000;
    f.alphaWidth = 1;
    RecomputeUnusedBits(&f);
    EXPECT_EQ(f.unusedMask, 0u);
    EXPECT_EQ(f.unusedShift, 15);
    f.alphaMask = 0;
    f.alphaWidth = 0;
    RecomputeUnusedBits(&f);
    EXPECT_EQ(f.unusedMask, 0x8000u);
}

TEST(PixelCode, Encode)
{
    const ColorFormat xrgb = Xrgb(), r565 = R5G6B5(), a4 = A4R4G4B4();
    EXPECT_EQ(EncodePixelColor(&xrgb, 1, 2, 3, 99), 0xFF010203u);
    EXPECT_EQ(EncodePixelColor(&r565, 255, 255, 255, 0), 0xFFFFu);
    EXPECT_EQ(EncodePixelColor(&r565, 7, 3, 7, 0), 0u);  // cut, not rounded
    EXPECT_EQ(EncodePixelColor(&a4, 0x10, 0x20, 0x30, 0xFF), 0xF123u);
}

TEST(PixelCode, EncodePalettedTakesNearestLowestIndex)
{
    ColorFormat f{};
    SetupPalette8Format(&f);
    for (auto& e : f.palette) e = {200, 200, 200, 0};
    f.palette[5] = {10, 10, 10, 0};
    f.palette[9] = {30, 30, 30, 0};  // 10 away from 20, as is entry 5
    EXPECT_EQ(EncodePixelColor(&f, 20, 20, 20, 0), 5u);
    EXPECT_EQ(EncodePixelColor(&f, 29, 29, 29, 0), 9u);
    // Components outside 0..255 search as the nearest end of the range.
    const ColorFormat grey = Grey8();
    EXPECT_EQ(EncodePixelColor(&grey, INT_MAX, INT_MAX, INT_MAX, 0), 255u);
    EXPECT_EQ(EncodePixelColor(&grey, INT_MIN, INT_MIN, INT_MIN, 0), 0u);
    EXPECT_EQ(EncodePixelColor(&grey, 300, -40, 1 << 20, 0), EncodePixelColor(&grey, 255, 0, 255, 0));
}

TEST(PixelCode, Decode)
{
    const ColorFormat r565 = R5G6B5(), argb = Argb(), a1 = A1R5G5B5();
    int r = -1, g = -1, b = -1, a = -1;
    DecodePixelColor(&r565, 0xFFFF, &r, &g, &b, &a);
    EXPECT_EQ(std::vector<int>({r, g, b, a}), std::vector<int>({255, 255, 255, 0}));
    DecodePixelColor(&r565, 0x8410, &r, &g, &b, nullptr);  // 16 of 31, 32 of 63
    EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({131, 129, 131}));
    DecodePixelColor(&argb, 0x80FF4001, &r, &g, &b, &a);
    EXPECT_EQ(std::vector<int>({r, g, b, a}), std::vector<int>({0xFF, 0x40, 0x01, 0x80}));
    DecodePixelColor(&a1, 0x8000, nullptr, nullptr, nullptr, &a);
    EXPECT_EQ(a, 255);
}

}  // namespace
}  // namespace test
