// Pixel formats: the builders and single-pixel encoding and decoding.
#include <algorithm>

#include "quarn/image/image.h"
#include "quarn/image/pixel.h"

namespace {

// Lowest set bit of a mask and the run of set bits from there upwards.
void MaskShiftWidth(uint32_t mask, uint8_t* shift, uint8_t* width) {
    if (mask == 0) {
        *shift = 0;
        *width = 0;
        return;
    }
    int s = 0;
    while (!(mask >> s & 1)) ++s;
    int w = 0;
    while (s + w < 32 && (mask >> (s + w) & 1)) ++w;
    *shift = uint8_t(s);
    *width = uint8_t(w);
}

// The 8-8-8 colour channels shared by the 8-, 24- and 32-bit builders.
void SetRgb888Channels(ColorFormat* f) {
    f->redMask = 0xFF0000; f->redWidth = 8; f->redShift = 16;
    f->greenMask = 0xFF00; f->greenWidth = 8; f->greenShift = 8;
    f->blueMask = 0xFF; f->blueWidth = 8; f->blueShift = 0;
    f->alphaMask = 0; f->alphaWidth = 0; f->alphaShift = 0;
    f->compression = 0;
}

uint32_t DepthBits(int depth) {
    return depth >= 32 ? 0xFFFFFFFFu : depth <= 0 ? 0 : (1u << depth) - 1;
}

// Components outside 0..255 count as the nearest end.
int Component(int c) {
    return std::clamp(c, 0, 255);
}

// Component 0..255 cut (or, for channels wider than 8 bits, spread) to the channel's width.
uint32_t PlaceChannel(int component, int width, int shift) {
    uint32_t c = uint32_t(Component(component));
    uint32_t v = width <= 8 ? c >> (8 - width) : c << (width - 8);
    return shift >= 32 ? 0 : v << shift;
}

uint32_t ScaleChannel(uint32_t pixel, uint32_t mask, int shift, int width) {
    if (width == 0) return 0;
    uint64_t v = (pixel & mask) >> shift;
    return uint32_t(v * 255 / pixel::Ones(width));
}

}  // namespace

int SetupPalette8Format(ColorFormat* f) {
    f->bitDepth = 8;
    f->bytesPerPixel = 1;
    SetRgb888Channels(f);
    f->unusedMask = 0xFF000000;
    return 0;
}

int SetupGrey8Format(ColorFormat* f) {
    SetupPalette8Format(f);
    for (int i = 0; i < 256; ++i) f->palette[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return 0;
}

int SetupXrgb8888Format(ColorFormat* f) {
    f->bitDepth = 32;
    f->bytesPerPixel = 4;
    SetRgb888Channels(f);
    f->unusedMask = 0xFF000000;
    f->unusedShift = 24;
    f->unusedWidth = 8;
    return 0;
}

int SetupArgb8888Format(ColorFormat* f) {
    f->bitDepth = 32;
    f->bytesPerPixel = 4;
    SetRgb888Channels(f);
    f->alphaMask = 0xFF000000; f->alphaWidth = 8; f->alphaShift = 24;
    f->unusedMask = 0;
    return 0;
}

int SetupRgb888Format(ColorFormat* f) {
    f->bitDepth = 24;
    f->bytesPerPixel = 3;
    SetRgb888Channels(f);
    f->unusedMask = 0;
    return 0;
}

int SetupFormatFromMasks(ColorFormat* f, int bitDepth, uint32_t redMask, uint32_t greenMask,
                         uint32_t blueMask, uint32_t alphaMask) {
    f->bitDepth = uint16_t(bitDepth);
    f->bytesPerPixel = uint16_t(bitDepth / 8);
    f->redMask = redMask;
    f->greenMask = greenMask;
    f->blueMask = blueMask;
    f->alphaMask = alphaMask;
    MaskShiftWidth(redMask, &f->redShift, &f->redWidth);
    MaskShiftWidth(greenMask, &f->greenShift, &f->greenWidth);
    MaskShiftWidth(blueMask, &f->blueShift, &f->blueWidth);
    MaskShiftWidth(alphaMask, &f->alphaShift, &f->alphaWidth);
    f->unusedMask = DepthBits(bitDepth) & ~(redMask | greenMask | blueMask | alphaMask);
    MaskShiftWidth(f->unusedMask, &f->unusedShift, &f->unusedWidth);
    f->compression = 0;
    return 0;
}

void RecomputeUnusedBits(ColorFormat* f) {
    if (f->redWidth + f->greenWidth + f->blueWidth + f->alphaWidth == f->bitDepth)
        f->unusedMask = 0;
    else
        f->unusedMask =
            DepthBits(f->bitDepth) & ~(f->redMask | f->greenMask | f->blueMask | f->alphaMask);
}

uint32_t EncodePixelColor(const ColorFormat* f, int red, int green, int blue, int alpha) {
    if (f->bytesPerPixel == 1) {
        int best = 0xFFFFFF, index = 0;
        red = Component(red);
        green = Component(green);
        blue = Component(blue);
        for (int i = 0; i < 256; ++i) {
            const PaletteEntry& e = f->palette[i];
            int db = e.blue - blue, dg = e.green - green, dr = e.red - red;
            int dist = db * db + dg * dg + dr * dr;
            if (dist < best) {
                best = dist;
                index = i;
            }
        }
        return uint32_t(index);
    }
    uint32_t p = PlaceChannel(red, f->redWidth, f->redShift) |
                 PlaceChannel(green, f->greenWidth, f->greenShift) |
                 PlaceChannel(blue, f->blueWidth, f->blueShift);
    p |= f->unusedMask;
    if (f->alphaWidth != 0) p |= PlaceChannel(alpha, f->alphaWidth, f->alphaShift);
    return p;
}

int DecodePixelColor(const ColorFormat* f, uint32_t pixel, int* red, int* green, int* blue,
                     int* alpha) {
    const bool raw = f->redWidth == 8 && f->greenWidth == 8 && f->blueWidth == 8;
    auto channel = [&](uint32_t mask, int shift, int width) -> int {
        if (raw && width == 8) return int((pixel & mask) >> shift);
        return int(ScaleChannel(pixel, mask, shift, width));
    };
    if (red) *red = channel(f->redMask, f->redShift, f->redWidth);
    if (green) *green = channel(f->greenMask, f->greenShift, f->greenWidth);
    if (blue) *blue = channel(f->blueMask, f->blueShift, f->blueWidth);
    if (alpha) *alpha = channel(f->alphaMask, f->alphaShift, f->alphaWidth);
    return 0;
}

