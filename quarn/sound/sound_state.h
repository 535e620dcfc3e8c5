// The sound system's shared state, its lock, the playback buffers, the software buffers and
// the WAV capture's end. Needs no operating system: the device calls and the lock sit behind
// sound_os.h, so all of this builds and is tested natively too.
#pragma once

#include <cstdint>

#include "quarn/core/core.h"
#include "quarn/core/handle.h"

struct IDirectSound;
struct IDirectSoundBuffer;
struct IDirectMusicPerformance8;
struct IDirectMusicLoader8;

// A PCM format laid out as the system's WAVEFORMATEX (18 bytes, packed).
#pragma pack(push, 1)
struct WaveFormat {
    uint16_t formatTag;
    uint16_t channels;
    uint32_t samplesPerSecond;
    uint32_t averageBytesPerSecond;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    uint16_t extraSize;
};
#pragma pack(pop)
static_assert(sizeof(WaveFormat) == 18, "WaveFormat must match WAVEFORMATEX");

constexpr int32_t kTempMidiPathUnits = 260;

// The sound system's global state; all zero at process start. The sound system counts as
// started exactly while the DirectSound object is present. The sound lock guards the two
// lists and what the sound thread reads and writes through them.
struct SoundSystemState {
    IDirectSound* directSound;
    IDirectSoundBuffer* primaryBuffer;
    IDirectSoundBuffer* silentBuffer;
    HandleChainNode streamHead, streamTail;  // sound handles whose streams the thread refills
    HandleChainNode mixHead, mixTail;        // kind-1 software buffers the thread feeds
    int32_t midiMode;                        // 0 through MCI, 1 through DirectMusic
    IDirectMusicPerformance8* musicPerformance;
    IDirectMusicLoader8* musicLoader;
    wchar_t tempMidiPath[kTempMidiPathUnits];
    void* soundThread;  // the thread's handle; stays open
    uint32_t soundThreadId;
    // 0 while the thread runs, 1 when shut-down asks it to stop, 2 once it is ending.
    // Written by one thread and polled by the other without the lock.
    volatile int32_t soundThreadStop;
    int32_t softwarePrimary;  // ask for the primary and silent buffers in software
    int32_t softwareMixing;   // buffer operations work on memory instead of the device
    // WAV capture: 46 header bytes reserved at the file's start, then 4-byte frames.
    int32_t captureActive;
    void* captureFile;
    int32_t capturedFrames;
};
extern SoundSystemState g_soundSystem;

// The MCI playback of MIDI and the current music; all zero at process start. The MIDI calls
// that use it are Windows only (midi.cpp), the record is plain data kept beside the sound
// system's so that one reset reaches both.
struct MidiPlaybackState {
    uint32_t mciDevice;
    int32_t loop;     // play again from the start when MCI reports the end
    int32_t playing;  // 1 while the MCI device plays
    int32_t tempFileExists;
    int32_t currentMusic;      // 0 = none
    int32_t currentMusicKind;  // 1 = a sound handle, other values = a MIDI handle
};
extern MidiPlaybackState g_midiPlayback;

// Puts the sound system's record and the MIDI playback record back to those of a fresh
// process. The lock is not touched, and neither are the handle tables (sounds, software
// buffers, MIDI, movies): their records own memory and device objects, so they are emptied
// by their own destroy operations (DestroyAllSoundHandles, DestroyAllMidiHandles, ...), which
// the fixtures run before the reset.
void ResetSoundState();

inline bool IsSoundSystemStarted() { return g_soundSystem.directSound != nullptr; }

// The sound lock, recursive: the sound thread holds it for each pass and the operations it
// calls enter it again. Initialised by start-up, deleted by shut-down.
void InitializeSoundLock();
void EnterSoundLock();
void LeaveSoundLock();
void DeleteSoundLock();

// The primary buffer's PCM format for a device's capability flags (DSCAPS dwFlags) and its
// highest secondary sample rate: stereo and 16 bits where the device's primary buffer offers
// them, else mono and 8 bits, at the device's highest rate but never above 44100 Hz.
WaveFormat PrimaryBufferFormat(uint32_t capabilityFlags, uint32_t maxSecondaryRate);

// ---- Playback buffers

