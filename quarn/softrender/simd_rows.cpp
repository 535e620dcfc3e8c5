// The table of row forms and the run-time choice between their plain and SSE2 bodies.
#include "quarn/softrender/simd_rows.h"

#include "quarn/core/core.h"

namespace quarn {

namespace {

struct RowForms {
    RowFn plain;
    RowFn sse2;
};

template <RowOp O>
constexpr RowForms FormsOf()
{
#if QUARN_HAVE_SSE2
    return {PlainRow<O>, Sse2Row<O>};
#else
    return {PlainRow<O>, nullptr};
#endif
}

constexpr int kAnyParam = -1;

// One fast path. The first entry that fits is taken, so narrower conditions come first.
struct FastPath {
    uint8_t kernels;    // kRowUnscaled, kRowScaled or both
    bool alphaSrc;
    int mode;
    int p;              // kAnyParam or the one parameter
    bool trans;
    // The form rounds as the MMX forms do: taken only with SSE2 (which comes with MMX); the
    // kernels' own MMX and plain forms draw it otherwise.
    bool sse2Only;
    RowForms forms;
};

constexpr uint8_t kBoth = kRowUnscaled | kRowScaled;

const FastPath kFastPaths[] = {
    {kBoth, false, 0, kAnyParam, true, false, FormsOf<RowOp::kCopyKeyed>()},
    // Only the unscaled blit halves at p 128; the scaled one interpolates at every p.
    {kRowUnscaled, false, 1, 128, false, false, FormsOf<RowOp::kHalve>()},
    {kRowUnscaled, false, 1, 128, true, false, FormsOf<RowOp::kHalveKeyed>()},
    {kBoth, false, 1, kAnyParam, false, false, FormsOf<RowOp::kBlend>()},
    {kBoth, false, 1, kAnyParam, true, false, FormsOf<RowOp::kBlendKeyed>()},
    {kRowUnscaled, false, 2, 255, false, true, FormsOf<RowOp::kAddSat>()},
    {kRowUnscaled, false, 2, 255, true, true, FormsOf<RowOp::kAddSatKeyed>()},
    {kBoth, false, 3, 255, false, true, FormsOf<RowOp::kSubSat>()},
    {kBoth, false, 3, 255, true, true, FormsOf<RowOp::kSubSatKeyed>()},
    {kBoth, true, 0, kAnyParam, true, false, FormsOf<RowOp::kSourceAlpha>()},
};

}  // namespace

int GetSoftRenderSse2() { return QUARN_HAVE_SSE2 && IsMmxUsable() && IsSse2Usable() ? 1 : 0; }

RowFn FindRowForm(uint8_t kernel, bool alphaSrc, int mode, uint32_t p, bool trans, bool sse2)
{
    for (const FastPath& f : kFastPaths) {
        if (!(f.kernels & kernel) || f.alphaSrc != alphaSrc || f.mode != mode || f.trans != trans)
            continue;
        if (f.p != kAnyParam && static_cast<uint32_t>(f.p) != p) continue;
        if (f.sse2Only && !sse2) return nullptr;
        return sse2 && f.forms.sse2 ? f.forms.sse2 : f.forms.plain;
    }
    return nullptr;
}

#if QUARN_HAVE_SSE2
namespace {

QUARN_SSE2_ENTRY void Sse2FillRow32(uint8_t* d, int n, uint32_t value)
{
    const __m128i v = _mm_set1_epi32(static_cast<int>(value));
    int i = 0;
    for (; i + 4 <= n; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * i), v);
    for (; i < n; ++i) StorePixel32(d + 4 * i, value);
}

}  // namespace
#endif

void FillRow32(uint8_t* d, int n, uint32_t value, bool sse2)
{
#if QUARN_HAVE_SSE2
    if (sse2) {
        Sse2FillRow32(d, n, value);
        return;
    }
#endif
    (void)sse2;
    for (int i = 0; i < n; ++i) StorePixel32(d + 4 * i, value);
}

}  // namespace quarn
