// The state file on disk: the load step over real files and the replacing write.
#include "app/state_file.h"
#include "app/tally.h"

#include <gtest/gtest.h>

#include "tests/app/vornik_process.h"

namespace {

TEST(StateFile, LoadStep)
{
    struct Case {
        const char* bytes;  // null: no file
        StateLoad load;
        const wchar_t* tally;
    } const cases[] = {
        {nullptr, kStateLoaded, L"77"},  // the tally is left as it was
        {"5000\r\n1000", kStateLoaded, L"15000"}, {"5000\r\n1020", kStateLoaded, L"-5000"},
        {"5000", kStateLoaded, L"5000"},  // no time: none added
        {"5000\r\nsoon", kStateLoaded, L"5000"},  {"", kStateRefused, L"77"},
        {"x\r\n1000", kStateRefused, L"77"},
    };
    for (const Case& c : cases) {
        ScratchFolder folder;
        if (c.bytes != nullptr) folder.write(L"data.txt", c.bytes);
        lib::biginteger tally;
        tally.set_str(L"77");
        EXPECT_EQ(load_state(folder.file(L"data.txt").c_str(), 1010, tally), c.load) << (c.bytes ? c.bytes : "none");
        EXPECT_EQ(tally.to_str(), c.tally) << (c.bytes ? c.bytes : "none");
    }
}

TEST(StateFile, UnreadableFilesAreRefused)
{
    ScratchFolder folder;
    std::string bytes = "old";
    // Longer than any tally can be.
    folder.write(L"data.txt", std::string(kStateFileLimit + 1, '1'));
    EXPECT_EQ(read_state_file(folder.file(L"data.txt").c_str(), bytes), -1);
    EXPECT_TRUE(bytes.empty());
    // A folder in the file's place.
    CreateDirectoryW(folder.file(L"dir.txt").c_str(), nullptr);
    EXPECT_EQ(read_state_file(folder.file(L"dir.txt").c_str(), bytes), -1);
    EXPECT_EQ(read_state_file(folder.file(L"none.txt").c_str(), bytes), 1);
    EXPECT_EQ(read_state_file((folder.path + L"\\no-folder\\data.txt").c_str(), bytes), 1);
}

TEST(StateFile, WriteReplacesWhole)
{
    ScratchFolder folder;
    const std::wstring path = folder.file(L"data.txt");
    ASSERT_EQ(write_state_file(path.c_str(), "1\r\n2"), 0);
    EXPECT_EQ(folder.read(L"data.txt"), "1\r\n2");
    folder.write(L"data.txt", std::string(200, '9'));
    ASSERT_EQ(write_state_file(path.c_str(), "-3\r\n4"), 0);
    EXPECT_EQ(folder.read(L"data.txt"), "-3\r\n4");
    EXPECT_EQ(folder.read(L"data.txt.new"), "<missing>");

    // A file that cannot be replaced stays as it was, and no temporary file is left.
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(write_state_file(path.c_str(), "5\r\n6"), -1);
    CloseHandle(held);
    EXPECT_EQ(folder.read(L"data.txt"), "-3\r\n4");
    EXPECT_EQ(folder.read(L"data.txt.new"), "<missing>");
}

}  // namespace
