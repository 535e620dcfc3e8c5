// Font handles over the system's fonts, filling the glyph cache from the system's glyph
// outlines, and text drawing into the software renderer's images. The system calls go through
// font_os.h.
#include <cstring>
#include <cwchar>

#include "quarn/font/font.h"
#include "quarn/font/font_os.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/render_backend.h"

namespace {
// The standard font's settings in a fresh process: none made yet, 16 pixels, thickness 6,
// plain, one-pixel edge.
constexpr StandardFontSettings kFreshFontSettings = {-1, 0, 0, {}, 16, 6, kFontPlain, 0, 1, 0, 0};
}  // namespace

StandardFontSettings g_fontSettings = kFreshFontSettings;

namespace {

const FontOsApi* s_os = nullptr;

const FontOsApi* Os() { return s_os != nullptr ? s_os : SystemFontOsApi(); }

const wchar_t kDefaultFace[] = L"ＭＳ ゴシック";

// Lists up to kStaticGlyphList units use these; longer ones an allocated block.
GlyphListEntry s_glyphList[kStaticGlyphList];
GlyphListEntry s_renderList[kStaticGlyphList];

bool IsSpaceUnit(wchar_t unit) { return unit == 0x0020 || unit == 0x3000; }

void* CreateSystemFont(const wchar_t* face, int32_t size, int32_t thickness, int32_t italic, int32_t charSet)
{
    return Os()->createFont(face, size, thickness, italic, charSet);
}

int32_t TextLength(const wchar_t* text) { return static_cast<int32_t>(std::wcslen(text)); }

// Destroys the texture cache's graphs, if any. The lost flag points into the record: it is
// detached before the graphs go.
void DropCacheGraphs(FontRecord* font)
{
    if (font->cacheGraph < 0) return;
    AttachGraphLostFlag(font->cacheGraph, nullptr);
    DestroyGraph(font->edgeGraph);
    DestroyGraph(font->cacheGraph);
    font->cacheGraph = -1;
    font->edgeGraph = -1;
}

// Frees what a record holds and the record; the record is in no slot.
void FreeFontRecord(FontRecord* font)
{
    if (font->gdiFont != nullptr) Os()->deleteFont(font->gdiFont);
    FreeTrackedMemory(font->memoryCache);
    DropCacheGraphs(font);
    FreeTrackedMemory(font->cacheImage.pixels);
    if (font->deletionFlag != nullptr) *font->deletionFlag = 1;
    FreeTrackedMemory(font);
}

// A half-built font is never named by a handle: its check number is cleared first.
int32_t DiscardHalfBuiltFont(FontRecord* font)
{
    font->check = 0;
    font->deletionFlag = nullptr;
    FreeFontRecord(font);
    return -1;
}

// The pen in whole pixels, held to the int32 range: spacing and long texts may carry it far.
int32_t PenPixels(double pen)
{
    return pen >= 2147483647.0 ? INT32_MAX : pen <= -2147483648.0 ? INT32_MIN : static_cast<int32_t>(pen);
}

// Writes a cell laid out by StoreGlyphInCell into the cache image and sends the cell (and its
// edge half) up to the cache graph.
void UploadTextureCell(const FontRecord* font, uint32_t cell, const uint8_t* values)
{
    int32_t x = 0;
    int32_t y = 0;
    if (StoreCellInCacheImage(font, cell, values) != 0 || TextureCellOrigin(font, cell, &x, &y) != 0) return;
    const int32_t halves = (font->kind & kFontEdge) != 0 ? 2 : 1;
    for (int32_t h = 0; h < halves; ++h) {
        const int32_t left = x + h * font->cacheWidth;
        const PixelRect rect{left, y, left + font->cellSide, y + font->cellSide};
        TransferImageRectToGraph(&font->cacheImage, nullptr, &rect, left, y, font->cacheGraph, 0);
    }
}

// One glyph of a texture cache onto its box on the screen, (left, top) to (right, bottom),
// tinted by the bright colour; edge kinds draw the edge half first in the edge colour.
// Across and unscaled, the glyph is the portion of the cache graph at the box's corner;
// scaled, that portion stretched over the box. Down the screen, a sub-graph of the glyph's
// rectangle is turned a quarter turn clockwise onto the box, so that glyph pixel (u, v)
// covers the box's columns from its right edge leftwards by v and its rows downwards by u:
// only the glyph's own texels can land, whatever the clip.
void DrawTextureGlyph(const FontRecord* font, const GlyphEntry* entry, double left, double top, double right,
                      double bottom, uint32_t textRgb, uint32_t edgeRgb, int32_t vertical, bool scaled)
{
    int32_t cx = 0;
    int32_t cy = 0;
    if (TextureCellOrigin(font, entry->cell, &cx, &cy) != 0) return;
    const int32_t side = font->cellSide;
    const int32_t w = entry->boxWidth < side ? entry->boxWidth : side;
    const int32_t h = entry->boxHeight < side ? entry->boxHeight : side;
    const auto l = static_cast<float>(left);
    const auto t = static_cast<float>(top);
    const auto r = static_cast<float>(right);
    const auto b = static_cast<float>(bottom);
    const bool edged = (font->kind & kFontEdge) != 0;
    for (int32_t pass = edged ? 0 : 1; pass < 2; ++pass) {
        const int32_t graph = pass == 0 ? font->edgeGraph : font->cacheGraph;
        StoreBrightRgb(pass == 0 ? edgeRgb : textRgb);
        if (!vertical && !scaled) {
            DrawGraphPortion(SaturateToInt32(static_cast<int64_t>(left)), SaturateToInt32(static_cast<int64_t>(top)),
                             cx, cy, w, h, graph, 1, 0);
            continue;
        }
        if (!vertical) {
            DrawGraphPortionStretched(l, t, r, b, cx, cy, w, h, graph, 1);
            continue;
        }
        const int32_t glyph = CreateSubGraph(cx, cy, w, h, graph);
        if (glyph < 0) continue;
        // Free corners take no half-pixel shift of their own: pixel centres sit on whole
        // coordinates, so the texel centres are moved onto them here.
        DrawGraphFourCorners(r - 0.5f, t - 0.5f, r - 0.5f, b - 0.5f, l - 0.5f, b - 0.5f, l - 0.5f, t - 0.5f, glyph, 1);
        DestroyGraph(glyph);
    }
}

// The rest of a font's creation with a texture glyph cache: the cache's sides and capacity,
// its graph and the system-memory image glyphs are written into before they go up. A cache
// that cannot be made fails the font: a memory cache could not be drawn on the device.
int32_t FinishTextureCachedFont(FontRecord* font, const FontOsTextMetrics& tm, int32_t slot, int32_t check)
{
    if (ComputeFontCells(tm.maxCharWidth, tm.height, font->kind, font->edgeSize, &font->cellSide, &font->cellHeight) !=
        0) {
        AppendLog(L"テクスチャ文字キャッシュの作成に失敗しました\n");
        return DiscardHalfBuiltFont(font);
    }
    SizeTextureGlyphCache(font->cellSide, g_fontSettings.userCacheCount, &font->cacheWidth, &font->cacheHeight,
                          &font->capacity, &font->cellsPerColumn);
    font->bitsPerPixel = font->kind == kFontPlain ? 1 : 8;
    font->bytesPerRow = (font->cellSide * font->bitsPerPixel + 7) / 8;
    font->rebuildFlag = 1;
    const int32_t handle = AddHandleRecordAt(GetFontTable(), font, slot, check);
    if (handle < 0) return DiscardHalfBuiltFont(font);
    font->check = static_cast<uint32_t>(HandleCheckOf(handle));
    if (RebuildGlyphCacheGraph(handle) != 0) {
        AppendLog(L"テクスチャ文字キャッシュの作成に失敗しました\n");
        DestroyFontHandle(handle);
        return -1;
    }
    const bool antialiased = (font->kind & kFontAntialiased) != 0;
    BaseImage& image = font->cacheImage;
    image.format = *CurrentRenderBackend()->glyphCacheFormat(antialiased ? 1 : 0);
    image.width = font->cacheWidth * ((font->kind & kFontEdge) != 0 ? 2 : 1);
    image.height = font->cacheHeight;
    image.pitch = image.width * image.format.bytesPerPixel;
    image.mipmapCount = 0;
    const int64_t bytes = int64_t{image.pitch} * image.height;
    image.pixels = bytes > 0 && bytes <= INT32_MAX
                       ? static_cast<uint8_t*>(AllocTrackedMemoryZeroed(static_cast<uint32_t>(bytes), "", 0))
                       : nullptr;
    if (image.pixels == nullptr) {
        AppendLog(L"文字キャッシュ基本イメージ用のメモリの確保に失敗しました\n");
        DestroyFontHandle(handle);
        return -1;
    }
    ResetGlyphCache(font);
    font->deletionFlag = nullptr;
    return handle;
}

}  // namespace

