// The top of the device state: after a device restart the state cache, the camera and the
// lights send everything they hold again; at the end of graphics the lights and the shaders'
// state go.
#pragma once

#include <cstdint>

// 0, or -1 without a device.
int32_t ReapplyAllDeviceStates();
// The lights, the expanded shader pack and the shader state back to a fresh process's; the
// device went before.
void ResetDeviceBackendState();
