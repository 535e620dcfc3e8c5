// The rectangle fill: one colour under the blend settings.
#include <utility>

#include "quarn/softrender/blend_ops.h"
#include "quarn/softrender/simd_rows.h"
#include "quarn/softrender/softrender.h"

namespace {

template <class Fmt, class Op>
void FillLoop(uint8_t* first, ptrdiff_t pitch, int width, int height, uint32_t color, const BlendCtx& ctx)
{
    for (int y = 0; y < height; ++y) {
        uint8_t* dp = first + pitch * y;
        for (int x = 0; x < width; ++x, dp += Fmt::kBpp) Fmt::Store(dp, Op::Plain(Fmt::Load(dp), color, ctx));
    }
}

// Mode none: the shared row fill.
template <class Fmt>
void FillCopy(uint8_t* first, ptrdiff_t pitch, int width, int height, uint32_t color)
{
    const bool sse2 = GetSoftRenderSse2() != 0;
    for (int y = 0; y < height; ++y) FillRow(first + pitch * y, width, Fmt::kBpp, color, sse2);
}

template <class Fmt>
void Fill(uint8_t* first, ptrdiff_t pitch, int width, int height, uint32_t color, BlendMode mode, const BlendCtx& ctx)
{
    // A copy writes whole words; the colour has had its bright step, so the forms see none.
    if (mode == kBlendModeNone) {
        FillCopy<Fmt>(first, pitch, width, height, color);
        return;
    }
    WithModeForm(mode, [&]<template <class, bool> class Op>() {
        FillLoop<Fmt, Op<Fmt, false>>(first, pitch, width, height, color, ctx);
    });
}

bool SameView(const MEMIMG* a, const MEMIMG* b)
{
    return a != nullptr && b != nullptr && a->store == b->store && a->pixels == b->pixels && a->width == b->width &&
           a->height == b->height;
}

}  // namespace

void RenderMemImgFillRect(const SoftBlendState& settings, MEMIMG* dst, const PixelRect* rect, uint32_t color)
{
    if (!TestMemImgValid(dst)) return;
    MemImgBase* store = dst->store;
    if (store->paletted || store->alpha) return;

    PixelRect r{0, 0, dst->width, dst->height};
    if (rect != nullptr) {
        r = *rect;
        if (r.left > r.right) std::swap(r.left, r.right);
        if (r.top > r.bottom) std::swap(r.top, r.bottom);
    }
    // Never outside the image; the draw clip only where the image is what is drawn on.
    ClipRectToBound(&r, PixelRect{0, 0, dst->width, dst->height});
    if (SameView(settings.clipTarget, dst)) ClipRectToBound(&r, settings.clip);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return;
    if (store->kind != kMemImgRgb565 && store->kind != kMemImgXrgb32) return;

    BlendSetup blend = ReadBlendSetup(settings);
    if (blend.mode == kBlendModeNothing) return;

    // Bright scales the colour once, by the bright byte over 256.
    const bool wide = store->kind == kMemImgXrgb32;
    if (blend.bright) {
        const uint32_t bb = blend.ctx.bright[0], bg = blend.ctx.bright[1], br = blend.ctx.bright[2];
        if (wide) {
            color = (color & 0xFF000000) | ((((color >> 16) & 0xFF) * br >> 8) << 16) |
                    ((((color >> 8) & 0xFF) * bg >> 8) << 8) | ((color & 0xFF) * bb >> 8);
        } else {
            color = ((((color >> 11) & 0x1F) * br >> 8) << 11) | ((((color >> 5) & 0x3F) * bg >> 8) << 5) |
                    ((color & 0x1F) * bb >> 8);
        }
    }
    if (!wide) color &= 0xFFFF;

    // The colour is scaled already: the blend forms see no bright.
    blend.ctx.signedStep16 = true;
    const int bpp = wide ? 4 : 2;
    uint8_t* first = dst->pixels + ptrdiff_t{store->pitch} * r.top + ptrdiff_t{bpp} * r.left;
    if (wide) Fill<Fmt32>(first, store->pitch, width, height, color, blend.mode, blend.ctx);
    else Fill<Fmt16>(first, store->pitch, width, height, color, blend.mode, blend.ctx);
    MarkMemImgPixelsChanged(store);
}
