#include "tests/system/fake_input.h"

#include <cstring>

static FakeDirectInput* g_fake = nullptr;
static int s_objectToken;

FakeDirectInput::~FakeDirectInput()
{
    for (FakeDevice* d : devices) {
        delete d;
    }
    for (FakeEffect* e : effects) {
        delete e;
    }
}

int FakeDirectInput::LiveDevices() const
{
    int live = 0;
    for (const FakeDevice* d : devices) {
        live += d->released ? 0 : 1;
    }
    return live;
}

int FakeDirectInput::LiveEffects() const
{
    int live = 0;
    for (const FakeEffect* e : effects) {
        live += e->released ? 0 : 1;
    }
    return live;
}

static FakeDevice* Dev(void* device) { return static_cast<FakeDevice*>(device); }

static HRESULT CreateObject(int version, void** object)
{
    *object = nullptr;
    if ((version == 7 && g_fake->fail7) || (version == 8 && g_fake->fail8)) {
        return REGDB_E_CLASSNOTREG;
    }
    *object = &s_objectToken;
    return S_OK;
}

static HRESULT InitializeObject(void*, int version, HINSTANCE)
{
    if (version == 7 && g_fake->failInit7) {
        return DIERR_OLDDIRECTINPUTVERSION;
    }
    g_fake->createdVersion = version;
    g_fake->objectReleased = false;
    return S_OK;
}

static void ReleaseObject(void*, int) { g_fake->objectReleased = true; }

static HRESULT CreateDevice(void*, int, REFGUID guid, void** out)
{
    auto* d = new FakeDevice;
    if (IsEqualGUID(guid, GUID_SysMouse)) {
        d->kind = FakeDevice::kMouse;
        g_fake->mouse = d;
    } else if (IsEqualGUID(guid, GUID_SysKeyboard)) {
        d->kind = FakeDevice::kKeyboard;
        g_fake->keyboard = d;
    } else {
        const int index = static_cast<int>(guid.Data1);
        if (g_fake->pads[index].failCreate) {
            delete d;
            g_fake->padDevices.push_back(nullptr);
            *out = nullptr;
            return DIERR_DEVICENOTREG;
        }
        g_fake->padDevices.push_back(d);
    }
    g_fake->devices.push_back(d);
    *out = d;
    return S_OK;
}

static HRESULT EnumGameControllers(void*, int, LPDIENUMDEVICESCALLBACKW callback, void* context)
{
    for (size_t i = 0; i < g_fake->pads.size(); ++i) {
        DIDEVICEINSTANCEW instance{};
        instance.dwSize = sizeof(instance);
        instance.guidInstance.Data1 = static_cast<unsigned long>(i);
        g_fake->padsOffered += 1;
        if (callback(&instance, context) == DIENUM_STOP) {
            break;
        }
    }
    return DI_OK;
}

