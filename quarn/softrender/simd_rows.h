// Whole-row forms of the commonest 32-bit draws, with SSE2 bodies chosen at run time: each
// takes one destination row and one row of source pixels (4 bytes each) and writes exactly
// what the per-pixel forms of the general path write. Internal to the software renderer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "quarn/softrender/blend_ops.h"
#include "quarn/softrender/blit_pixel.h"

#include "quarn/core/core.h"

#if QUARN_HAVE_SSE2
#include <emmintrin.h>
#endif

// The row forms. Keyed forms leave a pixel equal to the key alone.
enum class RowOp {
    kCopyKeyed,  // mode 0, keyed: s
    kHalve,      // mode 1 at p 128: the halving average
    kHalveKeyed,
    kAddSat,  // modes 2 and 3 at p 255 in their MMX rounding: every byte saturates
    kAddSatKeyed,
    kSubSat,
    kSubSatKeyed,
    kBlend,  // mode 1, 32-bit: Lerp8Packed32 by p
    kBlendKeyed,
    kSourceAlpha,  // mode 0, source alpha, transparency on: 0 skips, 255 copies, else Lerp8
};

// One destination row and n source pixels in the source's own layout; the inputs give the
// transparent colour (keyed forms), the palette and the blend parameter.
using RowFn = void (*)(uint8_t* d, const uint8_t* s, int n, const PixelInputs& a);

// One pixel of the row form, the general path's own arithmetic.
template <RowOp O>
inline void RowPixel(uint8_t* dp, const uint8_t* sp, const PixelInputs& a)
{
    const uint32_t s = LoadPixel32(sp);
    constexpr bool keyed = O == RowOp::kCopyKeyed || O == RowOp::kHalveKeyed || O == RowOp::kAddSatKeyed ||
                           O == RowOp::kSubSatKeyed || O == RowOp::kBlendKeyed;
    if constexpr (keyed) {
        if (s == a.key) return;
    }
    if constexpr (O == RowOp::kCopyKeyed) {
        StorePixel32(dp, s);
    } else if constexpr (O == RowOp::kHalve || O == RowOp::kHalveKeyed) {
        StorePixel32(dp, HalveAverage32(LoadPixel32(dp), s));
    } else if constexpr (O == RowOp::kAddSat || O == RowOp::kAddSatKeyed) {
        StorePixel32(dp, SaturateAddBytes(LoadPixel32(dp), s));
    } else if constexpr (O == RowOp::kSubSat || O == RowOp::kSubSatKeyed) {
        StorePixel32(dp, SaturateSubBytes(LoadPixel32(dp), s));
    } else if constexpr (O == RowOp::kBlend || O == RowOp::kBlendKeyed) {
        StorePixel32(dp, Lerp8Packed32(LoadPixel32(dp), s, a.ctx.p));
    } else {
        const uint32_t alpha = s >> 24;
        if (alpha == 0) return;
        StorePixel32(dp, alpha == 255 ? s : Lerp8Packed32(LoadPixel32(dp), s, alpha));
    }
}

template <RowOp O>
void PlainRow(uint8_t* d, const uint8_t* s, int n, const PixelInputs& a)
{
    for (int i = 0; i < n; ++i) RowPixel<O>(d + 4 * i, s + 4 * i, a);
}

#if QUARN_HAVE_SSE2

// Lerp8 of the bytes of four pixels, by per-lane weights: blue and red are the low bytes
// of the 16-bit lanes, weighed by wrb; green and the fourth byte their high bytes, weighed
// by wg (a fourth byte weighing 0 stays d's). Each byte is (d * 256 + (s - d) * w) >> 8,
// that is d plus (s - d) * w shifted down 8 with the sign, whose sum lies in 0..255: so it
// is enough to add the shifted product's low byte to d's byte with the carry dropped, and
// that byte is bits 8..15 of the 16-bit product even where the product itself wraps. sh
// is s shifted down 8 in each 16-bit lane, which the caller may have at hand.
QUARN_SSE2_FN inline __m128i Sse2LerpHalves(__m128i d, __m128i s, __m128i sh, __m128i wrb, __m128i wg)
{
    const __m128i low = _mm_set1_epi32(0x00FF00FF);
    const __m128i rb = _mm_mullo_epi16(_mm_sub_epi16(_mm_and_si128(s, low), _mm_and_si128(d, low)), wrb);
    const __m128i g = _mm_mullo_epi16(_mm_sub_epi16(sh, _mm_srli_epi16(d, 8)), wg);
    const __m128i delta =
        _mm_or_si128(_mm_srli_epi16(rb, 8), _mm_and_si128(g, _mm_set1_epi32(static_cast<int>(0xFF00FF00u))));
    return _mm_add_epi8(d, delta);
}

QUARN_SSE2_FN inline __m128i Sse2Lerp(__m128i d, __m128i s, __m128i wrb, __m128i wg)
{
    return Sse2LerpHalves(d, s, _mm_srli_epi16(s, 8), wrb, wg);
}

// The source-alpha draw of four pixels: the weight is the alpha, or 256 at 255, which gives
// the source's own bytes, the fourth byte included; otherwise the fourth byte stays d's.
// The alpha is the upper 16-bit half of each pixel shifted down 8, copied into both halves;
// that shift is the one the green lanes take anyway.
QUARN_SSE2_FN inline __m128i Sse2SourceAlpha(__m128i d, __m128i s)
{
    const __m128i sh = _mm_srli_epi16(s, 8);
    const __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(sh, 0xF5), 0xF5);
    const __m128i weight = _mm_sub_epi16(alpha, _mm_cmpeq_epi16(alpha, _mm_set1_epi16(255)));
    return Sse2LerpHalves(d, s, sh, weight, _mm_and_si128(weight, _mm_set1_epi32(0x0100FFFF)));
}

