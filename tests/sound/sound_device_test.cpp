// The sound device's start and end on the system's DirectSound (ALSA's null device in the
// tests) and the sound thread. The thread's passes are watched through a software buffer
// over the stand-in device, whose play-cursor reads count the feeding steps; the device's
// own cursor is never timed.
#include <windows.h>

#include <dsound.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/quarn.h"
#include "quarn/runtime/runtime.h"
#include "quarn/sound/sound.h"
#include "quarn/system/system.h"
#include "tests/core/log_capture.h"
#include "tests/sound/fake_sound_device.h"
#include "tests/wait_scale.h"

namespace {

// The run without any sound device (wine.sound_without_device) sets this.
bool IsNoDeviceRun()
{
    wchar_t value[4] = {};
    return GetEnvironmentVariableW(L"QUARN_NO_AUDIO", value, 4) > 0 && value[0] == L'1';
}

// Waits up to five seconds (scaled) for the device's play-cursor reads to reach count.
bool WaitForReads(const FakeBuffer& device, int count)
{
    const DWORD start = GetTickCount();
    while (device.positionReads < count && GetTickCount() - start < scaled_wait_ms(5000)) {
        Sleep(10);
    }
    return device.positionReads >= count;
}

bool HasEnded(HANDLE thread) { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }

// Each case starts COM and nothing else; it shuts the sound system down if it is still up.
class SoundDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (IsNoDeviceRun()) {
            GTEST_SKIP() << "this run has no sound device";
        }
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        device.bytes.assign(64, 0);
    }
    void TearDown() override
    {
        if (IsNoDeviceRun()) {
            return;
        }
        if (IsSoundSystemStarted()) {
            ShutDownSoundSystem();
        }
        g_system.quit = 0;
        SetSoundOsApi(nullptr);
        CoUninitialize();
    }

    // A player over the stand-in device, fed by every pass of the sound thread.
    void AddPlayer()
    {
        SetSoundOsApi(FakeSoundDevice());
        auto* p = static_cast<SoftwareMixBuffer*>(AllocTrackedMemoryZeroed(sizeof(SoftwareMixBuffer), "", 0));
        p->kind = 1;
        p->format = WaveFormat{1, 2, 44100, 176400, 4, 16, 0};
        p->playback.present = 1;
        p->playback.directSoundBuffer = AsDevice(&device);
        p->bufferSize = 64;
        p->endPosition = -1;
        p->lead = 16;
        p->active = 1;
        ASSERT_GE(AddSoftwareMixBuffer(p), 0);
    }

    // A second handle on the sound thread, to see it end after the state has let it go.
    static HANDLE WatchThread()
    {
        HANDLE copy = nullptr;
        DuplicateHandle(GetCurrentProcess(), static_cast<HANDLE>(g_soundSystem.soundThread), GetCurrentProcess(), &copy,
                        SYNCHRONIZE, FALSE, 0);
        return copy;
    }

    FakeBuffer device;
    LogCapture log;
};

std::wstring Formatted(const wchar_t* format, ...)
{
    wchar_t text[1024];
    va_list arguments;
    va_start(arguments, format);
    vswprintf(text, 1024, format, arguments);
    va_end(arguments);
    return std::wstring(text) + L"\n";
}

// The capability lines as the device's capabilities give them.
std::vector<std::wstring> CapabilityLines(const DSCAPS& c)
{
    auto on = [&](DWORD flag) { return (c.dwFlags & flag) != 0 ? L"OK" : L"NO"; };
    return {
        Formatted(L"最大サンプリングレート:%.2fKHz 最小サンプリングレート:%.2fKHz ",
                  c.dwMaxSecondarySampleRate / 1000.0, c.dwMinSecondarySampleRate / 1000.0),
        Formatted(L"総サウンドメモリ領域:%.2fKB 空きサウンドメモリ領域:%.2fKB \n", c.dwTotalHwMemBytes / 1024.0,
                  c.dwFreeHwMemBytes / 1024.0),
        L"利用可能サンプリング精度\n",
        Formatted(L" プライマリ １６bit = %ls  ８bit = %ls ", on(0x8), on(0x4)),
        Formatted(L" セカンダリ １６bit = %ls  ８bit = %ls \n", on(0x800), on(0x400)),
        L"利用可能チャンネル\n",
        Formatted(L" プライマリ MONO = %ls  STEREO = %ls ", on(0x1), on(0x2)),
        Formatted(L" セカンダリ MONO = %ls  STEREO = %ls \n", on(0x100), on(0x200)),
    };
}

