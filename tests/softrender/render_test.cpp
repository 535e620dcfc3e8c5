#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "quarn/softrender/simd_rows.h"
#include "quarn/softrender/softrender.h"
#include "render_reference.h"
#include "test_images.h"

using namespace testimg;

namespace {

std::string Describe(int kind, SrcType t, const ref::Settings& s, int trans, bool mask, int x, int y)
{
    return "kind " + std::to_string(kind) + " src " + std::to_string(static_cast<int>(t)) + " mode " +
           std::to_string(s.mode) + " p " + std::to_string(s.p) + " bright " + std::to_string(s.bright) + " trans " +
           std::to_string(trans) + " mask " + std::to_string(mask) + " simd " + std::to_string(s.simd) + " at " +
           std::to_string(x) + "," + std::to_string(y);
}

}  // namespace

// The kernel against the reference over every mode, parameter, bright, option and layout,
// inside a guarded destination view.
TEST_F(RenderTest, KernelMatchesReferenceOverEveryOption)
{
    std::mt19937 rng(12345);
    const int modes[] = {-1, 0, 1, 2, 3, 4, 5, 7, 9, 10, 11, 12};
    const int params[] = {0, 1, 128, 254, 255};
    const uint32_t brights[] = {0xFFFFFF, 0xFFFEFF, 0x9C3AE1};
    // Placements: wholly inside (the run-length path when keyed), and cut by the clip on
    // either side.
    struct Placement {
        int x, y;
        PixelRect clip;
    };
    const Placement placements[] = {
        {2, 1, kNoClip},
        {-3, -2, {1, 0, 100, 100}},
        {6, 5, {0, 0, 11, 9}},
    };

    int cases = 0;
    for (int kind : {0, 1}) {
        for (SrcType type : {SrcType::Plain, SrcType::Alpha, SrcType::Paletted}) {
            Img src, mask;
            MakeSource(src, rng, kind, type, 9, 7);
            MakeMask(mask, rng, 9, 7);
            Comparison cmp;
            cmp.Make(kind, rng);
            for (int mode : modes)
                for (int p : params)
                    for (uint32_t bright : brights)
                        for (int trans : {0, 1})
                            for (bool withMask : {false, true})
                                for (int simd : {0, 1, 2})
                                    for (const Placement& pl : placements) {
                                        ref::Settings s{mode, p, bright, pl.clip, 90, 60, simd};
                                        const MEMIMG* m = withMask ? &mask.v : nullptr;
                                        cmp.Case(
                                            [&](MEMIMG& got, MEMIMG& want) {
                                                UseSettings(s);
                                                RenderMemImg(g_blend, &got, &src.v, pl.x, pl.y, trans, m);
                                                ref::Render(&want, &src.v, pl.x, pl.y, trans, m, s);
                                            },
                                            [&] { return Describe(kind, type, s, trans, withMask, pl.x, pl.y); });
                                        ++cases;
                                    }
            EXPECT_EQ(cmp.failures, 0);
        }
    }
    EXPECT_GT(cases, 10000);
}

