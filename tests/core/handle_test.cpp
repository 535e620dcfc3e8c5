#include "quarn/core/handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Record {
    int value;
};

// Each test gets fresh tables: the check number is never reset within one table.
class HandleTableTest : public ::testing::Test {
protected:
    FixedHandleTable<32768> graphs{kHandleTypeGraph, kSlotHighWaterFirst};
    FixedHandleTable<40> fonts{kHandleTypeFont, kSlotFirstFree};
    std::vector<Record> records = std::vector<Record>(4096);
};

TEST_F(HandleTableTest, FirstHandlesFollowTheLayout)
{
    EXPECT_EQ(AddHandleRecord(graphs.get(), &records[0]), 0x08000000);
    EXPECT_EQ(AddHandleRecord(graphs.get(), &records[1]), 0x08010001);
    EXPECT_EQ(MakeHandle(kHandleTypeLight, 0, 0), 0x48000000);
    EXPECT_EQ(graphs->liveCount, 2);
    EXPECT_EQ(graphs->highWater, 2);
    EXPECT_EQ(FindHandleRecord(graphs.get(), 0x08010001), &records[1]);
}

TEST_F(HandleTableTest, CheckNumberWrapsAfter2047)
{
    const int32_t first = AddHandleRecord(graphs.get(), &records[0]);
    ASSERT_EQ(RemoveHandleRecord(graphs.get(), first), &records[0]);
    int32_t h = -1;
    for (int i = 1; i < 2048; ++i) {
        h = AddHandleRecord(graphs.get(), &records[1]);
        ASSERT_EQ(HandleCheckOf(h), i);
        ASSERT_EQ(HandleSlotOf(h), 0) << "an empty table starts again at slot 0";
        ASSERT_EQ(RemoveHandleRecord(graphs.get(), h), &records[1]);
    }
    // The 2049th creation in slot 0 carries the first handle again.
    EXPECT_EQ(AddHandleRecord(graphs.get(), &records[2]), first);
    EXPECT_EQ(FindHandleRecord(graphs.get(), h), nullptr) << "check 2047 is stale now";
}

TEST_F(HandleTableTest, BadHandlesAreRefusedWithoutChange)
{
    const int32_t h = AddHandleRecord(graphs.get(), &records[0]);
    AddHandleRecord(graphs.get(), &records[1]);
    const int32_t freed = AddHandleRecord(graphs.get(), &records[2]);
    ASSERT_EQ(RemoveHandleRecord(graphs.get(), freed), &records[2]);

    const int32_t bad[] = {
        -1,
        static_cast<int32_t>(0x80000000u | static_cast<uint32_t>(h)),  // bit 31
        MakeHandle(kHandleTypeSound, 0, 0),                            // another type
        MakeHandle(kHandleTypeGraph, 0, 0) | 0x10000000,               // extra type bits
        MakeHandle(kHandleTypeGraph, 5, 0),                            // other check number
        freed,                                                         // empty slot
        MakeHandle(kHandleTypeGraph, 0, 40000),                        // slot beyond the table
    };
    for (int32_t handle : bad) {
        EXPECT_EQ(FindHandleRecord(graphs.get(), handle), nullptr) << std::hex << handle;
        EXPECT_EQ(RemoveHandleRecord(graphs.get(), handle), nullptr) << std::hex << handle;
    }
    EXPECT_EQ(graphs->liveCount, 2);
    EXPECT_EQ(graphs->highWater, 2);
    // Slots 32768 and up cannot be named in a table of 32768; a font slot of 40 is out of range.
    EXPECT_EQ(FindHandleRecord(fonts.get(), MakeHandle(kHandleTypeFont, 0, 40)), nullptr);
}

TEST_F(HandleTableTest, StaleHandleIsRefusedOnceItsSlotIsReused)
{
    const int32_t old = AddHandleRecord(fonts.get(), &records[0]);
    ASSERT_EQ(RemoveHandleRecord(fonts.get(), old), &records[0]);
    const int32_t reused = AddHandleRecord(fonts.get(), &records[1]);
    EXPECT_EQ(HandleSlotOf(reused), HandleSlotOf(old));
    EXPECT_EQ(FindHandleRecord(fonts.get(), old), nullptr);
    EXPECT_EQ(RemoveHandleRecord(fonts.get(), old), nullptr);
    EXPECT_EQ(FindHandleRecord(fonts.get(), reused), &records[1]);
}

TEST_F(HandleTableTest, HighWaterFallsToTheHighestRemainingRecord)
{
    std::vector<int32_t> h;
    for (int i = 0; i < 5; ++i) {
        h.push_back(AddHandleRecord(graphs.get(), &records[i]));
    }
    RemoveHandleRecord(graphs.get(), h[2]);
    RemoveHandleRecord(graphs.get(), h[3]);
    EXPECT_EQ(graphs->highWater, 5) << "removing below the top keeps the high-water slot";
    // Under the high-water rule the freed slots are not reused yet.
    const int32_t next = AddHandleRecord(graphs.get(), &records[5]);
    EXPECT_EQ(HandleSlotOf(next), 5);
    RemoveHandleRecord(graphs.get(), next);
    RemoveHandleRecord(graphs.get(), h[4]);
    EXPECT_EQ(graphs->highWater, 2);
    RemoveHandleRecord(graphs.get(), h[1]);
    RemoveHandleRecord(graphs.get(), h[0]);
    EXPECT_EQ(graphs->highWater, 0);
    EXPECT_EQ(graphs->liveCount, 0);
}

