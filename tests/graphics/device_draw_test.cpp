// Drawing on Wine's real Direct3D 9 device beside the software renderer: each scene is drawn
// once on the software screen and once on the device, both read back through the back-buffer
// lock, and the pixels compared (exactly where both renderers sample whole texels, within a
// stated tolerance where the device's blending rounds differently). Graph textures larger than
// the device allows, a restart that restores every graph, text through the glyph texture and
// the subtract emulation.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "quarn/font/font.h"
#include "quarn/graphics/device_state.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/runtime/runtime.h"
#include "tests/graphics/screen_fixture.h"

namespace {

constexpr int32_t kW = 160;
constexpr int32_t kH = 60;

// A picture whose pixel (x, y) is (16 + x, 16 + y, 0x77), black at the one given pixel.
BaseImage CodedPicture(int32_t width, int32_t height, int32_t zeroX = -1, int32_t zeroY = -1, int32_t alpha = -1)
{
    BaseImage image{};
    EXPECT_EQ(AllocXrgbBaseImage(width, height, &image), 0);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const bool zero = x == zeroX && y == zeroY;
            WriteBaseImagePixel(&image, x, y, zero ? 0 : (16 + x) & 0xFF, zero ? 0 : (16 + y) & 0xFF, zero ? 0 : 0x77,
                                alpha < 0 ? 255 : alpha);
        }
    }
    return image;
}

int32_t CodedGraph(int32_t width, int32_t height, int32_t zeroX = -1, int32_t zeroY = -1)
{
    BaseImage image = CodedPicture(width, height, zeroX, zeroY);
    const int32_t graph = ConvertBaseImageToGraph(&image, nullptr, 0, 0, 0);
    DiscardBaseImage(&image);
    return graph;
}

// The whole draw target as 0x00RRGGBB, read through the back-buffer lock.
std::vector<uint32_t> ReadScreen()
{
    std::vector<uint32_t> out(static_cast<size_t>(kW) * kH, 0xDEADBEEF);
    const PixelRect area{0, 0, kW, kH};
    BaseImage image{};
    if (LockBackBuffer(&area, &image) != 0) {
        ADD_FAILURE() << "lock failed";
        return out;
    }
    for (int32_t y = 0; y < kH; ++y) {
        for (int32_t x = 0; x < kW; ++x) {
            uint32_t value = 0;
            std::memcpy(&value, image.pixels + ptrdiff_t{image.pitch} * y + ptrdiff_t{x} * image.format.bytesPerPixel,
                        static_cast<size_t>(image.format.bytesPerPixel));
            int r = 0;
            int g = 0;
            int b = 0;
            DecodePixelColor(&image.format, value, &r, &g, &b, nullptr);
            out[static_cast<size_t>(y) * kW + x] = static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 |
                                                   static_cast<uint32_t>(b);
        }
    }
    UnlockBackBuffer();
    return out;
}

// Starts graphics on the device (hardware 1) or the software screen, fills the screen grey,
// runs the scene and reads the picture back.
std::vector<uint32_t> DrawScene(int32_t hardware, const std::function<void()>& scene)
{
    std::vector<uint32_t> picture;
    PrepareSoftwareScreen(kW, kH, L"device draw test");
    RequestHardwareRendering(hardware);
    StartWindowAndGraphics();
    if (g_screenSettings.hardwareActive != hardware) {
        ADD_FAILURE() << "renderer " << hardware << " did not start";
    } else {
        SelectDrawTarget(kDrawTargetBackScreen);
        SetDrawClipRect(0, 0, kW, kH);
        WipeDrawScreen(nullptr);
        const int32_t grey = CreateBlankGraph(kW, kH);
        PaintGraphColor(grey, 96, 96, 96, 255);
        BaseImage fill{};
        AllocXrgbBaseImage(kW, kH, &fill);
        for (int32_t y = 0; y < kH; ++y) {
            for (int32_t x = 0; x < kW; ++x) WriteBaseImagePixel(&fill, x, y, 96, 96, 96, 255);
        }
        const int32_t backdrop = ConvertBaseImageToGraph(&fill, nullptr, 0, 0, 0);
        DiscardBaseImage(&fill);
        DrawGraphAt(0, 0, backdrop, 0);
        DestroyGraph(backdrop);
        DestroyGraph(grey);
        scene();
        picture = ReadScreen();
    }
    ShutDownGraphics();
    EndWindowAndState();
    return picture;
}