const FontOsApi* CurrentFontOsApi() { return Os(); }

const FontOsApi* SetFontOsApi(const FontOsApi* api)
{
    const FontOsApi* previous = Os();
    s_os = api;
    return previous;
}

// ---------------------------------------------------------------------------------------
// Font handles
// ---------------------------------------------------------------------------------------

int CreateFontToHandle(const wchar_t* face, int size, int thickness, int kind, int charSetIndex, int edgeSize,
                       int italic, int slot, int check)
{
    if (IsFontWindowGone()) return -1;
    // Imposed slots and check numbers come from callers that re-create a font in place.
    if (slot < -1 || slot >= kFontSlots || check < -1 || check >= kHandleCheckLimit) return -1;

    if (kind == -1) kind = kFontPlain;
    kind &= 3;
    if (edgeSize > 1) kind |= kFontEdge;
    if (size == -1) size = 16;
    if (thickness == -1) thickness = 6;
    if (edgeSize < 1) edgeSize = 1;
    if (charSetIndex == -1) charSetIndex = GetCharacterCodeFormat();
    if (charSetIndex < 0 || charSetIndex > 4) charSetIndex = 0;

    HandleTable* table = GetFontTable();
    if (slot != -1 && table->slots[slot].record != nullptr) return -1;
    if (table->liveCount >= kFontSlots) {
        return AppendLogFormat(L"作成できるフォントハンドル数 %d の限界を超えました", kFontSlots);
    }

    auto* font = static_cast<FontRecord*>(AllocTrackedMemoryZeroed(sizeof(FontRecord), "", 0));
    if (font == nullptr) return AppendLog(L"フォント管理用メモリ領域の確保に失敗しました\n");

    font->cacheGraph = -1;
    font->edgeGraph = -1;
    if (GetConfiguredColorBits() == 8) kind &= ~kFontAntialiased;
    font->edgeSize = edgeSize;
    font->kind = kind;
    font->size = size;
    font->thickness = thickness;
    font->italic = italic;
    font->spacing = 0;
    // On the device glyphs are drawn from a texture; on the software screen from memory.
    font->textureCache = CurrentRenderBackend()->glyphCache == kGlyphCacheTexture && !g_fontSettings.noTextureCache ? 1
                                                                                                                    : 0;
    CopyWideStringLimited(font->face, face != nullptr ? face : L"", kFontFaceUnits - 1);

    void* gdiFont = nullptr;
    if (font->face[0] != 0) {
        gdiFont = CreateSystemFont(font->face, size, thickness, italic, kFontOsCharSets[charSetIndex]);
        if (gdiFont == nullptr) gdiFont = CreateSystemFont(font->face, size, thickness, italic, kFontOsDefaultCharSet);
        if (gdiFont == nullptr) gdiFont = CreateSystemFont(font->face, size, thickness, italic, kFontOsShiftJisCharSet);
        if (gdiFont == nullptr) {
            AppendLog(L"指定のフォントの作成に失敗しました\n");
            return DiscardHalfBuiltFont(font);
        }
    } else {
        gdiFont = CreateSystemFont(kDefaultFace, size, thickness, italic, kFontOsCharSets[charSetIndex]);
        if (gdiFont == nullptr) gdiFont = CreateSystemFont(kDefaultFace, size, thickness, 0, kFontOsDefaultCharSet);
        if (gdiFont == nullptr) gdiFont = CreateSystemFont(nullptr, size, thickness, 0, kFontOsDefaultCharSet);
        if (gdiFont == nullptr) {
            AppendLog(L"フォントの作成に失敗しました\n");
            return DiscardHalfBuiltFont(font);
        }
    }
    font->gdiFont = gdiFont;

    void* context = Os()->openContext(gdiFont);
    if (context == nullptr) {
        AppendLog(L"ＤＣの取得に失敗しました\n");
        return DiscardHalfBuiltFont(font);
    }
    FontOsTextMetrics tm{};
    Os()->textMetrics(context, &tm);
    Os()->closeContext(context);

    // A cell too large for the glyph records, or a cache too large to allocate, fails as the
    // allocation would.
    if (font->textureCache) {
        return FinishTextureCachedFont(font, tm, slot, check);
    }
    int64_t cacheBytes = -1;
    if (ComputeFontCells(tm.maxCharWidth, tm.height, kind, edgeSize, &font->cellSide, &font->cellHeight) == 0) {
        cacheBytes = SizeMemoryGlyphCache(font, g_fontSettings.userCacheCount);
    }
    if (cacheBytes > 0 && cacheBytes <= INT32_MAX) {
        font->memoryCache = static_cast<uint8_t*>(AllocTrackedMemoryZeroed(static_cast<uint32_t>(cacheBytes), "", 0));
    }
    if (font->memoryCache == nullptr) {
        AppendLogFormat(L"フォントのキャッシュ用メモリの確保に失敗しました in CreateFontToHandle");
        return DiscardHalfBuiltFont(font);
    }

    const int32_t handle = AddHandleRecordAt(table, font, slot, check);
    if (handle < 0) return DiscardHalfBuiltFont(font);
    font->check = static_cast<uint32_t>(HandleCheckOf(handle));
    if (RebuildGlyphCacheGraph(handle) != 0) {
        AppendLog(L"フォント用描画スクリーンの作成に失敗しました\n");
        DestroyFontHandle(handle);
        return -1;
    }
    ResetGlyphCache(font);
    font->charSetIndex = charSetIndex;
    font->deletionFlag = nullptr;
    return handle;
}