// The row forms take four pixels a step and decide whole steps at once: groups whose
// alphas are all 0, all 255 or mixed, and whose pixels are all, some or none the key, each
// form forced in turn, against the reference.
TEST_F(RenderTest, RowFormsMatchTheReferenceOnWholeGroupsOfFour)
{
    std::mt19937 rng(31);
    const uint8_t groups[][4] = {
        {0, 0, 0, 0}, {255, 255, 255, 255}, {0, 255, 0, 255}, {1, 128, 254, 0}, {255, 255, 255, 7},
    };
    for (SrcType type : {SrcType::Plain, SrcType::Alpha}) {
        Img src;
        MakeSource(src, rng, 1, type, 13, 5);
        const uint32_t key = src.v.store->transparentColor;
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 13; ++x) {
                const int g = (x / 4 + y) % 5;
                uint32_t v = static_cast<uint32_t>(rng());
                if (type == SrcType::Alpha) v = (v & 0x00FFFFFF) | (uint32_t{groups[g][x % 4]} << 24);
                else if (groups[g][x % 4] == 0) v = key;
                Put(src.v, x, y, v);
            }
        MarkMemImgPixelsChanged(src.v.store);
        Comparison cmp;
        cmp.Make(1, rng);
        for (int mode : {0, 1, 2, 3})
            for (int p : {100, 128, 255})
                for (int trans : {0, 1})
                    for (int simd : {0, 1, 2})
                        for (int x : {0, 1}) {
                            const ref::Settings s{mode, p, 0xFFFFFF, kNoClip, 0, 0, simd};
                            cmp.Case(
                                [&](MEMIMG& got, MEMIMG& want) {
                                    UseSettings(s);
                                    RenderMemImg(g_blend, &got, &src.v, x, 2, trans, nullptr);
                                    ref::Render(&want, &src.v, x, 2, trans, nullptr, s);
                                },
                                [&] { return Describe(1, type, s, trans, false, x, 2); });
                        }
        EXPECT_EQ(cmp.failures, 0);
    }
}

// The source-alpha form also decides sixteen pixels at once, and after a mixed block puts
// off deciding for a while: lines of all-clear, all-opaque and mixed blocks of sixteen in
// runs and alternations (uniform blocks right after mixed ones, and after a growing run of
// them), ending in a part block of nine, drawn at an offset that moves them against the
// destination too, and again over a width that leaves fewer than four pixels at the end.
TEST_F(RenderTest, SourceAlphaMatchesTheReferenceOnWholeBlocksOfSixteen)
{
    std::mt19937 rng(47);
    // Per line, the alpha of each block of sixteen: C clear, O opaque, M mixed throughout,
    // and blocks clear or opaque but for part of them: P opaque but for the last pixel, Q
    // clear but for the last four, R opaque, mixed, clear and opaque by fours.
    const char* const lines[] = {
        "CCCCCCCCCCCM", "OOOOOOOOOOOO", "COMCOMCOMCOM", "MCCCOOOMOCMO", "MMMMCCCCCCCC",
        "MMMMMMMMMMOO", "MOMCMMOMMMCM", "OCMMMOOCCOMM", "PQRPQROOPCQR", "MPPMQQMRRMOR",
    };
    constexpr int kH = sizeof(lines) / sizeof(lines[0]);
    constexpr int kBlocks = 12, kW = 16 * (kBlocks - 1) + 9;
    Img src, got, want;
    ASSERT_EQ(CreateMemImgWithOptions(&src.v, kW, kH, -1, 0, 1, 0, 1, 0, nullptr), 0);
    ASSERT_EQ(CreatePlainMemImg(&got.v, kW + 8, kH, 1), 0);
    ASSERT_EQ(CreatePlainMemImg(&want.v, kW + 8, kH, 1), 0);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const char kind = lines[y][x / 16];
            const int at = x % 16;
            // Mixed blocks hold clear and opaque pixels too, and at least one in between.
            uint32_t alpha = rng() & 0xFF;
            if (kind == 'M' && at == 5) alpha = 0;
            if (kind == 'M' && at == 6) alpha = 255;
            if (kind == 'M' && at == 7) alpha = 1 + rng() % 254;
            if (kind == 'C' || (kind == 'Q' && at < 12) || (kind == 'R' && at >= 8 && at < 12)) alpha = 0;
            if (kind == 'O' || (kind == 'P' && at < 15) || (kind == 'R' && (at < 4 || at >= 12))) alpha = 255;
            if (kind == 'P' && at == 15) alpha = 254;
            if (kind == 'R' && at == 4) alpha = 128;
            Put(src.v, x, y, (static_cast<uint32_t>(rng()) & 0x00FFFFFF) | (alpha << 24));
        }
    MarkMemImgPixelsChanged(src.v.store);
    std::vector<uint32_t> start(static_cast<size_t>(kW + 8) * kH);
    for (auto& v : start) v = static_cast<uint32_t>(rng());
    const PixelRect whole{0, 0, kW + 8, kH};
    // The second width ends 16 * 11 + 2 pixels in.
    const PixelRect narrow{0, 0, 16 * (kBlocks - 1) + 2, kH};
    for (int simd : {0, 1, 2})
        for (int x : {0, 3})
            for (const PixelRect& clip : {whole, narrow}) {
                for (MEMIMG* d : {&got.v, &want.v}) {
                    for (int y = 0; y < kH; ++y)
                        for (int i = 0; i < kW + 8; ++i) Put(*d, i, y, start[static_cast<size_t>(y) * (kW + 8) + i]);
                    MarkMemImgPixelsChanged(d->store);
                }
                const ref::Settings s{0, 255, 0xFFFFFF, clip, 0, 0, simd};
                UseSettings(s);
                RenderMemImg(g_blend, &got.v, &src.v, x, 0, 1, nullptr);
                ref::Render(&want.v, &src.v, x, 0, 1, nullptr, s);
                EXPECT_EQ(StoreBytes(got.v), StoreBytes(want.v))
                    << "simd " << simd << ", at " << x << ", width " << clip.right;
            }
}

