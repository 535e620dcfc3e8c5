#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "quarn/font/font.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/soft/soft_graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/mask.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/runtime/runtime.h"
#include "quarn/system/system.h"

#include "../core/log_capture.h"
#include "tests/graphics/screen_fixture.h"

namespace {

constexpr int kWidth = 300;
constexpr int kHeight = 60;

// A draw target of the screen's size besides the screen.
struct Canvas {
    MEMIMG image{};
    Canvas()
    {
        EXPECT_EQ(CreatePlainMemImg(&image, kWidth, kHeight, kMemImgXrgb32), 0);
        FillMemImgPixels(&image, nullptr, 0);
    }
    ~Canvas()
    {
        if (g_drawSettings.softDrawTarget == &image) g_drawSettings.softDrawTarget = &g_screenImages.primary;
        ReleaseMemImgRef(&image);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    uint32_t At(int x, int y) const { return PixelOf(image, x, y); }
};

// The application's screen: a 300 x 60 x 32 window on the software renderer, the library's
// graphics started (and with it the font system), the back screen as draw target.
class FontTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetFontState();
        ASSERT_NO_FATAL_FAILURE(PrepareSoftwareScreen(kWidth, kHeight, L"font test"));
        ASSERT_NO_FATAL_FAILURE(StartWindowAndGraphics());
        ASSERT_EQ(SelectDrawTarget(-2), 0);
        ASSERT_TRUE(TestMemImgValid(&g_screenImages.primary));
        FillMemImgPixels(&g_screenImages.primary, nullptr, 0);
    }
    void TearDown() override
    {
        EndSoftwareScreen();
        ResetFontState();
    }
    static uint32_t Screen(int x, int y) { return PixelOf(g_screenImages.primary, x, y); }
    static void Target(Canvas& canvas) { g_drawSettings.softDrawTarget = &canvas.image; }
    // The application's settings for its text.
    static void ApplicationSettings()
    {
        SetStandardFontThickness(0);
        SetStandardFontKind(kFontAntialiased);
        SetStandardFontFace(L"meiryo", -1);
        SetStandardFontSize(20);
    }
    static std::vector<int> Measure(const wchar_t* text, int32_t font, int vertical = 0)
    {
        int32_t size[2] = {-1, -1};
        const PixelRect clip{0, 0, kWidth, kHeight};
        const int32_t total = DrawTextCore(0, 0, 0, 0, 1.0, 1.0, text, 0xFFFFFF, nullptr, &clip, 1, font, 0, -1,
                                           vertical, size);
        return {total, size[0], size[1]};
    }
};

// GDI's own anti-aliased rendering of the strings, white on black, as 0x00RRGGBB pixels.
std::vector<uint32_t> GdiReference(const wchar_t* face, int height, const wchar_t* const* texts, const POINT* at,
                                   int count)
{
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = kWidth;
    bi.bmiHeader.biHeight = -kHeight;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<uint32_t> out(kWidth * kHeight, 0);
    if (dib == nullptr) {
        DeleteDC(dc);
        return out;
    }
    std::memset(bits, 0, kWidth * kHeight * 4);
    HGDIOBJ oldBitmap = SelectObject(dc, dib);
    HFONT font = CreateFontW(height, 0, 0, 0, 0, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, FIXED_PITCH, face);
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetTextColor(dc, RGB(255, 255, 255));
    SetBkMode(dc, TRANSPARENT);
    for (int i = 0; i < count; ++i) TextOutW(dc, at[i].x, at[i].y, texts[i], lstrlenW(texts[i]));
    GdiFlush();
    const auto* p = static_cast<const uint32_t*>(bits);
    for (int i = 0; i < kWidth * kHeight; ++i) out[i] = p[i] & 0xFFFFFF;
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(font);
    DeleteObject(dib);
    DeleteDC(dc);
    return out;
}

TEST_F(FontTest, ApplicationTextIsWhiteInsideItsBoxesAndCoversLikeGdi)
{
    ApplicationSettings();
    const int32_t font = GetStandardFontHandle();
    ASSERT_TRUE(IsFontHandleValid(font));
    const wchar_t* texts[] = {L"0day 00:00:00", L"[F5]Reset"};
    const POINT at[] = {{10, 10}, {10, 30}};
    ASSERT_EQ(DrawTextWithStandardFont(10, 10, texts[0], 0xFFFFFF, 0), 0);
    ASSERT_EQ(DrawTextWithStandardFont(10, 30, texts[1], 0xFFFFFF, 0), 0);

    RECT boxes[2];
    for (int i = 0; i < 2; ++i) {
        const std::vector<int> size = Measure(texts[i], font);
        ASSERT_GT(size[1], 0);
        boxes[i] = RECT{at[i].x, at[i].y, at[i].x + size[1], at[i].y + size[2]};
    }
    int white = 0;
    long ours = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t p = Screen(x, y);
            if (p == 0) continue;
            const POINT pt{x, y};
            ASSERT_TRUE(PtInRect(&boxes[0], pt) || PtInRect(&boxes[1], pt)) << "ink at " << x << "," << y;
            const uint32_t r = p >> 16, g = (p >> 8) & 0xFF, b = p & 0xFF;
            ASSERT_TRUE(r == g && g == b) << "white on black stays grey at " << x << "," << y;
            white += p == 0xFFFFFF;
            ours += g;
        }
    }
    EXPECT_GE(white, 40) << "fully covered pixels reach (255, 255, 255)";

    // GDI's rendering of the same strings in the same face: the ink covers about the same
    // amount and the same places.
    const std::vector<uint32_t> gdi = GdiReference(L"meiryo", 20, texts, at, 2);
    long theirs = 0;
    int both = 0, either = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t g = (gdi[y * kWidth + x] >> 8) & 0xFF;
            theirs += g;
            const bool inkOurs = ((Screen(x, y) >> 8) & 0xFF) >= 128;
            const bool inkTheirs = g >= 128;
            both += inkOurs && inkTheirs;
            either += inkOurs || inkTheirs;
        }
    }
    ASSERT_GT(theirs, 0);
    const double ratio = static_cast<double>(ours) / static_cast<double>(theirs);
    EXPECT_GT(ratio, 0.75) << ours << " " << theirs;
    EXPECT_LT(ratio, 1.33) << ours << " " << theirs;
    EXPECT_GT(static_cast<double>(both) / either, 0.6) << both << " of " << either;
}

