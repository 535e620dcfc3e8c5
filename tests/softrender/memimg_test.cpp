#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/core/screen_settings.h"
#include "quarn/softrender/softrender.h"
#include "test_images.h"

using testimg::Get;
using testimg::Img;
using testimg::Put;

namespace {

int Bpp(const MEMIMG& v) { return testimg::BytesPerPixel(v); }

std::vector<uint8_t> RunBytes(const MEMIMG& v)
{
    std::vector<uint8_t> out;
    const uint8_t* r = v.store->runTable;
    for (int line = 0; line < v.height; ++line) {
        do out.push_back(*r);
        while (*r++ != kRunEndOfLine);
    }
    return out;
}

}  // namespace

TEST(MemImgCreate, PitchLog2PitchAndPixelSize)
{
    struct Case {
        int width, height, pitch, kind, paletted, alpha;
        int wantPitch, wantLog2, wantBpp, wantPaletted, wantAlpha;
    };
    const Case cases[] = {
        {300, 60, -1, 1, 0, 0, 1200, -1, 4, 0, 0},
        {256, 1, -1, 1, 0, 0, 1024, 10, 4, 0, 0},
        {2, 1, -1, 1, 0, 0, 16, -1, 4, 0, 0},  // a row of 8 bytes in a pitch of 16
        {3, 1, -1, 1, 0, 0, 16, 4, 4, 0, 0},   // 12 bytes: the next power of two is 16
        {4, 1, -1, 0, 0, 0, 16, -1, 2, 0, 0},
        {8, 2, -1, 0, 0, 1, 32, 5, 4, 0, 1},   // kind 0 with alpha has 4 bytes a pixel
        {5, 5, -1, 1, 1, 1, 16, -1, 1, 1, 0},  // paletted asked with alpha has no alpha
        {5, 5, -1, 2, 1, 1, 16, -1, 1, 0, 0},
        {5, 5, -1, 3, 1, 1, 16, 4, 2, 0, 0},
        {10, 3, 64, 1, 0, 0, 64, 6, 4, 0, 0},
        {10, 3, 48, 1, 0, 0, 48, -1, 4, 0, 0},
    };
    for (const Case& c : cases) {
        Img img;
        ASSERT_EQ(CreateMemImgWithOptions(&img.v, c.width, c.height, c.pitch, 0, c.kind, c.paletted, c.alpha, 0,
                                          nullptr),
                  0);
        const MemImgBase* s = img.v.store;
        EXPECT_EQ(s->pitch, c.wantPitch) << c.width << "x" << c.height;
        EXPECT_EQ(s->log2Pitch, c.wantLog2) << c.width << "x" << c.height;
        EXPECT_EQ(Bpp(img.v), c.wantBpp);
        EXPECT_EQ(s->paletted, c.wantPaletted);
        EXPECT_EQ(s->alpha, c.wantAlpha);
        EXPECT_EQ(s->refCount, 1);
        EXPECT_EQ(img.v.magic, kMemImgMagic);
        EXPECT_EQ(img.v.pixels, s->pixels);
        EXPECT_EQ(s->format->bytesPerPixel, c.wantBpp);
        EXPECT_EQ(s->palette != nullptr, c.wantPaletted == 1);
        if (s->palette) {
            EXPECT_EQ(s->secondPalette, s->palette + 1024);
        }
    }
}

TEST(MemImgCreate, BuildFlagAddsPremultipliedAndRunBuffers)
{
    Img alpha, plain, grey;
    ASSERT_EQ(CreateMemImgWithOptions(&alpha.v, 7, 3, -1, 0, 1, 0, 1, 1, nullptr), 0);
    ASSERT_EQ(CreateMemImgWithOptions(&plain.v, 7, 3, -1, 0, 0, 0, 0, 1, nullptr), 0);
    ASSERT_EQ(CreateMemImgWithOptions(&grey.v, 7, 3, -1, 0, 2, 0, 0, 1, nullptr), 0);
    EXPECT_NE(alpha.v.store->premultiplied, nullptr);
    EXPECT_EQ(alpha.v.premultiplied, alpha.v.store->premultiplied);
    EXPECT_NE(alpha.v.store->runTable, nullptr);
    EXPECT_EQ(plain.v.store->premultiplied, nullptr);
    EXPECT_NE(plain.v.store->runTable, nullptr);
    EXPECT_EQ(grey.v.store->runTable, nullptr);
}

