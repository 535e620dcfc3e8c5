// The converters: a work buffer that each kind refills in blocks, handed out in any byte
// counts, and the fill of a ring buffer's locked region straight from it.
#include "quarn/sound/sound_stream.h"

namespace {

int32_t Smaller(int32_t a, int32_t b) { return a < b ? a : b; }

// Plain PCM from a stream, in blocks of whole sample frames. The bytes the read delivered are
// what the work buffer holds: a stream shorter than its stated size ends where its bytes end
// instead of handing out the work buffer's old contents again and again. A stream cut inside
// a frame ends at its last whole frame, so that what follows it (a repeat, the next source)
// is not shifted by the part of a frame.
int32_t ReadPcmBlock(SoundConverter* c)
{
    const int32_t offset = c->stream.tell(c->streamHandle) - c->dataStart;
    if (offset >= c->dataSize || offset < 0) {
        return -1;
    }
    const int32_t align = c->output.blockAlign;
    const int32_t wholeFrames = c->workSize >= align ? c->workSize - c->workSize % align : c->workSize;
    const int32_t count = Smaller(wholeFrames, c->dataSize - offset);
    const int32_t got = c->stream.read(c->work, 1, static_cast<uint32_t>(count), c->streamHandle);
    if (got <= 0) {
        return -1;
    }
    int32_t end = offset + Smaller(got, count);
    if (got < count) {
        end -= end % align;
        if (end <= offset) {
            return -1;
        }
        c->stream.seek(c->streamHandle, c->dataStart + end, 0);
    }
    c->workLeft = end - offset;
    return 0;
}

// PCM in memory is handed out where it lies: the refill marks out the next block of the data
// (its count, the work buffer's size at most) without copying it into the work buffer, which
// would only be copied out again.
int32_t TakeMemoryPcm(SoundConverter* c)
{
    if (c->memoryPosition >= c->memorySize) {
        return -1;
    }
    const int32_t count = Smaller(c->workSize, c->memorySize - c->memoryPosition);
    c->workLeft = count;
    c->memoryPosition += count;
    return 0;
}

// Where the next byte to hand out lies: in the work buffer at its read offset, or for PCM in
// memory in the data itself, the bytes left of the block ending at its read position.
const uint8_t* NextInWorkBuffer(const SoundConverter* c) { return c->work + c->workOffset; }
const uint8_t* NextInMemoryPcm(const SoundConverter* c) { return c->memoryData + (c->memoryPosition - c->workLeft); }

// The kind's own refills of the work buffer; their seek and release are below.
int32_t SeekPcmSource(SoundConverter* c, int32_t frame)
{
    const int32_t target = frame * c->output.blockAlign;
    c->stream.seek(c->streamHandle, c->dataStart + target, 0);
    c->position = target;
    c->workLeft = 0;
    c->workOffset = 0;
    return 0;
}

int32_t SeekMemoryPcm(SoundConverter* c, int32_t frame)
{
    const int32_t target = frame * c->output.blockAlign;
    c->memoryPosition = Smaller(target, c->memorySize);
    c->position = target;
    c->workLeft = 0;
    c->workOffset = 0;
    return 0;
}

int32_t ReleaseNothing(SoundConverter*) { return 0; }

int32_t FreeMemoryPcm(SoundConverter* c)
{
    FreeTrackedMemory(c->memoryData);
    c->memoryData = nullptr;
    return 0;
}

// What differs between the four kinds, indexed by the kind: the refill of the work buffer,
// the seek to a sample frame, the release of what the kind owns beyond the work buffer and
// where the refilled bytes lie.
// The compressed kind's seek keeps what its work buffer holds where the target lies in it.
struct ConverterKindCalls {
    int32_t (*refill)(SoundConverter* c);
    int32_t (*seek)(SoundConverter* c, int32_t frame);
    int32_t (*release)(SoundConverter* c);
    const uint8_t* (*next)(const SoundConverter* c);
};

const ConverterKindCalls kConverterKinds[] = {
    /* kConvertPcmStream */ {ReadPcmBlock, SeekPcmSource, ReleaseNothing, NextInWorkBuffer},
    /* kConvertAcm */ {ConvertAcmBlock, SeekAcmSource, FreeAcmConverter, NextInWorkBuffer},
    /* kConvertVorbis */ {ReadVorbisPcm, SeekVorbisPcm, CloseVorbisSource, NextInWorkBuffer},
    /* kConvertMemoryPcm */ {TakeMemoryPcm, SeekMemoryPcm, FreeMemoryPcm, NextInMemoryPcm},
};
constexpr int32_t kConverterKindCount = static_cast<int32_t>(sizeof kConverterKinds / sizeof kConverterKinds[0]);

// The calls of the converter's kind; null for a kind that does not exist.
const ConverterKindCalls* KindOf(const SoundConverter* c)
{
    return c->kind >= 0 && c->kind < kConverterKindCount ? &kConverterKinds[c->kind] : nullptr;
}

}  // namespace

