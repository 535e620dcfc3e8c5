// The library's start-up, shut-down and fatal exit, in this process.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <stdexcept>
#include <string>

#include "app/frame.h"
#include "app/qu.h"
#include "tests/core/alloc_sweep.h"

#include "quarn/core/core.h"
#include "quarn/core/screen_settings.h"
#include "quarn/quarn.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/runtime/runtime.h"
#include "quarn/font/font.h"
#include "quarn/sound/sound_state.h"
#include "quarn/system/input.h"
#include "quarn/system/system.h"

namespace {

struct LogRecorder {
    std::wstring text;
    LogRecorder() { SetLogCapture(&LogRecorder::add, this); }
    ~LogRecorder() { SetLogCapture(nullptr, nullptr); }
    static void add(const wchar_t* t, void* user) { static_cast<LogRecorder*>(user)->text += t; }
    bool has(const wchar_t* line) const { return text.find(line) != std::wstring::npos; }
    std::size_t at(const wchar_t* line) const { return text.find(line); }
};

struct LibraryStartUp : ::testing::Test {
    void SetUp() override
    {
        EnableLogFile(0);
        ChangeWindowMode(1);
        AssignWindowTitle(L"QuarnStartUpTest");
    }
};

TEST_F(LibraryStartUp, ShutDownBeforeStartUpDoesNothing)
{
    LogRecorder log;
    g_system.started = 0;
    g_system.ending = 0;
    EXPECT_EQ(RunLibraryShutDown(), 0);
    EXPECT_EQ(g_system.ending, 0);
    EXPECT_EQ(log.text, L"");
}

TEST_F(LibraryStartUp, TwentyFourBitScreenIsRefused)
{
    LogRecorder log;
    g_screenSettings.colorBits = 24;
    EXPECT_EQ(InitializeLibrary(), -1);
    // The application's wrapper turns the refusal into its exception.
    try {
        qu::init();
        ADD_FAILURE() << "qu::init returned";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "qu.init, fail to init. Quarn");
    }
    g_screenSettings.colorBits = 0;
    EXPECT_TRUE(log.has(L"２４ビットカラーモードに対応していません\n"));
    EXPECT_EQ(g_system.started, 0);
    EXPECT_EQ(g_system.busy, 1);  // this refusal ends before anything else is done
    EXPECT_EQ(g_system.mainWindow, nullptr);
}

TEST_F(LibraryStartUp, StartsOnceAndShutsDown)
{
    LogRecorder log;
    // The software screen keeps the configured 16 bits; a windowed device takes the desktop's.
    ASSERT_EQ(RequestHardwareRendering(0), 0);
    ASSERT_EQ(InitializeLibrary(), 0);
    EXPECT_EQ(g_system.started, 1);
    EXPECT_EQ(g_system.busy, 0);
    const HWND window = g_system.mainWindow;
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindow(window));
    wchar_t directory[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, directory);
    EXPECT_STREQ(g_system.savedDirectory, directory);
    // COM comes up before the window, the sound device after it.
    EXPECT_LT(log.at(L"ＣＯＭの初期化... "), log.at(L"二重起動"));
    ASSERT_TRUE(log.has(L"DirectSound の初期化は正常に終了しました\n"));
    EXPECT_LT(log.at(L"二重起動"), log.at(L"DirectSound の初期化を行います\n"));
    // Character input made its drawing colours in the screen's form: yellow and grey as the
    // 16-bit screen packs them, not as 0x00RRGGBB words.
    ASSERT_EQ(g_screenSettings.colorBits, 16);
    EXPECT_EQ(GetKeyInputColour(1), 0xFFE0u);
    EXPECT_EQ(GetKeyInputColour(14), PackScreenColor(128, 128, 128));
    EXPECT_NE(GetKeyInputColour(14), 0x808080u);

    // Started: a second call does nothing.
    const std::size_t logged = log.text.size();
    EXPECT_EQ(InitializeLibrary(), 0);
    EXPECT_EQ(log.text.size(), logged);

    // The shut-down ends the window and puts the working directory back.
    wchar_t elsewhere[MAX_PATH];
    GetTempPathW(MAX_PATH, elsewhere);
    SetCurrentDirectoryW(elsewhere);
    const bool com = g_system.comInitialised != 0;
    EXPECT_EQ(RunLibraryShutDown(), 0);
    EXPECT_EQ(g_system.started, 0);
    EXPECT_EQ(g_system.ending, 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(log.has(L"ＣＯＭを終了... 完了\n"), com);
    // The sound device ends before the window.
    ASSERT_TRUE(log.has(L"DirectSound の終了処理は正常に終了しました\n"));
    EXPECT_LT(log.at(L"DirectSound の終了処理は正常に終了しました\n"),
              log.at(L"ウインドウが破棄されようとしています\n"));
    wchar_t after[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, after);
    EXPECT_STREQ(after, directory);

    // Once down, a second shut-down writes nothing.
    const std::size_t ended = log.text.size();
    EXPECT_EQ(RunLibraryShutDown(), 0);
    EXPECT_EQ(log.text.size(), ended);
}

