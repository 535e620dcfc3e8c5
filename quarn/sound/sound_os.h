// The device-buffer and file calls under the playback buffers and the WAV capture, kept
// narrow so that the buffer operations, the software buffers' feeding step and the capture's
// end build and run natively too. sound_os_win.cpp calls DirectSound and the file functions;
// tests install tables of their own with buffers whose play cursor they step.
#pragma once

#include <cstdint>

struct IDirectSoundBuffer;

struct SoundOsApi {
    // Play's result, 0 on success.
    int32_t (*play)(IDirectSoundBuffer* buffer, uint32_t looping);
    void (*stop)(IDirectSoundBuffer* buffer);
    // 0, or -1 when the call fails.
    int32_t (*getStatus)(IDirectSoundBuffer* buffer, uint32_t* status);
    int32_t (*lock)(IDirectSoundBuffer* buffer, uint32_t offset, uint32_t bytes, uint8_t** part1, uint32_t* bytes1,
                    uint8_t** part2, uint32_t* bytes2);
    int32_t (*unlock)(IDirectSoundBuffer* buffer, uint8_t* part1, uint32_t bytes1, uint8_t* part2, uint32_t bytes2);
    int32_t (*getPlayPosition)(IDirectSoundBuffer* buffer, uint32_t* playPosition);
    // Results ignored by their callers.
    void (*setFrequency)(IDirectSoundBuffer* buffer, uint32_t hertz);
    void (*setPan)(IDirectSoundBuffer* buffer, int32_t pan);
    void (*setVolume)(IDirectSoundBuffer* buffer, int32_t volume);
    void (*setPosition)(IDirectSoundBuffer* buffer, uint32_t bytePosition);
    void (*release)(IDirectSoundBuffer* buffer);
    // The WAV capture file (the system's file handle); results ignored.
    void (*rewindFile)(void* file);
    void (*writeFile)(void* file, const uint8_t* bytes, uint32_t count);
    void (*closeFile)(void* file);
};

// The system's calls: DirectSound and the file functions in the Windows build; in the native
// build a table whose buffer calls all fail and whose file calls do nothing.
const SoundOsApi* SystemSoundOsApi();
// Install a table (null restores the system's calls); the previous table is returned.
const SoundOsApi* SetSoundOsApi(const SoundOsApi* api);
const SoundOsApi* CurrentSoundOsApi();

// A play that waits for its sound's end pumps the window's messages between 1 ms sleeps:
// the message pump's result (0 while the program goes on), and the sleep. The native build
// has no window; its pump always answers 0.
int32_t PumpMessagesWhileSoundPlays();
void SleepWhileSoundPlays(uint32_t milliseconds);
