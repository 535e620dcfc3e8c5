#include "quarn/system/system.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/core/screen_settings.h"
#include "quarn/graphics/draw_settings.h"
#include "quarn/runtime/runtime.h"
#include "tests/core/log_capture.h"
#include "tests/system/window_fixture.h"
#include "tests/wait_scale.h"

namespace {

std::wstring g_logText;

class WindowTest : public FreshWindowTest {
protected:
    WindowTest() : FreshWindowTest(&g_logText) {}
};

std::wstring ClassOf(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring TextOf(HWND window)
{
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

TEST_F(WindowTest, ClassNameAndTitleFollowTheTitleSetBeforeStart)
{
    struct Case {
        const wchar_t* title;
        const wchar_t* className;
        const wchar_t* text;
    };
    const Case cases[] = {
        {nullptr, L"D123987X", L"Quarn"},
        {L"Vornik", L"Vornik", L"Vornik"},
    };
    for (const Case& c : cases) {
        SetUp();
        StartWindowed(c.title);
        EXPECT_EQ(ClassOf(QueryMainWindow()), c.className);
        EXPECT_EQ(TextOf(QueryMainWindow()), c.text);
        EXPECT_NE(g_logText.find(L"ソフトの二重起動検査... 二重起動はされていませんでした\n"), std::wstring::npos);
        EXPECT_NE(g_logText.find(L"ウインドウクラスを登録します... 登録に成功しました\n"), std::wstring::npos);
        EXPECT_NE(g_logText.find(L"ウインドウの作成に成功しました\n"), std::wstring::npos);
        TearDown();
        EXPECT_EQ(FindWindowW(c.className, nullptr), nullptr) << "the window end removes the window";
    }
}

TEST_F(WindowTest, WindowStartKeepsWhatWasSetBeforeItAndClearsTheRest)
{
    g_system.busy = 1;
    g_system.comInitialised = 1;
    g_system.iconId = 101;
    g_system.scaleX = 2.0;
    g_system.wheelCount = 5;
    g_system.clickCount = 3;
    g_system.quit = 1;
    StartWindowed(L"Vornik");
    EXPECT_EQ(g_system.busy, 1);
    EXPECT_EQ(g_system.comInitialised, 1) << "the shut-down would not end COM";
    EXPECT_EQ(g_system.iconId, 101);
    EXPECT_EQ(g_system.scaleX, 2.0);
    EXPECT_EQ(g_system.runWhileInactive, 1);
    EXPECT_EQ(g_system.wheelCount, 0);
    EXPECT_EQ(g_system.clickCount, 0);
    EXPECT_EQ(g_system.quit, 0);
}

TEST_F(WindowTest, WindowModeGivesAnExactClientAreaCentredOnTheDesktop)
{
    StartWindowed(L"Vornik");
    Settle();
    HWND window = QueryMainWindow();
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right - client.left, 300);
    EXPECT_EQ(client.bottom - client.top, 60);

    const LONG style = GetWindowLongW(window, GWL_STYLE);
    const LONG exStyle = GetWindowLongW(window, GWL_EXSTYLE);
    EXPECT_EQ(static_cast<DWORD>(style) & 0x80CA0000u, 0x80CA0000u);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
    EXPECT_EQ(exStyle & 0x300, 0x300);
    EXPECT_EQ(exStyle & WS_EX_TOPMOST, 0);

    RECT outer{};
    GetWindowRect(window, &outer);
    const int desktopWidth = GetSystemMetrics(SM_CXSCREEN);
    const int desktopHeight = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(outer.left, (desktopWidth - (outer.right - outer.left)) / 2);
    EXPECT_EQ(outer.top, (desktopHeight - (outer.bottom - outer.top)) / 2);

    // The stored client rectangle is the client area on the screen.
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    EXPECT_EQ(g_system.clientRect.left, origin.x);
    EXPECT_EQ(g_system.clientRect.top, origin.y);
    EXPECT_EQ(g_system.clientRect.right - g_system.clientRect.left, 300);
}

TEST_F(WindowTest, FullScreenWindowIsATopmostPopupWithoutCursor)
{
    ASSERT_EQ(StartMainWindow(), 0);
    HWND window = QueryMainWindow();
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)) & (WS_POPUP | WS_CAPTION), DWORD(WS_POPUP));
    EXPECT_NE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    RECT outer{};
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.left, 0);
    EXPECT_EQ(outer.top, 0);
    EXPECT_EQ(g_system.cursorWanted, 0);
    EXPECT_EQ(g_system.cursorShown, 0);
    EXPECT_NE(g_logText.find(L"フルスクリーンモード用のウインドウを作成します\n"), std::wstring::npos);
    EXPECT_NE(g_logText.find(L"カーソルを不可視にしました\n"), std::wstring::npos);
    EndMainWindow();
    EXPECT_EQ(g_system.cursorShown, 1) << "the window end gives the cursor back";
}

