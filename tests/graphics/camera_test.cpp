// Camera, matrices and lights against hand-worked values and a recording device: the
// default camera's picture, the projection modes, the device's projection, and the lights'
// device indices, caches and shader constants.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

#include "quarn/graphics/d3d9/camera.h"
#include "quarn/graphics/d3d9/device_reapply.h"
#include "quarn/graphics/draw_settings.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/d3d9/shader_pack.h"

namespace {

// ---- A device that keeps what it was sent

struct Sent {
    std::vector<std::pair<uint32_t, DeviceLight>> lights;
    std::vector<std::pair<uint32_t, int32_t>> enables;
    std::vector<DeviceMaterial> materials;
    std::map<uint32_t, uint32_t> renderStates;
    std::map<uint32_t, Matrix4x4> transforms;
    std::vector<uint32_t> vertexRegisters;  // every register written, in order
    std::vector<uint32_t> pixelRegisters;
    std::map<uint32_t, std::vector<float>> vertex;  // register -> its four floats
};
Sent s_sent;

int32_t Ok() { return 0; }
int32_t RecRender(uint32_t state, uint32_t value)
{
    s_sent.renderStates[state] = value;
    return 0;
}
int32_t RecSampler(uint32_t, uint32_t, uint32_t) { return 0; }
int32_t RecTexture(uint32_t, void*) { return 0; }
int32_t RecTransform(uint32_t which, const Matrix4x4* m)
{
    s_sent.transforms[which] = *m;
    return 0;
}
int32_t RecViewport(const DeviceViewport*) { return 0; }
int32_t RecScissor(const PixelRect*) { return 0; }
int32_t RecFvf(uint32_t) { return 0; }
int32_t RecDraw(uint32_t, uint32_t, const void*, uint32_t) { return 0; }
int32_t RecDrawIndexed(uint32_t, uint32_t, uint32_t, const uint16_t*, const void*, uint32_t) { return 0; }
int32_t RecTarget(void*, uint32_t* w, uint32_t* h)
{
    *w = 300;
    *h = 60;
    return 0;
}
int32_t RecLight(uint32_t index, const DeviceLight* light)
{
    s_sent.lights.emplace_back(index, *light);
    return 0;
}
int32_t RecEnable(uint32_t index, int32_t flag)
{
    s_sent.enables.emplace_back(index, flag);
    return 0;
}
int32_t RecMaterial(const DeviceMaterial* m)
{
    s_sent.materials.push_back(*m);
    return 0;
}
int32_t RecVertexF(uint32_t start, const float* data, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        s_sent.vertexRegisters.push_back(start + i);
        s_sent.vertex[start + i] = std::vector<float>(data + 4 * i, data + 4 * i + 4);
    }
    return 0;
}
int32_t RecPixelF(uint32_t start, const float*, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        s_sent.pixelRegisters.push_back(start + i);
    }
    return 0;
}
int32_t RecVertexB(uint32_t, const int32_t*, uint32_t) { return 0; }

// The camera and the lights make no buffer calls; those stay empty.
const DeviceCalls kRecorder = [] {
    DeviceCalls calls{};
    calls.setRenderState = RecRender;
    calls.setSamplerState = RecSampler;
    calls.setTextureStageState = [](uint32_t, uint32_t, uint32_t) { return 0; };
    calls.setTexture = RecTexture;
    calls.setTransform = RecTransform;
    calls.setViewport = RecViewport;
    calls.setScissorRect = RecScissor;
    calls.setFvf = RecFvf;
    calls.drawPrimitiveUp = RecDraw;
    calls.drawIndexedPrimitiveUp = RecDrawIndexed;
    calls.beginScene = Ok;
    calls.endScene = Ok;
    calls.setRenderTarget = RecTarget;
    calls.unbindShaders = Ok;
    calls.setLight = RecLight;
    calls.lightEnable = RecEnable;
    calls.setMaterial = RecMaterial;
    calls.setVertexShaderConstantF = RecVertexF;
    calls.setPixelShaderConstantF = RecPixelF;
    calls.setVertexShaderConstantB = RecVertexB;
    return calls;
}();

