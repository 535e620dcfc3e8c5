#include "lib/ubase.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace lib {

namespace {

const char kBaseTooLarge[] = "ubase base is too large (base>36)";
const char kBaseTooSmall[] = "ubase base is too small (base<2)";
const char kDigitTooLarge[] = "ubase digit is too large";

// A base below 2 would never finish turning a value into digits, so it is refused too.
void check_base(unsigned base)
{
    if (base > 36) throw std::out_of_range(kBaseTooLarge);
    if (base < 2) throw std::out_of_range(kBaseTooSmall);
}

unsigned bit_length(unsigned x)
{
    unsigned n = 0;
    for (; x; x >>= 1) ++n;
    return n;
}

}  // namespace

ubase::ubase(const ubase& r) : capacity(r.count), count(r.count), base(r.base)
{
    if (count) {
        digits = new std::uint16_t[count];
        std::memcpy(digits, r.digits, count * sizeof(std::uint16_t));
    }
}

ubase::ubase(ubase&& r) noexcept : capacity(r.capacity), count(r.count), digits(r.digits), base(r.base)
{
    r.capacity = 0;
    r.count = 0;
    r.digits = nullptr;
}

ubase& ubase::operator=(const ubase& r)
{
    if (this != &r) {
        ubase copy(r);
        *this = static_cast<ubase&&>(copy);
    }
    return *this;
}

ubase& ubase::operator=(ubase&& r) noexcept
{
    if (this != &r) {
        delete[] digits;
        capacity = r.capacity;
        count = r.count;
        digits = r.digits;
        base = r.base;
        r.capacity = 0;
        r.count = 0;
        r.digits = nullptr;
    }
    return *this;
}

ubase ubase::from_uint(const uint& m, unsigned base)
{
    check_base(base);
    ubase r;
    r.base = static_cast<std::uint16_t>(base);
    // Each digit carries at least bit_length(base) - 1 bits, so this many always suffice.
    const std::uint64_t bits = std::uint64_t(32) * m.size;
    const unsigned per_digit = bit_length(base) - 1;
    const std::uint64_t cap = (bits + per_digit - 1) / per_digit;
    if (cap > 0xFFFFFFFFu) throw std::bad_alloc();
    if (cap) {
        r.digits = new std::uint16_t[cap];
        r.capacity = static_cast<std::uint32_t>(cap);
    }
    uint value(m);
    uint remainder;
    const uint divisor = uint::from_word(base);
    while (!value.is_zero()) {
        remainder.assign(value);
        remainder.divide(divisor, value);
        r.digits[r.count++] = remainder.to_primitive();
    }
    return r;
}

uint ubase::to_uint(const ubase& r)
{
    uint value;
    uint scaled;
    const uint base = uint::from_word(r.base);
    uint digit = uint::from_word(1);  // one limb, reused for every digit
    for (std::uint32_t i = r.count; i-- > 0;) {
        // The base goes first: shift-and-add multiplication costs one pass per set bit of
        // its first operand.
        uint::multiply(scaled, base, value);
        digit.limbs[0] = r.digits[i];
        digit.size = r.digits[i] != 0;
        uint::add(value, scaled, digit);
    }
    return value;
}

std::wstring ubase::to_text(const ubase& r)
{
    if (r.base > 36) throw std::out_of_range(kBaseTooLarge);
    if (r.count == 0) return L"0";
    std::wstring text;
    text.reserve(r.count);
    for (std::uint32_t i = r.count; i-- > 0;) {
        const unsigned digit = r.digits[i];
        if (digit >= r.base) throw std::out_of_range(kDigitTooLarge);
        text.push_back(static_cast<wchar_t>(digit < 10 ? L'0' + digit : L'A' + (digit - 10)));
    }
    return text;
}

ubase ubase::from_text(const std::wstring& text, unsigned base)
{
    check_base(base);
    if (text.size() > 0xFFFFFFFFu) throw std::bad_alloc();
    ubase r;
    r.base = static_cast<std::uint16_t>(base);
    const std::uint32_t length = static_cast<std::uint32_t>(text.size());
    if (length) {
        r.digits = new std::uint16_t[length];
        r.capacity = length;
        r.count = length;
    }
    for (std::uint32_t i = 0; i < length; ++i) {
        const wchar_t c = text[length - 1 - i];
        unsigned digit;
        if (c >= L'0' && c <= L'9') digit = static_cast<unsigned>(c - L'0');
        else if (c >= L'A' && c <= L'Z') digit = static_cast<unsigned>(c - L'A') + 10;
        else if (c >= L'a' && c <= L'z') digit = static_cast<unsigned>(c - L'a') + 10;
        else throw std::out_of_range("ubase bad symbol in input [^0-9A-Za-z]");
        if (digit >= base) throw std::out_of_range(kDigitTooLarge);
        r.digits[i] = static_cast<std::uint16_t>(digit);
    }
    while (r.count > 0 && r.digits[r.count - 1] == 0) --r.count;
    return r;
}

}  // namespace lib
