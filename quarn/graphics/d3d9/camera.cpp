// The draw state's matrices and projection: stored, combined for the software-side
// transforms, and handed to the device on the hardware path.
#include "quarn/graphics/d3d9/camera.h"

#include <cstring>

#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/graphics/d3d9/shader_pack.h"
#include "quarn/graphics/draw_settings.h"

namespace {

void StoreMatrix(Matrix4x4* out, const float* values) { std::memcpy(out->m, values, sizeof out->m); }

// The library's vertex shaders read the view and the projection, transposed, from these
// constant registers on.
constexpr int32_t kViewConstants = 6;
constexpr int32_t kProjectionConstants = 2;

// A transform to the device and to the library's vertex shaders; false without a device.
bool SendTransform(uint32_t which, int32_t firstConstant, const Matrix4x4* matrix)
{
    if (CurrentDeviceCalls() == nullptr) {
        return false;
    }
    FlushVertexBatch();
    CurrentDeviceCalls()->setTransform(which, matrix);
    Matrix4x4 transposed;
    TransposeMatrix4x4(&transposed, matrix);
    SetLibraryVertexShaderConstants(firstConstant, &transposed.m[0][0], 4);
    return true;
}

// The device is told the projection whenever the projection or the viewport matrix changes.
void SendProjection()
{
    if (CurrentDeviceCalls() == nullptr) {
        return;
    }
    Matrix4x4 device;
    ComputeDeviceProjection(&device);
    SetProjectionTransform(&device);
}

// Stores a matrix of the draw state and rebuilds the combination: the common step of the
// three matrix setters.
void ReplaceMatrix(Matrix4x4* target, const float* values)
{
    FlushVertexBatch();
    StoreMatrix(target, values);
    g_drawSettings.combinedValid = 0;
    RebuildCombinedMatrix();
}

}  // namespace

void ComputeDeviceProjection(Matrix4x4* out)
{
    const DrawSettings& s = g_drawSettings;
    MultiplyMatrix4x4(out, &s.projection, &s.viewport);
    MultiplyMatrix4x4(out, out, &s.screenMappingInverse);
}

int32_t ApplyViewMatrix(const float* values)
{
    ReplaceMatrix(&g_drawSettings.view, values);
    if (CurrentDeviceCalls() != nullptr) {
        SetViewTransform(&g_drawSettings.view);
    }
    return 0;
}

int32_t ApplyProjectionMatrix(const float* values)
{
    ReplaceMatrix(&g_drawSettings.projection, values);
    SendProjection();
    return 0;
}

int32_t ApplyViewportMatrix(const float* values)
{
    ReplaceMatrix(&g_drawSettings.viewport, values);
    SendProjection();
    return 0;
}

void RebuildCombinedMatrix()
{
    DrawSettings& s = g_drawSettings;
    if (s.combinedValid) {
        return;
    }
    Matrix4x4 tail;
    MultiplyMatrix4x4(&tail, &s.view, &s.projection);
    MultiplyMatrix4x4(&tail, &tail, &s.viewport);
    MultiplyMatrix4x4(&s.combined, &s.world, &tail);
    for (int32_t axis = 0; axis < 3; ++axis) {
        for (int32_t row = 0; row < 3; ++row) {
            s.cameraAxes[axis][row] = s.view.m[row][axis];
        }
        s.cameraAxes[axis][3] = 0.0f;
    }
    s.combinedValid = 1;
}

int32_t SetCameraScreenCenter(float x, float y)
{
    DrawSettings& s = g_drawSettings;
    s.screenCenterX = x;
    s.screenCenterY = y;
    Matrix4x4 viewport;
    BuildScreenMappingMatrix(&viewport, x, y, static_cast<float>(s.drawTargetWidth) * s.projectionAspectScale,
                             static_cast<float>(s.drawTargetHeight));
    return ApplyViewportMatrix(&viewport.m[0][0]);
}

int32_t RebuildProjectionMatrix()
{
    DrawSettings& s = g_drawSettings;
    Matrix4x4 projection = s.projectionUser;
    if (s.projectionMode != 2) {
        // A target of no width has no shape: the picture is then taken as square.
        const float aspect = s.drawTargetWidth > 0 ? static_cast<float>(s.drawTargetHeight) /
                                                         static_cast<float>(s.drawTargetWidth) * s.projectionAspectScale
                                                   : s.projectionAspectScale;
        const int built = s.projectionMode == 1
                              ? BuildParallelProjectionMatrix(&projection, s.projectionParallelSize, s.projectionNear,
                                                              s.projectionFar, aspect)
                              : BuildFovProjectionMatrix(&projection, s.projectionFov, s.projectionNear,
                                                         s.projectionFar, aspect);
        if (built != 0) {
            return 0;  // near and far (or the angle) give no projection: the last one stays
        }
    }
    return ApplyProjectionMatrix(&projection.m[0][0]);
}

int32_t SetProjectionNearFar(float zNear, float zFar)
{
    g_drawSettings.projectionNear = zNear;
    g_drawSettings.projectionFar = zFar;
    return RebuildProjectionMatrix();
}

int32_t SetProjectionFieldOfView(float angle)
{
    g_drawSettings.projectionMode = 0;
    g_drawSettings.projectionFov = angle;
    return RebuildProjectionMatrix();
}

int32_t SetProjectionParallel(float size)
{
    g_drawSettings.projectionMode = 1;
    g_drawSettings.projectionParallelSize = size;
    return RebuildProjectionMatrix();
}

int32_t SetProjectionUserMatrix(const float* values)
{
    g_drawSettings.projectionMode = 2;
    StoreMatrix(&g_drawSettings.projectionUser, values);
    return RebuildProjectionMatrix();
}

void ApplyTargetCamera(int32_t width, int32_t height)
{
    DrawSettings& s = g_drawSettings;
    Matrix4x4 world;
    SetIdentityMatrix4x4(&world);
    ApplyWorldMatrix(&world);
    const float cx = static_cast<float>(width / 2.0);
    const float cy = static_cast<float>(height / 2.0);
    BuildScreenMappingMatrix(&s.screenMapping, cx, cy, static_cast<float>(width), static_cast<float>(height));
    if (InvertMatrix4x4(&s.screenMappingInverse, &s.screenMapping) != 0) {
        SetIdentityMatrix4x4(&s.screenMappingInverse);
    }
    SetCameraScreenCenter(cx, cy);
    // The default camera sees the target exactly at depth 0 with a 60 degree field of view.
    const float distance = static_cast<float>(height / 2) / 0.5773502588272095f;
    s.cameraEye = Vector3{cx, cy, -distance};
    s.cameraTarget = Vector3{cx, cy, -distance + 1.0f};
    s.cameraUp = Vector3{0.0f, 1.0f, 0.0f};
    Matrix4x4 view;
    BuildEyeViewMatrix(&view, &s.cameraEye, &s.cameraTarget, &s.cameraUp);
    ApplyViewMatrix(&view.m[0][0]);
    s.projectionFov = 1.0471976f;
    SetProjectionNearFar(distance * 0.1f, distance + 20000.0f);
}

int32_t SetViewTransform(const Matrix4x4* matrix)
{
    if (SendTransform(kTsView, kViewConstants, matrix)) {
        RefreshLightViewConstants();
    }
    return 0;
}

int32_t SetProjectionTransform(const Matrix4x4* matrix)
{
    SendTransform(kTsProjection, kProjectionConstants, matrix);
    return 0;
}
