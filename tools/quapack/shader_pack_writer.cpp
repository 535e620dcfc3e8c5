// The default shaders and the shader pack built from them.
#include "shader_pack_writer.h"

#include <cstdio>

#include "qua_writer.h"
#include "quarn/graphics/d3d9/shader_pack.h"

namespace quapack {

namespace {

// Token fields: an instruction token holds its opcode and, from shader model 2, the count of
// the tokens after it (bits 24-27); a parameter token has bit 31 set, the register type in
// bits 28-30 and 11-12, the number in bits 0-10, and a write mask (bits 16-19) or a swizzle
// (bits 16-23). Usage tokens of dcl carry the usage and index, or a sampler's texture type.
constexpr uint32_t Instruction(uint32_t opcode, uint32_t length) { return opcode | length << 24; }
constexpr uint32_t Register(uint32_t type, uint32_t number)
{
    return 0x80000000u | (type & 7) << 28 | (type >> 3 & 3) << 11 | number;
}
constexpr uint32_t Dest(uint32_t type, uint32_t number, uint32_t mask = 0xF)
{
    return Register(type, number) | mask << 16;
}
constexpr uint32_t Source(uint32_t type, uint32_t number) { return Register(type, number) | 0xE4u << 16; }  // .xyzw
constexpr uint32_t Usage(uint32_t usage, uint32_t index = 0) { return 0x80000000u | usage | index << 16; }

enum : uint32_t {
    kOpMov = 1,
    kOpMul = 5,
    kOpDp4 = 9,
    kOpDcl = 31,
    kOpTexld = 66,
    kEnd = 0x0000FFFF,
    kTemp = 0,
    kInput = 1,
    kConst = 2,
    kTexture = 3,
    kRastOut = 4,
    kAttrOut = 5,
    kTexCrdOut = 6,
    kColorOut = 8,
    kSampler = 10,
    kUsagePosition = 0,
    kUsageTexcoord = 5,
    kUsageColor = 10,
    kSampler2d = 0x80000000u | 2u << 27,
    kX = 1,
    kY = 2,
    kZ = 4,
    kW = 8,
};

}  // namespace

// The position through the view (c6 to c9, transposed) and the projection (c2 to c5); the
// colour and the texture coordinate passed on.
const char kDefaultVertexShaderSource[] =
    "vs_2_0\n"
    "dcl_position v0\n"
    "dcl_color v1\n"
    "dcl_texcoord v2\n"
    "dp4 r0.x, v0, c6\n"
    "dp4 r0.y, v0, c7\n"
    "dp4 r0.z, v0, c8\n"
    "dp4 r0.w, v0, c9\n"
    "dp4 oPos.x, r0, c2\n"
    "dp4 oPos.y, r0, c3\n"
    "dp4 oPos.z, r0, c4\n"
    "dp4 oPos.w, r0, c5\n"
    "mov oD0, v1\n"
    "mov oT0, v2\n";

// clang-format off
const uint32_t kDefaultVertexShaderTokens[] = {
    0xFFFE0200,                                                      // vs_2_0
    Instruction(kOpDcl, 2), Usage(kUsagePosition), Dest(kInput, 0),  // 0x0200001F 0x80000000 0x900F0000
    Instruction(kOpDcl, 2), Usage(kUsageColor), Dest(kInput, 1),     // 0x0200001F 0x8000000A 0x900F0001
    Instruction(kOpDcl, 2), Usage(kUsageTexcoord), Dest(kInput, 2),  // 0x0200001F 0x80000005 0x900F0002
    Instruction(kOpDp4, 3), Dest(kTemp, 0, kX), Source(kInput, 0), Source(kConst, 6),  // 0x80010000 0x90E40000 0xA0E40006
    Instruction(kOpDp4, 3), Dest(kTemp, 0, kY), Source(kInput, 0), Source(kConst, 7),
    Instruction(kOpDp4, 3), Dest(kTemp, 0, kZ), Source(kInput, 0), Source(kConst, 8),
    Instruction(kOpDp4, 3), Dest(kTemp, 0, kW), Source(kInput, 0), Source(kConst, 9),
    Instruction(kOpDp4, 3), Dest(kRastOut, 0, kX), Source(kTemp, 0), Source(kConst, 2),  // 0xC0010000 0x80E40000
    Instruction(kOpDp4, 3), Dest(kRastOut, 0, kY), Source(kTemp, 0), Source(kConst, 3),
    Instruction(kOpDp4, 3), Dest(kRastOut, 0, kZ), Source(kTemp, 0), Source(kConst, 4),
    Instruction(kOpDp4, 3), Dest(kRastOut, 0, kW), Source(kTemp, 0), Source(kConst, 5),
    Instruction(kOpMov, 2), Dest(kAttrOut, 0), Source(kInput, 1),    // 0x02000001 0xD00F0000 0x90E40001
    Instruction(kOpMov, 2), Dest(kTexCrdOut, 0), Source(kInput, 2),  // 0x02000001 0xE00F0000 0x90E40002
    kEnd,
};
// clang-format on
const size_t kDefaultVertexShaderTokenCount = sizeof kDefaultVertexShaderTokens / sizeof kDefaultVertexShaderTokens[0];

// The texture of stage 0 times the vertex colour.
const char kDefaultPixelShaderSource[] =
    "ps_2_0\n"
    "dcl t0\n"
    "dcl v0\n"
    "dcl_2d s0\n"
    "texld r0, t0, s0\n"
    "mul r0, r0, v0\n"
    "mov oC0, r0\n";

// clang-format off
const uint32_t kDefaultPixelShaderTokens[] = {
    0xFFFF0200,                                                      // ps_2_0
    Instruction(kOpDcl, 2), 0x80000000u, Dest(kTexture, 0),          // 0x0200001F 0x80000000 0xB00F0000
    Instruction(kOpDcl, 2), 0x80000000u, Dest(kInput, 0),            // 0x0200001F 0x80000000 0x900F0000
    Instruction(kOpDcl, 2), kSampler2d, Dest(kSampler, 0),           // 0x0200001F 0x90000000 0xA00F0800
    Instruction(kOpTexld, 3), Dest(kTemp, 0), Source(kTexture, 0), Source(kSampler, 0),  // 0x03000042 0x800F0000 0xB0E40000 0xA0E40800
    Instruction(kOpMul, 3), Dest(kTemp, 0), Source(kTemp, 0), Source(kInput, 0),        // 0x03000005 0x800F0000 0x80E40000 0x90E40000
    Instruction(kOpMov, 2), Dest(kColorOut, 0), Source(kTemp, 0),    // 0x02000001 0x800F0800 0x80E40000
    kEnd,
};
// clang-format on
const size_t kDefaultPixelShaderTokenCount = sizeof kDefaultPixelShaderTokens / sizeof kDefaultPixelShaderTokens[0];

namespace {

std::vector<uint8_t> TokenBytes(const uint32_t* tokens, size_t count)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < count; ++i) {
        for (int b = 0; b < 4; ++b) bytes.push_back(uint8_t(tokens[i] >> (8 * b)));
    }
    return bytes;
}

