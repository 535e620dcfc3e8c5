// Benchmark under Wine: wiping and presenting a 640 x 480 screen on the Direct3D 9 device beside
// the same on the software renderer (the anchor), in one run, as processor time per frame.
// No vertical-blank waits, so that only the work of each renderer is measured.
#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <cstring>

#include "quarn/graphics/graphics_win.h"
#include "quarn/graphics/render_backend.h"
#include "quarn/runtime/runtime.h"
#include "quarn/system/system.h"

namespace {

constexpr int kFrames = 300;

double ProcessSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<double>(static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 1e7;
}

double WallSeconds()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Microseconds of processor time (all the process's threads) per wiped and presented frame, or
// -1 when the renderer asked for did not start; *wall gets the elapsed time per frame.
double MeasureFrames(int hardware, double* wall)
{
    CoInitialize(nullptr);
    std::memset(&g_system, 0, sizeof(g_system));
    g_screenSettings = ScreenSettings{};
    UseRenderBackend(&kSoftwareRenderBackend);
    ConfigureScreenMode(640, 480, 32, 60);
    ChangeWindowMode(1);
    SetRunWhileInactive(1);
    AssignWindowTitle(L"present bench");
    SetVerticalSyncWait(0);
    RequestHardwareRendering(hardware);
    if (StartMainWindow() != 0) {
        return -1;
    }
    RegisterScreenWindowHandlers();
    double result = -1;
    if (InitializeGraphics() == 0 && g_screenSettings.hardwareActive == hardware) {
        g_system.started = 1;
        SelectDrawTarget(kDrawTargetBackScreen);
        for (int i = 0; i < 20; ++i) {  // warm-up
            WipeDrawScreen(nullptr);
            PresentScreen();
        }
        const double start = ProcessSeconds();
        const double wallStart = WallSeconds();
        for (int i = 0; i < kFrames; ++i) {
            WipeDrawScreen(nullptr);
            PresentScreen();
            PumpWindowMessages();
        }
        result = (ProcessSeconds() - start) * 1e6 / kFrames;
        *wall = (WallSeconds() - wallStart) * 1e6 / kFrames;
    }
    ShutDownGraphics();
    EndMainWindow();
    ClearWindowHandlers();
    std::memset(&g_system, 0, sizeof(g_system));
    g_screenSettings = ScreenSettings{};
    CoUninitialize();
    return result;
}

}  // namespace

int main()
{
    double softwareWall = -1;
    double deviceWall = -1;
    const double software = MeasureFrames(0, &softwareWall);
    const double device = MeasureFrames(1, &deviceWall);
    std::printf("wipe and present 640 x 480, per frame (%d frames): processor time, elapsed time\n", kFrames);
    std::printf("  software renderer (anchor) %10.1f us %10.1f us\n", software, softwareWall);
    std::printf("  Direct3D 9 device          %10.1f us %10.1f us\n", device, deviceWall);
    if (software > 0 && device > 0) {
        std::printf("  ratio device / software    %10.2f\n", device / software);
    } else {
        std::printf("  ratio: a renderer did not start\n");
    }
    return software > 0 && device > 0 ? 0 : 1;
}