TEST(MemImgCreate, RefusesBadInputAndLeavesNothingAttached)
{
    const AllocatorTotals before = GetAllocatorTotals();
    struct Case {
        const char* what;
        int width, height, pitch, kind;
    };
    const Case cases[] = {
        {"zero width", 0, 4, -1, 1},
        {"negative height", 4, -2, -1, 1},
        {"kind 4", 4, 4, -1, 4},
        {"negative kind", 4, 4, -1, -2},
        {"pitch shorter than a row", 10, 4, 39, 1},
        {"larger than memory can hold", 100000, 100000, -1, 1},
    };
    for (const Case& c : cases) {
        MEMIMG v{};
        EXPECT_EQ(CreateMemImgWithOptions(&v, c.width, c.height, c.pitch, 0, c.kind, 0, 0, 1, nullptr), -1) << c.what;
        EXPECT_EQ(TestMemImgValid(&v), 0) << c.what;
        EXPECT_EQ(v.store, nullptr) << c.what;
    }
    // An already valid view is refused and left as it is.
    Img img;
    ASSERT_EQ(CreatePlainMemImg(&img.v, 4, 4, 1), 0);
    const MEMIMG copy = img.v;
    EXPECT_EQ(CreateMemImgWithOptions(&img.v, 8, 8, -1, 0, 1, 0, 0, 0, nullptr), -1);
    EXPECT_EQ(std::memcmp(&copy, &img.v, sizeof(copy)), 0);
    ReleaseMemImgRef(&img.v);
    EXPECT_EQ(GetAllocatorTotals().blockCount, before.blockCount);
}

TEST(MemImgCreate, CallerOwnedPixelsAreUsedAndNotFreed)
{
    std::vector<uint8_t> buffer(64 * 4, 0x11);
    const AllocatorTotals before = GetAllocatorTotals();
    MEMIMG v{};
    ASSERT_EQ(CreateMemImgWithOptions(&v, 4, 4, 64, 0, 1, 0, 0, 0, buffer.data()), 0);
    EXPECT_EQ(v.pixels, buffer.data());
    EXPECT_EQ(v.store->callerOwnedPixels, 1);
    ReleaseMemImgRef(&v);
    EXPECT_EQ(GetAllocatorTotals().blockCount, before.blockCount);
    EXPECT_EQ(buffer[0], 0x11);
}

TEST(MemImgCreate, PlainImageFollowsTheConfiguredDepth)
{
    // The depth is the one configured now: a mode change after start-up changes it.
    const int32_t kept = g_screenSettings.colorBits;
    const struct {
        int32_t bits;
        int32_t kind;
    } cases[] = {{32, 1}, {16, 0}, {0, 0}, {32, 1}, {8, 1}};
    for (const auto& c : cases) {
        Img img;
        g_screenSettings.colorBits = c.bits;
        ASSERT_EQ(CreatePlainMemImg(&img.v, 3, 3, -1), 0);
        EXPECT_EQ(img.v.store->kind, c.kind) << c.bits << " bits";
    }
    g_screenSettings.colorBits = kept;
}

TEST(MemImgViews, SubViewsShareTheStoreUntilTheLastRelease)
{
    const AllocatorTotals before = GetAllocatorTotals();
    MEMIMG whole{}, part{};
    ASSERT_EQ(CreateMemImgWithOptions(&whole, 10, 8, -1, 0, 1, 0, 1, 1, nullptr), 0);
    MakeMemImgView(&part, &whole, 3, 2, 4, 5);
    ASSERT_EQ(TestMemImgValid(&part), 1);
    EXPECT_EQ(part.store, whole.store);
    EXPECT_EQ(part.width, 4);
    EXPECT_EQ(part.height, 5);
    EXPECT_EQ(part.pixels, whole.pixels + whole.store->pitch * 2 + 4 * 3);
    EXPECT_EQ(part.premultiplied, whole.premultiplied + whole.store->pitch * 2 + 4 * 3);
    EXPECT_EQ(whole.store->refCount, 2);

    ReleaseMemImgRef(&whole);
    EXPECT_EQ(TestMemImgValid(&whole), 0);
    EXPECT_EQ(whole.store, nullptr);
    EXPECT_EQ(part.store->refCount, 1);
    ReleaseMemImgRef(&whole);  // invalid now: nothing happens
    EXPECT_EQ(part.store->refCount, 1);
    ReleaseMemImgRef(&part);
    EXPECT_EQ(GetAllocatorTotals().blockCount, before.blockCount);
}

