#include "quarn/core/archive.h"
#include "quarn/core/files.h"
#include "file_fixture.h"
#include "log_capture.h"
#include "tests/core/alloc_sweep.h"
#include "qua_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>

namespace {

quapack::Entry File(const std::string& path, std::vector<uint8_t> data)
{
    quapack::Entry e;
    e.path = path;
    e.data = std::move(data);
    return e;
}

std::vector<uint8_t> Archive(const std::vector<quapack::Entry>& entries)
{
    std::vector<uint8_t> image;
    std::string error;
    EXPECT_EQ(quapack::BuildArchive(entries, quapack::Options(), image, &error), 0) << error;
    return image;
}

// Runs in a fresh folder holding "data.QUA" (x.png, img\a.png, six.bin), plain files and
// a plain folder; every file, find and archive use is to be given back by the end.
class VirtualFiles : public ::testing::Test {
protected:
    VirtualFiles() : folder_(::testing::UnitTest::GetInstance()->current_test_info()->name()) {}
    void SetUp() override
    {
        InstallFileFunctions(nullptr);
        ForgetArchivePathCache();
        folder_.Write("data.QUA",
                      Archive({File("x.png", x_), File("img/a.png", a_), File("six.bin", {1, 2, 3, 4, 5, 6})}));
        folder_.Write("plain.txt", plain_);
        folder_.Write("other/y.png", {7, 7});
        folder_.Write("other/z.txt", {8});
    }
    void TearDown() override
    {
        EXPECT_EQ(CountOpenVirtualFiles(), 0);
        ReleaseIdleArchives();
        EXPECT_EQ(CountSharedArchives(), 0) << "an archive use was not given back";
        ForgetArchivePathCache();
    }

    // The whole file through the table, or {0xEE} when it does not open.
    std::vector<uint8_t> ReadAll(const std::wstring& path, int asynchronous = 0)
    {
        const FileHandle h = OpenFileThroughTable(path.c_str(), 0, 1, asynchronous);
        if (h == 0) return {0xEE};
        std::vector<uint8_t> out;
        uint8_t chunk[1000];
        for (;;) {
            const int32_t n = ReadFileThroughTable(chunk, 1, sizeof chunk, h);
            while (IsFileIdleThroughTable(h) != 1) {
            }
            if (n <= 0) break;
            out.insert(out.end(), chunk, chunk + n);
        }
        EXPECT_EQ(IsFileAtEndThroughTable(h), -1);
        EXPECT_EQ(CloseFileThroughTable(h), 0);
        return out;
    }

    std::set<std::wstring> Find(const std::wstring& pattern)
    {
        std::set<std::wstring> names;
        FileInfoRecord info;
        const intptr_t find = g_fileFunctions.findFirst(pattern.c_str(), &info);
        if (find == -1) return names;
        int rounds = 0;
        do {
            names.insert(info.name);
        } while (g_fileFunctions.findNext(find, &info) == 0 && ++rounds < 1000);
        EXPECT_LT(rounds, 1000) << "the listing does not end";
        EXPECT_EQ(g_fileFunctions.findClose(find), 0);
        return names;
    }

