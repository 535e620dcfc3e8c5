// The runtime: the library's start-up and shut-down sequences, the per-pass work of the message
// pump and the window messages that belong to the layers below it. It is the one part that
// knows every subsystem and calls each directly, in the order their start, end and pass work
// need, and composes graphics with the fonts. Its public entries (InitializeLibrary,
// PumpLibraryMessages, ChangeWindowMode, ConfigureScreenMode and the presents) are declared in
// quarn/quarn.h. Windows build only.
#pragma once

#include <windows.h>

#include <cstdint>

// The whole start-up, in its fixed order; the caller holds the library lock. 0, or -1
// when the window, input or graphics could not start (or the screen is 24-bit).
int32_t RunLibraryStartUp();
// Ends every subsystem in the reverse order of start-up. Does nothing before start-up has
// completed. Always 0.
int32_t RunLibraryShutDown();

// Fills the window's handler registry with the runtime's pump work and the handlers of the
// messages of sound and network (start-up does so before it makes the window).
void RegisterRuntimeWindowHandlers();
// The handlers of the messages that the screen answers (paint and display change) and of the
// front-screen timer; start-up registers them as graphics starts.
void RegisterScreenWindowHandlers();

// ---- Graphics with the fonts
// Graphics start (already started: 0 at once), then the font system's start. On failure
// graphics are ended again (the fonts first) and -1 returned.
int32_t InitializeGraphics();
// The fonts end, then graphics. Always 0.
int32_t ShutDownGraphics();
// A screen-mode change: -1 keeps a value. With force 0 an unchanged mode does nothing. Graphics
// restart in the new mode (falling back to 640 x 480, then the old mode, then 640 x 480 x 16;
// none working is a fatal error) and the standard font is made again as it was. 0.
int32_t ApplyScreenModeChange(int32_t width, int32_t height, int32_t bits, int32_t force, int32_t refresh);
// Redoes the screen mode with every value kept, forced (a window-mode change).
int32_t RedoScreenMode();
// Ends the device and starts it again, with the mode given (mode change 1; -1 keeps a value)
// or the current one (0), and brings graphs, fonts and device states back. When the device
// does not come back, graphics end and start again on the software screen (graphs are lost);
// when not even that starts, the fatal exit. Always 0.
int32_t RestartGraphicsDevice(int32_t modeChange, int32_t width, int32_t height, int32_t bits, int32_t refresh);
// A lost device: RestartGraphicsDevice(0, -1, -1, -1, -1).
int32_t RestartDeviceKeepingMode();
// WM_PAINT after start-up: presents the area when the back screen is the draw target, without
// waiting for the vertical blank.
int32_t PaintScreenArea(const RECT* area);
// The front-screen timer's work: re-presents while the front screen is the draw target.
void CALLBACK RefreshFrontScreen(HWND window, UINT message, UINT_PTR id, DWORD time);