int DestroyFontHandle(int handle)
{
    auto* font = static_cast<FontRecord*>(RemoveHandleRecord(GetFontTable(), handle));
    if (font == nullptr) return -1;
    FreeFontRecord(font);
    return 0;
}

void DestroyAllFonts()
{
    for (int32_t slot = 0; slot < kFontSlots; ++slot) DestroyFontHandle(HandleOfSlot(GetFontTable(), slot));
}

void ResetFontState()
{
    DestroyAllFonts();
    g_fontSettings = kFreshFontSettings;
}

int32_t RecreateAllFonts()
{
    for (int32_t slot = 0; slot < kFontSlots; ++slot) {
        const int32_t handle = HandleOfSlot(GetFontTable(), slot);
        const FontRecord* font = GetFontRecord(handle);
        if (font == nullptr) continue;
        wchar_t face[kFontFaceUnits];
        CopyWideString(face, font->face);
        const int32_t size = font->size, thickness = font->thickness, kind = font->kind;
        const int32_t charSet = font->charSetIndex, edge = font->edgeSize, italic = font->italic;
        const int32_t spacing = font->spacing;
        DestroyFontHandle(handle);
        const int32_t again = CreateFontToHandle(face[0] ? face : nullptr, size, thickness, kind, charSet, edge, italic,
                                                 slot, HandleCheckOf(handle));
        SetFontCharSpacing(spacing, again);
    }
    return 0;
}

