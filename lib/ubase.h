// Digit records: a magnitude written as digits of a base from 2 to 36, and back.
#pragma once

#include <cstdint>
#include <string>

#include "lib/uint.h"

namespace lib {

struct ubase {
    std::uint32_t capacity = 0;       // digits allocated
    std::uint32_t count = 0;          // digits in use; 0 is the value 0
    std::uint16_t* digits = nullptr;  // least significant first, array new / delete
    std::uint16_t base = 10;

    ubase() = default;
    ubase(const ubase& r);
    ubase(ubase&& r) noexcept;
    ~ubase() { delete[] digits; }
    ubase& operator=(const ubase& r);
    ubase& operator=(ubase&& r) noexcept;

    // Digits of m in the base (10 unless given); the value 0 has no digits.
    static ubase from_uint(const uint& m, unsigned base = 10);
    // The value of a digit record.
    static uint to_uint(const ubase& r);
    // Most significant digit first, 0-9 then upper-case A-Z; "0" for no digits.
    static std::wstring to_text(const ubase& r);
    // Reads 0-9, A-Z and a-z (either case) as digits of the base; leading zeros are dropped.
    // The characters are examined from the last to the first, and the first bad one met
    // decides the exception.
    static ubase from_text(const std::wstring& text, unsigned base);
};

}  // namespace lib
