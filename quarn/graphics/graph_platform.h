// What the portable graph and drawing code needs from the window and file layers. One source
// per platform implements it.
#pragma once

#include <cstdint>

// 1 once the library has started. The native build has no start-up and no window: drawing
// there counts as started.
int32_t GraphLibraryStarted();
// 1 once the program is to end (never in the native build).
int32_t GraphQuitRequested();
// Writes the full form of the path into out (units, terminator included); returns its length
// in units, or -1 when it does not fit or cannot be resolved.
int32_t GraphResolveFullPath(const wchar_t* path, wchar_t* out, int32_t units);