int QueryFontHeight(int handle)
{
    const FontRecord* font = GetFontRecord(handle);
    return font != nullptr ? font->size : -1;
}

int GetFontFaceSizeThickness(wchar_t* face, int* size, int* thickness, int handle)
{
    const FontRecord* font = GetFontRecord(handle);
    if (font == nullptr) return -1;
    if (face != nullptr) CopyWideString(face, font->face);
    if (size != nullptr) *size = font->size;
    if (thickness != nullptr) *thickness = font->thickness;
    return 0;
}

int SetFontCharSpacing(int spacing, int handle)
{
    FontRecord* font = GetFontRecord(handle);
    if (font == nullptr) return -1;
    font->spacing = spacing;
    return 0;
}

int32_t WatchFontDeletion(int32_t handle, int32_t* flag)
{
    FontRecord* font = GetFontRecord(handle);
    if (font == nullptr) return -1;
    font->deletionFlag = flag;
    if (flag != nullptr) *flag = 0;
    return 0;
}

// ---------------------------------------------------------------------------------------
// Glyph cache
// ---------------------------------------------------------------------------------------

int32_t ClearGlyphCache(int32_t handle)
{
    FontRecord* font = GetFontRecord(handle);
    if (font == nullptr) return -1;
    ResetGlyphCache(font);
    return 0;
}

int32_t RebuildGlyphCacheGraph(int32_t handle)
{
    FontRecord* font = GetFontRecord(handle);
    if (font == nullptr) return -1;
    // Only texture caches are ever flagged: at creation, and when the device took the graph.
    if (font->rebuildFlag != 1) return 0;
    font->rebuildFlag = 0;
    const bool antialiased = (font->kind & kFontAntialiased) != 0;
    const bool edged = (font->kind & kFontEdge) != 0;
    DropCacheGraphs(font);
    const int32_t bits = GetNewGraphColorBits();
    const int32_t alphaTest = GetNewGraphAlphaTestFlag();
    const int32_t alphaChannel = GetNewGraphAlphaChannelFlag();
    SetNewGraphAlphaChannelFlag(antialiased ? 1 : 0);
    SetNewGraphAlphaTestFlag(antialiased ? 0 : 1);
    SetNewGraphColorBits(16);
    font->cacheGraph = CreateBlankGraph(font->cacheWidth * (edged ? 2 : 1), font->cacheHeight);
    if (font->cacheGraph >= 0 && edged) {
        font->edgeGraph = CreateSubGraph(font->cacheWidth, 0, font->cacheWidth, font->cacheHeight, font->cacheGraph);
    }
    SetNewGraphColorBits(bits);
    SetNewGraphAlphaTestFlag(alphaTest);
    SetNewGraphAlphaChannelFlag(alphaChannel);
    if (font->cacheGraph < 0) {
        font->cacheGraph = -1;
        return -1;
    }
    AttachGraphLostFlag(font->cacheGraph, &font->rebuildFlag);
    PaintGraphColor(font->cacheGraph, 255, 255, 255, 0);
    if (font->cacheImage.pixels != nullptr) {
        std::memset(font->cacheImage.pixels, 0,
                    static_cast<size_t>(font->cacheImage.pitch) * static_cast<size_t>(font->cacheImage.height));
    }
    ResetGlyphCache(font);
    return 0;
}

