#include "quarn/core/files.h"
#include "file_fixture.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <cstring>
#include <thread>

namespace {

// What a plain file read is to give: seeks clamped into the file, reads of whole elements
// up to its end.
struct FileModel {
    std::vector<uint8_t> data;
    uint32_t position = 0;
    int end = 0;

    void Seek(int32_t offset, int origin)
    {
        int64_t t = offset + (origin == 1 ? int64_t(position) : origin == 2 ? int64_t(data.size()) : 0);
        position = static_cast<uint32_t>(t < 0 ? 0 : t > int64_t(data.size()) ? int64_t(data.size()) : t);
        end = 0;
    }
    int32_t Read(uint32_t elementSize, uint32_t count, std::vector<uint8_t>& out)
    {
        out.clear();
        if (elementSize == 0) return 0;
        const uint32_t left = uint32_t(data.size()) - position;
        uint64_t n = count;
        if (uint64_t(elementSize) * count > left) n = left / elementSize;
        if (n == 0) {
            end = 1;
            return 0;
        }
        out.assign(data.begin() + position, data.begin() + position + n * elementSize);
        position += uint32_t(n * elementSize);
        return int32_t(n);
    }
};

struct Mode {
    const char* name;
    int readAhead, asynchronous;
};
const Mode kModes[] = {{"direct", 0, 0}, {"read-ahead", 1, 0}, {"asynchronous", 0, 1}, {"both", 1, 1}};

class ServedFileTest : public ::testing::Test {
protected:
    ServedFileTest() : folder_(::testing::UnitTest::GetInstance()->current_test_info()->name()) {}
    TempFolder folder_;
    BlockBalance balance_;
};

// One script of seeks (inside, before and past the file, from each origin) and reads (of
// several element sizes, across the cache's boundary and past the end), played on every
// mode and on the model: results, bytes, positions and end flags agree at every step.
TEST_F(ServedFileTest, DirectAndServedReadsAgreeAtEverySeek)
{
    const std::vector<uint8_t> bytes = RandomBytes(300000, 11);
    folder_.Write("f.bin", bytes);
    std::mt19937 rng(5);
    struct Step {
        bool seek;
        int32_t offset;
        int origin;
        uint32_t elementSize, count;
    };
    std::vector<Step> script;
    for (int i = 0; i < 300; ++i) {
        if (rng() % 3 == 0) {
            const int32_t span = int32_t(bytes.size()) + 20000;
            script.push_back({true, int32_t(rng() % (2 * span)) - span, int(rng() % 3), 0, 0});
        } else {
            const uint32_t sizes[] = {0, 1, 3, 4, 7, 4096};
            const uint32_t size = sizes[rng() % 6];
            script.push_back({false, 0, 0, size, size ? uint32_t(rng() % (200000 / size + 2)) : 5});
        }
    }
    for (const Mode& mode : kModes) {
        SCOPED_TRACE(mode.name);
        FileModel model{bytes};
        ServedFile* f = OpenServedFile(folder_.Wide("f.bin").c_str(), mode.readAhead, 1, mode.asynchronous);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->size, bytes.size());
        std::vector<uint8_t> expected;
        std::vector<uint8_t> buffer(210000);
        for (size_t i = 0; i < script.size(); ++i) {
            const Step& s = script[i];
            SCOPED_TRACE(i);
            if (s.seek) {
                model.Seek(s.offset, s.origin);
                ASSERT_EQ(SeekServedFile(f, s.offset, s.origin), 0);
            } else {
                const int32_t want = model.Read(s.elementSize, s.count, expected);
                ASSERT_EQ(ReadServedFile(buffer.data(), s.elementSize, s.count, f), want);
                WaitForServedFile(f);
                ASSERT_EQ(IsServedFileIdle(f), 1);
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
            }
            ASSERT_EQ(TellServedFile(f), int32_t(model.position));
            ASSERT_EQ(IsServedFileAtEnd(f), model.end ? -1 : 0);
        }
        EXPECT_EQ(CloseServedFile(f), 0);
    }
}

TEST_F(ServedFileTest, ClosingGivesZeroAndAMissingFileGivesNothing)
{
    folder_.Write("f.bin", RandomBytes(10, 1));
    for (const Mode& mode : kModes) {
        SCOPED_TRACE(mode.name);
        LogCapture log;
        ServedFile* f = OpenServedFile(folder_.Wide("f.bin").c_str(), mode.readAhead, 1, mode.asynchronous);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(CloseServedFile(f), 0);
        EXPECT_EQ(OpenServedFile(folder_.Wide("missing.bin").c_str(), mode.readAhead, 1, mode.asynchronous), nullptr);
        EXPECT_EQ(log.Joined(), L"");
    }
}