// Pixels whose channels differ by more than the tolerance.
int32_t CountDifferences(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int32_t tolerance,
                         std::string* first)
{
    int32_t count = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        bool differs = false;
        for (int32_t shift = 0; shift <= 16; shift += 8) {
            const int32_t d = static_cast<int32_t>(a[i] >> shift & 0xFF) - static_cast<int32_t>(b[i] >> shift & 0xFF);
            differs = differs || d > tolerance || d < -tolerance;
        }
        if (differs && count++ == 0 && first != nullptr) {
            char text[96];
            std::snprintf(text, sizeof text, "first at (%d, %d): software %06X, device %06X", static_cast<int>(i % kW),
                          static_cast<int>(i / kW), a[i], b[i]);
            *first = text;
        }
    }
    return count;
}

struct Scene {
    const char* name;
    int32_t tolerance;  // per channel
    std::function<void()> draw;
};

// Each scene on both renderers. Unscaled, mirrored, portion and clipped draws sample whole
// texels and copy them unblended: exact. Blended modes allow 2 per channel: the device
// rounds the parameter's weighting (a / 255) where the software tables truncate.
TEST(DeviceDrawing, EveryGraphDrawMatchesTheSoftwareRenderer)
{
    const std::vector<Scene> scenes = {
        {"point", 0, [] { DrawGraphAt(5, 7, CodedGraph(40, 20), 0); }},
        {"transparent black", 0, [] { DrawGraphAt(5, 7, CodedGraph(40, 20, 3, 4), 1); }},
        {"opaque black", 0, [] { DrawGraphAt(5, 7, CodedGraph(40, 20, 3, 4), 0); }},
        {"mirrored", 0, [] { DrawGraphMirrored(50, 3, CodedGraph(40, 20), 0); }},
        {"stretched whole", 0, [] { DrawGraphStretched(10, 10, 50, 30, CodedGraph(40, 20), 0); }},
        {"portion", 0, [] { DrawGraphPortion(20, 20, 5, 6, 12, 9, CodedGraph(40, 20), 0, 0); }},
        {"portion mirrored", 0, [] { DrawGraphPortion(20, 20, 5, 6, 12, 9, CodedGraph(40, 20), 0, 1); }},
        {"clipped", 0,
         [] {
             SetDrawClipRect(12, 9, 30, 21);
             DrawGraphAt(5, 7, CodedGraph(40, 20), 0);
             SetDrawClipRect(0, 0, kW, kH);
         }},
        {"off the left edge", 0, [] { DrawGraphAt(-13, 40, CodedGraph(40, 20), 0); }},
        {"sub-graph", 0, [] { DrawGraphAt(70, 5, CreateSubGraph(8, 4, 20, 10, CodedGraph(40, 20)), 0); }},
        // Free corners take no half-pixel shift on the device: its pixel centres sample half a
        // texel earlier than the software triangles, one code step (1 per channel) apart.
        {"four corners upright", 1, [] { DrawGraphFourCorners(30, 5, 70, 5, 70, 25, 30, 25, CodedGraph(40, 20), 0); }},
        {"alpha blend", 2,
         [] {
             SelectBlendMode(1, 128);
             DrawGraphAt(5, 7, CodedGraph(40, 20), 0);
             SelectBlendMode(0, 255);
         }},
        {"add", 2,
         [] {
             SelectBlendMode(2, 200);
             DrawGraphAt(5, 7, CodedGraph(40, 20), 0);
             SelectBlendMode(0, 255);
         }},
        {"subtract", 2,
         [] {
             SelectBlendMode(3, 255);
             DrawGraphAt(5, 7, CodedGraph(40, 20), 0);
             SelectBlendMode(0, 255);
         }},
        {"bright colour", 2,
         [] {
             StoreBrightRgb(0x8040FF);
             DrawGraphAt(5, 7, CodedGraph(40, 20), 0);
             StoreBrightRgb(0xFFFFFF);
         }},
        {"alpha channel", 2,
         [] {
             BaseImage image = CodedPicture(40, 20, -1, -1, 128);
             DrawGraphAt(5, 7, ConvertBaseImageToGraph(&image, nullptr, 0, 0, 0), 1);
             DiscardBaseImage(&image);
         }},
    };
    for (const Scene& scene : scenes) {
        const std::vector<uint32_t> software = DrawScene(0, scene.draw);
        const std::vector<uint32_t> device = DrawScene(1, scene.draw);
        ASSERT_EQ(software.size(), device.size()) << scene.name;
        // The scene drew something over the grey backdrop.
        int32_t drawn = 0;
        for (uint32_t p : software) drawn += p != 0x606060 ? 1 : 0;
        EXPECT_GT(drawn, 0) << scene.name;
        std::string first;
        EXPECT_EQ(CountDifferences(software, device, scene.tolerance, &first), 0) << scene.name << ": " << first;
    }
}

class DeviceGraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(PrepareSoftwareScreen(kW, kH, L"device graph test"));
        ASSERT_EQ(RequestHardwareRendering(1), 0);
        ASSERT_NO_FATAL_FAILURE(StartWindowAndGraphics());
        ASSERT_EQ(g_screenSettings.hardwareActive, 1);
        SelectDrawTarget(kDrawTargetBackScreen);
    }
    void TearDown() override
    {
        InstallGraphRestoreHandler(nullptr);
        ShutDownGraphics();
        EndWindowAndState();
    }
    static uint32_t Expected(int32_t x, int32_t y)
    {
        return static_cast<uint32_t>((16 + x) & 0xFF) << 16 | static_cast<uint32_t>((16 + y) & 0xFF) << 8 | 0x77;
    }
};

TEST_F(DeviceGraphTest, TexturesLiveInTheDefaultPoolWithASystemMemoryTwin)
{
    const int32_t graph = CodedGraph(40, 20);
    const GraphRecord* record = FindGraphRecord(graph);
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->image->request.hardware, 1);
    ASSERT_GE(record->image->tileCount, 1);
    const TextureTile& tile = record->image->tiles[0];
    ASSERT_NE(tile.texture, nullptr);
    D3DSURFACE_DESC desc{};
    tile.texture->GetLevelDesc(0, &desc);
    if (g_graphicsDevice.direct3dEx != nullptr) {
        EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
        ASSERT_NE(tile.twin, nullptr);
        D3DSURFACE_DESC twin{};
        tile.twin->GetLevelDesc(0, &twin);
        EXPECT_EQ(twin.Pool, D3DPOOL_SYSTEMMEM);
    } else {
        EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    }
    EXPECT_EQ(tile.textureWidth, 64);
    EXPECT_EQ(tile.textureHeight, 32);
}

TEST_F(DeviceGraphTest, AGraphLargerThanTheLargestTextureIsTiled)
{
    const int32_t kept = g_graphicsDevice.maxTextureSize;
    g_graphicsDevice.maxTextureSize = 32;
    const int32_t graph = CodedGraph(150, 50);
    g_graphicsDevice.maxTextureSize = kept;
    const GraphRecord* record = FindGraphRecord(graph);
    ASSERT_NE(record, nullptr);
    EXPECT_GT(record->pieceCount, 4);
    for (int32_t i = 0; i < record->image->tileCount; ++i) {
        EXPECT_LE(record->image->tiles[i].textureWidth, 32);
        EXPECT_LE(record->image->tiles[i].textureHeight, 32);
    }
    WipeDrawScreen(nullptr);
    ASSERT_EQ(DrawGraphAt(3, 4, graph, 0), 0);
    const std::vector<uint32_t> screen = ReadScreen();
    int32_t wrong = 0;
    for (int32_t y = 0; y < 50; ++y) {
        for (int32_t x = 0; x < 150; ++x) {
            wrong += screen[static_cast<size_t>(y + 4) * kW + x + 3] != Expected(x, y) ? 1 : 0;
        }
    }
    EXPECT_EQ(wrong, 0);
}

// The device restarts as after a loss: every graph's textures go with the old device and come
// back on the new one, filled again by the restore routine.
int32_t s_restoredGraph = -1;
int32_t s_restoreRuns = 0;
int32_t RefillCodedGraph()
{
    ++s_restoreRuns;
    BaseImage image = CodedPicture(40, 20);
    RefillGraphFromBaseImage(&image, nullptr, s_restoredGraph, 0, 0, 0);
    DiscardBaseImage(&image);
    return 0;
}

TEST_F(DeviceGraphTest, ARestartRecreatesEveryGraphTextureAndRunsTheRestore)
{
    s_restoredGraph = CodedGraph(40, 20);
    const int32_t unrestored = CodedGraph(40, 20);
    s_restoreRuns = 0;
    InstallGraphRestoreHandler(RefillCodedGraph);
    IDirect3DDevice9* before = g_graphicsDevice.device;
    ASSERT_EQ(RestartDeviceKeepingMode(), 0);
    ASSERT_EQ(g_screenSettings.hardwareActive, 1);
    EXPECT_NE(g_graphicsDevice.device, nullptr);
    (void)before;
    EXPECT_EQ(s_restoreRuns, 1);
    for (int32_t graph : {s_restoredGraph, unrestored}) {
        const GraphRecord* record = FindGraphRecord(graph);
        ASSERT_NE(record, nullptr);
        ASSERT_NE(record->image->tiles[0].texture, nullptr);
        IDirect3DDevice9* owner = nullptr;
        record->image->tiles[0].texture->GetDevice(&owner);
        EXPECT_EQ(owner, g_graphicsDevice.device);
        if (owner != nullptr) owner->Release();
    }
    WipeDrawScreen(nullptr);
    DrawGraphAt(0, 0, s_restoredGraph, 0);
    DrawGraphAt(50, 0, unrestored, 0);
    const std::vector<uint32_t> screen = ReadScreen();
    EXPECT_EQ(screen[static_cast<size_t>(5) * kW + 7], Expected(7, 5));
    // A graph without a file or a routine for it is there again, empty (black).
    EXPECT_EQ(screen[static_cast<size_t>(5) * kW + 57], 0u);
}

