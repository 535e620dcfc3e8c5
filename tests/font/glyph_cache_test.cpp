#include "quarn/font/font.h"
#include "quarn/core/screen_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

TEST(FontLayout, CellSidesAndHeights)
{
    struct Case {
        int32_t maxWidth, height, kind, edge, side, cellHeight;
    };
    const Case cases[] = {
        {10, 20, kFontPlain, 1, 20, 20},  // 12 -> 16, below the height: the height
        {30, 21, kFontPlain, 1, 32, 22},  // odd height rounded up to even
        {10, 20, kFontEdge, 1, 22, 22},   // edge adds 2 * edge size to both
        {40, 20, kFontAntialiasedEdge, 3, 48, 26},
        {6, 9, kFontAntialiased, 4, 10, 10},  // edge size unused without the edge bit
    };
    for (const Case& c : cases) {
        int32_t side = 0;
        int32_t height = 0;
        ASSERT_EQ(ComputeFontCells(c.maxWidth, c.height, c.kind, c.edge, &side, &height), 0);
        EXPECT_EQ(side, c.side) << c.maxWidth << " " << c.height << " kind " << c.kind;
        EXPECT_EQ(height, c.cellHeight) << c.maxWidth << " " << c.height << " kind " << c.kind;
    }
}

TEST(FontLayout, OversizedCellsAreRefusedAndCacheSizesDoNotOverflow)
{
    // Edge sizes and metrics a caller may pass that make cells wider than the glyph records
    // hold (and, squared, wider than 32 bits).
    const struct {
        int32_t maxWidth, height, kind, edge;
    } refused[] = {
        {10, 20, kFontEdge, 0x7FFFFFFF},
        {10, 20, kFontAntialiasedEdge, 32759},  // 65536 wide: its square is 0 in 32 bits
        {0x7FFFFFF0, 20, kFontPlain, 1},
        {10, 0x7FFF, kFontEdge, 1},
    };
    for (const auto& c : refused) {
        int32_t side = -5;
        int32_t height = -5;
        EXPECT_EQ(ComputeFontCells(c.maxWidth, c.height, c.kind, c.edge, &side, &height), -1) << c.edge;
        EXPECT_EQ(side, -5);
    }
    int32_t side = 0;
    int32_t height = 0;
    ASSERT_EQ(ComputeFontCells(kMaxFontCellSide - 9, 20, kFontPlain, 1, &side, &height), 0);
    EXPECT_EQ(side, kMaxFontCellSide - 7);

    // The largest cell: the byte size of its cache is reported whole, for the caller to refuse.
    auto font = std::make_unique<FontRecord>();
    font->cellSide = kMaxFontCellSide;
    font->kind = kFontAntialiased;
    EXPECT_EQ(SizeMemoryGlyphCache(font.get(), 0), int64_t{20} * kMaxFontCellSide * kMaxFontCellSide);
    EXPECT_EQ(font->capacity, 20);
}

TEST(FontLayout, MemoryCacheCapacity)
{
    auto font = std::make_unique<FontRecord>();
    struct Case {
        int32_t side, kind, user, capacity, bytesPerRow;
    };
    const Case cases[] = {
        {200, kFontPlain, 0, 20, 25},  // 0x50000 / 40000 = 8, raised to 20
        {16, kFontAntialiased, 0, 1280, 16},
        {8, kFontEdge, 0, 2024, 8},  // 5120, limited
        {24, kFontPlain, 7, 7, 3},   // a user count is taken as it is
    };
    for (const Case& c : cases) {
        font->cellSide = c.side;
        font->kind = c.kind;
        EXPECT_EQ(SizeMemoryGlyphCache(font.get(), c.user), int64_t{c.capacity} * c.side * c.bytesPerRow);
        EXPECT_EQ(font->capacity, c.capacity) << c.side;
        EXPECT_EQ(font->bytesPerRow, c.bytesPerRow) << c.side;
        EXPECT_EQ(font->cacheHeight, c.capacity * c.side);
        EXPECT_EQ(font->cellsPerColumn, c.capacity);
    }
}