// The file-access thread keeps the path in 260 units: a longer one is refused, not cut.
TEST_F(ServedFileTest, AServedPathLongerThanItsFieldIsRefused)
{
    const std::wstring path = folder_.Wide(std::string(300, 'p'));
    LogCapture log;
    EXPECT_EQ(OpenServedFile(path.c_str(), 1, 1, 0), nullptr);
    EXPECT_EQ(log.Joined(), L"ファイルパスが長すぎます\n");
}

// With read-ahead, the thread fills the cache while it is idle; a read at the cache's
// position takes what the cache holds and reads the rest from the file; the cache then
// starts again just after it.
TEST_F(ServedFileTest, ReadAheadServesSequentialReadsAcrossTheCacheBoundary)
{
    const std::vector<uint8_t> bytes = RandomBytes(600000, 3);
    folder_.Write("f.bin", bytes);
    ServedFile* f = OpenServedFile(folder_.Wide("f.bin").c_str(), 1, 1, 0);
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> buffer(200000);

    // The thread fills the cache only after 100 ms without a command; on a busy machine
    // that may take longer, so the wait is repeated (each seek starts the cache anew).
    uint32_t fromCache = 0;
    uint32_t position = 0;
    for (int attempt = 0; attempt < 20 && fromCache == 0; ++attempt) {
        position = 4096 * uint32_t(attempt);
        ASSERT_EQ(SeekServedFile(f, int32_t(position), 0), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const uint32_t before = f->bytesFromCache;
        ASSERT_EQ(ReadServedFile(buffer.data(), 1, 100000, f), 100000);
        fromCache = f->bytesFromCache - before;
        ASSERT_EQ(std::memcmp(buffer.data(), bytes.data() + position, 100000), 0);
    }
    ASSERT_EQ(fromCache, 100000u) << "the cache never filled";

    // 60,000 bytes: the cache's last 31,072, then 28,928 from the file.
    const uint32_t before = f->bytesFromCache;
    ASSERT_EQ(ReadServedFile(buffer.data(), 4, 15000, f), 15000);
    EXPECT_EQ(f->bytesFromCache - before, uint32_t(kReadAheadCacheBytes) - 100000);
    EXPECT_EQ(std::memcmp(buffer.data(), bytes.data() + position + 100000, 60000), 0);

    // After the next idle spell the following 4 KB come from the cache again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const uint32_t at = f->position;
        const uint32_t mark = f->bytesFromCache;
        ASSERT_EQ(ReadServedFile(buffer.data(), 1, 4096, f), 4096);
        ASSERT_EQ(std::memcmp(buffer.data(), bytes.data() + at, 4096), 0);
        if (f->bytesFromCache - mark == 4096) break;
        ASSERT_LT(attempt, 19) << "the cache never filled again";
    }
    EXPECT_EQ(CloseServedFile(f), 0);
}

// A file that shrinks after it was opened: a read gives what is there, and the position
// moves by that much, not by the request.
TEST_F(ServedFileTest, AShortReadAdvancesByWhatWasRead)
{
    const std::vector<uint8_t> bytes = RandomBytes(1000, 9);
    for (const Mode& mode : {kModes[0], kModes[1]}) {
        SCOPED_TRACE(mode.name);
        folder_.Write("f.bin", bytes);
        ServedFile* f = OpenServedFile(folder_.Wide("f.bin").c_str(), mode.readAhead, 1, 0);
        ASSERT_NE(f, nullptr);
        std::error_code failure;
        std::filesystem::resize_file(folder_.Path("f.bin"), 600, failure);
        if (failure) {
            CloseServedFile(f);
            GTEST_SKIP() << "the system does not let an open file shrink";
        }
        std::vector<uint8_t> buffer(1000);
        SeekServedFile(f, 0, 0);  // the read-ahead cache starts empty
        EXPECT_EQ(ReadServedFile(buffer.data(), 100, 8, f), 6);
        EXPECT_EQ(TellServedFile(f), 600);
        EXPECT_EQ(std::memcmp(buffer.data(), bytes.data(), 600), 0);
        EXPECT_EQ(CloseServedFile(f), 0);
    }
}

}  // namespace