// The SSE2 lerp rows against the plain ones over every byte pair: each alpha (source-alpha
// form, varying along the row so that every block of sixteen is mixed and blends) or
// parameter (blend form) meets every source and destination byte in every channel, with
// the destination's fourth byte varied apart from the source's.
TEST(RowFormTest, Sse2LerpRowsMatchThePlainRowsOverEveryBytePair)
{
#if QUARN_HAVE_SSE2
    // The processor's own answer, not one an earlier test forced.
    OverrideMmxUsable(-1);
    OverrideSse2Usable(-1);
    if (!GetSoftRenderSse2()) GTEST_SKIP() << "no SSE2";
    constexpr int kN = 256 * 256 + 3;  // a part step and a lone pixel at the end
    std::vector<uint8_t> src(4 * kN), start(4 * kN), got(4 * kN), want(4 * kN);
    for (int i = 0; i < kN; ++i) {
        const uint8_t sv = static_cast<uint8_t>(i), dv = static_cast<uint8_t>(i >> 8);
        for (int c = 0; c < 3; ++c) {
            src[4 * i + c] = sv;
            start[4 * i + c] = dv;
        }
        src[4 * i + 3] = static_cast<uint8_t>(sv ^ 0x5A);
        start[4 * i + 3] = static_cast<uint8_t>(sv + 3 * dv);
    }
    PixelInputs in{};
    int failures = 0;
    for (const bool alphaForm : {true, false})
        for (int w = 0; w < 256; ++w) {
            std::vector<uint8_t> s = src;
            if (alphaForm)
                for (int i = 0; i < kN; ++i) s[4 * i + 3] = static_cast<uint8_t>(w + 7 * i);
            else in.ctx.p = static_cast<uint32_t>(w);
            got = start;
            want = start;
            if (alphaForm) {
                Sse2Row<RowOp::kSourceAlpha>(got.data(), s.data(), kN, in);
                PlainRow<RowOp::kSourceAlpha>(want.data(), s.data(), kN, in);
            } else {
                Sse2Row<RowOp::kBlend>(got.data(), s.data(), kN, in);
                PlainRow<RowOp::kBlend>(want.data(), s.data(), kN, in);
            }
            if (got != want && ++failures < 5) ADD_FAILURE() << (alphaForm ? "alpha " : "p ") << w;
        }
    EXPECT_EQ(failures, 0);
#else
    GTEST_SKIP() << "no SSE2 build";
#endif
}

