// The BMP decoder on generated files of every layout it reads, and on damaged ones.
#include <gtest/gtest.h>

#include <climits>

#include "decode_helpers.h"

namespace test {
namespace {

struct BmpFile {
    int32_t width = 0, height = 0;  // height < 0: top-down
    int bits = 24;
    uint32_t compression = 0;
    uint32_t headerSize = 40;
    uint32_t colorsUsed = 0;
    std::vector<uint32_t> table;  // 0x00RRGGBB, written as blue, green, red, 0
    std::vector<uint32_t> masks;  // after a 40-byte header, inside a larger one
    size_t gap = 0;               // bytes of 0xEE between the colour table and the pixels
    Bytes pixels;                 // as stored

    Bytes Write() const
    {
        Bytes info;
        Put32(info, headerSize);
        Put32(info, uint32_t(width));
        Put32(info, uint32_t(height));
        Put16(info, 1);
        Put16(info, uint32_t(bits));
        Put32(info, compression);
        Put32(info, uint32_t(pixels.size()));
        Put32(info, 2835);
        Put32(info, 2835);
        Put32(info, colorsUsed);
        Put32(info, 0);
        for (uint32_t m : masks) Put32(info, m);
        info.resize(std::max<size_t>(info.size(), headerSize), 0);
        for (uint32_t c : table) Put32(info, c & 0xFFFFFF);
        info.insert(info.end(), gap, 0xEE);
        Bytes file;
        PutText(file, "BM");
        Put32(file, uint32_t(14 + info.size() + pixels.size()));
        Put32(file, 0);
        Put32(file, uint32_t(14 + info.size()));
        file.insert(file.end(), info.begin(), info.end());
        file.insert(file.end(), pixels.begin(), pixels.end());
        return file;
    }
};

int Rows(const BmpFile& f) { return f.height < 0 ? -f.height : f.height; }

// Stored rows from a function of the output position: bottom-up files store the last output
// row first; every row is padded to a multiple of 4 bytes.
template <class RowBytes>
Bytes StoreRows(const BmpFile& f, RowBytes rowBytes)
{
    Bytes out;
    for (int i = 0; i < Rows(f); ++i) {
        Bytes row = rowBytes(f.height > 0 ? Rows(f) - 1 - i : i);
        row.resize((row.size() + 3) / 4 * 4, 0);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// The pictures: full-range colours, colours of 0 and 255 only (exact in 5-bit channels), and
// palette indices.
uint32_t Colour(int x, int y)
{
    return uint32_t((x * 37 + y * 11) & 0xFF) << 16 | uint32_t((x * 5 + y * 71) & 0xFF) << 8 |
           uint32_t((x * 13 + y * 3) & 0xFF);
}
uint32_t Coarse(int x, int y)
{
    const int k = (x + 2 * y) % 8;
    return (k & 4 ? 0xFF0000u : 0) | (k & 2 ? 0xFF00u : 0) | (k & 1 ? 0xFFu : 0);
}
int Index(int x, int y, int colours) { return (x + 3 * y) % colours; }
std::vector<uint32_t> Palette(int colours)
{
    std::vector<uint32_t> p;
    for (int i = 0; i < colours; ++i) p.push_back(uint32_t(i * 0x0B1D07 + 0x102030) & 0xFFFFFF);
    return p;
}

uint32_t Pack(uint32_t rgb, uint32_t rMask, uint32_t gMask, uint32_t bMask)
{
    auto place = [](uint32_t c, uint32_t mask) {
        int shift = 0, width = 0;
        while (!(mask >> shift & 1)) ++shift;
        while (shift + width < 32 && (mask >> (shift + width) & 1)) ++width;
        return (width >= 8 ? c << (width - 8) : c >> (8 - width)) << shift;
    };
    return place(rgb >> 16 & 0xFF, rMask) | place(rgb >> 8 & 0xFF, gMask) | place(rgb & 0xFF, bMask);
}

// Every uncompressed layout, both row orders, widths that need row padding.
struct Layout {
    const char* name;
    int bits;
    uint32_t compression;
    std::vector<uint32_t> masks;  // for the pixels (file masks only with compression 3)
    int colours;                  // table entries written (paletted layouts)
    uint32_t headerSize;
    int outBytes;  // bytes per output pixel: 1 paletted, 3 for 24-bit
    size_t gap = 0;
};

const Layout kLayouts[] = {
    {"24-bit", 24, 0, {}, 0, 40, 3},
    {"32-bit", 32, 0, {0xFF0000, 0xFF00, 0xFF}, 0, 40, 3},
    {"16-bit 5-5-5", 16, 0, {0x7C00, 0x03E0, 0x001F}, 0, 40, 3},
    {"16-bit fields 5-6-5", 16, 3, {0xF800, 0x07E0, 0x001F}, 0, 40, 3},
    {"32-bit fields, blue on top", 32, 3, {0xFF00, 0xFF0000, 0xFF000000}, 0, 40, 3},
    {"32-bit fields in a 124-byte header", 32, 3, {0xFF0000, 0xFF00, 0xFF}, 0, 124, 3},
    {"8-bit, 256 colours", 8, 0, {}, 256, 40, 1},
    {"8-bit, 16 colours in the table", 8, 0, {}, 16, 40, 1},
    {"8-bit, 16 colours, a gap before the pixels", 8, 0, {}, 16, 40, 1, 64},
    {"4-bit", 4, 0, {}, 16, 40, 1},
    {"4-bit, 5 colours, 124-byte header", 4, 0, {}, 5, 124, 1},
    {"1-bit", 1, 0, {}, 2, 40, 3},
};

BmpFile MakeLayout(const Layout& l, int width, int height)
{
    BmpFile f;
    f.width = width;
    f.height = height;
    f.bits = l.bits;
    f.compression = l.compression;
    f.headerSize = l.headerSize;
    f.gap = l.gap;
    if (l.compression == 3) f.masks = l.masks;
    if (l.colours) {
        f.table = Palette(l.colours);
        if (l.colours < (1 << l.bits)) f.colorsUsed = uint32_t(l.colours);
    }
    f.pixels = StoreRows(f, [&](int y) {
        Bytes row;
        for (int x = 0; x < width; ++x) {
            switch (l.bits) {
            case 24: {
                const uint32_t c = Colour(x, y);
                row.insert(row.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
                break;
            }
            case 32:
            case 16: {
                const uint32_t c = l.bits == 32 && l.masks[0] == 0xFF0000 ? Colour(x, y) : Coarse(x, y);
                uint32_t v = Pack(c, l.masks[0], l.masks[1], l.masks[2]);
                if (l.bits == 32 && l.compression == 0) v |= 0xAB000000;  // unused byte
                for (int i = 0; i < l.bits / 8; ++i) row.push_back(uint8_t(v >> (8 * i)));
                break;
            }
            case 8: row.push_back(uint8_t(Index(x, y, l.colours))); break;
            case 4:
                if (x % 2 == 0) row.push_back(0);
                row.back() |= uint8_t(Index(x, y, l.colours) << (x % 2 ? 0 : 4));
                break;
            case 1:
                if (x % 8 == 0) row.push_back(0);
                row.back() |= uint8_t(Index(x, y, 2) << (7 - x % 8));
                break;
            }
        }
        return row;
    });
    return f;
}

uint32_t Expected(const Layout& l, int x, int y)
{
    if (l.colours) return Palette(l.colours)[Index(x, y, l.bits == 1 ? 2 : l.colours)];
    if (l.bits == 24 || (l.bits == 32 && l.masks[0] == 0xFF0000)) return Colour(x, y);
    return Coarse(x, y);
}

// The same bytes through a stream that does not hold them in memory: its own read function
// over a memory stream, so the decoder has to read the rows out instead of taking them in place.
int32_t ReadThroughCopy(void* buffer, uint32_t elementSize, uint32_t count, StreamHandle stream)
{
    return ReadMemoryStream(buffer, elementSize, count, stream);
}

int DecodeUnheld(const Bytes& bytes, BaseImage* out)
{
    StreamFunctionTable functions = *GetMemoryStreamFunctions();
    functions.read = ReadThroughCopy;
    MemoryStream* memory = OpenMemoryStream(bytes.data(), uint32_t(bytes.size()));
    if (!memory) return -2;
    const ImageStream stream{&functions, reinterpret_cast<StreamHandle>(memory)};
    const int result = DecodeBmpStream(&stream, out);
    CloseMemoryStream(reinterpret_cast<StreamHandle>(memory));
    return result;
}

struct StreamKind {
    const char* name;
    int (*decode)(const Bytes&, BaseImage*);
};
const StreamKind kStreamKinds[] = {
    {"held in memory", [](const Bytes& b, BaseImage* out) { return DecodeBytes(b, out, DecodeBmpStream); }},
    {"read out", DecodeUnheld},
};

TEST(BmpDecoder, ReadsEveryLayoutInBothRowOrders)
{
    for (const StreamKind& kind : kStreamKinds)
        for (const Layout& l : kLayouts)
            for (int width : {7, 37})  // both pad every row; 37 takes whole rounds of the wide forms
                for (int height : {3, -3}) {
                    SCOPED_TRACE(std::string(kind.name) + ", " + l.name + ", width " + std::to_string(width) +
                                 (height > 0 ? ", bottom-up" : ", top-down"));
                    Decoded im;
                    ASSERT_EQ(kind.decode(MakeLayout(l, width, height).Write(), &im), 0);
                    EXPECT_EQ(im.width, width);
                    EXPECT_EQ(im.height, 3);
                    EXPECT_EQ(im.format.bytesPerPixel, l.outBytes);
                    EXPECT_EQ(im.pitch, (width * l.outBytes + 3) / 4 * 4);
                    for (int y = 0; y < 3; ++y)
                        for (int x = 0; x < width; ++x)
                            ASSERT_EQ(im.Rgb(x, y), Expected(l, x, y)) << x << "," << y;
                    if (l.outBytes == 1)
                        for (int i = l.colours; i < 256; ++i) {
                            const PaletteEntry& e = im.format.palette[i];
                            EXPECT_EQ(e.red | e.green | e.blue | e.alpha, 0) << "entry " << i;
                        }
                }
}

// A file cut anywhere before its last pixel is refused, and the padding of the last row may
// be missing.
TEST(BmpDecoder, RefusesEveryCutThroughThePixels)
{
    for (const StreamKind& kind : kStreamKinds)
        for (const Layout& l : kLayouts) {
            SCOPED_TRACE(std::string(kind.name) + ", " + l.name);
            const BmpFile f = MakeLayout(l, 7, 3);
            const Bytes file = f.Write();
            const size_t lastRow = (size_t(7) * l.bits + 7) / 8;
            const size_t lastPadding = (lastRow + 3) / 4 * 4 - lastRow;
            for (size_t cut = 14; cut <= file.size(); ++cut) {
                const int32_t before = LiveBlocks();
                Decoded im;
                const int result = kind.decode(Bytes(file.begin(), file.begin() + long(cut)), &im);
                ASSERT_EQ(result, cut < file.size() - lastPadding ? -1 : 0) << "cut at " << cut;
                if (result != 0) {
                    EXPECT_EQ(LiveBlocks(), before);
                }
            }
        }
}

// A pixel offset that points inside the colour table: the table the header describes is read
// whole, and the pixels from the offset on, although they share bytes with it.
TEST(BmpDecoder, ReadsTheWholeTableUnderAnOffsetInsideIt)
{
    for (const int height : {2, -2}) {
        SCOPED_TRACE(height > 0 ? "bottom-up" : "top-down");
        BmpFile f = MakeLayout(kLayouts[6], 8, height);  // 8-bit, 256 colours
        Bytes file = f.Write();
        // The two rows of 8 indices (all past the first 16 entries) over entries 16 to 19.
        const size_t tableAt = 14 + 40, pixelsAt = tableAt + 16 * 4;
        file.resize(tableAt + 256 * 4);
        const uint8_t indices[2][8] = {{16, 17, 18, 19, 200, 201, 255, 128},
                                       {19, 18, 17, 16, 40, 41, 42, 43}};  // top row first
        for (int i = 0; i < 2; ++i) std::memcpy(&file[pixelsAt + 8 * size_t(i)], indices[height > 0 ? 1 - i : i], 8);
        Set32(file, 10, uint32_t(pixelsAt));
        Set32(file, 2, uint32_t(file.size()));
        auto entry = [&](int index) {
            const uint8_t* e = &file[tableAt + 4 * size_t(index)];
            return uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
        };
        Decoded im;
        ASSERT_EQ(DecodeBytes(file, &im, DecodeBmpStream), 0);
        ASSERT_EQ(im.format.bytesPerPixel, 1);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 8; ++x) {
                EXPECT_EQ(im.Row(y)[x], indices[y][x]);
                EXPECT_EQ(im.Rgb(x, y), entry(indices[y][x])) << x << "," << y;
            }
        EXPECT_EQ(im.format.palette[255].alpha, 0);
    }
}

// Run-length files: runs, absolute runs (padded to even bytes), a move right and down, the
// end of a line and of the bitmap, and a run past the right edge that is cut there.
TEST(BmpDecoder, ReadsRunLengthEncodedFiles)
{
    const uint8_t expected[4][6] = {{7, 7, 7, 7, 7, 7},  // top row
                                    {0, 0, 0, 6, 6, 0},
                                    {5, 5, 0, 0, 0, 0},
                                    {1, 1, 1, 2, 3, 4}};
    const Bytes rle8 = {3, 1, 0, 3, 2, 3, 4, 0, 0, 0,     // 1 1 1, then 2 3 4 (padded)
                        2, 5, 0, 2, 1, 1,                 // 5 5, one right and one down
                        2, 6, 0, 0,                       // 6 6 from x = 3, end of line
                        8, 7, 0, 1};                      // 8 pixels of 7, cut at 6; end
    const Bytes rle4 = {3, 0x11, 0, 3, 0x23, 0x40, 0, 0,  // 1 1 1, then 2 3 4 (3 pixels, 2 bytes)
                        2, 0x55, 0, 2, 1,    1,    2, 0x66, 0, 0, 8, 0x77, 0, 1};
    for (const bool four : {false, true}) {
        SCOPED_TRACE(four ? "RLE4" : "RLE8");
        BmpFile f;
        f.width = 6;
        f.height = 4;
        f.bits = four ? 4 : 8;
        f.compression = four ? 2 : 1;
        f.table = Palette(four ? 16 : 256);
        f.pixels = four ? rle4 : rle8;
        Decoded im;
        ASSERT_EQ(DecodeBytes(f.Write(), &im), 0);
        ASSERT_EQ(im.format.bytesPerPixel, 1);
        EXPECT_EQ(im.pitch, 8);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x) EXPECT_EQ(im.Row(y)[x], expected[y][x]) << x << "," << y;
        EXPECT_EQ(im.Rgb(3, 3), f.table[2]);
    }
}

// Codes that run past the image or the data, and moves far outside it, write nothing outside
// the image (the sanitizers watch) and decode what lies inside.
TEST(BmpDecoder, BoundsMalformedRuns)
{
    const Bytes cases[] = {
        {255, 9, 0, 0, 255, 9},        // runs far past the right edge
        {0, 2, 255, 255, 3, 9, 0, 0},  // a move below the last line
        {0, 2, 200, 0, 3, 9},          // a move past the right edge, then a run
        {0, 200, 1, 2, 3},             // an absolute run longer than the data
        {0, 2, 1},                     // a move cut short
        {2, 9},                        // no end of line or bitmap
    };
    for (const Bytes& codes : cases) {
        for (const bool four : {false, true}) {
            BmpFile f;
            f.width = 3;
            f.height = 2;
            f.bits = four ? 4 : 8;
            f.compression = four ? 2 : 1;
            f.table = Palette(16);
            f.pixels = codes;
            Decoded im;
            EXPECT_EQ(DecodeBytes(f.Write(), &im), 0);
        }
    }
}

// What the header promises has to be there: rows, sizes, a data offset inside the file.
TEST(BmpDecoder, RefusesFilesThatDoNotHoldWhatTheyPromise)
{
    const Layout& rgb = kLayouts[0];
    struct Case {
        const char* name;
        Bytes file;
    };
    std::vector<Case> cases;
    auto add = [&](const char* name, BmpFile f) { cases.push_back({name, f.Write()}); };
    BmpFile shortData = MakeLayout(rgb, 3, 2);
    shortData.pixels.resize(12 + 9 - 1);  // the last row's 9 pixel bytes, one missing
    add("rows not covered", shortData);
    BmpFile zeroWidth = MakeLayout(rgb, 3, 2);
    zeroWidth.width = 0;
    add("width 0", zeroWidth);
    BmpFile negativeWidth = MakeLayout(rgb, 3, 2);
    negativeWidth.width = -3;
    add("negative width", negativeWidth);
    BmpFile zeroHeight = MakeLayout(rgb, 3, 2);
    zeroHeight.height = 0;
    add("height 0", zeroHeight);
    BmpFile minHeight = MakeLayout(rgb, 3, 2);
    minHeight.height = INT32_MIN;
    add("height INT32_MIN", minHeight);
    // 0x20000000 x 8 pixels of 3 bytes: 32-bit arithmetic wraps to 0.
    BmpFile huge = MakeLayout(rgb, 3, 2);
    huge.width = 0x20000000;
    huge.height = 8;
    add("wrapping size", huge);
    // Run-length data of 0x10000 x 0x10000 pixels: 4 GiB, wrapping to 0 in 32 bits.
    BmpFile hugeRuns;
    hugeRuns.width = 0x10000;
    hugeRuns.height = 0x10000;
    hugeRuns.bits = 8;
    hugeRuns.compression = 1;
    hugeRuns.table = Palette(2);
    hugeRuns.pixels = {255, 1, 0, 1};
    add("wrapping run-length size", hugeRuns);
    BmpFile core = MakeLayout(rgb, 3, 2);
    core.headerSize = 12;
    add("12-byte header", core);
    BmpFile jpeg = MakeLayout(rgb, 3, 2);
    jpeg.compression = 4;  // drawn by the system where there is one
    add("embedded JPEG", jpeg);
    Bytes pastEnd = MakeLayout(rgb, 3, 2).Write();
    Set32(pastEnd, 10, uint32_t(pastEnd.size() + 1));
    cases.push_back({"data offset past the end", pastEnd});
    Bytes intoHeader = MakeLayout(rgb, 3, 2).Write();
    Set32(intoHeader, 10, 20);
    cases.push_back({"data offset inside the header", intoHeader});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t before = LiveBlocks();
        Decoded im;
        std::memset(static_cast<BaseImage*>(&im), 0x5A, sizeof(BaseImage));
        EXPECT_EQ(DecodeBytes(c.file, &im, DecodeBmpStream), -1);
        EXPECT_EQ(im.pixels, nullptr);
        EXPECT_EQ(im.width, 0);
        EXPECT_EQ(LiveBlocks(), before);
    }
}

}  // namespace
}  // namespace test