TEST(FontLayout, TextureCacheCellsStayInsideTheTexture)
{
    struct Case {
        int32_t side, user, width, height, capacity;
    };
    const Case cases[] = {
        {200, 0, 1024, 512, 10},  // 4 cells, then 10 after one widening
        {64, 0, 512, 512, 49},    // 512 is a multiple of 64: the border leaves room for 7 a side
        {16, 0, 512, 512, 961},          {8, 0, 512, 512, 2024},
        {32, 10, 256, 256, 49},           // user count 10: 32 * 4 = 128 would hold only 3 a side
        {8, 0x7FFFFFFF, 512, 512, 2024},  // a count beyond the limit sizes for the limit
    };
    for (const Case& c : cases) {
        int32_t w = 0, h = 0, cap = 0, perColumn = 0;
        SizeTextureGlyphCache(c.side, c.user, &w, &h, &cap, &perColumn);
        EXPECT_EQ(w, c.width) << c.side;
        EXPECT_EQ(h, c.height) << c.side;
        EXPECT_EQ(cap, c.capacity) << c.side;
        if (c.user > 0) {
            EXPECT_GE(cap, std::min(c.user, kGlyphCapacityLimit));
        }
        // Every cell in use, laid out column by column, keeps its border and pixels inside.
        ASSERT_GT(perColumn, 0);
        for (int32_t n = 0; n < cap; ++n) {
            const int32_t column = n / perColumn;
            const int32_t row = n % perColumn;
            ASSERT_LE(column * c.side + 1 + c.side - 1, w - 1) << c.side << " cell " << n;
            ASSERT_LE(row * c.side + 1 + c.side - 1, h - 1) << c.side << " cell " << n;
        }
    }
}

// A memory-cache font record of a given kind and capacity, without GDI.
struct TestFont {
    std::unique_ptr<FontRecord> record = std::make_unique<FontRecord>();
    std::vector<uint8_t> cache;

    TestFont(int32_t kind, int32_t side, int32_t capacity, int32_t edge = 1)
    {
        FontRecord& f = *record;
        f.kind = kind;
        f.edgeSize = edge;
        f.cellSide = side;
        f.cellHeight = side;
        SizeMemoryGlyphCache(&f, capacity);
        cache.assign(static_cast<size_t>(f.cacheHeight) * f.bytesPerRow, 0);
        f.memoryCache = cache.data();
        ResetGlyphCache(&f);
    }
    FontRecord* operator->() { return record.get(); }
    uint8_t At(uint32_t cell, int32_t x, int32_t y) const
    {
        const FontRecord& f = *record;
        const uint8_t* row = f.memoryCache + (static_cast<size_t>(cell) * f.cellSide + y) * f.bytesPerRow;
        if (f.bitsPerPixel == 1) return (row[x >> 3] >> (7 - (x & 7))) & 1;
        return row[x];
    }
    // Puts a glyph into the next ring entry for the unit, as the renderer does.
    GlyphEntry* Add(uint16_t unit, const std::vector<uint8_t>& bits, int32_t pitch, int32_t w, int32_t h)
    {
        GlyphEntry* e = TakeRingEntry(record.get());
        StoreGlyphInMemoryCell(record.get(), e, bits.data(), pitch, w, h);
        const int32_t edge = (record->kind & kFontEdge) ? 2 * record->edgeSize : 0;
        e->boxWidth = static_cast<uint16_t>(w + edge);
        e->boxHeight = static_cast<uint16_t>(h + edge);
        e->advance = static_cast<int16_t>(w + edge);
        CommitRingEntry(record.get(), e, unit);
        return e;
    }
};

TEST(FontLayout, GlyphListsOfVeryLongTextsAreRefusedNotWrapped)
{
    // 0x15555556 units need 12 * 0x15555556 bytes, which wraps to 8 in 32 bits.
    for (const int32_t units : {0x15555556, INT32_MAX, 0, -1}) {
        GlyphListEntry* list = AllocGlyphLists(units);
        EXPECT_EQ(list, nullptr) << units;
        FreeTrackedMemory(list);
    }
    GlyphListEntry* list = AllocGlyphLists(300);
    ASSERT_NE(list, nullptr);
    list[599] = GlyphListEntry{0x41, 0};  // the last entry of the second list lies inside
    FreeTrackedMemory(list);
}

TEST(GlyphRing, EvictsFirstInFirstOutAndReusesTheCell)
{
    TestFont font(kFontAntialiased, 8, 3);
    const std::vector<uint8_t> ink(4 * 2, 16);
    EXPECT_EQ(font->glyphs[3].cell, kNoGlyphCell);
    GlyphEntry* a = font.Add('A', ink, 4, 4, 2);
    font.Add('B', ink, 4, 4, 2);
    font.Add('C', ink, 4, 4, 2);
    EXPECT_EQ(font->ringHead, 0);
    EXPECT_EQ(font->codeUnits['A'].entry, a);
    EXPECT_EQ(font.At(0, 0, 0), 15);

    const std::vector<uint8_t> small(4, 0);
    GlyphEntry* d = font.Add('D', small, 4, 1, 1);  // no ink: the old cell must be empty
    EXPECT_EQ(d, a) << "the oldest entry comes around first";
    EXPECT_EQ(d->cell, 0u);
    EXPECT_EQ(font->codeUnits['A'].state, 0u);
    EXPECT_EQ(font->codeUnits['A'].entry, nullptr);
    EXPECT_EQ(font->codeUnits['D'].state, 1u);
    EXPECT_EQ(font->codeUnits['B'].state, 1u);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(font.At(0, x, y), 0) << x << "," << y;
}

