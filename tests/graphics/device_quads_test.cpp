// The hardware quads against a recording device: the vertices a graph draw writes into the
// batch (positions, texture coordinates, clipping, mirroring), one quad per texture piece,
// free quads as two triangles or a grid, and the untextured box.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "quarn/graphics/d3d9/device_graph.h"
#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/graphics/draw_settings.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/render_backend.h"

namespace {

struct DrawnBatch {
    uint32_t type;
    uint32_t stride;
    std::vector<float> words;  // every vertex's 4-byte fields, as floats
    std::vector<uint32_t> raw;
    bool indexed;
};

std::vector<DrawnBatch> s_drawn;
std::vector<void*> s_bound;

int32_t Ok3(uint32_t, uint32_t, uint32_t) { return 0; }
int32_t Ok2(uint32_t, uint32_t) { return 0; }
int32_t Bind(uint32_t stage, void* texture)
{
    if (stage == 0) s_bound.push_back(texture);
    return 0;
}
int32_t Transform(uint32_t, const Matrix4x4*) { return 0; }
int32_t Viewport(const DeviceViewport*) { return 0; }
int32_t Scissor(const PixelRect*) { return 0; }
int32_t Fvf(uint32_t) { return 0; }
void Keep(uint32_t type, uint32_t vertexCount, const void* vertices, uint32_t stride, bool indexed)
{
    DrawnBatch b{type, stride, {}, {}, indexed};
    const size_t words = vertexCount * stride / 4;
    b.words.resize(words);
    b.raw.resize(words);
    std::memcpy(b.words.data(), vertices, words * 4);
    std::memcpy(b.raw.data(), vertices, words * 4);
    s_drawn.push_back(b);
}
int32_t Draw(uint32_t type, uint32_t count, const void* vertices, uint32_t stride)
{
    Keep(type, type == kPtTriangleList ? count * 3 : count + 2, vertices, stride, false);
    return 0;
}
int32_t DrawIndexed(uint32_t type, uint32_t vertexCount, uint32_t, const uint16_t*, const void* vertices,
                    uint32_t stride)
{
    Keep(type, vertexCount, vertices, stride, true);
    return 0;
}
int32_t Nothing() { return 0; }
int32_t Target(void*, uint32_t* w, uint32_t* h)
{
    *w = 640;
    *h = 480;
    return 0;
}

// Quads make no light, material, shader-constant or buffer calls; those stay empty.
const DeviceCalls kRecorder = [] {
    DeviceCalls calls{};
    calls.setRenderState = Ok2;
    calls.setSamplerState = Ok3;
    calls.setTextureStageState = Ok3;
    calls.setTexture = Bind;
    calls.setTransform = Transform;
    calls.setViewport = Viewport;
    calls.setScissorRect = Scissor;
    calls.setFvf = Fvf;
    calls.drawPrimitiveUp = Draw;
    calls.drawIndexedPrimitiveUp = DrawIndexed;
    calls.beginScene = Nothing;
    calls.endScene = Nothing;
    calls.setRenderTarget = Target;
    calls.unbindShaders = Nothing;
    return calls;
}();

// A graph of the given size over tiles laid out as the device would, with fake textures.
struct FakeGraph {
    GraphImage image{};
    DeviceImage deviceImage{};
    std::vector<TextureTile> tiles;
    std::vector<TexturePiece> pieces;
    DeviceView view{};
    GraphRecord record{};

