// Every image decoder's load through the load front with each of its allocations failing in
// turn: the load is refused with nothing handed out, or it decodes the same image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode_helpers.h"
#include "tests/core/alloc_sweep.h"

namespace test {
namespace {

// A bottom-up BMP of 5 x 3 pixels: 8-bit (compression 0 or RLE8), 4, 16, 24 or 32-bit.
Bytes Bmp(int bits, uint32_t compression)
{
    const int width = 5, height = 3;
    const uint32_t table = bits <= 8 ? (4u << bits) : 0;
    Bytes data;
    if (compression == 1) {
        for (int y = 0; y < height; ++y) data.insert(data.end(), {3, uint8_t(y + 1), 2, uint8_t(9 - y), 0, 0});
        data.insert(data.end(), {0, 1});
    } else {
        const int pitch = ((bits * width + 7) / 8 + 3) / 4 * 4;
        for (int i = 0; i < pitch * height; ++i) data.push_back(uint8_t(i * 37 + 11));
    }
    Bytes b;
    PutBmpHeaders(b, width, height, bits, compression, table, uint32_t(data.size()));
    for (uint32_t i = 0; i < table; ++i) b.push_back(uint8_t(i * 13));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes Bgra(uint32_t tag)
{
    Bytes b;
    PutText(b, "BGRA");
    Put32(b, tag);
    Put32(b, 3);
    Put32(b, 2);
    const int bytes = 3 * 2 * (tag == 0x10101010 ? 8 : 4);
    for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(i * 29 + 3));
    return b;
}

// A TGA of 4 x 3: true colour (2, or 10 run-length coded) of 24 bits, or colour-mapped (1,
// or 9) with 24-bit entries; bottom-up.
Bytes Tga(int type)
{
    const bool mapped = type == 1 || type == 9;
    Bytes b = {0, uint8_t(mapped ? 1 : 0), uint8_t(type)};
    Put16(b, 0);
    Put16(b, mapped ? 4 : 0);
    b.push_back(mapped ? 24 : 0);
    Put16(b, 0);
    Put16(b, 0);
    Put16(b, 4);
    Put16(b, 3);
    b.push_back(mapped ? 8 : 24);
    b.push_back(0);
    if (mapped)
        for (int i = 0; i < 12; ++i) b.push_back(uint8_t(i * 21));
    const int value = mapped ? 1 : 3;
    if (type == 9 || type == 10) {
        for (int row = 0; row < 3; ++row) {
            b.push_back(0x81);  // two pixels of one value
            for (int i = 0; i < value; ++i) b.push_back(uint8_t(row + i));
            b.push_back(0x01);  // two pixels as they are
            for (int i = 0; i < 2 * value; ++i) b.push_back(uint8_t(mapped ? (row + i) % 4 : 40 * row + i));
        }
    } else {
        for (int i = 0; i < 12 * value; ++i) b.push_back(uint8_t(mapped ? i % 4 : i * 7));
    }
    return b;
}

// A DDS of 8 x 8: DXT1 with its mipmaps, or uncompressed 32-bit pixels.
Bytes Dds(bool dxt1)
{
    Bytes b;
    PutText(b, "DDS ");
    Put32(b, 124);
    Put32(b, dxt1 ? 0x20000 : 0);
    Put32(b, 8);
    Put32(b, 8);
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, dxt1 ? 4 : 0);
    b.resize(4 + 72, 0);
    Put32(b, 32);
    Put32(b, dxt1 ? 4 : 0x41);
    if (dxt1) PutText(b, "DXT1");
    else Put32(b, 0);
    Put32(b, dxt1 ? 0 : 32);
    for (uint32_t m : {0xFF0000u, 0xFF00u, 0xFFu, 0xFF000000u}) Put32(b, dxt1 ? 0 : m);
    Put32(b, dxt1 ? 0x400008 : 0);
    b.resize(4 + 124, 0);
    const int bytes = dxt1 ? 32 + 8 + 8 + 8 : 8 * 8 * 4;
    for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(i * 53 + 1));
    return b;
}