// ---- Matrix helpers

Matrix4x4 Multiply(const Matrix4x4& a, const Matrix4x4& b)
{
    Matrix4x4 out;
    MultiplyMatrix4x4(&out, &a, &b);
    return out;
}

// A world point through a matrix and the perspective division: screen x, y.
void Project(const Matrix4x4& m, float x, float y, float z, float* sx, float* sy)
{
    float v[4];
    for (int c = 0; c < 4; ++c) {
        v[c] = x * m.m[0][c] + y * m.m[1][c] + z * m.m[2][c] + m.m[3][c];
    }
    *sx = v[0] / v[3];
    *sy = v[1] / v[3];
}

void ExpectMatrixNear(const Matrix4x4& a, const Matrix4x4& b, float tolerance)
{
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_NEAR(a.m[r][c], b.m[r][c], tolerance) << r << "," << c;
        }
    }
}

class CameraTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetGraphicsState();
        // The native build has no device back end whose reset the one above would run.
        ResetDeviceBackendState();
        ApplyDrawSettingDefaults();
        s_sent = Sent{};
        UseDeviceCalls(nullptr);
        ResetDeviceLightCache();
        blocks_ = GetAllocatorTotals().blockCount;
    }
    void TearDown() override
    {
        UseDeviceCalls(nullptr);
        RemoveAllLights();
        g_shaderState = ShaderState{};
        EXPECT_EQ(GetAllocatorTotals().blockCount, blocks_) << "lights left memory behind";
        ResetGraphicsState();
    }

    // The draw-target selection's default camera for a width x height target.
    static void DefaultCamera(int32_t width, int32_t height)
    {
        g_drawSettings.drawTargetWidth = width;
        g_drawSettings.drawTargetHeight = height;
        ApplyTargetCamera(width, height);
    }

    int32_t blocks_ = 0;
};

TEST_F(CameraTest, TheDefaultCameraShowsDepthZeroPixelForPixel)
{
    DefaultCamera(300, 60);
    const DrawSettings& s = g_drawSettings;
    // Distance 30 / tan 30 degrees = 51.96; aspect 60 / 300 = 0.2; cot 30 degrees = 1.7320508.
    const float d = 30.0f / 0.5773502588272095f;
    EXPECT_NEAR(d, 51.9615f, 1e-3f);
    EXPECT_NEAR(s.projection.m[0][0], 0.2f * 1.7320508f, 1e-5f);
    EXPECT_NEAR(s.projection.m[1][1], 1.7320508f, 1e-5f);
    EXPECT_NEAR(s.projection.m[2][2], (d + 20000.0f) / (d + 20000.0f - d * 0.1f), 1e-5f);
    EXPECT_FLOAT_EQ(s.projection.m[2][3], 1.0f);
    ASSERT_EQ(s.combinedValid, 1);
    // Points at depth 0 land on their own pixel, y turned down the screen.
    const float points[][2] = {{150, 30}, {160, 40}, {0, 0}, {300, 60}, {42.5f, 17}};
    for (const auto& p : points) {
        float x = 0;
        float y = 0;
        Project(s.combined, p[0], p[1], 0.0f, &x, &y);
        EXPECT_NEAR(x, p[0], 1e-3f) << p[0] << "," << p[1];
        EXPECT_NEAR(y, 60.0f - p[1], 1e-3f) << p[0] << "," << p[1];
    }
    // The camera's axes: right, up and forward along the world's axes.
    EXPECT_FLOAT_EQ(s.cameraAxes[0][0], 1.0f);
    EXPECT_FLOAT_EQ(s.cameraAxes[1][1], 1.0f);
    EXPECT_FLOAT_EQ(s.cameraAxes[2][2], 1.0f);
    EXPECT_FLOAT_EQ(s.cameraAxes[2][0], 0.0f);
}

