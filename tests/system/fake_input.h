// A stand-in DirectInput: an object of either version, a mouse, a keyboard and joypads with
// force-feedback effects, each of which can be told to fail; and stand-in WinMM joysticks.
#pragma once

#include "quarn/system/input_os.h"

#include <string>
#include <vector>

struct FakeEffect {
    bool playing = false;
    int starts = 0;
    int stops = 0;
    bool released = false;
};

struct FakeDevice {
    enum Kind { kMouse, kKeyboard, kPad } kind = kPad;
    bool released = false;
    bool acquired = false;
    int acquireCalls = 0;
    DWORD cooperativeLevel = 0;
    HANDLE event = nullptr;
    uint8_t keys[256] = {};
    DIMOUSESTATE mouse = {};
    DIJOYSTATE joy = {};
    int failStates = 0;  // GetDeviceState calls still to fail
    std::vector<FakeEffect*> effects;
};

struct FakePadSetup {
    std::wstring name = L"Fake pad";
    bool failCreate = false;
    bool failRangeX = false;
    bool failEvent = false;
    bool noConstantForce = false;
};

struct FakeDirectInput {
    bool fail7 = false;
    bool failInit7 = false;
    bool fail8 = false;
    bool failKeyboardEvent = false;
    bool objectReleased = false;
    int createdVersion = 0;
    std::vector<FakePadSetup> pads;
    int padsOffered = 0;
    std::vector<FakeDevice*> devices;
    std::vector<FakeEffect*> effects;
    FakeDevice* keyboard = nullptr;
    FakeDevice* mouse = nullptr;
    std::vector<FakeDevice*> padDevices;  // in enumeration order, null where creation failed

    ~FakeDirectInput();
    int LiveDevices() const;
    int LiveEffects() const;
};

// Installs the stand-in for the test's lifetime (and restores the real calls after).
FakeDirectInput* InstallFakeDirectInput();
void RemoveFakeDirectInput();

struct FakeJoystick {
    bool present = false;
    WORD caps = 0;
    DWORD x = 32767, y = 32767, buttons = 0, pov = JOY_POVCENTERED;
};
extern FakeJoystick g_fakeJoysticks[16];
extern const JoystickApi kFakeJoystickApi;
