// The shader pack's readers over arbitrary bytes: the bytes as the program's embedded block,
// and the bytes laid into a pack's size tables and code. Whatever loads must index code that
// lies wholly inside the pack, back to back in entry order.
#include "quarn/graphics/d3d9/shader_pack.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/fuzz/fuzz.h"

namespace {

ShaderPack s_pack;

void CheckIndex(const ShaderPack& pack, const uint8_t* data, uint32_t size)
{
    const uint8_t* next = data + kShaderPackHeaderBytes;
    const auto check = [&](const uint8_t* const* code, const uint16_t* sizes, int32_t count) {
        for (int32_t i = 0; i < count; ++i) {
            if (code[i] == nullptr) {
                FUZZ_CHECK(sizes[i] == 0);
                continue;
            }
            FUZZ_CHECK(code[i] == next && sizes[i] != 0 && sizes[i] <= data + size - next);
            next += sizes[i];
        }
    };
    check(pack.vertexCode, pack.vertexSize, kVertexShaderEntries);
    check(pack.pixelCode, pack.pixelSize, kPixelShaderEntries);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int quiet = EnableLogFile(0);
    (void)quiet;
    if (size > (1u << 20)) return 0;

    // As the embedded block.
    const std::vector<uint8_t> block(data, data + size);
    if (ExpandShaderPack(&s_pack, block.data(), uint32_t(block.size())) == 1)
        CheckIndex(s_pack, s_pack.data, s_pack.size);
    ReleaseShaderPack(&s_pack);

    // As a pack: pairs of (entry, size) from the head of the bytes, the rest as code.
    std::vector<uint8_t> pack(kShaderPackHeaderBytes, 0);
    size_t i = 0;
    const size_t pairs = size > 0 ? data[0] % 32 : 0;
    for (i = 1; i + 4 <= size && i < 1 + 4 * pairs; i += 4) {
        const uint32_t entry = (uint32_t(data[i]) | uint32_t(data[i + 1]) << 8 | uint32_t(data[i + 2] & 1) << 16) %
                               uint32_t(kVertexShaderEntries + kPixelShaderEntries);
        pack[2 * entry] = data[i + 3];
        pack[2 * entry + 1] = uint8_t(i % 3);
    }
    pack.insert(pack.end(), data + (i < size ? i : size), data + size);
    if (IndexShaderPack(&s_pack, pack.data(), uint32_t(pack.size())) == 0)
        CheckIndex(s_pack, pack.data(), uint32_t(pack.size()));
    return 0;
}
