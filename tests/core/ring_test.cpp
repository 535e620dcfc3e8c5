#include "quarn/core/core.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <vector>

namespace {

// One step of a ring-buffer scenario.
struct Step {
    char op;  // 'R' reserve, 'W' write (reserve, then append), 'G' read, 'P' peek
    int32_t count;
    int result;    // expected result
    int32_t size;  // expected buffer size afterwards
};

// Appends count bytes like a ring's user does: at the write position, wrapping at the size.
int Write(RingBuffer& ring, int32_t count, uint8_t& next, std::deque<uint8_t>& model)
{
    if (ReserveRingBuffer(&ring, count) != 0) return -1;
    for (int32_t i = 0; i < count; ++i) {
        if (ring.writePos == ring.size) ring.writePos = 0;
        ring.data[ring.writePos++] = next;
        model.push_back(next++);
    }
    ring.held += count;
    return 0;
}

struct Scenario {
    const char* name;
    std::vector<Step> steps;
};

TEST(RingBuffer, ScenariosOfGrowthWrapPeekAndRefusal)
{
    const Scenario scenarios[] = {
        {"first reservation allocates need + 1000", {{'R', 10, 0, 1010}}},
        {"a reservation that fits keeps the buffer", {{'W', 500, 0, 1500}, {'R', 1000, 0, 1500}, {'R', 0, 0, 1500}}},
        {"growth is held * 3 / 2 + need + 1000",
         {{'W', 10, 0, 1010}, {'W', 1000, 0, 1010}, {'W', 1, 0, 1010 * 3 / 2 + 1 + 1000}}},
        {"reading exactly what is held, then one byte more",
         {{'W', 30, 0, 1030}, {'G', 30, 0, 1030}, {'G', 1, -1, 1030}, {'P', 1, -1, 1030}}},
        {"a peek returns the same bytes as the read after it",
         {{'W', 20, 0, 1020}, {'P', 12, 0, 1020}, {'P', 12, 0, 1020}, {'G', 12, 0, 1020}, {'G', 8, 0, 1020}}},
        {"writes and reads wrap around the end in order",
         {{'W', 1000, 0, 2000}, {'G', 900, 0, 2000}, {'W', 1500, 0, 2000}, {'G', 1600, 0, 2000}}},
        {"growth while wrapped re-lays the bytes in order",
         {{'W', 800, 0, 1800},
          {'G', 700, 0, 1800},
          {'W', 1500, 0, 1800},
          {'W', 500, 0, 2400 + 500 + 1000},
          {'G', 2100, 0, 3900}}},
        {"a read that ends exactly at the buffer's end wraps the position",
         {{'W', 10, 0, 1010},
          {'G', 10, 0, 1010},
          {'W', 1000, 0, 1010},
          {'G', 1000, 0, 1010},
          {'W', 5, 0, 1010},
          {'G', 5, 0, 1010}}},
        {"negative requests are refused", {{'W', 10, 0, 1010}, {'R', -1, -1, 1010}, {'G', -1, -1, 1010}}},
        {"a request past 2^31 - 1 bytes is refused and keeps the bytes",
         {{'W', 100, 0, 1100}, {'R', INT32_MAX, -1, 1100}, {'R', INT32_MAX - 1000, -1, 1100}, {'G', 100, 0, 1100}}},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        RingBuffer ring{};
        std::deque<uint8_t> model;
        uint8_t next = 1;
        for (size_t i = 0; i < s.steps.size(); ++i) {
            const Step& step = s.steps[i];
            SCOPED_TRACE(testing::Message() << "step " << i << " " << step.op << step.count);
            const RingBuffer before = ring;
            int result = 0;
            std::vector<uint8_t> got((step.op == 'G' || step.op == 'P') && step.count > 0 ? step.count : 0);
            switch (step.op) {
            case 'R': result = ReserveRingBuffer(&ring, step.count); break;
            case 'W': result = Write(ring, step.count, next, model); break;
            case 'G':
            case 'P': result = ReadRingBuffer(&ring, got.data(), step.count, step.op == 'P'); break;
            }
            ASSERT_EQ(result, step.result);
            EXPECT_EQ(ring.size, step.size);
            if (result != 0) {
                EXPECT_EQ(ring.data, before.data);
                EXPECT_EQ(ring.held, before.held);
                EXPECT_EQ(ring.readPos % (ring.size ? ring.size : 1), before.readPos % (ring.size ? ring.size : 1));
            }
            if (result == 0 && (step.op == 'G' || step.op == 'P')) {
                const std::vector<uint8_t> want(model.begin(), model.begin() + step.count);
                EXPECT_EQ(got, want);
                if (step.op == 'G') model.erase(model.begin(), model.begin() + step.count);
            }
            ASSERT_EQ(ring.held, static_cast<int32_t>(model.size()));
            ASSERT_GE(ring.size, ring.held);
        }
        EXPECT_EQ(FreeRingBuffer(&ring), 0);
        EXPECT_EQ(ring.data, nullptr);
        EXPECT_EQ(ring.size, 0);
    }
}

TEST(RingBuffer, FittingReservationOnlyNormalisesPositions)
{
    RingBuffer ring{};
    ASSERT_EQ(ReserveRingBuffer(&ring, 10), 0);
    uint8_t* data = ring.data;
    ring.readPos = ring.size;
    ring.writePos = ring.size;
    EXPECT_EQ(ReserveRingBuffer(&ring, 5), 0);
    EXPECT_EQ(ring.data, data);
    EXPECT_EQ(ring.readPos, 0);
    EXPECT_EQ(ring.writePos, 0);
    FreeRingBuffer(&ring);
}

TEST(RingBuffer, RefusalWritesItsLogLine)
{
    RingBuffer ring{};
    LogCapture log;
    EXPECT_EQ(ReserveRingBuffer(&ring, INT32_MAX), -1);
    EXPECT_TRUE(log.Contains(L"リングバッファの再確保に失敗しました(確保しようとしたサイズ 2147484647 byte)"));
}

#if defined(_WIN32) && !defined(_WIN64)
TEST(RingBuffer, FailedAllocationKeepsTheRing)
{
    RingBuffer ring{};
    ASSERT_EQ(ReserveRingBuffer(&ring, 3), 0);
    ring.data[0] = 9;
    ring.held = 1;
    ring.writePos = 1;
    const RingBuffer before = ring;
    // The largest size allowed, which a 32-bit process cannot get in one piece.
    EXPECT_EQ(ReserveRingBuffer(&ring, INT32_MAX - 1001), -1);
    EXPECT_EQ(ring.data, before.data);
    EXPECT_EQ(ring.size, before.size);
    EXPECT_EQ(ring.held, 1);
    EXPECT_EQ(ring.data[0], 9);
    FreeRingBuffer(&ring);
}
#endif

TEST(HandleChain, EmptyChainLinksAndUnlinks)
{
    HandleChainNode head, tail, a{5, nullptr, nullptr, nullptr}, b{6, nullptr, nullptr, nullptr};
    EXPECT_EQ(MakeEmptyHandleChain(&head, &tail), 0);
    EXPECT_EQ(head.handle, -1);
    EXPECT_EQ(tail.handle, -1);
    EXPECT_EQ(head.previous, nullptr);
    EXPECT_EQ(head.next, &tail);
    EXPECT_EQ(tail.previous, &head);
    EXPECT_EQ(tail.next, nullptr);

    // Users insert nodes themselves: head, a, b, tail.
    a.previous = &head;
    a.next = &b;
    b.previous = &a;
    b.next = &tail;
    head.next = &a;
    tail.previous = &b;

    EXPECT_EQ(UnlinkHandleChainNode(&a), 0);
    EXPECT_EQ(head.next, &b);
    EXPECT_EQ(b.previous, &head);
    EXPECT_EQ(a.next, &b);  // the node itself is left as it was
    std::vector<int> walked;
    for (HandleChainNode* n = head.next; n->handle != -1; n = n->next) walked.push_back(n->handle);
    EXPECT_EQ(walked, std::vector<int>{6});
    UnlinkHandleChainNode(&b);
    EXPECT_EQ(head.next, &tail);
    EXPECT_EQ(tail.previous, &head);
}

}  // namespace
