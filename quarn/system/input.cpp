// Keyboard, mouse and joypads through DirectInput 7 or 8, or the WinMM joystick functions.
#include "quarn/system/input_os.h"
#include "quarn/system/system.h"

#include "quarn/core/core.h"
#include "quarn/quarn.h"

#include <cstring>
#include <initializer_list>

InputState g_input;
int32_t g_keyboardThroughWindowsOnly;

void ResetInputState()
{
    g_input = InputState{};
    g_keyboardThroughWindowsOnly = 0;
    g_inputServed = 0;
    g_charInputServed = 0;
}

// Set while the application's keyboard poll is under way.
static int32_t s_polling;
// The pump's count of looks at the queue when the poll last looked or found it looked at.
static uint32_t s_queuePassesSeen;
static int32_t s_startGuard;

namespace {
const DirectInputApi* Di() { return CurrentDirectInputApi(); }

int Version() { return g_input.directInput8 ? 8 : 7; }

bool HasDirectInput() { return g_input.object != nullptr && g_input.object != kJoystickOnlyObject; }

bool JoystickOnly() { return g_input.object == kJoystickOnlyObject; }

// Releases a device that is being set up and clears the pointer.
void DropDevice(void** device)
{
    if (*device != nullptr) {
        Di()->releaseDevice(*device, Version());
        *device = nullptr;
    }
}

// Creates the DirectInput object of the version and initialises it; 0 on success.
int CreateDirectInput(int version)
{
    void* object = nullptr;
    const HRESULT hr = Di()->createObject(version, &object);
    if (FAILED(hr) || object == nullptr) {
        AppendLog(L"取得に失敗。\n");
        AppendLogFormat(L"エラーコード 0x%x", static_cast<unsigned>(hr));
        return -1;
    }
    AppendLog(L"成功\n");
    PushLogIndent();
    AppendLog(L"引き続き初期化処理... ");
    if (FAILED(Di()->initializeObject(object, version, GetModuleHandleW(nullptr)))) {
        AppendLog(L"初期化に失敗。");
        Di()->releaseObject(object, version);
        PopLogIndent();
        return -1;
    }
    AppendLog(L"初期化成功\n");
    PopLogIndent();
    g_input.object = object;
    g_input.directInput8 = version == 8 ? 1 : 0;
    return 0;
}

void SetUpMouse()
{
    AppendLog(L"マウスデバイスの初期化... ");
    const int v = Version();
    if (FAILED(Di()->createDevice(g_input.object, v, GUID_SysMouse, &g_input.mouse)) || g_input.mouse == nullptr) {
        g_input.mouse = nullptr;
        ShutDownInput();
        FatalErrorExit(L"マウスデバイスの取得に失敗しました");
    }
    if (FAILED(Di()->setDataFormat(g_input.mouse, v, &c_dfDIMouse))) {
        ShutDownInput();
        FatalErrorExit(L"マウスデバイスのデータ形式の設定に失敗しました");
    }
    if (FAILED(Di()->setCooperativeLevel(g_input.mouse, v, QueryMainWindow(), DISCL_NONEXCLUSIVE | DISCL_BACKGROUND))) {
        ShutDownInput();
        FatalErrorExit(L"マウスデバイスの協調レベルの設定に失敗しました");
    }
    AppendLog(L"初期化成功\n");
}

// -1 when the keyboard's event cannot be set up; the keyboard is then left out.
int SetUpKeyboard()
{
    AppendLog(L"キーボードデバイスの初期化... ");
    const int v = Version();
    if (FAILED(Di()->createDevice(g_input.object, v, GUID_SysKeyboard, &g_input.keyboard)) ||
        g_input.keyboard == nullptr) {
        g_input.keyboard = nullptr;
        ShutDownInput();
        FatalErrorExit(L"キーボードデバイスの取得に失敗しました");
    }
    if (FAILED(Di()->setDataFormat(g_input.keyboard, v, &c_dfDIKeyboard))) {
        ShutDownInput();
        FatalErrorExit(L"キーボードデバイスのデータ形式の設定に失敗しました");
    }
    if (FAILED(
            Di()->setCooperativeLevel(g_input.keyboard, v, QueryMainWindow(), DISCL_NONEXCLUSIVE | DISCL_BACKGROUND))) {
        ShutDownInput();
        FatalErrorExit(L"キーボードデバイスの協調レベルの設定に失敗しました");
    }
    DIPROPDWORD buffer{};
    buffer.diph.dwSize = sizeof(buffer);
    buffer.diph.dwHeaderSize = sizeof(buffer.diph);
    buffer.diph.dwHow = DIPH_DEVICE;
    buffer.dwData = 100;
    if (FAILED(Di()->setProperty(g_input.keyboard, v, DIPROP_BUFFERSIZE, &buffer.diph))) {
        AppendLog(L"キーボードのプロパティ設定に失敗しました\n");
    }
    g_input.keyboardEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HRESULT hr = g_input.keyboardEvent != nullptr
                           ? Di()->setEventNotification(g_input.keyboard, v, g_input.keyboardEvent)
                           : E_FAIL;
    if (hr != DI_OK && hr != DI_POLLEDDEVICE) {
        AppendLog(L"キーボードイベントのセットアップが失敗しました\n");
        // Without its event the keyboard is not used: the Windows path reads the keys.
        DropDevice(&g_input.keyboard);
        if (g_input.keyboardEvent != nullptr) {
            CloseHandle(g_input.keyboardEvent);
            g_input.keyboardEvent = nullptr;
        }
        return -1;
    }
    if (FAILED(Di()->acquire(g_input.keyboard, v)) && FAILED(Di()->acquire(g_input.keyboard, v))) {
        ShutDownInput();
        FatalErrorExit(L"キーボードデバイスの取得に失敗しました");
    }
    AppendLog(L"初期化成功\n");
    g_input.lastPollTime = ReadMillisecondClock();
    return 0;
}

void StartJoystickOnly()
{
    PushLogIndent();
    int answered = 0;
    for (UINT id = 0; id < kMaxPads; ++id) {
        JOYCAPSW caps{};
        if (CurrentJoystickApi()->getDevCaps(id, &caps, sizeof(caps)) != JOYERR_NOERROR) {
            break;
        }
        PadRecord& pad = g_input.pads[id];
        pad.secondStick = (caps.wCaps & JOYCAPS_HASZ) && (caps.wCaps & JOYCAPS_HASR) ? 1 : 0;
        pad.rangeMin[0] = static_cast<int32_t>(caps.wXmin);
        pad.rangeMax[0] = static_cast<int32_t>(caps.wXmax);
        pad.rangeMin[1] = static_cast<int32_t>(caps.wYmin);
        pad.rangeMax[1] = static_cast<int32_t>(caps.wYmax);
        ++answered;
    }
    g_input.joystickCount = answered;
    AppendLogFormat(L"パッドの数は %d 個です", answered);
    PopLogIndent();
    g_input.object = kJoystickOnlyObject;
    AppendLog(L"入力関連の初期化をしました\n");
    g_input.padCount = kMaxPads;  // every joystick ID is served in this mode
}
}  // namespace

