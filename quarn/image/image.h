// In-memory images and pixel formats: what the image subsystem offers the rest of the library.
//
// Everything here is portable except BaseImageToDib, which exists only in the Windows build.
#pragma once

#include <cstdint>

#include "quarn/core/rect.h"

struct tagBITMAPINFO;
#ifdef _WIN32
typedef struct tagBITMAPINFO BITMAPINFO;
#endif

// The file layer's stream table (quarn/core/files.h), which the decoders read through.
struct StreamFunctionTable;
using StreamHandle = intptr_t;

// One palette entry, in the byte order of a Windows colour table.
struct PaletteEntry {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
    uint8_t alpha;
};

// A self-describing pixel format. Copied whole wherever a format is taken over.
struct ColorFormat {
    uint16_t bitDepth;       // 8, 16, 24, 32; 4 (DXT1) or 8 (DXT2-5) for block-compressed memory
    uint16_t bytesPerPixel;  // bitDepth / 8; 1 for paletted formats
    uint8_t redWidth, greenWidth, blueWidth, alphaWidth;  // 0 = channel absent
    uint8_t redShift, greenShift, blueShift, alphaShift;  // lowest bit of each channel
    uint32_t redMask, greenMask, blueMask, alphaMask;
    uint32_t unusedMask;  // bits carrying no channel; added to every encoded pixel
    PaletteEntry palette[256];
    uint8_t unusedShift;
    uint8_t unusedWidth;
    uint32_t compression;  // 0 plain pixels, 1..5 = DXT1..DXT5 blocks
};
static_assert(sizeof(ColorFormat) == 1064, "ColorFormat is 266 32-bit words");

// The library's in-memory image. Rows are top-down; pixels are little-endian values.
struct BaseImage {
    ColorFormat format;
    int32_t width;
    int32_t height;
    int32_t pitch;        // bytes from one row to the next
    uint8_t* pixels;      // owned; allocated through the library allocator; null = owns nothing
    int32_t mipmapCount;  // mip levels stored after the top level (0 unless a decoder sets it)
};

// The rectangle type, PixelRect, is core's (quarn/core/rect.h).

// ---- Format builders (return 0) ----
int SetupPalette8Format(ColorFormat* format);
int SetupGrey8Format(ColorFormat* format);
int SetupXrgb8888Format(ColorFormat* format);
int SetupArgb8888Format(ColorFormat* format);
int SetupRgb888Format(ColorFormat* format);
int SetupFormatFromMasks(ColorFormat* format, int bitDepth, uint32_t redMask, uint32_t greenMask, uint32_t blueMask,
                         uint32_t alphaMask);
void RecomputeUnusedBits(ColorFormat* format);

// ---- Single pixels ----
// Components 0..255. Paletted formats give the nearest palette index.
uint32_t EncodePixelColor(const ColorFormat* format, int red, int green, int blue, int alpha);
// Each output may be null. Returns 0.
int DecodePixelColor(const ColorFormat* format, uint32_t pixel, int* red, int* green, int* blue, int* alpha);

// ---- Base images ----
int AllocBaseImage(int width, int height, const ColorFormat* format, BaseImage* out);
int AllocArgbBaseImage(int width, int height, BaseImage* out);
int AllocXrgbBaseImage(int width, int height, BaseImage* out);
int DiscardBaseImage(BaseImage* image);
int ClearBaseImageRect(BaseImage* image, int x, int y, int width, int height);
int MirrorBaseImage(BaseImage* image);
// 0xAARRGGBB with each channel's bits at the top of its byte; a paletted pixel reads as its
// palette entry. 0 without pixels or outside the image.
uint32_t ReadBaseImagePixelArgb(const BaseImage* image, int x, int y);
int ReadBaseImagePixelRgba(BaseImage* image, int x, int y, int* red, int* green, int* blue, int* alpha);
int WriteBaseImagePixel(BaseImage* image, int x, int y, int red, int green, int blue, int alpha);
// Block-compressed images are expanded in place first, hence the non-const sources.
int CopyBaseImageRect(int srcX, int srcY, int width, int height, int dstX, int dstY, BaseImage* src, BaseImage* dst);
int ScaleBaseImageRect(int srcX1, int srcY1, int srcX2, int srcY2, BaseImage* src, int dstX1, int dstY1, int dstX2,
                       int dstY2, BaseImage* dst, int bilinear);
