// Benchmark under Wine: the device beside the software renderer (the anchor), in one run, on a
// 640 x 480 screen: 10,000 small sprites with an alpha channel at spread positions per frame,
// and one graph stretched over the whole screen per frame; each frame wiped and presented.
//
//   bench_sprites [SECONDS]     (each renderer's span of each scene, 1.5 by default)
#include <cstdlib>
#include <vector>

#include "quarn/graphics/graph.h"
#include "tests/graphics/screen_bench_win.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kSprites = 10000;
constexpr int kSpriteSide = 32;

// A disc that fades out towards its rim, transparent outside it.
int MakeSpriteGraph()
{
    BaseImage image{};
    if (AllocArgbBaseImage(kSpriteSide, kSpriteSide, &image) != 0) {
        return -1;
    }
    const int centre = kSpriteSide / 2;
    for (int y = 0; y < kSpriteSide; ++y) {
        for (int x = 0; x < kSpriteSide; ++x) {
            const int d2 = (x - centre) * (x - centre) + (y - centre) * (y - centre);
            const int alpha = d2 >= centre * centre ? 0 : 255 - 255 * d2 / (centre * centre);
            WriteBaseImagePixel(&image, x, y, 64 + 4 * x, 64 + 4 * y, 200, alpha);
        }
    }
    const int graph = ConvertBaseImageToGraph(&image, nullptr, 0, 0, 0);
    DiscardBaseImage(&image);
    return graph;
}

// A picture of half the screen's size, to be stretched over all of it.
int MakeBackdropGraph()
{
    BaseImage image{};
    if (AllocXrgbBaseImage(kWidth / 2, kHeight / 2, &image) != 0) {
        return -1;
    }
    for (int y = 0; y < kHeight / 2; ++y) {
        for (int x = 0; x < kWidth / 2; ++x) {
            WriteBaseImagePixel(&image, x, y, x & 0xFF, y & 0xFF, (x ^ y) & 0xFF, 255);
        }
    }
    const int graph = ConvertBaseImageToGraph(&image, nullptr, 0, 0, 0);
    DiscardBaseImage(&image);
    return graph;
}

struct Spot {
    int x, y;
};

// The sprites' positions, spread over the screen by a fixed sequence, the same on both
// renderers; each frame moves them all by a step.
std::vector<Spot> SpreadSpots()
{
    std::vector<Spot> spots(kSprites);
    uint32_t state = 12345;
    for (Spot& s : spots) {
        state = state * 1664525u + 1013904223u;
        s.x = static_cast<int>(state >> 8) % (kWidth - kSpriteSide);
        state = state * 1664525u + 1013904223u;
        s.y = static_cast<int>(state >> 8) % (kHeight - kSpriteSide);
    }
    return spots;
}

// The cost per frame on the renderer; failed set when a draw was refused.
FrameCost MeasureSprites(int hardware, double seconds, bool* failed)
{
    if (!StartBenchScreen(hardware, kWidth, kHeight, L"sprite bench")) {
        return FrameCost{};
    }
    const std::vector<Spot> spots = SpreadSpots();
    const int sprite = MakeSpriteGraph();
    int step = 0;
    double drawing = 0;
    FrameCost cost = MeasureBenchFrames(seconds, [&] {
        WipeDrawScreen(nullptr);
        const int dx = step % 17;
        const int dy = step % 13;
        const double start = BenchWallSeconds();
        for (const Spot& s : spots) {
            *failed |= DrawGraphAt(s.x + dx, s.y + dy, sprite, 1) != 0;
        }
        drawing += BenchWallSeconds() - start;
        PresentScreen();
        ++step;
    });
    cost.draw = drawing * 1e6 / step;
    EndBenchScreen();
    return cost;
}

FrameCost MeasureStretched(int hardware, double seconds, bool* failed)
{
    if (!StartBenchScreen(hardware, kWidth, kHeight, L"stretch bench")) {
        return FrameCost{};
    }
    const int backdrop = MakeBackdropGraph();
    const FrameCost cost = MeasureBenchFrames(seconds, [&] {
        WipeDrawScreen(nullptr);
        *failed |= DrawGraphStretched(0, 0, kWidth, kHeight, backdrop, 0) != 0;
        PresentScreen();
    });
    EndBenchScreen();
    return cost;
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 && std::atof(argv[1]) > 0 ? std::atof(argv[1]) : 1.5;
    bool failed = false;
    const FrameCost spritesSoftware = MeasureSprites(0, seconds, &failed);
    const FrameCost spritesDevice = MeasureSprites(1, seconds, &failed);
    const FrameCost stretchedSoftware = MeasureStretched(0, seconds, &failed);
    const FrameCost stretchedDevice = MeasureStretched(1, seconds, &failed);
    bool ok = ReportDeviceBesideSoftware("10,000 sprites 32 x 32, alpha", spritesSoftware, spritesDevice);
    ok = ReportDeviceBesideSoftware("graph stretched to 640 x 480", stretchedSoftware, stretchedDevice) && ok;
    if (failed) {
        std::printf("a draw was refused: the figures above do not measure the drawing\n");
    }
    return ok && !failed ? 0 : 1;
}
