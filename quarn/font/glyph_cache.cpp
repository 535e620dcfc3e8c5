// The parts of the font layer that need no operating system: the font table, cache sizes,
// the glyph ring, writing glyph outlines into memory cells with their edges, and drawing
// cached glyphs into a memory image.
#include "quarn/font/font.h"
#include "quarn/graphics/graphics.h"

#include <algorithm>
#include <cstring>

namespace {

FixedHandleTable<kFontSlots> s_fontTable{kHandleTypeFont, kSlotFirstFree};

// Edge stamps of sizes 2 to 4: rows top to bottom, 'X' inside the disc.
const char* const kDisc2[] = {".XXX.", "XXXXX", "XXXXX", "XXXXX", ".XXX."};
const char* const kDisc3[] = {"...X...", ".XXXXX.", ".XXXXX.", "XXXXXXX", ".XXXXX.", ".XXXXX.", "...X..."};
const char* const kDisc4[] = {"..XXXXX..", ".XXXXXXX.", "XXXXXXXXX", "XXXXXXXXX", "XXXXXXXXX",
                              "XXXXXXXXX", "XXXXXXXXX", ".XXXXXXX.", "..XXXXX.."};

// Whether the stamp of edge size e reaches offset (dx, dy) from its centre.
bool StampCovers(int32_t e, int32_t dx, int32_t dy)
{
    if (e <= 1) return (dx == 0 && (dy >= -1 && dy <= 1)) || (dy == 0 && (dx >= -1 && dx <= 1));
    if (e > 4) return true;
    const char* const* rows = e == 2 ? kDisc2 : e == 3 ? kDisc3 : kDisc4;
    return rows[dy + e][dx + e] == 'X';
}

uint8_t* CellBase(const FontRecord* font, uint32_t cell)
{
    return font->memoryCache +
           static_cast<size_t>(cell) * static_cast<size_t>(font->cellSide) * static_cast<size_t>(font->bytesPerRow);
}

int32_t EdgeOf(const FontRecord* font) { return (font->kind & kFontEdge) ? font->edgeSize : 0; }

// Channel fields of a pixel word: 8-8-8 at 32 bits, 5-6-5 at 16.
struct ChannelLayout {
    int32_t shift[3];
    uint32_t mask[3];
};
constexpr ChannelLayout kLayout32{{16, 8, 0}, {0xFF, 0xFF, 0xFF}};
constexpr ChannelLayout kLayout16{{11, 5, 0}, {0x1F, 0x3F, 0x1F}};

// Coverage 0 to 255 of a stored grey level (the glyph's level 0 to 16, minus one): the
// level's share of the pixel, with full coverage fully opaque.
int32_t LevelCoverage(int32_t stored)
{
    if (stored <= 0) return 0;
    return std::min<int32_t>((stored + 1) * 16, 255);
}

// a + (b - a) * w / 255 per channel field.
uint32_t MixColor(uint32_t a, uint32_t b, int32_t w, const ChannelLayout& l)
{
    uint32_t out = 0;
    for (int i = 0; i < 3; ++i) {
        const int32_t ca = static_cast<int32_t>((a >> l.shift[i]) & l.mask[i]);
        const int32_t cb = static_cast<int32_t>((b >> l.shift[i]) & l.mask[i]);
        const int32_t c = ca + (cb - ca) * w / 255;
        out |= static_cast<uint32_t>(c) << l.shift[i];
    }
    return out;
}

}  // namespace

HandleTable* GetFontTable() { return s_fontTable.get(); }

FontRecord* GetFontRecord(int32_t font) { return FindHandleRecordAs<FontRecord>(s_fontTable.get(), font); }

int32_t IsFontHandleValid(int32_t font) { return GetFontRecord(font) != nullptr ? 1 : 0; }

GlyphListEntry* AllocGlyphLists(int32_t units)
{
    // Sized in 64 bits: in 32, a very long text's size would wrap to a small block.
    const int64_t bytes = int64_t{units} * 2 * static_cast<int64_t>(sizeof(GlyphListEntry));
    if (units < 1 || bytes > INT32_MAX) return nullptr;
    return static_cast<GlyphListEntry*>(AllocTrackedMemory(static_cast<uint32_t>(bytes), "", 0));
}

