// The load front: an image file (through the library's file table) or memory block decoded
// into a base image, optionally mirrored or handed out as a DIB, and an image loaded with
// its alpha companion.
#include <cstring>

#include "quarn/core/core.h"
#include "quarn/core/files.h"
#include "quarn/image/image.h"
#include "quarn/image/image_os.h"

namespace {

// A BITMAPINFO with room for 256 colours, and a little more.
constexpr uint32_t kDibHeaderBytes = 1068;

// Rows reversed into new pixel memory. 0 / -1 (the image is left as it was).
int MirrorLoadedImage(BaseImage* image)
{
    if (ExpandCompressedBaseImage(image) != 0) return -1;
    const uint64_t bytes = uint64_t(uint32_t(image->pitch)) * uint32_t(image->height);
    if (bytes > 0x7FFFFFFF) return -1;
    auto* pixels = static_cast<uint8_t*>(AllocTrackedMemory(uint32_t(bytes ? bytes : 1), "", 0));
    if (!pixels) return -1;
    const PixelRect rect = {0, 0, image->width, image->height};
    if (ConvertPixelRect(pixels, image->pitch, &image->format, image->pixels, image->pitch, &image->format, nullptr, 0,
                         nullptr, 0, 0, &rect, 1, 0, 0, 0, 0, 0, 0, 0) < 0) {
        FreeTrackedMemory(pixels);
        return -1;
    }
    FreeTrackedMemory(image->pixels);
    image->pixels = pixels;
    return 0;
}

// The decoded image to the caller: as it is, or as a DIB. The image is the caller's or
// freed whatever the result.
int HandOverLoadedImage(BaseImage* image, int32_t dibWanted, int32_t mirror, BaseImage* out, tagBITMAPINFO** outHeader,
                        uint8_t** outDibPixels)
{
    if (mirror == 1 && MirrorLoadedImage(image) != 0) return DiscardBaseImage(image), -1;
    if (!dibWanted) {
        *out = *image;
        return 0;
    }
    if (!outHeader || !outDibPixels || ExpandCompressedBaseImage(image) != 0) return DiscardBaseImage(image), -1;
    auto* header = static_cast<tagBITMAPINFO*>(AllocTrackedMemoryZeroed(kDibHeaderBytes, "", 0));
    uint8_t* dibPixels = nullptr;
    const int exported = header ? ExportBaseImageAsDib(image, header, &dibPixels) : -1;
    if (exported < 0) {
        FreeTrackedMemory(header);
        return DiscardBaseImage(image), -1;
    }
    // A new buffer (1) leaves the image's pixels to be freed; lent ones (0) are the caller's now.
    if (exported == 1) FreeTrackedMemory(image->pixels);
    *outHeader = header;
    *outDibPixels = dibPixels;
    return 0;
}

// The load front; with reuse the picture may take out's pixel memory (DecodeImageStreamInto).
int LoadImageSource(const wchar_t* fileName, const void* data, int32_t size, int32_t sourceKind, int32_t dibWanted,
                    int32_t mirror, BaseImage* out, tagBITMAPINFO** outHeader, uint8_t** outDibPixels, bool reuse)
{
    if (!out && !dibWanted) return -1;
    // The image decoded into gives up its record now; its memory goes to the decode.
    BaseImage image{};
    if (reuse) {
        image.pixels = out->pixels;
        out->pixels = nullptr;
        DiscardBaseImage(out);
    }
    ImageStream stream{};
    if (sourceKind == 0) {
        const FileHandle file = fileName ? OpenFileThroughTable(fileName, 0, 1, 0) : 0;
        if (file) stream = {GetFileStreamFunctions(), file};
    } else {
        MemoryStream* memory = data && size >= 0 ? OpenMemoryStream(data, uint32_t(size)) : nullptr;
        if (memory) stream = {GetMemoryStreamFunctions(), reinterpret_cast<StreamHandle>(memory)};
    }
    if (!stream.functions) {
        FreeTrackedMemory(image.pixels);
        return -1;
    }
    int result = reuse ? DecodeImageStreamInto(&stream, &image) : DecodeImageStream(&stream, &image);
    // A memory stream is closed as soon as it is read, a file once the image is handed over.
    if (sourceKind != 0) stream.functions->close(stream.handle);
    if (result == 0) result = HandOverLoadedImage(&image, dibWanted, mirror, out, outHeader, outDibPixels);
    if (sourceKind == 0) stream.functions->close(stream.handle);
    return result;
}

}  // namespace

int DecodeImageSource(const wchar_t* fileName, const void* data, int32_t size, int32_t sourceKind, int32_t dibWanted,
                      int32_t mirror, BaseImage* out, tagBITMAPINFO** outHeader, uint8_t** outDibPixels)
{
    return LoadImageSource(fileName, data, size, sourceKind, dibWanted, mirror, out, outHeader, outDibPixels, false);
}

int DecodeImageToBaseImage(const wchar_t* fileName, const void* data, int32_t size, int32_t sourceKind, BaseImage* out,
                           int32_t mirror)
{
    return DecodeImageSource(fileName, data, size, sourceKind, 0, mirror, out, nullptr, nullptr);
}

int DecodeImageIntoBaseImage(const wchar_t* fileName, const void* data, int32_t size, int32_t sourceKind,
                             BaseImage* image, int32_t mirror)
{
    if (!image) return -1;
    return LoadImageSource(fileName, data, size, sourceKind, 0, mirror, image, nullptr, nullptr, true);
}

int32_t DecodeImageWithAlpha(const wchar_t* fileName, const void* data, int32_t size, int32_t sourceKind,
                             const void* alphaData, int32_t alphaSize, int32_t alphaSource, BaseImage* image,
                             BaseImage* alphaImage, int32_t mirror)
{
    if (DecodeImageToBaseImage(fileName, data, size, sourceKind, image, mirror) != 0) return -1;
    if (alphaSource == 0) {
        wchar_t name[2 * kFilePathUnits];
        if (!fileName || MakeAlphaCompanionName(fileName, name, 2 * kFilePathUnits) != 0) return 1;
        return DecodeImageToBaseImage(name, nullptr, 0, 0, alphaImage, mirror) == 0 ? 0 : 1;
    }
    if (alphaSource == 1)
        return DecodeImageToBaseImage(nullptr, alphaData, alphaSize, 1, alphaImage, mirror) == 0 ? 0 : 1;
    return 1;
}

int MakeAlphaCompanionName(const wchar_t* fileName, wchar_t* out, int outUnits)
{
    if (!fileName || !out) return -1;
    const int length = CountWideUnits(fileName);
    // The extension is looked for in the last path element only.
    int element = 0;
    for (int i = 0; i < length; ++i)
        if (fileName[i] == L'\\' || fileName[i] == L'/') element = i + 1;
    int dot = element;
    while (dot < length && fileName[dot] != L'.') ++dot;
    if (length + 3 > outUnits) return -1;
    std::memcpy(out, fileName, sizeof(wchar_t) * size_t(dot));
    out[dot] = L'_';
    out[dot + 1] = L'a';
    std::memcpy(out + dot + 2, fileName + dot, sizeof(wchar_t) * size_t(length - dot + 1));
    return 0;
}
