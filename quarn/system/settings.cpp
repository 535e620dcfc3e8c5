#include "quarn/system/system.h"

#include "quarn/core/core.h"
#include "quarn/core/screen_settings.h"
#include "quarn/image/image.h"
#include "quarn/system/window_layout.h"

// The top band of a full screen in which the menu shows itself.
constexpr int kMenuBandHeight = 60;

namespace {
void PostSetCursor()
{
    if (g_system.mainWindow != nullptr) {
        PostMessageW(g_system.mainWindow, WM_SETCURSOR, reinterpret_cast<WPARAM>(g_system.mainWindow), HTCLIENT);
    }
}
}  // namespace

int32_t SetWindowModeFlag(int32_t windowed)
{
    g_system.windowed = windowed;
    AppendLog(windowed ? L"ウインドウモードフラグが立てられました\n" : L"ウインドウモードフラグが倒されました\n");
    if (g_system.menuInUse && g_system.mainWindow != nullptr) {
        SetMenu(g_system.mainWindow, windowed ? g_system.menu : nullptr);
        g_system.menuAttached = windowed ? 1 : 0;
    }
    return 0;
}

double QueryWindowScaleRate(double* x, double* y)
{
    if (g_system.scaleX <= 0.0) {
        g_system.scaleX = 1.0;
    }
    if (g_system.scaleY <= 0.0) {
        g_system.scaleY = 1.0;
    }
    const double rx = g_system.windowed ? g_system.scaleX : 1.0;
    const double ry = g_system.windowed ? g_system.scaleY : 1.0;
    if (x != nullptr) {
        *x = rx;
    }
    if (y != nullptr) {
        *y = ry;
    }
    return rx;
}

namespace {
// The client size the screen asks for, scaled in window mode.
void WantedClientSize(LONG* width, LONG* height)
{
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    GetConfiguredScreenSize(&screenWidth, &screenHeight);
    double sx = 1.0;
    double sy = 1.0;
    QueryWindowScaleRate(&sx, &sy);
    *width = static_cast<LONG>(screenWidth * sx);
    *height = static_cast<LONG>(screenHeight * sy);
}
}  // namespace

void RefreshClientRect()
{
    RECT client{};
    GetClientRect(g_system.mainWindow, &client);
    POINT a{client.left, client.top};
    POINT b{client.right, client.bottom};
    ClientToScreen(g_system.mainWindow, &a);
    ClientToScreen(g_system.mainWindow, &b);
    g_system.clientRect = RECT{a.x, a.y, b.x, b.y};
}

int32_t ApplyWindowModeStyle()
{
    HWND window = g_system.mainWindow;
    if (window == nullptr || g_system.userWindowMode) {
        return 0;
    }
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    GetConfiguredScreenSize(&screenWidth, &screenHeight);
    if (!g_system.windowed) {
        AppendLog(L"ウインドウスタイルをフルスクリーンモード用に変更します... ");
        SetWindowLongW(window, GWL_EXSTYLE, static_cast<LONG>(kFullScreenExStyle));
        SetWindowLongW(window, GWL_STYLE, static_cast<LONG>(kFullScreenStyle));
        g_system.clientRect = RECT{0, 0, screenWidth, screenHeight};
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
        SetWindowPos(window, HWND_TOPMOST, 0, 0, screenWidth, screenHeight, SWP_NOREDRAW);
        SetMouseCursorVisible(0);
    } else {
        AppendLog(L"ウインドウスタイルをウインドウモード用に変更します... ");
        const DWORD style = kWindowModeStyle | (g_system.windowModeStyleApplied ? WS_VISIBLE : 0);
        SetWindowLongW(window, GWL_EXSTYLE, static_cast<LONG>(kWindowModeExStyle));
        SetWindowLongW(window, GWL_STYLE, static_cast<LONG>(style));
        LONG width = 0;
        LONG height = 0;
        WantedClientSize(&width, &height);
        height += QueryToolBarHeight();
        if (g_system.fixedSize) {
            width = g_system.fixedWidth;
            height = g_system.fixedHeight;
        }
        RECT r{0, 0, width, height};
        AdjustWindowRectEx(&r, style, FALSE, kWindowModeExStyle);
        const LONG w = r.right - r.left;
        const LONG h = r.bottom - r.top;
        LONG x = (g_system.desktopWidth - w) / 2;
        LONG y = (g_system.desktopHeight - h) / 2;
        if (g_system.fixedPosition) {
            x = g_system.fixedX;
            y = g_system.fixedY;
        }
        SetWindowPos(window, HWND_NOTOPMOST, x, y, w, h, SWP_FRAMECHANGED);
        SetWindowPos(window, nullptr, x, y, w, h, SWP_NOZORDER);
        RefreshClientRect();
        if (g_system.clientRect.left < 0 || g_system.clientRect.top < 0) {
            const LONG ox = g_system.clientRect.left < 0 ? -g_system.clientRect.left : 0;
            const LONG oy = g_system.clientRect.top < 0 ? -g_system.clientRect.top : 0;
            SetWindowPos(window, nullptr, x + ox, y + oy, w, h, SWP_NOZORDER);
            RefreshClientRect();
        }
        SetMouseCursorVisible(1);
    }
    AppendLog(L"完了\n");
    SetActiveWindow(window);
    PostSetCursor();
    return 0;
}