TEST_F(FontTest, StandardFontStartsFromTheDefaultsAndLogsTheReset)
{
    LogCapture log;
    ResetFontSystem();
    EXPECT_TRUE(log.Contains(L"フォントの初期化を行います\n"));
    EXPECT_TRUE(log.Contains(L"フォントの初期化は正常に終了しました\n"));
    const int32_t font = GetStandardFontHandle();
    ASSERT_TRUE(IsFontHandleValid(font));
    EXPECT_EQ(QueryFontHeight(font), 16);
    wchar_t face[kFontFaceUnits] = L"x";
    int32_t size = 0, thickness = 0;
    EXPECT_EQ(GetFontFaceSizeThickness(face, &size, &thickness, font), 0);
    EXPECT_EQ(std::wstring(face), L"");
    EXPECT_EQ(thickness, 6);
    EXPECT_EQ(GetFontTable()->liveCount, 1);

    EndFontSystem();
    EXPECT_EQ(GetFontTable()->liveCount, 0);
    EXPECT_FALSE(IsFontHandleValid(font));
}

TEST_F(FontTest, StandardFontKeepsOneHandleAcrossFrames)
{
    ApplicationSettings();
    const int32_t font = GetStandardFontHandle();
    ASSERT_TRUE(IsFontHandleValid(font));
    uint16_t allocations = 0;
    for (int frame = 0; frame < 60; ++frame) {
        SetStandardFontFace(L"meiryo", -1);
        SetStandardFontSize(20);
        ASSERT_EQ(DrawTextWithStandardFont(10, 10, L"0day 00:00:01", 0xFFFFFF, 0), 0);
        ASSERT_EQ(GetStandardFontHandle(), font) << "frame " << frame;
        if (frame == 0) allocations = GetAllocatorTotals().nextId;
    }
    EXPECT_EQ(GetFontTable()->liveCount, 1);
    EXPECT_EQ(GetAllocatorTotals().nextId, allocations) << "cached glyphs and short text allocate nothing";

    // A setting that differs makes a new font, once.
    SetStandardFontSize(21);
    const int32_t bigger = GetStandardFontHandle();
    EXPECT_NE(bigger, font);
    EXPECT_FALSE(IsFontHandleValid(font));
    EXPECT_EQ(QueryFontHeight(bigger), 21);
    SetStandardFontSize(21);
    EXPECT_EQ(GetStandardFontHandle(), bigger);

    // Size and thickness back to their defaults; the face argument is not read.
    SetStandardFontSizeAndThickness(L"Ignored", -1, -1);
    wchar_t face[kFontFaceUnits] = {};
    int32_t size = 0, thickness = 0;
    GetFontFaceSizeThickness(face, &size, &thickness, GetStandardFontHandle());
    EXPECT_EQ(std::wstring(face), L"meiryo");
    EXPECT_EQ(size, 16);
    EXPECT_EQ(thickness, 6);

    SetStandardFontFace(nullptr, -1);
    GetFontFaceSizeThickness(face, nullptr, nullptr, GetStandardFontHandle());
    EXPECT_EQ(std::wstring(face), L"");
    EXPECT_EQ(GetFontTable()->liveCount, 1);
}

TEST_F(FontTest, FontBlocksCarryNoSourceNameOrLine)
{
    // The library's blocks are recorded with an empty source name and line 0.
    const int32_t f = CreateFontToHandle(nullptr, 12, -1, kFontAntialiased, -1, -1, 0, -1, -1);
    ASSERT_GE(f, 0);
    const FontRecord* font = GetFontRecord(f);
    ASSERT_NE(font, nullptr);
    for (const void* block : {static_cast<const void*>(font), static_cast<const void*>(font->memoryCache)}) {
        ASSERT_NE(block, nullptr);
        const auto* record = static_cast<const AllocationRecord*>(block) - 1;
        EXPECT_STREQ(record->head.sourceTail, "");
        EXPECT_EQ(record->head.line, 0);
    }
    EXPECT_EQ(DestroyFontHandle(f), 0);
}

