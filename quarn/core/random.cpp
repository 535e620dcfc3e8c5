// MT19937 random numbers: seeding, and the refill of the whole state with its tempered
// output, computed either word by word or two words at a time with MMX.

#include "quarn/core/core.h"

#if defined(__i386__) || defined(__x86_64__)
#include <mmintrin.h>
#define QUARN_MMX 1
#endif

RandomGeneratorState g_random;

namespace {

constexpr int kN = kRandomStateWords;
constexpr int kM = 397;
constexpr uint32_t kMatrixA = 0x9908B0DFu;
constexpr uint32_t kUpper = 0x80000000u;
constexpr uint32_t kLower = 0x7FFFFFFFu;

uint32_t Twist(uint32_t current, uint32_t next, uint32_t ahead)
{
    const uint32_t y = (current & kUpper) | (next & kLower);
    return ahead ^ (y >> 1) ^ ((y & 1) ? kMatrixA : 0);
}

uint32_t Temper(uint32_t y)
{
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return y;
}

}  // namespace

void SeedRandomGenerator(uint32_t seed)
{
    uint32_t x = seed;
    for (int i = 0; i < kN; ++i) {
        uint32_t word = x & 0xFFFF0000u;
        x = x * 69069u + 1u;
        word |= x >> 16;
        x = x * 69069u + 1u;
        g_random.state[i] = word;
    }
    g_random.useMmx = IsMmxUsable();
    g_random.seeded = 1;
    if (g_random.useMmx) RefillRandomStateMmx();
    else RefillRandomState();
}

void RefillRandomState()
{
    uint32_t* mt = g_random.state;
    int i = 0;
    for (; i < kN - kM; ++i) mt[i] = Twist(mt[i], mt[i + 1], mt[i + kM]);
    for (; i < kN - 1; ++i) mt[i] = Twist(mt[i], mt[i + 1], mt[i + kM - kN]);
    // The last word wraps to word 0, already renewed; the extra word holds it.
    mt[kN] = mt[0];
    mt[kN - 1] = Twist(mt[kN - 1], mt[kN], mt[kM - 1]);
    for (int k = 0; k < kN; ++k) g_random.output[k] = Temper(mt[k]);
    g_random.index = 0;
}

#if defined(QUARN_MMX)

namespace {

__attribute__((target("mmx"))) inline __m64 Load2(const uint32_t* p)
{
    return _mm_set_pi32(static_cast<int>(p[1]), static_cast<int>(p[0]));
}

__attribute__((target("mmx"))) inline void Store2(uint32_t* p, __m64 v)
{
    p[0] = static_cast<uint32_t>(_mm_cvtsi64_si32(v));
    p[1] = static_cast<uint32_t>(_mm_cvtsi64_si32(_mm_srli_si64(v, 32)));
}

// Two neighbouring words of the recurrence: words i and i + 1 from i, i + 1, i + 2 and
// the two words "ahead".
__attribute__((target("mmx"))) inline void TwistPair(uint32_t* mt, int i, const uint32_t* ahead)
{
    const __m64 upper = _mm_set1_pi32(static_cast<int>(kUpper));
    const __m64 lower = _mm_set1_pi32(static_cast<int>(kLower));
    const __m64 matrix = _mm_set1_pi32(static_cast<int>(kMatrixA));
    const __m64 y = _mm_or_si64(_mm_and_si64(Load2(mt + i), upper), _mm_and_si64(Load2(mt + i + 1), lower));
    // All ones where the low bit of y is set.
    const __m64 odd = _mm_srai_pi32(_mm_slli_pi32(y, 31), 31);
    const __m64 r = _mm_xor_si64(_mm_xor_si64(Load2(ahead), _mm_srli_pi32(y, 1)), _mm_and_si64(odd, matrix));
    Store2(mt + i, r);
}

__attribute__((target("mmx"))) inline void TemperPair(const uint32_t* in, uint32_t* out)
{
    __m64 y = Load2(in);
    y = _mm_xor_si64(y, _mm_srli_pi32(y, 11));
    y = _mm_xor_si64(y, _mm_and_si64(_mm_slli_pi32(y, 7), _mm_set1_pi32(static_cast<int>(0x9D2C5680u))));
    y = _mm_xor_si64(y, _mm_and_si64(_mm_slli_pi32(y, 15), _mm_set1_pi32(static_cast<int>(0xEFC60000u))));
    y = _mm_xor_si64(y, _mm_srli_pi32(y, 18));
    Store2(out, y);
}

}  // namespace

__attribute__((target("mmx"))) void RefillRandomStateMmx()
{
    uint32_t* mt = g_random.state;
    // Words 0 .. 225 in pairs read only words not yet renewed; 226 stands alone.
    int i = 0;
    for (; i + 1 < kN - kM; i += 2) TwistPair(mt, i, mt + i + kM);
    mt[i] = Twist(mt[i], mt[i + 1], mt[i + kM]);
    ++i;
    // Words 227 .. 622: the words ahead are renewed ones, 227 and more places back.
    for (; i + 1 < kN - 1; i += 2) TwistPair(mt, i, mt + i + kM - kN);
    mt[kN] = mt[0];
    mt[kN - 1] = Twist(mt[kN - 1], mt[kN], mt[kM - 1]);
    for (int k = 0; k < kN; k += 2) TemperPair(mt + k, g_random.output + k);
    _mm_empty();
    g_random.index = 0;
}

#else

void RefillRandomStateMmx() { RefillRandomState(); }

#endif

uint32_t DrawRandomWord()
{
    if (!g_random.seeded) SeedRandomGenerator(0);
    if (g_random.index >= kN) {
        if (g_random.useMmx) RefillRandomStateMmx();
        else RefillRandomState();
    }
    return g_random.output[g_random.index++];
}