int32_t ApplyWindowSize()
{
    // Moving the window sends WM_SIZE, which comes back here.
    static bool running = false;
    HWND window = g_system.mainWindow;
    if (window == nullptr || g_system.userWindowMode || running) {
        return 0;
    }
    running = true;
    LONG width = 0;
    LONG height = 0;
    WantedClientSize(&width, &height);
    RECT outer{};
    RECT client{};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    g_system.clientRect = RECT{origin.x, origin.y, origin.x + width, origin.y + height};
    LONG newWidth = (outer.right - outer.left) - (client.right - client.left) + width;
    LONG newHeight = (outer.bottom - outer.top) - (client.bottom - client.top) + height + QueryToolBarHeight();
    if (g_system.fixedSize) {
        newWidth = newWidth < g_system.fixedWidth ? newWidth : g_system.fixedWidth;
        newHeight = newHeight < g_system.fixedHeight ? newHeight : g_system.fixedHeight;
    }
    const LONG x = g_system.fixedPosition ? g_system.fixedX : outer.left;
    const LONG y = g_system.fixedPosition ? g_system.fixedY : outer.top;
    MoveWindow(window, x, y, newWidth, newHeight, TRUE);
    if (g_system.windowed && !g_system.windowModeStyleApplied) {
        g_system.windowModeStyleApplied = 1;
        ApplyWindowModeStyle();
    }
    running = false;
    return 0;
}

int AssignWindowTitle(const wchar_t* text)
{
    CopyWideStringLimited(g_system.title, text != nullptr ? text : L"", kTitleUnits - 1);
    if (g_system.mainWindow != nullptr) {
        SetWindowTextW(g_system.mainWindow, g_system.title);
    }
    return 0;
}

int SetRunWhileInactive(int flag)
{
    g_system.runWhileInactive = flag;
    return 0;
}

