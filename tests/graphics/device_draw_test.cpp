// Drawing on Wine's real Direct3D 9 device beside the software renderer: each scene is drawn
// once on the software screen and once on the device, both read back through the back-buffer
// lock, and the pixels compared (exactly where both renderers sample whole texels, within a
// stated tolerance where the device's blending rounds differently). Graph textures larger than
// the device allows, a restart that restores every graph, text through the glyph texture and
// the subtract emulation.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "quarn/font/font.h"
#include "quarn/graphics/d3d9/device_graph.h"
#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/graphics/mask.h"
#include "quarn/runtime/runtime.h"
#include "tests/core/log_capture.h"
#include "tests/graphics/screen_fixture.h"
#include "tests/wait_scale.h"

namespace {

constexpr int32_t kW = 160;
constexpr int32_t kH = 60;

// A picture whose pixel (x, y) is (16 + x, 16 + y, 0x77), black at the one given pixel.
BaseImage CodedPicture(int32_t width, int32_t height, int32_t zeroX = -1, int32_t zeroY = -1, int32_t alpha = -1)
{
    BaseImage image{};
    EXPECT_EQ(AllocXrgbBaseImage(width, height, &image), 0);
    if (alpha >= 0) SetupArgb8888Format(&image.format);
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

// A coded graph made while the device's largest texture is forced to maxTexture texels, so
// that it lies in tiles of that size.
int32_t TiledCodedGraph(int32_t width, int32_t height, int32_t maxTexture)
{
    const int32_t kept = g_graphicsDevice.maxTextureSize;
    g_graphicsDevice.maxTextureSize = maxTexture;
    const int32_t graph = CodedGraph(width, height);
    g_graphicsDevice.maxTextureSize = kept;
    return graph;
}

// The whole draw target as 0x00RRGGBB.
std::vector<uint32_t> ReadScreen() { return ReadBackScreen(0, 0, kW, kH); }

// Starts graphics on the device (hardware 1) or the software screen once, and for each scene
// fills the screen grey, runs the scene and reads the picture back. One start serves every
// scene: a start of the device costs seconds under an emulator, a scene milliseconds.
std::vector<std::vector<uint32_t>> DrawScenes(int32_t hardware, const std::vector<std::function<void()>>& scenes)
{
    std::vector<std::vector<uint32_t>> pictures(scenes.size());
    PrepareSoftwareScreen(kW, kH, L"device draw test");
    RequestHardwareRendering(hardware);
    StartWindowAndGraphics();
    if (g_screenSettings.hardwareActive != hardware) {
        ADD_FAILURE() << "renderer " << hardware << " did not start";
    } else {
        BaseImage fill{};
        AllocXrgbBaseImage(kW, kH, &fill);
        for (int32_t y = 0; y < kH; ++y) {
            for (int32_t x = 0; x < kW; ++x) WriteBaseImagePixel(&fill, x, y, 96, 96, 96, 255);
        }
        const int32_t backdrop = ConvertBaseImageToGraph(&fill, nullptr, 0, 0, 0);
        DiscardBaseImage(&fill);
        for (size_t i = 0; i < scenes.size(); ++i) {
            // Each scene starts with mask use on, as a start leaves it: ending a mask screen
            // also ends its use, so a scene after a masked one would draw unmasked.
            g_drawSettings.maskDrawing = 1;
            SelectDrawTarget(kDrawTargetBackScreen);
            SetDrawClipRect(0, 0, kW, kH);
            WipeDrawScreen(nullptr);
            DrawGraphAt(0, 0, backdrop, 0);
            scenes[i]();
            pictures[i] = ReadScreen();
        }
        DestroyGraph(backdrop);
    }
    ShutDownGraphics();
    EndWindowAndState();
    return pictures;
}

std::vector<uint32_t> DrawScene(int32_t hardware, const std::function<void()>& scene)
{
    return DrawScenes(hardware, {scene})[0];
}

bool Near(uint32_t a, uint32_t b, int32_t tolerance)
{
    for (int32_t shift = 0; shift <= 16; shift += 8) {
        const int32_t d = static_cast<int32_t>(a >> shift & 0xFF) - static_cast<int32_t>(b >> shift & 0xFF);
        if (d > tolerance || d < -tolerance) return false;
    }
    return true;
}

// Pixels of one picture with no pixel of the other within the tolerance at most reach pixels
// away (reach 0: the same pixel), in either direction.
int32_t CountDifferences(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int32_t tolerance,
                         int32_t reach, std::string* first)
{
    auto matched = [&](const std::vector<uint32_t>& from, const std::vector<uint32_t>& in, int32_t x, int32_t y) {
        for (int32_t dy = -reach; dy <= reach; ++dy) {
            for (int32_t dx = -reach; dx <= reach; ++dx) {
                const int32_t nx = x + dx;
                const int32_t ny = y + dy;
                if (nx < 0 || ny < 0 || nx >= kW || ny >= kH) continue;
                if (Near(from[static_cast<size_t>(y) * kW + x], in[static_cast<size_t>(ny) * kW + nx], tolerance)) {
                    return true;
                }
            }
        }
        return false;
    };
    int32_t count = 0;
    for (int32_t y = 0; y < kH; ++y) {
        for (int32_t x = 0; x < kW; ++x) {
            if (matched(a, b, x, y) && matched(b, a, x, y)) continue;
            if (count++ == 0 && first != nullptr) {
                const size_t i = static_cast<size_t>(y) * kW + x;
                char text[96];
                std::snprintf(text, sizeof text, "first at (%d, %d): software %06X, device %06X", static_cast<int>(x),
                              static_cast<int>(y), a[i], b[i]);
                *first = text;
            }
        }
    }
    return count;
}

// A blend graph whose weight at pixel (x, y) is 255 on a checkerboard of 3 x 2 cells, else 0.
// The software kernels read a blend image one byte a pixel, the device the texture's alpha:
// no public operation makes the 8-bit image, so the software graph carries the pattern as
// the bytes of its 32-bit pixels (four weights each) and the device graph as its alpha.
uint8_t BlendWeight(int32_t x, int32_t y) { return ((x / 3 + y / 2) & 1) != 0 ? 255 : 0; }
int32_t CheckerBlendGraph(int32_t width, int32_t height)
{
    BaseImage image{};
    EXPECT_EQ(AllocXrgbBaseImage(width, height, &image), 0);
    SetupArgb8888Format(&image.format);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            if (g_screenSettings.hardwareActive) {
                WriteBaseImagePixel(&image, x, y, 255, 255, 255, BlendWeight(x, y));
            } else {
                WriteBaseImagePixel(&image, x, y, BlendWeight(4 * x + 2, y), BlendWeight(4 * x + 1, y),
                                    BlendWeight(4 * x, y), BlendWeight(4 * x + 3, y));
            }
        }
    }
    const int32_t graph = ConvertBaseImageToGraph(&image, nullptr, 0, 0, 0);
    DiscardBaseImage(&image);
    return graph;
}

