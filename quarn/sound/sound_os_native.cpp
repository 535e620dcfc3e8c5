// The native build has no sound device: every buffer call fails and the capture file calls
// do nothing. Tests install tables of their own. The sound lock is a recursive mutex.
#if !defined(_WIN32)

#include <chrono>
#include <mutex>
#include <new>
#include <thread>

#include "quarn/sound/sound_os.h"
#include "quarn/sound/sound_state.h"
#include "quarn/sound/sound_stream.h"

namespace {

int32_t Play(IDirectSoundBuffer*, uint32_t) { return -1; }
void Stop(IDirectSoundBuffer*) {}
int32_t GetStatus(IDirectSoundBuffer*, uint32_t*) { return -1; }
int32_t Lock(IDirectSoundBuffer*, uint32_t, uint32_t, uint8_t**, uint32_t*, uint8_t**, uint32_t*) { return -1; }
int32_t Unlock(IDirectSoundBuffer*, uint8_t*, uint32_t, uint8_t*, uint32_t) { return -1; }
int32_t GetPlayPosition(IDirectSoundBuffer*, uint32_t*) { return -1; }
void SetFrequency(IDirectSoundBuffer*, uint32_t) {}
void SetPan(IDirectSoundBuffer*, int32_t) {}
void SetVolume(IDirectSoundBuffer*, int32_t) {}
void SetPosition(IDirectSoundBuffer*, uint32_t) {}
void Release(IDirectSoundBuffer*) {}
void RewindFile(void*) {}
void WriteFile(void*, const uint8_t*, uint32_t) {}
void CloseFile(void*) {}

const SoundOsApi kNoDevice = {
    .play = Play,
    .stop = Stop,
    .getStatus = GetStatus,
    .lock = Lock,
    .unlock = Unlock,
    .getPlayPosition = GetPlayPosition,
    .setFrequency = SetFrequency,
    .setPan = SetPan,
    .setVolume = SetVolume,
    .setPosition = SetPosition,
    .release = Release,
    .rewindFile = RewindFile,
    .writeFile = WriteFile,
    .closeFile = CloseFile,
};

// Built by initialisation and destroyed by deletion, as the system's critical section is.
alignas(std::recursive_mutex) unsigned char s_lockStorage[sizeof(std::recursive_mutex)];
std::recursive_mutex* s_lock;

}  // namespace

const SoundOsApi* SystemSoundOsApi() { return &kNoDevice; }

void InitializeSoundLock() { s_lock = new (s_lockStorage) std::recursive_mutex(); }
void EnterSoundLock() { s_lock->lock(); }
void LeaveSoundLock() { s_lock->unlock(); }
int32_t PumpMessagesWhileSoundPlays() { return 0; }
void SleepWhileSoundPlays(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// No ACM in the native build: compressed WAVE is refused and never reaches a converter.
int32_t ConvertAcmBlock(SoundConverter*) { return -1; }
int32_t SeekAcmSource(SoundConverter*, int32_t) { return 0; }
int32_t FreeAcmConverter(SoundConverter*) { return 0; }
int32_t OpenAcmConverter(SoundConverter*, int32_t, uint32_t, int32_t, int32_t)
{
    AppendLog(L"対応していない WAVE フォーマットです\n");
    return -1;
}

void DeleteSoundLock()
{
    s_lock->~recursive_mutex();
    s_lock = nullptr;
}

#endif
