// Font handles, glyph lists and text drawing over a stand-in for the system's fonts, so that
// this logic runs natively under the sanitizers. The stand-in's glyphs are solid boxes whose
// size follows the code unit, and it counts what it is asked.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "quarn/font/font.h"
#include "quarn/font/font_os.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/soft/soft_graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/render_backend.h"
#include "tests/core/alloc_sweep.h"
#include "tests/core/log_capture.h"
#ifdef _WIN32
#include "quarn/system/system.h"
#endif

namespace {

// The stand-in system. Faces listed in refusedFaces are made in no character set; charSets
// lists the sets a named face is made in (empty: all). Units in failingUnits have no outline.
struct FakeFonts {
    std::vector<std::pair<std::wstring, int32_t>> asked;  // (face, char set) of each creation
    std::set<std::wstring> refusedFaces;
    std::set<int32_t> charSets;
    std::set<uint16_t> failingUnits;
    std::map<uint16_t, int> outlineFetches;  // bitmaps handed out, per unit
    int liveFonts = 0;
    int liveContexts = 0;
    int refuseContext = 0;
};
FakeFonts s_fonts;

constexpr int32_t kAscent = 12;
constexpr int32_t kAdvance = 7;

// The box of a unit: 2 to 4 pixels wide, 3 to 6 high; its top 2 rows below the ascent line,
// its left edge 1 right of the pen.
int32_t BoxWidth(uint16_t unit) { return 2 + unit % 3; }
int32_t BoxHeight(uint16_t unit) { return 3 + unit % 4; }
constexpr int32_t kOriginX = 1;
constexpr int32_t kTopOffset = 2;

struct FakeFont {
    int32_t size;
};

void* CreateFake(const wchar_t* face, int32_t size, int32_t, int32_t, int32_t charSet)
{
    const std::wstring name = face != nullptr ? face : L"(system)";
    s_fonts.asked.emplace_back(name, charSet);
    if (s_fonts.refusedFaces.count(name) != 0) return nullptr;
    if (face != nullptr && !s_fonts.charSets.empty() && s_fonts.charSets.count(charSet) == 0) return nullptr;
    ++s_fonts.liveFonts;
    return new FakeFont{size};
}
void DeleteFake(void* font)
{
    --s_fonts.liveFonts;
    delete static_cast<FakeFont*>(font);
}
void* OpenFake(void* font)
{
    if (s_fonts.refuseContext) return nullptr;
    ++s_fonts.liveContexts;
    return font;
}
void CloseFake(void*) { --s_fonts.liveContexts; }
void MetricsFake(void* context, FontOsTextMetrics* out)
{
    const int32_t size = static_cast<FakeFont*>(context)->size;
    *out = FontOsTextMetrics{size / 2, size, kAscent};
}
int64_t OutlineFake(void*, uint16_t unit, int32_t grey, FontOsGlyphMetrics* metrics, uint8_t* buffer, uint32_t bytes)
{
    if (s_fonts.failingUnits.count(unit) != 0) return -1;
    const bool ink = unit != ' ';
    const int32_t w = ink ? BoxWidth(unit) : 0;
    const int32_t h = ink ? BoxHeight(unit) : 0;
    *metrics = FontOsGlyphMetrics{uint32_t(w), uint32_t(h), kOriginX, kAscent - kTopOffset, kAdvance};
    const int32_t pitch = grey ? (w + 3) / 4 * 4 : (w + 31) / 32 * 4;
    const uint32_t size = uint32_t(pitch * h);
    if (buffer == nullptr) return size;
    if (bytes < size) return -1;
    ++s_fonts.outlineFetches[unit];
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            if (grey) {
                buffer[y * pitch + x] = 16;
            } else {
                buffer[y * pitch + x / 8] |= uint8_t(0x80 >> (x % 8));
            }
        }
    }
    return size;
}

const FontOsApi kFakeFonts = {
    .createFont = CreateFake,
    .deleteFont = DeleteFake,
    .openContext = OpenFake,
    .closeContext = CloseFake,
    .textMetrics = MetricsFake,
    .glyphOutline = OutlineFake,
};

