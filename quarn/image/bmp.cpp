// BMP: uncompressed 1, 4, 8, 16, 24 and 32 bits, bit fields, RLE8 and RLE4. Layouts this
// decoder does not read are handed to the operating system when it has a way to draw them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "quarn/core/core.h"
#include "quarn/image/image_decode.h"
#include "quarn/image/image_os.h"

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
// Header (up to the 124 bytes of the fifth version), three masks and 256 colours.
constexpr uint32_t kInfoBytes = 124 + 12 + 256 * 4;
constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitFields = 3;

const wchar_t kFormatName[] = L"BMP";

struct Bmp {
    uint8_t info[kInfoBytes];  // the file's bytes from its info header on, zero-padded
    uint32_t dataOffset;       // bfOffBits
    uint32_t dataBytes;        // from there to the end of the stream
    int32_t width;
    int32_t height;  // rows, whatever the order
    bool bottomUp;
    int bitCount;
    uint32_t compression;
    uint32_t masks[3];
    int tableEntries;      // colours the file's table holds
    const uint8_t* table;  // within info
};

// Rows from the file as stored: rowBytes of pixels, padded to a multiple of 4.
uint64_t StoredRowBytes(const Bmp& b) { return (uint64_t(b.bitCount) * uint32_t(b.width) + 7) / 8; }
uint64_t StoredPitch(const Bmp& b) { return (StoredRowBytes(b) + 3) / 4 * 4; }
// Bytes the stored rows need: the last row's padding may be missing.
uint64_t StoredBytes(const Bmp& b) { return uint64_t(b.height - 1) * StoredPitch(b) + StoredRowBytes(b); }

int ReadHeaders(ImageReader* r, Bmp* b)
{
    const int64_t total = MeasureImageStream(r);
    uint8_t file[kFileHeaderBytes];
    if (total < 0 || ReadImageBytes(r, file, kFileHeaderBytes) != 0 || file[0] != 'B' || file[1] != 'M') return -1;
    b->dataOffset = ReadLe32(file + 10);
    if (b->dataOffset < kFileHeaderBytes + 40 || b->dataOffset > total)
        return RefuseImageData(kFormatName, L"画素データの位置が不正です");
    b->dataBytes = uint32_t(total - b->dataOffset);
    // The header and its colour table are read as far as the stream holds them, whatever the
    // pixel offset: some writers point it into the table, whose tail then doubles as pixels.
    const uint32_t infoRead = uint64_t(total) - kFileHeaderBytes < kInfoBytes ? uint32_t(total - kFileHeaderBytes)
                                                                              : kInfoBytes;
    if (ReadImageBytes(r, b->info, infoRead) != 0) return RefuseImageData(kFormatName, L"ヘッダが足りません");
    const uint8_t* h = b->info;
    const uint32_t infoSize = ReadLe32(h);
    if (infoSize < 40 || infoSize > 124 || infoSize > infoRead)
        return RefuseImageData(kFormatName, L"対応していないヘッダです");
    const int32_t width = int32_t(ReadLe32(h + 4)), height = int32_t(ReadLe32(h + 8));
    if (width <= 0 || height == 0 || height == INT32_MIN) return RefuseImageData(kFormatName, L"サイズが不正です");
    b->width = width;
    b->height = height > 0 ? height : -height;
    b->bottomUp = height > 0;
    b->bitCount = ReadLe16(h + 14);
    b->compression = ReadLe32(h + 16);
    // Bit-field masks follow a 40-byte header and lie inside the larger ones, at the same
    // place either way; the colour table follows the header and, after a 40-byte header,
    // the masks.
    for (int i = 0; i < 3; ++i) b->masks[i] = ReadLe32(h + 40 + 4 * i);
    const uint32_t tableAt = infoSize + (infoSize == 40 && b->compression == kBiBitFields ? 12 : 0);
    if (b->bitCount <= 8) {
        // The colours the file says it uses, as far as the stream holds them.
        const uint32_t full = 1u << b->bitCount, used = ReadLe32(h + 32);
        uint32_t entries = used != 0 && used < full ? used : full;
        const uint32_t room = tableAt < infoRead ? (infoRead - tableAt) / 4 : 0;
        if (entries > room) entries = room;
        b->tableEntries = int(entries);
    }
    b->table = h + tableAt;
    return 0;
}

