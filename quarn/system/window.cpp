#include "quarn/system/system.h"

#include <mmsystem.h>
#include <shellapi.h>

#include <cwchar>

#include "quarn/core/core.h"
#include "quarn/core/screen_settings.h"
#include "quarn/system/window_layout.h"

static_assert(kSizingLeft == WMSZ_LEFT && kSizingRight == WMSZ_RIGHT && kSizingTop == WMSZ_TOP &&
                  kSizingTopLeft == WMSZ_TOPLEFT && kSizingTopRight == WMSZ_TOPRIGHT && kSizingBottom == WMSZ_BOTTOM &&
                  kSizingBottomLeft == WMSZ_BOTTOMLEFT && kSizingBottomRight == WMSZ_BOTTOMRIGHT,
              "the sizing edges are WM_SIZING's");

SystemStateRecord g_system;
int32_t g_inputServed;
int32_t g_charInputServed;

void ResetSystemState()
{
    g_system = SystemStateRecord{};
    ClearCharRing(LibraryCharRing());
    g_inputServed = 0;
    g_charInputServed = 0;
    ClearWindowHandlers();
}

namespace {
// What an application may set before start-up survives the window start; everything else
// starts at 0.
void KeepAcrossWindowStart()
{
    static SystemStateRecord kept;
    kept = g_system;
    g_system = SystemStateRecord{};
    SystemStateRecord& s = g_system;
    s.busy = kept.busy;
    // The start-up initialises COM just before the window: its shut-down must still know.
    s.comInitialised = kept.comInitialised;
    s.windowed = kept.windowed;
    s.runWhileInactive = kept.runWhileInactive;
    s.iconId = kept.iconId;
    CopyWideString(s.title, kept.title);
    CopyWideString(s.className, kept.className);
    CopyWideString(s.savedDirectory, kept.savedDirectory);
    s.mainWindow = kept.mainWindow;
    s.charSet = kept.charSet;
    s.codePage = kept.codePage;
    s.scaleX = kept.scaleX;
    s.scaleY = kept.scaleY;
    s.userWindowMode = kept.userWindowMode;
    s.fixedSize = kept.fixedSize;
    s.fixedWidth = kept.fixedWidth;
    s.fixedHeight = kept.fixedHeight;
    s.fixedPosition = kept.fixedPosition;
    s.fixedX = kept.fixedX;
    s.fixedY = kept.fixedY;
    s.totalMemoryMb = kept.totalMemoryMb;
    s.freeMemoryMb = kept.freeMemoryMb;
    s.dwmModule = kept.dwmModule;
    s.dwmEnableComposition = kept.dwmEnableComposition;
    s.menu = kept.menu;
    s.menuInUse = kept.menuInUse;
    s.menuHiddenWish = kept.menuHiddenWish;
}

void ReportMemory()
{
    double total = 0.0;
    double available = 0.0;
    using GlobalMemoryStatusExFn = BOOL(WINAPI*)(LPMEMORYSTATUSEX);
    HMODULE kernel = GetModuleHandleW(L"Kernel32.dll");
    auto statusEx = kernel != nullptr && g_systemCapability.osCode >= kOsWin2000
                        ? reinterpret_cast<GlobalMemoryStatusExFn>(
                              reinterpret_cast<void*>(GetProcAddress(kernel, "GlobalMemoryStatusEx")))
                        : nullptr;
    if (statusEx != nullptr) {
        MEMORYSTATUSEX status{};
        status.dwLength = sizeof(status);
        if (statusEx(&status)) {
            total = static_cast<double>(status.ullTotalPhys);
            available = static_cast<double>(status.ullAvailPhys);
        }
    }
    if (total == 0.0) {
        MEMORYSTATUS status{};
        status.dwLength = sizeof(status);
        GlobalMemoryStatus(&status);
        total = static_cast<double>(static_cast<uint32_t>(status.dwTotalPhys));
        available = static_cast<double>(static_cast<uint32_t>(status.dwAvailPhys));
    }
    g_system.totalMemoryMb = total / 1048576.0;
    g_system.freeMemoryMb = available / 1048576.0;
    AppendLogFormat(L"メモリ総量:%.2fMB  空きメモリ領域:%.2fMB ", g_system.totalMemoryMb, g_system.freeMemoryMb);
    wchar_t line[64];
    swprintf(line, 64, L"%.2fMB\n", g_system.freeMemoryMb);
    OutputDebugStringW(line);
}

// Counts how often each clock changes within a short while, and keeps the finer one.
void TestTimerResolution(UINT periodMin)
{
    AppendLog(L"タイマーの精度を検査します\n");
    const DWORD start = timeGetTime();
    DWORD lastMs = start;
    LARGE_INTEGER last{};
    QueryPerformanceCounter(&last);
    int32_t msChanges = 0;
    int32_t counterChanges = 0;
    while (PumpWindowMessages() == 0 && msChanges < 60 && counterChanges < 60 && timeGetTime() - start < 1000) {
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        if (now.QuadPart != last.QuadPart) {
            ++counterChanges;
            last = now;
        }
        const DWORD ms = timeGetTime();
        if (ms != lastMs) {
            ++msChanges;
            lastMs = ms;
        }
    }
    AppendLogFormat(L"精度結果 更新回数 マルチメディアタイマー：%d  パフォーマンスカウンター：%d", msChanges,
                    counterChanges);
    if (msChanges > counterChanges) {
        AppendLogFormat(L"マルチメディアタイマーを使用します タイマー分解能 : %d.00 ms ", static_cast<int>(periodMin));
        g_system.highResTimer = 0;
    } else {
        AppendLogFormat(L"パフォーマンスカウンターを使用します タイマー分解能 : %lf KHz ",
                        static_cast<double>(g_system.timerFrequency) / 1000.0);
    }
}

void ChooseCodePage()
{
    if (g_system.charSet != 0) {
        return;
    }
    const UINT oem = GetOEMCP();
    switch (oem) {
    case 932:
        g_system.charSet = 1;
        g_system.codePage = 932;
        break;
    case 949:
        g_system.charSet = 2;
        g_system.codePage = 949;
        break;
    case 950:
        g_system.charSet = 3;
        g_system.codePage = 950;
        break;
    case 936:
        g_system.charSet = 4;
        g_system.codePage = 936;
        break;
    default:
        g_system.charSet = 1;
        g_system.codePage = 0;
        break;
    }
    SetCharacterCodeFormat(CharacterCodeFormatFromCodePage(static_cast<uint32_t>(g_system.codePage)));
}

// Held from the second-instance test to the window's end. Two instances started in the same
// instant both pass a test by window class, which looks long before either window exists;
// creating a named object is one atomic step, so exactly one of them gets it first.
static HANDLE s_instanceLock = nullptr;

void ReleaseInstanceLock()
{
    if (s_instanceLock != nullptr) {
        CloseHandle(s_instanceLock);
        s_instanceLock = nullptr;
    }
}

// 1 when this process holds the lock named from the window class text, 0 when another
// instance holds it. Without a lock (the object could not be made) the class test decides.
int32_t TakeInstanceLock()
{
    wchar_t name[kClassNameUnits + 32] = L"Local\\QuarnInstance.";
    const size_t prefix = std::wcslen(name);
    size_t i = 0;
    for (; g_system.className[i] != L'\0' && prefix + i < kClassNameUnits + 31; ++i) {
        // A backslash would name a namespace.
        name[prefix + i] = g_system.className[i] == L'\\' ? L'_' : g_system.className[i];
    }
    name[prefix + i] = L'\0';
    ReleaseInstanceLock();
    SetLastError(ERROR_SUCCESS);  // a new object need not clear an older error
    HANDLE lock = CreateMutexW(nullptr, FALSE, name);
    if (lock == nullptr) {
        return 1;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(lock);
        return 0;
    }
    s_instanceLock = lock;
    return 1;
}

int32_t FailWindowStart(const wchar_t* line)
{
    ReleaseInstanceLock();
    g_system.quit = 1;
    g_system.creatingWindow = 0;
    return AppendLog(line);
}
}  // namespace

