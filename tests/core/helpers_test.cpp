#include "quarn/core/core.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Sets the character-code format for one test and restores it.
class CodeFormat {
public:
    explicit CodeFormat(int format) : saved_(GetCharacterCodeFormat()) { SetCharacterCodeFormat(format); }
    ~CodeFormat() { SetCharacterCodeFormat(saved_); }

private:
    int saved_;
};

TEST(TextHelpers, DoubleByteLeadRulesPerFormat)
{
    struct Case {
        unsigned char byte;
        int lead[5];  // formats 0 .. 4
    } const cases[] = {
        {0x41, {0, 0, 0, 0, 0}}, {0x7F, {0, 0, 0, 0, 0}}, {0x80, {0, 0, 1, 1, 1}}, {0x81, {1, 1, 1, 1, 1}},
        {0x9F, {1, 1, 1, 1, 1}}, {0xA0, {0, 0, 1, 1, 1}}, {0xDF, {0, 0, 1, 1, 1}}, {0xE0, {1, 1, 1, 1, 1}},
        {0xFC, {1, 1, 1, 1, 1}}, {0xFD, {0, 0, 1, 1, 1}}, {0xFF, {0, 0, 1, 1, 1}},
    };
    for (const Case& c : cases)
        for (int f = 0; f < 5; ++f)
            EXPECT_EQ(IsDoubleByteLead(&c.byte, f), c.lead[f]) << std::hex << int(c.byte) << " format " << f;
    const unsigned char sjis = 0x81;
    EXPECT_EQ(IsDoubleByteLead(&sjis, 7), 1);  // unknown formats use the Shift-JIS ranges
}

TEST(TextHelpers, CodePageToFormat)
{
    EXPECT_EQ(CharacterCodeFormatFromCodePage(932), 1);
    EXPECT_EQ(CharacterCodeFormatFromCodePage(949), 2);
    EXPECT_EQ(CharacterCodeFormatFromCodePage(950), 3);
    EXPECT_EQ(CharacterCodeFormatFromCodePage(936), 4);
    EXPECT_EQ(CharacterCodeFormatFromCodePage(1252), 0);
}

TEST(TextHelpers, FindNarrowCharSkipsDoubleByteCharacters)
{
    // "\x95\x5C" is a Shift-JIS character whose trail byte is '\'.
    struct Case {
        int format;
        const char* text;
        char ch;
        int at;  // -1: not found
    } const cases[] = {
        {1,
         "\x95\x5C"
         "a\\b",
         '\\', 3},
        {1, "\x95\x5C", '\\', -1},
        {0, "ab\\", '\\', 2},
        {1, "", 'a', -1},
        {1, "x\xA0\\", '\\', 2},    // 0xA0 is a single byte in Shift-JIS
        {2, "x\xA0\\\\", '\\', 3},  // ... and a lead byte elsewhere
        {1, "ab\x81", 'z', -1},     // a lead byte at the very end stops cleanly
    };
    for (const Case& c : cases) {
        CodeFormat f(c.format);
        const char* found = FindNarrowChar(c.text, c.ch);
        EXPECT_EQ(found ? int(found - c.text) : -1, c.at) << c.text << " format " << c.format;
    }
}