TEST_F(FontTest, HandleRefusals)
{
    LogCapture log;
    std::vector<int32_t> fonts;
    for (int i = 1; i < kFontSlots; ++i) {
        const int32_t f = CreateFontToHandle(nullptr, 12, -1, -1, -1, -1, 0, -1, -1);
        ASSERT_GE(f, 0) << i;
        fonts.push_back(f);
    }
    EXPECT_EQ(CreateFontToHandle(nullptr, 12, -1, -1, -1, -1, 0, -1, -1), -1);
    EXPECT_TRUE(log.Contains(L"作成できるフォントハンドル数 40 の限界を超えました\n"));

    const int32_t gone = fonts[4];
    EXPECT_EQ(DestroyFontHandle(gone), 0);
    EXPECT_EQ(DestroyFontHandle(gone), -1);
    // Slots and check numbers from a caller are checked; an occupied slot is refused.
    EXPECT_EQ(CreateFontToHandle(nullptr, 12, -1, -1, -1, -1, 0, 40, -1), -1);
    EXPECT_EQ(CreateFontToHandle(nullptr, 12, -1, -1, -1, -1, 0, -2, -1), -1);
    EXPECT_EQ(CreateFontToHandle(nullptr, 12, -1, -1, -1, -1, 0, -1, 2048), -1);
    EXPECT_EQ(CreateFontToHandle(nullptr, 12, -1, -1, -1, -1, 0, -1, -2), -1);
    EXPECT_EQ(CreateFontToHandle(nullptr, 12, -1, -1, -1, -1, 0, HandleSlotOf(fonts[5]), -1), -1);
    EXPECT_EQ(GetFontTable()->liveCount, kFontSlots - 1);

    // The freed slot is taken again; the old handle stays refused everywhere.
    const int32_t reused = CreateFontToHandle(nullptr, 12, -1, -1, -1, -1, 0, -1, -1);
    ASSERT_GE(reused, 0);
    EXPECT_EQ(HandleSlotOf(reused), HandleSlotOf(gone));
    EXPECT_NE(reused, gone);
    for (int32_t bad : {gone, -1, MakeHandle(kHandleTypeGraph, HandleCheckOf(reused), HandleSlotOf(reused))}) {
        EXPECT_EQ(GetFontRecord(bad), nullptr);
        EXPECT_EQ(IsFontHandleValid(bad), 0);
        EXPECT_EQ(QueryFontHeight(bad), -1);
        EXPECT_EQ(SetFontCharSpacing(2, bad), -1);
        EXPECT_EQ(GetFontFaceSizeThickness(nullptr, nullptr, nullptr, bad), -1);
        EXPECT_EQ(WatchFontDeletion(bad, nullptr), -1);
        EXPECT_EQ(ClearGlyphCache(bad), -1);
        EXPECT_EQ(PrepareGlyphList(-1, bad, L"a", nullptr, nullptr), -1);
        EXPECT_EQ(Measure(L"a", bad)[0], -1);
    }
    log.texts.clear();
    EXPECT_EQ(DrawTextWithFont(0, 0, L"a", 0xFFFFFF, gone, 0, 0), -1);
    EXPECT_EQ(log.Joined(), L"フォントハンドル値が異常です\n");
    log.texts.clear();
    EXPECT_EQ(DrawTextWithFont(0, 0, L"", 0xFFFFFF, gone, 0, 0), 0) << "empty text is not looked at";
    EXPECT_EQ(DrawTextWithFont(0, 0, nullptr, 0xFFFFFF, gone, 0, 0), 0);
    EXPECT_TRUE(log.texts.empty());
}

TEST_F(FontTest, FontsWhoseCacheCannotBeHeldAreRefused)
{
    LogCapture log;
    const int32_t live = GetFontTable()->liveCount;
    const int32_t blocks = GetAllocatorTotals().blockCount;
    // Edge sizes whose cells outgrow the glyph records, or whose cache outgrows 32 bits.
    for (int32_t edge : {10000, 20000, 0x7FFFFFFF}) {
        EXPECT_EQ(CreateFontToHandle(nullptr, 16, -1, kFontEdge, -1, edge, 0, -1, -1), -1) << edge;
    }
    EXPECT_TRUE(log.Contains(L"フォントのキャッシュ用メモリの確保に失敗しました in CreateFontToHandle\n"));
    EXPECT_EQ(GetFontTable()->liveCount, live);
    EXPECT_EQ(GetAllocatorTotals().blockCount, blocks) << "nothing of the refused fonts is left";
    // A thick edge that fits still makes a font.
    const int32_t thick = CreateFontToHandle(nullptr, 16, -1, kFontEdge, -1, 40, 0, -1, -1);
    ASSERT_GE(thick, 0);
    EXPECT_EQ(DrawTextWithFont(0, 0, L"A", 0xFFFFFF, thick, 0xFF0000, 0), 0);
}

