// A slow reference of the unscaled blit: per pixel, per channel, plain arithmetic, no tables.
#pragma once

#include <cstdint>

#include "quarn/softrender/softrender.h"

namespace ref {

struct Settings {
    int mode;
    int p;
    uint32_t bright;        // 0x00RRGGBB; 0xFFFFFF none
    quarn::PixelRect clip;
    int borderPos;          // mask ramp
    int borderRange;
    bool mmx;
};

// The mask value's weight by the ramp's own formula.
int MaskWeight(int value, int borderPos, int borderRange);

// Draws src into dst as the blit must; reads and writes single pixels only.
void Render(quarn::MEMIMG* dst, const quarn::MEMIMG* src, int x, int y, int transparent,
            const quarn::MEMIMG* mask, const Settings& s);

}  // namespace ref