int32_t StartMainWindow()
{
    KeepAcrossWindowStart();

    if (HMODULE user = LoadLibraryW(L"user32")) {
        g_system.updateLayeredWindow = reinterpret_cast<void*>(GetProcAddress(user, "UpdateLayeredWindow"));
        FreeLibrary(user);
    }
    if (g_system.className[0] == L'\0') {
        CopyWideStringLimited(g_system.className, g_system.title[0] != L'\0' ? g_system.title : L"D123987X",
                              kClassNameUnits - 1);
    }
    g_system.instance = GetModuleHandleW(nullptr);
    g_system.mainThreadId = GetCurrentThreadId();

    ReportMemory();

    QueryDesktopMetrics(&g_system.desktopWidth, &g_system.desktopHeight, &g_system.desktopBits);

    g_system.timerFrequency = QueryCounterFrequency();
    g_system.highResTimer = g_system.timerFrequency != 0 ? 1 : 0;
    TIMECAPS caps{};
    timeGetDevCaps(&caps, sizeof(caps));
    timeBeginPeriod(caps.wPeriodMin);
    if (g_system.highResTimer) {
        TestTimerResolution(caps.wPeriodMin);
    }
    SeedRandomGenerator(static_cast<uint32_t>(ReadMillisecondClock()));

    // The screen saver stays as the user set it system-wide: while the window exists the
    // window procedure refuses to start it.
    ChooseCodePage();

    AppendLog(L"ソフトの二重起動検査... ");
    if (TakeInstanceLock() == 0 || FindWindowW(g_system.className, nullptr) != nullptr) {
        ReleaseInstanceLock();
        AppendLog(L"二重起動されています、ソフトを終了します\n");
        g_system.quit = 1;
        return -1;
    }
    AppendLog(L"二重起動はされていませんでした\n");

    g_system.creatingWindow = 1;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWindowProcedure;
    wc.hInstance = g_system.instance;
    wc.hIcon = LoadIconW(g_system.instance,
                         MAKEINTRESOURCEW(g_system.iconId != 0 ? (g_system.iconId & 0xFFFF) : 32512));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    wc.lpszClassName = g_system.className;
    AppendLog(L"ウインドウクラスを登録します... ");
    if (RegisterClassExW(&wc) == 0) {
        return FailWindowStart(L"ウインドウクラスの登録に失敗しました\n");
    }
    AppendLog(L"登録に成功しました\n");

    if (g_system.title[0] == L'\0') {
        CopyWideString(g_system.title, L"Quarn");
    }

    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    GetConfiguredScreenSize(&screenWidth, &screenHeight);
    HWND window = nullptr;
    if (g_system.windowed) {
        AppendLog(L"ウインドウモード起動用のウインドウを作成します\n");
        g_system.cursorWanted = 1;
        double scaleX = 1.0;
        double scaleY = 1.0;
        QueryWindowScaleRate(&scaleX, &scaleY);
        RECT r{0, 0, static_cast<LONG>(screenWidth * scaleX), static_cast<LONG>(screenHeight * scaleY)};
        AdjustWindowRectEx(&r, kWindowModeStyle, FALSE, kWindowModeExStyle);
        g_system.captionOffset = -r.top;
        const LONG dx = (g_system.desktopWidth - (r.right - r.left)) / 2;
        const LONG dy = (g_system.desktopHeight - (r.bottom - r.top)) / 2;
        OffsetRect(&r, dx, dy);
        window = CreateWindowExW(kWindowModeExStyle, g_system.className, g_system.title, kWindowModeStyle, r.left,
                                 r.top, r.right - r.left, r.bottom - r.top, nullptr, nullptr, g_system.instance,
                                 nullptr);
    } else {
        AppendLog(L"フルスクリーンモード用のウインドウを作成します\n");
        g_system.cursorWanted = 0;
        window = CreateWindowExW(kFullScreenExStyle, g_system.className, g_system.title, kFullScreenStyle, 0, 0,
                                 screenWidth, screenHeight, nullptr, nullptr, g_system.instance, nullptr);
    }
    if (window == nullptr) {
        UnregisterClassW(g_system.className, g_system.instance);
        return FailWindowStart(L"ウインドウの作成に失敗しました\n");
    }
    AppendLog(L"ウインドウの作成に成功しました\n");
    g_system.mainWindow = window;

    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    g_system.closePosted = 0;
    g_system.windowDestroyed = 0;
    g_system.active = 1;
    if (!g_system.windowed) {
        AppendLog(L"カーソルを不可視にしました\n");
        SetCursor(nullptr);
    }
    AppendLog(L"ＩＭＥを無効にしました\n");
    if (!(g_charInputServed && IsImeInUse())) {
        WINNLSEnableIME(window, FALSE);
    }
    if (g_system.windowed) {
        RefreshClientRect();
    }
    SetMouseCursorVisible(g_system.cursorWanted);
    g_system.ending = 0;
    BringWindowToTop(window);
    ApplyWindowSize();
    g_system.creatingWindow = 0;
    return 0;
}