int Fail(std::string* error, const std::string& message)
{
    if (error) *error = message;
    return -1;
}

}  // namespace

int BuildShaderPack(const std::vector<ShaderCode>& codes, std::vector<uint8_t>& pack, std::string* error)
{
    const size_t header = size_t{kShaderPackHeaderBytes};
    std::vector<const ShaderCode*> byEntry(size_t(kVertexShaderEntries + kPixelShaderEntries), nullptr);
    for (const ShaderCode& c : codes) {
        const int32_t limit = c.pixel ? kPixelShaderEntries : kVertexShaderEntries;
        if (c.entry < 0 || c.entry >= limit)
            return Fail(error, "shader entry " + std::to_string(c.entry) + " outside its table");
        if (c.code.empty() || c.code.size() > 0xFFFF)
            return Fail(error, "shader code of " + std::to_string(c.code.size()) + " bytes");
        const size_t slot = size_t(c.pixel ? kVertexShaderEntries + c.entry : c.entry);
        if (byEntry[slot]) return Fail(error, "two codes at shader entry " + std::to_string(c.entry));
        byEntry[slot] = &c;
    }
    pack.assign(header, 0);
    // Sizes in entry order, the vertex table first; the code follows in the same order.
    for (size_t slot = 0; slot < byEntry.size(); ++slot) {
        if (!byEntry[slot]) continue;
        const std::vector<uint8_t>& code = byEntry[slot]->code;
        pack[2 * slot] = uint8_t(code.size());
        pack[2 * slot + 1] = uint8_t(code.size() >> 8);
        pack.insert(pack.end(), code.begin(), code.end());
    }
    return 0;
}

std::vector<uint8_t> DefaultShaderPack()
{
    const std::vector<ShaderCode> codes = {
        {false, kDefaultVertexShaderEntry, TokenBytes(kDefaultVertexShaderTokens, kDefaultVertexShaderTokenCount)},
        {true, kDefaultPixelShaderEntry, TokenBytes(kDefaultPixelShaderTokens, kDefaultPixelShaderTokenCount)},
    };
    std::vector<uint8_t> pack;
    BuildShaderPack(codes, pack, nullptr);
    return pack;
}

int BuildShaderPackBlock(const std::vector<uint8_t>& pack, std::vector<uint8_t>& block, std::string* error)
{
    Entry entry;
    entry.path = kShaderPackEntryName;
    entry.data = pack;
    entry.compress = 1;  // the reader expands the member's LZ block itself
    Options options;     // version 4, the default key, enciphered
    std::vector<uint8_t> archive;
    if (BuildArchive({entry}, options, archive, error) != 0 || VerifyArchive(archive, {entry}, options, error) != 0)
        return -1;
    block = EncodeLzBlock(archive.data(), archive.size());
    return 0;
}

std::string ShaderPackBlockSource(const std::vector<uint8_t>& block)
{
    std::string out =
        "// The embedded shader pack: an LZ block holding the enciphered QUA archive whose member\n"
        "// \"QuShaderPack.bin\" is the pack. Written by `quapack --shader-pack`; do not edit.\n"
        "#include \"quarn/graphics/d3d9/shader_pack.h\"\n\n"
        "const uint8_t g_shaderPackBlock[] = {";
    char number[8];
    for (size_t i = 0; i < block.size(); ++i) {
        out += i % 16 == 0 ? "\n   " : "";
        std::snprintf(number, sizeof number, " %u,", unsigned(block[i]));
        out += number;
    }
    out += "\n};\nconst uint32_t g_shaderPackBlockSize = sizeof g_shaderPackBlock;\n";
    return out;
}

}  // namespace quapack
