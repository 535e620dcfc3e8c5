// Fixed bit arithmetic for the common format pairs, with eight-pixel SSE2 and four-pixel MMX
// forms of the 16-bit pairs on x86 (chosen at run time) and a two-pixel 32-bit form elsewhere,
// and an SSSE3 form of the 32- to 24-bit cut. Every form writes the same pixels.
#include <cstring>

#include "quarn/core/core.h"
#include "quarn/image/fast_pairs.h"
#include "quarn/image/pixel.h"

#if defined(__i386__) || defined(__x86_64__)
#define QUARN_IMAGE_MMX 1
#include <emmintrin.h>
#include <mmintrin.h>
#include <tmmintrin.h>
#endif

namespace {

using pixel::Load;
using pixel::Store;

bool UseMmx()
{
#ifdef QUARN_IMAGE_MMX
    return IsMmxUsable() != 0;
#else
    return false;
#endif
}

// SSE2 only with MMX, as the software renderer takes it: forcing MMX off forces the plain forms.
bool UseSse2()
{
#ifdef QUARN_IMAGE_MMX
    return IsMmxUsable() != 0 && IsSse2Usable() != 0;
#else
    return false;
#endif
}

#ifdef QUARN_IMAGE_MMX
// SSSE3 only with SSE2 (and so with MMX).
bool UseSsse3() { return UseSse2() && IsSsse3Usable() != 0; }
#endif

enum class Kind { Other, Index8, R5G6B5, X1R5G5B5, A1R5G5B5, X8R8G8B8, A8R8G8B8, R8G8B8 };

bool HasRgb888Masks(const ColorFormat& f)
{
    return f.redMask == 0xFF0000 && f.greenMask == 0xFF00 && f.blueMask == 0xFF;
}

Kind Classify(const ColorFormat& f)
{
    if (f.bytesPerPixel == 1 && f.bitDepth == 8) return Kind::Index8;
    if (f.bitDepth == 16 && f.blueMask == 0x1F) {
        if (f.redMask == 0xF800 && f.greenMask == 0x07E0 && f.alphaMask == 0) return Kind::R5G6B5;
        if (f.redMask == 0x7C00 && f.greenMask == 0x03E0) {
            if (f.alphaMask == 0) return Kind::X1R5G5B5;
            if (f.alphaMask == 0x8000) return Kind::A1R5G5B5;
        }
    }
    if (f.bitDepth == 32 && HasRgb888Masks(f)) {
        if (f.alphaMask == 0) return Kind::X8R8G8B8;
        if (f.alphaMask == 0xFF000000) return Kind::A8R8G8B8;
    }
    if (f.bitDepth == 24 && HasRgb888Masks(f)) return Kind::R8G8B8;
    return Kind::Other;
}

// ---- Per-pixel arithmetic ----

inline uint32_t XrgbTo565(uint32_t v) { return ((v & 0xF8) >> 3) | ((v & 0xFC00) >> 5) | ((v >> 8) & 0xF800); }
inline uint32_t R565ToXrgb(uint32_t v) { return ((v & 0x1F) << 3) | ((v & 0x7E0) << 5) | ((v & 0xF800) << 8); }
inline uint32_t R565To555(uint32_t v) { return ((v & 0xFFC0) >> 1) | (v & 0x1F); }
inline uint32_t X555To565(uint32_t v) { return ((v & 0x7FE0) << 1) | (v & 0x3F); }
// An 0x..RRGGBB value cut to 5-5-5 without the top bit.
inline uint32_t Rgb24To555(uint32_t v) { return ((v >> 9) & 0x7C00) | ((v >> 6) & 0x3E0) | ((v >> 3) & 0x1F); }
inline uint32_t Rgb24To565(uint32_t v) { return ((v >> 8) & 0xF800) | ((v >> 5) & 0x07E0) | ((v >> 3) & 0x1F); }

// 32-bit pixels to 24-bit ones, four at a time: the three colour bytes of each, packed into
// three words.
int PackXrgbToRgb24(const uint8_t* s, uint8_t* d, int n)
{
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        uint32_t p[4];
        std::memcpy(p, s + i * 4, 16);
        const uint32_t out[3] = {(p[0] & 0xFFFFFF) | p[1] << 24, (p[1] >> 8 & 0xFFFF) | p[2] << 16,
                                 (p[2] >> 16 & 0xFF) | p[3] << 8};
        std::memcpy(d + i * 3, out, 12);
    }
    return i;
}
inline uint32_t XrgbToRgb24(uint32_t v) { return v & 0xFFFFFF; }

