// Light handles and the device's light, material and ambient caches, with the shader
// constants made from them.
#include <cmath>
#include <cstring>

#include "quarn/graphics/d3d9/lights.h"
#include "quarn/graphics/draw_settings.h"
#include "quarn/graphics/d3d9/shader_pack.h"

LightTableState g_lightState{0, 0, -1, -1};
DeviceLightCache g_deviceLightCache{};

namespace {

FixedHandleTable<kLightCapacity> s_lightTable(kHandleTypeLight, kSlotHighWaterFirst);

// Vertex float registers of light i from 14 + 7i, pixel ones from 9 + 3i; vertex bools from
// 4 + 3i: enabled, point or spot, spot.
constexpr int32_t kLightVertexBase = 14, kLightVertexStride = 7;
constexpr int32_t kLightPixelBase = 9, kLightPixelStride = 3;
constexpr int32_t kLightBoolBase = 4, kLightBoolStride = 3;
constexpr int32_t kLightColorVertex = 4;  // the lit diffuse colour within a light's registers
constexpr int32_t kLightColorPixel = 2;
constexpr int32_t kAmbientRegister = 1;
constexpr uint32_t kLightPoint = 1, kLightSpot = 2, kLightDirectional = 3;
constexpr uint32_t kRsAmbient = 139;

int32_t DeviceResult(int32_t result) { return result == 0 ? 0 : -1; }

void Copy4(float* out, const float* in) { std::memcpy(out, in, sizeof(float) * 4); }

void SetFour(float* out, float a, float b, float c, float d)
{
    out[0] = a;
    out[1] = b;
    out[2] = c;
    out[3] = d;
}

void FreeLight(int32_t handle)
{
    auto* record = static_cast<LightRecord*>(RemoveHandleRecord(s_lightTable.get(), handle));
    if (record == nullptr) {
        return;
    }
    if (handle == g_lightState.defaultLight) {
        g_lightState.defaultLight = -1;
    }
    FreeTrackedMemory(record);
    g_lightState.lightsChanged = 1;
}

// The seven vertex and three pixel registers of a cached light, its position and direction
// seen from the camera.
void SendLightConstants(int32_t index, const DeviceLight& light)
{
    const Matrix4x4& view = g_drawSettings.view;
    Vector3 position;
    Vector3 direction;
    TransformVector3(&position, &light.position, &view);
    TransformDirectionByMatrix(&direction, &light.direction, &view);
    const float cosTheta = std::cos(light.theta * 0.5f);
    const float cosPhi = std::cos(light.phi * 0.5f);
    const float cone = cosTheta - cosPhi;
    float v[kLightVertexStride][4];
    SetFour(v[0], position.x, position.y, position.z, 1.0f);
    SetFour(v[1], direction.x, direction.y, direction.z, 0.0f);
    Copy4(v[2], light.diffuse);
    Copy4(v[3], light.specular);
    Copy4(v[4], light.ambient);
    SetFour(v[5], light.range * light.range, light.falloff, light.attenuation0, light.attenuation1);
    // Attenuation 2, the cosines of the half cone angles and the scale of the cone's edge.
    SetFour(v[6], light.attenuation2, cosTheta, cosPhi, cone > 1e-6f ? 1.0f / cone : 1e6f);
    SetLibraryVertexShaderConstants(kLightVertexBase + kLightVertexStride * index, &v[0][0], kLightVertexStride);
    float p[kLightPixelStride][4];
    SetFour(p[0], direction.x, direction.y, direction.z, 0.0f);
    Copy4(p[1], light.specular);
    Copy4(p[2], light.diffuse);
    SetLibraryPixelShaderConstants(kLightPixelBase + kLightPixelStride * index, &p[0][0], kLightPixelStride);
}

}  // namespace

HandleTable* LightTable() { return s_lightTable.get(); }

LightRecord* FindLightRecord(int32_t handle) { return FindHandleRecordAs<LightRecord>(s_lightTable.get(), handle); }

int32_t AllocateLightHandle()
{
    auto* record = static_cast<LightRecord*>(AllocTrackedMemoryZeroed(sizeof(LightRecord), "", 0));
    if (record == nullptr) {
        FatalErrorExit(L"ライト用のメモリの確保に失敗しました");
    }
    const int32_t handle = AddHandleRecord(s_lightTable.get(), record);
    if (handle < 0) {
        FreeTrackedMemory(record);
        return -1;
    }
    record->handle = handle;
    record->check = HandleCheckOf(handle);
    DeviceLight& l = record->light;
    SetFour(l.diffuse, 1.0f, 1.0f, 1.0f, 1.0f);
    SetFour(l.specular, 1.0f, 1.0f, 1.0f, 1.0f);
    SetFour(l.ambient, 0.33f, 0.33f, 0.33f, 0.33f);
    l.range = 2000.0f;
    l.falloff = 1.0f;
    l.attenuation0 = 0.1f;
    l.theta = 2.0f;
    l.phi = 2.0f;
    record->deviceIndex = -1;
    record->enabled = 1;
    record->changed = 1;
    g_lightState.lightsChanged = 1;
    return handle;
}