TEST_F(SoundDeviceTest, StartsOnTheDeviceAndShutsDownWithEveryLogLine)
{
    ASSERT_EQ(StartSoundSystem(), 0);
    ASSERT_TRUE(IsSoundSystemStarted());
    DSCAPS caps{};
    caps.dwSize = sizeof(caps);
    ASSERT_EQ(g_soundSystem.directSound->GetCaps(&caps), DS_OK);

    const std::vector<std::wstring> opening = {L"DirectSound の初期化を行います\n",
                                               L"DirectSound インターフェースの取得を行います....  ",
                                               L"成功\n",
                                               L"引き続きインターフェースの初期化処理...  ",
                                               L"成功\n",
                                               L"DirectSound デバイスを列挙します\n"};
    const std::vector<std::wstring>& t = log.texts;
    ASSERT_GT(t.size(), opening.size() + 9);
    EXPECT_EQ(std::vector<std::wstring>(t.begin(), t.begin() + opening.size()), opening);
    // One line per device, the default device first, its module name 15 wide.
    size_t at = opening.size();
    EXPECT_EQ(t[at], L"モジュール名:" + std::wstring(15 + 2, L' ') + L"ドライバ記述:Primary Sound Driver \n");
    while (at < t.size() && t[at].rfind(L"モジュール名:", 0) == 0) {
        ++at;
    }
    ASSERT_EQ(t.size(), at + 9);
    EXPECT_EQ(std::vector<std::wstring>(t.begin() + at, t.begin() + at + 8), CapabilityLines(caps));
    EXPECT_EQ(t.back(), L"DirectSound の初期化は正常に終了しました\n");

    // The primary buffer has the format the capabilities choose.
    WAVEFORMATEX primary{};
    ASSERT_EQ(g_soundSystem.primaryBuffer->GetFormat(&primary, sizeof(primary), nullptr), DS_OK);
    const WaveFormat chosen = PrimaryBufferFormat(caps.dwFlags, caps.dwMaxSecondarySampleRate);
    EXPECT_EQ(primary.nChannels, chosen.channels);
    EXPECT_EQ(primary.wBitsPerSample, chosen.bitsPerSample);
    EXPECT_EQ(primary.nSamplesPerSec, chosen.samplesPerSecond);

    // The silent buffer loops 100 frames of zeros.
    ASSERT_NE(g_soundSystem.silentBuffer, nullptr);
    DWORD status = 0;
    ASSERT_EQ(g_soundSystem.silentBuffer->GetStatus(&status), DS_OK);
    EXPECT_EQ(status & (DSBSTATUS_PLAYING | DSBSTATUS_LOOPING), DWORD{DSBSTATUS_PLAYING | DSBSTATUS_LOOPING});
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD bytes1 = 0;
    DWORD bytes2 = 0;
    ASSERT_EQ(g_soundSystem.silentBuffer->Lock(0, 400, &part1, &bytes1, &part2, &bytes2, 0), DS_OK);
    EXPECT_EQ(bytes1 + bytes2, 400u);
    EXPECT_EQ(std::string(static_cast<char*>(part1), bytes1), std::string(bytes1, '\0'));
    g_soundSystem.silentBuffer->Unlock(part1, bytes1, part2, bytes2);

    ASSERT_NE(g_soundSystem.soundThread, nullptr);
    EXPECT_EQ(GetThreadPriority(static_cast<HANDLE>(g_soundSystem.soundThread)), THREAD_PRIORITY_TIME_CRITICAL);

    // Started: a second start changes nothing.
    IDirectSound* object = g_soundSystem.directSound;
    void* thread = g_soundSystem.soundThread;
    const size_t logged = t.size();
    EXPECT_EQ(StartSoundSystem(), -1);
    EXPECT_EQ(g_soundSystem.directSound, object);
    EXPECT_EQ(g_soundSystem.soundThread, thread);
    EXPECT_EQ(t.size(), logged);

    EXPECT_EQ(ShutDownSoundSystem(), 0);
    EXPECT_EQ(t.back(), L"DirectSound の終了処理は正常に終了しました\n");
    EXPECT_EQ(t.size(), logged + 1);
    EXPECT_FALSE(IsSoundSystemStarted());
    EXPECT_EQ(g_soundSystem.primaryBuffer, nullptr);
    EXPECT_EQ(g_soundSystem.silentBuffer, nullptr);
    EXPECT_EQ(g_soundSystem.soundThreadStop, 2);
    EXPECT_EQ(ShutDownSoundSystem(), -1) << "already down";
    EXPECT_EQ(t.size(), logged + 1);
}