TEST(MemImgViews, RefusesRectanglesOutsideTheSourceAndInvalidSources)
{
    Img src;
    ASSERT_EQ(CreatePlainMemImg(&src.v, 10, 8, 0), 0);
    struct Case {
        int x, y, w, h;
    };
    const Case cases[] = {{-1, 0, 2, 2}, {0, -1, 2, 2}, {9, 0, 2, 1},  {0, 7, 1, 2},
                          {2, 2, -1, 3}, {2, 2, 3, -1}, {0, 0, 11, 8}, {1, 0, 0x7FFFFFFF, 1}};
    for (const Case& c : cases) {
        MEMIMG out{};
        out.width = 77;
        MakeMemImgView(&out, &src.v, c.x, c.y, c.w, c.h);
        EXPECT_EQ(out.magic, 0u) << c.x << "," << c.y << " " << c.w << "x" << c.h;
        EXPECT_EQ(out.width, 77);
    }
    EXPECT_EQ(src.v.store->refCount, 1);
    MEMIMG invalid{}, out{};
    MakeMemImgView(&out, &invalid, 0, 0, 1, 1);
    EXPECT_EQ(out.magic, 0u);
}

TEST(MemImgFill, FillsTheClippedRectangleWithTheLowBytes)
{
    Img img;
    ASSERT_EQ(CreatePlainMemImg(&img.v, 6, 4, 0), 0);
    FillMemImgPixels(&img.v, nullptr, 0xAAAA1234);
    EXPECT_EQ(Get(img.v, 0, 0), 0x1234u);
    EXPECT_EQ(Get(img.v, 5, 3), 0x1234u);
    const PixelRect r{4, -3, 9, 2};
    FillMemImgPixels(&img.v, &r, 0x0F0F);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(Get(img.v, x, y), (x >= 4 && y < 2) ? 0x0F0Fu : 0x1234u) << x << "," << y;
    const PixelRect empty{7, 0, 9, 4};
    FillMemImgPixels(&img.v, &empty, 0);
    EXPECT_EQ(Get(img.v, 5, 3), 0x1234u);
}

// Rows long enough for the SSE2 form's 64- and 16-byte steps and its tail, from every start
// column, each form forced in turn; the pixels either side stay.
TEST(MemImgFill, EveryFormFillsExactlyTheRow)
{
    for (int kind : {kMemImgRgb565, kMemImgXrgb32, kMemImgGrey8})
        for (int simd : {0, 1, 2}) {
            OverrideMmxUsable(simd >= 1);
            OverrideSse2Usable(simd >= 2);
            Img img;
            ASSERT_EQ(CreatePlainMemImg(&img.v, 75, 3, kind), 0);
            const int bpp = kind == kMemImgXrgb32 ? 4 : kind == kMemImgRgb565 ? 2 : 1;
            const uint32_t ones = bpp == 4 ? 0xFFFFFFFFu : bpp == 2 ? 0xFFFFu : 0xFFu;
            for (int left = 0; left < 4; ++left) {
                FillMemImgPixels(&img.v, nullptr, 0xFFFFFFFF);
                const PixelRect r{left, 1, 74, 2};
                FillMemImgPixels(&img.v, &r, 0x89ABCDEF);
                for (int y = 0; y < 3; ++y)
                    for (int x = 0; x < 75; ++x) {
                        const bool in = y == 1 && x >= left && x < 74;
                        ASSERT_EQ(Get(img.v, x, y), in ? 0x89ABCDEF & ones : ones)
                            << "kind " << kind << " simd " << simd << " left " << left << " at " << x << "," << y;
                    }
            }
        }
    OverrideMmxUsable(-1);
    OverrideSse2Usable(-1);
}