int32_t StartInput()
{
    if (g_input.object != nullptr || s_startGuard) {
        return 0;
    }
    s_startGuard = 1;
    const int32_t noDirectInput = g_input.noDirectInput;
    const int32_t keyboardOnNewSystems = g_input.directInputKeyboardOnNewSystems;
    std::memset(&g_input, 0, sizeof(g_input));
    g_input.noDirectInput = noDirectInput;
    g_input.directInputKeyboardOnNewSystems = keyboardOnNewSystems;
    g_inputServed = 1;

    bool haveObject = false;
    if (!g_input.noDirectInput) {
        AppendLog(L"DirectInput関係初期化処理\n");
        PushLogIndent();
        AppendLog(L"DirectInput7 の取得中... ");
        haveObject = CreateDirectInput(7) == 0;
        if (!haveObject) {
            AppendLog(L"DirectInput8 の取得を試みます...");
            haveObject = CreateDirectInput(8) == 0;
        }
        if (!haveObject) {
            AppendLog(L"DirectInput を使用しません。\n");
            g_input.noDirectInput = 1;
            PopLogIndent();
        }
    }

    int32_t result = 0;
    if (haveObject) {
        if (QueryMainWindow() != nullptr) {
            BringWindowToTop(QueryMainWindow());
        }
        PumpWindowMessages();
        ReenumeratePads();
        SetUpMouse();
        g_input.lastPollTime = ReadMillisecondClock();
        if (!g_keyboardThroughWindowsOnly && SetUpKeyboard() != 0) {
            result = -1;
        }
        PopLogIndent();
        if (result == 0) {
            AppendLog(L"DirectInput 関連の初期化は正常に終了しました\n");
        }
    } else {
        StartJoystickOnly();
    }
    ResetPadKeyMap(g_input.keyMap);
    s_startGuard = 0;
    return result;
}

