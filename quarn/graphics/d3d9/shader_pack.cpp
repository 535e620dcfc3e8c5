// The embedded shader pack: expanding it, indexing its code, and the library's shader
// constants.
#include "quarn/graphics/d3d9/shader_pack.h"

#include <cstring>

#include "quarn/core/core.h"
#include "quarn/graphics/d3d9/device_state.h"

ShaderState g_shaderState{};
ShaderPack g_shaderPack{};

namespace {

void ClearIndex(ShaderPack* pack)
{
    std::memset(pack->vertexCode, 0, sizeof pack->vertexCode);
    std::memset(pack->pixelCode, 0, sizeof pack->pixelCode);
    std::memset(pack->vertexSize, 0, sizeof pack->vertexSize);
    std::memset(pack->pixelSize, 0, sizeof pack->pixelSize);
}

// Expands an LZ block of available bytes into a new tracked allocation: the data and its
// size, or null.
uint8_t* ExpandBlock(const uint8_t* block, uint32_t available, uint32_t* size)
{
    const int64_t stated = DecompressArchiveData(block, available, nullptr, 0);
    if (stated < 0 || stated > INT32_MAX) {
        return nullptr;
    }
    // One byte more than stated, so that an empty block still has an allocation.
    auto* data = static_cast<uint8_t*>(AllocTrackedMemory(static_cast<uint32_t>(stated) + 1, "", 0));
    if (data == nullptr) {
        return nullptr;
    }
    if (DecompressArchiveData(block, available, data, static_cast<uint32_t>(stated)) != stated) {
        FreeTrackedMemory(data);
        return nullptr;
    }
    *size = static_cast<uint32_t>(stated);
    return data;
}

// Walks count size records from the header at sizes, handing out code from *cursor on.
bool IndexTable(const uint8_t* sizes, int32_t count, const uint8_t* data, uint32_t size, uint32_t* cursor,
                const uint8_t** code, uint16_t* codeSize)
{
    for (int32_t i = 0; i < count; ++i) {
        const uint16_t n = static_cast<uint16_t>(sizes[2 * i] | sizes[2 * i + 1] << 8);
        if (n == 0) {
            continue;
        }
        if (n > size - *cursor) {
            return false;
        }
        code[i] = data + *cursor;
        codeSize[i] = n;
        *cursor += n;
    }
    return true;
}

}  // namespace

int32_t IndexShaderPack(ShaderPack* pack, const uint8_t* data, uint32_t size)
{
    ClearIndex(pack);
    if (data == nullptr || size < kShaderPackHeaderBytes) {
        return AppendLog(L"シェーダーパックのデータが壊れています\n");
    }
    uint32_t cursor = kShaderPackHeaderBytes;
    const uint8_t* pixelSizes = data + kVertexShaderEntries * 2;
    if (!IndexTable(data, kVertexShaderEntries, data, size, &cursor, pack->vertexCode, pack->vertexSize) ||
        !IndexTable(pixelSizes, kPixelShaderEntries, data, size, &cursor, pack->pixelCode, pack->pixelSize)) {
        ClearIndex(pack);
        return AppendLog(L"シェーダーパックのデータが壊れています\n");
    }
    return 0;
}

int32_t ExpandShaderPack(ShaderPack* pack, const uint8_t* block, uint32_t blockSize)
{
    if (pack->data != nullptr) {
        return 1;
    }
    ClearArchiveRecord(&pack->archive);
    uint32_t imageSize = 0;
    pack->archiveImage = ExpandBlock(block, blockSize, &imageSize);
    if (pack->archiveImage == nullptr) {
        return 0;
    }
    uint32_t position = 0;
    uint32_t stored = 0;
    bool loaded = false;
    if (OpenArchiveImage(&pack->archive, pack->archiveImage, imageSize, nullptr) == 0) {
        if (LocateArchiveEntry(&pack->archive, kShaderPackEntryName, &position, &stored) == 0) {
            const uint8_t* image = GetArchiveImagePointer(&pack->archive);
            pack->data = ExpandBlock(image + position, stored, &pack->size);
            loaded = pack->data != nullptr && IndexShaderPack(pack, pack->data, pack->size) == 0;
        }
    }
    if (!loaded) {
        ReleaseShaderPack(pack);
        return 0;
    }
    return 1;
}

void ReleaseShaderPack(ShaderPack* pack)
{
    ReleaseArchiveRecord(&pack->archive);
    if (pack->archiveImage != nullptr) {
        FreeTrackedMemory(pack->archiveImage);
        pack->archiveImage = nullptr;
    }
    if (pack->data != nullptr) {
        FreeTrackedMemory(pack->data);
        pack->data = nullptr;
    }
    pack->size = 0;
    ClearIndex(pack);
}

int32_t LoadShaderPack() { return ExpandShaderPack(&g_shaderPack, g_shaderPackBlock, g_shaderPackBlockSize); }

void UnloadShaderPack() { ReleaseShaderPack(&g_shaderPack); }

// ---- Constants

namespace {

// Copies count registers from start into the cache of registers slots and sends them through
// send while the programmable shaders are in use.
template <typename Value>
int32_t StoreConstants(Value (*cache)[4], int32_t registers, int32_t start, const Value* data, int32_t count,
                       int32_t (*const DeviceCalls::*send)(uint32_t, const Value*, uint32_t))
{
    if (data == nullptr || start < 0 || count < 0 || count > registers - start) {
        return -1;
    }
    std::memcpy(cache[start], data, sizeof(Value) * 4 * static_cast<size_t>(count));
    const DeviceCalls* device = CurrentDeviceCalls();
    if (!g_shaderState.programmable || device == nullptr || device->*send == nullptr || count == 0) {
        return 0;
    }
    return (device->*send)(static_cast<uint32_t>(start), data, static_cast<uint32_t>(count)) == 0 ? 0 : -1;
}

}  // namespace

int32_t SetLibraryVertexShaderConstants(int32_t start, const float* data, int32_t count)
{
    return StoreConstants(g_shaderState.vertexConstants, 256, start, data, count,
                          &DeviceCalls::setVertexShaderConstantF);
}

int32_t SetLibraryPixelShaderConstants(int32_t start, const float* data, int32_t count)
{
    return StoreConstants(g_shaderState.pixelConstants, 32, start, data, count, &DeviceCalls::setPixelShaderConstantF);
}

int32_t SetLibraryVertexShaderBools(int32_t start, const int32_t* data, int32_t count)
{
    constexpr int32_t kRegisters = 16;
    if (data == nullptr || start < 0 || count < 0 || count > kRegisters - start) {
        return -1;
    }
    std::memcpy(&g_shaderState.vertexBools[start], data, sizeof(int32_t) * static_cast<size_t>(count));
    const DeviceCalls* device = CurrentDeviceCalls();
    if (!g_shaderState.programmable || device == nullptr || device->setVertexShaderConstantB == nullptr || count == 0) {
        return 0;
    }
    return device->setVertexShaderConstantB(static_cast<uint32_t>(start), data, static_cast<uint32_t>(count)) == 0 ? 0
                                                                                                                   : -1;
}

void SetLibraryShaderConstantZero()
{
    static const float kVertexZero[4] = {0.0f, 1.0f, 0.0f, 0.0f};
    static const float kPixelZero[4] = {0.0f, 0.5f, 1.0f, 2.0f};
    SetLibraryVertexShaderConstants(0, kVertexZero, 1);
    SetLibraryPixelShaderConstants(0, kPixelZero, 1);
}
