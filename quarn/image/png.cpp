// PNG through libpng, read from the image stream by a read callback. Every libpng error
// returns to the decoder through libpng's jump buffer, so nothing between the jump point and
// the libpng calls may need a destructor: the decoder's state is plain data, and what it
// allocates is recorded for the caller to free.
#include <csetjmp>
#include <cstring>

#include <png.h>

#include "quarn/core/core.h"
#include "quarn/image/image_decode.h"

namespace {

constexpr size_t kSignatureBytes = 8;

// The stream, the bytes it held from where libpng started reading, and where the next chunk
// starts in what libpng has read.
struct PngReaderContext {
    ImageReader* reader;
    uint32_t left;
    uint64_t position;
    uint64_t nextChunk;
};

void LogPngError(png_structp png, png_const_charp message)
{
    AppendLogFormat(L"PNG画像を読み込めません: %s", message);
    png_longjmp(png, 1);
}

// Warnings (unknown or damaged ancillary chunks) change nothing that is decoded.
void IgnorePngWarning(png_structp, png_const_charp) {}

void ReadPngStreamBytes(png_structp png, png_bytep buffer, png_size_t length)
{
    auto* context = static_cast<PngReaderContext*>(png_get_io_ptr(png));
    if (length > context->left || ReadImageBytes(context->reader, buffer, uint32_t(length)) != 0)
        png_error(png, "Read Error");
    context->left -= uint32_t(length);
    // libpng reads the chunks in order, each header as a read of its own. One that claims more
    // data than the stream holds cannot be read, and libpng would first allocate and clear
    // room for all of it: a file of a few bytes could claim a gigabyte.
    if (context->position == context->nextChunk && context->position >= kSignatureBytes && length >= 4) {
        const uint32_t chunk = uint32_t(buffer[0]) << 24 | buffer[1] << 16 | buffer[2] << 8 | buffer[3];
        if (uint64_t(chunk) + 12 > context->left + length) png_error(png, "Read Error");
        context->nextChunk += uint64_t(chunk) + 12;
    }
    context->position += length;
}

void AttachPngStream(png_structp png, PngReaderContext* context, ImageReader* reader)
{
    const int64_t left = MeasureImageStream(reader);
    context->reader = reader;
    context->left = left > 0 ? uint32_t(left) : 0;
    context->position = 0;
    context->nextChunk = kSignatureBytes;
    png_set_read_fn(png, context, ReadPngStreamBytes);
}

// The part of the decode that libpng may leave through its jump buffer.
int ReadPngRows(png_structp png, png_infop info, PngReaderContext* context, ImageReader* r, DecodeAllocations* a,
                BaseImage* out)
{
    AttachPngStream(png, context, r);
    png_set_sig_bytes(png, 0);
    png_read_info(png, info);
    png_uint_32 width, height;
    int depth, colourType, interlace;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);

    // 8 bits a channel, one byte a pixel or more, and transparency as an alpha channel; the
    // colours in the library's blue, green, red order.
    png_set_strip_16(png);
    png_set_packing(png);
    png_set_packswap(png);
    if ((colourType == PNG_COLOR_TYPE_GRAY && depth <= 8) || png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_expand(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const png_size_t rowBytes = png_get_rowbytes(png, info);
    if (rowBytes > 0x7FFFFFFF || !FitsDecodeLimit(uint64_t(rowBytes) * height))
        return RefuseImageData(L"PNG", L"画像が大きすぎます");
    out->pixels = AllocImagePixels(a, uint64_t(rowBytes) * height);
    auto** rows = reinterpret_cast<png_bytep*>(AllocDecodeBlock(a, uint64_t(height) * sizeof(png_bytep)));
    if (!out->pixels || !rows) return RefuseImageData(L"PNG", L"メモリの確保に失敗しました");
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = out->pixels + std::ptrdiff_t(y) * rowBytes;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    FreeDecodeBlock(a, rows);

    ColorFormat& f = out->format;
    switch (png_get_color_type(png, info)) {
    case PNG_COLOR_TYPE_PALETTE: {
        SetupPalette8Format(&f);
        png_colorp palette = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &palette, &count) & PNG_INFO_PLTE)
            for (int i = 0; i < count && i < 256; ++i)
                f.palette[i] = {palette[i].blue, palette[i].green, palette[i].red, 0};
        break;
    }
    case PNG_COLOR_TYPE_GRAY: SetupGrey8Format(&f); break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        // Grey then alpha: the grey byte is all three colours.
        SetupFormatFromMasks(&f, 16, 0xFF, 0xFF, 0xFF, 0xFF00);
        break;
    case PNG_COLOR_TYPE_RGB_ALPHA: SetupArgb8888Format(&f); break;
    default: SetupRgb888Format(&f); break;
    }
    out->width = int32_t(width);
    out->height = int32_t(height);
    out->pitch = int32_t(rowBytes);
    return 0;
}

int ReadPng(ImageReader* r, DecodeAllocations* a, BaseImage* out)
{
    uint8_t signature[kSignatureBytes];
    if (ReadImageBytes(r, signature, kSignatureBytes) != 0 || png_sig_cmp(signature, 0, kSignatureBytes) != 0 ||
        SeekImage(r, 0) != 0)
        return -1;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, LogPngError, IgnorePngWarning);
    if (!png) return -1;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return -1;
    }
    PngReaderContext context{};
    volatile int result = -1;
    if (setjmp(png_jmpbuf(png)) == 0) result = ReadPngRows(png, info, &context, r, a, out);
    png_destroy_read_struct(&png, &info, nullptr);
    return result;
}

}  // namespace

int DecodePngStream(const ImageStream* stream, BaseImage* out) { return RunImageDecoder(ReadPng, stream, out); }
