// The unscaled blit: one memory image drawn onto another under the blend settings.
//
// Every combination of pixel layout, palette, mode and option gets its own loop through the
// templates below, so the inner loops test nothing but the pixel.
#include "quarn/softrender/softrender.h"

#include <cstring>

#include "quarn/core/core.h"
#include "quarn/softrender/blend_ops.h"
#include "quarn/softrender/blit_pixel.h"
#include "quarn/softrender/simd_rows.h"


namespace {

struct Blit : PixelInputs {
    uint8_t* dst;
    ptrdiff_t dstPitch;
    const uint8_t* src;
    ptrdiff_t srcPitch;
    const uint8_t* mask;    // one byte a pixel, or null
    ptrdiff_t maskPitch;
    int width;
    int height;
    const uint8_t* runs;
};

// The general path.
template <class Fmt, class Src, class Op, bool Mask, bool Trans>
void GeneralLoop(const Blit& b)
{
    for (int y = 0; y < b.height; ++y) {
        const uint8_t* sp = b.src + b.srcPitch * y;
        uint8_t* dp = b.dst + b.dstPitch * y;
        const uint8_t* mp = Mask ? b.mask + b.maskPitch * y : nullptr;
        for (int x = 0; x < b.width; ++x, sp += Src::kBpp, dp += Fmt::kBpp) {
            DrawSourcePixel<Fmt, Src, Op, Mask, Trans, Op::kCopyIgnoresAlpha>(
                dp, sp, Mask ? mp[x] : 0, b);
        }
    }
}

// The run-length path: the whole source view, keyed, replaying its run table.
template <class Fmt, class Src, class Op, bool Mask>
void RunLoop(const Blit& b)
{
    const uint8_t* run = b.runs;
    for (int y = 0; y < b.height; ++y) {
        const uint8_t* sl = b.src + b.srcPitch * y;
        uint8_t* dl = b.dst + b.dstPitch * y;
        const uint8_t* ml = Mask ? b.mask + b.maskPitch * y : nullptr;
        int x = 0;
        for (;;) {
            const uint8_t code = *run++;
            if (code == kRunEndOfLine) break;
            int n = (code & 0x3F) + 1;
            if (n > b.width - x) n = b.width - x;
            const int op = code >> 6;
            if (op != 0) {
                for (int i = x; i < x + n; ++i) {
                    const uint8_t* sp = sl + ptrdiff_t{i} * Src::kBpp;
                    uint8_t* dp = dl + ptrdiff_t{i} * Fmt::kBpp;
                    uint32_t m = 0;
                    if constexpr (Mask) m = BlendMaskAlphaTable[ml[i]];
                    const uint32_t s = Src::Load(sp, b);
                    if (Src::kAlpha && op == 2)
                        DrawWeighted<Fmt, Op, Mask>(dp, s, m, Src::AlphaOf(sp), b.ctx);
                    else
                        DrawOpaque<Fmt, Op, Mask>(dp, s, m, b.ctx);
                }
            }
            x += n;
        }
    }
}

// Plain copy of whole lines.
void CopyLines(const Blit& b, int bytesPerPixel)
{
    const size_t bytes = static_cast<size_t>(b.width) * static_cast<size_t>(bytesPerPixel);
    for (int y = 0; y < b.height; ++y)
        std::memmove(b.dst + b.dstPitch * y, b.src + b.srcPitch * y, bytes);
}

// 16-bit add and subtract at p 255: two pixels a word.
template <class Src, bool Add, bool Trans>
void PairLoop16(const Blit& b)
{
    auto single = [](uint32_t d, uint32_t s) {
        return Add ? PackedAdd16NoLowBits(d, s) : PackedSub16(d, s);
    };
    for (int y = 0; y < b.height; ++y) {
        const uint8_t* sp = b.src + b.srcPitch * y;
        uint8_t* dp = b.dst + b.dstPitch * y;
        int x = 0;
        for (; x + 2 <= b.width; x += 2, sp += 2 * Src::kBpp, dp += 4) {
            const uint32_t s0 = Src::Load(sp, b);
            const uint32_t s1 = Src::Load(sp + Src::kBpp, b);
            if constexpr (Trans) {
                const bool k0 = Src::IsKey(sp, b);
                const bool k1 = Src::IsKey(sp + Src::kBpp, b);
                if (k0 && k1) continue;
                if (k0) {
                    StorePixel16(dp + 2, single(LoadPixel16(dp + 2), s1));
                    continue;
                }
                if (k1) {
                    StorePixel16(dp, single(LoadPixel16(dp), s0));
                    continue;
                }
            }
            const uint32_t d = LoadPixel16(dp) | (LoadPixel16(dp + 2) << 16);
            const uint32_t s = s0 | (s1 << 16);
            const uint32_t r = Add ? PackedAdd16Pair(d, s) : PackedSub16Pair(d, s);
            StorePixel16(dp, r & 0xFFFF);
            StorePixel16(dp + 2, r >> 16);
        }
        if (x < b.width) {
            if (!Trans || !Src::IsKey(sp, b))
                StorePixel16(dp, single(LoadPixel16(dp), Src::Load(sp, b)));
        }
    }
}

// 32-bit forms with MMX: saturating add or subtract of all four bytes at p 255 (four pixels a
// step, two with the transparent test), and the halving average at p 128 (two a step).
enum class MmxOp { kAdd, kSub, kHalve };

#if QUARN_HAVE_MMX
template <MmxOp O>
QUARN_MMX_FN inline __m64 MmxCombine(__m64 d, __m64 s)
{
    if constexpr (O == MmxOp::kAdd) return _mm_adds_pu8(d, s);
    if constexpr (O == MmxOp::kSub) return _mm_subs_pu8(d, s);
    const __m64 half = _mm_set_pi32(0x007F7F7F, 0x007F7F7F);
    return _mm_add_pi8(_mm_and_si64(_mm_srli_pi32(s, 1), half), _mm_and_si64(_mm_srli_pi32(d, 1), half));
}

template <MmxOp O>
inline uint32_t ScalarCombine(uint32_t d, uint32_t s)
{
    if constexpr (O == MmxOp::kAdd) return SaturateAddBytes(d, s);
    if constexpr (O == MmxOp::kSub) return SaturateSubBytes(d, s);
    return HalveAverage32(d, s);
}

template <class Src, MmxOp O, bool Trans>
QUARN_MMX_FN void MmxLoop32(const Blit& b)
{
    for (int y = 0; y < b.height; ++y) {
        const uint8_t* sp = b.src + b.srcPitch * y;
        uint8_t* dp = b.dst + b.dstPitch * y;
        int x = 0;
        if constexpr (!Trans && O != MmxOp::kHalve) {
            for (; x + 4 <= b.width; x += 4, sp += 4 * Src::kBpp, dp += 16) {
                __m64 d0, d1;
                std::memcpy(&d0, dp, 8);
                std::memcpy(&d1, dp + 8, 8);
                const __m64 s0 = _mm_set_pi32(static_cast<int>(Src::Load(sp + Src::kBpp, b)),
                                              static_cast<int>(Src::Load(sp, b)));
                const __m64 s1 =
                    _mm_set_pi32(static_cast<int>(Src::Load(sp + 3 * Src::kBpp, b)),
                                 static_cast<int>(Src::Load(sp + 2 * Src::kBpp, b)));
                d0 = MmxCombine<O>(d0, s0);
                d1 = MmxCombine<O>(d1, s1);
                std::memcpy(dp, &d0, 8);
                std::memcpy(dp + 8, &d1, 8);
            }
        }
        for (; x + 2 <= b.width; x += 2, sp += 2 * Src::kBpp, dp += 8) {
            bool k0 = false, k1 = false;
            if constexpr (Trans) {
                k0 = Src::IsKey(sp, b);
                k1 = Src::IsKey(sp + Src::kBpp, b);
                if (k0 && k1) continue;
            }
            __m64 d;
            std::memcpy(&d, dp, 8);
            const __m64 s = _mm_set_pi32(static_cast<int>(Src::Load(sp + Src::kBpp, b)),
                                         static_cast<int>(Src::Load(sp, b)));
            d = MmxCombine<O>(d, s);
            uint8_t out[8];
            std::memcpy(out, &d, 8);
            if (!k0) std::memcpy(dp, out, 4);
            if (!k1) std::memcpy(dp + 4, out + 4, 4);
        }
        if (x < b.width) {
            if (!Trans || !Src::IsKey(sp, b))
                StorePixel32(dp, ScalarCombine<O>(LoadPixel32(dp), Src::Load(sp, b)));
        }
    }
    _mm_empty();
}
#endif

// ---- Dispatch ----

template <class Fmt, class Src, class Op>
void RunOp(const Blit& b, bool mask, bool trans, bool rle)
{
    if (rle) {
        if (mask) RunLoop<Fmt, Src, Op, true>(b);
        else RunLoop<Fmt, Src, Op, false>(b);
        return;
    }
    if (mask) {
        if (trans) GeneralLoop<Fmt, Src, Op, true, true>(b);
        else GeneralLoop<Fmt, Src, Op, true, false>(b);
    } else {
        if (trans) GeneralLoop<Fmt, Src, Op, false, true>(b);
        else GeneralLoop<Fmt, Src, Op, false, false>(b);
    }
}

template <class Fmt, class Src, template <class, bool> class Op>
void RunMode(const Blit& b, bool mask, bool bright, bool trans, bool rle)
{
    if (bright) RunOp<Fmt, Src, Op<Fmt, true>>(b, mask, trans, rle);
    else RunOp<Fmt, Src, Op<Fmt, false>>(b, mask, trans, rle);
}

// The forms that exist only without mask, bright or alpha on the general path.
// Returns true when one of them drew.
template <class Fmt, class Src>
bool RunSpecialForm(const Blit& b, BlendMode mode, bool trans, bool mmx)
{
    const uint32_t p = b.ctx.p;
    if (mode == kBlendModeNone && !trans && Src::kBpp == Fmt::kBpp) {
        CopyLines(b, Fmt::kBpp);
        return true;
    }
    if (mode == kBlendModeAlpha && p == 128) {
#if QUARN_HAVE_MMX
        if constexpr (Fmt::kBpp == 4) {
            if (mmx) {
                if (trans) MmxLoop32<Src, MmxOp::kHalve, true>(b);
                else MmxLoop32<Src, MmxOp::kHalve, false>(b);
                return true;
            }
        }
#endif
        if (trans) GeneralLoop<Fmt, Src, OpHalve<Fmt>, false, true>(b);
        else GeneralLoop<Fmt, Src, OpHalve<Fmt>, false, false>(b);
        return true;
    }
    if ((mode == kBlendModeAdd || mode == kBlendModeSubtract) && p == 255) {
        const bool add = mode == kBlendModeAdd;
        if constexpr (Fmt::kBpp == 2) {
            if (add) {
                if (trans) PairLoop16<Src, true, true>(b);
                else PairLoop16<Src, true, false>(b);
            } else {
                if (trans) PairLoop16<Src, false, true>(b);
                else PairLoop16<Src, false, false>(b);
            }
            return true;
        } else {
#if QUARN_HAVE_MMX
            if (mmx) {
                if (add) {
                    if (trans) MmxLoop32<Src, MmxOp::kAdd, true>(b);
                    else MmxLoop32<Src, MmxOp::kAdd, false>(b);
                } else {
                    if (trans) MmxLoop32<Src, MmxOp::kSub, true>(b);
                    else MmxLoop32<Src, MmxOp::kSub, false>(b);
                }
                return true;
            }
#endif
            if (add) {
                if (trans) GeneralLoop<Fmt, Src, OpAddFull32, false, true>(b);
                else GeneralLoop<Fmt, Src, OpAddFull32, false, false>(b);
            } else {
                if (trans) GeneralLoop<Fmt, Src, OpSubFull32, false, true>(b);
                else GeneralLoop<Fmt, Src, OpSubFull32, false, false>(b);
            }
            return true;
        }
    }
    return false;
}

template <class Fmt, class Src>
void RunBranch(const Blit& b, BlendMode mode, bool mask, bool bright, bool trans, bool rle, bool mmx)
{
    if constexpr (!Src::kAlpha) {
        if (!mask && !bright && !rle && RunSpecialForm<Fmt, Src>(b, mode, trans, mmx)) return;
    }
    WithModeForm(mode, [&]<template <class, bool> class Op>() {
        RunMode<Fmt, Src, Op>(b, mask, bright, trans, rle);
    });
}

template <class Fmt>
void RunKind(const Blit& b, const MemImgBase* s, BlendMode mode, bool mask, bool bright, bool trans,
             bool rle, bool mmx)
{
    if (s->paletted) RunBranch<Fmt, SrcPaletted<Fmt>>(b, mode, mask, bright, trans, rle, mmx);
    else if (s->alpha) RunBranch<Fmt, SrcAlpha<Fmt>>(b, mode, mask, bright, trans, rle, mmx);
    else RunBranch<Fmt, SrcPlain<Fmt>>(b, mode, mask, bright, trans, rle, mmx);
}

}  // namespace