int32_t BringWindowToFront(HWND window, int32_t topmost)
{
    const DWORD own = GetWindowThreadProcessId(window, nullptr);
    const DWORD foreground = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
    AttachThreadInput(own, foreground, TRUE);
    DWORD timeout = 0;
    SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, 0);
    SetForegroundWindow(window);
    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, reinterpret_cast<void*>(static_cast<uintptr_t>(timeout)), 0);
    int32_t result = AttachThreadInput(own, foreground, FALSE);
    if (topmost == 1) {
        result = SetWindowPos(g_system.mainWindow, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOREDRAW);
    }
    return result;
}

int32_t UpdateClientRectOnMove(LPARAM position)
{
    if (g_system.userWindowMode) {
        return 0;
    }
    RECT client{};
    GetClientRect(g_system.mainWindow, &client);
    const LONG x = static_cast<int16_t>(LOWORD(position));
    const LONG y = static_cast<int16_t>(HIWORD(position));
    g_system.clientRect = RECT{x, y, x + client.right - client.left, y + client.bottom - client.top};
    return 0;
}

void LogMouseClick(int32_t button)
{
    if (g_system.clickCount >= kClickLogEntries) {
        return;
    }
    int x = 0;
    int y = 0;
    QueryMousePosition(&x, &y);
    g_system.clicks[g_system.clickCount++] = MouseClick{button, x, y};
}