    FakeGraph(int32_t width, int32_t height, int32_t deviceMax)
    {
        const TextureSizeLimits limits{0, deviceMax, 640};
        tiles.resize(64);
        const int32_t count = LayoutTextureTiles(width, height, 0, 0, &limits, tiles.data(), 64);
        tiles.resize(static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i) {
            tiles[i].texture = reinterpret_cast<IDirect3DTexture9*>(static_cast<intptr_t>(0x1000 + i));
        }
        image.refCount = 1;
        image.request.hardware = 1;
        image.request.alphaTest = 1;
        image.width = width;
        image.height = height;
        deviceImage.tileCount = count;
        deviceImage.tiles = tiles.data();
        image.held.device = &deviceImage;
        pieces.resize(static_cast<size_t>(count));
        const int32_t n = BuildTexturePieces(tiles.data(), count, 0, 0, width, height, pieces.data());
        pieces.resize(static_cast<size_t>(n));
        record.image = &image;
        record.width = width;
        record.height = height;
        view.pieceCount = n;
        view.pieces = pieces.data();
        record.held.device = &view;
    }
};

class DeviceQuadsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_screenSettings = ScreenSettings{};
        ApplyDrawSettingDefaults();
        g_drawSettings.drawTargetWidth = 640;
        g_drawSettings.drawTargetHeight = 480;
        StoreDrawClipRect(0, 0, 640, 480);
        UseDeviceCalls(&kRecorder);
        ASSERT_EQ(InitDeviceSettings(640, 480, nullptr), 0);
        FlushVertexBatch();
        s_drawn.clear();
        s_bound.clear();
    }
    void TearDown() override
    {
        FlushVertexBatch();
        UseDeviceCalls(nullptr);
    }

    // The batches drawn so far (the pending one drawn first).
    static const std::vector<DrawnBatch>& Drawn()
    {
        FlushVertexBatch();
        return s_drawn;
    }
    // Field f of vertex v of a kind-1 batch (x, y, z, rhw, colour, u, v).
    static float Field(const DrawnBatch& b, int32_t v, int32_t f) { return b.words[static_cast<size_t>(v * 7 + f)]; }
};

TEST_F(DeviceQuadsTest, AnUnscaledGraphLandsHalfAPixelBackWithItsTexelsUnchanged)
{
    FakeGraph g(100, 50, 2048);
    ASSERT_EQ(g.view.pieceCount, 1);
    ASSERT_EQ(DrawGraphQuad(&g.record, 10, 20, 10.0f, 20.0f, 1, 1), 0);
    const auto& drawn = Drawn();
    ASSERT_EQ(drawn.size(), 1u);
    const DrawnBatch& b = drawn[0];
    EXPECT_EQ(b.type, uint32_t(kPtTriangleList));
    ASSERT_EQ(b.stride, 28u);
    ASSERT_EQ(b.words.size(), 6u * 7);
    // Top-left, top-right, bottom-left; bottom-right, bottom-left, top-right.
    const float xs[6] = {9.5f, 109.5f, 9.5f, 109.5f, 9.5f, 109.5f};
    const float ys[6] = {19.5f, 19.5f, 69.5f, 69.5f, 69.5f, 19.5f};
    const TextureCorner* c = g.pieces[0].corners;
    const int32_t corner[6] = {0, 1, 2, 3, 2, 1};
    for (int32_t v = 0; v < 6; ++v) {
        EXPECT_FLOAT_EQ(Field(b, v, 0), xs[v]) << v;
        EXPECT_FLOAT_EQ(Field(b, v, 1), ys[v]) << v;
        EXPECT_FLOAT_EQ(Field(b, v, 2), 0.2f);
        EXPECT_FLOAT_EQ(Field(b, v, 3), 1.0f);
        EXPECT_FLOAT_EQ(Field(b, v, 5), c[corner[v]].u) << v;
        EXPECT_FLOAT_EQ(Field(b, v, 6), c[corner[v]].v) << v;
    }
    EXPECT_EQ(b.raw[4], 0xFFFFFFFFu);  // full alpha, no bright colour
}

TEST_F(DeviceQuadsTest, APartlyOutsideGraphIsClampedWithItsTextureCoordinates)
{
    FakeGraph g(100, 50, 2048);
    const float texW = static_cast<float>(g.tiles[0].textureWidth);
    ASSERT_EQ(DrawGraphQuad(&g.record, -30, 20, -30.0f, 20.0f, 1, 1), 0);
    const DrawnBatch& b = Drawn().at(0);
    EXPECT_FLOAT_EQ(Field(b, 0, 0), 0.0f);
    EXPECT_NEAR(Field(b, 0, 5), 30.5f / texW, 1e-6);
    EXPECT_FLOAT_EQ(Field(b, 1, 0), 69.5f);
    EXPECT_FLOAT_EQ(Field(b, 1, 5), g.pieces[0].corners[1].u);

    // Wholly outside: zero-area triangles, not an error.
    s_drawn.clear();
    ASSERT_EQ(DrawGraphQuad(&g.record, 700, 20, 700.0f, 20.0f, 1, 1), 0);
    const DrawnBatch& out = Drawn().at(0);
    EXPECT_FLOAT_EQ(Field(out, 0, 0), 640.0f);
    EXPECT_FLOAT_EQ(Field(out, 1, 0), 640.0f);
}

