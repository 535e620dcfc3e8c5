#include "quarn/core/files.h"
#include "file_fixture.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Read {
    uint32_t elementSize, count;
    int32_t result;
    uint32_t positionAfter;
    int32_t endAfter;
};

// Reads through the memory stream table, as decoders do, over ten bytes 0..9.
TEST(MemoryStream, ReadsWholeElementsAndNeverMoreThanAsked)
{
    const uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const struct {
        const char* name;
        std::vector<Read> reads;
    } cases[] = {
        {"elements of 4: two whole, then the last 2 bytes copied but not counted, then the end",
         {{4, 5, 2, 8, 0}, {4, 5, 0, 10, 0}, {4, 5, 0, 10, 1}}},
        {"a count of 0 copies nothing and stays put", {{4, 0, 0, 0, 0}, {1, 3, 3, 3, 0}, {2, 0, 0, 3, 0}}},
        {"element size 0 copies nothing", {{0, 7, 0, 0, 0}}},
        {"bytes up to the end exactly", {{1, 10, 10, 10, 0}, {1, 1, 0, 10, 1}}},
    };
    const StreamFunctionTable* table = GetMemoryStreamFunctions();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BlockBalance balance;
        MemoryStream* s = OpenMemoryStream(data, sizeof data);
        ASSERT_NE(s, nullptr);
        const StreamHandle h = reinterpret_cast<StreamHandle>(s);
        uint32_t expected = 0;
        for (const Read& r : c.reads) {
            // Exactly the bytes the call may fill, so that a byte more is an overflow.
            const size_t room = size_t(r.elementSize) * r.count;
            std::unique_ptr<uint8_t[]> buffer(new uint8_t[room]);
            EXPECT_EQ(table->read(buffer.get(), r.elementSize, r.count, h), r.result);
            for (uint32_t i = 0; expected + i < r.positionAfter; ++i) EXPECT_EQ(buffer[i], data[expected + i]);
            EXPECT_EQ(table->tell(h), int32_t(r.positionAfter));
            EXPECT_EQ(table->isAtEnd(h), r.endAfter);
            expected = r.positionAfter;
        }
        EXPECT_EQ(table->isIdle(h), 1);
        EXPECT_EQ(table->close(h), 0);
    }
}

TEST(MemoryStream, SeeksAreClampedIntoTheBlockAndClearTheEnd)
{
    const uint8_t data[10] = {};
    MemoryStream* s = OpenMemoryStream(data, sizeof data);
    const StreamHandle h = reinterpret_cast<StreamHandle>(s);
    const struct {
        int32_t offset;
        int origin;
        int32_t position;
    } seeks[] = {{-5, 0, 0}, {15, 0, 10}, {4, 0, 4}, {3, 1, 7}, {-20, 1, 0}, {-3, 2, 7}, {5, 2, 10}, {INT32_MIN, 2, 0}};
    for (const auto& k : seeks) {
        uint8_t b;
        SeekMemoryStream(h, 0, 2);
        ReadMemoryStream(&b, 1, 1, h);  // sets the end flag
        SeekMemoryStream(h, 4, 0);
        EXPECT_EQ(SeekMemoryStream(h, k.offset, k.origin), 0);
        EXPECT_EQ(TellMemoryStream(h), k.position) << k.offset << " from " << k.origin;
        EXPECT_EQ(IsMemoryStreamAtEnd(h), 0);
    }
    CloseMemoryStream(h);
}

}  // namespace
