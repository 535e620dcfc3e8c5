#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <utility>

#include "formats.h"
#include "quarn/core/core.h"

namespace test {
namespace {

// An image that discards itself.
struct Image : BaseImage {
    Image() : BaseImage{} {}
    Image(int w, int h, const ColorFormat& f) : BaseImage{} { EXPECT_EQ(AllocBaseImage(w, h, &f, this), 0); }
    ~Image() { DiscardBaseImage(this); }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    uint32_t At(int x, int y) const
    {
        return LoadLe(pixels + y * pitch + x * format.bytesPerPixel, format.bytesPerPixel);
    }
    void Set(int x, int y, uint32_t v)
    {
        StoreLe(pixels + y * pitch + x * format.bytesPerPixel, format.bytesPerPixel, v);
    }
    void Fill(uint32_t v)
    {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) Set(x, y, v);
    }
};

TEST(BaseImage, AllocAndDiscard)
{
    Image a(5, 3, Rgb888());
    EXPECT_EQ(a.pitch, 16);  // 15 bytes rounded to whole words
    EXPECT_EQ(a.mipmapCount, 0);
    ASSERT_NE(a.pixels, nullptr);
    Image g(3, 2, Grey8());
    EXPECT_EQ(g.pitch, 4);

    Image x;
    ASSERT_EQ(AllocArgbBaseImage(7, 2, &x), 0);
    EXPECT_EQ(x.pitch, 28);
    EXPECT_EQ(x.format.alphaMask, 0xFF000000u);
    DiscardBaseImage(&x);
    EXPECT_EQ(x.pixels, nullptr);
    EXPECT_EQ(x.width, 0);
    EXPECT_EQ(x.format.bitDepth, 0);
}

int AllocArgbLike(int w, int h, BaseImage* out)
{
    const ColorFormat f = Argb();
    return AllocBaseImage(w, h, &f, out);
}

// A size that cannot be held is refused before anything is allocated: the record keeps its
// sizes with no pixels, so access through it is refused too, and no memory is held.
TEST(BaseImage, RefusedAllocationHoldsNoPixels)
{
    const struct {
        const char* what;
        int (*alloc)(int w, int h, BaseImage* out);
        int w, h;
    } cases[] = {
        {"block past 2 GiB", AllocXrgbBaseImage, 0x10000, 0x10000},
        {"argb pitch past 2 GiB", AllocArgbBaseImage, 0x20000000, 2},
        {"xrgb pitch past 2 GiB", AllocXrgbBaseImage, 0x20000000, 2},
        {"pitch past 2 GiB", AllocArgbLike, 0x20000000, 2},
        {"negative width", AllocArgbBaseImage, -1, 2},
        {"negative height", AllocArgbLike, 3, -2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int32_t blocks = GetAllocatorTotals().blockCount;
        Image im;
        ASSERT_EQ(c.alloc(c.w, c.h, &im), -1);
        EXPECT_EQ(im.pixels, nullptr);
        EXPECT_EQ(GetAllocatorTotals().blockCount, blocks);
        EXPECT_EQ(im.width, c.w);
        EXPECT_EQ(im.height, c.h);
        EXPECT_EQ(ReadBaseImagePixelArgb(&im, 5, 0), 0u);
        EXPECT_EQ(WriteBaseImagePixel(&im, 3, 1, 1, 2, 3, 4), -1);
        EXPECT_EQ(ClearBaseImageRect(&im, 0, 0, 8, 2), 0);
    }
}

TEST(BaseImage, ClearStaysInsideTheImage)
{
    Image a(4, 3, R5G6B5());
    a.Fill(0xFFFF);
    ClearBaseImageRect(&a, 1, 1, 2, 5);
    EXPECT_EQ(a.At(1, 1), 0u);
    EXPECT_EQ(a.At(2, 2), 0u);
    EXPECT_EQ(a.At(0, 1), 0xFFFFu);
    EXPECT_EQ(a.At(3, 2), 0xFFFFu);
    EXPECT_EQ(a.At(1, 0), 0xFFFFu);
    EXPECT_EQ(ClearBaseImageRect(&a, 0, 0, 4, 0), 0);

    // Positions and sizes at the ends of the int range clip without wrapping: x + width is
    // the right edge, so only the last case reaches into the image (columns 2 and 3).
    const struct {
        int x, y, w, h;
    } far[] = {
        {-1, 0, INT_MIN, 1},
        {0, -1, 4, INT_MIN},
        {INT_MIN, 0, INT_MAX, 1},
        {0, INT_MIN, 4, INT_MAX},
        {INT_MAX, 0, INT_MAX, 1},
        {0, INT_MAX, 4, INT_MAX},
        {-3, 0, 3, 3},
        {2, 0, INT_MAX, 1},
    };
    for (const auto& c : far) {
        Image b(4, 3, R5G6B5());
        b.Fill(0xFFFF);
        EXPECT_EQ(ClearBaseImageRect(&b, c.x, c.y, c.w, c.h), 0);
        const bool last = c.x == 2;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(b.At(x, y), last && y == 0 && x >= 2 ? 0u : 0xFFFFu)
                    << c.x << "," << c.y << " " << c.w << "x" << c.h << " at " << x << "," << y;
    }
}

TEST(BaseImage, MirrorEachPixelSize)
{
    for (const ColorFormat& f : {Grey8(), R5G6B5(), Rgb888(), Argb()}) {
        Image a(5, 2, f);
        for (int x = 0; x < 5; ++x) a.Set(x, 1, 0x10203 * (x + 1));
        ASSERT_EQ(MirrorBaseImage(&a), 0);
        const uint32_t mask = f.bytesPerPixel == 4 ? 0xFFFFFFFF : (1u << 8 * f.bytesPerPixel) - 1;
        for (int x = 0; x < 5; ++x) EXPECT_EQ(a.At(x, 1), (0x10203u * (5 - x)) & mask);
    }
    Image empty(0, 3, Argb());
    EXPECT_EQ(MirrorBaseImage(&empty), -1);
    // A failed allocation leaves the sizes without pixels: refused, not dereferenced.
    Image failed;
    failed.format = Argb();
    failed.width = 3;
    failed.height = 2;
    EXPECT_EQ(MirrorBaseImage(&failed), -1);
}

TEST(BaseImage, ReadArgbPutsChannelBitsAtTheTop)
{
    Image a(1, 1, R5G6B5());
    a.Set(0, 0, 0xFFFF);
    EXPECT_EQ(ReadBaseImagePixelArgb(&a, 0, 0), 0x00F8FCF8u);
    Image b(1, 1, A1R5G5B5());
    b.Set(0, 0, 0x8000 | 0x001F);
    EXPECT_EQ(ReadBaseImagePixelArgb(&b, 0, 0), 0x800000F8u);
    Image g(1, 1, Grey8());
    g.Set(0, 0, 0x42);
    EXPECT_EQ(ReadBaseImagePixelArgb(&g, 0, 0), 0x00424242u);
    Image none;
    EXPECT_EQ(ReadBaseImagePixelArgb(&none, 0, 0), 0u);
    // Outside the image there is nothing to read.
    for (auto [x, y] : {std::pair{1, 0}, {0, 1}, {-1, 0}, {0, INT_MIN}})
        EXPECT_EQ(ReadBaseImagePixelArgb(&a, x, y), 0u) << x << "," << y;
}

TEST(BaseImage, PixelReadWriteAndRange)
{
    for (const ColorFormat& f : {Grey8(), R5G6B5(), Rgb888(), Argb()}) {
        Image a(3, 2, f);
        a.Fill(0);
        ASSERT_EQ(WriteBaseImagePixel(&a, 2, 1, 255, 255, 255, 255), 0);
        int r = -1, g = -1, b = -1, al = -1;
        ASSERT_EQ(ReadBaseImagePixelRgba(&a, 2, 1, &r, &g, &b, &al), 0);
        EXPECT_EQ(r, 255);
        EXPECT_EQ(b, 255);
        EXPECT_EQ(a.At(1, 1), 0u);
        for (auto [x, y] : {std::pair{3, 0}, {0, 2}, {-1, 0}, {0, -1}}) {
            r = -7;
            EXPECT_EQ(ReadBaseImagePixelRgba(&a, x, y, &r, nullptr, nullptr, nullptr), -1);
            EXPECT_EQ(r, -7);
            EXPECT_EQ(WriteBaseImagePixel(&a, x, y, 1, 2, 3, 4), -1);
        }
    }
}

TEST(BaseImage, CopyClipsBothSides)
{
    Image src(10, 4, Argb()), dst(12, 4, Argb());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 10; ++x) src.Set(x, y, 0xFF000000u | (y << 8) | x);
    dst.Fill(0);
    // Source x -3, width 10: seven columns land at destination x + 3.
    ASSERT_EQ(CopyBaseImageRect(-3, 0, 10, 1, 2, 1, &src, &dst), 0);
    EXPECT_EQ(dst.At(4, 1), 0u);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(dst.At(5 + i, 1), 0xFF000000u | i);
    // Negative destination, and cuts at the far edges.
    dst.Fill(0);
    ASSERT_EQ(CopyBaseImageRect(0, 0, 20, 20, -2, -1, &src, &dst), 0);
    EXPECT_EQ(dst.At(0, 0), 0xFF000102u);
    EXPECT_EQ(dst.At(7, 2), 0xFF000309u);
    EXPECT_EQ(dst.At(8, 0), 0u);
    EXPECT_EQ(dst.At(0, 3), 0u);
    EXPECT_EQ(CopyBaseImageRect(10, 0, 5, 5, 0, 0, &src, &dst), 0);  // nothing inside
    // Positions and sizes at the ends of the int range clip like any other.
    dst.Fill(0);
    ASSERT_EQ(CopyBaseImageRect(0, 0, INT_MAX, 1, 5, 1, &src, &dst), 0);
    for (int x = 0; x < 12; ++x) EXPECT_EQ(dst.At(x, 1), x < 5 ? 0u : 0xFF000000u | (x - 5));  // source row 0
    ASSERT_EQ(CopyBaseImageRect(INT_MIN, 0, INT_MAX, 4, 0, 0, &src, &dst), 0);
    ASSERT_EQ(CopyBaseImageRect(2, 0, 4, 4, INT_MIN + 1, 0, &src, &dst), 0);
    ASSERT_EQ(CopyBaseImageRect(INT_MAX, 0, INT_MAX, 1, INT_MIN, 0, &src, &dst), 0);
    EXPECT_EQ(dst.At(0, 0), 0u);
}

// One image as source and destination: overlapping rectangles copy as if through a separate
// copy of the source, in every direction and for each pixel size.
TEST(BaseImage, CopyWithinOneImageMovesOverlappingRectangles)
{
    const std::pair<int, int> shifts[] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {2, 3}, {-3, -1}, {1, -2}, {0, 0}};
    for (const ColorFormat& f : {Grey8(), R5G6B5(), Rgb888(), Argb()}) {
        for (auto [ox, oy] : shifts) {
            Image im(9, 8, f), before(9, 8, f);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 9; ++x) im.Set(x, y, uint32_t(y * 9 + x + 1) * 0x01030507u);
            std::memcpy(before.pixels, im.pixels, size_t(im.pitch) * 8);
            const int sx = 3, sy = 3, w = 5, h = 4;
            ASSERT_EQ(CopyBaseImageRect(sx, sy, w, h, sx + ox, sy + oy, &im, &im), 0);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 9; ++x) {
                    const int rx = x - ox - sx, ry = y - oy - sy;
                    const bool moved = x >= sx + ox && rx < w && y >= sy + oy && ry < h;
                    ASSERT_EQ(im.At(x, y), moved ? before.At(sx + rx, sy + ry) : before.At(x, y))
                        << f.bitDepth << " bits, shift " << ox << "," << oy << " at " << x << "," << y;
                }
        }
    }
}

