// The embedded shader pack: the program's block is what the project's writer makes from its
// default shaders, it expands through the library's archive reader to those shaders at their
// fixed entries, the token streams are well-formed shader-model-2 code, and damaged packs are
// refused without reading past their bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "quarn/graphics/d3d9/shader_pack.h"
#include "shader_pack_writer.h"
#include "tests/core/log_capture.h"

namespace {

std::vector<uint8_t> Bytes(const uint32_t* tokens, size_t count)
{
    std::vector<uint8_t> out(count * 4);
    for (size_t i = 0; i < count; ++i) {
        for (int b = 0; b < 4; ++b) {
            out[4 * i + b] = static_cast<uint8_t>(tokens[i] >> (8 * b));
        }
    }
    return out;
}

// The pack record is large: one for the whole test program.
ShaderPack& Pack()
{
    static ShaderPack* pack = new ShaderPack{};
    return *pack;
}

class ShaderPackTest : public ::testing::Test {
protected:
    void SetUp() override { blocks_ = GetAllocatorTotals().blockCount; }
    void TearDown() override
    {
        ReleaseShaderPack(&Pack());
        UnloadShaderPack();
        EXPECT_EQ(GetAllocatorTotals().blockCount, blocks_) << "the pack left memory behind";
    }
    int32_t blocks_ = 0;
};

TEST_F(ShaderPackTest, TheProgramCarriesTheBlockTheWriterMakes)
{
    std::vector<uint8_t> block;
    std::string error;
    ASSERT_EQ(quapack::BuildShaderPackBlock(quapack::DefaultShaderPack(), block, &error), 0) << error;
    const std::vector<uint8_t> carried(g_shaderPackBlock, g_shaderPackBlock + g_shaderPackBlockSize);
    EXPECT_EQ(carried, block) << "the shaders changed: write quarn/graphics/d3d9/shader_pack_data.cpp again with "
                                 "`quapack --shader-pack`";
}

TEST_F(ShaderPackTest, TheBlockExpandsToTheDefaultShadersAtTheirEntries)
{
    ASSERT_EQ(LoadShaderPack(), 1);
    const ShaderPack& pack = g_shaderPack;
    ASSERT_NE(pack.data, nullptr);
    const std::vector<uint8_t> vs = Bytes(quapack::kDefaultVertexShaderTokens, quapack::kDefaultVertexShaderTokenCount);
    const std::vector<uint8_t> ps = Bytes(quapack::kDefaultPixelShaderTokens, quapack::kDefaultPixelShaderTokenCount);
    EXPECT_EQ(pack.size, kShaderPackHeaderBytes + vs.size() + ps.size());
    ASSERT_NE(pack.vertexCode[kDefaultVertexShaderEntry], nullptr);
    ASSERT_NE(pack.pixelCode[kDefaultPixelShaderEntry], nullptr);
    EXPECT_EQ(std::vector<uint8_t>(pack.vertexCode[kDefaultVertexShaderEntry],
                                   pack.vertexCode[kDefaultVertexShaderEntry] + vs.size()),
              vs);
    EXPECT_EQ(std::vector<uint8_t>(pack.pixelCode[kDefaultPixelShaderEntry],
                                   pack.pixelCode[kDefaultPixelShaderEntry] + ps.size()),
              ps);
    EXPECT_EQ(pack.vertexSize[kDefaultVertexShaderEntry], vs.size());
    int32_t present = 0;
    for (const uint8_t* code : pack.vertexCode) {
        present += code != nullptr ? 1 : 0;
    }
    for (const uint8_t* code : pack.pixelCode) {
        present += code != nullptr ? 1 : 0;
    }
    EXPECT_EQ(present, 2);
    // Expanded once: a second load keeps the pack as it is.
    const uint8_t* data = pack.data;
    EXPECT_EQ(LoadShaderPack(), 1);
    EXPECT_EQ(g_shaderPack.data, data);
}

// Shader-model-2 token streams: the version token, instructions whose length field counts
// the parameter tokens after them (bit 31 set on each), and the end token last.
void ExpectWellFormed(const uint32_t* tokens, size_t count, uint32_t version, uint32_t output)
{
    ASSERT_GE(count, 2u);
    EXPECT_EQ(tokens[0], version);
    EXPECT_EQ(tokens[count - 1], 0x0000FFFFu);
    bool wroteOutput = false;
    size_t i = 1;
    while (i < count - 1) {
        const uint32_t instruction = tokens[i];
        ASSERT_EQ(instruction & 0x80000000u, 0u) << "token " << i << " is no instruction";
        const uint32_t opcode = instruction & 0xFFFF;
        const uint32_t length = instruction >> 24 & 0xF;
        // Operand counts: dcl 2, mov 2, mul 3, dp4 3, texld 3.
        const uint32_t expected = opcode == 31 || opcode == 1 ? 2 : opcode == 5 || opcode == 9 || opcode == 66 ? 3 : 0;
        ASSERT_NE(expected, 0u) << "unexpected opcode " << opcode << " at " << i;
        ASSERT_EQ(length, expected) << "length of the instruction at " << i;
        ASSERT_LE(i + length, count - 2);
        for (uint32_t k = 1; k <= length; ++k) {
            EXPECT_NE(tokens[i + k] & 0x80000000u, 0u) << "parameter " << i + k;
        }
        if (opcode != 31) {
            const uint32_t dest = tokens[i + 1];
            const uint32_t type = (dest >> 28 & 7) | (dest >> 8 & 0x18);
            wroteOutput = wroteOutput || type == output;
        }
        i += 1 + length;
    }
    EXPECT_EQ(i, count - 1) << "the end token follows the last instruction";
    EXPECT_TRUE(wroteOutput);
}

TEST_F(ShaderPackTest, TheDefaultShadersAreWellFormedTokenStreams)
{
    ExpectWellFormed(quapack::kDefaultVertexShaderTokens, quapack::kDefaultVertexShaderTokenCount, 0xFFFE0200u, 4);
    ExpectWellFormed(quapack::kDefaultPixelShaderTokens, quapack::kDefaultPixelShaderTokenCount, 0xFFFF0200u, 8);
    // Register fields checked by hand: v0 written as a full input, c6 read unswizzled, oPos.x,
    // s0 as a sampler (type 10 split over bits 28-30 and 11-12), oC0 (type 8).
    EXPECT_EQ(quapack::kDefaultVertexShaderTokens[3], 0x900F0000u);
    EXPECT_EQ(quapack::kDefaultVertexShaderTokens[13], 0xA0E40006u);
    EXPECT_EQ(quapack::kDefaultVertexShaderTokens[27], 0xC0010000u);
    EXPECT_EQ(quapack::kDefaultPixelShaderTokens[9], 0xA00F0800u);
    EXPECT_EQ(quapack::kDefaultPixelShaderTokens[19], 0x800F0800u);
}

// A pack of the given sizes at entries (vertex table first, pixel entries offset by the
// vertex table's length) with code bytes bytes long.
std::vector<uint8_t> PackWith(std::initializer_list<std::pair<int32_t, uint16_t>> sizes, size_t code)
{
    std::vector<uint8_t> pack(kShaderPackHeaderBytes + code, 0xCD);
    std::memset(pack.data(), 0, kShaderPackHeaderBytes);
    for (const auto& s : sizes) {
        pack[2 * static_cast<size_t>(s.first)] = static_cast<uint8_t>(s.second);
        pack[2 * static_cast<size_t>(s.first) + 1] = static_cast<uint8_t>(s.second >> 8);
    }
    return pack;
}

TEST_F(ShaderPackTest, SizesPastThePacksEndAreRefused)
{
    LogCapture log;
    ShaderPack& pack = Pack();
    const int32_t pixel0 = kVertexShaderEntries;
    const struct {
        std::vector<uint8_t> bytes;
        int32_t result;
        const char* what;
    } cases[] = {
        {PackWith({{0, 10}, {pixel0 + 5, 6}}, 16), 0, "exactly filled"},
        {PackWith({{0, 10}, {pixel0 + 5, 7}}, 16), -1, "the last code one byte short"},
        {PackWith({{kVertexShaderEntries - 1, 0xFFFF}}, 100), -1, "a size far past the end"},
        {PackWith({{3, 0xFFFF}, {4, 0xFFFF}, {5, 0xFFFF}}, 0x20000), -1, "sizes that add up past the end"},
        {PackWith({}, 0), 0, "no code at all"},
        {std::vector<uint8_t>(kShaderPackHeaderBytes - 1, 0), -1, "shorter than its header"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IndexShaderPack(&pack, c.bytes.data(), static_cast<uint32_t>(c.bytes.size())), c.result) << c.what;
        const uint8_t* end = c.bytes.data() + c.bytes.size();
        for (int32_t i = 0; i < kVertexShaderEntries; ++i) {
            if (pack.vertexCode[i] != nullptr) {
                ASSERT_LE(pack.vertexCode[i] + pack.vertexSize[i], end) << c.what << ": entry " << i;
            } else if (c.result != 0) {
                ASSERT_EQ(pack.vertexSize[i], 0) << c.what;
            }
        }
        for (int32_t i = 0; i < kPixelShaderEntries; ++i) {
            if (pack.pixelCode[i] != nullptr) {
                ASSERT_LE(pack.pixelCode[i] + pack.pixelSize[i], end) << c.what << ": pixel entry " << i;
            }
        }
        if (c.result != 0) {
            EXPECT_EQ(pack.vertexCode[0], nullptr) << c.what << ": a refused pack keeps no pointers";
            EXPECT_EQ(pack.vertexCode[3], nullptr) << c.what;
        }
    }
    EXPECT_TRUE(log.Contains(L"シェーダーパックのデータが壊れています\n"));
    // The exactly filled pack's second code follows the first.
    const std::vector<uint8_t> filled = PackWith({{0, 10}, {pixel0 + 5, 6}}, 16);
    ASSERT_EQ(IndexShaderPack(&pack, filled.data(), static_cast<uint32_t>(filled.size())), 0);
    EXPECT_EQ(pack.vertexCode[0], filled.data() + kShaderPackHeaderBytes);
    EXPECT_EQ(pack.pixelCode[5], filled.data() + kShaderPackHeaderBytes + 10);
}

TEST_F(ShaderPackTest, DamagedBlocksLoadNothing)
{
    LogCapture log;
    std::vector<uint8_t> block(g_shaderPackBlock, g_shaderPackBlock + g_shaderPackBlockSize);
    const struct {
        size_t keep;  // bytes of the block given
        size_t flip;  // a byte turned over, or SIZE_MAX
        const char* what;
    } cases[] = {
        {block.size() - 1, SIZE_MAX, "cut short"},
        {12, SIZE_MAX, "only its head"},
        {0, SIZE_MAX, "nothing"},
        {block.size(), 40, "a byte of the archive's header damaged"},
        {block.size(), block.size() - 3, "a byte of the pack's member damaged"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes(block.begin(), block.begin() + static_cast<ptrdiff_t>(c.keep));
        if (c.flip != SIZE_MAX) {
            bytes[c.flip] ^= 0xFF;
        }
        const int32_t loaded = ExpandShaderPack(&Pack(), bytes.data(), static_cast<uint32_t>(bytes.size()));
        if (loaded == 1) {
            // A damaged byte the formats cannot see must still give a pack inside its bytes.
            EXPECT_NE(c.flip, SIZE_MAX) << c.what;
        } else {
            EXPECT_EQ(Pack().data, nullptr) << c.what;
            EXPECT_EQ(Pack().archiveImage, nullptr) << c.what;
        }
        ReleaseShaderPack(&Pack());
    }
    EXPECT_EQ(ExpandShaderPack(&Pack(), block.data(), static_cast<uint32_t>(block.size())), 1);
}

}  // namespace