TEST_F(DeviceQuadsTest, ReversedStretchCornersMirrorAndAFlatRectangleIsRefused)
{
    FakeGraph g(100, 50, 2048);
    const int32_t box[4] = {110, 20, 10, 70};
    const float floatBox[4] = {110, 20, 10, 70};
    ASSERT_EQ(DrawGraphStretchedQuad(&g.record, box, floatBox, 0, 1), 0);
    const DrawnBatch& b = Drawn().at(0);
    // The graph's left edge at the right: mirrored left to right over x 10 to 110.
    EXPECT_FLOAT_EQ(Field(b, 0, 0), 109.5f);
    EXPECT_FLOAT_EQ(Field(b, 1, 0), 9.5f);
    EXPECT_FLOAT_EQ(Field(b, 0, 5), g.pieces[0].corners[0].u);
    EXPECT_FLOAT_EQ(Field(b, 2, 1), 69.5f);

    const int32_t flat[4] = {10, 20, 10, 70};
    const float floatFlat[4] = {10, 20, 10, 70};
    EXPECT_EQ(DrawGraphStretchedQuad(&g.record, flat, floatFlat, 0, 1), -1);
}

// Far out, distinct integer corners round to one float: the rectangle is not flat (the
// software renderer takes it too), it lies beyond the clip rectangle and writes no vertex.
TEST_F(DeviceQuadsTest, FarOutCornersThatFloatsMergeAreNoFlatRectangle)
{
    FakeGraph g(40, 20, 2048);
    struct Case {
        int32_t x1, y1, x2, y2;
        int32_t result;
    } const cases[] = {
        {2000000000, 2000000000, 2000000010, 2000000010, 0},
        {2147483647, 0, 2147483607, 20, 0},  // mirrored at the largest coordinate
        {0, -2000000000, 40, -2000000010, 0},
        {16777217, 0, 16777216, 20, 0},  // the first integers a float cannot hold apart
        {2000000000, 0, 2000000000, 20, -1},
        {5, 7, 45, 7, -1},
    };
    for (const Case& c : cases) {
        const int32_t box[4] = {c.x1, c.y1, c.x2, c.y2};
        const float floatBox[4] = {static_cast<float>(c.x1), static_cast<float>(c.y1), static_cast<float>(c.x2),
                                   static_cast<float>(c.y2)};
        EXPECT_EQ(DrawGraphStretchedQuad(&g.record, box, floatBox, 0, 1), c.result) << c.x1 << "," << c.y1;
        EXPECT_TRUE(Drawn().empty()) << c.x1 << "," << c.y1;
    }
    // Float corners are the caller's own: a sub-pixel rectangle whose truncations meet is drawn.
    const int32_t truncated[4] = {10, 10, 10, 30};
    const float thin[4] = {10.25f, 10.0f, 10.75f, 30.0f};
    EXPECT_EQ(DrawGraphStretchedQuad(&g.record, truncated, thin, 0, 0), 0);
    EXPECT_EQ(Drawn().size(), 1u);
}

TEST_F(DeviceQuadsTest, AGraphOfSeveralTilesIsOneQuadPerPieceEachOnItsTexture)
{
    // 300 x 40 with a device limit of 256: tiles 256, 32 and 16 wide.
    FakeGraph g(300, 40, 256);
    ASSERT_EQ(g.view.pieceCount, 3);
    ASSERT_EQ(DrawGraphQuad(&g.record, 0, 0, 0.0f, 0.0f, 0, 1), 0);
    std::vector<float> lefts;
    for (const DrawnBatch& b : Drawn()) {
        for (size_t v = 0; v + 6 <= b.words.size() / 7; v += 6) {
            lefts.push_back(Field(b, static_cast<int32_t>(v), 0));
        }
    }
    ASSERT_EQ(lefts.size(), 3u);
    const std::vector<void*> bound(s_bound.end() - 3, s_bound.end());
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_FLOAT_EQ(lefts[i], static_cast<float>(g.tiles[i].x) - 0.5f) << i;
        EXPECT_EQ(bound[i], static_cast<void*>(g.tiles[i].texture)) << i;
    }
    EXPECT_EQ(g.tiles[1].x, 256);
}

