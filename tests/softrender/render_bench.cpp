// The blit kernels beside pixman and memcpy: RenderMemImg on 1024 x 1024 32-bit images, and
// RenderMemImgScaled drawing a 512 x 512 image at twice and half its size.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "quarn/softrender/softrender.h"
#include "tests/bench_main.h"

namespace {
// The state the benchmarks' kernel calls draw under.
SoftBlendState g_blend{};
}  // namespace

namespace {

constexpr int kSize = 1024;
constexpr double kPixels = double{kSize} * kSize;

struct Images {
    MEMIMG dst{}, src{}, alphaSrc{}, small{}, smallAlpha{};
    Images()
    {
        BuildMemImgBlendTables();
        CreatePlainMemImg(&dst, kSize, kSize, 1);
        CreatePlainMemImg(&src, kSize, kSize, 1);
        CreateMemImgWithOptions(&alphaSrc, kSize, kSize, -1, 0, 1, 0, 1, 0, nullptr);
        CreatePlainMemImg(&small, kSize / 2, kSize / 2, 1);
        CreateMemImgWithOptions(&smallAlpha, kSize / 2, kSize / 2, -1, 0, 1, 0, 1, 0, nullptr);
        std::mt19937 rng(1);
        for (MEMIMG* v : {&dst, &src, &alphaSrc, &small, &smallAlpha})
            for (int y = 0; y < v->height; ++y) {
                auto* line = reinterpret_cast<uint32_t*>(v->pixels + v->store->pitch * y);
                for (int x = 0; x < v->width; ++x) line[x] = static_cast<uint32_t>(rng());
            }
        g_blend = SoftBlendState{};
        g_blend.brightColor = kNoBrightColor;
        g_blend.clip = PixelRect{0, 0, kSize, kSize};
    }
};

Images& Shared()
{
    static Images images;
    return images;
}

void Rate(benchmark::State& state, double pixels = kPixels)
{
    state.counters["Mpix/s"] = benchmark::Counter(pixels / 1e6 * static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}

void Render(benchmark::State& state, int mode, int p, bool alpha, int transparent)
{
    Images& im = Shared();
    g_blend.blendMode = static_cast<BlendMode>(mode);
    g_blend.blendParam = p;
    for (auto _ : state) {
        RenderMemImg(g_blend, &im.dst, alpha ? &im.alphaSrc : &im.src, 0, 0, transparent, nullptr);
        benchmark::ClobberMemory();
    }
    Rate(state);
}

void BM_RenderMode0(benchmark::State& s) { Render(s, 0, 255, false, 0); }
void BM_RenderMode1Half(benchmark::State& s) { Render(s, 1, 128, false, 0); }
void BM_RenderMode2(benchmark::State& s) { Render(s, 2, 255, false, 0); }
void BM_RenderSourceAlpha(benchmark::State& s) { Render(s, 0, 255, true, 1); }

void Pixman(benchmark::State& state, pixman_op_t op, bool alpha)
{
    Images& im = Shared();
    pixman_image_t* d = pixman_image_create_bits(PIXMAN_x8r8g8b8, kSize, kSize,
                                                 reinterpret_cast<uint32_t*>(im.dst.pixels), im.dst.store->pitch);
    const MEMIMG& src = alpha ? im.alphaSrc : im.src;
    pixman_image_t* s = pixman_image_create_bits(alpha ? PIXMAN_a8r8g8b8 : PIXMAN_x8r8g8b8, kSize, kSize,
                                                 reinterpret_cast<uint32_t*>(src.pixels), src.store->pitch);
    for (auto _ : state) {
        pixman_image_composite32(op, s, nullptr, d, 0, 0, 0, 0, 0, 0, kSize, kSize);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(s);
    pixman_image_unref(d);
    Rate(state);
}

void BM_PixmanSrc(benchmark::State& s) { Pixman(s, PIXMAN_OP_SRC, false); }
void BM_PixmanOver(benchmark::State& s) { Pixman(s, PIXMAN_OP_OVER, true); }
void BM_PixmanAdd(benchmark::State& s) { Pixman(s, PIXMAN_OP_ADD, false); }

void BM_Memcpy(benchmark::State& state)
{
    Images& im = Shared();
    const size_t bytes = static_cast<size_t>(im.dst.store->pitch) * kSize;
    for (auto _ : state) {
        std::memcpy(im.dst.pixels, im.src.pixels, bytes);
        benchmark::ClobberMemory();
    }
    Rate(state);
}

// The wipe (the whole image filled with one value) beside memset of the same bytes.
void BM_Wipe(benchmark::State& state)
{
    Images& im = Shared();
    for (auto _ : state) {
        FillMemImgPixels(&im.dst, nullptr, 0x00404040);
        benchmark::ClobberMemory();
    }
    Rate(state);
}

void BM_Memset(benchmark::State& state)
{
    Images& im = Shared();
    const size_t bytes = static_cast<size_t>(im.dst.store->pitch) * kSize;
    for (auto _ : state) {
        std::memset(im.dst.pixels, 0x40, bytes);
        benchmark::ClobberMemory();
    }
    Rate(state);
}

// Scaled draws of a 512 x 512 image: twice as large (1024 x 1024) and half (256 x 256).
constexpr int kSmall = kSize / 2;

void Scaled(benchmark::State& state, int mode, int p, int target)
{
    Images& im = Shared();
    g_blend.blendMode = static_cast<BlendMode>(mode);
    g_blend.blendParam = p;
    const int32_t rect[4] = {0, 0, target, target};
    for (auto _ : state) {
        RenderMemImgScaled(g_blend, &im.dst, &im.small, rect, 0, nullptr);
        benchmark::ClobberMemory();
    }
    Rate(state, double{target} * target);
}

void BM_ScaledUpMode0(benchmark::State& s) { Scaled(s, 0, 255, kSmall * 2); }
void BM_ScaledUpMode1(benchmark::State& s) { Scaled(s, 1, 128, kSmall * 2); }
void BM_ScaledDownMode0(benchmark::State& s) { Scaled(s, 0, 255, kSmall / 2); }
void BM_ScaledDownMode1(benchmark::State& s) { Scaled(s, 1, 128, kSmall / 2); }

void PixmanScaled(benchmark::State& state, pixman_op_t op, int target)
{
    Images& im = Shared();
    const MEMIMG& src = op == PIXMAN_OP_SRC ? im.small : im.smallAlpha;
    pixman_image_t* d = pixman_image_create_bits(PIXMAN_x8r8g8b8, kSize, kSize,
                                                 reinterpret_cast<uint32_t*>(im.dst.pixels), im.dst.store->pitch);
    pixman_image_t* s = pixman_image_create_bits(op == PIXMAN_OP_SRC ? PIXMAN_x8r8g8b8 : PIXMAN_a8r8g8b8, kSmall,
                                                 kSmall, reinterpret_cast<uint32_t*>(src.pixels), src.store->pitch);
    pixman_transform_t t;
    const pixman_fixed_t f = pixman_double_to_fixed(double{kSmall} / target);
    pixman_transform_init_scale(&t, f, f);
    pixman_image_set_transform(s, &t);
    pixman_image_set_filter(s, PIXMAN_FILTER_NEAREST, nullptr, 0);
    for (auto _ : state) {
        pixman_image_composite32(op, s, nullptr, d, 0, 0, 0, 0, 0, 0, target, target);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(s);
    pixman_image_unref(d);
    Rate(state, double{target} * target);
}

void BM_PixmanScaledUpSrc(benchmark::State& s) { PixmanScaled(s, PIXMAN_OP_SRC, kSmall * 2); }
void BM_PixmanScaledUpOver(benchmark::State& s) { PixmanScaled(s, PIXMAN_OP_OVER, kSmall * 2); }
void BM_PixmanScaledDownSrc(benchmark::State& s) { PixmanScaled(s, PIXMAN_OP_SRC, kSmall / 2); }
void BM_PixmanScaledDownOver(benchmark::State& s) { PixmanScaled(s, PIXMAN_OP_OVER, kSmall / 2); }

BENCHMARK(BM_ScaledUpMode0);
BENCHMARK(BM_ScaledUpMode1);
BENCHMARK(BM_ScaledDownMode0);
BENCHMARK(BM_ScaledDownMode1);
BENCHMARK(BM_PixmanScaledUpSrc);
BENCHMARK(BM_PixmanScaledUpOver);
BENCHMARK(BM_PixmanScaledDownSrc);
BENCHMARK(BM_PixmanScaledDownOver);
BENCHMARK(BM_RenderMode0);
BENCHMARK(BM_RenderMode1Half);
BENCHMARK(BM_RenderMode2);
BENCHMARK(BM_RenderSourceAlpha);
BENCHMARK(BM_PixmanSrc);
BENCHMARK(BM_PixmanOver);
BENCHMARK(BM_PixmanAdd);
BENCHMARK(BM_Memcpy);
BENCHMARK(BM_Wipe);
BENCHMARK(BM_Memset);

// Keeps each benchmark's rate for the ratio table.
class RateReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rates;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            auto it = r.counters.find("Mpix/s");
            if (it != r.counters.end()) rates[r.benchmark_name()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& r = reporter.rates;
    struct Pair {
        const char* ours;
        const char* theirs;
    };
    const Pair pairs[] = {
        {"BM_RenderMode0", "BM_Memcpy"},
        {"BM_RenderMode0", "BM_PixmanSrc"},
        {"BM_RenderMode1Half", "BM_PixmanOver"},
        {"BM_RenderMode2", "BM_PixmanAdd"},
        {"BM_RenderSourceAlpha", "BM_PixmanOver"},
        {"BM_ScaledUpMode0", "BM_PixmanScaledUpSrc"},
        {"BM_ScaledUpMode1", "BM_PixmanScaledUpOver"},
        {"BM_ScaledDownMode0", "BM_PixmanScaledDownSrc"},
        {"BM_ScaledDownMode1", "BM_PixmanScaledDownOver"},
        {"BM_Wipe", "BM_Memset"},
    };
    std::printf("\n%-22s %-24s %10s %10s %7s\n", "kernel", "against", "Mpix/s", "Mpix/s", "ratio");
    for (const Pair& p : pairs) {
        if (!r.count(p.ours) || !r.count(p.theirs)) continue;
        std::printf("%-22s %-24s %10.1f %10.1f %7.2f\n", p.ours, p.theirs, r[p.ours], r[p.theirs],
                    r[p.ours] / r[p.theirs]);
        RecordRatio(p.ours, p.theirs, r[p.ours] / r[p.theirs]);
    }
    benchmark::Shutdown();
    return 0;
}
