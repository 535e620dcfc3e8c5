#include "quarn/system/input_os.h"

#include <objbase.h>

namespace {
// The device interfaces of both versions are called through the one matching the version.
template <typename Call>
HRESULT OnDevice(void* device, int version, Call call)
{
    if (version == 8) {
        return call(static_cast<IDirectInputDevice8W*>(device));
    }
    return call(static_cast<IDirectInputDevice7W*>(device));
}

HRESULT CreateObject(int version, void** object)
{
    *object = nullptr;
    if (version == 8) {
        return CoCreateInstance(CLSID_DirectInput8, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectInput8W, object);
    }
    return CoCreateInstance(CLSID_DirectInput, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectInput7W, object);
}

HRESULT InitializeObject(void* object, int version, HINSTANCE instance)
{
    if (version == 8) {
        return static_cast<IDirectInput8W*>(object)->Initialize(instance, 0x0800);
    }
    return static_cast<IDirectInput7W*>(object)->Initialize(instance, 0x0700);
}

void ReleaseObject(void* object, int version)
{
    if (version == 8) {
        static_cast<IDirectInput8W*>(object)->Release();
    } else {
        static_cast<IDirectInput7W*>(object)->Release();
    }
}

HRESULT CreateDevice(void* object, int version, REFGUID device, void** out)
{
    *out = nullptr;
    if (version == 8) {
        IDirectInputDevice8W* created = nullptr;
        const HRESULT hr = static_cast<IDirectInput8W*>(object)->CreateDevice(device, &created, nullptr);
        *out = created;
        return hr;
    }
    return static_cast<IDirectInput7W*>(object)->CreateDeviceEx(device, IID_IDirectInputDevice7W, out, nullptr);
}

HRESULT EnumGameControllers(void* object, int version, LPDIENUMDEVICESCALLBACKW callback, void* context)
{
    // DIDEVTYPE_JOYSTICK and DI8DEVCLASS_GAMECTRL are both 4.
    if (version == 8) {
        return static_cast<IDirectInput8W*>(object)->EnumDevices(DI8DEVCLASS_GAMECTRL, callback, context,
                                                                 DIEDFL_ATTACHEDONLY);
    }
    return static_cast<IDirectInput7W*>(object)->EnumDevices(DIDEVTYPE_JOYSTICK, callback, context,
                                                             DIEDFL_ATTACHEDONLY);
}

HRESULT GetDeviceInfo(void* device, int version, DIDEVICEINSTANCEW* info)
{
    return OnDevice(device, version, [&](auto* d) { return d->GetDeviceInfo(info); });
}

HRESULT SetDataFormat(void* device, int version, const DIDATAFORMAT* format)
{
    return OnDevice(device, version, [&](auto* d) { return d->SetDataFormat(format); });
}

HRESULT SetCooperativeLevel(void* device, int version, HWND window, DWORD flags)
{
    return OnDevice(device, version, [&](auto* d) { return d->SetCooperativeLevel(window, flags); });
}

HRESULT SetProperty(void* device, int version, REFGUID property, const DIPROPHEADER* header)
{
    return OnDevice(device, version, [&](auto* d) { return d->SetProperty(property, header); });
}

HRESULT SetEventNotification(void* device, int version, HANDLE event)
{
    return OnDevice(device, version, [&](auto* d) { return d->SetEventNotification(event); });
}

HRESULT Acquire(void* device, int version)
{
    return OnDevice(device, version, [&](auto* d) { return d->Acquire(); });
}

HRESULT Unacquire(void* device, int version)
{
    return OnDevice(device, version, [&](auto* d) { return d->Unacquire(); });
}

HRESULT Poll(void* device, int version)
{
    return OnDevice(device, version, [&](auto* d) { return d->Poll(); });
}

HRESULT GetDeviceState(void* device, int version, DWORD size, void* data)
{
    return OnDevice(device, version, [&](auto* d) { return d->GetDeviceState(size, data); });
}

HRESULT CreateEffect(void* device, int version, REFGUID kind, const DIEFFECT* effect, void** out)
{
    *out = nullptr;
    return OnDevice(device, version, [&](auto* d) {
        IDirectInputEffect* created = nullptr;
        const HRESULT hr = d->CreateEffect(kind, effect, &created, nullptr);
        *out = created;
        return hr;
    });
}

void ReleaseDevice(void* device, int version)
{
    OnDevice(device, version, [&](auto* d) {
        d->Release();
        return S_OK;
    });
}

HRESULT StartEffect(void* effect, DWORD iterations, DWORD flags)
{
    return static_cast<IDirectInputEffect*>(effect)->Start(iterations, flags);
}

HRESULT StopEffect(void* effect) { return static_cast<IDirectInputEffect*>(effect)->Stop(); }

void ReleaseEffect(void* effect) { static_cast<IDirectInputEffect*>(effect)->Release(); }
}  // namespace

static const DirectInputApi kRealDirectInput = {
    .createObject = CreateObject,
    .initializeObject = InitializeObject,
    .releaseObject = ReleaseObject,
    .createDevice = CreateDevice,
    .enumGameControllers = EnumGameControllers,
    .getDeviceInfo = GetDeviceInfo,
    .setDataFormat = SetDataFormat,
    .setCooperativeLevel = SetCooperativeLevel,
    .setProperty = SetProperty,
    .setEventNotification = SetEventNotification,
    .acquire = Acquire,
    .unacquire = Unacquire,
    .poll = Poll,
    .getDeviceState = GetDeviceState,
    .createEffect = CreateEffect,
    .releaseDevice = ReleaseDevice,
    .startEffect = StartEffect,
    .stopEffect = StopEffect,
    .releaseEffect = ReleaseEffect,
};

static const JoystickApi kRealJoystick = {
    .getDevCaps = joyGetDevCapsW,
    .getPosEx = joyGetPosEx,
};

const DirectInputApi* RealDirectInputApi() { return &kRealDirectInput; }

const JoystickApi* RealJoystickApi() { return &kRealJoystick; }

static const DirectInputApi* s_directInputApi = nullptr;  // null: the real calls
static const JoystickApi* s_joystickApi = nullptr;

const DirectInputApi* CurrentDirectInputApi()
{
    return s_directInputApi != nullptr ? s_directInputApi : &kRealDirectInput;
}

const JoystickApi* CurrentJoystickApi() { return s_joystickApi != nullptr ? s_joystickApi : &kRealJoystick; }

const DirectInputApi* SetDirectInputApi(const DirectInputApi* api)
{
    const DirectInputApi* previous = CurrentDirectInputApi();
    s_directInputApi = api;
    return previous;
}

const JoystickApi* SetJoystickApi(const JoystickApi* api)
{
    const JoystickApi* previous = CurrentJoystickApi();
    s_joystickApi = api;
    return previous;
}
