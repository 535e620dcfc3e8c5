// Runs Vornik.exe in a scratch folder of its own and talks to its window, as a user would.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A fresh, empty folder under the temporary directory; removed with its files at the end.
struct ScratchFolder {
    std::wstring path;
    ScratchFolder();
    ~ScratchFolder();
    std::wstring file(const wchar_t* name) const { return path + L"\\" + name; }
    void write(const wchar_t* name, const std::string& bytes) const;
    // The file's bytes; "<missing>" when it cannot be read.
    std::string read(const wchar_t* name) const;
};

struct VornikProcess {
    PROCESS_INFORMATION process{};
    HWND window = nullptr;

    // Starts Vornik.exe with folder as its working directory. False when it cannot start.
    // Held, it waits before its first instruction until resume().
    bool start(const std::wstring& folder, bool held = false);
    void resume();
    // True while the process runs.
    bool running();
    // The waits below take their times as at full speed on an idle machine and scale them
    // with the measured speed of this one (tests/wait_scale.h).
    // Waits until the process shows its top-level window titled "Vornik".
    bool wait_for_window(DWORD timeoutMs = 15000);
    // Waits until the main loop runs, so that the state file has been read and a close takes
    // the normal way out: the process runs, its own window is found, and that window shows
    // the tally and the hint on black with the tally moving on between two looks. A picture
    // that stands still proves nothing (a window that went may leave its pixels on the
    // screen for a while); one that moves comes from a loop that runs. False when the
    // process ends first or the time runs out.
    bool wait_until_running(DWORD timeoutMs = 30000);
    // Waits for the end; the exit code, or -1000 when it did not end in time (it is then
    // killed).
    long wait_for_exit(DWORD timeoutMs = 15000);
    // WM_CLOSE, as the close box sends it, then the exit code.
    long close();
    // F5 through the system's input queue, with the window in front. The key is held until
    // the program has gone through several passes of its loop.
    void press_f5();
    // The pixels of the window's client area as the screen shows them, 0x00RRGGBB, row by
    // row; width and height receive its size. Empty when it cannot be read.
    std::vector<std::uint32_t> capture_client(int* width, int* height);
    ~VornikProcess();
};

// A pixel of white text drawn on black (anti-aliased edges included).
inline bool is_ink(std::uint32_t px) { return (px & 0xFF) >= 0x40; }

// Vornik.exe as Wine sees it.
std::wstring vornik_path();

// The seconds since 1970 now.
std::int64_t now_seconds();