GlyphEntry* RenderGlyphsToCache(int32_t handle, int32_t count, const GlyphListEntry* list)
{
    if (g_drawSettings.drawingDisabled) return nullptr;
    FontRecord* font = GetFontRecord(handle);
    if (font == nullptr || list == nullptr || count < 1) return nullptr;

    void* context = Os()->openContext(font->gdiFont);
    if (context == nullptr) {
        FailFatally(L"テキストキャッシュサーフェスのＤＣの取得に失敗しました");
        return nullptr;
    }
    FontOsTextMetrics tm{};
    Os()->textMetrics(context, &tm);

    const int32_t grey = (font->kind & kFontAntialiased) != 0 ? 1 : 0;
    const int32_t edge = (font->kind & kFontEdge) ? font->edgeSize : 0;

    // A texture cache's glyphs are laid out in one cell of memory first, then converted into
    // the cache image and sent up to the cache graph.
    uint8_t* scratch = nullptr;
    const size_t cellBytes = static_cast<size_t>(font->cellSide) * static_cast<size_t>(font->bytesPerRow);
    if (font->textureCache) {
        scratch = static_cast<uint8_t*>(AllocTrackedMemoryZeroed(static_cast<uint32_t>(cellBytes), "", 0));
        if (scratch == nullptr) {
            Os()->closeContext(context);
            AppendLog(L"テキストキャッシュの作成に失敗しました\n");
            return nullptr;
        }
    }

    GlyphEntry* last = nullptr;
    for (int32_t i = 0; i < count; ++i) {
        const wchar_t unit = static_cast<wchar_t>(list[i].unit);
        GlyphEntry* entry = TakeRingEntry(font);
        if (scratch != nullptr) std::memset(scratch, 0, cellBytes);
        FontOsGlyphMetrics gm{};
        const int64_t bytes = Os()->glyphOutline(context, list[i].unit, grey, &gm, nullptr, 0);
        bool ok = bytes >= 0 && bytes <= INT32_MAX;
        int32_t boxWidth = 0;
        int32_t boxHeight = 0;
        if (ok && !IsSpaceUnit(unit) && bytes > 0 && gm.boxWidth > 0 && gm.boxHeight > 0 && gm.boxWidth <= INT32_MAX &&
            gm.boxHeight <= INT32_MAX) {
            const int32_t w = static_cast<int32_t>(gm.boxWidth);
            const int32_t h = static_cast<int32_t>(gm.boxHeight);
            const int32_t pitch = static_cast<int32_t>(bytes / gm.boxHeight) & ~3;
            // Rows of the returned bitmap: 4-byte aligned, one bit or one byte a pixel.
            const int64_t needed = grey ? (int64_t{w} + 3) / 4 * 4 : (int64_t{w} + 31) / 32 * 4;
            if (pitch < needed) {
                ok = false;
            } else {
                // One empty row above and below the glyph.
                auto* buffer = static_cast<uint8_t*>(
                    AllocTrackedMemoryZeroed(static_cast<uint32_t>(bytes) + 2 * static_cast<uint32_t>(pitch), "", 0));
                if (buffer == nullptr) {
                    FailFatally(L"アンチエイリアス文字取得用バッファの確保に失敗しました");
                    break;
                }
                ok = Os()->glyphOutline(context, list[i].unit, grey, &gm, buffer + pitch,
                                        static_cast<uint32_t>(bytes)) >= 0;
                if (ok) {
                    if (scratch != nullptr) {
                        StoreGlyphInCell(font, scratch, buffer + pitch, pitch, w, h);
                    } else {
                        StoreGlyphInMemoryCell(font, entry, buffer + pitch, pitch, w, h);
                    }
                    boxWidth = w;
                    boxHeight = h;
                }
                FreeTrackedMemory(buffer);
            }
        }
        if (!ok) {
            AppendLog(L"GetGlyphOutline 関数が失敗しました\n");
            last = nullptr;
            continue;
        }
        if (scratch != nullptr) UploadTextureCell(font, entry->cell, scratch);
        // Spaces and glyphs without ink keep an empty box and only advance.
        entry->xOrigin = static_cast<int16_t>(gm.originX);
        entry->topOffset = static_cast<int16_t>(tm.ascent - gm.originY);
        entry->advance = static_cast<int16_t>(gm.advance + 2 * edge);
        entry->boxWidth = static_cast<uint16_t>(boxWidth + 2 * edge);
        entry->boxHeight = static_cast<uint16_t>(boxHeight + 2 * edge);
        CommitRingEntry(font, entry, list[i].unit);
        last = entry;
    }

    Os()->closeContext(context);
    FreeTrackedMemory(scratch);
    return last;
}

void ReleaseGlyphList(GlyphListEntry* list)
{
    // Short lists live in the static buffer; longer ones in a block of their own.
    if (list != nullptr && list != s_glyphList) FreeTrackedMemory(list);
}