int32_t ShutDownInput()
{
    if (g_input.object == nullptr) {
        return 0;
    }
    if (JoystickOnly()) {
        AppendLog(L"入力関連の終了処理... 完了\n");
        g_input.object = nullptr;
        return 0;
    }
    AppendLog(L"DirectInput 関連の終了処理... 完了\n");
    ReleasePads();
    const int v = Version();
    if (g_input.keyboard != nullptr) {
        Di()->unacquire(g_input.keyboard, v);
        DropDevice(&g_input.keyboard);
    }
    if (g_input.keyboardEvent != nullptr) {
        CloseHandle(g_input.keyboardEvent);
        g_input.keyboardEvent = nullptr;
    }
    if (g_input.mouse != nullptr) {
        Di()->unacquire(g_input.mouse, v);
        DropDevice(&g_input.mouse);
    }
    Di()->releaseObject(g_input.object, v);
    g_input.object = nullptr;
    return 0;
}

namespace {
void ReleasePadParts(PadRecord* pad)
{
    for (void** effect : {&pad->constantForce, &pad->sine}) {
        if (*effect != nullptr) {
            Di()->stopEffect(*effect);
            Di()->releaseEffect(*effect);
            *effect = nullptr;
        }
    }
    DropDevice(&pad->device);
    if (pad->event != nullptr) {
        CloseHandle(pad->event);
        pad->event = nullptr;
    }
}
}  // namespace

int32_t ReleasePads()
{
    if (!HasDirectInput()) {
        return -1;
    }
    const int v = Version();
    for (PadRecord& pad : g_input.pads) {
        if (pad.device != nullptr) {
            Di()->unacquire(pad.device, v);
            Di()->setEventNotification(pad.device, v, nullptr);
        }
        ReleasePadParts(&pad);
        std::memset(&pad, 0, sizeof(pad));
    }
    g_input.padCount = 0;
    return 0;
}

