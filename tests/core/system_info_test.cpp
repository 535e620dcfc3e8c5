#include "quarn/core/core.h"

#include <gtest/gtest.h>

#include <string>
#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif
#include <vector>

namespace {

TEST(SystemInformation, OsNamesAndCodesFromVersionRecords)
{
    struct Case {
        OsVersionFacts facts;
        const wchar_t* name;
        int32_t code;
        const wchar_t* text;
    } const cases[] = {
        {{0, 3, 10, 0, L""}, L"Windows3.1", kOsWin31, nullptr},
        {{1, 4, 0, 950, L""}, L"Windows95", kOsWin95, nullptr},
        {{1, 4, 0, 1111, L"C"}, L"Windows95OSR2", kOsWin95, nullptr},
        {{1, 4, 10, 1998, L" "}, L"Windows98", kOsWin98, nullptr},
        {{1, 4, 10, 2222, L"A"}, L"Windows98SE", kOsWin98, nullptr},
        {{1, 4, 90, 3000, L""}, L"WindowsMe", kOsWinMe, nullptr},
        {{2, 3, 51, 1057, L""}, L"WindowsNT 3.51", kOsNT351, nullptr},
        {{2, 4, 0, 1381, L"Service Pack 6"}, L"Windows4.0", kOsNT40, nullptr},
        {{2, 5, 0, 2195, L""}, L"Windows2000", kOsWin2000, nullptr},
        {{2, 5, 1, 2600, L"Service Pack 3"}, L"WindowsXP", kOsWinXP, L"WindowsXP ( Build 2600 Service Pack 3 )"},
        {{2, 6, 0, 6002, L""}, L"WindowsVista", kOsVista, nullptr},
        {{2, 6, 1, 7601, L"Service Pack 1"}, L"Windows7", kOsWin7, nullptr},
        {{2, 6, 2, 9200, L""}, L"Windows8", kOsWin8, L"Windows8 ( Build 9200  )"},
        {{2, 6, 3, 9600, L""}, L"Windows8.1", kOsWin81, nullptr},
        {{2, 10, 0, 19045, L""}, L"Windows10", kOsWin10, nullptr},
        {{2, 10, 0, 22631, L""}, L"Windows11", kOsWin11, nullptr},
        {{2, 11, 0, 30000, nullptr}, L"Windows", kOsWin11, L"Windows ( Build 30000  )"},
        {{3, 1, 0, 1, L""}, L"Windows", -7, nullptr},  // unknown platform: code unchanged
    };
    for (const Case& c : cases) {
        wchar_t name[64];
        const int32_t code = DescribeOsVersion(&c.facts, name, -7);
        EXPECT_EQ(std::wstring(name), c.name) << c.facts.major << "." << c.facts.minor;
        EXPECT_EQ(code, c.code) << c.facts.major << "." << c.facts.minor;
        if (c.text) {
            wchar_t text[512];
            FormatOsText(&c.facts, name, text);
            EXPECT_EQ(std::wstring(text), c.text);
        }
    }
}

TEST(SystemInformation, LaterSystemsRankAboveWindows7)
{
    for (uint32_t minor : {2u, 3u, 4u}) {
        const OsVersionFacts f = {2, 6, minor, 9200, L""};
        wchar_t name[64];
        EXPECT_GT(DescribeOsVersion(&f, name, 0), kOsWin7) << minor;
    }
    for (uint32_t major : {7u, 10u, 12u}) {
        const OsVersionFacts f = {2, major, 0, 10000, L""};
        wchar_t name[64];
        EXPECT_GT(DescribeOsVersion(&f, name, 0), kOsWin7) << major;
    }
}

TEST(SystemInformation, ProcessorFeaturesAreConsistent)
{
    ProcessorFeatures f;
    ReadProcessorFeatures(&f);
#if defined(__i386__) || defined(__x86_64__)
    EXPECT_EQ(f.hasCpuid, 1);
    EXPECT_EQ(std::string(f.vendor).size(), 12u);
    EXPECT_EQ(HasMmxSupport(), f.mmx);
    // Every processor with SSE2 has SSE, and every one with SSE has MMX.
    EXPECT_LE(f.sse2, f.sse);
    EXPECT_LE(f.sse, f.mmx);
    if (f.timeStampCounter) {
        const uint64_t a = ReadTimeStampCounter();
        const uint64_t b = ReadTimeStampCounter();
        EXPECT_GE(b, a);
    }
#else
    EXPECT_EQ(f.hasCpuid, 0);
    EXPECT_EQ(HasMmxSupport(), 0);
#endif
}

TEST(SystemInformation, OneMmxDecisionFromTheRecordWithATestOverride)
{
    const int32_t kept = OverrideMmxUsable(-1);
    EXPECT_EQ(IsMmxUsable(), HasMmxSupport()) << "the record holds what the processor reports";
    EXPECT_EQ(g_systemCapability.mmxUsable, HasMmxSupport());
    EXPECT_EQ(OverrideMmxUsable(1), -1);
    EXPECT_EQ(IsMmxUsable(), 1);
    EXPECT_EQ(OverrideMmxUsable(0), 1);
    EXPECT_EQ(IsMmxUsable(), 0);
    EXPECT_EQ(g_systemCapability.mmxUsable, HasMmxSupport()) << "the override leaves the record alone";
    OverrideMmxUsable(-1);
    EXPECT_EQ(IsMmxUsable(), HasMmxSupport());
    OverrideMmxUsable(kept);
}

// SSSE3 is CPUID leaf 1's ECX bit 9, and its switch is forced and handed back like the others.
TEST(SystemInformation, Ssse3DecisionFromTheProcessorWithATestOverride)
{
    ProcessorFeatures f;
    ReadProcessorFeatures(&f);
#if defined(__i386__) || defined(__x86_64__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    ASSERT_EQ(__get_cpuid(1, &a, &b, &c, &d), 1);
    EXPECT_EQ(f.ssse3, int32_t((c >> 9) & 1));
    EXPECT_LE(f.ssse3, f.sse2) << "every processor with SSSE3 has SSE2";
#else
    EXPECT_EQ(f.ssse3, 0);
#endif
    const int32_t kept = OverrideSsse3Usable(-1);
    EXPECT_EQ(IsSsse3Usable(), f.ssse3);
    EXPECT_EQ(OverrideSsse3Usable(1), -1);
    EXPECT_EQ(IsSsse3Usable(), 1);
    EXPECT_EQ(OverrideSsse3Usable(0), 1);
    EXPECT_EQ(IsSsse3Usable(), 0);
    OverrideSsse3Usable(-1);
    EXPECT_EQ(IsSsse3Usable(), f.ssse3);
    OverrideSsse3Usable(kept);
}

}  // namespace