constexpr int32_t kWidth = 64;
constexpr int32_t kHeight = 24;

class FontText : public ::testing::Test {
protected:
    void SetUp() override
    {
        static const int tables = BuildMemImgBlendTables();
        (void)tables;
        s_fonts = FakeFonts{};
        SetFontOsApi(&kFakeFonts);
        ResetScreenSettings();
        g_screenSettings.colorBits = 32;
        ResetGraphicsState();
        ApplyDrawSettingDefaults();
        ResetFontState();
        ASSERT_EQ(CreatePlainMemImg(&image_, kWidth, kHeight, kMemImgXrgb32), 0);
        FillMemImgPixels(&image_, nullptr, 0);
    }
    void TearDown() override
    {
        ResetFontState();
        ReleaseMemImgRef(&image_);
        SetFontOsApi(nullptr);
        ResetScreenSettings();
        EXPECT_EQ(s_fonts.liveFonts, 0) << "a system font was not deleted";
        EXPECT_EQ(s_fonts.liveContexts, 0) << "a context was not closed";
    }
    static int32_t MakeFont(const wchar_t* face = L"Test", int32_t kind = kFontPlain)
    {
        return CreateFontToHandle(face, 16, 6, kind, 0, -1, 0, -1, -1);
    }
    int32_t Draw(int32_t font, int32_t x, int32_t y, const wchar_t* text)
    {
        const PixelRect clip{0, 0, kWidth, kHeight};
        return DrawTextCore(1, x, y, 0, 1.0, 1.0, text, 0xFFFFFF, &image_, &clip, 1, font, 0, -1, 0, nullptr);
    }
    bool Lit(int32_t x, int32_t y) const
    {
        uint32_t v = 0;
        std::memcpy(&v, image_.pixels + ptrdiff_t{image_.store->pitch} * y + 4 * x, 4);
        return (v & 0xFFFFFF) != 0;
    }
    // Font creation and a long text's draw with each of their allocations failing in turn.
    void SweepCreationAndText(bool texture);
    MEMIMG image_{};
};

TEST_F(FontText, CreationFallsBackThroughCharSetsAndFaces)
{
    struct Case {
        const wchar_t* face;
        std::set<std::wstring> refused;
        std::set<int32_t> charSets;
        bool made;
        std::vector<std::pair<std::wstring, int32_t>> asked;
        const wchar_t* line;
    };
    const std::wstring dflt = L"ＭＳ ゴシック";
    const Case cases[] = {
        {L"Test", {}, {}, true, {{L"Test", 1}}, nullptr},
        // The set of the index first, then the default set, then Shift-JIS.
        {L"Test", {}, {128}, true, {{L"Test", 1}, {L"Test", 1}, {L"Test", 128}}, nullptr},
        {L"Test",
         {L"Test"},
         {},
         false,
         {{L"Test", 1}, {L"Test", 1}, {L"Test", 128}},
         L"指定のフォントの作成に失敗しました"},
        // No face: the default face, then the system's choice.
        {nullptr, {}, {}, true, {{dflt, 1}}, nullptr},
        {nullptr, {dflt}, {}, true, {{dflt, 1}, {dflt, 1}, {L"(system)", 1}}, nullptr},
        {nullptr,
         {dflt, L"(system)"},
         {},
         false,
         {{dflt, 1}, {dflt, 1}, {L"(system)", 1}},
         L"フォントの作成に失敗しました"},
    };
    for (const Case& c : cases) {
        s_fonts.asked.clear();
        s_fonts.refusedFaces = c.refused;
        s_fonts.charSets = c.charSets;
        LogCapture log;
        const int32_t font = MakeFont(c.face);
        EXPECT_EQ(font >= 0, c.made) << (c.face ? "face" : "no face");
        EXPECT_EQ(s_fonts.asked, c.asked);
        if (c.line != nullptr) {
            EXPECT_TRUE(log.Contains(c.line)) << c.line;
        }
        DestroyFontHandle(font);
        EXPECT_EQ(s_fonts.liveFonts, 0);
    }
}