// ---- Row walking ----

template <int SB, int DB, class F>
void MapRows(const FastPairJob& j, F f)
{
    const int width = j.rect.right - j.rect.left;
    for (int y = 0; y < j.rect.bottom - j.rect.top; ++y) {
        const uint8_t* s = j.src + std::ptrdiff_t(j.rect.top + y) * j.srcPitch + std::ptrdiff_t(j.rect.left) * SB;
        uint8_t* d = j.dst + std::ptrdiff_t(j.dstY + y) * j.dstPitch + std::ptrdiff_t(j.dstX) * DB;
        for (int i = 0; i < width; ++i) Store(d + i * DB, DB, f(Load(s + i * SB, SB)));
    }
}

// A paletted source goes through a table of the 256 finished destination values.
template <int DB, class F>
void MapIndices(const FastPairJob& j, const ColorFormat& src, F f)
{
    uint32_t table[256];
    for (int i = 0; i < 256; ++i) table[i] = f(pixel::EntryValue(src.palette[i]));
    MapRows<1, DB>(j, [&](uint32_t index) { return table[index]; });
}

// ---- The 16-bit pairs without key: whole rows ----

using RowFn = int (*)(const uint8_t* s, uint8_t* d, int n);  // returns pixels done

#ifdef QUARN_IMAGE_MMX
__attribute__((target("mmx"))) int MmxXrgbTo565(const uint8_t* s, uint8_t* d, int n)
{
    const __m64 r = _mm_set1_pi32(0xF800), g = _mm_set1_pi32(0x07E0), b = _mm_set1_pi32(0x1F);
    const __m64 bias = _mm_set1_pi32(0x8000), flip = _mm_set1_pi16(short(0x8000));
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        __m64 lo, hi;
        std::memcpy(&lo, s + i * 4, 8);
        std::memcpy(&hi, s + i * 4 + 8, 8);
        // Each 32-bit lane becomes its 16-bit value, biased so that the signed pack keeps it.
        lo = _mm_sub_pi32(_mm_or_si64(_mm_or_si64(_mm_and_si64(_mm_srli_pi32(lo, 8), r),
                                                  _mm_and_si64(_mm_srli_pi32(lo, 5), g)),
                                      _mm_and_si64(_mm_srli_pi32(lo, 3), b)),
                          bias);
        hi = _mm_sub_pi32(_mm_or_si64(_mm_or_si64(_mm_and_si64(_mm_srli_pi32(hi, 8), r),
                                                  _mm_and_si64(_mm_srli_pi32(hi, 5), g)),
                                      _mm_and_si64(_mm_srli_pi32(hi, 3), b)),
                          bias);
        const __m64 out = _mm_xor_si64(_mm_packs_pi32(lo, hi), flip);
        std::memcpy(d + i * 2, &out, 8);
    }
    _mm_empty();
    return i;
}

__attribute__((target("mmx"))) int Mmx565ToXrgb(const uint8_t* s, uint8_t* d, int n)
{
    const __m64 zero = _mm_setzero_si64();
    const __m64 b = _mm_set1_pi32(0x1F), g = _mm_set1_pi32(0x7E0), r = _mm_set1_pi32(0xF800);
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        __m64 v;
        std::memcpy(&v, s + i * 2, 8);
        __m64 lo = _mm_unpacklo_pi16(v, zero), hi = _mm_unpackhi_pi16(v, zero);
        lo = _mm_or_si64(_mm_or_si64(_mm_slli_pi32(_mm_and_si64(lo, b), 3), _mm_slli_pi32(_mm_and_si64(lo, g), 5)),
                         _mm_slli_pi32(_mm_and_si64(lo, r), 8));
        hi = _mm_or_si64(_mm_or_si64(_mm_slli_pi32(_mm_and_si64(hi, b), 3), _mm_slli_pi32(_mm_and_si64(hi, g), 5)),
                         _mm_slli_pi32(_mm_and_si64(hi, r), 8));
        std::memcpy(d + i * 4, &lo, 8);
        std::memcpy(d + i * 4 + 8, &hi, 8);
    }
    _mm_empty();
    return i;
}

