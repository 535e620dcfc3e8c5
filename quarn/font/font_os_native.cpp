// The native build has no system fonts: no font can be made. Tests install tables of their own.
#if !defined(_WIN32)

#include "quarn/font/font_os.h"

namespace {

void* CreateFont(const wchar_t*, int32_t, int32_t, int32_t, int32_t) { return nullptr; }
void DeleteFont(void*) {}
void* OpenContext(void*) { return nullptr; }
void CloseContext(void*) {}
void TextMetrics(void*, FontOsTextMetrics* out) { *out = FontOsTextMetrics{}; }
int64_t GlyphOutline(void*, uint16_t, int32_t, FontOsGlyphMetrics*, uint8_t*, uint32_t) { return -1; }

const FontOsApi kNoFonts = {
    .createFont = CreateFont,
    .deleteFont = DeleteFont,
    .openContext = OpenContext,
    .closeContext = CloseContext,
    .textMetrics = TextMetrics,
    .glyphOutline = GlyphOutline,
};

}  // namespace

const FontOsApi* SystemFontOsApi() { return &kNoFonts; }

int32_t IsFontWindowGone() { return 0; }

#endif
