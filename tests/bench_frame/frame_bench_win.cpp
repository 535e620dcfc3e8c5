// One process of the frame benchmark, under Wine: Vornik's own start and frame on the
// Direct3D 9 device or on the software renderer (each asked for explicitly, whichever is the
// library's default), or an anchor beside them, a minimal Win32 program of our own that does
// the same frame with the plainest calls: a 300 x 60 window, its messages, the text drawn by
// GDI into a DIB when it changes, the F5 key read, paced the same way, with the same
// DirectDraw object made at start-up and the same looping silent DirectSound buffer that the
// library's sound start plays. "minimal" presents the DIB through GDI (the software
// renderer's like); "minimal-d3d9" has a Direct3D 9 device with the library's presentation
// parameters (COPY swap effect, lockable back buffer, one blank per present, frame latency 1)
// and each frame clears the back buffer, draws the text from a texture as quads the size of
// the text and presents (the device's like).
//
//   bench_vornik_frame.exe device|software|minimal|minimal-d3d9 paced|unpaced SECONDS [hold]
//
// It writes, one line each, for the driver that started it:
//   first-frame MS MAIN  the first frame with text is shown, MS after the process was made
//                        and MAIN milliseconds after main() began
//   measure              the measured span begins (after a short settling time)
//   sent STATES DRAWS PRIMITIVES SCENES   on the device, what the library sent it in the span:
//                        state and resource calls, draw calls, triangles, scenes begun
//   done FRAMES CPU_US WALL_US   the span's frames, this process's CPU time and its length
// With "hold" it then waits for its input to close before it ends, so that the driver takes
// its closing sample while every thread of the program still runs.
#include <windows.h>

#include <d3d9.h>
#include <ddraw.h>
#include <dsound.h>
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
#include "quarn/graphics/d3d9/device_state.h"
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
    if (created != nullptr) *created = FileTimeMicroseconds(creation);
    return FileTimeMicroseconds(kernel) + FileTimeMicroseconds(user);
}

