// ConvertPixelRect on 1024x1024 beside pixman's SRC composite and memcpy of the same bytes.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <random>
#include <vector>

#include "tests/bench_main.h"
#include "quarn/core/core.h"
#include "quarn/image/image.h"

namespace {

constexpr int kSize = 1024;

struct Pair {
    const char* name;
    int srcBytes, dstBytes;
    ColorFormat src, dst;
    pixman_format_code_t pixSrc, pixDst;
};

ColorFormat Masks(int depth, uint32_t r, uint32_t g, uint32_t b, uint32_t a)
{
    ColorFormat f{};
    SetupFormatFromMasks(&f, depth, r, g, b, a);
    return f;
}

Pair MakePair(int which)
{
    const ColorFormat xrgb = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0);
    const ColorFormat argb = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
    const ColorFormat r565 = Masks(16, 0xF800, 0x07E0, 0x1F, 0);
    switch (which) {
    case 0: return {"X8R8G8B8->R5G6B5", 4, 2, xrgb, r565, PIXMAN_x8r8g8b8, PIXMAN_r5g6b5};
    case 1: return {"A8R8G8B8->X8R8G8B8", 4, 4, argb, xrgb, PIXMAN_a8r8g8b8, PIXMAN_x8r8g8b8};
    default: return {"R5G6B5->X8R8G8B8", 2, 4, r565, xrgb, PIXMAN_r5g6b5, PIXMAN_x8r8g8b8};
    }
}

struct Buffers {
    std::vector<uint32_t> src, dst;  // 32-bit words keep pixman's row alignment
    explicit Buffers(const Pair& p)
        : src(size_t(kSize) * kSize * p.srcBytes / 4), dst(size_t(kSize) * kSize * p.dstBytes / 4)
    {
        std::mt19937 rng(7);
        for (auto& w : src) w = rng();
    }
};

void SetRate(benchmark::State& state)
{
    state.counters["pixels"] = benchmark::Counter(double(kSize) * kSize * state.iterations(),
                                                  benchmark::Counter::kIsRate);
}

void BM_Convert(benchmark::State& state)
{
    const Pair p = MakePair(int(state.range(0)));
    Buffers b(p);
    const PixelRect rect = {0, 0, kSize, kSize};
    for (auto _ : state) {
        ConvertPixelRect(reinterpret_cast<uint8_t*>(b.dst.data()), kSize * p.dstBytes, &p.dst,
                         reinterpret_cast<const uint8_t*>(b.src.data()), kSize * p.srcBytes, &p.src, nullptr, 0,
                         nullptr, 0, 0, &rect, 0, 0, 0, 0, 0, 0, 0, 0);
        benchmark::DoNotOptimize(b.dst.data());
    }
    state.SetLabel(p.name);
    SetRate(state);
}

// The same with the 16-bit pairs forced to their plain form.
void BM_ConvertPlain(benchmark::State& state)
{
    const int old = OverrideMmxUsable(0);
    BM_Convert(state);
    OverrideMmxUsable(old);
}

void BM_Pixman(benchmark::State& state)
{
    const Pair p = MakePair(int(state.range(0)));
    Buffers b(p);
    pixman_image_t* s = pixman_image_create_bits(p.pixSrc, kSize, kSize, b.src.data(), kSize * p.srcBytes);
    pixman_image_t* d = pixman_image_create_bits(p.pixDst, kSize, kSize, b.dst.data(), kSize * p.dstBytes);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, kSize, kSize);
        benchmark::DoNotOptimize(b.dst.data());
    }
    pixman_image_unref(s);
    pixman_image_unref(d);
    state.SetLabel(p.name);
    SetRate(state);
}

// The bytes the conversion reads, copied; the floor for any pair.
void BM_Memcpy(benchmark::State& state)
{
    const Pair p = MakePair(int(state.range(0)));
    Buffers b(p);
    std::vector<uint32_t> out(b.src.size());
    for (auto _ : state) {
        std::memcpy(out.data(), b.src.data(), b.src.size() * 4);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel(p.name);
    SetRate(state);
}

BENCHMARK(BM_Convert)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertPlain)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pixman)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// The usual console output, then one line per pair with megapixels per second and ratios.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const std::string name = r.benchmark_name();
            const int pair = name.back() - '0';
            const double mpix = r.counters.at("pixels").value / 1e6;
            if (name.rfind("BM_Convert/", 0) == 0) rate_[pair][0] = mpix;
            if (name.rfind("BM_Pixman/", 0) == 0) rate_[pair][1] = mpix;
            if (name.rfind("BM_Memcpy/", 0) == 0) rate_[pair][2] = mpix;
            if (name.rfind("BM_ConvertPlain/", 0) == 0) rate_[pair][3] = mpix;
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        // "quarn" is the default form (SSE2, else MMX, where the processor has them); "plain"
        // forces the plain forms (blank where the pair has no SIMD form).
        std::printf("\n%-20s %11s %11s %11s %11s %8s %8s %8s\n", "pair (1024x1024)", "quarn MP/s", "plain MP/s",
                    "pixman MP/s", "memcpy MP/s", "/pixman", "/memcpy", "plain/px");
        for (int p = 0; p < 3; ++p) {
            const double* r = rate_[p];
            auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
            std::printf("%-20s %11.1f %11.1f %11.1f %11.1f %8.2f %8.2f %8.2f\n", MakePair(p).name, r[0], r[3], r[1],
                        r[2], ratio(r[0], r[1]), ratio(r[0], r[2]), ratio(r[3], r[1]));
            RecordRatio(MakePair(p).name, "pixman SRC", ratio(r[0], r[1]));
            RecordRatio(MakePair(p).name, "memcpy", ratio(r[0], r[2]));
        }
    }

private:
    double rate_[3][4] = {};
};

}  // namespace

int main(int argc, char** argv) { return RunBenchmarksWithSummary<SummaryReporter>(argc, argv); }
