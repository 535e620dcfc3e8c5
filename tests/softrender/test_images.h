// Small images for the software renderer's tests: random pixels with the special values,
// guarded destination views, and the draw settings of a case.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/softrender/softrender.h"
#include "render_reference.h"

namespace testimg {

constexpr PixelRect kNoClip{-100000, -100000, 100000, 100000};

// The state the tests' kernel calls draw under.
inline SoftBlendState g_blend{};

struct Img {
    MEMIMG v{};
    Img() = default;
    Img(const Img&) = delete;
    Img& operator=(const Img&) = delete;
    ~Img() { ReleaseMemImgRef(&v); }
};

inline int BytesPerPixel(const MEMIMG& v)
{
    return MemImgBytesPerPixel(v.store->kind, v.store->paletted, v.store->alpha);
}

inline uint32_t Get(const MEMIMG& v, int x, int y)
{
    uint32_t r = 0;
    std::memcpy(&r, v.pixels + v.store->pitch * y + BytesPerPixel(v) * x, static_cast<size_t>(BytesPerPixel(v)));
    return r;
}

inline void Put(MEMIMG& v, int x, int y, uint32_t value)
{
    std::memcpy(v.pixels + v.store->pitch * y + BytesPerPixel(v) * x, &value, static_cast<size_t>(BytesPerPixel(v)));
}

inline std::vector<uint8_t> StoreBytes(const MEMIMG& v)
{
    const MemImgBase* s = v.store;
    return {s->pixels, s->pixels + static_cast<size_t>(s->pitch) * s->height};
}

inline void SetStoreBytes(MEMIMG& v, const std::vector<uint8_t>& bytes)
{
    std::memcpy(v.store->pixels, bytes.data(), bytes.size());
    MarkMemImgPixelsChanged(v.store);
}

inline void UseSettings(const ref::Settings& s)
{
    g_blend = SoftBlendState{};
    g_blend.blendMode = static_cast<BlendMode>(s.mode);
    g_blend.blendParam = s.p;
    g_blend.brightColor = s.bright;
    g_blend.clip = s.clip;
    BuildBlendMaskAlphaTable(s.borderPos, s.borderRange);
    OverrideMmxUsable(s.simd >= 1 ? 1 : 0);
    OverrideSse2Usable(s.simd >= 2 ? 1 : 0);
}

inline ref::Settings Plain(int mode, int p, PixelRect clip = kNoClip)
{
    return ref::Settings{mode, p, 0xFFFFFF, clip, 0, 0, false};
}

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override { BuildMemImgBlendTables(); }
    void TearDown() override
    {
        OverrideMmxUsable(0);
        OverrideSse2Usable(0);
    }
};

// Pixel values where the arithmetic has its corners.
inline uint32_t SpecialPixel(std::mt19937& rng, int kind, uint32_t key)
{
    static const uint32_t k32[] = {0x00000000, 0xFFFFFFFF, 0x01010101, 0xFEFEFEFE, 0x00C86401, 0x80808080, 0x7F7F7F7F};
    static const uint32_t k16[] = {0x0000, 0xFFFF, 0x0821, 0xF7DE, 0x8410, 0x7BEF, 0xF800};
    const uint32_t pick = rng() % 10;
    if (pick == 0) return key;
    if (pick < 4) return kind == 1 ? k32[rng() % 7] : k16[rng() % 7];
    return kind == 1 ? static_cast<uint32_t>(rng()) : (rng() & 0xFFFF);
}

enum class SrcType { Plain, Alpha, Paletted };

// A source image of the given layout with special values, its run table built.
inline void MakeSource(Img& img, std::mt19937& rng, int kind, SrcType type, int w, int h)
{
    const bool pal = type == SrcType::Paletted;
    const bool alpha = type == SrcType::Alpha;
    const uint32_t key = pal ? 7 : kind == 1 ? 0x00123456 : 0x1234;
    ASSERT_EQ(CreateMemImgWithOptions(&img.v, w, h, -1, key, kind, pal, alpha, 1, nullptr), 0);
    MemImgBase* s = img.v.store;
    if (pal) {
        for (int i = 0; i < 256; ++i) {
            uint32_t e = SpecialPixel(rng, kind, 0);
            if (kind == 1) e &= 0x00FFFFFF;
            std::memcpy(s->palette + (kind == 1 ? 4 : 2) * i, &e, kind == 1 ? 4 : 2);
        }
        s->paletteCount = 256;
    }
    static const uint8_t alphas[] = {0, 1, 128, 254, 255, 255, 0};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t v;
            if (pal) {
                v = rng() % 3 == 0 ? key : rng() & 0xFF;
            } else {
                v = SpecialPixel(rng, kind, key);
                if (alpha) {
                    const uint32_t a = rng() % 3 ? alphas[rng() % 7] : rng() & 0xFF;
                    v = kind == 1 ? (v & 0x00FFFFFF) | (a << 24) : (v & 0xFFFF) | (a << 16) | (0xA5u << 24);
                }
            }
            Put(img.v, x, y, v);
        }
    BuildMemImgLineRuns(&img.v);
}

inline void MakeMask(Img& img, std::mt19937& rng, int w, int h)
{
    ASSERT_EQ(CreateMemImgWithOptions(&img.v, w, h, -1, 0, kMemImgGrey8, 0, 0, 0, nullptr), 0);
    static const uint8_t specials[] = {0, 1, 128, 254, 255};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) Put(img.v, x, y, rng() % 2 ? specials[rng() % 5] : rng() & 0xFF);
}

// A destination view inside a larger store; the store's edge is a sentinel.
struct GuardedDst {
    Img store;
    Img view;
    static constexpr int kW = 22, kH = 17, kX = 4, kY = 3, kViewW = 13, kViewH = 10;

    void Make(int kind, std::mt19937& rng)
    {
        ASSERT_EQ(CreatePlainMemImg(&store.v, kW, kH, kind), 0);
        std::memset(store.v.store->pixels, 0xAB, static_cast<size_t>(store.v.store->pitch) * kH);
        MakeMemImgView(&view.v, &store.v, kX, kY, kViewW, kViewH);
        ASSERT_TRUE(TestMemImgValid(&view.v));
        for (int y = 0; y < kViewH; ++y)
            for (int x = 0; x < kViewW; ++x) Put(view.v, x, y, SpecialPixel(rng, kind, 0));
    }
};

// A kernel against what it must equal, case after case: two guarded destinations that every
// case sets back to the same starting bytes, and the first five cases whose stores differ
// reported.
struct Comparison {
    GuardedDst got, want;
    std::vector<uint8_t> start;
    int failures = 0;

    // Both destinations; every case starts from got's first bytes.
    void Make(int kind, std::mt19937& rng)
    {
        got.Make(kind, rng);
        want.Make(kind, rng);
        start = StoreBytes(got.store.v);
    }

    // One case: draw(got view, want view) from the starting bytes; when the stores differ,
    // what describe() gives is reported.
    template <class Draw, class Describe>
    void Case(Draw&& draw, Describe&& describe)
    {
        SetStoreBytes(got.store.v, start);
        SetStoreBytes(want.store.v, start);
        draw(got.view.v, want.view.v);
        if (StoreBytes(got.store.v) != StoreBytes(want.store.v) && failures++ < 5) ADD_FAILURE() << describe();
    }
};

}  // namespace testimg
