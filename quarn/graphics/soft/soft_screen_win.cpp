// The software screen's Windows half: its start (the display mode in full screen, the refresh
// period) and its present through GDI.
#include <windows.h>

#include <cstddef>

#include "quarn/graphics/graphics_win.h"
#include "quarn/graphics/render_backend.h"

// The present's header is handed to GDI as a BITMAPINFO with three colour masks after it.
static_assert(sizeof(ScreenDibHeader) == sizeof(BITMAPINFOHEADER) + 3 * sizeof(DWORD), "DIB header layout");
static_assert(offsetof(ScreenDibHeader, compression) == offsetof(BITMAPINFOHEADER, biCompression), "DIB header layout");
static_assert(offsetof(ScreenDibHeader, clrImportant) == offsetof(BITMAPINFOHEADER, biClrImportant),
              "DIB header layout");

int32_t StartSoftwareScreen()
{
    if (!g_system.windowed && SwitchDisplaySettings() < 0) {
        return -1;
    }
    MeasureRefreshPeriod();
    return 0;
}

int32_t PresentSoftwareScreen(const PresentRequest* request)
{
    const int32_t sw = ScreenWidth();
    const int32_t sh = ScreenHeight();
    const bool half = request->doubled != 0;
    const PixelRect given = request->area != nullptr ? *request->area : PixelRect{};
    const PixelRect mapped = request->mappedSource != nullptr ? *request->mappedSource : PixelRect{};
    const PixelRect destination = request->destination;
    MEMIMG* image = &g_screenImages.primary;
    if (!TestMemImgValid(image)) {
        return 0;
    }
    if (!g_screenSettings.noVerticalWait) {
        WaitForVerticalBlankPaced();
    }
    ScreenDibHeader header;
    BuildScreenDibHeader(&header, image);
    const BITMAPINFO* info = reinterpret_cast<const BITMAPINFO*>(&header);
    HDC dc = g_system.mainWindow != nullptr ? GetDC(g_system.mainWindow) : nullptr;
    if (dc == nullptr) {
        return 0;
    }
    const void* bits = image->pixels;
    if (half) {
        StretchDIBits(dc, 0, 0, kDefaultScreenWidth, kDefaultScreenHeight, 0, sh - 240, 320, 240, bits, info,
                      DIB_RGB_COLORS, SRCCOPY);
        g_screenSettings.lastPresent = PixelRect{0, 0, kDefaultScreenWidth, kDefaultScreenHeight};
    } else if (request->area != nullptr) {
        const DibSourceRect from = BottomUpSourceRect(mapped, sh);
        StretchDIBits(dc, given.left, given.top, given.right - given.left, given.bottom - given.top, from.x, from.y,
                      from.width, from.height, bits, info, DIB_RGB_COLORS, SRCCOPY);
    } else {
        const int32_t dw = destination.right - destination.left;
        const int32_t dh = destination.bottom - destination.top;
        // Kept where the picture went, so that repaint rectangles below a tool bar map back.
        g_screenSettings.lastPresent = destination;
        if (dw == sw && dh == sh) {
            SetDIBitsToDevice(dc, destination.left, destination.top, static_cast<DWORD>(sw), static_cast<DWORD>(sh), 0,
                              0, 0, static_cast<UINT>(sh), bits, info, DIB_RGB_COLORS);
        } else {
            StretchDIBits(dc, destination.left, destination.top, dw, dh, 0, 0, sw, sh, bits, info, DIB_RGB_COLORS,
                          SRCCOPY);
        }
    }
    ReleaseDC(g_system.mainWindow, dc);
    return 0;
}