// Masked text, across and down: where the mask lets it through the screen holds what the
// same text gives unmasked, so the area prepared and committed covers the whole text.
TEST_F(FontTest, MaskedTextLandsOnlyWhereTheMaskLetsThrough)
{
    const int32_t font = CreateFontToHandle(L"meiryo", 20, 0, kFontPlain, -1, -1, 0, -1, -1);
    ASSERT_EQ(SetDrawClipRect(0, 0, 200, 50), 0);
    const PixelRect band{30, 0, 60, kHeight};
    const auto screen = [] {
        std::vector<uint32_t> pixels;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) pixels.push_back(Screen(x, y));
        return pixels;
    };
    for (int vertical = 0; vertical < 2; ++vertical) {
        SCOPED_TRACE(vertical ? "down" : "across");
        FillMemImgPixels(&g_screenImages.primary, nullptr, 0);
        ASSERT_EQ(DrawTextWithFont(10, 12, L"Mask", 0xFFFFFF, font, 0, vertical), 0);
        const std::vector<uint32_t> unmasked = screen();

        FillMemImgPixels(&g_screenImages.primary, nullptr, 0);
        g_drawSettings.maskDrawing = 1;
        ASSERT_EQ(CreateMaskScreen(), 0);
        ASSERT_EQ(FillMaskScreenArea(&band, 1), 0);
        ASSERT_EQ(DrawTextWithFont(10, 12, L"Mask", 0xFFFFFF, font, 0, vertical), 0);
        EXPECT_EQ(DrawTextWithFont(200, 5, L"Mask", 0xFFFFFF, font, 0, 0), 0) << "right of the clip";
        EndMaskScreen();
        const std::vector<uint32_t> masked = screen();

        int ink = 0;
        int failures = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const size_t i = static_cast<size_t>(y * kWidth + x);
                const bool blocked = x >= band.left && x < band.right;
                const uint32_t want = blocked ? 0u : unmasked[i];
                ink += !blocked && unmasked[i] != 0 ? 1 : 0;
                if (masked[i] != want && failures++ < 4) {
                    ADD_FAILURE() << "(" << x << ", " << y << ") holds " << std::hex << masked[i] << ", expected "
                                  << want;
                }
            }
        }
        EXPECT_GT(ink, 10) << "some of the text is let through";
    }
}

TEST_F(FontTest, RecreatingAllFontsKeepsHandlesAndSpacing)
{
    const int32_t a = CreateFontToHandle(L"meiryo", 18, 3, kFontAntialiased, -1, -1, 0, -1, -1);
    const int32_t b = CreateFontToHandle(nullptr, 14, -1, kFontEdge, -1, 2, 1, -1, -1);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    SetFontCharSpacing(3, a);
    int32_t flag = 7;
    ASSERT_EQ(WatchFontDeletion(b, &flag), 0);
    EXPECT_EQ(flag, 0);
    const int32_t standard = GetStandardFontHandle();

    EXPECT_EQ(RecreateAllFonts(), 0);
    EXPECT_EQ(flag, 1) << "the destroy tells the watcher";
    for (int32_t h : {a, b, standard}) EXPECT_TRUE(IsFontHandleValid(h));
    EXPECT_EQ(GetFontRecord(a)->spacing, 3);
    EXPECT_EQ(GetFontRecord(a)->size, 18);
    EXPECT_EQ(GetFontRecord(a)->kind, kFontAntialiased);
    EXPECT_EQ(GetFontRecord(b)->kind, kFontEdge);
    EXPECT_EQ(GetFontRecord(b)->edgeSize, 2);
    EXPECT_EQ(GetFontRecord(b)->italic, 1);
    EXPECT_EQ(GetFontRecord(b)->deletionFlag, nullptr);
    EXPECT_EQ(GetFontTable()->liveCount, 3);
}

TEST_F(FontTest, EdgeTextSurroundsItsBody)
{
    const int32_t font = CreateFontToHandle(L"meiryo", 20, 0, -1, -1, 1, 0, -1, -1);
    ASSERT_EQ(GetFontRecord(font)->kind, kFontPlain);
    DestroyFontHandle(font);
    const int32_t edged = CreateFontToHandle(L"meiryo", 20, 0, kFontEdge, -1, 1, 0, -1, -1);
    ASSERT_EQ(DrawTextWithFont(10, 10, L"Edge", 0xFFFFFF, edged, 0xFF0000, 0), 0);
    int white = 0, red = 0;
    for (int y = 1; y < kHeight - 1; ++y) {
        for (int x = 1; x < kWidth - 1; ++x) {
            const uint32_t p = Screen(x, y);
            ASSERT_TRUE(p == 0 || p == 0xFFFFFF || p == 0xFF0000) << std::hex << p;
            if (p == 0xFFFFFF) {
                ++white;
                for (const POINT d : {POINT{-1, 0}, POINT{1, 0}, POINT{0, -1}, POINT{0, 1}})
                    ASSERT_NE(Screen(x + d.x, y + d.y), 0u) << "bare body pixel at " << x << "," << y;
            }
            red += p == 0xFF0000;
        }
    }
    EXPECT_GT(white, 30);
    EXPECT_GT(red, white / 2);

    // Anti-aliased with edge: a solid body, a solid edge and mixes between them.
    Canvas soft;
    Target(soft);
    const int32_t smooth = CreateFontToHandle(L"meiryo", 20, 0, kFontAntialiasedEdge, -1, 2, 0, -1, -1);
    ASSERT_EQ(DrawTextWithFont(10, 10, L"Edge", 0xFFFFFF, smooth, 0xFF0000, 0), 0);
    int body = 0, edge = 0, mixed = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t p = soft.At(x, y);
            body += p == 0xFFFFFF;
            edge += p == 0xFF0000;
            mixed += p != 0 && (p >> 16) == 0xFF && (p & 0xFFFF) != 0 && (p & 0xFFFF) != 0xFFFF;
        }
    }
    EXPECT_GT(body, 10);
    EXPECT_GT(edge, 10);
    EXPECT_GT(mixed, 5);
}

