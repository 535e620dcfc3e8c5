// The per-pixel stage shared by the blit kernels: source readers, the transparency and alpha
// tests, and the hand-over to the blend forms. Internal to the software renderer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarn/softrender/blend_ops.h"

#if defined(__i386__) || defined(__x86_64__)
#include <mmintrin.h>
#define QUARN_HAVE_MMX 1
#define QUARN_MMX_FN __attribute__((target("mmx")))
#else
#define QUARN_HAVE_MMX 0
#endif

// What every source read needs besides the pixel.
struct PixelInputs {
    uint32_t key;  // transparent colour, or index when paletted
    const uint8_t* palette;
    BlendCtx ctx;
};

// The source store's palette and its transparent colour in the form its pixels compare
// against: the index, the RGB565 word, or the whole 32-bit value.
inline void SetSourceInputs(PixelInputs* in, const MemImgBase* src, const BlendCtx& ctx)
{
    in->palette = src->palette;
    if (src->paletted) in->key = src->transparentColor & 0xFF;
    else if (src->kind == kMemImgRgb565) in->key = src->transparentColor & 0xFFFF;
    else in->key = src->transparentColor;
    in->ctx = ctx;
}

// ---- Source pixel readers ----

template <class Fmt>
struct SrcPlain {
    static constexpr int kBpp = Fmt::kBpp;
    static constexpr bool kAlpha = false;
    static uint32_t Load(const uint8_t* p, const PixelInputs&) { return Fmt::Load(p); }
    static bool IsKey(const uint8_t* p, const PixelInputs& b) { return Fmt::Load(p) == b.key; }
    static uint32_t AlphaOf(const uint8_t*) { return 255; }
};

// Pixels with an alpha byte: 32-bit byte 3; RGB565 with alpha is 4 bytes, alpha in byte 2.
template <class Fmt>
struct SrcAlpha {
    static constexpr int kBpp = 4;
    static constexpr bool kAlpha = true;
    static uint32_t Load(const uint8_t* p, const PixelInputs&) { return Fmt::Load(p); }
    static bool IsKey(const uint8_t*, const PixelInputs&) { return false; }
    static uint32_t AlphaOf(const uint8_t* p) { return Fmt::kBpp == 4 ? p[3] : p[2]; }
};

template <class Fmt>
struct SrcPaletted {
    static constexpr int kBpp = 1;
    static constexpr bool kAlpha = false;
    static uint32_t Load(const uint8_t* p, const PixelInputs& b)
    {
        return Fmt::Load(b.palette + ptrdiff_t{p[0]} * Fmt::kBpp);
    }
    static bool IsKey(const uint8_t* p, const PixelInputs& b) { return p[0] == b.key; }
    static uint32_t AlphaOf(const uint8_t*) { return 255; }
};

// One pixel under the option set: opaque (no alpha weighting) or weighted by its alpha.
template <class Fmt, class Op, bool Mask>
inline void DrawOpaque(uint8_t* dp, uint32_t s, uint32_t m, const BlendCtx& c)
{
    const uint32_t d = Fmt::Load(dp);
    if constexpr (Mask) Fmt::Store(dp, Op::Masked(d, s, m, c));
    else Fmt::Store(dp, Op::Plain(d, s, c));
}
template <class Fmt, class Op, bool Mask>
inline void DrawWeighted(uint8_t* dp, uint32_t s, uint32_t m, uint32_t a, const BlendCtx& c)
{
    const uint32_t d = Fmt::Load(dp);
    if constexpr (Mask) Fmt::Store(dp, Op::MaskAlpha(d, s, m, a, c));
    else Fmt::Store(dp, Op::Alpha(d, s, a, c));
}

// One source pixel onto one destination pixel: the transparency or alpha test, then the form.
// AlphaCopy: with alpha, no transparency, no mask, the source is copied as it stands.
template <class Fmt, class Src, class Op, bool Mask, bool Trans, bool AlphaCopy>
inline void DrawSourcePixel(uint8_t* dp, const uint8_t* sp, uint8_t maskByte, const PixelInputs& b)
{
    uint32_t m = 0;
    if constexpr (Mask) m = BlendMaskAlphaTable[maskByte];
    const uint32_t s = Src::Load(sp, b);
    if constexpr (Src::kAlpha) {
        const uint32_t a = Src::AlphaOf(sp);
        if constexpr (Trans) {
            if (a == 0) return;
            if (a == 255) {
                DrawOpaque<Fmt, Op, Mask>(dp, s, m, b.ctx);
                return;
            }
        } else if constexpr (!Mask && AlphaCopy) {
            Fmt::Store(dp, s);
            return;
        }
        DrawWeighted<Fmt, Op, Mask>(dp, s, m, a, b.ctx);
    } else {
        if constexpr (Trans) {
            if (Src::IsKey(sp, b)) return;
        }
        DrawOpaque<Fmt, Op, Mask>(dp, s, m, b.ctx);
    }
}

// ---- The forms a draw's pixels go through ----

template <class Src, class Op, class Run>
inline void WithPixelOptions(bool mask, bool trans, Run& run)
{
    if (mask) {
        if (trans) run.template operator()<Src, Op, true, true>();
        else run.template operator()<Src, Op, true, false>();
    } else {
        if (trans) run.template operator()<Src, Op, false, true>();
        else run.template operator()<Src, Op, false, false>();
    }
}

template <class Fmt, class Src, class Forms, class Run>
inline void WithSourcePixelForm(BlendMode mode, bool mask, bool bright, bool trans, Run& run)
{
    WithModeForm<Forms>(mode, [&]<template <class, bool> class Form>() {
        if (bright) WithPixelOptions<Src, Form<Fmt, true>>(mask, trans, run);
        else WithPixelOptions<Src, Form<Fmt, false>>(mask, trans, run);
    });
}

// Calls run.template operator()<Src, Op, Mask, Trans>() with the reader of the source store's
// pixels, the mode's form (from Forms, with or without the bright step) and the mask and
// transparency options: chosen once per draw, so that the loop run starts tests nothing but
// the pixel. A mode WithModeForm does not draw calls nothing.
template <class Fmt, class Forms = ModeForms, class Run>
inline void WithPixelForm(const MemImgBase* src, BlendMode mode, bool mask, bool bright, bool trans, Run&& run)
{
    if (src->paletted) WithSourcePixelForm<Fmt, SrcPaletted<Fmt>, Forms>(mode, mask, bright, trans, run);
    else if (src->alpha) WithSourcePixelForm<Fmt, SrcAlpha<Fmt>, Forms>(mode, mask, bright, trans, run);
    else WithSourcePixelForm<Fmt, SrcPlain<Fmt>, Forms>(mode, mask, bright, trans, run);
}
