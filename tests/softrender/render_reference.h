// A slow reference of the unscaled blit: per pixel, per channel, plain arithmetic, no tables.
#pragma once

#include <cstdint>

#include "quarn/softrender/softrender.h"

namespace ref {

struct Settings {
    int mode;
    int p;
    uint32_t bright;  // 0x00RRGGBB; 0xFFFFFF none
    PixelRect clip;
    int borderPos;  // mask ramp
    int borderRange;
    int simd;  // forms forced: 0 plain, 1 MMX, 2 SSE2 (MMX rounding from 1)
};

// The mask value's weight by the ramp's own formula.
int MaskWeight(int value, int borderPos, int borderRange);

// Draws src into dst as the blit must; reads and writes single pixels only.
void Render(MEMIMG* dst, const MEMIMG* src, int x, int y, int transparent, const MEMIMG* mask, const Settings& s);

// The scaled blit: each destination pixel takes its source pixel by the closed form of the walk.
void RenderScaled(MEMIMG* dst, const MEMIMG* src, const int32_t corners[4], int transparent, const MEMIMG* mask,
                  const Settings& s);

// The draw that the two triangles of the identity quad at (qx, qy) must make: each texel of
// the source onto the pixel at its own offset, through the triangle kernel's pixel stage.
void TriangleQuad(MEMIMG* dst, const MEMIMG* src, const MEMIMG* mask, int qx, int qy, int transparent,
                  const Settings& s);

// The rectangle fill, with the packed add and subtract computed channel by channel.
void Fill(MEMIMG* dst, const PixelRect* rect, uint32_t color, const Settings& s, bool isDrawTarget);

// The packed saturating add and subtract by their channel descriptions (32-bit when wide,
// RGB565 otherwise).
uint32_t PackedAddByChannels(uint32_t d, uint32_t s, bool wide);
uint32_t PackedSubByChannels(uint32_t d, uint32_t s, bool wide);

// One destination pixel d blended with one source value s (a 32-bit word, or RGB565 in the
// low 16 bits) by the shared pixel stage, weighted by the mask weight m and the alpha a where
// they take part. `triangle` selects the triangle kernel's own roundings: its 16-bit blends by
// the parameter alone always scale by p / 255, its 16-bit add and subtract weighted by the
// alpha alone take the alpha before the bright step, and its 16-bit multiply-blend weighted by
// the alpha alone without bright keeps five more bits of green's product.
struct PixelCase {
    bool wide = true;
    int mode = 0;  // 0 to 4, 10 or 11 (mode 1 at p 255 already made mode 0)
    int p = 255;
    uint32_t bright = 0xFFFFFF;
    bool hasMask = false;
    int m = 0;
    bool hasAlpha = false;
    int a = 255;
    bool triangle = false;
};
uint32_t BlendPixel(const PixelCase& c, uint32_t d, uint32_t s);

}  // namespace ref
