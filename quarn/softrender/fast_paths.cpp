// The table of the blit kernels' fast paths and the row forms that only it names: the plain
// line copy, the 16-bit pair forms, the MMX forms and the per-pixel forms of alpha blending at p 128
// and saturating add and subtract at p 255. The SSE2 row forms are in simd_rows.h.
#include "quarn/softrender/fast_paths.h"

#include <cstring>

#include "quarn/softrender/blend_ops.h"
#include "quarn/softrender/blit_pixel.h"

namespace {

// Plain copy of a line's bytes.
template <int Bpp>
void CopyRow(uint8_t* d, const uint8_t* s, int n, const PixelInputs&)
{
    std::memmove(d, s, static_cast<size_t>(n) * Bpp);
}

// The per-pixel form of Op, the general path's own pixel stage.
template <class Fmt, class Src, class Op, bool Trans>
void PixelRow(uint8_t* d, const uint8_t* s, int n, const PixelInputs& in)
{
    for (int x = 0; x < n; ++x, s += Src::kBpp, d += Fmt::kBpp)
        DrawSourcePixel<Fmt, Src, Op, false, Trans, Op::kCopyIgnoresAlpha>(d, s, 0, in);
}

// 16-bit add and subtract at p 255: two pixels a word.
template <class Src, bool Add, bool Trans>
void PairRow16(uint8_t* dp, const uint8_t* sp, int n, const PixelInputs& b)
{
    auto single = [](uint32_t d, uint32_t s) { return Add ? PackedAdd16NoLowBits(d, s) : PackedSub16(d, s); };
    int x = 0;
    for (; x + 2 <= n; x += 2, sp += 2 * Src::kBpp, dp += 4) {
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
    if (x < n) {
        if (!Trans || !Src::IsKey(sp, b)) StorePixel16(dp, single(LoadPixel16(dp), Src::Load(sp, b)));
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
QUARN_MMX_FN void MmxRow(uint8_t* dp, const uint8_t* sp, int n, const PixelInputs& b)
{
    int x = 0;
    if constexpr (!Trans && O != MmxOp::kHalve) {
        for (; x + 4 <= n; x += 4, sp += 4 * Src::kBpp, dp += 16) {
            __m64 d0, d1;
            std::memcpy(&d0, dp, 8);
            std::memcpy(&d1, dp + 8, 8);
            const __m64 s0 = _mm_set_pi32(static_cast<int>(Src::Load(sp + Src::kBpp, b)),
                                          static_cast<int>(Src::Load(sp, b)));
            const __m64 s1 = _mm_set_pi32(static_cast<int>(Src::Load(sp + 3 * Src::kBpp, b)),
                                          static_cast<int>(Src::Load(sp + 2 * Src::kBpp, b)));
            d0 = MmxCombine<O>(d0, s0);
            d1 = MmxCombine<O>(d1, s1);
            std::memcpy(dp, &d0, 8);
            std::memcpy(dp + 8, &d1, 8);
        }
    }
    for (; x + 2 <= n; x += 2, sp += 2 * Src::kBpp, dp += 8) {
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
    if (x < n) {
        if (!Trans || !Src::IsKey(sp, b)) StorePixel32(dp, ScalarCombine<O>(LoadPixel32(dp), Src::Load(sp, b)));
    }
    _mm_empty();
}
#endif

// The bodies a build may lack: null where it has no SSE2 or MMX forms (the lookup never
// reaches them there, since the processor decision is then 0).
template <RowOp O>
constexpr RowFn Sse2Form()
{
#if QUARN_HAVE_SSE2
    return Sse2Row<O>;
#else
    return nullptr;
#endif
}

template <class Src, MmxOp O, bool Trans>
constexpr RowFn MmxForm()
{
#if QUARN_HAVE_MMX
    return MmxRow<Src, O, Trans>;
#else
    return nullptr;
#endif
}

constexpr uint8_t kBoth = kRowUnscaled | kRowScaled;
constexpr uint8_t k16 = 1 << kMemImgRgb565;
constexpr uint8_t k32 = 1 << kMemImgXrgb32;
constexpr uint8_t kPlain = kSourcePlain;
constexpr uint8_t kPal = kSourcePaletted;
constexpr uint8_t kAlpha = kSourceAlpha;

using P16 = SrcPlain<Fmt16>;
using L16 = SrcPaletted<Fmt16>;
using P32 = SrcPlain<Fmt32>;
using L32 = SrcPaletted<Fmt32>;

// The first entry that fits is taken, so within the draws one entry covers, the forms come
// SSE2 first, then MMX, then plain; and alpha blending's p 128 forms before its forms at any p.
// Columns: kernels, kinds, source, mode, p, keyed, needs, self-draw, copies, row.
const FastPath kFastPaths[] = {
    // No blending.
    {kBoth, k32, kPlain, kBlendModeNone, kAnyParam, true, kNeedsSse2, false, false, Sse2Form<RowOp::kCopyKeyed>()},
    {kBoth, k32, kPlain, kBlendModeNone, kAnyParam, true, kNeedsNothing, false, false, PlainRow<RowOp::kCopyKeyed>},
    {kBoth, k32, kPlain, kBlendModeNone, kAnyParam, false, kNeedsNothing, true, true, CopyRow<4>},
    {kRowUnscaled, k16, kPlain, kBlendModeNone, kAnyParam, false, kNeedsNothing, true, true, CopyRow<2>},
    {kBoth, k32, kAlpha, kBlendModeNone, kAnyParam, true, kNeedsSse2, false, false, Sse2Form<RowOp::kSourceAlpha>()},
    {kBoth, k32, kAlpha, kBlendModeNone, kAnyParam, true, kNeedsNothing, false, false, PlainRow<RowOp::kSourceAlpha>},

    // Alpha at p 128: the halving average, which only the unscaled blit takes.
    {kRowUnscaled, k32, kPlain, kBlendModeAlpha, 128, false, kNeedsSse2, false, false, Sse2Form<RowOp::kHalve>()},
    {kRowUnscaled, k32, kPlain, kBlendModeAlpha, 128, true, kNeedsSse2, false, false, Sse2Form<RowOp::kHalveKeyed>()},
    {kRowUnscaled, k32, kPlain, kBlendModeAlpha, 128, false, kNeedsMmx, true, false,
     MmxForm<P32, MmxOp::kHalve, false>()},
    {kRowUnscaled, k32, kPlain, kBlendModeAlpha, 128, true, kNeedsMmx, true, false,
     MmxForm<P32, MmxOp::kHalve, true>()},
    {kRowUnscaled, k32, kPal, kBlendModeAlpha, 128, false, kNeedsMmx, true, false,
     MmxForm<L32, MmxOp::kHalve, false>()},
    {kRowUnscaled, k32, kPal, kBlendModeAlpha, 128, true, kNeedsMmx, true, false, MmxForm<L32, MmxOp::kHalve, true>()},
    {kRowUnscaled, k32, kPlain, kBlendModeAlpha, 128, false, kNeedsNothing, true, false,
     PixelRow<Fmt32, P32, OpHalve<Fmt32>, false>},
    {kRowUnscaled, k32, kPlain, kBlendModeAlpha, 128, true, kNeedsNothing, true, false,
     PixelRow<Fmt32, P32, OpHalve<Fmt32>, true>},
    {kRowUnscaled, k32, kPal, kBlendModeAlpha, 128, false, kNeedsNothing, true, false,
     PixelRow<Fmt32, L32, OpHalve<Fmt32>, false>},
    {kRowUnscaled, k32, kPal, kBlendModeAlpha, 128, true, kNeedsNothing, true, false,
     PixelRow<Fmt32, L32, OpHalve<Fmt32>, true>},
    {kRowUnscaled, k16, kPlain, kBlendModeAlpha, 128, false, kNeedsNothing, true, false,
     PixelRow<Fmt16, P16, OpHalve<Fmt16>, false>},
    {kRowUnscaled, k16, kPlain, kBlendModeAlpha, 128, true, kNeedsNothing, true, false,
     PixelRow<Fmt16, P16, OpHalve<Fmt16>, true>},
    {kRowUnscaled, k16, kPal, kBlendModeAlpha, 128, false, kNeedsNothing, true, false,
     PixelRow<Fmt16, L16, OpHalve<Fmt16>, false>},
    {kRowUnscaled, k16, kPal, kBlendModeAlpha, 128, true, kNeedsNothing, true, false,
     PixelRow<Fmt16, L16, OpHalve<Fmt16>, true>},

    // Alpha at any other p (the scaled blit's p 128 too).
    {kBoth, k32, kPlain, kBlendModeAlpha, kAnyParam, false, kNeedsSse2, false, false, Sse2Form<RowOp::kBlend>()},
    {kBoth, k32, kPlain, kBlendModeAlpha, kAnyParam, true, kNeedsSse2, false, false, Sse2Form<RowOp::kBlendKeyed>()},
    {kBoth, k32, kPlain, kBlendModeAlpha, kAnyParam, false, kNeedsNothing, false, false, PlainRow<RowOp::kBlend>},
    {kBoth, k32, kPlain, kBlendModeAlpha, kAnyParam, true, kNeedsNothing, false, false, PlainRow<RowOp::kBlendKeyed>},

    // Add and subtract at p 255: every byte of the 32-bit pixel saturates on its own with MMX
    // (the SSE2 forms round alike), the packed forms without; 16-bit pixels go in pairs.
    {kRowUnscaled, k32, kPlain, kBlendModeAdd, 255, false, kNeedsSse2, false, false, Sse2Form<RowOp::kAddSat>()},
    {kRowUnscaled, k32, kPlain, kBlendModeAdd, 255, true, kNeedsSse2, false, false, Sse2Form<RowOp::kAddSatKeyed>()},
    {kBoth, k32, kPlain, kBlendModeSubtract, 255, false, kNeedsSse2, false, false, Sse2Form<RowOp::kSubSat>()},
    {kBoth, k32, kPlain, kBlendModeSubtract, 255, true, kNeedsSse2, false, false, Sse2Form<RowOp::kSubSatKeyed>()},
    {kRowUnscaled, k32, kPlain, kBlendModeAdd, 255, false, kNeedsMmx, true, false, MmxForm<P32, MmxOp::kAdd, false>()},
    {kRowUnscaled, k32, kPlain, kBlendModeAdd, 255, true, kNeedsMmx, true, false, MmxForm<P32, MmxOp::kAdd, true>()},
    {kRowUnscaled, k32, kPal, kBlendModeAdd, 255, false, kNeedsMmx, true, false, MmxForm<L32, MmxOp::kAdd, false>()},
    {kRowUnscaled, k32, kPal, kBlendModeAdd, 255, true, kNeedsMmx, true, false, MmxForm<L32, MmxOp::kAdd, true>()},
    {kBoth, k32, kPlain, kBlendModeSubtract, 255, false, kNeedsMmx, true, false, MmxForm<P32, MmxOp::kSub, false>()},
    {kBoth, k32, kPlain, kBlendModeSubtract, 255, true, kNeedsMmx, true, false, MmxForm<P32, MmxOp::kSub, true>()},
    {kBoth, k32, kPal, kBlendModeSubtract, 255, false, kNeedsMmx, true, false, MmxForm<L32, MmxOp::kSub, false>()},
    {kBoth, k32, kPal, kBlendModeSubtract, 255, true, kNeedsMmx, true, false, MmxForm<L32, MmxOp::kSub, true>()},
    {kRowUnscaled, k32, kPlain, kBlendModeAdd, 255, false, kNeedsNothing, true, false,
     PixelRow<Fmt32, P32, OpAddFull32, false>},
    {kRowUnscaled, k32, kPlain, kBlendModeAdd, 255, true, kNeedsNothing, true, false,
     PixelRow<Fmt32, P32, OpAddFull32, true>},
    {kRowUnscaled, k32, kPal, kBlendModeAdd, 255, false, kNeedsNothing, true, false,
     PixelRow<Fmt32, L32, OpAddFull32, false>},
    {kRowUnscaled, k32, kPal, kBlendModeAdd, 255, true, kNeedsNothing, true, false,
     PixelRow<Fmt32, L32, OpAddFull32, true>},
    {kRowUnscaled, k32, kPlain, kBlendModeSubtract, 255, false, kNeedsNothing, true, false,
     PixelRow<Fmt32, P32, OpSubFull32, false>},
    {kRowUnscaled, k32, kPlain, kBlendModeSubtract, 255, true, kNeedsNothing, true, false,
     PixelRow<Fmt32, P32, OpSubFull32, true>},
    {kRowUnscaled, k32, kPal, kBlendModeSubtract, 255, false, kNeedsNothing, true, false,
     PixelRow<Fmt32, L32, OpSubFull32, false>},
    {kRowUnscaled, k32, kPal, kBlendModeSubtract, 255, true, kNeedsNothing, true, false,
     PixelRow<Fmt32, L32, OpSubFull32, true>},
    {kRowUnscaled, k16, kPlain, kBlendModeAdd, 255, false, kNeedsNothing, true, false, PairRow16<P16, true, false>},
    {kRowUnscaled, k16, kPlain, kBlendModeAdd, 255, true, kNeedsNothing, true, false, PairRow16<P16, true, true>},
    {kRowUnscaled, k16, kPal, kBlendModeAdd, 255, false, kNeedsNothing, true, false, PairRow16<L16, true, false>},
    {kRowUnscaled, k16, kPal, kBlendModeAdd, 255, true, kNeedsNothing, true, false, PairRow16<L16, true, true>},
    {kRowUnscaled, k16, kPlain, kBlendModeSubtract, 255, false, kNeedsNothing, true, false,
     PairRow16<P16, false, false>},
    {kRowUnscaled, k16, kPlain, kBlendModeSubtract, 255, true, kNeedsNothing, true, false, PairRow16<P16, false, true>},
    {kRowUnscaled, k16, kPal, kBlendModeSubtract, 255, false, kNeedsNothing, true, false, PairRow16<L16, false, false>},
    {kRowUnscaled, k16, kPal, kBlendModeSubtract, 255, true, kNeedsNothing, true, false, PairRow16<L16, false, true>},
};

}  // namespace

const FastPath* FindFastPath(const FastPathQuery& q)
{
    if (q.mask || q.bright || q.runs || q.kind < 0 || q.kind > 7) return nullptr;
    const bool mmx = GetSoftRenderMmx() != 0;
    const bool sse2 = GetSoftRenderSse2() != 0;
    for (const FastPath& f : kFastPaths) {
        if (!(f.kernels & q.kernel) || !(f.kinds & (1u << q.kind)) || f.source != q.source || f.mode != q.mode ||
            f.trans != q.trans)
            continue;
        if (f.p != kAnyParam && static_cast<uint32_t>(f.p) != q.p) continue;
        if (q.selfDraw && !f.selfDraw) continue;
        if ((f.needs == kNeedsSse2 && !sse2) || (f.needs == kNeedsMmx && !mmx)) continue;
        return &f;
    }
    return nullptr;
}