TEST_F(CameraTest, MovingTheScreenCentreMovesThePicture)
{
    DefaultCamera(300, 60);
    SetCameraScreenCenter(100.0f, 45.0f);
    float x = 0;
    float y = 0;
    Project(g_drawSettings.combined, 150.0f, 30.0f, 0.0f, &x, &y);
    EXPECT_NEAR(x, 100.0f, 1e-3f);
    EXPECT_NEAR(y, 45.0f, 1e-3f);
    EXPECT_FLOAT_EQ(g_drawSettings.screenCenterX, 100.0f);
}

TEST_F(CameraTest, TheDeviceProjectionFollowsTheViewportThroughItsOwnMapping)
{
    UseDeviceCalls(&kRecorder);
    DefaultCamera(300, 60);
    const DrawSettings& s = g_drawSettings;
    ASSERT_TRUE(s_sent.transforms.count(kTsProjection));
    ASSERT_TRUE(s_sent.transforms.count(kTsView));
    // At the target's centre the viewport is the screen mapping: the device gets the projection.
    ExpectMatrixNear(s_sent.transforms[kTsProjection], s.projection, 1e-5f);
    ExpectMatrixNear(s_sent.transforms[kTsView], s.view, 1e-6f);
    // The library's vertex shaders read the same matrices transposed: the projection from
    // register 2, the view from register 6.
    const Matrix4x4& projection = s_sent.transforms[kTsProjection];
    const Matrix4x4& view = s_sent.transforms[kTsView];
    for (int32_t row = 0; row < 4; ++row) {
        for (int32_t column = 0; column < 4; ++column) {
            EXPECT_EQ(g_shaderState.vertexConstants[2 + row][column], projection.m[column][row]) << row << column;
            EXPECT_EQ(g_shaderState.vertexConstants[6 + row][column], view.m[column][row]) << row << column;
        }
    }
    // Elsewhere the device's projection, mapped by the device's own viewport, is the library's
    // projection and viewport.
    SetCameraScreenCenter(100.0f, 45.0f);
    ExpectMatrixNear(Multiply(s_sent.transforms[kTsProjection], s.screenMapping), Multiply(s.projection, s.viewport),
                     1e-3f);
}

TEST_F(CameraTest, ProjectionModesAndTheirSwitches)
{
    DefaultCamera(300, 60);
    float user[16] = {};
    for (int i = 0; i < 16; ++i) {
        user[i] = static_cast<float>(i + 1);
    }
    SetProjectionUserMatrix(user);
    EXPECT_EQ(g_drawSettings.projectionMode, 2);
    EXPECT_FLOAT_EQ(g_drawSettings.projection.m[3][3], 16.0f);
    SetProjectionNearFar(1.0f, 101.0f);
    EXPECT_FLOAT_EQ(g_drawSettings.projection.m[3][3], 16.0f) << "the user matrix stays as stored";
    // Back to the perspective projection.
    SetProjectionFieldOfView(1.5707964f);
    EXPECT_EQ(g_drawSettings.projectionMode, 0);
    EXPECT_NEAR(g_drawSettings.projection.m[1][1], 1.0f, 1e-5f);
    EXPECT_NEAR(g_drawSettings.projection.m[0][0], 0.2f, 1e-5f);
    EXPECT_NEAR(g_drawSettings.projection.m[3][2], -1.0f * 101.0f / 100.0f, 1e-5f);
    // Parallel: a view 10 high and 50 wide (aspect 0.2).
    SetProjectionParallel(10.0f);
    EXPECT_NEAR(g_drawSettings.projection.m[0][0], 2.0f / 50.0f, 1e-6f);
    EXPECT_NEAR(g_drawSettings.projection.m[1][1], 0.2f, 1e-6f);
    EXPECT_NEAR(g_drawSettings.projection.m[2][2], 1.0f / 100.0f, 1e-6f);
    // Near and far together give no projection: the last one stays.
    const Matrix4x4 kept = g_drawSettings.projection;
    SetProjectionNearFar(5.0f, 5.0f);
    ExpectMatrixNear(g_drawSettings.projection, kept, 0.0f);
}

