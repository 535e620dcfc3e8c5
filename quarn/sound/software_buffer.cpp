// The software buffers: their table, their deletion, and the feeding step that the sound
// thread runs for each active player, moving queued PCM from its ring into its looping
// playback buffer ahead of the play position. Also the WAV capture's end.
#include "quarn/core/core.h"
#include "quarn/sound/sound_os.h"
#include "quarn/sound/sound_state.h"
#include "quarn/sound/sound_stream.h"

static FixedHandleTable<kSoftwareMixBufferCapacity> s_mixTable{kHandleTypeSoftSoundBuffer, kSlotFirstFree};

HandleTable* SoftwareMixBufferTable() { return s_mixTable.get(); }

int32_t AddSoftwareMixBuffer(SoftwareMixBuffer* record)
{
    // The list and the lock exist only while the sound system is started.
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    const int32_t handle = AddHandleRecord(SoftwareMixBufferTable(), record);
    if (handle < 0) {
        return -1;
    }
    record->check = static_cast<uint32_t>(HandleCheckOf(handle));
    if (record->kind == 1) {
        EnterSoundLock();
        HandleChainNode* tail = &g_soundSystem.mixTail;
        record->node = HandleChainNode{handle, record, tail->previous, tail};
        tail->previous->next = &record->node;
        tail->previous = &record->node;
        LeaveSoundLock();
    }
    return handle;
}

int32_t DestroySoftwareMixBuffer(int32_t handle, int32_t kind)
{
    // Before start-up and after shut-down the sound lock does not exist: entering it then
    // would use a lock that was never made or is already deleted.
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    EnterSoundLock();
    auto* record = FindHandleRecordAs<SoftwareMixBuffer>(SoftwareMixBufferTable(), handle);
    if (record == nullptr || record->check != static_cast<uint32_t>(HandleCheckOf(handle)) || record->kind != kind) {
        LeaveSoundLock();
        return -1;
    }
    if (kind == 1) {
        FreeRingBuffer(&record->ring);
        ReleaseBufferBackend(&record->playback);
        UnlinkHandleChainNode(&record->node);
    } else if (record->dataBlock != nullptr) {
        FreeTrackedMemory(record->dataBlock);
        record->dataBlock = nullptr;
    }
    RemoveHandleRecord(SoftwareMixBufferTable(), handle);
    FreeTrackedMemory(record);
    LeaveSoundLock();
    return 0;
}

namespace {
int32_t DestroyMixBuffersOfKind(int32_t kind)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    HandleTable* table = SoftwareMixBufferTable();
    for (int32_t slot = 0; slot < kSoftwareMixBufferCapacity; ++slot) {
        auto* record = static_cast<SoftwareMixBuffer*>(table->slots[slot].record);
        if (record != nullptr && record->kind == kind) {
            DestroySoftwareMixBuffer(MakeHandle(kHandleTypeSoftSoundBuffer, static_cast<int32_t>(record->check), slot),
                                     kind);
        }
    }
    return 0;
}
}  // namespace

int32_t DestroyUnownedMixBuffers() { return DestroyMixBuffersOfKind(0); }
int32_t DestroyOwnedMixBuffers() { return DestroyMixBuffersOfKind(1); }

namespace {
// The playback buffer's play position in bytes: the device's play cursor, or in software the
// frame cursor. -1 when there is none.
int32_t PlayPositionOf(SoundBufferRecord* buffer, uint32_t* position)
{
    if (buffer->present == 0) {
        return -1;
    }
    if (g_soundSystem.softwareMixing != 0) {
        *position = buffer->cursor * buffer->format.blockAlign;
        return 0;
    }
    return CurrentSoundOsApi()->getPlayPosition(buffer->directSoundBuffer, position);
}

// Whether a play position that moved from last to now has passed end.
bool HasPassed(int64_t last, int64_t now, int64_t end)
{
    if (now > last) {
        return last <= end && end <= now;
    }
    if (now < last) {  // it wrapped
        return end >= last || end <= now;
    }
    return false;
}

// Whether position lies on the way from start forward to finish in a ring of positions.
bool WithinForward(int64_t start, int64_t finish, int64_t position)
{
    if (start < finish) {
        return start <= position && position <= finish;
    }
    if (start > finish) {
        return position >= start || position <= finish;
    }
    return true;
}

// Copies up to want bytes from the ring into the part after its used bytes; returns the
// bytes taken.
uint32_t FillFromRing(RingBuffer* ring, uint8_t* part, uint32_t length, uint32_t* used, uint32_t want)
{
    const uint32_t k = want < length - *used ? want : length - *used;
    if (k > 0) {
        ReadRingBuffer(ring, part + *used, static_cast<int32_t>(k), 0);
    }
    *used += k;
    return k;
}

uint32_t FillWithSilence(uint8_t* part, uint32_t length, uint32_t* used, uint32_t want, int silence)
{
    const uint32_t k = want < length - *used ? want : length - *used;
    if (k > 0 && silence >= 0) {
        FillBytes(part + *used, silence, k);
    }
    *used += k;
    return k;
}

// Sizes under which the step's arithmetic keeps inside the playback buffer.
bool IsUsablePlayer(const SoftwareMixBuffer* p)
{
    return p->format.blockAlign != 0 && p->bufferSize > 0 && p->writePosition >= 0 &&
           p->writePosition < p->bufferSize && p->lead >= 0 && p->lead <= p->bufferSize / 2 && p->queuedFrames >= 0;
}
}  // namespace

