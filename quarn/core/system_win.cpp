// Clocks, the local date and the system-information report.

#include <windows.h>
#include <mmsystem.h>

#include "quarn/core/core_win.h"
#include "quarn/core/file_os.h"

namespace {

struct ClockState {
    int32_t performanceCounter;  // 1 when the frequency below is usable
    uint64_t frequency;
    int32_t startupComplete;
    // Added to the processor clock's reading so that it goes on from the reading of the
    // clock it takes over from.
    int64_t processorOffset;
};

ClockState s_clock;

// value x 1,000,000 / divisor through the 128-bit helpers, so that long uptimes cannot
// overflow the product.
int64_t ScaleToMicroseconds(uint64_t value, uint64_t divisor)
{
    const uint64_t million = 1000000;
    UInt128 product;
    Multiply64To128(&value, &million, &product);
    uint64_t quotient = 0;
    Divide128By64(&product, &divisor, &quotient);
    return static_cast<int64_t>(quotient);
}

void ToDateTime(const SYSTEMTIME& t, DateTimeRecord* out)
{
    out->year = t.wYear;
    out->month = t.wMonth;
    out->day = t.wDay;
    out->hour = t.wHour;
    out->minute = t.wMinute;
    out->second = t.wSecond;
}

// The version as the system really is: GetVersionExW reports Windows 8 to programs that
// do not declare later systems in their manifest.
OSVERSIONINFOW QueryOsVersion()
{
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto rtlGetVersion = ntdll ? reinterpret_cast<RtlGetVersionFunction>(
                                     reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                               : nullptr;
    if (!rtlGetVersion || rtlGetVersion(&info) != 0) {
        info = OSVERSIONINFOW{};
        info.dwOSVersionInfoSize = sizeof(info);
        GetVersionExW(&info);
    }
    return info;
}

void LogOsLine()
{
    const OSVERSIONINFOW info = QueryOsVersion();
    const OsVersionFacts facts = {info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
                                  info.szCSDVersion};
    wchar_t name[64];
    g_systemCapability.osCode = DescribeOsVersion(&facts, name, g_systemCapability.osCode);
    FormatOsText(&facts, name, g_systemCapability.osText);
    AppendLog(L"ＯＳ  ");
    AppendLogFormat(L"%ls", g_systemCapability.osText);
}

void SetFinestTimerResolution()
{
    TIMECAPS caps{};
    if (timeGetDevCaps(&caps, sizeof(caps)) == TIMERR_NOERROR) timeBeginPeriod(caps.wPeriodMin);
}

// The processor clock: time-stamp-counter ticks over at least 100 ms of the millisecond
// clock, from its start in the system report to its completion.
struct ProcessorClockMeasurement {
    int32_t running;
    uint64_t ticks;
    int32_t start;
};
ProcessorClockMeasurement s_processorClockMeasurement;

constexpr uint32_t kProcessorClockSpanMs = 100;

// Milliseconds since start on the millisecond clock, which wraps from 0x7FFFFFFF to 0.
uint32_t MillisecondsSince(int32_t start)
{
    return static_cast<uint32_t>(ReadMillisecondClock() - start) & 0x7FFFFFFFu;
}

constexpr int32_t kClockPairTries = 20;

TicksAtMillisecond ReadClockPair()
{
    // Called, not named: on 64-bit Windows the counter's name is also a macro of the system's.
    return ReadTicksWithinOneMillisecond([] { return ReadMillisecondClock(); }, [] { return ReadTimeStampCounter(); },
                                         kClockPairTries);
}

void StartProcessorClockMeasurement()
{
    const TicksAtMillisecond start = ReadClockPair();
    s_processorClockMeasurement = ProcessorClockMeasurement{1, start.ticks, start.ms};
}

void CompleteProcessorClockMeasurement()
{
    ProcessorClockMeasurement& m = s_processorClockMeasurement;
    if (!m.running) return;
    m.running = 0;
    // What is left of the span is slept, all but its last millisecond, which is waited out
    // on the clock itself.
    const uint32_t gone = MillisecondsSince(m.start);
    if (gone + 1 < kProcessorClockSpanMs) Sleep(kProcessorClockSpanMs - gone - 1);
    while (MillisecondsSince(m.start) < kProcessorClockSpanMs) {
    }
    const TicksAtMillisecond end = ReadClockPair();
    const uint32_t span = static_cast<uint32_t>(end.ms - m.start) & 0x7FFFFFFFu;
    const uint64_t d = end.ticks - m.ticks;
    // Over exactly 100 ms: MHz = d / 100,000 and ticks per second = d x 10.
    g_systemCapability.processorMhz = static_cast<int32_t>(d / (uint64_t{span} * 1000));
    g_systemCapability.processorClock = d * 1000 / span;
    AppendLogFormat(L"ＣＰＵ動作速度：大体%.2fGHz", g_systemCapability.processorMhz / 1000.0);
}

}  // namespace

int32_t ReadMillisecondClock() { return static_cast<int32_t>(timeGetTime() & 0x7FFFFFFFu); }

int64_t QueryCounterFrequency()
{
    LARGE_INTEGER f{};
    return QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 0;
}

int ReadPerformanceCounterFrequency()
{
    const int64_t frequency = QueryCounterFrequency();
    if (frequency != 0) {
        s_clock.frequency = static_cast<uint64_t>(frequency);
        s_clock.performanceCounter = 1;
        return 0;
    }
    s_clock.performanceCounter = 0;
    return -1;
}

void NoteLibraryStartupComplete(int flag)
{
    if (flag) CompleteProcessorClockMeasurement();
    // The processor clock counts from another origin than the counter used during start-up:
    // it takes over where that one stands, so that a time taken during start-up (such as the
    // last vertical blank) still compares with one taken after it, instead of lying hours
    // ahead of it.
    if (flag && !s_clock.startupComplete && g_systemCapability.processorClock != 0)
        s_clock.processorOffset = ReadMicrosecondClock(0) -
                                  ScaleToMicroseconds(ReadTimeStampCounter(), g_systemCapability.processorClock);
    s_clock.startupComplete = flag;
}

int64_t ReadMicrosecondClock(int useProcessorClock)
{
    if (g_systemCapability.timeStampCounterUsable && useProcessorClock == 1 && s_clock.startupComplete &&
        g_systemCapability.processorClock != 0)
        return ScaleToMicroseconds(ReadTimeStampCounter(), g_systemCapability.processorClock) + s_clock.processorOffset;
    if (s_clock.performanceCounter) {
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        return ScaleToMicroseconds(static_cast<uint64_t>(now.QuadPart), s_clock.frequency);
    }
    return static_cast<int64_t>(uint64_t(timeGetTime()) * 1000);
}

int ReadLocalDateTime(DateTimeRecord* out)
{
    SYSTEMTIME t{};
    GetLocalTime(&t);
    ToDateTime(t, out);
    return 0;
}

void ConvertFileTimeToDateTime(const FILETIME* time, DateTimeRecord* out)
{
    FILETIME local{};
    SYSTEMTIME t{};
    FileTimeToLocalFileTime(time, &local);
    FileTimeToSystemTime(&local, &t);
    ToDateTime(t, out);
}

int LogSystemInformation()
{
    AppendLog(L"システムの情報を出力します\n");
    PushLogIndent();
    AppendLogFormat(L"Ｑｕａｒｎライブラリ Ver%ls", L"3.03a");
    LogOsLine();

    g_systemCapability.directXLevel = 0x70000;
    SetFinestTimerResolution();

    ProcessorFeatures cpu;
    ReadProcessorFeatures(&cpu);
    g_systemCapability.mmxUsable = 0;
    g_systemCapability.sseUsable = 0;
    g_systemCapability.sse2Usable = 0;
    g_systemCapability.timeStampCounterUsable = cpu.timeStampCounter;
    int level = 0;
    if (cpu.hasCpuid) {
        level = 1;
        if (cpu.mmx) {
            level = 3;
            if (cpu.sse) {
                level = 4;
                if (cpu.sse2) level = 5;
            }
        }
    }

    if (g_systemCapability.timeStampCounterUsable) {
        StartProcessorClockMeasurement();
        if (IsLogObserved()) CompleteProcessorClockMeasurement();
    }

    if (level == 0) AppendLog(L"ＣＰＵＩＤ命令は使えません\n");
    else if (level == 1) AppendLog(L"ＭＭＸは使えません\n");
    if (level >= 3) {
        AppendLog(L"ＭＭＸ命令を使用します\n");
        g_systemCapability.mmxUsable = 1;
    }
    if (level >= 4) {
        AppendLog(L"ＳＳＥ命令が使用可能です\n");
        g_systemCapability.sseUsable = 1;
    }
    if (level >= 5) {
        AppendLog(L"ＳＳＥ２命令が使用可能です\n");
        g_systemCapability.sse2Usable = 1;
    }

    if (level > 0) {
        AppendLog(L"ＣＰＵベンダ：");
        for (int piece = 0; piece < 3; ++piece) {
            char four[5] = {};
            CopyBytes(four, cpu.vendor + piece * 4, 4);
            wchar_t wide[8] = {};
            FileOsCodePageToWide(932, four, wide, 8);
            AppendLog(wide);
        }
        AppendLog(L"\n");
        if (cpu.name[0] != 0) {
            // "ＣＰＵ名：%s" in code page 932.
            AppendLogFormatCp932("\x82\x62\x82\x6f\x82\x74\x96\xbc\x81\x46%s", cpu.name);
            FileOsCodePageToWide(0, cpu.name, g_systemCapability.processorName, 64);
        }
    }

    PopLogIndent();
    return 0;
}
