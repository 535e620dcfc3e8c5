// F5 sent through the system's input queue to a real window, read by the key test on both
// keyboard paths with the real DirectInput.

#include "quarn/core/core.h"
#include "quarn/quarn.h"
#include "quarn/system/input_devices.h"
#include "quarn/system/system.h"
#include "tests/system/input_fixture.h"

#include <objbase.h>

#include <gtest/gtest.h>

namespace {

struct LiveKeyboard : ::testing::Test {
    HWND window = nullptr;

    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"QuarnInputLiveTest";
        RegisterClassW(&wc);
        window = CreateWindowW(wc.lpszClassName, L"input", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                               nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(window, nullptr);
        SetForegroundWindow(window);
        SetFocus(window);
        ResetWindowState(window);
        ShutDownInput();
        g_input.noDirectInput = 0;
        SetDirectInputApi(nullptr);
        PumpWindowMessages();
    }
    void TearDown() override
    {
        SendF5(false);
        ShutDownInput();
        DestroyWindow(window);
        ResetWindowState(nullptr);
        UnregisterClassW(L"QuarnInputLiveTest", GetModuleHandleW(nullptr));
        CoUninitialize();
    }
    static void SendF5(bool down)
    {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = VK_F5;
        input.ki.wScan = 0x3F;
        input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
        SendInput(1, &input, sizeof(input));
    }
    // Polls until the key test gives the wanted answer or half a second has passed.
    static int WaitForF5(int wanted)
    {
        int seen = -1;
        for (int i = 0; i < 50 && seen != wanted; ++i) {
            Sleep(10);
            PollKeyboardFromPump();  // as the pump does
            seen = TestKeyPressed(0x3F);
        }
        return seen;
    }
};

TEST_F(LiveKeyboard, F5SeenThroughDirectInput)
{
    ASSERT_EQ(StartInput(), 0);
    ASSERT_NE(g_input.object, nullptr);
    ASSERT_NE(g_input.keyboard, nullptr);
    g_systemCapability.osCode = 0x107;
    EXPECT_EQ(WaitForF5(0), 0);
    SendF5(true);
    EXPECT_EQ(WaitForF5(1), 1);
    SendF5(false);
    EXPECT_EQ(WaitForF5(0), 0);
}

TEST_F(LiveKeyboard, F5SeenThroughGetKeyboardState)
{
    ASSERT_EQ(StartInput(), 0);
    g_systemCapability.osCode = kOsWin10;
    EXPECT_EQ(WaitForF5(0), 0);
    SendF5(true);
    EXPECT_EQ(WaitForF5(1), 1);
    SendF5(false);
    EXPECT_EQ(WaitForF5(0), 0);
}

}  // namespace
