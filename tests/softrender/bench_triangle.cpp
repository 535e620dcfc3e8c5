// RenderMemImgTriangle on triangles of about 10, 1,000 and 100,000 pixels, textured and flat,
// in modes 0 and 1, into a 512 x 512 32-bit image, each beside pixman compositing the same
// triangle over the same pixels with OVER: for mode 0 (a copy) of an opaque source, which
// OVER copies, and for mode 1 (a blend at a constant 100/255) of a source whose alpha is
// 100: a solid colour, or for the textured draw the source image premultiplied by that
// alpha. (pixman's SRC would composite the whole destination: with a mask it is unbounded.) pixman covers edge pixels
// partly (it rasterises a coverage mask first); ours draws whole pixels, which is the
// work the ratio compares.
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

constexpr int kSize = 512;

constexpr int kBlendAlpha = 100;

struct Images {
    MEMIMG dst{}, src{};
    std::vector<uint32_t> premultiplied;  // src with alpha kBlendAlpha, for pixman's OVER
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
        premultiplied.resize(size_t(kSize) * kSize);
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                uint32_t p;
                std::memcpy(&p, src.pixels + src.store->pitch * y + 4 * x, 4);
                uint32_t q = uint32_t(kBlendAlpha) << 24;
                for (int shift = 0; shift < 24; shift += 8) q |= (((p >> shift) & 0xFF) * kBlendAlpha / 255) << shift;
                premultiplied[size_t(y) * kSize + x] = q;
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
    g_blend.blendMode = static_cast<BlendMode>(mode);
    g_blend.blendParam = kBlendAlpha;
    const int x = 7, y = 5;
    const MemImgVertex t[3] = {{x, y, 0, 0}, {x + leg, y, leg, 0}, {x, y + leg, 0, leg}};
    for (auto _ : state) {
        RenderMemImgTriangle(g_blend, &im.dst, textured ? &im.src : nullptr, t, 0, nullptr, 0xFF336699);
        benchmark::ClobberMemory();
    }
    const double pixels = static_cast<double>(leg) * (leg + 1) / 2;
    state.counters["tri/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["Mpix/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// The same triangle through pixman_composite_triangles.
void PixmanTriangle(benchmark::State& state, int leg, bool textured, int mode)
{
    Images& im = Shared();
    pixman_image_t* d = pixman_image_create_bits(PIXMAN_x8r8g8b8, kSize, kSize,
                                                 reinterpret_cast<uint32_t*>(im.dst.pixels), im.dst.store->pitch);
    pixman_image_t* s;
    if (!textured) {
        // 0xFF336699 as it is, or premultiplied by the blend's alpha.
        const auto channel = [mode](int v) {
            const int scaled = mode == 0 ? v : v * kBlendAlpha / 255;
            return uint16_t(scaled * 257);
        };
        const pixman_color_t colour = {channel(0x33), channel(0x66), channel(0x99), channel(0xFF)};
        s = pixman_image_create_solid_fill(&colour);
    } else if (mode == 0) {
        s = pixman_image_create_bits(PIXMAN_x8r8g8b8, kSize, kSize, reinterpret_cast<uint32_t*>(im.src.pixels),
                                     im.src.store->pitch);
    } else {
        s = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSize, kSize, im.premultiplied.data(), kSize * 4);
    }
    const int x = 7, y = 5;
    const pixman_triangle_t t = {{pixman_int_to_fixed(x), pixman_int_to_fixed(y)},
                                 {pixman_int_to_fixed(x + leg), pixman_int_to_fixed(y)},
                                 {pixman_int_to_fixed(x), pixman_int_to_fixed(y + leg)}};
    // The source pixel under destination (x, y) is (0, 0), as in the textured draw above.
    for (auto _ : state) {
        pixman_composite_triangles(PIXMAN_OP_OVER, s, d, PIXMAN_a8, -x, -y, 0, 0, 1, &t);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(s);
    pixman_image_unref(d);
}

std::string Name(const char* prefix, int leg, bool textured, int mode)
{
    return std::string(prefix) + "/" + std::to_string(leg * (leg + 1) / 2) + "px/" + (textured ? "textured" : "flat") +
           "/mode" + std::to_string(mode);
}

constexpr int kLegs[] = {4, 44, 447};

void Register()
{
    for (int leg : kLegs)
        for (bool textured : {true, false})
            for (int mode : {0, 1}) {
                benchmark::RegisterBenchmark(Name("Triangle", leg, textured, mode).c_str(),
                                             [=](benchmark::State& s) { Triangle(s, leg, textured, mode); });
                benchmark::RegisterBenchmark(Name("PixmanTriangle", leg, textured, mode).c_str(),
                                             [=](benchmark::State& s) { PixmanTriangle(s, leg, textured, mode); });
            }
}

const int kRegistered = (Register(), 0);

// The usual console output, then each triangle's time beside pixman's and the ratio.
class SummaryReporter : public SummaryReporterBase {
public:
    void Keep(const Run& r) override { seconds_[r.run_name.str()] = r.real_accumulated_time / double(r.iterations); }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\n%-30s %12s %12s %7s\n", "triangle", "ours ns", "pixman ns", "ratio");
        for (int leg : kLegs)
            for (bool textured : {true, false})
                for (int mode : {0, 1}) {
                    const std::string ours = Name("Triangle", leg, textured, mode);
                    const std::string theirs = Name("PixmanTriangle", leg, textured, mode);
                    if (!seconds_.count(ours) || !seconds_.count(theirs) || !(seconds_[ours] > 0)) continue;
                    const double ratio = seconds_[theirs] / seconds_[ours];
                    std::printf("%-30s %12.1f %12.1f %7.2f\n", ours.c_str(), seconds_[ours] * 1e9,
                                seconds_[theirs] * 1e9, ratio);
                    RecordRatio(ours.c_str(), mode == 0 ? "pixman triangles, opaque" : "pixman triangles, OVER", ratio);
                }
    }

private:
    std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) { return RunBenchmarksWithSummary<SummaryReporter>(argc, argv); }
