// Base images: allocation, single-pixel access, mirroring, clearing, copy and resampling.
#include <algorithm>
#include <cstring>

#include "quarn/core/core.h"
#include "quarn/image/image.h"
#include "quarn/image/pixel.h"

namespace {

// Fills in the record and allocates pitch x height bytes. A size that cannot be held (a
// negative side, a pitch or block past 2 GiB) is refused before anything is allocated: the
// record keeps its format and sizes with a null pixel pointer, owning nothing.
int AllocPixels(BaseImage* out, int width, int height, int64_t pitch)
{
    out->width = width;
    out->height = height;
    out->pitch = pitch >= 0 && pitch <= 0x7FFFFFFF ? int32_t(pitch) : 0;
    out->mipmapCount = 0;
    out->pixels = nullptr;
    if (width < 0 || height < 0 || pitch > 0x7FFFFFFF) return -1;
    const uint64_t bytes = uint64_t(pitch) * uint32_t(height);
    if (bytes > 0x7FFFFFFFu) return -1;
    out->pixels = static_cast<uint8_t*>(AllocTrackedMemory(uint32_t(bytes), "", 0));
    return out->pixels ? 0 : -1;
}

// Expands block-compressed pixels before any pixel access; 0 when the image is plain now.
int MakePlain(BaseImage* image)
{
    if (image->format.compression == 0) return 0;
    return ExpandCompressedBaseImage(image) == 0 && image->format.compression == 0 ? 0 : -1;
}

bool Inside(const BaseImage* image, int x, int y)
{
    return uint32_t(x) < uint32_t(image->width) && uint32_t(y) < uint32_t(image->height);
}

uint8_t* PixelAt(const BaseImage* image, int x, int y)
{
    return image->pixels + std::ptrdiff_t(y) * image->pitch + std::ptrdiff_t(x) * image->format.bytesPerPixel;
}

// A channel's bits moved to the top of a byte at `top` (8, 16, 24 or 32): no scaling.
uint32_t ToTopOfByte(uint32_t pixel, uint32_t mask, int shift, int width, int top)
{
    uint32_t v = (pixel & mask) >> shift;
    v = width <= 8 ? v << (8 - width) : v >> (width - 8);
    return (v & 0xFF) << (top - 8);
}

// A copy within one image: one format, so the bytes move unchanged. The rectangles may
// overlap: rows go in the order that reads each one before it is written over, and each
// row moves as one.
void MoveWithinImage(BaseImage* image, int sx, int sy, int w, int h, int dx, int dy)
{
    const int bpp = image->format.bytesPerPixel;
    if (bpp < 1 || bpp > 4) return;
    const size_t bytes = size_t(w) * bpp;
    for (int i = 0; i < h; ++i) {
        const int row = dy > sy ? h - 1 - i : i;
        std::memmove(PixelAt(image, dx, dy + row), PixelAt(image, sx, sy + row), bytes);
    }
}

}  // namespace

int AllocBaseImage(int width, int height, const ColorFormat* format, BaseImage* out)
{
    out->format = *format;
    return AllocPixels(out, width, height, (int64_t(width) * format->bytesPerPixel + 3) / 4 * 4);
}

int AllocArgbBaseImage(int width, int height, BaseImage* out)
{
    SetupArgb8888Format(&out->format);
    return AllocPixels(out, width, height, int64_t(width) * 4);
}

int AllocXrgbBaseImage(int width, int height, BaseImage* out)
{
    SetupXrgb8888Format(&out->format);
    return AllocPixels(out, width, height, int64_t(width) * 4);
}

int DiscardBaseImage(BaseImage* image)
{
    if (image->pixels) FreeTrackedMemory(image->pixels);
    std::memset(static_cast<void*>(image), 0, sizeof *image);
    return 0;
}

int ClearBaseImageRect(BaseImage* image, int x, int y, int width, int height)
{
    // Kept inside the image: a rectangle reaching past an edge clears only what lies inside.
    // Clipped in 64 bits, so that positions and sizes anywhere in the int range cannot wrap.
    int64_t x0 = x, y0 = y, x1 = int64_t(x) + width, y1 = int64_t(y) + height;
    x0 = std::max<int64_t>(x0, 0);
    y0 = std::max<int64_t>(y0, 0);
    x1 = std::min<int64_t>(x1, image->width);
    y1 = std::min<int64_t>(y1, image->height);
    if (x1 <= x0 || y1 <= y0 || !image->pixels) return 0;
    const size_t bytes = size_t(x1 - x0) * image->format.bytesPerPixel;
    for (int64_t row = y0; row < y1; ++row) std::memset(PixelAt(image, int(x0), int(row)), 0, bytes);
    return 0;
}

