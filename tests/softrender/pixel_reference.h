// A slow reference of the per-channel blend arithmetic that every software kernel shares: one
// destination pixel blended with one source value, written from the rules' own words with
// 64-bit values and floor and truncation computed directly, no tables and no packed tricks.
#pragma once

#include <cstdint>

namespace ref {

struct Blend {
    bool wide = true;           // 32-bit pixels (blue, green, red, fourth byte), else RGB565
    int mode = 0;               // 0 to 4, 10 or 11 (mode 1 at p 255 already made mode 0)
    int p = 255;
    uint32_t bright = 0xFFFFFF; // 0x00RRGGBB; 0xFFFFFF is no bright
    bool hasMask = false;       // weights taking part, and their values
    int m = 0;
    bool hasAlpha = false;
    int a = 255;
    // Where kernels round differently:
    // 16-bit modes 2 and 3 weighted by the alpha alone scale by the alpha before the bright.
    bool alphaBeforeBright16 = false;
    // 16-bit mode 11 weighted by the alpha alone, without bright: green's product keeps five
    // more bits.
    bool preciseGreen16 = false;
};

// The new destination pixel for destination d and source value s (a 32-bit word, or RGB565 in
// the low 16 bits).
uint32_t BlendPixel(const Blend& b, uint32_t d, uint32_t s);

}  // namespace ref