TEST_F(FontTest, BlendedPlainTextGoesThroughTheWorkImage)
{
    const int32_t font = CreateFontToHandle(L"meiryo", 20, 0, kFontPlain, -1, -1, 0, -1, -1);
    FillMemImgPixels(&g_screenImages.primary, nullptr, 0x000040);
    g_drawSettings.blendMode = kBlendModeAlpha;
    g_drawSettings.blendParam = 128;
    ASSERT_EQ(DrawTextWithFont(10, 10, L"Half", 0xFFFFFF, font, 0, 0), 0);
    int half = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t p = Screen(x, y);
            ASSERT_TRUE(p == 0x000040 || ((p >> 16) >= 0x7E && (p >> 16) <= 0x81)) << std::hex << p;
            half += p != 0x000040;
        }
    }
    EXPECT_GT(half, 30);
    EXPECT_EQ(g_drawSettings.clip.right, kWidth) << "the clip is restored";
    EXPECT_EQ(g_drawSettings.brightColor, kNoBrightColor);
}

// The red channel of a pixel of a 16-bit or 32-bit image, scaled to 0..255, and whether the
// pixel holds anything but red.
struct RedPixel {
    int red;
    bool other;
};
RedPixel RedAt(const MEMIMG& image, int x, int y)
{
    if (image.store->kind == kMemImgRgb565) {
        uint16_t p = 0;
        std::memcpy(&p, image.pixels + ptrdiff_t{image.store->pitch} * y + 2 * x, 2);
        return {(p >> 11) * 255 / 31, (p & 0x07FF) != 0};
    }
    const uint32_t p = PixelOf(image, x, y);
    return {static_cast<int>(p >> 16), (p & 0xFFFF) != 0};
}

TEST_F(FontTest, TextIntoAGraphOfAnotherDepthTakesItsColourForm)
{
    // A 16-bit graph on the 32-bit screen and a 32-bit graph on a 16-bit screen: red must
    // land as the graph's red on the direct path (plain text) and through a work image of
    // the graph's depth (anti-aliased, and blended).
    for (const int screenBits : {32, 16}) {
        SCOPED_TRACE(screenBits);
        if (screenBits == 16) {
            ASSERT_EQ(ApplyScreenModeChange(kWidth, kHeight, 16, 0, 60), 0);
        }
        const int graphBits = screenBits == 32 ? 16 : 32;
        SetNewGraphColorBits(graphBits);
        const int32_t graph = CreateBlankGraph(kWidth, kHeight);
        SetNewGraphColorBits(0);
        ASSERT_GE(graph, 0);
        const MEMIMG& view = *SoftViewOf(FindGraphRecord(graph));
        ASSERT_EQ(view.store->kind, graphBits == 16 ? kMemImgRgb565 : kMemImgXrgb32);
        ASSERT_EQ(SelectDrawTarget(graph), 0);
        struct Case {
            int32_t kind;
            BlendMode mode;
            int32_t param;
        };
        for (const Case c : {Case{kFontPlain, kBlendModeNone, 255}, Case{kFontAntialiased, kBlendModeNone, 255},
                             Case{kFontPlain, kBlendModeAlpha, 128}}) {
            FillMemImgPixels(const_cast<MEMIMG*>(&view), nullptr, 0);
            g_drawSettings.blendMode = c.mode;
            g_drawSettings.blendParam = c.param;
            const int32_t font = CreateFontToHandle(L"meiryo", 20, 0, c.kind, -1, -1, 0, -1, -1);
            ASSERT_EQ(DrawTextWithFont(10, 10, L"Red", PackScreenColor(255, 0, 0), font, 0, 0), 0);
            int red = 0;
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    const RedPixel p = RedAt(view, x, y);
                    ASSERT_FALSE(p.other)
                        << "only red, kind " << c.kind << " mode " << c.mode << " at " << x << "," << y;
                    red += p.red >= (c.mode == kBlendModeAlpha ? 120 : 255);
                }
            }
            EXPECT_GT(red, 10) << "kind " << c.kind << " mode " << c.mode;
            DestroyFontHandle(font);
        }
        g_drawSettings.blendMode = kBlendModeNone;
        g_drawSettings.blendParam = 255;
        ASSERT_EQ(SelectDrawTarget(-2), 0);
        DestroyGraph(graph);
    }
}