static int PadIndex(void* device)
{
    for (size_t i = 0; i < g_fake->padDevices.size(); ++i) {
        if (g_fake->padDevices[i] == device) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

static HRESULT GetDeviceInfo(void* device, int, DIDEVICEINSTANCEW* info)
{
    if (info->dwSize != sizeof(DIDEVICEINSTANCEW)) {
        return DIERR_INVALIDPARAM;
    }
    const int index = PadIndex(device);
    const std::wstring name = index >= 0 ? g_fake->pads[index].name : L"?";
    std::wcscpy(info->tszInstanceName, name.c_str());
    std::wcscpy(info->tszProductName, (name + L" product").c_str());
    return DI_OK;
}

static HRESULT SetDataFormat(void*, int, const DIDATAFORMAT*) { return DI_OK; }

static HRESULT SetCooperativeLevel(void* device, int, HWND, DWORD flags)
{
    Dev(device)->cooperativeLevel = flags;
    return DI_OK;
}

static HRESULT SetProperty(void* device, int, REFGUID property, const DIPROPHEADER* header)
{
    const int index = PadIndex(device);
    if (index >= 0 && &property == &DIPROP_RANGE && header->dwObj == DIJOFS_X && g_fake->pads[index].failRangeX) {
        return DIERR_UNSUPPORTED;
    }
    return DI_OK;
}

static HRESULT SetEventNotification(void* device, int, HANDLE event)
{
    FakeDevice* d = Dev(device);
    if (event != nullptr) {
        const int index = PadIndex(device);
        if ((d->kind == FakeDevice::kKeyboard && g_fake->failKeyboardEvent) ||
            (index >= 0 && g_fake->pads[index].failEvent)) {
            return DIERR_GENERIC;
        }
    }
    d->event = event;
    return DI_OK;
}

static HRESULT Acquire(void* device, int)
{
    Dev(device)->acquired = true;
    Dev(device)->acquireCalls += 1;
    return DI_OK;
}

static HRESULT Unacquire(void* device, int)
{
    Dev(device)->acquired = false;
    return DI_OK;
}

static HRESULT Poll(void*, int) { return DI_NOEFFECT; }

static HRESULT GetDeviceState(void* device, int, DWORD size, void* data)
{
    FakeDevice* d = Dev(device);
    if (d->failStates > 0) {
        d->failStates -= 1;
        d->acquired = false;
        return DIERR_INPUTLOST;
    }
    if (!d->acquired) {
        return DIERR_NOTACQUIRED;
    }
    const void* source = d->kind == FakeDevice::kKeyboard ? static_cast<const void*>(d->keys)
                         : d->kind == FakeDevice::kMouse  ? static_cast<const void*>(&d->mouse)
                                                          : static_cast<const void*>(&d->joy);
    std::memcpy(data, source, size);
    return DI_OK;
}

static HRESULT CreateEffect(void* device, int, REFGUID kind, const DIEFFECT*, void** out)
{
    const int index = PadIndex(device);
    if (index >= 0 && g_fake->pads[index].noConstantForce && IsEqualGUID(kind, GUID_ConstantForce)) {
        *out = nullptr;
        return DIERR_UNSUPPORTED;
    }
    auto* e = new FakeEffect;
    g_fake->effects.push_back(e);
    Dev(device)->effects.push_back(e);
    *out = e;
    return DI_OK;
}

static void ReleaseDevice(void* device, int) { Dev(device)->released = true; }

static HRESULT StartEffect(void* effect, DWORD, DWORD)
{
    static_cast<FakeEffect*>(effect)->playing = true;
    static_cast<FakeEffect*>(effect)->starts += 1;
    return DI_OK;
}

static HRESULT StopEffect(void* effect)
{
    static_cast<FakeEffect*>(effect)->playing = false;
    static_cast<FakeEffect*>(effect)->stops += 1;
    return DI_OK;
}

static void ReleaseEffect(void* effect) { static_cast<FakeEffect*>(effect)->released = true; }

static const DirectInputApi kFakeApi = {
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

FakeDirectInput* InstallFakeDirectInput()
{
    delete g_fake;
    g_fake = new FakeDirectInput;
    SetDirectInputApi(&kFakeApi);
    return g_fake;
}

void RemoveFakeDirectInput()
{
    SetDirectInputApi(nullptr);
    delete g_fake;
    g_fake = nullptr;
}

FakeJoystick g_fakeJoysticks[16];

static MMRESULT WINAPI FakeJoyCaps(UINT_PTR id, JOYCAPSW* caps, UINT)
{
    if (id >= 16 || !g_fakeJoysticks[id].present) {
        return JOYERR_UNPLUGGED;
    }
    std::memset(caps, 0, sizeof(*caps));
    caps->wXmin = 0;
    caps->wXmax = 65535;
    caps->wYmin = 0;
    caps->wYmax = 65535;
    caps->wCaps = g_fakeJoysticks[id].caps;
    return JOYERR_NOERROR;
}

static MMRESULT WINAPI FakeJoyPos(UINT id, JOYINFOEX* info)
{
    if (id >= 16 || !g_fakeJoysticks[id].present) {
        return JOYERR_UNPLUGGED;
    }
    info->dwXpos = g_fakeJoysticks[id].x;
    info->dwYpos = g_fakeJoysticks[id].y;
    info->dwButtons = g_fakeJoysticks[id].buttons;
    info->dwPOV = g_fakeJoysticks[id].pov;
    return JOYERR_NOERROR;
}

const JoystickApi kFakeJoystickApi = {
    .getDevCaps = FakeJoyCaps,
    .getPosEx = FakeJoyPos,
};