void SetPalette(const Bmp& b, ColorFormat* f)
{
    SetupPalette8Format(f);
    for (int i = 0; i < b.tableEntries; ++i) {
        const uint8_t* e = b.table + 4 * i;
        f->palette[i] = {e[0], e[1], e[2], 0};
    }
}

// ---- Uncompressed rows ----

enum class RowKind { Copy, Nibbles, Bits, Masks };

// Each stored row is read and turned into its output row, bottom-up files from the last
// output row upwards. source: the stored layout of converted rows (its palette for 1 bit,
// its masks for 16 and 32 bits). Converted rows are taken straight from the stream's bytes
// where it holds them in memory, and otherwise read into a scratch row first.
int ReadStoredRows(ImageReader* r, DecodeAllocations* a, const Bmp& b, RowKind kind, const ColorFormat& source,
                   BaseImage* out)
{
    const uint32_t rowBytes = uint32_t(StoredRowBytes(b));
    const uint32_t padding = uint32_t(StoredPitch(b)) - rowBytes;
    const PixelRect rowRect = {0, 0, b.width, 1};
    // Channels narrower than 8 bits are spread over the whole byte (5-bit 31 becomes 255):
    // the converting copy's general path does that, and a reduction option, which changes
    // nothing when channels only widen, keeps the shifting fast pairs out.
    const int narrowest = std::min({int(source.redWidth), int(source.greenWidth), int(source.blueWidth)});
    const int widest = std::max({int(source.redWidth), int(source.greenWidth), int(source.blueWidth)});
    const int spread = narrowest < 8 && widest <= 8;
    if (SeekImage(r, b.dataOffset) != 0) return -1;
    uint32_t heldLeft = 0;
    const uint8_t* held = kind == RowKind::Copy ? nullptr : HeldImageBytes(r, &heldLeft);
    uint32_t heldAt = 0;  // bytes of held taken so far
    // The bytes a row or its padding takes from held, as a read would: null (and the short
    // read noted) when fewer are left.
    auto take = [&](uint32_t bytes) -> const uint8_t* {
        if (heldLeft - heldAt < bytes) {
            r->shortRead = 1;
            return nullptr;
        }
        heldAt += bytes;
        return held + (heldAt - bytes);
    };
    // The last stored row's offset, which the converting copy reaches by row times pitch.
    const uint64_t lastRowAt = uint64_t(b.height - 1) * StoredPitch(b);
    if (held && kind == RowKind::Masks && StoredPitch(b) <= 0x7FFFFFFF && lastRowAt <= uint64_t(PTRDIFF_MAX)) {
        // All rows in one converting copy; a bottom-up file's from its last stored row, the
        // pitch negated. The spreading option looks at no row number when channels only widen.
        const uint8_t* rows = take(uint32_t(StoredBytes(b)));
        if (!rows) return -1;
        const int pitch = int(StoredPitch(b));
        const PixelRect all = {0, 0, b.width, b.height};
        ConvertPixelRect(out->pixels, out->pitch, &out->format, rows + (b.bottomUp ? std::size_t(lastRowAt) : 0),
                         b.bottomUp ? -pitch : pitch, &source, nullptr, 0, nullptr, 0, 0, &all, 0, 0, 0, spread, 0, 0,
                         0, 0);
        return SeekImage(r, int64_t(b.dataOffset) + heldAt);
    }
    uint8_t* scratch = nullptr;
    if (kind != RowKind::Copy && !held && !(scratch = AllocDecodeBlock(a, rowBytes))) return -1;
    for (int i = 0; i < b.height; ++i) {
        uint8_t* dst = out->pixels + std::ptrdiff_t(b.bottomUp ? b.height - 1 - i : i) * out->pitch;
        const uint8_t* src;
        if (held) {
            if (!(src = take(rowBytes))) return -1;
        } else {
            uint8_t* into = kind == RowKind::Copy ? dst : scratch;
            if (ReadImageBytes(r, into, rowBytes) != 0) return -1;
            src = into;
        }
        switch (kind) {
        case RowKind::Copy: break;
        case RowKind::Nibbles:
            for (int x = 0; x < b.width; ++x) dst[x] = uint8_t(x & 1 ? src[x / 2] & 15 : src[x / 2] >> 4);
            break;
        case RowKind::Bits:
            for (int x = 0; x < b.width; ++x) {
                const PaletteEntry& e = source.palette[src[x / 8] >> (7 - x % 8) & 1];
                dst[3 * x] = e.blue;
                dst[3 * x + 1] = e.green;
                dst[3 * x + 2] = e.red;
            }
            break;
        case RowKind::Masks:
            ConvertPixelRect(dst, out->pitch, &out->format, src, 0, &source, nullptr, 0, nullptr, 0, 0, &rowRect, 0, 0,
                             0, spread, 0, 0, 0, 0);
            break;
        }
        if (i + 1 < b.height) {
            uint8_t pad[4];
            if (held ? !take(padding) : ReadImageBytes(r, pad, padding) != 0) return -1;
        }
    }
    // The stream ends up where reading the rows would have left it.
    if (held && SeekImage(r, int64_t(b.dataOffset) + heldAt) != 0) return -1;
    FreeDecodeBlock(a, scratch);
    return 0;
}