namespace {
// Sets a range or dead-zone property of one axis; true on success.
bool SetAxisProperty(void* device, REFGUID property, DWORD offset, LONG low, LONG high)
{
    if (&property == &DIPROP_RANGE) {
        DIPROPRANGE range{};
        range.diph.dwSize = sizeof(range);
        range.diph.dwHeaderSize = sizeof(range.diph);
        range.diph.dwHow = DIPH_BYOFFSET;
        range.diph.dwObj = offset;
        range.lMin = low;
        range.lMax = high;
        return SUCCEEDED(Di()->setProperty(device, Version(), property, &range.diph));
    }
    DIPROPDWORD value{};
    value.diph.dwSize = sizeof(value);
    value.diph.dwHeaderSize = sizeof(value.diph);
    value.diph.dwHow = DIPH_BYOFFSET;
    value.diph.dwObj = offset;
    value.dwData = static_cast<DWORD>(low);
    return SUCCEEDED(Di()->setProperty(device, Version(), property, &value.diph));
}

// An endless effect at full gain on the pad's two axes, started by no button.
DIEFFECT TwoAxisEffect(DWORD coordinates, DWORD* axes, LONG* direction, void* params, DWORD paramsSize)
{
    DIEFFECT effect{};
    effect.dwSize = sizeof(effect);
    effect.dwFlags = DIEFF_OBJECTOFFSETS | coordinates;
    effect.dwDuration = INFINITE;
    effect.dwGain = DI_FFNOMINALMAX;
    effect.dwTriggerButton = DIEB_NOTRIGGER;
    effect.cAxes = 2;
    effect.rgdwAxes = axes;
    effect.rglDirection = direction;
    effect.cbTypeSpecificParams = paramsSize;
    effect.lpvTypeSpecificParams = params;
    return effect;
}

void CreatePadEffects(PadRecord* pad)
{
    DWORD axes[2] = {DIJOFS_X, DIJOFS_Y};
    LONG direction[2] = {0, 0};

    DIENVELOPE envelope{};
    envelope.dwSize = sizeof(envelope);
    envelope.dwAttackLevel = 0;
    envelope.dwAttackTime = 500000;
    envelope.dwFadeLevel = 0;
    envelope.dwFadeTime = 1000000;
    DIPERIODIC periodic{};
    periodic.dwMagnitude = 10000;
    periodic.dwPeriod = 1500000;
    DIEFFECT sine = TwoAxisEffect(DIEFF_POLAR, axes, direction, &periodic, sizeof(periodic));
    sine.lpEnvelope = &envelope;
    if (FAILED(Di()->createEffect(pad->device, Version(), GUID_Sine, &sine, &pad->sine))) {
        pad->sine = nullptr;
    }

    DICONSTANTFORCE constant{10000};
    DIEFFECT force = TwoAxisEffect(DIEFF_CARTESIAN, axes, direction, &constant, sizeof(constant));
    if (FAILED(Di()->createEffect(pad->device, Version(), GUID_ConstantForce, &force, &pad->constantForce))) {
        pad->constantForce = nullptr;
        AppendLog(L"周期的エフェクトの作成に失敗しました。\n");
    }
}

BOOL CALLBACK AddPad(LPCDIDEVICEINSTANCEW found, LPVOID)
{
    if (g_input.padCount >= kMaxPads) {
        return DIENUM_STOP;
    }
    const int v = Version();
    PadRecord* pad = &g_input.pads[g_input.padCount];
    std::memset(pad, 0, sizeof(*pad));
    AppendLog(L"入力装置を見つけました\n");
    if (FAILED(Di()->createDevice(g_input.object, v, found->guidInstance, &pad->device)) || pad->device == nullptr) {
        pad->device = nullptr;
        AppendLog(L"入力装置の取得に失敗しました\n");
        return DIENUM_CONTINUE;
    }
    DIDEVICEINSTANCEW info{};
    info.dwSize = sizeof(info);
    if (SUCCEEDED(Di()->getDeviceInfo(pad->device, v, &info))) {
        CopyWideStringLimited(pad->instanceName, info.tszInstanceName, MAX_PATH - 1);
        CopyWideStringLimited(pad->productName, info.tszProductName, MAX_PATH - 1);
    }
    PushLogIndent();
    AppendLogFormat(L"デバイスの登録名:%ls", pad->instanceName);
    AppendLogFormat(L"デバイスの製品登録名:%ls", pad->productName);
    PopLogIndent();

    const wchar_t* refusal = nullptr;
    if (FAILED(Di()->setDataFormat(pad->device, v, &c_dfDIJoystick))) {
        refusal = L"ジョイパッドデバイスではありませんでした、又は設定に失敗しました\n";
    } else {
        if (FAILED(Di()->setCooperativeLevel(pad->device, v, QueryMainWindow(), DISCL_EXCLUSIVE | DISCL_FOREGROUND))) {
            AppendLog(L"ジョイパッドデバイスの協調レベルの設定に失敗しました\n");
        }
        if (!SetAxisProperty(pad->device, DIPROP_RANGE, DIJOFS_X, -1000, 1000)) {
            refusal = L"ジョイパッドデバイスのＸ軸関係の設定に失敗しました\n";
        } else if (!SetAxisProperty(pad->device, DIPROP_RANGE, DIJOFS_Y, -1000, 1000)) {
            refusal = L"ジョイパッドデバイスのＹ軸関係の設定に失敗しました\n";
        } else {
            SetAxisProperty(pad->device, DIPROP_RANGE, DIJOFS_Z, -1000, 1000);
            SetAxisProperty(pad->device, DIPROP_RANGE, DIJOFS_RZ, -1000, 1000);
            if (!SetAxisProperty(pad->device, DIPROP_DEADZONE, DIJOFS_X, 2500, 0)) {
                refusal = L"ジョイパッドデバイスのＸ軸の無効ゾーンの設定に失敗しました\n";
            } else if (!SetAxisProperty(pad->device, DIPROP_DEADZONE, DIJOFS_Y, 2500, 0)) {
                refusal = L"ジョイパッドデバイスのＹ軸の無効ゾーンの設定に失敗しました\n";
            } else {
                SetAxisProperty(pad->device, DIPROP_DEADZONE, DIJOFS_Z, 2500, 0);
                SetAxisProperty(pad->device, DIPROP_DEADZONE, DIJOFS_RZ, 2500, 0);
            }
        }
    }
    if (refusal != nullptr) {
        DropDevice(&pad->device);
        AppendLog(refusal);
        return DIENUM_CONTINUE;
    }

    CreatePadEffects(pad);
    pad->vibrationOn = 0;
    pad->power = 10000;
    pad->constantPlaying = 0;
    pad->sinePlaying = 0;

    pad->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HRESULT hr = pad->event != nullptr ? Di()->setEventNotification(pad->device, v, pad->event) : E_FAIL;
    if (hr != DI_OK && hr != DI_POLLEDDEVICE) {
        AppendLog(L"ジョイパッドイベントのセットアップが失敗しました\n");
        // The pad is not counted: release what was set up so the slot can be reused.
        ReleasePadParts(pad);
        std::memset(pad, 0, sizeof(*pad));
        return DIENUM_CONTINUE;
    }
    Di()->acquire(pad->device, v);
    pad->factor = 0.25;
    std::memset(pad->state, 0, sizeof(pad->state));
    g_input.padCount += 1;
    AppendLog(L"ジョイパッドの追加は正常に終了しました\n");
    return g_input.padCount < kMaxPads ? DIENUM_CONTINUE : DIENUM_STOP;
}
}  // namespace