// Block-compressed pixel memory (compression 1..5) holds ceil(width / 4) x ceil(height / 4)
// blocks of 8 bytes (DXT1) or 16 bytes (DXT2..DXT5), row of blocks by row of blocks, left to
// right: sides that are not multiples of 4 keep their edge blocks whole. Mip levels follow,
// each laid out the same from its own sides. The top level's bytes, or -1 for a kind other
// than 1..5 or a negative side.
int64_t CompressedLevelBytes(uint32_t kind, int32_t width, int32_t height);
// Turns DXT1..DXT5 blocks into A8R8G8B8 pixels in place. -1, with a log line and the image as
// it was, when the pixel memory holds fewer bytes than its top level (above) or memory runs
// out. 0 / -1.
int ExpandCompressedBaseImage(BaseImage* image);

// ---- Converting pixel copy ----
// Options:
//   mirror        1 = each destination row is written right to left
//   keyToAlpha    1 = destination alpha 0 where the source colour equals keyColor, full elsewhere
//   keyColor      0x00RRGGBB with keyToAlpha, otherwise a source pixel value
//   reduction     0 cut, 1 ordered 4x4 dither, 2 carried remainder (when widths differ)
//   black         1 = red, green, blue written as 0
//   alphaFromRed  1 = destination alpha takes the source red value
//   keySkip       1 = source pixels equal to keyColor leave the destination untouched
//   paletteRemap  1 = between two paletted formats with different palettes, remap indices
// Returns -1 for an empty rectangle, the highest index copied for a plain copy between two
// 8-bit formats, 0 otherwise. The rectangle must lie inside the source (and alpha) buffer.
int ConvertPixelRect(uint8_t* dstPixels, int dstPitch, const ColorFormat* dstFormat, const uint8_t* srcPixels,
                     int srcPitch, const ColorFormat* srcFormat, const uint8_t* alphaPixels, int alphaPitch,
                     const ColorFormat* alphaFormat, int dstX, int dstY, const PixelRect* srcRect, int mirror,
                     int keyToAlpha, uint32_t keyColor, int reduction, int black, int alphaFromRed, int keySkip,
                     int paletteRemap);

// Writes the next mip level of a 16- or 32-bit image. 0 / -1.
int HalveImageForMipmap(const ColorFormat* format, uint8_t* dstPixels, int dstPitch, const uint8_t* srcPixels,
                        int srcPitch, int dstX, int dstY, int srcX, int srcY, int srcWidth, int srcHeight);

// ---- Decoders ----
// An image stream: a stream table and the handle it reads.
struct ImageStream {
    const StreamFunctionTable* functions;
    StreamHandle handle;
};
// 0 when the decoder recognised and decoded the data; otherwise -1, with everything it
// allocated freed and the image zeroed.
using ImageStreamDecoder = int (*)(const ImageStream* stream, BaseImage* out);

// Zeroes the image, then tries the added decoders and then BMP, JPEG, PNG, "BGRA", TGA and
// DDS in turn, each on the stream rewound to its start. 0 / -1.
int DecodeImageStream(const ImageStream* stream, BaseImage* out);
// As DecodeImageStream, into an image the caller keeps decoding into: the new picture takes
// the image's pixel memory when that holds enough bytes, so that loading picture after picture
// into one image allocates no new pixel memory; memory it does not take is freed. On failure
// the image is discarded (freed and zeroed). image is a zeroed record or one whose pixels are
// the library allocator's and its own. 0 / -1.
int DecodeImageStreamInto(const ImageStream* stream, BaseImage* image);
int DecodeBmpStream(const ImageStream* stream, BaseImage* out);
int DecodeJpegStream(const ImageStream* stream, BaseImage* out);
int DecodePngStream(const ImageStream* stream, BaseImage* out);
int DecodeBgraStream(const ImageStream* stream, BaseImage* out);
int DecodeTgaStream(const ImageStream* stream, BaseImage* out);
int DecodeDdsStream(const ImageStream* stream, BaseImage* out);
// Adds a decoder tried before the built-in ones (10 at most). 0 / -1.
int AddImageStreamDecoder(ImageStreamDecoder decoder);
// The most bytes one decode may allocate for an image (2^31 - 1 at start); larger images
// are refused before anything is read into memory. Returns the old limit.
uint32_t SetDecodedImageByteLimit(uint32_t bytes);