TEST_F(FontTest, TargetsTextCannotGoIntoAreRefusedAloud)
{
    // Paletted and single-channel images take no text; an image with its own alpha takes
    // no text that is blended in (anti-aliased here). Each is refused untouched.
    const int32_t font = CreateFontToHandle(L"meiryo", 20, 0, kFontAntialiased, -1, -1, 0, -1, -1);
    struct Case {
        int kind, paletted, alpha;
        const wchar_t* line;
    };
    const wchar_t* const noText = L"テキストを描画できない描画先が選ばれています\n";
    for (const Case c : {Case{kMemImgXrgb32, 1, 0, noText}, Case{kMemImgGrey8, 0, 0, noText},
                         Case{kMemImgXrgb32, 0, 1, L"アルファチャンネル付きの描画先にはテキストを合成できません\n"}}) {
        SCOPED_TRACE(c.kind * 10 + c.paletted * 2 + c.alpha);
        MEMIMG image{};
        ASSERT_EQ(CreateMemImgWithOptions(&image, kWidth, kHeight, -1, 0, c.kind, c.paletted, c.alpha, 0, nullptr), 0);
        const size_t bytes = size_t(image.store->pitch) * kHeight;
        std::memset(image.pixels, 0, bytes);
        g_drawSettings.softDrawTarget = &image;
        {
            LogCapture log;
            EXPECT_EQ(DrawTextWithFont(10, 10, L"Hi", 0xFFFFFF, font, 0, 0), -1);
            EXPECT_TRUE(log.Contains(c.line)) << log.Joined().size();
        }
        g_drawSettings.softDrawTarget = &g_screenImages.primary;
        EXPECT_EQ(std::count(image.pixels, image.pixels + bytes, 0), static_cast<ptrdiff_t>(bytes));
        ReleaseMemImgRef(&image);
    }
}

TEST_F(FontTest, BlendedTextNeedsABlendImageOnlyAsLargeAsTheText)
{
    // A blend graph smaller than the screen but covering the text weighs it; one smaller
    // than the text is refused with a log line.
    const int32_t font = CreateFontToHandle(L"meiryo", 20, 0, kFontPlain, -1, -1, 0, -1, -1);
    const int32_t cover = CreateBlankGraph(120, 40);
    const int32_t tiny = CreateBlankGraph(4, 4);
    ASSERT_GE(cover, 0);
    ASSERT_GE(tiny, 0);
    BuildBlendMaskAlphaTable(0, 255);  // every mask value weighs fully
    g_drawSettings.blendMode = kBlendModeAlpha;
    g_drawSettings.blendParam = 128;
    g_drawSettings.blendGraph = cover;
    ASSERT_EQ(DrawTextWithFont(10, 10, L"Hi", 0xFFFFFF, font, 0, 0), 0);
    int drawn = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) drawn += Screen(x, y) != 0;
    EXPECT_GT(drawn, 10);

    LogCapture log;
    g_drawSettings.blendGraph = tiny;
    FillMemImgPixels(&g_screenImages.primary, nullptr, 0);
    EXPECT_EQ(DrawTextWithFont(10, 10, L"Hi", 0xFFFFFF, font, 0, 0), -1);
    EXPECT_TRUE(log.Contains(L"ブレンド画像がテキストの描画範囲より小さいため描画できません\n"));
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) ASSERT_EQ(Screen(x, y), 0u);
    g_drawSettings.blendGraph = -1;
    g_drawSettings.blendMode = kBlendModeNone;
    g_drawSettings.blendParam = 255;
}

TEST_F(FontTest, BlendedTextWithoutAWorkImageIsRefusedAloud)
{
    const int32_t font = CreateFontToHandle(L"meiryo", 20, 0, kFontAntialiased, -1, -1, 0, -1, -1);
    ReleaseMemImgRef(&g_screenImages.workAlpha);
    LogCapture log;
    EXPECT_EQ(DrawTextWithFont(10, 10, L"Hi", 0xFFFFFF, font, 0, 0), -1);
    EXPECT_TRUE(log.Contains(L"テキスト描画用の作業イメージがありません\n"));
}

TEST_F(FontTest, BrightColourTintsTextOnBothPaths)
{
    g_drawSettings.brightColor = 0xFF0000;
    const int32_t plain = CreateFontToHandle(L"meiryo", 20, 0, kFontPlain, -1, -1, 0, -1, -1);
    const int32_t smooth = CreateFontToHandle(L"meiryo", 20, 0, kFontAntialiased, -1, -1, 0, -1, -1);
    ASSERT_EQ(DrawTextWithFont(10, 5, L"Red", 0xFFFFFF, plain, 0, 0), 0);
    ASSERT_EQ(DrawTextWithFont(10, 30, L"Red", 0xFFFFFF, smooth, 0, 0), 0);
    int top = 0, bottom = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t p = Screen(x, y);
            ASSERT_EQ(p & 0xFFFF, 0u) << "no green or blue at " << x << "," << y;
            if (p == 0xFF0000) (y < 30 ? top : bottom) += 1;
        }
    }
    EXPECT_GT(top, 20);
    EXPECT_GT(bottom, 10);
}

