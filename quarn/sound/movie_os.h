// The calls under the movie handles, kept narrow so that the movie operations build and run
// natively too: the library clock, the DirectShow and DirectDraw-overlay interfaces, the main
// window's visible area, and the few kernel calls of destroy and close. movie_os_win.cpp makes
// them; tests install tables of their own with stand-in interfaces and a clock they set.
#pragma once

#include <cstdint>

#include "quarn/core/rect.h"

struct IUnknown;

struct MovieOsApi {
    // The library clock in microseconds (ReadMicrosecondClock(0)).
    int64_t (*readClock)();
    // IUnknown Release.
    void (*release)(IUnknown* object);
    // IMediaControl Run and Pause.
    void (*run)(IUnknown* mediaControl);
    void (*pause)(IUnknown* mediaControl);
    // IMediaSeeking: the current position (100 ns units), and the rewind to position 0
    // (SetPositions with absolute positioning, the stop position left alone).
    int64_t (*currentPosition)(IUnknown* mediaSeeking);
    void (*rewind)(IUnknown* mediaSeeking);
    // IDirectDrawSurface7 UpdateOverlay onto the primary surface; null rectangles when hiding.
    void (*updateOverlay)(IUnknown* surface, const PixelRect* source, const PixelRect* destination, uint32_t flags);
    // 1 in window mode.
    int32_t (*isWindowed)();
    // GetClipBox on the main window's device context: its region kind (1 none, 2 simple,
    // 3 complex, 0 error) and the box in client coordinates.
    int32_t (*windowClipBox)(PixelRect* box);
    // The draw area (the client rectangle below the tool bar) in screen coordinates.
    void (*drawAreaScreenRect)(PixelRect* rect);
    void (*deleteFile)(const wchar_t* path);
    // CloseHandle for the event and the decoding thread.
    void (*closeHandle)(void* handle);
    void (*sleep)(uint32_t milliseconds);
};

constexpr uint32_t kOverlayShow = 0x4000;  // DDOVER_SHOW
constexpr uint32_t kOverlayHide = 0x200;   // DDOVER_HIDE

// The system's calls: COM, DirectDraw and the window in the Windows build; in the native build
// a table whose clock stands still, whose window is full-screen and whose calls do nothing.
const MovieOsApi* SystemMovieOsApi();
// Install a table (null restores the system's calls); the previous table is returned.
const MovieOsApi* SetMovieOsApi(const MovieOsApi* api);
const MovieOsApi* CurrentMovieOsApi();
