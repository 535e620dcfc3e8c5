#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "quarn/softrender/softrender.h"
#include "render_reference.h"
#include "test_images.h"

using testimg::g_blend;
using testimg::Get;
using testimg::Comparison;
using testimg::GuardedDst;
using testimg::Img;
using testimg::kNoClip;
using testimg::MakeMask;
using testimg::Put;
using testimg::SetStoreBytes;
using testimg::SrcType;
using testimg::StoreBytes;
using testimg::UseSettings;

namespace {

using Tri = std::array<MemImgVertex, 3>;

struct Cfg {
    int mode = 0;
    int p = 255;
    uint32_t bright = kNoBrightColor;
    PixelRect clip = kNoClip;
    int borderPos = 90;
    int borderRange = 60;
};

void Use(const Cfg& c) { UseSettings(ref::Settings{c.mode, c.p, c.bright, c.clip, c.borderPos, c.borderRange, false}); }

class TriangleTest : public ::testing::Test {
protected:
    void SetUp() override { BuildMemImgBlendTables(); }
};

void MakeImage(Img& img, int w, int h, int kind, uint32_t fill)
{
    ASSERT_EQ(CreatePlainMemImg(&img.v, w, h, kind), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) Put(img.v, x, y, fill);
}

// How often each pixel of a w x h 32-bit image is visited: flat blue 1 added in mode 2.
std::vector<int> Visits(const std::vector<Tri>& tris, int w, int h, PixelRect clip = kNoClip)
{
    Img dst;
    MakeImage(dst, w, h, 1, 0);
    Cfg c;
    c.mode = 2;
    c.clip = clip;
    Use(c);
    for (const Tri& t : tris) RenderMemImgTriangle(g_blend, &dst.v, nullptr, t.data(), 0, nullptr, 1);
    std::vector<int> out;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) out.push_back(static_cast<int>(Get(dst.v, x, y) & 0xFF));
    return out;
}

Tri Identity(int x, int y, int w, int h, int corner)
{
    // Corners 1 to 4: (x, y), (x + w, y), (x, y + h), (x + w, y + h).
    const MemImgVertex c[4] = {{x, y, 0, 0}, {x + w, y, w, 0}, {x, y + h, 0, h}, {x + w, y + h, w, h}};
    return corner == 0 ? Tri{c[0], c[1], c[2]} : Tri{c[1], c[2], c[3]};
}

// A source whose texels spell their own coordinates.
void MakeCoordSource(Img& src, int w, int h)
{
    ASSERT_EQ(CreatePlainMemImg(&src.v, w, h, 1), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) Put(src.v, x, y, 0xA5000000u | uint32_t(y) << 8 | uint32_t(x));
}

}  // namespace

// The right edge and the bottom row are not drawn: the triangle (0, 0), (10, 0), (0, 10)
// covers columns 0 to 9 - k of rows k = 0 to 9.
TEST_F(TriangleTest, RightTriangleCoversItsHalfOpenStaircase)
{
    const std::vector<int> v = Visits({Tri{{{0, 0, 0, 0}, {10, 0, 0, 0}, {0, 10, 0, 0}}}}, 16, 16);
    int total = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const int expected = y < 10 && x <= 9 - y ? 1 : 0;
            EXPECT_EQ(v[y * 16 + x], expected) << x << "," << y;
            total += v[y * 16 + x];
        }
    EXPECT_EQ(total, 55);
}