int32_t PrepareGlyphList(int32_t length, int32_t handle, const wchar_t* text, GlyphListEntry** listOut,
                         int32_t* countOut)
{
    FontRecord* font = GetFontRecord(handle);
    if (font == nullptr) return -1;
    int32_t n = text != nullptr ? TextLength(text) : 0;
    if (length >= 0 && length < n) n = length;

    GlyphListEntry* list = s_glyphList;
    GlyphListEntry* render = s_renderList;
    if (n > kStaticGlyphList) {
        list = AllocGlyphLists(n);
        if (list == nullptr) return AppendLog(L"文字列のグリフリスト用メモリの確保に失敗しました\n");
        render = list + n;
    }

    int32_t count = 0;
    int32_t listed = 0;
    for (int32_t i = 0; i < n; ++i) {
        const wchar_t unit = text[i];
        if (IsHighSurrogateUnit(unit)) {
            // The pair has no glyph of its own here: skipped and not counted.
            ++i;
            continue;
        }
        const uint16_t code = static_cast<uint16_t>(unit);
        list[count++] = GlyphListEntry{code, 0};
        CodeUnitSlot& slot = font->codeUnits[code];
        if (slot.state == 0 && listed < font->capacity) {
            slot.state = 1;  // listed in this call
            render[listed++] = GlyphListEntry{code, 0};
        }
    }
    for (int32_t i = 0; i < listed; ++i) font->codeUnits[render[i].unit].state = 0;
    if (listed > 0) RenderGlyphsToCache(handle, listed, render);

    if (countOut != nullptr) *countOut = count;
    if (listOut != nullptr) *listOut = list;
    else ReleaseGlyphList(list);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Text drawing
// ---------------------------------------------------------------------------------------

int32_t DrawTextCore(int32_t draw, int32_t x, int32_t y, int32_t scaleGiven, double scaleX, double scaleY,
                     const wchar_t* text, uint32_t color, MEMIMG* target, const PixelRect* clip, int32_t transparent,
                     int32_t handle, uint32_t edgeColor, int32_t length, int32_t vertical, int32_t size[2])
{
    (void)transparent;  // cache value 0 is never drawn
    if (g_drawSettings.drawingDisabled) return -1;
    FontRecord* font = GetFontRecord(handle);
    if (font == nullptr) return -1;
    if (!draw || !scaleGiven || !font->textureCache) scaleX = scaleY = 1.0;
    const double advanceScale = vertical ? scaleY : scaleX;
    // Only a texture cache draws scaled glyphs, each one a stretched or turned graph.
    const bool scaled = scaleX != 1.0 || scaleY != 1.0;

    const uint32_t bright = DrawBrightRgb(g_drawSettings);
    GlyphDrawTarget t{};
    t.image = target;
    t.clip = clip != nullptr ? *clip : PixelRect{0, 0, 0, 0};
    t.color = TextColorForImage(color, bright, target);
    t.edgeColor = TextColorForImage(edgeColor, bright, target);
    t.vertical = vertical;

    if (text == nullptr || text[0] == 0) return 0;
    const int32_t n = TextLength(text);
    if (length == -1 || length > n) length = n;

    GlyphListEntry* list = nullptr;
    int32_t count = 0;
    if (PrepareGlyphList(length, handle, text, &list, &count) != 0) return -1;

    // Texture cache: glyphs are graph portions tinted through the bright colour; the blend
    // graph and the caller's bright colour come back afterwards.
    const bool textured = draw && font->textureCache && font->cacheGraph >= 0;
    const int32_t keptBlendGraph = g_drawSettings.blendGraph;
    const int32_t keptBorderPos = g_drawSettings.blendBorderPos;
    const int32_t keptBorderRange = g_drawSettings.blendBorderRange;
    const uint32_t keptBright = g_drawSettings.brightColor;
    uint32_t textRgb = 0xFFFFFF;
    uint32_t edgeRgb = 0xFFFFFF;
    if (textured) {
        if (keptBlendGraph != -1) SelectBlendGraph(-1, 0, 0);
        // The tints are the colours already weighed by the caller's bright colour, which the
        // glyph draws replace.
        const auto rgbOf = [](uint32_t color) {
            int r = 0;
            int g = 0;
            int b = 0;
            UnpackScreenColor(color, &r, &g, &b);
            return static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b);
        };
        textRgb = rgbOf(t.color);
        edgeRgb = rgbOf(t.edgeColor);
    }
    // The glyph draws changed the blend graph and the bright colour: the caller's come back.
    const auto restoreTint = [&] {
        if (textured) {
            if (keptBlendGraph != -1) SelectBlendGraph(keptBlendGraph, keptBorderPos, keptBorderRange);
            StoreBrightRgb(keptBright & 0xFFFFFF);
        }
    };

    double pen = 0.0;
    for (int32_t i = 0; i < count; ++i) {
        const uint16_t unit = list[i].unit;
        const CodeUnitSlot& slot = font->codeUnits[unit];
        const GlyphEntry* entry = slot.state ? slot.entry : nullptr;
        if (entry == nullptr) {
            // Evicted by the glyphs listed after it: rendered again on its own.
            const GlyphListEntry one{unit, 0};
            entry = RenderGlyphsToCache(handle, 1, &one);
            if (entry == nullptr) {
                ReleaseGlyphList(list);
                restoreTint();
                return AppendLogFormat(L"テキストキャッシュの作成に失敗しました");
            }
        }
        if (textured && !IsSpaceUnit(unit) && entry->boxWidth > 0 && entry->boxHeight > 0) {
            // The unscaled box magnified about (x, y); the pen already carries the scale, and
            // unscaled glyphs start at its whole pixels.
            const double at = scaled ? pen : static_cast<double>(PenPixels(pen));
            const double boxWidth = entry->boxWidth < font->cellSide ? entry->boxWidth : font->cellSide;
            const double boxHeight = entry->boxHeight < font->cellSide ? entry->boxHeight : font->cellSide;
            if (vertical) {
                const double right = x + (static_cast<double>(font->cellHeight) - entry->topOffset) * scaleX;
                const double top = y + at + entry->xOrigin * scaleY;
                DrawTextureGlyph(font, entry, right - boxHeight * scaleX, top, right, top + boxWidth * scaleY, textRgb,
                                 edgeRgb, 1, scaled);
            } else {
                const double left = x + at + entry->xOrigin * scaleX;
                const double top = y + entry->topOffset * scaleY;
                DrawTextureGlyph(font, entry, left, top, left + boxWidth * scaleX, top + boxHeight * scaleY, textRgb,
                                 edgeRgb, 0, scaled);
            }
        } else if (draw && target != nullptr && !IsSpaceUnit(unit) && entry->boxWidth > 0 && entry->boxHeight > 0) {
            const int64_t penPixels = PenPixels(pen);
            const int32_t boxHeight = entry->boxHeight < font->cellSide ? entry->boxHeight : font->cellSide;
            if (vertical) {
                DrawMemoryGlyph(font, entry, t,
                                SaturateToInt32(int64_t{x} + font->cellHeight - entry->topOffset - boxHeight),
                                SaturateToInt32(y + penPixels + entry->xOrigin));
            } else {
                DrawMemoryGlyph(font, entry, t, SaturateToInt32(x + penPixels + entry->xOrigin),
                                SaturateToInt32(int64_t{y} + entry->topOffset));
            }
        }
        pen += (static_cast<double>(entry->advance) + font->spacing) * advanceScale;
    }

    restoreTint();
    const int32_t total = PenPixels(pen);
    if (!draw && size != nullptr) {
        size[0] = vertical ? font->cellHeight : total;
        size[1] = vertical ? total : font->cellHeight;
    }
    ReleaseGlyphList(list);
    return total;
}

