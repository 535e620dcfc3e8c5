// The file layer's Windows calls, each as the portable code relies on it.
#include <windows.h>

#include "quarn/core/file_os.h"
#include "file_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>

namespace {

class FileOsWindows : public ::testing::Test {
protected:
    FileOsWindows() : folder_(::testing::UnitTest::GetInstance()->current_test_info()->name()) {}
    TempFolder folder_;
};

TEST_F(FileOsWindows, OpensReadsSeeksAndRefusesFoldersAndMissingFiles)
{
    const std::vector<uint8_t> bytes = RandomBytes(5000, 1);
    folder_.Write("f.bin", bytes);
    CreateDirectoryW(folder_.Wide("sub").c_str(), nullptr);
    EXPECT_EQ(FileOsOpen(folder_.Wide("missing").c_str(), 1), nullptr);
    EXPECT_EQ(FileOsOpen(folder_.Wide("sub").c_str(), 1), nullptr);

    void* f = FileOsOpen(folder_.Wide("f.bin").c_str(), 1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(FileOsSize(f), 5000u);
    // A second reader is let in only while the first shares the file.
    void* shared = FileOsOpen(folder_.Wide("f.bin").c_str(), 1);
    EXPECT_NE(shared, nullptr);
    EXPECT_EQ(FileOsOpen(folder_.Wide("f.bin").c_str(), 0), nullptr);
    EXPECT_EQ(FileOsClose(shared), 0);

    std::vector<uint8_t> buffer(6000);
    uint32_t got = 0;
    ASSERT_EQ(FileOsSeek(f, 4000), 0);
    ASSERT_EQ(FileOsRead(f, buffer.data(), 2000, &got), 0);
    EXPECT_EQ(got, 1000u);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 1000),
              std::vector<uint8_t>(bytes.begin() + 4000, bytes.end()));
    ASSERT_EQ(FileOsRead(f, buffer.data(), 10, &got), 0);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(FileOsClose(f), 0);
}

TEST_F(FileOsWindows, EventsAndThreads)
{
    void* event = FileOsCreateEvent(0);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(FileOsWaitEvent(event, 0), 0);
    FileOsSetEvent(event);
    EXPECT_EQ(FileOsWaitEvent(event, 0), 1);
    EXPECT_EQ(FileOsWaitEvent(event, 0), 1) << "manual reset: it stays set";
    FileOsResetEvent(event);
    EXPECT_EQ(FileOsWaitEvent(event, 10), 0);

    static std::atomic<int> ran{0};
    void* done = FileOsCreateEvent(0);
    struct Args {
        void* start;
        void* done;
    } args{event, done};
    uint32_t id = 0;
    void* thread = FileOsStartThread(
        [](void* raw) -> uint32_t {
            Args* a = static_cast<Args*>(raw);
            FileOsWaitEvent(a->start, kFileOsWaitForever);
            ran = 1;
            FileOsSetEvent(a->done);
            return 0;
        },
        &args, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(FileOsIsThreadActive(thread), 1);
    FileOsSetEvent(event);
    EXPECT_EQ(FileOsWaitEvent(done, 5000), 1);
    while (FileOsIsThreadActive(thread)) FileOsSleep(0);
    EXPECT_EQ(ran.load(), 1);
    FileOsCloseThread(thread);
    FileOsCloseEvent(event);
    FileOsCloseEvent(done);
}

TEST_F(FileOsWindows, CurrentDirectoryAndFind)
{
    folder_.Write("a.png", {1});
    folder_.Write("b.PNG", {1, 2});
    folder_.Write("c.txt", {1});
    wchar_t current[MAX_PATH];
    const uint32_t n = FileOsGetCurrentDirectory(MAX_PATH, current);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(n, uint32_t(lstrlenW(current)));
    wchar_t tiny[2];
    EXPECT_GT(FileOsGetCurrentDirectory(2, tiny), 2u) << "too small: the units needed";
    EXPECT_EQ(FileOsSetCurrentDirectory(L"no such folder"), 0);

    std::set<std::wstring> names;
    FileOsFindData data;
    void* find = FileOsFindFirst(L"*.png", &data);
    ASSERT_NE(find, nullptr);
    do {
        names.insert(data.name);
        EXPECT_EQ(data.attributes & 0x10, 0u);
        EXPECT_NE(data.lastWriteTime, 0u);
    } while (FileOsFindNext(find, &data) == 0);
    EXPECT_EQ(FileOsFindClose(find), 0);
    EXPECT_EQ(names, (std::set<std::wstring>{L"a.png", L"b.PNG"}));
    EXPECT_EQ(FileOsFindFirst(L"*.zip", &data), nullptr);
}

TEST(FileOsWindowsText, TimesAndCodePages)
{
    SYSTEMTIME want{2021, 7, 0, 14, 9, 30, 15, 0};
    FILETIME local{}, utc{};
    SystemTimeToFileTime(&want, &local);
    LocalFileTimeToFileTime(&local, &utc);
    DateTimeRecord got{};
    FileOsFileTimeToDateTime((uint64_t(utc.dwHighDateTime) << 32) | utc.dwLowDateTime, &got);
    EXPECT_EQ(got.year, 2021);
    EXPECT_EQ(got.month, 7);
    EXPECT_EQ(got.day, 14);
    EXPECT_EQ(got.hour, 9);
    EXPECT_EQ(got.minute, 30);
    EXPECT_EQ(got.second, 15);

    wchar_t wide[8];
    ASSERT_EQ(FileOsCodePageToWide(932, "\x95\x5C\x8E\xA6", wide, 8), 2);
    EXPECT_EQ(std::wstring(wide), L"\u8868\u793A");
    char narrow[8];
    ASSERT_EQ(FileOsWideToCodePage(932, L"\u8868\u793A", narrow, 8), 4);
    EXPECT_EQ(std::string(narrow), "\x95\x5C\x8E\xA6");
    EXPECT_EQ(FileOsWideToCodePage(932, L"\u8868\u793A", narrow, 4), -1) << "no room for the terminator";
}

}  // namespace