int32_t CreateDirectionalLight(float x, float y, float z)
{
    const float length = std::sqrt(x * x + y * y + z * z);
    if (!(length > 0.0f) || !std::isfinite(length)) {
        return -1;  // no direction to shine along
    }
    const int32_t handle = AllocateLightHandle();
    LightRecord* record = FindLightRecord(handle);
    if (record == nullptr) {
        return -1;
    }
    record->light.type = kLightDirectional;
    record->light.direction = Vector3{x / length, y / length, z / length};
    return handle;
}

int32_t CreateDefaultLight()
{
    if (FindLightRecord(g_lightState.defaultLight) == nullptr) {
        g_lightState.defaultLight = CreateDirectionalLight(1.0f, -1.0f, 1.0f);
    }
    return g_lightState.defaultLight;
}

int32_t SetLightEnable(int32_t handle, int32_t flag)
{
    LightRecord* record = FindLightRecord(handle);
    if (record == nullptr) {
        return -1;
    }
    const int32_t enabled = flag != 0 ? 1 : 0;
    if (record->enabled != enabled) {
        record->enabled = enabled;
        record->changed = 1;
        g_lightState.lightsChanged = 1;
    }
    return 0;
}

int32_t RemoveLightHandle(int32_t handle)
{
    if (FindLightRecord(handle) == nullptr) {
        return -1;
    }
    FreeLight(handle);
    return 0;
}

int32_t RemoveLightsExceptDefault()
{
    HandleTable* table = s_lightTable.get();
    for (int32_t slot = 0; slot < table->highWater; ++slot) {
        const int32_t handle = HandleOfSlot(table, slot);
        if (handle != -1 && handle != g_lightState.defaultLight) {
            FreeLight(handle);
        }
    }
    return 0;
}

int32_t RemoveAllLights()
{
    RemoveLightsExceptDefault();
    FreeLight(g_lightState.defaultLight);
    g_lightState = LightTableState{0, 0, -1, -1};
    return 0;
}

void MarkLightsForResend() { g_lightState.force = 1; }

int32_t PushLightsToDevice()
{
    SetLightingState(g_drawSettings.lightingOff ? 0 : 1);
    LightTableState& state = g_lightState;
    if (!state.lightsChanged && !state.force) {
        return 0;
    }
    HandleTable* table = s_lightTable.get();
    int32_t given = 0;
    for (int32_t slot = 0; slot < table->highWater; ++slot) {
        LightRecord* record = FindLightRecord(HandleOfSlot(table, slot));
        if (record == nullptr) {
            continue;
        }
        if (!record->enabled) {
            record->deviceIndex = -1;
            continue;
        }
        const int32_t index = given++;
        if (record->deviceIndex != index || record->changed || state.force) {
            record->deviceIndex = index;
            record->changed = 0;
            CacheDeviceLight(index, &record->light);
            CacheDeviceLightEnable(index, 1);
        }
    }
    for (int32_t index = given; index <= state.highestDeviceIndex; ++index) {
        CacheDeviceLightEnable(index, 0);
    }
    state.highestDeviceIndex = given - 1;
    state.lightsChanged = 0;
    state.force = 0;
    return 0;
}

// ---- Device caches

void ResetDeviceLightCache()
{
    g_deviceLightCache = DeviceLightCache{};
    g_deviceLightCache.highestEnabled = -1;
}

int32_t CacheDeviceLight(int32_t index, const DeviceLight* light)
{
    const DeviceCalls* device = CurrentDeviceCalls();
    if (device == nullptr || index < 0) {
        return 0;
    }
    FlushVertexBatch();
    if (index < kCachedDeviceLights) {
        g_deviceLightCache.lights[index] = *light;
    }
    if (index < kShaderLights && g_shaderState.programmable) {
        SendLightConstants(index, *light);
        UpdateLightColorConstants();
        const int32_t kinds[2] = {light->type == kLightPoint || light->type == kLightSpot ? 1 : 0,
                                  light->type == kLightSpot ? 1 : 0};
        SetLibraryVertexShaderBools(kLightBoolBase + 1 + kLightBoolStride * index, kinds, 2);
    }
    return device->setLight != nullptr ? DeviceResult(device->setLight(static_cast<uint32_t>(index), light)) : -1;
}

