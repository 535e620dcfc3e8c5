// The sound device's start and end on DirectSound, and the sound thread that every 30 ms
// feeds the software buffers under the sound lock.
#include <windows.h>

#include <dsound.h>

#include "quarn/core/core.h"
#include "quarn/sound/sound.h"
#include "quarn/system/system.h"

namespace {

constexpr DWORD kSoundThreadSleepMs = 30;
constexpr DWORD kStopPollMs = 2;
constexpr DWORD kSilentBufferFrames = 100;

// Stop flag values: the thread runs, shut-down asks it to stop, the thread is ending.
constexpr int32_t kThreadRuns = 0;
constexpr int32_t kThreadToStop = 1;
constexpr int32_t kThreadEnding = 2;

// A start-up step that leaves the sound system not started: its log line, the DirectSound
// object released. The lock goes too, so that a later start makes a fresh one instead of
// initialising a live critical section a second time.
int32_t FailStart(const wchar_t* line)
{
    AppendLog(line);
    if (g_soundSystem.directSound != nullptr) {
        g_soundSystem.directSound->Release();
        g_soundSystem.directSound = nullptr;
    }
    DeleteSoundLock();
    return -1;
}

void ReleaseDeviceBuffer(IDirectSoundBuffer** buffer)
{
    if (*buffer != nullptr) {
        (*buffer)->Stop();
        (*buffer)->Release();
        *buffer = nullptr;
    }
}

DSBUFFERDESC BufferDescription(DWORD flags, DWORD bytes, WAVEFORMATEX* format)
{
    DSBUFFERDESC description{};
    description.dwSize = sizeof(DSBUFFERDESC);
    description.dwFlags = flags;
    description.dwBufferBytes = bytes;
    description.lpwfxFormat = format;
    return description;
}

WAVEFORMATEX ToSystemFormat(const WaveFormat& f)
{
    WAVEFORMATEX w{};
    w.wFormatTag = f.formatTag;
    w.nChannels = f.channels;
    w.nSamplesPerSec = f.samplesPerSecond;
    w.nAvgBytesPerSec = f.averageBytesPerSecond;
    w.nBlockAlign = f.blockAlign;
    w.wBitsPerSample = f.bitsPerSample;
    w.cbSize = f.extraSize;
    return w;
}

// A looping buffer of silence that plays from start-up to shut-down.
void StartSilentBuffer()
{
    const bool software = g_soundSystem.softwarePrimary != 0;
    WAVEFORMATEX format = ToSystemFormat(WaveFormat{1, 2, 44100, 176400, 4, 16, 0});
    DSBUFFERDESC description = BufferDescription(DSBCAPS_GLOBALFOCUS |
                                                     (software ? DSBCAPS_LOCSOFTWARE : DSBCAPS_STATIC),
                                                 kSilentBufferFrames * format.nBlockAlign, &format);
    if (g_soundSystem.directSound->CreateSoundBuffer(&description, &g_soundSystem.silentBuffer, nullptr) != DS_OK) {
        g_soundSystem.silentBuffer = nullptr;
        AppendLog(L"無音バッファの作成に失敗しました");
        return;
    }
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD bytes1 = 0;
    DWORD bytes2 = 0;
    if (g_soundSystem.silentBuffer->Lock(0, description.dwBufferBytes, &part1, &bytes1, &part2, &bytes2, 0) != DS_OK) {
        AppendLog(L"無音バッファのロックに失敗しました");
        g_soundSystem.silentBuffer->Release();
        g_soundSystem.silentBuffer = nullptr;
        return;
    }
    FillBytes(part1, 0, bytes1 & ~1u);
    if (part2 != nullptr) {
        FillBytes(part2, 0, bytes2 & ~1u);
    }
    g_soundSystem.silentBuffer->Unlock(part1, bytes1, part2, bytes2);
    g_soundSystem.silentBuffer->Play(0, 0, DSBPLAY_LOOPING);
}

const wchar_t* Flag(DWORD flags, DWORD flag) { return (flags & flag) != 0 ? L"OK" : L"NO"; }

void LogCapabilities(const DSCAPS& caps)
{
    AppendLogFormat(L"最大サンプリングレート:%.2fKHz 最小サンプリングレート:%.2fKHz ",
                    static_cast<double>(caps.dwMaxSecondarySampleRate) / 1000.0,
                    static_cast<double>(caps.dwMinSecondarySampleRate) / 1000.0);
    AppendLogFormat(L"総サウンドメモリ領域:%.2fKB 空きサウンドメモリ領域:%.2fKB \n",
                    static_cast<double>(caps.dwTotalHwMemBytes) / 1024.0,
                    static_cast<double>(caps.dwFreeHwMemBytes) / 1024.0);
    AppendLog(L"利用可能サンプリング精度\n");
    AppendLogFormat(L" プライマリ １６bit = %ls  ８bit = %ls ", Flag(caps.dwFlags, DSCAPS_PRIMARY16BIT),
                    Flag(caps.dwFlags, DSCAPS_PRIMARY8BIT));
    AppendLogFormat(L" セカンダリ １６bit = %ls  ８bit = %ls \n", Flag(caps.dwFlags, DSCAPS_SECONDARY16BIT),
                    Flag(caps.dwFlags, DSCAPS_SECONDARY8BIT));
    AppendLog(L"利用可能チャンネル\n");
    AppendLogFormat(L" プライマリ MONO = %ls  STEREO = %ls ", Flag(caps.dwFlags, DSCAPS_PRIMARYMONO),
                    Flag(caps.dwFlags, DSCAPS_PRIMARYSTEREO));
    AppendLogFormat(L" セカンダリ MONO = %ls  STEREO = %ls \n", Flag(caps.dwFlags, DSCAPS_SECONDARYMONO),
                    Flag(caps.dwFlags, DSCAPS_SECONDARYSTEREO));
}

using DirectSoundEnumerateFunction = HRESULT(WINAPI*)(LPDSENUMCALLBACKW, void*);

// One log line per sound device, then the device's capabilities. A missing DSOUND.DLL or
// listing function leaves both out; the log indent is back where it was in every case.
void ListDevicesAndCapabilities()
{
    PushLogIndent();
    DSCAPS caps{};
    caps.dwSize = sizeof(DSCAPS);
    g_soundSystem.directSound->GetCaps(&caps);
    AppendLog(L"DirectSound デバイスを列挙します\n");
    PushLogIndent();
    HMODULE library = LoadLibraryA("DSOUND.DLL");
    if (library == nullptr) {
        AppendLog(L"DSOUND.DLL のロードに失敗しました\n");
        PopLogIndent();
        PopLogIndent();
        return;
    }
    auto enumerate = reinterpret_cast<DirectSoundEnumerateFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "DirectSoundEnumerateW")));
    if (enumerate == nullptr) {
        FreeLibrary(library);
        AppendLog(L"DirectSound デバイスの列挙用関数のポインタ取得に失敗しました\n");
        PopLogIndent();
        PopLogIndent();
        return;
    }
    enumerate(ListSoundDeviceCallback, nullptr);
    PopLogIndent();
    LogCapabilities(caps);
    PopLogIndent();
    FreeLibrary(library);
}

}  // namespace

