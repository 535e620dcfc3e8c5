// DirectSound buffers, the file functions and a critical section under the sound code.
#include <windows.h>

#include <dsound.h>

#include "quarn/sound/sound_os.h"
#include "quarn/sound/sound_state.h"
#include "quarn/system/system.h"

static_assert(sizeof(WAVEFORMATEX) == sizeof(WaveFormat), "WaveFormat must match WAVEFORMATEX");

namespace {

int32_t Play(IDirectSoundBuffer* b, uint32_t looping)
{
    return static_cast<int32_t>(b->Play(0, 0, looping != 0 ? DSBPLAY_LOOPING : 0));
}
void Stop(IDirectSoundBuffer* b) { b->Stop(); }
int32_t GetStatus(IDirectSoundBuffer* b, uint32_t* status)
{
    DWORD value = 0;
    if (FAILED(b->GetStatus(&value))) {
        return -1;
    }
    if (status != nullptr) {
        *status = value;
    }
    return 0;
}
int32_t Lock(IDirectSoundBuffer* b, uint32_t offset, uint32_t bytes, uint8_t** part1, uint32_t* bytes1, uint8_t** part2,
             uint32_t* bytes2)
{
    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD n1 = 0;
    DWORD n2 = 0;
    if (FAILED(b->Lock(offset, bytes, &p1, &n1, &p2, &n2, 0))) {
        return -1;
    }
    *part1 = static_cast<uint8_t*>(p1);
    *bytes1 = n1;
    *part2 = static_cast<uint8_t*>(p2);
    *bytes2 = n2;
    return 0;
}
int32_t Unlock(IDirectSoundBuffer* b, uint8_t* part1, uint32_t bytes1, uint8_t* part2, uint32_t bytes2)
{
    return FAILED(b->Unlock(part1, bytes1, part2, bytes2)) ? -1 : 0;
}
int32_t GetPlayPosition(IDirectSoundBuffer* b, uint32_t* playPosition)
{
    DWORD play = 0;
    DWORD write = 0;
    if (FAILED(b->GetCurrentPosition(&play, &write))) {
        return -1;
    }
    *playPosition = play;
    return 0;
}
void SetFrequency(IDirectSoundBuffer* b, uint32_t hertz) { b->SetFrequency(hertz); }
void SetPan(IDirectSoundBuffer* b, int32_t pan) { b->SetPan(pan); }
void SetVolume(IDirectSoundBuffer* b, int32_t volume) { b->SetVolume(volume); }
void SetPosition(IDirectSoundBuffer* b, uint32_t position) { b->SetCurrentPosition(position); }
void Release(IDirectSoundBuffer* b) { b->Release(); }
void RewindFile(void* file) { SetFilePointer(static_cast<HANDLE>(file), 0, nullptr, FILE_BEGIN); }
void WriteBytes(void* file, const uint8_t* bytes, uint32_t count)
{
    DWORD written = 0;
    WriteFile(static_cast<HANDLE>(file), bytes, count, &written, nullptr);
}
void CloseFile(void* file) { CloseHandle(static_cast<HANDLE>(file)); }

const SoundOsApi kDirectSound = {
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
    .writeFile = WriteBytes,
    .closeFile = CloseFile,
};

CRITICAL_SECTION s_soundLock;

}  // namespace

const SoundOsApi* SystemSoundOsApi() { return &kDirectSound; }

void InitializeSoundLock() { InitializeCriticalSection(&s_soundLock); }
void EnterSoundLock() { EnterCriticalSection(&s_soundLock); }
void LeaveSoundLock() { LeaveCriticalSection(&s_soundLock); }
void DeleteSoundLock() { DeleteCriticalSection(&s_soundLock); }

int32_t PumpMessagesWhileSoundPlays() { return PumpWindowMessages(); }
void SleepWhileSoundPlays(uint32_t milliseconds) { Sleep(milliseconds); }
