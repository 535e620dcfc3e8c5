#include "tests/system/fake_input.h"

#include "quarn/core/core.h"
#include "quarn/quarn.h"
#include "quarn/system/system.h"
#include "tests/core/log_capture.h"
#include "tests/system/input_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::wstring g_log;

// Each test starts with input ended, the log captured and its own stand-in devices.
struct InputTest : ::testing::Test {
    FakeDirectInput* fake = nullptr;

    void SetUp() override
    {
        ShutDownInput();
        ResetInputState();
        ResetWindowState(nullptr);
        g_systemCapability.osCode = kOsWinXP;
        CaptureLogInto(&g_log);
        fake = InstallFakeDirectInput();
        SetJoystickApi(&kFakeJoystickApi);
        for (FakeJoystick& joystick : g_fakeJoysticks) {
            joystick = FakeJoystick{};
        }
    }
    void TearDown() override
    {
        ShutDownInput();
        ResetInputState();
        RemoveFakeDirectInput();
        SetJoystickApi(nullptr);
        SetLogCapture(nullptr, nullptr);
    }
    bool Logged(const wchar_t* text) const { return g_log.find(text) != std::wstring::npos; }
    static void SetThreadKeys(std::initializer_list<int> downVirtualKeys)
    {
        BYTE state[256] = {};
        for (int vk : downVirtualKeys) {
            state[vk] = 0x80;
        }
        SetKeyboardState(state);
    }
};

TEST_F(InputTest, DirectInput7SetsUpMouseKeyboardAndPads)
{
    fake->pads = {FakePadSetup{L"Left pad"}, FakePadSetup{L"Right pad"}};
    ASSERT_EQ(StartInput(), 0);
    EXPECT_EQ(fake->createdVersion, 7);
    EXPECT_EQ(g_input.directInput8, 0);
    ASSERT_NE(fake->keyboard, nullptr);
    ASSERT_NE(fake->mouse, nullptr);
    EXPECT_TRUE(fake->keyboard->acquired);
    EXPECT_NE(fake->keyboard->event, nullptr);
    EXPECT_EQ(fake->keyboard->cooperativeLevel, static_cast<DWORD>(DISCL_NONEXCLUSIVE | DISCL_BACKGROUND));
    EXPECT_EQ(QueryPadCount(), 2);
    EXPECT_EQ(fake->padDevices[0]->effects.size(), 2u);  // sine and constant force
    EXPECT_EQ(fake->padDevices[0]->cooperativeLevel, static_cast<DWORD>(DISCL_EXCLUSIVE | DISCL_FOREGROUND));
    // The device names come from the wide device record.
    EXPECT_STREQ(g_input.pads[1].instanceName, L"Right pad");
    EXPECT_TRUE(Logged(L"デバイスの製品登録名:Left pad product"));
    EXPECT_TRUE(Logged(L"DirectInput 関連の初期化は正常に終了しました"));
    EXPECT_EQ(g_input.keyMap[0][0].firstKey, 0x50);
    EXPECT_EQ(g_inputServed, 1) << "the window and the pump serve input once it has started";

    ShutDownInput();
    EXPECT_EQ(fake->LiveDevices(), 0);
    EXPECT_EQ(fake->LiveEffects(), 0);
    EXPECT_TRUE(fake->objectReleased);
    EXPECT_EQ(g_input.object, nullptr);
}

TEST_F(InputTest, FallsBackToDirectInput8WhenVersion7Fails)
{
    fake->failInit7 = true;
    ASSERT_EQ(StartInput(), 0);
    EXPECT_EQ(fake->createdVersion, 8);
    EXPECT_EQ(g_input.directInput8, 1);
    // The failure and the next attempt share one line.
    EXPECT_TRUE(Logged(L"DirectInput7 の取得中... 成功\n"));
    EXPECT_TRUE(Logged(L"引き続き初期化処理... 初期化に失敗。DirectInput8 の取得を試みます...成功\n"));
}