int MirrorBaseImage(BaseImage* image)
{
    if (image->width == 0 || image->height == 0) return -1;
    // A record whose allocation failed keeps its sizes but has no pixels; blocks are not rows
    // of pixels until they are expanded.
    if (!image->pixels || MakePlain(image) != 0) return -1;
    const int bpp = image->format.bytesPerPixel;
    if (bpp < 1 || bpp > 4) return 0;
    for (int y = 0; y < image->height; ++y) {
        uint8_t* row = PixelAt(image, 0, y);
        for (int i = 0, j = image->width - 1; i < j; ++i, --j) {
            uint8_t t[4];
            std::memcpy(t, row + i * bpp, bpp);
            std::memcpy(row + i * bpp, row + j * bpp, bpp);
            std::memcpy(row + j * bpp, t, bpp);
        }
    }
    return 0;
}

uint32_t ReadBaseImagePixelArgb(const BaseImage* image, int x, int y)
{
    // Outside the image there is no pixel to read: 0, as for an image without pixels.
    if (!image->pixels || !Inside(image, x, y)) return 0;
    const ColorFormat& f = image->format;
    const int bpp = f.bytesPerPixel;
    if (bpp == 1) {
        // A paletted pixel reads as its palette colour.
        return pixel::EntryValue(f.palette[*PixelAt(image, x, y)]);
    }
    if (bpp < 2 || bpp > 4) return 0;
    const uint32_t p = pixel::Load(PixelAt(image, x, y), bpp);
    uint32_t argb = ToTopOfByte(p, f.redMask, f.redShift, f.redWidth, 24) |
                    ToTopOfByte(p, f.greenMask, f.greenShift, f.greenWidth, 16) |
                    ToTopOfByte(p, f.blueMask, f.blueShift, f.blueWidth, 8);
    if (f.alphaWidth != 0) argb |= ToTopOfByte(p, f.alphaMask, f.alphaShift, f.alphaWidth, 32);
    return argb;
}

int ReadBaseImagePixelRgba(BaseImage* image, int x, int y, int* red, int* green, int* blue, int* alpha)
{
    if (MakePlain(image) != 0) return -1;
    if (!Inside(image, x, y) || !image->pixels) return -1;
    const ColorFormat& f = image->format;
    const int bpp = f.bytesPerPixel;
    if (bpp == 1) {
        const PaletteEntry& e = f.palette[*PixelAt(image, x, y)];
        if (red) *red = e.red;
        if (green) *green = e.green;
        if (blue) *blue = e.blue;
        if (alpha) *alpha = e.alpha;
        return 0;
    }
    if (bpp < 2 || bpp > 4) return -1;
    return DecodePixelColor(&f, pixel::Load(PixelAt(image, x, y), bpp), red, green, blue, alpha);
}

int WriteBaseImagePixel(BaseImage* image, int x, int y, int red, int green, int blue, int alpha)
{
    if (MakePlain(image) != 0) return -1;
    if (!Inside(image, x, y) || !image->pixels) return -1;
    const int bpp = image->format.bytesPerPixel;
    if (bpp < 1 || bpp > 4) return 0;
    pixel::Store(PixelAt(image, x, y), bpp, EncodePixelColor(&image->format, red, green, blue, alpha));
    return 0;
}

