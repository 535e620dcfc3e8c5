#include "tests/sound/fake_sound_device.h"

std::vector<uint8_t> g_fakeFileBytes;
std::vector<char> g_fakeFileCalls;

namespace {

FakeBuffer* Fake(IDirectSoundBuffer* b) { return reinterpret_cast<FakeBuffer*>(b); }

int32_t Play(IDirectSoundBuffer* b, uint32_t looping)
{
    FakeBuffer* f = Fake(b);
    ++f->plays;
    if (f->playResult == 0) {
        f->playing = true;
        f->looping = looping != 0;
    }
    return f->playResult;
}
void Stop(IDirectSoundBuffer* b)
{
    ++Fake(b)->stops;
    Fake(b)->playing = false;
}
int32_t GetStatus(IDirectSoundBuffer* b, uint32_t* status)
{
    FakeBuffer* f = Fake(b);
    if (f->failStatus) {
        return -1;
    }
    if (status != nullptr) {
        *status = (f->playing ? 1u : 0u) | (f->playing && f->looping ? 4u : 0u);
    }
    return 0;
}
// As the device locks: the range from offset, going on at the start past the end; a range
// longer than the buffer is refused.
int32_t Lock(IDirectSoundBuffer* b, uint32_t offset, uint32_t count, uint8_t** p1, uint32_t* n1, uint8_t** p2,
             uint32_t* n2)
{
    FakeBuffer* f = Fake(b);
    const uint32_t size = static_cast<uint32_t>(f->bytes.size());
    if (f->failLock || offset >= size || count > size) {
        return -1;
    }
    ++f->locks;
    const uint32_t first = count < size - offset ? count : size - offset;
    *p1 = f->bytes.data() + offset;
    *n1 = first;
    *p2 = count > first ? f->bytes.data() : nullptr;
    *n2 = count - first;
    return 0;
}
int32_t Unlock(IDirectSoundBuffer* b, uint8_t*, uint32_t, uint8_t*, uint32_t)
{
    ++Fake(b)->unlocks;
    return 0;
}
int32_t GetPlayPosition(IDirectSoundBuffer* b, uint32_t* play)
{
    FakeBuffer* f = Fake(b);
    ++f->positionReads;
    if (f->onPositionRead != nullptr) {
        f->onPositionRead(f);
    }
    if (f->failPosition) {
        return -1;
    }
    *play = f->play;
    return 0;
}
void SetFrequency(IDirectSoundBuffer*, uint32_t) {}
void SetPan(IDirectSoundBuffer*, int32_t) {}
void SetVolume(IDirectSoundBuffer*, int32_t) {}
void SetPosition(IDirectSoundBuffer*, uint32_t) {}
void Release(IDirectSoundBuffer* b) { ++Fake(b)->released; }

void RewindFile(void*) { g_fakeFileCalls.push_back('r'); }
void WriteFile(void*, const uint8_t* bytes, uint32_t count)
{
    g_fakeFileCalls.push_back('w');
    g_fakeFileBytes.assign(bytes, bytes + count);
}
void CloseFile(void*) { g_fakeFileCalls.push_back('c'); }

const SoundOsApi kFakeDevice = {
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

}  // namespace

const SoundOsApi* FakeSoundDevice() { return &kFakeDevice; }
