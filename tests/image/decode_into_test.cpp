// Decoding into an image the caller keeps: the new picture takes the image's memory when it is
// large enough, and comes out byte for byte as a fresh decode does.
#include <gtest/gtest.h>

#include <string>

#include "decode_helpers.h"

namespace test {
namespace {

Bytes Bgra(int width, int height, uint8_t seed)
{
    Bytes b;
    PutText(b, "BGRA");
    Put32(b, 0x08080808);
    Put32(b, uint32_t(width));
    Put32(b, uint32_t(height));
    for (int i = 0; i < width * height * 4; ++i) b.push_back(uint8_t(seed + i * 7));
    return b;
}

// A bottom-up BMP of 5 x 3 at 24 or 32 bits a pixel, rows padded to 4 bytes.
Bytes Bmp(int bits)
{
    const int width = 5, height = 3, pitch = (width * bits / 8 + 3) / 4 * 4;
    Bytes b;
    PutBmpHeaders(b, width, height, bits, 0, 0, uint32_t(pitch * height));
    for (int i = 0; i < pitch * height; ++i) b.push_back(uint8_t(i * 13 + 1));
    return b;
}

// An RLE8 BMP of 6 x 2 that leaves most pixels to the zeroed start.
Bytes RunLengthBmp()
{
    const Bytes codes = {2, 5, 0, 0, 1, 9, 0, 1};
    Bytes b;
    PutBmpHeaders(b, 6, 2, 8, 1, 1024, uint32_t(codes.size()));
    for (int i = 0; i < 256; ++i) Put32(b, uint32_t(i * 0x010203));
    b.insert(b.end(), codes.begin(), codes.end());
    return b;
}

// A run-length TGA of 4 x 2 at 24 bits: a run of five, then three raw pixels.
Bytes Tga()
{
    Bytes b = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 2, 0, 24, 0x20};
    const Bytes packets = {0x84, 1, 2, 3, 0x02, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    b.insert(b.end(), packets.begin(), packets.end());
    return b;
}

// A DXT1 DDS of 5 x 3: two whole blocks.
Bytes Dds()
{
    Bytes b;
    PutText(b, "DDS ");
    Put32(b, 124);
    Put32(b, 0x1007);
    Put32(b, 3);
    Put32(b, 5);
    b.resize(4 + 76, 0);
    Put32(b, 4);
    PutText(b, "DXT1");
    b.resize(4 + 124, 0);
    const Bytes blocks = {0x00, 0xF8, 0x1F, 0x00, 0x1B, 0xE4, 0x55, 0xAA,
                          0xE0, 0x07, 0x1F, 0x00, 0xFF, 0x00, 0xFF, 0x00};
    b.insert(b.end(), blocks.begin(), blocks.end());
    return b;
}

// Everything a decode hands out except where its pixels are: the record, and the bytes of
// every row (the padding after them is not part of the picture).
void ExpectSamePicture(const BaseImage& got, const BaseImage& want)
{
    ASSERT_EQ(std::memcmp(&got.format, &want.format, sizeof want.format), 0);
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    ASSERT_EQ(got.pitch, want.pitch);
    ASSERT_EQ(got.mipmapCount, want.mipmapCount);
    if (want.format.compression != 0) {
        const size_t bytes = size_t(CompressedLevelBytes(want.format.compression, want.width, want.height));
        EXPECT_EQ(Bytes(got.pixels, got.pixels + bytes), Bytes(want.pixels, want.pixels + bytes));
        return;
    }
    const size_t row = size_t(want.width) * want.format.bytesPerPixel;
    for (int y = 0; y < want.height; ++y) {
        const uint8_t* g = got.pixels + std::ptrdiff_t(y) * got.pitch;
        const uint8_t* w = want.pixels + std::ptrdiff_t(y) * want.pitch;
        ASSERT_EQ(Bytes(g, g + row), Bytes(w, w + row)) << "row " << y;
    }
}

struct Sample {
    std::string name;
    Bytes file;
};

std::vector<Sample> Samples()
{
    std::vector<Sample> samples = {
        {"BMP 24-bit", Bmp(24)},   {"BMP 32-bit", Bmp(32)}, {"BMP RLE8", RunLengthBmp()},
        {"TGA run-length", Tga()}, {"BGRA", Bgra(3, 2, 5)}, {"DDS DXT1", Dds()},
    };
    const std::string png = DepsSource("libpng1.6-1.6.39/contrib/pngsuite");
    if (!png.empty()) {
        samples.push_back({"PNG", ReadFileBytes(png + "/basn2c08.png")});
        samples.push_back({"PNG interlaced", ReadFileBytes(png + "/interlaced/ibasn3p04.png")});
    }
    const std::string jpeg = DepsSource("libjpeg-turbo-2.1.5/testimages");
    if (!jpeg.empty()) samples.push_back({"JPEG", ReadFileBytes(jpeg + "/testorig.jpg")});
    return samples;
}

int DecodeInto(const Bytes& bytes, BaseImage* image) { return DecodeBytes(bytes, image, DecodeImageStreamInto); }

// Memory large enough: the picture goes into it, nothing is allocated for it, and what the
// memory held before shows nowhere.
TEST(DecodeImageStreamInto, TakesTheKeptMemoryForEveryFormat)
{
    for (const Sample& s : Samples()) {
        SCOPED_TRACE(s.name);
        Decoded fresh;
        ASSERT_EQ(DecodeBytes(s.file, &fresh), 0);
        Decoded kept;
        const uint32_t room = uint32_t(fresh.pitch ? fresh.pitch : 64) * uint32_t(fresh.height) + 4096;
        ASSERT_EQ(DecodeBytes(Bgra(int(room / 4), 1, 9), &kept), 0);
        std::memset(kept.pixels, 0xAB, TrackedMemorySize(kept.pixels));
        uint8_t* const memory = kept.pixels;
        const int32_t before = LiveBlocks();
        ASSERT_EQ(DecodeInto(s.file, &kept), 0);
        EXPECT_EQ(kept.pixels, memory);
        EXPECT_EQ(LiveBlocks(), before);
        ExpectSamePicture(kept, fresh);
    }
}

// Memory too small is given back and the picture gets its own; a failed decode discards the
// image; an empty record decodes as DecodeImageStream does.
TEST(DecodeImageStreamInto, ReplacesSmallMemoryAndDiscardsOnFailure)
{
    const Bytes big = Bgra(40, 30, 1);
    Decoded fresh;
    ASSERT_EQ(DecodeBytes(big, &fresh), 0);

    Decoded image;
    const int32_t empty = LiveBlocks();
    ASSERT_EQ(DecodeInto(Bgra(2, 2, 3), &image), 0);
    EXPECT_EQ(LiveBlocks(), empty + 1);
    ASSERT_EQ(DecodeInto(big, &image), 0);
    EXPECT_EQ(LiveBlocks(), empty + 1) << "the small memory was not freed";
    ExpectSamePicture(image, fresh);

    // Bytes no decoder takes, after decoders that took the memory and then failed on it
    // (a BMP whose rows are cut short).
    Bytes cutBmp = Bmp(24);
    cutBmp.resize(cutBmp.size() - 8);
    for (const Bytes& bad : {Bytes{1, 2, 3}, cutBmp}) {
        ASSERT_EQ(DecodeInto(big, &image), 0);
        EXPECT_EQ(DecodeInto(bad, &image), -1);
        const BaseImage zero{};
        EXPECT_EQ(std::memcmp(static_cast<BaseImage*>(&image), &zero, sizeof zero), 0);
        EXPECT_EQ(LiveBlocks(), empty);
    }
}

// An added decoder that decodes another picture into a record of its own and then declines:
// that decode gets memory of its own, and the kept memory stays for the decoder that takes
// the data.
int DecodeAnotherThenDecline(const ImageStream*, BaseImage*)
{
    Decoded inner;
    EXPECT_EQ(DecodeBytes(Bgra(2, 2, 1), &inner, DecodeBgraStream), 0);
    return -1;
}

TEST(DecodeImageStreamInto, DecodesInsideKeepTheirOwnMemory)
{
    ResetImageState();
    ASSERT_EQ(AddImageStreamDecoder(DecodeAnotherThenDecline), 0);
    Decoded kept;
    ASSERT_EQ(DecodeBytes(Bgra(16, 16, 1), &kept), 0);
    uint8_t* const memory = kept.pixels;
    const int32_t before = LiveBlocks();
    ASSERT_EQ(DecodeInto(Bgra(4, 4, 2), &kept), 0);
    EXPECT_EQ(kept.pixels, memory);
    EXPECT_EQ(LiveBlocks(), before);
    ResetImageState();
}

}  // namespace
}  // namespace test