int32_t DrawInactiveWindowImage(HDC)
{
    // No image to show while inactive is ever chosen; only the shut-down counts as drawn.
    return g_system.ending == 1 ? 0 : -1;
}

int32_t ClearDroppedFiles()
{
    for (int32_t i = 0; i < g_system.droppedFileCount; ++i) {
        FreeTrackedMemory(g_system.droppedFiles[i]);
        g_system.droppedFiles[i] = nullptr;
    }
    g_system.droppedFileCount = 0;
    return 0;
}

namespace {
void RefreshWindowRect()
{
    if (g_system.mainWindow != nullptr) {
        GetWindowRect(g_system.mainWindow, &g_system.windowRect);
    }
}
}  // namespace

void PostCloseOnce()
{
    if (!g_system.closePosted) {
        g_system.closePosted = 1;
        PostMessageW(g_system.mainWindow, WM_CLOSE, 0, 0);
    }
}

namespace {
// The window's own part of an activation change; the rest belongs to the layers above.
void ApplyActivation(HWND window, WPARAM wParam)
{
    g_system.active = LOWORD(wParam) != 0 ? 1 : 0;
    if (WindowMessageHandler handler = FindWindowMessageHandler(WM_ACTIVATE)) {
        handler(window, WM_ACTIVATE, wParam, 0);
    }
}

void HideCursorWhileUnwanted()
{
    if (g_system.cursorShown == 0) {
        SetCursor(nullptr);
        while (ShowCursor(FALSE) >= 0) {
        }
    }
}

void HandleDisplayChange(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (WindowMessageHandler handler = FindWindowMessageHandler(WM_DISPLAYCHANGE)) {
        handler(window, WM_DISPLAYCHANGE, wParam, lParam);
    }
    if (!g_system.closePosted) {
        g_system.displayChanged = 1;
    }
}

void KeepProportionsWhileSizing(WPARAM edge, RECT* proposed)
{
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    GetConfiguredScreenSize(&screenWidth, &screenHeight);
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(g_system.mainWindow, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(g_system.mainWindow, GWL_EXSTYLE)));
    PixelRect rect{proposed->left, proposed->top, proposed->right, proposed->bottom};
    KeepClientProportions(static_cast<int32_t>(edge), frame.right - frame.left,
                          frame.bottom - frame.top + QueryToolBarHeight(), screenWidth, screenHeight, &rect,
                          &g_system.scaleX, &g_system.scaleY);
    *proposed = RECT{rect.left, rect.top, rect.right, rect.bottom};
}