int32_t ComputeFontCells(int32_t maxCharWidth, int32_t textHeight, int32_t kind, int32_t edgeSize, int32_t* cellSide,
                         int32_t* cellHeight)
{
    // Wide enough not to overflow for any metrics and edge size a caller can pass.
    const int64_t edge = (kind & kFontEdge) ? 2 * int64_t{edgeSize} : 0;
    int64_t side = (int64_t{maxCharWidth} + 2 + edge + 7) / 8 * 8;
    int64_t height = int64_t{textHeight} + edge;
    height += height & 1;
    if (side < height) side = height;
    if (side < 1 || side > kMaxFontCellSide || height > kMaxFontCellSide) return -1;
    *cellSide = static_cast<int32_t>(side);
    *cellHeight = static_cast<int32_t>(height);
    return 0;
}

int64_t SizeMemoryGlyphCache(FontRecord* font, int32_t userCacheCount)
{
    const int32_t side = font->cellSide;
    font->bitsPerPixel = font->kind == kFontPlain ? 1 : 8;
    int32_t capacity = userCacheCount;
    if (capacity <= 0) {
        capacity = static_cast<int32_t>(std::max<int64_t>(0x50000 / (int64_t{side} * side), 20));
    }
    capacity = std::min(capacity, kGlyphCapacityLimit);
    font->capacity = capacity;
    font->cacheWidth = side;
    font->cacheHeight = capacity * side;
    font->cellsPerColumn = capacity;
    font->bytesPerRow = (side * font->bitsPerPixel + 7) / 8;
    return int64_t{font->cacheHeight} * font->bytesPerRow;
}

void SizeTextureGlyphCache(int32_t cellSide, int32_t userCacheCount, int32_t* width, int32_t* height, int32_t* capacity,
                           int32_t* cellsPerColumn)
{
    // A cell's pixels start one pixel in from its grid corner, so the last cell of a row or
    // column needs one pixel beyond the grid: only (side - 1) / cell side cells fit.
    auto cellsAlong = [cellSide](int32_t length) { return (length - 1) / cellSide; };
    int32_t w = 512;
    int32_t h = 512;
    int32_t cap = 0;
    if (userCacheCount > 0) {
        // No cache holds more than the limit: a larger count sizes no larger texture.
        const int32_t count = std::min(userCacheCount, kGlyphCapacityLimit);
        int32_t root = 1;
        while ((root + 1) * (root + 1) <= count) ++root;
        const int64_t need = int64_t{cellSide} * (root + 1);
        int64_t s = 8;
        while (s < need || (s - 1) / cellSide < root + 1) s *= 2;
        w = h = static_cast<int32_t>(s);
        cap = cellsAlong(h) * cellsAlong(w);
    } else {
        cap = cellsAlong(h) * cellsAlong(w);
        while (cap < 10) {
            if (w <= h) w *= 2;
            else h *= 2;
            cap = cellsAlong(h) * cellsAlong(w);
        }
    }
    *width = w;
    *height = h;
    *capacity = std::min(cap, kGlyphCapacityLimit);
    // Columns are filled top to bottom with as many cells as fit with their border; a column
    // of height / cell side cells would put its last cell one pixel past the texture.
    *cellsPerColumn = cellsAlong(h);
}

void ResetGlyphCache(FontRecord* font)
{
    std::memset(font->codeUnits, 0, sizeof(font->codeUnits));
    std::memset(font->glyphs, 0, sizeof(font->glyphs));
    for (int32_t i = 0; i < font->capacity; ++i) font->glyphs[i].cell = static_cast<uint32_t>(i);
    font->glyphs[font->capacity].cell = kNoGlyphCell;
    font->ringHead = 0;
}

GlyphEntry* TakeRingEntry(FontRecord* font)
{
    GlyphEntry* entry = &font->glyphs[font->ringHead];
    if (entry->used) {
        if (entry->codeSlot != nullptr) {
            entry->codeSlot->state = 0;
            entry->codeSlot->entry = nullptr;
        }
        entry->codeSlot = nullptr;
        entry->used = 0;
    }
    if (font->memoryCache != nullptr) {
        std::memset(CellBase(font, entry->cell), 0,
                    static_cast<size_t>(font->cellSide) * static_cast<size_t>(font->bytesPerRow));
    }
    return entry;
}

