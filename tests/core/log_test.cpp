#include "quarn/core/core.h"
#include "log_capture.h"
#include "log_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Runs each test in a fresh directory of its own, with the log started there.
class LogFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = std::make_unique<LogFolder>(
            "quarn_log_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    }
    void TearDown() override
    {
        while (depth_-- > 0) PopLogIndent();
        folder_.reset();
    }

    bool Exists() const { return folder_->Exists(); }
    std::vector<unsigned char> Bytes() const { return folder_->Bytes(); }
    std::wstring Text() const { return folder_->Text(); }

    void Indent(int levels)
    {
        for (int i = 0; i < levels; ++i) PushLogIndent();
        depth_ += levels;
    }

    std::unique_ptr<LogFolder> folder_;
    int depth_ = 0;
};

TEST_F(LogFile, StartsWithJustTheByteOrderMark) { EXPECT_EQ(Bytes(), (std::vector<unsigned char>{0xFF, 0xFE})); }

TEST_F(LogFile, StampsEachCallOnceAndIndentsWithTabs)
{
    Indent(2);
    EXPECT_EQ(AppendLog(L"a\nb\n"), -1);
    EXPECT_TRUE(std::regex_match(Text(), std::wregex(L"[0-9]+:\t\ta\r\nb\r\n"))) << "got: " << Text().size();
}

TEST_F(LogFile, TextWithoutLineFeedContinuesTheLine)
{
    Indent(1);
    AppendLog(L"x");
    AppendLog(L"y\n");
    AppendLog(L"z\n");
    EXPECT_TRUE(std::regex_match(Text(), std::wregex(L"[0-9]+:\txy\r\n[0-9]+:\tz\r\n")));
}

TEST_F(LogFile, ExistingCarriageReturnIsKept)
{
    AppendLog(L"p\r\nq\nr\r\n");
    EXPECT_TRUE(std::regex_match(Text(), std::wregex(L"[0-9]+:p\r\nq\r\nr\r\n")));
}

TEST_F(LogFile, IndentNeverGoesBelowZero)
{
    PopLogIndent();
    PopLogIndent();
    AppendLog(L"top\n");
    Indent(1);
    AppendLog(L"in\n");
    EXPECT_TRUE(std::regex_match(Text(), std::wregex(L"[0-9]+:top\r\n[0-9]+:\tin\r\n")));
}

TEST_F(LogFile, JapaneseTextAndSurrogatePairsAreWrittenAsUtf16)
{
    AppendLog(L"ログ\n");
    AppendLogUtf8("漢字\xF0\x9F\x98\x80\n");  // U+1F600 as a surrogate pair in the file
    const std::wstring text = Text();
    EXPECT_NE(text.find(L"ログ\r\n"), std::wstring::npos);
    const std::wstring pair = {L'漢', L'字', wchar_t(0xD83D), wchar_t(0xDE00), L'\r', L'\n'};
    EXPECT_NE(text.find(pair), std::wstring::npos);
}

TEST_F(LogFile, LoneHighSurrogateKeepsTheLineBreakAfterIt)
{
    const wchar_t lone[] = {L'x', wchar_t(0xDBFF), L'\n', L'y', L'\n', 0};
    AppendLog(lone);
    const std::wstring text = Text();
    const size_t colon = text.find(L':');
    ASSERT_NE(colon, std::wstring::npos);
    const std::wstring want = {L'x', wchar_t(0xDBFF), L'\r', L'\n', L'y', L'\r', L'\n'};
    EXPECT_EQ(text.substr(colon + 1), want);
}

TEST_F(LogFile, LongUtf8TextKeepsItsLineBreaksWhole)
{
    // Line breaks at every offset around the point where the text is cut into pieces.
    for (int before = 245; before < 256; ++before) {
        const std::string text = std::string(before, 'u') + "\r\n" + std::string(300, 'v') + "\r\n";
        AppendLogUtf8(text.c_str());
    }
    // A run of carriage returns longer than a piece stays as it was.
    const std::string returns = std::string(600, '\r') + "\n";
    AppendLogUtf8(returns.c_str());
    const std::wstring written = Text();
    EXPECT_EQ(written.find(L"\r\r\n"), written.size() - 3);
    EXPECT_EQ(std::count(written.begin(), written.end(), L'\r'), 22 + 600);
    EXPECT_EQ(std::count(written.begin(), written.end(), L'\n'), 22 + 1);
}

// Every invalid sequence becomes U+FFFD and the text after it is kept: an over-long NUL
// must not end the text handed on.
TEST(Log, InvalidUtf8BecomesReplacementCharacters)
{
    // clang-format off
    const struct {
        const char* utf8;
        std::wstring text;
    } cases[] = {
        {"xy\xC0\x80" "abc", L"xy\uFFFDabc"},            // over-long NUL
        {"a\xE0\x80\x80" "b", L"a\uFFFDb"},              // over-long NUL, three bytes
        {"a\xC1\xBF" "b", L"a\uFFFDb"},                  // over-long U+007F
        {"a\xF0\x8F\xBF\xBF" "b", L"a\uFFFDb"},          // over-long U+FFFF
        {"a\xED\xA0\x80" "b", L"a\uFFFDb"},              // a surrogate spelt out
        {"a\xF4\x90\x80\x80" "b", L"a\uFFFDb"},          // past U+10FFFF
        {"a\xE6\x97" "b", L"a\uFFFDb"},                  // cut short: the next byte is kept
        {"a\x80\xFF" "b", L"a\uFFFD\uFFFDb"},            // bytes that start nothing
        {"a\xC2\x80\xEF\xBF\xBD" "b", L"a\u0080\uFFFDb"},  // the shortest forms stay
    };
    // clang-format on
    std::wstring got;
    for (const auto& c : cases) {
        CaptureLogInto(&got);
        AppendLogUtf8(c.utf8);
        EXPECT_EQ(got, c.text) << testing::PrintToString(std::string(c.utf8));
    }
    SetLogCapture(nullptr, nullptr);
}