TEST_F(InputTest, WithoutDirectInputServesWinMMJoysticksAndWindowsKeyboard)
{
    fake->fail7 = true;
    fake->fail8 = true;
    g_fakeJoysticks[0].present = true;
    g_fakeJoysticks[0].caps = JOYCAPS_HASZ | JOYCAPS_HASR;
    g_fakeJoysticks[1].present = true;
    g_fakeJoysticks[3].present = true;  // after a gap: not looked at
    ASSERT_EQ(StartInput(), 0);
    EXPECT_TRUE(Logged(L"DirectInput7 の取得中... 取得に失敗。"));
    EXPECT_TRUE(Logged(L"DirectInput8 の取得を試みます...取得に失敗。"));
    EXPECT_TRUE(Logged(L"DirectInput を使用しません。"));
    EXPECT_TRUE(Logged(L"パッドの数は 2 個です"));
    EXPECT_EQ(g_input.noDirectInput, 1);
    EXPECT_EQ(g_input.pads[0].secondStick, 1);
    EXPECT_EQ(g_input.pads[1].secondStick, 0);
    EXPECT_EQ(g_input.padCount, 16);  // every joystick ID is served
    EXPECT_EQ(QueryPadCount(), 2);

    g_fakeJoysticks[1].x = 0;          // full left
    g_fakeJoysticks[1].y = 65535;      // full down
    g_fakeJoysticks[1].buttons = 0x5;  // buttons 0 and 2
    EXPECT_EQ(QueryPadInputState(2), kPadLeft | kPadDown | kPadButton0 | (kPadButton0 << 2));
    int x = 1;
    int y = 1;
    ASSERT_EQ(QueryPadAnalogInput(&x, &y, 2), 0);
    EXPECT_EQ(x, -1000);
    EXPECT_EQ(y, 1000);
    EXPECT_EQ(QueryPadAnalogInput(&x, &y, 3), -1);  // nothing plugged in there
    EXPECT_EQ(x, 0);

    // The keys come from GetKeyboardState, in the pump's poll only.
    SetThreadKeys({VK_F5, VK_RETURN});
    Sleep(2);
    ASSERT_EQ(PollKeyboardFromPump(), 1);
    EXPECT_EQ(TestKeyPressed(0x3F), 1);
    EXPECT_EQ(TestKeyPressed(0x1C), 1);
    EXPECT_EQ(TestKeyPressed(0x9C), 1);
    EXPECT_EQ(TestKeyPressed(0x3E), 0);
    SetThreadKeys({});
    Sleep(2);
    EXPECT_EQ(PollKeyboardState(), 0);   // outside the pump
    EXPECT_EQ(TestKeyPressed(0x3F), 1);  // still the state the last pump poll stored
    Sleep(2);
    EXPECT_EQ(PollKeyboardFromPump(), 1);
    EXPECT_EQ(TestKeyPressed(0x3F), 0);

    // Pad 1 with the keyboard flag adds its key map.
    SetThreadKeys({VK_LEFT, 'Z'});
    Sleep(2);
    PollKeyboardFromPump();
    EXPECT_EQ(QueryPadInputState(kPadWithKeyboard | 1) & (kPadLeft | kPadButton0), kPadLeft | kPadButton0);
    SetThreadKeys({});
}

