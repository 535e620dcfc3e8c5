// The run-time SSE2 decision and the row fill.
#include "quarn/softrender/simd_rows.h"

#include <cstring>

#include "quarn/core/core.h"

int GetSoftRenderSse2() { return QUARN_HAVE_SSE2 && IsMmxUsable() && IsSse2Usable() ? 1 : 0; }

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
