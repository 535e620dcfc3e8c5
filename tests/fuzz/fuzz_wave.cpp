// The WAVE parse and the plain-PCM converter over arbitrary bytes: a refusal, or a converter
// whose bytes are exactly the input's from the data start on (as far as the input reaches),
// across seeks that the input also picks.
#include <cstring>

#include "quarn/core/core.h"
#include "quarn/core/files.h"
#include "quarn/sound/sound_stream.h"
#include "tests/fuzz/fuzz.h"
#include "tests/sound/memory_converter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) {
        return 0;
    }
    static const int quiet = EnableLogFile(0);
    (void)quiet;
    SoundConverter c;
    MemoryStream* stream = ConverterOverBytes(&c, data, size);
    if (stream == nullptr) {
        return 0;
    }
    if (OpenWaveConverter(&c, 97) == 0) {
        const uint32_t align = c.output.blockAlign;
        FUZZ_CHECK(align != 0 && c.dataSize >= 0 && c.dataStart >= 12 && c.dataStart <= static_cast<int32_t>(size));
        FUZZ_CHECK(c.dataSize % static_cast<int32_t>(align) == 0);
        // Whole frames of the bytes present: data cut inside a frame ends at its last whole one.
        const size_t present = (size - static_cast<size_t>(c.dataStart)) / align * align;
        const size_t expected = present < static_cast<size_t>(c.dataSize) ? present : static_cast<size_t>(c.dataSize);
        // The seeks come from the last bytes of the input.
        const uint8_t* seeks = data + (size > 4 ? size - 4 : 0);
        for (int round = 0; round < 3; ++round) {
            const int32_t frame = round == 0 ? 0 : seeks[round] % 64;
            SeekConverter(&c, frame);
            const size_t from = static_cast<size_t>(c.position);
            uint8_t out[1000];
            const int32_t got = ReadConverter(&c, out, sizeof out);
            FUZZ_CHECK(got >= 0);
            const size_t want = from < expected ? (expected - from < sizeof out ? expected - from : sizeof out) : 0;
            FUZZ_CHECK(static_cast<size_t>(got) == want);
            FUZZ_CHECK(std::memcmp(out, data + c.dataStart + from, want) == 0);
        }
        ReleaseConverter(&c);
    }
    CloseMemoryStream(reinterpret_cast<StreamHandle>(stream));
    return 0;
}
