// The "BGRA", TGA and DDS decoders on generated files, and the front that tries every
// decoder in turn.
#include <gtest/gtest.h>

#include <random>

#include "decode_helpers.h"
#include "tests/core/log_capture.h"

namespace test {
namespace {

// ---- "BGRA" ----

Bytes MakeBgra(uint32_t tag, int32_t width, int32_t height, const Bytes& pixels)
{
    Bytes b;
    PutText(b, "BGRA");
    Put32(b, tag);
    Put32(b, uint32_t(width));
    Put32(b, uint32_t(height));
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

TEST(BgraDecoder, ReadsBothDepths)
{
    // 2 x 2; at 16 bits a channel only each value's high byte counts (0x12FF keeps 0x12).
    const Bytes eight = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    Bytes sixteen;
    for (uint8_t v : eight) sixteen.insert(sixteen.end(), {0xFF, v});
    sixteen[0] = 0xFF;
    sixteen[1] = 0x12;
    for (const bool wide : {false, true}) {
        Decoded im;
        ASSERT_EQ(DecodeBytes(MakeBgra(wide ? 0x10101010 : 0x08080808, 2, 2, wide ? sixteen : eight), &im), 0);
        EXPECT_EQ(im.format.bitDepth, 32);
        EXPECT_EQ(im.format.alphaMask, 0xFF000000u);
        EXPECT_EQ(im.pitch, 8);
        EXPECT_EQ(im.Argb(0, 0), wide ? 0x04030212u : 0x04030201u);
        EXPECT_EQ(im.Argb(1, 1), 0x100F0E0Du);
    }
}

TEST(BgraDecoder, RefusesSizesTheDataDoesNotHold)
{
    struct Case {
        const char* name;
        Bytes file;
    };
    const Bytes onePixel = {1, 2, 3, 4};
    const Case cases[] = {
        {"one byte short", MakeBgra(0x08080808, 2, 1, {1, 2, 3, 4, 5, 6, 7})},
        {"16-bit, one byte short", MakeBgra(0x10101010, 1, 1, {1, 2, 3, 4, 5, 6, 7})},
        // 0x8000 x 0x8000 x 4 bytes wraps to 0 in 32 bits.
        {"wrapping size", MakeBgra(0x08080808, 0x8000, 0x8000, onePixel)},
        {"width 0", MakeBgra(0x08080808, 0, 1, onePixel)},
        {"negative height", MakeBgra(0x08080808, 1, -1, onePixel)},
        {"other tag", MakeBgra(0x08080800, 1, 1, onePixel)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t before = LiveBlocks();
        Decoded im;
        EXPECT_EQ(DecodeBytes(c.file, &im, DecodeBgraStream), -1);
        EXPECT_EQ(im.pixels, nullptr);
        EXPECT_EQ(LiveBlocks(), before);
    }
}

// ---- TGA ----

struct TgaFile {
    int type = 2;
    int width = 5, height = 3;
    int bits = 24;           // of the pixels, or of the colour map entries
    uint8_t descriptor = 0;  // 0x20 top row first, 0x10 right to left
    Bytes id;
    int mapFirst = 0;
    Bytes map;  // colour map entries
    int mapLength = 0;
    Bytes data;  // as stored
    bool footer = false;

    Bytes Write() const
    {
        const bool mapped = type == 1 || type == 9;
        Bytes b = {uint8_t(id.size()), uint8_t(mapLength ? 1 : 0), uint8_t(type)};
        Put16(b, uint32_t(mapFirst));
        Put16(b, uint32_t(mapLength));
        b.push_back(uint8_t(mapLength ? (mapped ? bits : 24) : 0));
        Put16(b, 0);
        Put16(b, 0);
        Put16(b, uint32_t(width));
        Put16(b, uint32_t(height));
        b.push_back(uint8_t(mapped ? 8 : bits));
        b.push_back(descriptor);
        b.insert(b.end(), id.begin(), id.end());
        b.insert(b.end(), map.begin(), map.end());
        b.insert(b.end(), data.begin(), data.end());
        if (footer) {
            Put32(b, 0);
            Put32(b, 0);
            PutText(b, "TRUEVISION-XFILE.");
            b.push_back(0);
        }
        return b;
    }
};

// Run-length packets of the values (each `size` bytes): repeats become run packets, the rest
// raw packets, and packets cross row ends as the format allows.
Bytes Encode(const Bytes& values, int size)
{
    Bytes out;
    const size_t count = values.size() / size;
    auto same = [&](size_t a, size_t b) {
        return std::equal(values.begin() + long(a * size), values.begin() + long((a + 1) * size),
                          values.begin() + long(b * size));
    };
    for (size_t i = 0; i < count;) {
        size_t run = 1;
        while (i + run < count && run < 128 && same(i, i + run)) ++run;
        if (run > 1) {
            out.push_back(uint8_t(0x80 | (run - 1)));
            out.insert(out.end(), values.begin() + long(i * size), values.begin() + long((i + 1) * size));
            i += run;
            continue;
        }
        size_t raw = 1;
        while (i + raw < count && raw < 128 && !(i + raw + 1 < count && same(i + raw, i + raw + 1))) ++raw;
        out.push_back(uint8_t(raw - 1));
        out.insert(out.end(), values.begin() + long(i * size), values.begin() + long((i + raw) * size));
        i += raw;
    }
    return out;
}

// A picture of width x height values of `size` bytes, top row first, with runs in it.
Bytes Picture(int width, int height, int size, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes p(size_t(width) * height * size);
    for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t(rng());
    if (p.size() >= size_t(3 * size))
        for (int k = 0; k < 2 * size; ++k) p[size + k] = p[k];  // a run of three at the start
    return p;
}

// The picture stored in the file's orientation.
Bytes Stored(const Bytes& picture, int width, int height, int size, uint8_t descriptor)
{
    Bytes out;
    for (int i = 0; i < height; ++i) {
        const int y = descriptor & 0x20 ? i : height - 1 - i;
        for (int j = 0; j < width; ++j) {
            const int x = descriptor & 0x10 ? width - 1 - j : j;
            const auto at = picture.begin() + long((size_t(y) * width + x) * size);
            out.insert(out.end(), at, at + size);
        }
    }
    return out;
}

TEST(TgaDecoder, ReadsEveryTypeDepthAndOrientation)
{
    for (const int type : {1, 2, 9, 10}) {
        for (const int bits : {16, 24, 32}) {
            for (const uint8_t descriptor : {0x00, 0x20, 0x10, 0x30}) {
                SCOPED_TRACE("type " + std::to_string(type) + ", " + std::to_string(bits) + " bits, descriptor " +
                             std::to_string(descriptor));
                const int bytes = bits / 8;
                const bool mapped = type == 1 || type == 9;
                TgaFile f;
                f.type = type;
                f.bits = bits;
                f.descriptor = descriptor;
                f.id = {'i', 'd', '!'};
                f.footer = type >= 9;
                Bytes expected;
                if (mapped) {
                    // Six colours from entry 10 on; indices into them.
                    f.mapFirst = 10;
                    f.mapLength = 6;
                    f.map = Picture(6, 1, bytes, 7);
                    Bytes indices = Picture(f.width, f.height, 1, 3);
                    for (uint8_t& i : indices) i = uint8_t(10 + i % 6);
                    for (int k = 0; k < 2; ++k) indices[1 + k] = indices[0];
                    for (uint8_t i : indices)
                        expected.insert(expected.end(), f.map.begin() + (i - 10) * bytes,
                                        f.map.begin() + (i - 9) * bytes);
                    const Bytes stored = Stored(indices, f.width, f.height, 1, descriptor);
                    f.data = type == 9 ? Encode(stored, 1) : stored;
                } else {
                    expected = Picture(f.width, f.height, bytes, uint32_t(bits));
                    const Bytes stored = Stored(expected, f.width, f.height, bytes, descriptor);
                    f.data = type == 10 ? Encode(stored, bytes) : stored;
                }
                Decoded im;
                ASSERT_EQ(DecodeBytes(f.Write(), &im), 0);
                EXPECT_EQ(im.format.bitDepth, bits);
                EXPECT_EQ(im.format.alphaWidth, bits == 32 ? 8 : 0);
                ASSERT_EQ(im.pitch, f.width * bytes);
                EXPECT_EQ(Bytes(im.pixels, im.pixels + expected.size()), expected);
            }
        }
    }
}

TEST(TgaDecoder, RefusesWhatItCannotRead)
{
    TgaFile good;
    good.data = Picture(good.width, good.height, 3, 1);
    Decoded ok;
    ASSERT_EQ(DecodeBytes(good.Write(), &ok, DecodeTgaStream), 0);

    TgaFile wide;
    wide.width = 8192;
    wide.height = 1;
    wide.data = Picture(8192, 1, 3, 1);
    Decoded widest;
    EXPECT_EQ(DecodeBytes(wide.Write(), &widest, DecodeTgaStream), 0);
    wide.width = 8193;
    wide.data.resize(8193 * 3);

    TgaFile shortRuns = good;
    shortRuns.type = 10;
    shortRuns.data = Encode(good.data, 3);
    shortRuns.data.pop_back();
    TgaFile fewPackets = shortRuns;
    fewPackets.data.resize(4);  // only the first packet: a run of three
    // The last packet is a run whose value is cut after its first byte: `81 11`.
    TgaFile cutRun = good;
    cutRun.type = 10;
    cutRun.width = 2;
    cutRun.height = 1;
    cutRun.data = {0x81, 0x11};
    TgaFile shortPlain = good;
    shortPlain.data.pop_back();
    TgaFile bigMap = good;
    bigMap.type = 1;
    bigMap.mapFirst = 250;
    bigMap.mapLength = 7;
    bigMap.map = Bytes(21, 1);
    bigMap.data = Bytes(15, 250);
    TgaFile shortMap = bigMap;
    shortMap.mapFirst = 0;
    shortMap.map.resize(20);
    shortMap.data.clear();
    TgaFile zero = good;
    zero.height = 0;
    TgaFile depth = good;
    depth.bits = 8;
    TgaFile mono = good;
    mono.type = 3;
    const std::pair<const char*, TgaFile> cases[] = {
        {"width 8193", wide},
        {"run-length data cut short", shortRuns},
        {"too few packets", fewPackets},
        {"run value cut short", cutRun},
        {"pixels cut short", shortPlain},
        {"colour map past entry 255", bigMap},
        {"colour map cut short", shortMap},
        {"height 0", zero},
        {"8-bit pixels", depth},
        {"grey type", mono},
    };
    for (const auto& [name, f] : cases) {
        SCOPED_TRACE(name);
        const int32_t before = LiveBlocks();
        Decoded im;
        EXPECT_EQ(DecodeBytes(f.Write(), &im, DecodeTgaStream), -1);
        EXPECT_EQ(im.pixels, nullptr);
        EXPECT_EQ(LiveBlocks(), before);
    }
}

// ---- DDS ----

struct DdsFile {
    uint32_t flags = 0x1007;  // caps, height, width, pixel format
    uint32_t width = 4, height = 4;
    uint32_t pitch = 0;
    uint32_t mipmaps = 0;
    uint32_t pfFlags = 0x40;
    const char* fourCc = nullptr;
    uint32_t fourCcCode = 0;
    uint32_t rgbBits = 32;
    uint32_t masks[4] = {0xFF0000, 0xFF00, 0xFF, 0};
    uint32_t caps = 0x1000;
    char fourth = ' ';
    Bytes data;

    Bytes Write() const
    {
        Bytes b;
        PutText(b, "DDS");
        b.push_back(uint8_t(fourth));
        Put32(b, 124);
        Put32(b, flags);
        Put32(b, height);
        Put32(b, width);
        Put32(b, pitch);
        Put32(b, 0);
        Put32(b, mipmaps);
        b.resize(4 + 72, 0);
        Put32(b, 32);
        Put32(b, pfFlags);
        if (fourCc) PutText(b, fourCc);
        else Put32(b, fourCcCode);
        Put32(b, rgbBits);
        for (uint32_t m : masks) Put32(b, m);
        Put32(b, caps);
        b.resize(4 + 124, 0);
        b.insert(b.end(), data.begin(), data.end());
        return b;
    }
};

DdsFile Blocks(const char* code, uint32_t width, uint32_t height, size_t bytes)
{
    DdsFile f;
    f.pfFlags = 4;
    f.fourCc = code;
    f.rgbBits = 0;
    f.width = width;
    f.height = height;
    f.data = Picture(int(bytes), 1, 1, 9);
    return f;
}

// Block-compressed data stays compressed; sides that are not multiples of 4 store whole
// blocks, and the expansion keeps their edge pixels.
// An uncompressed DDS whose pixels are described by channel masks.
DdsFile MaskedDds(uint32_t pfFlags, uint32_t bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a)
{
    DdsFile f;
    f.pfFlags = pfFlags;
    f.rgbBits = bits;
    f.masks[0] = r;
    f.masks[1] = g;
    f.masks[2] = b;
    f.masks[3] = a;
    return f;
}

TEST(DdsDecoder, KeepsBlocksAndTheirEdges)
{
    // 5 x 3: two blocks side by side. The right block's index bits select colour 1 (blue)
    // for its first column (the image's last), colour 0 (red) elsewhere.
    DdsFile f = Blocks("DXT1", 5, 3, 16);
    const Bytes left = {0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0};
    const Bytes right = {0x00, 0xF8, 0x1F, 0x00, 0x01, 0x01, 0x01, 0x01};
    f.data = left;
    f.data.insert(f.data.end(), right.begin(), right.end());
    Decoded im;
    ASSERT_EQ(DecodeBytes(f.Write(), &im), 0);
    EXPECT_EQ(im.format.compression, 1u);
    EXPECT_EQ(im.format.bitDepth, 4);
    EXPECT_EQ(im.pitch, 0);
    EXPECT_EQ(Bytes(im.pixels, im.pixels + 16), f.data);
    ASSERT_EQ(ExpandCompressedBaseImage(&im), 0);
    EXPECT_EQ(im.pitch, 20);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) EXPECT_EQ(im.Argb(x, y), 0xFFFF0000u) << x << "," << y;
        EXPECT_EQ(im.Argb(4, y), 0xFF0000FFu) << "edge pixel of row " << y;
    }
}

// Mip levels: each level's own whole blocks (or pixels), down to 1 x 1.
TEST(DdsDecoder, ReadsExactlyTheMipChain)
{
    struct Case {
        const char* name;
        DdsFile file;
        size_t bytes;
    };
    auto chain = [](DdsFile f, uint32_t levels) {
        f.flags |= 0x20000;
        f.caps |= 0x400008;
        f.mipmaps = levels;
        return f;
    };
    DdsFile rgb;
    rgb.width = 8;
    rgb.height = 2;
    const Case cases[] = {
        {"DXT1 64 x 64, 7 levels", chain(Blocks("DXT1", 64, 64, 0), 7), 2048 + 512 + 128 + 32 + 8 + 8 + 8},
        {"DXT5 4 x 4, 3 levels", chain(Blocks("DXT5", 4, 4, 0), 3), 16 * 3},
        {"DXT3 256 x 4, 9 levels", chain(Blocks("DXT3", 256, 4, 0), 9), 16 * (64 + 32 + 16 + 8 + 4 + 2 + 1 + 1 + 1)},
        {"32-bit 8 x 2, 4 levels", chain(rgb, 4), 4 * (16 + 4 + 2 + 1)},
        {"DXT1, more levels than the size has", chain(Blocks("DXT1", 4, 4, 0), 30), 8 * 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DdsFile f = c.file;
        f.data = Picture(int(c.bytes), 1, 1, 5);
        Decoded im;
        ASSERT_EQ(DecodeBytes(f.Write(), &im), 0);
        EXPECT_EQ(Bytes(im.pixels, im.pixels + c.bytes), f.data);
        f.data.pop_back();
        const int32_t before = LiveBlocks();
        Decoded cut;
        EXPECT_EQ(DecodeBytes(f.Write(), &cut), -1);
        EXPECT_EQ(LiveBlocks(), before);
    }
}

TEST(DdsDecoder, ReadsPixelLayouts)
{
    struct Case {
        const char* name;
        DdsFile file;
        Bytes pixel;    // the first pixel as stored
        uint32_t argb;  // as the library reads it
        int alphaWidth;
    };
    auto code = [](uint32_t d3dFormat) {
        DdsFile f;
        f.pfFlags = 4;
        f.fourCcCode = d3dFormat;
        f.rgbBits = 0;  // left out, as such files often do
        return f;
    };
    const Case cases[] = {
        {"A8R8G8B8", MaskedDds(0x41, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000), {1, 2, 3, 4}, 0x04030201, 8},
        // Without the alpha flag an alpha mask in the header does not count.
        {"X8R8G8B8", MaskedDds(0x40, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000), {1, 2, 3, 4}, 0x030201, 0},
        {"R5G6B5", MaskedDds(0x40, 16, 0xF800, 0x07E0, 0x1F, 0), {0x1F, 0xF8}, 0xFF00FF, 0},
        {"R8G8B8", MaskedDds(0x40, 24, 0xFF0000, 0xFF00, 0xFF, 0), {1, 2, 3}, 0x030201, 0},
        {"alpha flag without RGB",
         MaskedDds(0x2 | 0x1, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000),
         {1, 2, 3, 4},
         0x04030201,
         8},
        {"luminance L8", MaskedDds(0x20000, 8, 0xFF, 0, 0, 0), {0x80}, 0x808080, 0},
        {"luminance A8L8", MaskedDds(0x20001, 16, 0xFF, 0, 0, 0xFF00), {0x40, 0x90}, 0x90404040, 8},
        {"R3G3B2", MaskedDds(0x40, 8, 0xE0, 0x1C, 0x3, 0), {0xE3}, 0xFF00FF, 0},
        {"format code A8R8G8B8", code(21), {1, 2, 3, 4}, 0x04030201, 8},
        {"format code A2B10G10R10", code(31), {0xFF, 0x03, 0, 0xC0}, 0xFFFF0000, 2},
        {"format code X1R5G5B5", code(24), {0x00, 0x7C}, 0xFF0000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DdsFile f = c.file;
        f.width = 3;
        f.height = 2;
        f.data.clear();
        for (int i = 0; i < 6; ++i) f.data.insert(f.data.end(), c.pixel.begin(), c.pixel.end());
        Decoded im;
        ASSERT_EQ(DecodeBytes(f.Write(), &im), 0);
        EXPECT_EQ(im.pitch, int(3 * c.pixel.size()));
        EXPECT_EQ(im.format.alphaWidth, c.alphaWidth);
        EXPECT_EQ(im.Argb(2, 1), c.argb);
    }
}

TEST(DdsDecoder, TakesThePitchFlagAndRefusesWhatItCannotRead)
{
    // A pitch of 16 for rows of 12 bytes: the rows are read 16 bytes apart.
    DdsFile padded;
    padded.flags |= 0x8;
    padded.width = 3;
    padded.height = 2;
    padded.pitch = 16;
    padded.fourth = 'X';  // the fourth magic byte is not compared
    padded.data = Picture(32, 1, 1, 4);
    Decoded im;
    ASSERT_EQ(DecodeBytes(padded.Write(), &im), 0);
    EXPECT_EQ(im.pitch, 16);
    EXPECT_EQ(im.Argb(0, 1) & 0xFFFFFF, uint32_t(padded.data[16] | padded.data[17] << 8 | padded.data[18] << 16));

    DdsFile narrow = padded;
    narrow.pitch = 11;  // less than a row
    DdsFile unknown = Blocks("ATI2", 4, 4, 16);
    DdsFile odd = padded;
    odd.rgbBits = 12;
    odd.flags &= ~0x8u;
    DdsFile empty = padded;
    empty.width = 0;
    DdsFile huge = Blocks("DXT5", 0x40000000, 0x40000000, 16);
    const Bytes whole = padded.Write();
    const std::pair<const char*, Bytes> cases[] = {
        {"pitch below the row", narrow.Write()}, {"unknown FourCC", unknown.Write()},
        {"12-bit pixels", odd.Write()},          {"width 0", empty.Write()},
        {"huge blocks", huge.Write()},           {"header cut short", Bytes(whole.begin(), whole.begin() + 100)},
    };
    for (const auto& [name, file] : cases) {
        SCOPED_TRACE(name);
        const int32_t before = LiveBlocks();
        Decoded bad;
        EXPECT_EQ(DecodeBytes(file, &bad, DecodeDdsStream), -1);
        EXPECT_EQ(LiveBlocks(), before);
    }
}

// Channel masks reaching past the pixel's bit count are refused with a log line rather than
// read as black; an alpha mask that does not count (no alpha flag) is not looked at.
TEST(DdsDecoder, RefusesMasksOutsideTheBitCount)
{
    auto masked = [](uint32_t pfFlags, uint32_t bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
        DdsFile f = MaskedDds(pfFlags, bits, r, g, b, a);
        f.data = Picture(int(bits / 8 * 16), 1, 1, 3);
        return f;
    };
    const std::pair<const char*, DdsFile> refused[] = {
        {"16-bit pixels, 8-8-8 masks", masked(0x40, 16, 0xFF0000, 0xFF00, 0xFF, 0)},
        {"24-bit pixels, a green mask in the fourth byte", masked(0x40, 24, 0xFF, 0xFF000000, 0xFF00, 0)},
        {"8-bit luminance in the second byte", masked(0x20000, 8, 0xFF00, 0, 0, 0)},
        {"16-bit with an alpha mask above it", masked(0x41, 16, 0xF00, 0xF0, 0xF, 0xF0000)},
    };
    for (const auto& [name, f] : refused) {
        SCOPED_TRACE(name);
        LogCapture log;
        const int32_t before = LiveBlocks();
        Decoded im;
        EXPECT_EQ(DecodeBytes(f.Write(), &im, DecodeDdsStream), -1);
        EXPECT_EQ(im.pixels, nullptr);
        EXPECT_EQ(LiveBlocks(), before);
        EXPECT_TRUE(log.Contains(L"DDS画像を読み込めません")) << "no log line";
    }
    // Without the alpha flag the alpha mask is not part of the layout.
    Decoded im;
    ASSERT_EQ(DecodeBytes(masked(0x40, 16, 0xF800, 0x07E0, 0x1F, 0xFF0000).Write(), &im), 0);
    EXPECT_EQ(im.format.alphaWidth, 0);
}

// ---- The block expansion ----

struct BlockCase {
    const char* name;
    uint32_t kind;
    Bytes block;
    std::vector<std::pair<int, uint32_t>> pixels;  // pixel index and its 0xAARRGGBB
};

TEST(BlockExpansion, DecodesEachKind)
{
    const BlockCase cases[] = {
        // c0 = c1 = white: every index is white, index 3 transparent.
        {"DXT1 equal end points",
         1,
         {0xFF, 0xFF, 0xFF, 0xFF, 0xE4, 0, 0, 0},
         {{0, 0xFFFFFFFF}, {1, 0xFFFFFFFF}, {2, 0xFFFFFFFF}, {3, 0x00FFFFFF}}},
        {"DXT1 c0 > c1",
         1,
         {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0, 0, 0},
         {{0, 0xFFFF0000}, {1, 0xFF0000FF}, {2, 0xFFAA0055}, {3, 0xFF5500AA}}},
        // DXT3: 4-bit alpha times 255 / 15.
        {"DXT3",
         3,
         {0x8F, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0},
         {{0, 0xFFFFFFFF}, {1, 0x88FFFFFF}, {2, 0x00FFFFFF}}},
        // DXT5 with a0 = 255 > a1 = 0: indices 0..7 on pixels 0..7.
        {"DXT5 eight alphas",
         5,
         {255, 0, 0x88, 0xC6, 0xFA, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0},
         {{0, 0xFFFFFFFF},
          {1, 0x00FFFFFF},
          {2, 0xDAFFFFFF},
          {3, 0xB6FFFFFF},
          {4, 0x91FFFFFF},
          {5, 0x6DFFFFFF},
          {6, 0x48FFFFFF},
          {7, 0x24FFFFFF}}},
        // DXT5 with a0 <= a1: six values, then 0 and 255.
        {"DXT5 six alphas",
         5,
         {0, 255, 0x88, 0xC6, 0xFA, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0},
         {{2, 0x33FFFFFF}, {5, 0xCCFFFFFF}, {6, 0x00FFFFFF}, {7, 0xFFFFFFFF}}},
        // Premultiplied colour (0x8410: 131, 129, 131) divided by alpha, saturating above
        // 255; alpha 0 divides by nothing and keeps the colour.
        {"DXT2",
         2,
         {0x80, 0x01, 0, 0, 0, 0, 0, 0, 0x10, 0x84, 0x10, 0x84, 0, 0, 0, 0},
         {{0, 0x00838183}, {1, 0x88F5F1F5}, {2, 0x11FFFFFF}}},
        {"DXT4",
         4,
         {0, 136, 0x01, 0, 0, 0, 0, 0, 0x10, 0x84, 0x10, 0x84, 0, 0, 0, 0},
         {{0, 0x88F5F1F5}, {1, 0x00838183}}},
    };
    for (const BlockCase& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded im;
        SetupArgb8888Format(&im.format);
        im.format.compression = c.kind;
        im.width = 4;
        im.height = 4;
        im.pixels = static_cast<uint8_t*>(AllocTrackedMemory(uint32_t(c.block.size()), "", 0));
        std::memcpy(im.pixels, c.block.data(), c.block.size());
        ASSERT_EQ(ExpandCompressedBaseImage(&im), 0);
        EXPECT_EQ(im.format.compression, 0u);
        for (const auto& [i, argb] : c.pixels) EXPECT_EQ(im.Argb(i % 4, i / 4), argb) << "pixel " << i;
    }
}

// The blocks of a side that is not a multiple of 4 are stored whole: a 5 x 4 DXT1 image holds
// two blocks. Memory holding fewer is refused with its log line and the image left as it was.
TEST(BlockExpansion, RefusesMemoryShortOfTheWholeBlocks)
{
    struct Case {
        const char* name;
        uint32_t kind;
        int width, height;
        uint32_t bytes;
        int result;
    };
    const Case cases[] = {
        {"DXT1 5 x 4 in one block", 1, 5, 4, 8, -1},     {"DXT1 5 x 4 in two blocks", 1, 5, 4, 16, 0},
        {"DXT5 5 x 5 in three blocks", 5, 5, 5, 48, -1}, {"DXT5 5 x 5 in four blocks", 5, 5, 5, 64, 0},
        {"DXT3 4 x 1 in one block", 3, 4, 1, 16, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        Decoded im;
        SetupArgb8888Format(&im.format);
        im.format.compression = c.kind;
        im.width = c.width;
        im.height = c.height;
        im.pixels = static_cast<uint8_t*>(AllocTrackedMemoryZeroed(c.bytes, "", 0));
        uint8_t* const blocks = im.pixels;
        ASSERT_EQ(ExpandCompressedBaseImage(&im), c.result);
        if (c.result == 0) {
            EXPECT_EQ(im.format.compression, 0u);
            EXPECT_EQ(im.pitch, c.width * 4);
        } else {
            EXPECT_EQ(im.pixels, blocks);
            EXPECT_EQ(im.format.compression, c.kind);
            EXPECT_FALSE(log.Joined().empty()) << "no log line";
        }
    }
}

// ---- The front ----

// A decoder added before the built-in ones: it takes only its own signature.
int DecodeTestSignature(const ImageStream* stream, BaseImage* out)
{
    char head[8];
    if (stream->functions->read(head, 8, 1, stream->handle) != 1 || std::memcmp(head, "QTESTIMG", 8) != 0) return -1;
    return AllocArgbBaseImage(1, 1, out);
}

TEST(DecodeImageStream, TriesAddedDecodersFirstAndZeroesWhatNoneRecognises)
{
    ResetImageState();
    ASSERT_EQ(AddImageStreamDecoder(DecodeTestSignature), 0);
    Bytes signed_ = {'Q', 'T', 'E', 'S', 'T', 'I', 'M', 'G'};
    Decoded im;
    ASSERT_EQ(DecodeBytes(signed_, &im), 0);
    EXPECT_EQ(im.width, 1);

    const int32_t before = LiveBlocks();
    const Bytes noise = Picture(300, 1, 1, 12);
    for (size_t size : {size_t(0), size_t(1), size_t(17), noise.size()}) {
        Decoded none;
        std::memset(static_cast<BaseImage*>(&none), 0x5A, sizeof(BaseImage));
        EXPECT_EQ(DecodeBytes(Bytes(noise.begin(), noise.begin() + long(size)), &none), -1);
        const BaseImage zero{};
        EXPECT_EQ(std::memcmp(static_cast<BaseImage*>(&none), &zero, sizeof zero), 0);
    }
    EXPECT_EQ(LiveBlocks(), before);
    // The reset forgets the added decoder.
    ResetImageState();
    Decoded after;
    EXPECT_EQ(DecodeBytes(signed_, &after), -1);
}

// Each decoder reads its format from the start of the stream, wherever the stream stands.
TEST(DecodeImageStream, DecodersReadFromTheStart)
{
    TgaFile f;
    f.data = Picture(f.width, f.height, 3, 2);
    const Bytes file = f.Write();
    MemoryStream* memory = OpenMemoryStream(file.data(), uint32_t(file.size()));
    SeekMemoryStream(reinterpret_cast<StreamHandle>(memory), 7, 0);
    const ImageStream stream{GetMemoryStreamFunctions(), reinterpret_cast<StreamHandle>(memory)};
    Decoded im;
    EXPECT_EQ(DecodeTgaStream(&stream, &im), 0);
    EXPECT_EQ(im.width, 5);
    CloseMemoryStream(reinterpret_cast<StreamHandle>(memory));
}

}  // namespace
}  // namespace test
