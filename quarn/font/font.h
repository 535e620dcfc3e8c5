// Fonts: font records behind type-4 handles, their glyph caches, text drawing and the
// standard font. What the font layer offers the rest of the library.
//
// The records, the cache, the glyph lists and text drawing need no operating system: the
// system's fonts and glyph outlines come through font_os.h. The font system's start and end,
// the standard font and the on-screen log are Windows only (marked so below).
#pragma once

#include <cstdint>

#include "quarn/core/core.h"
#include "quarn/core/handle.h"
#include "quarn/image/image.h"
#include "quarn/quarn.h"
#include "quarn/softrender/softrender.h"

constexpr int32_t kFontSlots = 40;
constexpr int32_t kGlyphEntries = 2025;  // the last one only holds the end marker
constexpr int32_t kGlyphCapacityLimit = 2024;
constexpr int32_t kCodeUnitSlots = 65536;
constexpr int32_t kFontFaceUnits = 256;      // 255 units and the terminator
constexpr int32_t kStandardFaceUnits = 128;  // 127 units and the terminator
constexpr int32_t kStaticGlyphList = 256;    // lists up to this length need no allocation
constexpr uint32_t kNoGlyphCell = 0xFFFFFFFFu;

// Font kinds: bit 0 edge, bit 1 anti-aliased.
enum : int32_t {
    kFontPlain = 0,
    kFontEdge = 1,
    kFontAntialiased = 2,
    kFontAntialiasedEdge = 3,
};

struct CodeUnitSlot;

struct GlyphEntry {
    uint8_t used;
    int16_t xOrigin;    // left bearing of the glyph box
    int16_t topOffset;  // from the cell's top line (the ascent) down to the glyph box
    int16_t advance;    // pen step, edge included
    uint32_t cell;      // cache cell owned by this entry; kNoGlyphCell past the last
    uint16_t boxWidth;  // edge included; 0 for spaces before the edge
    uint16_t boxHeight;
    CodeUnitSlot* codeSlot;
};

struct CodeUnitSlot {
    uint32_t state;  // 0 not cached, 1 cached (also the "listed" tag while listing)
    GlyphEntry* entry;
};

#pragma pack(push, 1)
struct GlyphListEntry {
    uint16_t unit;
    uint32_t reserved;  // written as 0
};
#pragma pack(pop)
static_assert(sizeof(GlyphListEntry) == 6, "list entries are 6 bytes");

struct FontRecord {
    uint32_t check;
    int32_t* deletionFlag;  // set to 1 when the font is destroyed
    GlyphEntry glyphs[kGlyphEntries];
    CodeUnitSlot codeUnits[kCodeUnitSlots];
    int32_t ringHead;      // next entry to fill
    int32_t capacity;      // entries in use, at most 2024
    uint8_t* memoryCache;  // one cell wide, capacity cells high
    int32_t bytesPerRow;
    int32_t bitsPerPixel;          // 1 for kind 0, 8 otherwise
    wchar_t face[kFontFaceUnits];  // as passed; empty for the system default
    int32_t thickness;             // weight / 100
    int32_t size;                  // the character height asked of GDI
    int32_t cellHeight;            // text height with the edge, even
    int32_t italic;
    int32_t spacing;   // extra pixels per advance
    int32_t cellSide;  // side of a square cache cell
    void* gdiFont;     // HFONT
    int32_t kind;
    int32_t charSetIndex;
    int32_t edgeSize;
    int32_t cacheWidth, cacheHeight;
    int32_t cellsPerColumn;
    int32_t cacheGraph;  // texture cache graph, -1 when none
    int32_t edgeGraph;
    int32_t rebuildFlag;
    BaseImage cacheImage;
    int32_t textureCache;  // 1 texture cache, 0 memory cache
};

// The wanted parameters of the standard font.
struct StandardFontSettings {
    int32_t handle;  // the standard font, -1 when none
    int32_t noTextureCache;
    int32_t userCacheCount;
    wchar_t face[kStandardFaceUnits];
    int32_t size;
    int32_t thickness;
    int32_t kind;
    int32_t charSetIndex;
    int32_t edgeSize;
    int32_t italic;
    int32_t spacing;
};
extern StandardFontSettings g_fontSettings;

// The font table (slot and check number per font).
HandleTable* GetFontTable();

// ---- Layout (portable)

// Cells wider or higher than this are refused: glyph boxes and advances are kept in 16 bits.
constexpr int32_t kMaxFontCellSide = 0x7FFF;
// Cell side and cell height from the text metrics; -1 (outputs untouched) when the cell would
// exceed kMaxFontCellSide.
int32_t ComputeFontCells(int32_t maxCharWidth, int32_t textHeight, int32_t kind, int32_t edgeSize, int32_t* cellSide,
                         int32_t* cellHeight);
// Memory cache: capacity, size and row bytes for the record's cell side (1 to
// kMaxFontCellSide) and kind. Returns the bytes the cache block needs; the block itself is not
// allocated.
int64_t SizeMemoryGlyphCache(FontRecord* font, int32_t userCacheCount);
// Texture cache sides, capacity and cells per column for a cell side (1 to
// kMaxFontCellSide); laid out column by column with that many cells a column, every cell
// with its one-pixel border lies inside the texture.
void SizeTextureGlyphCache(int32_t cellSide, int32_t userCacheCount, int32_t* width, int32_t* height, int32_t* capacity,
                           int32_t* cellsPerColumn);