void Say(const char* line)
{
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int64_t s_mainBegan = 0;
bool s_hold = false;

void ReportFirstFrame()
{
    int64_t created = 0;
    ProcessCpuMicroseconds(&created);
    const int64_t now = NowMicroseconds();
    char line[64];
    std::snprintf(line, sizeof(line), "first-frame %.1f %.1f", (now - created) / 1000.0, (now - s_mainBegan) / 1000.0);
    Say(line);
}

// What the library sends the device, counted on the way: its device calls are one table, and
// a copy that counts and forwards stands in for it while Vornik runs on the device.
enum SentKind { kSentStates, kSentDraws, kSentPrimitives, kSentScenes, kSentKinds };
long s_sent[kSentKinds] = {};
const DeviceCalls* s_deviceCalls = nullptr;
DeviceCalls s_countingCalls{};

template <typename Function>
struct Forward;
template <typename R, typename... A>
struct Forward<R (*)(A...)> {
    template <R (*DeviceCalls::*member)(A...), int kind>
    static R Call(A... a)
    {
        ++s_sent[kind];
        return (s_deviceCalls->*member)(a...);
    }
};

int32_t CountDraw(uint32_t type, uint32_t count, const void* vertices, uint32_t stride)
{
    ++s_sent[kSentDraws];
    s_sent[kSentPrimitives] += count;
    return s_deviceCalls->drawPrimitiveUp(type, count, vertices, stride);
}

int32_t CountIndexedDraw(uint32_t type, uint32_t vertexCount, uint32_t primitiveCount, const uint16_t* indices,
                         const void* vertices, uint32_t stride)
{
    ++s_sent[kSentDraws];
    s_sent[kSentPrimitives] += primitiveCount;
    return s_deviceCalls->drawIndexedPrimitiveUp(type, vertexCount, primitiveCount, indices, vertices, stride);
}

void CountDeviceCalls()
{
    s_deviceCalls = CurrentDeviceCalls();
    if (s_deviceCalls == nullptr) return;
    DeviceCalls& c = s_countingCalls;
    c = *s_deviceCalls;
#define QUARN_COUNTED(name, kind) \
    c.name = &Forward<decltype(DeviceCalls::name)>::template Call<&DeviceCalls::name, kind>
    QUARN_COUNTED(setRenderState, kSentStates);
    QUARN_COUNTED(setSamplerState, kSentStates);
    QUARN_COUNTED(setTextureStageState, kSentStates);
    QUARN_COUNTED(setTexture, kSentStates);
    QUARN_COUNTED(setTransform, kSentStates);
    QUARN_COUNTED(setViewport, kSentStates);
    QUARN_COUNTED(setScissorRect, kSentStates);
    QUARN_COUNTED(setFvf, kSentStates);
    QUARN_COUNTED(setRenderTarget, kSentStates);
    QUARN_COUNTED(unbindShaders, kSentStates);
    QUARN_COUNTED(setLight, kSentStates);
    QUARN_COUNTED(lightEnable, kSentStates);
    QUARN_COUNTED(setMaterial, kSentStates);
    QUARN_COUNTED(setVertexShaderConstantF, kSentStates);
    QUARN_COUNTED(setPixelShaderConstantF, kSentStates);
    QUARN_COUNTED(setVertexShaderConstantB, kSentStates);
    QUARN_COUNTED(lockBuffer, kSentStates);
    QUARN_COUNTED(unlockBuffer, kSentStates);
    QUARN_COUNTED(beginScene, kSentScenes);
#undef QUARN_COUNTED
    c.drawPrimitiveUp = CountDraw;
    c.drawIndexedPrimitiveUp = CountIndexedDraw;
    UseDeviceCalls(&c);
}

// Runs frame() for the settling time, then for the measured span, and reports the span.
template <typename Frame>
void MeasureFrames(double seconds, Frame frame)
{
    const DWORD settle = timeGetTime();
    while (timeGetTime() - settle < kSettleMs) frame();
    Say("measure");
    std::memset(s_sent, 0, sizeof(s_sent));
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
    if (s_deviceCalls != nullptr) {
        std::snprintf(line, sizeof(line), "sent %ld %ld %ld %ld", s_sent[kSentStates], s_sent[kSentDraws],
                      s_sent[kSentPrimitives], s_sent[kSentScenes]);
        Say(line);
    }
    std::snprintf(line, sizeof(line), "done %ld %lld %lld", frames, static_cast<long long>(cpu),
                  static_cast<long long>(wall));
    Say(line);
    if (s_hold) {
        while (std::fgetc(stdin) != EOF) {
        }
    }
}

// hardware: 1 the device, 0 the software renderer.
int RunVornik(int hardware, bool paced, double seconds)
{
    RunningTally tally;
    try {
        configure_vornik();
        RequestHardwareRendering(hardware);
        if (!paced) SetVerticalSyncWait(0);
        start_vornik();
        if (g_screenSettings.hardwareActive != hardware) {
            Say("vornik started on the other renderer");
            return 1;
        }
        if (hardware) CountDeviceCalls();
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

// ---- The anchors

// The looping silent buffer of the library's sound start, made the same way: the DirectSound
// object on the default device at priority level, the primary buffer in 16-bit stereo at
// 44100 Hz, and 100 frames of silence playing in a loop until the process ends.
IDirectSound* StartSilentSound()
{
    void* object = nullptr;
    if (FAILED(CoCreateInstance(CLSID_DirectSound, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER, IID_IDirectSound,
                                &object))) {
        return nullptr;
    }
    IDirectSound* sound = static_cast<IDirectSound*>(object);
    if (FAILED(sound->Initialize(nullptr)) || sound->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY) != DS_OK) {
        sound->Release();
        return nullptr;
    }
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = 176400;
    DSBUFFERDESC description{};
    description.dwSize = sizeof(description);
    description.dwFlags = DSBCAPS_PRIMARYBUFFER;
    IDirectSoundBuffer* primary = nullptr;
    if (sound->CreateSoundBuffer(&description, &primary, nullptr) == DS_OK) {
        primary->SetFormat(&format);
    }
    description.dwFlags = DSBCAPS_GLOBALFOCUS | DSBCAPS_STATIC;
    description.dwBufferBytes = 100 * format.nBlockAlign;
    description.lpwfxFormat = &format;
    IDirectSoundBuffer* silent = nullptr;
    if (sound->CreateSoundBuffer(&description, &silent, nullptr) == DS_OK) {
        void* part1 = nullptr;
        void* part2 = nullptr;
        DWORD bytes1 = 0;
        DWORD bytes2 = 0;
        if (silent->Lock(0, description.dwBufferBytes, &part1, &bytes1, &part2, &bytes2, 0) == DS_OK) {
            std::memset(part1, 0, bytes1);
            if (part2 != nullptr) {
                std::memset(part2, 0, bytes2);
            }
            silent->Unlock(part1, bytes1, part2, bytes2);
            silent->Play(0, 0, DSBPLAY_LOOPING);
        }
    }
    return sound;
}

// The vertex of the device anchor's quads: pre-transformed, coloured and textured, as the
// library's.
struct QuadVertex {
    float x, y, z, rhw;
    D3DCOLOR colour;
    float u, v;
};
constexpr DWORD kQuadFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
// The part of the text picture that the two lines cover, drawn as one quad each.
constexpr int kTextWidth = 140;
constexpr int kLineHeight = 22;

struct Minimal {
    HWND window = nullptr;
    HDC memory = nullptr;
    HBITMAP dib = nullptr;
    uint32_t* pixels = nullptr;
    BITMAPINFO info{};
    HFONT font = nullptr;
    IDirectDraw7* draw = nullptr;
    IDirectSound* sound = nullptr;
    IDirect3DDevice9Ex* device = nullptr;   // the device anchor's
    IDirect3DTexture9* text = nullptr;      // the text picture, refilled when it changes
    IDirect3DTexture9* textTwin = nullptr;  // its copy in system memory, which is filled (an Ex
                                            // device has no managed pool), as the library's
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
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart / frequency.QuadPart * 1000000 +
           now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

// The device with the library's presentation parameters and frame latency.
bool StartMinimalDevice(Minimal& m)
{
    IDirect3D9Ex* direct3d = nullptr;
    if (FAILED(Direct3DCreate9Ex(D3D_SDK_VERSION, &direct3d))) return false;
    D3DDISPLAYMODE desktop{};
    direct3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &desktop);
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = kWidth;
    pp.BackBufferHeight = kHeight;
    pp.BackBufferFormat = desktop.Format;
    pp.BackBufferCount = 1;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    pp.hDeviceWindow = m.window;
    pp.Windowed = TRUE;
    pp.PresentationInterval = m.paced ? D3DPRESENT_INTERVAL_ONE : D3DPRESENT_INTERVAL_IMMEDIATE;
    HRESULT made = direct3d->CreateDeviceEx(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, m.window,
                                            D3DCREATE_MIXED_VERTEXPROCESSING, &pp, nullptr, &m.device);
    if (FAILED(made)) {
        made = direct3d->CreateDeviceEx(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, m.window,
                                        D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, nullptr, &m.device);
    }
    direct3d->Release();
    if (FAILED(made)) return false;
    m.device->SetMaximumFrameLatency(1);
    if (FAILED(m.device->CreateTexture(256, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &m.text, nullptr)) ||
        FAILED(m.device->CreateTexture(256, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &m.textTwin, nullptr)))
        return false;
    m.device->SetFVF(kQuadFvf);
    m.device->SetTexture(0, m.text);
    m.device->SetRenderState(D3DRS_LIGHTING, FALSE);
    m.device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    m.device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    m.device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    m.device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    m.device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    m.device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    return true;
}

bool StartMinimal(Minimal& m, bool device)
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
    if (m.window == nullptr) return false;
    m.sound = StartSilentSound();

    // The pacing object, made as the library makes it: bound to no window, since under Wine
    // one bound to the window a Direct3D 9 device presents to takes turns with the device at
    // every present.
    void* object = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_DirectDraw7, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectDraw7, &object))) {
        m.draw = static_cast<IDirectDraw7*>(object);
        m.draw->Initialize(nullptr);
        m.draw->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
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
    if (device && !StartMinimalDevice(m)) return false;
    return m.pixels != nullptr;
}