uint32_t RegionNextOffset(const LockedRegion* region)
{
    if (region->left1 > 0 || region->length2 == 0) {
        return region->offset + region->length1 - region->left1;
    }
    return region->length2 - region->left2;
}

bool NextRegionPart(LockedRegion* region, RegionPart* part)
{
    if (region->left1 > 0) {
        *part = {region->part1 + region->written1, region->left1, &region->left1, &region->written1};
    } else if (region->left2 > 0) {
        *part = {region->part2 + region->written2, region->left2, &region->left2, &region->written2};
    } else {
        return false;
    }
    return true;
}

void AdvanceRegion(const RegionPart* part, uint32_t bytes)
{
    *part->left -= bytes;
    *part->written += bytes;
}

int32_t ReadConverter(SoundConverter* c, void* destination, int32_t count)
{
    if (c->inUse == 0) {
        return -1;
    }
    if (c->ended == 1 || count <= 0) {
        return 0;
    }
    auto* out = static_cast<uint8_t*>(destination);
    int32_t delivered = 0;
    const ConverterKindCalls* kind = KindOf(c);
    while (count != 0) {
        if (c->workLeft <= 0) {
            c->workOffset = 0;
            if (kind == nullptr || kind->refill(c) != 0) {
                c->ended = 1;
                return delivered;
            }
        }
        const int32_t take = Smaller(count, c->workLeft);
        const uint8_t* from = kind != nullptr ? kind->next(c) : c->work + c->workOffset;
        CopyBytes(out + delivered, from, static_cast<uint32_t>(take));
        c->workLeft -= take;
        c->workOffset += take;
        // 32-bit unsigned, as a position counts: a read past 2^31 bytes wraps, never overflows.
        c->position = static_cast<int32_t>(static_cast<uint32_t>(c->position) + static_cast<uint32_t>(take));
        delivered += take;
        count -= take;
    }
    return delivered;
}

uint32_t ReadConverterIntoRegion(LockedRegion* region, SoundConverter* converter, uint32_t count)
{
    uint32_t total = 0;
    RegionPart part;
    while (count != 0 && NextRegionPart(region, &part)) {
        const uint32_t want = count < part.room ? count : part.room;
        const int32_t got = ReadConverter(converter, part.at, static_cast<int32_t>(want));
        if (got <= 0) {
            break;
        }
        AdvanceRegion(&part, static_cast<uint32_t>(got));
        count -= static_cast<uint32_t>(got);
        total += static_cast<uint32_t>(got);
    }
    return total;
}

int32_t SeekConverter(SoundConverter* c, int32_t frame)
{
    // Byte positions are formed 64 bits wide: a frame far out multiplied by the block align,
    // or its distance from the position, does not fit 32 bits. A frame before the data reads
    // from its first byte; one whose bytes lie beyond what a stream of 32-bit positions or
    // the converter's own data holds is refused, and the converter stays as it was.
    const int64_t align = c->output.blockAlign;
    int64_t target = static_cast<int64_t>(frame) * align;
    if (target < 0) {
        target = 0;
    }
    const int64_t limit = c->kind == kConvertPcmStream   ? c->dataSize
                          : c->kind == kConvertMemoryPcm ? c->memorySize
                                                         : INT32_MAX;
    if (target > limit || (c->kind == kConvertPcmStream && c->dataStart + target > INT32_MAX)) {
        return -1;
    }
    const int64_t distance = target - c->position;
    if (distance > -16 && distance < 16) {
        return 0;
    }
    const int32_t within = align > 0 ? static_cast<int32_t>(target / align) : 0;
    const ConverterKindCalls* kind = KindOf(c);
    if (kind != nullptr) {
        if (kind->seek(c, within) != 0) {
            return -1;
        }
    } else {
        c->position = static_cast<int32_t>(target);
        c->workLeft = 0;
        c->workOffset = 0;
    }
    c->ended = 0;
    return 0;
}

int32_t ReleaseConverter(SoundConverter* c)
{
    if (c->inUse == 0) {
        return -1;
    }
    FreeTrackedMemory(c->work);
    c->work = nullptr;
    const ConverterKindCalls* kind = KindOf(c);
    if (kind != nullptr) {
        kind->release(c);
    }
    c->inUse = 0;
    return 0;
}