TEST(GlyphCells, OneBitGlyphsAreClippedToTheirCell)
{
    TestFont font(kFontPlain, 8, 4);
    // A 12 x 10 all-ink bitmap (rows of 4 bytes) into an 8 x 8 cell.
    const std::vector<uint8_t> bits(4 * 10, 0xFF);
    font.Add('W', bits, 4, 12, 10);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(font.At(0, x, y), 1);
    for (int y = 0; y < 8; ++y) ASSERT_EQ(font.At(1, 0, y), 0) << "the next cell stays empty";
}

TEST(GlyphCells, EightBitGlyphsAreClippedToTheirCell)
{
    // A glyph wider than the cell would run into the cell's next line, one taller into the
    // next cell (the tall one takes the last cell, so past the cache block). Body pixels lie
    // exactly where the glyph, moved in by the edge, meets the cell.
    for (const int32_t kind : {kFontEdge, kFontAntialiased, kFontAntialiasedEdge}) {
        TestFont font(kind, 8, 2);
        const bool grey = (kind & kFontAntialiased) != 0;
        const int32_t e = (kind & kFontEdge) ? 1 : 0;
        auto ink = [grey](int32_t w, int32_t h, int32_t* pitch) {
            *pitch = grey ? (w + 3) / 4 * 4 : (w + 31) / 32 * 4;
            return std::vector<uint8_t>(static_cast<size_t>(*pitch) * h, grey ? 16 : 0xFF);
        };
        auto body = [&](uint32_t cell, int32_t x, int32_t y) {
            const uint8_t v = font.At(cell, x, y);
            return kind == kFontEdge ? v == 1 : (v & 0x0F) != 0;
        };
        struct Glyph {
            int32_t w, h;
        };
        const Glyph glyphs[] = {{12, 1}, {1, 10}};
        for (uint32_t cell = 0; cell < 2; ++cell) {
            const Glyph g = glyphs[cell];
            int32_t pitch = 0;
            const std::vector<uint8_t> bits = ink(g.w, g.h, &pitch);
            font.Add(static_cast<uint16_t>('a' + cell), bits, pitch, g.w, g.h);
            for (int32_t y = 0; y < 8; ++y) {
                for (int32_t x = 0; x < 8; ++x) {
                    const bool inside = x >= e && x < e + g.w && y >= e && y < e + g.h;
                    ASSERT_EQ(body(cell, x, y), inside)
                        << "kind " << kind << ", glyph " << g.w << " x " << g.h << ", pixel " << x << "," << y;
                }
            }
        }
    }
}

TEST(GlyphCells, GreyLevelsAreStoredMinusOne)
{
    TestFont font(kFontAntialiased, 8, 2);
    const std::vector<uint8_t> bits = {0, 1, 8, 16, 200, 0, 0, 0};  // 200 is bad input: full
    font.Add('g', bits, 8, 5, 1);
    const uint8_t want[] = {0, 0, 7, 15, 15};
    for (int x = 0; x < 5; ++x) EXPECT_EQ(font.At(0, x, 0), want[x]) << x;
}

TEST(GlyphCells, EdgeOfSizeOneIsTheFourNeighbours)
{
    TestFont font(kFontEdge, 8, 2);
    const std::vector<uint8_t> bits = {0x80, 0, 0, 0};  // one pixel
    GlyphEntry* e = font.Add('.', bits, 4, 1, 1);
    EXPECT_EQ(e->boxWidth, 3);
    EXPECT_EQ(e->advance, 3);
    const uint8_t want[3][3] = {{0, 2, 0}, {2, 1, 2}, {0, 2, 0}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(font.At(0, x, y), want[y][x]) << x << "," << y;
}

TEST(GlyphCells, EdgeDiscsOfSizesTwoToFourAndTheSquareBeyond)
{
    struct Case {
        int32_t edge, stamped;  // pixels of the stamp around one body pixel
    };
    const Case cases[] = {{2, 21}, {3, 29}, {4, 69}, {5, 121}};
    for (const Case& c : cases) {
        TestFont font(kFontEdge, 16, 2, c.edge);
        font.Add('.', {0x80, 0, 0, 0}, 4, 1, 1);
        int body = 0, edge = 0;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                body += font.At(0, x, y) == 1;
                edge += font.At(0, x, y) == 2;
            }
        }
        EXPECT_EQ(body, 1) << c.edge;
        EXPECT_EQ(font.At(0, c.edge, c.edge), 1) << "the body sits edge-size pixels in";
        EXPECT_EQ(edge + body, c.stamped) << c.edge;
    }
}