TEST(TextHelpers, FindWideCharSkipsSurrogatePairs)
{
    const wchar_t pair[] = {L'a', wchar_t(0xD83D), wchar_t(0xDC00), L'b', wchar_t(0xDC00), 0};
    struct Case {
        wchar_t unit;
        int at;
    } const cases[] = {
        {L'a', 0}, {L'b', 3}, {wchar_t(0xDC00), 4}, {wchar_t(0xD83D), -1}, {L'z', -1},
    };
    for (const Case& c : cases) {
        const wchar_t* found = FindWideChar(pair, c.unit);
        EXPECT_EQ(found ? int(found - pair) : -1, c.at) << std::hex << unsigned(c.unit);
    }
    // A lone high surrogate is a unit of its own, at the end or before any unit that is
    // not a low surrogate: what follows it is still found.
    struct Lone {
        std::vector<wchar_t> text;
        wchar_t unit;
        int at;
    } const lones[] = {
        {{L'x', wchar_t(0xD800), 0}, wchar_t(0xD800), 1},
        {{L'x', wchar_t(0xD800), L'\\', L'y', 0}, L'\\', 2},
        {{wchar_t(0xDBFF), wchar_t(0xD800), L'a', 0}, L'a', 2},
        {{wchar_t(0xDBFF), wchar_t(0xDFFF), L'a', 0}, wchar_t(0xDFFF), -1},
    };
    for (const Lone& c : lones) {
        const wchar_t* found = FindWideChar(c.text.data(), c.unit);
        EXPECT_EQ(found ? int(found - c.text.data()) : -1, c.at) << std::hex << unsigned(c.unit);
    }
    EXPECT_EQ(FindWideChar(L"", L'a'), nullptr);
}

TEST(TextHelpers, UpperCaseLeavesDoubleByteCharactersAlone)
{
    CodeFormat f(1);
    char narrow[] =
        "ab\x82"
        "a"
        "cz{";  // 0x82 0x61 is one Shift-JIS character
    char* end = UpperCaseNarrowString(narrow);
    EXPECT_STREQ(narrow,
                 "AB\x82"
                 "a"
                 "CZ{");
    EXPECT_EQ(end, narrow + std::strlen(narrow));

    // A pair is left alone; the letter after a lone high surrogate is still raised.
    wchar_t wide[] = {L'q', wchar_t(0xD800), wchar_t(0xDC61), L'`', L'z', wchar_t(0xDC00), L'b', wchar_t(0xDBFF), L'a',
                      0};
    wchar_t* wend = UpperCaseWideString(wide);
    const wchar_t want[] = {
        L'Q', wchar_t(0xD800), wchar_t(0xDC61), L'`', L'Z', wchar_t(0xDC00), L'B', wchar_t(0xDBFF), L'A', 0};
    EXPECT_EQ(std::wstring(wide), std::wstring(want));
    EXPECT_EQ(wend, wide + 9);
}

TEST(TextHelpers, CopyCountAndCompare)
{
    wchar_t buffer[8];
    struct Limited {
        const wchar_t* src;
        int max;
        const wchar_t* want;
    } const limited[] = {
        {L"hello", 3, L"hel"}, {L"hi", 5, L"hi"}, {L"hi", 0, L""}, {L"hi", -4, L""}, {L"abcdefg", 7, L"abcdefg"},
    };
    for (const Limited& c : limited) {
        std::fill(std::begin(buffer), std::end(buffer), L'#');
        CopyWideStringLimited(buffer, c.src, c.max);
        EXPECT_EQ(std::wstring(buffer), c.want) << c.max;
    }
    CopyWideString(buffer, L"abc");
    EXPECT_EQ(CountWideUnits(buffer), 3);
    EXPECT_EQ(CountWideUnits(L""), 0);
    char narrow[8];
    CopyNarrowString(narrow, "xyz");
    EXPECT_STREQ(narrow, "xyz");

    EXPECT_EQ(CompareNarrowStrings("abc", "abc"), 0);
    EXPECT_EQ(CompareNarrowStrings("abc", "abd"), 1);
    EXPECT_EQ(CompareNarrowStrings("ab", "abc"), 1);
    EXPECT_EQ(CompareWideStrings(L"abc", L"abc"), 0);
    EXPECT_EQ(CompareWideStrings(L"abc", L"ab"), 1);
    struct LimitedCompare {
        const wchar_t* a;
        const wchar_t* b;
        int count;
        int want;
    } const compares[] = {
        {L"abcX", L"abcY", 3, 0}, {L"abcX", L"abcY", 4, 1}, {L"a", L"b", 0, 0},
        {L"a", L"a", -1, 1},      {L"ab", L"ab", 10, 0},    {L"ab", L"abc", 10, 1},
    };
    for (const LimitedCompare& c : compares) EXPECT_EQ(CompareWideStringsLimited(c.a, c.b, c.count), c.want) << c.count;
}

