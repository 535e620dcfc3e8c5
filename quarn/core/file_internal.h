// What the file layer's sources share among themselves and nobody else needs.
#pragma once

#include <cstdint>

#include "quarn/core/byte_order.h"
#include "quarn/core/core.h"

// Writes the over-long path line and returns -1.
int RefuseLongPath();

// The code page that 8-bit names are in when an archive names none: the one the library
// chose for its character-code format (0, the system's, for format 0).
uint32_t LibraryCodePage();
