// Keys sent through the system's input queue to the library's own window: F5 read by the
// key test on both keyboard paths with the real DirectInput, and typing carried by the
// window procedure and the pump into a key input.
#include "quarn/core/core.h"
#include "quarn/core/screen_settings.h"
#include "quarn/quarn.h"
#include "quarn/system/input_os.h"
#include "quarn/system/system.h"
#include "quarn/runtime/runtime.h"
#include "tests/system/input_fixture.h"
#include "tests/system/window_fixture.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct LiveKeyboard : ::testing::Test {
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ResetSystemState();
        UseApplicationScreenSize();
        // The pump polls the keyboard through the runtime's pass work, as after start-up.
        RegisterRuntimeWindowHandlers();
        ASSERT_NO_FATAL_FAILURE(StartWindowed(L"QuarnInputLive"));
        HWND window = QueryMainWindow();
        SetForegroundWindow(window);
        SetFocus(window);
        ShutDownInput();
        ResetInputState();
        SetDirectInputApi(nullptr);
        ASSERT_EQ(StartInput(), 0);
        ASSERT_EQ(StartCharInput(), 0);
        Pump(5);
    }
    void TearDown() override
    {
        Press(VK_F5, false);
        Pump(5);
        ShutDownInput();
        EndKeyInput();
        EndMainWindow();
        DrainQueue();
        ResetInputState();
        ClearWindowHandlers();
        ResetWindowState(nullptr);
        CoUninitialize();
    }
    static void Press(WORD virtualKey, bool down)
    {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = virtualKey;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
        SendInput(1, &input, sizeof(input));
    }
    static void Pump(int times)
    {
        for (int i = 0; i < times; ++i) {
            PumpWindowMessages();
            Sleep(2);
        }
    }
    // Runs the loop of an application (pump, then the key test) until the test gives the
    // wanted answer or half a second has passed.
    static int WaitForF5(int wanted)
    {
        int seen = -1;
        for (int i = 0; i < 50 && seen != wanted; ++i) {
            Sleep(10);
            PumpWindowMessages();
            seen = TestKeyPressed(0x3F);
        }
        return seen;
    }
    // F5 up, held, let go: each seen by the loop on the keyboard path the OS code chooses.
    static void ExpectF5UpDownUp(int32_t osCode)
    {
        const int32_t os = g_systemCapability.osCode;
        g_systemCapability.osCode = osCode;
        EXPECT_EQ(WaitForF5(0), 0);
        Press(VK_F5, true);
        EXPECT_EQ(WaitForF5(1), 1);
        Press(VK_F5, false);
        EXPECT_EQ(WaitForF5(0), 0);
        g_systemCapability.osCode = os;
    }
};

TEST_F(LiveKeyboard, F5SeenThroughDirectInput)
{
    EXPECT_EQ(g_input.directInput8, 0);
    ASSERT_NE(g_input.keyboard, nullptr);
    ExpectF5UpDownUp(kOsWinXP);
}

// The real calls, except that DirectInput 7 cannot be created.
HRESULT CreateOnlyVersion8(int version, void** object)
{
    *object = nullptr;
    return version == 8 ? RealDirectInputApi()->createObject(version, object) : REGDB_E_CLASSNOTREG;
}

TEST_F(LiveKeyboard, F5SeenThroughDirectInput8)
{
    ShutDownInput();
    DirectInputApi only8 = *RealDirectInputApi();
    only8.createObject = CreateOnlyVersion8;
    SetDirectInputApi(&only8);
    ASSERT_EQ(StartInput(), 0);
    EXPECT_EQ(g_input.directInput8, 1);
    ASSERT_NE(g_input.keyboard, nullptr);
    ExpectF5UpDownUp(kOsWinXP);
    ShutDownInput();
    SetDirectInputApi(nullptr);
}

TEST_F(LiveKeyboard, F5SeenThroughGetKeyboardState) { ExpectF5UpDownUp(kOsWin10); }

TEST_F(LiveKeyboard, TypingReachesTheActiveKeyInput)
{
    const int handle = CreateKeyInput(16, 1);
    ASSERT_GE(handle, 0);
    ASSERT_EQ(ActivateKeyInput(handle), 0);
    for (WORD key : {WORD('Q'), WORD('U'), WORD(VK_LEFT), WORD(VK_BACK), WORD('A')}) {
        Press(key, true);
        Press(key, false);
    }
    Press(VK_RETURN, true);
    Press(VK_RETURN, false);
    wchar_t text[17] = {};
    for (int i = 0; i < 50 && QueryKeyInputEnd(handle) == 0; ++i) {
        Pump(1);
    }
    EXPECT_EQ(QueryKeyInputEnd(handle), 1);
    GetKeyInputText(handle, text, 17);
    EXPECT_STREQ(text, L"au");
}

}  // namespace