TEST(MemImgRuns, LinesOfRunsWithTheirClasses)
{
    Img keyed;
    ASSERT_EQ(CreateMemImgWithOptions(&keyed.v, 70, 2, -1, 0x00FF00FF, 1, 0, 0, 1, nullptr), 0);
    FillMemImgPixels(&keyed.v, nullptr, 0x00FF00FF);
    for (int x = 0; x < 3; ++x) Put(keyed.v, x, 1, 0x00000001);
    BuildMemImgLineRuns(&keyed.v);
    EXPECT_EQ(keyed.v.store->runsValid, 1);
    EXPECT_EQ(RunBytes(keyed.v), (std::vector<uint8_t>{0x3F, 0x05, 0xC0, 0x42, 0x3F, 0x02, 0xC0}));

    Img alpha;
    ASSERT_EQ(CreateMemImgWithOptions(&alpha.v, 5, 1, -1, 0, 0, 0, 1, 1, nullptr), 0);
    const uint32_t pixels[] = {0x00000000, 0x00FF1234, 0x00FF0000, 0x00800000, 0x00010000};
    for (int x = 0; x < 5; ++x) Put(alpha.v, x, 0, pixels[x]);
    BuildMemImgLineRuns(&alpha.v);
    EXPECT_EQ(RunBytes(alpha.v), (std::vector<uint8_t>{0x00, 0x41, 0x81, 0xC0}));

    Img pal;
    ASSERT_EQ(CreateMemImgWithOptions(&pal.v, 4, 1, -1, 9, 1, 1, 0, 1, nullptr), 0);
    const uint32_t idx[] = {9, 9, 3, 9};
    for (int x = 0; x < 4; ++x) Put(pal.v, x, 0, idx[x]);
    BuildMemImgLineRuns(&pal.v);
    EXPECT_EQ(RunBytes(pal.v), (std::vector<uint8_t>{0x01, 0x40, 0x00, 0xC0}));
}

TEST(MemImgRuns, PremultipliedPixelsOfBothKinds)
{
    Img k1, k0;
    ASSERT_EQ(CreateMemImgWithOptions(&k1.v, 1, 1, -1, 0, 1, 0, 1, 1, nullptr), 0);
    ASSERT_EQ(CreateMemImgWithOptions(&k0.v, 1, 1, -1, 0, 0, 0, 1, 1, nullptr), 0);
    Put(k1.v, 0, 0, 0x80FF4020);
    Put(k0.v, 0, 0, 0x7780FFFF);
    BuildMemImgLineRuns(&k1.v);
    BuildMemImgLineRuns(&k0.v);
    EXPECT_EQ(k1.v.store->premultipliedValid, 1);
    uint32_t pm;
    std::memcpy(&pm, k1.v.premultiplied, 4);
    EXPECT_EQ(pm, 0x807F2010u);  // (c * 128) >> 8 per channel, alpha kept
    std::memcpy(&pm, k0.v.premultiplied, 4);
    // RGB565 white at alpha 0x80: every field halved (red 15, green 31, blue 15), the alpha
    // in byte 2 and 0 in byte 3 where the pixel's spare byte held 0x77.
    EXPECT_EQ(pm, 0x00807BEFu);
    Put(k0.v, 0, 0, 0x40FF8410);  // red 16, green 32, blue 16 at alpha 0xFF
    BuildMemImgLineRuns(&k0.v);
    std::memcpy(&pm, k0.v.premultiplied, 4);
    EXPECT_EQ(pm, 0x00FF7BEFu);  // times 255 over 256: one step less in each field
}

TEST(BlendTables, FixedTablesFollowTheirFormulas)
{
    BuildMemImgBlendTables();
    for (int x = 0; x < 256; ++x) {
        EXPECT_EQ(BlendScaleTable[255][x], static_cast<uint32_t>(x));
        EXPECT_EQ(BlendScaleTable[x][255], static_cast<uint32_t>(x));
        EXPECT_EQ(BlendSignedScaleTable[x][0], -x);  // [k][-255] = -k
    }
    EXPECT_EQ(BlendScaleTable[128][100], 50u);
    EXPECT_EQ(BlendSignedScaleTable[128][255 - 100], -50);  // truncated towards zero
    EXPECT_EQ(BlendSignedScaleTable[128][255 + 100], 50);
    for (int a = 0; a < 64; a += 7)
        for (int b = 0; b < 64; b += 5) {
            EXPECT_EQ(BlendLerp6Table[63][a][b], a);
            EXPECT_EQ(BlendLerp6Table[0][a][b], b);
        }
    EXPECT_EQ(BlendLerp6Table[32][63][0], 32);
}