TEST_F(DeviceGraphTest, SubtractIsEmulatedWhereTheDeviceLacksTheBlendOperation)
{
    const int32_t kept = g_graphicsDevice.blendOpCapable;
    g_graphicsDevice.blendOpCapable = 0;
    g_deviceBlendOpCapable = 0;
    BaseImage grey{};
    ASSERT_EQ(AllocXrgbBaseImage(20, 10, &grey), 0);
    BaseImage white{};
    ASSERT_EQ(AllocXrgbBaseImage(20, 10, &white), 0);
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t x = 0; x < 20; ++x) {
            WriteBaseImagePixel(&grey, x, y, 128, 100, 60, 255);
            WriteBaseImagePixel(&white, x, y, 40, 255, 10, 255);
        }
    }
    const int32_t under = ConvertBaseImageToGraph(&grey, nullptr, 0, 0, 0);
    const int32_t over = ConvertBaseImageToGraph(&white, nullptr, 0, 0, 0);
    DiscardBaseImage(&grey);
    DiscardBaseImage(&white);
    WipeDrawScreen(nullptr);
    DrawGraphAt(10, 10, under, 0);
    SelectBlendMode(3, 255);
    DrawGraphAt(10, 10, over, 0);
    SelectBlendMode(0, 255);
    const std::vector<uint32_t> screen = ReadScreen();
    const uint32_t p = screen[static_cast<size_t>(15) * kW + 15];
    EXPECT_NEAR(static_cast<int>(p >> 16 & 0xFF), 88, 2);
    EXPECT_NEAR(static_cast<int>(p >> 8 & 0xFF), 0, 2);
    EXPECT_NEAR(static_cast<int>(p & 0xFF), 50, 2);
    // The mode and the bright colour are as the caller left them.
    EXPECT_EQ(g_drawSettings.blendMode, 0);
    EXPECT_EQ(DrawBrightRgb(g_drawSettings), 0xFFFFFFu);
    g_graphicsDevice.blendOpCapable = kept;
    g_deviceBlendOpCapable = kept;
}

TEST_F(DeviceGraphTest, ScreenAreasCopyIntoGraphs)
{
    const int32_t source = CodedGraph(40, 20);
    WipeDrawScreen(nullptr);
    DrawGraphAt(0, 0, source, 0);
    const int32_t copy = CreateBlankGraph(10, 5);
    EXPECT_EQ(CopyScreenAreaToGraph(4, 3, 14, 8, copy), 0);
    EXPECT_EQ(CopyScreenAreaToGraph(4, 3, 15, 8, copy), -1);  // not the graph's size
    EXPECT_EQ(CopyScreenAreaToGraph(-1, 3, 9, 8, copy), -1);
    EXPECT_EQ(CopyScreenAreaToGraph(4, 3, 14, 8, -1), -1);
    WipeDrawScreen(nullptr);
    DrawGraphAt(100, 30, copy, 0);
    const std::vector<uint32_t> screen = ReadScreen();
    EXPECT_EQ(screen[static_cast<size_t>(30) * kW + 100], Expected(4, 3));
    EXPECT_EQ(screen[static_cast<size_t>(34) * kW + 109], Expected(13, 7));
}

TEST_F(DeviceGraphTest, TextDrawsThroughTheGlyphTexture)
{
    const int32_t font = CreateFontToHandle(L"", 16, 6, kFontAntialiased, -1, -1, 0, -1, -1);
    ASSERT_GE(font, 0);
    const FontRecord* record = GetFontRecord(font);
    ASSERT_EQ(record->textureCache, 1);
    ASSERT_GE(record->cacheGraph, 0);
    WipeDrawScreen(nullptr);
    EXPECT_EQ(DrawTextWithFont(4, 4, L"W88", PackScreenColor(255, 255, 0), font, 0, 0), 0);
    const std::vector<uint32_t> screen = ReadScreen();
    int32_t lit = 0;
    int32_t outside = 0;
    for (int32_t y = 0; y < kH; ++y) {
        for (int32_t x = 0; x < kW; ++x) {
            const uint32_t p = screen[static_cast<size_t>(y) * kW + x];
            if (p == 0) continue;
            (x >= 4 && x < 60 && y >= 4 && y < 26 ? lit : outside) += 1;
            EXPECT_EQ(p & 0xFF, 0u) << "yellow text has no blue, at " << x << "," << y;
        }
    }
    EXPECT_GT(lit, 40);
    EXPECT_EQ(outside, 0);
    DestroyFontHandle(font);
}

}  // namespace