TEST_F(WindowTest, ScreenSaverSettingIsTheSameWhileAndAfterTheWindowExists)
{
    // Off first: the system's default is on, which a window that turns it on as it ends
    // would leave looking unchanged.
    BOOL original = FALSE;
    SystemParametersInfoW(SPI_GETSCREENSAVEACTIVE, 0, &original, 0);
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, 0));
    StartWindowed(nullptr);
    HWND window = QueryMainWindow();
    BOOL during = TRUE;
    SystemParametersInfoW(SPI_GETSCREENSAVEACTIVE, 0, &during, 0);
    // While the window exists the screen saver and monitor power-off are refused.
    EXPECT_EQ(SendMessageW(window, WM_SYSCOMMAND, SC_SCREENSAVE, 0), 1);
    EXPECT_EQ(SendMessageW(window, WM_SYSCOMMAND, SC_SCREENSAVE | 3, 0), 1);
    EXPECT_EQ(SendMessageW(window, WM_SYSCOMMAND, SC_MONITORPOWER | 2, 2), 1);
    EndMainWindow();
    BOOL after = TRUE;
    SystemParametersInfoW(SPI_GETSCREENSAVEACTIVE, 0, &after, 0);
    SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, original, nullptr, 0);
    EXPECT_EQ(during, FALSE) << "the setting is the user's while the window exists";
    EXPECT_EQ(after, FALSE) << "and after it";
}

// Counts the test messages that reach the window.
WNDPROC s_originalProcedure;
int s_testMessages;
LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP + 7) {
        ++s_testMessages;
    }
    return CallWindowProcW(s_originalProcedure, window, message, wParam, lParam);
}

TEST_F(WindowTest, PumpDispatchesAtMostFiveMessagesACall)
{
    StartWindowed(nullptr);
    Settle();
    HWND window = QueryMainWindow();
    s_originalProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingProcedure)));
    for (int i = 0; i < 12; ++i) {
        PostMessageW(window, WM_APP + 7, 0, 0);
    }
    std::vector<int> perCall;
    for (int call = 0; call < 4; ++call) {
        s_testMessages = 0;
        EXPECT_EQ(PumpWindowMessages(), 0);
        perCall.push_back(s_testMessages);
    }
    EXPECT_EQ(perCall, (std::vector<int>{5, 5, 2, 0}));
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(s_originalProcedure));
}

TEST_F(WindowTest, CloseEndsTheLoopForGood)
{
    StartWindowed(nullptr);
    PostMessageW(QueryMainWindow(), WM_CLOSE, 0, 0);
    int result = 0;
    for (int i = 0; i < 20 && result == 0; ++i) {
        result = PumpLibraryMessages();
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(g_system.ending, 4);
    EXPECT_EQ(g_system.windowDestroyed, 1);
    EXPECT_EQ(IsQuitRequested(), 1);
    EXPECT_EQ(PumpWindowMessages(), -1);
    EXPECT_NE(g_logText.find(L"ウインドウを閉じようとしています\n"), std::wstring::npos);
    EXPECT_NE(g_logText.find(L"ソフトを終了する準備が整いました\n"), std::wstring::npos);
}

TEST_F(WindowTest, EndOfTheSessionEndsTheLoopAsACloseDoes)
{
    StartWindowed(nullptr);
    HWND window = QueryMainWindow();
    // Asked first: the session may end; the window stays until it does.
    EXPECT_NE(SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), 0);
    EXPECT_EQ(SendMessageW(window, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF), 0);
    EXPECT_EQ(PumpLibraryMessages(), 0) << "an ending that was called off changes nothing";
    EXPECT_TRUE(IsWindow(window));

    EXPECT_EQ(SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF), 0);
    EXPECT_FALSE(IsWindow(window)) << "gone before the session ends";
    EXPECT_EQ(IsQuitRequested(), 1);
    EXPECT_EQ(PumpLibraryMessages(), -1);
    EXPECT_EQ(g_system.ending, 4);
    EXPECT_NE(g_logText.find(L"ソフトを終了する準備が整いました\n"), std::wstring::npos);
}

