// The top of the device state: after a device restart the state cache, the camera and the
// lights send everything they hold again.
#pragma once

#include <cstdint>

// 0, or -1 without a device.
int32_t ReapplyAllDeviceStates();
