#include <windows.h>

#include "quarn/core/core_win.h"
#include "log_capture.h"
#include "log_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>
#include <vector>
#include "tests/wait_scale.h"

namespace {

// Order in which threads got the lock; written only while holding it.
std::vector<std::string> s_order;

void WaitForWaiters(int count)
{
    const DWORD start = GetTickCount();
    while (GetLibraryLockWaiterCount() < count && GetTickCount() - start < scaled_wait_ms(5000)) Sleep(1);
    ASSERT_EQ(GetLibraryLockWaiterCount(), count);
}

std::thread Contender(const char* name)
{
    return std::thread([name] {
        AcquireLibraryLock();
        s_order.push_back(name);
        ReleaseLibraryLock();
    });
}

TEST(LibraryLock, WaitersGetTheLockInArrivalOrder)
{
    s_order.clear();
    AcquireLibraryLock();
    std::vector<std::thread> threads;
    const char* names[] = {"A", "B", "C", "D", "E"};
    for (int i = 0; i < 5; ++i) {
        threads.push_back(Contender(names[i]));
        WaitForWaiters(i + 1);
    }
    // Releasing and asking again at once finds the lock free but others queued: this
    // thread must queue behind them.
    ReleaseLibraryLock();
    AcquireLibraryLock();
    s_order.push_back("main");
    ReleaseLibraryLock();
    for (auto& t : threads) t.join();
    EXPECT_EQ(s_order, (std::vector<std::string>{"A", "B", "C", "D", "E", "main"}));
    EXPECT_EQ(GetLibraryLockWaiterCount(), 0);
}

TEST(LibraryLock, OwnerReentersAndMustReleaseAsOftenAsItEntered)
{
    s_order.clear();
    AcquireLibraryLock();
    AcquireLibraryLock();
    AcquireLibraryLock();
    std::thread waiter = Contender("waiter");
    WaitForWaiters(1);
    ReleaseLibraryLock();
    ReleaseLibraryLock();
    Sleep(50);
    EXPECT_TRUE(s_order.empty());
    EXPECT_EQ(GetLibraryLockWaiterCount(), 1);
    ReleaseLibraryLock();
    waiter.join();
    EXPECT_EQ(s_order, std::vector<std::string>{"waiter"});
}

TEST(LibraryLock, ManyThreadsCountUnderTheLock)
{
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&counter] {
            for (int i = 0; i < 500; ++i) {
                AcquireLibraryLock();
                AcquireLibraryLock();
                const int seen = counter;
                if (i % 50 == 0) Sleep(0);
                counter = seen + 1;
                ReleaseLibraryLock();
                ReleaseLibraryLock();
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 8 * 500);
}

TEST(Clocks, MillisecondClockIsTheSystemTimeWithoutBit31)
{
    const uint32_t before = timeGetTime();
    const int32_t ms = ReadMillisecondClock();
    const uint32_t after = timeGetTime();
    EXPECT_GE(ms, 0);
    EXPECT_GE(static_cast<uint32_t>(ms), before & 0x7FFFFFFFu);
    EXPECT_LE(static_cast<uint32_t>(ms), after & 0x7FFFFFFFu);
}

TEST(Clocks, MicrosecondClockFollowsThePerformanceCounter)
{
    ASSERT_EQ(ReadPerformanceCounterFrequency(), 0);
    LARGE_INTEGER f, c0, c1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c0);
    // Flag 0 never uses the processor clock, even after start-up.
    NoteLibraryStartupComplete(1);
    const int64_t us = ReadMicrosecondClock(0);
    NoteLibraryStartupComplete(0);
    QueryPerformanceCounter(&c1);
    const long double scale = 1e6L / f.QuadPart;
    EXPECT_GE(us, static_cast<int64_t>(c0.QuadPart * scale) - 1);
    EXPECT_LE(us, static_cast<int64_t>(c1.QuadPart * scale) + 1);

    const int64_t a = ReadMicrosecondClock(1);
    Sleep(20);
    const int64_t b = ReadMicrosecondClock(1);
    EXPECT_GE(b - a, 15000);
    EXPECT_LT(b - a, 2000000);
}

TEST(Clocks, DatesAreLocalTime)
{
    SYSTEMTIME t{};
    t.wYear = 2021;
    t.wMonth = 7;
    t.wDay = 15;
    t.wHour = 12;
    t.wMinute = 34;
    t.wSecond = 56;
    FILETIME utc{}, local{};
    SystemTimeToFileTime(&t, &utc);
    FileTimeToLocalFileTime(&utc, &local);
    SYSTEMTIME want{};
    FileTimeToSystemTime(&local, &want);
    DateTimeRecord got{};
    ConvertFileTimeToDateTime(&utc, &got);
    EXPECT_EQ(got.year, want.wYear);
    EXPECT_EQ(got.month, want.wMonth);
    EXPECT_EQ(got.day, want.wDay);
    EXPECT_EQ(got.hour, want.wHour);
    EXPECT_EQ(got.minute, 34);
    EXPECT_EQ(got.second, 56);

    SYSTEMTIME now{};
    GetLocalTime(&now);
    DateTimeRecord today{};
    EXPECT_EQ(ReadLocalDateTime(&today), 0);
    EXPECT_EQ(today.year, now.wYear);
    EXPECT_EQ(today.month, now.wMonth);
}

