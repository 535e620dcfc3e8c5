// The Direct3D 9 back end on Wine's real device: start, wipe, clip and present read back from
// the back buffer, the batch drawn before a read, device restarts with and without a mode
// change, a restart whose device does not come back, and the activation paths.
#include <gtest/gtest.h>

#include <objbase.h>

#include <cstring>
#include <string>
#include <vector>

#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/runtime/runtime.h"
#include "quarn/system/system.h"
#include "tests/core/log_capture.h"
#include "tests/graphics/screen_fixture.h"

namespace {

// Untextured pre-transformed vertices: position, rhw, colour.
struct ColorVertex {
    float x, y, z, rhw;
    uint32_t color;
};
static_assert(sizeof(ColorVertex) == 20, "vertex kind 0");

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(StartDeviceScreen(300, 60, L"device test"));
        // The activation handler, as the library's start-up registers it.
        RegisterRuntimeWindowHandlers();
    }
    void TearDown() override
    {
        g_deviceCreationRefused = 0;
        EndSoftwareScreen();
    }

    // Fills the rectangle through the vertex batch (two triangles in blend mode 0).
    static void FillThroughBatch(float left, float top, float right, float bottom, uint32_t color)
    {
        PrepareDrawStates(nullptr, nullptr, 0);
        const ColorVertex v[6] = {{left, top, 0, 1, color},  {right, top, 0, 1, color},    {left, bottom, 0, 1, color},
                                  {right, top, 0, 1, color}, {right, bottom, 0, 1, color}, {left, bottom, 0, 1, color}};
        ASSERT_EQ(AppendBatchVertices(kPtTriangleList, v, 6), 0);
    }

    // The back buffer's pixel as 0x00RRGGBB, read through a back-buffer lock.
    static uint32_t BackPixel(int32_t x, int32_t y) { return ReadBackScreen(x, y, 1, 1)[0]; }
};

TEST_F(DeviceTest, StartsOnTheDeviceWithItsFormatsAndDepthBuffer)
{
    const GraphicsDeviceState& g = g_graphicsDevice;
    ASSERT_NE(g.device, nullptr);
    EXPECT_NE(g.backBuffer, nullptr);
    EXPECT_NE(g.swapChain, nullptr);
    EXPECT_NE(g.depthBuffer, nullptr);
    EXPECT_EQ(g.depthWidth, 512);
    EXPECT_EQ(g.depthHeight, 64);
    EXPECT_GE(g.maxTextureSize, 256);
    EXPECT_NE(g_textureFormats[0], 0u);
    EXPECT_NE(g_textureFormats[3], 0u);
    EXPECT_EQ(g_textureFormats[14], GetConfiguredColorBits() == 32 ? g_textureFormats[12] : g_textureFormats[11]);
    EXPECT_NE(CurrentDeviceCalls(), nullptr);
    // Ending graphics releases every object of the device.
    ShutDownGraphics();
    EXPECT_EQ(g.device, nullptr);
    EXPECT_EQ(g.direct3d, nullptr);
    EXPECT_EQ(g.depthBuffer, nullptr);
    EXPECT_EQ(CurrentDeviceCalls(), nullptr);
    EXPECT_EQ(g_screenSettings.hardwareActive, 0);
}

TEST_F(DeviceTest, TheDeviceIsTheDefaultAndSoftwareRunsWhenAskedFor)
{
    ShutDownGraphics();
    g_system.started = 0;
    ASSERT_EQ(RequestHardwareRendering(0), 0);
    ASSERT_EQ(InitializeGraphics(), 0);
    EXPECT_EQ(g_screenSettings.hardwareActive, 0);
    EXPECT_EQ(g_graphicsDevice.device, nullptr);
    EXPECT_TRUE(TestMemImgValid(&g_screenImages.primary));

    ShutDownGraphics();
    ResetScreenSettings();
    ASSERT_EQ(ConfigureScreenMode(300, 60, 32, 60), 0);
    EXPECT_EQ(IsHardwareRenderingRequested(), 1);
    ASSERT_EQ(InitializeGraphics(), 0);
    EXPECT_EQ(g_screenSettings.hardwareActive, 1);
    EXPECT_NE(g_graphicsDevice.device, nullptr);
    g_system.started = 1;
}

