#include "quarn/runtime/runtime.h"

#include <objbase.h>

#include "quarn/core/archive.h"
#include "quarn/core/core.h"
#include "quarn/core/files.h"
#include "quarn/font/font.h"
#include "quarn/graphics/graph.h"
#include "quarn/network/network.h"
#include "quarn/sound/sound.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/image/image.h"
#include "quarn/model/model.h"
#include "quarn/system/system.h"

// ---------------------------------------------------------------------------------------

static_assert(sizeof(SystemStateRecord::savedDirectory) / sizeof(wchar_t) >= kFilePathUnits,
              "the saved directory holds what the file table's get-current-directory writes");

namespace {

// The failure exit of the steps that may fail after the log has started. What the steps
// so far brought up (COM, the window, input, the sound device and its thread, part of
// graphics) goes down again, or a refused start-up would leave them running with nothing to
// end them: the shut-down sequence, which runs only over a started library, is run with the
// library counted as started. Each of its steps passes over what was never brought up.
int32_t FailStartUp()
{
    DiscardDirectDrawAhead();
    g_system.started = 1;
    RunLibraryShutDown();
    g_system.busy = 0;
    return -1;
}

// Full screen needs a display mode of the configured size; without one the window mode
// takes over, except for 320 x 240, which may be shown doubled at 640 x 480.
void CheckFullScreenSize()
{
    int32_t width = 0;
    int32_t height = 0;
    GetConfiguredScreenSize(&width, &height);
    bool listed = false;
    const int count = CountDisplayModes();
    for (int i = 0; i < count && !listed; ++i) {
        const DisplayModeEntry mode = FetchDisplayMode(i);
        listed = mode.width == width && mode.height == height;
    }
    const bool doubledSize = width == 320 && height == 240;
    if (!listed && !(doubledSize && IsHardwareRenderingRequested())) ChangeWindowMode(1);
    if (doubledSize && !g_system.windowed) {
        g_screenSettings.doubled = 1;
        g_screenSettings.width = kDefaultScreenWidth;
        g_screenSettings.height = kDefaultScreenHeight;
    }
}

void ShutDownForFatalExit() { RunLibraryShutDown(); }

// The desktop's colour depth as the display reports it.
int32_t QueryDesktopColorBits()
{
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return 0;
    const int32_t bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
    return bits;
}

}  // namespace

int InitializeLibrary()
{
    if (g_system.started) return 0;
    AcquireLibraryLock();
    const int32_t result = RunLibraryStartUp();
    ReleaseLibraryLock();
    return result;
}

int32_t RunLibraryStartUp()
{
    if (g_system.started) return 0;
    g_system.busy = 1;
    RegisterRuntimeWindowHandlers();

    if (!g_system.windowed) CheckFullScreenSize();
    BuildYuvToRgbTables();
    ReleaseIdleArchives();
    InstallFileFunctions(nullptr);
    GetCurrentDirectoryThroughTable(g_system.savedDirectory);

    SetLogFolder(g_system.savedDirectory);
    StartLogFile();

    // The screen code has no 24-bit path: neither a 24-bit desktop to draw a window on nor
    // a 24-bit full screen.
    if ((g_system.windowed && QueryDesktopColorBits() == 24) || GetConfiguredColorBits() == 24) {
        AppendLog(L"Ｑｕａｒｎライブラリは２４ビットカラーモードに対応していません\n");
        return -1;
    }

    // The vertical-blank object takes longest to make; it is made beside the steps up to
    // graphics start, which takes it.
    BeginDirectDrawAhead();

    ReadPerformanceCounterFrequency();

    LogSystemInformation();
    FillStreamFunctionTables();

    if (g_system.dwmModule == nullptr) {
        g_system.dwmModule = LoadLibraryW(L"dwmapi.dll");
        g_system.dwmEnableComposition = g_system.dwmModule != nullptr
                                            ? reinterpret_cast<void*>(
                                                  GetProcAddress(g_system.dwmModule, "DwmEnableComposition"))
                                            : nullptr;
    }

    InstallGraphRestoreHandler(nullptr);
    // From here a fatal error shuts the library down before the process ends.
    ArmFatalErrorExit(ShutDownForFatalExit);

    if (!g_system.comInitialised) {
        AppendLog(L"ＣＯＭの初期化... ");
        if (SUCCEEDED(CoInitialize(nullptr))) {
            AppendLog(L"成功しました\n");
            g_system.comInitialised = 1;
        } else {
            AppendLog(L"ＣＯＭの初期化に失敗しました\n");
        }
    }

    if (StartMainWindow() == -1) return FailStartUp();
    if (StartInput() == -1) return FailStartUp();
    StartSoundSystem();
    RegisterScreenWindowHandlers();
    if (InitializeGraphics() < 0) return FailStartUp();
    StartCharInput(PackScreenColor);

    g_system.started = 1;
    NoteLibraryStartupComplete(1);

    if (!g_system.windowed && !g_system.userWindowMode) BringWindowToFront(g_system.mainWindow, 1);

    SetUpScreenLog();
    SelectDrawTarget(kDrawTargetBackScreen);
    SelectDrawTarget(kDrawTargetFrontScreen);
    // The registry starts on the Direct3D path only; it tests that itself.
    StartModelSystem();

    g_system.busy = 0;
    return 0;
}

int32_t RunLibraryShutDown()
{
    if (!g_system.started) return 0;
    g_system.ending = 1;

    ScreenLogState* screenLog = GetScreenLogState();
    if (screenLog->setUp) {
        // The font layer raises the needed flag itself when it has deleted the font.
        if (!screenLog->fontNeeded) DestroyFontHandle(screenLog->fontHandle);
        screenLog->fontNeeded = 1;
        screenLog->fontHandle = -1;
        ResetScreenLogState();
    }
    ShutDownNetwork();
    EndCurrentMusic();
    ShutDownModelSystem();
    ShutDownGraphics();
    ShutDownInput();
    ShutDownSoundSystem();
    EndMainWindow();

    if (g_system.comInitialised) {
        CoUninitialize();
        AppendLog(L"ＣＯＭを終了... 完了\n");
        g_system.comInitialised = 0;
    }
    EndBaseImageHandles();

    g_system.started = 0;
    NoteLibraryStartupComplete(0);

    while (PumpWindowMessages() == 0 && !g_system.quit && !g_system.windowDestroyed) {
    }

    SetCurrentDirectoryThroughTable(g_system.savedDirectory);
    ReleaseIdleArchives();
    DumpMemoryRecords();

    if (g_system.dwmModule != nullptr) {
        FreeLibrary(g_system.dwmModule);
        g_system.dwmModule = nullptr;
        g_system.dwmEnableComposition = nullptr;
    }
    return 0;
}
