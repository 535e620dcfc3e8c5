// The triangle kernel: one affinely texture-mapped or flat-coloured triangle drawn into a
// memory image under the blend settings.
//
// The set-up works in fixed point with 18 fraction bits, held in 64-bit integers so that no
// coordinate within the accepted range can overflow. Every combination of branch, mode and
// option gets its own span loop through the templates below; the blend arithmetic is the one
// every kernel shares (blend_ops.h), reached through the blits' pixel stage (blit_pixel.h).
#include "quarn/softrender/softrender.h"

#include <algorithm>
#include <cstdint>

#include "quarn/core/core.h"
#include "quarn/softrender/blend_ops.h"
#include "quarn/softrender/blit_pixel.h"

namespace {

constexpr int kFracBits = 18;
constexpr int64_t kOne = int64_t{1} << kFracBits;
constexpr int64_t kHalf = kOne / 2;

// Texel coordinates are stepped in 32 bits and tested as unsigned numbers against the source
// size in fixed point, which must stay within 2^31.
constexpr int32_t kMaxSourceSide = 1 << (31 - kFracBits);

// Everything the span loops read, fixed for the whole call.
struct Stage {
    PixelInputs in;  // transparent value, palette and blend inputs
    const uint8_t* src;
    ptrdiff_t srcPitch;
    const uint8_t* mask;
    ptrdiff_t maskPitch;
    uint32_t uLimit;  // source width and height in fixed point
    uint32_t vLimit;
    uint32_t ux;  // texel steps per pixel (two's complement, stepped modulo 2^32)
    uint32_t vx;
    uint32_t flat;  // the flat colour after the bright step
};

// ---- Where this kernel's rounding differs from the shared forms ----

// 16-bit add and subtract weighted by the alpha alone take the alpha before the bright step.
template <class Fmt, bool Bright, bool Add>
struct TriAddSub : OpAddSub<Fmt, Bright, Add> {
    using Base = OpAddSub<Fmt, Bright, Add>;
    static uint32_t Alpha(uint32_t d, uint32_t s, uint32_t a, const BlendCtx& c)
    {
        if constexpr (Fmt::kBpp == 2 && Bright) {
            return Base::Apply(d, MapChannels<Fmt>(0, s, [&](int ch, uint32_t, uint32_t sc) {
                                   return ScaleBy(Brighten<Bright>((sc * a) >> 8, ch, c), c.p);
                               }));
        } else {
            return Base::Alpha(d, s, a, c);
        }
    }
};
template <class Fmt, bool Bright>
using TriAdd = TriAddSub<Fmt, Bright, true>;
template <class Fmt, bool Bright>
using TriSub = TriAddSub<Fmt, Bright, false>;

// 16-bit multiply-blend weighted by the alpha alone, without bright: green's product keeps
// five more bits.
template <class Fmt, bool Bright>
struct TriMultiplyBlend : OpMultiplyBlend<Fmt, Bright> {
    using Base = OpMultiplyBlend<Fmt, Bright>;
    static uint32_t Alpha(uint32_t d, uint32_t s, uint32_t a, const BlendCtx& c)
    {
        if constexpr (Fmt::kBpp == 2 && !Bright) {
            const uint32_t w = a * c.p;
            return MapChannels<Fmt>(d, s, [&](int ch, uint32_t dc, uint32_t sc) -> uint32_t {
                if (ch != 1) return Lerp16(dc, (sc * dc) >> Fmt::kWidth[ch], w);
                // (t - 32 d) is never positive and d * 2^21 outweighs it.
                const uint32_t t = (sc * dc) >> 1;
                return (dc * (1u << 21) - (32 * dc - t) * w) >> 21;
            });
        } else {
            return Base::Alpha(d, s, a, c);
        }
    }
};

// ---- Span loops: n pixels from dp rightwards ----

// The texel and the mask byte are read at the texel coordinates; pixels whose coordinates
// leave the source are skipped. An alpha texel is always weighted by its alpha, except that
// the transparent flag skips alpha 0 and draws alpha 255 as opaque.
template <class Fmt, class Src, class Op, bool Mask, bool Trans>
struct TexturedSpan {
    static constexpr bool kTextured = true;
    static void Run(const Stage& st, uint8_t* dp, int n, uint32_t u, uint32_t v)
    {
        for (; n > 0; --n, dp += Fmt::kBpp, u += st.ux, v += st.vx) {
            if (u >= st.uLimit || v >= st.vLimit) continue;
            const ptrdiff_t col = u >> kFracBits;
            const ptrdiff_t row = v >> kFracBits;
            uint8_t maskByte = 0;
            if constexpr (Mask) maskByte = st.mask[row * st.maskPitch + col];
            DrawSourcePixel<Fmt, Src, Op, Mask, Trans, false>(dp, st.src + row * st.srcPitch + col * Src::kBpp,
                                                              maskByte, st.in);
        }
    }
};

// The flat colour has had its bright step already.
template <class Fmt, class Op>
struct FlatSpan {
    static constexpr bool kTextured = false;
    static void Run(const Stage& st, uint8_t* dp, int n, uint32_t, uint32_t)
    {
        for (; n > 0; --n, dp += Fmt::kBpp) Fmt::Store(dp, Op::Plain(Fmt::Load(dp), st.flat, st.in.ctx));
    }
};

// ---- Set-up ----

struct Segment {
    int64_t x;      // fixed-point x at the segment's first row
    int64_t slope;  // per row, fixed point
    int64_t row;    // first row
};

// The triangle in rows and edges: rows [top, middle) use the upper segments, rows
// [middle, bottom) the lower ones.
struct Walk {
    int64_t top, middle, bottom;
    Segment left[2];
    Segment right[2];
    // The texture mapping: u at pixel (c, r) is u0 + (c - c0) * ux + (r - r0) * uy.
    int64_t c0, r0, u0, v0;
    int64_t ux, uy, vx, vy;
    // The clip rectangle inside the destination.
    int64_t clipLeft, clipTop, clipRight, clipBottom;
    uint8_t* dst;
    ptrdiff_t dstPitch;
    int dstBpp;
};

int64_t FloorDiv(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

Segment MakeSegment(int64_t x0, int64_t y0, int64_t x1, int64_t y1)
{
    const int64_t rows = (y1 - y0) >> kFracBits;
    return Segment{x0, rows > 0 ? (x1 - x0) / rows : 0, y0 >> kFracBits};
}

// Narrows the pixels [lo, hi) of a span to those whose coordinate f0 + i * g lies in
// [0, limit); the others are outside the source anyway.
void NarrowToSource(int64_t f0, int64_t g, int64_t limit, int64_t* lo, int64_t* hi)
{
    if (g == 0) {
        if (f0 < 0 || f0 >= limit) *hi = *lo;
        return;
    }
    int64_t first, last;  // inclusive
    if (g > 0) {
        first = -FloorDiv(f0, g);  // ceil(-f0 / g)
        last = FloorDiv(limit - 1 - f0, g);
    } else {
        first = -FloorDiv(limit - 1 - f0, -g);  // ceil((f0 - limit + 1) / -g)
        last = FloorDiv(f0, -g);
    }
    *lo = std::max(*lo, first);
    *hi = std::min(*hi, last + 1);
}

bool FitsInt32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

template <class Span>
void RunRows(const Walk& w, const Stage& st, int64_t rowBegin, int64_t rowEnd, const Segment& l, const Segment& r)
{
    rowBegin = std::max(rowBegin, w.clipTop);
    rowEnd = std::min(rowEnd, w.clipBottom);
    if (rowBegin >= rowEnd) return;
    // Stepping the edges row by row adds the slope exactly: start at the first row directly.
    int64_t xl = l.x + (rowBegin - l.row) * l.slope;
    int64_t xr = r.x + (rowBegin - r.row) * r.slope;
    for (int64_t row = rowBegin; row < rowEnd; ++row, xl += l.slope, xr += r.slope) {
        int64_t first = std::max(xl >> kFracBits, w.clipLeft);
        const int64_t end = std::min(xr >> kFracBits, w.clipRight);
        if (first >= end) continue;
        uint8_t* dp = w.dst + static_cast<ptrdiff_t>(row) * w.dstPitch;
        if constexpr (!Span::kTextured) {
            Span::Run(st, dp + static_cast<ptrdiff_t>(first) * w.dstBpp, static_cast<int>(end - first), 0, 0);
        } else {
            int64_t u = w.u0 + (first - w.c0) * w.ux + (row - w.r0) * w.uy;
            int64_t v = w.v0 + (first - w.c0) * w.vx + (row - w.r0) * w.vy;
            const int64_t n = end - first;
            if (!FitsInt32(u) || !FitsInt32(v) || !FitsInt32(u + (n - 1) * w.ux) || !FitsInt32(v + (n - 1) * w.vx)) {
                // Far outside the source somewhere along the span: keep the part that can
                // reach it, so that 32-bit stepping stays exact.
                int64_t lo = 0, hi = n;
                NarrowToSource(u, w.ux, st.uLimit, &lo, &hi);
                NarrowToSource(v, w.vx, st.vLimit, &lo, &hi);
                if (lo >= hi) continue;
                first += lo;
                u += lo * w.ux;
                v += lo * w.vx;
                Span::Run(st, dp + static_cast<ptrdiff_t>(first) * w.dstBpp, static_cast<int>(hi - lo),
                          static_cast<uint32_t>(u), static_cast<uint32_t>(v));
                continue;
            }
            Span::Run(st, dp + static_cast<ptrdiff_t>(first) * w.dstBpp, static_cast<int>(n), static_cast<uint32_t>(u),
                      static_cast<uint32_t>(v));
        }
    }
}

template <class Span>
void Draw(const Walk& w, const Stage& st)
{
    RunRows<Span>(w, st, w.top, w.middle, w.left[0], w.right[0]);
    RunRows<Span>(w, st, w.middle, w.bottom, w.left[1], w.right[1]);
}

// ---- Dispatch ----

// The textured branches' forms: the shared ones but where this kernel rounds its own way.
struct TriangleForms : ModeForms {
    template <class Fmt, bool Bright>
    using Add = TriAdd<Fmt, Bright>;
    template <class Fmt, bool Bright>
    using Sub = TriSub<Fmt, Bright>;
    template <class Fmt, bool Bright>
    using MultiplyBlend = TriMultiplyBlend<Fmt, Bright>;
};

template <class Fmt>
void DrawSource(const Walk& w, const Stage& st, const MemImgBase* s, BlendMode mode, bool mask, bool bright, bool trans)
{
    WithPixelForm<Fmt, TriangleForms>(s, mode, mask, bright, trans, [&]<class Src, class Op, bool Mask, bool Trans>() {
        Draw<TexturedSpan<Fmt, Src, Op, Mask, Trans>>(w, st);
    });
}

// The flat colour has had its bright step: the forms see none.
template <class Fmt>
void DrawFlat(const Walk& w, const Stage& st, BlendMode mode)
{
    WithModeForm(mode, [&]<template <class, bool> class Op>() { Draw<FlatSpan<Fmt, Op<Fmt, false>>>(w, st); });
}

// The flat colour with each channel scaled by its bright byte (255 keeps it).
template <class Fmt>
uint32_t PrepareFlat(uint32_t color, const BlendCtx& c)
{
    return MapChannels<Fmt>(color, color, [&](int ch, uint32_t, uint32_t sc) { return ScaleBy(sc, c.bright[ch]); });
}

// Gradient numerator over the determinant, in fixed point; false when it does not fit 32 bits.
bool Gradient(int64_t numerator, int64_t det, int64_t* out)
{
    const double g = static_cast<double>(numerator) * static_cast<double>(kOne) / static_cast<double>(det);
    if (!(g > -2147483649.0 && g < 2147483648.0)) return false;
    *out = TruncateDoubleToInt(g);
    return true;
}

bool InRange(int32_t c) { return c >= -kMemImgTriangleCoordLimit && c <= kMemImgTriangleCoordLimit; }

void SortThree(int idx[3], const int64_t key[3])
{
    auto exchange = [&](int i, int j) {
        if (key[idx[i]] > key[idx[j]]) std::swap(idx[i], idx[j]);
    };
    exchange(0, 1);
    exchange(0, 2);
    exchange(1, 2);
}

}  // namespace

void RenderMemImgTriangle(const SoftBlendState& settings, MEMIMG* dst, const MEMIMG* src, const MemImgVertex* vertices,
                          int transparent, const MEMIMG* mask, uint32_t flatColor)
{
    if (dst == nullptr || vertices == nullptr || !TestMemImgValid(dst)) return;
    MemImgBase* ds = dst->store;
    if (src != nullptr && (!TestMemImgValid(src) || src->store->kind != ds->kind)) return;
    if (ds->paletted || ds->alpha) return;
    if (ds->kind != kMemImgRgb565 && ds->kind != kMemImgXrgb32) return;

    BlendSetup blend = ReadBlendSetup(settings);
    if (blend.mode == kBlendModeNothing) return;
    const BlendMode mode = blend.mode;

    const MemImgBase* ss = src != nullptr ? src->store : nullptr;
    if (ss != nullptr) {
        if (src->width <= 0 || src->height <= 0 || src->width > kMaxSourceSide || src->height > kMaxSourceSide) return;
        // The mask is read at the texel's own coordinates: it must cover the source.
        if (mask != nullptr && (!TestMemImgValid(mask) || mask->width < src->width || mask->height < src->height))
            return;
    }

    int64_t x[3], y[3], u[3], v[3];
    for (int i = 0; i < 3; ++i) {
        const MemImgVertex& vx = vertices[i];
        if (!InRange(vx.x) || !InRange(vx.y) || !InRange(vx.u) || !InRange(vx.v)) return;
        x[i] = vx.x * kOne + kHalf;
        y[i] = vx.y * kOne + kHalf;
        u[i] = vx.u * kOne;
        v[i] = vx.v * kOne;
    }

    int a[3] = {0, 1, 2};
    int b[3] = {0, 1, 2};
    SortThree(a, x);
    SortThree(b, y);

    // Area and texture gradients, from the leftmost vertex.
    const int64_t X1 = (x[a[1]] - x[a[0]]) >> kFracBits, Y1 = (y[a[1]] - y[a[0]]) >> kFracBits;
    const int64_t X2 = (x[a[2]] - x[a[0]]) >> kFracBits, Y2 = (y[a[2]] - y[a[0]]) >> kFracBits;
    const int64_t U1 = (u[a[1]] - u[a[0]]) >> kFracBits, V1 = (v[a[1]] - v[a[0]]) >> kFracBits;
    const int64_t U2 = (u[a[2]] - u[a[0]]) >> kFracBits, V2 = (v[a[2]] - v[a[0]]) >> kFracBits;
    const int64_t det = Y1 * X2 - Y2 * X1;
    if (det == 0) return;

    Walk w{};
    if (ss != nullptr) {
        if (!Gradient(Y1 * U2 - Y2 * U1, det, &w.ux) || !Gradient(U1 * X2 - X1 * U2, det, &w.uy) ||
            !Gradient(Y1 * V2 - Y2 * V1, det, &w.vx) || !Gradient(V1 * X2 - X1 * V2, det, &w.vy))
            return;
    }
    w.c0 = x[a[0]] >> kFracBits;
    w.r0 = y[a[0]] >> kFracBits;
    w.u0 = u[a[0]];
    w.v0 = v[a[0]];

    // Edges, from the vertical order.
    const int t = b[0], m = b[1], btm = b[2];
    w.top = y[t] >> kFracBits;
    w.middle = y[m] >> kFracBits;
    w.bottom = y[btm] >> kFracBits;
    const Segment longEdge = MakeSegment(x[t], y[t], x[btm], y[btm]);
    if (w.top == w.middle) {
        // Flat top: both edges run to the bottom vertex.
        const bool tFirst = x[t] <= x[m];
        w.left[1] = MakeSegment(x[tFirst ? t : m], y[t], x[btm], y[btm]);
        w.right[1] = MakeSegment(x[tFirst ? m : t], y[t], x[btm], y[btm]);
    } else if (w.middle == w.bottom) {
        const bool mFirst = x[m] <= x[btm];
        w.left[0] = MakeSegment(x[t], y[t], x[mFirst ? m : btm], y[btm]);
        w.right[0] = MakeSegment(x[t], y[t], x[mFirst ? btm : m], y[btm]);
    } else {
        // The middle vertex lies on the side whose slope from the top is smaller.
        const double s1 = static_cast<double>(x[m] - x[t]) / static_cast<double>(w.middle - w.top);
        const double s2 = static_cast<double>(x[btm] - x[t]) / static_cast<double>(w.bottom - w.top);
        const Segment upper = MakeSegment(x[t], y[t], x[m], y[m]);
        const Segment lower = MakeSegment(x[m], y[m], x[btm], y[btm]);
        Segment* shortSide = s1 < s2 ? w.left : w.right;
        Segment* longSide = s1 < s2 ? w.right : w.left;
        shortSide[0] = upper;
        shortSide[1] = lower;
        longSide[0] = longEdge;
        longSide[1] = longEdge;
    }

    // The clip rectangle never reaches outside the destination.
    PixelRect clip = settings.clip;
    ClipRectToBound(&clip, PixelRect{0, 0, dst->width, dst->height});
    if (clip.right <= clip.left || clip.bottom <= clip.top) return;
    w.clipLeft = clip.left;
    w.clipTop = clip.top;
    w.clipRight = clip.right;
    w.clipBottom = clip.bottom;
    w.dstPitch = ds->pitch;
    w.dstBpp = ds->kind == kMemImgXrgb32 ? 4 : 2;
    w.dst = dst->pixels;

    // This kernel's 16-bit blends by the parameter alone always scale by p / 255.
    blend.ctx.signedStep16 = true;
    Stage st{};
    st.in.ctx = blend.ctx;

    if (ss == nullptr) {
        if (ds->kind == kMemImgXrgb32) {
            st.flat = PrepareFlat<Fmt32>(flatColor, st.in.ctx);
            DrawFlat<Fmt32>(w, st, mode);
        } else {
            st.flat = PrepareFlat<Fmt16>(flatColor & 0xFFFF, st.in.ctx);
            DrawFlat<Fmt16>(w, st, mode);
        }
        MarkMemImgPixelsChanged(ds);
        return;
    }

    st.src = src->pixels;
    st.srcPitch = ss->pitch;
    st.uLimit = static_cast<uint32_t>(src->width) << kFracBits;
    st.vLimit = static_cast<uint32_t>(src->height) << kFracBits;
    st.ux = static_cast<uint32_t>(w.ux);
    st.vx = static_cast<uint32_t>(w.vx);
    SetSourceInputs(&st.in, ss, blend.ctx);
    if (mask != nullptr) {
        st.mask = mask->pixels;
        st.maskPitch = mask->store->pitch;
    }
    const bool trans = transparent != 0;
    if (ds->kind == kMemImgXrgb32) DrawSource<Fmt32>(w, st, ss, mode, mask != nullptr, blend.bright, trans);
    else DrawSource<Fmt16>(w, st, ss, mode, mask != nullptr, blend.bright, trans);
    MarkMemImgPixelsChanged(ds);
}