void CommitRingEntry(FontRecord* font, GlyphEntry* entry, uint16_t unit)
{
    CodeUnitSlot* slot = &font->codeUnits[unit];
    slot->state = 1;
    slot->entry = entry;
    entry->codeSlot = slot;
    entry->used = 1;
    font->ringHead = (font->ringHead + 1) % font->capacity;
}

void StoreGlyphInMemoryCell(FontRecord* font, GlyphEntry* entry, const uint8_t* bits, int32_t pitch, int32_t width,
                            int32_t height)
{
    if (font->memoryCache == nullptr) return;
    StoreGlyphInCell(font, CellBase(font, entry->cell), bits, pitch, width, height);
}

void StoreGlyphInCell(const FontRecord* font, uint8_t* cell, const uint8_t* bits, int32_t pitch, int32_t width,
                      int32_t height)
{
    if (cell == nullptr || bits == nullptr || width <= 0 || height <= 0) return;
    const int32_t side = font->cellSide;
    const int32_t row = font->bytesPerRow;
    const bool grey = (font->kind & kFontAntialiased) != 0;
    // Body level of a glyph pixel: 0 to 16.
    auto level = [&](int32_t x, int32_t y) -> int32_t {
        const uint8_t* line = bits + static_cast<ptrdiff_t>(pitch) * y;
        if (grey) return std::min<int32_t>(line[x], 16);
        return (line[x >> 3] & (0x80 >> (x & 7))) ? 16 : 0;
    };

    if (font->kind == kFontPlain) {
        const int32_t w = std::min(width, side);
        const int32_t h = std::min(height, side);
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                if (level(x, y)) cell[y * row + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
            }
        }
        return;
    }

    const int32_t e = EdgeOf(font);
    // Bodies first, at the edge offset.
    for (int32_t y = 0; y < height; ++y) {
        const int32_t cy = y + e;
        if (cy >= side) break;
        for (int32_t x = 0; x < width; ++x) {
            const int32_t cx = x + e;
            if (cx >= side) break;
            const int32_t v = level(x, y);
            if (v == 0) continue;
            uint8_t& p = cell[cy * row + cx];
            if (font->kind == kFontEdge) p = 1;
            else p = static_cast<uint8_t>(v - 1);  // kinds 2 and 3: the body level in the low nibble
        }
    }
    if (e == 0) return;

    // Then the edge: every body pixel stamps its surroundings.
    const int32_t reach = std::max<int32_t>(e, 1);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int32_t v = level(x, y);
            if (v == 0) continue;
            for (int32_t dy = -reach; dy <= reach; ++dy) {
                const int32_t cy = y + e + dy;
                if (cy < 0 || cy >= side) continue;
                for (int32_t dx = -reach; dx <= reach; ++dx) {
                    const int32_t cx = x + e + dx;
                    if (cx < 0 || cx >= side || !StampCovers(e, dx, dy)) continue;
                    uint8_t& p = cell[cy * row + cx];
                    if (font->kind == kFontEdge) {
                        if (p == 0) p = 2;
                    } else {
                        const uint8_t edgeLevel = static_cast<uint8_t>(v - 1);
                        if ((p >> 4) < edgeLevel) p = static_cast<uint8_t>((p & 0x0F) | (edgeLevel << 4));
                    }
                }
            }
        }
    }
}

uint32_t ApplyBrightToColor(uint32_t value, uint32_t brightRgb)
{
    int rgb[3] = {0, 0, 0};
    UnpackScreenColor(value, &rgb[0], &rgb[1], &rgb[2]);
    const int bright[3] = {static_cast<int>((brightRgb >> 16) & 0xFF), static_cast<int>((brightRgb >> 8) & 0xFF),
                           static_cast<int>(brightRgb & 0xFF)};
    for (int i = 0; i < 3; ++i) rgb[i] = rgb[i] * bright[i] / 255;
    // Only the colour channels: the format's other bits are cleared.
    const ColorFormat* format = ScreenColorFormat();
    return PackScreenColor(rgb[0], rgb[1], rgb[2]) & (format->redMask | format->greenMask | format->blueMask);
}