// ---- Load front ----
// Source kind 0 reads the file through the library's file table, any other kind the memory
// block. mirror 1 reverses every row. Without a DIB the image goes to *out. With one
// (dibWanted 1, Windows build only) *out is not written: *outHeader gets a new BITMAPINFO
// with room for 256 colours and *outDibPixels the top-down pixels, both for the caller to
// free with FreeTrackedMemory. 0 / -1.
int DecodeImageSource(const wchar_t* fileName, const void* data, int32_t size, int32_t sourceKind, int32_t dibWanted,
                      int32_t mirror, BaseImage* out, tagBITMAPINFO** outHeader, uint8_t** outDibPixels);
int DecodeImageToBaseImage(const wchar_t* fileName, const void* data, int32_t size, int32_t sourceKind, BaseImage* out,
                           int32_t mirror);
// As DecodeImageToBaseImage, into an image the caller keeps, as DecodeImageStreamInto does
// (the image is discarded on failure). 0 / -1.
int DecodeImageIntoBaseImage(const wchar_t* fileName, const void* data, int32_t size, int32_t sourceKind,
                             BaseImage* image, int32_t mirror);
// The image and, by alphaSource, an alpha image: 0 the companion file of fileName (see
// MakeAlphaCompanionName), 1 the alpha memory block, other values none. -1 when the image
// fails, 0 when the alpha image was loaded too, 1 without one (alphaImage not written).
int32_t DecodeImageWithAlpha(const wchar_t* fileName, const void* data, int32_t size, int32_t sourceKind,
                             const void* alphaData, int32_t alphaSize, int32_t alphaSource, BaseImage* image,
                             BaseImage* alphaImage, int32_t mirror);
// The alpha companion of a file: "_a" before the first "." of the last path element
// ("dir\pic.png" gives "dir\pic_a.png", "a.b.c" gives "a_a.b.c", "noext" gives "noext_a").
// out holds outUnits units. 0, or -1 when the name does not fit.
int MakeAlphaCompanionName(const wchar_t* fileName, wchar_t* out, int outUnits);

// ---- Held images: base images behind handles of type 11 ----
// Takes the image over (the caller's record is zeroed). The handle, or -1.
int32_t CreateBaseImageHandle(BaseImage* image);
// The held image, or null for a handle that is not a live held image.
BaseImage* FindHandleBaseImage(int32_t handle);
// Discards the image and frees its handle. 0 / -1.
int DestroyBaseImageHandle(int32_t handle);
int DestroyAllBaseImageHandles();  // 0
int EndBaseImageHandles();         // the library's shut-down: DestroyAllBaseImageHandles
// The image layer of a fresh process: no held images, no added decoders, the byte limit at
// its start. Test fixtures start and end with it. The library's end keeps the decoders and
// the limit, which the application sets, and only ends the held images.
void ResetImageState();

#ifdef _WIN32
// Exports an image as a top-down DIB. For an 8-bit result the header must have room for 256
// colour entries. Returns -1 on failure, 1 when *outPixels is a new buffer the caller frees with
// FreeTrackedMemory, or the value of alwaysCopy when the image's own pixels are lent.
int BaseImageToDib(const BaseImage* image, BITMAPINFO* header, uint8_t** outPixels, int alwaysCopy, int force24Bit);
#endif
