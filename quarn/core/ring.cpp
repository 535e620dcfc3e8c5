// Growing byte ring buffer and the doubly linked handle chain.

#include "quarn/core/core.h"

namespace {

constexpr int64_t kMaxRingBytes = INT32_MAX;

}  // namespace

void NormalizeRingBufferPositions(RingBuffer* ring)
{
    if (ring->readPos == ring->size) ring->readPos = 0;
    if (ring->writePos == ring->size) ring->writePos = 0;
}

int ReserveRingBuffer(RingBuffer* ring, int32_t extra)
{
    NormalizeRingBufferPositions(ring);
    // Lengths may come from a peer: reckon in 64 bits and refuse what cannot be held.
    if (extra < 0) return -1;
    const int64_t held = ring->held;
    if (int64_t(ring->size) >= held + extra) return 0;

    const int64_t newSize = held * 3 / 2 + extra + 1000;
    uint8_t* data = nullptr;
    if (newSize <= kMaxRingBytes)
        data = static_cast<uint8_t*>(AllocTrackedMemory(static_cast<uint32_t>(newSize), "", 0));
    if (!data) {
        AppendLogFormat(L"リングバッファの再確保に失敗しました(確保しようとしたサイズ %lld byte)",
                        static_cast<long long>(newSize));
        return -1;
    }

    const int32_t firstPart = ring->size - ring->readPos;
    if (ring->held > firstPart) {
        CopyBytes(data, ring->data + ring->readPos, static_cast<uint32_t>(firstPart));
        CopyBytes(data + firstPart, ring->data, static_cast<uint32_t>(ring->held - firstPart));
    } else if (ring->held > 0) {
        CopyBytes(data, ring->data + ring->readPos, static_cast<uint32_t>(ring->held));
    }
    FreeTrackedMemory(ring->data);
    ring->data = data;
    ring->readPos = 0;
    ring->writePos = ring->held;
    ring->size = static_cast<int32_t>(newSize);
    return 0;
}

int ReadRingBuffer(RingBuffer* ring, void* dst, int32_t length, int peek)
{
    if (length < 0 || ring->held < length) return -1;
    NormalizeRingBufferPositions(ring);
    uint8_t* out = static_cast<uint8_t*>(dst);
    const int32_t firstPart = ring->size - ring->readPos;
    if (length <= firstPart) {
        CopyBytes(out, ring->data + ring->readPos, static_cast<uint32_t>(length));
    } else {
        CopyBytes(out, ring->data + ring->readPos, static_cast<uint32_t>(firstPart));
        CopyBytes(out + firstPart, ring->data, static_cast<uint32_t>(length - firstPart));
    }
    if (!peek) {
        ring->held -= length;
        ring->readPos += length;
        if (ring->readPos >= ring->size) ring->readPos -= ring->size;
    }
    return 0;
}

int FreeRingBuffer(RingBuffer* ring)
{
    FreeTrackedMemory(ring->data);
    FillBytes(ring, 0, sizeof(*ring));
    return 0;
}

int MakeEmptyHandleChain(HandleChainNode* head, HandleChainNode* tail)
{
    *head = {-1, nullptr, nullptr, tail};
    *tail = {-1, nullptr, head, nullptr};
    return 0;
}

int UnlinkHandleChainNode(HandleChainNode* node)
{
    node->previous->next = node->next;
    node->next->previous = node->previous;
    return 0;
}
