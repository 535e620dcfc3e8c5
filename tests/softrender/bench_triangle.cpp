// RenderMemImgTriangle on triangles of about 10, 1,000 and 100,000 pixels, textured and flat,
// in modes 0 and 1, into a 512 x 512 32-bit image.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include "quarn/softrender/softrender.h"

namespace {
// The state the benchmarks' kernel calls draw under.
SoftBlendState g_blend{};
}  // namespace

namespace {

constexpr int kSize = 512;

struct Images {
    MEMIMG dst{}, src{};
    Images()
    {
        BuildMemImgBlendTables();
        CreatePlainMemImg(&dst, kSize, kSize, 1);
        CreatePlainMemImg(&src, kSize, kSize, 1);
        std::mt19937 rng(1);
        for (MEMIMG* v : {&dst, &src})
            for (int y = 0; y < kSize; ++y) {
                uint8_t* line = v->pixels + v->store->pitch * y;
                for (int x = 0; x < kSize; ++x) {
                    const uint32_t p = static_cast<uint32_t>(rng());
                    std::memcpy(line + 4 * x, &p, 4);
                }
            }
    }
};

Images& Shared()
{
    static Images images;
    return images;
}

// A right triangle with legs of `leg` pixels covers leg * (leg + 1) / 2 pixels.
void Triangle(benchmark::State& state, int leg, bool textured, int mode)
{
    Images& im = Shared();
    g_blend = SoftBlendState{};
    g_blend.brightColor = kNoBrightColor;
    g_blend.clip = PixelRect{0, 0, kSize, kSize};
    g_blend.blendMode = mode;
    g_blend.blendParam = 100;
    const int x = 7, y = 5;
    const MemImgVertex t[3] = {{x, y, 0, 0}, {x + leg, y, leg, 0}, {x, y + leg, 0, leg}};
    for (auto _ : state) {
        RenderMemImgTriangle(g_blend, &im.dst, textured ? &im.src : nullptr, t, 0, nullptr, 0xFF336699);
        benchmark::ClobberMemory();
    }
    const double pixels = static_cast<double>(leg) * (leg + 1) / 2;
    state.counters["tri/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["Mpix/s"] =
        benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void Register()
{
    for (int leg : {4, 44, 447})
        for (bool textured : {true, false})
            for (int mode : {0, 1}) {
                const std::string name = "Triangle/" + std::to_string(leg * (leg + 1) / 2) +
                                         "px/" + (textured ? "textured" : "flat") + "/mode" +
                                         std::to_string(mode);
                benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& s) {
                    Triangle(s, leg, textured, mode);
                });
            }
}

const int kRegistered = (Register(), 0);

}  // namespace
