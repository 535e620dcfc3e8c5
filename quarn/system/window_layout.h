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
                           int32_t screenHeight, quarn::PixelRect* proposed, double* scaleX, double* scaleY);
