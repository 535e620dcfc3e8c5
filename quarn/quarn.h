// The Quarn library: what an application calls.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------------------
// Window and message loop
// ---------------------------------------------------------------------------------------

// Processes waiting window messages (at most five a call) and the library's per-frame work.
// 0 to go on, -1 once the program is to end.
int PumpLibraryMessages();
// 1 windowed, 0 full screen. Before start-up only stores the wish.
int ChangeWindowMode(int windowed);
// The window's text (and, when set before start-up, its class name).
int AssignWindowTitle(const wchar_t* text);
// Icon resource of the window; 0 for the system's application icon.
int AssignWindowIcon(int id);
// 1: the program keeps running while its window is inactive.
int SetRunWhileInactive(int flag);
// The window-size factors; returns the horizontal one. Either pointer may be null.
double QueryWindowScaleRate(double* x, double* y);
// The mouse position on the screen picture. Either pointer may be null.
int QueryMousePosition(int* x, int* y);
// Copies the clipboard's text into dst (capacity units, terminator included; longer text
// is cut) and returns 0; with dst null returns the clipboard block's byte size + 1. -1
// when the clipboard holds no text or cannot be opened.
int GetClipboardText(wchar_t* dst, int capacity);
// Puts the text on the clipboard. 0, or -1 when it could not.
int SetClipboardText(const wchar_t* text);
// 1 shows, 0 hides the mouse cursor over the window; -1 re-applies the current wish.
int SetMouseCursorVisible(int flag);