TEST_F(WindowTest, CloseDuringShutDownKeepsTheEndingState)
{
    StartWindowed(nullptr);
    g_system.ending = 1;
    SendMessageW(QueryMainWindow(), WM_CLOSE, 0, 0);
    EXPECT_EQ(g_system.ending, 1);
}

// What the registered timer handlers were called with.
std::vector<UINT_PTR> s_timerCalls;
void CALLBACK RecordTimer(HWND, UINT, UINT_PTR id, DWORD) { s_timerCalls.push_back(id); }
void CALLBACK RecordTimerPlus100(HWND, UINT, UINT_PTR id, DWORD) { s_timerCalls.push_back(id + 100); }
void CALLBACK IgnoreTimer(HWND, UINT, UINT_PTR, DWORD) {}

TEST_F(WindowTest, TimersReachTheHandlerOfTheirIdAndOthersAreKilled)
{
    StartWindowed(nullptr);
    HWND window = QueryMainWindow();
    s_timerCalls.clear();
    ASSERT_EQ(RegisterWindowTimerHandler(5, RecordTimer), 0);
    ASSERT_EQ(RegisterWindowTimerHandler(6, RecordTimerPlus100), 0);
    DispatchWindowTimer(window, WM_TIMER, 5, 0);
    DispatchWindowTimer(window, WM_TIMER, 6, 0);
    EXPECT_EQ(s_timerCalls, (std::vector<UINT_PTR>{5, 106}));

    // A timer without a handler stops.
    ASSERT_NE(SetTimer(window, 7, 10000, DispatchWindowTimer), 0u);
    DispatchWindowTimer(window, WM_TIMER, 7, 0);
    EXPECT_EQ(KillTimer(window, 7), FALSE) << "already killed";
    ASSERT_EQ(RegisterWindowTimerHandler(5, nullptr), 0);
    ASSERT_NE(SetTimer(window, 5, 10000, DispatchWindowTimer), 0u);
    DispatchWindowTimer(window, WM_TIMER, 5, 0);
    EXPECT_EQ(KillTimer(window, 5), FALSE) << "its handler was removed";
    EXPECT_EQ(s_timerCalls.size(), 2u);

    // A real tick goes the same way.
    ASSERT_NE(SetTimer(window, 6, 1, DispatchWindowTimer), 0u);
    for (int i = 0; i < 200 && s_timerCalls.size() < 3; ++i) {
        PumpWindowMessages();
        Sleep(1);
    }
    KillTimer(window, 6);
    EXPECT_GE(s_timerCalls.size(), 3u);
    EXPECT_EQ(s_timerCalls[2], 106u);

    for (int32_t slot = 0; slot < kWindowTimerSlots; ++slot) {
        EXPECT_EQ(RegisterWindowTimerHandler(static_cast<UINT_PTR>(200 + slot), IgnoreTimer),
                  slot < kWindowTimerSlots - 1 ? 0 : -1)
            << "one slot is taken by id 6";
    }
    ClearWindowHandlers();
}