TEST(MemoryHelpers, FillCompareCopyAndOverlappingMove)
{
    unsigned char a[16], b[16];
    EXPECT_EQ(FillBytes(a, 0x5A, 16), 0x5A);
    EXPECT_EQ(FillBytes(b, 0x5A, 16), 0x5A);
    EXPECT_EQ(CompareBytes(a, b, 16), 0);
    b[15] = 0;
    EXPECT_EQ(CompareBytes(a, b, 16), 1);
    EXPECT_EQ(CompareBytes(a, b, 15), 0);
    for (int i = 0; i < 16; ++i) a[i] = static_cast<unsigned char>(i);
    CopyBytes(b, a, 16);
    EXPECT_EQ(std::memcmp(a, b, 16), 0);

    MoveBytes(a + 2, a, 10);  // forward overlap
    const unsigned char up[] = {0, 1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 13, 14, 15};
    EXPECT_EQ(std::memcmp(a, up, 16), 0);
    MoveBytes(a, a + 2, 10);  // backward overlap
    const unsigned char down[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 9, 12, 13, 14, 15};
    EXPECT_EQ(std::memcmp(a, down, 16), 0);
    CopyBytes(nullptr, nullptr, 0);
}

TEST(ArithmeticHelpers, FormatIntegerWide)
{
    struct Case {
        int32_t value;
        int radix;
        const wchar_t* want;
    } const cases[] = {
        {-255, 16, L"-ff"},
        {0, 10, L"0"},
        {123456, 10, L"123456"},
        {5, 2, L"101"},
        {35, 36, L"z"},
        {INT32_MIN, 10, L"-2147483648"},
        {INT32_MAX, 16, L"7fffffff"},
        {INT32_MIN, 2, L"-10000000000000000000000000000000"},
        {10, 1, L""},
        {10, 37, L""},
    };
    for (const Case& c : cases) {
        wchar_t out[34];
        EXPECT_EQ(FormatIntegerWide(c.value, out, c.radix), out);
        EXPECT_EQ(std::wstring(out), c.want) << c.value << " radix " << c.radix;
    }
}

TEST(ArithmeticHelpers, TruncationAbsoluteValuesAndRoots)
{
    struct Case {
        double value;
        int32_t want;
    } const cases[] = {
        {2.9, 2},
        {-2.9, -2},
        {0.0, 0},
        {2147483647.0, INT32_MAX},
        {-2147483648.0, INT32_MIN},
        {2147483648.0, INT32_MIN},
        {-3e10, INT32_MIN},
        {std::nan(""), INT32_MIN},
    };
    for (const Case& c : cases) EXPECT_EQ(TruncateDoubleToInt(c.value), c.want) << c.value;
    EXPECT_EQ(TruncateFloatToInt(-7.99f), -7);
    EXPECT_EQ(TruncateFloatToInt(3e9f), INT32_MIN);
    EXPECT_EQ(AbsoluteInt(-5), 5);
    EXPECT_EQ(AbsoluteInt(INT32_MIN), INT32_MIN);
    EXPECT_EQ(AbsoluteFloat(-1.5f), 1.5f);
    EXPECT_EQ(SquareRootFloat(16.0f), 4.0f);
    float s = 0, c = 0;
    ComputeSinCos(0.5f, &s, &c);
    EXPECT_NEAR(s, std::sin(0.5), 1e-6);
    EXPECT_NEAR(c, std::cos(0.5), 1e-6);
    EXPECT_EQ(IsHighSurrogateUnit(wchar_t(0xD7FF)), 0);
    EXPECT_EQ(IsHighSurrogateUnit(wchar_t(0xD800)), 1);
    EXPECT_EQ(IsHighSurrogateUnit(wchar_t(0xDBFF)), 1);
    EXPECT_EQ(IsHighSurrogateUnit(wchar_t(0xDC00)), 0);
}

}  // namespace
