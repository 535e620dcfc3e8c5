// lib::biginteger against GMP. Input: a base byte, then two operand texts (a length byte and
// that many bytes each), then a byte of raw text's length and the raw text.
//
// The operands' bytes are made digits of the base (any case, an optional sign); every base
// from 2 to 36 reads and writes them as GMP does. Sums, products, floored quotients and
// remainders and comparisons equal GMP's, also with the result aliasing an operand, the
// divisor aliasing the dividend or the quotient, and zero divisors. Raw text, and bases
// outside 2..36, are read exactly when they are digits of the base, and a refused read
// leaves the value as it was.
#include <compare>
#include <stdexcept>

#include "fuzz_gmp.h"

namespace {

using lib::biginteger;
using fuzz::Mpz;
using fuzz::Same;

// The value of a character as a digit (either case), or 99.
unsigned DigitValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') return unsigned(c - L'0');
    if (c >= L'A' && c <= L'Z') return unsigned(c - L'A') + 10;
    if (c >= L'a' && c <= L'z') return unsigned(c - L'a') + 10;
    return 99;
}

// An operand's text: each byte a digit of the base, in either case; "-" or "+" in front.
std::wstring OperandText(fuzz::Input& in, unsigned base)
{
    const size_t length = in.Byte() % 80;
    const uint8_t signByte = in.Byte();
    std::wstring text;
    if (signByte % 4 == 1) text += L'-';
    if (signByte % 4 == 2) text += L'+';
    const std::string bytes = in.Bytes(length);
    for (unsigned char b : bytes) {
        const unsigned d = b % base;
        const bool upper = b & 0x80;
        text += wchar_t(d < 10 ? L'0' + d : (upper ? L'A' : L'a') + (d - 10));
    }
    if (text.empty() || text == L"-" || text == L"+") text += L'0';
    return text;
}

// GMP's reading of a text that is a sign and digits of the base: "+" dropped, an empty
// digit string read as 0.
void ReadGmp(const std::wstring& text, unsigned base, mpz_t out)
{
    std::string narrow;
    size_t from = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == L'-' || text[0] == L'+')) {
        negative = text[0] == L'-';
        from = 1;
    }
    for (size_t i = from; i < text.size(); ++i) narrow += char(text[i]);
    if (narrow.empty()) {
        mpz_set_ui(out, 0);
        return;
    }
    FUZZ_CHECK(mpz_set_str(out, narrow.c_str(), int(base)) == 0);
    if (negative) mpz_neg(out, out);
}

// GMP's text of a value in upper case, as to_str writes it.
std::wstring GmpText(const mpz_t v, unsigned base)
{
    char* s = mpz_get_str(nullptr, -int(base), v);
    std::wstring text(s, s + std::char_traits<char>::length(s));
    void (*release)(void*, size_t);
    mp_get_memory_functions(nullptr, nullptr, &release);
    release(s, std::char_traits<char>::length(s) + 1);
    return text;
}

void CheckText(const biginteger& x, const mpz_t v, unsigned base) { FUZZ_CHECK(x.to_str(base) == GmpText(v, base)); }

template <class F>
bool Throws(F&& f)
{
    try {
        f();
    } catch (const std::out_of_range&) {
        return true;
    }
    return false;
}

