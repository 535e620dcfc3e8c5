// What the fuzz targets share: values read from the fuzzer's bytes, and a check that stops
// the run (so that the fuzzer keeps the input) in any build type.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* what)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(condition)                                           \
    do {                                                                \
        if (!(condition)) ::fuzz::Fail(__FILE__, __LINE__, #condition); \
    } while (0)

// Values taken from the front of the input. Once it is used up, every value is 0, or, when
// `noise` was given a seed, comes from a fixed generator (for pixels, which need many bytes).
struct Input {
    const uint8_t* data;
    size_t size;
    uint32_t noise = 0;

    size_t Left() const { return size; }
    uint8_t Byte()
    {
        if (size == 0) {
            if (noise == 0) return 0;
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            return uint8_t(noise >> 24);
        }
        --size;
        return *data++;
    }
    bool Bool() { return Byte() & 1; }
    uint32_t U32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(Byte()) << (8 * i);
        return v;
    }
    // A value in [0, n), n > 0.
    uint32_t Below(uint32_t n) { return n <= 256 ? Byte() % n : U32() % n; }
    // An int that is mostly small (around 0), or else at the ends of the range or anywhere.
    int32_t Coordinate()
    {
        switch (Byte() % 8) {
        case 5: return INT32_MIN + int32_t(Byte() % 4);
        case 6: return INT32_MAX - int32_t(Byte() % 4);
        case 7: return int32_t(U32());
        default: return int32_t(Byte() % 40) - 8;
        }
    }
    // The next n bytes as an input of their own (fewer when the input runs out).
    Input Take(size_t n)
    {
        n = std::min(n, size);
        Input part{data, n};
        data += n;
        size -= n;
        return part;
    }
    // Up to n bytes.
    std::string Bytes(size_t n)
    {
        n = std::min(n, size);
        std::string s(reinterpret_cast<const char*>(data), n);
        data += n;
        size -= n;
        return s;
    }
};

}  // namespace fuzz