TEST_F(WindowTest, QuitMessageEndsThePump)
{
    StartWindowed(nullptr);
    PostQuitMessage(0);
    int result = 0;
    for (int i = 0; i < 5 && result == 0; ++i) {
        result = PumpWindowMessages();
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(PumpWindowMessages(), -1);
}

TEST_F(WindowTest, PumpWithoutWindowReportsOnlyTheQuitFlag)
{
    EXPECT_EQ(PumpWindowMessages(), 0);
    g_system.quit = 1;
    EXPECT_EQ(PumpWindowMessages(), -1);
}

DWORD WINAPI WaitForActivation(void*)
{
    WaitUntilWindowActive();
    return 0;
}

TEST_F(WindowTest, WaitForActivationReturnsWhenThereIsNoWindow)
{
    SetRunWhileInactive(0);
    g_system.active = 0;
    HANDLE waiter = CreateThread(nullptr, 0, WaitForActivation, nullptr, 0, nullptr);
    ASSERT_NE(waiter, nullptr);
    EXPECT_EQ(WaitForSingleObject(waiter, scaled_wait_ms(5000)), WAIT_OBJECT_0);
    CloseHandle(waiter);
}

TEST_F(WindowTest, TypedCharactersAreFilteredIntoTheRing)
{
    StartWindowed(nullptr);
    HWND window = QueryMainWindow();
    struct Case {
        WPARAM code;
        int stored;  // -1: dropped
    };
    const Case cases[] = {
        {10, 13}, {13, 13}, {2, -1},  {0, -1},  {7, -1},  {31, -1}, {1, 1},       {3, 3},           {8, 8},
        {9, 9},   {16, 16}, {22, 22}, {24, 24}, {27, 27}, {32, 32}, {L'a', L'a'}, {0x65E5, 0x65E5},
    };
    for (const Case& c : cases) {
        SendMessageW(window, WM_CHAR, c.code, 0);
        EXPECT_EQ(PopCharInputUnit(), c.stored) << "code " << c.code;
        EXPECT_EQ(PopCharInputUnit(), -1);
    }
    // Keys without a character give their control codes.
    SendMessageW(window, WM_KEYDOWN, VK_LEFT, 0);
    SendMessageW(window, WM_KEYDOWN, VK_DELETE, 0);
    SendMessageW(window, WM_KEYDOWN, 'A', 0);
    EXPECT_EQ(PopCharInputUnit(), 0x1D);
    EXPECT_EQ(PopCharInputUnit(), 0x10);
    EXPECT_EQ(PopCharInputUnit(), -1);
}

TEST_F(WindowTest, ClipboardRoundTripCutsToTheCapacity)
{
    StartWindowed(nullptr);
    const wchar_t* text = L"日本語 text";
    ASSERT_EQ(SetClipboardText(text), 0);
    const int size = GetClipboardText(nullptr, 0);
    EXPECT_GE(size, static_cast<int>((wcslen(text) + 1) * sizeof(wchar_t)) + 1);
    wchar_t buffer[64];
    ASSERT_EQ(GetClipboardText(buffer, 64), 0);
    EXPECT_STREQ(buffer, text);
    wchar_t small[4] = {L'x', L'x', L'x', L'x'};
    ASSERT_EQ(GetClipboardText(small, 4), 0);
    EXPECT_STREQ(small, L"日本語");
    EXPECT_EQ(GetClipboardText(small, 0), -1);
    EXPECT_EQ(SetClipboardText(nullptr), -1);
}

// Opens the clipboard, says so, and keeps it open until released.
struct ClipboardHolder {
    HANDLE opened, release;
    BOOL held;
};
DWORD WINAPI HoldClipboard(void* p)
{
    auto* h = static_cast<ClipboardHolder*>(p);
    h->held = OpenClipboard(nullptr);
    SetEvent(h->opened);
    WaitForSingleObject(h->release, scaled_wait_ms(10000));
    if (h->held) CloseClipboard();
    return 0;
}

TEST_F(WindowTest, ClipboardHeldElsewhereIsRefused)
{
    StartWindowed(nullptr);
    ASSERT_EQ(SetClipboardText(L"before"), 0);
    // Another thread holds the clipboard open, as another program might.
    HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ClipboardHolder holder{opened, release, FALSE};
    HANDLE thread = CreateThread(nullptr, 0, HoldClipboard, &holder, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(opened, scaled_wait_ms(10000)), WAIT_OBJECT_0);
    ASSERT_TRUE(holder.held);
    EXPECT_EQ(SetClipboardText(L"while held"), -1);
    SetEvent(release);
    WaitForSingleObject(thread, scaled_wait_ms(10000));
    CloseHandle(thread);
    CloseHandle(opened);
    CloseHandle(release);
    wchar_t buffer[32] = {};
    ASSERT_EQ(GetClipboardText(buffer, 32), 0);
    EXPECT_STREQ(buffer, L"before") << "the refused text never reached the clipboard";
}

TEST_F(WindowTest, ClickLogKeepsTheFirst32Presses)
{
    StartWindowed(nullptr);
    HWND window = QueryMainWindow();
    const UINT presses[] = {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
    for (int i = 0; i < 40; ++i) {
        SendMessageW(window, presses[i % 3], 0, 0);
    }
    SendMessageW(window, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(g_system.clickCount, 32);
    EXPECT_EQ(g_system.clicks[0].button, 1);
    EXPECT_EQ(g_system.clicks[1].button, 2);
    EXPECT_EQ(g_system.clicks[2].button, 4);
    EXPECT_EQ(g_system.clicks[31].button, 2);
}

TEST_F(WindowTest, ActivationMessagesFollowTheirWords)
{
    StartWindowed(nullptr);
    HWND window = QueryMainWindow();
    SendMessageW(window, WM_ACTIVATEAPP, TRUE, 0);
    EXPECT_EQ(IsWindowActive(), 1) << "WM_ACTIVATEAPP TRUE changes nothing";
    SendMessageW(window, WM_ACTIVATEAPP, FALSE, 0);
    EXPECT_EQ(IsWindowActive(), 0);
    SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(IsWindowActive(), 1);
    // Running while inactive, an inactive window does not hold the pump.
    SendMessageW(window, WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_EQ(PumpWindowMessages(), 0);
}

DWORD WINAPI PumpOnOtherThread(void*) { return static_cast<DWORD>(PumpWindowMessages() + 10); }

TEST_F(WindowTest, InactiveWindowHoldsOnlyTheMainThreadUntilActivation)
{
    StartWindowed(nullptr);
    Settle();
    SetRunWhileInactive(0);
    g_system.active = 0;
    // Another thread gets one pass and its answer.
    HANDLE other = CreateThread(nullptr, 0, PumpOnOtherThread, nullptr, 0, nullptr);
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(WaitForSingleObject(other, scaled_wait_ms(5000)), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(other, &code);
    CloseHandle(other);
    EXPECT_EQ(code, 10u);
    EXPECT_EQ(IsWindowActive(), 0);
    // The main thread stays in the pump until the activation passes through it.
    PostMessageW(QueryMainWindow(), WM_ACTIVATEAPP, TRUE, 0);
    EXPECT_EQ(PumpWindowMessages(), 0);
    EXPECT_EQ(IsWindowActive(), 1);
}

TEST_F(WindowTest, WheelAndDesktopQueries)
{
    StartWindowed(nullptr);
    HWND window = QueryMainWindow();
    SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
    SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
    SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), 0);
    EXPECT_EQ(g_system.wheelCount, 1);
    int width = 0;
    int height = 0;
    int bits = 0;
    QueryDesktopMetrics(&width, &height, &bits);
    EXPECT_EQ(width, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(height, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_GT(bits, 8);
    EXPECT_EQ(IsWindowedMode(), 1);
}

TEST_F(WindowTest, SettingsBeforeStartOnlyStoreTheirValues)
{
    EXPECT_EQ(ChangeWindowMode(1), 0);
    EXPECT_EQ(ChangeWindowMode(1), 0);
    EXPECT_EQ(IsWindowedMode(), 1);
    EXPECT_EQ(QueryMainWindow(), nullptr);
    g_system.scaleX = 0.0;
    g_system.scaleY = -2.0;
    double x = 0.0;
    double y = 0.0;
    EXPECT_EQ(QueryWindowScaleRate(&x, &y), 1.0);
    EXPECT_EQ(y, 1.0);
    EXPECT_EQ(g_system.scaleX, 1.0);
    EXPECT_EQ(g_system.scaleY, 1.0);
    EXPECT_NE(g_logText.find(L"ウインドウモードフラグが立てられました\n"), std::wstring::npos);
}

TEST_F(WindowTest, CursorVisibilityChangesOnlyOnAChangedWish)
{
    StartWindowed(nullptr);
    Settle();
    SetMouseCursorVisible(0);
    EXPECT_EQ(g_system.cursorShown, 0);
    DrainQueue();
    SetMouseCursorVisible(0);
    MSG m;
    EXPECT_FALSE(PeekMessageW(&m, QueryMainWindow(), WM_SETCURSOR, WM_SETCURSOR, PM_NOREMOVE))
        << "an unchanged wish posts nothing";
    SetMouseCursorVisible(-1);
    EXPECT_TRUE(PeekMessageW(&m, QueryMainWindow(), WM_SETCURSOR, WM_SETCURSOR, PM_NOREMOVE))
        << "-1 re-applies the wish";
    SetMouseCursorVisible(1);
    EXPECT_EQ(g_system.cursorShown, 1);
}

TEST_F(WindowTest, ModeChangeAfterStartRestylesWithoutWaitingForever)
{
    StartWindowed(nullptr);
    Settle();
    HWND window = QueryMainWindow();
    // Nothing reports a display change here: the call must still come back.
    const DWORD start = GetTickCount();
    EXPECT_EQ(ChangeWindowMode(0), 0);
    EXPECT_LT(GetTickCount() - start, 10000u);
    EXPECT_EQ(IsWindowedMode(), 0);
    EXPECT_EQ(g_system.modeChanging, 0);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)) & (WS_CAPTION | WS_POPUP), DWORD(WS_POPUP));
    EXPECT_NE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);

    EXPECT_EQ(ChangeWindowMode(1), 0);
    Settle();
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)) & 0x80CA0000u, 0x80CA0000u);
    EXPECT_EQ(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 60);
}

