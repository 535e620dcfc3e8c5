#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "quarn/softrender/blend_ops.h"
#include "quarn/softrender/softrender.h"
#include "render_reference.h"
#include "test_images.h"

using namespace testimg;

namespace {

const int kModes[] = {-1, 0, 1, 2, 3, 4, 5, 9, 10, 11, 12};
const int kParams[] = {0, 1, 128, 254, 255};
const uint32_t kBrights[] = {0xFFFFFF, 0xFFFEFF, 0x9C3AE1};

std::string Case(int kind, SrcType t, const ref::Settings& s, int trans, bool mask)
{
    return "kind " + std::to_string(kind) + " src " + std::to_string(static_cast<int>(t)) + " mode " +
           std::to_string(s.mode) + " p " + std::to_string(s.p) + " bright " + std::to_string(s.bright) + " trans " +
           std::to_string(trans) + " mask " + std::to_string(mask) + " simd " + std::to_string(s.simd);
}

class ScaledTest : public RenderTest {};
class FillTest : public RenderTest {
protected:
    void TearDown() override
    {
        g_blend.clipTarget = nullptr;
        RenderTest::TearDown();
    }
};

}  // namespace

// Every (d, s) pair of a channel, with the channel below carrying or borrowing or not.
TEST(PackedArithmetic, PackedAddAndSubtractFollowTheirChannelDescriptions)
{
    const uint32_t belows[][2] = {{0, 0}, {255, 1}, {200, 100}, {1, 0}, {0, 1}};
    for (int ch = 0; ch < 3; ++ch)
        for (const auto& below : belows)
            for (uint32_t d = 0; d < 256; ++d)
                for (uint32_t s = 0; s < 256; ++s) {
                    const uint32_t D = (d << (8 * ch)) | (ch ? below[0] << (8 * (ch - 1)) : 0) | 0xA5000000;
                    const uint32_t S = (s << (8 * ch)) | (ch ? below[1] << (8 * (ch - 1)) : 0);
                    ASSERT_EQ(PackedAdd32(D, S), ref::PackedAddByChannels(D, S, true)) << std::hex << D << " + " << S;
                    ASSERT_EQ(PackedSub32(D, S), ref::PackedSubByChannels(D, S, true)) << std::hex << D << " - " << S;
                }
    const int shifts[] = {0, 5, 11};
    const int widths[] = {5, 6, 5};
    const uint32_t belows16[][2] = {{0, 0}, {31, 1}, {20, 15}, {1, 0}, {0, 1}};
    for (int ch = 0; ch < 3; ++ch)
        for (const auto& below : belows16)
            for (uint32_t d = 0; d < (1u << widths[ch]); ++d)
                for (uint32_t s = 0; s < (1u << widths[ch]); ++s) {
                    const uint32_t lowD = ch == 2 ? below[0] * 2 : below[0];  // green is 6 bits
                    const uint32_t lowS = ch == 2 ? below[1] * 2 : below[1];
                    const uint32_t D = (d << shifts[ch]) | (ch ? lowD << shifts[ch - 1] : 0);
                    const uint32_t S = (s << shifts[ch]) | (ch ? lowS << shifts[ch - 1] : 0);
                    ASSERT_EQ(PackedAdd16(D, S), ref::PackedAddByChannels(D, S, false)) << std::hex << D << " + " << S;
                    ASSERT_EQ(PackedSub16(D, S), ref::PackedSubByChannels(D, S, false)) << std::hex << D << " - " << S;
                }
}

TEST_F(FillTest, FillMatchesReferenceOverEveryOption)
{
    std::mt19937 rng(21);
    const PixelRect rects[] = {{2, 1, 9, 7}, {11, 8, -3, 0}, {0, 0, 0, 5}};
    for (int kind : {0, 1}) {
        Comparison cmp;
        cmp.Make(kind, rng);
        for (int mode : kModes)
            for (int p : kParams)
                for (uint32_t bright : kBrights)
                    for (bool target : {false, true})
                        for (int simd : {0, 1, 2})
                            for (int r = -1; r < 3; ++r) {
                                const uint32_t color = kind == 1 ? 0xFF000000u | (rng() & 0xFFFFFF) : rng() & 0xFFFF;
                                const ref::Settings s{mode, p, bright, PixelRect{1, 2, 8, 20}, 0, 0, simd};
                                const PixelRect* rect = r < 0 ? nullptr : &rects[r];
                                cmp.Case(
                                    [&](MEMIMG& got, MEMIMG& want) {
                                        UseSettings(s);
                                        g_blend.clipTarget = target ? &got : nullptr;
                                        RenderMemImgFillRect(g_blend, &got, rect, color);
                                        ref::Fill(&want, rect, color, s, target);
                                    },
                                    [&] {
                                        return testing::Message() << "kind " << kind << " mode " << mode << " p " << p
                                                                  << " bright " << std::hex << bright << " target "
                                                                  << target << " rect " << r << " simd " << simd;
                                    });
                            }
        EXPECT_EQ(cmp.failures, 0);
    }
}

