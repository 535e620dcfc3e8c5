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

// Microseconds per frame; no frames when the renderer asked for did not start.
struct FrameCost {
    double cpu = 0;   // processor time of all the process's threads
    double wall = 0;  // elapsed time
    // Elapsed time of the draw calls before the present, where the benchmark times them: the
    // library's own work, with what the device queues for its command thread.
    double draw = -1;
    int frames = 0;
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

// Runs frame() a few times to warm up, then for at least the given seconds and 3 frames,
// each followed by the window's messages; the cost per frame. A span of a second or more
// keeps the process times (counted in ticks of 10 ms or more under Wine) exact to a percent.
template <typename Frame>
FrameCost MeasureBenchFrames(double seconds, Frame frame)
{
    for (int i = 0; i < 3; ++i) {
        frame();
        PumpWindowMessages();
    }
    const double cpu = BenchProcessSeconds();
    const double wall = BenchWallSeconds();
    FrameCost cost;
    do {
        frame();
        PumpWindowMessages();
        ++cost.frames;
    } while (cost.frames < 3 || BenchWallSeconds() - wall < seconds);
    cost.cpu = (BenchProcessSeconds() - cpu) * 1e6 / cost.frames;
    cost.wall = (BenchWallSeconds() - wall) * 1e6 / cost.frames;
    return cost;
}

// Prints the two renderers' costs and the ratio device / software of processor time per
// frame (the ratio that counts; elapsed time beside it), and hands the table the device's
// speed over the software renderer's. False when either did not run.
inline bool ReportDeviceBesideSoftware(const char* what, const FrameCost& software, const FrameCost& device)
{
    std::printf("%s, per frame: processor time, elapsed time (frames measured)\n", what);
    std::printf("  software renderer (anchor) %10.1f us %10.1f us (%d)\n", software.cpu, software.wall,
                software.frames);
    std::printf("  Direct3D 9 device          %10.1f us %10.1f us (%d)\n", device.cpu, device.wall, device.frames);
    if (software.draw >= 0 && device.draw >= 0) {
        std::printf("  draw calls before the present, elapsed: software %.1f us, device %.1f us\n", software.draw,
                    device.draw);
    }
    if (software.frames == 0 || device.frames == 0) {
        std::printf("  ratio: a renderer did not start\n");
        return false;
    }
    if (software.cpu > 0 && device.cpu > 0) {
        std::printf("  ratio device / software    %10.2f    %10.2f   (processor time is the ratio that counts)\n",
                    device.cpu / software.cpu, device.wall / software.wall);
        RecordRatio(what, "software renderer", software.cpu / device.cpu);
    } else {
        std::printf("  ratio device / software: a processor time too short to count\n");
    }
    std::fflush(stdout);
    return true;
}