TEST(BlendTables, MaskAlphaRamp)
{
    BuildBlendMaskAlphaTable(0, 255);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(BlendMaskAlphaTable[i], 255);
    BuildBlendMaskAlphaTable(255, 0);
    for (int i = 0; i < 255; ++i) EXPECT_EQ(BlendMaskAlphaTable[i], 0);
    EXPECT_EQ(BlendMaskAlphaTable[255], 1);
    // w = 3: steps of 64 from base 256 - ((16384 + 256) * 128) / 256 = -8064.
    BuildBlendMaskAlphaTable(128, 3);
    EXPECT_EQ(BlendMaskAlphaTable[0], 0);
    EXPECT_EQ(BlendMaskAlphaTable[126], 0);
    EXPECT_EQ(BlendMaskAlphaTable[127], 64);
    EXPECT_EQ(BlendMaskAlphaTable[129], 192);
    EXPECT_EQ(BlendMaskAlphaTable[130], 255);
}

TEST(MemImgFormats, StaticFormatsOfTheKinds)
{
    struct Case {
        int kind, alpha, paletted, depth, bpp;
        uint32_t red, green, blue, alphaMask;
    };
    const Case cases[] = {
        {0, 0, 0, 16, 2, 0xF800, 0x07E0, 0x001F, 0},          {0, 1, 0, 32, 4, 0xF800, 0x07E0, 0x001F, 0x00FF0000},
        {0, 0, 1, 8, 1, 0xF800, 0x07E0, 0x001F, 0},           {1, 0, 0, 32, 4, 0xFF0000, 0xFF00, 0xFF, 0},
        {1, 1, 0, 32, 4, 0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {1, 0, 1, 8, 1, 0xFF0000, 0xFF00, 0xFF, 0},
        {1, 1, 1, 8, 1, 0xFF0000, 0xFF00, 0xFF, 0xFF000000},  {2, 1, 1, 8, 1, 0xFF, 0xFF, 0xFF, 0xFF},
        {3, 0, 0, 16, 2, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    };
    for (const Case& c : cases) {
        const ColorFormat* f = GetMemImgColorFormat(c.kind, c.alpha, c.paletted);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f, GetMemImgColorFormat(c.kind, c.alpha, c.paletted));  // built once, kept
        EXPECT_EQ(f->bitDepth, c.depth) << c.kind;
        EXPECT_EQ(f->bytesPerPixel, c.bpp) << c.kind;
        EXPECT_EQ(f->redMask, c.red);
        EXPECT_EQ(f->greenMask, c.green);
        EXPECT_EQ(f->blueMask, c.blue);
        EXPECT_EQ(f->alphaMask, c.alphaMask);
    }
    EXPECT_EQ(GetMemImgColorFormat(4, 0, 0), nullptr);
    EXPECT_EQ(GetMemImgColorFormat(2, 0, 0)->unusedMask, 0u);
}

namespace {

struct Base {
    BaseImage b{};
    ~Base() { DiscardBaseImage(&b); }
};

void PutBase(BaseImage& b, int x, int y, uint32_t v)
{
    std::memcpy(b.pixels + b.pitch * y + b.format.bytesPerPixel * x, &v, b.format.bytesPerPixel);
}

}  // namespace

TEST(MemImgLoad, WholeLoadConvertsAndBuildsRunsPartialLoadDoesNot)
{
    Base img;
    ASSERT_EQ(AllocXrgbBaseImage(4, 3, &img.b), 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) PutBase(img.b, x, y, 0xFF000000u | (x * 0x40u) << 16 | y);
    PutBase(img.b, 1, 1, 0xFFFF00FF);

    Img k1;
    ASSERT_EQ(CreateMemImgWithOptions(&k1.v, 4, 3, -1, 0x00FF00FF, 1, 0, 0, 1, nullptr), 0);
    LoadBaseImageIntoMemImg(&img.b, nullptr, &k1.v, 0, 0, 4, 3, 0, 0, 0);
    EXPECT_EQ(Get(k1.v, 3, 2) & 0x00FFFFFF, 0x00C00002u);
    EXPECT_EQ(k1.v.store->runsValid, 1);
    EXPECT_EQ(k1.v.store->runsViewPixels, k1.v.pixels);

    Img k0;
    ASSERT_EQ(CreateMemImgWithOptions(&k0.v, 4, 3, -1, 0, 0, 0, 0, 1, nullptr), 0);
    LoadBaseImageIntoMemImg(&img.b, nullptr, &k0.v, 0, 0, 4, 3, 0, 0, 0);
    EXPECT_EQ(Get(k0.v, 3, 2), ((0xC0u >> 3) << 11) | 0u);
    EXPECT_EQ(Get(k0.v, 1, 1), 0xF81Fu);

    // A partial load clears both flags and leaves them clear.
    LoadBaseImageIntoMemImg(&img.b, nullptr, &k1.v, 1, 1, 2, 2, 0, 0, 0);
    EXPECT_EQ(k1.v.store->runsValid, 0);
    EXPECT_EQ(k1.v.store->premultipliedValid, 0);
    EXPECT_EQ(Get(k1.v, 0, 0), 0xFFFF00FFu);
}

TEST(MemImgLoad, RefusesRectanglesOutsideEitherImage)
{
    Base img;
    ASSERT_EQ(AllocXrgbBaseImage(4, 4, &img.b), 0);
    std::memset(img.b.pixels, 0x77, static_cast<size_t>(img.b.pitch) * 4);
    Img dst;
    ASSERT_EQ(CreatePlainMemImg(&dst.v, 4, 4, 1), 0);
    FillMemImgPixels(&dst.v, nullptr, 0);
    struct Case {
        int sx, sy, w, h, dx, dy;
    };
    const Case cases[] = {{-1, 0, 2, 2, 0, 0}, {3, 0, 2, 2, 0, 0},  {0, 0, 5, 1, 0, 0},
                          {0, 0, 2, 2, 3, 0},  {0, 0, 2, 2, 0, -1}, {0, 0, 0, 2, 0, 0}};
    // Block-compressed pixels are not lines the copy could read: refused, not half-loaded.
    img.b.format.compression = 1;
    EXPECT_EQ(LoadBaseImageIntoMemImg(&img.b, nullptr, &dst.v, 0, 0, 4, 4, 0, 0, 0), -1);
    img.b.format.compression = 0;
    EXPECT_EQ(LoadBaseImageIntoMemImg(&img.b, nullptr, &dst.v, 0, 0, 4, 4, 0, 0, 0), 0);
    FillMemImgPixels(&dst.v, nullptr, 0);
    for (const Case& c : cases) {
        EXPECT_EQ(LoadBaseImageIntoMemImg(&img.b, nullptr, &dst.v, c.sx, c.sy, c.w, c.h, c.dx, c.dy, 0), -1);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) ASSERT_EQ(Get(dst.v, x, y), 0u);
    }
}