TEST(BaseImage, CopyConvertsAndRemapsPalettes)
{
    Image src(2, 1, R5G6B5()), dst(2, 1, Xrgb());
    src.Set(0, 0, 0xF800);
    src.Set(1, 0, 0x001F);
    CopyBaseImageRect(0, 0, 2, 1, 0, 0, &src, &dst);
    EXPECT_EQ(dst.At(0, 0) & 0xFFFFFF, 0xF80000u);
    EXPECT_EQ(dst.At(1, 0) & 0xFFFFFF, 0x0000F8u);

    ColorFormat p{};
    SetupPalette8Format(&p);
    for (int i = 0; i < 256; ++i) p.palette[i] = {uint8_t(255 - i), uint8_t(255 - i), uint8_t(255 - i), 0};
    Image g(2, 1, Grey8()), inv(2, 1, p);
    g.Set(0, 0, 10);
    g.Set(1, 0, 250);
    CopyBaseImageRect(0, 0, 2, 1, 0, 0, &g, &inv);
    EXPECT_EQ(inv.At(0, 0), 245u);
    EXPECT_EQ(inv.At(1, 0), 5u);
}

TEST(BaseImage, ScaleRefusesBadRectangles)
{
    Image a(4, 4, Argb()), b(8, 8, Argb());
    EXPECT_EQ(ScaleBaseImageRect(0, 0, 5, 4, &a, 0, 0, 8, 8, &b, 0), -1);
    EXPECT_EQ(ScaleBaseImageRect(2, 0, 2, 4, &a, 0, 0, 8, 8, &b, 0), -1);
    EXPECT_EQ(ScaleBaseImageRect(0, 0, 4, 4, &a, 0, -1, 8, 8, &b, 1), -1);
}