    TempFolder folder_;
    BlockBalance balance_;
    const std::vector<uint8_t> x_ = TextLikeBytes(9000, 1);
    const std::vector<uint8_t> a_ = RandomBytes(5000, 2);
    const std::vector<uint8_t> plain_ = RandomBytes(3000, 3);
};

TEST_F(VirtualFiles, AProgramReadingDataXPngFindsItInsideDataQua)
{
    EXPECT_EQ(ReadAll(L"data/x.png"), x_);
    EXPECT_EQ(ReadAll(L"DATA\\IMG\\a.PNG"), a_);
    EXPECT_EQ(ReadAll(folder_.Wide("data/img/a.png")), a_);
    EXPECT_EQ(ReadAll(L"data\\..\\data\\.\\x.png", 1), x_);
    EXPECT_EQ(ReadAll(L"plain.txt"), plain_);
    EXPECT_EQ(ReadAll(L"plain.txt", 1), plain_);
    LogCapture log;
    EXPECT_EQ(OpenFileThroughTable(L"missing.txt", 0, 1, 0), 0);
    EXPECT_EQ(OpenFileThroughTable(L"data\\missing.png", 0, 1, 0), 0);
    EXPECT_EQ(OpenFileThroughTable(L"data\\img", 0, 1, 0), 0);
    EXPECT_EQ(log.Joined(), L"");
}

TEST_F(VirtualFiles, DecodersReadThroughTheFileStreamTable)
{
    const StreamFunctionTable* s = GetFileStreamFunctions();
    for (const wchar_t* path : {L"data\\x.png", L"plain.txt"}) {
        SCOPED_TRACE(path);
        const std::vector<uint8_t>& bytes = path[0] == L'd' ? x_ : plain_;
        const StreamHandle h = OpenFileThroughTable(path, 0, 1, 0);
        ASSERT_NE(h, 0);
        uint8_t b[16];
        EXPECT_EQ(s->seek(h, -16, 2), 0);
        EXPECT_EQ(s->tell(h), int32_t(bytes.size() - 16));
        EXPECT_EQ(s->read(b, 4, 4, h), 4);
        EXPECT_EQ(std::memcmp(b, bytes.data() + bytes.size() - 16, 16), 0);
        EXPECT_EQ(s->read(b, 4, 4, h), 0);
        EXPECT_EQ(s->isAtEnd(h), -1);
        EXPECT_EQ(s->isIdle(h), 1);
        EXPECT_EQ(s->close(h), 0);
    }
}

TEST_F(VirtualFiles, AMemberCountsWholeElementsOnly)
{
    const FileHandle h = OpenFileThroughTable(L"data\\six.bin", 0, 1, 0);
    ASSERT_NE(h, 0);
    uint8_t b[40] = {};
    EXPECT_EQ(ReadFileThroughTable(b, 4, 10, h), 1);  // 6 bytes copied
    EXPECT_EQ(std::vector<uint8_t>(b, b + 7), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 0}));
    EXPECT_EQ(ReadFileThroughTable(b, 0, 10, h), 0);
    EXPECT_EQ(CloseFileThroughTable(h), 0);
}

// The last archive found is remembered: a second path under the same prefix opens inside
// it without trying the shorter prefixes again, so an archive that appears at a shorter
// prefix meanwhile is seen only once the memory is dropped.
TEST_F(VirtualFiles, TheLastArchiveFoundIsRemembered)
{
    folder_.Write("g/data.QUA", Archive({File("a.png", {1}), File("b.png", {2})}));
    EXPECT_EQ(ReadAll(L"g\\data\\a.png"), std::vector<uint8_t>{1});
    folder_.Write("g.QUA", Archive({File("data/b.png", {3})}));
    EXPECT_EQ(ReadAll(L"g\\data\\b.png"), std::vector<uint8_t>{2});
    ForgetArchivePathCache();
    EXPECT_EQ(ReadAll(L"g\\data\\b.png"), std::vector<uint8_t>{3});
}

// "C:.QUA" names the file ".QUA" in the drive's current directory, not an archive for the
// drive: with one there, paths still resolve as before.
TEST_F(VirtualFiles, ADriveIsNoArchivePrefix)
{
    folder_.Write(".QUA", Archive({File("other.png", {9})}));
    EXPECT_EQ(ReadAll(folder_.Wide("data/x.png")), x_);
    EXPECT_EQ(ReadAll(L"plain.txt"), plain_);
}

