// Light handles and the device's light, material and ambient caches, with the shader constants
// made from them. They stand on the state cache (device_state.h) and the shader constants
// (shader_pack.h); the camera stands above them and tells them of a new view.
//
// Portable: the device is reached through DeviceCalls; without a device the lights are only
// kept.
#pragma once

#include <cstdint>

#include "quarn/core/core.h"
#include "quarn/core/handle.h"
#include "quarn/graphics/d3d9/device_state.h"

constexpr int32_t kLightCapacity = 4096;
// Device lights the library keeps copies of, and those that also feed the shader constants.
constexpr int32_t kCachedDeviceLights = 256;
constexpr int32_t kShaderLights = 4;

// ---- Lights
struct LightRecord {
    int32_t check;
    int32_t handle;
    DeviceLight light;
    int32_t deviceIndex;  // -1: none
    int32_t enabled;
    int32_t changed;
};

struct LightTableState {
    int32_t lightsChanged;
    int32_t force;
    int32_t highestDeviceIndex;  // -1: none used
    int32_t defaultLight;        // -1: none
};
extern LightTableState g_lightState;
HandleTable* LightTable();
LightRecord* FindLightRecord(int32_t handle);

// A new light with the library's defaults (enabled, to be sent): its handle, or -1 when the
// table is full.
int32_t AllocateLightHandle();
// A directional light along (x, y, z), normalised; -1 for a direction of no length.
int32_t CreateDirectionalLight(float x, float y, float z);
// The draw-state reset's default light, (1, -1, 1), made once and kept across resets.
int32_t CreateDefaultLight();
int32_t SetLightEnable(int32_t handle, int32_t flag);
int32_t RemoveLightHandle(int32_t handle);
int32_t RemoveLightsExceptDefault();
// Graphics end: every light, the default one too.
int32_t RemoveAllLights();
// After a device restart every light is sent again at the next push.
void MarkLightsForResend();
int32_t PushLightsToDevice();

// ---- The device's light, material and ambient caches
struct DeviceLightCache {
    DeviceLight lights[kCachedDeviceLights];
    int32_t enabled[kCachedDeviceLights];
    int32_t highestEnabled;  // -1: none
    DeviceMaterial material;
    int32_t materialSent;
    float ambient[4];
};
extern DeviceLightCache g_deviceLightCache;
// The caches of a fresh device (device start and graphics end).
void ResetDeviceLightCache();

int32_t CacheDeviceLight(int32_t index, const DeviceLight* light);
int32_t CacheDeviceLightEnable(int32_t index, int32_t flag);
int32_t CacheDeviceMaterial(const DeviceMaterial* material);
int32_t CacheDeviceAmbient(uint32_t color);
void UpdateLightColorConstants();
// The shader registers of the cached lights 0 to 3 that depend on the view (a new view).
void RefreshLightViewConstants();
// After a device restart: the material, the ambient colour and every cached light with its
// enable flag are sent again, and the lights are pushed whole at the next push.
void ReapplyDeviceLights();