TEST_F(FontText, AFontWithoutAContextIsRefusedAndFreed)
{
    s_fonts.refuseContext = 1;
    LogCapture log;
    const int32_t live = GetFontTable()->liveCount;
    EXPECT_EQ(MakeFont(), -1);
    EXPECT_TRUE(log.Contains(L"ＤＣの取得に失敗しました"));
    EXPECT_EQ(GetFontTable()->liveCount, live);
    EXPECT_EQ(s_fonts.liveFonts, 0);
}

TEST_F(FontText, GlyphsAreDrawnAtTheirPenPositionsAndAskedOfTheSystemOnce)
{
    const int32_t font = MakeFont();
    ASSERT_GE(font, 0);
    const wchar_t text[] = L"AB A";
    EXPECT_EQ(Draw(font, 3, 4, text), 4 * kAdvance);
    // Every pixel lies in the box of the glyph at its pen, and every box is filled.
    std::set<std::pair<int32_t, int32_t>> boxes;
    for (int32_t i = 0; text[i] != 0; ++i) {
        const uint16_t unit = uint16_t(text[i]);
        if (unit == ' ') continue;
        for (int32_t y = 0; y < BoxHeight(unit); ++y) {
            for (int32_t x = 0; x < BoxWidth(unit); ++x)
                boxes.emplace(3 + i * kAdvance + kOriginX + x, 4 + kTopOffset + y);
        }
    }
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            EXPECT_EQ(Lit(x, y), boxes.count({x, y}) != 0) << x << "," << y;
        }
    }
    EXPECT_EQ(s_fonts.outlineFetches[uint16_t('A')], 1) << "a unit twice in a text is rendered once";
    EXPECT_EQ(s_fonts.outlineFetches[uint16_t('B')], 1);
    // Drawn again, everything comes from the cache.
    EXPECT_EQ(Draw(font, 3, 4, text), 4 * kAdvance);
    EXPECT_EQ(s_fonts.outlineFetches[uint16_t('A')], 1);
    EXPECT_EQ(s_fonts.outlineFetches[uint16_t('B')], 1);
    // Spacing widens every step.
    ASSERT_EQ(SetFontCharSpacing(2, font), 0);
    int32_t size[2] = {};
    const PixelRect clip{0, 0, kWidth, kHeight};
    EXPECT_EQ(DrawTextCore(0, 0, 0, 0, 1.0, 1.0, text, 0, nullptr, &clip, 1, font, 0, -1, 0, size), 4 * (kAdvance + 2));
    EXPECT_EQ(size[0], 4 * (kAdvance + 2));
}

TEST_F(FontText, ACacheSmallerThanTheTextRendersEvictedGlyphsAgain)
{
    const int32_t font = MakeFont();
    ASSERT_GE(font, 0);
    FontRecord* record = GetFontRecord(font);
    ASSERT_NE(record, nullptr);
    record->capacity = 2;
    ResetGlyphCache(record);
    EXPECT_EQ(Draw(font, 0, 0, L"ABCA"), 4 * kAdvance);
    // C takes A's cell, so the second A is rendered again; every glyph is still drawn.
    EXPECT_EQ(s_fonts.outlineFetches[uint16_t('A')], 2);
    EXPECT_EQ(s_fonts.outlineFetches[uint16_t('C')], 1);
    for (int32_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(Lit(i * kAdvance + kOriginX, kTopOffset)) << "glyph " << i;
    }
}

TEST_F(FontText, AGlyphWithoutAnOutlineFailsTheTextAloud)
{
    const int32_t font = MakeFont();
    ASSERT_GE(font, 0);
    s_fonts.failingUnits = {uint16_t('X')};
    LogCapture log;
    EXPECT_EQ(Draw(font, 0, 0, L"AX"), -1);
    EXPECT_TRUE(log.Contains(L"GetGlyphOutline 関数が失敗しました"));
    EXPECT_TRUE(log.Contains(L"テキストキャッシュの作成に失敗しました"));
    // The glyph before it was drawn; nothing past it.
    EXPECT_TRUE(Lit(kOriginX, kTopOffset));
    EXPECT_FALSE(Lit(kAdvance + kOriginX, kTopOffset));
}