int32_t DrawTextFromMemoryCache(int32_t x, int32_t y, const wchar_t* text, uint32_t color, uint32_t edgeColor,
                                int32_t vertical, int32_t handle)
{
    const FontRecord* font = GetFontRecord(handle);
    if (font == nullptr) return -1;
    PixelRect clip = g_drawSettings.clip;
    // A measured size always has the cell height on one side; a failed measure leaves both 0.
    // (The advance alone may be negative: spacing can run the pen left.)
    int32_t size[2] = {0, 0};
    DrawTextCore(0, x, y, 0, 1.0, 1.0, text, color, nullptr, &clip, 1, handle, edgeColor, -1, vertical, size);
    if (size[0] == 0 && size[1] == 0) return -1;
    MEMIMG* target = g_drawSettings.softDrawTarget;
    if (target == nullptr) return 0;

    const BlendMode mode = g_drawSettings.blendMode;
    const bool antialiased = (font->kind & kFontAntialiased) != 0;
    const MemImgBase* ts = TestMemImgValid(target) ? target->store : nullptr;
    if (ts == nullptr || ts->paletted || (ts->kind != kMemImgRgb565 && ts->kind != kMemImgXrgb32)) {
        return AppendLog(L"テキストを描画できない描画先が選ばれています\n");
    }
    if (!antialiased && (mode == kBlendModeNone || (mode == kBlendModeAlpha && g_drawSettings.blendParam == 255))) {
        DrawTextCore(1, x, y, 0, 1.0, 1.0, text, color, target, &clip, 1, handle, edgeColor, -1, vertical, nullptr);
        return 0;
    }

    // Blended or anti-aliased: the text is drawn at the work image's corner, then blitted.
    if (ts->alpha) {
        return AppendLog(L"アルファチャンネル付きの描画先にはテキストを合成できません\n");
    }
    MEMIMG* shared = antialiased ? &g_screenImages.workAlpha : &g_screenImages.work;
    if (!TestMemImgValid(shared)) {
        return AppendLog(L"テキスト描画用の作業イメージがありません\n");
    }
    PixelRect area{0, 0, size[0], size[1]};
    const PixelRect screen{0, 0, shared->width, shared->height};
    ClampRectInsideRect(&area, &screen);
    if (area.right <= 0 || area.bottom <= 0) return 0;

    // The blend image weighs the text pixel by pixel from its corner: it must cover the text.
    const MEMIMG* mask = SelectedBlendMemImg();
    if (mask != nullptr && (mask->width < area.right || mask->height < area.bottom)) {
        return AppendLog(L"ブレンド画像がテキストの描画範囲より小さいため描画できません\n");
    }

    // A graph of another depth than the screen is drawn through a work image of its own depth.
    MEMIMG own{};
    MEMIMG* work = shared;
    if (shared->store->kind != ts->kind) {
        if (CreateMemImgWithOptions(&own, area.right, area.bottom, -1, 0, ts->kind, 0, antialiased ? 1 : 0, 0,
                                    nullptr) != 0) {
            return AppendLog(L"テキスト描画用の作業イメージの作成に失敗しました\n");
        }
        work = &own;
    }
    const PixelRect keptClip = g_drawSettings.clip;
    const uint32_t keptBright = g_drawSettings.brightColor;

    g_drawSettings.clip = area;
    if (antialiased) {
        work->store->transparentColor = 0;
    } else {
        const uint32_t bright = DrawBrightRgb(g_drawSettings);
        const uint32_t text1 = TextColorForImage(color, bright, work);
        const uint32_t edge1 = TextColorForImage(edgeColor, bright, work);
        uint32_t& key = work->store->transparentColor;
        const uint32_t keyMask = work->store->kind == kMemImgRgb565 ? 0xFFFF : 0xFFFFFF;
        key &= keyMask;
        while (key == text1 || key == edge1) key = (key + 1) & keyMask;
    }
    const PixelRect fill = area;
    FillMemImgPixels(work, &fill, work->store->transparentColor);
    DrawTextCore(1, 0, 0, 0, 1.0, 1.0, text, color, work, &area, 1, handle, edgeColor, -1, vertical, nullptr);

    // Only the text's own rectangle is blitted, so that a blend image need only cover the text.
    MEMIMG drawn{};
    MakeMemImgView(&drawn, work, 0, 0, area.right, area.bottom);
    PixelRect place{x, y, SaturateToInt32(int64_t{x} + size[0]), SaturateToInt32(int64_t{y} + size[1])};
    const PixelRect kept = keptClip;
    ClampRectInsideRect(&place, &kept);
    g_drawSettings.clip = place;
    g_drawSettings.brightColor = (keptBright & 0xFF000000u) | kNoBrightColor;
    RenderMemImg(target, &drawn, x, y, 1, mask);
    ReleaseMemImgRef(&drawn);
    ReleaseMemImgRef(&own);

    g_drawSettings.clip = keptClip;
    g_drawSettings.brightColor = keptBright;
    return 0;
}