TEST_F(DeviceTest, WipeClipAndPresentReadBack)
{
    FillThroughBatch(0, 0, 300, 60, 0xFFFF0000);
    // The lock draws what is batched before it reads.
    EXPECT_EQ(BackPixel(150, 30), 0xFF0000u);
    EXPECT_EQ(BackPixel(0, 0), 0xFF0000u);

    const PixelRect area{100, 10, 200, 50};
    WipeDrawScreen(&area);
    EXPECT_EQ(BackPixel(150, 30), 0u);
    EXPECT_EQ(BackPixel(99, 30), 0xFF0000u);
    EXPECT_EQ(BackPixel(200, 30), 0xFF0000u);

    // Drawing keeps to the clip rectangle.
    ASSERT_EQ(SetDrawClipRect(10, 10, 50, 30), 0);
    FillThroughBatch(0, 0, 300, 60, 0xFF00FF00);
    EXPECT_EQ(BackPixel(20, 20), 0x00FF00u);
    EXPECT_EQ(BackPixel(5, 5), 0xFF0000u);
    EXPECT_EQ(BackPixel(60, 20), 0xFF0000u);

    // A whole wipe clears outside the clip too, and leaves the viewport on the clip.
    WipeDrawScreen(nullptr);
    EXPECT_EQ(BackPixel(5, 5), 0u);
    EXPECT_EQ(g_deviceCache.viewport.x, 10u);
    EXPECT_EQ(g_deviceCache.viewport.width, 40u);

    // A present shows the picture; the back buffer keeps it (copy swap).
    SetDrawClipRect(0, 0, 300, 60);
    FillThroughBatch(0, 0, 300, 60, 0xFF0000FF);
    EXPECT_EQ(PresentScreen(), 0);
    EXPECT_EQ(BackPixel(299, 59), 0x0000FFu);
    EXPECT_EQ(g_screenSettings.lastPresent.right, 300);
}

// Wine's blank wait returns at once and Xvfb has no blank for the presentation interval to
// wait for: each present on the device then waits until its frame is due, a period after the
// last, as the software screen's do. Without waiting, presents leave the pacing alone.
TEST_F(DeviceTest, PresentsAreTimedWhereTheBlankWaitReturnsAtOnce)
{
    ASSERT_EQ(g_screenSettings.timedPacing, 1) << "this display's blank wait paces by itself";
    const int64_t period = g_screenSettings.refreshPeriod;
    ASSERT_GT(period, 0);
    for (int i = 0; i < 5; ++i) {
        const int64_t last = g_screenSettings.lastBlankTime;
        ASSERT_EQ(PresentScreen(), 0);
        EXPECT_GE(g_screenSettings.lastBlankTime - last, period);
        EXPECT_GE(ReadMicrosecondClock(1), g_screenSettings.lastBlankTime);
    }
    g_screenSettings.noVerticalWait = 1;
    const int64_t last = g_screenSettings.lastBlankTime;
    ASSERT_EQ(PresentScreen(), 0);
    EXPECT_EQ(g_screenSettings.lastBlankTime, last);
    g_screenSettings.noVerticalWait = 0;
}

TEST_F(DeviceTest, LayeredPresentReadsTheBackBuffer)
{
    TurnLayeredWindowOn(0);
    WipeDrawScreen(nullptr);
    FillThroughBatch(150, 0, 300, 60, 0xFF123456);
    ASSERT_EQ(SelectDrawTarget(kDrawTargetFrontScreen), 0);
    ASSERT_EQ(PresentScreen(), 0);
    const int32_t caption = g_system.captionOffset;
    ASSERT_NE(g_system.layeredPixels, nullptr);
    EXPECT_EQ(g_system.layeredHeight, 60 + caption);
    EXPECT_EQ(LayeredPixel(10, caption + 10), 0x00000000u);
    EXPECT_EQ(LayeredPixel(200, caption + 10), 0xFF123456u);
    // The lock was released and the target given back.
    EXPECT_EQ(g_graphicsDevice.lockedSurface, nullptr);
    EXPECT_EQ(g_graphicsDevice.lockSystemSurface, nullptr);
    EXPECT_EQ(GetDrawTarget(), kDrawTargetFrontScreen);
}