// One block for the two lists of a text of units code units (listed, to render), each units
// entries long; null when it cannot be had, a size beyond the allocator's range included.
GlyphListEntry* AllocGlyphLists(int32_t units);
// Empties the map and the entries of a record; entry i owns cell i.
void ResetGlyphCache(FontRecord* font);
// The entry at the ring head made ready for a new glyph: its old unit is forgotten and its
// cell cleared.
GlyphEntry* TakeRingEntry(FontRecord* font);
// Records the entry as the unit's glyph and moves the ring head on.
void CommitRingEntry(FontRecord* font, GlyphEntry* entry, uint16_t unit);

// Writes a glyph outline into the entry's memory cell: bits is GDI's 1-bit (kinds 0, 1) or
// 17-level (kinds 2, 3) bitmap of width x height with rows of pitch bytes. Everything is
// clipped to the cell; the caller sets the entry's metrics.
void StoreGlyphInMemoryCell(FontRecord* font, GlyphEntry* entry, const uint8_t* bits, int32_t pitch, int32_t width,
                            int32_t height);

// A colour value of the screen's format multiplied by the draw bright colour (0x00RRGGBB),
// channel by channel.
uint32_t ApplyBrightToColor(uint32_t value, uint32_t brightRgb);

// A colour value of the screen's format, with the bright colour applied, in the colour form
// of the image it is drawn into (kinds 0 and 1; the screen's form for any other image).
uint32_t TextColorForImage(uint32_t value, uint32_t brightRgb, const MEMIMG* image);

// The same into a cell of the font's layout (cell side square, memory-cache row bytes).
void StoreGlyphInCell(const FontRecord* font, uint8_t* cell, const uint8_t* bits, int32_t pitch, int32_t width,
                      int32_t height);
// Texture cache: the top-left pixel of a cell (inside its one-pixel border). 0, or -1 for a
// cell outside the cache.
int32_t TextureCellOrigin(const FontRecord* font, uint32_t cell, int32_t* x, int32_t* y);
// Texture cache: converts a cell written by StoreGlyphInCell into the pixels of the cache
// image (and of its edge half for edge kinds): white texels whose alpha carries the glyph.
// 0, or -1 when the cell does not lie inside the image.
int32_t StoreCellInCacheImage(const FontRecord* font, uint32_t cell, const uint8_t* values);

struct GlyphDrawTarget {
    MEMIMG* image;
    PixelRect clip;  // kept inside the image as well
    uint32_t color;  // in the image's colour form
    uint32_t edgeColor;
    int32_t vertical;
};
// Draws one cached glyph with its box's top-left at (x, y) (for vertical text the turned
// box's top-left). Cache value 0 leaves the target as it is.
void DrawMemoryGlyph(const FontRecord* font, const GlyphEntry* entry, const GlyphDrawTarget& t, int32_t x, int32_t y);

// ---- Fonts, their glyph caches and text drawing (portable; the system's calls go through
// font_os.h)

int32_t RecreateAllFonts();
void DestroyAllFonts();
// The font state of a fresh process: every font destroyed, the standard font's settings as
// they start out. The font system's start and end, and the test fixtures, use it. What a
// screen-mode change keeps of the standard font (RememberStandardFont) is left alone.
void ResetFontState();
FontRecord* GetFontRecord(int32_t font);
int32_t IsFontHandleValid(int32_t font);
int32_t WatchFontDeletion(int32_t handle, int32_t* flag);

int32_t ClearGlyphCache(int32_t handle);
int32_t RebuildGlyphCacheGraph(int32_t handle);
GlyphEntry* RenderGlyphsToCache(int32_t handle, int32_t count, const GlyphListEntry* list);
// Lists the text's code units (surrogate pairs skipped) and renders those not cached yet,
// at most a cache's capacity in one batch. A list asked for stays valid until the next call
// and goes back through ReleaseGlyphList.
int32_t PrepareGlyphList(int32_t length, int32_t handle, const wchar_t* text, GlyphListEntry** listOut,
                         int32_t* countOut);
void ReleaseGlyphList(GlyphListEntry* list);

// Texture cache: the text drawn as portions of the cache graph (the graph rebuilt first when
// the device took it). 0; -1 when the graph cannot be made again.
int32_t DrawTextFromTextureCache(int32_t x, int32_t y, const wchar_t* text, uint32_t color, uint32_t edgeColor,
                                 int32_t vertical, int32_t font);
int32_t DrawTextFromMemoryCache(int32_t x, int32_t y, const wchar_t* text, uint32_t color, uint32_t edgeColor,
                                int32_t vertical, int32_t handle);
int32_t DrawTextCore(int32_t draw, int32_t x, int32_t y, int32_t scaleGiven, double scaleX, double scaleY,
                     const wchar_t* text, uint32_t color, MEMIMG* target, const PixelRect* clip, int32_t transparent,
                     int32_t handle, uint32_t edgeColor, int32_t length, int32_t vertical, int32_t size[2]);

// ---- The font system and the standard font (Windows build only)

int32_t StartFontSystem();
// Ends with ResetFontState.
int32_t EndFontSystem();
int32_t ResetFontSystem();
int32_t ApplyStandardFontSettings();
int32_t SetStandardFontSizeAndThickness(const wchar_t* face, int32_t size, int32_t thickness);

// Screen-mode change: keeps the standard font's face, size and thickness (1 when there was a
// standard font to keep, else 0), and re-creates it with them afterwards.
int32_t RememberStandardFont();
int32_t RecreateStandardFont();

// ---- The on-screen log, drawn with a font of its own before each present (Windows only)
// Prepares the log's state and font: -1 without the vertical-blank object or the window.
int32_t SetUpScreenLog();
// Makes the log's font when it is needed (again); a failed creation is tried at the next use.
int32_t CreateScreenLogFont();
// Draws the log's lines from the top of the draw target, white on black.
int32_t DrawScreenLog();