int32_t ReenumeratePads()
{
    if (!HasDirectInput()) {
        return -1;
    }
    ReleasePads();
    AppendLog(L"ジョイパッドの初期化... \n");
    g_input.padCount = 0;
    Di()->enumGameControllers(g_input.object, Version(), AddPad, nullptr);
    AppendLog(L"ジョイパッドの初期化は正常に終了しました\n");
    return 0;
}

namespace {
bool UseDirectInputKeyboard()
{
    return !g_input.noDirectInput && !g_keyboardThroughWindowsOnly && g_input.keyboard != nullptr &&
           (g_input.directInputKeyboardOnNewSystems || g_systemCapability.osCode < kOsVista);
}

// A DirectInput read is due once a millisecond, sooner when the keyboard has signalled.
bool DirectInputReadDue(uint32_t now)
{
    return now != g_input.lastPollTime || WaitForSingleObject(g_input.keyboardEvent, 0) == WAIT_OBJECT_0;
}

// Reads the DirectInput keyboard into the key table (the right Shift from the thread's view).
// 1, or 0 when the device gives no state.
int32_t ReadDirectInputKeys(uint32_t now)
{
    const int v = Version();
    uint8_t keys[kKeyTableSize];
    if (FAILED(Di()->getDeviceState(g_input.keyboard, v, sizeof(keys), keys))) {
        Di()->acquire(g_input.keyboard, v);
        if (FAILED(Di()->getDeviceState(g_input.keyboard, v, sizeof(keys), keys))) {
            return 0;
        }
    }
    std::memcpy(g_input.keys, keys, sizeof(keys));
    g_input.lastPollTime = now;
    if (WaitForSingleObject(g_input.keyboardEvent, 0) == WAIT_OBJECT_0) {
        ResetEvent(g_input.keyboardEvent);
    }
    BYTE state[256];
    if (GetKeyboardState(state)) {
        g_input.keys[kDikRightShift] = state[VK_RSHIFT];
    }
    return 1;
}

// Reads the thread's view of the keys and mouse buttons into the key table: 1, or 0 when
// there is none.
int32_t ReadWindowsKeys()
{
    BYTE state[256];
    if (!GetKeyboardState(state)) {
        return 0;
    }
    CopyVirtualKeysToDik(state, g_input.keys);
    g_input.mouseButtons[0] = state[VK_LBUTTON];
    g_input.mouseButtons[1] = state[VK_RBUTTON];
    g_input.mouseButtons[2] = state[VK_MBUTTON];
    g_input.mouseButtonsValid = 1;
    return 1;
}

// Before the application's read the queue is looked at, so that the key state follows the
// messages: false once the program is to end. A pump that has looked at it since the last
// read (the application's pump call of the frame) is not repeated.
bool PumpBeforeRead()
{
    if (g_system.pumpQueuePasses != s_queuePassesSeen) {
        s_queuePassesSeen = g_system.pumpQueuePasses;
        return g_system.quit != 1;
    }
    const int32_t result = PumpWindowMessages();
    s_queuePassesSeen = g_system.pumpQueuePasses;
    return result == 0;
}
}  // namespace

