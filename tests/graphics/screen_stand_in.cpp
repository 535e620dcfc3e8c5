// The screen's software images and colour value, as the screen code provides them, for the
// graph tests until that code is part of the tree.
#include "quarn/graphics/graph.h"
#include "quarn/graphics/screen_settings.h"

namespace quarn {

MEMIMG* BlendMemImg = nullptr;
MEMIMG* PrimaryScreenMemImg = nullptr;

uint32_t PackScreenColor(uint8_t red, uint8_t green, uint8_t blue)
{
    if (GetConfiguredColorBits() == 16) {
        return (uint32_t{red} >> 3) << 11 | (uint32_t{green} >> 2) << 5 | (uint32_t{blue} >> 3);
    }
    return 0xFF000000u | uint32_t{red} << 16 | uint32_t{green} << 8 | blue;
}

}  // namespace quarn
