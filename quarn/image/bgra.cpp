// The library's raw format: "BGRA", a depth tag, width and height, then the pixels top row
// first, 8 or 16 bits a channel in the order blue, green, red, alpha.
#include <cstring>

#include "quarn/image/image_decode.h"

namespace {

const wchar_t kFormatName[] = L"BGRA";

int ReadBgra(ImageReader* r, DecodeAllocations* a, BaseImage* out)
{
    uint8_t h[16];
    if (ReadImageBytes(r, h, sizeof h) != 0 || std::memcmp(h, "BGRA", 4) != 0) return -1;
    const uint32_t tag = ReadLe32(h + 4);
    if (tag != 0x08080808 && tag != 0x10101010) return RefuseImageData(kFormatName, L"対応していない形式です");
    const int32_t width = int32_t(ReadLe32(h + 8)), height = int32_t(ReadLe32(h + 12));
    if (width <= 0 || height <= 0) return RefuseImageData(kFormatName, L"サイズが不正です");
    const uint32_t storedPixel = tag == 0x08080808 ? 4 : 8;
    const uint64_t pitch = uint64_t(width) * 4;
    const int64_t left = MeasureImageStream(r);
    if (left < 0 || uint64_t(left) / storedPixel / uint32_t(width) < uint32_t(height))
        return RefuseImageData(kFormatName, L"画素データが足りません");
    if (pitch > 0x7FFFFFFF || !(out->pixels = AllocImagePixels(a, pitch * uint32_t(height))))
        return RefuseImageData(kFormatName, L"メモリの確保に失敗しました");
    if (storedPixel == 4) {
        if (ReadImageBytes(r, out->pixels, uint32_t(pitch * uint32_t(height))) != 0) return -1;
    } else {
        // Each channel's high byte, a row at a time.
        uint8_t* row = AllocDecodeBlock(a, pitch * 2);
        if (!row) return RefuseImageData(kFormatName, L"メモリの確保に失敗しました");
        for (int y = 0; y < height; ++y) {
            if (ReadImageBytes(r, row, uint32_t(pitch * 2)) != 0) return -1;
            uint8_t* dst = out->pixels + std::ptrdiff_t(y) * std::ptrdiff_t(pitch);
            for (uint64_t i = 0; i < pitch; ++i) dst[i] = row[2 * i + 1];
        }
        FreeDecodeBlock(a, row);
    }
    SetupArgb8888Format(&out->format);
    out->width = width;
    out->height = height;
    out->pitch = int32_t(pitch);
    return 0;
}

}  // namespace

int DecodeBgraStream(const ImageStream* stream, BaseImage* out) { return RunImageDecoder(ReadBgra, stream, out); }
