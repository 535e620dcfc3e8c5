#include "app/frame.h"

#include <windows.h>

#include <mmsystem.h>

#include "app/qu.h"
#include "quarn/quarn.h"

namespace {

constexpr int kKeyF5 = 0x3F;

}  // namespace

void configure_vornik()
{
    ConfigureScreenMode(300, 60, 32, 60);
    ChangeWindowMode(1);
    SetRunWhileInactive(1);
    EnableLogFile(0);
    AssignWindowTitle(L"Vornik");
    AssignWindowIcon(101);
}

void start_vornik()
{
    qu::init();
    SelectDrawTarget(-2);
    SetStandardFontThickness(0);
    SetStandardFontKind(2);  // anti-aliased
}

VornikFrame begin_vornik_frames()
{
    VornikFrame frame;
    frame.white = PackScreenColor(255, 255, 255);
    frame.last = timeGetTime();
    return frame;
}

void run_vornik_frame(VornikFrame& frame, RunningTally& tally)
{
    if (PumpLibraryMessages() == -1) throw qu::signal{};

    const DWORD now = timeGetTime();
    const DWORD delta = now - frame.last;  // unsigned: a wrap of the clock still counts right
    advance_running_tally(tally, delta);
    frame.last = now;

    WipeDrawScreen(nullptr);
    // Re-made only when a setting differs from the font's, so cheap to repeat.
    SetStandardFontFace(L"meiryo", -1);
    SetStandardFontSize(20);
    DrawTextWithStandardFont(10, 10, running_tally_text(tally).c_str(), frame.white, 0);
    DrawTextWithStandardFont(10, 30, L"[F5]Reset", frame.white, 0);
    PresentScreen();

    if (TestKeyPressed(kKeyF5)) set_running_tally(tally, lib::biginteger{});
}