BOOL CALLBACK ListSoundDeviceCallback(GUID*, const wchar_t* description, const wchar_t* module, void*)
{
    AppendLogFormat(L"モジュール名:%15ls  ドライバ記述:%ls ", module != nullptr ? module : L"",
                    description != nullptr ? description : L"");
    return TRUE;
}

DWORD WINAPI SoundThreadMain(void*)
{
    // It runs only while the flag says so: a request to stop that came before its first pass
    // ends it before that pass.
    while (g_soundSystem.soundThreadStop == kThreadRuns) {
        RunSoundThreadPass();
        Sleep(kSoundThreadSleepMs);
    }
    g_soundSystem.soundThreadStop = kThreadEnding;
    return 0;
}

int32_t StartSoundSystem()
{
    if (IsSoundSystemStarted()) {
        return -1;
    }
    InitializeSoundLock();
    AppendLog(L"DirectSound の初期化を行います\n");
    AppendLog(L"DirectSound インターフェースの取得を行います....  ");
    // In-process server and handler and local server.
    constexpr DWORD kClassContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;
    void* object = nullptr;
    if (FAILED(CoCreateInstance(CLSID_DirectSound, nullptr, kClassContext, IID_IDirectSound, &object))) {
        g_soundSystem.directSound = nullptr;
        return FailStart(L"DirectSoundインターフェースの作成に失敗しました\n");
    }
    g_soundSystem.directSound = static_cast<IDirectSound*>(object);
    AppendLog(L"成功\n");
    AppendLog(L"引き続きインターフェースの初期化処理...  ");
    if (FAILED(g_soundSystem.directSound->Initialize(nullptr))) {
        return FailStart(L"初期化に失敗しました\n");
    }
    AppendLog(L"成功\n");
    if (g_soundSystem.directSound->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY) != DS_OK) {
        return FailStart(L"DirectSoundの協調レベルの設定に失敗しました\n");
    }

    const bool software = g_soundSystem.softwarePrimary != 0;
    DSBUFFERDESC primary = BufferDescription(DSBCAPS_PRIMARYBUFFER | (software ? DSBCAPS_LOCSOFTWARE : 0), 0, nullptr);
    if (g_soundSystem.directSound->CreateSoundBuffer(&primary, &g_soundSystem.primaryBuffer, nullptr) != DS_OK) {
        g_soundSystem.primaryBuffer = nullptr;
        return FailStart(L"DirectSoundのプライマリサウンドバッファの作成に失敗しました\n");
    }
    DSCAPS caps{};
    caps.dwSize = sizeof(DSCAPS);
    g_soundSystem.directSound->GetCaps(&caps);
    WAVEFORMATEX format = ToSystemFormat(PrimaryBufferFormat(caps.dwFlags, caps.dwMaxSecondarySampleRate));
    if (FAILED(g_soundSystem.primaryBuffer->SetFormat(&format))) {
        AppendLog(L"DirectSoundのプライマリサウンドバッファのフォーマット設定に失敗しました\n");
    }
    StartSilentBuffer();

    MakeEmptyHandleChain(&g_soundSystem.streamHead, &g_soundSystem.streamTail);
    MakeEmptyHandleChain(&g_soundSystem.mixHead, &g_soundSystem.mixTail);
    ListDevicesAndCapabilities();
    DestroyAllSoundHandles(0);
    DestroyUnownedMixBuffers();
    DestroyOwnedMixBuffers();

    // A shut-down leaves the flag at "ending"; a thread started on it would end at once.
    g_soundSystem.soundThreadStop = kThreadRuns;
    DWORD id = 0;
    g_soundSystem.soundThread = CreateThread(nullptr, 0, SoundThreadMain, nullptr, CREATE_SUSPENDED, &id);
    g_soundSystem.soundThreadId = id;
    SetThreadPriority(g_soundSystem.soundThread, THREAD_PRIORITY_TIME_CRITICAL);
    ResumeThread(g_soundSystem.soundThread);

    AppendLog(L"DirectSound の初期化は正常に終了しました\n");
    return 0;
}