TEST(GlyphCells, GreyEdgeKeepsTheStrongestReachingBody)
{
    TestFont font(kFontAntialiasedEdge, 8, 2);
    const std::vector<uint8_t> bits = {16, 5, 0, 0};
    font.Add('-', bits, 4, 2, 1);
    // Body at (1,1) level 15 and (2,1) level 4; edges reach from both.
    EXPECT_EQ(font.At(0, 1, 1), 0xF0 | 15);
    EXPECT_EQ(font.At(0, 2, 1), 0xF0 | 4) << "its left neighbour's stamp is the stronger";
    EXPECT_EQ(font.At(0, 3, 1), 0x40) << "only the weak body reaches";
    EXPECT_EQ(font.At(0, 1, 0), 0xF0);
    EXPECT_EQ(font.At(0, 0, 0), 0);
}

struct Canvas {
    MEMIMG image{};
    Canvas(int w, int h, int kind, int alpha)
    {
        EXPECT_EQ(CreateMemImgWithOptions(&image, w, h, -1, 0, kind, 0, alpha, 0, nullptr), 0);
        FillMemImgPixels(&image, nullptr, 0);
    }
    ~Canvas() { ReleaseMemImgRef(&image); }
    uint32_t Pixel32(int x, int y) const
    {
        uint32_t v;
        std::memcpy(&v, image.pixels + image.store->pitch * y + 4 * x, 4);
        return v;
    }
};

TEST(GlyphDrawing, FullCoverageIsOpaqueAndLevelsSpreadOverTheRange)
{
    TestFont font(kFontAntialiased, 8, 2);
    const std::vector<uint8_t> bits = {16, 9, 2, 1};
    GlyphEntry* e = font.Add('g', bits, 4, 4, 1);
    Canvas canvas(8, 4, kMemImgXrgb32, 1);
    GlyphDrawTarget t{&canvas.image, {0, 0, 8, 4}, 0xFFFFFF, 0, 0};
    DrawMemoryGlyph(font.record.get(), e, t, 2, 1);
    EXPECT_EQ(canvas.Pixel32(2, 1), 0xFFFFFFFFu);
    EXPECT_EQ(canvas.Pixel32(3, 1), (9u * 16) << 24 | 0xFFFFFF) << "level 9 of 16";
    EXPECT_EQ(canvas.Pixel32(4, 1), (2u * 16) << 24 | 0xFFFFFF);
    EXPECT_EQ(canvas.Pixel32(5, 1), 0u) << "level 1 stores 0 and is skipped";
    EXPECT_EQ(canvas.Pixel32(1, 1), 0u);
}

TEST(GlyphDrawing, AntialiasedEdgeMixesBodyOverEdge)
{
    TestFont font(kFontAntialiasedEdge, 8, 2);
    const std::vector<uint8_t> bits = {16, 0, 0, 0};
    GlyphEntry* e = font.Add('.', bits, 4, 1, 1);
    Canvas canvas(4, 4, kMemImgXrgb32, 1);
    GlyphDrawTarget t{&canvas.image, {0, 0, 4, 4}, 0xFFFFFF, 0xFF0000, 0};
    DrawMemoryGlyph(font.record.get(), e, t, 0, 0);
    EXPECT_EQ(canvas.Pixel32(1, 1), 0xFFFFFFFFu) << "full body";
    EXPECT_EQ(canvas.Pixel32(0, 1), 0xFFFF0000u) << "full edge";
    EXPECT_EQ(canvas.Pixel32(0, 0), 0u);
}