// Draws under a hard-edged blend graph (border position 128, range 0): the graph shows only
// where the blend graph's weight reaches the border.
void WithBlendGraph(const std::function<void()>& draw)
{
    SelectBlendGraph(CheckerBlendGraph(64, 64), 128, 0);
    draw();
    SelectBlendGraph(-1, 0, 0);
}

// Yellow text with a blue edge in a font of the kind, across or down.
void DrawSampleText(int32_t kind, int32_t vertical)
{
    const int32_t font = CreateFontToHandle(L"", 16, 6, kind, -1, -1, 0, -1, -1);
    DrawTextWithFont(vertical ? 70 : 4, 4, L"Wg8", PackScreenColor(255, 255, 0), font, PackScreenColor(0, 0, 255),
                     vertical);
    DestroyFontHandle(font);
}

// Draws under a mask screen whose bytes are all 0, which blocks nothing: the picture must be
// the one drawn without it.
void UnderOpenMask(const std::function<void()>& draw)
{
    ASSERT_EQ(CreateMaskScreen(), 0);
    ASSERT_EQ(g_drawSettings.maskingActive, 1);
    draw();
    EndMaskScreen();
}

// The coded graph drawn at a point under one blend mode, which is put back afterwards.
std::function<void()> DrawnInMode(int32_t mode, int32_t param)
{
    return [mode, param] {
        SelectBlendMode(mode, param);
        DrawGraphAt(5, 7, CodedGraph(40, 20), 0);
        SelectBlendMode(0, 255);
    };
}