// ---- Lights

TEST_F(CameraTest, ADirectionalLightIsNormalisedWithTheLibraryDefaults)
{
    const int32_t handle = CreateDirectionalLight(1.0f, -1.0f, 1.0f);
    const LightRecord* light = FindLightRecord(handle);
    ASSERT_NE(light, nullptr);
    EXPECT_EQ(light->light.type, 3u);
    EXPECT_NEAR(light->light.direction.x, 0.57735f, 1e-5f);
    EXPECT_NEAR(light->light.direction.y, -0.57735f, 1e-5f);
    EXPECT_NEAR(light->light.direction.z, 0.57735f, 1e-5f);
    EXPECT_FLOAT_EQ(light->light.range, 2000.0f);
    EXPECT_FLOAT_EQ(light->light.attenuation0, 0.1f);
    EXPECT_FLOAT_EQ(light->light.ambient[0], 0.33f);
    EXPECT_EQ(light->deviceIndex, -1);
    EXPECT_EQ(light->enabled, 1);
    EXPECT_EQ(g_lightState.lightsChanged, 1);
    // A direction of no length cannot be normalised.
    EXPECT_EQ(CreateDirectionalLight(0.0f, 0.0f, 0.0f), -1);
    EXPECT_EQ(LightTable()->liveCount, 1);
    // The default light is made once and kept.
    const int32_t first = CreateDefaultLight();
    EXPECT_EQ(CreateDefaultLight(), first);
    EXPECT_EQ(RemoveLightsExceptDefault(), 0);
    EXPECT_EQ(LightTable()->liveCount, 1);
    EXPECT_EQ(FindLightRecord(handle), nullptr);
    EXPECT_NE(FindLightRecord(first), nullptr);
}

TEST_F(CameraTest, LightsTakeConsecutiveDeviceIndicesAndGiveUpTheirsWhenDisabled)
{
    UseDeviceCalls(&kRecorder);
    const int32_t a = CreateDirectionalLight(1, 0, 0);
    const int32_t b = CreateDirectionalLight(0, 1, 0);
    const int32_t c = CreateDirectionalLight(0, 0, 1);
    ASSERT_EQ(PushLightsToDevice(), 0);
    ASSERT_EQ(s_sent.lights.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(s_sent.lights[i].first, i);
    }
    EXPECT_EQ(s_sent.renderStates[kRsLighting], 1u);
    // Nothing changed: nothing is sent again.
    s_sent = Sent{};
    PushLightsToDevice();
    EXPECT_TRUE(s_sent.lights.empty());

    ASSERT_EQ(SetLightEnable(b, 0), 0);
    PushLightsToDevice();
    ASSERT_EQ(s_sent.lights.size(), 1u) << "only the moved light is sent";
    EXPECT_EQ(s_sent.lights[0].first, 1u);
    EXPECT_FLOAT_EQ(s_sent.lights[0].second.direction.z, 1.0f) << "the third light at index 1";
    EXPECT_EQ(FindLightRecord(c)->deviceIndex, 1);
    EXPECT_EQ(FindLightRecord(b)->deviceIndex, -1);
    ASSERT_FALSE(s_sent.enables.empty());
    EXPECT_EQ(s_sent.enables.back(), (std::pair<uint32_t, int32_t>{2u, 0}));
    EXPECT_EQ(g_deviceLightCache.highestEnabled, 1);

    // Removing a light on the device frees its index at the next push; a forced push sends all.
    s_sent = Sent{};
    ASSERT_EQ(RemoveLightHandle(a), 0);
    EXPECT_EQ(RemoveLightHandle(a), -1);
    PushLightsToDevice();
    EXPECT_EQ(FindLightRecord(c)->deviceIndex, 0);
    EXPECT_EQ(s_sent.enables.back(), (std::pair<uint32_t, int32_t>{1u, 0}));
    s_sent = Sent{};
    MarkLightsForResend();
    g_drawSettings.lightingOff = 1;
    PushLightsToDevice();
    EXPECT_EQ(s_sent.lights.size(), 1u);
    EXPECT_EQ(s_sent.renderStates[kRsLighting], 0u);
}