// A quad as the triangles (1, 2, 3) and (2, 3, 4) covers its rectangle once, wherever it lies;
// with identity texture coordinates each texel lands on its own pixel.
TEST_F(TriangleTest, IdentityQuadCoversItsRectangleOnceWithEachTexelOnItsPixel)
{
    struct Case {
        int x, y, w, h;
    };
    const Case cases[] = {{3, 2, 10, 10}, {0, 0, 17, 5}, {5, 1, 3, 19}, {-4, -7, 13, 11}, {-1, 4, 1, 1}, {8, -3, 2, 9}};
    constexpr int kW = 24, kH = 24;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y) + " " + std::to_string(c.w) + "x" +
                     std::to_string(c.h));
        // Every pixel once: a source of ones added onto a zero image.
        Img ones, dst;
        MakeImage(ones, c.w, c.h, 1, 1);
        MakeImage(dst, kW, kH, 1, 0);
        Cfg cfg;
        cfg.mode = 2;
        Use(cfg);
        for (int k = 0; k < 2; ++k)
            RenderMemImgTriangle(g_blend, &dst.v, &ones.v, Identity(c.x, c.y, c.w, c.h, k).data(), 0, nullptr, 0);
        // Each texel on its own pixel: a copy of a coordinate-coded source.
        Img coords, copy;
        MakeCoordSource(coords, c.w, c.h);
        MakeImage(copy, kW, kH, 1, 0x11111111);
        Use(Cfg{});
        for (int k = 0; k < 2; ++k)
            RenderMemImgTriangle(g_blend, &copy.v, &coords.v, Identity(c.x, c.y, c.w, c.h, k).data(), 0, nullptr, 0);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const bool inside = x >= c.x && x < c.x + c.w && y >= c.y && y < c.y + c.h;
                ASSERT_EQ(Get(dst.v, x, y), inside ? 1u : 0u) << x << "," << y;
                ASSERT_EQ(Get(copy.v, x, y), inside ? Get(coords.v, x - c.x, y - c.y) : 0x11111111u) << x << "," << y;
            }
    }
}

// A mesh of jittered cells, each split along a random diagonal, covers its rectangle with no
// pixel twice and none missed, also where it lies across negative coordinates.
TEST_F(TriangleTest, MeshCoversEveryPixelExactlyOnce)
{
    std::mt19937 rng(99);
    constexpr int kCells = 6, kStep = 9, kW = 64, kH = 64;
    for (int origin : {2, -13}) {
        std::vector<MemImgVertex> pts;
        for (int j = 0; j <= kCells; ++j)
            for (int i = 0; i <= kCells; ++i) {
                int x = origin + i * kStep, y = origin + j * kStep;
                if (i > 0 && i < kCells) x += static_cast<int>(rng() % 7) - 3;
                if (j > 0 && j < kCells) y += static_cast<int>(rng() % 7) - 3;
                pts.push_back({x, y, 0, 0});
            }
        std::vector<Tri> tris;
        auto at = [&](int i, int j) { return pts[static_cast<size_t>(j * (kCells + 1) + i)]; };
        for (int j = 0; j < kCells; ++j)
            for (int i = 0; i < kCells; ++i) {
                const MemImgVertex a = at(i, j), b = at(i + 1, j), c = at(i, j + 1), d = at(i + 1, j + 1);
                // A jittered cell may be concave: split it along a diagonal inside it.
                auto turn = [](MemImgVertex p, MemImgVertex q, MemImgVertex r) {
                    return (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x) > 0;
                };
                const bool viaBC = turn(a, b, c) == turn(b, d, c);
                const bool viaAD = turn(a, b, d) == turn(a, d, c);
                if (viaBC && (!viaAD || rng() % 2)) {
                    tris.push_back({a, b, c});
                    tris.push_back({b, d, c});
                } else {
                    tris.push_back({a, b, d});
                    tris.push_back({a, d, c});
                }
            }
        const std::vector<int> v = Visits(tris, kW, kH);
        const int end = origin + kCells * kStep;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const bool inside = x >= origin && x < end && y >= origin && y < end;
                ASSERT_EQ(v[y * kW + x], inside ? 1 : 0) << "origin " << origin << " at " << x << "," << y;
            }
    }
}

// The covered pixels depend on the triangle, not on the order of its vertices.
TEST_F(TriangleTest, CoverageIsIndependentOfVertexOrder)
{
    std::mt19937 rng(5);
    for (int trial = 0; trial < 300; ++trial) {
        Tri t;
        for (MemImgVertex& v : t) {
            // Small ranges make equal keys and flat tops and bottoms common.
            v.x = static_cast<int>(rng() % 30) - 5;
            v.y = static_cast<int>(rng() % (trial % 2 ? 6 : 30)) - 5;
            v.u = v.v = 0;
        }
        const std::vector<int> first = Visits({t}, 32, 32);
        std::array<int, 3> order{0, 1, 2};
        while (std::next_permutation(order.begin(), order.end())) {
            const Tri p{t[order[0]], t[order[1]], t[order[2]]};
            ASSERT_EQ(Visits({p}, 32, 32), first) << "trial " << trial;
        }
    }
}