// Outside the clipped rectangle nothing changes: neither the rest of the view nor the store
// around it.
TEST_F(RenderTest, WritesStayInsideTheClippedRectangle)
{
    std::mt19937 rng(7);
    for (int kind : {0, 1}) {
        for (SrcType type : {SrcType::Plain, SrcType::Alpha, SrcType::Paletted}) {
            Img src;
            MakeSource(src, rng, kind, type, 9, 7);
            GuardedDst d;
            d.Make(kind, rng);
            const PixelRect clip{2, 1, 8, 6};
            for (int mode : {0, 1, 2, 3, 4, 10, 11}) {
                for (int p : {128, 200, 255}) {
                    const std::vector<uint8_t> before = StoreBytes(d.store.v);
                    UseSettings(ref::Settings{mode, p, 0xFFFFFF, clip, 0, 0, true});
                    RenderMemImg(g_blend, &d.view.v, &src.v, -1, -1, 0, nullptr);
                    const std::vector<uint8_t> after = StoreBytes(d.store.v);
                    const int bpp = kind == 1 ? 4 : 2;
                    const int pitch = d.store.v.store->pitch;
                    for (int y = 0; y < GuardedDst::kH; ++y)
                        for (int x = 0; x < pitch / bpp; ++x) {
                            const int vx = x - GuardedDst::kX, vy = y - GuardedDst::kY;
                            const bool inside = vx >= clip.left && vx < clip.right && vy >= clip.top &&
                                                vy < clip.bottom;
                            if (inside) continue;
                            const size_t at = static_cast<size_t>(y * pitch + x * bpp);
                            ASSERT_EQ(std::memcmp(&before[at], &after[at], static_cast<size_t>(bpp)), 0)
                                << "kind " << kind << " mode " << mode << " at " << x << "," << y;
                        }
                }
            }
        }
    }
}

// Drawing with clip C equals the unclipped drawing restricted to C.
TEST_F(RenderTest, ClippedDrawingEqualsUnclippedDrawingInsideTheClip)
{
    std::mt19937 rng(99);
    const PixelRect clips[] = {{3, 2, 9, 7}, {0, 0, 4, 3}, {5, 4, 13, 10}};
    for (int kind : {0, 1}) {
        for (SrcType type : {SrcType::Plain, SrcType::Alpha, SrcType::Paletted}) {
            Img src, mask;
            MakeSource(src, rng, kind, type, 9, 7);
            MakeMask(mask, rng, 9, 7);
            // Keep the runs out of it: the run-length path rounds mode 1 differently.
            MarkMemImgPixelsChanged(src.v.store);
            GuardedDst whole, part;
            whole.Make(kind, rng);
            part.Make(kind, rng);
            const std::vector<uint8_t> start = StoreBytes(whole.store.v);
            for (int mode : {0, 1, 2, 3, 4, 10, 11})
                for (int p : {1, 128, 254, 255})
                    for (int trans : {0, 1})
                        for (bool withMask : {false, true})
                            for (const PixelRect& clip : clips) {
                                // x = 3 keeps the clipped left even relative to the source,
                                // so the 16-bit pairs stay aligned.
                                const int x = 3, y = 2;
                                SetStoreBytes(whole.store.v, start);
                                SetStoreBytes(part.store.v, start);
                                UseSettings(ref::Settings{mode, p, 0xFFFFFF, kNoClip, 30, 200, false});
                                RenderMemImg(g_blend, &whole.view.v, &src.v, x, y, trans, withMask ? &mask.v : nullptr);
                                g_blend.clip = clip;
                                RenderMemImg(g_blend, &part.view.v, &src.v, x, y, trans, withMask ? &mask.v : nullptr);
                                for (int vy = 0; vy < GuardedDst::kViewH; ++vy)
                                    for (int vx = 0; vx < GuardedDst::kViewW; ++vx) {
                                        const bool in = vx >= clip.left && vx < clip.right && vy >= clip.top &&
                                                        vy < clip.bottom;
                                        if (!in) continue;
                                        const uint32_t expect = Get(whole.view.v, vx, vy);
                                        ASSERT_EQ(Get(part.view.v, vx, vy), expect)
                                            << "kind " << kind << " mode " << mode << " p " << p << " trans " << trans
                                            << " mask " << withMask;
                                    }
                            }
        }
    }
}