TEST_F(LogFile, LongTextIsWrittenWhole)
{
    std::wstring longText(3000, L'w');
    longText[1000] = L'\n';
    longText += L'\n';
    AppendLog(longText.c_str());
    const std::wstring text = Text();
    const size_t colon = text.find(L':');
    ASSERT_NE(colon, std::wstring::npos);
    EXPECT_EQ(text.substr(colon + 1, 1000), std::wstring(1000, L'w'));
    EXPECT_EQ(text.substr(colon + 1001, 2), L"\r\n");
    EXPECT_EQ(text.size(), colon + 1 + 3000 + 1 + 2);
}

TEST_F(LogFile, FormattedTextIsCutToItsBuffer)
{
    const std::string huge(5000, 'h');
    EXPECT_EQ(AppendLogFormat(L"%s", huge.c_str()), -1);
    AppendLogFormat(L"n=%d s=%ls", 42, L"ok");
    const std::wstring text = Text();
    const size_t colon = text.find(L':');
    const size_t end = text.find(L"\r\n");
    ASSERT_NE(end, std::wstring::npos);
    EXPECT_EQ(end - colon - 1, 1022u);
    EXPECT_NE(text.find(L":n=42 s=ok\r\n"), std::wstring::npos);
}

TEST_F(LogFile, FormattedTextCutInsideASurrogatePairDropsTheHalf)
{
    // The cut falls between the two units of the pair.
    std::wstring wide(1021, L'a');
    wide += {wchar_t(0xD83D), wchar_t(0xDE00)};
    wide += std::wstring(10, L'z');
    AppendLogFormat(L"%ls", wide.c_str());
    const std::wstring text = Text();
    const size_t colon = text.find(L':');
    ASSERT_NE(colon, std::wstring::npos);
    EXPECT_EQ(text.substr(colon + 1), std::wstring(1021, L'a') + L"\r\n");
}

TEST_F(LogFile, Cp932FormatIsConvertedAndEndsTheLine)
{
    AppendLogFormatCp932("v%d", 7);
    EXPECT_TRUE(std::regex_match(Text(), std::wregex(L"[0-9]+:v7\r\n")));
    AppendLogFormatCp932("\x83\x8D\x83\x4F");  // ログ in Shift-JIS
    EXPECT_NE(Text().find(L"ログ\r\n"), std::wstring::npos);
    // A lead byte before a byte no character has: the line is still written and ended.
    AppendLogFormatCp932("<\x81\x01>");
    EXPECT_TRUE(std::regex_search(Text(), std::wregex(L"ログ\r\n[0-9]+:<[^\r\n]*>\r\n$")));
}

TEST_F(LogFile, ConcurrentAppendsLoseNoLine)
{
    constexpr int kLines = 200;
    auto writer = [](wchar_t tag) {
        for (int i = 0; i < kLines; ++i) AppendLogFormat(L"%lc%d", tag, i);
    };
    std::thread a(writer, L'A');
    std::thread b(writer, L'B');
    a.join();
    b.join();
    const std::wstring text = Text();
    for (wchar_t tag : {L'A', L'B'}) {
        for (int i = 0; i < kLines; ++i) {
            const std::wstring line = L":" + std::wstring(1, tag) + std::to_wstring(i) + L"\r\n";
            ASSERT_NE(text.find(line), std::wstring::npos) << char(tag) << i;
        }
    }
}

TEST_F(LogFile, SwitchedOffWritesNothing)
{
    fs::remove(folder_->File());
    EnableLogFile(0);
    StartLogFile();
    EXPECT_FALSE(Exists());
    LogCapture capture;  // callers still see the text handed over
    EXPECT_EQ(AppendLog(L"nothing\n"), -1);
    EXPECT_FALSE(Exists());
    EXPECT_EQ(capture.texts.size(), 1u);
    EnableLogFile(1);
}

TEST(Log, NothingIsWrittenBeforeAFolderIsSet)
{
    const fs::path saved = fs::current_path();
    const fs::path dir = fs::temp_directory_path() / "quarn_log_nofolder";
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::current_path(dir);
    SetLogFolder(L"");
    AppendLog(L"lost\n");
    EXPECT_FALSE(fs::exists(dir / "Log.txt"));
    fs::current_path(saved);
    fs::remove_all(dir);
}

TEST(ScreenLog, PreparationSetsDefaultsOnce)
{
    ResetScreenLogState();
    ScreenLogState* s = GetScreenLogState();
    s->lines[3][0] = L'x';
    EXPECT_EQ(PrepareScreenLogState(), 0);
    EXPECT_EQ(s->setUp, 1);
    EXPECT_EQ(s->lineHeight, 16);
    EXPECT_EQ(s->fontHandle, -1);
    EXPECT_EQ(s->fontNeeded, 1);
    EXPECT_EQ(IsScreenLogShown(), 0);
    EXPECT_EQ(s->lines[3][0], 0);
    s->lines[3][0] = L'y';
    PrepareScreenLogState();  // already set up: the lines stay
    EXPECT_EQ(s->lines[3][0], L'y');
    ResetScreenLogState();
}

}  // namespace