// The text's picture into the texture, white with the drawn coverage as alpha.
void FillTextTexture(Minimal& m)
{
    D3DLOCKED_RECT locked{};
    if (FAILED(m.textTwin->LockRect(0, &locked, nullptr, 0))) return;
    for (int y = 0; y < 64; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch);
        for (int x = 0; x < 256; ++x) {
            const uint32_t coverage = x < kWidth && y < kHeight ? m.pixels[y * kWidth + x] & 0xFF : 0;
            row[x] = coverage << 24 | 0xFFFFFF;
        }
    }
    m.textTwin->UnlockRect(0);
    m.device->UpdateTexture(m.textTwin, m.text);
}

void DrawTextQuads(Minimal& m)
{
    m.device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    m.device->BeginScene();
    for (int line = 0; line < 2; ++line) {
        const float top = 10.0f + 20.0f * line;
        const float x0 = 9.5f, x1 = 9.5f + kTextWidth, y0 = top - 0.5f, y1 = top - 0.5f + kLineHeight;
        const float u0 = 10.0f / 256, u1 = (10.0f + kTextWidth) / 256;
        const float v0 = top / 64, v1 = (top + kLineHeight) / 64;
        const QuadVertex quad[4] = {{x0, y0, 0, 1, 0xFFFFFFFF, u0, v0},
                                    {x1, y0, 0, 1, 0xFFFFFFFF, u1, v0},
                                    {x0, y1, 0, 1, 0xFFFFFFFF, u0, v1},
                                    {x1, y1, 0, 1, 0xFFFFFFFF, u1, v1}};
        m.device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(QuadVertex));
    }
    m.device->EndScene();
}