TEST_F(RenderTest, RefusedCombinationsLeaveTheDestinationUnchanged)
{
    std::mt19937 rng(3);
    Img src32, src16, grey, grey2, palDst, alphaDst, dst32;
    MakeSource(src32, rng, 1, SrcType::Plain, 4, 4);
    MakeSource(src16, rng, 0, SrcType::Plain, 4, 4);
    ASSERT_EQ(CreatePlainMemImg(&dst32.v, 6, 6, 1), 0);
    ASSERT_EQ(CreateMemImgWithOptions(&palDst.v, 6, 6, -1, 0, 1, 1, 0, 0, nullptr), 0);
    ASSERT_EQ(CreateMemImgWithOptions(&alphaDst.v, 6, 6, -1, 0, 1, 0, 1, 0, nullptr), 0);
    ASSERT_EQ(CreatePlainMemImg(&grey.v, 6, 6, 2), 0);
    ASSERT_EQ(CreatePlainMemImg(&grey2.v, 4, 4, 2), 0);
    for (Img* img : {&dst32, &palDst, &alphaDst, &grey}) FillMemImgPixels(&img->v, nullptr, 0x5A5A5A5A);

    struct Case {
        const char* what;
        MEMIMG* dst;
        const MEMIMG* src;
        int mode, p, x, y;
    };
    const Case cases[] = {
        {"kinds differ", &dst32.v, &src16.v, 0, 255, 0, 0},
        {"paletted destination", &palDst.v, &src32.v, 0, 255, 0, 0},
        {"destination with alpha", &alphaDst.v, &src32.v, 0, 255, 0, 0},
        {"single-channel images", &grey.v, &grey2.v, 0, 255, 0, 0},
        {"mode 5", &dst32.v, &src32.v, 5, 255, 0, 0},
        {"mode 6", &dst32.v, &src32.v, 6, 128, 0, 0},
        {"mode 7", &dst32.v, &src32.v, 7, 128, 0, 0},
        {"mode 8", &dst32.v, &src32.v, 8, 128, 0, 0},
        {"mode 9", &dst32.v, &src32.v, 9, 128, 0, 0},
        {"mode 12", &dst32.v, &src32.v, 12, 128, 0, 0},
        {"mode 1 at p 0", &dst32.v, &src32.v, 1, 0, 0, 0},
        {"mode 2 at p 0", &dst32.v, &src32.v, 2, 0, 0, 0},
        {"mode 3 at p 0", &dst32.v, &src32.v, 3, 0, 0, 0},
        {"outside the clip", &dst32.v, &src32.v, 0, 255, 6, 0},
        {"left of the clip", &dst32.v, &src32.v, 0, 255, -4, 2},
    };
    for (const Case& c : cases) {
        const MEMIMG* dst = c.dst;
        const std::vector<uint8_t> before = StoreBytes(*dst);
        UseSettings(Plain(c.mode, c.p));
        RenderMemImg(g_blend, c.dst, c.src, c.x, c.y, 0, nullptr);
        EXPECT_EQ(StoreBytes(*dst), before) << c.what;
    }
}

// Five pixels: the SSE2 form's group of four and its single last pixel.
TEST_F(RenderTest, SaturatingAddAtFullStrengthWithAndWithoutMmx)
{
    Img src, dst;
    ASSERT_EQ(CreatePlainMemImg(&src.v, 5, 1, 1), 0);
    ASSERT_EQ(CreatePlainMemImg(&dst.v, 5, 1, 1), 0);
    FillMemImgPixels(&src.v, nullptr, 0x90643264);
    for (int simd : {2, 1, 0}) {
        FillMemImgPixels(&dst.v, nullptr, 0x80C810C8);
        UseSettings(ref::Settings{2, 255, 0xFFFFFF, kNoClip, 0, 0, simd});
        RenderMemImg(g_blend, &dst.v, &src.v, 0, 0, 0, nullptr);
        for (int x = 0; x < 5; ++x) {
            if (simd >= 1) {
                // every byte saturates on its own
                EXPECT_EQ(Get(dst.v, x, 0), 0xFFFF42FFu) << "simd " << simd << " at " << x;
            } else {
                // The packed form: blue saturates and carries into green's lowest bit
                // (0x10 + 0x32 + 1), red saturates and leaves its carry in byte 3.
                EXPECT_EQ(Get(dst.v, x, 0), 0x01FF43FFu) << "at " << x;
            }
        }
    }
}

