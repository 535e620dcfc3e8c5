// Vornik: a window with a running tally of elapsed time, kept across runs in "data.txt".
#include <windows.h>

#include <ctime>
#include <stdexcept>
#include <vector>

#include "app/frame.h"
#include "app/qu.h"
#include "app/state_file.h"
#include "app/tally.h"
#include "lib/biginteger.h"
#include "quarn/quarn.h"

namespace {

constexpr wchar_t kStateFile[] = L"data.txt";

// 256 zero bytes built before WinMain and freed at exit; nothing reads or writes them.
std::vector<unsigned char> s_zeroBlock(256);

std::int64_t seconds_since_1970() { return static_cast<std::int64_t>(_time64(nullptr)); }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    RunningTally tally;
    // The file is replaced at the end only when it was read whole or was not there: a
    // second instance, a failed start or a damaged file leave it as it is.
    bool may_save = false;
    int result = 0;
    try {
        configure_vornik();
        start_vornik();

        lib::biginteger loaded;
        const StateLoad load = load_state(kStateFile, seconds_since_1970(), loaded);
        if (load == kStateRefused) throw std::runtime_error("data.txt holds no tally");
        set_running_tally(tally, loaded);
        may_save = true;

        VornikFrame frame = begin_vornik_frames();
        for (;;) run_vornik_frame(frame, tally);
    } catch (const qu::signal&) {
    } catch (...) {
        result = 1;
    }

    if (may_save &&
        write_state_file(kStateFile, format_state_file(running_tally_value(tally), seconds_since_1970())) != 0)
        result = 1;
    return result;
}
