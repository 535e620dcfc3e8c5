#include "tests/app/vornik_process.h"

#include <ctime>
#include <vector>

#include "tests/wait_scale.h"

// The program is in this build tree, which Wine reaches through Z:.
std::wstring vornik_path()
{
    std::wstring path = L"Z:" VORNIK_EXE;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

namespace {

struct FindWindowOf {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK match_window(HWND window, LPARAM user)
{
    auto* find = reinterpret_cast<FindWindowOf*>(user);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    if (owner == find->processId && std::wstring(title) == L"Vornik" && IsWindowVisible(window)) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

ScratchFolder::ScratchFolder()
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static unsigned counter = 0;
    path = std::wstring(base) + L"vornik-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter);
    CreateDirectoryW(path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder()
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryW(file(name.c_str()).c_str());
            else DeleteFileW(file(name.c_str()).c_str());
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

void ScratchFolder::write(const wchar_t* name, const std::string& bytes) const
{
    HANDLE h = CreateFileW(file(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
}

std::string ScratchFolder::read(const wchar_t* name) const
{
    HANDLE h = CreateFileW(file(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes(1 << 16, '\0');
    DWORD read = 0;
    ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(h);
    bytes.resize(read);
    return bytes;
}

bool VornikProcess::start(const std::wstring& folder, bool held)
{
    // The screen keeps what the last window showed, and a new window shows it too until it
    // paints: an earlier run's two text lines would read as this run's. Magenta is no picture
    // the program draws.
    HDC screen = GetDC(nullptr);
    HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
    const RECT all{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    FillRect(screen, &all, magenta);
    GdiFlush();
    DeleteObject(magenta);
    ReleaseDC(nullptr, screen);

    const std::wstring exe = vornik_path();
    std::vector<wchar_t> command(exe.begin(), exe.end());
    command.insert(command.begin(), L'"');
    command.push_back(L'"');
    command.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    return CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, held ? CREATE_SUSPENDED : 0, nullptr,
                          folder.c_str(), &startup, &process) != 0;
}

void VornikProcess::resume() { ResumeThread(process.hThread); }

bool VornikProcess::running()
{
    return process.hProcess != nullptr && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
}

bool VornikProcess::wait_for_window(DWORD timeoutMs)
{
    const DWORD limit = scaled_wait_ms(timeoutMs);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < limit) {
        FindWindowOf find{process.dwProcessId, nullptr};
        EnumWindows(match_window, reinterpret_cast<LPARAM>(&find));
        if (find.found != nullptr) {
            window = find.found;
            return true;
        }
        if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) return false;
    }
    return false;
}

namespace {

// The window's picture when it shows both text lines on black, else an empty one.
std::vector<std::uint32_t> picture_with_text(VornikProcess& vornik)
{
    int w = 0;
    int h = 0;
    std::vector<std::uint32_t> pixels = vornik.capture_client(&w, &h);
    if (w <= 10 || h <= 50 || pixels.size() != static_cast<std::size_t>(w) * h) return {};
    // Before the loop draws, the window is black or not painted at all.
    const bool black_corners = pixels.front() == 0 && pixels.back() == 0;
    bool ink[2] = {false, false};
    for (int line = 0; line < 2; ++line)
        for (int y = 10 + 20 * line; y < 30 + 20 * line && !ink[line]; ++y)
            for (int x = 10; x < w && !ink[line]; ++x) ink[line] = is_ink(pixels[static_cast<std::size_t>(y) * w + x]);
    if (!black_corners || !ink[0] || !ink[1]) return {};
    return pixels;
}

}  // namespace

bool VornikProcess::wait_until_running(DWORD timeoutMs)
{
    const DWORD limit = scaled_wait_ms(timeoutMs);
    const DWORD start = GetTickCount();
    if (window == nullptr && !wait_for_window(timeoutMs)) return false;
    std::vector<std::uint32_t> first;
    for (;;) {
        if (!IsWindow(window) || !running()) return false;
        const std::vector<std::uint32_t> now = picture_with_text(*this);
        if (first.empty()) first = now;
        else if (!now.empty() && now != first) return true;
        if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0 || GetTickCount() - start >= limit) return false;
    }
}

long VornikProcess::wait_for_exit(DWORD timeoutMs)
{
    if (process.hProcess == nullptr) return -1000;
    if (WaitForSingleObject(process.hProcess, scaled_wait_ms(timeoutMs)) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, scaled_wait_ms(5000));
        return -1000;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<long>(code);
}

long VornikProcess::close()
{
    PostMessageW(window, WM_CLOSE, 0, 0);
    return wait_for_exit();
}

void VornikProcess::press_f5()
{
    // Keys go to the window in front.
    const DWORD start = GetTickCount();
    while (GetForegroundWindow() != window && GetTickCount() - start < scaled_wait_ms(5000)) {
        SetForegroundWindow(window);
        Sleep(50);
    }
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_F5;
    input.ki.wScan = 0x3F;
    SendInput(1, &input, sizeof input);
    // A message sent to the window returns only once the program's loop next looks at its
    // queue, so after a few of them it has tested the key several times while it was down,
    // however slowly it runs. The key stays down a while in any case.
    const DWORD down = GetTickCount();
    for (int pass = 0; pass < 5; ++pass) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, scaled_wait_ms(5000), &answer);
    }
    const DWORD held = GetTickCount() - down;
    if (held < 300) Sleep(300 - held);
    input.ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
}

std::vector<std::uint32_t> VornikProcess::capture_client(int* width, int* height)
{
    std::vector<std::uint32_t> pixels;
    RECT client{};
    if (!GetClientRect(window, &client)) return pixels;
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const int w = client.right;
    const int h = client.bottom;
    *width = w;
    *height = h;
    // Read from the screen: what is shown there is what the user sees.
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY)) {
            GdiFlush();
            const auto* p = static_cast<const std::uint32_t*>(bits);
            pixels.assign(p, p + static_cast<std::size_t>(w) * h);
            for (std::uint32_t& px : pixels) px &= 0x00FFFFFF;
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

VornikProcess::~VornikProcess()
{
    if (process.hProcess != nullptr) {
        if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, scaled_wait_ms(5000));
        }
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
}

std::int64_t now_seconds() { return static_cast<std::int64_t>(_time64(nullptr)); }