int AssignWindowIcon(int id)
{
    g_system.iconId = id;
    if (g_system.mainWindow != nullptr) {
        HICON icon = LoadIconW(g_system.instance, MAKEINTRESOURCEW(id != 0 ? (id & 0xFFFF) : 32512));
        SetClassLongPtrW(g_system.mainWindow, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
    }
    return 0;
}

int SetMouseCursorVisible(int flag)
{
    if (flag != -1) {
        g_system.cursorWanted = flag;
    }
    const int32_t visible = (g_system.cursorWanted == 1 || (g_system.menuInUse && IsMenuShown())) ? 1 : 0;
    if (flag != -1 && visible == g_system.cursorShown) {
        return 0;
    }
    if (visible) {
        while (ShowCursor(TRUE) < 0) {
        }
    } else {
        while (ShowCursor(FALSE) >= 0) {
        }
    }
    PostSetCursor();
    g_system.cursorShown = visible;
    return 0;
}

int QueryMousePosition(int* x, int* y)
{
    POINT p{};
    GetCursorPos(&p);
    if (g_system.windowed) {
        double sx = 1.0;
        double sy = 1.0;
        QueryWindowScaleRate(&sx, &sy);
        p.x = static_cast<LONG>((p.x - g_system.clientRect.left) / sx);
        p.y = static_cast<LONG>((p.y - g_system.clientRect.top - QueryToolBarHeight()) / sy);
    }
    if (x != nullptr) {
        *x = p.x;
    }
    if (y != nullptr) {
        *y = p.y;
    }
    return 0;
}

int32_t QueryDrawAreaScreenRect(int32_t rect[4])
{
    const int32_t bar = QueryToolBarHeight();
    rect[0] = g_system.clientRect.left;
    rect[1] = g_system.clientRect.top + bar;
    rect[2] = g_system.clientRect.right;
    rect[3] = g_system.clientRect.bottom + bar;
    return 0;
}

int GetClipboardText(wchar_t* dst, int capacity)
{
    if (dst != nullptr && capacity < 1) {
        return -1;
    }
    if (!OpenClipboard(g_system.mainWindow)) {
        return -1;
    }
    int result = -1;
    HANDLE data = IsClipboardFormatAvailable(CF_UNICODETEXT) ? GetClipboardData(CF_UNICODETEXT) : nullptr;
    if (data != nullptr) {
        const SIZE_T bytes = GlobalSize(data);
        if (dst == nullptr) {
            result = static_cast<int>(bytes) + 1;
        } else if (const auto* text = static_cast<const wchar_t*>(GlobalLock(data))) {
            // Measured and copied under the same open, and never past the block's end.
            const SIZE_T units = bytes / sizeof(wchar_t);
            int n = 0;
            while (n < capacity - 1 && static_cast<SIZE_T>(n) < units && text[n] != L'\0') {
                dst[n] = text[n];
                ++n;
            }
            dst[n] = L'\0';
            GlobalUnlock(data);
            result = 0;
        }
    }
    CloseClipboard();
    return result;
}

int SetClipboardText(const wchar_t* text)
{
    if (text == nullptr) {
        return -1;
    }
    const SIZE_T bytes = (static_cast<SIZE_T>(CountWideUnits(text)) + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (block == nullptr) {
        return -1;
    }
    void* target = GlobalLock(block);
    if (target == nullptr) {
        GlobalFree(block);
        return -1;
    }
    CopyBytes(target, text, static_cast<uint32_t>(bytes));
    GlobalUnlock(block);
    if (!OpenClipboard(g_system.mainWindow)) {
        GlobalFree(block);
        return -1;
    }
    EmptyClipboard();
    // Once set, the block belongs to the clipboard.
    if (SetClipboardData(CF_UNICODETEXT, block) == nullptr) {
        CloseClipboard();
        GlobalFree(block);
        return -1;
    }
    CloseClipboard();
    return 0;
}

int32_t IsMenuShown()
{
    if (g_system.mainWindow == nullptr || !g_system.menuInUse || g_system.menu == nullptr) {
        return 0;
    }
    if (g_system.windowed) {
        return g_system.menuHiddenWish ? 0 : 1;
    }
    return g_system.menuMouseNear ? 1 : 0;
}

int32_t SetMenuHidden(int32_t hidden)
{
    if (!g_system.menuInUse || g_system.menu == nullptr) {
        return 0;
    }
    g_system.menuHiddenWish = hidden;
    const int32_t wanted = IsMenuShown();
    if (wanted != g_system.menuAttached && g_system.mainWindow != nullptr) {
        SetMenu(g_system.mainWindow, wanted ? g_system.menu : nullptr);
        g_system.menuAttached = wanted;
        if (g_system.windowed) {
            ApplyWindowModeStyle();
        }
        UpdateWindow(g_system.mainWindow);
    }
    return 0;
}

int32_t UpdateMenuAutoVisibility()
{
    if (g_system.windowed || !g_system.menuInUse || g_system.menu == nullptr || g_system.mainWindow == nullptr) {
        return 0;
    }
    POINT p{};
    GetCursorPos(&p);
    const bool hardware = g_screenSettings.hardwareActive != 0;
    if (hardware) {
        if (!g_system.menuAttached) {
            SetMenu(g_system.mainWindow, g_system.menu);
            g_system.menuAttached = 1;
        }
        if (p.y > kMenuBandHeight) {
            SetMouseCursorVisible(-1);
        }
        return 0;
    }
    g_system.menuMouseNear = p.y < kMenuBandHeight ? 1 : 0;
    SetMouseCursorVisible(-1);
    SetMenuHidden(g_system.menuHiddenWish);
    return 0;
}

int32_t GetMenuItemInfoByPosition(HMENU menu, int32_t position, MenuItemEntry* info)
{
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_FTYPE;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &item)) {
        return -1;
    }
    if (item.fType & MFT_SEPARATOR) {
        return 1;
    }
    wchar_t name[kMenuItemNameUnits] = {};
    item.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    item.dwTypeData = name;
    item.cch = kMenuItemNameUnits - 1;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &item)) {
        return -1;
    }
    info->menu = menu;
    info->position = static_cast<uint16_t>(position);
    info->id = static_cast<uint16_t>(item.wID);
    CopyWideStringLimited(info->name, name, kMenuItemNameUnits - 1);
    return 0;
}

