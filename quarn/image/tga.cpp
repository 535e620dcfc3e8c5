// TGA: true colour and colour-mapped, plain or run-length encoded, 16, 24 or 32 bits, any
// of the four orientations.
#include <cstring>

#include "quarn/image/image_decode.h"

namespace {

const wchar_t kFormatName[] = L"TGA";
constexpr uint32_t kHeaderBytes = 18, kFooterBytes = 26, kLargestSide = 8192;

struct Tga {
    int width, height;
    int bytesPerPixel;  // of the output: 2, 3 or 4
    int storedBytes;    // of one stored value: 1 (an index) or bytesPerPixel
    bool mapped;
    bool encoded;
    bool bottomUp;  // the first stored row is the bottom row
    bool rightToLeft;
    uint8_t palette[256 * 4];  // entries of bytesPerPixel bytes
};

// Puts stored values into the image in storage order, turning the file's orientation into
// top-down rows that run left to right.
struct PixelWalk {
    const Tga& t;
    BaseImage* out;
    int x = 0, y = 0;

    void Put(const uint8_t* value)
    {
        const uint8_t* src = t.mapped ? t.palette + *value * t.bytesPerPixel : value;
        const int dx = t.rightToLeft ? t.width - 1 - x : x;
        const int dy = t.bottomUp ? t.height - 1 - y : y;
        std::memcpy(out->pixels + std::ptrdiff_t(dy) * out->pitch + dx * t.bytesPerPixel, src, size_t(t.bytesPerPixel));
        if (++x == t.width) {
            x = 0;
            ++y;
        }
    }
};

// Packets: a header byte h gives (h & 0x7F) + 1 pixels, with h & 0x80 one value repeated,
// otherwise that many values. -1 when the data ends before the image is full.
int ExpandPackets(const uint8_t* data, uint32_t size, PixelWalk* walk)
{
    const int stored = walk->t.storedBytes;
    uint64_t left = uint64_t(walk->t.width) * uint32_t(walk->t.height);
    uint32_t p = 0;
    while (left > 0) {
        if (p >= size) return -1;
        const uint8_t h = data[p++];
        const uint32_t n = (h & 0x7Fu) + 1 < left ? (h & 0x7Fu) + 1 : uint32_t(left);
        left -= n;
        if (h & 0x80) {
            if (size - p < uint32_t(stored)) return -1;
            for (uint32_t i = 0; i < n; ++i) walk->Put(data + p);
            p += stored;
        } else {
            if ((size - p) / stored < n) return -1;
            for (uint32_t i = 0; i < n; ++i, p += stored) walk->Put(data + p);
        }
    }
    return 0;
}

int ReadTga(ImageReader* r, DecodeAllocations* a, BaseImage* out)
{
    const int64_t total = MeasureImageStream(r);
    if (total < kHeaderBytes) return -1;
    // A footer ends the data of the encoded types.
    bool footer = false;
    if (total >= kHeaderBytes + kFooterBytes) {
        uint8_t f[kFooterBytes];
        if (SeekImage(r, total - kFooterBytes) != 0 || ReadImageBytes(r, f, kFooterBytes) != 0) return -1;
        footer = std::memcmp(f + 8, "TRUEVISION-XFILE", 16) == 0 && ReadLe32(f) == 0;
    }
    uint8_t h[kHeaderBytes];
    if (SeekImage(r, 0) != 0 || ReadImageBytes(r, h, kHeaderBytes) != 0) return -1;
    Tga t{};
    const int type = h[2];
    const uint32_t mapFirst = ReadLe16(h + 3), mapLength = ReadLe16(h + 5), mapBits = h[7];
    t.mapped = type == 1 || type == 9;
    t.encoded = type == 9 || type == 10;
    const int bits = t.mapped ? int(mapBits) : h[16];
    t.width = ReadLe16(h + 12);
    t.height = ReadLe16(h + 14);
    // Without a signature the header itself has to look like one.
    if ((type != 1 && type != 2 && type != 9 && type != 10) || ReadLe16(h + 8) != 0 || ReadLe16(h + 10) != 0 ||
        t.width > int(kLargestSide) || t.height > int(kLargestSide) || (bits != 16 && bits != 24 && bits != 32))
        return -1;
    if (t.width == 0 || t.height == 0) return RefuseImageData(kFormatName, L"サイズが不正です");
    if (t.mapped && (h[16] != 8 || mapFirst + mapLength > 256))
        return RefuseImageData(kFormatName, L"カラーマップが不正です");
    t.bytesPerPixel = bits / 8;
    t.storedBytes = t.mapped ? 1 : t.bytesPerPixel;
    t.bottomUp = !(h[17] & 0x20);
    t.rightToLeft = (h[17] & 0x10) != 0;

    // The image ID is skipped, and so is a colour map in a true-colour file.
    if (SeekImage(r, kHeaderBytes + h[0]) != 0) return -1;
    if (t.mapped) {
        if (ReadImageBytes(r, t.palette + mapFirst * t.bytesPerPixel, mapLength * t.bytesPerPixel) != 0)
            return RefuseImageData(kFormatName, L"カラーマップが足りません");
    } else if (h[1] == 1) {
        if (SeekImage(r, TellImage(r) + int64_t(mapLength) * ((mapBits + 7) / 8)) != 0) return -1;
    }

    const int64_t here = TellImage(r);
    const uint32_t pitch = uint32_t(t.width) * t.bytesPerPixel;
    const uint64_t storedSize = uint64_t(t.width) * uint32_t(t.height) * t.storedBytes;
    const int64_t dataEnd = total - (footer ? kFooterBytes : 0);
    if (here < 0 || here > dataEnd || (!t.encoded && uint64_t(dataEnd - here) < storedSize))
        return RefuseImageData(kFormatName, L"画素データが足りません");
    if (!(out->pixels = AllocImagePixels(a, uint64_t(pitch) * uint32_t(t.height))))
        return RefuseImageData(kFormatName, L"メモリの確保に失敗しました");
    out->pitch = int32_t(pitch);

    if (!t.encoded && !t.mapped && !t.rightToLeft) {
        // Stored rows straight into place.
        for (int y = 0; y < t.height; ++y) {
            uint8_t* dst = out->pixels + std::ptrdiff_t(t.bottomUp ? t.height - 1 - y : y) * pitch;
            if (ReadImageBytes(r, dst, pitch) != 0) return -1;
        }
    } else {
        const uint32_t size = uint32_t(t.encoded ? uint64_t(dataEnd - here) : storedSize);
        uint8_t* data = AllocDecodeBlock(a, size);
        if (!data) return RefuseImageData(kFormatName, L"メモリの確保に失敗しました");
        if (ReadImageBytes(r, data, size) != 0) return -1;
        PixelWalk walk{t, out};
        if (t.encoded) {
            if (ExpandPackets(data, size, &walk) != 0) return RefuseImageData(kFormatName, L"画素データが足りません");
        } else {
            for (uint32_t p = 0; p < size; p += t.storedBytes) walk.Put(data + p);
        }
        FreeDecodeBlock(a, data);
    }

    if (bits == 16) SetupFormatFromMasks(&out->format, 16, 0x7C00, 0x03E0, 0x001F, 0);
    else if (bits == 24) SetupRgb888Format(&out->format);
    else SetupArgb8888Format(&out->format);
    out->width = t.width;
    out->height = t.height;
    return 0;
}

}  // namespace

int DecodeTgaStream(const ImageStream* stream, BaseImage* out) { return RunImageDecoder(ReadTga, stream, out); }
