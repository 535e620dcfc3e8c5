// Font handles over the system's fonts, filling the glyph cache from the system's glyph
// outlines, and text drawing into the software renderer's images. The system calls go through
// font_os.h.
#include <cwchar>

#include "quarn/font/font.h"
#include "quarn/font/font_os.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/mask.h"

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

// Frees what a record holds and the record; the record is in no slot.
void FreeFontRecord(FontRecord* font)
{
    if (font->gdiFont != nullptr) Os()->deleteFont(font->gdiFont);
    FreeTrackedMemory(font->memoryCache);
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

int CreateFontToHandle(const wchar_t* face, int size, int thickness, int kind,
                           int charSetIndex, int edgeSize, int italic, int slot,
                           int check)
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
    // Fonts are drawn by the software renderer: the memory cache.
    font->textureCache = 0;
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
    int64_t cacheBytes = -1;
    if (ComputeFontCells(tm.maxCharWidth, tm.height, kind, edgeSize, &font->cellSide, &font->cellHeight) == 0) {
        cacheBytes = SizeMemoryGlyphCache(font, g_fontSettings.userCacheCount);
    }
    if (cacheBytes > 0 && cacheBytes <= INT32_MAX) {
        font->memoryCache = static_cast<uint8_t*>(
            AllocTrackedMemoryZeroed(static_cast<uint32_t>(cacheBytes), "", 0));
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
        const int32_t again = CreateFontToHandle(face[0] ? face : nullptr, size, thickness, kind, charSet,
                                                 edge, italic, slot, HandleCheckOf(handle));
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
    // Only texture caches are ever flagged; this build keeps every cache in memory.
    if (font->rebuildFlag != 1) return 0;
    return -1;
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

    GlyphEntry* last = nullptr;
    for (int32_t i = 0; i < count; ++i) {
        const wchar_t unit = static_cast<wchar_t>(list[i].unit);
        GlyphEntry* entry = TakeRingEntry(font);
        FontOsGlyphMetrics gm{};
        const int64_t bytes = Os()->glyphOutline(context, list[i].unit, grey, &gm, nullptr, 0);
        bool ok = bytes >= 0 && bytes <= INT32_MAX;
        int32_t boxWidth = 0;
        int32_t boxHeight = 0;
        if (ok && !IsSpaceUnit(unit) && bytes > 0 && gm.boxWidth > 0 && gm.boxHeight > 0 &&
            gm.boxWidth <= INT32_MAX && gm.boxHeight <= INT32_MAX) {
            const int32_t w = static_cast<int32_t>(gm.boxWidth);
            const int32_t h = static_cast<int32_t>(gm.boxHeight);
            const int32_t pitch = static_cast<int32_t>(bytes / gm.boxHeight) & ~3;
            // Rows of the returned bitmap: 4-byte aligned, one bit or one byte a pixel.
            const int64_t needed = grey ? (int64_t{w} + 3) / 4 * 4 : (int64_t{w} + 31) / 32 * 4;
            if (pitch < needed) {
                ok = false;
            } else {
                // One empty row above and below the glyph.
                auto* buffer = static_cast<uint8_t*>(AllocTrackedMemoryZeroed(
                    static_cast<uint32_t>(bytes) + 2 * static_cast<uint32_t>(pitch), "", 0));
                if (buffer == nullptr) {
                    FailFatally(L"アンチエイリアス文字取得用バッファの確保に失敗しました");
                    break;
                }
                ok = Os()->glyphOutline(context, list[i].unit, grey, &gm, buffer + pitch,
                                        static_cast<uint32_t>(bytes)) >= 0;
                if (ok) {
                    StoreGlyphInMemoryCell(font, entry, buffer + pitch, pitch, w, h);
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
                     const wchar_t* text, uint32_t color, MEMIMG* target, const PixelRect* clip,
                     int32_t transparent, int32_t handle, uint32_t edgeColor, int32_t length,
                     int32_t vertical, int32_t size[2])
{
    (void)transparent;  // cache value 0 is never drawn
    if (g_drawSettings.drawingDisabled) return -1;
    FontRecord* font = GetFontRecord(handle);
    if (font == nullptr) return -1;
    if (!draw || !scaleGiven || !font->textureCache) scaleX = scaleY = 1.0;
    const double advanceScale = vertical ? scaleY : scaleX;

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
                return AppendLogFormat(L"テキストキャッシュの作成に失敗しました");
            }
        }
        if (draw && target != nullptr && !IsSpaceUnit(unit) && entry->boxWidth > 0 && entry->boxHeight > 0) {
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

    const int32_t mode = g_drawSettings.blendMode;
    const bool antialiased = (font->kind & kFontAntialiased) != 0;
    const MemImgBase* ts = TestMemImgValid(target) ? target->store : nullptr;
    if (ts == nullptr || ts->paletted || (ts->kind != kMemImgRgb565 && ts->kind != kMemImgXrgb32)) {
        return AppendLog(L"テキストを描画できない描画先が選ばれています\n");
    }
    if (!antialiased && (mode == 0 || (mode == 1 && g_drawSettings.blendParam == 255))) {
        DrawTextCore(1, x, y, 0, 1.0, 1.0, text, color, target, &clip, 1, handle, edgeColor, -1, vertical,
                     nullptr);
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
        if (CreateMemImgWithOptions(&own, area.right, area.bottom, -1, 0, ts->kind, 0, antialiased ? 1 : 0,
                                           0, nullptr) != 0) {
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

int DrawTextWithFont(int x, int y, const wchar_t* text, uint32_t color, int handle,
                         uint32_t edgeColor, int vertical)
{
    if (text == nullptr || text[0] == 0 || g_drawSettings.drawingDisabled) return 0;
    if (!IsFontHandleValid(handle)) return AppendLog(L"フォントハンドル値が異常です\n");
    WaitForActiveWindow();
    // Masked drawing and the front screen work on the text's rectangle: from (x, y) to the
    // clip's edge along the line and the font's height (and a little) across it.
    const bool masking = g_drawSettings.maskingActive != 0;
    PixelRect area{};
    if (masking || g_drawSettings.drawTarget == kDrawTargetFrontScreen) {
        const PixelRect& clip = g_drawSettings.clip;
        if (x >= clip.right) return 0;
        const int64_t across = int64_t{QueryFontHeight(handle)} + 3;
        area = vertical ? PixelRect{x, y, SaturateToInt32(x + across), clip.bottom}
                        : PixelRect{x, y, clip.right, SaturateToInt32(y + across)};
        if (masking) {
            PrepareMaskedDrawArea(&area);
        }
    }
    const int32_t result = DrawTextFromMemoryCache(x, y, text, color, edgeColor, vertical, handle);
    if (masking) {
        CommitMaskedDrawArea(&area);
    }
    return result;
}