// The thread makes a pass every 30 ms until shut-down, which returns only once it has gone.
// With the program ending (the quit flag set) the pump reports the end at once; shut-down
// must still wait for the thread, here caught in a slow pass.
TEST_F(SoundDeviceTest, TheThreadPassesUntilShutDownWhichWaitsForItToEnd)
{
    for (const bool ending : {false, true}) {
        SCOPED_TRACE(ending ? "quit flag set" : "running");
        device.positionReads = 0;
        device.released = 0;
        ASSERT_EQ(StartSoundSystem(), 0);
        AddPlayer();
        ASSERT_TRUE(WaitForReads(device, 3)) << "several passes";

        static HANDLE s_inPass;
        static volatile LONG s_passDone;
        s_inPass = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        s_passDone = 0;
        if (ending) {
            // The next pass stays in its feeding step a while.
            device.onPositionRead = [](FakeBuffer* b) {
                b->onPositionRead = nullptr;
                SetEvent(s_inPass);
                Sleep(150);
                s_passDone = 1;
            };
            ASSERT_EQ(WaitForSingleObject(s_inPass, scaled_wait_ms(5000)), WAIT_OBJECT_0);
            g_system.quit = 1;
        }
        const HANDLE thread = WatchThread();
        ASSERT_EQ(ShutDownSoundSystem(), 0);
        EXPECT_TRUE(HasEnded(thread)) << "the thread has gone before the lock was deleted";
        if (ending) {
            EXPECT_EQ(s_passDone, 1) << "the pass in progress finished first";
        }
        EXPECT_EQ(g_soundSystem.soundThreadStop, 2);
        EXPECT_EQ(device.released, 1) << "shut-down deleted the player";
        const int reads = device.positionReads;
        Sleep(100);
        EXPECT_EQ(device.positionReads, reads) << "no pass after shut-down";
        g_system.quit = 0;
        device.onPositionRead = nullptr;
        CloseHandle(thread);
        CloseHandle(s_inPass);
    }
}

// A started system that was shut down starts again with a thread that makes its passes.
TEST_F(SoundDeviceTest, StartsAgainAfterShutDown)
{
    ASSERT_EQ(StartSoundSystem(), 0);
    ASSERT_EQ(ShutDownSoundSystem(), 0);
    ASSERT_EQ(StartSoundSystem(), 0);
    AddPlayer();
    EXPECT_TRUE(WaitForReads(device, 3)) << "the second thread passes too";
    const HANDLE thread = WatchThread();
    EXPECT_FALSE(HasEnded(thread));
    EXPECT_EQ(ShutDownSoundSystem(), 0);
    EXPECT_TRUE(HasEnded(thread));
    CloseHandle(thread);
}

// A stop requested before the thread's first pass ends it before that pass.
TEST_F(SoundDeviceTest, AStopBeforeTheFirstPassEndsTheThreadAtOnce)
{
    // A started state by hand, so that the thread procedure runs on this thread alone.
    InitializeSoundLock();
    static int s_object;
    g_soundSystem.directSound = reinterpret_cast<IDirectSound*>(&s_object);
    MakeEmptyHandleChain(&g_soundSystem.mixHead, &g_soundSystem.mixTail);
    AddPlayer();
    g_soundSystem.soundThreadStop = 1;
    EXPECT_EQ(SoundThreadMain(nullptr), 0u);
    EXPECT_EQ(g_soundSystem.soundThreadStop, 2);
    EXPECT_EQ(device.positionReads, 0) << "no pass";
    EXPECT_EQ(DestroyOwnedMixBuffers(), 0);
    g_soundSystem.directSound = nullptr;
    g_soundSystem.soundThreadStop = 0;
    DeleteSoundLock();
}

// Run only without a sound device: start-up logs the failure and goes on, and every sound
// operation refuses.
TEST(SoundWithoutDevice, StartUpLogsTheFailureAndTheLibraryRunsOn)
{
    if (!IsNoDeviceRun()) {
        GTEST_SKIP() << "this run has a sound device";
    }
    LogCapture log;
    EnableLogFile(0);
    ChangeWindowMode(1);
    AssignWindowTitle(L"QuarnSoundWithoutDevice");
    ASSERT_EQ(InitializeLibrary(), 0);
    EXPECT_TRUE(log.Contains(L"DirectSound インターフェースの取得を行います....  "));
    EXPECT_TRUE(log.Contains(L"初期化に失敗しました\n"));
    EXPECT_FALSE(log.Contains(L"DirectSound の初期化は正常に終了しました\n"));
    EXPECT_FALSE(IsSoundSystemStarted());

    for (int round = 0; round < 2; ++round) {
        SoftwareMixBuffer record{};
        record.kind = 1;
        EXPECT_EQ(AddSoftwareMixBuffer(&record), -1);
        EXPECT_EQ(DestroySoftwareMixBuffer(MakeHandle(kHandleTypeSoftSoundBuffer, 1, 0), 1), -1);
        EXPECT_EQ(DestroyOwnedMixBuffers(), -1);
        EXPECT_EQ(DestroyUnownedMixBuffers(), -1);
        EXPECT_EQ(PollMidiPlayState(), -1);
        EXPECT_EQ(CloseWaveCapture(), -1);
        EXPECT_EQ(ShutDownSoundSystem(), -1);
        // Trying again fails the same way.
        EXPECT_EQ(StartSoundSystem(), -1);
    }
    EXPECT_EQ(PumpLibraryMessages(), 0) << "the library runs on";
    EXPECT_EQ(RunLibraryShutDown(), 0);
}

}  // namespace
