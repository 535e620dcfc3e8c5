// The restart of the whole device state, in the order the parts stand on each other: the state
// cache first, then the camera's view and projection, then the lights, all sent while the
// cache forces every value out.
#include "quarn/graphics/d3d9/device_reapply.h"

#include "quarn/graphics/d3d9/camera.h"
#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/graphics/d3d9/lights.h"
#include "quarn/graphics/d3d9/shader_pack.h"
#include "quarn/graphics/draw_settings.h"

int32_t ReapplyAllDeviceStates()
{
    if (BeginDeviceStateResend() != 0) {
        return -1;
    }
    const DrawSettings& s = g_drawSettings;
    RebuildCombinedMatrix();
    SetViewTransform(&s.view);
    Matrix4x4 projection;
    ComputeDeviceProjection(&projection);
    SetProjectionTransform(&projection);
    ReapplyDeviceLights();
    EndDeviceStateResend();
    return 0;
}

void ResetDeviceBackendState()
{
    RemoveAllLights();
    UnloadShaderPack();
    g_shaderState = ShaderState{};
}
