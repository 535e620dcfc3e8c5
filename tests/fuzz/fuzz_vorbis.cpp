// The Ogg Vorbis converter over arbitrary bytes: a refusal, or a converter that hands out at
// least what a straight decode of the same bytes gives up to its first error, byte for byte,
// and then stays within its requests across seeks that the input also picks.
#include <cstring>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/core/files.h"
#include "quarn/sound/sound_stream.h"
#include "tests/fuzz/fuzz.h"
#include "tests/sound/vorbis_tone.h"
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
    if (OpenVorbisConverter(&c, 1 + static_cast<int32_t>(size % 5000)) == 0) {
        FUZZ_CHECK(c.inUse == 1 && c.kind == kConvertVorbis);
        FUZZ_CHECK(c.output.channels >= 1 && c.output.channels <= 2);
        FUZZ_CHECK(c.output.blockAlign == 2 * c.output.channels);
        constexpr int32_t kFirst = 1 << 16;
        std::vector<uint8_t> out(kFirst);
        const int32_t got = ReadConverter(&c, out.data(), kFirst);
        FUZZ_CHECK(got >= 0 && got <= kFirst && c.position == got);
        const std::vector<uint8_t> straight = StraightVorbisDecode(std::vector<uint8_t>(data, data + size), 0, kFirst);
        FUZZ_CHECK(static_cast<size_t>(got) >= straight.size());
        FUZZ_CHECK(straight.empty() || std::memcmp(out.data(), straight.data(), straight.size()) == 0);
        // The seeks come from the last bytes of the input.
        const uint8_t* seeks = data + (size > 4 ? size - 4 : 0);
        for (int round = 0; round < 3 && size > 4; ++round) {
            const int32_t frame = seeks[round] * 97;
            SeekConverter(&c, frame);
            const int32_t from = c.position;
            const int32_t more = ReadConverter(&c, out.data(), 3000 + round);
            FUZZ_CHECK(more >= 0 && more <= 3000 + round && c.position == from + more);
        }
        const StreamHandle handle = c.streamHandle;
        FUZZ_CHECK(ReleaseConverter(&c) == 0 && c.inUse == 0);
        c.streamHandle = handle;
    } else {
        FUZZ_CHECK(c.inUse == 0 && c.work == nullptr && c.vorbisFile == nullptr);
    }
    CloseMemoryStream(reinterpret_cast<StreamHandle>(stream));
    return 0;
}
