// What the image decoders' fuzz targets share: the fuzzer's bytes as a memory stream through
// one decoder, and checks on what it hands back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "quarn/core/core.h"
#include "quarn/core/files.h"
#include "quarn/image/image.h"

namespace fuzz_image {

[[noreturn]] inline void Fail(const char* what)
{
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
}

// Decodes the bytes; a refusal leaves a zeroed image and every block freed, a success an
// image whose every pixel can be read and written, block-compressed ones after expansion.
inline int Run(const uint8_t* data, size_t size, ImageStreamDecoder decoder)
{
    // Small images keep the fuzzer fast; larger ones take no other paths.
    static const bool limited = (SetDecodedImageByteLimit(8u << 20), EnableLogFile(0), true);
    (void)limited;
    const int32_t before = GetAllocatorTotals().blockCount;
    MemoryStream* memory = OpenMemoryStream(data, uint32_t(size));
    if (!memory) Fail("memory stream");
    const ImageStream stream{GetMemoryStreamFunctions(), reinterpret_cast<StreamHandle>(memory)};
    BaseImage image;
    const int result = decoder(&stream, &image);
    CloseMemoryStream(reinterpret_cast<StreamHandle>(memory));
    if (result != 0) {
        const BaseImage zero{};
        for (size_t i = 0; i < sizeof image; ++i)
            if (reinterpret_cast<const uint8_t*>(&image)[i] != reinterpret_cast<const uint8_t*>(&zero)[i])
                Fail("a refused image is not zeroed");
        if (GetAllocatorTotals().blockCount != before) Fail("a refused decode kept memory");
        return -1;
    }
    if (!image.pixels || image.width <= 0 || image.height <= 0) Fail("a decoded image without pixels");
    if (ExpandCompressedBaseImage(&image) == 0) {
        if (image.format.compression != 0 || image.pitch < image.width * image.format.bytesPerPixel)
            Fail("rows shorter than the width");
        // The corners and the middle, read and written back.
        for (int y : {0, image.height / 2, image.height - 1})
            for (int x : {0, image.width / 2, image.width - 1}) {
                int r, g, b, a;
                if (ReadBaseImagePixelRgba(&image, x, y, &r, &g, &b, &a) != 0)
                    Fail("a pixel inside the image cannot be read");
                WriteBaseImagePixel(&image, x, y, r, g, b, a);
            }
    }
    DiscardBaseImage(&image);
    if (GetAllocatorTotals().blockCount != before) Fail("a discarded image kept memory");
    return 0;
}

}  // namespace fuzz_image