// Six lights: all go to the device, but only lights 0 to 3 have shader registers, so the
// colour constants of lights 4 and 5 must not spill into other registers.
TEST_F(CameraTest, LightsPastTheCachedFourReachTheDeviceButNoShaderRegisters)
{
    UseDeviceCalls(&kRecorder);
    g_shaderState.programmable = 1;
    DeviceMaterial material{};
    for (int c = 0; c < 4; ++c) {
        material.diffuse[c] = 0.5f;
    }
    CacheDeviceMaterial(&material);
    for (int i = 0; i < 6; ++i) {
        ASSERT_GE(CreateDirectionalLight(1.0f, static_cast<float>(i), 0.0f), 0);
    }
    s_sent = Sent{};
    PushLightsToDevice();
    ASSERT_EQ(s_sent.lights.size(), 6u);
    EXPECT_EQ(s_sent.lights.back().first, 5u);
    EXPECT_EQ(g_deviceLightCache.highestEnabled, 5);
    // Lights 0 to 3 fill vertex registers 14 to 41; light 3's lit colour sits at 18 + 21.
    for (uint32_t reg : s_sent.vertexRegisters) {
        EXPECT_LT(reg, 42u) << "a register past the four shader lights";
    }
    for (uint32_t reg : s_sent.pixelRegisters) {
        EXPECT_LT(reg, 21u) << "a pixel register past the four shader lights";
    }
    ASSERT_TRUE(s_sent.vertex.count(39));
    EXPECT_FLOAT_EQ(s_sent.vertex[39][0], 0.5f) << "light 3's diffuse times the material's";
    EXPECT_FLOAT_EQ(g_shaderState.vertexConstants[46][0], 0.0f);
}

TEST_F(CameraTest, MaterialAndAmbientCaches)
{
    // Without a device nothing is sent.
    DeviceMaterial material{};
    material.power = 3.0f;
    EXPECT_EQ(CacheDeviceMaterial(&material), 0);
    EXPECT_EQ(CacheDeviceAmbient(0xFF336699), 0);
    EXPECT_EQ(g_deviceLightCache.materialSent, 0);

    UseDeviceCalls(&kRecorder);
    CacheDeviceMaterial(&material);
    CacheDeviceMaterial(&material);
    EXPECT_EQ(s_sent.materials.size(), 1u) << "an equal material is not sent again";
    material.power = 4.0f;
    CacheDeviceMaterial(&material);
    EXPECT_EQ(s_sent.materials.size(), 2u);
    CacheDeviceAmbient(0xFF336699);
    EXPECT_EQ(s_sent.renderStates[139], 0xFF336699u);
    EXPECT_NEAR(g_deviceLightCache.ambient[0], 0x33 / 255.0f, 1e-6f);
    EXPECT_NEAR(g_deviceLightCache.ambient[2], 0x99 / 255.0f, 1e-6f);
    EXPECT_TRUE(s_sent.vertexRegisters.empty()) << "no shader constants without programmable shaders";
}

TEST_F(CameraTest, TheLightTableHoldsFourThousandAndNinetySixLights)
{
    std::vector<int32_t> handles;
    for (;;) {
        const int32_t handle = AllocateLightHandle();
        if (handle < 0) {
            break;
        }
        handles.push_back(handle);
    }
    EXPECT_EQ(handles.size(), static_cast<size_t>(kLightCapacity));
    EXPECT_EQ(RemoveLightHandle(handles[100]), 0);
    EXPECT_GE(AllocateLightHandle(), 0) << "a freed slot is taken again";
}

}  // namespace