TEST_F(FillTest, WorkedValues)
{
    struct Case {
        const char* what;
        int kind, mode, p;
        uint32_t bright, dst, color, want;
    };
    const Case cases[] = {
        {"32-bit blend half way", 1, 1, 128, 0xFFFFFF, 0x00000000, 0xFFFFFFFF, 0x007F7F7F},
        {"16-bit blend half way", 0, 1, 128, 0xFFFFFF, 0x0000, 0x001F, 0x000F},
        {"32-bit multiply white", 1, 4, 0, 0xFFFFFF, 0x00FFFFFF, 0xFFFFFFFF, 0x00FEFEFE},
        {"16-bit multiply white", 0, 4, 0, 0xFFFFFF, 0xFFFF, 0xFFFF, (30u << 11) | (62u << 5) | 30u},
        {"32-bit add with blue carry", 1, 2, 255, 0xFFFFFF, 0x000000FF, 0xFF000001, 0x000001FF},
        {"32-bit subtract itself", 1, 3, 255, 0xFFFFFF, 0x00C8C8C8, 0xFFC8C8C8, 0x00010100},
        {"16-bit subtract nothing from green 63", 0, 3, 255, 0xFFFFFF, 63u << 5, 0, (1u << 11) | (62u << 5)},
        {"blend at 255 copies the word", 1, 1, 255, 0xFFFFFF, 0x00123456, 0xFF654321, 0xFF654321},
        {"near-white bright", 1, 0, 0, 0xFFFFFE, 0, 0xFFFFFFFF, 0xFFFEFEFD},
        {"16-bit inverse at 255", 0, 10, 255, 0xFFFFFF, 0x1234, 0x0821, 0xF7DE},
        {"32-bit inverse at 255 on black", 1, 10, 255, 0xFFFFFF, 0, 0xFF000000, 0x00FEFEFE},
        {"copy at p 0 still fills", 1, 0, 0, 0xFFFFFF, 0, 0xFF112233, 0xFF112233},
    };
    for (const Case& c : cases) {
        Img img;
        ASSERT_EQ(CreatePlainMemImg(&img.v, 3, 1, c.kind), 0);
        FillMemImgPixels(&img.v, nullptr, c.dst);
        UseSettings(ref::Settings{c.mode, c.p, c.bright, PixelRect{0, 0, 3, 1}, 0, 0, false});
        RenderMemImgFillRect(g_blend, &img.v, nullptr, c.color);
        for (int x = 0; x < 3; ++x) EXPECT_EQ(Get(img.v, x, 0), c.want) << c.what << " at " << x;
    }
}