// The counter is read between two readings of the millisecond clock; a pair whose readings
// differ (the thread was away between them) is read again.
TEST(SystemInformation, ClockPairsAreReadWithinOneMillisecond)
{
    struct Case {
        std::vector<int32_t> ms;  // the millisecond clock's readings in turn
        int32_t tries;
        int32_t pairMs;
        uint64_t pairTicks;  // the counter reads 1, 2, 3, ...
        size_t msReads;
    };
    const Case cases[] = {
        {{100, 100}, 20, 100, 1, 2},            // not disturbed: one try
        {{100, 130, 131, 131}, 20, 131, 2, 4},  // away 30 ms in the first try
        {{5, 6, 7, 8, 9, 9}, 20, 9, 3, 6},      // away in two tries
        {{5, 6, 7, 8}, 2, 8, 2, 4},             // out of tries: the last pair
    };
    for (const Case& c : cases) {
        size_t next = 0;
        uint64_t ticks = 0;
        const TicksAtMillisecond pair = ReadTicksWithinOneMillisecond(
            [&] { return c.ms[next < c.ms.size() ? next++ : c.ms.size() - 1]; }, [&] { return ++ticks; }, c.tries);
        EXPECT_EQ(pair.ms, c.pairMs) << c.ms.size();
        EXPECT_EQ(pair.ticks, c.pairTicks) << c.ms.size();
        EXPECT_EQ(next, c.msReads) << c.ms.size();
    }
}
