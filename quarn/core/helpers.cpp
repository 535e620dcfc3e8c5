// String, memory and arithmetic helpers that know the library's two text forms: UTF-16 with
// surrogate pairs, and 8-bit text in a double-byte code page.

#include "quarn/core/core.h"

#include <cmath>
#include <cstring>

namespace {

int s_characterCodeFormat;

// Units a character starting at p takes: 2 for a surrogate pair, else 1. Only a high unit
// followed by a low one is a pair: a lone high unit stands alone, so that the character
// after it (a path separator, say) is still seen.
int CharacterUnits(const wchar_t* p) { return IsHighSurrogateUnit(p[0]) && p[1] >= 0xDC00 && p[1] <= 0xDFFF ? 2 : 1; }

// Bytes a character starting at p takes in the current code page.
int CharacterUnits(const char* p)
{
    return IsDoubleByteLead(reinterpret_cast<const unsigned char*>(p), s_characterCodeFormat) && p[1] != 0 ? 2 : 1;
}

// The first ch that stands as a character of its own (not inside a double-byte character or
// a surrogate pair), or nullptr.
template <class Char>
Char* FindWholeChar(const Char* text, Char ch)
{
    for (const Char* p = text; *p != 0;) {
        const int units = CharacterUnits(p);
        if (units == 1 && *p == ch) return const_cast<Char*>(p);
        p += units;
    }
    return nullptr;
}

// Turns a to z into A to Z where they stand as characters of their own; returns the end.
template <class Char>
Char* UpperCaseWholeLetters(Char* text)
{
    Char* p = text;
    while (*p != 0) {
        const int units = CharacterUnits(p);
        if (units == 1 && *p >= Char('a') && *p <= Char('z')) *p = static_cast<Char>(*p - Char('a') + Char('A'));
        p += units;
    }
    return p;
}

}  // namespace

int CharacterCodeFormatFromCodePage(uint32_t codePage)
{
    switch (codePage) {
    case 932: return 1;
    case 949: return 2;
    case 950: return 3;
    case 936: return 4;
    default: return 0;
    }
}

void SetCharacterCodeFormat(int format) { s_characterCodeFormat = format; }

int GetCharacterCodeFormat() { return s_characterCodeFormat; }

int IsHighSurrogateUnit(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF ? 1 : 0; }

int IsDoubleByteLead(const unsigned char* byte, int format)
{
    const unsigned b = *byte;
    if (format < 2 || format > 4) return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC) ? 1 : 0;
    return b >= 0x80 ? 1 : 0;
}

void CopyNarrowString(char* dst, const char* src)
{
    while ((*dst++ = *src++) != 0) {
    }
}

void CopyWideString(wchar_t* dst, const wchar_t* src)
{
    while ((*dst++ = *src++) != 0) {
    }
}

void CopyWideStringLimited(wchar_t* dst, const wchar_t* src, int maxUnits)
{
    int i = 0;
    for (; i < maxUnits && src[i] != 0; ++i) dst[i] = src[i];
    dst[i] = 0;
}

int CountWideUnits(const wchar_t* text)
{
    int n = 0;
    while (text[n] != 0) ++n;
    return n;
}

char* FindNarrowChar(const char* text, char ch) { return FindWholeChar(text, ch); }

wchar_t* FindWideChar(const wchar_t* text, wchar_t unit) { return FindWholeChar(text, unit); }

int CompareNarrowStrings(const char* a, const char* b)
{
    for (; *a == *b; ++a, ++b) {
        if (*a == 0) return 0;
    }
    return 1;
}

int CompareWideStrings(const wchar_t* a, const wchar_t* b)
{
    for (; *a == *b; ++a, ++b) {
        if (*a == 0) return 0;
    }
    return 1;
}

int CompareWideStringsLimited(const wchar_t* a, const wchar_t* b, int count)
{
    if (count < 0) return 1;
    for (int i = 0; i < count; ++i) {
        if (a[i] != b[i]) return 1;
        if (a[i] == 0) return 0;
    }
    return 0;
}

