// Memory images: the static pixel formats of the store kinds, the converting copy between
// views, and loading from base images.
#include <cstring>

#include "quarn/softrender/blend_ops.h"
#include "quarn/softrender/softrender.h"

namespace {

struct StaticFormat {
    bool built;
    ColorFormat format;
};

// [kind 0, 1][paletted][alpha]
StaticFormat s_colorFormats[2][2][2];
StaticFormat s_grey8Format;
StaticFormat s_grey16Format;

void BuildSingleChannelFormat(ColorFormat* f, int bits)
{
    std::memset(f, 0, sizeof(*f));
    const uint32_t mask = bits == 8 ? 0xFFu : 0xFFFFu;
    f->bitDepth = static_cast<uint16_t>(bits);
    f->bytesPerPixel = static_cast<uint16_t>(bits / 8);
    f->redWidth = f->greenWidth = f->blueWidth = f->alphaWidth = static_cast<uint8_t>(bits);
    f->redMask = f->greenMask = f->blueMask = f->alphaMask = mask;
}

// Inside the view and, for the destination, inside its lines.
bool RectInside(const PixelRect& r, int width, int height)
{
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && r.right <= width && r.bottom <= height;
}

}  // namespace

const ColorFormat* GetMemImgColorFormat(int kind, int alpha, int paletted)
{
    if (kind == kMemImgGrey8 || kind == kMemImgGrey16) {
        StaticFormat& f = kind == kMemImgGrey8 ? s_grey8Format : s_grey16Format;
        if (!f.built) {
            BuildSingleChannelFormat(&f.format, kind == kMemImgGrey8 ? 8 : 16);
            f.built = true;
        }
        return &f.format;
    }
    if (kind != kMemImgRgb565 && kind != kMemImgXrgb32) return nullptr;
    const int pal = paletted ? 1 : 0;
    const int alp = alpha ? 1 : 0;
    StaticFormat& f = s_colorFormats[kind][pal][alp];
    if (!f.built) {
        std::memset(&f.format, 0, sizeof(f.format));
        if (kind == kMemImgRgb565) {
            const int depth = pal ? 8 : alp ? 32 : 16;
            SetupFormatFromMasks(&f.format, depth, 0xF800, 0x07E0, 0x001F, alp ? 0x00FF0000 : 0);
        } else {
            const int depth = pal ? 8 : 32;
            SetupFormatFromMasks(&f.format, depth, 0x00FF0000, 0x0000FF00, 0x000000FF, alp ? 0xFF000000 : 0);
        }
        f.built = true;
    }
    return &f.format;
}

int ConvertCopyMemImg(MEMIMG* dst, const MEMIMG* src, const PixelRect* srcRect, int dstX, int dstY)
{
    if (!TestMemImgValid(dst) || !TestMemImgValid(src)) return -1;
    const PixelRect r = srcRect ? *srcRect : PixelRect{0, 0, src->width, src->height};
    if (!RectInside(r, src->width, src->height)) return -1;
    const PixelRect target{dstX, dstY, static_cast<int32_t>(int64_t{dstX} + (r.right - r.left)),
                           static_cast<int32_t>(int64_t{dstY} + (r.bottom - r.top))};
    if (!RectInside(target, dst->width, dst->height)) return -1;
    MemImgBase* ds = dst->store;
    const MemImgBase* ss = src->store;
    // The shared format of a paletted kind has no palette: the indices are read through the
    // store's own palette, whose entries are in the kind's plain pixel form.
    ColorFormat palettedSource;
    const ColorFormat* sourceFormat = ss->format;
    if (ss->paletted && ss->palette != nullptr) {
        palettedSource = *ss->format;
        const ColorFormat* entryFormat = GetMemImgColorFormat(ss->kind, 0, 0);
        const int entryBytes = ss->kind == kMemImgXrgb32 ? 4 : 2;
        for (int i = 0; i < 256; ++i) {
            const uint8_t* e = ss->palette + ptrdiff_t{entryBytes} * i;
            const uint32_t value = entryBytes == 4 ? LoadPixel32(e) : LoadPixel16(e);
            int red = 0, green = 0, blue = 0;
            DecodePixelColor(entryFormat, value, &red, &green, &blue, nullptr);
            palettedSource.palette[i] = PaletteEntry{static_cast<uint8_t>(blue), static_cast<uint8_t>(green),
                                                     static_cast<uint8_t>(red), 0};
        }
        sourceFormat = &palettedSource;
    }
    const int result = ConvertPixelRect(dst->pixels, ds->pitch, ds->format, src->pixels, ss->pitch, sourceFormat,
                                        nullptr, 0, nullptr, dstX, dstY, &r, 0, 0, 0, 0, 0, 0, 0, 0);
    MarkMemImgPixelsChanged(ds);
    return result < 0 ? -1 : 0;
}

