// The software kernels under the current draw settings.
#include "quarn/graphics/draw_settings.h"

SoftBlendState CurrentSoftBlendState()
{
    const DrawSettings& s = g_drawSettings;
    return SoftBlendState{s.blendMode, s.blendParam, s.brightColor, s.clip, s.softDrawTarget};
}

void RenderMemImg(MEMIMG* dst, const MEMIMG* src, int x, int y, int transparent, const MEMIMG* mask)
{
    RenderMemImg(CurrentSoftBlendState(), dst, src, x, y, transparent, mask);
}

void RenderMemImgFillRect(MEMIMG* dst, const PixelRect* rect, uint32_t color)
{
    RenderMemImgFillRect(CurrentSoftBlendState(), dst, rect, color);
}

void RenderMemImgScaled(MEMIMG* dst, const MEMIMG* src, const int32_t corners[4], int transparent, const MEMIMG* mask)
{
    RenderMemImgScaled(CurrentSoftBlendState(), dst, src, corners, transparent, mask);
}

void RenderMemImgTriangle(MEMIMG* dst, const MEMIMG* src, const MemImgVertex* vertices, int transparent,
                          const MEMIMG* mask, uint32_t flatColor)
{
    RenderMemImgTriangle(CurrentSoftBlendState(), dst, src, vertices, transparent, mask, flatColor);
}
