#include <gtest/gtest.h>

#include <cstring>

#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/render_backend.h"

namespace {

// Each test starts from a fresh draw state and an unset screen.
class DrawStateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetScreenSettings();
        ResetGraphicsState();
        ApplyDrawSettingDefaults();
    }
    void TearDown() override
    {
        DestroyAllGraphs();
        ResetScreenSettings();
    }
};

struct ColorCase {
    int bits;
    int red, green, blue;
    uint32_t packed;
    int backRed, backGreen, backBlue;  // what unpacking the packed value gives
};

TEST_F(DrawStateTest, PackAndUnpackScreenColors)
{
    const ColorCase cases[] = {
        {32, 255, 255, 255, 0xFFFFFFFF, 255, 255, 255},
        {32, 0, 0, 0, 0xFF000000, 0, 0, 0},
        {32, 200, 100, 50, 0xFFC86432, 200, 100, 50},
        {32, 1, 2, 3, 0xFF010203, 1, 2, 3},
        {16, 255, 255, 255, 0xFFFF, 255, 255, 255},
        {16, 0, 0, 0, 0x0000, 0, 0, 0},
        {16, 200, 100, 50, 0xCB26, 205, 101, 49},
        {16, 8, 4, 8, 0x0821, 8, 4, 8},
        {16, 7, 3, 7, 0x0000, 0, 0, 0},  // below one step of each field
        {16, 255, 0, 0, 0xF800, 255, 0, 0},
        {16, 0, 255, 0, 0x07E0, 0, 255, 0},
        {16, 0, 0, 255, 0x001F, 0, 0, 255},
    };
    for (const ColorCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits " << c.red << "," << c.green << "," << c.blue);
        g_screenSettings.colorBits = c.bits;
        EXPECT_EQ(PackScreenColor(c.red, c.green, c.blue), c.packed);
        int r = -1, g = -1, b = -1;
        EXPECT_EQ(UnpackScreenColor(c.packed, &r, &g, &b), 0);
        EXPECT_EQ(r, c.backRed);
        EXPECT_EQ(g, c.backGreen);
        EXPECT_EQ(b, c.backBlue);
    }
}

TEST_F(DrawStateTest, UnsetScreenPacksSixteenBitsAndUnpackIgnoresUnusedBits)
{
    EXPECT_EQ(PackScreenColor(255, 255, 255), 0xFFFFu);
    int r = 0, g = 0, b = 0;
    // A 6-bit green field of 32 gives 129; bits above the 16 are not looked at.
    UnpackScreenColor(0xABCD0400, &r, &g, &b);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(g, 129);
    EXPECT_EQ(b, 0);
    g_screenSettings.colorBits = 32;
    UnpackScreenColor(0x00102030, &r, &g, &b);
    EXPECT_EQ(r, 0x10);
    EXPECT_EQ(g, 0x20);
    EXPECT_EQ(b, 0x30);
}

TEST_F(DrawStateTest, OutOfRangeChannelsAreClamped)
{
    g_screenSettings.colorBits = 32;
    EXPECT_EQ(PackScreenColor(300, -4, 256), 0xFFFF00FFu);
}

TEST_F(DrawStateTest, BlendModeClampsItsParameterAndDrivesVertexAlpha)
{
    EXPECT_EQ(SelectBlendMode(1, 300), 0);
    EXPECT_EQ(g_drawSettings.blendMode, 1);
    EXPECT_EQ(g_drawSettings.blendParam, 255);
    SelectBlendMode(1, -5);
    EXPECT_EQ(g_drawSettings.blendParam, 0);
    SelectBlendMode(1, 128);
    EXPECT_EQ(ComputeBatchVertexColor() >> 24, 0x80u);
    SelectBlendMode(0, 128);
    EXPECT_EQ(ComputeBatchVertexColor() >> 24, 0xFFu);
    // Modes beyond the known ones are stored as they are.
    SelectBlendMode(42, 7);
    EXPECT_EQ(g_drawSettings.blendMode, 42);
}

