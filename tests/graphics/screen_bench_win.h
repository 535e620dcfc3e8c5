// What the screen benchmarks under Wine share: the screen started on the renderer asked for
// (never the default, which may be either), frames timed as processor time of the whole
// process and as elapsed time, and a device/software line printed and handed to the table.
// No vertical-blank waits, so that only the work of each renderer is measured.
#pragma once

#include <windows.h>

#include <objbase.h>

#include <cstdint>
#include <cstdio>

#include "quarn/graphics/graphics.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/runtime/runtime.h"
#include "quarn/system/system.h"
#include "tests/bench_ratio.h"

// Microseconds per frame; cpu -1 when the renderer asked for did not start.
struct FrameCost {
    double cpu = -1;   // processor time of all the process's threads
    double wall = -1;  // elapsed time
};

inline double BenchProcessSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<double>(static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 1e7;
}

inline double BenchWallSeconds()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Starts a fresh window and a width x height x 32 screen on the device (hardware 1) or the
// software renderer (0), as the library's start-up does, with the back screen as the draw
// target. False when that renderer did not start (what did start is ended again).
inline bool StartBenchScreen(int hardware, int width, int height, const wchar_t* title)
{
    CoInitialize(nullptr);
    ResetSystemState();
    ResetScreenSettings();
    ResetGraphicsState();
    ConfigureScreenMode(width, height, 32, 60);
    ChangeWindowMode(1);
    SetRunWhileInactive(1);
    AssignWindowTitle(title);
    SetVerticalSyncWait(0);
    RequestHardwareRendering(hardware);
    if (StartMainWindow() != 0) {
        CoUninitialize();
        return false;
    }
    RegisterScreenWindowHandlers();
    if (InitializeGraphics() == 0 && g_screenSettings.hardwareActive == hardware) {
        g_system.started = 1;
        SelectDrawTarget(kDrawTargetBackScreen);
        return true;
    }
    ShutDownGraphics();
    EndMainWindow();
    ResetSystemState();
    ResetScreenSettings();
    CoUninitialize();
    return false;
}

// Graphics, then the window, as the library's shut-down ends them; a fresh process's state.
inline void EndBenchScreen()
{
    ShutDownGraphics();
    EndMainWindow();
    ClearWindowHandlers();
    ResetSystemState();
    ResetScreenSettings();
    CoUninitialize();
}

// Runs frame() a few times to warm up, then the given number of frames, each followed by the
// window's messages; the cost per frame.
template <typename Frame>
FrameCost MeasureBenchFrames(int frames, Frame frame)
{
    for (int i = 0; i < 5; ++i) {
        frame();
        PumpWindowMessages();
    }
    const double cpu = BenchProcessSeconds();
    const double wall = BenchWallSeconds();
    for (int i = 0; i < frames; ++i) {
        frame();
        PumpWindowMessages();
    }
    FrameCost cost;
    cost.cpu = (BenchProcessSeconds() - cpu) * 1e6 / frames;
    cost.wall = (BenchWallSeconds() - wall) * 1e6 / frames;
    return cost;
}

// Prints the two renderers' costs and the ratio device / software of processor time per
// frame (the ratio that counts; elapsed time beside it), and hands the table the device's
// speed over the software renderer's. False when either did not run.
inline bool ReportDeviceBesideSoftware(const char* what, int frames, const FrameCost& software,
                                       const FrameCost& device)
{
    std::printf("%s, per frame (%d frames): processor time, elapsed time\n", what, frames);
    std::printf("  software renderer (anchor) %10.1f us %10.1f us\n", software.cpu, software.wall);
    std::printf("  Direct3D 9 device          %10.1f us %10.1f us\n", device.cpu, device.wall);
    if (!(software.cpu > 0 && device.cpu > 0)) {
        std::printf("  ratio: a renderer did not start\n");
        return false;
    }
    std::printf("  ratio device / software    %10.2f    %10.2f   (processor time is the ratio that counts)\n",
                device.cpu / software.cpu, device.wall / software.wall);
    RecordRatio(what, "software renderer", software.cpu / device.cpu);
    std::fflush(stdout);
    return true;
}
