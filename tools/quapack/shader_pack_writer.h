// The library's embedded shader pack, built from the project's own default shaders: the
// expanded pack, and the block the program carries (an LZ block holding an enciphered QUA
// archive whose member "QuShaderPack.bin" is the compressed pack).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quapack {

// The default shaders as token streams (vs_2_0 and ps_2_0), each ending in the end token.
extern const uint32_t kDefaultVertexShaderTokens[];
extern const size_t kDefaultVertexShaderTokenCount;
extern const uint32_t kDefaultPixelShaderTokens[];
extern const size_t kDefaultPixelShaderTokenCount;
// Their assembly text, which the token streams were written from.
extern const char kDefaultVertexShaderSource[];
extern const char kDefaultPixelShaderSource[];

// One piece of code at an entry of the vertex (pixel = false) or pixel table.
struct ShaderCode {
    bool pixel;
    int32_t entry;
    std::vector<uint8_t> code;
};

// The expanded pack holding the codes (sizes 1 to 65,535 each). 0, or -1 and a message.
int BuildShaderPack(const std::vector<ShaderCode>& codes, std::vector<uint8_t>& pack, std::string* error);
// The pack of the two default shaders at their fixed entries.
std::vector<uint8_t> DefaultShaderPack();
// The block the program carries for a pack. 0, or -1 and a message.
int BuildShaderPackBlock(const std::vector<uint8_t>& pack, std::vector<uint8_t>& block, std::string* error);
// The block as C++ source defining g_shaderPackBlock and g_shaderPackBlockSize.
std::string ShaderPackBlockSource(const std::vector<uint8_t>& block);

}  // namespace quapack
