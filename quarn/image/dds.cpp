// DDS: DXT1 to DXT5 blocks (kept compressed, with their mip levels), pixels described by
// masks or by a Direct3D format code, luminance.
#include <cstring>

#include "quarn/image/image_decode.h"

namespace {

const wchar_t kFormatName[] = L"DDS";
constexpr uint32_t kHeaderBytes = 124;

// Header and pixel-format flags.
constexpr uint32_t kHasPitch = 0x8, kHasMipmapCount = 0x20000;
constexpr uint32_t kAlphaPixels = 0x1, kFourCc = 0x4, kRgb = 0x40, kLuminance = 0x20000;
constexpr uint32_t kCapsComplex = 0x8, kCapsMipmap = 0x400000;

struct FormatCode {
    uint32_t code;  // the Direct3D 9 format, as the file's FourCC
    int bits;
    uint32_t red, green, blue, alpha;
};
const FormatCode kFormatCodes[] = {
    {20, 24, 0xFF0000, 0xFF00, 0xFF, 0},               // R8G8B8
    {21, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000},      // A8R8G8B8
    {22, 32, 0xFF0000, 0xFF00, 0xFF, 0},               // X8R8G8B8
    {23, 16, 0xF800, 0x07E0, 0x001F, 0},               // R5G6B5
    {24, 16, 0x7C00, 0x3E0, 0x1F, 0},                  // X1R5G5B5
    {25, 16, 0x7C00, 0x3E0, 0x1F, 0x8000},             // A1R5G5B5
    {26, 16, 0xF00, 0xF0, 0xF, 0xF000},                // A4R4G4B4
    {27, 8, 0xE0, 0x1C, 0x3, 0},                       // R3G3B2
    {29, 16, 0xE0, 0x1C, 0x3, 0xFF00},                 // A8R3G3B2
    {30, 16, 0xF00, 0xF0, 0xF, 0},                     // X4R4G4B4
    {31, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000},  // A2B10G10R10
    {32, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000},      // A8B8G8R8
    {33, 32, 0xFF, 0xFF00, 0xFF0000, 0},               // X8B8G8R8
    {35, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000},  // A2R10G10B10
};

const FormatCode* FindFormatCode(uint32_t code)
{
    for (const FormatCode& f : kFormatCodes)
        if (f.code == code) return &f;
    return nullptr;
}

uint32_t FourCc(const char* text) { return ReadLe32(reinterpret_cast<const uint8_t*>(text)); }

// Levels a chain of this size can hold: down to 1 x 1.
uint32_t MostLevels(uint32_t width, uint32_t height)
{
    uint32_t levels = 1;
    for (uint32_t side = width > height ? width : height; side > 1; side >>= 1) ++levels;
    return levels;
}

uint32_t LevelSide(uint32_t side, uint32_t level) { return side >> level ? side >> level : 1; }

// This library has no 8-bit pixels without a palette: an 8-bit layout gets the palette
// that spells out what each value means.
void FillPaletteFromMasks(ColorFormat* f)
{
    for (uint32_t v = 0; v < 256; ++v) {
        int r, g, b, a;
        DecodePixelColor(f, v, &r, &g, &b, &a);
        f->palette[v] = {uint8_t(b), uint8_t(g), uint8_t(r), uint8_t(a)};
    }
}

int ReadDds(ImageReader* r, DecodeAllocations* a, BaseImage* out)
{
    uint8_t magic[4];
    if (ReadImageBytes(r, magic, 4) != 0 || std::memcmp(magic, "DDS", 3) != 0) return -1;
    uint8_t h[kHeaderBytes];
    if (ReadImageBytes(r, h, kHeaderBytes) != 0) return RefuseImageData(kFormatName, L"ヘッダが足りません");
    const uint32_t flags = ReadLe32(h + 4), height = ReadLe32(h + 8), width = ReadLe32(h + 12);
    const uint32_t headerPitch = ReadLe32(h + 16), headerMipmaps = ReadLe32(h + 24);
    const uint32_t pfFlags = ReadLe32(h + 76), fourCc = ReadLe32(h + 80), rgbBits = ReadLe32(h + 84);
    const uint32_t caps = ReadLe32(h + 104);
    uint32_t masks[4];
    for (int i = 0; i < 4; ++i) masks[i] = ReadLe32(h + 88 + 4 * i);
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
        return RefuseImageData(kFormatName, L"サイズが不正です");

    // The layout.
    ColorFormat& f = out->format;
    uint32_t kind = 0;
    const FormatCode* code = pfFlags == kFourCc ? FindFormatCode(fourCc) : nullptr;
    if (pfFlags & kFourCc) {
        static const char* const kBlockCodes[5] = {"DXT1", "DXT2", "DXT3", "DXT4", "DXT5"};
        for (uint32_t k = 1; k <= 5; ++k)
            if (fourCc == FourCc(kBlockCodes[k - 1])) kind = k;
        if (kind != 0) {
            SetupFormatFromMasks(&f, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
            f.compression = kind;
            f.bitDepth = kind == 1 ? 4 : 8;
        } else if (code) {
            SetupFormatFromMasks(&f, code->bits, code->red, code->green, code->blue, code->alpha);
        } else {
            return RefuseImageData(kFormatName, L"対応していない形式です");
        }
    } else {
        if (rgbBits != 8 && rgbBits != 16 && rgbBits != 24 && rgbBits != 32)
            return RefuseImageData(kFormatName, L"対応していない形式です");
        // An alpha mask counts only with the alpha flag; luminance is grey.
        const bool rgb = pfFlags & kRgb;
        const uint32_t alpha = !rgb || (pfFlags & kAlphaPixels) ? masks[3] : 0;
        // A channel with bits above the pixel's would read as nothing: the picture would come
        // out black (or clear) though the file says otherwise.
        const uint32_t pixelBits = rgbBits == 32 ? 0xFFFFFFFFu : (1u << rgbBits) - 1;
        const uint32_t used = (pfFlags & kLuminance ? masks[0] : masks[0] | masks[1] | masks[2]) | alpha;
        if (used & ~pixelBits) return RefuseImageData(kFormatName, L"チャンネルのマスクが画素のビット数を超えています");
        if (pfFlags & kLuminance) SetupFormatFromMasks(&f, int(rgbBits), masks[0], masks[0], masks[0], alpha);
        else SetupFormatFromMasks(&f, int(rgbBits), masks[0], masks[1], masks[2], alpha);
    }
    if (kind == 0 && f.bytesPerPixel == 1) FillPaletteFromMasks(&f);

    // Mip levels, each half the size of the one before, down to 1 x 1.
    uint32_t levels = 1;
    if ((flags & kHasMipmapCount) && (caps & kCapsMipmap) && (caps & kCapsComplex)) {
        levels = headerMipmaps ? headerMipmaps : 1;
        if (levels > MostLevels(width, height)) levels = MostLevels(width, height);
        out->mipmapCount = int32_t(levels);
    }
    // Block-compressed levels store whole blocks, edge blocks included.
    uint64_t pitch = 0, total = 0;
    if (kind != 0) {
        for (uint32_t i = 0; i < levels; ++i)
            total += uint64_t(CompressedLevelBytes(kind, int32_t(LevelSide(width, i)), int32_t(LevelSide(height, i))));
    } else {
        const uint64_t rowBytes = uint64_t(width) * f.bytesPerPixel;
        pitch = (flags & kHasPitch) ? headerPitch : rowBytes;
        if (pitch < rowBytes || pitch > 0x7FFFFFFF) return RefuseImageData(kFormatName, L"ピッチが不正です");
        total = pitch * height;
        for (uint32_t i = 1; i < levels; ++i)
            total += uint64_t(LevelSide(width, i)) * f.bytesPerPixel * LevelSide(height, i);
    }
    const int64_t left = MeasureImageStream(r);
    if (left < 0 || uint64_t(left) < total) return RefuseImageData(kFormatName, L"画素データが足りません");
    if (!(out->pixels = AllocImagePixels(a, total))) return RefuseImageData(kFormatName, L"メモリの確保に失敗しました");
    if (ReadImageBytes(r, out->pixels, uint32_t(total)) != 0) return -1;
    out->width = int32_t(width);
    out->height = int32_t(height);
    out->pitch = int32_t(pitch);
    return 0;
}

}  // namespace

int DecodeDdsStream(const ImageStream* stream, BaseImage* out) { return RunImageDecoder(ReadDds, stream, out); }
