// The on-screen log, drawn with a font of its own before each present: text drawing, over
// whichever target is selected.
#include "quarn/font/font.h"
#include "quarn/graphics/graphics_win.h"

int32_t SetUpScreenLog()
{
    if (GetDirectDrawObject() == nullptr || g_system.mainWindow == nullptr) return -1;
    if (GetScreenLogState()->setUp) return 0;
    PrepareScreenLogState();
    CreateScreenLogFont();
    return 0;
}

int32_t CreateScreenLogFont()
{
    ScreenLogState* log = GetScreenLogState();
    if (!log->setUp && SetUpScreenLog() != 0) return 0;
    if (log->fontNeeded != 1) return 0;
    const int32_t font = CreateFontToHandle(g_fontSettings.face[0] ? g_fontSettings.face : nullptr, log->lineHeight, 4,
                                            kFontEdge, -1, -1, 0, -1, -1);
    log->fontHandle = font;
    // A failed creation is tried again at the next use.
    if (font >= 0) WatchFontDeletion(font, &log->fontNeeded);
    return 0;
}

int32_t DrawScreenLog()
{
    CreateScreenLogFont();
    const ScreenLogState* log = GetScreenLogState();
    if (!log->setUp || log->lineHeight <= 0) return 0;
    int32_t width = 0;
    int32_t height = 0;
    GetConfiguredScreenSize(&width, &height);
    int32_t lines = height / log->lineHeight;
    if (lines > kScreenLogLines) lines = kScreenLogLines;
    const uint32_t white = PackScreenColor(255, 255, 255);
    const uint32_t black = PackScreenColor(0, 0, 0);
    for (int32_t i = 0; i < lines; ++i) {
        // A full line has no terminator of its own.
        wchar_t line[kScreenLogLineUnits + 1];
        CopyWideStringLimited(line, log->lines[i], kScreenLogLineUnits);
        DrawTextWithFont(0, log->lineHeight * i, line, white, log->fontHandle, black, 0);
    }
    return 0;
}
