// Vornik.exe itself, run under Wine in scratch folders.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/app/vornik_process.h"
#include "tests/wait_scale.h"

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
    if (brk == std::string::npos || brk == 0) return s;
    const std::string first = bytes.substr(0, brk);
    const std::string second = bytes.substr(brk + 2);
    auto decimal = [](const std::string& t) {
        const std::size_t from = (!t.empty() && t[0] == '-') ? 1 : 0;
        return t.size() > from && t.find_first_not_of("0123456789", from) == std::string::npos;
    };
    if (!decimal(first) || !decimal(second)) return s;
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

    // Starts the program in the folder, waits until its loop runs, does what is asked while
    // it runs and closes it as the close box does; the exit code.
    long run(const std::function<void(VornikProcess&)>& while_running)
    {
        VornikProcess vornik;
        if (!vornik.start(folder.path) || !vornik.wait_until_running()) {
            ADD_FAILURE() << "Vornik did not start";
            return -1000;
        }
        while_running(vornik);
        return vornik.close();
    }
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
    ASSERT_TRUE(vornik.wait_until_running());
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
    EXPECT_EQ(header[1], 1);                                                            // icons
    EXPECT_EQ(header[2], 4);                                                            // images
    EXPECT_NE(FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)), nullptr);  // RT_MANIFEST
    FreeLibrary(exe);
}

TEST_F(Vornik, ClosingSavesTallyWithTimeAway)
{
    folder.write(L"data.txt", state_text(5000, now_seconds() - 10));
    const DWORD started = GetTickCount();
    EXPECT_EQ(run([](VornikProcess&) { Sleep(2000); }), 0);
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
    const DWORD started = GetTickCount();
    EXPECT_EQ(run([](VornikProcess&) { Sleep(1000); }), 0);
    const long long run_ms = GetTickCount() - started;
    const SavedState saved = parse_saved(folder.read(L"data.txt"));
    ASSERT_TRUE(saved.well_formed);
    EXPECT_GT(saved.tally, 0);
    EXPECT_LE(saved.tally, run_ms);
}

TEST_F(Vornik, F5ResetsTheTally)
{
    folder.write(L"data.txt", state_text(100000000, now_seconds()));
    DWORD pressed = 0;
    EXPECT_EQ(run([&](VornikProcess& vornik) {
                  pressed = GetTickCount();
                  vornik.press_f5();
                  Sleep(1000);
              }),
              0);
    const long long since_key = GetTickCount() - pressed;
    const SavedState saved = parse_saved(folder.read(L"data.txt"));
    ASSERT_TRUE(saved.well_formed);
    EXPECT_GE(saved.tally, 0);
    EXPECT_LT(saved.tally, since_key);
}

TEST_F(Vornik, EndOfTheSessionSavesAResetMadeDuringTheRun)
{
    // Log-off: the system asks, then tells every top-level window that the session ends.
    folder.write(L"data.txt", state_text(100000000, now_seconds()));
    VornikProcess vornik;
    ASSERT_TRUE(vornik.start(folder.path));
    ASSERT_TRUE(vornik.wait_until_running());
    const DWORD pressed = GetTickCount();
    vornik.press_f5();
    Sleep(500);
    DWORD_PTR answer = 0;
    ASSERT_NE(SendMessageTimeoutW(vornik.window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                  scaled_wait_ms(5000), &answer),
              0);
    EXPECT_NE(answer, 0u) << "the session may end";
    SendMessageTimeoutW(vornik.window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, scaled_wait_ms(5000),
                        &answer);
    EXPECT_EQ(vornik.wait_for_exit(), 0);
    const long long since_key = GetTickCount() - pressed;
    const SavedState saved = parse_saved(folder.read(L"data.txt"));
    ASSERT_TRUE(saved.well_formed);
    EXPECT_GE(saved.tally, 0);
    EXPECT_LT(saved.tally, since_key) << "the reset was saved";
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

    ASSERT_TRUE(first.wait_until_running());
    Sleep(500);
    EXPECT_EQ(first.close(), 0);
    const SavedState saved = parse_saved(folder.read(L"data.txt"));
    ASSERT_TRUE(saved.well_formed);
    EXPECT_GT(saved.tally, 5000);
}

