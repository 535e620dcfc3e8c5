// Vornik.exe itself, run under Wine in scratch folders.
#include <gtest/gtest.h>

#include <string>

#include "tests/app/vornik_process.h"

namespace {

struct SavedState {
    bool well_formed = false;
    long long tally = 0;
    long long seconds = 0;
};

// "data.txt" as the program writes it: decimal tally, CR LF, decimal seconds, nothing more.
SavedState parse_saved(const std::string& bytes)
{
    SavedState s;
    const std::size_t brk = bytes.find("\r\n");
    if (brk == std::string::npos || brk == 0)
        return s;
    const std::string first = bytes.substr(0, brk);
    const std::string second = bytes.substr(brk + 2);
    auto decimal = [](const std::string& t) {
        const std::size_t from = (!t.empty() && t[0] == '-') ? 1 : 0;
        return t.size() > from && t.find_first_not_of("0123456789", from) == std::string::npos;
    };
    if (!decimal(first) || !decimal(second))
        return s;
    s.well_formed = true;
    s.tally = std::stoll(first);
    s.seconds = std::stoll(second);
    return s;
}

std::string state_text(long long tally, long long seconds)
{
    return std::to_string(tally) + "\r\n" + std::to_string(seconds);
}

struct Vornik : ::testing::Test {
    ScratchFolder folder;
};

TEST_F(Vornik, WindowTitleAndSize)
{
    VornikProcess vornik;
    ASSERT_TRUE(vornik.start(folder.path));
    ASSERT_TRUE(vornik.wait_for_window());  // found by its title, "Vornik"
    RECT client{};
    ASSERT_TRUE(GetClientRect(vornik.window, &client));
    EXPECT_EQ(client.right - client.left, 300);
    EXPECT_EQ(client.bottom - client.top, 60);
    // Closed while the library still starts, the program ends through the library's fatal
    // exit; here it is closed once running.
    Sleep(1500);
    EXPECT_EQ(vornik.close(), 0);
}

// The program carries its icon group (four images) and its manifest.
TEST(VornikResources, IconGroupAndManifest)
{
    HMODULE exe = LoadLibraryExW(vornik_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    HRSRC group = FindResourceW(exe, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    const auto* header = static_cast<const WORD*>(LockResource(LoadResource(exe, group)));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header[1], 1);  // icons
    EXPECT_EQ(header[2], 4);  // images
    EXPECT_NE(FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)), nullptr);  // RT_MANIFEST
    FreeLibrary(exe);
}

TEST_F(Vornik, ClosingSavesTallyWithTimeAway)
{
    folder.write(L"data.txt", state_text(5000, now_seconds() - 10));
    VornikProcess vornik;
    const DWORD started = GetTickCount();
    ASSERT_TRUE(vornik.start(folder.path));
    ASSERT_TRUE(vornik.wait_for_window());
    // The window shows a while before the tally starts to run: graphics start after it.
    Sleep(3500);
    EXPECT_EQ(vornik.close(), 0);
    const long long run_ms = GetTickCount() - started;
    const std::int64_t after = now_seconds();

    const std::string bytes = folder.read(L"data.txt");
    const SavedState saved = parse_saved(bytes);
    ASSERT_TRUE(saved.well_formed) << bytes;
    // 5000 + 10 s away (give or take the second boundaries) + the time it ran.
    EXPECT_GE(saved.tally, 17000) << bytes;
    EXPECT_LE(saved.tally, 20000 + run_ms) << bytes;
    EXPECT_GE(saved.seconds, after - 2);
    EXPECT_LE(saved.seconds, after);
    EXPECT_EQ(folder.read(L"data.txt.new"), "<missing>");
}

TEST_F(Vornik, FirstStartWithoutFileCountsFromZero)
{
    VornikProcess vornik;
    const DWORD started = GetTickCount();
    ASSERT_TRUE(vornik.start(folder.path));
    ASSERT_TRUE(vornik.wait_for_window());
    Sleep(1500);
    EXPECT_EQ(vornik.close(), 0);
    const long long run_ms = GetTickCount() - started;
    const SavedState saved = parse_saved(folder.read(L"data.txt"));
    ASSERT_TRUE(saved.well_formed);
    EXPECT_GT(saved.tally, 0);
    EXPECT_LE(saved.tally, run_ms);
}

TEST_F(Vornik, F5ResetsTheTally)
{
    folder.write(L"data.txt", state_text(100000000, now_seconds()));
    VornikProcess vornik;
    ASSERT_TRUE(vornik.start(folder.path));
    ASSERT_TRUE(vornik.wait_for_window());
    Sleep(1500);
    const DWORD pressed = GetTickCount();
    vornik.press_f5();
    Sleep(1000);
    EXPECT_EQ(vornik.close(), 0);
    const long long since_key = GetTickCount() - pressed;
    const SavedState saved = parse_saved(folder.read(L"data.txt"));
    ASSERT_TRUE(saved.well_formed);
    EXPECT_GE(saved.tally, 0);
    EXPECT_LT(saved.tally, since_key);
}

TEST_F(Vornik, SecondInstanceEndsAndLeavesTheFile)
{
    const std::string before = state_text(5000, now_seconds());
    folder.write(L"data.txt", before);
    VornikProcess first;
    ASSERT_TRUE(first.start(folder.path));
    ASSERT_TRUE(first.wait_for_window());

    VornikProcess second;
    ASSERT_TRUE(second.start(folder.path));
    EXPECT_NE(second.wait_for_exit(), 0);  // ended by itself, as a failed start
    EXPECT_EQ(folder.read(L"data.txt"), before);

    Sleep(500);
    EXPECT_EQ(first.close(), 0);
    const SavedState saved = parse_saved(folder.read(L"data.txt"));
    ASSERT_TRUE(saved.well_formed);
    EXPECT_GT(saved.tally, 5000);
}

// A file without a readable tally, or without the time it was saved, is left alone and the
// program reports the failure.
TEST_F(Vornik, DamagedFileIsKept)
{
    const std::string damaged[] = {"", "five\r\n1700000000", "12x4\r\n1700000000", "5000", "5000\r\nlater"};
    for (const std::string& bytes : damaged) {
        folder.write(L"data.txt", bytes);
        VornikProcess vornik;
        ASSERT_TRUE(vornik.start(folder.path));
        if (vornik.wait_for_window(5000)) {
            Sleep(1500);
            vornik.close();
        }
        EXPECT_NE(vornik.wait_for_exit(), 0) << bytes;
        EXPECT_EQ(folder.read(L"data.txt"), bytes);
    }
}

} // namespace
