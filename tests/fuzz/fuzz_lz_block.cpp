// An arbitrary LZ block decoded with room for its stated size and with less; and the
// same bytes encoded by the project's writer decode back to themselves.
#include "quarn/core/archive.h"
#include "qua_writer.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int quiet = EnableLogFile(0);
    (void)quiet;
    std::vector<uint8_t> block(data, data + size);
    const int64_t stated = DecompressArchiveData(block.data(), uint32_t(block.size()), nullptr, 0);
    if (stated >= 0 && stated <= (int64_t(1) << 24)) {
        std::vector<uint8_t> out(size_t(stated) + 1);
        const int64_t made = DecompressArchiveData(block.data(), uint32_t(block.size()), out.data(), uint32_t(stated));
        if (made >= 0 && made != stated) __builtin_trap();
        if (stated > 0) {
            std::vector<uint8_t> small(size_t(stated) / 2 + 1);
            if (DecompressArchiveData(block.data(), uint32_t(block.size()), small.data(), uint32_t(stated) / 2) != -1)
                __builtin_trap();
        }
    }

    const std::vector<uint8_t> encoded = quapack::EncodeLzBlock(data, size);
    std::vector<uint8_t> back(size + 1);
    if (DecompressArchiveData(encoded.data(), uint32_t(encoded.size()), back.data(), uint32_t(size)) != int64_t(size) ||
        (size > 0 && std::memcmp(back.data(), data, size) != 0))
        __builtin_trap();
    return 0;
}