uint32_t TextColorForImage(uint32_t value, uint32_t brightRgb, const MEMIMG* image)
{
    const uint32_t screen = ApplyBrightToColor(value, brightRgb);
    if (TestMemImgValid(image) == 0) return screen;
    const int32_t kind = image->store->kind;
    if (kind != kMemImgRgb565 && kind != kMemImgXrgb32) return screen;
    // A graph drawn into may have another depth than the screen the caller's colours are for.
    int rgb[3] = {0, 0, 0};
    UnpackScreenColor(screen, &rgb[0], &rgb[1], &rgb[2]);
    const ColorFormat* format = GetMemImgColorFormat(kind, 0, 0);
    return EncodePixelColor(format, rgb[0], rgb[1], rgb[2], 255) &
           (format->redMask | format->greenMask | format->blueMask);
}

void DrawMemoryGlyph(const FontRecord* font, const GlyphEntry* entry, const GlyphDrawTarget& t, int32_t x, int32_t y)
{
    MEMIMG* img = t.image;
    if (font->memoryCache == nullptr || TestMemImgValid(img) == 0) return;
    const MemImgBase* store = img->store;
    const bool is32 = store->kind == kMemImgXrgb32;
    if (store->paletted || (!is32 && store->kind != kMemImgRgb565)) return;
    const bool alpha = store->alpha != 0;
    const int32_t bpp = MemImgBytesPerPixel(store->kind, 0, store->alpha);
    const ChannelLayout& layout = is32 ? kLayout32 : kLayout16;

    const int32_t side = font->cellSide;
    const int32_t w = std::min<int32_t>(entry->boxWidth, side);
    const int32_t h = std::min<int32_t>(entry->boxHeight, side);
    if (w <= 0 || h <= 0) return;
    const int32_t left = std::max(t.clip.left, 0);
    const int32_t top = std::max(t.clip.top, 0);
    const int32_t right = std::min(t.clip.right, img->width);
    const int32_t bottom = std::min(t.clip.bottom, img->height);
    if (right <= left || bottom <= top) return;

    const uint8_t* cell = CellBase(font, entry->cell);
    const int32_t row = font->bytesPerRow;
    const uint32_t colorMask = is32 ? 0xFFFFFF : 0xFFFF;
    const uint32_t text = t.color & colorMask;
    const uint32_t edge = t.edgeColor & colorMask;

    for (int32_t v = 0; v < h; ++v) {
        for (int32_t u = 0; u < w; ++u) {
            // Wide: a glyph may be placed at the very end of the int32 range.
            const int64_t dx = t.vertical ? int64_t{x} + (h - 1 - v) : int64_t{x} + u;
            const int64_t dy = t.vertical ? int64_t{y} + u : int64_t{y} + v;
            if (dx < left || dx >= right || dy < top || dy >= bottom) continue;

            uint32_t value;
            if (font->bitsPerPixel == 1) value = (cell[v * row + (u >> 3)] >> (7 - (u & 7))) & 1;
            else value = cell[v * row + u];
            if (value == 0) continue;

            // Colour and coverage 0 to 255 of this pixel.
            uint32_t color = text;
            int32_t cover = 255;
            switch (font->kind) {
            case kFontPlain: break;
            case kFontEdge: color = value == 1 ? text : edge; break;
            case kFontAntialiased: cover = LevelCoverage(static_cast<int32_t>(value)); break;
            default: {
                const int32_t b = value & 0x0F;
                const int32_t e = value >> 4;
                if (b == 15) break;
                // The body over its edge, both as coverage of the pixel.
                const int32_t body = LevelCoverage(b);
                cover = body + (255 - body) * LevelCoverage(e) / 255;
                if (cover <= 0) continue;
                color = MixColor(edge, text, body * 255 / cover, layout);
                break;
            }
            }

            uint8_t* p = img->pixels + static_cast<ptrdiff_t>(store->pitch) * dy + static_cast<ptrdiff_t>(bpp) * dx;
            if (alpha) {
                if (is32) {
                    const uint32_t word = color | (static_cast<uint32_t>(cover) << 24);
                    std::memcpy(p, &word, 4);
                } else {
                    const uint16_t c16 = static_cast<uint16_t>(color);
                    std::memcpy(p, &c16, 2);
                    p[2] = static_cast<uint8_t>(cover);
                }
            } else if (is32) {
                uint32_t old;
                std::memcpy(&old, p, 4);
                const uint32_t word = cover == 255 ? color : MixColor(old & colorMask, color, cover, layout);
                std::memcpy(p, &word, 4);
            } else {
                uint16_t old;
                std::memcpy(&old, p, 2);
                const uint16_t c16 = static_cast<uint16_t>(cover == 255 ? color : MixColor(old, color, cover, layout));
                std::memcpy(p, &c16, 2);
            }
        }
    }
    MarkMemImgPixelsChanged(img->store);
}