struct Scene {
    const char* name;
    int32_t tolerance;  // per channel
    std::function<void()> draw;
    int32_t reach = 0;  // pixels a match may lie away
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
        {"stretched float", 0, [] { DrawGraphStretchedFloat(10.0f, 4.0f, 90.0f, 44.0f, CodedGraph(40, 20), 0); }},
        {"portion stretched", 0,
         [] { DrawGraphPortionStretched(20.0f, 10.0f, 44.0f, 28.0f, 5, 6, 12, 9, CodedGraph(40, 20), 0); }},
        // A quarter turn clockwise, as vertical text turns its glyphs. The software triangles
        // take a pixel's texel at its top-left corner, the device at its centre: where the
        // graph runs against the screen's axes the two land up to a pixel apart, and the
        // software leaves the far column, whose corners lie on the graph's edge.
        {"four corners turned", 1, [] { DrawGraphFourCorners(70, 5, 70, 45, 50, 45, 50, 5, CodedGraph(40, 20), 0); },
         1},
        // Under a blend graph the software kernels weigh the graph by the mask's step (255 of
        // 256): one code step below the device's untouched texels.
        {"blend graph", 1, [] { WithBlendGraph([] { DrawGraphAt(5, 7, CodedGraph(40, 20), 0); }); }},
        {"blend graph four corners upright", 1,
         [] { WithBlendGraph([] { DrawGraphFourCorners(30, 5, 70, 5, 70, 25, 30, 25, CodedGraph(40, 20), 0); }); }},
        {"blend graph four corners turned", 1,
         [] { WithBlendGraph([] { DrawGraphFourCorners(70, 5, 70, 45, 50, 45, 50, 5, CodedGraph(40, 20), 0); }); }, 1},
        // Scaled by 1.5 and sheared: the blend graph's cells follow the graph's pixels on both
        // halves, within the pixel the two sampling rules differ by.
        {"blend graph four corners trapezoid", 1,
         [] { WithBlendGraph([] { DrawGraphFourCorners(30, 5, 90, 5, 80, 45, 40, 45, CodedGraph(40, 20), 0); }); }, 1},
        {"stretched mirrored", 0, [] { DrawGraphStretched(90, 10, 10, 50, CodedGraph(40, 20), 0); }},
        {"stretched clipped", 0,
         [] {
             SetDrawClipRect(17, 12, 61, 33);
             DrawGraphStretched(10, 10, 90, 50, CodedGraph(40, 20, 3, 4), 1);
             SetDrawClipRect(0, 0, kW, kH);
         }},
        {"paletted", 0,
         [] {
             ColorFormat format{};
             SetupPalette8Format(&format);
             for (int32_t i = 0; i < 256; ++i) {
                 format.palette[i] = PaletteEntry{static_cast<uint8_t>(i / 2), static_cast<uint8_t>(255 - i),
                                                  static_cast<uint8_t>(i), 0};
             }
             BaseImage picture{};
             AllocBaseImage(40, 20, &format, &picture);
             for (int32_t y = 0; y < 20; ++y) {
                 for (int32_t x = 0; x < 40; ++x) {
                     picture.pixels[y * picture.pitch + x] = static_cast<uint8_t>(x * 5 + y * 7);
                 }
             }
             const int32_t graph = ConvertBaseImageToGraph(&picture, nullptr, 0, 0, 0);
             DiscardBaseImage(&picture);
             DrawGraphAt(5, 7, graph, 0);
             DrawGraphStretched(60, 5, 140, 45, graph, 0);
         }},
        {"painted blank graph", 0,
         [] {
             const int32_t graph = CreateBlankGraph(40, 20);
             PaintGraphColor(graph, 200, 100, 50, 255);
             DrawGraphAt(5, 7, graph, 0);
         }},
        // A blank graph with an alpha channel takes the colour with its alpha, not blended
        // by the blend mode, and shows by that alpha.
        {"painted blank graph with alpha", 2,
         [] {
             SetNewGraphAlphaChannelFlag(1);
             const int32_t graph = CreateBlankGraph(40, 20);
             SetNewGraphAlphaChannelFlag(0);
             SelectBlendMode(1, 64);
             PaintGraphColor(graph, 200, 100, 50, 128);
             SelectBlendMode(0, 255);
             DrawGraphAt(5, 7, graph, 1);
         }},
        // Tiles of 16 texels: every piece placed on its own.
        {"tiled four corners upright", 1,
         [] {
             const int32_t graph = TiledCodedGraph(40, 20, 16);
             DrawGraphFourCorners(30, 5, 70, 5, 70, 25, 30, 25, graph, 0);
         }},
        {"tiled stretched", 0,
         [] {
             const int32_t graph = TiledCodedGraph(40, 20, 16);
             DrawGraphStretched(10, 10, 90, 50, graph, 0);
         }},
        {"text bright colour", 0,
         [] {
             StoreBrightRgb(0x80FF40);
             DrawSampleText(kFontPlain, 0);
             StoreBrightRgb(0xFFFFFF);
         }},
        {"text alpha blend", 2,
         [] {
             SelectBlendMode(1, 128);
             DrawSampleText(kFontPlain, 0);
             SelectBlendMode(0, 255);
         }},
        {"text subtract", 2,
         [] {
             SelectBlendMode(3, 255);
             DrawSampleText(kFontPlain, 1);
             SelectBlendMode(0, 255);
         }},
        // Text: the glyph texture's texels against the memory cache's pixels, turned alike.
        // Anti-aliased levels L (0 to 15) weigh L x 16 / 256 on the software renderer and
        // L x 17 / 255 in the device's 4-bit texture alpha: up to 10 apart per channel.
        {"text plain", 0, [] { DrawSampleText(kFontPlain, 0); }},
        {"text plain vertical", 0, [] { DrawSampleText(kFontPlain, 1); }},
        {"text edged", 0, [] { DrawSampleText(kFontEdge, 0); }},
        {"text edged vertical", 0, [] { DrawSampleText(kFontEdge, 1); }},
        {"text antialiased", 10, [] { DrawSampleText(kFontAntialiased, 0); }},
        {"text antialiased vertical", 10, [] { DrawSampleText(kFontAntialiased, 1); }},
        // Where body and edge mix, the device lays the body over the edge in two blended
        // passes and the software mixes them in one formula: up to 16 apart there.
        {"text antialiased edged", 16, [] { DrawSampleText(kFontAntialiasedEdge, 0); }},
        {"text antialiased edged vertical", 16, [] { DrawSampleText(kFontAntialiasedEdge, 1); }},
        // A mask that blocks nothing: text (a draw of many glyph quads inside one area) and
        // graphs land as they do without it.
        {"masked graph", 0, [] { UnderOpenMask([] { DrawGraphAt(5, 7, CodedGraph(40, 20), 0); }); }},
        {"masked text", 0, [] { UnderOpenMask([] { DrawSampleText(kFontPlain, 0); }); }},
        {"masked text vertical", 0, [] { UnderOpenMask([] { DrawSampleText(kFontPlain, 1); }); }},
        {"masked text edged", 0, [] { UnderOpenMask([] { DrawSampleText(kFontEdge, 0); }); }},
        {"alpha blend", 2, DrawnInMode(1, 128)},
        {"add", 2, DrawnInMode(2, 200)},
        {"subtract", 2, DrawnInMode(3, 255)},
        {"bright colour", 2,
         [] {
             StoreBrightRgb(0x8040FF);
             DrawGraphAt(5, 7, CodedGraph(40, 20), 0);
             StoreBrightRgb(0xFFFFFF);
         }},
        {"multiply", 2, DrawnInMode(4, 255)},
        {"inverse blend", 2, DrawnInMode(10, 160)},
        {"multiply blend", 2, DrawnInMode(11, 160)},
        {"alpha channel", 2,
         [] {
             BaseImage image = CodedPicture(40, 20, -1, -1, 128);
             DrawGraphAt(5, 7, ConvertBaseImageToGraph(&image, nullptr, 0, 0, 0), 1);
             DiscardBaseImage(&image);
         }},
    };
    std::vector<std::function<void()>> draws;
    for (const Scene& scene : scenes) draws.push_back(scene.draw);
    const std::vector<std::vector<uint32_t>> softwarePictures = DrawScenes(0, draws);
    const std::vector<std::vector<uint32_t>> devicePictures = DrawScenes(1, draws);
    for (size_t i = 0; i < scenes.size(); ++i) {
        const Scene& scene = scenes[i];
        const std::vector<uint32_t>& software = softwarePictures[i];
        const std::vector<uint32_t>& device = devicePictures[i];
        ASSERT_EQ(software.size(), static_cast<size_t>(kW) * kH) << scene.name;
        ASSERT_EQ(software.size(), device.size()) << scene.name;
        // The scene drew something over the grey backdrop.
        int32_t drawn = 0;
        for (uint32_t p : software) drawn += p != 0x606060 ? 1 : 0;
        EXPECT_GT(drawn, 0) << scene.name;
        std::string first;
        EXPECT_EQ(CountDifferences(software, device, scene.tolerance, scene.reach, &first), 0)
            << scene.name << ": " << first;
    }
}