// Two polls: the application's pumps before it reads, the pump's (at every pump's end) only
// reads. While the application's poll is under way, the polls its pump reaches (at the pump's
// end, or from a message it dispatches) read nothing: the application's poll reads right after.
int32_t PollKeyboardState()
{
    if (s_polling || !UseDirectInputKeyboard()) {
        // GetKeyboardState reads the calling thread's view of the keys, which only the pump,
        // under the library lock on the window's thread, keeps current.
        return 0;
    }
    const uint32_t now = ReadMillisecondClock();
    if (!DirectInputReadDue(now)) {
        return 0;
    }
    s_polling = 1;
    const int32_t result = PumpBeforeRead() ? ReadDirectInputKeys(now) : 0;
    s_polling = 0;
    return result;
}

int32_t PollKeyboardFromPump()
{
    if (s_polling) {
        return 0;
    }
    const uint32_t now = ReadMillisecondClock();
    if (UseDirectInputKeyboard()) {
        return DirectInputReadDue(now) && g_system.quit != 1 ? ReadDirectInputKeys(now) : 0;
    }
    if (now == g_input.lastPollTime) {
        return 0;
    }
    g_input.lastPollTime = now;
    return g_system.quit != 1 ? ReadWindowsKeys() : 0;
}

namespace {
// Input that is not running (ended by a device restart) starts again on the next query,
// unless the window is closing. StartInput's result, or -1 while closing.
int32_t RestartInput() { return IsClosePosted() ? -1 : StartInput(); }
}  // namespace

int TestKeyPressed(int dikCode)
{
    WaitUntilWindowActive();
    if (g_input.object == nullptr) {
        // The key reads as up whether or not input starts again.
        RestartInput();
        return 0;
    }
    if (dikCode < 0 || dikCode >= kKeyTableSize) {
        return 0;
    }
    PollKeyboardState();
    return (g_input.keys[dikCode] & 0x80) != 0 ? 1 : 0;
}

namespace {
// True when the pad effects may be served: DirectInput started, not joystick-only.
bool EffectsServed() { return HasDirectInput(); }

// Starts or stops the effect when what it should do changed since it was last told.
void TellEffect(void* effect, int32_t play, int32_t* playing)
{
    if (effect == nullptr || play == *playing) {
        return;
    }
    if (play) {
        Di()->startEffect(effect, 1, 0);
    } else {
        Di()->stopEffect(effect);
    }
    *playing = play;
}
}  // namespace

int32_t UpdatePadEffectsForActivity()
{
    if (!EffectsServed()) {
        return 0;
    }
    const bool active = IsWindowActive() != 0;
    for (int i = 0; i < g_input.padCount; ++i) {
        PadRecord& pad = g_input.pads[i];
        // An inactive window's pads fall silent; the strong shake adds the sine.
        const bool on = active && pad.vibrationOn;
        TellEffect(pad.constantForce, on ? 1 : 0, &pad.constantPlaying);
        TellEffect(pad.sine, on && pad.power > 5000 ? 1 : 0, &pad.sinePlaying);
    }
    return 0;
}

namespace {
// The pad record of a pad number from 1 (bit 0x1000, the keyboard flag, ignored), or null.
PadRecord* PadOf(int input)
{
    const int number = input & ~0x1000;
    if (number < 1 || number > g_input.padCount || number > kMaxPads) {
        return nullptr;
    }
    return &g_input.pads[number - 1];
}
}  // namespace

int StopPadVibration(int input)
{
    WaitUntilWindowActive();
    if (g_input.object == nullptr) {
        RestartInput();
        return 0;
    }
    PadRecord* pad = PadOf(input);
    if (pad != nullptr && pad->device != nullptr && pad->constantForce != nullptr && pad->vibrationOn) {
        pad->vibrationOn = 0;
        pad->power = 10000;
        UpdatePadEffectsForActivity();
    }
    return 0;
}

