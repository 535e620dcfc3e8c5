// The embedded shader pack and the library's shader state: expanding the pack, the code
// pointers into it, the shader-constant caches and the programmable flag.
//
// Portable: the pack is data, read and checked here; the Windows half (shader_win.cpp)
// creates the shader objects and vertex declarations from it.
//
// The program carries the pack as an LZ block holding an enciphered QUA archive image; its
// entry "QuShaderPack.bin" is a compressed member, which expands to the pack:
//   0        16,384 vertex-shader records of six u16 code sizes (0: no code)
//   196,608  4,608 pixel-shader records of six u16 code sizes
//   251,904  the code of every non-zero size, back to back, in record order
// Entry 6 x r + k stands for size k of record r.
#pragma once

#include <cstdint>

#include "quarn/core/archive.h"

constexpr int32_t kVertexShaderRecords = 16384;
constexpr int32_t kPixelShaderRecords = 4608;
constexpr int32_t kShaderSizesPerRecord = 6;
constexpr int32_t kVertexShaderEntries = kVertexShaderRecords * kShaderSizesPerRecord;          // 98,304
constexpr int32_t kPixelShaderEntries = kPixelShaderRecords * kShaderSizesPerRecord;            // 27,648
constexpr uint32_t kShaderPackHeaderBytes = (kVertexShaderEntries + kPixelShaderEntries) * 2u;  // 251,904
constexpr int32_t kDefaultVertexShaderEntry = 32774;
constexpr int32_t kDefaultPixelShaderEntry = 2454;
// The pack's name inside the embedded archive.
constexpr const char* kShaderPackEntryName = "QuShaderPack.bin";

// The embedded block (shader_pack_data.cpp, written by `quapack --shader-pack`).
extern const uint8_t g_shaderPackBlock[];
extern const uint32_t g_shaderPackBlockSize;

struct ShaderPack {
    uint8_t* archiveImage;  // the expanded archive image (tracked allocation)
    ArchiveRecord archive;
    uint8_t* data;  // the expanded pack (tracked allocation); null until loaded
    uint32_t size;
    // Pointers into data, null where the size is 0.
    const uint8_t* vertexCode[kVertexShaderEntries];
    const uint8_t* pixelCode[kPixelShaderEntries];
    uint16_t vertexSize[kVertexShaderEntries];
    uint16_t pixelSize[kPixelShaderEntries];
};

// Fills the code pointers and sizes of a pack of size bytes. Every size is checked against
// the bytes that remain, so a damaged pack is refused with a log line: -1 (the tables are
// cleared then), else 0.
int32_t IndexShaderPack(ShaderPack* pack, const uint8_t* data, uint32_t size);
// Expands an embedded block into the pack: the archive image, its entry, the index.
// 1 loaded, 0 not (nothing is kept then).
int32_t ExpandShaderPack(ShaderPack* pack, const uint8_t* block, uint32_t blockSize);
// Frees what the expansion kept and clears the tables.
void ReleaseShaderPack(ShaderPack* pack);

// ---- The library's shader state
struct ShaderState {
    int32_t programmable;  // 1 while the programmable shaders are in use
    // Float constants of the library set: 256 vertex and 32 pixel registers; bool constants.
    float vertexConstants[256][4];
    float pixelConstants[32][4];
    int32_t vertexBools[16];
    int32_t fullReload;  // the caches are to be sent whole at the next colour update
};
extern ShaderState g_shaderState;
extern ShaderPack g_shaderPack;

// Expands the embedded pack once: 1 loaded (or already), 0 not.
int32_t LoadShaderPack();
// Releases the pack (graphics end): the next LoadShaderPack expands it again.
void UnloadShaderPack();

// Sends float constants of the library set (only while programmable) and always copies them
// into the cache. A range outside the registers is refused: -1.
int32_t SetLibraryVertexShaderConstants(int32_t start, const float* data, int32_t count);
int32_t SetLibraryPixelShaderConstants(int32_t start, const float* data, int32_t count);
int32_t SetLibraryVertexShaderBools(int32_t start, const int32_t* data, int32_t count);
// The constants c0 of both kinds: vertex (0, 1, 0, 0) and pixel (0, 0.5, 1, 2).
void SetLibraryShaderConstantZero();
