// Sound handles: start, stop, playing tests, lengths and positions, deletion, and the
// streaming machinery the sound thread drives (arming, the refill pass, moving from source
// to source, the play position).
#include "quarn/sound/sound_os.h"
#include "quarn/sound/sound_stream.h"

static FixedHandleTable<kSoundCapacity> s_soundTable{kHandleTypeSound, kSlotHighWaterFirst};

HandleTable* SoundTable() { return s_soundTable.get(); }

namespace {

constexpr uint32_t kReadCursor = 0xFFFFFFFFu;

SoundRecord* FindSound(int32_t handle)
{
    auto* record = FindHandleRecordAs<SoundRecord>(SoundTable(), handle);
    if (record == nullptr || record->check != static_cast<uint32_t>(HandleCheckOf(handle))) {
        return nullptr;
    }
    return record;
}

// The sound lock held over a scope.
struct SoundLockScope {
    SoundLockScope() { EnterSoundLock(); }
    ~SoundLockScope() { LeaveSoundLock(); }
    SoundLockScope(const SoundLockScope&) = delete;
    SoundLockScope& operator=(const SoundLockScope&) = delete;
};

bool ReadPlayCursor(SoundBufferRecord* buffer, uint32_t* cursor)
{
    if (buffer->present == 0) {
        return false;
    }
    if (g_soundSystem.softwareMixing != 0) {
        *cursor = buffer->cursor * buffer->format.blockAlign;
        return true;
    }
    return CurrentSoundOsApi()->getPlayPosition(buffer->directSoundBuffer, cursor) == 0;
}

bool BufferPlays(SoundBufferRecord* buffer, int32_t* failed)
{
    uint32_t status = 0;
    if (QueryBufferStatus(buffer, &status) != 0) {
        *failed = 1;
        return false;
    }
    return (status & 1) != 0;
}

// Stops the buffer when it plays; -1 when its status cannot be read.
int32_t HaltIfPlaying(SoundBufferRecord* buffer)
{
    int32_t failed = 0;
    const bool plays = BufferPlays(buffer, &failed);
    if (failed != 0) {
        return -1;
    }
    if (plays) {
        HaltBufferPlayback(buffer);
    }
    return 0;
}

// Volume, pan and frequency, each the one-shot value when one is waiting.
void ApplyBufferSettings(SoundRecord* s, SoundBufferRecord* buffer)
{
    SetBufferGain(buffer, s->oneShotVolumeSet != 0 ? s->oneShotVolume : s->volume);
    SetBufferBalance(buffer, s->oneShotPanSet != 0 ? s->oneShotPan : s->pan);
    SetBufferRate(buffer, s->oneShotFrequencySet != 0 ? s->oneShotFrequency : s->frequency);
    s->oneShotVolumeSet = 0;
    s->oneShotPanSet = 0;
    s->oneShotFrequencySet = 0;
}

void WaitWhilePlaying(int32_t handle)
{
    int32_t pumped = PumpMessagesWhileSoundPlays();
    while (pumped == 0 && QuerySoundPlaying(handle) == 1) {
        SleepWhileSoundPlays(1);
        pumped = PumpMessagesWhileSoundPlays();
    }
}

// Back to the start of the first source, unarmed. endToo also forgets a written end.
void RewindStream(SoundRecord* s, bool endToo)
{
    if (endToo) {
        s->endWritten = 0;
    } else {
        s->lastSourcePassed = 0;
    }
    s->sourcePosition = 0;
    s->playPosition = 0;
    s->loopPointPending = 0;
    s->plays = 0;
    s->currentSource = 0;
    s->refillArmed = 0;
}

// The ring buffer a sound plays through, and the claim on it. 0, or -1 when the owner is
// gone or another stream holds the ring and claim is 0.
int32_t ResolveStreamOwner(int32_t handle, SoundRecord* s, SoundBufferRecord** ring, int32_t claim)
{
    if (s->kind != 1) {
        *ring = &s->buffers[0];
        return 0;
    }
    SoundRecord* owner = s;
    if (s->ownerHandle != -1) {
        owner = FindSound(s->ownerHandle);
        if (owner == nullptr) {
            return -1;
        }
    }
    *ring = &owner->buffers[0];
    if (owner->claimerHandle == -1 || owner->claimerHandle == handle) {
        owner->claimerHandle = handle;
        return 0;
    }
    if (claim == 0) {
        return -1;
    }
    HaltStreamHandle(owner->claimerHandle);
    owner->claimerHandle = handle;
    return 0;
}

// Chooses the next playback buffer of a sound held in memory and sets its cursor. 0, 1 when
// that buffer plays and is left alone, -1 when it is absent or its status fails.
int32_t NextPlaybackBuffer(int32_t fromTop, SoundRecord* s)
{
    uint32_t cursor = 0;
    bool haveCursor = false;
    if (s->currentBuffer >= 0 && s->currentBuffer < kSoundBufferSlots) {
        haveCursor = ReadPlayCursor(&s->buffers[s->currentBuffer], &cursor);
    }
    int32_t next = s->currentBuffer + 1;
    if (next >= s->bufferCount || next >= kSoundBufferSlots || next < 0) {
        next = 0;
    }
    s->currentBuffer = next;
    SoundBufferRecord* buffer = &s->buffers[next];
    if (buffer->present == 0) {
        return -1;
    }
    int32_t failed = 0;
    const bool plays = BufferPlays(buffer, &failed);
    if (failed != 0) {
        return -1;
    }
    if (plays) {
        if (fromTop == 0) {
            return 1;
        }
        HaltBufferPlayback(buffer);
    }
    SetBufferCursor(buffer, fromTop == 1 ? 0 : (haveCursor ? cursor : 0));
    return 0;
}

int32_t SetupStreamPlay(SoundBufferRecord** ring, int32_t handle, SoundRecord* s, int32_t playType, int32_t fromTop)
{
    if (ResolveStreamOwner(handle, s, ring, 1) != 0) {
        return -1;
    }
    if (fromTop == 0 && QueryStreamPlaying(handle) == 1) {
        return 1;
    }
    HaltStreamHandle(handle);
    if (((playType ^ s->playType) & 2) != 0 && s->lastSourcePassed == 1) {
        RewindStream(s, false);
    }
    if (fromTop == 1) {
        s->lastSourcePassed = 0;
        if (s->playPosition != 0) {
            RewindStream(s, false);
        }
    }
    s->playType = playType;
    PrimeStreamPlay(handle);
    ApplyBufferSettings(s, &s->buffers[0]);
    return 0;
}

// Called when the current source gives no more data. -1 once the end has been written.
int32_t AdvanceStreamSource(SoundRecord* s, LockedRegion* region, uint32_t cursor)
{
    const uint32_t align = s->format.blockAlign;
    s->plays += 1;
    StreamSource* source = &s->sources[s->currentSource];
    if (source->loopCount == -1) {
        if (s->loopPointPending == 1) {
            return 0;
        }
        s->loopStartBytes = static_cast<uint32_t>(source->loopStartFrame) * align;
        s->sourcePosition = static_cast<int32_t>(s->loopStartBytes);
        s->loopPointPending = 1;
        s->loopPoint = RegionNextOffset(region);
        SeekConverter(&source->converter, source->loopStartFrame);
        return 0;
    }
    if (s->plays <= source->loopCount) {
        s->sourcePosition = 0;
        SeekConverter(&source->converter, 0);
        return 0;
    }
    if (s->currentSource == s->sourceCount - 1 && s->playType == 3 && s->loopPointPending == 1) {
        return 0;
    }
    s->plays = 0;
    s->currentSource += 1;
    if (s->currentSource < s->sourceCount) {
        s->sourcePosition = 0;
        SeekConverter(&s->sources[s->currentSource].converter, 0);
        return 0;
    }
    s->lastSourcePassed = 1;
    if (s->playType == 3) {
        s->currentSource = 0;
        s->loopStartBytes = 0;
        s->loopPointPending = 1;
        s->loopPoint = RegionNextOffset(region);
        s->sourcePosition = 0;
        SeekConverter(&s->sources[0].converter, 0);
        return 0;
    }
    s->currentSource = s->sourceCount - 1;
    s->endWritten = 1;
    s->endPosition = RegionNextOffset(region);
    s->cursorAtEnd = cursor;
    WriteSilenceToRegion(s, region, ComputeStreamRingSizes(s->format).eighth);
    return -1;
}

// Whether the play cursor lies in the part of the ring that may be written: between the
// window start and the write position, going round the ring's end.
bool CursorInWindow(int32_t write, int32_t windowStart, uint32_t cursor, uint32_t ringSize)
{
    const auto w = static_cast<uint32_t>(write);
    const auto l = static_cast<uint32_t>(windowStart);
    if (write > windowStart) {
        return cursor >= l && cursor <= w;
    }
    if (write < windowStart) {
        return (cursor >= l && cursor < ringSize) || cursor <= w;
    }
    return true;
}

bool LockRegion(SoundBufferRecord* ring, uint32_t offset, uint32_t count, LockedRegion* region)
{
    *region = LockedRegion{};
    region->offset = offset;
    if (LockBufferRegion(ring, offset, count, &region->part1, &region->length1, &region->part2, &region->length2) !=
        0) {
        return false;
    }
    region->left1 = region->length1;
    region->left2 = region->part2 != nullptr ? region->length2 : 0;
    return true;
}

void UnlockRegion(SoundBufferRecord* ring, const LockedRegion& region)
{
    UnlockBufferRegion(ring, region.part1, region.length1, region.part2, region.length2);
}

// The new write position after written bytes, wrapped, and the window start behind it.
void MoveWritePosition(SoundRecord* s, uint32_t write, const StreamRingSizes& sizes)
{
    if (write >= s->ringSize) {
        write -= s->ringSize;
    }
    s->writePosition = static_cast<int32_t>(write);
    int32_t start = static_cast<int32_t>(write) - static_cast<int32_t>(sizes.windowLength);
    if (start < 0) {
        start += static_cast<int32_t>(s->ringSize);
    }
    s->windowStart = start;
}

}  // namespace