TEST_F(FontText, AntialiasedGlyphsComeAsGreyLevels)
{
    const int32_t font = MakeFont(L"Test", kFontAntialiased);
    ASSERT_GE(font, 0);
    EXPECT_EQ(Draw(font, 0, 0, L"B"), kAdvance);
    const uint16_t b = uint16_t('B');
    for (int32_t y = 0; y < BoxHeight(b); ++y) {
        for (int32_t x = 0; x < BoxWidth(b); ++x) EXPECT_TRUE(Lit(kOriginX + x, kTopOffset + y)) << x << "," << y;
    }
    EXPECT_FALSE(Lit(kOriginX + BoxWidth(b), kTopOffset));
}

// ---- Texture glyph caches, over a renderer that reports itself as hardware: its images are
// the software renderer's and its point draws are recorded.

struct GlyphDraw {
    int32_t x, y;    // where the cache graph's corner went
    PixelRect clip;  // the clip the draw ran under: the glyph's rectangle
    uint32_t bright;
    int32_t graph;
};
std::vector<GlyphDraw> s_glyphDraws;
int32_t s_refuseImages = 0;

int32_t RecordQuad(const GraphRecord* graph, int32_t x, int32_t y, float, float, int32_t, int32_t)
{
    s_glyphDraws.push_back({x, y, g_drawSettings.clip, DrawBrightRgb(g_drawSettings), graph->handle});
    return 0;
}
// The stretched and four-corner draws: the drawn graph's rectangle of its image and the
// corners (stretched: x1, y1, x2, y2; four corners: top-left, top-right, bottom-left,
// bottom-right).
struct FreeGlyphDraw {
    int32_t fourCorners;
    int32_t graphX, graphY, graphWidth, graphHeight;
    std::vector<float> corners;
    uint32_t bright;
};
std::vector<FreeGlyphDraw> s_freeDraws;

int32_t RecordStretched(const GraphRecord* graph, const int32_t*, const float* f, int32_t, int32_t)
{
    s_freeDraws.push_back(
        {0, graph->x, graph->y, graph->width, graph->height, {f, f + 4}, DrawBrightRgb(g_drawSettings)});
    return 0;
}
int32_t RecordFourCorners(const GraphRecord* graph, const float* f, int32_t)
{
    s_freeDraws.push_back(
        {1, graph->x, graph->y, graph->width, graph->height, {f, f + 8}, DrawBrightRgb(g_drawSettings)});
    return 0;
}
int32_t MakeOrRefuseImage(GraphRecord* graph, int32_t width, int32_t height, int32_t levels, int32_t alpha,
                          int32_t paletted, int32_t compression)
{
    if (s_refuseImages) return -1;
    return SoftMakeGraphImage(graph, width, height, levels, alpha, paletted, compression);
}

RenderBackend MakeTextureBackend()
{
    RenderBackend backend = kSoftwareRenderBackend;
    backend.hardware = 1;
    backend.glyphCache = kGlyphCacheTexture;
    backend.drawQuad = RecordQuad;
    backend.drawStretchedQuad = RecordStretched;
    backend.drawFourCornersQuad = RecordFourCorners;
    backend.makeImage = MakeOrRefuseImage;
    return backend;
}
const RenderBackend kTextureBackend = MakeTextureBackend();

class TextureFontText : public FontText {
protected:
    void SetUp() override
    {
        FontText::SetUp();
        g_screenSettings.started = 1;
        g_drawSettings.drawTargetWidth = kWidth;
        g_drawSettings.drawTargetHeight = kHeight;
        StoreDrawClipRect(0, 0, kWidth, kHeight);
        UseRenderBackend(&kTextureBackend);
#ifdef _WIN32
        // Graph draws need a started library there.
        g_system.started = 1;
        g_system.active = 1;
#endif
        s_glyphDraws.clear();
        s_freeDraws.clear();
        s_refuseImages = 0;
    }
    void TearDown() override
    {
        ResetFontState();
        DestroyAllGraphs();
        UseRenderBackend(&kSoftwareRenderBackend);
#ifdef _WIN32
        g_system.started = 0;
        g_system.active = 0;
#endif
        FontText::TearDown();
    }
};