void RunMinimalFrame(Minimal& m)
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) m.quit = true;
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
        if (m.device != nullptr) FillTextTexture(m);
    }
    if (m.device != nullptr) DrawTextQuads(m);
    if (m.paced) {
        // The deadline one period after the last, waited for in one sleep.
        const int64_t now = CounterMicroseconds();
        m.due = now - (m.due + m.period) >= m.period ? now : m.due + m.period;
        if (m.due > now) Sleep(static_cast<DWORD>((m.due - now + 999) / 1000));
    }
    if (m.device != nullptr) {
        m.device->PresentEx(nullptr, nullptr, nullptr, nullptr, 0);
    } else {
        HDC dc = GetDC(m.window);
        BitBlt(dc, 0, 0, kWidth, kHeight, m.memory, 0, 0, SRCCOPY);
        ReleaseDC(m.window, dc);
    }
    if (GetKeyState(VK_F5) & 0x8000) m.started = timeGetTime();
}

int RunMinimal(bool device, bool paced, double seconds)
{
    Minimal m;
    m.paced = paced;
    if (!StartMinimal(m, device)) {
        Say("minimal could not start");
        return 1;
    }
    RunMinimalFrame(m);
    ReportFirstFrame();
    MeasureFrames(seconds, [&] { RunMinimalFrame(m); });
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    s_mainBegan = NowMicroseconds();
    if (argc < 4) {
        std::fputs("usage: bench_vornik_frame device|software|minimal|minimal-d3d9 paced|unpaced SECONDS [hold]\n",
                   stderr);
        return 2;
    }
    const std::string program = argv[1];
    const bool paced = std::string(argv[2]) == "paced";
    const double seconds = std::atof(argv[3]);
    s_hold = argc > 4 && std::string(argv[4]) == "hold";
    if (program == "device" || program == "software") return RunVornik(program == "device" ? 1 : 0, paced, seconds);
    if (program == "minimal" || program == "minimal-d3d9") return RunMinimal(program == "minimal-d3d9", paced, seconds);
    return 2;
}
