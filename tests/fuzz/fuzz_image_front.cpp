// The front on arbitrary bytes, each decoder in turn: refused with nothing kept, or an
// image whose pixels can be used. The same bytes once more into one image kept across inputs,
// as a caller reloading pictures does: its memory is taken or given back, never leaked.
#include "fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_image::Run(data, size, DecodeImageStream);

    static BaseImage kept{};
    const int32_t before = GetAllocatorTotals().blockCount - (kept.pixels ? 1 : 0);
    MemoryStream* memory = OpenMemoryStream(data, uint32_t(size));
    if (!memory) fuzz_image::Fail("memory stream");
    const ImageStream stream{GetMemoryStreamFunctions(), reinterpret_cast<StreamHandle>(memory)};
    const int result = DecodeImageStreamInto(&stream, &kept);
    CloseMemoryStream(reinterpret_cast<StreamHandle>(memory));
    if (GetAllocatorTotals().blockCount != before + (result == 0 ? 1 : 0))
        fuzz_image::Fail("a decode into a kept image leaked or lost memory");
    if (result != 0) {
        if (kept.pixels || kept.width) fuzz_image::Fail("a refused decode left the kept image");
        return 0;
    }
    if (!kept.pixels || kept.width <= 0 || kept.height <= 0) fuzz_image::Fail("a decoded image without pixels");
    // Its last pixel, which a picture smaller than the memory it took still holds.
    int r, g, b, a;
    if (kept.format.compression == 0 &&
        ReadBaseImagePixelRgba(&kept, kept.width - 1, kept.height - 1, &r, &g, &b, &a) != 0)
        fuzz_image::Fail("a pixel inside the image cannot be read");
    return 0;
}