// Draws that show nothing give the same results on both renderers: rectangles far out, whose
// corners floats cannot tell apart, or past the largest coordinate, and a blend graph at its
// last border position (out-of-range parameters are clamped to it), which hides everything.
TEST(DeviceDrawing, DrawsThatShowNothingReturnAlikeOnBothRenderers)
{
    std::vector<int32_t> results[2];
    for (int32_t hardware : {0, 1}) {
        std::vector<int32_t>& out = results[hardware];
        const std::vector<uint32_t> picture = DrawScene(hardware, [&out] {
            const int32_t graph = CodedGraph(40, 20);
            out.push_back(DrawGraphStretched(2000000000, 2000000000, 2000000010, 2000000010, graph, 0));
            out.push_back(DrawGraphStretched(-2000000010, 0, -2000000000, 20, graph, 0));
            out.push_back(DrawGraphMirrored(INT_MAX, 0, graph, 0));
            out.push_back(DrawGraphMirrored(0, INT_MAX, graph, 0));
            out.push_back(SelectBlendGraph(CodedGraph(64, 64), 500, -5));
            out.push_back(g_drawSettings.blendBorderPos);
            out.push_back(g_drawSettings.blendBorderRange);
            out.push_back(DrawGraphAt(5, 7, graph, 0));
            out.push_back(DrawGraphStretched(50, 5, 130, 45, graph, 0));
            SelectBlendGraph(-1, 0, 0);
        });
        ASSERT_EQ(picture.size(), static_cast<size_t>(kW) * kH);
        int32_t drawn = 0;
        for (uint32_t p : picture) drawn += Near(p, 0x606060, 1) ? 0 : 1;
        EXPECT_EQ(drawn, 0) << "renderer " << hardware;
    }
    const std::vector<int32_t> expected = {0, 0, 0, 0, 0, 255, 0, 0, 0};
    EXPECT_EQ(results[0], expected) << "software";
    EXPECT_EQ(results[1], expected) << "device";
}

