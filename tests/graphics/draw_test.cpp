#include <string>
#include <vector>

#include "graph_fixture.h"

namespace graph_test {
namespace {

constexpr uint32_t kBackground = 0x123456;

// Where a screen pixel came from: the source coordinates, or (-1, -1) for a pixel that holds
// no coded colour.
struct Source {
    int32_t x, y;
    bool operator==(const Source& o) const { return x == o.x && y == o.y; }
};
using S = Source;

class DrawTest : public GraphTest {
protected:
    Source From(int32_t x, int32_t y) const
    {
        const uint32_t c = At(x, y);
        if ((c & 0xFF) != kCodeBlue) {
            return Source{-1, -1};
        }
        return Source{static_cast<int32_t>((c >> 16) & 0xFF) - kCodeBase,
                      static_cast<int32_t>((c >> 8) & 0xFF) - kCodeBase};
    }

    // Checks every screen pixel against the expectation (Source{-1, -1}: untouched).
    template <typename Expect>
    void ExpectScreen(Expect expect, const char* what)
    {
        int32_t failures = 0;
        for (int32_t y = 0; y < kScreenH; ++y) {
            for (int32_t x = 0; x < kScreenW; ++x) {
                const Source want = expect(x, y);
                const Source got = From(x, y);
                const bool untouched = want.x < 0 && At(x, y) == kBackground;
                if (!(want.x < 0 ? untouched : got == want) && failures++ < 8) {
                    ADD_FAILURE() << what << ": screen (" << x << ", " << y << ") holds " << std::hex << At(x, y)
                                  << std::dec << ", expected source (" << want.x << ", " << want.y << ")";
                }
            }
        }
    }

