#include "quarn/core/screen_settings.h"

ScreenSettings g_screenSettings;

void ResetScreenSettings() { g_screenSettings = ScreenSettings{}; }

int32_t GetConfiguredScreenSize(int32_t* width, int32_t* height)
{
    if (width != nullptr) {
        *width = g_screenSettings.width != 0 ? g_screenSettings.width : kDefaultScreenWidth;
    }
    if (height != nullptr) {
        *height = g_screenSettings.height != 0 ? g_screenSettings.height : kDefaultScreenHeight;
    }
    return 0;
}

int32_t GetConfiguredColorBits()
{
    return g_screenSettings.colorBits != 0 ? g_screenSettings.colorBits : kDefaultColorBits;
}
