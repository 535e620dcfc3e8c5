// Signed arbitrary-precision integers: a sign over an unsigned magnitude.
//
// Division is floored: the quotient is rounded toward negative infinity and a nonzero
// remainder takes the divisor's sign, so -7 / 2 is -4 remainder 1 and 7 / -2 is -4
// remainder -1. There is no subtraction: adding a negative value subtracts.
#pragma once

#include <compare>
#include <cstdint>
#include <string>

#include "lib/ubase.h"
#include "lib/uint.h"

namespace lib {

struct biginteger {
    std::int32_t sign = 0;  // -1 negative, 0 zero, 1 positive; 0 exactly when magnitude is 0
    uint magnitude;

    biginteger() = default;
    biginteger(const biginteger& x) { copy_from(x); }
    biginteger(biginteger&& x) noexcept : sign(x.sign), magnitude(static_cast<uint&&>(x.magnitude)) { x.sign = 0; }
    ~biginteger() { free_magnitude(); }
    biginteger& operator=(const biginteger& x);
    biginteger& operator=(biginteger&& x) noexcept;

    // A copy of m with sign 1, or 0 when m is 0.
    static biginteger from_uint(const uint& m);
    // A copy of m, then set_sign(s).
    static biginteger from_uint_sign(const uint& m, std::int32_t s);

    void copy_from(const biginteger& x);
    void free_magnitude();
    // 1 or -1 set that sign (0 for a zero magnitude); 0 only for a zero magnitude. Anything
    // else throws std::invalid_argument and changes nothing.
    void set_sign(std::int32_t s);

    static int compare(const biginteger& a, const biginteger& b);
    // result = a + b and result = a * b; result may be a or b.
    static void add(biginteger& result, const biginteger& a, const biginteger& b);
    static void multiply(biginteger& result, const biginteger& a, const biginteger& b);
    // Floored division: q = floor(*this / d) and *this becomes *this - q * d. A zero divisor
    // gives q = 0 and leaves *this alone (the operators below refuse it instead). q must not
    // be *this; d may be either.
    void divide(const biginteger& d, biginteger& q);

    // Digit text, "-" before a negative value, no sign otherwise, "0" for zero.
    std::wstring to_str(unsigned base = 10) const;
    // Reads an optional "-" or "+" and then digits. An empty text throws; a failing read
    // leaves the value as it was.
    void set_str(const std::wstring& text, unsigned base = 10);

    bool is_zero() const { return sign == 0; }

    // Division operators throw std::out_of_range for a zero divisor before changing anything.
    biginteger& operator/=(const biginteger& d);
    biginteger& operator+=(const biginteger& b);
    friend biginteger operator*(const biginteger& a, const biginteger& b);
    friend biginteger operator%(const biginteger& a, const biginteger& d);
    friend biginteger operator/(const biginteger& a, const biginteger& d);
    friend biginteger operator+(const biginteger& a, const biginteger& b);
    friend bool operator==(const biginteger& a, const biginteger& b) { return compare(a, b) == 0; }
    friend std::strong_ordering operator<=>(const biginteger& a, const biginteger& b) { return compare(a, b) <=> 0; }
};

}  // namespace lib
