// The table of row forms and the run-time choice between their plain and SSE2 bodies.
#include "quarn/softrender/simd_rows.h"

#include <cstring>

#include "quarn/core/core.h"

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
    BlendMode mode;
    int p;              // kAnyParam or the one parameter
    bool trans;
    // Taken only with SSE2 (which comes with MMX); without it the kernel's own MMX or plain
    // form draws it. The saturating forms round as the MMX forms do, so they must be.
    bool sse2Only;
    RowForms forms;
};

constexpr uint8_t kBoth = kRowUnscaled | kRowScaled;

const FastPath kFastPaths[] = {
    {kBoth, false, kBlendModeNone, kAnyParam, true, false, FormsOf<RowOp::kCopyKeyed>()},
    // Only the unscaled blit halves at p 128; the scaled one interpolates at every p.
    {kRowUnscaled, false, kBlendModeAlpha, 128, false, true, FormsOf<RowOp::kHalve>()},
    {kRowUnscaled, false, kBlendModeAlpha, 128, true, true, FormsOf<RowOp::kHalveKeyed>()},
    {kBoth, false, kBlendModeAlpha, kAnyParam, false, false, FormsOf<RowOp::kBlend>()},
    {kBoth, false, kBlendModeAlpha, kAnyParam, true, false, FormsOf<RowOp::kBlendKeyed>()},
    {kRowUnscaled, false, kBlendModeAdd, 255, false, true, FormsOf<RowOp::kAddSat>()},
    {kRowUnscaled, false, kBlendModeAdd, 255, true, true, FormsOf<RowOp::kAddSatKeyed>()},
    {kBoth, false, kBlendModeSubtract, 255, false, true, FormsOf<RowOp::kSubSat>()},
    {kBoth, false, kBlendModeSubtract, 255, true, true, FormsOf<RowOp::kSubSatKeyed>()},
    {kBoth, true, kBlendModeNone, kAnyParam, true, false, FormsOf<RowOp::kSourceAlpha>()},
};

}  // namespace

int GetSoftRenderSse2() { return QUARN_HAVE_SSE2 && IsMmxUsable() && IsSse2Usable() ? 1 : 0; }

RowFn FindRowForm(uint8_t kernel, bool alphaSrc, BlendMode mode, uint32_t p, bool trans, bool sse2)
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

// The bytes of pixels done; the caller writes the rest.
QUARN_SSE2_ENTRY size_t Sse2FillBytes(uint8_t* d, size_t bytes, uint32_t pattern)
{
    const __m128i v = _mm_set1_epi32(static_cast<int>(pattern));
    size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 16), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 32), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 48), v);
    }
    for (; i + 16 <= bytes; i += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), v);
    return i;
}

}  // namespace
#endif

void FillRow(uint8_t* d, int n, int bpp, uint32_t value, bool sse2)
{
    if (bpp == 1) {
        std::memset(d, static_cast<int>(value & 0xFF), static_cast<size_t>(n));
        return;
    }
    const uint32_t pattern = bpp == 2 ? (value & 0xFFFF) | (value << 16) : value;
    size_t done = 0;
#if QUARN_HAVE_SSE2
    if (sse2) done = Sse2FillBytes(d, static_cast<size_t>(n) * static_cast<size_t>(bpp), pattern);
#endif
    (void)sse2;
    // Whole words, then a 16-bit row's odd last pixel alone.
    const size_t bytes = static_cast<size_t>(n) * static_cast<size_t>(bpp);
    for (; done + 4 <= bytes; done += 4) StorePixel32(d + done, pattern);
    if (done < bytes) StorePixel16(d + done, value);
}