int32_t DrawTextFromTextureCache(int32_t x, int32_t y, const wchar_t* text, uint32_t color, uint32_t edgeColor,
                                 int32_t vertical, int32_t handle)
{
    const FontRecord* font = GetFontRecord(handle);
    if (font == nullptr || !font->textureCache) return 0;
    if (RebuildGlyphCacheGraph(handle) != 0) return -1;
    PixelRect clip = g_drawSettings.clip;
    DrawTextCore(1, x, y, 0, 1.0, 1.0, text, color, nullptr, &clip, 1, handle, edgeColor, -1, vertical, nullptr);
    return 0;
}

int DrawTextWithFont(int x, int y, const wchar_t* text, uint32_t color, int handle, uint32_t edgeColor, int vertical)
{
    if (text == nullptr || text[0] == 0 || g_drawSettings.drawingDisabled) return 0;
    if (!IsFontHandleValid(handle)) return AppendLog(L"フォントハンドル値が異常です\n");
    WaitForActiveWindow();
    // Masked drawing and the front screen work on the text's rectangle: from (x, y) to the
    // clip's edge along the line and the font's height (and a little) across it.
    // The glyphs are drawn inside the text's area, which is masked (and subtract emulated, for
    // the texture cache's quads) once for the whole text.
    const bool masking = g_drawSettings.maskingActive != 0;
    const bool textured = GetFontRecord(handle)->textureCache != 0;
    const bool invert = textured && g_drawSettings.blendMode == kBlendModeSubtract &&
                        CurrentRenderBackend()->subtractNeedsEmulation();
    PixelRect area{};
    if (masking || invert || g_drawSettings.drawTarget == kDrawTargetFrontScreen) {
        const PixelRect& clip = g_drawSettings.clip;
        if (x >= clip.right) return 0;
        const int64_t across = int64_t{QueryFontHeight(handle)} + 3;
        area = vertical ? PixelRect{x, y, SaturateToInt32(x + across), clip.bottom}
                        : PixelRect{x, y, clip.right, SaturateToInt32(y + across)};
    }
    const DrawAreaScope scope = OpenDrawArea(area, textured ? 1 : 0);
    const int32_t result = textured ? DrawTextFromTextureCache(x, y, text, color, edgeColor, vertical, handle)
                                    : DrawTextFromMemoryCache(x, y, text, color, edgeColor, vertical, handle);
    CloseDrawArea(scope);
    return result;
}
