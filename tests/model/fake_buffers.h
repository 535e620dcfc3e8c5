// A device that only makes buffers, for the native tests of the model registry's buffer
// builds: each buffer is a byte block the tests read back, every call is counted, and a
// creation can be made to fail.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "quarn/graphics/d3d9/device_state.h"

struct FakeBuffer {
    int32_t index;  // 0 vertex, 1 index
    uint32_t length;
    uint32_t usage;
    uint32_t format;  // FVF or index format
    uint32_t pool;
    int32_t locked;
    std::vector<uint8_t> bytes;
};

struct FakeBufferDevice {
    std::set<FakeBuffer*> live;
    int32_t creations = 0;
    int32_t calls = 0;          // every call of any kind
    int32_t failCreation = -1;  // the creation (counted from 0) that fails; -1 none

    static FakeBufferDevice& Get()
    {
        static FakeBufferDevice device;
        return device;
    }

    void Install() const { UseDeviceCalls(&Calls()); }
    void Clear()
    {
        for (FakeBuffer* buffer : live) {
            delete buffer;
        }
        live.clear();
        creations = 0;
        calls = 0;
        failCreation = -1;
    }
    static FakeBuffer* Of(void* buffer) { return static_cast<FakeBuffer*>(buffer); }

private:
    static void* Create(int32_t index, uint32_t length, uint32_t usage, uint32_t format, uint32_t pool)
    {
        FakeBufferDevice& d = Get();
        ++d.calls;
        if (d.creations++ == d.failCreation || length == 0) {
            return nullptr;
        }
        auto* buffer = new FakeBuffer{index, length, usage, format, pool, 0, std::vector<uint8_t>(length, 0xCD)};
        d.live.insert(buffer);
        return buffer;
    }
    static void* CreateVertex(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool)
    {
        return Create(0, length, usage, fvf, pool);
    }
    static void* CreateIndex(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool)
    {
        return Create(1, length, usage, format, pool);
    }
    static int32_t Lock(void* buffer, int32_t index, void** bytes)
    {
        ++Get().calls;
        FakeBuffer* b = Of(buffer);
        if (b->index != index || b->locked) {
            return -1;
        }
        b->locked = 1;
        *bytes = b->bytes.data();
        return 0;
    }
    static int32_t Unlock(void* buffer, int32_t index)
    {
        ++Get().calls;
        FakeBuffer* b = Of(buffer);
        if (b->index != index || !b->locked) {
            return -1;
        }
        b->locked = 0;
        return 0;
    }
    static void Release(void* buffer)
    {
        ++Get().calls;
        Get().live.erase(Of(buffer));
        delete Of(buffer);
    }
    // Every other call of the device counts too: the registry must make none.
    static int32_t Other() { return ++Get().calls, 0; }

    static const DeviceCalls& Calls()
    {
        static const DeviceCalls calls = {
            .setRenderState = [](uint32_t, uint32_t) { return Other(); },
            .setSamplerState = [](uint32_t, uint32_t, uint32_t) { return Other(); },
            .setTextureStageState = [](uint32_t, uint32_t, uint32_t) { return Other(); },
            .setTexture = [](uint32_t, void*) { return Other(); },
            .setTransform = [](uint32_t, const Matrix4x4*) { return Other(); },
            .setViewport = [](const DeviceViewport*) { return Other(); },
            .setScissorRect = [](const PixelRect*) { return Other(); },
            .setFvf = [](uint32_t) { return Other(); },
            .drawPrimitiveUp = [](uint32_t, uint32_t, const void*, uint32_t) { return Other(); },
            .drawIndexedPrimitiveUp = [](uint32_t, uint32_t, uint32_t, const uint16_t*, const void*,
                                         uint32_t) { return Other(); },
            .beginScene = []() { return Other(); },
            .endScene = []() { return Other(); },
            .setRenderTarget = [](void*, uint32_t*, uint32_t*) { return Other(); },
            .unbindShaders = []() { return Other(); },
            .setLight = [](uint32_t, const DeviceLight*) { return Other(); },
            .lightEnable = [](uint32_t, int32_t) { return Other(); },
            .setMaterial = [](const DeviceMaterial*) { return Other(); },
            .setVertexShaderConstantF = [](uint32_t, const float*, uint32_t) { return Other(); },
            .setPixelShaderConstantF = [](uint32_t, const float*, uint32_t) { return Other(); },
            .setVertexShaderConstantB = [](uint32_t, const int32_t*, uint32_t) { return Other(); },
            .createVertexBuffer = CreateVertex,
            .createIndexBuffer = CreateIndex,
            .lockBuffer = Lock,
            .unlockBuffer = Unlock,
            .releaseBuffer = Release,
        };
        return calls;
    }
};