// A shape draws the same pixels and texels wherever it lies, across row and column 0 too.
TEST_F(TriangleTest, TranslationMovesTheImageWithoutChangingIt)
{
    std::mt19937 rng(21);
    Img src;
    MakeCoordSource(src, 40, 40);
    constexpr int kW = 120, kShift = 70;
    for (int trial = 0; trial < 200; ++trial) {
        Tri t;
        for (MemImgVertex& v : t) {
            v.x = static_cast<int>(rng() % 50) - 25;
            v.y = static_cast<int>(rng() % 50) - 25;
            v.u = static_cast<int>(rng() % 50) - 5;
            v.v = static_cast<int>(rng() % 50) - 5;
        }
        Tri moved = t;
        for (MemImgVertex& v : moved) v.x += kShift, v.y += kShift;
        Img a, b;
        MakeImage(a, kW, kW, 1, 0);
        MakeImage(b, kW, kW, 1, 0);
        Use(Cfg{});
        RenderMemImgTriangle(g_blend, &a.v, &src.v, t.data(), 0, nullptr, 0);
        RenderMemImgTriangle(g_blend, &b.v, &src.v, moved.data(), 0, nullptr, 0);
        for (int y = 0; y + kShift < kW; ++y)
            for (int x = 0; x + kShift < kW; ++x)
                ASSERT_EQ(Get(a.v, x, y), Get(b.v, x + kShift, y + kShift))
                    << "trial " << trial << " at " << x << "," << y;
        // And the part left or above of 0 is exactly what was cut off.
        int visibleMoved = 0, visible = 0;
        for (int y = 0; y < kW; ++y)
            for (int x = 0; x < kW; ++x) {
                visible += Get(a.v, x, y) != 0;
                visibleMoved += Get(b.v, x, y) != 0 && x >= kShift && y >= kShift;
            }
        ASSERT_EQ(visible, visibleMoved) << "trial " << trial;
    }
}

// Inside any clip rectangle the clipped draw equals the unclipped one, and outside it nothing
// changes; texels at clipped span starts are the ones the whole walk reaches there.
TEST_F(TriangleTest, ClippingCutsWithoutChangingWhatIsDrawn)
{
    std::mt19937 rng(77);
    Img src;
    MakeCoordSource(src, 48, 48);
    constexpr int kW = 40;
    for (int trial = 0; trial < 200; ++trial) {
        Tri t;
        for (MemImgVertex& v : t) {
            v.x = static_cast<int>(rng() % 60) - 10;
            v.y = static_cast<int>(rng() % 60) - 10;
            v.u = static_cast<int>(rng() % 60) - 6;
            v.v = static_cast<int>(rng() % 60) - 6;
        }
        PixelRect clip{static_cast<int>(rng() % 30), static_cast<int>(rng() % 30), 0, 0};
        clip.right = clip.left + static_cast<int>(rng() % 20);
        clip.bottom = clip.top + static_cast<int>(rng() % 20);
        Img whole, cut;
        MakeImage(whole, kW, kW, 1, 0x22222222);
        MakeImage(cut, kW, kW, 1, 0x22222222);
        Cfg c;
        Use(c);
        RenderMemImgTriangle(g_blend, &whole.v, &src.v, t.data(), 0, nullptr, 0);
        c.clip = clip;
        Use(c);
        RenderMemImgTriangle(g_blend, &cut.v, &src.v, t.data(), 0, nullptr, 0);
        for (int y = 0; y < kW; ++y)
            for (int x = 0; x < kW; ++x) {
                const bool in = x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom;
                ASSERT_EQ(Get(cut.v, x, y), in ? Get(whole.v, x, y) : 0x22222222u)
                    << "trial " << trial << " at " << x << "," << y;
            }
    }
}