// The fill stays inside the image even when the clip is larger, and the clip cuts only the
// image being drawn on.
TEST_F(FillTest, ClipAppliesToTheDrawTargetOnlyAndNeverReachesOutsideTheImage)
{
    std::mt19937 rng(4);
    GuardedDst d;
    d.Make(1, rng);
    UseSettings(ref::Settings{0, 0, 0xFFFFFF, PixelRect{-50, -50, 500, 500}, 0, 0, false});
    const std::vector<uint8_t> before = StoreBytes(d.store.v);
    const PixelRect huge{-10, -10, 100, 100};
    RenderMemImgFillRect(g_blend, &d.view.v, &huge, 0xFF010203);
    const int pitch = d.store.v.store->pitch;
    const std::vector<uint8_t> after = StoreBytes(d.store.v);
    for (int y = 0; y < GuardedDst::kH; ++y)
        for (int x = 0; x < pitch / 4; ++x) {
            const bool in = x >= GuardedDst::kX && x < GuardedDst::kX + GuardedDst::kViewW && y >= GuardedDst::kY &&
                            y < GuardedDst::kY + GuardedDst::kViewH;
            uint32_t v;
            std::memcpy(&v, &after[static_cast<size_t>(y * pitch + x * 4)], 4);
            if (in) {
                ASSERT_EQ(v, 0xFF010203u);
            } else {
                ASSERT_EQ(std::memcmp(&before[static_cast<size_t>(y * pitch + x * 4)], &v, 4), 0);
            }
        }

    // A small clip: a graph that is not the target is filled whole, the target only inside.
    Img graph;
    ASSERT_EQ(CreatePlainMemImg(&graph.v, 6, 6, 1), 0);
    FillMemImgPixels(&graph.v, nullptr, 0);
    g_blend.clip = PixelRect{0, 0, 2, 2};
    g_blend.clipTarget = &d.view.v;
    RenderMemImgFillRect(g_blend, &graph.v, nullptr, 0xFFFFFFFF);
    EXPECT_EQ(Get(graph.v, 5, 5), 0xFFFFFFFFu);
    g_blend.clipTarget = &graph.v;
    RenderMemImgFillRect(g_blend, &graph.v, nullptr, 0xFF000001);
    EXPECT_EQ(Get(graph.v, 1, 1), 0xFF000001u);
    EXPECT_EQ(Get(graph.v, 2, 2), 0xFFFFFFFFu);

    // A clip given with its corners reversed holds nothing, at any distance.
    const std::vector<uint8_t> filled = StoreBytes(graph.v);
    for (const PixelRect& clip : {PixelRect{1, 0, INT32_MIN, 6}, PixelRect{0, 1, 6, INT32_MIN},
                                  PixelRect{INT32_MAX, 0, 0, 6}, PixelRect{4, 4, 2, 2}}) {
        g_blend.clip = clip;
        RenderMemImgFillRect(g_blend, &graph.v, nullptr, 0xFF00FF00);
        EXPECT_EQ(StoreBytes(graph.v), filled)
            << clip.left << "," << clip.top << "," << clip.right << "," << clip.bottom;
    }
}

TEST_F(FillTest, RefusedStoresStayUnchanged)
{
    Img pal, alpha, grey;
    ASSERT_EQ(CreateMemImgWithOptions(&pal.v, 4, 4, -1, 0, 1, 1, 0, 0, nullptr), 0);
    ASSERT_EQ(CreateMemImgWithOptions(&alpha.v, 4, 4, -1, 0, 0, 0, 1, 0, nullptr), 0);
    ASSERT_EQ(CreatePlainMemImg(&grey.v, 4, 4, 2), 0);
    UseSettings(ref::Settings{0, 0, 0xFFFFFF, PixelRect{0, 0, 4, 4}, 0, 0, false});
    for (Img* img : {&pal, &alpha, &grey}) {
        FillMemImgPixels(&img->v, nullptr, 0x5A5A5A5A);
        const std::vector<uint8_t> before = StoreBytes(img->v);
        RenderMemImgFillRect(g_blend, &img->v, nullptr, 0xFFFFFFFF);
        EXPECT_EQ(StoreBytes(img->v), before);
    }
}