char* UpperCaseNarrowString(char* text) { return UpperCaseWholeLetters(text); }

wchar_t* UpperCaseWideString(wchar_t* text) { return UpperCaseWholeLetters(text); }

int FillBytes(void* dst, int byte, uint32_t count)
{
    if (count) std::memset(dst, byte, count);
    return byte;
}

int CompareBytes(const void* a, const void* b, uint32_t count)
{
    return count && std::memcmp(a, b, count) != 0 ? 1 : 0;
}

void CopyBytes(void* dst, const void* src, uint32_t count)
{
    if (count) std::memcpy(dst, src, count);
}

void MoveBytes(void* dst, const void* src, uint32_t count)
{
    if (count && dst != src) std::memmove(dst, src, count);
}

void ComputeSinCos(float angle, float* sine, float* cosine)
{
    *sine = std::sin(angle);
    *cosine = std::cos(angle);
}

int32_t AbsoluteInt(int32_t value)
{
    // INT32_MIN has no positive counterpart; like the processor's negate, it stays itself.
    return value < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(value)) : value;
}

float AbsoluteFloat(float value) { return std::fabs(value); }

int32_t TruncateDoubleToInt(double value)
{
    // Outside the range (and NaN) the result is the processor's "integer indefinite".
    if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(value);
}

int32_t TruncateFloatToInt(float value) { return TruncateDoubleToInt(value); }

float SquareRootFloat(float value) { return std::sqrt(value); }

wchar_t* FormatIntegerWide(int32_t value, wchar_t* out, int radix)
{
    if (radix < 2 || radix > 36) {
        out[0] = 0;
        return out;
    }
    wchar_t digits[34];
    int n = 0;
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        const uint32_t d = magnitude % static_cast<uint32_t>(radix);
        digits[n++] = static_cast<wchar_t>(d < 10 ? L'0' + d : L'a' + (d - 10));
        magnitude /= static_cast<uint32_t>(radix);
    } while (magnitude != 0);
    int o = 0;
    if (value < 0) out[o++] = L'-';
    while (n > 0) out[o++] = digits[--n];
    out[o] = 0;
    return out;
}

void Multiply64To128(const uint64_t* a, const uint64_t* b, UInt128* product)
{
    const uint64_t aLo = *a & 0xFFFFFFFFu, aHi = *a >> 32;
    const uint64_t bLo = *b & 0xFFFFFFFFu, bHi = *b >> 32;
    const uint64_t ll = aLo * bLo, lh = aLo * bHi, hl = aHi * bLo, hh = aHi * bHi;
    // Middle column: the high half of ll plus the low halves of the cross products.
    const uint64_t mid = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
    const uint64_t high = hh + (lh >> 32) + (hl >> 32) + (mid >> 32);
    product->word[0] = static_cast<uint32_t>(ll);
    product->word[1] = static_cast<uint32_t>(mid);
    product->word[2] = static_cast<uint32_t>(high);
    product->word[3] = static_cast<uint32_t>(high >> 32);
}

void Divide128By64(const UInt128* dividend, const uint64_t* divisor, uint64_t* quotient)
{
    if (*divisor == 0) {
        *quotient = 0;
        return;
    }
    uint64_t hi = (uint64_t(dividend->word[3]) << 32) | dividend->word[2];
    uint64_t lo = (uint64_t(dividend->word[1]) << 32) | dividend->word[0];
    // Restoring long division, one quotient bit per dividend bit from the top.
    uint64_t remainder = 0;
    uint64_t q = 0;
    for (int bit = 127; bit >= 0; --bit) {
        const uint64_t incoming = bit >= 64 ? (hi >> (bit - 64)) & 1 : (lo >> bit) & 1;
        const bool overflow = (remainder >> 63) != 0;
        remainder = (remainder << 1) | incoming;
        if (overflow || remainder >= *divisor) {
            remainder -= *divisor;
            if (bit < 64) q |= uint64_t(1) << bit;
        }
    }
    *quotient = q;
}
