// The system calls under keyboard, mouse and joypad input: DirectInput 7 and 8 objects,
// devices and force-feedback effects, and the WinMM joystick functions, each reached through
// a small function table (input_os_win.cpp holds the real ones). The real calls are
// installed by default; tests install tables of their own to stand in a joypad, a failing
// device or a missing DirectInput. The IME's calls have a table of the same kind (ImeApi in
// input.h).
#pragma once

#ifndef DIRECTINPUT_VERSION
#define DIRECTINPUT_VERSION 0x0800
#endif
#include <windows.h>
#include <dinput.h>
#include <mmsystem.h>

// Objects, devices and effects are opaque here; version is 7 or 8 and says which
// DirectInput interface family the pointer belongs to.
struct DirectInputApi {
    HRESULT (*createObject)(int version, void** object);  // CoCreateInstance
    HRESULT (*initializeObject)(void* object, int version, HINSTANCE instance);
    void (*releaseObject)(void* object, int version);
    HRESULT (*createDevice)(void* object, int version, REFGUID device, void** out);
    HRESULT (*enumGameControllers)(void* object, int version, LPDIENUMDEVICESCALLBACKW callback, void* context);

    HRESULT (*getDeviceInfo)(void* device, int version, DIDEVICEINSTANCEW* info);
    HRESULT (*setDataFormat)(void* device, int version, const DIDATAFORMAT* format);
    HRESULT (*setCooperativeLevel)(void* device, int version, HWND window, DWORD flags);
    HRESULT (*setProperty)(void* device, int version, REFGUID property, const DIPROPHEADER* header);
    HRESULT (*setEventNotification)(void* device, int version, HANDLE event);
    HRESULT (*acquire)(void* device, int version);
    HRESULT (*unacquire)(void* device, int version);
    HRESULT (*poll)(void* device, int version);
    HRESULT (*getDeviceState)(void* device, int version, DWORD size, void* data);
    HRESULT (*createEffect)(void* device, int version, REFGUID kind, const DIEFFECT* effect, void** out);
    void (*releaseDevice)(void* device, int version);

    HRESULT (*startEffect)(void* effect, DWORD iterations, DWORD flags);
    HRESULT (*stopEffect)(void* effect);
    void (*releaseEffect)(void* effect);
};

struct JoystickApi {
    MMRESULT(WINAPI* getDevCaps)(UINT_PTR id, JOYCAPSW* caps, UINT size);
    MMRESULT(WINAPI* getPosEx)(UINT id, JOYINFOEX* info);
};

// Install a table (null restores the real calls); the previous table is returned.
const DirectInputApi* SetDirectInputApi(const DirectInputApi* api);
const JoystickApi* SetJoystickApi(const JoystickApi* api);
const DirectInputApi* RealDirectInputApi();
const JoystickApi* RealJoystickApi();
const DirectInputApi* CurrentDirectInputApi();
const JoystickApi* CurrentJoystickApi();
