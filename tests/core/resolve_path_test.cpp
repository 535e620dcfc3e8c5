#include "quarn/core/files.h"
#include "file_fixture.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ResolveFullPath, ResolvesAgainstTheBase)
{
    const struct {
        const wchar_t* relative;
        const wchar_t* base;
        const wchar_t* full;
    } cases[] = {
        {L"..\\a", L"C:\\x\\y", L"C:\\x\\a"},
        {L"/b", L"C:\\x\\y", L"C:\\b"},
        {L"D:c", L"C:\\x\\y", L"D:\\c"},
        {L"D:\\e\\..\\f", L"C:\\x\\y", L"D:\\f"},
        {L"\\\\srv\\s", L"C:\\x\\y", L"\\\\srv\\s"},
        {L"a\\.\\b/c", L"C:\\x\\y", L"C:\\x\\y\\a\\b\\c"},
        {L"a\\b\\", L"C:\\x\\y\\", L"C:\\x\\y\\a\\b"},
        {L"..\\..\\..\\..\\a", L"C:\\x\\y", L"C:\\a"},
        {L"a\\\\b", L"C:\\x", L"C:\\x\\a\\b"},
        {L"", L"C:\\x\\", L"C:\\x"},
        {nullptr, L"C:\\x\\y", L"C:\\x\\y"},
    };
    for (const auto& c : cases) {
        wchar_t out[kFilePathUnits];
        EXPECT_EQ(ResolveFullPath(c.relative, out, c.base), 0);
        EXPECT_EQ(std::wstring(out), c.full) << (c.relative ? c.relative : L"(null)");
    }
}

TEST(ResolveFullPath, RefusesAFullPathLongerThanItsBuffer)
{
    LogCapture log;
    const std::wstring longest(kFilePathUnits - 6, L'n');  // with "C:\x\", 259 units
    wchar_t out[kFilePathUnits];
    EXPECT_EQ(ResolveFullPath(longest.c_str(), out, L"C:\\x"), 0);
    EXPECT_EQ(CountWideUnits(out), kFilePathUnits - 1);
    EXPECT_FALSE(log.Contains(L"ファイルパスが長すぎます"));

    const std::wstring tooLong = longest + L"n";
    EXPECT_EQ(ResolveFullPath(tooLong.c_str(), out, L"C:\\x"), -1);
    EXPECT_EQ(out[0], 0);
    EXPECT_TRUE(log.Contains(L"ファイルパスが長すぎます\n"));
}

TEST(ResolveFullPath, ComparableFormIsUpperCasedFromTheCurrentDirectory)
{
    TempFolder folder("comparable");
    wchar_t current[kFilePathUnits];
    ASSERT_GT(GetPlainCurrentDirectory(current), 0);
    std::wstring expected = current;
    for (auto& c : expected) c = (c >= L'a' && c <= L'z') ? wchar_t(c - 32) : c;
    wchar_t out[kFilePathUnits];
    ASSERT_EQ(MakeComparablePath(L"data/img\\.\\a.Png", out), 0);
    EXPECT_EQ(std::wstring(out), expected + L"\\DATA\\IMG\\A.PNG");
    // Without a base the file table's current directory is the base, as it is written.
    ASSERT_EQ(ResolveFullPath(L"b.png", out, nullptr), 0);
    EXPECT_EQ(std::wstring(out), std::wstring(current) + L"\\b.png");
}

}  // namespace