TEST(BaseImage, ScaleEqualSizeIsTheCopy)
{
    Image a(3, 3, R5G6B5()), b(3, 3, Xrgb()), c(3, 3, Xrgb());
    for (int i = 0; i < 9; ++i) a.Set(i % 3, i / 3, 0x1234 * (i + 1));
    b.Fill(0);
    c.Fill(0);
    ASSERT_EQ(ScaleBaseImageRect(1, 1, 3, 3, &a, 0, 1, 2, 3, &b, 1), 0);
    CopyBaseImageRect(1, 1, 2, 2, 0, 1, &a, &c);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(b.At(i % 3, i / 3), c.At(i % 3, i / 3));
}

TEST(BaseImage, ScaleNearestRepeatsPixels)
{
    Image a(2, 2, Argb()), b(4, 4, Argb());
    const uint32_t v[4] = {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004};
    for (int i = 0; i < 4; ++i) a.Set(i % 2, i / 2, v[i]);
    ASSERT_EQ(ScaleBaseImageRect(0, 0, 2, 2, &a, 0, 0, 4, 4, &b, 0), 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(b.At(x, y), v[(y / 2) * 2 + x / 2]);
}

TEST(BaseImage, ScaleBilinearKeepsUniformImagesAndEdges)
{
    // A uniform image, including a one-pixel one, scales to the same uniform image.
    for (int size : {1, 3}) {
        Image a(size, size, Argb()), b(7, 5, Argb());
        a.Fill(0xFFFFFFFF);
        b.Fill(0);
        ASSERT_EQ(ScaleBaseImageRect(0, 0, size, size, &a, 0, 0, 7, 5, &b, 1), 0);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) ASSERT_EQ(b.At(x, y), 0xFFFFFFFFu) << size << " " << x << "," << y;
    }
    // Bottom row white, top black: the last rows never blend with anything outside the image,
    // and columns stay apart.
    Image a(2, 2, Xrgb()), b(4, 4, Xrgb());
    a.Set(0, 0, 0xFF000000);
    a.Set(1, 0, 0xFF000000);
    a.Set(0, 1, 0xFFFFFFFF);
    a.Set(1, 1, 0xFFFFFFFF);
    ASSERT_EQ(ScaleBaseImageRect(0, 0, 2, 2, &a, 0, 0, 4, 4, &b, 1), 0);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(b.At(x, 0) & 0xFFFFFF, 0u);
        EXPECT_EQ(b.At(x, 1) & 0xFFFFFF, 0x7F7F7Fu);  // half way, cut
        EXPECT_EQ(b.At(x, 2) & 0xFFFFFF, 0xFFFFFFu);
        EXPECT_EQ(b.At(x, 3) & 0xFFFFFF, 0xFFFFFFu);
    }
}

