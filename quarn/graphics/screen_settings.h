// The requested screen mode, stored before start-up and read by the window and the screen.
#pragma once

#include <cstdint>

struct ScreenSettings {
    int32_t started;     // graphics is up
    int32_t width;       // 0 = unset (640)
    int32_t height;      // 0 = unset (480)
    int32_t colorBits;   // 0 = unset (16)
    int32_t refreshRate; // 0 = any
    int32_t hardwareActive;
};
extern ScreenSettings g_screenSettings;

// 0; 640 x 480 where unset. Either pointer may be null.
int32_t GetConfiguredScreenSize(int32_t* width, int32_t* height);
// The colour bits, 16 where unset.
int32_t GetConfiguredColorBits();