__attribute__((target("mmx"))) int Mmx565To555(const uint8_t* s, uint8_t* d, int n)
{
    const __m64 top = _mm_set1_pi16(short(0xFFC0)), low = _mm_set1_pi16(0x1F);
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        __m64 v;
        std::memcpy(&v, s + i * 2, 8);
        v = _mm_or_si64(_mm_srli_pi16(_mm_and_si64(v, top), 1), _mm_and_si64(v, low));
        std::memcpy(d + i * 2, &v, 8);
    }
    _mm_empty();
    return i;
}

__attribute__((target("mmx"))) int Mmx555To565(const uint8_t* s, uint8_t* d, int n)
{
    const __m64 top = _mm_set1_pi16(0x7FE0), low = _mm_set1_pi16(0x3F);
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        __m64 v;
        std::memcpy(&v, s + i * 2, 8);
        v = _mm_or_si64(_mm_slli_pi16(_mm_and_si64(v, top), 1), _mm_and_si64(v, low));
        std::memcpy(d + i * 2, &v, 8);
    }
    _mm_empty();
    return i;
}

// Each lane's 16-bit result is built in its upper half: blue times 4 and red times 8192 by
// one multiply-add and green in place, side by side without overlap, then all up 11 bits. The
// arithmetic shift down then gives values the signed pack keeps bit for bit.
QUARN_SSE2_FN inline __m128i Sse2XrgbTo565Lanes(__m128i v)
{
    const __m128i rb = _mm_madd_epi16(_mm_and_si128(v, _mm_set1_epi32(0x00F800F8)), _mm_set1_epi32(0x20000004));
    const __m128i g = _mm_and_si128(v, _mm_set1_epi32(0xFC00));
    return _mm_srai_epi32(_mm_slli_epi32(_mm_or_si128(rb, g), 11), 16);
}

QUARN_SSE2_ENTRY int Sse2XrgbTo565(const uint8_t* s, uint8_t* d, int n)
{
    int i = 0;
    // Sixteen pixels a step, then eight.
    for (; i + 16 <= n; i += 16) {
        const __m128i* sp = reinterpret_cast<const __m128i*>(s + i * 4);
        const __m128i v0 = _mm_loadu_si128(sp), v1 = _mm_loadu_si128(sp + 1);
        const __m128i v2 = _mm_loadu_si128(sp + 2), v3 = _mm_loadu_si128(sp + 3);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * 2),
                         _mm_packs_epi32(Sse2XrgbTo565Lanes(v0), Sse2XrgbTo565Lanes(v1)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * 2 + 16),
                         _mm_packs_epi32(Sse2XrgbTo565Lanes(v2), Sse2XrgbTo565Lanes(v3)));
    }
    for (; i + 8 <= n; i += 8) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 4));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 4 + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * 2),
                         _mm_packs_epi32(Sse2XrgbTo565Lanes(lo), Sse2XrgbTo565Lanes(hi)));
    }
    return i;
}

QUARN_SSE2_FN inline __m128i Sse2565ToXrgbLanes(__m128i v)
{
    const __m128i b = _mm_set1_epi32(0x1F), g = _mm_set1_epi32(0x7E0), r = _mm_set1_epi32(0xF800);
    return _mm_or_si128(_mm_or_si128(_mm_slli_epi32(_mm_and_si128(v, b), 3), _mm_slli_epi32(_mm_and_si128(v, g), 5)),
                        _mm_slli_epi32(_mm_and_si128(v, r), 8));
}