TEST_F(HandleTableTest, FullTablesReuseOrRefuse)
{
    FixedHandleTable<4> lights{kHandleTypeLight, kSlotHighWaterFirst};
    std::vector<int32_t> h;
    for (int i = 0; i < 4; ++i) {
        h.push_back(AddHandleRecord(lights.get(), &records[i]));
    }
    EXPECT_EQ(AddHandleRecord(lights.get(), &records[4]), -1);
    EXPECT_EQ(lights->liveCount, 4);
    // At the top of the table the high-water rule falls back to the first free slot.
    RemoveHandleRecord(lights.get(), h[1]);
    EXPECT_EQ(HandleSlotOf(AddHandleRecord(lights.get(), &records[5])), 1);

    // First-free types take the lowest free slot at once.
    std::vector<int32_t> f;
    for (int i = 0; i < 40; ++i) {
        f.push_back(AddHandleRecord(fonts.get(), &records[i]));
    }
    EXPECT_EQ(AddHandleRecord(fonts.get(), &records[40]), -1);
    RemoveHandleRecord(fonts.get(), f[7]);
    EXPECT_EQ(HandleSlotOf(AddHandleRecord(fonts.get(), &records[41])), 7);
}

TEST_F(HandleTableTest, ReservedSlotsAreNotHandedOut)
{
    FixedHandleTable<3> net{kHandleTypeNetwork, kSlotFirstFree, 2};
    EXPECT_EQ(AddHandleRecord(net.get(), &records[0]), 0x30000000);
    EXPECT_EQ(AddHandleRecord(net.get(), &records[1]), 0x30010001);
    EXPECT_EQ(AddHandleRecord(net.get(), &records[2]), -1);
    EXPECT_EQ(HandleOfSlot(net.get(), 1), 0x30010001);
    EXPECT_EQ(HandleOfSlot(net.get(), 2), -1);
    EXPECT_EQ(HandleOfSlot(net.get(), 3), -1);
}

TEST_F(HandleTableTest, RecordInAReservedSlotTakesNoRoomFromTheOthers)
{
    // As the network keeps its listening record: put in by its owner and counted as live.
    FixedHandleTable<3> net{kHandleTypeNetwork, kSlotFirstFree, 2};
    net->slots[2] = HandleSlot{&records[9], 0};
    net->liveCount += 1;
    EXPECT_EQ(AddHandleRecord(net.get(), &records[0]), 0x30000000);
    EXPECT_EQ(AddHandleRecord(net.get(), &records[1]), 0x30010001);
    EXPECT_EQ(AddHandleRecord(net.get(), &records[2]), -1);
    EXPECT_EQ(net->liveCount, 3);
}

TEST_F(HandleTableTest, ImposedSlotAndCheckNumberKeepAHandle)
{
    const int32_t a = AddHandleRecord(fonts.get(), &records[0]);
    const int32_t b = AddHandleRecord(fonts.get(), &records[1]);
    ASSERT_EQ(RemoveHandleRecord(fonts.get(), b), &records[1]);
    const int32_t next = fonts->nextCheck;

    // The same slot and check number give the same handle back; the sequence stays.
    EXPECT_EQ(AddHandleRecordAt(fonts.get(), &records[2], HandleSlotOf(b), HandleCheckOf(b)), b);
    EXPECT_EQ(FindHandleRecord(fonts.get(), b), &records[2]);
    EXPECT_EQ(fonts->nextCheck, next);

    // Refusals: a slot in use or out of range, a check number outside 0..2047.
    const int32_t live = fonts->liveCount;
    EXPECT_EQ(AddHandleRecordAt(fonts.get(), &records[3], HandleSlotOf(a), 7), -1);
    EXPECT_EQ(AddHandleRecordAt(fonts.get(), &records[3], 40, 7), -1);
    EXPECT_EQ(AddHandleRecordAt(fonts.get(), &records[3], -2, 7), -1);
    EXPECT_EQ(AddHandleRecordAt(fonts.get(), &records[3], 5, 2048), -1);
    EXPECT_EQ(AddHandleRecordAt(fonts.get(), &records[3], 5, -2), -1);
    EXPECT_EQ(fonts->liveCount, live);

    // A slot of its own with the sequence's check number.
    const int32_t c = AddHandleRecordAt(fonts.get(), &records[3], 5, -1);
    EXPECT_EQ(HandleSlotOf(c), 5);
    EXPECT_EQ(HandleCheckOf(c), next);
    EXPECT_EQ(fonts->highWater, 6);
}

}  // namespace