TEST_F(DeviceTest, LocksRefuseAreasOutsideTheTarget)
{
    BaseImage image{};
    const PixelRect cases[] = {{-1, 0, 10, 10}, {0, 0, 301, 10}, {0, 0, 10, 61}, {5, 5, 5, 10}, {10, 0, 5, 10}};
    for (const PixelRect& area : cases) {
        EXPECT_EQ(LockBackBuffer(&area, &image), -1) << area.left << "," << area.top << "," << area.right;
    }
    const PixelRect whole{0, 0, 300, 60};
    ASSERT_EQ(LockBackBuffer(&whole, &image), 0);
    EXPECT_EQ(image.width, 300);
    EXPECT_EQ(image.height, 60);
    EXPECT_GE(image.pitch, 300 * image.format.bytesPerPixel);
    // One lock at a time.
    EXPECT_EQ(LockBackBuffer(&whole, &image), -1);
    UnlockBackBuffer();
    EXPECT_EQ(LockBackBuffer(&whole, &image), 0);
    UnlockBackBuffer();
}

TEST_F(DeviceTest, RestartKeepingTheModeBringsTheDeviceBack)
{
    SetZFunc(3);
    SetCullMode(2);
    IDirect3DSurface9* oldBackBuffer = g_graphicsDevice.backBuffer;
    ASSERT_EQ(RestartDeviceKeepingMode(), 0);
    ASSERT_EQ(g_screenSettings.hardwareActive, 1);
    ASSERT_NE(g_graphicsDevice.device, nullptr);
    // The new device holds the cached states.
    DWORD value = 0;
    g_graphicsDevice.device->GetRenderState(D3DRS_ZFUNC, &value);
    EXPECT_EQ(value, 3u);
    g_graphicsDevice.device->GetRenderState(D3DRS_CULLMODE, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DCULL_CW));
    EXPECT_EQ(g_deviceCache.renderTarget, g_graphicsDevice.backBuffer);
    (void)oldBackBuffer;
    FillThroughBatch(0, 0, 300, 60, 0xFFFFFF00);
    EXPECT_EQ(BackPixel(100, 30), 0xFFFF00u);
}

TEST_F(DeviceTest, RestartWithAModeChangeMakesTheNewSize)
{
    ASSERT_EQ(RestartGraphicsDevice(1, 320, 100, -1, -1), 0);
    ASSERT_EQ(g_screenSettings.hardwareActive, 1);
    D3DSURFACE_DESC desc{};
    g_graphicsDevice.backBuffer->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 320u);
    EXPECT_EQ(desc.Height, 100u);
    EXPECT_EQ(g_graphicsDevice.depthHeight, 128);
    FillThroughBatch(0, 0, 320, 100, 0xFF00FFFF);
    EXPECT_EQ(BackPixel(319, 99), 0x00FFFFu);
}

TEST_F(DeviceTest, ARestartWithoutADeviceRunsOnTheSoftwareScreen)
{
    LogCapture log;
    g_deviceCreationRefused = 1;
    ASSERT_EQ(RestartDeviceKeepingMode(), 0);
    EXPECT_EQ(g_screenSettings.hardwareActive, 0);
    EXPECT_EQ(g_graphicsDevice.device, nullptr);
    // Software drawing has its screen to draw on.
    ASSERT_TRUE(TestMemImgValid(&g_screenImages.primary));
    EXPECT_EQ(g_drawSettings.softDrawTarget, &g_screenImages.primary);
    EXPECT_EQ(g_screenImages.primary.width, 300);
    EXPECT_EQ(WipeDrawScreen(nullptr), 0);
    EXPECT_EQ(PresentScreen(), 0);
}

TEST_F(DeviceTest, ActivationRestartsOnlyALostWindowedDevice)
{
    static int32_t restores = 0;
    restores = 0;
    InstallGraphRestoreHandler([]() -> int32_t { return ++restores; });
    IDirect3DDevice9* device = g_graphicsDevice.device;
    EXPECT_EQ(TestDevicePresent(), 0);
    SendMessageW(QueryMainWindow(), WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(g_graphicsDevice.device, device);
    EXPECT_EQ(restores, 0) << "a healthy device was restarted";
    EXPECT_EQ(g_screenSettings.hardwareActive, 1);
    InstallGraphRestoreHandler(nullptr);
}

TEST_F(DeviceTest, AWindowModeScreenChangeStartsTheDeviceAgain)
{
    ASSERT_EQ(ConfigureScreenMode(200, 80, 32, 60), 0);
    ASSERT_EQ(g_screenSettings.hardwareActive, 1);
    D3DSURFACE_DESC desc{};
    g_graphicsDevice.backBuffer->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 200u);
    EXPECT_EQ(desc.Height, 80u);
    FillThroughBatch(0, 0, 200, 80, 0xFFFF00FF);
    EXPECT_EQ(BackPixel(199, 79), 0xFF00FFu);
}

}  // namespace
