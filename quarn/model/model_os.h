// What the model registry must know of the device: whether the screen is drawn through it,
// what its shaders and textures allow. The Windows build reads the screen and the device
// (model_os_win.cpp); the native build has no device, and tests install facts of their own.
#pragma once

#include <cstdint>

struct ModelDeviceFacts {
    int32_t hardware;             // 1 while the screen is drawn through the device
    int32_t shaderCapable;        // 1 when the device runs vertex and pixel shaders 2.0
    int32_t programmableShaders;  // 1 once the default shader pair is in use
    int32_t maxTextureWidth;
    int32_t maxTextureHeight;
};

// The facts of the system's device.
ModelDeviceFacts SystemModelDeviceFacts();
// The facts the registry goes by: those installed, else the system's.
ModelDeviceFacts ReadModelDeviceFacts();
// Installs facts to go by (null: the system's again).
void SetModelDeviceFacts(const ModelDeviceFacts* facts);