StreamRingSizes ComputeStreamRingSizes(const WaveFormat& format)
{
    StreamRingSizes sizes{};
    const uint32_t align = format.blockAlign;
    if (align == 0) {
        return sizes;
    }
    const uint32_t rate = format.averageBytesPerSecond;
    const uint32_t second = rate % (1u << 24);
    sizes.ringSize = (second + align - 1) / align * align;
    sizes.eighth = static_cast<uint32_t>(static_cast<int32_t>(rate >> 3) / static_cast<int32_t>(align)) * align;
    const uint32_t threeQuarters = (rate * 192) >> 8;
    sizes.firstFill = threeQuarters / align * align;
    sizes.windowLength = (threeQuarters + align - 1) / align * align;
    return sizes;
}

void WriteSilenceToRegion(const SoundRecord* sound, LockedRegion* region, uint32_t count)
{
    const int fill = sound->format.bitsPerSample == 8 ? 127 : 0;
    RegionPart part;
    while (count > 0 && NextRegionPart(region, &part)) {
        const uint32_t k = count < part.room ? count : part.room;
        FillBytes(part.at, fill, k);
        AdvanceRegion(&part, k);
        count -= k;
    }
}

int32_t RegisterSoundRecord(SoundRecord* record)
{
    if (!IsSoundSystemStarted() || record == nullptr) {
        return -1;
    }
    SoundLockScope lock;
    const int32_t handle = AddHandleRecord(SoundTable(), record);
    if (handle < 0) {
        return -1;
    }
    record->check = static_cast<uint32_t>(HandleCheckOf(handle));
    if (record->kind == 1) {
        HandleChainNode* tail = &g_soundSystem.streamTail;
        record->streamNode = HandleChainNode{handle, record, tail->previous, tail};
        tail->previous->next = &record->streamNode;
        tail->previous = &record->streamNode;
    }
    return handle;
}