TEST(MemImgLoad, PalettedLoadCopiesIndicesAndBuildsBothPalettes)
{
    Base img;
    ColorFormat f{};
    SetupPalette8Format(&f);
    f.palette[5] = PaletteEntry{0x30, 0x80, 0xF0, 0};  // blue, green, red
    ASSERT_EQ(AllocBaseImage(3, 1, &f, &img.b), 0);
    const uint8_t idx[] = {5, 2, 4};
    std::memcpy(img.b.pixels, idx, 3);

    for (int kind : {0, 1}) {
        Img dst;
        ASSERT_EQ(CreateMemImgWithOptions(&dst.v, 3, 1, -1, 2, kind, 1, 0, 1, nullptr), 0);
        LoadBaseImageIntoMemImg(&img.b, nullptr, &dst.v, 0, 0, 3, 1, 0, 0, 0);
        EXPECT_EQ(Get(dst.v, 0, 0), 5u);
        EXPECT_EQ(dst.v.store->paletteCount, 6);
        uint32_t e = 0;
        std::memcpy(&e, dst.v.store->palette + (kind == 1 ? 20 : 10), kind == 1 ? 4 : 2);
        EXPECT_EQ(e, kind == 1 ? 0x00F08030u : ((0xF0u >> 3) << 11) | ((0x80u >> 2) << 5) | (0x30u >> 3));
        EXPECT_EQ(std::memcmp(dst.v.store->palette, dst.v.store->secondPalette, kind == 1 ? 1024 : 512), 0);
        EXPECT_EQ(dst.v.store->runsValid, 1);
        EXPECT_EQ(RunBytes(dst.v), (std::vector<uint8_t>{0x40, 0x00, 0x40, 0xC0}));
    }
}

