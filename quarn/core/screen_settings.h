// The requested screen mode, stored before start-up and read by the window and the screen.
#pragma once

#include <cstdint>

#include "quarn/core/core.h"

// The screen mode where none is set, which is also the mode a failed mode change falls back
// to last and the screen a full-screen 320 x 240 mode is shown on, each pixel doubled.
constexpr int32_t kDefaultScreenWidth = 640;
constexpr int32_t kDefaultScreenHeight = 480;
constexpr int32_t kDefaultColorBits = 16;

struct ScreenSettings {
    int32_t started;      // graphics is up
    int32_t width;        // 0 = unset (640)
    int32_t height;       // 0 = unset (480)
    int32_t colorBits;    // 0 = unset (16)
    int32_t refreshRate;  // 0 = any
    int32_t hardwareActive;
    // The rectangle the last present used: its source in hardware window mode, its
    // destination in software mode. Maps repaint rectangles into the picture.
    PixelRect lastPresent;
    int64_t refreshPeriod;  // microseconds between vertical blanks; 0 or less = not measured
    int64_t lastBlankTime;  // microsecond clock at the last vertical-blank wait
    // The application asked for the software renderer; otherwise the device is tried first.
    int32_t softwareOnly;
    // A full-screen 320 x 240 mode shown at 640 x 480, each pixel doubled.
    int32_t doubled;
    // A refused 320 x 240 display mode was replaced by 640 x 480; shown as when doubled.
    int32_t displayFallback;
    int32_t noVerticalWait;  // presents do not wait for the vertical blank
    // The vertical-blank wait cannot pace presents (it returns at once, or measured a period
    // no display runs at): paced waits time themselves to the refresh period instead.
    int32_t timedPacing;
};
extern ScreenSettings g_screenSettings;

// The screen settings of a fresh process: no mode requested (the defaults), nothing started.
// Test fixtures start from it; an application's settings outlive the library's end, so the
// end keeps them.
void ResetScreenSettings();

// 0; 640 x 480 where unset. Either pointer may be null.
int32_t GetConfiguredScreenSize(int32_t* width, int32_t* height);
// The colour bits, 16 where unset.
int32_t GetConfiguredColorBits();
