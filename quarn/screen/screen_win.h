// Graphics services that take Windows types. Windows build only.
#pragma once

#include <windows.h>

#include <ddraw.h>

#include "quarn/graphics/graphics.h"

// The vertical-blank object, or null.
IDirectDraw7* GetDirectDrawObject();
// Zero-fills the record and returns it.
DDCAPS* ClearDirectDrawCaps(DDCAPS* caps);
// The front-screen timer's work: re-presents while the front screen is the draw target.
void RefreshFrontScreen(HWND window, UINT message, UINT_PTR id, DWORD time);
// Frees the display-mode list (it is built again on its next use).
void FreeDisplayModeList();
// Releases the software screen images.
void ReleaseSoftwareScreen();
// The run-time loaded "d3d9.dll", for the hardware back end.
HMODULE GetDirect3DModule();