TEST_F(VirtualFiles, TheTableHoldsAtMost512FilesAndRefusesStaleHandles)
{
    std::vector<FileHandle> handles;
    for (int i = 0; i < kOpenFileSlots; ++i) {
        handles.push_back(OpenVirtualFile(i % 2 ? L"data\\six.bin" : L"plain.txt", 0, 1, 0));
        ASSERT_NE(handles.back(), 0) << i;
    }
    {
        LogCapture log;
        EXPECT_EQ(OpenVirtualFile(L"plain.txt", 0, 1, 0), 0);
        EXPECT_EQ(log.Joined(), L"同時に開けるファイルの数が限界を超えました\n");
    }
    const FileHandle freed = handles[100];
    EXPECT_EQ(CloseVirtualFile(freed), 0);
    EXPECT_EQ(CloseVirtualFile(freed), -1);
    EXPECT_EQ(TellVirtualFile(freed), -1);
    handles[100] = OpenVirtualFile(L"data\\six.bin", 0, 1, 0);
    EXPECT_EQ(handles[100], freed) << "the freed slot is taken again";
    // 0, the failure value, and handles without the tag name no file, not even slot 0's.
    uint8_t b[4];
    for (FileHandle bad : {FileHandle(0), FileHandle(1), FileHandle(-1), FileHandle(int32_t(0xF0000000u | 600))}) {
        EXPECT_EQ(ReadVirtualFile(b, 1, 4, bad), -1);
        EXPECT_EQ(SeekVirtualFile(bad, 0, 0), -1);
        EXPECT_EQ(IsVirtualFileIdle(bad), -1);
        EXPECT_EQ(IsVirtualFileAtEnd(bad), -1);
        EXPECT_EQ(CloseVirtualFile(bad), -1);
    }
    for (FileHandle h : handles) EXPECT_EQ(CloseVirtualFile(h), 0);
}

TEST_F(VirtualFiles, EachFailedAllocationOfAnOpenAndReadIsRefusedAndGivenBack)
{
    // Each run opens the archive anew (nothing cached) and closes it again once idle. The
    // archive layer has no line of its own for a shortage beside the file record's: the
    // allocator's dump is what the log shows.
    std::vector<uint8_t> archive = Archive({File("x.png", x_), File("img/a.png", a_)});
    struct Case {
        const char* name;
        std::function<int32_t()> read;
        const std::vector<uint8_t>* expected;
    };
    auto throughTable = [this](const wchar_t* path, const std::vector<uint8_t>& expected) {
        return [this, path, &expected]() -> int32_t {
            ForgetArchivePathCache();
            const FileHandle h = OpenFileThroughTable(path, 0, 1, 0);
            int32_t result = -1;
            if (h != 0) {
                std::vector<uint8_t> got(expected.size() + 1);
                const int32_t n = ReadFileThroughTable(got.data(), 1, static_cast<uint32_t>(got.size()), h);
                got.resize(n > 0 ? static_cast<size_t>(n) : 0);
                EXPECT_EQ(got, expected) << "an opened file reads its bytes";
                EXPECT_EQ(CloseFileThroughTable(h), 0);
                result = 0;
            }
            ReleaseIdleArchives();
            return result;
        };
    };
    auto inMemory = [&archive](const char* path, const std::vector<uint8_t>& expected) {
        return [&archive, path, &expected]() -> int32_t {
            ArchiveRecord record;
            ClearArchiveRecord(&record);
            if (OpenArchiveImage(&record, archive.data(), static_cast<uint32_t>(archive.size()), nullptr) != 0)
                return -1;
            ArchiveMember member{};
            int32_t result = -1;
            if (OpenArchiveMember(&member, &record, path, 0) == 0) {
                std::vector<uint8_t> got(expected.size() + 1);
                got.resize(
                    static_cast<size_t>(ReadArchiveMember(&member, got.data(), static_cast<uint32_t>(got.size()))));
                EXPECT_EQ(got, expected);
                CloseArchiveMember(&member);
                result = 0;
            }
            CloseArchiveSource(&record);
            return result;
        };
    };
    const std::vector<uint8_t> pristine = archive;
    const Case cases[] = {
        {"compressed member through the file table", throughTable(L"data\\x.png", x_), &x_},
        {"stored member through the file table", throughTable(L"data/img/a.png", a_), &a_},
        {"plain file through the file table", throughTable(L"plain.txt", plain_), &plain_},
        {"compressed member of an archive image", inMemory("x.png", x_), &x_},
    };
    for (const Case& c : cases) {
        test::AllocationSweep sweep;
        sweep.name = c.name;
        sweep.run = c.read;
        sweep.refusalLines = {L"ファイルの情報を格納するメモリの確保に失敗しました", L"Alloc memory dump"};
        sweep.nothingLeft = [&] {
            EXPECT_EQ(CountOpenVirtualFiles(), 0) << c.name;
            EXPECT_EQ(CountSharedArchives(), 0) << c.name;
            EXPECT_EQ(archive, pristine) << c.name << ": the caller's image is not as it was";
        };
        const uint32_t requests = test::SweepFailingAllocations(sweep);
        EXPECT_GT(requests, 0u) << c.name;
    }
}

