// DXT1 to DXT5 block decoding into A8R8G8B8 pixels, in place.
#include <algorithm>

#include "quarn/core/core.h"
#include "quarn/image/image.h"
#include "quarn/image/pixel.h"

namespace {

struct Bgra {
    uint8_t b, g, r, a;
};

Bgra Expand565(uint32_t c)
{
    return {uint8_t((c & 0x1F) * 255 / 31), uint8_t((c >> 5 & 0x3F) * 255 / 63), uint8_t((c >> 11 & 0x1F) * 255 / 31),
            255};
}

// The four colours of a colour block; a DXT1 block with c0 <= c1 has a transparent fourth.
void ColourTable(const uint8_t* block, bool dxt1, Bgra out[4])
{
    const uint32_t c0 = pixel::Load(block, 2), c1 = pixel::Load(block + 2, 2);
    const Bgra a = Expand565(c0), b = Expand565(c1);
    out[0] = a;
    out[1] = b;
    if (!dxt1 || c0 > c1) {
        out[2] = {uint8_t((2 * a.b + b.b) / 3), uint8_t((2 * a.g + b.g) / 3), uint8_t((2 * a.r + b.r) / 3), 255};
        out[3] = {uint8_t((a.b + 2 * b.b) / 3), uint8_t((a.g + 2 * b.g) / 3), uint8_t((a.r + 2 * b.r) / 3), 255};
    } else {
        out[2] = {uint8_t((a.b + b.b) / 2), uint8_t((a.g + b.g) / 2), uint8_t((a.r + b.r) / 2), 255};
        out[3] = out[2];
        out[3].a = 0;
    }
}

void AlphaTable(const uint8_t* block, uint8_t out[8])
{
    const int a0 = block[0], a1 = block[1];
    out[0] = uint8_t(a0);
    out[1] = uint8_t(a1);
    if (a0 > a1) {
        for (int k = 1; k <= 6; ++k) out[k + 1] = uint8_t(((7 - k) * a0 + k * a1) / 7);
    } else {
        for (int k = 1; k <= 4; ++k) out[k + 1] = uint8_t(((5 - k) * a0 + k * a1) / 5);
        out[6] = 0;
        out[7] = 255;
    }
}

// The block's 16 pixels, row by row; only the first `columns` of the first `rows` rows are
// written (a block on the right or bottom edge of an image whose sides are not multiples of
// 4 reaches past it).
void DecodeBlock(const uint8_t* block, uint32_t kind, uint8_t* dst, int pitch, int columns, int rows)
{
    Bgra px[16];
    const bool dxt1 = kind == 1;
    const uint8_t* colour = dxt1 ? block : block + 8;
    Bgra table[4];
    ColourTable(colour, dxt1, table);
    const uint32_t indices = pixel::Load(colour + 4, 4);
    for (int i = 0; i < 16; ++i) px[i] = table[indices >> (2 * i) & 3];

    if (kind == 2 || kind == 3) {
        uint64_t bits = 0;
        for (int k = 7; k >= 0; --k) bits = bits << 8 | block[k];
        for (int i = 0; i < 16; ++i) px[i].a = uint8_t((bits >> (4 * i) & 0xF) * 255 / 15);
    } else if (kind == 4 || kind == 5) {
        uint8_t alphas[8];
        AlphaTable(block, alphas);
        uint64_t bits = 0;
        for (int k = 7; k >= 2; --k) bits = bits << 8 | block[k];
        for (int i = 0; i < 16; ++i) px[i].a = alphas[bits >> (3 * i) & 7];
    }
    if (kind == 2 || kind == 4) {
        // Premultiplied colour back to straight colour; a transparent pixel keeps its 0s and
        // a colour brighter than its alpha allows saturates.
        for (Bgra& p : px) {
            if (p.a == 0) continue;
            p.b = uint8_t(std::min(p.b * 255 / p.a, 255));
            p.g = uint8_t(std::min(p.g * 255 / p.a, 255));
            p.r = uint8_t(std::min(p.r * 255 / p.a, 255));
        }
    }
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x) {
            const Bgra& p = px[y * 4 + x];
            uint8_t* d = dst + std::ptrdiff_t(y) * pitch + x * 4;
            d[0] = p.b;
            d[1] = p.g;
            d[2] = p.r;
            d[3] = p.a;
        }
}

}  // namespace

int64_t CompressedLevelBytes(uint32_t kind, int32_t width, int32_t height)
{
    if (kind < 1 || kind > 5 || width < 0 || height < 0) return -1;
    return (int64_t(width) + 3) / 4 * ((int64_t(height) + 3) / 4) * (kind == 1 ? 8 : 16);
}

int ExpandCompressedBaseImage(BaseImage* image)
{
    const uint32_t kind = image->format.compression;
    if (kind == 0) return 0;
    if (!image->pixels || image->width < 0 || image->height < 0) return -1;
    // The blocks are read from the memory handed in: it has to hold the whole top level.
    if (kind <= 5 && TrackedMemorySize(image->pixels) < CompressedLevelBytes(kind, image->width, image->height))
        return AppendLog(L"圧縮された画像のデータがブロックの数に足りません\n");
    // The pitch is checked on its own: with no rows the block is empty whatever the width.
    const uint64_t pitch64 = uint64_t(image->width) * 4;
    const uint64_t bytes = pitch64 * uint64_t(image->height);
    if (pitch64 > 0x7FFFFFFF || bytes > 0x7FFFFFFF) return -1;
    // Every pixel is written below (kinds above 5 have no blocks to decode and leave zeros).
    auto* out = static_cast<uint8_t*>(AllocTrackedMemoryZeroed(uint32_t(bytes), "", 0));
    if (!out) return -1;
    const int pitch = int(pitch64);
    if (kind <= 5) {
        // Whole blocks are stored, the edge blocks of sides that are not multiples of 4 too.
        const int blockBytes = kind == 1 ? 8 : 16;
        const int bw = (image->width + 3) / 4, bh = (image->height + 3) / 4;
        const uint8_t* block = image->pixels;
        for (int by = 0; by < bh; ++by)
            for (int bx = 0; bx < bw; ++bx, block += blockBytes)
                DecodeBlock(block, kind, out + std::ptrdiff_t(by) * 4 * pitch + bx * 16, pitch,
                            std::min(4, image->width - bx * 4), std::min(4, image->height - by * 4));
    }
    FreeTrackedMemory(image->pixels);
    image->pixels = out;
    SetupArgb8888Format(&image->format);
    image->pitch = pitch;
    return 0;
}