QUARN_SSE2_ENTRY int Sse2565ToXrgb(const uint8_t* s, uint8_t* d, int n)
{
    const __m128i zero = _mm_setzero_si128();
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 2));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * 4), Sse2565ToXrgbLanes(_mm_unpacklo_epi16(v, zero)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * 4 + 16), Sse2565ToXrgbLanes(_mm_unpackhi_epi16(v, zero)));
    }
    return i;
}

QUARN_SSE2_ENTRY int Sse2565To555(const uint8_t* s, uint8_t* d, int n)
{
    const __m128i top = _mm_set1_epi16(short(0xFFC0)), low = _mm_set1_epi16(0x1F);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 2));
        v = _mm_or_si128(_mm_srli_epi16(_mm_and_si128(v, top), 1), _mm_and_si128(v, low));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * 2), v);
    }
    return i;
}

QUARN_SSE2_ENTRY int Sse2555To565(const uint8_t* s, uint8_t* d, int n)
{
    const __m128i top = _mm_set1_epi16(0x7FE0), low = _mm_set1_epi16(0x3F);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 2));
        v = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(v, top), 1), _mm_and_si128(v, low));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * 2), v);
    }
    return i;
}

// Four 32-bit pixels to their twelve colour bytes, at the bottom of the register (the top four
// bytes 0).
QUARN_SSE2_FN inline __m128i Sse2XrgbToRgb24Lanes(__m128i v)
{
    const __m128i even = _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF);
    const __m128i odd = _mm_set_epi32(0xFFFFFF, 0, 0xFFFFFF, 0);
    const __m128i lowHalf = _mm_set_epi32(0, 0, -1, -1);
    // Each 64-bit half: its first pixel's three bytes, then its second's.
    const __m128i halves = _mm_or_si128(_mm_and_si128(v, even), _mm_srli_epi64(_mm_and_si128(v, odd), 8));
    return _mm_or_si128(_mm_and_si128(halves, lowHalf), _mm_srli_si128(_mm_andnot_si128(lowHalf, halves), 2));
}

QUARN_SSE2_ENTRY int Sse2XrgbToRgb24(const uint8_t* s, uint8_t* d, int n)
{
    int i = 0;
    // Each store writes 16 bytes for its 12: the 4 after them belong to the next pixels, which
    // the next store (or the plain form, for the last ones) writes again. So at least two
    // pixels have to follow the sixteen of a round.
    for (; i + 18 <= n; i += 16)
        for (int k = 0; k < 4; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * 3 + 12 * k),
                             Sse2XrgbToRgb24Lanes(
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 4 + 16 * k))));
    return i + PackXrgbToRgb24(s + i * 4, d + i * 3, n - i);
}

// Sixteen 32-bit pixels a round: one shuffle takes each four pixels' twelve colour bytes
// where their part of the three 16-byte stores wants them, and two byte alignments and one
// shift with an or merge the four registers into those stores, so nothing past the round's
// 48 bytes is written. The last pixels go to the plain form.
QUARN_SSSE3_ENTRY int Ssse3XrgbToRgb24(const uint8_t* s, uint8_t* d, int n)
{
    // The twelve bytes at the top; at the bottom; the first four at the bottom and the other
    // eight at the top.
    const __m128i top = _mm_setr_epi8(-1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14);
    const __m128i bottom = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m128i split = _mm_setr_epi8(0, 1, 2, 4, -1, -1, -1, -1, 5, 6, 8, 9, 10, 12, 13, 14);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i* sp = reinterpret_cast<const __m128i*>(s + i * 4);
        const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(sp), top);
        const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(sp + 1), split);
        const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(sp + 2), bottom);
        const __m128i e = _mm_shuffle_epi8(_mm_loadu_si128(sp + 3), top);
        __m128i* dp = reinterpret_cast<__m128i*>(d + i * 3);
        _mm_storeu_si128(dp, _mm_alignr_epi8(b, a, 4));      // a's 12 bytes, b's first 4
        _mm_storeu_si128(dp + 1, _mm_alignr_epi8(c, b, 8));  // b's other 8, c's first 8
        _mm_storeu_si128(dp + 2, _mm_or_si128(_mm_srli_si128(c, 8), e));  // c's last 4, e's 12
    }
    return i + PackXrgbToRgb24(s + i * 4, d + i * 3, n - i);
}