// Vornik asks for no renderer, so its screen comes up on the Direct3D 9 device, and its frame
// runs there.
TEST_F(LibraryStartUp, VornikRunsOnTheDevice)
{
    ResetScreenSettings();  // as in a fresh process: nothing asked for the software screen
    configure_vornik();
    start_vornik();
    EXPECT_EQ(g_screenSettings.hardwareActive, 1);
    EXPECT_NE(g_graphicsDevice.device, nullptr);
    EXPECT_EQ(GetDrawTarget(), -2);
    VornikFrame frame = begin_vornik_frames();
    RunningTally tally;
    for (int i = 0; i < 3; ++i) EXPECT_NO_THROW(run_vornik_frame(frame, tally));
    EXPECT_EQ(g_screenSettings.hardwareActive, 1);
    EXPECT_EQ(RunLibraryShutDown(), 0);
    AssignWindowIcon(0);  // the icon is Vornik's resource, which this program does not carry
}

// Times taken during start-up (the last vertical blank) must compare with those taken after
// it: the microsecond clock goes on without a jump when it turns to the processor clock, even
// when the processor's speed was measured high, as on a busy machine. Otherwise the first
// present waits until the new clock catches up, hours on a machine that has run for days.
TEST_F(LibraryStartUp, MicrosecondClockRunsOnWhenStartUpCompletes)
{
    ASSERT_EQ(InitializeLibrary(), 0);
    const uint64_t measured = g_systemCapability.processorClock;
    if (!g_systemCapability.timeStampCounterUsable || measured == 0) {
        RunLibraryShutDown();
        GTEST_SKIP() << "no time-stamp counter";
    }
    for (const uint64_t clock : {measured, measured + measured / 10, measured - measured / 10}) {
        g_systemCapability.processorClock = clock;
        NoteLibraryStartupComplete(0);
        const int64_t during = ReadMicrosecondClock(1);
        NoteLibraryStartupComplete(1);
        const int64_t after = ReadMicrosecondClock(1);
        EXPECT_GE(after, during) << clock;
        EXPECT_LT(after - during, 1000000) << clock;
    }
    g_systemCapability.processorClock = measured;
    EXPECT_EQ(RunLibraryShutDown(), 0);
}

// The application's frame looks at the message queue once: in its own pump call. Neither the
// keyboard poll of the pump's per-pass work nor the key test at the frame's end pumps again,
// while a key test with no pump call since its last look still serves the window.
TEST_F(LibraryStartUp, AFrameLooksAtTheMessageQueueOnce)
{
    SetRunWhileInactive(1);
    ASSERT_EQ(InitializeLibrary(), 0);
    // The keyboard as DirectInput reads it, the path that pumps before it reads.
    const int32_t osCode = g_systemCapability.osCode;
    g_systemCapability.osCode = kOsWinXP;
    ASSERT_NE(g_input.keyboard, nullptr);
    SelectDrawTarget(-2);
    for (int frame = 0; frame < 5; ++frame) {
        const uint32_t passes = g_system.pumpQueuePasses;
        ASSERT_EQ(PumpLibraryMessages(), 0);
        WipeDrawScreen(nullptr);
        PresentScreen();
        Sleep(2);  // a new millisecond: the key test reads the keyboard afresh
        TestKeyPressed(0x3F);
        EXPECT_EQ(g_system.pumpQueuePasses - passes, 1u) << "frame " << frame;
    }
    const uint32_t passes = g_system.pumpQueuePasses;
    for (uint32_t test = 1; test <= 3; ++test) {
        Sleep(2);
        TestKeyPressed(0x3F);
        EXPECT_EQ(g_system.pumpQueuePasses - passes, test);
    }
    g_systemCapability.osCode = osCode;
    SetRunWhileInactive(0);
    EXPECT_EQ(RunLibraryShutDown(), 0);
}

