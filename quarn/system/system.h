// The window, its message pump and the window settings: what they offer the rest of the
// library.
#pragma once

#include <windows.h>

#include <cstdint>

#include "quarn/quarn.h"

// Exported by user32 without a prototype in the headers.
extern "C" BOOL WINAPI WINNLSEnableIME(HWND window, BOOL enable);

constexpr int32_t kClassNameUnits = 256;
constexpr int32_t kTitleUnits = 256;
constexpr int32_t kClickLogEntries = 32;
constexpr int32_t kMenuItemEntries = 512;
constexpr int32_t kMenuItemNameUnits = 128;
constexpr int32_t kToolButtonEntries = 256;
constexpr int32_t kDroppedFileLimit = 1000;

// The window's styles: a captioned, fixed-size window, or a topmost popup in full screen.
constexpr DWORD kWindowModeStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowModeExStyle = WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE;
constexpr DWORD kFullScreenStyle = WS_POPUP;
constexpr DWORD kFullScreenExStyle = WS_EX_TOPMOST;

struct MouseClick {
    int32_t button;  // 1 left, 2 right, 4 middle
    int32_t x;
    int32_t y;
};

struct MenuItemEntry {
    HMENU menu;
    uint16_t position;
    uint16_t id;
    wchar_t name[kMenuItemNameUnits];
};

struct ToolButtonEntry {
    int32_t id;
    int32_t image;
    int32_t kind;  // 3 = separator
    int32_t state;
    int32_t pressed;
};

// The library's window state. The window start clears it except for the settings an
// application makes before start-up (see KeepAcrossWindowStart in window.cpp).
struct SystemStateRecord {
    HWND mainWindow;
    HINSTANCE instance;
    DWORD mainThreadId;
    wchar_t className[kClassNameUnits];
    wchar_t title[kTitleUnits];
    wchar_t savedDirectory[MAX_PATH];
    int32_t iconId;
    int32_t windowed;
    int32_t runWhileInactive;
    RECT windowRect;
    RECT clientRect;  // screen coordinates
    int32_t captionOffset;
    int32_t desktopWidth, desktopHeight, desktopBits;
    int32_t active, quit, closePosted, windowDestroyed;
    int32_t ending;  // 1 during the shut-down sequence, 4 after a WM_CLOSE outside it
    int32_t painting;
    int32_t displayChanged;
    int32_t creatingWindow;
    int32_t modeChanging;
    int32_t moviesSuspended;
    int32_t cursorWanted, cursorShown;
    int32_t wheelCount;
    int32_t clickCount;
    MouseClick clicks[kClickLogEntries];
    int32_t highResTimer;
    int64_t timerFrequency;
    int32_t comInitialised, started, busy;
    HMODULE dwmModule;
    void* dwmEnableComposition;
    void* updateLayeredWindow;
    int32_t charSet, codePage;
    double scaleX, scaleY;
    double totalMemoryMb, freeMemoryMb;
    int32_t keyInputGuard;
    // Calls of the pump that looked at the queue; the keyboard poll leaves the queue alone
    // when the count moved since its last look.
    uint32_t pumpQueuePasses;
    int32_t inputFlag46F, inputFlag470;
    // Window settings.
    int32_t windowModeStyleApplied;
    int32_t userWindowMode;  // the library draws into a window of the application's
    int32_t fixedSize, fixedWidth, fixedHeight;
    int32_t fixedPosition, fixedX, fixedY;
    // Menu.
    HMENU menu;
    int32_t menuInUse;
    int32_t menuHiddenWish;
    int32_t menuAttached;
    int32_t menuMouseNear;  // full screen: the mouse is near the top edge
    int32_t menuItemCount;
    MenuItemEntry menuItems[kMenuItemEntries];
    // Tool bar.
    HWND toolBar;
    HBITMAP toolBarBitmap;
    int32_t toolButtonCount;
    ToolButtonEntry toolButtons[kToolButtonEntries];
    HRGN windowRegion;
    // Layered window: the setting (off unless an application turns it on, with WS_EX_LAYERED on
    // the window), whether the screen's own alpha is shown instead of the transparent colour
    // (0x00RRGGBB) being cut out, and the picture kept between presents.
    int32_t layeredWindow;
    int32_t layeredImageAlpha;
    uint32_t layeredTransparentColor;
    HBITMAP layeredBitmap;
    void* layeredPixels;
    int32_t layeredWidth, layeredHeight;
    // Dropped files.
    int32_t droppedFileCount;
    wchar_t* droppedFiles[kDroppedFileLimit];
};
extern SystemStateRecord g_system;

