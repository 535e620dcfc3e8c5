// Benchmark under Wine: wiping and presenting a 640 x 480 screen on the Direct3D 9 device beside
// the same on the software renderer (the anchor), in one run, as processor time per frame.
#include "tests/graphics/screen_bench_win.h"

namespace {

constexpr double kSeconds = 1.5;

FrameCost MeasurePresent(int hardware)
{
    if (!StartBenchScreen(hardware, 640, 480, L"present bench")) {
        return FrameCost{};
    }
    const FrameCost cost = MeasureBenchFrames(kSeconds, [] {
        WipeDrawScreen(nullptr);
        PresentScreen();
    });
    EndBenchScreen();
    return cost;
}

}  // namespace

int main()
{
    const FrameCost software = MeasurePresent(0);
    const FrameCost device = MeasurePresent(1);
    return ReportDeviceBesideSoftware("wipe and present 640 x 480", software, device) ? 0 : 1;
}