// Two slow steps run beside the others. The processor clock is measured over at least 100 ms:
// in the system report while the log is read, so that its line stands in its place, and
// otherwise beside the rest of the start-up; either way the result is the same clock. The
// DirectDraw object is made from the start on a thread of its own, and graphics start takes
// it, writing its lines where they always stood.
TEST_F(LibraryStartUp, SlowStepsRunBesideOthersAndKeepTheirPlaceInTheLog)
{
    uint64_t clocks[2] = {};
    for (int observed = 1; observed >= 0; --observed) {
        g_systemCapability.processorClock = 0;
        {
            LogRecorder log;
            if (!observed) SetLogCapture(nullptr, nullptr);
            ASSERT_EQ(InitializeLibrary(), 0);
            EXPECT_NE(GetDirectDrawObject(), nullptr);
            if (observed) {
                EXPECT_LT(log.at(L"ＯＳ  "), log.at(L"ＣＰＵ動作速度：大体"));
                EXPECT_LT(log.at(L"ＣＰＵ動作速度：大体"), log.at(L"ＣＯＭの初期化... "));
                EXPECT_LT(log.at(L"DirectInput関係初期化処理"),
                          log.at(L"DirectDraw オブジェクトの取得を行います....  成功\n"));
            }
        }
        clocks[observed] = g_systemCapability.processorClock;
        EXPECT_EQ(static_cast<uint64_t>(g_systemCapability.processorMhz), clocks[observed] / 1000000);
        EXPECT_EQ(RunLibraryShutDown(), 0);
    }
    if (!g_systemCapability.timeStampCounterUsable) GTEST_SKIP() << "no time-stamp counter";
    ASSERT_GT(clocks[1], 0u);
    const double ratio = static_cast<double>(clocks[0]) / static_cast<double>(clocks[1]);
    EXPECT_GT(ratio, 0.9);
    EXPECT_LT(ratio, 1.1);
}

// Full screen needs a display mode of the configured size; without one the window takes over.
TEST_F(LibraryStartUp, FullScreenWithoutSuchModeStartsWindowed)
{
    LogRecorder log;
    ChangeWindowMode(0);
    ConfigureScreenMode(123, 45, 32, 0);
    ASSERT_EQ(InitializeLibrary(), 0);
    EXPECT_EQ(g_system.windowed, 1);
    EXPECT_EQ(g_screenSettings.doubled, 0);
    RECT client{};
    GetClientRect(g_system.mainWindow, &client);
    EXPECT_EQ(client.right, 123);
    EXPECT_EQ(client.bottom, 45);
    EXPECT_EQ(RunLibraryShutDown(), 0);
    ConfigureScreenMode(640, 480, 16, 0);
}

// Whatever allocation fails during start-up, start-up is refused and leaves nothing up (no
// window, sound device, graphics, font, COM or block), or the library ends the program
// through its fatal exit where it is meant to (a handle's record). Whatever allocation fails
// during shut-down, the library still goes down whole.
void ExpectNothingUp(const char* when)
{
    EXPECT_EQ(g_system.started, 0) << when;
    EXPECT_TRUE(g_system.mainWindow == nullptr || !IsWindow(g_system.mainWindow)) << when << ": the window stayed";
    EXPECT_EQ(FindWindowW(nullptr, L"QuarnStartUpTest"), nullptr) << when << ": a window of the library stayed";
    EXPECT_FALSE(IsSoundSystemStarted()) << when << ": the sound device stayed";
    EXPECT_EQ(g_screenSettings.started, 0) << when << ": graphics stayed";
    EXPECT_EQ(GetFontTable()->liveCount, 0) << when << ": a font stayed";
    EXPECT_EQ(g_system.comInitialised, 0) << when << ": COM stayed initialised";
}

// Failures of a run in its own process reach the test through the error output.
struct FailuresToErrorOutput : ::testing::EmptyTestEventListener {
    void OnTestPartResult(const ::testing::TestPartResult& result) override
    {
        if (result.failed())
            std::fprintf(stderr, "%s:%d: %s\n", result.file_name() ? result.file_name() : "?", result.line_number(),
                         result.summary());
    }
};

