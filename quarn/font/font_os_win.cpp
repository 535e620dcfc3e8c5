// The fonts' system calls through GDI.
#include <windows.h>

#include "quarn/font/font_os.h"
#include "quarn/system/system.h"

namespace {

void* CreateGdiFont(const wchar_t* face, int32_t size, int32_t thickness, int32_t italic, int32_t charSet)
{
    return CreateFontW(size, 0, 0, 0, thickness * 100, static_cast<DWORD>(italic), FALSE, FALSE,
                       static_cast<DWORD>(charSet), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                       FIXED_PITCH, face);
}

void DeleteGdiFont(void* font)
{
    if (font != nullptr) DeleteObject(static_cast<HFONT>(font));
}

// The context is a memory DC with the font selected; closing puts the stock font back first,
// so the font is never deleted while selected.
void* OpenGdiContext(void* font)
{
    HDC dc = CreateCompatibleDC(nullptr);
    if (dc == nullptr) return nullptr;
    HGDIOBJ old = SelectObject(dc, static_cast<HFONT>(font));
    if (old == nullptr || old == HGDI_ERROR) {
        DeleteDC(dc);
        return nullptr;
    }
    return dc;
}

void CloseGdiContext(void* context)
{
    HDC dc = static_cast<HDC>(context);
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    DeleteDC(dc);
}

void GdiTextMetrics(void* context, FontOsTextMetrics* out)
{
    TEXTMETRICW tm{};
    GetTextMetricsW(static_cast<HDC>(context), &tm);
    *out = FontOsTextMetrics{tm.tmMaxCharWidth, tm.tmHeight, tm.tmAscent};
}

int64_t GdiGlyphOutline(void* context, uint16_t unit, int32_t grey, FontOsGlyphMetrics* metrics, uint8_t* buffer,
                        uint32_t bytes)
{
    const MAT2 identity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    GLYPHMETRICS gm{};
    const DWORD result = GetGlyphOutlineW(static_cast<HDC>(context), unit, grey ? GGO_GRAY4_BITMAP : GGO_BITMAP, &gm,
                                          buffer != nullptr ? bytes : 0, buffer, &identity);
    if (result == GDI_ERROR) return -1;
    *metrics = FontOsGlyphMetrics{gm.gmBlackBoxX, gm.gmBlackBoxY, gm.gmptGlyphOrigin.x, gm.gmptGlyphOrigin.y,
                                  gm.gmCellIncX};
    return result;
}

const FontOsApi kGdi = {
    .createFont = CreateGdiFont,
    .deleteFont = DeleteGdiFont,
    .openContext = OpenGdiContext,
    .closeContext = CloseGdiContext,
    .textMetrics = GdiTextMetrics,
    .glyphOutline = GdiGlyphOutline,
};

}  // namespace

const FontOsApi* SystemFontOsApi() { return &kGdi; }

int32_t IsFontWindowGone() { return g_system.windowDestroyed; }