// The window's state of a fresh process: the record cleared (the settings made before start-up
// included), the character ring empty, input and character input not served, no handlers
// registered. Test fixtures start and end with it. The library's end does not: what the
// application set before start-up holds for the next start, and the window's start clears
// everything else itself.
void ResetSystemState();

// ---- Handlers of the layers above the window
// The window messages that belong to other parts of the library (paint, activation, display
// change, socket and MCI messages) and the pump's per-pass work reach those parts through this
// one registry, which the runtime fills at start-up. A message without a handler gets only the
// window's own handling; a pump without work only dispatches messages.
using WindowMessageHandler = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
constexpr int32_t kWindowHandlerSlots = 16;
// Sets (or with null removes) the message's handler. 0, or -1 when every slot is taken.
int32_t RegisterWindowMessageHandler(UINT message, WindowMessageHandler handler);
// The message's handler, or null.
WindowMessageHandler FindWindowMessageHandler(UINT message);
// The window timers of the layers above: a timer set with DispatchWindowTimer as its procedure
// runs the handler registered for its id; one without a handler is killed.
constexpr int32_t kWindowTimerSlots = 4;
// Sets (or with null removes) the timer id's handler. 0, or -1 when every slot is taken.
int32_t RegisterWindowTimerHandler(UINT_PTR id, TIMERPROC handler);
void CALLBACK DispatchWindowTimer(HWND window, UINT message, UINT_PTR id, DWORD time);
// The pump's work at every return, and in each round it waits while the window is inactive.
void RegisterPumpWork(void (*pass)(), void (*inactiveRound)());
// Empties the registry.
void ClearWindowHandlers();
// The registered pump work, when there is any.
void RunPumpPass();
void RunPumpInactiveRound();

// Set when input, and character input, first start: from then on the window and the pump
// serve them. Never cleared while the process runs (tests clear them between cases).
extern int32_t g_inputServed;
extern int32_t g_charInputServed;

// ---- Input and character input: the character ring, key codes, keyboard, mouse, joypads,
// the IME and key-input handles.
#include "quarn/system/charinput.h"
#include "quarn/system/keymap.h"
#include "quarn/system/input.h"

// ---- Main window
int32_t StartMainWindow();
LRESULT CALLBACK MainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int32_t EndMainWindow();
int32_t BringWindowToFront(HWND window, int32_t topmost);
int32_t UpdateClientRectOnMove(LPARAM position);
void LogMouseClick(int32_t button);
int32_t DrawInactiveWindowImage(HDC dc);
// Posts WM_CLOSE to the main window unless it was posted already.
void PostCloseOnce();
int32_t ClearDroppedFiles();

// ---- Pump and queries
int32_t PumpWindowMessages();
void WaitUntilWindowActive();
int32_t IsQuitRequested();
HWND QueryMainWindow();
int32_t IsWindowedMode();
int32_t IsWindowActive();
int32_t IsClosePosted();
int32_t QueryDesktopMetrics(int32_t* width, int32_t* height, int32_t* colourBits);

// ---- Window settings
// A display change may never be reported (same mode, or a driver that stays silent), so the
// wait for it after a window-mode change is bounded.
constexpr DWORD kModeChangeWaitMs = 2000;
int32_t SetWindowModeFlag(int32_t windowed);
// Stores the main window's client area in screen coordinates.
void RefreshClientRect();
int32_t ApplyWindowModeStyle();
int32_t ApplyWindowSize();
int32_t QueryDrawAreaScreenRect(int32_t rect[4]);
int32_t UpdateMenuAutoVisibility();
int32_t SetMenuHidden(int32_t hidden);
int32_t IsMenuShown();
int32_t EnumerateMenuItems(HMENU menu);
int32_t GetMenuItemInfoByPosition(HMENU menu, int32_t position, MenuItemEntry* info);
int32_t GetMenuItemNameById(int32_t id, wchar_t* dst);
int32_t FindToolButtonIndex(int32_t id);
int32_t QueryToolBarHeight();
// Shows the screen image on the layered main window: from source (a DC holding the picture)
// with the transparent colour as the key, or without one through a 32-bit picture of the
// window's size kept in layeredBitmap. 0 / -1.
struct BaseImage;
int32_t PresentToLayeredWindow(const BaseImage* screen, HDC source, int32_t useImageAlpha);
// Deletes the kept picture (the window end does).
void DeleteLayeredPicture();
int32_t DeleteAllToolButtons();