void StoreDroppedFiles(HDROP drop)
{
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count && g_system.droppedFileCount < kDroppedFileLimit; ++i) {
        const UINT units = DragQueryFileW(drop, i, nullptr, 0) + 1;
        auto* name = static_cast<wchar_t*>(AllocTrackedMemory(units * sizeof(wchar_t), "", 0));
        if (name == nullptr) {
            break;
        }
        DragQueryFileW(drop, i, name, units);
        g_system.droppedFiles[g_system.droppedFileCount++] = name;
    }
    DragFinish(drop);
}

// A close, and the end of the Windows session: the window goes, and with it the pump.
void CloseMainWindow()
{
    DestroyWindow(g_system.mainWindow);
    if (g_system.ending == 0) {
        g_system.ending = 4;
    }
}
}  // namespace

LRESULT CALLBACK MainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        AppendLog(L"ウインドウが破棄されようとしています\n");
        g_system.windowDestroyed = 1;
        PostQuitMessage(0);
        g_system.quit = 1;
        AppendLog(L"ソフトを終了する準備が整いました\n");
        break;
    case WM_MOVE:
        RefreshWindowRect();
        if (g_system.windowed && !g_system.modeChanging) {
            UpdateClientRectOnMove(lParam);
        }
        break;
    case WM_SIZE:
        RefreshWindowRect();
        // A minimised window has no client area to fit.
        if (wParam != SIZE_MAXIMIZED && wParam != SIZE_MINIMIZED) {
            ApplyWindowSize();
        }
        break;
    case WM_ACTIVATE: ApplyActivation(window, wParam); break;
    case WM_ACTIVATEAPP:
        if (wParam == FALSE) {
            ApplyActivation(window, 0);
        }
        break;
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        HDC dc = BeginPaint(window, &paint);
        if (g_system.windowed) {
            g_system.painting = 1;
            if (!g_system.started) {
                FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
            } else if (WindowMessageHandler handler = FindWindowMessageHandler(WM_PAINT)) {
                handler(window, WM_PAINT, 0, reinterpret_cast<LPARAM>(&paint.rcPaint));
            }
            g_system.painting = 0;
        }
        EndPaint(window, &paint);
        return 0;
    }
    case WM_CLOSE:
        AppendLog(L"ウインドウを閉じようとしています\n");
        CloseMainWindow();
        return 0;
    case WM_ENDSESSION:
        // The session may end the process once this returns: the pump ends now, as on a
        // close, so that the program's own ending (saving what it keeps) runs at once.
        if (wParam != FALSE) {
            AppendLog(L"Windows のセッションが終了します\n");
            CloseMainWindow();
        }
        return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        LogMouseClick(message == WM_LBUTTONDOWN ? 1 : (message == WM_RBUTTONDOWN ? 2 : 4));
        HideCursorWhileUnwanted();
        break;
    case WM_SETCURSOR:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: HideCursorWhileUnwanted(); break;
    case WM_DISPLAYCHANGE: HandleDisplayChange(window, wParam, lParam); break;
    case WM_NCHITTEST:
        if (!g_system.windowed && g_screenSettings.hardwareActive && HIWORD(lParam) < 8) {
            return HTMENU;
        }
        break;
    case WM_KEYDOWN:
        if (CharInputHasRoom()) {
            if (const int32_t code = ControlCodeOfKey(static_cast<int32_t>(wParam))) {
                PushCharInput(static_cast<uint16_t>(code));
            }
        }
        break;
    case WM_CHAR: {
        const int32_t unit = CharInputUnitOfCode(static_cast<uint32_t>(wParam));
        if (unit >= 0) {
            PushCharInput(static_cast<uint16_t>(unit));
        }
        break;
    }
    case WM_IME_STARTCOMPOSITION:
    case WM_IME_ENDCOMPOSITION:
    case WM_IME_COMPOSITION:
    case WM_IME_SETCONTEXT:
    case WM_IME_NOTIFY:
        if (g_charInputServed) {
            return HandleImeMessage(window, message, wParam, lParam);
        }
        break;
    case WM_SYSCOMMAND: {
        // The low four bits of the command are the system's own.
        const WPARAM command = wParam & 0xFFF0;
        if (command == SC_MONITORPOWER || command == SC_SCREENSAVE) {
            return 1;
        }
        break;
    }
    case WM_MOUSEWHEEL: g_system.wheelCount += static_cast<int16_t>(HIWORD(wParam)) > 0 ? 1 : -1; break;
    case WM_MOVING:
        RefreshWindowRect();
        if (!g_system.windowed) {
            *reinterpret_cast<RECT*>(lParam) = g_system.windowRect;
        }
        break;
    case WM_SIZING:
        KeepProportionsWhileSizing(wParam, reinterpret_cast<RECT*>(lParam));
        RefreshWindowRect();
        break;
    case WM_DROPFILES: StoreDroppedFiles(reinterpret_cast<HDROP>(wParam)); break;
    case 0x46F: g_system.inputFlag46F = wParam == 1 ? 1 : 0; break;
    case 0x470: g_system.inputFlag470 = wParam == 1 ? 1 : 0; break;
    default:
        // MCI notifications and socket events, handled by the layers above when registered.
        if (WindowMessageHandler handler = FindWindowMessageHandler(message)) {
            return handler(window, message, wParam, lParam);
        }
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int32_t EndMainWindow()
{
    HWND window = g_system.mainWindow;
    if (window == nullptr) {
        return 0;
    }
    WINNLSEnableIME(window, TRUE);
    g_system.cursorWanted = 1;
    if (g_system.cursorShown != 1) {
        while (ShowCursor(TRUE) < 0) {
        }
        PostMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), HTCLIENT);
        g_system.cursorShown = 1;
    }
    if (g_system.menu != nullptr) {
        SetMenu(window, nullptr);
        DestroyMenu(g_system.menu);
        g_system.menu = nullptr;
        g_system.menuInUse = 0;
    }
    if (g_system.toolBar != nullptr) {
        DestroyWindow(g_system.toolBar);
        g_system.toolBar = nullptr;
    }
    if (g_system.toolBarBitmap != nullptr) {
        DeleteObject(g_system.toolBarBitmap);
        g_system.toolBarBitmap = nullptr;
    }
    if (g_system.windowRegion != nullptr) {
        // The system owns a region once it is set on a window.
        SetWindowRgn(window, nullptr, FALSE);
        g_system.windowRegion = nullptr;
    }
    if (!g_system.closePosted) {
        g_system.closePosted = 1;
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    while (PumpWindowMessages() == 0 && !g_system.windowDestroyed) {
    }
    // Once the quit flag is up the pump dispatches nothing more, so the close may still be
    // waiting: the window goes now, or its class could not be removed.
    if (!g_system.windowDestroyed && IsWindow(window)) {
        DestroyWindow(window);
    }
    UnregisterClassW(g_system.className, g_system.instance);
    ReleaseInstanceLock();
    if (g_charInputServed) {
        EndKeyInput();
    }
    ClearDroppedFiles();
    TIMECAPS caps{};
    timeGetDevCaps(&caps, sizeof(caps));
    timeEndPeriod(caps.wPeriodMin);
    DeleteLayeredPicture();
    g_system.mainWindow = nullptr;
    return 0;
}