// A view inside a larger store: however far the triangle and the clip reach, only the view's
// pixels change, and only the source view's texels are read.
TEST_F(TriangleTest, WritesAndReadsStayInsideTheViews)
{
    for (int kind : {0, 1}) {
        for (bool flat : {false, true}) {
            Img dstStore, dst, srcStore, src, mask;
            ASSERT_EQ(CreatePlainMemImg(&dstStore.v, 30, 26, kind), 0);
            std::memset(dstStore.v.store->pixels, 0xAB, static_cast<size_t>(dstStore.v.store->pitch) * 26);
            MakeMemImgView(&dst.v, &dstStore.v, 5, 4, 17, 13);
            // The source view's surroundings hold a colour that must never appear.
            const uint32_t outside = kind == 1 ? 0x00FF00FFu : 0xF81Fu;
            const uint32_t insideColor = kind == 1 ? 0x00336699u : 0x3333u;
            MakeImage(srcStore, 20, 20, kind, outside);
            MakeMemImgView(&src.v, &srcStore.v, 6, 6, 8, 8);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) Put(src.v, x, y, insideColor);
            Cfg c;
            c.clip = kNoClip;
            Use(c);
            // u = x - 4 and v = y - 2 reach past the source view on every side.
            const Tri t{{{-50, -40, -54, -42}, {90, -30, 86, -32}, {-20, 80, -24, 78}}};
            RenderMemImgTriangle(g_blend, &dst.v, flat ? nullptr : &src.v, t.data(), 0, nullptr, insideColor);
            int drawn = 0;
            for (int y = 0; y < 26; ++y)
                for (int x = 0; x < 30; ++x) {
                    const bool inView = x >= 5 && x < 22 && y >= 4 && y < 17;
                    const uint32_t px = Get(dstStore.v, x, y);
                    const uint32_t sentinel = kind == 1 ? 0xABABABABu : 0xABABu;
                    if (!inView) {
                        ASSERT_EQ(px, sentinel) << x << "," << y;
                    }
                    ASSERT_NE(px, outside);
                    drawn += px == insideColor;
                }
            EXPECT_GT(drawn, 0);
        }
    }
}

// ---- The pixel stage against the reference ----

namespace {

// The shared test source, with two more corners: a palette entry of the transparent entry's
// colour (only the index is transparent) and 32-bit texels that differ from the transparent
// value only in the fourth byte.
void MakeTriangleSource(Img& img, std::mt19937& rng, int kind, SrcType type, int w, int h)
{
    testimg::MakeSource(img, rng, kind, type, w, h);
    MemImgBase* s = img.v.store;
    const int entry = kind == 1 ? 4 : 2;
    if (type == SrcType::Paletted) std::memcpy(s->palette + entry * 8, s->palette + entry * 7, entry);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (rng() % 8 != 0) continue;
            if (type == SrcType::Paletted) Put(img.v, x, y, 8);
            if (type == SrcType::Plain && kind == 1) Put(img.v, x, y, s->transparentColor ^ 0x01000000);
        }
}

}  // namespace

// Every branch, mode, parameter, bright colour and option through the identity quad, against
// the reference; the refused modes and parameters leave the destination as it was.
TEST_F(TriangleTest, PixelStageMatchesTheReferenceOverEveryOption)
{
    std::mt19937 rng(2024);
    const int modes[] = {-1, 0, 1, 2, 3, 4, 5, 9, 10, 11, 12};
    const int params[] = {0, 1, 128, 254, 255};
    const uint32_t brights[] = {0xFFFFFF, 0xFEFFFF, 0x9C3AE1};
    struct Placement {
        int x, y;
        PixelRect clip;
    };
    const Placement placements[] = {{2, 1, kNoClip}, {-3, 4, {1, 0, 9, 8}}};
    int cases = 0;
    for (int kind : {0, 1})
        for (SrcType type : {SrcType::Plain, SrcType::Alpha, SrcType::Paletted}) {
            Img src, mask;
            MakeTriangleSource(src, rng, kind, type, 9, 7);
            MakeMask(mask, rng, 9, 7);
            Comparison cmp;
            cmp.Make(kind, rng);
            for (int mode : modes)
                for (int p : params)
                    for (uint32_t bright : brights)
                        for (int trans : {0, 1})
                            for (bool withMask : {false, true})
                                for (const Placement& pl : placements) {
                                    Cfg c{mode, p, bright, pl.clip, 90, 60};
                                    const MEMIMG* m = withMask ? &mask.v : nullptr;
                                    cmp.Case(
                                        [&](MEMIMG& got, MEMIMG& want) {
                                            Use(c);
                                            for (int k = 0; k < 2; ++k)
                                                RenderMemImgTriangle(g_blend, &got, &src.v,
                                                                     Identity(pl.x, pl.y, 9, 7, k).data(), trans, m, 0);
                                            ref::TriangleQuad(&want, &src.v, m, pl.x, pl.y, trans,
                                                              ref::Settings{c.mode, c.p, c.bright, c.clip, c.borderPos,
                                                                            c.borderRange, false});
                                        },
                                        [&] {
                                            return testing::Message()
                                                   << "kind " << kind << " src " << static_cast<int>(type) << " mode "
                                                   << mode << " p " << p << " bright " << std::hex << bright << std::dec
                                                   << " trans " << trans << " mask " << withMask << " at " << pl.x
                                                   << "," << pl.y;
                                        });
                                    ++cases;
                                }
            EXPECT_EQ(cmp.failures, 0);
        }
    EXPECT_GT(cases, 3000);
}