// One playback buffer: a device buffer, or with the software-mixing setting a block of PCM
// in memory whose playing state the record keeps.
struct SoundBufferRecord {
    int32_t present;
    IDirectSoundBuffer* directSoundBuffer;
    uint8_t* data;  // library allocator
    int32_t playing;
    uint32_t cursor;  // frames
    int32_t loop;
    int32_t pan;        // -256 left only .. 256 right only
    int32_t volume;     // 0 silent .. 256 full
    int32_t frequency;  // Hz, -1 for the data's own rate
    int32_t length;     // frames
    WaveFormat format;
};

// Each returns -1 at once for a record that is not present.
int32_t ReleaseBufferBackend(SoundBufferRecord* buffer);
// The device's Play result (0 on success), or 0 in software.
int32_t StartBufferPlayback(SoundBufferRecord* buffer, int32_t loop);
int32_t HaltBufferPlayback(SoundBufferRecord* buffer);
int32_t QueryBufferStatus(SoundBufferRecord* buffer, uint32_t* status);
// The writable range at offset for count bytes, in up to two parts. In software a range
// that runs past the data's end goes on at its start; -1 for a range that does not fit.
int32_t LockBufferRegion(SoundBufferRecord* buffer, uint32_t offset, uint32_t count, uint8_t** part1, uint32_t* bytes1,
                         uint8_t** part2, uint32_t* bytes2);
int32_t UnlockBufferRegion(SoundBufferRecord* buffer, uint8_t* part1, uint32_t bytes1, uint8_t* part2, uint32_t bytes2);
int32_t SetBufferRate(SoundBufferRecord* buffer, int32_t frequency);
// pan -10000..10000 and volume -10000..0 in hundredths of a decibel.
int32_t SetBufferBalance(SoundBufferRecord* buffer, int32_t pan);
int32_t SetBufferGain(SoundBufferRecord* buffer, int32_t volume);
int32_t SetBufferCursor(SoundBufferRecord* buffer, uint32_t bytePosition);

// The software branch's gain for a level in hundredths of a decibel (0..256).
int32_t DecibelsToGain(int32_t hundredths);

// Milliseconds of frames at rate (truncated).
int32_t FramesToMs(int32_t frames, int32_t rate);

// ---- Software buffers (handle type 13)

// Kind 0 owns a data block; kind 1 is a player the sound thread feeds from its ring into
// its looping playback buffer.
struct SoftwareMixBuffer {
    uint32_t check;
    int32_t kind;
    WaveFormat format;
    HandleChainNode node;  // kind 1: in the software-buffer list, data = this record
    uint8_t* dataBlock;    // kind 0
    int32_t queuedFrames;
    RingBuffer ring;
    SoundBufferRecord playback;
    int32_t bufferSize;     // bytes of the playback buffer
    int32_t writePosition;  // where the next bytes go, 0..bufferSize - 1
    int32_t endPosition;    // where the queued data ran out, -1 while none
    uint32_t lastPlayPosition;
    int32_t ended;
    int32_t lead;  // write when the play position comes within lead bytes; 2 x lead ahead
    int32_t active;
};

constexpr int32_t kSoftwareMixBufferCapacity = 8192;
HandleTable* SoftwareMixBufferTable();

// Puts a record allocated with the library allocator into the table (its check number set,
// a kind-1 record linked into the software-buffer list) and returns its handle; -1 when the
// table is full or the sound system is not started.
int32_t AddSoftwareMixBuffer(SoftwareMixBuffer* record);
// 0 when the record was freed; -1 for a handle that does not name a record of that kind,
// and -1 while the sound system is not started.
int32_t DestroySoftwareMixBuffer(int32_t handle, int32_t kind);
// Every software buffer of kind 0, respectively 1. 0, or -1 while not started.
int32_t DestroyUnownedMixBuffers();
int32_t DestroyOwnedMixBuffers();

// One feeding step of a kind-1 player. 0, or -1 when its playback buffer gave no play
// position or could not be locked, or the player's sizes are unusable.
int32_t MixSoftwareBuffer(SoftwareMixBuffer* p);

// One pass of the sound thread, on whichever thread calls it: under the sound lock, one
// feeding step for each active player of the software-buffer list while the sound system is
// started. The lock must exist (start-up has made it).
void RunSoundThreadPass();

// ---- WAV capture

constexpr uint32_t kWaveCaptureHeaderBytes = 46;
void BuildWaveCaptureHeader(uint32_t frames, uint8_t header[kWaveCaptureHeaderBytes]);
// Writes the header over the file's start and closes it. 0, or -1 when no capture is active.
int32_t CloseWaveCapture();