TEST_F(RenderTest, RunLengthPathRoundsTheHalfBlendDifferently)
{
    Img src, dst;
    ASSERT_EQ(CreateMemImgWithOptions(&src.v, 2, 1, -1, 0x00FF00FF, 1, 0, 0, 1, nullptr), 0);
    ASSERT_EQ(CreatePlainMemImg(&dst.v, 2, 1, 1), 0);
    Put(src.v, 0, 0, 0x00010101);
    Put(src.v, 1, 0, 0x00FF00FF);  // transparent
    UseSettings(Plain(1, 128));

    FillMemImgPixels(&dst.v, nullptr, 0x00010101);
    RenderMemImg(g_blend, &dst.v, &src.v, 0, 0, 1, nullptr);
    EXPECT_EQ(Get(dst.v, 0, 0), 0x00000000u);  // the halving average: 0 + 0
    EXPECT_EQ(Get(dst.v, 1, 0), 0x00010101u);

    BuildMemImgLineRuns(&src.v);
    ASSERT_EQ(src.v.store->runsValid, 1);
    FillMemImgPixels(&dst.v, nullptr, 0x00010101);
    RenderMemImg(g_blend, &dst.v, &src.v, 0, 0, 1, nullptr);
    EXPECT_EQ(Get(dst.v, 0, 0), 0x00010101u);  // the general blend keeps 1
    EXPECT_EQ(Get(dst.v, 1, 0), 0x00010101u);
}

TEST_F(RenderTest, MultiplyWithZeroAlphaBlackensUnlessKeyed)
{
    Img src, dst;
    ASSERT_EQ(CreateMemImgWithOptions(&src.v, 1, 1, -1, 0, 1, 0, 1, 0, nullptr), 0);
    ASSERT_EQ(CreatePlainMemImg(&dst.v, 1, 1, 1), 0);
    Put(src.v, 0, 0, 0x00FFFFFF);  // alpha 0
    UseSettings(Plain(4, 77));
    Put(dst.v, 0, 0, 0x11808080);
    RenderMemImg(g_blend, &dst.v, &src.v, 0, 0, 1, nullptr);
    EXPECT_EQ(Get(dst.v, 0, 0), 0x11808080u);
    RenderMemImg(g_blend, &dst.v, &src.v, 0, 0, 0, nullptr);
    EXPECT_EQ(Get(dst.v, 0, 0), 0x11000000u);
}

TEST_F(RenderTest, TransparentColourIsSkippedOnlyWithTheFlag)
{
    for (int kind : {0, 1}) {
        const uint32_t key = kind == 1 ? 0x00ABCDEF : 0xABCD;
        Img src, dst;
        ASSERT_EQ(CreateMemImgWithOptions(&src.v, 1, 1, -1, key, kind, 0, 0, 0, nullptr), 0);
        ASSERT_EQ(CreatePlainMemImg(&dst.v, 1, 1, kind), 0);
        Put(src.v, 0, 0, key);
        UseSettings(Plain(0, 0));
        Put(dst.v, 0, 0, 0x1111);
        RenderMemImg(g_blend, &dst.v, &src.v, 0, 0, 1, nullptr);
        EXPECT_EQ(Get(dst.v, 0, 0), 0x1111u);
        RenderMemImg(g_blend, &dst.v, &src.v, 0, 0, 0, nullptr);
        EXPECT_EQ(Get(dst.v, 0, 0), key);
    }
}

