// The library's one rectangle: left, top, right, bottom, right and bottom exclusive (a Windows
// RECT's layout).
#pragma once

#include <cstdint>

struct PixelRect {
    int32_t left, top, right, bottom;
};
