// The device's facts as graphics found them when the device started.
#include "quarn/core/screen_settings.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/model/model_os.h"

ModelDeviceFacts SystemModelDeviceFacts()
{
    const GraphicsDeviceState& device = g_graphicsDevice;
    ModelDeviceFacts facts{};
    facts.hardware = g_screenSettings.hardwareActive;
    facts.shaderCapable = device.vertexShader20 && device.pixelShader20 ? 1 : 0;
    // No model shaders are made, so the layouts drawn only by shaders are not built.
    facts.programmableShaders = 0;
    // Graphics stored 256 where the device reported no limit.
    facts.maxTextureWidth = static_cast<int32_t>(device.caps.MaxTextureWidth);
    facts.maxTextureHeight = static_cast<int32_t>(device.caps.MaxTextureHeight);
    return facts;
}