// With no source the triangle is filled with the flat colour, its channels scaled by the
// bright colour, under every mode; mask and transparent flag play no part.
TEST_F(TriangleTest, FlatBranchesMatchTheReference)
{
    std::mt19937 rng(8);
    const int modes[] = {-1, 0, 1, 2, 3, 4, 5, 10, 11, 12};
    const uint32_t brights[] = {0xFFFFFF, 0xFFFF00, 0x9C3AE1};
    Img mask;
    MakeMask(mask, rng, 4, 4);
    for (int kind : {0, 1}) {
        const bool wide = kind == 1;
        GuardedDst proto, got, want;
        proto.Make(kind, rng);
        got.Make(kind, rng);
        want.Make(kind, rng);
        const std::vector<uint8_t> start = StoreBytes(proto.store.v);
        for (uint32_t color : {0x7F20C0F0u, 0xFFFFFFFFu, 0x00000000u, 0x12345678u})
            for (int mode : modes)
                for (int p : {0, 1, 128, 255})
                    for (uint32_t bright : brights) {
                        const uint32_t given = wide ? color : color & 0xFFFF;
                        Cfg c{mode, p, bright, {1, 1, 11, 9}, 0, 0};
                        SetStoreBytes(got.store.v, start);
                        SetStoreBytes(want.store.v, start);
                        Use(c);
                        for (int k = 0; k < 2; ++k)
                            RenderMemImgTriangle(g_blend, &got.view.v, nullptr, Identity(-2, -1, 20, 20, k).data(), 1,
                                                 &mask.v, given);
                        int m = mode == 1 && p == 255 ? 0 : mode;
                        const bool drawn = (m >= 0 && m <= 4) || m == 10 || m == 11;
                        if (drawn && !((m == 1 || m == 2 || m == 3) && p == 0)) {
                            // The colour after the bright step: each channel floor(c * b / 255).
                            uint32_t prepared = wide ? given & 0xFF000000 : 0;
                            const int shifts[3] = {0, wide ? 8 : 5, wide ? 16 : 11};
                            const uint32_t maxes[3] = {wide ? 255u : 31u, wide ? 255u : 63u, wide ? 255u : 31u};
                            for (int ch = 0; ch < 3; ++ch) {
                                const uint32_t v = (given >> shifts[ch]) & maxes[ch];
                                const uint32_t b = (bright >> (8 * ch)) & 0xFF;
                                prepared |= (v * b / 255) << shifts[ch];
                            }
                            ref::PixelCase rb;
                            rb.triangle = true;
                            rb.wide = wide;
                            rb.mode = m;
                            rb.p = p;
                            for (int y = 1; y < 9; ++y)
                                for (int x = 1; x < 11; ++x)
                                    Put(want.view.v, x, y, ref::BlendPixel(rb, Get(want.view.v, x, y), prepared));
                        }
                        ASSERT_EQ(StoreBytes(got.store.v), StoreBytes(want.store.v))
                            << "kind " << kind << " colour " << std::hex << color << " bright " << bright << std::dec
                            << " mode " << mode << " p " << p;
                    }
    }
}