    void SetUp() override
    {
        GraphTest::SetUp();
        Fill(kBackground);
    }
};

// Inside the rectangle [left, left + w) x [top, top + h): the source mapping, else untouched.
template <typename Map>
auto Within(int32_t left, int32_t top, int32_t w, int32_t h, Map map)
{
    return [=](int32_t x, int32_t y) {
        if (x < left || y < top || x >= left + w || y >= top + h) {
            return decltype(map(x, y)){-1, -1};
        }
        return map(x - left, y - top);
    };
}

TEST_F(DrawTest, WipeClearsTheTargetOrItsArea)
{
    WipeDrawScreen(nullptr);
    for (int32_t y = 0; y < kScreenH; ++y) {
        for (int32_t x = 0; x < kScreenW; ++x) {
            ASSERT_EQ(At(x, y), 0u);
        }
    }
    Fill(kBackground);
    const PixelRect area{2, 3, 5, 6};
    EXPECT_EQ(WipeDrawScreen(&area), 0);
    EXPECT_EQ(At(2, 3), 0u);
    EXPECT_EQ(At(4, 5), 0u);
    EXPECT_EQ(At(5, 5), kBackground);
    EXPECT_EQ(At(4, 6), kBackground);
    // A negative left or top means the whole target; an area past the edge stays inside.
    const PixelRect left{-1, 0, 2, 2};
    WipeDrawScreen(&left);
    EXPECT_EQ(At(kScreenW - 1, kScreenH - 1), 0u);
    Fill(kBackground);
    const PixelRect beyond{30, 20, 4000, 4000};
    WipeDrawScreen(&beyond);
    EXPECT_EQ(At(31, 23), 0u);
    EXPECT_EQ(At(29, 23), kBackground);

    // A graph as draw target is wiped instead of the screen, empty clip or not.
    const int32_t graph = CodedGraph(4, 4);
    g_drawSettings.drawTarget = graph;
    g_drawSettings.emptyClip = 1;
    WipeDrawScreen(nullptr);
    EXPECT_EQ(Pixel(*SoftViewOf(FindGraphRecord(graph)), 3, 3), 0u);
    EXPECT_EQ(At(0, 0), kBackground);
}

TEST_F(DrawTest, ClipRectangleIsOrderedAndClamped)
{
    struct Case {
        int32_t x1, y1, x2, y2;
        PixelRect stored;
        int32_t empty;
    } const cases[] = {
        {20, 10, 2, 1, {2, 1, 20, 10}, 0},
        {-20, -20, 5000, 5000, {0, 0, kScreenW, kScreenH}, 0},
        {50, 5, -3, 40, {0, 5, kScreenW, kScreenH}, 0},
        {10, 10, 10, 20, {10, 10, 10, 20}, 1},
        {40, 0, 60, 5, {kScreenW, 0, kScreenW, 5}, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SetDrawClipRect(c.x1, c.y1, c.x2, c.y2), 0);
        const PixelRect r = g_drawSettings.clip;
        EXPECT_EQ(r.left, c.stored.left) << c.x1;
        EXPECT_EQ(r.top, c.stored.top) << c.x1;
        EXPECT_EQ(r.right, c.stored.right) << c.x1;
        EXPECT_EQ(r.bottom, c.stored.bottom) << c.x1;
        EXPECT_EQ(g_drawSettings.emptyClip, c.empty) << c.x1;
        int32_t asked[4] = {};
        GetRequestedDrawClipRect(asked);
        EXPECT_EQ(asked[0], c.x1);
        EXPECT_EQ(asked[3], c.y2);
    }

    // A graph target clamps to the graph; a dead one is refused with the clip unchanged.
    const int32_t graph = CreateBlankGraph(6, 5);
    g_drawSettings.drawTarget = graph;
    g_drawSettings.drawTargetWidth = 6;
    g_drawSettings.drawTargetHeight = 5;
    EXPECT_EQ(SetDrawClipRect(-1, -1, 100, 100), 0);
    EXPECT_EQ(g_drawSettings.clip.right, 6);
    EXPECT_EQ(g_drawSettings.clip.bottom, 5);
    DestroyGraph(graph);
    EXPECT_EQ(SetDrawClipRect(1, 1, 2, 2), -1);
    EXPECT_EQ(g_drawSettings.clip.right, 6);
    g_drawSettings.drawTarget = -3;
    EXPECT_EQ(SetDrawClipRect(1, 1, 2, 2), -1);
}

TEST_F(DrawTest, EmptyClipOrDisabledDrawingDrawsNothing)
{
    const int32_t graph = CodedGraph(4, 4);
    SetDrawClipRect(10, 10, 10, 100);
    EXPECT_EQ(DrawGraphAt(10, 10, graph, 0), 0);
    EXPECT_EQ(DrawGraphStretched(0, 0, 20, 20, graph, 0), 0);
    EXPECT_EQ(DrawGraphFourCorners(0, 0, 9, 0, 9, 9, 0, 9, graph, 0), 0);
    ExpectScreen([](int32_t, int32_t) { return S{-1, -1}; }, "empty clip");
    EXPECT_EQ(WipeDrawScreen(nullptr), 0);
    EXPECT_EQ(At(10, 10), 0u) << "the wipe ignores the clip";

    Fill(kBackground);
    SetDrawClipRect(0, 0, kScreenW, kScreenH);
    g_drawSettings.drawingDisabled = 1;
    EXPECT_EQ(DrawGraphAt(0, 0, graph, 0), 0);
    EXPECT_EQ(SetDrawClipRect(1, 1, 2, 2), 0);
    EXPECT_EQ(g_drawSettings.clip.right, kScreenW) << "the clip is kept while drawing is disabled";
    g_drawSettings.drawingDisabled = 0;
    ExpectScreen([](int32_t, int32_t) { return S{-1, -1}; }, "disabled");
}

TEST_F(DrawTest, DrawAtPutsEachSourcePixelInPlace)
{
    const int32_t graph = CodedGraph(5, 4);
    EXPECT_EQ(DrawGraphAt(3, 2, graph, 0), 0);
    ExpectScreen(Within(3, 2, 5, 4, [](int32_t x, int32_t y) { return S{x, y}; }), "at (3, 2)");

    // The clip rectangle cuts the draw; partly off-screen draws stay inside.
    Fill(kBackground);
    SetDrawClipRect(0, 0, 5, 4);
    DrawGraphAt(3, 2, graph, 0);
    ExpectScreen(Within(3, 2, 2, 2, [](int32_t x, int32_t y) { return S{x, y}; }), "clipped");
    Fill(kBackground);
    SetDrawClipRect(0, 0, kScreenW, kScreenH);
    DrawGraphAt(-2, kScreenH - 1, graph, 0);
    ExpectScreen(Within(0, kScreenH - 1, 3, 1, [](int32_t x, int32_t y) { return S{x + 2, y}; }), "off the corner");

    const int32_t dead = CodedGraph(2, 2);
    DestroyGraph(dead);
    EXPECT_EQ(DrawGraphAt(0, 0, dead, 0), -1);
    EXPECT_EQ(DrawGraphAt(0, 0, -1, 0), -1);
}

TEST_F(DrawTest, AnyNonzeroTransparentFlagSkipsTheTransparentColour)
{
    // Pixel (1, 1) is black, the transparent colour of new graphs.
    const int32_t graph = CodedGraph(3, 3, 1, 1);
    for (int32_t flag : {1, 2, -1, 0x100}) {
        Fill(kBackground);
        EXPECT_EQ(DrawGraphAt(4, 4, graph, flag), 0);
        EXPECT_EQ(At(5, 5), kBackground) << "flag " << flag;
        EXPECT_EQ(From(4, 4), (S{0, 0}));
        Fill(kBackground);
        DrawGraphStretched(4, 4, 10, 10, graph, flag);
        EXPECT_EQ(At(6, 6), kBackground) << "stretched, flag " << flag;
        EXPECT_EQ(From(4, 4), (S{0, 0}));
    }
    Fill(kBackground);
    DrawGraphAt(4, 4, graph, 0);
    EXPECT_EQ(At(5, 5), 0u) << "flag 0 draws the black pixel";
}

TEST_F(DrawTest, StretchedAndMirroredDraws)
{
    const int32_t graph = CodedGraph(4, 3);
    EXPECT_EQ(DrawGraphStretched(2, 1, 10, 7, graph, 0), 0);
    ExpectScreen(Within(2, 1, 8, 6, [](int32_t x, int32_t y) { return S{x / 2, y / 2}; }), "doubled");

    Fill(kBackground);
    EXPECT_EQ(DrawGraphStretched(10, 1, 2, 7, graph, 0), 0);
    ExpectScreen(Within(2, 1, 8, 6,
                        [](int32_t x, int32_t y) {
                            return S{3 - x / 2, y / 2};
                        }),
                 "mirrored left to right");

    Fill(kBackground);
    EXPECT_EQ(DrawGraphStretched(2, 7, 10, 1, graph, 0), 0);
    ExpectScreen(Within(2, 1, 8, 6,
                        [](int32_t x, int32_t y) {
                            return S{x / 2, 2 - y / 2};
                        }),
                 "mirrored top to bottom");

    Fill(kBackground);
    EXPECT_EQ(DrawGraphMirrored(5, 6, graph, 0), 0);
    ExpectScreen(Within(5, 6, 4, 3, [](int32_t x, int32_t y) { return S{3 - x, y}; }), "mirrored");

    // Float corners are truncated towards zero on the software path.
    Fill(kBackground);
    EXPECT_EQ(DrawGraphStretchedFloat(2.9f, 1.5f, 10.99f, 7.2f, graph, 0), 0);
    ExpectScreen(Within(2, 1, 8, 6, [](int32_t x, int32_t y) { return S{x / 2, y / 2}; }), "float");

    EXPECT_EQ(DrawGraphMirrored(0, 0, -1, 0), -1);
    EXPECT_EQ(DrawGraphStretchedFloat(0, 0, 1, 1, -1, 0), -1);
}

TEST_F(DrawTest, PortionsShowTheirRectangleOnly)
{
    const int32_t graph = CodedGraph(6, 5);
    SetDrawClipRect(1, 1, 30, 20);
    EXPECT_EQ(DrawGraphPortion(10, 5, 1, 2, 3, 2, graph, 0, 0), 0);
    ExpectScreen(Within(10, 5, 3, 2, [](int32_t x, int32_t y) { return S{x + 1, y + 2}; }), "portion");
    EXPECT_EQ(g_drawSettings.clip.left, 1) << "the clip is restored";
    EXPECT_EQ(g_drawSettings.clip.right, 30);

    // Mirrored: source column 1 lands at x + width - 1.
    Fill(kBackground);
    EXPECT_EQ(DrawGraphPortion(10, 5, 1, 2, 3, 2, graph, 0, 1), 0);
    ExpectScreen(Within(10, 5, 3, 2, [](int32_t x, int32_t y) { return S{3 - x, y + 2}; }), "mirrored portion");

    // The saved clip still applies inside the portion.
    Fill(kBackground);
    DrawGraphPortion(0, 0, 0, 0, 3, 3, graph, 0, 0);
    ExpectScreen(Within(1, 1, 2, 2, [](int32_t x, int32_t y) { return S{x + 1, y + 1}; }), "inside clip");

    DestroyGraph(graph);
    EXPECT_EQ(DrawGraphPortion(10, 5, 1, 2, 3, 2, graph, 0, 1), -1);
    EXPECT_EQ(DrawGraphPortion(100, 100, 1, 2, 3, 2, graph, 0, 1), -1);
    EXPECT_EQ(g_drawSettings.clip.left, 1);
    EXPECT_EQ(g_drawSettings.clip.bottom, 20);
}

TEST_F(DrawTest, StretchedPortionUsesATemporarySubGraph)
{
    const int32_t graph = CodedGraph(6, 5);
    const int32_t live = GraphTable()->liveCount;
    EXPECT_EQ(DrawGraphPortionStretched(4, 2, 8, 6, 1, 1, 2, 2, graph, 0), 0);
    ExpectScreen(Within(4, 2, 4, 4, [](int32_t x, int32_t y) { return S{1 + x / 2, 1 + y / 2}; }), "stretched portion");
    EXPECT_EQ(GraphTable()->liveCount, live);
    EXPECT_EQ(DrawGraphPortionStretched(4, 2, 8, 6, 6, 0, 2, 2, graph, 0), -1) << "outside the graph";
    EXPECT_EQ(DrawGraphPortionStretched(4, 2, 8, 6, 0, 0, 2, 2, -1, 0), -1);
}

TEST_F(DrawTest, FourCornersGivenClockwiseDrawUpright)
{
    const int32_t graph = CodedGraph(6, 6);
    EXPECT_EQ(DrawGraphFourCorners(4, 3, 10, 3, 10, 9, 4, 9, graph, 0), 0);
    // The interior maps one to one; the spans' ends may reach one pixel further.
    for (int32_t y = 3; y < 8; ++y) {
        for (int32_t x = 4; x < 9; ++x) {
            EXPECT_EQ(From(x, y), (S{x - 4, y - 3})) << x << "," << y;
        }
    }
    for (int32_t y = 0; y < kScreenH; ++y) {
        for (int32_t x = 0; x < kScreenW; ++x) {
            if (x < 4 || x > 10 || y < 3 || y > 9) {
                ASSERT_EQ(At(x, y), kBackground) << x << "," << y;
            }
        }
    }

    // Corners given from the top-right run the graph mirrored.
    Fill(kBackground);
    DrawGraphFourCorners(10, 3, 4, 3, 4, 9, 10, 9, graph, 0);
    for (int32_t y = 4; y < 8; ++y) {
        for (int32_t x = 5; x < 9; ++x) {
            const S got = From(x, y);
            EXPECT_EQ(got.y, y - 3) << x << "," << y;
            EXPECT_NEAR(got.x, 9 - x, 1) << x << "," << y;
        }
    }
    EXPECT_EQ(DrawGraphFourCorners(0, 0, 1, 0, 1, 1, 0, 1, -1, 0), -1);
}

TEST_F(DrawTest, DestroyedDrawTargetIsNoLongerDrawnInto)
{
    const int32_t canvas = CreateBlankGraph(8, 8);
    const int32_t sprite = CodedGraph(4, 4);
    g_drawSettings.drawTarget = canvas;
    g_drawSettings.softDrawTarget = SoftViewOf(FindGraphRecord(canvas));
    EXPECT_EQ(DrawGraphAt(1, 1, sprite, 0), 0);
    EXPECT_EQ(Pixel(*SoftViewOf(FindGraphRecord(canvas)), 1, 1), Code(0, 0));
    DestroyGraph(canvas);
    EXPECT_EQ(g_drawSettings.softDrawTarget, nullptr);
    EXPECT_EQ(DrawGraphAt(1, 1, sprite, 0), 0);
    EXPECT_EQ(DrawGraphStretched(0, 0, 8, 8, sprite, 0), 0);
    EXPECT_EQ(DrawGraphFourCorners(0, 0, 8, 0, 8, 8, 0, 8, sprite, 0), 0);
    ExpectScreen([](int32_t, int32_t) { return S{-1, -1}; }, "no draw reaches the screen");
}

TEST_F(DrawTest, FarOffCoordinatesDrawNothingAndDoNotOverflow)
{
    const int32_t graph = CodedGraph(4, 4);
    const int32_t big = INT32_MAX - 1;
    const int32_t small = INT32_MIN + 1;
    EXPECT_EQ(DrawGraphAt(big, big, graph, 0), 0);
    EXPECT_EQ(DrawGraphMirrored(big, small, graph, 0), 0);
    EXPECT_EQ(DrawGraphPortion(big, 0, small, 0, big, 4, graph, 0, 0), 0);
    EXPECT_EQ(DrawGraphPortion(small, 0, big, 0, big, 4, graph, 0, 1), 0);
    ExpectScreen([](int32_t, int32_t) { return S{-1, -1}; }, "far off");
    BaseImage picture = CodedPicture(4, 4);
    const PixelRect source{small, small, big, big};
    EXPECT_EQ(TransferImageRectToGraph(&picture, nullptr, &source, big, 0, graph, 0), 0);
    EXPECT_EQ(TransferImageToGraph(&picture, nullptr, nullptr, big, small, graph, 0), 0);
    DiscardBaseImage(&picture);
}

TEST_F(DrawTest, PalettedPicturesDrawTheirPaletteColours)
{
    ColorFormat format{};
    SetupPalette8Format(&format);
    format.palette[1] = PaletteEntry{0x30, 0x20, 0x10, 0};
    format.palette[2] = PaletteEntry{0x33, 0x22, 0x11, 0};
    BaseImage picture{};
    ASSERT_EQ(AllocBaseImage(3, 2, &format, &picture), 0);
    for (int32_t i = 0; i < 6; ++i) {
        picture.pixels[(i / 3) * picture.pitch + i % 3] = static_cast<uint8_t>(1 + i % 2);
    }
    const int32_t graph = ConvertBaseImageToGraph(&picture, nullptr, 0, 0, 0);
    DiscardBaseImage(&picture);
    ASSERT_GE(graph, 0);
    EXPECT_EQ(FindGraphRecord(graph)->image->held.soft->memImg.store->paletted, 1);
    EXPECT_EQ(DrawGraphAt(5, 5, graph, 1), 0);
    EXPECT_EQ(At(5, 5), 0x102030u);
    EXPECT_EQ(At(6, 5), 0x112233u);
    EXPECT_EQ(At(7, 6), 0x112233u);
    EXPECT_EQ(At(8, 6), kBackground);
}

TEST_F(DrawTest, PaintFillsTheWholeGraphWithClampedColour)
{
    const int32_t graph = CodedGraph(4, 3);
    const int32_t sub = CreateSubGraph(1, 1, 2, 2, graph);
    EXPECT_EQ(PaintGraphColor(sub, 300, -5, 128, 999), 0);
    const MEMIMG& view = *SoftViewOf(FindGraphRecord(graph));
    EXPECT_EQ(Pixel(view, 1, 1), 0xFF0080u);
    EXPECT_EQ(Pixel(view, 2, 2), 0xFF0080u);
    EXPECT_EQ(Pixel(view, 0, 0), Code(0, 0)) << "only the sub-graph's rectangle";
    EXPECT_EQ(Pixel(view, 3, 2), Code(3, 2));

    // A graph of other colour bits than the screen is painted in its own pixel form.
    struct Case {
        int32_t screenBits, graphBits;
        uint32_t red;  // the pixel of pure red in the graph's form
    } const cases[] = {{32, 16, 0xF800}, {16, 32, 0xFF0000}, {16, 16, 0xF800}};
    for (const Case& c : cases) {
        g_screenSettings.colorBits = c.screenBits;
        g_newGraphSettings.colorBits = c.graphBits;
        const int32_t painted = CreateBlankGraph(3, 2);
        ASSERT_GE(painted, 0);
        EXPECT_EQ(PaintGraphColor(painted, 255, 0, 0, 255), 0);
        const MEMIMG& v = *SoftViewOf(FindGraphRecord(painted));
        uint32_t pixel = 0;
        std::memcpy(&pixel, v.pixels + v.store->pitch + (c.graphBits / 8) * 2, c.graphBits / 8);
        EXPECT_EQ(pixel & (c.graphBits == 16 ? 0xFFFFu : 0xFFFFFFu), c.red) << c.screenBits << " " << c.graphBits;
        DestroyGraph(painted);
    }
    g_screenSettings.colorBits = 32;
    g_newGraphSettings.colorBits = 0;
}

// A graph with an alpha channel takes the colour with the alpha asked for, whatever the blend
// mode, as a texture does on the device; drawn, it shows by that alpha.
TEST_F(DrawTest, PaintGivesAGraphWithAlphaItsColourAndAlpha)
{
    struct Case {
        int32_t bits;
        uint32_t pixel;  // the painted pixel: 32-bit ARGB, or RGB565 then alpha (a spare byte above)
        uint32_t mask;
    } const cases[] = {{32, 0x80C86432u, 0xFFFFFFFFu}, {16, 0x0080CB26u, 0x00FFFFFFu}};
    for (const Case& c : cases) {
        g_newGraphSettings.colorBits = c.bits;
        g_newGraphSettings.alphaChannel = 1;
        const int32_t graph = CreateBlankGraph(3, 2);
        g_newGraphSettings.alphaChannel = 0;
        g_newGraphSettings.colorBits = 0;
        ASSERT_GE(graph, 0);
        SelectBlendMode(1, 64);
        EXPECT_EQ(PaintGraphColor(graph, 200, 100, 50, 128), 0);
        SelectBlendMode(0, 255);
        const MEMIMG& view = *SoftViewOf(FindGraphRecord(graph));
        ASSERT_EQ(view.store->alpha, 1);
        for (int32_t i = 0; i < 6; ++i) {
            uint32_t pixel = 0;
            std::memcpy(&pixel, view.pixels + view.store->pitch * (i / 3) + 4 * (i % 3), 4);
            EXPECT_EQ(pixel & c.mask, c.pixel) << c.bits << " bits, pixel " << i;
        }
        DestroyGraph(graph);
    }
    g_newGraphSettings.alphaChannel = 1;
    const int32_t graph = CreateBlankGraph(2, 1);
    g_newGraphSettings.alphaChannel = 0;
    PaintGraphColor(graph, 255, 255, 255, 128);
    EXPECT_EQ(DrawGraphAt(1, 1, graph, 1), 0);
    // Half of the way from the background to white in each channel.
    for (int32_t x = 1; x < 3; ++x) {
        const uint32_t c = At(x, 1);
        for (int32_t shift = 0; shift < 24; shift += 8) {
            const int32_t from = kBackground >> shift & 0xFF;
            const int32_t got = static_cast<int32_t>(c >> shift & 0xFF);
            EXPECT_NEAR(got, from + (255 - from) / 2, 1) << x << " channel " << shift / 8;
        }
    }
    EXPECT_EQ(At(3, 1), kBackground);
}

TEST_F(DrawTest, BlendGraphSmallerThanTheGraphRefusesTheDraw)
{
    const int32_t graph = CodedGraph(4, 4);
    const int32_t small = CreateBlankGraph(4, 3);
    g_drawSettings.blendGraph = small;
    EXPECT_EQ(DrawGraphAt(0, 0, graph, 0), -1);
    EXPECT_EQ(DrawGraphStretched(0, 0, 2, 2, graph, 0), -1);
    DestroyGraph(small);
    EXPECT_EQ(DrawGraphAt(0, 0, graph, 0), -1) << "a blend graph that is gone";
    ExpectScreen([](int32_t, int32_t) { return S{-1, -1}; }, "refused");
}

// The movie's frame callbacks, as they were called.
std::vector<int32_t> s_movieCalls;

TEST_F(DrawTest, MovieFrameComesUpToDateAtEachDrawAndGoesWithItsGraph)
{
    s_movieCalls.clear();
    // An Ogg movie without a decoder: each advance only calls its frame callback.
    auto* record = static_cast<MovieRecord*>(AllocTrackedMemoryZeroed(sizeof(MovieRecord), __FILE__, __LINE__));
    const int32_t movieHandle = AddHandleRecord(MovieTable(), record);
    ASSERT_GE(movieHandle, 0);
    record->check = static_cast<uint32_t>(HandleCheckOf(movieHandle));
    record->ogg = 1;
    record->movieSound = -1;
    record->callbackUserData = 7;
    record->frameCallback = [](MovieRecord*, uint32_t user) { s_movieCalls.push_back(static_cast<int32_t>(user)); };
    ++g_openMovieCount;

    const int32_t plain = CodedGraph(4, 4);
    const int32_t movie = CodedGraph(4, 3);
    FindGraphRecord(movie)->movie = movieHandle;
    DrawGraphAt(1, 2, plain, 0);
    EXPECT_TRUE(s_movieCalls.empty()) << "no movie, no frame update";
    DrawGraphStretched(9, 8, 3, 2, movie, 0);
    DrawGraphFourCorners(5.5f, 1, 9, 2, 8, 6.9f, -2.5f, 4, movie, 0);
    EXPECT_EQ(s_movieCalls, (std::vector<int32_t>{7, 7}));
    DestroyGraph(movie);
    EXPECT_EQ(HandleOfSlot(MovieTable(), HandleSlotOf(movieHandle)), -1) << "the movie went with its graph";
    EXPECT_EQ(DrawGraphAt(0, 0, movie, 0), -1);
}

// What the back end was asked to do.
std::vector<std::string> s_quadCalls;

// A back end that records the front end's calls instead of drawing.
RenderBackend RecordingBackend()
{
    RenderBackend backend = kSoftwareRenderBackend;
    backend.hardware = 1;
    backend.drawQuad = [](const GraphRecord*, int32_t x, int32_t y, float, float, int32_t t, int32_t whole) -> int32_t {
        s_quadCalls.push_back("at " + std::to_string(x) + "," + std::to_string(y) + " t" + std::to_string(t) + " w" +
                              std::to_string(whole));
        return 0;
    };
    backend.drawStretchedQuad = [](const GraphRecord*, const int32_t c[4], const float f[4], int32_t t,
                                   int32_t whole) -> int32_t {
        s_quadCalls.push_back("stretched " + std::to_string(c[0]) + "," + std::to_string(c[2]) + " " +
                              std::to_string(static_cast<int>(f[2] * 10)) + " t" + std::to_string(t) + " w" +
                              std::to_string(whole));
        return 0;
    };
    backend.drawFourCornersQuad = [](const GraphRecord*, const float c[8], int32_t t) -> int32_t {
        s_quadCalls.push_back("corners " + std::to_string(static_cast<int>(c[4])) + "," +
                              std::to_string(static_cast<int>(c[5])) + " t" + std::to_string(t));
        return 0;
    };
    backend.subtractNeedsEmulation = []() -> int32_t { return 1; };
    backend.invertAreaBeforeSubtract = [](const PixelRect*) { s_quadCalls.push_back("invert"); };
    backend.invertAreaAfterSubtract = [](const PixelRect*) { s_quadCalls.push_back("invert back"); };
    backend.wipe = [](const PixelRect* area) -> int32_t {
        s_quadCalls.push_back(area == nullptr ? "wipe all" : "wipe part");
        return 0;
    };
    backend.applyClip = []() -> int32_t {
        s_quadCalls.push_back("clip");
        return 0;
    };
    backend.paint = [](GraphRecord*, int32_t r, int32_t g, int32_t b, int32_t a) -> int32_t {
        s_quadCalls.push_back("paint " + std::to_string(r) + " " + std::to_string(g) + " " + std::to_string(b) + " " +
                              std::to_string(a));
        return 0;
    };
    return backend;
}

TEST_F(DrawTest, TheChosenBackEndDrawsWithTheFlagAsZeroOrOne)
{
    const int32_t graph = CodedGraph(4, 2);
    // The software back end draws into the screen image.
    EXPECT_EQ(DrawGraphAt(1, 1, graph, 0), 0);
    ExpectScreen(
        [](int32_t x, int32_t y) {
            return x >= 1 && x < 5 && y >= 1 && y < 3 ? S{x - 1, y - 1} : S{-1, -1};
        },
        "software");

    s_quadCalls.clear();
    const RenderBackend recorder = RecordingBackend();
    UseRenderBackend(&recorder);
    EXPECT_EQ(g_screenSettings.hardwareActive, 1) << "the flag follows the back end";
    Fill(kBackground);
    DrawGraphAt(1, 1, graph, 5);
    DrawGraphStretchedFloat(2.5f, 0, 7.75f, 3, graph, -3);
    // Clockwise corners reach the quad as top-left, top-right, bottom-left, bottom-right.
    DrawGraphFourCorners(0, 0, 8, 0, 8, 4, 1, 5, graph, 0);
    g_drawSettings.blendMode = kBlendModeSubtract;
    DrawGraphStretched(9, 0, 1, 2, graph, 0);
    g_drawSettings.blendMode = kBlendModeNone;
    const PixelRect part{1, 1, 3, 3};
    WipeDrawScreen(&part);
    WipeDrawScreen(nullptr);
    SetDrawClipRect(0, 0, 4, 4);
    PaintGraphColor(graph, 1, 300, 3, -4);
    const std::vector<std::string> expected = {
        "at 1,1 t1 w1",
        "stretched 2,7 77 t1 w0",
        "corners 1,5 t0",
        "invert",
        "stretched 9,1 10 t0 w1",
        "invert back",
        "wipe part",
        "wipe all",
        "clip",
        "paint 1 255 3 0",
    };
    EXPECT_EQ(s_quadCalls, expected);
    ExpectScreen([](int32_t, int32_t) { return S{-1, -1}; }, "nothing reached the software kernels");
    UseRenderBackend(&kSoftwareRenderBackend);
    EXPECT_EQ(g_screenSettings.hardwareActive, 0);
}

}  // namespace
}  // namespace graph_test
