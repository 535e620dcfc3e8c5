// Starting and ending the library's window with its software screen in a test, in the order
// the library's start-up and shut-down use.
#pragma once

#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "quarn/graphics/graphics_win.h"
#include "quarn/graphics/render_backend.h"
#include "quarn/runtime/runtime.h"
#include "quarn/system/system.h"
#include "tests/system/window_fixture.h"

// A fresh process's window and screen state with COM started and the software screen asked
// for (tests of the device ask for the device before start-up), then the application's window
// settings and a width x height x 32 screen mode set before start-up. Nothing is started yet.
inline void PrepareSoftwareScreen(int32_t width, int32_t height, const wchar_t* title)
{
    CoInitialize(nullptr);
    ResetSystemState();
    ResetScreenSettings();
    ResetGraphicsState();
    DrainQueue();
    ASSERT_EQ(ConfigureScreenMode(width, height, 32, 60), 0);
    UseApplicationWindowSettings(title);
    ASSERT_EQ(RequestHardwareRendering(0), 0);
}

// The window, then graphics, as the library's start-up brings them up: the screen's window
// handlers (paint, display change, the front-screen timer) are registered as graphics start.
inline void StartWindowAndGraphics()
{
    ASSERT_EQ(StartMainWindow(), 0);
    RegisterScreenWindowHandlers();
    ASSERT_EQ(InitializeGraphics(), 0);
    g_system.started = 1;
}

// The window and graphics started on the device with a width x height screen (fails the test
// when the device does not start); the back screen is the draw target.
inline void StartDeviceScreen(int32_t width, int32_t height, const wchar_t* title)
{
    ASSERT_NO_FATAL_FAILURE(PrepareSoftwareScreen(width, height, title));
    ASSERT_EQ(RequestHardwareRendering(1), 0);
    ASSERT_NO_FATAL_FAILURE(StartWindowAndGraphics());
    ASSERT_EQ(g_screenSettings.hardwareActive, 1) << "the device did not start";
    SelectDrawTarget(kDrawTargetBackScreen);
}

// Ends the window and leaves a fresh process's state: the queue drained, the window and
// screen state cleared, COM ended.
inline void EndWindowAndState()
{
    EndMainWindow();
    DrainQueue();
    ResetSystemState();
    ResetScreenSettings();
    CoUninitialize();
}

// Graphics, then the window, as the library's shut-down ends them.
inline void EndSoftwareScreen()
{
    ShutDownGraphics();
    EndWindowAndState();
}

// The colour bits (0x00RRGGBB) of a pixel of a 32-bit image.
inline uint32_t PixelOf(const MEMIMG& image, int32_t x, int32_t y)
{
    uint32_t v = 0;
    std::memcpy(&v, image.pixels + ptrdiff_t{image.store->pitch} * y + 4 * x, 4);
    return v & 0xFFFFFF;
}

// Turns the layered window on as an application would: the window's extended style and the
// library's setting.
inline void TurnLayeredWindowOn(int32_t useImageAlpha)
{
    HWND window = QueryMainWindow();
    SetWindowLongW(window, GWL_EXSTYLE, GetWindowLongW(window, GWL_EXSTYLE) | WS_EX_LAYERED);
    g_system.layeredWindow = 1;
    g_system.layeredImageAlpha = useImageAlpha;
}

// A pixel of the layered window's kept picture (A8R8G8B8), y counted from the picture's top.
inline uint32_t LayeredPixel(int32_t x, int32_t y)
{
    uint32_t v = 0;
    std::memcpy(&v,
                static_cast<const uint8_t*>(g_system.layeredPixels) + ptrdiff_t{g_system.layeredWidth} * 4 * y + 4 * x,
                4);
    return v;
}

// The back screen's area (left, top, width x height) as 0x00RRGGBB pixels, row by row, read
// through the back-buffer lock on either renderer; 0xDEADBEEF everywhere when the lock fails.
inline std::vector<uint32_t> ReadBackScreen(int32_t left, int32_t top, int32_t width, int32_t height)
{
    std::vector<uint32_t> out(static_cast<size_t>(width) * height, 0xDEADBEEF);
    const PixelRect area{left, top, left + width, top + height};
    BaseImage image{};
    if (LockBackBuffer(&area, &image) != 0) {
        ADD_FAILURE() << "lock failed at " << left << "," << top;
        return out;
    }
    const size_t bytes = image.format.bytesPerPixel < 4 ? image.format.bytesPerPixel : 4;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint32_t value = 0;
            std::memcpy(&value, image.pixels + ptrdiff_t{image.pitch} * y + ptrdiff_t{x} * image.format.bytesPerPixel,
                        bytes);
            int r = 0;
            int g = 0;
            int b = 0;
            DecodePixelColor(&image.format, value, &r, &g, &b, nullptr);
            out[static_cast<size_t>(y) * width + x] = static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 |
                                                      static_cast<uint32_t>(b);
        }
    }
    UnlockBackBuffer();
    return out;
}
