// Formats and one-pixel conversions shared by the image tests.
#pragma once

#include <cstring>
#include <vector>

#include "quarn/image/image.h"

namespace test {

inline ColorFormat Masks(int depth, uint32_t r, uint32_t g, uint32_t b, uint32_t a)
{
    ColorFormat f{};
    SetupFormatFromMasks(&f, depth, r, g, b, a);
    return f;
}
inline ColorFormat R5G6B5() { return Masks(16, 0xF800, 0x07E0, 0x001F, 0); }
inline ColorFormat X1R5G5B5() { return Masks(16, 0x7C00, 0x03E0, 0x001F, 0); }
inline ColorFormat A1R5G5B5() { return Masks(16, 0x7C00, 0x03E0, 0x001F, 0x8000); }
inline ColorFormat A4R4G4B4() { return Masks(16, 0x0F00, 0x00F0, 0x000F, 0xF000); }
inline ColorFormat Xrgb()
{
    ColorFormat f{};
    SetupXrgb8888Format(&f);
    return f;
}
inline ColorFormat Argb()
{
    ColorFormat f{};
    SetupArgb8888Format(&f);
    return f;
}
inline ColorFormat Rgb888()
{
    ColorFormat f{};
    SetupRgb888Format(&f);
    return f;
}
inline ColorFormat Grey8()
{
    ColorFormat f{};
    SetupGrey8Format(&f);
    return f;
}

inline uint32_t LoadLe(const uint8_t* p, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}
inline void StoreLe(uint8_t* p, int n, uint32_t v)
{
    for (int i = 0; i < n; ++i) p[i] = uint8_t(v >> (8 * i));
}

// All options of ConvertPixelRect after the rectangle, by name.
struct Opts {
    int mirror = 0, keyToAlpha = 0;
    uint32_t key = 0;
    int reduction = 0, black = 0, alphaFromRed = 0, keySkip = 0, remap = 0;
};

// Converts a w x h block of source values (row-major) and returns the destination values;
// the destination starts filled with `fill`.
inline std::vector<uint32_t> Convert(const ColorFormat& dst, const ColorFormat& src,
                                     const std::vector<uint32_t>& values, int w, int h, const Opts& o = {},
                                     uint32_t fill = 0, int* result = nullptr)
{
    const int sb = src.bytesPerPixel, db = dst.bytesPerPixel;
    std::vector<uint8_t> s(size_t(w) * h * sb), d(size_t(w) * h * db);
    for (size_t i = 0; i < values.size(); ++i) StoreLe(&s[i * sb], sb, values[i]);
    for (int i = 0; i < w * h; ++i) StoreLe(&d[size_t(i) * db], db, fill);
    const PixelRect rect = {0, 0, w, h};
    const int r = ConvertPixelRect(d.data(), w * db, &dst, s.data(), w * sb, &src, nullptr, 0, nullptr, 0, 0, &rect,
                                   o.mirror, o.keyToAlpha, o.key, o.reduction, o.black, o.alphaFromRed, o.keySkip,
                                   o.remap);
    if (result) *result = r;
    std::vector<uint32_t> out(size_t(w) * h);
    for (int i = 0; i < w * h; ++i) out[i] = LoadLe(&d[size_t(i) * db], db);
    return out;
}

inline uint32_t Convert1(const ColorFormat& dst, const ColorFormat& src, uint32_t v, const Opts& o = {})
{
    return Convert(dst, src, {v}, 1, 1, o)[0];
}

}  // namespace test
