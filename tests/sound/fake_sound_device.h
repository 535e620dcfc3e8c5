// A stand-in sound device for the buffer code: its buffers are byte arrays with a play cursor
// that the test sets, and it records what was asked of them and of the capture file.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "quarn/sound/sound_os.h"

// A looping device buffer: its bytes, the play cursor the test sets, and what was asked of it.
struct FakeBuffer {
    std::vector<uint8_t> bytes;
    uint32_t play = 0;
    bool failLock = false;
    bool failPosition = false;
    int locks = 0;
    int unlocks = 0;
    int released = 0;
    int32_t playResult = 0;
    // What GetStatus reports: bit 0 while playing (a successful Play until Stop), bit 2 while
    // looping; failStatus makes it fail.
    bool playing = false;
    bool looping = false;
    bool failStatus = false;
    int plays = 0;
    int stops = 0;
    // Play-cursor reads, one per feeding step, counted from any thread; the hook, when set,
    // runs at each read before the cursor is handed out.
    std::atomic<int> positionReads{0};
    void (*onPositionRead)(FakeBuffer* buffer) = nullptr;
    void* user = nullptr;
};

inline IDirectSoundBuffer* AsDevice(FakeBuffer* f) { return reinterpret_cast<IDirectSoundBuffer*>(f); }

// The stand-in's table for SetSoundOsApi.
const SoundOsApi* FakeSoundDevice();

// The capture file: the bytes last written and the calls made, in order ('r' rewind,
// 'w' write, 'c' close).
extern std::vector<uint8_t> g_fakeFileBytes;
extern std::vector<char> g_fakeFileCalls;