// The corner values the rules name, checked directly.
TEST_F(TriangleTest, NamedCornerValues)
{
    struct Case {
        int kind;
        int mode, p;
        uint32_t bright;
        uint32_t dst, texel;
        bool alphaSrc;
        int trans;
        uint32_t want;
        const char* what;
    };
    const Case cases[] = {
        {1, 0, 0, 0xFFFFFF, 0x00000000, 0xFF0000FF, true, 0, 0x000000FE, "alpha 255 without the flag is weighted"},
        {1, 0, 0, 0xFFFFFF, 0x00000000, 0xFF0000FF, true, 1, 0xFF0000FF,
         "alpha 255 with the flag copies the texel whole"},
        {1, 4, 0, 0xFFFFFF, 0x00808080, 0x00123456, true, 0, 0x00000000, "multiply by alpha 0 writes black"},
        {1, 4, 0, 0xFFFFFF, 0x00808080, 0x00123456, true, 1, 0x00808080, "with the flag alpha 0 is skipped in mode 4"},
        // In modes 10 and 11 a weight of 0 leaves the pixel as it is, so skipping alpha 0
        // shows nothing there; what the flag does show is alpha 255 drawn by the opaque form,
        // L8(d, x, p), where the weighted form L16(d, x, 255 p) rounds lower.
        {1, 10, 200, 0xFFFFFF, 0x00808080, 0xFF123456, true, 1, 0x00D5BAA0,
         "with the flag alpha 255 is opaque in mode 10"},
        {1, 10, 200, 0xFFFFFF, 0x00808080, 0xFF123456, true, 0, 0x00D4BA9F,
         "without the flag alpha 255 is weighted in mode 10"},
        {1, 11, 200, 0xFFFFFF, 0x00FFFFFF, 0xFF000000, true, 1, 0x00373737,
         "with the flag alpha 255 is opaque in mode 11"},
        {1, 11, 200, 0xFFFFFF, 0x00FFFFFF, 0xFF000000, true, 0, 0x00383838,
         "without the flag alpha 255 is weighted in mode 11"},
        {1, 1, 128, 0xFFFFFF, 0x00000000, 0x000000FF, false, 0, 0x0000007F, "32-bit blend floors by 256"},
        {0, 1, 128, 0xFFFFFF, 0x0000, 0x001F, false, 0, 0x000F, "16-bit blend scales by p / 255"},
        {1, 0, 0, 0xFEFFFF, 0x77000000, 0x11FFFFFF, false, 0, 0x77FEFFFF, "bright writes only the colour bytes"},
        {1, 0, 0, 0xFFFFFF, 0x77000000, 0x11FFFFFF, false, 0, 0x11FFFFFF, "a plain copy carries the fourth byte"},
    };
    for (const Case& c : cases) {
        Img src, dst;
        ASSERT_EQ(CreateMemImgWithOptions(&src.v, 1, 1, -1, 0x00654321, c.kind, 0, c.alphaSrc ? 1 : 0, 0, nullptr), 0);
        Put(src.v, 0, 0, c.texel);
        MakeImage(dst, 2, 2, c.kind, c.dst);
        Cfg cfg;
        cfg.mode = c.mode;
        cfg.p = c.p;
        cfg.bright = c.bright;
        Use(cfg);
        for (int k = 0; k < 2; ++k)
            RenderMemImgTriangle(g_blend, &dst.v, &src.v, Identity(0, 0, 1, 1, k).data(), c.trans, nullptr, 0);
        EXPECT_EQ(Get(dst.v, 0, 0), c.want) << c.what;
        EXPECT_EQ(Get(dst.v, 1, 0), c.dst) << c.what;
    }
}

// ---- Refusals and far coordinates ----