TEST_F(DrawStateTest, BrightColorIsClampedAndReadAsOneWord)
{
    EXPECT_EQ(StoreBrightChannels(300, 128, -1), 0);
    EXPECT_EQ(DrawBrightRgb(g_drawSettings), 0xFF8000u);
    StoreBrightRgb(0xAA123456);  // the top byte is dropped
    EXPECT_EQ(DrawBrightRgb(g_drawSettings), 0x123456u);
    EXPECT_EQ(ComputeBatchVertexColor() & 0xFFFFFF, 0x123456u);
}

TEST_F(DrawStateTest, DisabledDrawingKeepsBlendAndFilterButNotBright)
{
    g_drawSettings.drawingDisabled = 1;
    EXPECT_EQ(SelectBlendMode(2, 99), 0);
    EXPECT_EQ(SetTextureFilterMode(1), 0);
    EXPECT_EQ(SelectBlendGraph(-1, 10, 10), 0);
    EXPECT_EQ(g_drawSettings.blendMode, 0);
    EXPECT_EQ(g_drawSettings.blendParam, 0);
    EXPECT_EQ(GetTextureFilterMode(), 0);
    EXPECT_EQ(g_drawSettings.blendBorderPos, 0);
    StoreBrightChannels(1, 2, 3);
    EXPECT_EQ(DrawBrightRgb(g_drawSettings), 0x010203u);
}

TEST_F(DrawStateTest, FilterAndFogAreStored)
{
    SetTextureFilterMode(7);  // unknown modes are kept as they are
    EXPECT_EQ(GetTextureFilterMode(), 7);
    SetFogMode(1);
    SetFogColor(0x12, 0x34, 0x56);
    SetFogStartEnd(2.5f, 99.0f);
    EXPECT_EQ(g_drawSettings.fogMode, 1);
    EXPECT_EQ(g_drawSettings.fogColor, 0xFF123456u);
    EXPECT_EQ(g_drawSettings.fogStart, 2.5f);
    EXPECT_EQ(g_drawSettings.fogEnd, 99.0f);
}

TEST_F(DrawStateTest, HardwareRequestBeforeStartUp)
{
    EXPECT_EQ(IsHardwareRenderingRequested(), 1);
    EXPECT_EQ(RequestHardwareRendering(0), 0);
    EXPECT_EQ(g_screenSettings.softwareOnly, 1);
    EXPECT_EQ(IsHardwareRenderingRequested(), 0);
    EXPECT_EQ(RequestHardwareRendering(5), 0);
    EXPECT_EQ(IsHardwareRenderingRequested(), 1);
}

TEST_F(DrawStateTest, BlendGraphIsCheckedClampedAndFollowsTheGraph)
{
    // No graph is live under a handle of the graph type: refused and nothing stored.
    EXPECT_EQ(SelectBlendGraph(MakeHandle(kHandleTypeGraph, 3, 7), 10, 20), -1);
    EXPECT_EQ(g_drawSettings.blendGraph, -1);

    const int32_t handle = CreateBlankGraph(4, 4);
    ASSERT_GE(handle, 0);
    GraphDrawInfo info{};
    ASSERT_EQ(DescribeGraph(handle, &info), 0);
    EXPECT_EQ(SelectBlendGraph(handle, 400, -3), 0);
    EXPECT_EQ(g_drawSettings.blendGraph, handle);
    EXPECT_EQ(g_drawSettings.blendBorderPos, 255);
    EXPECT_EQ(g_drawSettings.blendBorderRange, 0);
    ASSERT_NE(info.sharedImage, nullptr);
    EXPECT_EQ(SelectedBlendMemImg(), info.sharedImage);

    // The mask ramp follows the position and range.
    SelectBlendGraph(handle, 128, 64);
    uint8_t ramp[256];
    std::memcpy(ramp, BlendMaskAlphaTable, sizeof(ramp));
    BuildBlendMaskAlphaTable(128, 64);
    EXPECT_EQ(std::memcmp(ramp, BlendMaskAlphaTable, sizeof(ramp)), 0);

    // A blend graph removed since it was selected weighs nothing.
    ASSERT_EQ(DestroyGraph(handle), 0);
    EXPECT_EQ(SelectedBlendMemImg(), nullptr);
    EXPECT_EQ(SelectBlendGraph(-1, 0, 0), 0);
    EXPECT_EQ(g_drawSettings.blendGraph, -1);
}