int32_t StartSoundHandle(int32_t handle, int32_t playType, int32_t fromTop)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    SoundRecord* s = FindSound(handle);
    if (s == nullptr) {
        return -1;
    }
    if (s->kind == 1) {
        return PrepareStreamPlay(handle, playType, fromTop);
    }
    const int32_t chosen = NextPlaybackBuffer(fromTop, s);
    if (chosen == 1) {
        return 0;
    }
    if (chosen != 0) {
        return -1;
    }
    SoundBufferRecord* buffer = &s->buffers[s->currentBuffer];
    ApplyBufferSettings(s, buffer);
    if (StartBufferPlayback(buffer, playType == 3 ? 1 : 0) != 0) {
        return -1;
    }
    if (playType == 0) {
        WaitWhilePlaying(handle);
    }
    return 0;
}

int32_t PrepareStreamPlay(int32_t handle, int32_t playType, int32_t fromTop)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    {
        SoundLockScope lock;
        SoundRecord* s = FindSound(handle);
        if (s == nullptr) {
            return -1;
        }
        SoundBufferRecord* ring = nullptr;
        const int32_t setup = SetupStreamPlay(&ring, handle, s, playType, fromTop);
        if (setup < 0) {
            return -1;
        }
        if (setup == 1) {
            return 0;
        }
        // A stream always plays its ring in a loop, whatever the play type.
        if (ring->present != 0) {
            StartBufferPlayback(ring, 1);
        }
    }
    if (playType == 0) {
        WaitWhilePlaying(handle);
    }
    return 0;
}

