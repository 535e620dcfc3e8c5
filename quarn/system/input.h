// Keyboard, mouse and joypad input, the IME and key-input handles: what the window, the
// pump, the start-up sequence and the graphics device restart call.
#pragma once

#include <windows.h>

#include <cstdint>

#include "quarn/system/charinput.h"
#include "quarn/system/keymap.h"

// ---- Keyboard, mouse and joypads

struct PadRecord {
    void* device;
    void* constantForce;  // effects, null when the pad has none
    void* sine;
    HANDLE event;
    uint8_t state[80];                 // the last DIJOYSTATE read
    int32_t secondStick;               // WinMM: the joystick has both a Z and an R axis
    int32_t rangeMin[2], rangeMax[2];  // WinMM: X and Y ranges from the capabilities
    int32_t vibrationOn;
    int32_t power;     // 0 to 10000
    int32_t duration;  // milliseconds; negative = endless
    int32_t elapsed;
    int32_t lastTime;
    int32_t constantPlaying;
    int32_t sinePlaying;
    wchar_t instanceName[MAX_PATH];
    wchar_t productName[MAX_PATH];
    double factor;
};

struct InputState {
    // Settings kept across the input start.
    int32_t noDirectInput;                    // set by the start when neither version works
    int32_t directInputKeyboardOnNewSystems;  // use the DirectInput keyboard from Vista on too
    // Cleared by the start.
    int32_t directInput8;  // 1: the object is DirectInput 8, 0: DirectInput 7
    void* object;          // null before start, kJoystickOnlyObject in WinMM mode
    void* mouse;
    void* keyboard;
    HANDLE keyboardEvent;
    uint32_t lastPollTime;
    uint8_t keys[kKeyTableSize];
    PadKeyMapEntry keyMap[kMaxPads][kPadKeyMapEntries];
    uint8_t mouseButtons[3];  // left, right, middle from the last Windows poll
    int32_t mouseButtonsValid;
    int32_t padCount;       // in WinMM mode every joystick ID, so 16
    int32_t joystickCount;  // WinMM mode: the joysticks that answered at the start
    PadRecord pads[kMaxPads];
};
extern InputState g_input;
// Read the keyboard through GetKeyboardState only, never through DirectInput.
extern int32_t g_keyboardThroughWindowsOnly;

// Puts input back to that of a fresh process: the input record, the keyboard setting, and
// input and character input out of the window's and the pump's service. Devices are not
// released: end input first.
void ResetInputState();

// The object word in joystick-only (WinMM) mode.
#define kJoystickOnlyObject (reinterpret_cast<void*>(~static_cast<uintptr_t>(0)))

// 0, or -1 when the keyboard event cannot be set up.
int32_t StartInput();
int32_t ShutDownInput();
int32_t ReenumeratePads();  // 0, or -1 without a DirectInput object
int32_t ReleasePads();      // 0, or -1 without a DirectInput object
// 1 when the key table was refreshed, else 0. Outside the pump's own call (see
// PollKeyboardFromPump) only the DirectInput keyboard is read.
int32_t PollKeyboardState();
// The pump's keyboard poll: the pump runs under the library lock on the window's thread,
// the one place where GetKeyboardState sees the window's keys.
int32_t PollKeyboardFromPump();
int32_t UpdatePadVibrationTimeouts();
int32_t ReacquireInputDevices();
int32_t UpdatePadEffectsForActivity();

// ---- Character input, IME and key-input handles

constexpr int32_t kCompositionUnits = 512;
constexpr int32_t kClauseBytes = 1024;

struct ImeState {
    int32_t enabled;  // mirrors the last WINNLSEnableIME made here
    int32_t open;
    int32_t composing;
    wchar_t composition[kCompositionUnits];
    int32_t compositionCursor;  // in characters
    uint8_t clauses[kClauseBytes];
    int32_t clauseCount;
    wchar_t saved[kCompositionUnits];  // restored after activation
    int32_t restoreStep;               // 0 idle, 1 to 4
    CANDIDATELIST* candidates;         // tracked allocation, or null
    int32_t candidateBytes;
    int32_t messageSeen;
    int32_t openStatusGuard;
};
extern ImeState g_ime;

// The IME calls, replaceable by tests. WINNLSEnableIME has no prototype in the headers.
struct ImeApi {
    HIMC(WINAPI* getContext)(HWND window);
    BOOL(WINAPI* releaseContext)(HWND window, HIMC context);
    LONG(WINAPI* getCompositionString)(HIMC context, DWORD index, void* buffer, DWORD bytes);
    DWORD(WINAPI* getCandidateList)(HIMC context, DWORD index, CANDIDATELIST* list, DWORD bytes);
    BOOL(WINAPI* getOpenStatus)(HIMC context);
    BOOL(WINAPI* setOpenStatus)(HIMC context, BOOL open);
    BOOL(WINAPI* notify)(HIMC context, DWORD action, DWORD index, DWORD value);
    BOOL(WINAPI* setCompositionString)
    (HIMC context, DWORD index, const void* composition, DWORD bytes, const void* reading, DWORD readingBytes);
    BOOL(WINAPI* enable)(HWND window, BOOL enable);
};
// Null restores the real calls; the previous table is returned.
const ImeApi* SetImeApi(const ImeApi* api);

constexpr int32_t kKeyInputSlots = 256;
constexpr int32_t kKeyInputColours = 15;

// pack makes a colour value of the screen's form from 0-255 channels (the graphics layer's
// packing, handed down by the start-up); null packs 0x00RRGGBB.
int32_t StartCharInput(uint32_t (*pack)(int red, int green, int blue) = nullptr);
// Key-input drawing colour 0 to kKeyInputColours - 1, as made at the start; 0 outside.
uint32_t GetKeyInputColour(int32_t index);
int32_t ResetCursorBlink();
int32_t SetImeEnabled(int32_t flag);
int32_t EndKeyInput();
int32_t ProcessKeyInputStep();
LRESULT HandleImeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The window became active: restore the IME's composition at the next key-input step when
// the IME is enabled and open. Returns 0.
int32_t FlagImeRestore();
// 1 while character input keeps the IME switched on.
int32_t IsImeInUse();
// The restore steps flagged by FlagImeRestore, from the current step to the end. Returns 0.
int32_t RunImeRestore();
// Cancels the composition in the IME and here.
void CancelImeComposition();