// Starts in the same instant each look for another's window before any has one: still only
// one of them runs, and the file holds that one's tally alone.
TEST_F(Vornik, StartsInTheSameInstantRunOnce)
{
    const std::string before = state_text(5000, now_seconds());
    folder.write(L"data.txt", before);
    constexpr int kStarts = 4;
    VornikProcess starts[kStarts];
    for (VornikProcess& v : starts) ASSERT_TRUE(v.start(folder.path, true));
    for (VornikProcess& v : starts) v.resume();

    // All but one end by themselves, as failed starts, while that one goes on.
    auto count_running = [&] {
        int n = 0;
        for (VornikProcess& v : starts) n += v.running() ? 1 : 0;
        return n;
    };
    const DWORD start = GetTickCount();
    while (count_running() > 1 && GetTickCount() - start < scaled_wait_ms(30000)) Sleep(20);
    ASSERT_EQ(count_running(), 1) << "instances still running";
    VornikProcess* survivor = nullptr;
    for (VornikProcess& v : starts) {
        if (v.running()) survivor = &v;
        else EXPECT_NE(v.wait_for_exit(0), 0);
    }
    ASSERT_TRUE(survivor->wait_until_running());
    EXPECT_EQ(folder.read(L"data.txt"), before) << "the instances that ended left the file alone";
    Sleep(300);
    EXPECT_EQ(count_running(), 1);
    EXPECT_EQ(survivor->close(), 0);
    const SavedState saved = parse_saved(folder.read(L"data.txt"));
    ASSERT_TRUE(saved.well_formed);
    EXPECT_GT(saved.tally, 5000);
}

// A file without a readable tally is left alone, and the program ends by itself reporting
// the failure (a program whose loop ran would not end unasked).
TEST_F(Vornik, DamagedFileIsKept)
{
    for (const std::string bytes : {"", "five\r\n1700000000", "12x4\r\n1700000000"}) {
        folder.write(L"data.txt", bytes);
        VornikProcess vornik;
        ASSERT_TRUE(vornik.start(folder.path));
        EXPECT_EQ(vornik.wait_for_exit(30000), 1) << bytes;
        EXPECT_EQ(folder.read(L"data.txt"), bytes);
    }
}

// A tally without the time it was saved at is counted on from where it stood (no time away
// is added) and saved whole at the end, with this run's time beside it.
TEST_F(Vornik, TallyWithoutItsTimeIsCountedOnAndSaved)
{
    for (const std::string bytes : {"5000", "5000\r\nlater"}) {
        folder.write(L"data.txt", bytes);
        VornikProcess vornik;
        ASSERT_TRUE(vornik.start(folder.path));
        ASSERT_TRUE(vornik.wait_until_running()) << bytes;
        Sleep(500);
        EXPECT_EQ(vornik.close(), 0) << bytes;
        const SavedState saved = parse_saved(folder.read(L"data.txt"));
        ASSERT_TRUE(saved.well_formed) << bytes;
        EXPECT_GT(saved.tally, 5000) << bytes;
        EXPECT_LT(saved.tally, 5000 + 60000) << bytes;
    }
}

// ---- What the window shows

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    bool operator==(const Picture& o) const { return pixels == o.pixels; }
};

Picture snapshot(VornikProcess& vornik)
{
    Picture p;
    p.pixels = vornik.capture_client(&p.width, &p.height);
    return p;
}

// The two text lines' boxes: the tally at (10,10), the hint at (10,30), each a font size high.
bool in_line(int line, int x, int y) { return x >= 10 && y >= 10 + 20 * line && y < 30 + 20 * line; }

