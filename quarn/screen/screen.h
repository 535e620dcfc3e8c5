// The screen: graphics start-up and shut-down with the fonts, the renderer's device, the draw
// target, present and its pacing, screen-mode changes, the display's modes and the on-screen
// log. It sits above the font layer because starting graphics starts the fonts, a mode change
// re-creates the standard font and every present draws the on-screen log. Windows build only.
#pragma once

#include <windows.h>

#include <ddraw.h>

#include <cstdint>

#include "quarn/graphics/graphics.h"
#include "quarn/system/system.h"

// The window timer that re-presents the front screen while it is the draw target.
constexpr UINT_PTR kFrontScreenTimerId = 32767;
constexpr UINT kFrontScreenTimerMs = 32;

// ---- Start, end and the device
int32_t InitializeGraphics();
int32_t ShutDownGraphics();
int32_t StartDirect3D();
int32_t ShutDownDirect3D();
int32_t CreateDirectDrawObject();
// The vertical-blank object, or null.
IDirectDraw7* GetDirectDrawObject();
// Zero-fills the record and returns it.
DDCAPS* ClearDirectDrawCaps(DDCAPS* caps);
// The run-time loaded "d3d9.dll", for the hardware back end.
HMODULE GetDirect3DModule();
// Releases the software screen images.
void ReleaseSoftwareScreen();
int32_t ResetDrawSettings();
int32_t IsFullScreenMode();
int32_t ReturnZero();

// ---- Present and its pacing
int32_t MeasureRefreshPeriod();
int32_t WaitForVerticalBlankPaced();
// The front-screen timer's work: re-presents while the front screen is the draw target.
void RefreshFrontScreen(HWND window, UINT message, UINT_PTR id, DWORD time);

// ---- Screen modes
int32_t ApplyScreenModeChange(int32_t width, int32_t height, int32_t bits, int32_t force, int32_t refresh);
// Redoes the screen mode with every value kept, forced (a window-mode change).
int32_t RedoScreenMode();
int32_t SwitchDisplaySettings();
int32_t IsDisplayModeListed(int32_t width, int32_t height, int32_t bits);
int32_t SetDisplayFallbackFlag(int32_t flag);
// Frees the display-mode list (it is built again on its next use).
void FreeDisplayModeList();

// ---- What the window's messages ask of the screen
// WM_PAINT after start-up: presents the area when the back screen is the draw target, without
// waiting for the vertical blank.
int32_t PaintScreenArea(const RECT* area);
int32_t HasDirectDraw();
int32_t HasGraphRestoreRoutine();

// ---- The on-screen log, drawn with a font of its own
int32_t SetUpScreenLog();
int32_t CreateScreenLogFont();
int32_t DrawScreenLog();