// A 4 x 4 image holding one block of the given compression kind (1 = DXT1, 5 = DXT5).
void MakeOneBlock(Image* im, uint32_t kind, const uint8_t* block, int bytes)
{
    im->format = Argb();
    im->format.bitDepth = kind == 1 ? 4 : 8;
    im->format.compression = kind;
    im->width = 4;
    im->height = 4;
    im->pixels = static_cast<uint8_t*>(AllocTrackedMemory(uint32_t(bytes), "", 0));
    std::memcpy(im->pixels, block, size_t(bytes));
}

// A DXT1 block of two colours, and a DXT5 block with explicit alpha.
TEST(BaseImage, ExpandsCompressedPixelsOnAccess)
{
    const uint8_t block[8] = {0x00, 0xF8, 0x1F, 0x00, 0b00011011, 0, 0, 0};  // red, blue
    Image im;
    MakeOneBlock(&im, 1, block, 8);
    int r, g, b, a;
    ASSERT_EQ(ReadBaseImagePixelRgba(&im, 0, 0, &r, &g, &b, &a), 0);
    EXPECT_EQ(im.format.compression, 0u);
    EXPECT_EQ(im.pitch, 16);
    // Indices of row 0: pixel 0 = 3, 1 = 2, 2 = 1, 3 = 0.
    EXPECT_EQ(im.At(3, 0), 0xFFFF0000u);
    EXPECT_EQ(im.At(2, 0), 0xFF0000FFu);
    EXPECT_EQ(im.At(1, 0), 0xFFAA0055u);  // (2 c0 + c1) / 3
    EXPECT_EQ(im.At(0, 0), 0xFF5500AAu);
    EXPECT_EQ(im.At(0, 1), 0xFFFF0000u);

    // Mirroring expands the blocks first and reverses the pixels, not the block bytes.
    Image mirrored;
    MakeOneBlock(&mirrored, 1, block, 8);
    ASSERT_EQ(MirrorBaseImage(&mirrored), 0);
    EXPECT_EQ(mirrored.format.compression, 0u);
    EXPECT_EQ(mirrored.At(0, 0), 0xFFFF0000u);
    EXPECT_EQ(mirrored.At(3, 0), 0xFF5500AAu);

    const uint8_t b5[16] = {200,  100,  0x01, 0,    0, 0, 0, 0,  // pixel 0 index 1, others 0
                            0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    Image t;
    MakeOneBlock(&t, 5, b5, 16);
    ASSERT_EQ(ExpandCompressedBaseImage(&t), 0);
    EXPECT_EQ(t.At(0, 0), 0x64FFFFFFu);
    EXPECT_EQ(t.At(1, 0), 0xC8FFFFFFu);

    // A row wider than a pitch can hold is refused even when there are no rows.
    Image wide;
    MakeOneBlock(&wide, 1, block, 8);
    wide.width = 0x20000000;
    wide.height = 0;
    EXPECT_EQ(ExpandCompressedBaseImage(&wide), -1);
    EXPECT_EQ(wide.format.compression, 1u);
}

}  // namespace
}  // namespace test