// What a decode made, for comparing a run with the first one.
struct Made {
    int32_t width = 0, height = 0, pitch = 0, mipmaps = 0, bits = 0, kind = 0;
    Bytes pixels;
    bool operator==(const Made& o) const
    {
        return width == o.width && height == o.height && pitch == o.pitch && mipmaps == o.mipmaps && bits == o.bits &&
               kind == o.kind && pixels == o.pixels;
    }
};

Made Describe(const BaseImage& image)
{
    Made m{image.width,
           image.height,
           image.pitch,
           image.mipmapCount,
           image.format.bitDepth,
           int32_t(image.format.compression),
           {}};
    if (!image.pixels) return m;
    // Block-compressed pixels have no pitch: their first block stands for them. Rows are
    // compared without their padding, which no decoder writes.
    if (image.pitch <= 0) {
        m.pixels.assign(image.pixels, image.pixels + 8);
        return m;
    }
    const size_t row = size_t(image.width) * image.format.bytesPerPixel;
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t* at = image.pixels + size_t(y) * size_t(image.pitch);
        m.pixels.insert(m.pixels.end(), at, at + row);
    }
    return m;
}

struct ImageCase {
    const char* name;
    Bytes bytes;
    int32_t mirror;
};

TEST(ImageAllocationSweep, EveryDecoderIsRefusedCleanlyOrDecodesTheSameImage)
{
    std::vector<ImageCase> cases = {
        {"BMP 8-bit", Bmp(8, 0), 0},
        {"BMP 8-bit mirrored", Bmp(8, 0), 1},
        {"BMP RLE8", Bmp(8, 1), 0},
        {"BMP 4-bit", Bmp(4, 0), 0},
        {"BMP 24-bit", Bmp(24, 0), 0},
        {"BMP 16-bit", Bmp(16, 0), 0},
        {"BMP 32-bit", Bmp(32, 0), 1},
        {"BGRA 8 bits a channel", Bgra(0x08080808), 0},
        {"BGRA 16 bits a channel", Bgra(0x10101010), 1},
        {"TGA true colour", Tga(2), 0},
        {"TGA run-length", Tga(10), 0},
        {"TGA colour-mapped", Tga(1), 0},
        {"TGA colour-mapped run-length", Tga(9), 0},
        {"DDS DXT1 with mipmaps", Dds(true), 0},
        {"DDS DXT1 mirrored", Dds(true), 1},
        {"DDS 32-bit", Dds(false), 0},
    };
    const std::string png = DepsSource("libpng1.6-1.6.39");
    if (!png.empty()) cases.push_back({"PNG", ReadFileBytes(png + "/pngtest.png"), 0});
    const std::string jpeg = DepsSource("libjpeg-turbo-2.1.5");
    if (!jpeg.empty()) cases.push_back({"JPEG", ReadFileBytes(jpeg + "/testimages/testorig.jpg"), 0});

    for (const ImageCase& c : cases) {
        Made first;
        bool haveFirst = false;
        BaseImage image{};
        AllocationSweep sweep;
        sweep.name = c.name;
        sweep.run = [&]() -> int32_t {
            std::memset(static_cast<void*>(&image), 0x5A, sizeof image);
            const int result = DecodeImageToBaseImage(nullptr, c.bytes.data(), int32_t(c.bytes.size()), 1, &image,
                                                      c.mirror);
            if (result != 0) return -1;
            const Made made = Describe(image);
            if (!haveFirst) {
                first = made;
                haveFirst = true;
            }
            EXPECT_TRUE(made == first) << c.name << ": a load that survived a failed allocation made another image";
            return 0;
        };
        sweep.undo = [&](int32_t) { DiscardBaseImage(&image); };
        // The decoders have no line of their own for a failed allocation: the allocator's dump
        // is what the log shows.
        sweep.refusalLines = {L"Alloc memory dump"};
        sweep.nothingLeft = [&] {
            const auto* raw = reinterpret_cast<const uint8_t*>(&image);
            size_t written = 0;
            for (size_t i = 0; i < sizeof image; ++i) written += raw[i] != 0x5A;
            EXPECT_EQ(written, 0u) << c.name << ": a refused load wrote the caller's image";
        };
        const uint32_t requests = SweepFailingAllocations(sweep);
        EXPECT_GT(requests, 0u) << c.name;
        ASSERT_FALSE(::testing::Test::HasFailure()) << c.name;
    }
}

}  // namespace
}  // namespace test
