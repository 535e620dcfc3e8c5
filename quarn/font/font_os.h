// The system calls under the fonts, kept narrow so that the font records, the glyph lists, the
// cache filling and the text drawing build and run natively too. font_os_win.cpp makes them
// through GDI; tests install a table of their own that draws made-up glyphs, so that the font
// layer's logic is tested under the sanitizers.
#pragma once

#include <cstdint>

// The character sets of the five charSetIndex values, as GDI numbers them: default,
// Shift-JIS, Hangeul, Big5, GB2312.
constexpr int32_t kFontOsDefaultCharSet = 1;
constexpr int32_t kFontOsShiftJisCharSet = 128;
constexpr int32_t kFontOsCharSets[5] = {kFontOsDefaultCharSet, kFontOsShiftJisCharSet, 129, 136, 134};

struct FontOsTextMetrics {
    int32_t maxCharWidth;
    int32_t height;
    int32_t ascent;
};

// One glyph as the system measures it: its ink box, the box's origin (x from the pen, y up
// from the base line) and the pen's step.
struct FontOsGlyphMetrics {
    uint32_t boxWidth;
    uint32_t boxHeight;
    int32_t originX;
    int32_t originY;
    int32_t advance;
};

struct FontOsApi {
    // A fixed-pitch, non-antialiased system font of the face (null: the system's choice), or
    // null when the system makes none.
    void* (*createFont)(const wchar_t* face, int32_t size, int32_t thickness, int32_t italic, int32_t charSet);
    void (*deleteFont)(void* font);
    // A drawing context with the font selected, or null when none can be had.
    void* (*openContext)(void* font);
    void (*closeContext)(void* context);
    void (*textMetrics)(void* context, FontOsTextMetrics* out);
    // The unit's outline bitmap: grey 0 gives 1 bit a pixel, grey 1 a byte a pixel of 17
    // levels (0 to 16); rows start on 4-byte boundaries. With a null buffer only the bytes
    // are told. The bytes the bitmap takes (0 without ink), or -1 when the call failed.
    int64_t (*glyphOutline)(void* context, uint16_t unit, int32_t grey, FontOsGlyphMetrics* metrics, uint8_t* buffer,
                            uint32_t bytes);
};

// The system's calls: GDI in the Windows build; in the native build a table in which no font
// can be made.
const FontOsApi* SystemFontOsApi();
// Install a table (null restores the system's calls); the previous table is returned.
const FontOsApi* SetFontOsApi(const FontOsApi* api);
const FontOsApi* CurrentFontOsApi();

// 1 once the library's window has been destroyed: no font is made then. Always 0 natively.
int32_t IsFontWindowGone();
