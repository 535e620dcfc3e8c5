#include "quarn/system/window_layout.h"

#include <cstddef>

#include "quarn/image/image.h"

namespace {

// Held to the int32 range: the products below are taken in 64 bits.
int32_t Clamp32(int64_t v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v); }

}  // namespace

void KeepClientProportions(int32_t edge, int32_t frameWidth, int32_t frameHeight, int32_t screenWidth,
                           int32_t screenHeight, PixelRect* proposed, double* scaleX, double* scaleY)
{
    int64_t clientWidth = int64_t{proposed->right} - proposed->left - frameWidth;
    int64_t clientHeight = int64_t{proposed->bottom} - proposed->top - frameHeight;
    if (edge == kSizingTop || edge == kSizingBottom) {
        clientWidth = clientHeight * screenWidth / screenHeight;
    } else {
        clientHeight = clientWidth * screenHeight / screenWidth;
    }
    if (clientWidth < 1 || clientHeight < 1) {
        clientWidth = screenWidth;
        clientHeight = screenHeight;
    }
    if (edge == kSizingTop || edge == kSizingTopLeft || edge == kSizingTopRight) {
        proposed->top = Clamp32(proposed->bottom - clientHeight - frameHeight);
    } else {
        proposed->bottom = Clamp32(proposed->top + clientHeight + frameHeight);
    }
    if (edge == kSizingLeft || edge == kSizingTopLeft || edge == kSizingBottomLeft) {
        proposed->left = Clamp32(proposed->right - clientWidth - frameWidth);
    } else {
        proposed->right = Clamp32(proposed->left + clientWidth + frameWidth);
    }
    *scaleX = static_cast<double>(clientWidth) / screenWidth;
    *scaleY = static_cast<double>(clientHeight) / screenHeight;
}

int32_t LayeredPictureSize(int32_t imageWidth, int32_t imageHeight, int32_t captionOffset, int32_t* width,
                           int32_t* height)
{
    const int64_t offset = captionOffset > 0 ? captionOffset : 0;
    if (imageWidth <= 0 || imageHeight <= 0 || imageHeight + offset > INT32_MAX ||
        int64_t{imageWidth} * (imageHeight + offset) * 4 > INT32_MAX) {
        return -1;
    }
    *width = imageWidth;
    *height = static_cast<int32_t>(imageHeight + offset);
    return 0;
}

int32_t FillLayeredPicture(uint8_t* picture, int32_t pitch, int32_t pictureWidth, int32_t pictureHeight,
                           const BaseImage* image, int32_t captionOffset, uint32_t transparentColor,
                           int32_t useImageAlpha)
{
    int32_t width = 0;
    int32_t height = 0;
    if (image == nullptr || image->pixels == nullptr ||
        LayeredPictureSize(image->width, image->height, captionOffset, &width, &height) != 0 || pictureWidth < width ||
        pictureHeight < height || pitch < int64_t{width} * 4) {
        return -1;
    }
    const int32_t top = height - image->height;
    ColorFormat argb{};
    SetupArgb8888Format(&argb);
    const PixelRect whole{0, 0, image->width, image->height};
    ConvertPixelRect(picture, pitch, &argb, image->pixels, image->pitch, &image->format, nullptr, 0, nullptr, 0, top,
                     &whole, 0, useImageAlpha ? 0 : 1, transparentColor & 0xFFFFFFu, 0, 0, 0, 0, 0);
    // Per-pixel alpha blending adds the colour as it stands: a transparent pixel has to be black
    // and a translucent one scaled by its alpha.
    for (int32_t y = top; y < height; ++y) {
        uint8_t* p = picture + std::ptrdiff_t{y} * pitch;
        for (int32_t x = 0; x < width; ++x, p += 4) {
            const uint32_t alpha = p[3];
            if (alpha != 255) {
                for (int c = 0; c < 3; ++c) {
                    p[c] = static_cast<uint8_t>((p[c] * alpha + 127) / 255);
                }
            }
        }
    }
    return 0;
}