TEST_F(TriangleTest, RefusedCallsLeaveTheDestinationUnchanged)
{
    Img d32, d16, s32, s16, pal, alphaDst, mask, small, wide;
    MakeImage(d32, 8, 8, 1, 0x01020304);
    MakeImage(d16, 8, 8, 0, 0x0102);
    MakeImage(s32, 8, 8, 1, 0x00FFFFFF);
    MakeImage(s16, 8, 8, 0, 0xFFFF);
    ASSERT_EQ(CreateMemImgWithOptions(&pal.v, 8, 8, -1, 0, 1, 1, 0, 0, nullptr), 0);
    ASSERT_EQ(CreateMemImgWithOptions(&alphaDst.v, 8, 8, -1, 0, 1, 0, 1, 0, nullptr), 0);
    ASSERT_EQ(CreateMemImgWithOptions(&small.v, 4, 8, -1, 0, kMemImgGrey8, 0, 0, 0, nullptr), 0);
    ASSERT_EQ(CreatePlainMemImg(&wide.v, 8193, 1, 1), 0);
    const Tri good{{{0, 0, 0, 0}, {8, 0, 8, 0}, {0, 8, 0, 8}}};
    struct Case {
        const char* what;
        MEMIMG* dst;
        const MEMIMG* src;
        Tri tri;
        const MEMIMG* mask;
    };
    const int lim = kMemImgTriangleCoordLimit;
    const Case cases[] = {
        {"kinds differ", &d32.v, &s16.v, good, nullptr},
        {"paletted destination", &pal.v, nullptr, good, nullptr},
        {"destination with alpha", &alphaDst.v, nullptr, good, nullptr},
        {"collinear", &d32.v, &s32.v, Tri{{{0, 0, 0, 0}, {4, 4, 8, 0}, {8, 8, 0, 8}}}, nullptr},
        {"two equal vertices", &d32.v, nullptr, Tri{{{0, 0, 0, 0}, {0, 0, 8, 0}, {0, 8, 0, 8}}}, nullptr},
        {"coordinate beyond the limit", &d32.v, nullptr, Tri{{{0, 0, 0, 0}, {lim + 1, 0, 0, 0}, {0, 8, 0, 0}}},
         nullptr},
        {"texel coordinate beyond the limit", &d32.v, &s32.v, Tri{{{0, 0, 0, 0}, {8, 0, -lim - 1, 0}, {0, 8, 0, 8}}},
         nullptr},
        {"more than 8192 texels a pixel", &d32.v, &s32.v, Tri{{{0, 0, 0, 0}, {1, 0, 10000, 0}, {0, 8, 0, 8}}}, nullptr},
        {"mask narrower than the source", &d32.v, &s32.v, good, &small.v},
        {"source wider than 8192", &d32.v, &wide.v, good, nullptr},
    };
    for (const Case& c : cases) {
        Use(Cfg{});
        const std::vector<uint8_t> before = StoreBytes(*c.dst);
        RenderMemImgTriangle(g_blend, c.dst, c.src, c.tri.data(), 0, c.mask, 0xFFFFFFFF);
        EXPECT_EQ(StoreBytes(*c.dst), before) << c.what;
    }
    // The same calls made sound draw.
    Use(Cfg{});
    RenderMemImgTriangle(g_blend, &d16.v, &s16.v, good.data(), 0, nullptr, 0);
    EXPECT_EQ(Get(d16.v, 0, 0), 0xFFFFu);
    RenderMemImgTriangle(g_blend, &d32.v, &s32.v, good.data(), 0, nullptr, 0);
    EXPECT_EQ(Get(d32.v, 0, 0), 0x00FFFFFFu);
}

// Huge triangles draw their visible part, and texel coordinates far outside the source (beyond
// what 32 bits hold along the span) skip exactly the pixels that lie outside it.
TEST_F(TriangleTest, FarCoordinatesDrawTheVisiblePartExactly)
{
    Img src;
    MakeCoordSource(src, 9, 12);
    const int far = kMemImgTriangleCoordLimit;
    {
        // Identity texture mapping over a triangle far larger than the image.
        Img dst;
        MakeImage(dst, 16, 16, 1, 0);
        Use(Cfg{});
        const Tri t{{{-1000, -1000, -1000, -1000}, {far, -1000, far, -1000}, {-1000, far, -1000, far}}};
        RenderMemImgTriangle(g_blend, &dst.v, &src.v, t.data(), 0, nullptr, 0);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                ASSERT_EQ(Get(dst.v, x, y), x < 9 && y < 12 ? Get(src.v, x, y) : 0u) << x << "," << y;
    }
    struct Case {
        Tri t;
        int column;  // the one column whose texel column is 0
    };
    const Case cases[] = {
        {Tri{{{0, 0, 0, 0}, {10, 0, 10000, 0}, {0, 10, 0, 10}}}, 0},        // u = 1000 x
        {Tri{{{0, 0, 9000, 0}, {10, 0, -9000, 0}, {0, 10, 9000, 10}}}, 5},  // u = 9000 - 1800 x
    };
    for (const Case& c : cases) {
        Img dst;
        MakeImage(dst, 16, 16, 1, 0);
        Use(Cfg{});
        RenderMemImgTriangle(g_blend, &dst.v, &src.v, c.t.data(), 0, nullptr, 0);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const bool hit = x == c.column && y < 10 && x <= 9 - y;
                ASSERT_EQ(Get(dst.v, x, y), hit ? Get(src.v, 0, y) : 0u) << x << "," << y;
            }
    }
}