TEST_F(FontTest, GlyphCacheWrapsAroundAndStillDrawsEverything)
{
    g_fontSettings.userCacheCount = 20;
    const int32_t small = CreateFontToHandle(L"meiryo", 16, 0, kFontAntialiased, -1, -1, 0, -1, -1);
    g_fontSettings.userCacheCount = 0;
    const int32_t large = CreateFontToHandle(L"meiryo", 16, 0, kFontAntialiased, -1, -1, 0, -1, -1);
    FontRecord* rec = GetFontRecord(small);
    ASSERT_EQ(rec->capacity, 20);
    ASSERT_GT(GetFontRecord(large)->capacity, 100);

    ASSERT_EQ(DrawTextWithFont(0, 0, L"ABCDEFGHIJKLMNOPQRST", 0xFFFFFF, small, 0, 0), 0);
    EXPECT_EQ(rec->ringHead, 0);
    ASSERT_EQ(DrawTextWithFont(0, 0, L"U", 0xFFFFFF, small, 0, 0), 0);
    EXPECT_EQ(rec->codeUnits['A'].state, 0u) << "the first glyph in is the first out";
    ASSERT_EQ(rec->codeUnits['U'].state, 1u);
    EXPECT_EQ(rec->codeUnits['U'].entry->cell, 0u);
    EXPECT_EQ(rec->codeUnits['B'].state, 1u);

    // More distinct units than the cache holds, repeated: drawn as a large cache draws them.
    const wchar_t* text = L"abcdefghijklmnopqrstuvwxyz0123456789abc";
    Canvas a, b;
    Target(a);
    ASSERT_EQ(DrawTextWithFont(2, 2, text, 0xFFFFFF, small, 0, 0), 0);
    Target(b);
    ASSERT_EQ(DrawTextWithFont(2, 2, text, 0xFFFFFF, large, 0, 0), 0);
    int ink = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            ASSERT_EQ(a.At(x, y), b.At(x, y)) << x << "," << y;
            ink += a.At(x, y) != 0;
        }
    }
    EXPECT_GT(ink, 200);
    EXPECT_EQ(Measure(text, small), Measure(text, large));
}

TEST_F(FontTest, MeasuringSpacesSurrogatesAndLongText)
{
    const int32_t font = CreateFontToHandle(L"meiryo", 20, 0, kFontAntialiased, -1, -1, 0, -1, -1);
    ASSERT_EQ(PrepareGlyphList(-1, font, L"AB \x3000", nullptr, nullptr), 0);
    const FontRecord* rec = GetFontRecord(font);
    const int advA = rec->codeUnits['A'].entry->advance;
    const int advB = rec->codeUnits['B'].entry->advance;
    const int advSpace = rec->codeUnits[' '].entry->advance;
    EXPECT_GT(advSpace, 0);
    EXPECT_EQ(rec->codeUnits[0x3000].entry->boxWidth, 0);

    SetFontCharSpacing(3, font);
    EXPECT_EQ(Measure(L"AB", font), (std::vector<int>{advA + advB + 6, advA + advB + 6, rec->cellHeight}));
    EXPECT_EQ(Measure(L"AB", font, 1), (std::vector<int>{advA + advB + 6, rec->cellHeight, advA + advB + 6}));
    SetFontCharSpacing(0, font);
    EXPECT_EQ(Measure(L"A B", font)[0], advA + advSpace + advB);
    EXPECT_EQ(Measure(L"A\xD83D\xDE00"
                      L"B",
                      font)[0],
              advA + advB)
        << "a surrogate pair counts nothing";

    int32_t count = -1;
    ASSERT_EQ(PrepareGlyphList(3, font, L"AAAB", nullptr, &count), 0);
    EXPECT_EQ(count, 3);

    // Spacing as far as it goes: the pen stops at the end of the range.
    SetFontCharSpacing(INT32_MAX, font);
    EXPECT_EQ(Measure(L"AB", font)[0], INT32_MAX);
    EXPECT_EQ(DrawTextWithFont(0, 0, L"AB", 0xFFFFFF, font, 0, 0), 0);
    SetFontCharSpacing(INT32_MIN, font);
    EXPECT_EQ(Measure(L"AB", font)[0], INT32_MIN);
    // A pen that runs left still draws (plain text goes straight to the target).
    const int32_t plain = CreateFontToHandle(L"meiryo", 20, 0, kFontPlain, -1, -1, 0, -1, -1);
    SetFontCharSpacing(-40, plain);
    ASSERT_LT(Measure(L"AB", plain)[0], 0);
    Canvas left;
    Target(left);
    EXPECT_EQ(DrawTextWithFont(100, 10, L"AB", 0xFFFFFF, plain, 0, 0), 0);
    int ink = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) ink += left.At(x, y) != 0;
    EXPECT_GT(ink, 20);
    SetFontCharSpacing(0, font);

    // 300 units: a list of its own, freed again.
    std::wstring longText;
    for (int i = 0; i < 150; ++i) longText += L"AB";
    const int32_t blocks = GetAllocatorTotals().blockCount;
    EXPECT_EQ(Measure(longText.c_str(), font)[0], 150 * (advA + advB));
    EXPECT_EQ(DrawTextWithFont(0, 0, longText.c_str(), 0xFFFFFF, font, 0, 0), 0);
    EXPECT_EQ(GetAllocatorTotals().blockCount, blocks);

    // Spaces advance without ink.
    Canvas blank;
    Target(blank);
    EXPECT_EQ(DrawTextWithFont(0, 0, L" \x3000 ", 0xFFFFFF, font, 0, 0), 0);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) ASSERT_EQ(blank.At(x, y), 0u);
}