int32_t EnumerateMenuItems(HMENU menu)
{
    const int count = GetMenuItemCount(menu);
    if (count < 0) {
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        MenuItemEntry entry{};
        const int32_t kind = GetMenuItemInfoByPosition(menu, i, &entry);
        if (kind < 0) {
            return -1;
        }
        if (kind == 1) {
            continue;
        }
        if (g_system.menuItemCount < kMenuItemEntries) {
            g_system.menuItems[g_system.menuItemCount++] = entry;
        }
        if (HMENU sub = GetSubMenu(menu, i)) {
            if (EnumerateMenuItems(sub) < 0) {
                return -1;
            }
        }
    }
    return 0;
}

int32_t GetMenuItemNameById(int32_t id, wchar_t* dst)
{
    for (int32_t i = 0; i < g_system.menuItemCount; ++i) {
        if (g_system.menuItems[i].id == id) {
            CopyWideString(dst, g_system.menuItems[i].name);
            return 0;
        }
    }
    return -1;
}

int32_t FindToolButtonIndex(int32_t id)
{
    for (int32_t i = 0; i < g_system.toolButtonCount; ++i) {
        if (g_system.toolButtons[i].kind != 3 && g_system.toolButtons[i].id == id) {
            return i;
        }
    }
    return -1;
}

int32_t QueryToolBarHeight()
{
    if (g_system.toolBar == nullptr) {
        return 0;
    }
    RECT r{};
    GetWindowRect(g_system.toolBar, &r);
    return r.bottom - r.top;
}

int32_t DeleteAllToolButtons()
{
    if (g_system.toolBar == nullptr) {
        return -1;
    }
    for (int32_t i = 0; i < g_system.toolButtonCount; ++i) {
        SendMessageW(g_system.toolBar, 1046 /* TB_DELETEBUTTON */, 0, 0);
    }
    g_system.toolButtonCount = 0;
    return 0;
}

// ---- Layered window

void DeleteLayeredPicture()
{
    if (g_system.layeredBitmap != nullptr) {
        DeleteObject(g_system.layeredBitmap);
    }
    g_system.layeredBitmap = nullptr;
    g_system.layeredPixels = nullptr;
    g_system.layeredWidth = 0;
    g_system.layeredHeight = 0;
}

namespace {

using UpdateLayeredWindowFunction = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*,
                                                  DWORD);

COLORREF KeyColorRef(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

// The kept picture at the given size, made anew when the size changed. 0 / -1.
int32_t KeepLayeredPicture(int32_t width, int32_t height)
{
    if (g_system.layeredBitmap != nullptr && g_system.layeredWidth == width && g_system.layeredHeight == height) {
        return 0;
    }
    DeleteLayeredPicture();
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down, as the screen image is
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (bitmap == nullptr || pixels == nullptr) {
        if (bitmap != nullptr) {
            DeleteObject(bitmap);
        }
        return -1;
    }
    g_system.layeredBitmap = bitmap;
    g_system.layeredPixels = pixels;
    g_system.layeredWidth = width;
    g_system.layeredHeight = height;
    return 0;
}

}  // namespace

int32_t PresentToLayeredWindow(const BaseImage* screen, HDC source, int32_t useImageAlpha)
{
    const auto update = reinterpret_cast<UpdateLayeredWindowFunction>(g_system.updateLayeredWindow);
    int32_t width = 0;
    int32_t height = 0;
    if (update == nullptr || g_system.mainWindow == nullptr || screen == nullptr ||
        LayeredPictureSize(screen->width, screen->height, g_system.captionOffset, &width, &height) != 0) {
        return -1;
    }
    SIZE size{width, height};
    POINT origin{0, 0};
    if (source != nullptr) {
        return update(g_system.mainWindow, nullptr, nullptr, &size, source, &origin,
                      KeyColorRef(g_system.layeredTransparentColor), nullptr, ULW_COLORKEY)
                   ? 0
                   : -1;
    }
    if (KeepLayeredPicture(width, height) != 0 ||
        FillLayeredPicture(static_cast<uint8_t*>(g_system.layeredPixels), width * 4, width, height, screen,
                           g_system.captionOffset, g_system.layeredTransparentColor, useImageAlpha) != 0) {
        return -1;
    }
    HDC memory = CreateCompatibleDC(nullptr);
    if (memory == nullptr) {
        return -1;
    }
    HGDIOBJ previous = SelectObject(memory, g_system.layeredBitmap);
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    const BOOL shown = update(g_system.mainWindow, nullptr, nullptr, &size, memory, &origin, 0, &blend, ULW_ALPHA);
    SelectObject(memory, previous);
    DeleteDC(memory);
    return shown ? 0 : -1;
}