TEST_F(DeviceQuadsTest, FreeQuadsAreTwoTrianglesOrAGrid)
{
    FakeGraph g(100, 50, 2048);
    const float upright[8] = {10, 10, 110, 10, 10, 60, 110, 60};
    ASSERT_EQ(DrawGraphFourCornersQuad(&g.record, upright, 1), 0);
    ASSERT_EQ(Drawn().size(), 1u);
    EXPECT_FALSE(s_drawn[0].indexed);
    EXPECT_EQ(s_drawn[0].words.size(), 6u * 7);
    EXPECT_FLOAT_EQ(Field(s_drawn[0], 0, 0), 10.0f);  // no half-pixel shift on this path

    s_drawn.clear();
    const float trapezoid[8] = {40, 10, 80, 10, 10, 60, 110, 60};
    ASSERT_EQ(DrawGraphFourCornersQuad(&g.record, trapezoid, 1), 0);
    ASSERT_EQ(Drawn().size(), 1u);
    EXPECT_TRUE(s_drawn[0].indexed);
    EXPECT_EQ(s_drawn[0].words.size(), 64u * 7);
    // The grid's corners are the quad's, with the piece's corner texels.
    EXPECT_FLOAT_EQ(Field(s_drawn[0], 0, 0), 40.0f);
    EXPECT_FLOAT_EQ(Field(s_drawn[0], 63, 0), 110.0f);
    EXPECT_FLOAT_EQ(Field(s_drawn[0], 63, 5), g.pieces[0].corners[3].u);
}

// With a blend graph the free quad is cut along the graph's diagonal into the two affine
// halves the software triangles draw: every vertex lies where its half's map puts its graph
// pixel, and its blend-graph coordinate is that same graph pixel.
TEST_F(DeviceQuadsTest, ABlendGraphFollowsTheGraphPixelsOfAFreeQuadExactly)
{
    FakeGraph blend(64, 64, 2048);
    const int32_t blendHandle = AddHandleRecord(GraphTable(), &blend.record);
    ASSERT_GE(blendHandle, 0);
    blend.record.handle = blendHandle;
    g_drawSettings.blendGraph = blendHandle;
    g_deviceCache.blendTexture = blend.tiles[0].texture;
    g_deviceCache.blendDirty = 1;

    struct Case {
        const char* name;
        int32_t maxTexture;  // 2048: one piece; 16: pieces crossing the diagonal
        float corners[8];    // top-left, top-right, bottom-left, bottom-right
    };
    const Case cases[] = {
        {"trapezoid", 2048, {30, 5, 90, 5, 40, 45, 80, 45}},
        {"trapezoid in pieces", 16, {30, 5, 90, 5, 40, 45, 80, 45}},
        {"turned and skewed", 16, {70, 5, 72, 45, 50, 6, 49, 47}},
    };
    for (const Case& c : cases) {
        FakeGraph g(40, 20, c.maxTexture);
        s_drawn.clear();
        ASSERT_EQ(DrawGraphFourCornersQuad(&g.record, c.corners, 0), 0) << c.name;
        const float* q = c.corners;
        double area = 0.0;
        int32_t vertices = 0;
        for (const DrawnBatch& b : Drawn()) {
            ASSERT_EQ(b.stride, 40u) << c.name << ": the blend graph's vertex kind";
            ASSERT_EQ(b.type, kPtTriangleList) << c.name;
            ASSERT_FALSE(b.indexed) << c.name;
            const size_t count = b.words.size() / 10;
            for (size_t v = 0; v < count; ++v) {
                const float* w = &b.words[v * 10];
                // The first coordinate set is the blend graph's (a 64 x 64 tile at the corner).
                const double gx = w[6] * 64.0;
                const double gy = w[7] * 64.0;
                if (g.pieces.size() == 1) {
                    // One 64 x 32 tile: the graph's own texel is the same pixel.
                    EXPECT_NEAR(w[8] * 64.0, gx, 1e-3) << c.name;
                    EXPECT_NEAR(w[9] * 32.0, gy, 1e-3) << c.name;
                }
                const double fx = gx / 40.0;
                const double fy = gy / 20.0;
                double x = 0.0;
                double y = 0.0;
                if (fx + fy <= 1.0 + 1e-6) {
                    x = q[0] + (q[2] - q[0]) * fx + (q[4] - q[0]) * fy;
                    y = q[1] + (q[3] - q[1]) * fx + (q[5] - q[1]) * fy;
                }
                if (fx + fy >= 1.0 - 1e-6) {
                    const double bx = q[6] + (q[4] - q[6]) * (1.0 - fx) + (q[2] - q[6]) * (1.0 - fy);
                    const double by = q[7] + (q[5] - q[7]) * (1.0 - fx) + (q[3] - q[7]) * (1.0 - fy);
                    if (fx + fy > 1.0 - 1e-6 && fx + fy < 1.0 + 1e-6) {
                        EXPECT_NEAR(bx, x, 1e-3) << c.name << ": the halves meet on the diagonal";
                        EXPECT_NEAR(by, y, 1e-3) << c.name;
                    }
                    x = bx;
                    y = by;
                }
                EXPECT_NEAR(w[0], x - 0.5, 1e-3) << c.name << " vertex " << v << " at graph " << gx << "," << gy;
                EXPECT_NEAR(w[1], y - 0.5, 1e-3) << c.name << " vertex " << v;
                ASSERT_TRUE(gx >= -1e-3 && gx <= 40.001 && gy >= -1e-3 && gy <= 20.001) << c.name;
            }
            for (size_t t = 0; t + 2 < count; t += 3) {
                const float* a = &b.words[t * 10];
                const float* m = &b.words[(t + 1) * 10];
                const float* e = &b.words[(t + 2) * 10];
                const double signedArea = (m[0] - a[0]) * (e[1] - a[1]) - (m[1] - a[1]) * (e[0] - a[0]);
                EXPECT_GT(signedArea, 0.0) << c.name << ": every triangle turns the way culling keeps";
                area += signedArea / 2.0;
            }
            vertices += static_cast<int32_t>(count);
        }
        EXPECT_GT(vertices, 0) << c.name;
        // The triangles tile the quad: their areas add up to its two halves'.
        const double half1 = std::abs((q[2] - q[0]) * (q[5] - q[1]) - (q[3] - q[1]) * (q[4] - q[0])) / 2.0;
        const double half2 = std::abs((q[4] - q[6]) * (q[3] - q[7]) - (q[5] - q[7]) * (q[2] - q[6])) / 2.0;
        EXPECT_NEAR(area, half1 + half2, 1e-2) << c.name;
    }
    g_drawSettings.blendGraph = -1;
    g_deviceCache.blendTexture = nullptr;
    RemoveHandleRecord(GraphTable(), blendHandle);
}

