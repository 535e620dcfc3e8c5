// Vornik's start and its frame, shared by WinMain and the frame benchmark so that both run
// the same work.
#pragma once

#include <cstdint>

#include "app/tally.h"

// The settings made before the library starts: a 300 x 60 x 32 window titled "Vornik"
// that runs while inactive, with the log off.
void configure_vornik();
// Starts the library (qu::init, which throws when it cannot) and readies the back screen and
// the standard font.
void start_vornik();

struct VornikFrame {
    std::uint32_t white = 0;
    std::uint32_t last = 0;  // timeGetTime() at the previous frame
};
// Ready for the first frame; after start_vornik.
VornikFrame begin_vornik_frames();
// One pass of the main loop: messages, the tally, the picture, present and the F5 test.
// Throws qu::signal once the program is to end.
void run_vornik_frame(VornikFrame& frame, RunningTally& tally);
