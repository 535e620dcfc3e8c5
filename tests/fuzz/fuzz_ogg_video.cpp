// The Ogg video decoder over arbitrary bytes: a refusal, or a decoder whose information stays
// within what the bytes can hold and whose frames, chosen by the input's last bytes, decode
// into every pixel of the picture or are refused, across skips that wrap and rewind.
#include <cstring>

#include "quarn/core/core.h"
#include "quarn/sound/movie.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 16)) {
        return 0;
    }
    static const int ready = (EnableLogFile(0), BuildYuvToRgbTables());
    (void)ready;
    const auto blocks = GetAllocatorTotals().blockCount;
    OggVideoDecoder* d = OpenOggVideoDecoder(data, static_cast<uint32_t>(size));
    if (d != nullptr) {
        OggVideoInfo info{};
        GetOggVideoInfo(d, &info);
        FUZZ_CHECK(info.width > 0 && info.width <= kOggVideoMaxSide);
        FUZZ_CHECK(info.height > 0 && info.height <= kOggVideoMaxSide);
        // Every frame takes at least one lacing byte of a page.
        FUZZ_CHECK(info.frameCount >= 0 && static_cast<size_t>(info.frameCount) <= size);
        const uint8_t* steps = data + (size > 4 ? size - 4 : 0);
        for (size_t round = 0; round < 4 && round < size; ++round) {
            const int32_t before = GetOggVideoFrame(d);
            const int32_t n = steps[round] % 9 - 2;
            SkipOggVideoFrames(d, n);
            // Forward by n, less one whole movie past its end; nothing for n below 1.
            const int64_t moved = n < 1 ? before : before + n - (before + n >= info.frameCount ? info.frameCount : 0);
            FUZZ_CHECK(GetOggVideoFrame(d) == moved);
            const int32_t result = DecodeOggVideoFrame(d);
            FUZZ_CHECK(result == 0 || result == -1);
            if (result == 0) {
                FUZZ_CHECK(d->readyFlags[0] == 1 && d->readyFlags[1] == 1);
                const BaseImage& image = d->frameImage;
                FUZZ_CHECK(image.width == info.width && image.height == info.height);
                for (int32_t row = 0; row < image.height; ++row) {
                    for (int32_t x = 0; x < image.width; ++x) {
                        FUZZ_CHECK(image.pixels[row * image.pitch + x * 4 + 3] == 255);
                    }
                }
            }
        }
        CloseOggVideoDecoder(d);
    }
    FUZZ_CHECK(GetAllocatorTotals().blockCount == blocks);
    return 0;
}