TEST_F(InputTest, KeyboardPathFollowsTheOsCode)
{
    ASSERT_EQ(StartInput(), 0);
    fake->keyboard->keys[0x3F] = 0x80;
    SetThreadKeys({VK_F4, VK_RSHIFT});

    g_systemCapability.osCode = 0x107;  // XP: DirectInput keyboard
    Sleep(2);
    ASSERT_EQ(PollKeyboardState(), 1);
    EXPECT_EQ(TestKeyPressed(0x3F), 1);
    EXPECT_EQ(TestKeyPressed(0x3E), 0);
    EXPECT_EQ(TestKeyPressed(kDikRightShift), 1);  // right Shift comes from Windows

    g_systemCapability.osCode = 0x108;  // Vista on: GetKeyboardState
    Sleep(2);
    ASSERT_EQ(PollKeyboardFromPump(), 1);
    EXPECT_EQ(TestKeyPressed(0x3F), 0);
    EXPECT_EQ(TestKeyPressed(0x3E), 1);

    g_input.directInputKeyboardOnNewSystems = 1;  // unless asked for
    Sleep(2);
    ASSERT_EQ(PollKeyboardState(), 1);
    EXPECT_EQ(TestKeyPressed(0x3F), 1);
    g_input.directInputKeyboardOnNewSystems = 0;

    // A lost keyboard is acquired again and read.
    g_systemCapability.osCode = 0x107;
    fake->keyboard->failStates = 1;
    const int acquired = fake->keyboard->acquireCalls;
    Sleep(2);
    EXPECT_EQ(PollKeyboardState(), 1);
    EXPECT_EQ(fake->keyboard->acquireCalls, acquired + 1);
    SetThreadKeys({});
}

TEST_F(InputTest, KeyTestReadsUpWhenInputCannotStartOrTheCodeIsOutOfRange)
{
    fake->failKeyboardEvent = true;
    EXPECT_EQ(TestKeyPressed(0x3F), 0);  // starts input, which fails: not "pressed"
    EXPECT_TRUE(Logged(L"キーボードイベントのセットアップが失敗しました"));
    EXPECT_EQ(fake->LiveDevices(), 1);  // the keyboard was let go; the mouse stays
    EXPECT_EQ(g_input.keyboard, nullptr);
    ShutDownInput();

    fake->failKeyboardEvent = false;
    ASSERT_EQ(StartInput(), 0);
    std::memset(fake->keyboard->keys, 0x80, sizeof(fake->keyboard->keys));
    for (int code : {-1, 256, 0x10000, INT32_MIN}) {
        EXPECT_EQ(TestKeyPressed(code), 0) << code;
    }
    Sleep(2);
    EXPECT_EQ(TestKeyPressed(255), 1);
}

TEST_F(InputTest, PadButtonsAxesAndFaultyPads)
{
    FakePadSetup noRange{L"no range"};
    noRange.failRangeX = true;
    FakePadSetup noEvent{L"no event"};
    noEvent.failEvent = true;
    FakePadSetup broken{L"broken"};
    broken.failCreate = true;
    fake->pads = {noRange, FakePadSetup{L"good"}, noEvent, broken, FakePadSetup{L"second good"}};
    ASSERT_EQ(StartInput(), 0);
    EXPECT_EQ(QueryPadCount(), 2);
    EXPECT_TRUE(Logged(L"ジョイパッドデバイスのＸ軸関係の設定に失敗しました"));
    EXPECT_TRUE(Logged(L"ジョイパッドイベントのセットアップが失敗しました"));
    EXPECT_TRUE(Logged(L"入力装置の取得に失敗しました"));
    EXPECT_TRUE(fake->padDevices[0]->released);
    EXPECT_TRUE(fake->padDevices[2]->released);  // its effects too
    for (FakeEffect* effect : fake->padDevices[2]->effects) {
        EXPECT_TRUE(effect->released);
    }
    EXPECT_STREQ(g_input.pads[1].instanceName, L"second good");

    FakeDevice* pad = fake->padDevices[4];
    pad->joy.lX = 1000;
    pad->joy.lY = -700;
    pad->joy.rgbButtons[0] = 0x80;
    pad->joy.rgbButtons[27] = 0x80;
    pad->joy.rgdwPOV[0] = 0xFFFFFFFF;
    EXPECT_EQ(QueryPadInputState(2), kPadRight | kPadUp | kPadButton0 | (kPadButton0 << 27));
    pad->joy.lX = 0;
    pad->joy.lY = 0;
    pad->joy.rgdwPOV[0] = 22500;  // down-left on the hat
    EXPECT_EQ(QueryPadInputState(2) & 0xF, kPadDown | kPadLeft);
    pad->failStates = 1;  // lost: acquired again and read
    int x = 0;
    EXPECT_EQ(QueryPadAnalogInput(&x, nullptr, 2), 0);
    EXPECT_EQ(QueryPadInputState(3), 0);
    EXPECT_EQ(QueryPadAnalogInput(&x, nullptr, 0), -1);
}