TEST_F(RenderTest, BlendAtFullParameterIsACopy)
{
    std::mt19937 rng(5);
    for (int kind : {0, 1})
        for (SrcType type : {SrcType::Plain, SrcType::Alpha, SrcType::Paletted}) {
            Img src, mask;
            MakeSource(src, rng, kind, type, 6, 5);
            MakeMask(mask, rng, 6, 5);
            GuardedDst a, b;
            a.Make(kind, rng);
            b.Make(kind, rng);
            SetStoreBytes(b.store.v, StoreBytes(a.store.v));
            for (int trans : {0, 1})
                for (const MEMIMG* m : {static_cast<const MEMIMG*>(nullptr), static_cast<const MEMIMG*>(&mask.v)}) {
                    UseSettings(ref::Settings{1, 255, 0x80FF40, kNoClip, 10, 40, false});
                    RenderMemImg(g_blend, &a.view.v, &src.v, 1, 1, trans, m);
                    UseSettings(ref::Settings{0, 17, 0x80FF40, kNoClip, 10, 40, false});
                    RenderMemImg(g_blend, &b.view.v, &src.v, 1, 1, trans, m);
                    EXPECT_EQ(StoreBytes(a.store.v), StoreBytes(b.store.v));
                }
        }
}

// The run table describes the whole view it was built from: a sub-view must not replay it,
// and changed pixels must not be drawn from stale runs.
TEST_F(RenderTest, RunsAreUsedOnlyForTheirOwnViewAndCurrentPixels)
{
    std::mt19937 rng(11);
    for (int kind : {0, 1}) {
        Img src;
        MakeSource(src, rng, kind, SrcType::Plain, 12, 8);
        ASSERT_EQ(src.v.store->runsValid, 1);
        Img sub;
        MakeMemImgView(&sub.v, &src.v, 3, 2, 5, 4);
        ASSERT_TRUE(TestMemImgValid(&sub.v));

        GuardedDst a, b;
        a.Make(kind, rng);
        b.Make(kind, rng);
        SetStoreBytes(b.store.v, StoreBytes(a.store.v));
        const ref::Settings s = Plain(0, 0);
        UseSettings(s);
        RenderMemImg(g_blend, &a.view.v, &sub.v, 1, 1, 1, nullptr);
        ref::Render(&b.view.v, &sub.v, 1, 1, 1, nullptr, s);
        EXPECT_EQ(StoreBytes(a.store.v), StoreBytes(b.store.v)) << "sub-view, kind " << kind;

        // A fill changes the pixels: the runs no longer apply.
        const PixelRect r{0, 0, 12, 1};
        FillMemImgPixels(&src.v, &r, kind == 1 ? 0x00123456 : 0x1234);
        EXPECT_EQ(src.v.store->runsValid, 0);
        RenderMemImg(g_blend, &a.view.v, &src.v, 0, 0, 1, nullptr);
        ref::Render(&b.view.v, &src.v, 0, 0, 1, nullptr, s);
        EXPECT_EQ(StoreBytes(a.store.v), StoreBytes(b.store.v)) << "after fill, kind " << kind;

        // Drawing into a store changes its pixels too.
        BuildMemImgLineRuns(&src.v);
        ASSERT_EQ(src.v.store->runsValid, 1);
        RenderMemImg(g_blend, &src.v, &sub.v, 0, 0, 0, nullptr);
        EXPECT_EQ(src.v.store->runsValid, 0);
    }
}

TEST_F(RenderTest, MaskSmallerThanTheSourceDrawsNothing)
{
    Img src, dst, mask;
    ASSERT_EQ(CreatePlainMemImg(&src.v, 4, 4, 1), 0);
    ASSERT_EQ(CreatePlainMemImg(&dst.v, 4, 4, 1), 0);
    ASSERT_EQ(CreatePlainMemImg(&mask.v, 3, 4, 2), 0);
    FillMemImgPixels(&src.v, nullptr, 0x00FFFFFF);
    FillMemImgPixels(&dst.v, nullptr, 0);
    FillMemImgPixels(&mask.v, nullptr, 0xFF);
    UseSettings(Plain(0, 0));
    RenderMemImg(g_blend, &dst.v, &src.v, 0, 0, 0, &mask.v);
    EXPECT_EQ(Get(dst.v, 0, 0), 0u);
}
