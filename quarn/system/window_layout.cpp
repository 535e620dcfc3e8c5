#include "quarn/system/window_layout.h"

namespace {

// Held to the int32 range: the products below are taken in 64 bits.
int32_t Clamp32(int64_t v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v); }

}  // namespace

void KeepClientProportions(int32_t edge, int32_t frameWidth, int32_t frameHeight, int32_t screenWidth,
                           int32_t screenHeight, quarn::PixelRect* proposed, double* scaleX, double* scaleY)
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