TEST(MemImgLoad, SingleChannelImagesTakeTheRedChannel)
{
    Base img;
    ASSERT_EQ(AllocXrgbBaseImage(2, 1, &img.b), 0);
    PutBase(img.b, 0, 0, 0xFF9A1020);
    PutBase(img.b, 1, 0, 0xFF01FFFF);
    Img grey8, grey16;
    ASSERT_EQ(CreatePlainMemImg(&grey8.v, 2, 1, 2), 0);
    ASSERT_EQ(CreatePlainMemImg(&grey16.v, 2, 1, 3), 0);
    LoadBaseImageIntoMemImg(&img.b, nullptr, &grey8.v, 0, 0, 2, 1, 0, 0, 0);
    LoadBaseImageIntoMemImg(&img.b, nullptr, &grey16.v, 0, 0, 2, 1, 0, 0, 0);
    EXPECT_EQ(Get(grey8.v, 0, 0), 0x9Au);
    EXPECT_EQ(Get(grey8.v, 1, 0), 0x01u);
    EXPECT_EQ(Get(grey16.v, 0, 0), 0x9A9Au);  // widened to 16 bits
    EXPECT_EQ(Get(grey16.v, 1, 0), 0x0101u);

    // A paletted image gives its entries' red.
    Base pal;
    ColorFormat f{};
    SetupPalette8Format(&f);
    f.palette[3] = PaletteEntry{0x11, 0x22, 0xC3, 0};
    ASSERT_EQ(AllocBaseImage(1, 1, &f, &pal.b), 0);
    pal.b.pixels[0] = 3;
    LoadBaseImageIntoMemImg(&pal.b, nullptr, &grey8.v, 0, 0, 1, 1, 1, 0, 0);
    EXPECT_EQ(Get(grey8.v, 1, 0), 0xC3u);
}

TEST(MemImgConvertCopy, ConvertsBetweenKindsAndRefusesOutsideRectangles)
{
    Img src, dst;
    ASSERT_EQ(CreatePlainMemImg(&src.v, 3, 2, 1), 0);
    ASSERT_EQ(CreatePlainMemImg(&dst.v, 4, 4, 0), 0);
    FillMemImgPixels(&src.v, nullptr, 0x00FFFFFF);
    FillMemImgPixels(&dst.v, nullptr, 0);
    const PixelRect r{1, 0, 3, 2};
    EXPECT_EQ(ConvertCopyMemImg(&dst.v, &src.v, &r, 2, 2), 0);
    EXPECT_EQ(Get(dst.v, 2, 2), 0xFFFFu);
    EXPECT_EQ(Get(dst.v, 3, 3), 0xFFFFu);
    EXPECT_EQ(Get(dst.v, 1, 2), 0u);

    EXPECT_EQ(ConvertCopyMemImg(&dst.v, &src.v, nullptr, 2, 0), -1);  // 3 wide at x 2 of 4
    const PixelRect outside{2, 0, 4, 1};
    EXPECT_EQ(ConvertCopyMemImg(&dst.v, &src.v, &outside, 0, 0), -1);
    EXPECT_EQ(ConvertCopyMemImg(&dst.v, &src.v, nullptr, 0, 0), 0);
    EXPECT_EQ(Get(dst.v, 2, 1), 0xFFFFu);
}

TEST(MemImgConvertCopy, PalettedSourceReadsThroughTheStorePalette)
{
    Base img;
    ColorFormat f{};
    SetupPalette8Format(&f);
    f.palette[1] = PaletteEntry{0x30, 0x80, 0xF8, 0};  // blue, green, red
    f.palette[2] = PaletteEntry{0xFF, 0xFF, 0xFF, 0};
    ASSERT_EQ(AllocBaseImage(2, 1, &f, &img.b), 0);
    img.b.pixels[0] = 1;
    img.b.pixels[1] = 2;
    for (int kind : {0, 1}) {
        Img pal, plain;
        ASSERT_EQ(CreateMemImgWithOptions(&pal.v, 2, 1, -1, 0, kind, 1, 0, 1, nullptr), 0);
        LoadBaseImageIntoMemImg(&img.b, nullptr, &pal.v, 0, 0, 2, 1, 0, 0, 0);
        ASSERT_EQ(CreatePlainMemImg(&plain.v, 2, 1, 1), 0);
        FillMemImgPixels(&plain.v, nullptr, 0);
        EXPECT_EQ(ConvertCopyMemImg(&plain.v, &pal.v, nullptr, 0, 0), 0);
        // Through a 16-bit palette entry the channels come back widened from 5 and 6 bits.
        const uint32_t first = kind == 1 ? 0x00F88030u : 0x00FF8231u;
        EXPECT_EQ(Get(plain.v, 0, 0) & 0x00F8FCF8u, first & 0x00F8FCF8u) << "kind " << kind;
        EXPECT_EQ(Get(plain.v, 1, 0) & 0x00FFFFFFu, 0x00FFFFFFu) << "kind " << kind;
    }
}