// The scaled blit against the reference over every layout, mode and option, scaling up,
// down and mirrored, inside a guarded destination view.
TEST_F(ScaledTest, KernelMatchesReferenceOverEveryOption)
{
    std::mt19937 rng(77);
    const int32_t rects[][4] = {
        {1, 1, 12, 4},   // wider, shorter
        {10, 9, 0, -2},  // mirrored both ways, clipped at the top
        {-3, 2, 4, 17},  // clipped left and bottom
        {2, 1, 11, 8},   // the source's own size: handed to the unscaled blit
    };
    int cases = 0;
    for (int kind : {0, 1})
        for (SrcType type : {SrcType::Plain, SrcType::Alpha, SrcType::Paletted}) {
            Img src, mask;
            MakeSource(src, rng, kind, type, 9, 7);
            MarkMemImgPixelsChanged(src.v.store);
            MakeMask(mask, rng, 9, 7);
            Comparison cmp;
            cmp.Make(kind, rng);
            for (int mode : kModes)
                for (int p : kParams)
                    for (uint32_t bright : kBrights)
                        for (int trans : {0, 1})
                            for (bool withMask : {false, true})
                                for (int simd : {0, 1, 2})
                                    for (const auto& rect : rects) {
                                        const ref::Settings s{mode, p, bright, PixelRect{0, 1, 12, 10}, 70, 90, simd};
                                        const MEMIMG* m = withMask ? &mask.v : nullptr;
                                        cmp.Case(
                                            [&](MEMIMG& got, MEMIMG& want) {
                                                UseSettings(s);
                                                RenderMemImgScaled(g_blend, &got, &src.v, rect, trans, m);
                                                ref::RenderScaled(&want, &src.v, rect, trans, m, s);
                                            },
                                            [&] {
                                                return testing::Message()
                                                       << Case(kind, type, s, trans, withMask) << " rect " << rect[0]
                                                       << "," << rect[1] << "," << rect[2] << "," << rect[3];
                                            });
                                        ++cases;
                                    }
            EXPECT_EQ(cmp.failures, 0);
        }
    EXPECT_GT(cases, 10000);
}

// A store drawn scaled onto itself, the source's lines read again after the draw has written
// into them, the first line even pixels to the left of the one being written: every form
// reads each source pixel just before it writes that pixel's destination, as the reference
// does.
TEST_F(ScaledTest, StoreDrawnOntoItselfReadsEachSourcePixelBeforeItsWrite)
{
    std::mt19937 rng(19);
    const int32_t rects[][4] = {
        {4, 0, 40, 12},  // half as large again, one line shown again
        {39, 0, 3, 11},  // mirrored left to right
    };
    for (int kind : {0, 1}) {
        Img got, want;
        ASSERT_EQ(CreatePlainMemImg(&got.v, 40, 12, kind), 0);
        ASSERT_EQ(CreatePlainMemImg(&want.v, 40, 12, kind), 0);
        const uint32_t key = kind == 1 ? 0x00123456 : 0x1234;
        got.v.store->transparentColor = want.v.store->transparentColor = key;
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 40; ++x) Put(got.v, x, y, SpecialPixel(rng, kind, key));
        const std::vector<uint8_t> start = StoreBytes(got.v);
        Img gotSrc, wantSrc;
        MakeMemImgView(&gotSrc.v, &got.v, 0, 0, 24, 8);
        MakeMemImgView(&wantSrc.v, &want.v, 0, 0, 24, 8);
        int failures = 0;
        for (const auto& [mode, p] : {std::pair{0, 0}, {1, 100}, {1, 128}, {2, 255}, {3, 255}, {4, 0}})
            for (int trans : {0, 1})
                for (int simd : {0, 1, 2})
                    for (const auto& rect : rects) {
                        const ref::Settings s{mode, p, 0xFFFFFF, kNoClip, 0, 0, simd};
                        SetStoreBytes(got.v, start);
                        SetStoreBytes(want.v, start);
                        UseSettings(s);
                        RenderMemImgScaled(g_blend, &got.v, &gotSrc.v, rect, trans, nullptr);
                        ref::RenderScaled(&want.v, &wantSrc.v, rect, trans, nullptr, s);
                        if (StoreBytes(got.v) != StoreBytes(want.v) && failures++ < 5)
                            ADD_FAILURE()
                                << Case(kind, SrcType::Plain, s, trans, false) << " rect " << rect[0] << "," << rect[2];
                    }
    }
}