TEST(GlyphDrawing, VerticalTurnsClockwiseAndClips)
{
    TestFont font(kFontEdge, 8, 2, 1);
    // A 2 x 1 body: with its edge a 4 x 3 box.
    GlyphEntry* e = font.Add('-', {0xC0, 0, 0, 0}, 4, 2, 1);
    Canvas canvas(8, 8, kMemImgXrgb32, 0);
    GlyphDrawTarget t{&canvas.image, {0, 0, 8, 8}, 0xFFFFFF, 0x0000FF, 1};
    DrawMemoryGlyph(font.record.get(), e, t, 2, 2);
    // Turned: 3 wide, 4 high; the body runs down the middle column.
    EXPECT_EQ(canvas.Pixel32(3, 3), 0xFFFFFFu);
    EXPECT_EQ(canvas.Pixel32(3, 4), 0xFFFFFFu);
    EXPECT_EQ(canvas.Pixel32(3, 2), 0x0000FFu);
    EXPECT_EQ(canvas.Pixel32(2, 3), 0x0000FFu);
    EXPECT_EQ(canvas.Pixel32(4, 4), 0x0000FFu);
    EXPECT_EQ(canvas.Pixel32(3, 5), 0x0000FFu);
    EXPECT_EQ(canvas.Pixel32(2, 2), 0u);

    Canvas clipped(8, 8, kMemImgXrgb32, 0);
    t.image = &clipped.image;
    t.clip = {0, 0, 3, 4};
    DrawMemoryGlyph(font.record.get(), e, t, 2, 2);
    EXPECT_EQ(clipped.Pixel32(2, 3), 0x0000FFu);
    EXPECT_EQ(clipped.Pixel32(3, 3), 0u) << "right of the clip";
    EXPECT_EQ(clipped.Pixel32(2, 4), 0u) << "below the clip";
}

TEST(GlyphDrawing, GlyphsAtTheEndOfTheRangeDrawNothing)
{
    TestFont font(kFontAntialiased, 8, 2);
    GlyphEntry* e = font.Add('g', std::vector<uint8_t>(4 * 4, 16), 4, 4, 4);
    Canvas canvas(8, 8, kMemImgXrgb32, 0);
    GlyphDrawTarget t{&canvas.image, {0, 0, 8, 8}, 0xFFFFFF, 0, 0};
    for (int32_t vertical : {0, 1}) {
        t.vertical = vertical;
        DrawMemoryGlyph(font.record.get(), e, t, INT32_MAX - 1, 0);
        DrawMemoryGlyph(font.record.get(), e, t, 0, INT32_MAX - 1);
    }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(canvas.Pixel32(x, y), 0u) << x << "," << y;
    DrawMemoryGlyph(font.record.get(), e, t, 5, 6);
    EXPECT_EQ(canvas.Pixel32(7, 7), 0xFFFFFFu) << "the part inside the image is drawn";
}

TEST(GlyphColors, BrightScalesEachChannelOfTheScreenFormat)
{
    const ScreenSettings kept = g_screenSettings;
    g_screenSettings.colorBits = 32;
    EXPECT_EQ(ApplyBrightToColor(0xFFFFFF, 0xFF0000), 0xFF0000u);
    EXPECT_EQ(ApplyBrightToColor(0x80FF40, 0x808080), 0x408020u);
    EXPECT_EQ(ApplyBrightToColor(0x123456, 0xFFFFFF), 0x123456u);
    g_screenSettings.colorBits = 16;
    EXPECT_EQ(ApplyBrightToColor(0xFFFF, 0xFF0000), 0xF800u);
    EXPECT_EQ(ApplyBrightToColor(0xFFFF, 0x00FF00), 0x07E0u);
    g_screenSettings = kept;
}

TEST(GlyphColors, TextColoursTakeTheFormOfTheImageDrawnInto)
{
    const ScreenSettings kept = g_screenSettings;
    Canvas wide(2, 2, kMemImgXrgb32, 0);
    Canvas narrow(2, 2, kMemImgRgb565, 0);
    Canvas narrowAlpha(2, 2, kMemImgRgb565, 1);
    struct Case {
        int32_t screenBits;
        uint32_t value, bright;
        const MEMIMG* image;
        uint32_t want;
    };
    const Case cases[] = {
        {16, 0xF800, 0xFFFFFF, &wide.image, 0xFF0000},    // 16-bit red into a 32-bit graph
        {16, 0x07E0, 0x808080, &wide.image, 0x008100},    // with bright: 32 of 63, widened
        {16, 0xFFFF, 0xFFFFFF, &narrow.image, 0xFFFF},    // same depth: as it was
        {32, 0x00FF00, 0xFFFFFF, &narrow.image, 0x07E0},  // 32-bit green into a 16-bit graph
        {32, 0x0000FF, 0xFFFFFF, &narrowAlpha.image, 0x001F}, {32, 0x123456, 0xFFFFFF, &wide.image, 0x123456},
        {32, 0x123456, 0xFFFFFF, nullptr, 0x123456},  // no image: the screen's form
    };
    for (const Case& c : cases) {
        g_screenSettings.colorBits = c.screenBits;
        EXPECT_EQ(TextColorForImage(c.value, c.bright, c.image), c.want)
            << std::hex << c.value << " on a " << std::dec << c.screenBits << "-bit screen";
    }
    g_screenSettings = kept;
}

}  // namespace
