#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "formats.h"
#include "quarn/core/core.h"

namespace test {
namespace {

enum Fmt { R565, X555, A1555, A4444, XRGB, ARGB, RGB24, GREY };

ColorFormat Make(Fmt f)
{
    switch (f) {
    case R565: return R5G6B5();
    case X555: return X1R5G5B5();
    case A1555: return A1R5G5B5();
    case A4444: return A4R4G4B4();
    case XRGB: return Xrgb();
    case ARGB: return Argb();
    case RGB24: return Rgb888();
    case GREY: return Grey8();
    }
    return {};
}

const char* Name(Fmt f)
{
    static const char* names[] = {"R5G6B5",   "X1R5G5B5", "A1R5G5B5", "A4R4G4B4",
                                  "X8R8G8B8", "A8R8G8B8", "R8G8B8",   "Grey8"};
    return names[f];
}

// One pair, both ways: a converts to b, and b converts back to back.
struct PairCase {
    Fmt a, b;
    uint32_t va, vb;  // a's pixel and what it becomes in b
    uint32_t back;    // vb converted back to a
};

const PairCase kPairs[] = {
    // 5- and 6-bit channels widen with the top bits repeated by the general path, but the fast
    // pairs shift only: 31 becomes 248 there.
    {R565, XRGB, 0xFFFF, 0x00F8FCF8, 0xFFFF},
    {R565, XRGB, 0x8410, 0x00808080, 0x8410},
    {XRGB, R565, 0xFF123456, 0x11AA, 0x00103450},
    {R565, RGB24, 0xFFFF, 0xF8FCF8, 0xFFFF},
    {RGB24, R565, 0xFFFFFF, 0xFFFF, 0xF8FCF8},
    {X555, ARGB, 0x7C00, 0xFFFF0000, 0xFC00},  // general path: 31 -> 255
    {X555, ARGB, 0x4010, 0xFF830083, 0xC010},  // 16 -> 131
    {X555, XRGB, 0x03FF, 0xFF00FFFF, 0x83FF},  // general path keeps the X bits set
    {R565, ARGB, 0xFFFF, 0xFFFFFFFF, 0xFFFF},  // 6-bit 63 -> 255
    {R565, ARGB, 0x0400, 0xFF008100, 0x0400},  // 6-bit 32 -> 129
    {A1555, ARGB, 0x8000 | 0x7FFF, 0xFFFFFFFF, 0xFFFF},
    {A1555, ARGB, 0x001F, 0x000000FF, 0x001F},  // alpha 0 stays 0
    {A4444, ARGB, 0xFEDC, 0xFFEEDDCC, 0xFEDC},
    {ARGB, A4444, 0x7F80FF08, 0x78F0, 0x7788FF00},
    // The green bit: 5-bit green gets its lowest bit copied into 6-bit green's new bit.
    {X555, R565, 0x7FFF, 0xFFFF, 0x7FFF},
    {X555, R565, 0x03E0, 0x07E0, 0x03E0},
    {X555, R565, 0x0020, 0x0060, 0x0020},
    // 0x8000: set by the fast pairs into X1R5G5B5 from 24-bit and paletted pixels, clear from
    // R5G6B5, and set by the general path's unused bits.
    {RGB24, X555, 0x000000, 0x8000, 0x000000},
    {RGB24, X555, 0xFFFFFF, 0xFFFF, 0xFFFFFF},
    {R565, X555, 0xFFFF, 0x7FFF, 0xFFFF},
    {GREY, X555, 0x80, 0x8000 | 0x4210, 0x83},
    {GREY, XRGB, 0x80, 0xFF808080, 0x80},
    {GREY, R565, 0xFF, 0xFFFF, 0xFF},
    {RGB24, XRGB, 0x123456, 0xFF123456, 0x123456},
    {ARGB, XRGB, 0x80123456, 0xFF123456, 0xFF123456},
    {RGB24, ARGB, 0x123456, 0xFF123456, 0x123456},
};

TEST(ConvertPixelRect, FormatPairsBothWays)
{
    for (const PairCase& c : kPairs) {
        const ColorFormat a = Make(c.a), b = Make(c.b);
        SCOPED_TRACE(std::string(Name(c.a)) + " <-> " + Name(c.b));
        EXPECT_EQ(Convert1(b, a, c.va), c.vb);
        EXPECT_EQ(Convert1(a, b, c.vb), c.back);
    }
}

TEST(ConvertPixelRect, ToPalettedTakesNearestEntry)
{
    const ColorFormat grey = Grey8();
    EXPECT_EQ(Convert1(grey, Xrgb(), 0x00808080), 0x80u);
    // A 16-bit source is spread to 0..255 before the search: 0xFFFF is white.
    EXPECT_EQ(Convert1(grey, R5G6B5(), 0xFFFF), 0xFFu);
    EXPECT_EQ(Convert1(grey, R5G6B5(), 0x8410), 130u);  // 131, 129, 131
    // A red mask with a gap: its width is the one low bit, and the stray high bit counts as a
    // full channel, not as a value past 255.
    const ColorFormat gapped = Masks(32, 0x80000001, 0x0000FF00, 0x00FF0000, 0);
    EXPECT_EQ(Convert1(grey, gapped, 0x80000000), 85u);  // nearest grey to (255, 0, 0)
    EXPECT_EQ(Convert1(grey, gapped, 0x80FFFF00), 255u);
    EXPECT_EQ(Convert1(grey, gapped, 0x00FFFF00), 170u);  // (0, 255, 255)
}

TEST(ConvertPixelRect, EmptyRectangleWritesNothing)
{
    const ColorFormat x = Xrgb();
    uint32_t s = 0x11223344, d = 0xDEADBEEF;
    for (PixelRect r : {PixelRect{0, 0, 0, 1}, PixelRect{0, 0, 1, 0}, PixelRect{2, 0, 1, 1}}) {
        EXPECT_EQ(ConvertPixelRect(reinterpret_cast<uint8_t*>(&d), 4, &x, reinterpret_cast<uint8_t*>(&s), 4, &x,
                                   nullptr, 0, nullptr, 0, 0, &r, 0, 0, 0, 0, 0, 0, 0, 0),
                  -1);
    }
    EXPECT_EQ(d, 0xDEADBEEFu);
}

// A rectangle inside larger buffers lands at the destination position; mirroring writes each
// row right to left, on every path.
TEST(ConvertPixelRect, PositionsAndMirror)
{
    const std::vector<std::pair<Fmt, Fmt>> paths = {{XRGB, XRGB}, {R565, XRGB}, {X555, ARGB},
                                                    {ARGB, XRGB}, {GREY, GREY}, {XRGB, GREY}};
    for (auto [sfmt, dfmt] : paths) {
        SCOPED_TRACE(std::string(Name(sfmt)) + " -> " + Name(dfmt));
        const ColorFormat sf = Make(sfmt), df = Make(dfmt);
        const int sb = sf.bytesPerPixel, db = df.bytesPerPixel;
        // Source 5x3, rectangle (1,1)-(4,2): three distinct pixels.
        std::vector<uint8_t> s(5 * 3 * sb, 0), d(6 * 3 * db, 0xEE);
        const uint32_t v[3] = {sfmt == GREY ? 10u : 0x001F, sfmt == GREY ? 20u : 0x07E0, sfmt == GREY ? 30u : 0xF800};
        for (int i = 0; i < 3; ++i) StoreLe(&s[(5 + 1 + i) * sb], sb, sfmt == XRGB ? v[i] << 3 : v[i]);
        const PixelRect r = {1, 1, 4, 2};
        for (int mirror : {0, 1}) {
            std::fill(d.begin(), d.end(), 0xEE);
            ConvertPixelRect(d.data(), 6 * db, &df, s.data(), 5 * sb, &sf, nullptr, 0, nullptr, 2, 2, &r, mirror, 0, 0,
                             0, 0, 0, 0, 0);
            uint32_t out[3];
            for (int i = 0; i < 3; ++i) out[i] = LoadLe(&d[(2 * 6 + 2 + i) * db], db);
            // Each pixel alone, on the same path (mirroring leaves the fast pairs).
            Opts single;
            single.mirror = mirror;
            const uint32_t one[3] = {Convert1(df, sf, LoadLe(&s[(5 + 1) * sb], sb), single),
                                     Convert1(df, sf, LoadLe(&s[(5 + 2) * sb], sb), single),
                                     Convert1(df, sf, LoadLe(&s[(5 + 3) * sb], sb), single)};
            for (int i = 0; i < 3; ++i) EXPECT_EQ(out[i], one[mirror ? 2 - i : i]) << i;
            EXPECT_EQ(d[(2 * 6 + 1) * db], 0xEE);  // left of the rectangle
            EXPECT_EQ(d[(2 * 6 + 5) * db], 0xEE);  // right of it
            EXPECT_EQ(d[(1 * 6 + 2) * db], 0xEE);  // row above
        }
    }
}

TEST(ConvertPixelRect, PlainIndexCopyReturnsHighestIndexAndMirrors)
{
    const ColorFormat g = Grey8();
    int result = 0;
    EXPECT_EQ(Convert(g, g, {3, 200, 7}, 3, 1, {}, 0, &result), (std::vector<uint32_t>{3, 200, 7}));
    EXPECT_EQ(result, 200);
    Opts m;
    m.mirror = 1;
    EXPECT_EQ(Convert(g, g, {3, 200, 7}, 3, 1, m, 0, &result), (std::vector<uint32_t>{7, 200, 3}));
    EXPECT_EQ(result, 200);
}

TEST(ConvertPixelRect, KeySkipLeavesKeyedPixels)
{
    Opts o;
    o.keySkip = 1;
    o.key = 0xABCD1234;  // cut to the source depth: 0x1234 for 16 bits
    EXPECT_EQ(Convert(R5G6B5(), R5G6B5(), {0x1234, 0x1235, 0xFFFF}, 3, 1, o, 0x5555),
              (std::vector<uint32_t>{0x5555, 0x1235, 0xFFFF}));
    // Key skipping takes the general path, which widens 31 to 255.
    EXPECT_EQ(Convert(Xrgb(), R5G6B5(), {0x1234, 0xFFFF}, 2, 1, o, 0x5555),
              (std::vector<uint32_t>{0x5555, 0xFFFFFFFF}));
    o.key = 0x00FF00FF;
    EXPECT_EQ(Convert(Argb(), Xrgb(), {0xFFFF00FF, 0x00FF00FF, 0x00FF00FE}, 3, 1, o, 7),
              (std::vector<uint32_t>{0xFFFF00FF, 7, 0xFFFF00FE}));
    // Mirroring switches the key off.
    o.mirror = 1;
    EXPECT_EQ(Convert(Xrgb(), Xrgb(), {0x00FF00FF, 1}, 2, 1, o, 7), (std::vector<uint32_t>{1, 0x00FF00FF}));
}

TEST(ConvertPixelRect, KeyToAlpha)
{
    Opts o;
    o.keyToAlpha = 1;
    o.key = 0xFF00FF;
    // Same colour layout: only the RGB bits are compared, so the X bit a 16-bit source carries
    // does not hide the key.
    EXPECT_EQ(Convert(A1R5G5B5(), X1R5G5B5(), {0xFC1F, 0x7C1F, 0xFC1E}, 3, 1, o),
              (std::vector<uint32_t>{0x7C1F, 0x7C1F, 0xFC1E}));
    EXPECT_EQ(Convert(Argb(), Xrgb(), {0xFFFF00FF, 0x00FF00FF, 0xFFFF00FE}, 3, 1, o),
              (std::vector<uint32_t>{0x00FF00FF, 0x00FF00FF, 0xFFFF00FE}));
    // Fast pairs.
    EXPECT_EQ(Convert(Argb(), Rgb888(), {0xFF00FF, 0xFE00FF}, 2, 1, o),
              (std::vector<uint32_t>{0x00FF00FF, 0xFFFE00FF}));
    EXPECT_EQ(Convert(A1R5G5B5(), Rgb888(), {0xFF00FF, 0xFE00FF}, 2, 1, o), (std::vector<uint32_t>{0x7C1F, 0xFC1F}));
    EXPECT_EQ(Convert(A1R5G5B5(), R5G6B5(), {0xF81F, 0xF83F}, 2, 1, o),  // the green bit is lost
              (std::vector<uint32_t>{0x7C1F, 0x7C1F}));
    EXPECT_EQ(Convert(Argb(), R5G6B5(), {0xF81F, 0x001F}, 2, 1, o), (std::vector<uint32_t>{0x00F800F8, 0xFF0000F8}));
    ColorFormat pal = Grey8();
    pal.palette[9] = {0xFF, 0x00, 0xFF, 0xFF};  // keyed by colour, whatever its alpha byte
    EXPECT_EQ(Convert(Argb(), pal, {9, 8}, 2, 1, o), (std::vector<uint32_t>{0x00FF00FF, 0xFF080808}));
    EXPECT_EQ(Convert(A1R5G5B5(), pal, {9, 255}, 2, 1, o), (std::vector<uint32_t>{0x7C1F, 0xFFFF}));
    // General path (A4R4G4B4 has no fast pair): key channels compared at the source's widths.
    EXPECT_EQ(Convert(A4R4G4B4(), Xrgb(), {0x00FF00FF, 0x00FE00FF}, 2, 1, o), (std::vector<uint32_t>{0x0F0F, 0xFF0F}));
    // A source with alpha keeps its own alpha: the key is not used.
    EXPECT_EQ(Convert1(Argb(), Argb(), 0x80FF00FF, o), 0x80FF00FFu);
}

TEST(ConvertPixelRect, BlackAndAlphaFromRed)
{
    Opts o;
    o.black = 1;
    EXPECT_EQ(Convert1(Argb(), Argb(), 0x80123456, o), 0x80000000u);
    EXPECT_EQ(Convert1(A4R4G4B4(), Argb(), 0x80123456, o), 0x8000u);
    Opts r;
    r.alphaFromRed = 1;
    EXPECT_EQ(Convert1(Argb(), Xrgb(), 0x00C01020, r), 0xC0C01020u);
    EXPECT_EQ(Convert1(A4R4G4B4(), R5G6B5(), 0xF800, r), 0xFF00u);  // red 31 -> alpha 15
    Opts both;
    both.black = both.alphaFromRed = 1;
    EXPECT_EQ(Convert1(Argb(), Grey8(), 0x90, both), 0x90000000u);
}

TEST(ConvertPixelRect, AlphaFromSeparateBuffer)
{
    const ColorFormat argb = Argb(), xrgb = Xrgb(), grey = Grey8(), a4 = A4R4G4B4();
    const uint32_t src[2] = {0x00112233, 0x00445566};
    const uint8_t alpha[2] = {0x80, 0xFF};
    uint32_t dst[2] = {};
    const PixelRect r = {0, 0, 2, 1};
    ConvertPixelRect(reinterpret_cast<uint8_t*>(dst), 8, &argb, reinterpret_cast<const uint8_t*>(src), 8, &xrgb, alpha,
                     2, &grey, 0, 0, &r, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(dst[0], 0x80112233u);
    EXPECT_EQ(dst[1], 0xFF445566u);
    uint16_t d16[2] = {};
    ConvertPixelRect(reinterpret_cast<uint8_t*>(d16), 4, &a4, reinterpret_cast<const uint8_t*>(src), 8, &xrgb, alpha, 2,
                     &grey, 0, 0, &r, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(d16[0], 0x8123u);
    EXPECT_EQ(d16[1], 0xF456u);
    // An alpha buffer without its format carries no alpha channel: alpha 0, and no fault.
    ConvertPixelRect(reinterpret_cast<uint8_t*>(dst), 8, &argb, reinterpret_cast<const uint8_t*>(src), 8, &xrgb, alpha,
                     2, nullptr, 0, 0, &r, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(dst[0], 0x00112233u);
}

TEST(ConvertPixelRect, PaletteRemap)
{
    ColorFormat inv{};
    SetupPalette8Format(&inv);
    for (int i = 0; i < 256; ++i) inv.palette[i] = {uint8_t(255 - i), uint8_t(255 - i), uint8_t(255 - i), 0};
    Opts o;
    o.remap = 1;
    EXPECT_EQ(Convert(inv, Grey8(), {0, 100, 255}, 3, 1, o), (std::vector<uint32_t>{255, 155, 0}));
    o.mirror = 1;
    EXPECT_EQ(Convert(inv, Grey8(), {0, 100, 255}, 3, 1, o), (std::vector<uint32_t>{0, 155, 255}));
    // Without the option the indices are copied.
    EXPECT_EQ(Convert(inv, Grey8(), {0, 100}, 2, 1), (std::vector<uint32_t>{0, 100}));
}

// ---- Loss reduction, against a reference written from the rules ----

const int kMatrix[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};

struct Chan {
    uint32_t srcMask;
    int srcShift, srcWidth;
    int dstShift, dstWidth;
};

// Narrowing each channel by d bits: cut, then one unit more when the bits lost exceed the
// threshold (ordered) or when the carried remainder overflows (carried); never above the
// channel's maximum.
std::vector<uint32_t> ReduceReference(const std::vector<uint32_t>& src, int w, int h, const std::vector<Chan>& chans,
                                      int mode, uint32_t unused)
{
    std::vector<uint32_t> out(src.size());
    std::vector<uint32_t> rem(chans.size(), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t v = src[y * w + x];
            uint32_t p = 0;
            for (size_t k = 0; k < chans.size(); ++k) {
                const Chan& c = chans[k];
                const uint32_t value = (v & c.srcMask) >> c.srcShift;
                const int d = c.srcWidth - c.dstWidth;
                uint32_t o = value >> d;
                const uint32_t lost = value & ((1u << d) - 1);
                bool up = false;
                if (mode == 1) {
                    up = uint32_t((kMatrix[(x & 3) + (y & 3) * 4] << d) >> 4) < lost;
                } else if (mode == 2) {
                    rem[k] += lost;
                    up = rem[k] > (1u << d) - 1;
                    rem[k] &= (1u << d) - 1;
                }
                if (up) o += 1;
                o = std::min(o, (1u << c.dstWidth) - 1);
                p |= o << c.dstShift;
            }
            out[y * w + x] = p | unused;
        }
    return out;
}

std::vector<uint32_t> RandomPixels(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint32_t> v(n);
    for (auto& p : v) p = rng();
    return v;
}

TEST(ConvertPixelRect, DitherAndCarriedRemainderMatchReference)
{
    const int w = 13, h = 7;
    const std::vector<uint32_t> src = RandomPixels(w * h, 1);
    const std::vector<Chan> to565 = {{0xFF0000, 16, 8, 11, 5}, {0xFF00, 8, 8, 5, 6}, {0xFF, 0, 8, 0, 5}};
    const std::vector<Chan> to4444 = {{0xFF0000, 16, 8, 8, 4},
                                      {0xFF00, 8, 8, 4, 4},
                                      {0xFF, 0, 8, 0, 4},
                                      {0xFF000000, 24, 8, 12, 4}};
    const std::vector<Chan> to555 = {{0xFF0000, 16, 8, 10, 5}, {0xFF00, 8, 8, 5, 5}, {0xFF, 0, 8, 0, 5}};
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        Opts o;
        o.reduction = mode;
        EXPECT_EQ(Convert(R5G6B5(), Xrgb(), src, w, h, o), ReduceReference(src, w, h, to565, mode, 0));
        EXPECT_EQ(Convert(A4R4G4B4(), Argb(), src, w, h, o), ReduceReference(src, w, h, to4444, mode, 0));
        EXPECT_EQ(Convert(X1R5G5B5(), Xrgb(), src, w, h, o), ReduceReference(src, w, h, to555, mode, 0x8000));
    }
    // Dithering a channel at its maximum does not overflow into the next one.
    Opts o;
    o.reduction = 1;
    const std::vector<uint32_t> white(16, 0x00FFFFFF);
    for (uint32_t p : Convert(R5G6B5(), Xrgb(), white, 4, 4, o)) EXPECT_EQ(p, 0xFFFFu);
}

// ---- The SSE2, MMX and plain forms of the fixed pairs ----

TEST(ConvertPixelRect, MmxAndPlainFormsAgree)
{
    const std::vector<std::pair<Fmt, Fmt>> pairs = {{XRGB, R565}, {R565, XRGB}, {R565, X555},
                                                    {X555, R565}, {ARGB, XRGB}, {XRGB, RGB24}};
    for (auto [sfmt, dfmt] : pairs) {
        SCOPED_TRACE(std::string(Name(sfmt)) + " -> " + Name(dfmt));
        const ColorFormat sf = Make(sfmt), df = Make(dfmt);
        for (int width : {1, 3, 4, 7, 8, 15, 24, 33}) {
            const int h = 5;
            // Odd rectangle offsets so that rows start at every alignment.
            const int sw = width + 3;
            std::vector<uint32_t> px = RandomPixels(size_t(sw) * h, width);
            const int sb = sf.bytesPerPixel, db = df.bytesPerPixel;
            std::vector<uint8_t> s(size_t(sw) * h * sb);
            for (size_t i = 0; i < px.size(); ++i) StoreLe(&s[i * sb], sb, px[i]);
            const PixelRect r = {1, 1, 1 + width, h};
            std::vector<uint8_t> plain(size_t(width + 2) * h * db, 0x5A), mmx = plain, sse2 = plain;
            const int oldMmx = OverrideMmxUsable(0);
            const int oldSse2 = OverrideSse2Usable(1);  // SSE2 forms need the MMX decision too
            ConvertPixelRect(plain.data(), (width + 2) * db, &df, s.data(), sw * sb, &sf, nullptr, 0, nullptr, 1, 0, &r,
                             0, 0, 0, 0, 0, 0, 0, 0);
            OverrideMmxUsable(1);
            OverrideSse2Usable(0);
            ConvertPixelRect(mmx.data(), (width + 2) * db, &df, s.data(), sw * sb, &sf, nullptr, 0, nullptr, 1, 0, &r,
                             0, 0, 0, 0, 0, 0, 0, 0);
            OverrideSse2Usable(1);
            const int oldSsse3 = OverrideSsse3Usable(0);  // the SSE2 forms, not the SSSE3 ones
            ConvertPixelRect(sse2.data(), (width + 2) * db, &df, s.data(), sw * sb, &sf, nullptr, 0, nullptr, 1, 0, &r,
                             0, 0, 0, 0, 0, 0, 0, 0);
            OverrideMmxUsable(oldMmx);
            OverrideSse2Usable(oldSse2);
            OverrideSsse3Usable(oldSsse3);
            ASSERT_EQ(plain, mmx) << width;
            ASSERT_EQ(plain, sse2) << width;
            // And both are the per-pixel rule.
            for (int y = 0; y < h - 1; ++y)
                for (int x = 0; x < width; ++x) {
                    const uint32_t v = LoadLe(&s[((y + 1) * sw + 1 + x) * sb], sb);
                    uint32_t want = 0;
                    if (sfmt == XRGB && dfmt == R565)
                        want = ((v & 0xF8) >> 3) | ((v & 0xFC00) >> 5) | ((v >> 8) & 0xF800);
                    if (sfmt == XRGB && dfmt == RGB24) want = v & 0xFFFFFF;
                    if (sfmt == R565 && dfmt == XRGB)
                        want = ((v & 0x1F) << 3) | ((v & 0x7E0) << 5) | ((v & 0xF800) << 8);
                    if (sfmt == R565 && dfmt == X555) want = ((v & 0xFFC0) >> 1) | (v & 0x1F);
                    if (sfmt == X555) want = ((v & 0x7FE0) << 1) | (v & 0x3F);
                    if (sfmt == ARGB) want = v | 0xFF000000;
                    ASSERT_EQ(LoadLe(&plain[(y * (width + 2) + 1 + x) * db], db), want);
                }
            EXPECT_EQ(plain[0], 0x5A);       // column 0 untouched
            for (int y = 0; y < h - 1; ++y)  // and the column after the rectangle
                for (int k = 0; k < db; ++k)
                    ASSERT_EQ(plain[size_t(y * (width + 2) + 1 + width) * db + k], 0x5A) << "row " << y;
        }
    }
}

// The 32- to 24-bit cut in each of its forms writes the plain form's bytes, and nothing
// outside the rectangle, at every width up to a few rounds of sixteen pixels and at every
// phase of the source and destination rows.
TEST(ConvertPixelRect, XrgbToRgb24FormsWriteThePlainBytes)
{
    struct Form {
        const char* name;
        int mmx, sse2, ssse3;
    };
    const Form forms[] = {{"plain", 0, 0, 0}, {"SSE2", 1, 1, 0}, {"SSSE3", 1, 1, 1}};
    ProcessorFeatures cpu;
    ReadProcessorFeatures(&cpu);
    const ColorFormat sf = Make(XRGB), df = Make(RGB24);
    const int oldMmx = OverrideMmxUsable(-1), oldSse2 = OverrideSse2Usable(-1), oldSsse3 = OverrideSsse3Usable(-1);
    int compared = 0;
    for (int width = 0; width <= 41; ++width)
        for (int srcPhase = 0; srcPhase < 4; ++srcPhase)      // pixels before the rectangle
            for (int dstPhase = 0; dstPhase < 4; ++dstPhase) {  // destination pixels before it
                SCOPED_TRACE(::testing::Message() << "width " << width << ", source phase " << srcPhase
                                                  << ", destination phase " << dstPhase);
                const int h = 2, sw = width + srcPhase + 1, dw = width + dstPhase + 2;
                std::vector<uint8_t> s(size_t(sw) * h * 4);
                const std::vector<uint32_t> px = RandomPixels(s.size() / 4, uint32_t(width * 16 + srcPhase * 4 + dstPhase));
                std::memcpy(s.data(), px.data(), s.size());
                const PixelRect r = {srcPhase, 0, srcPhase + width, h};
                std::vector<uint8_t> want;
                for (const Form& f : forms) {
                    if (f.ssse3 && !cpu.ssse3) continue;
                    if (f.sse2 && !cpu.sse2) continue;
                    std::vector<uint8_t> d(size_t(dw) * h * 3, 0x5A);
                    OverrideMmxUsable(f.mmx);
                    OverrideSse2Usable(f.sse2);
                    OverrideSsse3Usable(f.ssse3);
                    ConvertPixelRect(d.data(), dw * 3, &df, s.data(), sw * 4, &sf, nullptr, 0, nullptr, dstPhase, 0, &r,
                                     0, 0, 0, 0, 0, 0, 0, 0);
                    if (want.empty()) {
                        // The plain form: each pixel's three low bytes, the rest untouched.
                        for (int y = 0; y < h; ++y)
                            for (int x = 0; x < dw; ++x)
                                for (int k = 0; k < 3; ++k) {
                                    const bool inside = x >= dstPhase && x < dstPhase + width;
                                    const uint8_t expect =
                                        inside ? s[size_t(y * sw + srcPhase + x - dstPhase) * 4 + k] : 0x5A;
                                    ASSERT_EQ(d[size_t(y * dw + x) * 3 + k], expect) << x << "," << y;
                                }
                        want = d;
                    } else {
                        ASSERT_EQ(d, want) << f.name;
                        ++compared;
                    }
                }
            }
    OverrideMmxUsable(oldMmx);
    OverrideSse2Usable(oldSse2);
    OverrideSsse3Usable(oldSsse3);
#if defined(__i386__) || defined(__x86_64__)
    if (!cpu.ssse3) GTEST_SKIP() << "the processor has no SSSE3";
    EXPECT_EQ(compared, 42 * 16 * 2);
#endif
}

// ---- Mipmap halving ----

TEST(HalveImageForMipmap, SizesAndAverages)
{
    const ColorFormat argb = Argb(), r565 = R5G6B5(), xrgb = Xrgb(), rgb = Rgb888();
    uint32_t dst[4] = {};
    const uint32_t src2x2[4] = {0x10203040, 0x11213141, 0x12223242, 0x13233343};
    auto halve = [&](const ColorFormat& f, void* d, int dpitch, const void* s, int spitch, int dy, int w, int h) {
        return HalveImageForMipmap(&f, static_cast<uint8_t*>(d), dpitch, static_cast<const uint8_t*>(s), spitch, 0, dy,
                                   0, 0, w, h);
    };
    EXPECT_EQ(halve(argb, dst, 8, src2x2, 8, 0, 3, 2), -1);
    EXPECT_EQ(halve(argb, dst, 8, src2x2, 8, 0, 2, 3), -1);
    EXPECT_EQ(halve(argb, dst, 8, src2x2, 8, 0, 2, 2), 0);
    EXPECT_EQ(dst[0], 0x11213141u);  // (0x10+0x11+0x12+0x13) >> 2 per channel, cut
    // Unused bits come out 0; one column halves by vertical pairs, one row by horizontal ones.
    const uint32_t col[4] = {0xFF000010, 0xFF000013, 0xFF0000F0, 0xFF0000F0};
    EXPECT_EQ(halve(xrgb, dst, 4, col, 4, 0, 1, 4), 0);
    EXPECT_EQ(dst[0], 0x11u);
    EXPECT_EQ(dst[1], 0xF0u);
    EXPECT_EQ(halve(xrgb, dst, 16, col, 16, 0, 4, 1), 0);
    EXPECT_EQ(dst[0], 0x11u);
    EXPECT_EQ(dst[1], 0xF0u);
    EXPECT_EQ(halve(xrgb, dst, 4, col, 4, 0, 1, 1), 0);
    EXPECT_EQ(dst[0], 0xFF000010u);  // 1x1 copies
    // 16-bit: fields averaged apart; the destination row is the one asked for.
    const uint16_t s16[4] = {0xF800, 0x0000, 0x001F, 0x07E1};
    uint16_t d16[2] = {0xAAAA, 0xAAAA};
    EXPECT_EQ(halve(r565, d16, 2, s16, 4, 1, 2, 2), 0);
    EXPECT_EQ(d16[0], 0xAAAA);
    EXPECT_EQ(d16[1], (7 << 11) | (15 << 5) | 8);
    // Other depths write nothing.
    uint8_t d24[3] = {1, 2, 3};
    const uint8_t s24[12] = {};
    EXPECT_EQ(halve(rgb, d24, 3, s24, 6, 0, 2, 2), 0);
    EXPECT_EQ(d24[0], 1);
}

}  // namespace
}  // namespace test
