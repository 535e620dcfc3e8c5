#include "lib/uint.h"

#include <bit>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace lib {

namespace {

const char kSubtractNegative[] = "uint subtract results negative";

// Word j of b shifted left by k bits, for j = 0 .. nb (word nb holds the bits shifted out of
// the top). A shift by 32 is undefined, so the bits coming in from below are 0 at k = 0.
inline std::uint32_t shifted_word(const std::uint32_t* b, std::uint32_t nb, std::uint32_t j, unsigned k)
{
    std::uint32_t high = j < nb ? b[j] << k : 0;
    std::uint32_t low = (j > 0 && k > 0) ? b[j - 1] >> (32 - k) : 0;
    return high | low;
}

// x + y + carry, carry in and out as 0 or 1.
inline std::uint32_t add_carry(std::uint32_t x, std::uint32_t y, std::uint32_t& carry)
{
    std::uint32_t s = x + y;
    std::uint32_t c = s < x;
    std::uint32_t r = s + carry;
    carry = c | (r < s);
    return r;
}

// x - y - borrow, borrow in and out as 0 or 1.
inline std::uint32_t sub_borrow(std::uint32_t x, std::uint32_t y, std::uint32_t& borrow)
{
    std::uint32_t d = x - y;
    std::uint32_t b = x < y;
    std::uint32_t r = d - borrow;
    borrow = b | (d < borrow);
    return r;
}

void trim(uint& x)
{
    while (x.size > 0 && x.limbs[x.size - 1] == 0) --x.size;
}

}  // namespace

uint& uint::operator=(uint&& x) noexcept
{
    if (this != &x) {
        free_limbs();
        capacity = x.capacity;
        size = x.size;
        limbs = x.limbs;
        x.clear();
    }
    return *this;
}

uint uint::from_word(std::uint32_t w)
{
    uint r;
    if (w != 0) {
        r.limbs = new std::uint32_t[1];
        r.capacity = 1;
        r.size = 1;
        r.limbs[0] = w;
    }
    return r;
}

uint uint::from_short(std::uint16_t s) { return from_word(s); }

void uint::copy_from(const uint& x)
{
    if (this == &x) return;
    std::uint32_t* fresh = x.size ? new std::uint32_t[x.size] : nullptr;
    if (x.size) std::memcpy(fresh, x.limbs, x.size * sizeof(std::uint32_t));
    delete[] limbs;
    limbs = fresh;
    capacity = x.size;
    size = x.size;
}

void uint::free_limbs()
{
    delete[] limbs;
    clear();
}

void uint::clear()
{
    capacity = 0;
    size = 0;
    limbs = nullptr;
}

void uint::assign(const uint& x)
{
    if (this == &x) return;
    if (x.size > capacity) {
        std::uint32_t* fresh = new std::uint32_t[x.size];
        delete[] limbs;
        limbs = fresh;
        capacity = x.size;
    }
    size = x.size;
    if (size) std::memcpy(limbs, x.limbs, size * sizeof(std::uint32_t));
}

void uint::reserve_discard(std::uint32_t n)
{
    if (n <= capacity) return;
    std::uint32_t* fresh = new std::uint32_t[n];
    delete[] limbs;
    limbs = fresh;
    capacity = n;
}

void uint::reserve_keep(std::uint32_t n)
{
    if (n <= capacity) return;
    std::uint32_t* fresh = new std::uint32_t[n];
    if (size) std::memcpy(fresh, limbs, size * sizeof(std::uint32_t));
    delete[] limbs;
    limbs = fresh;
    capacity = n;
}

int uint::compare(const uint& a, const uint& b)
{
    if (a.size != b.size) return a.size < b.size ? -1 : 1;
    for (std::uint32_t i = a.size; i-- > 0;) {
        if (a.limbs[i] != b.limbs[i]) return a.limbs[i] < b.limbs[i] ? -1 : 1;
    }
    return 0;
}

void uint::add(uint& result, const uint& a, const uint& b)
{
    if (&result == &a || &result == &b) {
        uint sum;
        add(sum, a, b);
        result.assign(sum);
        return;
    }
    if (a.size == 0) {
        result.assign(b);
        return;
    }
    if (b.size == 0) {
        result.assign(a);
        return;
    }
    if (a.size >= b.size) add_limbs(result, a, b);
    else add_limbs(result, b, a);
}

void uint::add_limbs(uint& result, const uint& L, const uint& S)
{
    // Also reachable directly: keep it safe when the result is an operand (the array may be
    // replaced below) or the operands come in the wrong order.
    if (&result == &L || &result == &S) {
        uint sum;
        add_limbs(sum, L, S);
        result.assign(sum);
        return;
    }
    if (L.size < S.size) {
        add_limbs(result, S, L);
        return;
    }
    std::uint32_t n = L.size + 1;
    result.reserve_discard(n);
    result.size = n;
    std::uint32_t carry = 0;
    std::uint32_t i = 0;
    for (; i < S.size; ++i) result.limbs[i] = add_carry(L.limbs[i], S.limbs[i], carry);
    for (; i < L.size && carry; ++i) {
        result.limbs[i] = L.limbs[i] + 1;
        carry = result.limbs[i] == 0;
    }
    for (; i < L.size; ++i) result.limbs[i] = L.limbs[i];
    if (carry) result.limbs[L.size] = 1;
    else result.size = L.size;
}