TEST_F(DrawStateTest, ResetKeepsOnlyTheRestoreRoutine)
{
    static int32_t (*const routine)() = [] { return 0; };
    g_screenSettings.width = 300;
    g_screenSettings.height = 60;
    std::memset(static_cast<void*>(&g_drawSettings), 0x5A, sizeof(g_drawSettings));
    g_drawSettings.graphRestoreRoutine = routine;
    ApplyDrawSettingDefaults();
    const DrawSettings& s = g_drawSettings;
    EXPECT_EQ(s.graphRestoreRoutine, routine);
    EXPECT_EQ(s.blendGraph, -1);
    EXPECT_EQ(s.blendMode, 0);
    EXPECT_EQ(s.blendParam, 0);
    EXPECT_EQ(s.filterMode, 0);
    EXPECT_EQ(s.maxAnisotropy, 1);
    EXPECT_EQ(s.brightColor, kNoBrightColor);
    EXPECT_EQ(s.fogMode, 3);
    EXPECT_EQ(s.fogColor, 0xFFFFFFFFu);
    EXPECT_EQ(s.fogStart, 0.0f);
    EXPECT_EQ(s.fogEnd, 1500.0f);
    for (int i = 0; i < kSamplerStages; ++i) {
        EXPECT_EQ(s.addressU[i], 3);
        EXPECT_EQ(s.addressV[i], 3);
    }
    EXPECT_EQ(s.depth2d.compare, 4);
    EXPECT_EQ(s.depth3d.compare, 4);
    EXPECT_EQ(s.depth2d.test + s.depth2d.write + s.depth3d.test + s.depth3d.write, 0);
    EXPECT_EQ(s.maskDrawing, 1);
    EXPECT_EQ(s.maskingActive, 0);
    EXPECT_EQ(s.drawingDisabled, 0);
    EXPECT_EQ(s.projectionNear, 10.0f);
    EXPECT_EQ(s.projectionFar, 10000.0f);
    EXPECT_FLOAT_EQ(s.projectionFov, 1.0471976f);
    EXPECT_EQ(s.projectionAspectScale, 1.0f);
    EXPECT_EQ(s.projectionParallelSize, 1.0f);
    EXPECT_EQ(s.projection.m[0][0], 1.0f);
    EXPECT_EQ(s.projection.m[0][1], 0.0f);
    EXPECT_EQ(s.material.diffuse[0], 0.8f);
    EXPECT_EQ(s.material.diffuse[3], 1.0f);
    EXPECT_EQ(s.material.specular[3], 0.0f);
    EXPECT_EQ(s.material.ambient[0], 0.0f);
    EXPECT_EQ(s.material.power, 20.0f);
    EXPECT_EQ(s.materialInUse, 1);
    EXPECT_EQ(s.newGraphAlphaTest, 1);
    EXPECT_FLOAT_EQ(s.quadEdgeOffset, 0.2f);
    EXPECT_EQ(s.drawTarget, kDrawTargetBackScreen);
    EXPECT_EQ(s.drawTargetWidth, 300);
    EXPECT_EQ(s.drawTargetHeight, 60);
    EXPECT_EQ(s.clip.left, 0);
    EXPECT_EQ(s.clip.top, 0);
    EXPECT_EQ(s.clip.right, 300);
    EXPECT_EQ(s.clip.bottom, 60);
    EXPECT_EQ(s.emptyClip, 0);
}

TEST_F(DrawStateTest, ClipIsOrderedClampedAndFlaggedWhenEmpty)
{
    g_drawSettings.drawTargetWidth = 100;
    g_drawSettings.drawTargetHeight = 50;
    StoreDrawClipRect(120, 40, -10, 5);
    EXPECT_EQ(g_drawSettings.clip.left, 0);
    EXPECT_EQ(g_drawSettings.clip.top, 5);
    EXPECT_EQ(g_drawSettings.clip.right, 100);
    EXPECT_EQ(g_drawSettings.clip.bottom, 40);
    EXPECT_EQ(g_drawSettings.emptyClip, 0);
    StoreDrawClipRect(10, 10, 10, 20);
    EXPECT_EQ(g_drawSettings.emptyClip, 1);
    StoreDrawClipRect(200, 0, 300, 10);  // wholly outside the target
    EXPECT_EQ(g_drawSettings.emptyClip, 1);
}

}  // namespace
