// Processor features through CPUID and the time-stamp counter (x86 only; elsewhere the
// processor reports nothing), and the naming of operating-system versions.

#include "quarn/core/core.h"

#include <cstring>
#include <cwchar>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>
#define QUARN_X86 1
#endif

SystemCapabilityInfo g_systemCapability;

namespace {

#if defined(QUARN_X86)
bool CpuidExists()
{
#if defined(__i386__)
    // The ID bit (21) of the flags register can be toggled only where CPUID exists.
    uint32_t before, after;
    __asm__ volatile(
        "pushfl\n\t"
        "pushfl\n\t"
        "popl %0\n\t"
        "movl %0, %1\n\t"
        "xorl $0x200000, %0\n\t"
        "pushl %0\n\t"
        "popfl\n\t"
        "pushfl\n\t"
        "popl %0\n\t"
        "popfl\n\t"
        : "=&r"(after), "=&r"(before)
        :
        : "cc");
    return ((after ^ before) & 0x200000) != 0;
#else
    return true;
#endif
}
#endif

}  // namespace

void ReadProcessorFeatures(ProcessorFeatures* out)
{
    std::memset(out, 0, sizeof(*out));
#if defined(QUARN_X86)
    if (!CpuidExists()) return;
    out->hasCpuid = 1;
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid(0, a, b, c, d);
    const unsigned maxLeaf = a;
    std::memcpy(out->vendor, &b, 4);
    std::memcpy(out->vendor + 4, &d, 4);
    std::memcpy(out->vendor + 8, &c, 4);
    if (maxLeaf >= 1) {
        __cpuid(1, a, b, c, d);
        out->timeStampCounter = (d >> 4) & 1;
        out->mmx = (d >> 23) & 1;
        out->sse = (d >> 25) & 1;
        out->sse2 = (d >> 26) & 1;
        out->ssse3 = (c >> 9) & 1;
    }
    __cpuid(0x80000000u, a, b, c, d);
    if (a >= 0x80000004u) {
        for (unsigned leaf = 0; leaf < 3; ++leaf) {
            unsigned r[4];
            __cpuid(0x80000002u + leaf, r[0], r[1], r[2], r[3]);
            std::memcpy(out->name + leaf * 16, r, 16);
        }
    }
#endif
}

int HasMmxSupport()
{
    ProcessorFeatures f;
    ReadProcessorFeatures(&f);
    return f.hasCpuid && f.mmx ? 1 : 0;
}

namespace {

// A feature switch: the override, when set, wins; otherwise the processor is asked once and
// its answer kept in the system capability record.
struct FeatureSwitch {
    int32_t override;
    int32_t flagRead;
};

FeatureSwitch s_mmx = {-1, 0};
FeatureSwitch s_sse2 = {-1, 0};
FeatureSwitch s_ssse3 = {-1, 0};
// SSSE3's answer, which the capability record does not hold.
int32_t s_ssse3Recorded = 0;

// Whether the processor reports the feature whose bit the record's member holds.
template <int32_t ProcessorFeatures::*Bit>
int HasSupport()
{
    ProcessorFeatures f;
    ReadProcessorFeatures(&f);
    return f.hasCpuid && f.*Bit ? 1 : 0;
}

int32_t IsFeatureUsable(FeatureSwitch* sw, int32_t* recorded, int (*detect)())
{
    if (sw->override >= 0) {
        return sw->override;
    }
    if (!sw->flagRead) {
        // The same answer the start-up's system information writes into the record.
        *recorded = detect();
        sw->flagRead = 1;
    }
    return *recorded;
}

int32_t OverrideFeature(FeatureSwitch* sw, int32_t mode)
{
    const int32_t old = sw->override;
    sw->override = mode < 0 ? -1 : mode ? 1 : 0;
    return old;
}

}  // namespace

int32_t IsMmxUsable() { return IsFeatureUsable(&s_mmx, &g_systemCapability.mmxUsable, HasMmxSupport); }

int32_t OverrideMmxUsable(int32_t mode) { return OverrideFeature(&s_mmx, mode); }

int32_t IsSse2Usable() { return IsFeatureUsable(&s_sse2, &g_systemCapability.sse2Usable, HasSupport<&ProcessorFeatures::sse2>); }

int32_t OverrideSse2Usable(int32_t mode) { return OverrideFeature(&s_sse2, mode); }

int32_t IsSsse3Usable() { return IsFeatureUsable(&s_ssse3, &s_ssse3Recorded, HasSupport<&ProcessorFeatures::ssse3>); }

int32_t OverrideSsse3Usable(int32_t mode) { return OverrideFeature(&s_ssse3, mode); }

uint64_t ReadTimeStampCounter()
{
#if defined(QUARN_X86)
    return __rdtsc();
#else
    return 0;
#endif
}

namespace {

struct OsName {
    uint32_t platformId, major, minor;
    const wchar_t* suffix;
    int32_t code;
};

// Versions named by their number; 9x systems name their minor number, NT systems both.
const OsName kOsNames[] = {
    {1, 0, 0, L"95", kOsWin95},    {1, 0, 10, L"98", kOsWin98},    {1, 0, 90, L"Me", kOsWinMe},
    {2, 4, 0, L"4.0", kOsNT40},    {2, 5, 0, L"2000", kOsWin2000}, {2, 5, 1, L"XP", kOsWinXP},
    {2, 6, 0, L"Vista", kOsVista}, {2, 6, 1, L"7", kOsWin7},       {2, 6, 2, L"8", kOsWin8},
    {2, 6, 3, L"8.1", kOsWin81},
};

}  // namespace

int32_t DescribeOsVersion(const OsVersionFacts* facts, wchar_t* name, int32_t previousCode)
{
    const wchar_t sp0 = facts->servicePack ? facts->servicePack[0] : 0;
    const wchar_t* suffix = L"";
    const wchar_t* extra = L"";
    int32_t code = previousCode;
    if (facts->platformId == 0) {
        suffix = L"3.1";
        code = kOsWin31;
    } else if (facts->platformId == 2 && facts->major == 3) {
        // Every NT 3 release is reported as its last one.
        suffix = L"NT 3.51";
        code = kOsNT351;
    } else if (facts->platformId == 2 && facts->major == 10) {
        const bool eleven = facts->build >= 22000;
        suffix = eleven ? L"11" : L"10";
        code = eleven ? kOsWin11 : kOsWin10;
    } else if (facts->platformId == 2 && (facts->major > 10 || (facts->major == 6 && facts->minor > 3) ||
                                          (facts->major > 6 && facts->major < 10))) {
        // A later NT than any named here counts as the newest one known.
        code = facts->major > 10 ? kOsWin11 : kOsWin10;
    } else {
        for (const OsName& n : kOsNames) {
            const bool nine = facts->platformId == 1 && n.platformId == 1 && n.minor == facts->minor;
            const bool nt = facts->platformId == 2 && n.platformId == 2 && n.major == facts->major &&
                            n.minor == facts->minor;
            if (nine || nt) {
                suffix = n.suffix;
                code = n.code;
                if (n.code == kOsWin95 && sp0 == L'C') extra = L"OSR2";
                if (n.code == kOsWin98 && sp0 == L'A') extra = L"SE";
                break;
            }
        }
    }
    std::swprintf(name, 64, L"Windows%ls%ls", suffix, extra);
    return code;
}

void FormatOsText(const OsVersionFacts* facts, const wchar_t* name, wchar_t* out)
{
    std::swprintf(out, 512, L"%ls ( Build %d %ls )", name, static_cast<int>(facts->build),
                  facts->servicePack ? facts->servicePack : L"");
}