QUARN_SSE2_ENTRY int Sse2KeepOr32(const uint8_t* s, uint8_t* d, int n, uint32_t keep, uint32_t fill)
{
    const __m128i k = _mm_set1_epi32(static_cast<int>(keep)), f = _mm_set1_epi32(static_cast<int>(fill));
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 4));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 4 + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * 4), _mm_or_si128(_mm_and_si128(a, k), f));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * 4 + 16), _mm_or_si128(_mm_and_si128(b, k), f));
    }
    return i;
}
#endif

// Two 16-bit pixels in one 32-bit word.
int Pair565To555(const uint8_t* s, uint8_t* d, int n)
{
    int i = 0;
    for (; i + 2 <= n; i += 2) {
        uint32_t v;
        std::memcpy(&v, s + i * 2, 4);
        v = ((v & 0xFFC0FFC0u) >> 1) | (v & 0x001F001Fu);
        std::memcpy(d + i * 2, &v, 4);
    }
    return i;
}

int Pair555To565(const uint8_t* s, uint8_t* d, int n)
{
    int i = 0;
    for (; i + 2 <= n; i += 2) {
        uint32_t v;
        std::memcpy(&v, s + i * 2, 4);
        v = ((v & 0x7FE07FE0u) << 1) | (v & 0x003F003Fu);
        std::memcpy(d + i * 2, &v, 4);
    }
    return i;
}

int NoneDone(const uint8_t*, uint8_t*, int) { return 0; }

template <int SB, int DB>
void RowPair(const FastPairJob& j, RowFn wide, uint32_t (*one)(uint32_t))
{
    const int width = j.rect.right - j.rect.left;
    for (int y = 0; y < j.rect.bottom - j.rect.top; ++y) {
        const uint8_t* s = j.src + std::ptrdiff_t(j.rect.top + y) * j.srcPitch + std::ptrdiff_t(j.rect.left) * SB;
        uint8_t* d = j.dst + std::ptrdiff_t(j.dstY + y) * j.dstPitch + std::ptrdiff_t(j.dstX) * DB;
        for (int i = wide(s, d, width); i < width; ++i) Store(d + i * DB, DB, one(Load(s + i * SB, SB)));
    }
}

RowFn Pick(RowFn sse2, RowFn mmx, RowFn plain)
{
    if (UseSse2()) return sse2;
    return UseMmx() ? mmx : plain;
}

RowFn PackXrgbRow()
{
#ifdef QUARN_IMAGE_MMX
    if (UseSsse3()) return Ssse3XrgbToRgb24;
    if (UseSse2()) return Sse2XrgbToRgb24;
#endif
    return PackXrgbToRgb24;
}

}  // namespace

int KeepOrRow32(const uint8_t* s, uint8_t* d, int n, uint32_t keep, uint32_t fill)
{
    int i = 0;
#ifdef QUARN_IMAGE_MMX
    if (UseSse2()) i = Sse2KeepOr32(s, d, n, keep, fill);
#endif
    for (; i < n; ++i) {
        uint32_t v;
        std::memcpy(&v, s + i * 4, 4);
        v = (v & keep) | fill;
        std::memcpy(d + i * 4, &v, 4);
    }
    return n;
}