int32_t HaltSoundHandle(int32_t handle)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    SoundRecord* s = FindSound(handle);
    if (s == nullptr) {
        return -1;
    }
    if (s->kind == 1) {
        return HaltStreamHandle(handle);
    }
    // Only the buffers in use: the entries past the buffer count are absent.
    for (int32_t i = 0; i < s->bufferCount && i < kSoundBufferSlots; ++i) {
        if (HaltIfPlaying(&s->buffers[i]) != 0) {
            return -1;
        }
    }
    return 0;
}

int32_t HaltStreamHandle(int32_t handle)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    SoundLockScope lock;
    SoundRecord* s = FindSound(handle);
    if (s == nullptr) {
        return -1;
    }
    UpdateStreamPlayPosition(handle, kReadCursor);
    SoundBufferRecord* ring = nullptr;
    if (ResolveStreamOwner(handle, s, &ring, 0) == 0) {
        if (s->ownerHandle != -1) {
            SoundRecord* owner = FindSound(s->ownerHandle);
            if (owner != nullptr) {
                owner->claimerHandle = -1;
            }
        }
        if (HaltIfPlaying(ring) != 0) {
            return -1;
        }
    }
    return 0;
}

int32_t QuerySoundPlaying(int32_t handle)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    SoundRecord* s = FindSound(handle);
    if (s == nullptr) {
        return -1;
    }
    if (s->kind == 1) {
        return QueryStreamPlaying(handle);
    }
    for (int32_t i = 0; i < s->bufferCount && i < kSoundBufferSlots; ++i) {
        int32_t failed = 0;
        if (BufferPlays(&s->buffers[i], &failed)) {
            return 1;
        }
    }
    return 0;
}

int32_t QueryStreamPlaying(int32_t handle)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    SoundRecord* s = FindSound(handle);
    if (s == nullptr) {
        return -1;
    }
    SoundBufferRecord* ring = nullptr;
    if (ResolveStreamOwner(handle, s, &ring, 0) != 0) {
        return 0;
    }
    int32_t failed = 0;
    return BufferPlays(ring, &failed) ? 1 : 0;
}