TEST_F(TextureFontText, AFontWhoseGlyphTextureCannotBeMadeIsRefusedAloud)
{
    s_refuseImages = 1;
    LogCapture log;
    const int32_t live = GetFontTable()->liveCount;
    EXPECT_EQ(MakeFont(L"Test", kFontAntialiased), -1);
    EXPECT_TRUE(log.Contains(L"テクスチャ文字キャッシュの作成に失敗しました"));
    EXPECT_EQ(GetFontTable()->liveCount, live);
    EXPECT_EQ(s_fonts.liveFonts, 0);
    EXPECT_EQ(GraphTable()->liveCount, 0);
}

TEST_F(TextureFontText, GlyphsAreCachePortionsAtTheirPensTintedByTheTextColour)
{
    const int32_t font = MakeFont(L"Test", kFontPlain);
    ASSERT_GE(font, 0);
    const FontRecord* record = GetFontRecord(font);
    ASSERT_EQ(record->textureCache, 1);
    ASSERT_GE(record->cacheGraph, 0);
    StoreBrightRgb(0x102030);
    const uint32_t red = PackScreenColor(255, 0, 0);
    ASSERT_EQ(DrawTextWithFont(3, 4, L"ab", red, font, 0, 0), 0);
    ASSERT_EQ(s_glyphDraws.size(), 2u);
    const uint16_t units[2] = {'a', 'b'};
    for (int32_t i = 0; i < 2; ++i) {
        const GlyphDraw& d = s_glyphDraws[static_cast<size_t>(i)];
        const int32_t left = 3 + i * kAdvance + kOriginX;
        const int32_t top = 4 + kTopOffset;
        EXPECT_EQ(d.graph, record->cacheGraph);
        EXPECT_EQ(d.bright, 0x100000u) << "red weighed by the caller's bright colour";
        // Only the glyph's box shows, its cell's corner placed so that the box lands there.
        EXPECT_EQ(d.clip.left, left);
        EXPECT_EQ(d.clip.top, top);
        EXPECT_EQ(d.clip.right, left + BoxWidth(units[i]));
        EXPECT_EQ(d.clip.bottom, top + BoxHeight(units[i]));
        int32_t cx = 0;
        int32_t cy = 0;
        ASSERT_EQ(TextureCellOrigin(record, record->codeUnits[units[i]].entry->cell, &cx, &cy), 0);
        EXPECT_EQ(d.x, left - cx);
        EXPECT_EQ(d.y, top - cy);
    }
    // The caller's bright colour and clip are back.
    EXPECT_EQ(DrawBrightRgb(g_drawSettings), 0x102030u);
    EXPECT_EQ(g_drawSettings.clip.right, kWidth);
}

// Glyphs down the screen, and scaled glyphs, are their cells' sub-graphs: turned a quarter
// turn clockwise onto their boxes (pixel centres on whole coordinates, so half a pixel back),
// or stretched over them; each box is the unscaled box magnified about the text's origin.
// Subtract on a renderer without reverse subtraction: the text's area is inverted once before
// and once after all its glyphs; the glyph draws inside it are not inverted again, which would
// undo the text's inversion.
std::vector<std::string> s_inversions;
TEST_F(TextureFontText, SubtractEmulationWrapsTheWholeTextOnce)
{
    // Static: the font's cache images keep the back end that made them until the tear-down.
    static const RenderBackend subtracting = [] {
        RenderBackend backend = kTextureBackend;
        backend.subtractNeedsEmulation = [] { return 1; };
        backend.invertAreaBeforeSubtract = [](const PixelRect* r) {
            s_inversions.push_back("before " + std::to_string(r->left) + "," + std::to_string(r->top) + "," +
                                   std::to_string(r->right) + "," + std::to_string(r->bottom));
        };
        backend.invertAreaAfterSubtract = [](const PixelRect* r) {
            s_inversions.push_back("after " + std::to_string(r->left) + "," + std::to_string(r->top) + "," +
                                   std::to_string(r->right) + "," + std::to_string(r->bottom));
        };
        return backend;
    }();
    UseRenderBackend(&subtracting);
    const int32_t font = MakeFont(L"Test", kFontPlain);
    ASSERT_GE(font, 0);
    SelectBlendMode(3, 255);
    s_inversions.clear();
    ASSERT_EQ(DrawTextWithFont(3, 4, L"ab", PackScreenColor(255, 0, 0), font, 0, 0), 0);
    EXPECT_EQ(s_glyphDraws.size(), 2u);
    const std::string area = "3,4," + std::to_string(kWidth) + "," + std::to_string(4 + QueryFontHeight(font) + 3);
    EXPECT_EQ(s_inversions, (std::vector<std::string>{"before " + area, "after " + area}));
    SelectBlendMode(0, 255);
}