TEST_F(InputTest, EnumerationStopsAtSixteenPads)
{
    fake->pads.assign(20, FakePadSetup{});
    ASSERT_EQ(StartInput(), 0);
    EXPECT_EQ(QueryPadCount(), 16);
    EXPECT_EQ(fake->padsOffered, 16);
}

TEST_F(InputTest, VibrationStopsAfterItsDurationAndWhileInactive)
{
    FakePadSetup noForce{L"no force"};
    noForce.noConstantForce = true;
    fake->pads = {FakePadSetup{}, noForce};
    ASSERT_EQ(StartInput(), 0);
    FakeEffect* sine = fake->padDevices[0]->effects[0];
    FakeEffect* constant = fake->padDevices[0]->effects[1];

    EXPECT_EQ(StartPadVibration(2, 1000, -1), -1);  // no constant-force effect
    EXPECT_EQ(StartPadVibration(3, 1000, -1), -1);  // no such pad

    ASSERT_EQ(StartPadVibration(1, 400, -1), 0);  // weak: constant force only
    EXPECT_TRUE(constant->playing);
    EXPECT_FALSE(sine->playing);
    ASSERT_EQ(StartPadVibration(1, 1000, 150), 0);
    EXPECT_TRUE(sine->playing);
    EXPECT_EQ(constant->starts, 1);  // told only on a change

    UpdatePadVibrationTimeouts();
    EXPECT_TRUE(constant->playing);
    Sleep(200);
    UpdatePadVibrationTimeouts();
    EXPECT_FALSE(constant->playing);
    EXPECT_FALSE(sine->playing);
    EXPECT_EQ(g_input.pads[0].vibrationOn, 0);

    ASSERT_EQ(StartPadVibration(1, 1000, -1), 0);
    Sleep(20);
    UpdatePadVibrationTimeouts();
    EXPECT_TRUE(constant->playing);  // endless
    g_system.active = 0;
    UpdatePadEffectsForActivity();
    EXPECT_FALSE(constant->playing);
    EXPECT_FALSE(sine->playing);
    g_system.active = 1;
    UpdatePadEffectsForActivity();
    EXPECT_TRUE(constant->playing);
    EXPECT_EQ(StopPadVibration(1 | kPadWithKeyboard), 0);
    EXPECT_FALSE(constant->playing);
}

TEST_F(InputTest, ReacquireFollowsTheWindowsActivity)
{
    fake->pads = {FakePadSetup{}};
    ASSERT_EQ(StartInput(), 0);
    g_system.active = 0;
    ReacquireInputDevices();
    EXPECT_EQ(fake->padDevices[0]->cooperativeLevel, static_cast<DWORD>(DISCL_NONEXCLUSIVE | DISCL_BACKGROUND));
    EXPECT_TRUE(fake->padDevices[0]->acquired);
    g_system.active = 1;
    ReacquireInputDevices();
    EXPECT_EQ(fake->padDevices[0]->cooperativeLevel, static_cast<DWORD>(DISCL_EXCLUSIVE | DISCL_FOREGROUND));
}

TEST_F(InputTest, MouseButtonsFromTheMouseDevice)
{
    ASSERT_EQ(StartInput(), 0);
    fake->mouse->acquired = true;
    fake->mouse->mouse.rgbButtons[0] = 0x80;
    fake->mouse->mouse.rgbButtons[2] = 0x80;
    EXPECT_EQ(QueryMouseButtons(), kMouseLeft | kMouseMiddle);
    fake->mouse->mouse.rgbButtons[0] = 0;
    fake->mouse->failStates = 1;
    EXPECT_EQ(QueryMouseButtons(), kMouseMiddle);
}

}  // namespace
