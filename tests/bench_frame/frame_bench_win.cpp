// One process of the frame benchmark, under Wine: Vornik's own start and frame on the
// Direct3D 9 device or on the software renderer (each asked for explicitly, whichever is the
// library's default), or the anchor beside them, a minimal Win32 program of our own that
// does the same frame with the plainest calls: a 300 x 60 window, its messages, the text
// drawn by GDI into a DIB, the DIB presented, the F5 key read; paced the same way, and with
// the same DirectDraw object made at start-up.
//
//   bench_vornik_frame.exe device|software|minimal paced|unpaced SECONDS
//
// It writes, one line each, for the driver that started it:
//   first-frame MS MAIN  the first frame with text is shown, MS after the process was made
//                        and MAIN milliseconds after main() began
//   measure              the measured span begins (after a short settling time)
//   done FRAMES CPU_US WALL_US   the span's frames, this process's CPU time and its length
#include <windows.h>

#include <ddraw.h>
#include <mmsystem.h>
#include <objbase.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "app/frame.h"
#include "app/qu.h"
#include "app/tally.h"
#include "quarn/core/screen_settings.h"
#include "quarn/quarn.h"

namespace {

constexpr int kWidth = 300;
constexpr int kHeight = 60;
constexpr DWORD kSettleMs = 500;

int64_t FileTimeMicroseconds(const FILETIME& t)
{
    return static_cast<int64_t>((uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime) / 10);
}

int64_t NowMicroseconds()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return FileTimeMicroseconds(now);
}

// This process's user and kernel time in microseconds; its creation time in *created.
int64_t ProcessCpuMicroseconds(int64_t* created = nullptr)
{
    FILETIME creation{}, exit{}, kernel{}, user{};
    GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
    if (created != nullptr)
        *created = FileTimeMicroseconds(creation);
    return FileTimeMicroseconds(kernel) + FileTimeMicroseconds(user);
}

void Say(const char* line)
{
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int64_t s_mainBegan = 0;

void ReportFirstFrame()
{
    int64_t created = 0;
    ProcessCpuMicroseconds(&created);
    const int64_t now = NowMicroseconds();
    char line[64];
    std::snprintf(line, sizeof(line), "first-frame %.1f %.1f", (now - created) / 1000.0, (now - s_mainBegan) / 1000.0);
    Say(line);
}

// Runs frame() for the settling time, then for the measured span, and reports the span.
template <typename Frame>
void MeasureFrames(double seconds, Frame frame)
{
    const DWORD settle = timeGetTime();
    while (timeGetTime() - settle < kSettleMs)
        frame();
    Say("measure");
    const int64_t cpu0 = ProcessCpuMicroseconds();
    const int64_t wall0 = NowMicroseconds();
    const int64_t span = static_cast<int64_t>(seconds * 1e6);
    long frames = 0;
    int64_t wall = 0;
    do {
        frame();
        ++frames;
        wall = NowMicroseconds() - wall0;
    } while (wall < span);
    const int64_t cpu = ProcessCpuMicroseconds() - cpu0;
    char line[96];
    std::snprintf(line, sizeof(line), "done %ld %lld %lld", frames, static_cast<long long>(cpu),
                  static_cast<long long>(wall));
    Say(line);
}

// hardware: 1 the device, 0 the software renderer.
int RunVornik(int hardware, bool paced, double seconds)
{
    RunningTally tally;
    try {
        configure_vornik();
        RequestHardwareRendering(hardware);
        if (!paced)
            SetVerticalSyncWait(0);
        start_vornik();
        if (g_screenSettings.hardwareActive != hardware) {
            Say("vornik started on the other renderer");
            return 1;
        }
        VornikFrame frame = begin_vornik_frames();
        run_vornik_frame(frame, tally);
        ReportFirstFrame();
        MeasureFrames(seconds, [&] { run_vornik_frame(frame, tally); });
    } catch (...) {
        Say("vornik ended early");
        return 1;
    }
    return 0;
}

// ---- The anchor

struct Minimal {
    HWND window = nullptr;
    HDC memory = nullptr;
    HBITMAP dib = nullptr;
    uint32_t* pixels = nullptr;
    BITMAPINFO info{};
    HFONT font = nullptr;
    IDirectDraw7* draw = nullptr;
    bool paced = true;
    int64_t period = 16666;  // microseconds
    int64_t due = 0;
    DWORD started = 0;
    DWORD shown = 0xFFFFFFFF;  // the seconds the picture shows
    bool quit = false;
};

LRESULT CALLBACK MinimalProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int64_t CounterMicroseconds()
{
    static LARGE_INTEGER frequency{};
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart / frequency.QuadPart * 1000000 + now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

bool StartMinimal(Minimal& m)
{
    timeBeginPeriod(1);
    CoInitialize(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = MinimalProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = L"MinimalFrame";
    RegisterClassW(&windowClass);
    RECT frame{0, 0, kWidth, kHeight};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRect(&frame, style, FALSE);
    m.window = CreateWindowW(L"MinimalFrame", L"Minimal", style | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                             frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                             windowClass.hInstance, nullptr);
    if (m.window == nullptr)
        return false;

    // The pacing object, made as the library makes it.
    void* object = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_DirectDraw7, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectDraw7, &object))) {
        m.draw = static_cast<IDirectDraw7*>(object);
        m.draw->Initialize(nullptr);
        m.draw->SetCooperativeLevel(m.window, DDSCL_NORMAL);
    }
    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);
    if (EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode) && mode.dmDisplayFrequency > 1)
        m.period = 1000000 / mode.dmDisplayFrequency;

    m.info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    m.info.bmiHeader.biWidth = kWidth;
    m.info.bmiHeader.biHeight = -kHeight;
    m.info.bmiHeader.biPlanes = 1;
    m.info.bmiHeader.biBitCount = 32;
    m.info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m.dib = CreateDIBSection(nullptr, &m.info, DIB_RGB_COLORS, &bits, nullptr, 0);
    m.pixels = static_cast<uint32_t*>(bits);
    m.memory = CreateCompatibleDC(nullptr);
    SelectObject(m.memory, m.dib);
    m.font = CreateFontW(20, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                         ANTIALIASED_QUALITY, DEFAULT_PITCH, L"meiryo");
    SelectObject(m.memory, m.font);
    SetTextColor(m.memory, RGB(255, 255, 255));
    SetBkMode(m.memory, TRANSPARENT);
    m.started = timeGetTime();
    return m.pixels != nullptr;
}

