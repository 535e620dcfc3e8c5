// Pixel formats: the builders and single-pixel encoding and decoding.
#include <algorithm>

#include "quarn/image/image.h"
#include "quarn/image/pixel.h"

namespace {

// Lowest set bit of a mask and the run of set bits from there upwards.
void MaskShiftWidth(uint32_t mask, uint8_t* shift, uint8_t* width)
{
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
void SetRgb888Channels(ColorFormat* f)
{
    f->redMask = 0xFF0000;
    f->redWidth = 8;
    f->redShift = 16;
    f->greenMask = 0xFF00;
    f->greenWidth = 8;
    f->greenShift = 8;
    f->blueMask = 0xFF;
    f->blueWidth = 8;
    f->blueShift = 0;
    f->alphaMask = 0;
    f->alphaWidth = 0;
    f->alphaShift = 0;
    f->compression = 0;
}

uint32_t DepthBits(int depth) { return depth >= 32 ? 0xFFFFFFFFu : depth <= 0 ? 0 : (1u << depth) - 1; }

// Components outside 0..255 count as the nearest end.
int Component(int c) { return std::clamp(c, 0, 255); }

// Component 0..255 cut (or, for channels wider than 8 bits, spread) to the channel's width.
uint32_t PlaceChannel(int component, int width, int shift)
{
    uint32_t c = uint32_t(Component(component));
    uint32_t v = width <= 8 ? c >> (8 - width) : c << (width - 8);
    return shift >= 32 ? 0 : v << shift;
}

uint32_t ScaleChannel(uint32_t pixel, uint32_t mask, int shift, int width)
{
    if (width == 0) return 0;
    uint64_t v = (pixel & mask) >> shift;
    return uint32_t(v * 255 / pixel::Ones(width));
}

}  // namespace

int SetupPalette8Format(ColorFormat* format)
{
    format->bitDepth = 8;
    format->bytesPerPixel = 1;
    SetRgb888Channels(format);
    format->unusedMask = 0xFF000000;
    return 0;
}

int SetupGrey8Format(ColorFormat* format)
{
    SetupPalette8Format(format);
    for (int i = 0; i < 256; ++i) format->palette[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return 0;
}

int SetupXrgb8888Format(ColorFormat* format)
{
    format->bitDepth = 32;
    format->bytesPerPixel = 4;
    SetRgb888Channels(format);
    format->unusedMask = 0xFF000000;
    format->unusedShift = 24;
    format->unusedWidth = 8;
    return 0;
}

int SetupArgb8888Format(ColorFormat* format)
{
    format->bitDepth = 32;
    format->bytesPerPixel = 4;
    SetRgb888Channels(format);
    format->alphaMask = 0xFF000000;
    format->alphaWidth = 8;
    format->alphaShift = 24;
    format->unusedMask = 0;
    return 0;
}

int SetupRgb888Format(ColorFormat* format)
{
    format->bitDepth = 24;
    format->bytesPerPixel = 3;
    SetRgb888Channels(format);
    format->unusedMask = 0;
    return 0;
}

int SetupFormatFromMasks(ColorFormat* format, int bitDepth, uint32_t redMask, uint32_t greenMask, uint32_t blueMask,
                         uint32_t alphaMask)
{
    format->bitDepth = uint16_t(bitDepth);
    format->bytesPerPixel = uint16_t(bitDepth / 8);
    format->redMask = redMask;
    format->greenMask = greenMask;
    format->blueMask = blueMask;
    format->alphaMask = alphaMask;
    MaskShiftWidth(redMask, &format->redShift, &format->redWidth);
    MaskShiftWidth(greenMask, &format->greenShift, &format->greenWidth);
    MaskShiftWidth(blueMask, &format->blueShift, &format->blueWidth);
    MaskShiftWidth(alphaMask, &format->alphaShift, &format->alphaWidth);
    format->unusedMask = DepthBits(bitDepth) & ~(redMask | greenMask | blueMask | alphaMask);
    MaskShiftWidth(format->unusedMask, &format->unusedShift, &format->unusedWidth);
    format->compression = 0;
    return 0;
}

void RecomputeUnusedBits(ColorFormat* format)
{
    if (format->redWidth + format->greenWidth + format->blueWidth + format->alphaWidth == format->bitDepth)
        format->unusedMask = 0;
    else
        format->unusedMask = DepthBits(format->bitDepth) &
                             ~(format->redMask | format->greenMask | format->blueMask | format->alphaMask);
}

uint32_t EncodePixelColor(const ColorFormat* format, int red, int green, int blue, int alpha)
{
    if (format->bytesPerPixel == 1) {
        int best = 0xFFFFFF, index = 0;
        red = Component(red);
        green = Component(green);
        blue = Component(blue);
        for (int i = 0; i < 256; ++i) {
            const PaletteEntry& e = format->palette[i];
            int db = e.blue - blue, dg = e.green - green, dr = e.red - red;
            int dist = db * db + dg * dg + dr * dr;
            if (dist < best) {
                best = dist;
                index = i;
            }
        }
        return uint32_t(index);
    }
    uint32_t p = PlaceChannel(red, format->redWidth, format->redShift) |
                 PlaceChannel(green, format->greenWidth, format->greenShift) |
                 PlaceChannel(blue, format->blueWidth, format->blueShift);
    p |= format->unusedMask;
    if (format->alphaWidth != 0) p |= PlaceChannel(alpha, format->alphaWidth, format->alphaShift);
    return p;
}

int DecodePixelColor(const ColorFormat* format, uint32_t pixel, int* red, int* green, int* blue, int* alpha)
{
    const bool raw = format->redWidth == 8 && format->greenWidth == 8 && format->blueWidth == 8;
    auto channel = [&](uint32_t mask, int shift, int width) -> int {
        if (raw && width == 8) return int((pixel & mask) >> shift);
        return int(ScaleChannel(pixel, mask, shift, width));
    };
    if (red) *red = channel(format->redMask, format->redShift, format->redWidth);
    if (green) *green = channel(format->greenMask, format->greenShift, format->greenWidth);
    if (blue) *blue = channel(format->blueMask, format->blueShift, format->blueWidth);
    if (alpha) *alpha = channel(format->alphaMask, format->alphaShift, format->alphaWidth);
    return 0;
}