// Where mask lanes are set, d; elsewhere r.
QUARN_SSE2_FN inline __m128i Sse2Keep(__m128i mask, __m128i d, __m128i r)
{
    return _mm_or_si128(_mm_and_si128(mask, d), _mm_andnot_si128(mask, r));
}

template <RowOp O>
QUARN_SSE2_ENTRY void Sse2Row(uint8_t* d, const uint8_t* s, int n, const PixelInputs& a)
{
    constexpr bool keyed = O == RowOp::kCopyKeyed || O == RowOp::kHalveKeyed || O == RowOp::kAddSatKeyed ||
                           O == RowOp::kSubSatKeyed || O == RowOp::kBlendKeyed;
    const __m128i key = _mm_set1_epi32(static_cast<int>(a.key));
    const __m128i half = _mm_set1_epi32(0x007F7F7F);
    const __m128i w = _mm_set1_epi16(static_cast<short>(a.ctx.p));
    const __m128i wg = _mm_set1_epi32(static_cast<int>(a.ctx.p));  // the fourth byte stays d's
    int i = 0;
    if constexpr (O == RowOp::kSourceAlpha) {
        // Sixteen pixels a step: skipped when all are clear, copied when all are opaque. The
        // blend gives those same bytes, so the test only saves work, and where it keeps
        // failing (alphas that vary from pixel to pixel) it is taken less and less often:
        // after a failure the next `wait` steps go straight to the blend, the wait doubling
        // with each further failure up to kMaxWait and starting over at a success.
        constexpr int kMaxWait = 8;
        const __m128i top = _mm_set1_epi32(static_cast<int>(0xFF000000u));
        int wait = 0, backoff = 0;
        for (; i + 16 <= n; i += 16) {
            const __m128i* sp = reinterpret_cast<const __m128i*>(s + 4 * i);
            __m128i* dp = reinterpret_cast<__m128i*>(d + 4 * i);
            const __m128i s0 = _mm_loadu_si128(sp), s1 = _mm_loadu_si128(sp + 1);
            const __m128i s2 = _mm_loadu_si128(sp + 2), s3 = _mm_loadu_si128(sp + 3);
            if (wait > 0) {
                --wait;
            } else {
                const __m128i any = _mm_and_si128(_mm_or_si128(_mm_or_si128(s0, s1), _mm_or_si128(s2, s3)), top);
                const __m128i every = _mm_and_si128(_mm_and_si128(s0, s1), _mm_and_si128(s2, s3));
                const int clear = _mm_movemask_epi8(_mm_cmpeq_epi32(any, _mm_setzero_si128()));
                const int opaque = _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(every, top), top));
                if (((clear + 1) | (opaque + 1)) & 0x10000) {
                    backoff = 0;
                    if (clear == 0xFFFF) continue;
                    _mm_storeu_si128(dp, s0);
                    _mm_storeu_si128(dp + 1, s1);
                    _mm_storeu_si128(dp + 2, s2);
                    _mm_storeu_si128(dp + 3, s3);
                    continue;
                }
                backoff = backoff == 0 ? 1 : backoff < kMaxWait ? 2 * backoff : kMaxWait;
                wait = backoff;
            }
            _mm_storeu_si128(dp, Sse2SourceAlpha(_mm_loadu_si128(dp), s0));
            _mm_storeu_si128(dp + 1, Sse2SourceAlpha(_mm_loadu_si128(dp + 1), s1));
            _mm_storeu_si128(dp + 2, Sse2SourceAlpha(_mm_loadu_si128(dp + 2), s2));
            _mm_storeu_si128(dp + 3, Sse2SourceAlpha(_mm_loadu_si128(dp + 3), s3));
        }
    }
    for (; i + 4 <= n; i += 4) {
        const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * i));
        __m128i* dp = reinterpret_cast<__m128i*>(d + 4 * i);
        __m128i r;
        if constexpr (O == RowOp::kSourceAlpha) {
            _mm_storeu_si128(dp, Sse2SourceAlpha(_mm_loadu_si128(dp), sv));
            continue;
        } else {
            const __m128i dv = _mm_loadu_si128(dp);
            if constexpr (O == RowOp::kCopyKeyed) {
                r = sv;
            } else if constexpr (O == RowOp::kHalve || O == RowOp::kHalveKeyed) {
                r = _mm_add_epi32(_mm_and_si128(_mm_srli_epi32(sv, 1), half),
                                  _mm_and_si128(_mm_srli_epi32(dv, 1), half));
            } else if constexpr (O == RowOp::kAddSat || O == RowOp::kAddSatKeyed) {
                r = _mm_adds_epu8(dv, sv);
            } else if constexpr (O == RowOp::kSubSat || O == RowOp::kSubSatKeyed) {
                r = _mm_subs_epu8(dv, sv);
            } else {
                r = Sse2Lerp(dv, sv, w, wg);
            }
            if constexpr (keyed) r = Sse2Keep(_mm_cmpeq_epi32(sv, key), dv, r);
            _mm_storeu_si128(dp, r);
        }
    }
    for (; i < n; ++i) RowPixel<O>(d + 4 * i, s + 4 * i, a);
}

#endif

// Fills n pixels of bpp bytes (1, 2 or 4) with the value's low bytes, SSE2 when sse2.
void FillRow(uint8_t* d, int n, int bpp, uint32_t value, bool sse2);

// Whether the kernels use their SSE2 forms: the SSE2 decision, taken only with the MMX one,
// since the SSE2 forms give the MMX forms' results where those differ from the plain ones.
int GetSoftRenderSse2();