TEST_F(TextureFontText, TurnedAndScaledGlyphsAreTheirCellsOnTheirBoxes)
{
    const int32_t font = MakeFont(L"Test", kFontEdge);
    ASSERT_GE(font, 0);
    const FontRecord* record = GetFontRecord(font);
    const int32_t cellHeight = record->cellHeight;
    const int32_t edge = record->edgeSize;
    const uint32_t red = PackScreenColor(255, 0, 0);
    const uint32_t blue = PackScreenColor(0, 0, 255);
    const PixelRect clip{0, 0, kWidth, kHeight};
    struct Case {
        const char* name;
        int32_t vertical;
        int32_t scaleGiven;
        double sx, sy;
    };
    const Case cases[] = {
        {"down", 1, 0, 1.0, 1.0},
        {"down scaled", 1, 1, 3.0, 2.0},
        {"across scaled", 0, 1, 3.0, 2.0},
    };
    const int32_t graphs = GraphTable()->liveCount;
    for (const Case& c : cases) {
        s_freeDraws.clear();
        s_glyphDraws.clear();
        ASSERT_EQ(RebuildGlyphCacheGraph(font), 0);
        ASSERT_GT(DrawTextCore(1, 3, 4, c.scaleGiven, c.sx, c.sy, L"ab", red, nullptr, &clip, 1, font, blue, -1,
                               c.vertical, nullptr),
                  0)
            << c.name;
        EXPECT_TRUE(s_glyphDraws.empty()) << c.name << ": no glyph is a portion at a point";
        ASSERT_EQ(s_freeDraws.size(), 4u) << c.name << ": edge and body of each glyph";
        const uint16_t units[2] = {'a', 'b'};
        double pen = 0.0;
        for (int32_t i = 0; i < 2; ++i) {
            const GlyphEntry* entry = record->codeUnits[units[i]].entry;
            ASSERT_NE(entry, nullptr);
            int32_t cx = 0;
            int32_t cy = 0;
            ASSERT_EQ(TextureCellOrigin(record, entry->cell, &cx, &cy), 0);
            const double w = BoxWidth(units[i]) + 2 * edge;
            const double h = BoxHeight(units[i]) + 2 * edge;
            double left = 0, top = 0, right = 0, bottom = 0;
            if (c.vertical) {
                right = 3 + (cellHeight - kTopOffset) * c.sx;
                left = right - h * c.sx;
                top = 4 + pen + kOriginX * c.sy;
                bottom = top + w * c.sy;
            } else {
                left = 3 + pen + kOriginX * c.sx;
                right = left + w * c.sx;
                top = 4 + kTopOffset * c.sy;
                bottom = top + h * c.sy;
            }
            for (int32_t pass = 0; pass < 2; ++pass) {
                const FreeGlyphDraw& d = s_freeDraws[static_cast<size_t>(2 * i + pass)];
                // The edge half lies beside the cache, the body in it.
                EXPECT_EQ(d.graphX, cx + (pass == 0 ? record->cacheWidth : 0)) << c.name;
                EXPECT_EQ(d.graphY, cy) << c.name;
                EXPECT_EQ(d.graphWidth, static_cast<int32_t>(w)) << c.name;
                EXPECT_EQ(d.graphHeight, static_cast<int32_t>(h)) << c.name;
                EXPECT_EQ(d.bright, pass == 0 ? 0x0000FFu : 0xFF0000u) << c.name;
                EXPECT_EQ(d.fourCorners, c.vertical) << c.name;
                std::vector<float> expected;
                if (c.vertical) {
                    // The glyph's top-left at the box's top-right, its top-right at the
                    // bottom-right: turned clockwise.
                    const float r = static_cast<float>(right) - 0.5f, l = static_cast<float>(left) - 0.5f;
                    const float t = static_cast<float>(top) - 0.5f, b = static_cast<float>(bottom) - 0.5f;
                    expected = {r, t, r, b, l, t, l, b};
                } else {
                    expected = {static_cast<float>(left), static_cast<float>(top), static_cast<float>(right),
                                static_cast<float>(bottom)};
                }
                ASSERT_EQ(d.corners.size(), expected.size()) << c.name;
                for (size_t k = 0; k < expected.size(); ++k) {
                    EXPECT_FLOAT_EQ(d.corners[k], expected[k]) << c.name << " glyph " << i << " corner value " << k;
                }
            }
            pen += kAdvance * (c.vertical ? c.sy : c.sx) + 2 * edge * (c.vertical ? c.sy : c.sx);
        }
        EXPECT_EQ(GraphTable()->liveCount, graphs) << c.name << ": the sub-graphs are gone again";
    }
}