int32_t CountSoundFrames(int32_t handle)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    SoundRecord* s = FindSound(handle);
    if (s == nullptr) {
        return -1;
    }
    if (s->kind == 1) {
        return s->totalFrames;
    }
    return s->format.blockAlign != 0 ? s->dataSize / static_cast<int32_t>(s->format.blockAlign) : 0;
}

int32_t MeasureSoundLengthMs(int32_t handle)
{
    const int32_t frames = CountSoundFrames(handle);
    if (frames < 0) {
        return -1;
    }
    SoundRecord* s = FindSound(handle);
    return FramesToMs(frames, static_cast<int32_t>(s->format.samplesPerSecond));
}

int32_t MeasureSoundPlayMs(int32_t handle)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    SoundRecord* s = FindSound(handle);
    if (s == nullptr) {
        return -1;
    }
    if (s->kind == 1) {
        return MeasureStreamTimeMs(handle);
    }
    uint32_t cursor = 0;
    if (s->currentBuffer >= 0 && s->currentBuffer < kSoundBufferSlots &&
        !ReadPlayCursor(&s->buffers[s->currentBuffer], &cursor)) {
        cursor = 0;
    }
    const uint32_t align = s->format.blockAlign != 0 ? s->format.blockAlign : 1;
    return FramesToMs(static_cast<int32_t>(cursor / align), static_cast<int32_t>(s->format.samplesPerSecond));
}

int32_t MeasureStreamTimeMs(int32_t handle)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    SoundLockScope lock;
    SoundRecord* s = FindSound(handle);
    if (s == nullptr) {
        return -1;
    }
    UpdateStreamPlayPosition(handle, kReadCursor);
    const uint32_t align = s->format.blockAlign != 0 ? s->format.blockAlign : 1;
    const int32_t played = FramesToMs(static_cast<int32_t>(s->playPosition / align),
                                      static_cast<int32_t>(s->format.samplesPerSecond));
    const int32_t length = MeasureSoundLengthMs(handle);
    return played < length ? played : length;
}

int32_t DestroySoundHandle(int32_t handle, int32_t)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    SoundLockScope lock;
    SoundRecord* s = FindSound(handle);
    if (s == nullptr) {
        return -1;
    }
    if (s->kind == 1) {
        HaltStreamHandle(handle);
    } else if (s->buffers[0].present != 0) {
        HaltSoundHandle(handle);
    }
    if (s->kind == 0) {
        for (int32_t i = 0; i < s->bufferCount && i < kSoundBufferSlots; ++i) {
            if (s->buffers[i].present != 0) {
                ReleaseBufferBackend(&s->buffers[i]);
            }
        }
        // A sound may hold data with no count beside it: only a shared block has one.
        if (s->sharedCount != nullptr) {
            *s->sharedCount -= 1;
            if (*s->sharedCount == 0) {
                FreeTrackedMemory(s->sharedData);
                FreeTrackedMemory(s->sharedCount);
            }
        }
        s->sharedData = nullptr;
        s->sharedCount = nullptr;
    } else if (s->kind == 1) {
        if (s->ownerHandle != -1) {
            SoundRecord* owner = FindSound(s->ownerHandle);
            if (owner != nullptr) {
                owner->sharerCount -= 1;
                if (s->ownerHandle != handle && owner->deletePending == 1 && owner->sharerCount == 0) {
                    DestroySoundHandle(s->ownerHandle, 0);
                }
            }
        }
        if (s->sharerCount != 0) {
            s->deletePending = 1;
            return 0;
        }
        if (s->streamNode.previous != nullptr) {
            UnlinkHandleChainNode(&s->streamNode);
        }
        for (int32_t i = 0; i < kStreamSourceSlots; ++i) {
            StreamSource* source = &s->sources[i];
            const StreamHandle converterStream = source->converter.streamHandle;
            const auto closeConverterStream = source->converter.stream.close;
            ReleaseConverter(&source->converter);
            FreeTrackedMemory(source->dataBlock);
            source->dataBlock = nullptr;
            if (source->kind == 3 && s->sourceCloseFlags[i] == 1 && converterStream != 0 &&
                closeConverterStream != nullptr) {
                closeConverterStream(converterStream);
            }
            if (source->streamHandle != 0 && source->stream.close != nullptr) {
                source->stream.close(source->streamHandle);
            }
        }
        if (s->buffers[0].present != 0) {
            ReleaseBufferBackend(&s->buffers[0]);
        }
    }
    RemoveHandleRecord(SoundTable(), handle);
    FreeTrackedMemory(s);
    return 0;
}

