// What the sound and movie subsystem offers the rest of the library.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <cstdint>

#include "quarn/core/handle.h"

#include "quarn/sound/movie.h"
#include "quarn/sound/sound_state.h"
#include "quarn/sound/sound_stream.h"

struct IDirectMusicSegment8;

// ---- The sound device and the sound thread

// Brings DirectSound up on the default device (cooperative level, primary buffer and its
// format, a looping silent buffer), makes the sound lock and the lists and starts the sound
// thread, logging each step. 0, or -1 when already started or a required step failed; the
// sound system is then not started and its operations return -1. COM must be initialised.
int32_t StartSoundSystem();
// Stops the sound thread and waits until it has gone, closes the WAV capture, deletes the
// software buffers, the temporary MIDI file and the lock, releases the device. 0, or -1
// when not started.
int32_t ShutDownSoundSystem();
// The sound thread: a pass over the lists every 30 ms until shut-down asks it to stop.
DWORD WINAPI SoundThreadMain(void* parameter);
// DirectSoundEnumerateW's callback: one log line per device; goes on listing.
BOOL CALLBACK ListSoundDeviceCallback(GUID* device, const wchar_t* description, const wchar_t* module, void* context);

// ---- MIDI and current music

struct MidiRecord {
    uint32_t check;
    int32_t playing;  // DirectMusic: 1 while the handle's music plays
    int32_t started;  // DirectMusic: 1 once the segment was reported playing
    uint8_t* data;    // owned MIDI data
    uint32_t dataSize;
    IDirectMusicSegment8* segment;
};

constexpr int32_t kMidiCapacity = 256;
HandleTable* MidiTable();

// mode 0: the MCI playing flag; mode 1: the handle's playing flag; other modes 0. -1 while
// the sound system is not started or for a refused handle.
int32_t QueryMidiState(int32_t handle);
// Stops the music (MCI closed, or the segment stopped) and removes the temporary MIDI file.
// 0, or -1 while not started or for a refused handle.
int32_t HaltMidiHandle(int32_t handle);
// Stops a playing handle, unloads its segment, zeroes and frees its data and the record.
int32_t DestroyMidiHandle(int32_t handle);
int32_t DestroyAllMidiHandles();
// Library shut-down: stops and deletes the current music, sound or MIDI, and empties the
// slot. 0.
int32_t EndCurrentMusic();

// The MCI entry the MIDI code sends its commands through; tests put a recorder in its place.
// Returns the previous one; null restores the system's.
using MciSendCommandFunction = MCIERROR(WINAPI*)(MCIDEVICEID device, UINT message, DWORD_PTR flags,
                                                 DWORD_PTR parameters);
MciSendCommandFunction SetMciSendCommand(MciSendCommandFunction function);

// Message-pump hook: tracks whether DirectMusic still plays each started MIDI handle.
// 0, or -1 while the sound system is not started.
int32_t PollMidiPlayState();
// Window-procedure hook for MM_MCINOTIFY: plays a looping MIDI again, else closes MCI. 0.
int32_t HandleMidiNotify();

// ---- Movies: quarn/sound/movie.h