void uint::subtract(uint& result, const uint& a, const uint& b)
{
    if (&result == &a || &result == &b) {
        uint difference;
        subtract(difference, a, b);
        result.assign(difference);
        return;
    }
    if (b.size == 0) {
        result.assign(a);
        return;
    }
    if (a.size < b.size) throw std::invalid_argument(kSubtractNegative);
    result.reserve_discard(a.size);
    result.size = a.size;
    std::uint32_t borrow = 0;
    std::uint32_t i = 0;
    for (; i < b.size; ++i) result.limbs[i] = sub_borrow(a.limbs[i], b.limbs[i], borrow);
    for (; i < a.size && borrow; ++i) {
        result.limbs[i] = a.limbs[i] - 1;
        borrow = a.limbs[i] == 0;
    }
    for (; i < a.size; ++i) result.limbs[i] = a.limbs[i];
    if (borrow) {
        result.size = 0;
        throw std::invalid_argument(kSubtractNegative);
    }
    trim(result);
}

void uint::multiply(uint& result, const uint& a, const uint& b)
{
    if (&result == &a || &result == &b) {
        uint product;
        multiply(product, a, b);
        result.assign(product);
        return;
    }
    if (a.size == 0 || b.size == 0) {
        result.size = 0;
        return;
    }
    const std::uint32_t n = a.size + b.size;
    result.reserve_discard(n);
    result.size = n;
    std::uint32_t* r = result.limbs;
    std::memset(r, 0, n * sizeof(std::uint32_t));
    for (std::uint32_t i = 0; i < a.size; ++i) {
        const std::uint32_t w = a.limbs[i];
        for (unsigned k = 0; k < 32; ++k) {
            if (!((w >> k) & 1)) continue;
            std::uint32_t carry = 0;
            for (std::uint32_t j = 0; j <= b.size; ++j)
                r[i + j] = add_carry(r[i + j], shifted_word(b.limbs, b.size, j, k), carry);
            // The partial sums never exceed the product, which fits in n limbs.
            for (std::uint32_t t = i + b.size + 1; carry && t < n; ++t) carry = ++r[t] == 0;
        }
    }
    if (r[n - 1] == 0) --result.size;
}

void uint::divide(const uint& d, uint& q)
{
    if (&q == this) throw std::invalid_argument("uint try to store quotient and remainder into this");
    if (&d == this || &d == &q) {
        uint divisor(d);
        divide(divisor, q);
        return;
    }
    if (d.size == 0 || size < d.size) {
        q.size = 0;
        return;
    }
    const std::uint32_t n = size;
    const std::uint32_t m = d.size;

    // Every allocation comes first, so that running out of memory leaves both values sound.
    reserve_keep(n + 1);
    std::uint32_t small[16];
    std::unique_ptr<std::uint32_t[]> large;
    std::uint32_t* scratch = small;
    if (n + 1 > 16) {
        large.reset(new std::uint32_t[n + 1]);
        scratch = large.get();
    }
    q.reserve_discard(n - m + 1);

    std::uint32_t* a = limbs;
    a[n] = 0;
    size = n + 1;
    q.size = n - m + 1;
    std::memset(q.limbs, 0, q.size * sizeof(std::uint32_t));

    // Highest nonzero limb of the running remainder: a borrow carried past it can only run
    // on through zero limbs, so the trial subtraction has failed.
    std::uint32_t top = n - 1;
    // A shifted divisor with more bits than the remainder cannot fit: those trials are
    // decided without subtracting.
    const std::uint64_t divisor_bits = 32ull * (m - 1) + std::bit_width(d.limbs[m - 1]);
    std::uint64_t remainder_bits = 32ull * top + std::bit_width(a[top]);

    for (std::uint32_t t = n - m + 1; t-- > 0;) {
        for (unsigned k = 32; k-- > 0;) {
            if (divisor_bits + 32ull * t + k > remainder_bits) continue;
            std::uint32_t borrow = 0;
            for (std::uint32_t j = 0; j <= m; ++j)
                scratch[t + j] = sub_borrow(a[t + j], shifted_word(d.limbs, m, j, k), borrow);
            std::uint32_t last = t + m;
            for (std::uint32_t j = t + m + 1; borrow && j <= top; ++j) {
                scratch[j] = a[j] - 1;
                borrow = a[j] == 0;
                last = j;
            }
            if (borrow) continue;
            q.limbs[t] |= std::uint32_t(1) << k;
            std::memcpy(a + t, scratch + t, (last - t + 1) * sizeof(std::uint32_t));
            if (last >= top) {
                top = last;
                while (top > 0 && a[top] == 0) --top;
                remainder_bits = 32ull * top + std::bit_width(a[top]);
            }
        }
    }
    if (q.size > 0 && q.limbs[q.size - 1] == 0) --q.size;
    trim(*this);
}

uint& uint::incr()
{
    for (std::uint32_t i = 0; i < size; ++i) {
        if (++limbs[i] != 0) return *this;
    }
    // Every limb wrapped to 0 (or there was none): one more limb holds the carry.
    reserve_keep(size + 1);
    limbs[size] = 1;
    ++size;
    return *this;
}

uint& uint::decr()
{
    if (size == 0) throw std::out_of_range("uint decr. negative");
    std::uint32_t i = 0;
    while (limbs[i]-- == 0) ++i;
    if (limbs[size - 1] == 0) --size;
    return *this;
}

std::uint16_t uint::to_primitive() const
{
    if (size == 0) return 0;
    if (size == 1 && limbs[0] < 65536) return static_cast<std::uint16_t>(limbs[0]);
    throw std::out_of_range("@lib::uint::to_primitive");
}

}  // namespace lib