TEST_F(VirtualFiles, ListingsInsideAnArchiveAndOutsideEnd)
{
    EXPECT_EQ(Find(L"data\\*.png"), (std::set<std::wstring>{L"x.png"}));
    EXPECT_EQ(Find(L"data\\*"), (std::set<std::wstring>{L".", L"x.png", L"img", L"six.bin"}));
    EXPECT_EQ(Find(L"data\\img\\*.*"), (std::set<std::wstring>{L".", L"..", L"a.png"}));
    EXPECT_EQ(Find(L"other\\*"), (std::set<std::wstring>{L".", L"..", L"y.png", L"z.txt"}));
    EXPECT_EQ(Find(L"other\\*.png"), (std::set<std::wstring>{L"y.png"}));
    EXPECT_TRUE(Find(L"data\\*.zip").empty());
    EXPECT_TRUE(Find(L"data\\nothing\\*").empty());
    EXPECT_TRUE(Find(L"nothing\\*").empty());
}

TEST_F(VirtualFiles, CurrentDirectoryFailuresAreReported)
{
    wchar_t before[kFilePathUnits];
    ASSERT_EQ(GetVirtualCurrentDirectory(before), 0);
    EXPECT_EQ(SetVirtualCurrentDirectory(L"no such folder"), -1);
    ASSERT_EQ(SetVirtualCurrentDirectory(L"other"), 0);
    wchar_t now[kFilePathUnits];
    ASSERT_EQ(GetVirtualCurrentDirectory(now), 0);
    EXPECT_EQ(std::wstring(now), std::wstring(before) + L"\\other");
    EXPECT_EQ(ReadAll(L"..\\data\\x.png"), x_);
    ASSERT_EQ(SetVirtualCurrentDirectory(before), 0);

    // A directory longer than the buffer: nothing half written, a log line, -1.
    std::filesystem::path deep = folder_.Path();
    while (deep.wstring().size() < size_t(kFilePathUnits) + 10) deep /= std::string(40, 'd');
    std::error_code failure;
    std::filesystem::create_directories(deep, failure);
    std::filesystem::current_path(deep, failure);
    if (failure) GTEST_SKIP() << "the system keeps no current directory this long";
    LogCapture log;
    wchar_t out[kFilePathUnits];
    out[0] = L'?';
    EXPECT_EQ(GetVirtualCurrentDirectory(out), -1);
    EXPECT_EQ(out[0], 0);
    EXPECT_TRUE(log.Contains(L"ファイルパスが長すぎます\n"));
    // Windows cannot remove the chain by its whole name, which is past the classic path
    // limit: take it down one level at a time, each by its short name.
    for (auto level = deep; level != folder_.Path(); level = level.parent_path()) {
        std::filesystem::current_path(level.parent_path());
        std::filesystem::remove(level.filename(), failure);
    }
    std::filesystem::current_path(folder_.Path());
}

// A replaced table takes every forwarder's call; null puts the archive-aware set back.
TEST_F(VirtualFiles, ForwardersGoThroughTheInstalledTable)
{
    static std::wstring opened;
    FileFunctionTable table = g_fileFunctions;
    table.open = [](const wchar_t* path, int, int, int) -> FileHandle {
        opened = path;
        return 77;
    };
    table.close = [](FileHandle file) { return file == 77 ? 0 : -1; };
    EXPECT_EQ(InstallFileFunctions(&table), 0);
    EXPECT_EQ(OpenFileThroughTable(L"data\\x.png", 0, 1, 0), 77);
    EXPECT_EQ(opened, L"data\\x.png");
    EXPECT_EQ(GetFileStreamFunctions()->close(77), 0);
    EXPECT_EQ(InstallFileFunctions(nullptr), 0);
    EXPECT_EQ(ReadAll(L"data\\x.png"), x_);
}

}  // namespace
