// Small pixel helpers shared by the image sources (not part of the subsystem's interface).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "quarn/image/image.h"

namespace pixel {

// Little-endian value of 1 to 4 bytes.
inline uint32_t Load(const uint8_t* p, int bytes)
{
    switch (bytes) {
    case 1: return p[0];
    case 2: return uint32_t(p[0]) | uint32_t(p[1]) << 8;
    case 3: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    case 4: {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    default: return 0;
    }
}

inline void Store(uint8_t* p, int bytes, uint32_t v)
{
    switch (bytes) {
    case 1: p[0] = uint8_t(v); break;
    case 2:
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        break;
    case 3:
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
        break;
    case 4: std::memcpy(p, &v, 4); break;
    default: break;
    }
}

// A palette entry read as one 32-bit value: alpha on top, blue in the low byte.
inline uint32_t EntryValue(const PaletteEntry& e)
{
    return uint32_t(e.blue) | uint32_t(e.green) << 8 | uint32_t(e.red) << 16 | uint32_t(e.alpha) << 24;
}

// All ones in the low `width` bits (width 0..32).
inline uint32_t Ones(int width) { return width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1; }

// A channel value moved from one bit width to another: narrowing cuts, widening fills the new
// low bits so that the maximum maps to the maximum (5-bit 31 becomes 8-bit 255). A source of
// width 0 carries nothing and gives 0.
inline uint32_t Widen(uint32_t c, int from, int to)
{
    if (from == to) return c;
    if (from == 0) return 0;
    if (from > to) return to == 0 ? 0 : uint32_t(uint64_t(c) >> (from - to));
    const int up = to - from;
    return uint32_t((uint64_t(c) << up) + uint64_t(c) * Ones(up) / Ones(from));
}

}  // namespace pixel
