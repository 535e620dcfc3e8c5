// What the file layer's sources share among themselves and nobody else needs.
#pragma once

#include <cstdint>

#include "quarn/core/core.h"

// Writes the over-long path line and returns -1.
int RefuseLongPath();

// The code page that 8-bit names are in when an archive names none: the one the library
// chose for its character-code format (0, the system's, for format 0).
uint32_t LibraryCodePage();

// Little-endian fields.
inline uint32_t ReadLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint16_t ReadLe16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint64_t ReadLe64(const uint8_t* p)
{
    return uint64_t(ReadLe32(p)) | (uint64_t(ReadLe32(p + 4)) << 32);
}
