// Putting bytes into a connection's send ring the way the application queues them for
// SendSocket, for the tests, the fuzz target and the benchmarks that drive the sending side by
// hand.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "quarn/core/core.h"
#include "quarn/network/network.h"

// Room reserved, then the bytes copied at the write position, wrapping at the ring's end, and
// counted held. False, with the ring unchanged, when the room cannot be had.
inline bool PutBytesInRing(RingBuffer* ring, const void* bytes, int32_t n)
{
    if (ReserveRingBuffer(ring, n) != 0) return false;
    if (n == 0) return true;
    const int32_t first = n < ring->size - ring->writePos ? n : ring->size - ring->writePos;
    std::memcpy(ring->data + ring->writePos, bytes, static_cast<size_t>(first));
    std::memcpy(ring->data, static_cast<const uint8_t*>(bytes) + first, static_cast<size_t>(n - first));
    ring->writePos = (ring->writePos + n) % ring->size;
    ring->held += n;
    return true;
}

inline bool QueueSendBytes(NetworkHandleRecord* r, const std::string& bytes)
{
    return PutBytesInRing(&r->sendRing, bytes.data(), static_cast<int32_t>(bytes.size()));
}