int DecodeStored(ImageReader* r, DecodeAllocations* a, const Bmp& b, BaseImage* out)
{
    if (b.dataBytes < StoredBytes(b)) return RefuseImageData(kFormatName, L"画素データが足りません");
    // 8 and 24 bits are kept as stored, 4 bits become one index a byte, and 1, 16 and 32 bits
    // 24-bit pixels.
    RowKind kind;
    uint64_t pitch;
    ColorFormat source{};  // the stored pixels' layout, for the rows that are converted
    switch (b.bitCount) {
    case 8:
    case 24:
        kind = RowKind::Copy;
        pitch = StoredPitch(b);
        break;
    case 4:
        kind = RowKind::Nibbles;
        pitch = (uint64_t(b.width) + 3) / 4 * 4;
        break;
    case 1:
        kind = RowKind::Bits;
        SetPalette(b, &source);
        pitch = (uint64_t(b.width) * 3 + 3) / 4 * 4;
        break;
    default:
        kind = RowKind::Masks;
        if (b.compression == kBiBitFields)
            SetupFormatFromMasks(&source, b.bitCount, b.masks[0], b.masks[1], b.masks[2], 0);
        else if (b.bitCount == 16) SetupFormatFromMasks(&source, 16, 0x7C00, 0x03E0, 0x001F, 0);
        else SetupFormatFromMasks(&source, 32, 0xFF0000, 0xFF00, 0xFF, 0);
        pitch = (uint64_t(b.width) * 3 + 3) / 4 * 4;
        break;
    }
    if (b.bitCount == 4 || b.bitCount == 8) SetPalette(b, &out->format);
    else SetupRgb888Format(&out->format);
    if (pitch > 0x7FFFFFFF || !(out->pixels = AllocImagePixels(a, pitch * uint32_t(b.height))))
        return RefuseImageData(kFormatName, L"メモリの確保に失敗しました");
    out->pitch = int32_t(pitch);
    if (ReadStoredRows(r, a, b, kind, source, out) != 0) return RefuseImageData(kFormatName, L"画素データが足りません");
    return 0;
}

// ---- Run-length encoded rows ----

// Codes in pairs: a count and a value for a run; 0 and 0 ends a line, 0 and 1 the bitmap,
// 0 and 2 moves right and down by the next two bytes, 0 and n > 2 copies n pixels, padded to
// an even number of bytes. Pixels past the right edge are dropped and decoding stops below
// the last line or at the end of the data.
void ExpandRuns(const uint8_t* data, uint32_t size, bool four, const Bmp& b, BaseImage* out)
{
    int64_t x = 0, y = 0;
    // Callers check x against the width.
    auto put = [&](uint8_t value) {
        out->pixels[std::ptrdiff_t(b.bottomUp ? b.height - 1 - y : y) * out->pitch + x++] = value;
    };
    uint32_t p = 0;
    while (p + 2 <= size && y < b.height) {
        const uint32_t n = data[p], code = data[p + 1];
        p += 2;
        if (n > 0) {
            for (uint32_t i = 0; i < n && x < b.width; ++i)
                put(four ? uint8_t(i & 1 ? code & 15 : code >> 4) : uint8_t(code));
            continue;
        }
        if (code == 0) {
            x = 0;
            ++y;
        } else if (code == 1) {
            break;
        } else if (code == 2) {
            if (p + 2 > size) break;
            x += data[p];
            y += data[p + 1];
            p += 2;
        } else {
            const uint32_t bytes = four ? (code + 1) / 2 : code;
            if (p + bytes > size) break;
            for (uint32_t i = 0; i < code && x < b.width; ++i)
                put(four ? uint8_t(i & 1 ? data[p + i / 2] & 15 : data[p + i / 2] >> 4) : data[p + i]);
            p += (bytes + 1) & ~1u;
        }
    }
}