int32_t DestroyAllSoundHandles(int32_t unused)
{
    HandleTable* table = SoundTable();
    for (int32_t slot = 0; slot < kSoundCapacity; ++slot) {
        if (table->slots[slot].record != nullptr) {
            DestroySoundHandle(HandleOfSlot(table, slot), unused);
        }
    }
    return 0;
}

int32_t PrimeStreamPlay(int32_t handle)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    SoundLockScope lock;
    SoundRecord* s = FindSound(handle);
    if (s == nullptr) {
        return -1;
    }
    SoundBufferRecord* ring = nullptr;
    if (s->kind != 1 || QueryStreamPlaying(handle) == 1 || ResolveStreamOwner(handle, s, &ring, 0) != 0 ||
        s->refillArmed == 1) {
        return 0;
    }
    SetBufferCursor(ring, 0);
    const int32_t align = s->format.blockAlign != 0 ? s->format.blockAlign : 1;
    s->writePosition = kWriteNotFilled;
    s->windowStart = -1;
    s->lastCursor = 0;
    s->endWritten = 0;
    SeekConverter(&s->sources[s->currentSource].converter, s->sourcePosition / align);
    s->refillArmed = 1;
    RefillStreamBuffer(handle);
    return 0;
}

int32_t RefillStreamBuffer(int32_t handle)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    SoundLockScope lock;
    SoundRecord* s = FindSound(handle);
    if (s == nullptr) {
        return -1;
    }
    SoundBufferRecord* ring = nullptr;
    if (s->kind != 1 || ResolveStreamOwner(handle, s, &ring, 0) != 0 || s->refillArmed == 0) {
        return 0;
    }
    const StreamRingSizes sizes = ComputeStreamRingSizes(s->format);
    const uint32_t align = s->format.blockAlign;
    const uint32_t rate = s->format.averageBytesPerSecond;
    if (align == 0 || rate == 0 || s->ringSize == 0) {
        return -1;
    }
    UpdateStreamPlayPosition(handle, kReadCursor);

    uint32_t cursor = 0;
    LockedRegion region{};
    if (s->endWritten == 1) {
        ReadPlayCursor(ring, &cursor);
        const uint32_t end = s->endPosition;
        const uint32_t atEnd = s->cursorAtEnd;
        if (end < cursor && (atEnd < end || (atEnd > cursor && atEnd > end))) {
            HaltBufferPlayback(ring);
            RewindStream(s, true);
            return 0;
        }
        if (!CursorInWindow(s->writePosition, s->windowStart, cursor, s->ringSize)) {
            return -1;
        }
        if (!LockRegion(ring, static_cast<uint32_t>(s->writePosition), sizes.eighth, &region)) {
            return -1;
        }
        WriteSilenceToRegion(s, &region, sizes.eighth);
        UnlockRegion(ring, region);
        MoveWritePosition(s, static_cast<uint32_t>(s->writePosition) + sizes.eighth, sizes);
        return 0;
    }

    uint32_t amount = sizes.eighth;
    int32_t failed = 0;
    if (!BufferPlays(ring, &failed)) {
        if (s->writePosition != kWriteNotFilled) {
            return 0;
        }
        amount = sizes.firstFill;
        if (!LockRegion(ring, 0, amount, &region)) {
            return -1;
        }
    } else {
        ReadPlayCursor(ring, &cursor);
        if (!CursorInWindow(s->writePosition, s->windowStart, cursor, s->ringSize)) {
            return -1;
        }
        uint32_t write = static_cast<uint32_t>(s->writePosition);
        uint32_t at = cursor;
        if (s->writePosition < s->windowStart) {
            if (at < write) {
                at += s->ringSize;
            }
            write += s->ringSize;
        }
        const uint32_t queued = ((write - at) << 9) / rate;  // in 1/512 s
        if (queued < 192) {
            amount = (((192 - queued) * rate) >> 9) / align * align;
        }
        if (!LockRegion(ring, static_cast<uint32_t>(s->writePosition), amount, &region)) {
            return -1;
        }
    }

    uint32_t left = amount;
    while (left != 0 && s->endWritten == 0) {
        const int32_t current = s->currentSource;
        StreamSource* source = &s->sources[current];
        uint32_t request = left;
        if (source->endFrame != -1) {
            const int64_t limit = static_cast<int64_t>(source->endFrame) * align - s->sourcePosition;
            if (static_cast<int64_t>(request) > limit) {
                request = limit > 0 ? static_cast<uint32_t>(limit) : 0;
            }
        }
        const uint32_t got = request != 0 ? ReadConverterIntoRegion(&region, &source->converter, request) : 0;
        if (got == 0) {
            AdvanceStreamSource(s, &region, cursor);
        } else {
            left -= got;
            s->sourcePosition += static_cast<int32_t>(got);
        }
        if (s->currentSource == current &&
            (source->endFrame == -1 ||
             static_cast<int64_t>(s->sourcePosition) >= static_cast<int64_t>(source->endFrame) * align)) {
            break;
        }
    }
    UnlockRegion(ring, region);
    const uint32_t written = amount - left;
    if (s->writePosition == kWriteNotFilled) {
        s->writePosition = static_cast<int32_t>(written);
        s->windowStart = 0;
        return 0;
    }
    MoveWritePosition(s, static_cast<uint32_t>(s->writePosition) + written, sizes);
    return 0;
}