int CopyBaseImageRect(int srcX, int srcY, int width, int height, int dstX, int dstY, BaseImage* src, BaseImage* dst)
{
    if (MakePlain(src) != 0 || MakePlain(dst) != 0) return -1;
    // Clipped in 64 bits: positions and sizes anywhere in the int range must not overflow.
    int64_t sx = srcX, sy = srcY, dx = dstX, dy = dstY, w = width, h = height;
    if (sx < 0) {
        w += sx;
        dx -= sx;
        sx = 0;
    }
    if (sy < 0) {
        h += sy;
        dy -= sy;
        sy = 0;
    }
    if (dx < 0) {
        w += dx;
        sx -= dx;
        dx = 0;
    }
    if (dy < 0) {
        h += dy;
        sy -= dy;
        dy = 0;
    }
    if (dx + w > dst->width) w = dst->width - dx;
    if (dy + h > dst->height) h = dst->height - dy;
    if (sx + w > src->width) w = src->width - sx;
    if (sy + h > src->height) h = src->height - sy;
    if (w < 1 || h < 1 || !src->pixels || !dst->pixels) return 0;
    if (src == dst) {
        MoveWithinImage(dst, int(sx), int(sy), int(w), int(h), int(dx), int(dy));
        return 0;
    }
    // Everything now lies inside both images, so it fits the 32-bit rectangle.
    const PixelRect rect = {int32_t(sx), int32_t(sy), int32_t(sx + w), int32_t(sy + h)};
    ConvertPixelRect(dst->pixels, dst->pitch, &dst->format, src->pixels, src->pitch, &src->format, nullptr, 0, nullptr,
                     int(dx), int(dy), &rect, 0, 0, 0, 0, 0, 0, 0, 1);
    return 0;
}

int ScaleBaseImageRect(int srcX1, int srcY1, int srcX2, int srcY2, BaseImage* src, int dstX1, int dstY1, int dstX2,
                       int dstY2, BaseImage* dst, int bilinear)
{
    auto valid = [](const BaseImage* im, int x1, int y1, int x2, int y2) {
        return x2 > x1 && y2 > y1 && x1 >= 0 && x1 < im->width && y1 >= 0 && y1 < im->height && x2 >= 1 &&
               x2 <= im->width && y2 >= 1 && y2 <= im->height;
    };
    if (!valid(src, srcX1, srcY1, srcX2, srcY2) || !valid(dst, dstX1, dstY1, dstX2, dstY2)) return -1;
    const int sw = srcX2 - srcX1, sh = srcY2 - srcY1;
    const int dw = dstX2 - dstX1, dh = dstY2 - dstY1;
    if (sw == dw && sh == dh) return CopyBaseImageRect(srcX1, srcY1, sw, sh, dstX1, dstY1, src, dst);
    if (MakePlain(src) != 0 || MakePlain(dst) != 0) return -1;

    // 16.16 fixed point, held in 64 bits so that wide images do not overflow.
    const uint64_t stepX = (uint64_t(sw) << 16) / uint64_t(dw);
    const uint64_t stepY = (uint64_t(sh) << 16) / uint64_t(dh);
    for (int j = 0; j < dh; ++j) {
        const uint64_t py = (uint64_t(srcY1) << 16) + uint64_t(j) * stepY;
        const int y = int(py >> 16);
        for (int i = 0; i < dw; ++i) {
            const uint64_t px = (uint64_t(srcX1) << 16) + uint64_t(i) * stepX;
            const int x = int(px >> 16);
            int c[4];
            if (bilinear != 1) {
                if (ReadBaseImagePixelRgba(src, x, y, &c[0], &c[1], &c[2], &c[3]) != 0) return -1;
            } else {
                // Neighbours past the last row or column repeat the edge, and the weights are
                // exact products of 65536ths, so a uniform image scales to itself.
                const int x1 = x + 1 < src->width ? x + 1 : x;
                const int y1 = y + 1 < src->height ? y + 1 : y;
                const uint64_t fx = px & 0xFFFF, fy = py & 0xFFFF;
                const uint64_t w[4] = {(65536 - fx) * (65536 - fy), fx * (65536 - fy), (65536 - fx) * fy, fx * fy};
                const int nx[4] = {x, x1, x, x1}, ny[4] = {y, y, y1, y1};
                uint64_t sum[4] = {0, 0, 0, 0};
                for (int k = 0; k < 4; ++k) {
                    int n[4];
                    if (ReadBaseImagePixelRgba(src, nx[k], ny[k], &n[0], &n[1], &n[2], &n[3]) != 0) return -1;
                    for (int ch = 0; ch < 4; ++ch) sum[ch] += uint64_t(n[ch]) * w[k];
                }
                for (int ch = 0; ch < 4; ++ch) c[ch] = int(sum[ch] >> 32);
            }
            WriteBaseImagePixel(dst, dstX1 + i, dstY1 + j, c[0], c[1], c[2], c[3]);
        }
    }
    return 0;
}