// Where the seconds field starts on the tally line: after its last colon, a narrow run of
// columns whose ink forms two separate dots. The field reaches to the line's end.
bool seconds_column(const Picture& p, int* from)
{
    std::vector<int> columns;  // ink columns of the tally line
    for (int x = 10; x < p.width; ++x)
        for (int y = 10; y < 30; ++y)
            if (is_ink(p.at(x, y))) {
                columns.push_back(x);
                break;
            }
    if (columns.empty()) return false;
    int colon_end = -1;
    for (std::size_t i = 0; i < columns.size();) {
        std::size_t j = i;
        while (j + 1 < columns.size() && columns[j + 1] == columns[j] + 1) ++j;
        // Rows with ink in this run, counted as separate clusters.
        int clusters = 0;
        bool previous = false;
        for (int y = 10; y < 30; ++y) {
            bool any = false;
            for (std::size_t k = i; k <= j; ++k) any = any || is_ink(p.at(columns[k], y));
            if (any && !previous) ++clusters;
            previous = any;
        }
        if (clusters == 2 && columns[j] - columns[i] < 6) colon_end = columns[j];
        i = j + 1;
    }
    if (colon_end < 0) return false;
    *from = colon_end + 1;
    return true;
}

TEST_F(Vornik, ShowsTheTallyAndTheHint)
{
    folder.write(L"data.txt", state_text(0, now_seconds()));
    Picture p;
    EXPECT_EQ(run([&](VornikProcess& vornik) { p = snapshot(vornik); }), 0);
    ASSERT_EQ(p.width, 300);
    ASSERT_EQ(p.height, 60);
    int white[2] = {0, 0};
    int outside = 0;
    int coloured = 0;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const std::uint32_t px = p.at(x, y);
            const int line = in_line(0, x, y) ? 0 : in_line(1, x, y) ? 1 : -1;
            if (px == 0) continue;
            if (line < 0) ++outside;
            else if (px == 0xFFFFFF) ++white[line];
            // White text anti-aliased on black: every shade is a grey.
            if ((px & 0xFF) != ((px >> 8) & 0xFF) || (px & 0xFF) != ((px >> 16) & 0xFF)) ++coloured;
        }
    EXPECT_EQ(outside, 0) << "non-black pixels outside the two text boxes";
    EXPECT_GT(white[0], 20);
    EXPECT_GT(white[1], 20);
    EXPECT_EQ(coloured, 0);
}

// Pictures are taken four times a second until the seconds field has changed four times;
// those four changes take three seconds, give or take the program's and the test's own
// pauses, and nothing else on the window changes meanwhile.
TEST_F(Vornik, SecondsAdvanceOncePerSecond)
{
    // A tally without its time: no time away is added for however long the start takes, so
    // the few seconds watched here do not reach the next minute.
    folder.write(L"data.txt", "0");
    std::vector<Picture> pictures;
    std::vector<DWORD> changed_at;
    EXPECT_EQ(run([&](VornikProcess& vornik) {
                  pictures.push_back(snapshot(vornik));
                  const DWORD start = GetTickCount();
                  while (changed_at.size() < 4 && GetTickCount() - start < scaled_wait_ms(20000)) {
                      Sleep(250);
                      pictures.push_back(snapshot(vornik));
                      if (!(pictures.back() == pictures[pictures.size() - 2])) changed_at.push_back(GetTickCount());
                  }
              }),
              0);
    ASSERT_EQ(changed_at.size(), 4u) << "the picture changed " << changed_at.size() << " times in 20 s";
    const DWORD span = changed_at.back() - changed_at.front();
    EXPECT_GE(span, 2000u);
    EXPECT_LE(span, 5000u);

    int from = 0;
    ASSERT_TRUE(seconds_column(pictures.front(), &from));
    for (std::size_t i = 1; i < pictures.size(); ++i) {
        const Picture& a = pictures[i - 1];
        const Picture& b = pictures[i];
        ASSERT_EQ(a.pixels.size(), 300u * 60u);
        ASSERT_EQ(b.pixels.size(), a.pixels.size());
        for (int y = 0; y < a.height; ++y)
            for (int x = 0; x < a.width; ++x)
                if (a.at(x, y) != b.at(x, y)) {
                    ASSERT_TRUE(y >= 10 && y < 30 && x >= from)
                        << "changed at " << x << "," << y << " outside the seconds field from x " << from;
                }
    }
}

}  // namespace
