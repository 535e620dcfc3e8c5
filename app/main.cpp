// Vornik: a window with a running tally of elapsed time, kept across runs in "data.txt".
#include <windows.h>

#include <mmsystem.h>

#include <ctime>
#include <stdexcept>
#include <vector>

#include "app/qu.h"
#include "app/state_file.h"
#include "app/tally.h"
#include "lib/biginteger.h"
#include "quarn/quarn.h"

namespace {

constexpr wchar_t kStateFile[] = L"data.txt";

// 256 zero bytes built before WinMain and freed at exit; nothing reads or writes them.
std::vector<unsigned char> g_zeroBlock(256);
constexpr int kKeyF5 = 0x3F;

std::int64_t seconds_since_1970()
{
    return static_cast<std::int64_t>(_time64(nullptr));
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    RunningTally tally;
    // The file is replaced at the end only when it was read whole or was not there: a
    // second instance, a failed start or a damaged file leave it as it is.
    bool may_save = false;
    int result = 0;
    try {
        ConfigureScreenMode(300, 60, 32, 60);
        ChangeWindowMode(1);
        SetRunWhileInactive(1);
        EnableLogFile(0);
        AssignWindowTitle(L"Vornik");
        AssignWindowIcon(101);

        qu::init();
        SelectDrawTarget(-2);
        SetStandardFontThickness(0);
        SetStandardFontKind(2);  // anti-aliased

        lib::biginteger loaded;
        const StateLoad load = load_state(kStateFile, seconds_since_1970(), loaded);
        if (load == kStateRefused)
            throw std::runtime_error("data.txt holds no tally");
        set_running_tally(tally, loaded);
        may_save = true;

        const std::uint32_t white = PackScreenColor(255, 255, 255);
        DWORD last = timeGetTime();
        for (;;) {
            if (PumpLibraryMessages() == -1)
                throw qu::signal{};

            const DWORD now = timeGetTime();
            const DWORD delta = now - last;   // unsigned: a wrap of the clock still counts right
            advance_running_tally(tally, delta);
            last = now;

            WipeDrawScreen(nullptr);
            // Re-made only when a setting differs from the font's, so cheap to repeat.
            SetStandardFontFace(L"meiryo", -1);
            SetStandardFontSize(20);
            DrawTextWithStandardFont(10, 10, running_tally_text(tally).c_str(), white, 0);
            DrawTextWithStandardFont(10, 30, L"[F5]Reset", white, 0);
            PresentScreen();

            if (TestKeyPressed(kKeyF5))
                set_running_tally(tally, lib::biginteger{});
        }
    } catch (const qu::signal&) {
    } catch (...) {
        result = 1;
    }

    if (may_save &&
        write_state_file(kStateFile, format_state_file(running_tally_value(tally), seconds_since_1970())) != 0)
        result = 1;
    return result;
}
