// The standard font, kept in line with its settings, and the font system's start and end.
#include <windows.h>

#include <cwchar>

#include "quarn/font/font.h"
#include "quarn/graphics/graphics.h"

namespace {

// The standard font's face, size and thickness kept across a screen-mode change.
struct KeptStandardFont {
    wchar_t face[kFontFaceUnits];
    int32_t size;
    int32_t thickness;
};
KeptStandardFont s_kept;

}  // namespace

int32_t RememberStandardFont()
{
    return GetFontFaceSizeThickness(s_kept.face, &s_kept.size, &s_kept.thickness, g_fontSettings.handle) == 0 ? 1 : 0;
}

int32_t RecreateStandardFont() { return SetStandardFontSizeAndThickness(s_kept.face, s_kept.size, s_kept.thickness); }

int32_t StartFontSystem()
{
    // Fonts made before the start (a setter called early) are not leaked.
    ResetFontState();
    g_fontSettings.charSetIndex = GetCharacterCodeFormat();
    return ResetFontSystem();
}

int32_t EndFontSystem()
{
    ResetFontSystem();
    ResetFontState();
    return 0;
}

int32_t ResetFontSystem()
{
    AppendLog(L"フォントの初期化を行います\n");
    PushLogIndent();

    StandardFontSettings want = g_fontSettings;
    want.face[0] = 0;
    if (const FontRecord* font = GetFontRecord(g_fontSettings.handle)) {
        CopyWideStringLimited(want.face, font->face, kStandardFaceUnits - 1);
        want.size = font->size;
        want.thickness = font->thickness;
        want.kind = font->kind;
        want.charSetIndex = font->charSetIndex;
        want.edgeSize = font->edgeSize;
        want.italic = font->italic;
    }
    DestroyAllFonts();
    g_fontSettings.handle = CreateFontToHandle(want.face[0] ? want.face : nullptr, want.size, want.thickness, want.kind,
                                               want.charSetIndex, want.edgeSize, want.italic, -1, -1);

    PopLogIndent();
    AppendLog(L"フォントの初期化は正常に終了しました\n");
    return 0;
}

int32_t ApplyStandardFontSettings()
{
    StandardFontSettings& s = g_fontSettings;
    const FontRecord* font = GetFontRecord(s.handle);
    if (font != nullptr && std::wcscmp(font->face, s.face) == 0 && font->kind == s.kind && font->size == s.size &&
        font->thickness == s.thickness && font->charSetIndex == s.charSetIndex && font->edgeSize == s.edgeSize &&
        font->italic == s.italic) {
        return 0;
    }
    DestroyFontHandle(s.handle);
    s.handle = CreateFontToHandle(s.face[0] ? s.face : nullptr, s.size, s.thickness, s.kind, s.charSetIndex,
                                  (s.kind & kFontEdge) ? s.edgeSize : -1, s.italic, -1, -1);
    SetFontCharSpacing(s.spacing, s.handle);
    return 0;
}

int SetStandardFontSize(int size)
{
    g_fontSettings.size = size == -1 ? 16 : size;
    return ApplyStandardFontSettings();
}

int SetStandardFontThickness(int thickness)
{
    g_fontSettings.thickness = thickness == -1 ? 6 : thickness;
    return ApplyStandardFontSettings();
}

int SetStandardFontFace(const wchar_t* face, int charSetIndex)
{
    CopyWideStringLimited(g_fontSettings.face, face != nullptr ? face : L"", kStandardFaceUnits - 1);
    g_fontSettings.charSetIndex = charSetIndex == -1 ? GetCharacterCodeFormat() : charSetIndex;
    return ApplyStandardFontSettings();
}

int SetStandardFontKind(int kind)
{
    g_fontSettings.kind = kind == -1 ? kFontPlain : kind;
    return ApplyStandardFontSettings();
}

int32_t SetStandardFontSizeAndThickness(const wchar_t* face, int32_t size, int32_t thickness)
{
    (void)face;
    g_fontSettings.size = size == -1 ? 16 : size;
    g_fontSettings.thickness = thickness == -1 ? 6 : thickness;
    return ApplyStandardFontSettings();
}

int GetStandardFontHandle() { return g_fontSettings.handle; }

int DrawTextWithStandardFont(int x, int y, const wchar_t* text, uint32_t color, uint32_t edgeColor)
{
    ApplyStandardFontSettings();
    return DrawTextWithFont(x, y, text, color, g_fontSettings.handle, edgeColor, 0);
}