int LoadBaseImageIntoMemImg(const BaseImage* image, const BaseImage* alphaImage, MEMIMG* view, int srcX, int srcY,
                            int width, int height, int dstX, int dstY, int option)
{
    if (!TestMemImgValid(view) || image == nullptr || image->pixels == nullptr) return -1;
    // Block-compressed pixel memory is not laid out in lines the copy could read.
    if (image->format.compression != 0) return -1;
    if (width < 1 || height < 1) return -1;
    const PixelRect r{srcX, srcY, static_cast<int32_t>(int64_t{srcX} + width),
                      static_cast<int32_t>(int64_t{srcY} + height)};
    if (!RectInside(r, image->width, image->height)) return -1;
    if (alphaImage != nullptr && (alphaImage->pixels == nullptr || alphaImage->format.compression != 0 ||
                                  !RectInside(r, alphaImage->width, alphaImage->height)))
        return -1;
    const PixelRect target{dstX, dstY, static_cast<int32_t>(int64_t{dstX} + width),
                           static_cast<int32_t>(int64_t{dstY} + height)};
    if (!RectInside(target, view->width, view->height)) return -1;

    MemImgBase* store = view->store;
    if (store->kind == kMemImgGrey8) {
        // The converting copy sends every 8-bit destination through a palette search, which
        // the single-channel format has no palette for: take the red channel directly.
        const ColorFormat& f = image->format;
        const int bpp = f.bytesPerPixel;
        if (bpp < 1 || bpp > 4) return -1;
        for (int y = 0; y < height; ++y) {
            const uint8_t* in = image->pixels + ptrdiff_t{image->pitch} * (srcY + y) + ptrdiff_t{bpp} * srcX;
            uint8_t* out = view->pixels + ptrdiff_t{store->pitch} * (dstY + y) + dstX;
            for (int x = 0; x < width; ++x, in += bpp) {
                int red = 0;
                if (bpp == 1) {
                    red = f.palette[in[0]].red;
                } else {
                    uint32_t v = 0;
                    std::memcpy(&v, in, static_cast<size_t>(bpp));
                    DecodePixelColor(&f, v, &red, nullptr, nullptr, nullptr);
                }
                out[x] = static_cast<uint8_t>(red);
            }
        }
        MarkMemImgPixelsChanged(store);
        return 0;
    }
    if (store->kind == kMemImgGrey16) {
        // The red channel becomes the single channel.
        ConvertPixelRect(view->pixels, store->pitch, store->format, image->pixels, image->pitch, &image->format,
                         nullptr, 0, nullptr, dstX, dstY, &r, 0, 0, 0, 0, 1, 1, 0, 0);
        MarkMemImgPixelsChanged(store);
        return 0;
    }

    const int result = ConvertPixelRect(view->pixels, store->pitch, store->format, image->pixels, image->pitch,
                                        &image->format, alphaImage ? alphaImage->pixels : nullptr,
                                        alphaImage ? alphaImage->pitch : 0, alphaImage ? &alphaImage->format : nullptr,
                                        dstX, dstY, &r, 0, option, store->transparentColor, 0, 0, 0, 0, 0);
    if (result < 0) return -1;
    if (alphaImage == nullptr && store->paletted) store->paletteCount = result + 1;

    if (store->paletted) {
        for (int i = 0; i < 256; ++i) {
            const PaletteEntry& e = image->format.palette[i];
            if (store->kind == kMemImgXrgb32) {
                StorePixel32(store->palette + 4 * i, (uint32_t{e.red} << 16) | (uint32_t{e.green} << 8) | e.blue);
            } else {
                StorePixel16(store->palette + 2 * i, ((uint32_t{e.red} >> 3) << 11) | ((uint32_t{e.green} >> 2) << 5) |
                                                         (uint32_t{e.blue} >> 3));
            }
        }
        std::memcpy(store->secondPalette, store->palette, store->kind == kMemImgXrgb32 ? 1024 : 512);
    }

    MarkMemImgPixelsChanged(store);
    if (width == view->width && height == view->height) BuildMemImgLineRuns(view);
    return 0;
}
