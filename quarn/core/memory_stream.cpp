// A stream over a block of memory that the caller keeps.

#include "quarn/core/files.h"

namespace {

MemoryStream* StreamOf(StreamHandle stream) { return reinterpret_cast<MemoryStream*>(stream); }

}  // namespace

MemoryStream* OpenMemoryStream(const void* data, uint32_t size)
{
    MemoryStream* s = static_cast<MemoryStream*>(AllocTrackedMemory(sizeof(MemoryStream), "", 0));
    if (!s) return nullptr;
    s->data = static_cast<const uint8_t*>(data);
    s->size = size;
    s->position = 0;
    s->endFlag = 0;
    return s;
}

int32_t TellMemoryStream(StreamHandle stream) { return static_cast<int32_t>(StreamOf(stream)->position); }

int SeekMemoryStream(StreamHandle stream, int32_t offset, int origin)
{
    MemoryStream* s = StreamOf(stream);
    int64_t target = offset;
    if (origin == 1) target += s->position;
    else if (origin == 2) target += s->size;
    if (target < 0) target = 0;
    if (target > int64_t(s->size)) target = s->size;
    s->position = static_cast<uint32_t>(target);
    s->endFlag = 0;
    return 0;
}

int32_t ReadMemoryStream(void* buffer, uint32_t elementSize, uint32_t count, StreamHandle stream)
{
    MemoryStream* s = StreamOf(stream);
    if (elementSize == 0) return 0;
    if (s->position >= s->size) {
        s->endFlag = 1;
        return 0;
    }
    const uint32_t left = s->size - s->position;
    const uint64_t wanted = uint64_t(elementSize) * count;
    // Whole elements while there are some; then what is left of a last partial element,
    // copied but not counted, and never more than the caller's elementSize x count bytes.
    const uint32_t whole = wanted <= left ? count : left / elementSize;
    const uint32_t bytes = whole > 0 ? whole * elementSize : static_cast<uint32_t>(wanted < left ? wanted : left);
    CopyBytes(buffer, s->data + s->position, bytes);
    s->position += bytes;
    s->endFlag = 0;
    return static_cast<int32_t>(whole);
}

int IsMemoryStreamAtEnd(StreamHandle stream) { return StreamOf(stream)->endFlag; }

int IsMemoryStreamIdle(StreamHandle) { return 1; }

int CloseMemoryStream(StreamHandle stream)
{
    FreeTrackedMemory(StreamOf(stream));
    return 0;
}