TEST_F(WindowTest, InstanceStartingInTheSameInstantIsRefused)
{
    // Another instance that has taken its lock but has no window yet, as when two start at
    // once: its lock is named from the class text.
    const wchar_t* lockName = L"Local\\QuarnInstance.QuarnSameInstant";
    SetLastError(ERROR_SUCCESS);
    HANDLE other = CreateMutexW(nullptr, FALSE, lockName);
    ASSERT_NE(other, nullptr);
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    UseApplicationWindowSettings(L"QuarnSameInstant");
    EXPECT_EQ(StartMainWindow(), -1);
    EXPECT_EQ(QueryMainWindow(), nullptr);
    EXPECT_EQ(IsQuitRequested(), 1);
    EXPECT_NE(g_logText.find(L"ソフトの二重起動検査... 二重起動されています、ソフトを終了します\n"),
              std::wstring::npos);
    CloseHandle(other);

    // With the other gone the start goes through and holds the lock until the window ends.
    g_system.quit = 0;
    g_logText.clear();
    ASSERT_EQ(StartMainWindow(), 0);
    EXPECT_NE(g_logText.find(L"二重起動はされていませんでした\n"), std::wstring::npos);
    HANDLE held = OpenMutexW(SYNCHRONIZE, FALSE, lockName);
    EXPECT_NE(held, nullptr) << "held while the window exists";
    if (held != nullptr) CloseHandle(held);
    EndMainWindow();
    HANDLE after = OpenMutexW(SYNCHRONIZE, FALSE, lockName);
    EXPECT_EQ(after, nullptr) << "released at the window's end";
    if (after != nullptr) CloseHandle(after);
}

