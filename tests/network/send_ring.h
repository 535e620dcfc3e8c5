// Putting bytes into a connection's send ring the way SendSocket would, for tests that drive
// the sending side by hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "quarn/core/core.h"
#include "quarn/network/network.h"

inline void QueueSendBytes(NetworkHandleRecord* r, const std::string& bytes)
{
    ASSERT_EQ(ReserveRingBuffer(&r->sendRing, static_cast<int32_t>(bytes.size())), 0);
    for (char c : bytes) {
        r->sendRing.data[r->sendRing.writePos] = static_cast<uint8_t>(c);
        r->sendRing.writePos = (r->sendRing.writePos + 1) % r->sendRing.size;
        r->sendRing.held += 1;
    }
}