TEST_F(DeviceQuadsTest, TheFilledBoxIsOrderedClippedAndUntextured)
{
    const PixelRect clip{0, 0, 640, 480};
    (void)clip;
    ASSERT_EQ(DrawFilledBoxQuad(50, 40, 10, 20, PackScreenColor(255, 255, 255)), 0);
    const DrawnBatch& b = Drawn().at(0);
    ASSERT_EQ(b.stride, 20u);
    ASSERT_EQ(b.words.size(), 6u * 5);
    EXPECT_FLOAT_EQ(b.words[0], 10.0f);
    EXPECT_FLOAT_EQ(b.words[1], 20.0f);
    EXPECT_FLOAT_EQ(b.words[5], 50.0f);
    EXPECT_FLOAT_EQ(b.words[11], 40.0f);

    s_drawn.clear();
    ASSERT_EQ(SelectBlendMode(1, 128), 0);
    ASSERT_EQ(DrawFilledBoxQuad(600, 400, 700, 500, PackScreenColor(255, 0, 0)), 0);
    const DrawnBatch& red = Drawn().at(0);
    EXPECT_FLOAT_EQ(red.words[5], 640.0f);
    EXPECT_EQ(red.raw[4], 0x80FF0000u);  // the parameter in alpha, the colour's channels kept

    s_drawn.clear();
    ASSERT_EQ(DrawFilledBoxQuad(700, 0, 800, 10, 0), 0);
    EXPECT_TRUE(Drawn().empty());
}

TEST_F(DeviceQuadsTest, NothingIsDrawnWithoutADevice)
{
    FakeGraph g(100, 50, 2048);
    UseDeviceCalls(nullptr);
    const int32_t box[4] = {0, 0, 10, 10};
    const float floatBox[4] = {0, 0, 10, 10};
    const float corners[8] = {0, 0, 10, 0, 0, 10, 10, 10};
    EXPECT_EQ(DrawGraphQuad(&g.record, 0, 0, 0, 0, 0, 1), -1);
    EXPECT_EQ(DrawGraphStretchedQuad(&g.record, box, floatBox, 0, 1), -1);
    EXPECT_EQ(DrawGraphFourCornersQuad(&g.record, corners, 0), -1);
    EXPECT_EQ(DrawFilledBoxQuad(0, 0, 10, 10, 0), -1);
    EXPECT_TRUE(s_drawn.empty());
}

}  // namespace