TEST_F(TextureFontText, TheCacheImageHoldsWhiteTexelsWhoseAlphaIsTheCoverage)
{
    const int32_t font = MakeFont(L"Test", kFontAntialiased);
    ASSERT_GE(font, 0);
    ASSERT_EQ(DrawTextWithFont(0, 0, L"a", PackScreenColor(255, 255, 255), font, 0, 0), 0);
    const FontRecord* record = GetFontRecord(font);
    const BaseImage& image = record->cacheImage;
    ASSERT_NE(image.pixels, nullptr);
    int32_t cx = 0;
    int32_t cy = 0;
    ASSERT_EQ(TextureCellOrigin(record, record->codeUnits['a'].entry->cell, &cx, &cy), 0);
    const ColorFormat& f = image.format;
    const uint32_t colour = f.redMask | f.greenMask | f.blueMask;
    auto texel = [&](int32_t x, int32_t y) {
        uint32_t v = 0;
        std::memcpy(&v, image.pixels + ptrdiff_t{image.pitch} * y + ptrdiff_t{x} * f.bytesPerPixel,
                    static_cast<size_t>(f.bytesPerPixel));
        return v;
    };
    // Inside the solid box: full coverage; beside it: white with no alpha.
    EXPECT_EQ(texel(cx, cy), colour | f.alphaMask);
    EXPECT_EQ(texel(cx + BoxWidth('a') + 2, cy), colour);
    // The graph got the same texels.
    const GraphRecord* graph = FindGraphRecord(record->cacheGraph);
    ASSERT_NE(graph, nullptr);
    uint32_t uploaded = 0;
    std::memcpy(&uploaded,
                SoftViewOf(graph)->pixels + ptrdiff_t{SoftViewOf(graph)->store->pitch} * cy + ptrdiff_t{cx} * 4, 4);
    EXPECT_EQ(uploaded >> 24, 0xFFu);
}

// What a draw left: the target's pixels, or the texture cache's recorded glyph draws.
std::vector<int64_t> DrawnPicture(const MEMIMG& image, bool texture)
{
    std::vector<int64_t> picture;
    if (texture) {
        for (const GlyphDraw& d : s_glyphDraws)
            picture.insert(picture.end(), {d.x, d.y, d.clip.left, d.clip.top, d.clip.right, d.clip.bottom});
        return picture;
    }
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            uint32_t v = 0;
            std::memcpy(&v, image.pixels + ptrdiff_t{image.store->pitch} * y + 4 * x, 4);
            picture.push_back(v);
        }
    }
    return picture;
}