int DecodeRuns(ImageReader* r, DecodeAllocations* a, const Bmp& b, BaseImage* out)
{
    const uint64_t pitch = (uint64_t(b.width) + 3) / 4 * 4;
    uint8_t* data = AllocDecodeBlock(a, b.dataBytes);
    if (!data || pitch > 0x7FFFFFFF || !(out->pixels = AllocImagePixels(a, pitch * uint32_t(b.height), 1)))
        return RefuseImageData(kFormatName, L"メモリの確保に失敗しました");
    if (SeekImage(r, b.dataOffset) != 0 || ReadImageBytes(r, data, b.dataBytes) != 0)
        return RefuseImageData(kFormatName, L"画素データが足りません");
    out->pitch = int32_t(pitch);
    SetPalette(b, &out->format);
    ExpandRuns(data, b.dataBytes, b.compression == kBiRle4, b, out);
    FreeDecodeBlock(a, data);
    return 0;
}

// ---- Everything else, through the operating system ----

int DecodeThroughSystem(ImageReader* r, DecodeAllocations* a, const Bmp& b, BaseImage* out)
{
    // The system reads the rows the header describes, or the compressed size it gives.
    const uint64_t sizeImage = ReadLe32(b.info + 20);
    if (b.dataBytes < StoredBytes(b) || b.dataBytes < sizeImage)
        return RefuseImageData(kFormatName, L"画素データが足りません");
    const uint64_t pitch = (uint64_t(b.width) * 3 + 3) / 4 * 4;
    uint8_t* data = AllocDecodeBlock(a, b.dataBytes);
    if (!data) return RefuseImageData(kFormatName, L"メモリの確保に失敗しました");
    if (SeekImage(r, b.dataOffset) != 0 || ReadImageBytes(r, data, b.dataBytes) != 0)
        return RefuseImageData(kFormatName, L"画素データが足りません");
    if (pitch > 0x7FFFFFFF || !(out->pixels = AllocImagePixels(a, pitch * uint32_t(b.height))))
        return AppendLog(L"２４ビットカラー化したグラフィックを格納するメモリ領域の確保に失敗しました\n");
    out->pitch = int32_t(pitch);
    SetupRgb888Format(&out->format);
    if (DrawDibThroughSystem(b.info, data, b.width, b.height, out->pixels, out->pitch) != 0)
        return RefuseImageData(kFormatName, L"対応していない形式です");
    FreeDecodeBlock(a, data);
    return 0;
}

int ReadBmp(ImageReader* r, DecodeAllocations* a, BaseImage* out)
{
    Bmp b{};
    if (ReadHeaders(r, &b) != 0) return -1;
    int result;
    const int bits = b.bitCount;
    const uint32_t c = b.compression;
    if ((c == kBiRgb && (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32)) ||
        (c == kBiBitFields && (bits == 16 || bits == 32)))
        result = DecodeStored(r, a, b, out);
    else if ((c == kBiRle8 && bits == 8) || (c == kBiRle4 && bits == 4)) result = DecodeRuns(r, a, b, out);
    else result = DecodeThroughSystem(r, a, b, out);
    if (result != 0) return -1;
    out->width = b.width;
    out->height = b.height;
    out->mipmapCount = 0;
    return 0;
}

}  // namespace

int DecodeBmpStream(const ImageStream* stream, BaseImage* out) { return RunImageDecoder(ReadBmp, stream, out); }