int32_t UpdateStreamPlayPosition(int32_t handle, uint32_t cursor)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    SoundRecord* s = FindSound(handle);
    if (s == nullptr) {
        return -1;
    }
    SoundBufferRecord* ring = nullptr;
    if (s->kind != 1 || ResolveStreamOwner(handle, s, &ring, 0) != 0 || s->refillArmed == 0) {
        return 0;
    }
    uint32_t c = cursor;
    if (c == kReadCursor && !ReadPlayCursor(ring, &c)) {
        return 0;
    }
    const uint32_t p = s->lastCursor;
    const uint32_t x = s->loopPoint;
    const uint32_t size = s->ringSize;
    if (c == p) {
        return 0;
    }
    if (s->loopPointPending == 1 && ((p < c && p < x && x <= c) || (p >= c && x > p) || (p >= c && x < c))) {
        s->playPosition = s->loopStartBytes + (x <= c ? c - x : size - x + c);
        s->loopPointPending = 0;
        s->lastCursor = c;
        return 0;
    }
    s->playPosition += p < c ? c - p : size - p + c;
    s->lastCursor = c;
    return 0;
}

void RefillArmedStreams()
{
    HandleChainNode* node = g_soundSystem.streamHead.next;
    while (node != nullptr && node != &g_soundSystem.streamTail) {
        HandleChainNode* next = node->next;
        auto* sound = static_cast<SoundRecord*>(node->data);
        if (sound->refillArmed != 0) {
            RefillStreamBuffer(node->handle);
        }
        node = next;
    }
}
