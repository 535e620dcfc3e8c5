// Mipmap halving: each destination pixel is the cut average of a 2x2 (or 2x1) source block.
#include "quarn/image/image.h"
#include "quarn/image/pixel.h"

namespace {

struct Channel {
    uint32_t mask;
    int shift;
};

// Per-channel average of n pixels (n = 1, 2 or 4); the bits outside the channels come out 0.
uint32_t Average(const Channel (&ch)[4], const uint32_t* v, int n, int down)
{
    uint32_t out = 0;
    for (const Channel& c : ch) {
        if (!c.mask) continue;
        uint64_t sum = 0;
        for (int k = 0; k < n; ++k) sum += (v[k] & c.mask) >> c.shift;
        out |= uint32_t((sum >> down) << c.shift) & c.mask;
    }
    return out;
}

}  // namespace

int HalveImageForMipmap(const ColorFormat* format, uint8_t* dstPixels, int dstPitch, const uint8_t* srcPixels,
                        int srcPitch, int dstX, int dstY, int srcX, int srcY, int srcWidth, int srcHeight)
{
    if (srcWidth < 1 || srcHeight < 1) return -1;
    if ((srcWidth != 1 && srcWidth % 2) || (srcHeight != 1 && srcHeight % 2)) return -1;
    const int bpp = format->bitDepth == 16 ? 2 : format->bitDepth == 32 ? 4 : 0;
    if (bpp == 0) return 0;

    const Channel ch[4] = {{format->redMask, format->redShift},
                           {format->greenMask, format->greenShift},
                           {format->blueMask, format->blueShift},
                           {format->alphaMask, format->alphaShift}};
    // Pixels taken together: 2x2 blocks, vertical pairs for a one-column source, horizontal
    // pairs for a one-row source, or the single pixel of a 1x1 source.
    const int stepX = srcWidth > 1 ? 2 : 1;
    const int stepY = srcHeight > 1 ? 2 : 1;
    const int n = stepX * stepY;
    const int down = n == 4 ? 2 : n == 2 ? 1 : 0;
    const int outW = srcWidth / stepX, outH = srcHeight / stepY;

    for (int y = 0; y < outH; ++y) {
        const uint8_t* s0 = srcPixels + std::ptrdiff_t(srcY + y * stepY) * srcPitch + std::ptrdiff_t(srcX) * bpp;
        const uint8_t* s1 = s0 + (stepY == 2 ? srcPitch : 0);
        uint8_t* d = dstPixels + std::ptrdiff_t(dstY + y) * dstPitch + std::ptrdiff_t(dstX) * bpp;
        for (int x = 0; x < outW; ++x) {
            const int sx = x * stepX * bpp;
            uint32_t v[4];
            int k = 0;
            v[k++] = pixel::Load(s0 + sx, bpp);
            if (stepX == 2) v[k++] = pixel::Load(s0 + sx + bpp, bpp);
            if (stepY == 2) {
                v[k++] = pixel::Load(s1 + sx, bpp);
                if (stepX == 2) v[k++] = pixel::Load(s1 + sx + bpp, bpp);
            }
            const uint32_t p = n == 1 ? v[0] : Average(ch, v, n, down);
            pixel::Store(d + x * bpp, bpp, p);
        }
    }
    return 0;
}