// A graph whose textures or pixels a 32-bit process cannot hold is refused at once, with a log
// line, on both renderers; the graph table is left as it was and later graphs are made.
TEST(DeviceDrawing, AGraphTooLargeToHoldIsRefusedOnBothRenderers)
{
    struct Size {
        int32_t width, height;
    } const sizes[] = {{65536, 65536}, {32768, 16384}, {16384, 32768}};
    const wchar_t* const lines[2] = {L"メモリイメージの作成に失敗しました\n",
                                     L"グラフィックのオリジナル画像データ保存用メモリの確保に失敗しました\n"};
    for (int32_t hardware : {0, 1}) {
        DrawScene(hardware, [&] {
            const int32_t live = GraphTable()->liveCount;
            for (const Size& size : sizes) {
                LogCapture log;
                EXPECT_EQ(CreateBlankGraph(size.width, size.height), -1)
                    << "renderer " << hardware << ": " << size.width << " x " << size.height;
                EXPECT_TRUE(log.Contains(lines[hardware])) << "renderer " << hardware << ": " << size.width;
                EXPECT_EQ(GraphTable()->liveCount, live);
            }
            const int32_t graph = CreateBlankGraph(64, 64);
            EXPECT_GE(graph, 0);
            DestroyGraph(graph);
        });
    }
}

// Scaled text exists only on the glyph texture: each glyph is its unscaled box magnified
// about the text's origin, so the device's text at scale (3, 2) is the software renderer's
// unscaled text with every pixel grown to 3 x 2, across and turned down alike.
TEST(DeviceDrawing, ScaledTextIsTheUnscaledTextMagnified)
{
    constexpr int32_t kX = 4;
    constexpr int32_t kY = 4;
    constexpr int32_t kScaleX = 3;
    constexpr int32_t kScaleY = 2;
    for (int32_t kind : {kFontPlain, kFontEdge}) {
        for (int32_t vertical : {0, 1}) {
            const std::string name = std::string(vertical ? "vertical" : "horizontal") + " kind " +
                                     std::to_string(kind);
            const wchar_t* text = L"Wg";
            const uint32_t yellow = PackScreenColor(255, 255, 0);
            const uint32_t blue = PackScreenColor(0, 0, 255);
            const std::vector<uint32_t> plain = DrawScene(0, [&] {
                const int32_t font = CreateFontToHandle(L"", 16, 6, kind, -1, -1, 0, -1, -1);
                DrawTextWithFont(kX, kY, text, yellow, font, blue, vertical);
                DestroyFontHandle(font);
            });
            const std::vector<uint32_t> scaled = DrawScene(1, [&] {
                const int32_t font = CreateFontToHandle(L"", 16, 6, kind, -1, -1, 0, -1, -1);
                ASSERT_EQ(RebuildGlyphCacheGraph(font), 0);
                const PixelRect clip = g_drawSettings.clip;
                EXPECT_GT(DrawTextCore(1, kX, kY, 1, kScaleX, kScaleY, text, yellow, nullptr, &clip, 1, font, blue, -1,
                                       vertical, nullptr),
                          0);
                DestroyFontHandle(font);
            });
            ASSERT_EQ(plain.size(), scaled.size()) << name;
            int32_t wrong = 0;
            int32_t ink = 0;
            std::string first;
            for (int32_t y = 0; y < kH; ++y) {
                for (int32_t x = 0; x < kW; ++x) {
                    const bool inside = x >= kX && y >= kY;
                    const uint32_t expected =
                        inside ? plain[static_cast<size_t>(kY + (y - kY) / kScaleY) * kW + kX + (x - kX) / kScaleX]
                               : 0x606060u;
                    const uint32_t got = scaled[static_cast<size_t>(y) * kW + x];
                    ink += got != 0x606060u ? 1 : 0;
                    if (got != expected && wrong++ == 0) {
                        char line[96];
                        std::snprintf(line, sizeof line, "first at (%d, %d): expected %06X, device %06X", x, y,
                                      expected, got);
                        first = line;
                    }
                }
            }
            EXPECT_GT(ink, 200) << name;
            EXPECT_EQ(wrong, 0) << name << ": " << first;
        }
    }
}

class DeviceGraphTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartDeviceScreen(kW, kH, L"device graph test")); }
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
    ASSERT_GE(DeviceImageOf(record->image).tileCount, 1);
    const TextureTile& tile = DeviceImageOf(record->image).tiles[0];
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
    const int32_t graph = TiledCodedGraph(150, 50, 32);
    const GraphRecord* record = FindGraphRecord(graph);
    ASSERT_NE(record, nullptr);
    EXPECT_GT(DeviceViewOf(record).pieceCount, 4);
    for (int32_t i = 0; i < DeviceImageOf(record->image).tileCount; ++i) {
        EXPECT_LE(DeviceImageOf(record->image).tiles[i].textureWidth, 32);
        EXPECT_LE(DeviceImageOf(record->image).tiles[i].textureHeight, 32);
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
        ASSERT_NE(DeviceImageOf(record->image).tiles[0].texture, nullptr);
        IDirect3DDevice9* owner = nullptr;
        DeviceImageOf(record->image).tiles[0].texture->GetDevice(&owner);
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

// ---- A true loss of a plain device

// Ends the process with a message when a test has not finished in time, so that a recovery
// that waits forever fails instead of hanging the run.
class Deadline {
public:
    explicit Deadline(DWORD milliseconds) : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), limit_(milliseconds)
    {
        thread_ = CreateThread(nullptr, 0, Watch, this, 0, nullptr);
    }
    ~Deadline()
    {
        SetEvent(done_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(done_);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

private:
    static DWORD WINAPI Watch(void* self)
    {
        const auto* d = static_cast<const Deadline*>(self);
        if (WaitForSingleObject(d->done_, d->limit_) == WAIT_TIMEOUT) {
            std::fprintf(stderr, "device loss test: not finished after %lu ms, the recovery hangs\n",
                         static_cast<unsigned long>(d->limit_));
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        return 0;
    }
    HANDLE done_;
    DWORD limit_;
    HANDLE thread_ = nullptr;
};

// The library's raw "BGRA" picture file.
bool WriteBgraFile(const std::wstring& path, const BaseImage& picture)
{
    std::vector<uint8_t> bytes = {'B', 'G', 'R', 'A', 8, 8, 8, 8};
    for (uint32_t v : {uint32_t(picture.width), uint32_t(picture.height)}) {
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(v >> (8 * i)));
    }
    for (int32_t y = 0; y < picture.height; ++y) {
        for (int32_t x = 0; x < picture.width; ++x) {
            int r = 0;
            int g = 0;
            int b = 0;
            uint32_t value = 0;
            std::memcpy(&value, picture.pixels + ptrdiff_t{picture.pitch} * y + ptrdiff_t{x} * 4, 4);
            DecodePixelColor(&picture.format, value, &r, &g, &b, nullptr);
            bytes.insert(bytes.end(), {uint8_t(b), uint8_t(g), uint8_t(r), 255});
        }
    }
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

// A plain (non-Ex) device with a scene of graphs that come back in different ways: one made
// from a picture in memory and refilled by the application's restore routine, one loaded from
// a file and restored from it, one larger than the largest texture (tiled), and text through
// a glyph texture.
class DeviceLossTest : public DeviceGraphTest {
protected:
    void SetUp() override
    {
        g_direct3DExRefused = 1;
        ASSERT_NO_FATAL_FAILURE(DeviceGraphTest::SetUp());
        ASSERT_EQ(g_graphicsDevice.direct3dEx, nullptr) << "the device must be one that can be lost";
        // The activation handler, as the library's start-up registers it.
        RegisterRuntimeWindowHandlers();

        s_memoryPicture = CodedPicture(40, 20);
        s_memoryGraph = ConvertBaseImageToGraph(&s_memoryPicture, nullptr, 0, 0, 0);
        ASSERT_GE(s_memoryGraph, 0);

        wchar_t folder[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, folder), 0u);
        path_ = std::wstring(folder) + L"quarn_device_loss_" + std::to_wstring(GetCurrentProcessId()) + L".bgra";
        BaseImage filePicture = CodedPicture(64, 24);
        ASSERT_TRUE(WriteBgraFile(path_, filePicture));
        fileGraph_ = CreateBlankGraph(40, 20);
        ASSERT_EQ(TransferImageToGraph(&filePicture, path_.c_str(), nullptr, 20, 3, fileGraph_, 0), 0);
        DiscardBaseImage(&filePicture);

        const int32_t kept = g_graphicsDevice.maxTextureSize;
        g_graphicsDevice.maxTextureSize = 32;
        s_tiledPicture = CodedPicture(150, 34);
        s_tiledGraph = ConvertBaseImageToGraph(&s_tiledPicture, nullptr, 0, 0, 0);
        g_graphicsDevice.maxTextureSize = kept;
        ASSERT_GE(s_tiledGraph, 0);
        ASSERT_GT(DeviceImageOf(FindGraphRecord(s_tiledGraph)->image).tileCount, 4);

        font_ = CreateFontToHandle(L"", 16, 6, kFontAntialiased, -1, -1, 0, -1, -1);
        ASSERT_GE(font_, 0);
        // A mask keeps the tiled graph's lower right corner undrawn. While it is on, wipes
        // clear the mask's work surface: the screen is wiped before.
        WipeDrawScreen(nullptr);
        ASSERT_EQ(CreateMaskScreen(), 0);
        const PixelRect masked{120, 40, kW, kH};
        ASSERT_EQ(FillMaskScreenArea(&masked, 1), 0);
        s_restoreRuns = 0;
        InstallGraphRestoreHandler(RestoreScene);
    }
    void TearDown() override
    {
        DeviceGraphTest::TearDown();
        g_direct3DExRefused = 0;
        DiscardBaseImage(&s_memoryPicture);
        DiscardBaseImage(&s_tiledPicture);
        if (!path_.empty()) DeleteFileW(path_.c_str());
    }

    // The application's restore routine: pictures it holds in memory go back into their
    // graphs, the rest come from their files.
    static int32_t RestoreScene()
    {
        ++s_restoreRuns;
        RefillGraphFromBaseImage(&s_memoryPicture, nullptr, s_memoryGraph, 0, 0, 0);
        RefillGraphFromBaseImage(&s_tiledPicture, nullptr, s_tiledGraph, 0, 0, 0);
        return RestoreGraphsFromFiles();
    }

    std::vector<uint32_t> DrawTheScene()
    {
        WipeDrawScreen(nullptr);
        DrawGraphAt(2, 2, s_memoryGraph, 0);
        DrawGraphAt(46, 2, fileGraph_, 0);
        DrawGraphAt(5, 24, s_tiledGraph, 0);
        DrawTextWithFont(92, 2, L"W8", PackScreenColor(255, 255, 0), font_, 0, 0);
        return ReadScreen();
    }

    // Loses the device for real: a reset while a default-pool texture is held fails, and the
    // device then waits for a reset that succeeds.
    static void LoseTheDevice()
    {
        IDirect3DDevice9* device = g_graphicsDevice.device;
        IDirect3DTexture9* held = nullptr;
        ASSERT_EQ(device->CreateTexture(16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &held, nullptr), D3D_OK);
        D3DPRESENT_PARAMETERS parameters{};
        g_graphicsDevice.swapChain->GetPresentParameters(&parameters);
        EXPECT_NE(device->Reset(&parameters), D3D_OK);
        held->Release();
        ASSERT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    }

    // The scene before the loss: every part of it where it belongs.
    static void ExpectSceneDrawn(const std::vector<uint32_t>& screen)
    {
        auto at = [&screen](int32_t x, int32_t y) { return screen[static_cast<size_t>(y) * kW + x]; };
        EXPECT_EQ(at(2 + 7, 2 + 5), Expected(7, 5)) << "memory graph";
        EXPECT_EQ(at(46 + 1, 2 + 1), Expected(20 + 1, 3 + 1)) << "file graph at its offset in the file";
        EXPECT_EQ(at(5 + 100, 24 + 3), Expected(100, 3)) << "tiled graph";
        EXPECT_EQ(at(5 + 60, 24 + 30), Expected(60, 30)) << "tiled graph, lower row of tiles";
        EXPECT_EQ(at(5 + 140, 24 + 30), 0u) << "masked";
        int32_t lit = 0;
        for (int32_t y = 2; y < 22; ++y) {
            for (int32_t x = 92; x < kW; ++x) lit += (at(x, y) & 0xFFFF00) == 0xFFFF00 ? 1 : 0;
        }
        EXPECT_GT(lit, 20) << "text";
    }

    // The device is back, every graph's textures on it, and the restore ran once.
    void ExpectRecovered(const std::vector<uint32_t>& before)
    {
        ASSERT_EQ(g_screenSettings.hardwareActive, 1);
        ASSERT_NE(g_graphicsDevice.device, nullptr);
        // Wine's device is left half torn down by the failed reset: nothing more is drawn on it.
        ASSERT_EQ(g_graphicsDevice.device->TestCooperativeLevel(), D3D_OK) << "the device is still lost";
        EXPECT_EQ(s_restoreRuns, 1);
        for (int32_t graph : {s_memoryGraph, fileGraph_, s_tiledGraph}) {
            const GraphImage* image = FindGraphRecord(graph)->image;
            for (int32_t i = 0; i < DeviceImageOf(image).tileCount; ++i) {
                IDirect3DDevice9* owner = nullptr;
                ASSERT_NE(DeviceImageOf(image).tiles[i].texture, nullptr) << "graph " << graph << " tile " << i;
                DeviceImageOf(image).tiles[i].texture->GetDevice(&owner);
                EXPECT_EQ(owner, g_graphicsDevice.device);
                if (owner != nullptr) owner->Release();
            }
        }
        const std::vector<uint32_t> after = DrawTheScene();
        std::string first;
        EXPECT_EQ(CountDifferences(before, after, 0, 0, &first), 0) << first;
        EXPECT_EQ(PresentScreen(), 0);
    }

    static BaseImage s_memoryPicture;
    static BaseImage s_tiledPicture;
    static int32_t s_memoryGraph;
    static int32_t s_tiledGraph;
    static int32_t s_restoreRuns;
    std::wstring path_;
    int32_t fileGraph_ = -1;
    int32_t font_ = -1;
    Deadline deadline_{static_cast<DWORD>(scaled_wait_ms(60000))};
};
BaseImage DeviceLossTest::s_memoryPicture{};
BaseImage DeviceLossTest::s_tiledPicture{};
int32_t DeviceLossTest::s_memoryGraph = -1;
int32_t DeviceLossTest::s_tiledGraph = -1;
int32_t DeviceLossTest::s_restoreRuns = 0;

TEST_F(DeviceLossTest, ActivationBringsALostWindowedDeviceBack)
{
    const std::vector<uint32_t> before = DrawTheScene();
    ExpectSceneDrawn(before);
    ASSERT_NO_FATAL_FAILURE(LoseTheDevice());
    // The frame's present reports the loss and changes nothing.
    EXPECT_EQ(PresentScreen(), -1);
    EXPECT_EQ(s_restoreRuns, 0);
    SendMessageW(QueryMainWindow(), WM_ACTIVATE, WA_ACTIVE, 0);
    ExpectRecovered(before);
}

TEST_F(DeviceLossTest, ARestartKeepingTheModeBringsALostDeviceBack)
{
    const std::vector<uint32_t> before = DrawTheScene();
    // The full screen's sub back buffer is on the lost device too.
    ASSERT_EQ(EnsureSubBackBuffer(), 0);
    ASSERT_NO_FATAL_FAILURE(LoseTheDevice());
    IDirect3DDevice9* old = g_graphicsDevice.device;
    old->AddRef();
    ASSERT_EQ(RestartDeviceKeepingMode(), 0);
    EXPECT_EQ(old->Release(), 0u) << "references to the lost device are left";
    ExpectRecovered(before);
}

// When no device can be made after the loss, graphics start again on the software screen: the
// old graphs went with them, and new ones draw and present there.
TEST_F(DeviceLossTest, ALossWithoutANewDeviceEndsOnTheSoftwareScreen)
{
    ASSERT_NO_FATAL_FAILURE(LoseTheDevice());
    g_deviceCreationRefused = 1;
    SendMessageW(QueryMainWindow(), WM_ACTIVATE, WA_ACTIVE, 0);
    g_deviceCreationRefused = 0;
    EXPECT_EQ(g_screenSettings.hardwareActive, 0);
    EXPECT_EQ(g_graphicsDevice.device, nullptr);
    ASSERT_TRUE(TestMemImgValid(&g_screenImages.primary));
    EXPECT_EQ(DrawGraphAt(2, 2, s_memoryGraph, 0), -1);
    const int32_t graph = CodedGraph(40, 20);
    WipeDrawScreen(nullptr);
    ASSERT_EQ(DrawGraphAt(2, 2, graph, 0), 0);
    const std::vector<uint32_t> screen = ReadScreen();
    EXPECT_EQ(screen[static_cast<size_t>(2 + 5) * kW + 2 + 7], Expected(7, 5));
    EXPECT_EQ(PresentScreen(), 0);
}

}  // namespace
