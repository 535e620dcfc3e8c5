// The draw state: the settings every drawing operation draws under.
// Portable: the software kernels read it directly, so it must build without the OS headers.
#pragma once

#include <cstdint>

#include "quarn/image/image.h"

namespace quarn {

struct MEMIMG;

// No draw-bright colour: the low 24 bits of the bright colour word all set.
constexpr uint32_t kNoBrightColor = 0xFFFFFF;

struct DrawSettings {
    int32_t fogMode;             // 0 none, 1 exponential, 2 exponential squared, 3 linear
    uint32_t fogColor;           // 0xFFRRGGBB
    float fogStart;
    float fogEnd;
    int32_t filterMode;          // 0 nearest, 1 bilinear, 2 anisotropic
    int32_t maxAnisotropy = 1;   // at least 1
    int32_t blendMode;           // 0 to 11, stored unchecked
    int32_t blendParam;          // 0 to 255
    int32_t blendGraph = -1;     // graph handle weighting later draws, or -1
    int32_t blendBorderPos;      // 0 to 255
    int32_t blendBorderRange;    // 0 to 255
    int32_t blendGraphOffsetX;
    int32_t blendGraphOffsetY;
    // Blue, green and red bytes of the draw-bright colour in memory order, read together as
    // the word 0x00RRGGBB; kNoBrightColor means no bright.
    uint32_t brightColor = kNoBrightColor;
    int32_t drawingDisabled;
    int32_t emptyClip;

    int32_t drawTarget;          // -2 back screen, -4 front screen, or a graph handle
    int32_t drawTargetWidth;
    int32_t drawTargetHeight;
    PixelRect clip;              // drawing is kept inside it; right and bottom exclusive
    // The image drawing goes to on the software renderer (screen, graph or mask image),
    // or null.
    const MEMIMG* softDrawTarget;
};

// The one draw state of the library (main thread only).
inline DrawSettings g_DrawSettings{};

// The bright colour as 0x00RRGGBB.
inline uint32_t DrawBrightRgb(const DrawSettings& s) { return s.brightColor & 0xFFFFFF; }

}  // namespace quarn
