// The camera: the view, projection and viewport matrices of the draw state with their
// combination, the projection settings, and the view and projection sent to the device with
// the shader constants and light constants that follow them. It stands above the state cache
// (device_state.h), the shader constants (shader_pack.h) and the lights (lights.h).
//
// Portable: the device is reached through DeviceCalls (device_state.h); without a device the
// matrices are only kept.
#pragma once

#include <cstdint>

#include "quarn/core/core.h"
#include "quarn/core/handle.h"
#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/graphics/d3d9/lights.h"

// ---- Matrices and projection
int32_t ApplyViewMatrix(const float* values);
int32_t ApplyProjectionMatrix(const float* values);
int32_t ApplyViewportMatrix(const float* values);
int32_t SetCameraScreenCenter(float x, float y);
// A new draw target's matrices: world identity, the screen mapping centred on the target and
// its inverse, and the default camera, which sees depth 0 pixel for pixel with a 60 degree
// field of view.
void ApplyTargetCamera(int32_t width, int32_t height);
int32_t SetProjectionNearFar(float zNear, float zFar);
int32_t SetProjectionFieldOfView(float angle);
int32_t SetProjectionParallel(float size);
int32_t SetProjectionUserMatrix(const float* values);
int32_t RebuildProjectionMatrix();
void RebuildCombinedMatrix();
// What the device's projection transform receives: projection x viewport x inverse screen
// mapping, so that the device's own viewport mapping lands on the same pixels.
void ComputeDeviceProjection(Matrix4x4* out);
// The view and the projection on the device (flushing first), with the shader constants of
// both and the lights' view-dependent constants.
int32_t SetViewTransform(const Matrix4x4* matrix);
int32_t SetProjectionTransform(const Matrix4x4* matrix);
