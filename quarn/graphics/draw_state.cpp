// The draw settings' setters and getters, colour values and the reset defaults.
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/render_backend.h"
#include "quarn/graphics/mask.h"

namespace {

int32_t Clamp255(int32_t value) { return value < 0 ? 0 : (value > 255 ? 255 : value); }

void NotifyBackend(int32_t change) { CurrentRenderBackend()->applyDrawState(change); }

}  // namespace

int32_t IsHardwareActive() { return g_screenSettings.hardwareActive; }

int SelectBlendMode(int mode, int parameter)
{
    DrawSettings& s = g_drawSettings;
    const int32_t p = Clamp255(parameter);
    const BlendMode named = static_cast<BlendMode>(mode);
    if (s.drawingDisabled || (s.blendMode == named && s.blendParam == p)) {
        return 0;
    }
    WaitForActiveWindow();
    s.blendMode = named;
    s.blendParam = p;
    NotifyBackend(kRenderBlendInputs);
    return 0;
}

int StoreBrightChannels(int red, int green, int blue)
{
    const uint32_t rgb = static_cast<uint32_t>(Clamp255(red)) << 16 | static_cast<uint32_t>(Clamp255(green)) << 8 |
                         static_cast<uint32_t>(Clamp255(blue));
    if (DrawBrightRgb(g_drawSettings) == rgb) {
        return 0;
    }
    g_drawSettings.brightColor = rgb;
    NotifyBackend(kRenderBlendInputs);
    return 0;
}

void StoreBrightRgb(uint32_t rgb)
{
    StoreBrightChannels(static_cast<int>(rgb >> 16 & 0xFF), static_cast<int>(rgb >> 8 & 0xFF),
                        static_cast<int>(rgb & 0xFF));
}

int GetTextureFilterMode() { return g_drawSettings.filterMode; }

int SetTextureFilterMode(int mode)
{
    DrawSettings& s = g_drawSettings;
    if (s.drawingDisabled || s.filterMode == mode) {
        return 0;
    }
    s.filterMode = mode;
    NotifyBackend(kRenderFilterMode);
    return 0;
}

int SelectBlendGraph(int graph, int borderPosition, int borderRange)
{
    DrawSettings& s = g_drawSettings;
    if (s.drawingDisabled) {
        return 0;
    }
    if (s.blendGraph == graph && s.blendBorderPos == borderPosition && s.blendBorderRange == borderRange) {
        return 0;
    }
    GraphDrawInfo info{};
    if (graph != -1) {
        if (DescribeGraph(graph, &info) != 0) {
            return -1;
        }
    }
    s.blendGraph = graph;
    WaitForActiveWindow();
    s.blendBorderPos = Clamp255(borderPosition);
    s.blendBorderRange = Clamp255(borderRange);
    return CurrentRenderBackend()->selectBlendGraph(graph, s.blendBorderPos, s.blendBorderRange);
}

MEMIMG* SelectedBlendMemImg()
{
    // Looked up at each use: a blend graph deleted since it was selected then weighs nothing.
    const int32_t graph = g_drawSettings.blendGraph;
    GraphDrawInfo info{};
    if (graph == -1 || DescribeGraph(graph, &info) != 0) {
        return nullptr;
    }
    return info.sharedImage;
}

int SetFogMode(int mode)
{
    g_drawSettings.fogMode = mode;
    NotifyBackend(kRenderFog);
    return 0;
}

int SetFogColor(int red, int green, int blue)
{
    g_drawSettings.fogColor = 0xFF000000u | static_cast<uint32_t>(Clamp255(red)) << 16 |
                              static_cast<uint32_t>(Clamp255(green)) << 8 | static_cast<uint32_t>(Clamp255(blue));
    NotifyBackend(kRenderFog);
    return 0;
}

int SetFogStartEnd(float start, float end)
{
    g_drawSettings.fogStart = start;
    g_drawSettings.fogEnd = end;
    NotifyBackend(kRenderFog);
    return 0;
}

int RequestHardwareRendering(int flag)
{
    // Once the library has started, the renderer has been chosen.
    if (HasLibraryStarted()) {
        return -1;
    }
    g_screenSettings.softwareOnly = flag == 0 ? 1 : 0;
    return 0;
}

int IsHardwareRenderingRequested() { return g_screenSettings.softwareOnly == 0 ? 1 : 0; }

const ColorFormat* ScreenColorFormat()
{
    return GetMemImgColorFormat(GetConfiguredColorBits() == 16 ? kMemImgRgb565 : kMemImgXrgb32, 0, 0);
}

