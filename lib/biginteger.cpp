#include "lib/biginteger.h"

#include <stdexcept>

namespace lib {

namespace {

void make_zero(biginteger& x)
{
    x.sign = 0;
    x.magnitude.size = 0;
}

// Floored division of a copy of a by d: q gets the quotient and the copy, returned, the
// remainder. A zero divisor is refused with the operator's message before anything changes.
biginteger divide_copy(const biginteger& a, const biginteger& d, biginteger& q, const char* operation)
{
    if (d.sign == 0) throw std::out_of_range(operation);
    // The division needs one limb more than the dividend: make room for it in the copy.
    biginteger r;
    r.magnitude.reserve_discard(a.magnitude.size + 1);
    r = a;
    r.divide(d, q);
    return r;
}

// The digits of a text without its sign, as a magnitude.
uint read_digits(const std::wstring& text, std::size_t from, unsigned base)
{
    return ubase::to_uint(ubase::from_text(text.substr(from), base));
}

}  // namespace

biginteger& biginteger::operator=(const biginteger& x)
{
    if (this != &x) {
        sign = x.sign;
        magnitude.assign(x.magnitude);
    }
    return *this;
}

biginteger& biginteger::operator=(biginteger&& x) noexcept
{
    if (this != &x) {
        sign = x.sign;
        magnitude = static_cast<uint&&>(x.magnitude);
        x.sign = 0;
    }
    return *this;
}

biginteger biginteger::from_uint(const uint& m)
{
    biginteger r;
    r.magnitude.copy_from(m);
    r.sign = m.is_zero() ? 0 : 1;
    return r;
}

biginteger biginteger::from_uint_sign(const uint& m, std::int32_t s)
{
    biginteger r;
    r.magnitude.copy_from(m);
    r.set_sign(s);
    return r;
}

void biginteger::copy_from(const biginteger& x)
{
    sign = x.sign;
    magnitude.copy_from(x.magnitude);
}

void biginteger::free_magnitude()
{
    magnitude.free_limbs();
    sign = 0;
}

void biginteger::set_sign(std::int32_t s)
{
    if (s == 1 || s == -1) sign = magnitude.is_zero() ? 0 : s;
    else if (s == 0 && magnitude.is_zero()) sign = 0;
    else throw std::invalid_argument("lib.biginteger.set_sign");
}

int biginteger::compare(const biginteger& a, const biginteger& b)
{
    if (a.sign != b.sign) return a.sign < b.sign ? -1 : 1;
    switch (a.sign) {
    case 0: return 0;
    case 1: return uint::compare(a.magnitude, b.magnitude);
    case -1: return -uint::compare(a.magnitude, b.magnitude);
    default: throw std::invalid_argument("@lib::biginteger::compare");
    }
}

void biginteger::add(biginteger& result, const biginteger& a, const biginteger& b)
{
    if (&result == &a || &result == &b) {
        biginteger sum;
        add(sum, a, b);
        result = sum;
        return;
    }
    if (a.sign == 0) {
        result = b;
        return;
    }
    if (b.sign == 0) {
        result = a;
        return;
    }
    if (a.sign == b.sign) {
        uint::add(result.magnitude, a.magnitude, b.magnitude);
        result.sign = a.sign;
        return;
    }
    const int c = uint::compare(a.magnitude, b.magnitude);
    if (c == 0) {
        make_zero(result);
    } else if (c > 0) {
        uint::subtract(result.magnitude, a.magnitude, b.magnitude);
        result.sign = a.sign;
    } else {
        uint::subtract(result.magnitude, b.magnitude, a.magnitude);
        result.sign = b.sign;
    }
}

void biginteger::multiply(biginteger& result, const biginteger& a, const biginteger& b)
{
    if (&result == &a || &result == &b) {
        biginteger product;
        multiply(product, a, b);
        result = product;
        return;
    }
    if (a.sign == 0 || b.sign == 0) {
        make_zero(result);
        return;
    }
    uint::multiply(result.magnitude, a.magnitude, b.magnitude);
    result.sign = a.sign == b.sign ? 1 : -1;
}

void biginteger::divide(const biginteger& d, biginteger& q)
{
    if (&q == this)
        throw std::invalid_argument("try to store quotient and remainder into this@lib::biginteger::divide");
    if (&d == this || &d == &q) {
        biginteger divisor(d);
        divide(divisor, q);
        return;
    }
    if (d.sign == 0 || sign == 0) {
        make_zero(q);
        return;
    }
    if (sign == d.sign) {
        magnitude.divide(d.magnitude, q.magnitude);
        q.sign = 1;
    } else {
        // Floor for unlike signs: with |a| = q' * |d| + r' for |a| - 1, the floored quotient
        // is -(q' + 1) and the remainder, in the divisor's sign, |d| - 1 - r'.
        magnitude.decr();
        magnitude.divide(d.magnitude, q.magnitude);
        q.magnitude.incr();
        q.sign = -1;
        uint r;
        uint::subtract(r, d.magnitude, magnitude);
        r.decr();
        magnitude = static_cast<uint&&>(r);
    }
    sign = magnitude.is_zero() ? 0 : d.sign;
    if (q.magnitude.is_zero()) q.sign = 0;
}

std::wstring biginteger::to_str(unsigned base) const
{
    std::wstring text = ubase::to_text(ubase::from_uint(magnitude, base));
    if (sign == -1) text.insert(text.begin(), L'-');
    return text;
}

void biginteger::set_str(const std::wstring& text, unsigned base)
{
    if (text.empty()) throw std::invalid_argument("@lib::biginteger::set_str");
    biginteger value;
    if (text[0] == L'-') value = from_uint_sign(read_digits(text, 1, base), -1);
    else if (text[0] == L'+') value = from_uint_sign(read_digits(text, 1, base), 1);
    else value = from_uint(read_digits(text, 0, base));
    *this = static_cast<biginteger&&>(value);
}

biginteger& biginteger::operator/=(const biginteger& d)
{
    if (d.sign == 0) throw std::out_of_range("@lib::biginteger::operator /=");
    biginteger q;
    divide(d, q);
    *this = static_cast<biginteger&&>(q);
    return *this;
}

biginteger& biginteger::operator+=(const biginteger& b)
{
    add(*this, *this, b);
    return *this;
}

biginteger operator*(const biginteger& a, const biginteger& b)
{
    biginteger r;
    biginteger::multiply(r, a, b);
    return r;
}

biginteger operator%(const biginteger& a, const biginteger& d)
{
    biginteger q;
    return divide_copy(a, d, q, "@lib::biginteger::operator %");
}

biginteger operator/(const biginteger& a, const biginteger& d)
{
    biginteger q;
    divide_copy(a, d, q, "@lib::biginteger::operator /");
    return q;
}

biginteger operator+(const biginteger& a, const biginteger& b)
{
    biginteger r;
    biginteger::add(r, a, b);
    return r;
}

}  // namespace lib