int32_t MixSoftwareBuffer(SoftwareMixBuffer* p)
{
    if (p->active == 0) {
        return 0;
    }
    EnterSoundLock();
    uint32_t playPosition = 0;
    if (!IsUsablePlayer(p) || PlayPositionOf(&p->playback, &playPosition) != 0 ||
        playPosition >= static_cast<uint32_t>(p->bufferSize)) {
        LeaveSoundLock();
        return -1;
    }
    const int64_t size = p->bufferSize;
    const int64_t align = p->format.blockAlign;
    const int64_t play = playPosition;

    if (p->endPosition != -1 && p->ended == 0) {
        if (HasPassed(p->lastPlayPosition, play, p->endPosition)) {
            p->ended = 1;
        } else {
            p->lastPlayPosition = playPosition;
        }
    }

    // Write only once the play position has come within lead bytes of the write position.
    int64_t start = p->writePosition - p->lead;
    if (start < 0) {
        start += size;
    }
    if (!WithinForward(start, p->writePosition, play)) {
        LeaveSoundLock();
        return 0;
    }
    const int64_t distance = play >= start ? play - start : size - start + play;
    int64_t frames = (p->lead + distance) / align;  // brings the write position 2 x lead ahead
    int64_t silentFrames = 0;
    if (frames > p->queuedFrames) {
        silentFrames = frames - p->queuedFrames;
        frames = p->queuedFrames;
    }
    uint8_t* part1 = nullptr;
    uint8_t* part2 = nullptr;
    uint32_t bytes1 = 0;
    uint32_t bytes2 = 0;
    if (LockBufferRegion(&p->playback, static_cast<uint32_t>(p->writePosition),
                         static_cast<uint32_t>((frames + silentFrames) * align), &part1, &bytes1, &part2,
                         &bytes2) != 0) {
        LeaveSoundLock();
        return -1;
    }
    if (silentFrames > 0 && p->endPosition == -1) {
        int64_t end = p->writePosition + frames * align;
        if (end > size) {
            end -= size;
        }
        p->endPosition = static_cast<int32_t>(end);
        p->lastPlayPosition = playPosition;
        p->ended = 0;
    }
    if (p->ended == 1 && frames > 0) {  // data has come again
        p->ended = 0;
        p->lastPlayPosition = 0;
        p->endPosition = -1;
    }
    p->queuedFrames -= static_cast<int32_t>(frames);

    uint32_t used1 = 0;
    uint32_t used2 = 0;
    uint32_t dataBytes = static_cast<uint32_t>(frames * align);
    dataBytes -= FillFromRing(&p->ring, part1, bytes1, &used1, dataBytes);
    FillFromRing(&p->ring, part2, bytes2, &used2, dataBytes);
    const int silence = p->format.bitsPerSample == 8 ? 127 : (p->format.bitsPerSample == 16 ? 0 : -1);
    uint32_t silentBytes = static_cast<uint32_t>(silentFrames * align);
    silentBytes -= FillWithSilence(part1, bytes1, &used1, silentBytes, silence);
    FillWithSilence(part2, bytes2, &used2, silentBytes, silence);

    UnlockBufferRegion(&p->playback, part1, bytes1, part2, bytes2);
    int64_t next = p->writePosition + (frames + silentFrames) * align;
    if (next >= size) {
        next -= size;
    }
    p->writePosition = static_cast<int32_t>(next);
    LeaveSoundLock();
    return 0;
}

void RunSoundThreadPass()
{
    EnterSoundLock();
    if (IsSoundSystemStarted()) {
        RefillArmedStreams();
    }
    if (IsSoundSystemStarted()) {
        for (HandleChainNode* node = g_soundSystem.mixHead.next; node != nullptr && node != &g_soundSystem.mixTail;
             node = node->next) {
            auto* player = static_cast<SoftwareMixBuffer*>(node->data);
            if (player->active != 0) {
                MixSoftwareBuffer(player);
            }
        }
    }
    LeaveSoundLock();
}

namespace {
void PutU16(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(uint8_t* at, uint32_t value)
{
    PutU16(at, value);
    PutU16(at + 2, value >> 16);
}
}  // namespace

void BuildWaveCaptureHeader(uint32_t frames, uint8_t header[kWaveCaptureHeaderBytes])
{
    const uint32_t dataBytes = frames * 4;
    CopyBytes(header, "RIFF", 4);
    PutU32(header + 4, dataBytes + 38);
    CopyBytes(header + 8, "WAVEfmt ", 8);
    PutU32(header + 16, 18);
    PutU16(header + 20, 1);  // PCM
    PutU16(header + 22, 2);
    PutU32(header + 24, 44100);
    PutU32(header + 28, 176400);
    PutU16(header + 32, 4);
    PutU16(header + 34, 16);
    PutU16(header + 36, 0);
    CopyBytes(header + 38, "data", 4);
    PutU32(header + 42, dataBytes);
}

int32_t CloseWaveCapture()
{
    if (g_soundSystem.captureActive == 0) {
        return -1;
    }
    uint8_t header[kWaveCaptureHeaderBytes];
    BuildWaveCaptureHeader(static_cast<uint32_t>(g_soundSystem.capturedFrames), header);
    const SoundOsApi* os = CurrentSoundOsApi();
    os->rewindFile(g_soundSystem.captureFile);
    os->writeFile(g_soundSystem.captureFile, header, kWaveCaptureHeaderBytes);
    os->closeFile(g_soundSystem.captureFile);
    g_soundSystem.captureFile = nullptr;
    g_soundSystem.captureActive = 0;
    return 0;
}