TEST_F(FontTest, VerticalTextIsTheHorizontalTextTurnedClockwise)
{
    const int32_t font = CreateFontToHandle(L"meiryo", 20, 0, kFontAntialiased, -1, -1, 0, -1, -1);
    const int cellHeight = GetFontRecord(font)->cellHeight;
    Canvas across, down;
    Target(across);
    ASSERT_EQ(DrawTextWithFont(0, 0, L"Fj", 0xFFFFFF, font, 0, 0), 0);
    Target(down);
    ASSERT_EQ(DrawTextWithFont(0, 0, L"Fj", 0xFFFFFF, font, 0, 1), 0);
    const int length = Measure(L"Fj", font)[0];
    ASSERT_LE(length, kHeight);
    int ink = 0;
    for (int y = 0; y < cellHeight; ++y) {
        for (int x = 0; x < length; ++x) {
            ASSERT_EQ(down.At(cellHeight - 1 - y, x), across.At(x, y)) << x << "," << y;
            ink += across.At(x, y) != 0;
        }
    }
    EXPECT_GT(ink, 20);
}

TEST_F(FontTest, FrontScreenTextRightOfTheClipIsNotDrawn)
{
    const int32_t font = CreateFontToHandle(L"meiryo", 20, 0, kFontPlain, -1, -1, 0, -1, -1);
    ASSERT_EQ(SelectDrawTarget(-4), 0);
    ASSERT_EQ(SetDrawClipRect(0, 0, 100, kHeight), 0);
    EXPECT_EQ(DrawTextWithFont(100, 0, L"x", 0xFFFFFF, font, 0, 0), 0);
    EXPECT_EQ(DrawTextWithFont(90, 0, L"xxxx", 0xFFFFFF, font, 0, 0), 0);
    int ink = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (Screen(x, y) == 0) continue;
            ASSERT_LT(x, 100);
            ++ink;
        }
    }
    EXPECT_GT(ink, 0);
}

TEST_F(FontTest, ScreenLogDrawsItsLinesWithAFontItRecreates)
{
    ResetScreenLogState();
    HWND window = g_system.mainWindow;
    g_system.mainWindow = nullptr;
    EXPECT_EQ(SetUpScreenLog(), -1) << "no window";
    g_system.mainWindow = window;
    EXPECT_EQ(GetScreenLogState()->setUp, 0);

    ASSERT_EQ(SetUpScreenLog(), 0);
    ScreenLogState* log = GetScreenLogState();
    const int32_t font = log->fontHandle;
    ASSERT_TRUE(IsFontHandleValid(font));
    EXPECT_EQ(GetFontRecord(font)->kind, kFontEdge);
    EXPECT_EQ(GetFontRecord(font)->size, 16);
    EXPECT_EQ(GetFontRecord(font)->thickness, 4);

    CopyWideString(log->lines[1], L"Log line");
    // A line that fills its whole buffer has no terminator of its own.
    for (int i = 0; i < kScreenLogLineUnits; ++i) log->lines[2][i] = L'-';
    EXPECT_EQ(DrawScreenLog(), 0);
    int white = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (Screen(x, y) == 0xFFFFFF) {
                ++white;
                ASSERT_GE(y, 16) << "line 0 is empty";
            }
        }
    }
    EXPECT_GT(white, 20);

    // The font layer tells the log when its font goes; the next draw makes a new one.
    DestroyFontHandle(font);
    EXPECT_EQ(log->fontNeeded, 1);
    DrawScreenLog();
    EXPECT_TRUE(IsFontHandleValid(log->fontHandle));
    EXPECT_NE(log->fontHandle, font);

    DestroyFontHandle(log->fontHandle);
    ResetScreenLogState();
}

TEST_F(FontTest, ModeChangeToSixteenBitsKeepsTheStandardFontAndFullCoverageWhite)
{
    ApplicationSettings();
    ASSERT_EQ(ApplyScreenModeChange(kWidth, kHeight, 16, 0, 60), 0);
    // Size and thickness come back with the new screen.
    int32_t size = 0, thickness = -1;
    ASSERT_EQ(GetFontFaceSizeThickness(nullptr, &size, &thickness, GetStandardFontHandle()), 0);
    EXPECT_EQ(size, 20);
    EXPECT_EQ(thickness, 0);

    ASSERT_EQ(SelectDrawTarget(-2), 0);
    const MEMIMG& image = g_screenImages.primary;
    ASSERT_EQ(image.store->kind, kMemImgRgb565);
    FillMemImgPixels(&g_screenImages.primary, nullptr, 0);
    ApplicationSettings();
    ASSERT_EQ(DrawTextWithStandardFont(10, 10, L"0day", PackScreenColor(255, 255, 255), 0), 0);
    int white = 0, partial = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            uint16_t p;
            std::memcpy(&p, image.pixels + image.store->pitch * y + 2 * x, 2);
            white += p == 0xFFFF;
            partial += p != 0 && p != 0xFFFF;
        }
    }
    EXPECT_GT(white, 20);
    EXPECT_GT(partial, 10);
}

TEST_F(FontTest, EightBitScreenDropsAntialiasing)
{
    g_screenSettings.colorBits = 8;
    const int32_t font = CreateFontToHandle(nullptr, 16, -1, kFontAntialiasedEdge, -1, -1, 0, -1, -1);
    g_screenSettings.colorBits = 32;
    ASSERT_GE(font, 0);
    EXPECT_EQ(GetFontRecord(font)->kind, kFontEdge);
    EXPECT_EQ(GetFontRecord(font)->bitsPerPixel, 8);
}

}  // namespace