int32_t CacheDeviceLightEnable(int32_t index, int32_t flag)
{
    const DeviceCalls* device = CurrentDeviceCalls();
    if (device == nullptr || index < 0) {
        return 0;
    }
    FlushVertexBatch();
    DeviceLightCache& cache = g_deviceLightCache;
    const int32_t enabled = flag != 0 ? 1 : 0;
    if (index < kCachedDeviceLights) {
        cache.enabled[index] = enabled;
        if (enabled && index > cache.highestEnabled) {
            cache.highestEnabled = index;
        } else if (!enabled && index == cache.highestEnabled) {
            while (cache.highestEnabled >= 0 && !cache.enabled[cache.highestEnabled]) {
                --cache.highestEnabled;
            }
        }
    }
    UpdateLightColorConstants();
    if (index < kShaderLights) {
        SetLibraryVertexShaderBools(kLightBoolBase + kLightBoolStride * index, &enabled, 1);
    }
    return device->lightEnable != nullptr ? DeviceResult(device->lightEnable(static_cast<uint32_t>(index), enabled))
                                          : -1;
}

int32_t CacheDeviceMaterial(const DeviceMaterial* material)
{
    const DeviceCalls* device = CurrentDeviceCalls();
    if (device == nullptr) {
        return 0;
    }
    DeviceLightCache& cache = g_deviceLightCache;
    int32_t result = 0;
    if (!cache.materialSent || g_deviceCache.force || std::memcmp(&cache.material, material, sizeof *material) != 0) {
        FlushVertexBatch();
        cache.material = *material;
        cache.materialSent = 1;
        result = device->setMaterial != nullptr ? DeviceResult(device->setMaterial(material)) : -1;
    }
    UpdateLightColorConstants();
    return result;
}

int32_t CacheDeviceAmbient(uint32_t color)
{
    const DeviceCalls* device = CurrentDeviceCalls();
    if (device == nullptr) {
        return 0;
    }
    FlushVertexBatch();
    SetFour(g_deviceLightCache.ambient, static_cast<float>(color >> 16 & 0xFF) / 255.0f,
            static_cast<float>(color >> 8 & 0xFF) / 255.0f, static_cast<float>(color & 0xFF) / 255.0f,
            static_cast<float>(color >> 24 & 0xFF) / 255.0f);
    const int32_t result = DeviceResult(device->setRenderState(kRsAmbient, color));
    UpdateLightColorConstants();
    return result;
}

void UpdateLightColorConstants()
{
    if (!g_shaderState.programmable) {
        return;
    }
    ShaderState& shaders = g_shaderState;
    if (shaders.fullReload) {
        shaders.fullReload = 0;
        SetLibraryVertexShaderConstants(0, &shaders.vertexConstants[0][0], 256);
        SetLibraryPixelShaderConstants(0, &shaders.pixelConstants[0][0], 32);
    }
    const DeviceLightCache& cache = g_deviceLightCache;
    const DeviceMaterial& material = cache.material;
    // Only the lights that feed the shaders have colour registers: past them the registers
    // belong to other lights' data and, for the pixel shader, past the end of its constants.
    const int32_t last = cache.highestEnabled < kShaderLights ? cache.highestEnabled : kShaderLights - 1;
    for (int32_t i = 0; i <= last; ++i) {
        if (!cache.enabled[i]) {
            continue;
        }
        float lit[4];
        for (int32_t c = 0; c < 4; ++c) {
            lit[c] = cache.lights[i].diffuse[c] * material.diffuse[c];
        }
        SetLibraryVertexShaderConstants(kLightVertexBase + kLightVertexStride * i + kLightColorVertex, lit, 1);
        SetLibraryPixelShaderConstants(kLightPixelBase + kLightPixelStride * i + kLightColorPixel, lit, 1);
    }
    float ambient[4];
    for (int32_t c = 0; c < 4; ++c) {
        ambient[c] = cache.ambient[c] * material.ambient[c] + material.emissive[c];
    }
    SetLibraryVertexShaderConstants(kAmbientRegister, ambient, 1);
    SetLibraryPixelShaderConstants(kAmbientRegister, ambient, 1);
}

void RefreshLightViewConstants()
{
    if (!g_shaderState.programmable) {
        return;
    }
    for (int32_t i = 0; i < kShaderLights; ++i) {
        if (g_deviceLightCache.lights[i].type != 0) {
            SendLightConstants(i, g_deviceLightCache.lights[i]);
        }
    }
    UpdateLightColorConstants();
}

void ReapplyDeviceLights()
{
    DeviceLightCache& cache = g_deviceLightCache;
    if (cache.materialSent) {
        const DeviceMaterial material = cache.material;
        CacheDeviceMaterial(&material);
    }
    const float* a = cache.ambient;
    const auto channel = [](float v) { return static_cast<uint32_t>(v * 255.0f + 0.5f) & 0xFF; };
    CacheDeviceAmbient(channel(a[3]) << 24 | channel(a[0]) << 16 | channel(a[1]) << 8 | channel(a[2]));
    for (int32_t i = 0; i < kCachedDeviceLights; ++i) {
        if (cache.lights[i].type != 0) {
            const DeviceLight light = cache.lights[i];
            CacheDeviceLight(i, &light);
            CacheDeviceLightEnable(i, cache.enabled[i]);
        }
    }
    MarkLightsForResend();
}