int32_t ShutDownSoundSystem()
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    g_soundSystem.soundThreadStop = kThreadToStop;
    int32_t pumped = PumpWindowMessages();
    while (pumped == 0 && g_soundSystem.soundThreadStop == kThreadToStop) {
        Sleep(kStopPollMs);
        pumped = PumpWindowMessages();
    }
    // The pump reports the program's end without waiting for the thread, which may still be
    // inside a pass: the lists and the lock below stay its own until it has gone.
    WaitForSingleObject(g_soundSystem.soundThread, INFINITE);
    CloseHandle(g_soundSystem.soundThread);
    g_soundSystem.soundThread = nullptr;
    g_soundSystem.soundThreadId = 0;

    CloseWaveCapture();
    DestroyAllSoundHandles(0);
    DestroyUnownedMixBuffers();
    DestroyOwnedMixBuffers();
    DestroyAllMidiHandles();
    if (g_soundSystem.tempMidiPath[0] != L'\0') {
        DeleteFileW(g_soundSystem.tempMidiPath);
    }
    DeleteSoundLock();
    ReleaseDeviceBuffer(&g_soundSystem.primaryBuffer);
    ReleaseDeviceBuffer(&g_soundSystem.silentBuffer);
    g_soundSystem.directSound->Release();
    g_soundSystem.directSound = nullptr;
    AppendLog(L"DirectSound の終了処理は正常に終了しました\n");
    return 0;
}