int StartPadVibration(int input, int power, int durationMs)
{
    WaitUntilWindowActive();
    if (g_input.object == nullptr && RestartInput() != 0) {
        return -1;
    }
    PadRecord* pad = PadOf(input);
    if (!HasDirectInput() || pad == nullptr || pad->device == nullptr || pad->constantForce == nullptr) {
        return -1;
    }
    power = power < 0 ? 0 : (power > 1000 ? 1000 : power);
    if (power == 0) {
        return StopPadVibration(input);
    }
    pad->vibrationOn = 1;
    pad->power = power * 10;
    pad->duration = durationMs < 0 ? -1 : durationMs;
    pad->elapsed = 0;
    pad->lastTime = static_cast<int32_t>(ReadMillisecondClock());
    UpdatePadEffectsForActivity();
    return 0;
}

int32_t UpdatePadVibrationTimeouts()
{
    if (!EffectsServed()) {
        return 0;
    }
    const int32_t now = static_cast<int32_t>(ReadMillisecondClock());
    for (int i = 0; i < g_input.padCount; ++i) {
        PadRecord& pad = g_input.pads[i];
        if (pad.device == nullptr || !pad.vibrationOn || pad.duration < 0) {
            continue;
        }
        if (now != pad.lastTime) {
            if (now < pad.lastTime) {
                pad.lastTime = now;  // the clock wrapped
            }
            pad.elapsed += now - pad.lastTime;
            pad.lastTime = now;
        }
        if (pad.elapsed >= pad.duration) {
            StopPadVibration(i + 1);
        }
    }
    return UpdatePadEffectsForActivity();
}

int32_t ReacquireInputDevices()
{
    if (!EffectsServed()) {
        return 0;
    }
    const int v = Version();
    const DWORD level = IsWindowActive() ? DISCL_EXCLUSIVE | DISCL_FOREGROUND : DISCL_NONEXCLUSIVE | DISCL_BACKGROUND;
    for (int i = 0; i < g_input.padCount; ++i) {
        PadRecord& pad = g_input.pads[i];
        if (pad.device == nullptr) {
            continue;
        }
        Di()->unacquire(pad.device, v);
        Di()->setCooperativeLevel(pad.device, v, QueryMainWindow(), level);
        Di()->acquire(pad.device, v);
    }
    if (g_input.keyboard != nullptr) {
        Di()->unacquire(g_input.keyboard, v);
        Di()->acquire(g_input.keyboard, v);
    }
    return 0;
}

// ---- Pad and mouse queries

namespace {
int32_t ScaleJoystickAxis(DWORD position, int32_t low, int32_t high)
{
    if (high <= low) {
        return 0;
    }
    const int64_t centred = static_cast<int64_t>(position) * 2 - low - high;
    return static_cast<int32_t>(centred * 1000 / (high - low));
}

// Reads the pad's state into its record; 0, or -1 when it could not be read.
int ReadPad(int number, DIJOYSTATE* state)
{
    PadRecord& pad = g_input.pads[number - 1];
    if (JoystickOnly()) {
        JOYINFOEX info{};
        info.dwSize = sizeof(info);
        info.dwFlags = JOY_RETURNALL;
        if (CurrentJoystickApi()->getPosEx(static_cast<UINT>(number - 1), &info) != JOYERR_NOERROR) {
            return -1;
        }
        std::memset(state, 0, sizeof(*state));
        state->lX = ScaleJoystickAxis(info.dwXpos, pad.rangeMin[0], pad.rangeMax[0]);
        state->lY = ScaleJoystickAxis(info.dwYpos, pad.rangeMin[1], pad.rangeMax[1]);
        for (int b = 0; b < 32; ++b) {
            state->rgbButtons[b] = (info.dwButtons >> b) & 1 ? 0x80 : 0;
        }
        state->rgdwPOV[0] = info.dwPOV == JOY_POVCENTERED ? 0xFFFFFFFF : info.dwPOV;
        std::memcpy(pad.state, state, sizeof(*state));
        return 0;
    }
    if (pad.device == nullptr) {
        return -1;
    }
    const int v = Version();
    Di()->poll(pad.device, v);
    if (FAILED(Di()->getDeviceState(pad.device, v, sizeof(*state), state))) {
        Di()->acquire(pad.device, v);
        if (FAILED(Di()->getDeviceState(pad.device, v, sizeof(*state), state))) {
            return -1;
        }
    }
    std::memcpy(pad.state, state, sizeof(*state));
    return 0;
}

int PadNumberOf(int input)
{
    const int number = input & 0xFFF;
    return number >= 1 && number <= g_input.padCount && number <= kMaxPads ? number : 0;
}
}  // namespace

