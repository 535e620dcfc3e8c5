// What the decoder tests share: images that free themselves, decoding a byte vector through
// a memory stream, little-endian byte builders, and the corpus folder of the dependencies'
// source packages.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/core/files.h"
#include "quarn/image/image.h"

namespace test {

using Bytes = std::vector<uint8_t>;

// A decoded image, discarded at the end of the test.
struct Decoded : BaseImage {
    Decoded() : BaseImage{} {}
    ~Decoded() { DiscardBaseImage(this); }
    Decoded(const Decoded&) = delete;
    Decoded& operator=(const Decoded&) = delete;

    // 0xAARRGGBB through the library's pixel read (palette entries for paletted images).
    uint32_t Argb(int x, int y)
    {
        int r = 0, g = 0, b = 0, a = 0;
        EXPECT_EQ(ReadBaseImagePixelRgba(this, x, y, &r, &g, &b, &a), 0) << x << "," << y;
        return uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
    }
    uint32_t Rgb(int x, int y) { return Argb(x, y) & 0xFFFFFF; }
    const uint8_t* Row(int y) const { return pixels + std::ptrdiff_t(y) * pitch; }
};

// Runs a decoder (the front by default) over the bytes through a memory stream.
inline int DecodeBytes(const Bytes& bytes, BaseImage* out, ImageStreamDecoder decoder = DecodeImageStream)
{
    MemoryStream* memory = OpenMemoryStream(bytes.data(), uint32_t(bytes.size()));
    if (!memory) return -2;
    const ImageStream stream{GetMemoryStreamFunctions(), reinterpret_cast<StreamHandle>(memory)};
    const int result = decoder(&stream, out);
    CloseMemoryStream(reinterpret_cast<StreamHandle>(memory));
    return result;
}

inline void Put16(Bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
inline void PutText(Bytes& b, const char* text)
{
    for (const char* p = text; *p; ++p) b.push_back(uint8_t(*p));
}
// A BMP's file and 40-byte information headers, for a colour table of tableBytes and pixel
// data of dataBytes that follow them; a negative height is a top-down file.
inline void PutBmpHeaders(Bytes& b, int32_t width, int32_t height, int bits, uint32_t compression, uint32_t tableBytes,
                          uint32_t dataBytes)
{
    PutText(b, "BM");
    Put32(b, 54 + tableBytes + dataBytes);
    Put32(b, 0);
    Put32(b, 54 + tableBytes);
    Put32(b, 40);
    Put32(b, uint32_t(width));
    Put32(b, uint32_t(height));
    Put16(b, 1);
    Put16(b, uint32_t(bits));
    Put32(b, compression);
    for (int i = 0; i < 5; ++i) Put32(b, 0);
}
inline void Set32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

inline Bytes ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Live blocks of the library allocator; a decode that fails leaves their number as it was.
inline int32_t LiveBlocks() { return GetAllocatorTotals().blockCount; }

// The unpacked source packages of libpng and libjpeg, or "" when setup has not unpacked them.
inline std::string DepsSource(const char* sub)
{
#ifdef QUARN_DEPS_SRC
    const std::string path = std::string(QUARN_DEPS_SRC) + "/" + sub;
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) return path;
#endif
    (void)sub;
    return "";
}

}  // namespace test