int32_t TextureCellOrigin(const FontRecord* font, uint32_t cell, int32_t* x, int32_t* y)
{
    if (font->cellsPerColumn <= 0 || cell >= static_cast<uint32_t>(font->capacity)) return -1;
    const int64_t column = cell / static_cast<uint32_t>(font->cellsPerColumn);
    const int64_t row = cell % static_cast<uint32_t>(font->cellsPerColumn);
    *x = static_cast<int32_t>(column * font->cellSide + 1);
    *y = static_cast<int32_t>(row * font->cellSide + 1);
    return 0;
}

int32_t StoreCellInCacheImage(const FontRecord* font, uint32_t cell, const uint8_t* values)
{
    const BaseImage& image = font->cacheImage;
    int32_t left = 0;
    int32_t top = 0;
    if (image.pixels == nullptr || TextureCellOrigin(font, cell, &left, &top) != 0) return -1;
    const ColorFormat& f = image.format;
    const int32_t bpp = f.bytesPerPixel;
    const int32_t side = font->cellSide;
    const bool edged = (font->kind & kFontEdge) != 0;
    const int32_t half = font->cacheWidth;  // the edge half starts here
    if (bpp < 1 || bpp > 4 || int64_t{left} + side + (edged ? half : 0) > image.width ||
        int64_t{top} + side > image.height) {
        return -1;
    }
    const uint32_t colour = f.redMask | f.greenMask | f.blueMask;
    const uint32_t all = colour | f.alphaMask;
    const int32_t alphaTop = f.alphaShift + f.alphaWidth;
    // Coverage level 1 to 16 as pixel: white, the level in the alpha's top four bits.
    auto level = [&](uint32_t v) -> uint32_t {
        return alphaTop >= 4 ? (((v << (alphaTop - 4)) - 1) & f.alphaMask) | colour : all;
    };
    auto put = [&](int32_t x, int32_t y, uint32_t value) {
        std::memcpy(image.pixels + static_cast<ptrdiff_t>(y) * image.pitch + static_cast<ptrdiff_t>(x) * bpp, &value,
                    static_cast<size_t>(bpp));
    };
    for (int32_t y = 0; y < side; ++y) {
        for (int32_t x = 0; x < side; ++x) {
            uint32_t body = 0;
            uint32_t edge = 0;
            if (font->kind == kFontPlain) {
                const int32_t row = (side + 7) / 8;
                body = (values[y * row + (x >> 3)] >> (7 - (x & 7))) & 1 ? all : colour;
            } else {
                const uint8_t v = values[y * side + x];
                switch (font->kind) {
                case kFontEdge:
                    body = v == 1 ? all : 0;
                    edge = v != 0 ? all : 0;  // the edge lies under the body too
                    break;
                case kFontAntialiased: body = v != 0 ? level(v + 1u) : colour; break;
                default:
                    body = (v & 0x0F) != 0 ? level((v & 0x0Fu) + 1u) : colour;
                    edge = (v >> 4) != 0 ? level((v >> 4) + 1u) : (v & 0x0F) != 0 ? level((v & 0x0Fu) + 1u) : colour;
                    break;
                }
            }
            put(left + x, top + y, body);
            if (edged) put(half + left + x, top + y, edge);
        }
    }
    return 0;
}