bool ConvertFastPair(const FastPairJob& job, const ColorFormat& dst, const ColorFormat& src, bool keyToAlpha,
                     bool alphaInUse, uint32_t key)
{
    const Kind s = Classify(src), d = Classify(dst);
    const uint32_t key24 = key & 0xFFFFFF;
    const uint32_t key555 = Rgb24To555(key24);
#ifdef QUARN_IMAGE_MMX
#define QUARN_SIMD_OR(fn, plain) Pick(Sse2##fn, Mmx##fn, plain)
#else
#define QUARN_SIMD_OR(fn, plain) (plain)
#endif

    if (!keyToAlpha) {
        if (s == Kind::Index8) {
            if (d == Kind::R5G6B5) return MapIndices<2>(job, src, Rgb24To565), true;
            if (d == Kind::X1R5G5B5)
                return MapIndices<2>(job, src, [](uint32_t e) { return Rgb24To555(e) | 0x8000; }), true;
            if (d == Kind::X8R8G8B8) return MapIndices<4>(job, src, [](uint32_t e) { return e | 0xFF000000u; }), true;
            return false;
        }
        if (s == Kind::R8G8B8) {
            if (d == Kind::R5G6B5) return MapRows<3, 2>(job, Rgb24To565), true;
            if (d == Kind::X1R5G5B5) return MapRows<3, 2>(job, [](uint32_t v) { return Rgb24To555(v) | 0x8000; }), true;
            if (dst.bitDepth == 32 && HasRgb888Masks(dst))
                return MapRows<3, 4>(job, [](uint32_t v) { return v | 0xFF000000u; }), true;
            return false;
        }
        if (alphaInUse) return false;
        if (s == Kind::X8R8G8B8 && d == Kind::R8G8B8) return RowPair<4, 3>(job, PackXrgbRow(), XrgbToRgb24), true;
        if (s == Kind::X8R8G8B8 && d == Kind::R5G6B5)
            return RowPair<4, 2>(job, QUARN_SIMD_OR(XrgbTo565, NoneDone), XrgbTo565), true;
        if (s == Kind::R5G6B5) {
            if (d == Kind::R8G8B8) return MapRows<2, 3>(job, R565ToXrgb), true;
            if (d == Kind::X8R8G8B8) return RowPair<2, 4>(job, QUARN_SIMD_OR(565ToXrgb, NoneDone), R565ToXrgb), true;
            if (d == Kind::X1R5G5B5) return RowPair<2, 2>(job, QUARN_SIMD_OR(565To555, Pair565To555), R565To555), true;
            return false;
        }
        if (s == Kind::X1R5G5B5 && d == Kind::R5G6B5)
            return RowPair<2, 2>(job, QUARN_SIMD_OR(555To565, Pair555To565), X555To565), true;
        return false;
    }
#undef QUARN_SIMD_OR
    // Key to alpha: the key colour becomes transparent, everything else opaque.
    if (s == Kind::Index8) {
        if (d == Kind::A1R5G5B5)
            return MapIndices<2>(job, src,
                                 [key24](uint32_t e) {
                                     return Rgb24To555(e) | ((e & 0xFFFFFF) == key24 ? 0 : 0x8000);
                                 }),
                   true;
        if (d == Kind::A8R8G8B8)
            return MapIndices<4>(job, src,
                                 [key24](uint32_t e) {
                                     return (e & 0xFFFFFF) == key24 ? e & 0xFFFFFF : e | 0xFF000000u;
                                 }),
                   true;
        return false;
    }
    if (s == Kind::R8G8B8) {
        if (d == Kind::A1R5G5B5)
            return MapRows<3, 2>(job, [key24](uint32_t v) { return Rgb24To555(v) | (v == key24 ? 0 : 0x8000); }), true;
        if (d == Kind::A8R8G8B8)
            return MapRows<3, 4>(job, [key24](uint32_t v) { return v == key24 ? v : v | 0xFF000000u; }), true;
        return false;
    }
    if (s == Kind::R5G6B5) {
        if (d == Kind::A1R5G5B5)
            return MapRows<2, 2>(job,
                                 [key555](uint32_t v) {
                                     const uint32_t x = R565To555(v);
                                     return x | (x == key555 ? 0 : 0x8000);
                                 }),
                   true;
        if (d == Kind::A8R8G8B8)
            return MapRows<2, 4>(job,
                                 [key555](uint32_t v) {
                                     return R565ToXrgb(v) | (R565To555(v) == key555 ? 0 : 0xFF000000u);
                                 }),
                   true;
    }
    return false;
}