// Every source size 1 to 64 onto every destination size 1 to 128, mirrored or not, with a
// random clip: each visible pixel shows the source column of the closed form.
TEST_F(ScaledTest, WalkPicksTheClosedFormSourcePixel)
{
    std::mt19937 rng(8);
    Img dst;
    ASSERT_EQ(CreatePlainMemImg(&dst.v, 128, 128, 1), 0);
    for (int axis = 0; axis < 2; ++axis) {
        for (int n = 1; n <= 64; ++n) {
            // A 1-pixel line of n pixels whose values are their own positions.
            Img src;
            ASSERT_EQ(CreatePlainMemImg(&src.v, axis ? 1 : n, axis ? n : 1, 1), 0);
            for (int i = 0; i < n; ++i) Put(src.v, axis ? 0 : i, axis ? i : 0, 0x00100000u + i);
            for (int m = 1; m <= 128; ++m)
                for (bool mirror : {false, true}) {
                    const int cut = static_cast<int>(rng() % static_cast<unsigned>(m));
                    const int end = cut + 1 + static_cast<int>(rng() % static_cast<unsigned>(m - cut));
                    int32_t rect[4] = {0, 0, axis ? 1 : m, axis ? m : 1};
                    if (mirror) std::swap(rect[axis], rect[axis + 2]);
                    UseSettings(ref::Settings{0, 0, 0xFFFFFF,
                                              axis ? PixelRect{0, cut, 1, end} : PixelRect{cut, 0, end, 1}, 0, 0,
                                              false});
                    FillMemImgPixels(&dst.v, nullptr, 0xFFFFFFFF);
                    RenderMemImgScaled(g_blend, &dst.v, &src.v, rect, 0, nullptr);
                    const uint64_t step = (uint64_t(m) << 16) / uint64_t(n);
                    for (int d = 0; d < m; ++d) {
                        const uint32_t got = axis ? Get(dst.v, 0, d) : Get(dst.v, d, 0);
                        if (d < cut || d >= end) {
                            ASSERT_EQ(got, 0xFFFFFFFFu) << n << "->" << m << " at " << d;
                            continue;
                        }
                        uint64_t col = (uint64_t(d) << 16) / step;
                        if (mirror) col = uint64_t(n) - 1 - col;
                        ASSERT_EQ(got, 0x00100000u + col) << n << "->" << m << (mirror ? " mirrored" : "") << " clip "
                                                          << cut << ".." << end << " at " << d;
                    }
                }
        }
    }
}

TEST_F(ScaledTest, WorkedColumns)
{
    struct Case {
        int n, m, clipLeft;
        bool mirror;
        std::vector<uint32_t> cols;  // from the clip's left
    };
    const Case cases[] = {
        {3, 7, 0, false, {0, 0, 0, 1, 1, 2, 2}},
        {3, 7, 2, false, {0, 1, 1, 2, 2}},
        {4, 2, 0, false, {0, 2}},
        {5, 3, 0, false, {0, 1, 3}},
        {5, 5, 0, true, {4, 3, 2, 1, 0}},
    };
    for (const Case& c : cases) {
        Img src, dst;
        ASSERT_EQ(CreatePlainMemImg(&src.v, c.n, 1, 1), 0);
        ASSERT_EQ(CreatePlainMemImg(&dst.v, c.m, 1, 1), 0);
        for (int i = 0; i < c.n; ++i) Put(src.v, i, 0, static_cast<uint32_t>(i));
        FillMemImgPixels(&dst.v, nullptr, 0xEEEEEEEE);
        UseSettings(ref::Settings{0, 0, 0xFFFFFF, PixelRect{c.clipLeft, 0, c.m, 1}, 0, 0, false});
        int32_t rect[4] = {c.mirror ? c.m : 0, 0, c.mirror ? 0 : c.m, 1};
        RenderMemImgScaled(g_blend, &dst.v, &src.v, rect, 0, nullptr);
        for (size_t i = 0; i < c.cols.size(); ++i)
            EXPECT_EQ(Get(dst.v, c.clipLeft + static_cast<int>(i), 0), c.cols[i]) << c.n << "->" << c.m << " at " << i;
    }
}