void FontText::SweepCreationAndText(bool texture)
{
    // More than the static list holds, and more distinct units than fit in one line, so that
    // the list, each glyph's work buffer and the cache all allocate.
    std::wstring text;
    for (int i = 0; i < 300; ++i) text += static_cast<wchar_t>(L'!' + (i * 7) % 40);
    for (int32_t kind : {kFontPlain, kFontAntialiased, kFontAntialiasedEdge}) {
        const std::string label = std::string(texture ? "texture" : "memory") + " cache, kind " + std::to_string(kind);
        const int32_t fonts = GetFontTable()->liveCount;
        const int32_t graphs = GraphTable()->liveCount;
        auto nothingMade = [&] {
            EXPECT_EQ(GetFontTable()->liveCount, fonts) << label;
            EXPECT_EQ(GraphTable()->liveCount, graphs) << label;
            EXPECT_EQ(s_fonts.liveFonts, 0) << label;
            EXPECT_EQ(s_fonts.liveContexts, 0) << label;
        };
        test::AllocationSweep creation;
        const std::string creationName = label + ": creation";
        creation.name = creationName.c_str();
        creation.run = [&] { return MakeFont(L"Test", kind); };
        creation.undo = [](int32_t font) { EXPECT_EQ(DestroyFontHandle(font), 0); };
        creation.refusalLines = {L"フォント管理用メモリ領域の確保に失敗しました",
                                 L"フォントのキャッシュ用メモリの確保に失敗しました in CreateFontToHandle",
                                 L"文字キャッシュ基本イメージ用のメモリの確保に失敗しました",
                                 L"テクスチャ文字キャッシュの作成に失敗しました",
                                 L"フォント用描画スクリーンの作成に失敗しました"};
        creation.nothingLeft = nothingMade;
        EXPECT_GT(test::SweepFailingAllocations(creation), 0u) << label;

        const int32_t font = MakeFont(L"Test", kind);
        ASSERT_GE(font, 0) << label;
        std::vector<int64_t> first;
        // Each run starts from an empty cache; after a refused run the cache must still serve
        // the same picture.
        auto draw = [&]() -> int32_t {
            s_glyphDraws.clear();
            FillMemImgPixels(&image_, nullptr, 0);
            EXPECT_EQ(ClearGlyphCache(font), 0);
            return Draw(font, 0, 0, text.c_str());
        };
        auto sameAsFirst = [&](const char* when) {
            const std::vector<int64_t> picture = DrawnPicture(image_, texture);
            if (first.empty()) first = picture;
            EXPECT_EQ(picture, first) << label << ": " << when;
        };
        test::AllocationSweep drawing;
        const std::string drawingName = label + ": text draw";
        drawing.name = drawingName.c_str();
        drawing.run = [&]() -> int32_t {
            const int32_t result = draw();
            if (result >= 0) sameAsFirst("a draw that survived a failed allocation");
            return result;
        };
        drawing.refusalLines = {L"文字列のグリフリスト用メモリの確保に失敗しました",
                                L"アンチエイリアス文字取得用バッファの確保に失敗しました",
                                L"テキストキャッシュの作成に失敗しました"};
        drawing.nothingLeft = [&] {
            s_glyphDraws.clear();
            FillMemImgPixels(&image_, nullptr, 0);
            EXPECT_GE(Draw(font, 0, 0, text.c_str()), 0) << label;
            sameAsFirst("the draw after a refused one");
        };
        EXPECT_GT(test::SweepFailingAllocations(drawing), 0u) << label;
        EXPECT_EQ(DestroyFontHandle(font), 0);
        nothingMade();
    }
}

TEST_F(FontText, CreationAndTextAreRefusedCleanlyWhereverAnAllocationFails) { SweepCreationAndText(false); }

TEST_F(TextureFontText, CreationAndTextAreRefusedCleanlyWhereverAnAllocationFails) { SweepCreationAndText(true); }

}  // namespace
