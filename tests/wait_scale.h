// Waits for a process or a window, scaled to how fast this machine runs Windows programs now.
#pragma once

#include <cstdlib>

// A wait of ms milliseconds as it would be on an idle machine running at full speed, times
// QUARN_WAIT_SCALE: tools/wine-run measures it before each run from the start of a trivial
// program in the same prefix, so it grows with the load beside the tests and under user-mode
// emulation. Unset or unreadable, the wait is taken as it is.
inline unsigned long scaled_wait_ms(unsigned long ms)
{
    const char* text = std::getenv("QUARN_WAIT_SCALE");
    const long scale = text != nullptr ? std::strtol(text, nullptr, 10) : 1;
    return ms * static_cast<unsigned long>(scale >= 1 && scale <= 100 ? scale : 1);
}