TEST_F(ScaledTest, MirroredDrawEqualsDrawOfTheFlippedSource)
{
    std::mt19937 rng(31);
    for (int kind : {0, 1})
        for (SrcType type : {SrcType::Plain, SrcType::Alpha, SrcType::Paletted}) {
            Img src, flipped, mask, flippedMask;
            MakeSource(src, rng, kind, type, 7, 5);
            MakeMask(mask, rng, 7, 5);
            const MemImgBase* st = src.v.store;
            ASSERT_EQ(CreateMemImgWithOptions(&flipped.v, 7, 5, -1, st->transparentColor, kind, st->paletted, st->alpha,
                                              0, nullptr),
                      0);
            if (st->paletted) std::memcpy(flipped.v.store->palette, st->palette, 1024);
            ASSERT_EQ(CreatePlainMemImg(&flippedMask.v, 7, 5, 2), 0);
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 7; ++x) {
                    Put(flipped.v, 6 - x, 4 - y, Get(src.v, x, y));
                    Put(flippedMask.v, 6 - x, 4 - y, Get(mask.v, x, y));
                }
            GuardedDst a, b;
            a.Make(kind, rng);
            b.Make(kind, rng);
            for (int mode : {0, 1, 2, 4, 10})
                for (int trans : {0, 1}) {
                    SetStoreBytes(b.store.v, StoreBytes(a.store.v));
                    UseSettings(ref::Settings{mode, 200, 0xFFFFFF, kNoClip, 50, 80, false});
                    const int32_t mirrored[4] = {12, 9, 1, 1};
                    const int32_t plain[4] = {1, 1, 12, 9};
                    RenderMemImgScaled(g_blend, &a.view.v, &src.v, mirrored, trans, &mask.v);
                    RenderMemImgScaled(g_blend, &b.view.v, &flipped.v, plain, trans, &flippedMask.v);
                    ASSERT_EQ(StoreBytes(a.store.v), StoreBytes(b.store.v))
                        << "kind " << kind << " mode " << mode << " trans " << trans;
                }
        }
}

TEST_F(ScaledTest, OneToOneEqualsTheUnscaledBlit)
{
    std::mt19937 rng(13);
    for (int kind : {0, 1}) {
        Img src, mask;
        MakeSource(src, rng, kind, SrcType::Alpha, 6, 4);
        MakeMask(mask, rng, 6, 4);
        GuardedDst a, b;
        a.Make(kind, rng);
        b.Make(kind, rng);
        SetStoreBytes(b.store.v, StoreBytes(a.store.v));
        for (int mode : {0, 1, 3, 11}) {
            UseSettings(ref::Settings{mode, 128, 0x808080, PixelRect{0, 0, 5, 9}, 0, 90, true});
            const int32_t rect[4] = {-1, 2, 5, 6};
            RenderMemImgScaled(g_blend, &a.view.v, &src.v, rect, 1, &mask.v);
            RenderMemImg(g_blend, &b.view.v, &src.v, -1, 2, 1, &mask.v);
            ASSERT_EQ(StoreBytes(a.store.v), StoreBytes(b.store.v)) << "mode " << mode;
        }
    }
}

TEST_F(ScaledTest, ClippedDrawingEqualsUnclippedDrawingInsideTheClip)
{
    std::mt19937 rng(55);
    const PixelRect clips[] = {{3, 2, 9, 7}, {0, 0, 4, 3}, {5, 4, 13, 10}};
    for (int kind : {0, 1}) {
        Img src, mask;
        MakeSource(src, rng, kind, SrcType::Plain, 5, 4);
        MakeMask(mask, rng, 5, 4);
        GuardedDst whole, part;
        whole.Make(kind, rng);
        part.Make(kind, rng);
        const std::vector<uint8_t> start = StoreBytes(whole.store.v);
        for (int mode : {0, 1, 2, 3, 4, 10, 11})
            for (const auto& rect : {std::vector<int32_t>{1, 0, 12, 9}, std::vector<int32_t>{11, 9, 2, 1}})
                for (const PixelRect& clip : clips) {
                    SetStoreBytes(whole.store.v, start);
                    SetStoreBytes(part.store.v, start);
                    UseSettings(ref::Settings{mode, 99, 0xFFFFFF, kNoClip, 10, 30, true});
                    RenderMemImgScaled(g_blend, &whole.view.v, &src.v, rect.data(), 1, &mask.v);
                    g_blend.clip = clip;
                    RenderMemImgScaled(g_blend, &part.view.v, &src.v, rect.data(), 1, &mask.v);
                    const std::vector<uint8_t> drawn = StoreBytes(whole.store.v);
                    SetStoreBytes(whole.store.v, start);  // now the starting pixels
                    for (int y = 0; y < GuardedDst::kViewH; ++y)
                        for (int x = 0; x < GuardedDst::kViewW; ++x) {
                            const bool in = x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom;
                            if (in) {
                                SetStoreBytes(whole.store.v, drawn);
                                ASSERT_EQ(Get(part.view.v, x, y), Get(whole.view.v, x, y))
                                    << "mode " << mode << " at " << x << "," << y;
                                SetStoreBytes(whole.store.v, start);
                            } else {
                                ASSERT_EQ(Get(part.view.v, x, y), Get(whole.view.v, x, y))
                                    << "outside the clip, mode " << mode;
                            }
                        }
                }
    }
}