void RunMinimalFrame(Minimal& m)
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            m.quit = true;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // The picture is drawn anew when the clock's text changes, once a second.
    const DWORD seconds = (timeGetTime() - m.started) / 1000;
    if (seconds != m.shown) {
        m.shown = seconds;
        wchar_t text[32];
        std::swprintf(text, 32, L"0day %02u:%02u:%02u", seconds / 3600 % 24, seconds / 60 % 60, seconds % 60);
        std::memset(m.pixels, 0, sizeof(uint32_t) * kWidth * kHeight);
        TextOutW(m.memory, 10, 10, text, static_cast<int>(std::wcslen(text)));
        TextOutW(m.memory, 10, 30, L"[F5]Reset", 9);
        GdiFlush();
    }
    if (m.paced) {
        // The deadline one period after the last, waited for in one sleep.
        const int64_t now = CounterMicroseconds();
        m.due = now - (m.due + m.period) >= m.period ? now : m.due + m.period;
        if (m.due > now)
            Sleep(static_cast<DWORD>((m.due - now + 999) / 1000));
    }
    HDC dc = GetDC(m.window);
    BitBlt(dc, 0, 0, kWidth, kHeight, m.memory, 0, 0, SRCCOPY);
    ReleaseDC(m.window, dc);
    if (GetKeyState(VK_F5) & 0x8000)
        m.started = timeGetTime();
}

int RunMinimal(bool paced, double seconds)
{
    Minimal m;
    m.paced = paced;
    if (!StartMinimal(m)) {
        Say("minimal could not start");
        return 1;
    }
    RunMinimalFrame(m);
    ReportFirstFrame();
    MeasureFrames(seconds, [&] { RunMinimalFrame(m); });
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    s_mainBegan = NowMicroseconds();
    if (argc < 4) {
        std::fputs("usage: bench_vornik_frame device|software|minimal paced|unpaced SECONDS\n", stderr);
        return 2;
    }
    const std::string program = argv[1];
    const bool paced = std::string(argv[2]) == "paced";
    const double seconds = std::atof(argv[3]);
    if (program == "device" || program == "software")
        return RunVornik(program == "device" ? 1 : 0, paced, seconds);
    if (program == "minimal")
        return RunMinimal(paced, seconds);
    return 2;
}
