// Unsigned arbitrary-precision integers for the application's number library.
//
// The value is held in base 2^32, least significant limb first. Every operation leaves
// size <= capacity and a nonzero top limb, so equal values have equal sizes; the value 0 has
// size 0 and may or may not keep an array. Capacity only grows.
//
// The arithmetic uses only additions, subtractions, shifts and comparisons of 32-bit words:
// multiplication is shift-and-add and division is restoring, one bit at a time. The values
// this library exists for stay at one to three limbs, where that is cheap.
//
// Errors are standard exceptions whose message names the operation.
#pragma once

#include <cstdint>

namespace lib {

struct uint {
    std::uint32_t capacity = 0;      // limbs allocated
    std::uint32_t size = 0;          // limbs in use; 0 is the value 0
    std::uint32_t* limbs = nullptr;  // array new / delete

    uint() = default;
    uint(const uint& x) { copy_from(x); }
    uint(uint&& x) noexcept : capacity(x.capacity), size(x.size), limbs(x.limbs) { x.clear(); }
    ~uint() { free_limbs(); }
    uint& operator=(const uint& x)
    {
        assign(x);
        return *this;
    }
    uint& operator=(uint&& x) noexcept;

    // 0 gives an empty value without an array; anything else one limb.
    static uint from_word(std::uint32_t w);
    static uint from_short(std::uint16_t s);

    // Becomes an exact copy of x: capacity = size of x. Any array held before is freed.
    void copy_from(const uint& x);
    // Frees the array and leaves the empty value.
    void free_limbs();
    // Zeroes the three fields without freeing; for handing the array to another owner.
    void clear();
    // Assignment: reuses the array when it is large enough, otherwise allocates exactly
    // size limbs. Assigning an object to itself does nothing.
    void assign(const uint& x);
    // Makes room for n limbs when capacity is smaller; discard drops the contents, keep
    // preserves the size limbs in use. Size is unchanged.
    void reserve_discard(std::uint32_t n);
    void reserve_keep(std::uint32_t n);

    // -1, 0 or 1 as a is less than, equal to or greater than b.
    static int compare(const uint& a, const uint& b);
    // result = a + b; result may be a or b.
    static void add(uint& result, const uint& a, const uint& b);
    // The carry chain behind add: result = L + S where L has at least as many limbs as S.
    static void add_limbs(uint& result, const uint& L, const uint& S);
    // result = a - b; throws std::invalid_argument when b > a.
    static void subtract(uint& result, const uint& a, const uint& b);
    // result = a * b; result may be a or b. Costs one pass over b per set bit of a.
    static void multiply(uint& result, const uint& a, const uint& b);
    // q = *this / d, truncated, and *this becomes the remainder. A zero divisor gives q = 0
    // and leaves *this alone. q must not be *this; d may be either.
    void divide(const uint& d, uint& q);
    // In place +1 and -1; decr throws std::out_of_range on 0.
    uint& incr();
    uint& decr();
    // The value as a 16-bit machine integer; throws std::out_of_range when it does not fit.
    std::uint16_t to_primitive() const;

    bool is_zero() const { return size == 0; }
};

}  // namespace lib
