// Little-endian fields of files, archives and network frames, read from bytes in memory.
#pragma once

#include <cstdint>

inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t ReadLe64(const uint8_t* p) { return uint64_t(ReadLe32(p)) | (uint64_t(ReadLe32(p + 4)) << 32); }
