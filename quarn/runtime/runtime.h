// The runtime: the library's start-up and shut-down sequences, the per-pass work of the message
// pump and the window messages that belong to the layers below it. It is the one part that
// knows every subsystem and calls each directly, in the order their start, end and pass work
// need. The public entries (InitializeLibrary, PumpLibraryMessages, ChangeWindowMode) are in
// quarn/quarn.h. Windows build only.
#pragma once

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
// The handlers of the messages that the screen answers (paint and display change); start-up
// registers them as graphics starts.
void RegisterScreenWindowHandlers();