// The second program of the pair: started by the test below with this variable set.
constexpr wchar_t kSecondInstanceVariable[] = L"QUARN_TEST_SECOND_INSTANCE";

TEST_F(WindowTest, SecondInstanceChild)
{
    wchar_t title[64] = {};
    if (GetEnvironmentVariableW(kSecondInstanceVariable, title, 64) == 0) {
        GTEST_SKIP() << "runs only as the second program of SecondInstanceIsRefused";
    }
    ChangeWindowMode(1);
    AssignWindowTitle(title);
    EXPECT_EQ(StartMainWindow(), -1);
    EXPECT_EQ(QueryMainWindow(), nullptr);
    EXPECT_EQ(IsQuitRequested(), 1);
    EXPECT_EQ(PumpWindowMessages(), -1);
    EXPECT_NE(g_logText.find(L"ソフトの二重起動検査... 二重起動されています、ソフトを終了します\n"),
              std::wstring::npos);
    EXPECT_EQ(g_logText.find(L"ウインドウクラスを登録します"), std::wstring::npos);
}

TEST_F(WindowTest, SecondInstanceIsRefused)
{
    StartWindowed(L"QuarnTwinTest");
    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=WindowTest.SecondInstanceChild";
    SetEnvironmentVariableW(kSecondInstanceVariable, L"QuarnTwinTest");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const BOOL created = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                        &process);
    SetEnvironmentVariableW(kSecondInstanceVariable, nullptr);
    ASSERT_TRUE(created);
    // Keep serving this window while the second program looks for it.
    DWORD waited = WAIT_TIMEOUT;
    for (int i = 0; i < 3000 && waited == WAIT_TIMEOUT; ++i) {
        PumpWindowMessages();
        waited = WaitForSingleObject(process.hProcess, 10);
    }
    ASSERT_EQ(waited, WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 0u) << "the second program's checks failed";
    EXPECT_NE(QueryMainWindow(), nullptr);
    EXPECT_EQ(IsQuitRequested(), 0);
}

}  // namespace