int GetSoftRenderMmx() { return QUARN_HAVE_MMX && IsMmxUsable() ? 1 : 0; }

void RenderMemImg(const SoftBlendState& settings, MEMIMG* dst, const MEMIMG* src, int x, int y,
                  int transparent, const MEMIMG* mask)
{
    if (!TestMemImgValid(dst) || !TestMemImgValid(src)) return;
    const MemImgBase* ss = src->store;
    MemImgBase* ds = dst->store;
    if (ss->kind != ds->kind || ds->paletted || ds->alpha) return;

    PixelRect r{x, y, static_cast<int32_t>(int64_t{x} + src->width),
                static_cast<int32_t>(int64_t{y} + src->height)};
    // The clip never reaches outside the destination view.
    PixelRect bound = settings.clip;
    ClipRectToBound(&bound, PixelRect{0, 0, dst->width, dst->height});
    ClipRectToBound(&r, bound);
    if (r.right <= r.left || r.bottom <= r.top) return;
    const int col = r.left - x;
    const int line = r.top - y;

    if (ss->kind != kMemImgRgb565 && ss->kind != kMemImgXrgb32) return;

    const BlendSetup blend = ReadBlendSetup(settings);
    if (blend.mode == kBlendModeNothing) return;

    // The mask is read one byte a pixel at the source pixel's own position; a mask smaller
    // than the source would be read outside its lines.
    if (mask != nullptr) {
        if (!TestMemImgValid(mask)) return;
        if (mask->width < src->width || mask->height < src->height) return;
    }

    const int srcBpp = MemImgBytesPerPixel(ss->kind, ss->paletted, ss->alpha);
    const int dstBpp = MemImgBytesPerPixel(ds->kind, 0, 0);
    Blit b{};
    b.width = r.right - r.left;
    b.height = r.bottom - r.top;
    b.srcPitch = ss->pitch;
    b.dstPitch = ds->pitch;
    b.src = src->pixels + b.srcPitch * line + ptrdiff_t{srcBpp} * col;
    b.dst = dst->pixels + b.dstPitch * r.top + ptrdiff_t{dstBpp} * r.left;
    if (mask != nullptr) {
        b.maskPitch = mask->store->pitch;
        b.mask = mask->pixels + b.maskPitch * line + col;
    }
    SetSourceInputs(&b, ss, blend.ctx);

    const bool trans = transparent != 0;
    // The runs describe exactly the view they were built from, and only while the pixels
    // have not changed since.
    const bool whole = b.width == src->width && b.height == src->height;
    const bool rle = trans && ss->runsValid && whole && ss->runTable != nullptr &&
                     ss->runsViewPixels == src->pixels && ss->runsViewWidth == src->width &&
                     ss->runsViewHeight == src->height;
    b.runs = ss->runTable;
    b.ctx.signedStep16 = rle || ss->alpha;

    // The table's row forms, for the commonest 32-bit draws. A draw of a store onto itself
    // stays on the pixel-by-pixel paths, which read each source pixel after the writes
    // before it.
    if (ss->kind == kMemImgXrgb32 && !ss->paletted && mask == nullptr && !blend.bright && !rle &&
        ss != ds) {
        if (const RowFn row = FindRowForm(kRowUnscaled, ss->alpha != 0, blend.mode, b.ctx.p,
                                          trans, GetSoftRenderSse2() != 0)) {
            const RowArgs args{b.key, b.ctx.p};
            for (int row_y = 0; row_y < b.height; ++row_y)
                row(b.dst + b.dstPitch * row_y, b.src + b.srcPitch * row_y, b.width, args);
            MarkMemImgPixelsChanged(ds);
            return;
        }
    }

    if (ss->kind == kMemImgXrgb32)
        RunKind<Fmt32>(b, ss, blend.mode, mask != nullptr, blend.bright, trans, rle, GetSoftRenderMmx() != 0);
    else
        RunKind<Fmt16>(b, ss, blend.mode, mask != nullptr, blend.bright, trans, rle, GetSoftRenderMmx() != 0);

    MarkMemImgPixelsChanged(ds);
}

