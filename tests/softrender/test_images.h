// Image helpers shared by the software renderer's tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "quarn/softrender/softrender.h"

namespace testimg {

// A view released at the end of its scope.
struct Img {
    quarn::MEMIMG v{};
    Img() = default;
    Img(const Img&) = delete;
    Img& operator=(const Img&) = delete;
    ~Img() { quarn::ReleaseMemImgRef(&v); }
};

inline int BytesPerPixel(const quarn::MEMIMG& v)
{
    return quarn::MemImgBytesPerPixel(v.store->kind, v.store->paletted, v.store->alpha);
}

inline uint32_t Get(const quarn::MEMIMG& v, int x, int y)
{
    uint32_t r = 0;
    std::memcpy(&r, v.pixels + v.store->pitch * y + BytesPerPixel(v) * x,
                static_cast<size_t>(BytesPerPixel(v)));
    return r;
}

inline void Put(quarn::MEMIMG& v, int x, int y, uint32_t value)
{
    std::memcpy(v.pixels + v.store->pitch * y + BytesPerPixel(v) * x, &value,
                static_cast<size_t>(BytesPerPixel(v)));
}

inline std::vector<uint8_t> StoreBytes(const quarn::MEMIMG& v)
{
    const quarn::MemImgBase* s = v.store;
    return {s->pixels, s->pixels + static_cast<size_t>(s->pitch) * s->height};
}

inline void SetStoreBytes(quarn::MEMIMG& v, const std::vector<uint8_t>& bytes)
{
    std::memcpy(v.store->pixels, bytes.data(), bytes.size());
    quarn::MarkMemImgPixelsChanged(v.store);
}

// Pixel values where the blend arithmetic has its corners, mixed with random ones; one in ten
// is the given key.
inline uint32_t SpecialPixel(std::mt19937& rng, int kind, uint32_t key)
{
    static const uint32_t k32[] = {0x00000000, 0xFFFFFFFF, 0x01010101, 0xFEFEFEFE, 0x00C86401,
                                   0x80808080, 0x7F7F7F7F};
    static const uint32_t k16[] = {0x0000, 0xFFFF, 0x0821, 0xF7DE, 0x8410, 0x7BEF, 0xF800};
    const uint32_t pick = rng() % 10;
    if (pick == 0) return key;
    if (pick < 4) return kind == 1 ? k32[rng() % 7] : k16[rng() % 7];
    return kind == 1 ? static_cast<uint32_t>(rng()) : (rng() & 0xFFFF);
}

}  // namespace testimg