uint32_t PackScreenColor(int red, int green, int blue)
{
    return EncodePixelColor(ScreenColorFormat(), Clamp255(red), Clamp255(green), Clamp255(blue), 255);
}

int UnpackScreenColor(uint32_t color, int* red, int* green, int* blue)
{
    DecodePixelColor(ScreenColorFormat(), color, red, green, blue, nullptr);
    return 0;
}

float* MakeFloatColor(float* out, float r, float g, float b, float a)
{
    out[0] = r;
    out[1] = g;
    out[2] = b;
    out[3] = a;
    return out;
}

uint32_t ComputeBatchVertexColor()
{
    const DrawSettings& s = g_drawSettings;
    const uint32_t alpha = s.blendMode != kBlendModeNone ? static_cast<uint32_t>(s.blendParam) : 255u;
    return alpha << 24 | DrawBrightRgb(s);
}

void ApplyDrawSettingDefaults()
{
    DrawSettings& s = g_drawSettings;
    const auto restore = s.graphRestoreRoutine;
    s = DrawSettings{};
    s.graphRestoreRoutine = restore;

    s.blendGraph = -1;
    for (int32_t i = 0; i < kSamplerStages; ++i) {
        s.addressU[i] = 3;
        s.addressV[i] = 3;
    }
    s.depth2d.compare = 4;
    s.depth3d.compare = 4;
    s.maxAnisotropy = 1;
    s.brightColor = kNoBrightColor;
    s.fogMode = 3;
    s.fogColor = 0xFFFFFFFF;
    s.fogStart = 0.0f;
    s.fogEnd = 1500.0f;
    s.maskDrawing = 1;
    s.maskingActive = 0;
    s.projectionMode = 0;
    s.projectionNear = 10.0f;
    s.projectionFar = 10000.0f;
    s.projectionFov = 1.0471976f;
    s.projectionAspectScale = 1.0f;
    s.projectionParallelSize = 1.0f;
    SetIdentityMatrix4x4(&s.projection);
    SetIdentityMatrix4x4(&s.world);
    SetIdentityMatrix4x4(&s.view);
    SetIdentityMatrix4x4(&s.viewport);
    SetIdentityMatrix4x4(&s.projectionUser);
    SetIdentityMatrix4x4(&s.screenMapping);
    SetIdentityMatrix4x4(&s.screenMappingInverse);
    MakeFloatColor(s.material.diffuse, 0.8f, 0.8f, 0.8f, 1.0f);
    MakeFloatColor(s.material.ambient, 0.0f, 0.0f, 0.0f, 0.0f);
    MakeFloatColor(s.material.specular, 0.8f, 0.8f, 0.8f, 0.0f);
    MakeFloatColor(s.material.emissive, 0.0f, 0.0f, 0.0f, 0.0f);
    s.material.power = 20.0f;
    s.materialInUse = 1;
    s.newGraphAlphaTest = 1;
    s.quadEdgeOffset = 0.2f;

    s.drawTarget = kDrawTargetBackScreen;
    s.softDrawTarget = TestMemImgValid(&g_screenImages.primary) ? &g_screenImages.primary : nullptr;
    GetConfiguredScreenSize(&s.drawTargetWidth, &s.drawTargetHeight);
    StoreDrawClipRect(0, 0, s.drawTargetWidth, s.drawTargetHeight);
}

void ResetGraphicsState()
{
    // Masks go with graphics, and what every back end keeps (the device's lights and shaders,
    // the software screen), whichever ran; the device went before.
    EndMaskScreen();
    RemoveAllMaskHandles();
    for (int32_t i = 0; i < kRenderBackendCount; ++i) {
        kRenderBackendOrder[i]->reset();
    }
    UseRenderBackend(&kSoftwareRenderBackend);
    const auto restore = g_drawSettings.graphRestoreRoutine;
    g_drawSettings = DrawSettings{};
    g_drawSettings.graphRestoreRoutine = restore;
    g_screenSettings.started = 0;
}

int32_t StoreDrawClipRect(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    DrawSettings& s = g_drawSettings;
    PixelRect rect{left < right ? left : right, top < bottom ? top : bottom, left < right ? right : left,
                   top < bottom ? bottom : top};
    const PixelRect bound{0, 0, s.drawTargetWidth, s.drawTargetHeight};
    ClampRectInsideRect(&rect, &bound);
    s.clip = rect;
    s.emptyClip = rect.right <= rect.left || rect.bottom <= rect.top ? 1 : 0;
    return 0;
}
