// Export of a base image as a top-down Windows DIB.
#include <windows.h>

#include <cstring>

#include "quarn/core/core.h"
#include "quarn/image/image.h"

namespace {

bool IsRgb888(const ColorFormat& f)
{
    return f.bitDepth == 24 && f.redMask == 0xFF0000 && f.greenMask == 0xFF00 && f.blueMask == 0xFF;
}

uint8_t* AllocDib(int pitch, int height)
{
    const uint64_t bytes = uint64_t(uint32_t(pitch)) * uint32_t(height);
    if (bytes > 0x7FFFFFFF) return nullptr;
    return static_cast<uint8_t*>(AllocTrackedMemory(uint32_t(bytes), "", 0));
}

}  // namespace

int BaseImageToDib(const BaseImage* image, BITMAPINFO* header, uint8_t** outPixels, int alwaysCopy, int force24Bit)
{
    if (!image || !header || !outPixels || !image->pixels || image->width <= 0 || image->height <= 0 ||
        image->width > 0x0FFFFFFF)
        return -1;
    std::memset(header, 0, sizeof(BITMAPINFOHEADER) + sizeof(RGBQUAD));
    BITMAPINFOHEADER& h = header->bmiHeader;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = image->width;
    h.biHeight = -image->height;
    h.biPlanes = 1;
    h.biCompression = BI_RGB;
    const int width = image->width, height = image->height;

    if (image->format.bitDepth == 8 && !force24Bit) {
        h.biBitCount = 8;
        std::memcpy(header->bmiColors, image->format.palette, sizeof image->format.palette);
        const int pitch = (width + 3) / 4 * 4;
        if (alwaysCopy != 1 && pitch == image->pitch) {
            *outPixels = image->pixels;
            return alwaysCopy;
        }
        uint8_t* buf = AllocDib(pitch, height);
        if (!buf) return -1;
        for (int y = 0; y < height; ++y)
            std::memcpy(buf + std::ptrdiff_t(y) * pitch, image->pixels + std::ptrdiff_t(y) * image->pitch, width);
        *outPixels = buf;
        return 1;
    }

    h.biBitCount = 24;
    const int pitch = (width + 1) * 3 / 4 * 4;
    const bool rgb888 = IsRgb888(image->format);
    if (rgb888 && alwaysCopy != 1 && pitch == image->pitch) {
        *outPixels = image->pixels;
        return alwaysCopy;
    }
    uint8_t* buf = AllocDib(pitch, height);
    if (!buf) return -1;
    if (rgb888) {
        for (int y = 0; y < height; ++y)
            std::memcpy(buf + std::ptrdiff_t(y) * pitch, image->pixels + std::ptrdiff_t(y) * image->pitch,
                        size_t(width) * 3);
    } else {
        ColorFormat rgb{};
        SetupRgb888Format(&rgb);
        const PixelRect rect = {0, 0, width, height};
        if (ConvertPixelRect(buf, pitch, &rgb, image->pixels, image->pitch, &image->format, nullptr, 0, nullptr, 0, 0,
                             &rect, 0, 0, 0, 0, 0, 0, 0, 0) < 0) {
            FreeTrackedMemory(buf);
            return -1;
        }
    }
    *outPixels = buf;
    return 1;
}