// One run of the start-up sweep in a process of its own: a run may end the program.
void RunStartUpInItsOwnProcess(const test::AllocationSweep& sweep, uint32_t n, int onward, uint32_t requests)
{
    ::testing::UnitTest::GetInstance()->listeners().Append(new FailuresToErrorOutput);
    test::RunWithFailingAllocation(sweep, n, onward, requests);
    if (::testing::Test::HasFailure()) std::exit(1);
    std::fprintf(stderr, "%s\n", test::kSweepRunEnded);
    std::exit(0);
}

TEST_F(LibraryStartUp, StartUpAndShutDownWithAllocationsFailing)
{
    ASSERT_EQ(RequestHardwareRendering(0), 0);
    test::AllocationSweep startUp;
    startUp.name = "start-up";
    startUp.run = [] { return static_cast<int32_t>(InitializeLibrary()); };
    startUp.undo = [](int32_t) { EXPECT_EQ(RunLibraryShutDown(), 0); };
    // Start-up's steps have no line of their own for a shortage: the allocator's dump is
    // what the log shows.
    startUp.refusalLines = {L"Alloc memory dump"};
    startUp.nothingLeft = [] { ExpectNothingUp("after a refused start-up"); };
    startUp.fatalLines = {L"ライト用のメモリの確保に失敗しました", L"メモリの確保に失敗しました"};
    // Each run's process starts this test from the top: it takes the count its parent
    // measured from the environment rather than starting the library twice more.
    uint32_t requests = 0;
    wchar_t inherited[16] = {};
    if (GetEnvironmentVariableW(L"QUARN_SWEEP_REQUESTS", inherited, 16) > 0) {
        requests = static_cast<uint32_t>(std::wcstoul(inherited, nullptr, 10));
    } else {
        requests = test::CountSweepRequests(startUp);
        SetEnvironmentVariableW(L"QUARN_SWEEP_REQUESTS", std::to_wstring(requests).c_str());
    }
    ASSERT_GT(requests, 0u);
    const auto endedAsMeant = [](int code) { return code == 0 || code == -1; };
    for (int onward : {0, 1}) {
        for (uint32_t n = 1; n <= requests + 1; ++n) {
            EXPECT_EXIT(RunStartUpInItsOwnProcess(startUp, n, onward, requests), endedAsMeant, test::kSweepRunEnded)
                << "allocation " << n << (onward ? " and every later one" : "") << " of " << requests << " failing";
        }
    }
    SetEnvironmentVariableW(L"QUARN_SWEEP_REQUESTS", nullptr);

    test::AllocationSweep shutDown;
    shutDown.name = "shut-down";
    shutDown.canRefuse = false;
    shutDown.prepare = [] { ASSERT_EQ(InitializeLibrary(), 0); };
    shutDown.run = [] {
        EXPECT_EQ(RunLibraryShutDown(), 0);
        ExpectNothingUp("after a shut-down");
        return 0;
    };
    EXPECT_GT(test::SweepFailingAllocations(shutDown), 0u);
}

TEST(FatalExit, EndsTheProcessWithMinusOne)
{
    EXPECT_EXIT(FatalErrorExit(L"stop"), ::testing::ExitedWithCode(-1), "");
    EXPECT_EXIT(FatalErrorExitFormat(L"%ls %d", L"stop", 7), ::testing::ExitedWithCode(-1), "");
}

// The log as the dying process writes it, to its error output: ASCII as it is, line breaks as
// "<nl>", and the window's end as a marker.
void LogToErrorOutput(const wchar_t* text, void*)
{
    if (std::wstring(text) == L"ウインドウが破棄されようとしています\n") {
        std::fputs("WINDOW-ENDED", stderr);
        return;
    }
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (*p == L'\n') std::fputs("<nl>", stderr);
        else if (*p < 128) std::fputc(static_cast<char>(*p), stderr);
    }
}

void StartAndFail()
{
    EnableLogFile(0);
    ChangeWindowMode(1);
    AssignWindowTitle(L"QuarnFatalExitTest");
    if (InitializeLibrary() != 0) std::exit(3);
    SetLogCapture(LogToErrorOutput, nullptr);
    FatalErrorExitFormat(L"%ls %d", L"stop", 7);
}

// A fatal error writes its line, then takes the started library down before the process ends.
TEST(FatalExit, LogsAndShutsTheLibraryDown)
{
    EXPECT_EXIT(StartAndFail(), ::testing::ExitedWithCode(-1), "stop 7<nl>.*WINDOW-ENDED");
}

}  // namespace