void CheckArithmetic(const biginteger& a, const mpz_t ga, const biginteger& b, const mpz_t gb)
{
    Mpz want, want2;

    // Comparison.
    const int c = mpz_cmp(ga, gb);
    FUZZ_CHECK(biginteger::compare(a, b) == (c > 0) - (c < 0));
    FUZZ_CHECK((a == b) == (c == 0));
    FUZZ_CHECK(((a <=> b) < 0) == (c < 0));

    // Sums, also into an operand and of a value with itself.
    mpz_add(want.v, ga, gb);
    FUZZ_CHECK(Same(a + b, want.v));
    biginteger x = a;
    biginteger::add(x, x, b);
    FUZZ_CHECK(Same(x, want.v));
    x = b;
    x += a;
    FUZZ_CHECK(Same(x, want.v));
    x = a;
    biginteger::add(x, x, x);
    mpz_add(want.v, ga, ga);
    FUZZ_CHECK(Same(x, want.v));

    // Products, likewise.
    mpz_mul(want.v, ga, gb);
    FUZZ_CHECK(Same(a * b, want.v));
    x = b;
    biginteger::multiply(x, a, x);
    FUZZ_CHECK(Same(x, want.v));
    x = a;
    biginteger::multiply(x, x, x);
    mpz_mul(want.v, ga, ga);
    FUZZ_CHECK(Same(x, want.v));

    // Floored division.
    if (mpz_sgn(gb) == 0) {
        // The operators refuse a zero divisor before changing anything; divide() gives 0.
        x = a;
        FUZZ_CHECK(Throws([&] { x /= b; }));
        FUZZ_CHECK(Throws([&] { (void)(a / b); }));
        FUZZ_CHECK(Throws([&] { (void)(a % b); }));
        FUZZ_CHECK(Same(x, ga));
        biginteger q = a;
        x.divide(b, q);
        FUZZ_CHECK(Same(x, ga) && q.is_zero());
    } else {
        mpz_fdiv_qr(want.v, want2.v, ga, gb);
        FUZZ_CHECK(Same(a / b, want.v));
        FUZZ_CHECK(Same(a % b, want2.v));
        x = a;
        x /= b;
        FUZZ_CHECK(Same(x, want.v));
        biginteger q;
        x = a;
        x.divide(b, q);
        FUZZ_CHECK(Same(q, want.v) && Same(x, want2.v));
        // The divisor as the quotient's own record.
        q = b;
        x = a;
        x.divide(q, q);
        FUZZ_CHECK(Same(q, want.v) && Same(x, want2.v));
    }
    // The dividend as its own divisor: 1 remainder 0, or nothing for 0.
    x = a;
    biginteger q;
    x.divide(x, q);
    mpz_set_ui(want.v, mpz_sgn(ga) != 0);
    FUZZ_CHECK(Same(q, want.v));
    FUZZ_CHECK(mpz_sgn(ga) == 0 ? Same(x, ga) : x.is_zero());
    // The quotient cannot be the dividend's own record: refused, the value kept.
    biginteger self = a;
    bool refused = false;
    try {
        self.divide(b, self);
    } catch (const std::invalid_argument&) {
        refused = true;
    }
    FUZZ_CHECK(refused && Same(self, ga));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in{data, size};
    const unsigned base = 2 + in.Byte() % 35;
    const std::wstring ta = OperandText(in, base), tb = OperandText(in, base);

    biginteger a, b;
    a.set_str(ta, base);
    b.set_str(tb, base);
    Mpz ga, gb;
    ReadGmp(ta, base, ga.v);
    ReadGmp(tb, base, gb.v);
    FUZZ_CHECK(Same(a, ga.v) && Same(b, gb.v));
    // Written in this base and in another.
    const unsigned other = 2 + in.Byte() % 35;
    for (unsigned k : {base, other}) {
        CheckText(a, ga.v, k);
        CheckText(b, gb.v, k);
    }
    CheckArithmetic(a, ga.v, b, gb.v);
    CheckArithmetic(b, gb.v, a, ga.v);

    // Raw text in any base byte, valid or not.
    const unsigned rawBase = in.Byte() % 40;
    const std::string rawBytes = in.Bytes(in.Byte() % 64);
    std::wstring raw;
    for (unsigned char c : rawBytes) raw += wchar_t(c);
    const bool baseOk = rawBase >= 2 && rawBase <= 36;
    const size_t from = !raw.empty() && (raw[0] == L'-' || raw[0] == L'+') ? 1 : 0;
    bool digitsOk = !raw.empty();
    for (size_t i = from; i < raw.size(); ++i) digitsOk = digitsOk && DigitValue(raw[i]) < rawBase;
    biginteger r = a;
    bool read = true;
    try {
        r.set_str(raw, rawBase);
    } catch (const std::exception&) {
        read = false;
    }
    FUZZ_CHECK(read == (baseOk && digitsOk));
    if (read) {
        Mpz gr;
        ReadGmp(raw, rawBase, gr.v);
        FUZZ_CHECK(Same(r, gr.v));
    } else {
        FUZZ_CHECK(Same(r, ga.v));
    }
    if (!baseOk) FUZZ_CHECK(Throws([&] { (void)a.to_str(rawBase); }));
    return 0;
}
