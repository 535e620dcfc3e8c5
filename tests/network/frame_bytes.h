// Frames and rings as the network tests, the fuzz target and the benchmarks build and read
// them: a frame's bytes on the wire, the bytes a ring holds, and bytes put into a connection's
// send ring the way the application queues them for SendSocket.
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

// A frame's length word as the wire carries it, little-endian.
inline std::string LengthWord(uint32_t n)
{
    return std::string{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                       static_cast<char>(n >> 24)};
}

inline std::string Frame(const std::string& payload)
{
    return LengthWord(static_cast<uint32_t>(payload.size())) + payload;
}

// The first n bytes the ring holds, oldest first.
inline std::string RingFront(const RingBuffer& ring, uint32_t n)
{
    std::string out;
    for (uint32_t i = 0; i < n; ++i) {
        out += static_cast<char>(
            ring.data[(static_cast<uint32_t>(ring.readPos) + i) % static_cast<uint32_t>(ring.size)]);
    }
    return out;
}

// Every byte the ring holds.
inline std::string Held(const RingBuffer& ring) { return RingFront(ring, static_cast<uint32_t>(ring.held)); }

inline bool QueueSendBytes(NetworkHandleRecord* r, const std::string& bytes)
{
    return PutBytesInRing(&r->sendRing, bytes.data(), static_cast<int32_t>(bytes.size()));
}