TEST(SystemInformation, ReportLinesAndCapabilities)
{
    LogCapture log;
    EXPECT_EQ(LogSystemInformation(), 0);
    const std::vector<std::wstring>& t = log.texts;
    ASSERT_GE(t.size(), 6u);
    EXPECT_EQ(t[0], L"システムの情報を出力します\n");
    EXPECT_EQ(t[1], L"Ｑｕａｒｎライブラリ Ver3.03a\n");
    EXPECT_EQ(t[2], L"ＯＳ  ");
    EXPECT_EQ(t[3], std::wstring(g_systemCapability.osText) + L"\n");
    EXPECT_EQ(t[3].rfind(L"Windows", 0), 0u);
    EXPECT_NE(t[3].find(L" ( Build "), std::wstring::npos);
    // Wine reports a system of Windows 7 or later.
    EXPECT_GE(g_systemCapability.osCode, kOsWin7);
    EXPECT_EQ(g_systemCapability.directXLevel, 0x70000);

    ProcessorFeatures cpu;
    ReadProcessorFeatures(&cpu);
    EXPECT_EQ(g_systemCapability.mmxUsable, cpu.mmx);
    EXPECT_EQ(g_systemCapability.sseUsable, cpu.mmx && cpu.sse);
    EXPECT_EQ(g_systemCapability.sse2Usable, cpu.mmx && cpu.sse && cpu.sse2);
    const std::wstring all = log.Joined();
    EXPECT_EQ(all.find(L"ＭＭＸ命令を使用します\n") != std::wstring::npos, cpu.mmx == 1);
    EXPECT_EQ(all.find(L"ＳＳＥ２命令が使用可能です\n") != std::wstring::npos, g_systemCapability.sse2Usable == 1);
    std::wstring vendor(cpu.vendor, cpu.vendor + 12);
    EXPECT_NE(all.find(L"ＣＰＵベンダ：" + vendor + L"\n"), std::wstring::npos);
    if (cpu.timeStampCounter) {
        EXPECT_GT(g_systemCapability.processorClock, 0u);
        EXPECT_NE(all.find(L"ＣＰＵ動作速度：大体"), std::wstring::npos);
        // Once started, the microsecond clock may run on the measured processor clock: it
        // keeps pace with the performance counter.
        // Each processor-clock reading is taken between two counter readings, and a try
        // whose brackets are wide (this thread was away between them, as under load) is
        // made again: the comparison is of the clocks, not of the scheduler.
        ASSERT_EQ(ReadPerformanceCounterFrequency(), 0);
        NoteLibraryStartupComplete(1);
        double processorSpan = 0, counterSpan = 0;
        for (int attempt = 0; attempt < 20; ++attempt) {
            const int64_t q0a = ReadMicrosecondClock(0), t0 = ReadMicrosecondClock(1), q0b = ReadMicrosecondClock(0);
            Sleep(50);
            const int64_t q1a = ReadMicrosecondClock(0), t1 = ReadMicrosecondClock(1), q1b = ReadMicrosecondClock(0);
            processorSpan = double(t1 - t0);
            counterSpan = (double(q1a + q1b) - double(q0a + q0b)) / 2;
            if (q0b - q0a + q1b - q1a < 2000) break;
        }
        NoteLibraryStartupComplete(0);
        EXPECT_NEAR(processorSpan, counterSpan, 0.2 * counterSpan);
    }
    if (cpu.name[0]) {
        EXPECT_NE(all.find(L"ＣＰＵ名："), std::wstring::npos);
        EXPECT_NE(g_systemCapability.processorName[0], 0);
    }
}

TEST(SystemInformation, ReportLinesSitOneLevelDeeperAndTheIndentIsRestored)
{
    std::wstring text;
    {
        LogFolder folder("quarn_system_report");
        LogSystemInformation();
        AppendLog(L"after\n");
        text = folder.Text();
    }
    std::vector<std::wstring> lines;
    for (size_t from = 0, end; (end = text.find(L"\r\n", from)) != std::wstring::npos; from = end + 2)
        lines.push_back(text.substr(from, end - from));
    ASSERT_GE(lines.size(), 5u) << "lines: " << lines.size();
    EXPECT_TRUE(std::regex_match(lines.front(), std::wregex(L"[0-9]+:システムの情報を出力します")));
    EXPECT_TRUE(std::regex_match(lines[1], std::wregex(L"[0-9]+:\tＱｕａｒｎライブラリ Ver3\\.03a")));
    EXPECT_TRUE(std::regex_match(lines[2], std::wregex(L"[0-9]+:\tＯＳ  Windows.* \\( Build [0-9]+ .*\\)")));
    for (size_t i = 1; i + 1 < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], std::wregex(L"[0-9]+:\t[^\t].*"))) << "line " << i;
    EXPECT_TRUE(std::regex_match(lines.back(), std::wregex(L"[0-9]+:after")));
}

}  // namespace
