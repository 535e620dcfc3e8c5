// The window's size arithmetic: keeping the screen's proportions while the user drags a
// border, and the scale that results. Needs no operating system.
#pragma once

#include <cstdint>

#include "quarn/core/rect.h"

// The border being dragged, numbered as WM_SIZING numbers it.
enum : int32_t {
    kSizingLeft = 1,
    kSizingRight = 2,
    kSizingTop = 3,
    kSizingTopLeft = 4,
    kSizingTopRight = 5,
    kSizingBottom = 6,
    kSizingBottomLeft = 7,
    kSizingBottomRight = 8,
};

// Reshapes the proposed window rectangle (frame included) so that its client area has the
// screen's proportions: dragging the top or bottom border sets the height and the width
// follows, any other border the width. The dragged sides move; the opposite sides stay. A
// client area that would be empty becomes the screen's own size. frameWidth and frameHeight
// are what the frame (and tool bar) add to the client area; the screen size is positive. The
// client area's scale against the screen goes to scaleX and scaleY.
void KeepClientProportions(int32_t edge, int32_t frameWidth, int32_t frameHeight, int32_t screenWidth,
                           int32_t screenHeight, PixelRect* proposed, double* scaleX, double* scaleY);

struct BaseImage;

// The layered window's picture is the screen below the caption's height: the 32-bit bitmap that
// carries it is the image's width by its height plus captionOffset (negative offsets count as
// 0). 0, or -1 for an empty image or a size that does not fit an int.
int32_t LayeredPictureSize(int32_t imageWidth, int32_t imageHeight, int32_t captionOffset, int32_t* width,
                           int32_t* height);

// Writes the image into a top-down 32-bit picture (pitch bytes a row, premultiplied A8R8G8B8 as
// per-pixel alpha blending takes it) starting captionOffset rows down. Pixels of the
// transparent colour (0x00RRGGBB) become fully transparent and all others opaque; with
// useImageAlpha the image's own alpha is kept instead (opaque for images without alpha).
// 0, or -1 when the picture is smaller than the image needs.
int32_t FillLayeredPicture(uint8_t* picture, int32_t pitch, int32_t pictureWidth, int32_t pictureHeight,
                           const BaseImage* image, int32_t captionOffset, uint32_t transparentColor,
                           int32_t useImageAlpha);