// Sizes the 16.16 walk cannot hold, empty sources and mismatched destinations draw nothing.
TEST_F(ScaledTest, RefusesWhatTheWalkCannotDraw)
{
    Img src32, src16, dst32, palDst, alphaDst, greyDst, empty;
    ASSERT_EQ(CreatePlainMemImg(&src32.v, 4, 4, 1), 0);
    ASSERT_EQ(CreatePlainMemImg(&greyDst.v, 16, 16, 2), 0);
    ASSERT_EQ(CreatePlainMemImg(&src16.v, 4, 4, 0), 0);
    ASSERT_EQ(CreatePlainMemImg(&dst32.v, 16, 16, 1), 0);
    ASSERT_EQ(CreateMemImgWithOptions(&palDst.v, 16, 16, -1, 0, 1, 1, 0, 0, nullptr), 0);
    ASSERT_EQ(CreateMemImgWithOptions(&alphaDst.v, 16, 16, -1, 0, 1, 0, 1, 0, nullptr), 0);
    MakeMemImgView(&empty.v, &src32.v, 1, 1, 0, 0);
    ASSERT_TRUE(TestMemImgValid(&empty.v));
    FillMemImgPixels(&src32.v, nullptr, 0x00FFFFFF);
    FillMemImgPixels(&src16.v, nullptr, 0xFFFF);
    struct Case {
        const char* what;
        MEMIMG* dst;
        const MEMIMG* src;
        int32_t rect[4];
    };
    const Case cases[] = {
        {"corner far left", &dst32.v, &src32.v, {-40000, 0, 8, 8}},
        {"width 32768", &dst32.v, &src32.v, {0, 0, 32768, 8}},
        {"height 40000 mirrored", &dst32.v, &src32.v, {0, 40000, 8, 0}},
        {"corners at the int range", &dst32.v, &src32.v, {INT32_MIN, 0, INT32_MAX, 8}},
        {"empty source", &dst32.v, &empty.v, {0, 0, 8, 8}},
        {"16-bit into 32-bit", &dst32.v, &src16.v, {0, 0, 8, 8}},
        {"32-bit into one byte a pixel", &greyDst.v, &src32.v, {0, 0, 8, 8}},
        {"paletted destination", &palDst.v, &src32.v, {0, 0, 8, 8}},
        {"destination with alpha", &alphaDst.v, &src32.v, {0, 0, 8, 8}},
        {"zero width", &dst32.v, &src32.v, {3, 0, 3, 8}},
    };
    UseSettings(ref::Settings{0, 0, 0xFFFFFF, kNoClip, 0, 0, false});
    for (const Case& c : cases) {
        for (Img* img : {&dst32, &palDst, &alphaDst, &greyDst}) FillMemImgPixels(&img->v, nullptr, 0);
        const std::vector<uint8_t> before = StoreBytes(*c.dst);
        RenderMemImgScaled(g_blend, c.dst, c.src, c.rect, 0, nullptr);
        EXPECT_EQ(StoreBytes(*c.dst), before) << c.what;
    }
}

TEST_F(ScaledTest, ExactSubtractWithMmxAndPackedWithout)
{
    Img src, dst;
    ASSERT_EQ(CreatePlainMemImg(&src.v, 1, 1, 1), 0);
    ASSERT_EQ(CreatePlainMemImg(&dst.v, 5, 1, 1), 0);
    Put(src.v, 0, 0, 0x32050505);  // blue, green, red 5, fourth byte 50
    // Five pixels: the SSE2 form's group of four and its single last pixel.
    const int32_t rect[4] = {0, 0, 5, 1};
    for (int simd : {2, 1, 0}) {
        FillMemImgPixels(&dst.v, nullptr, 0x281E140A);  // 10, 20, 30, 40
        UseSettings(ref::Settings{3, 255, 0xFFFFFF, kNoClip, 0, 0, simd});
        RenderMemImgScaled(g_blend, &dst.v, &src.v, rect, 0, nullptr);
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(Get(dst.v, x, 0), simd >= 1 ? 0x00190F05u : 0x001B1105u) << "simd " << simd << " at " << x;
    }
}
