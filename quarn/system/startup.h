// The library's start-up and shut-down sequences and the fatal exit: what they offer the
// rest of the library. The public entry, InitializeLibrary, is in quarn/quarn.h.
#pragma once

#include <cstdint>

// The whole start-up, in its fixed order; the caller holds the library lock. 0, or -1
// when the window, input or graphics could not start (or the screen is 24-bit).
int32_t RunLibraryStartUp();
// Ends every subsystem in the reverse order of start-up. Does nothing before start-up has
// completed. Always 0.
int32_t RunLibraryShutDown();

// Logs the message, shuts the library down, tears down the library lock and ends the
// process with exit code -1.
[[noreturn]] void FatalErrorExit(const wchar_t* message);
// The same with a printf-style message (%ls for wide strings), cut to 1,024 units.
[[noreturn]] void FatalErrorExitFormat(const wchar_t* format, ...);