int QueryPadCount()
{
    if (g_input.object == nullptr) {
        RestartInput();
    }
    return JoystickOnly() ? g_input.joystickCount : g_input.padCount;
}

int QueryPadInputState(int pad)
{
    WaitUntilWindowActive();
    if (g_input.object == nullptr && RestartInput() != 0) {
        return 0;
    }
    uint32_t bits = 0;
    const int number = PadNumberOf(pad);
    DIJOYSTATE state;
    if (number != 0 && ReadPad(number, &state) == 0) {
        bits |= state.lY > 500 ? kPadDown : 0;
        bits |= state.lX < -500 ? kPadLeft : 0;
        bits |= state.lX > 500 ? kPadRight : 0;
        bits |= state.lY < -500 ? kPadUp : 0;
        const DWORD pov = state.rgdwPOV[0];
        if (LOWORD(pov) != 0xFFFF) {
            // Eight directions in hundredths of a degree, clockwise from up.
            const int sector = static_cast<int>(((pov % 36000) + 2250) / 4500) % 8;
            static const uint32_t kPovBits[8] = {kPadUp,   kPadUp | kPadRight,  kPadRight, kPadRight | kPadDown,
                                                 kPadDown, kPadDown | kPadLeft, kPadLeft,  kPadLeft | kPadUp};
            bits |= kPovBits[sector];
        }
        for (int b = 0; b < 28; ++b) {
            if (state.rgbButtons[b] & 0x80) {
                bits |= 1u << (4 + b);
            }
        }
    }
    if (pad & 0x1000) {
        PollKeyboardState();
        const int mapNumber = pad & 0xFFF;
        const int map = mapNumber >= 1 && mapNumber <= kMaxPads ? mapNumber - 1 : 0;
        bits |= PadKeyMapState(g_input.keyMap[map], g_input.keys);
    }
    return static_cast<int>(bits);
}

int QueryPadAnalogInput(int* x, int* y, int pad)
{
    if (x != nullptr) {
        *x = 0;
    }
    if (y != nullptr) {
        *y = 0;
    }
    if (g_input.object == nullptr && RestartInput() != 0) {
        return -1;
    }
    const int number = PadNumberOf(pad);
    DIJOYSTATE state;
    if (number == 0 || ReadPad(number, &state) != 0) {
        return -1;
    }
    if (x != nullptr) {
        *x = state.lX;
    }
    if (y != nullptr) {
        *y = state.lY;
    }
    return 0;
}

int QueryMouseButtons()
{
    if (g_input.mouse != nullptr) {
        DIMOUSESTATE state;
        const int v = Version();
        if (SUCCEEDED(Di()->getDeviceState(g_input.mouse, v, sizeof(state), &state)) ||
            (SUCCEEDED(Di()->acquire(g_input.mouse, v)) &&
             SUCCEEDED(Di()->getDeviceState(g_input.mouse, v, sizeof(state), &state)))) {
            return ((state.rgbButtons[0] & 0x80) ? kMouseLeft : 0) | ((state.rgbButtons[1] & 0x80) ? kMouseRight : 0) |
                   ((state.rgbButtons[2] & 0x80) ? kMouseMiddle : 0);
        }
    }
    if (g_input.mouseButtonsValid) {
        return ((g_input.mouseButtons[0] & 0x80) ? kMouseLeft : 0) |
               ((g_input.mouseButtons[1] & 0x80) ? kMouseRight : 0) |
               ((g_input.mouseButtons[2] & 0x80) ? kMouseMiddle : 0);
    }
    const bool swapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
    return ((GetAsyncKeyState(swapped ? VK_RBUTTON : VK_LBUTTON) & 0x8000) ? kMouseLeft : 0) |
           ((GetAsyncKeyState(swapped ? VK_LBUTTON : VK_RBUTTON) & 0x8000) ? kMouseRight : 0) |
           ((GetAsyncKeyState(VK_MBUTTON) & 0x8000) ? kMouseMiddle : 0);
}
