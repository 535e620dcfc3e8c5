#include "app/tally.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

namespace {

lib::biginteger big(const wchar_t* text)
{
    lib::biginteger v;
    v.set_str(text);
    return v;
}

struct ElapsedCase {
    const wchar_t* tally;
    const wchar_t* shown;
};

TEST(Tally, FormatElapsed)
{
    const ElapsedCase cases[] = {
        {L"0", L"0day 00:00:00"},
        {L"999", L"0day 00:00:00"},
        {L"1000", L"0day 00:00:01"},
        {L"86399999", L"0day 23:59:59"},
        {L"86400000", L"1day 00:00:00"},
        {L"90061000", L"1day 01:01:01"},
        {L"172800000", L"2days 00:00:00"},
        {L"-1", L"-1day 23:59:59"},
        {L"-100000", L"-1day 23:58:20"},
        {L"1234567890123456789012345", L"14288980209762231days 08:30:12"},
        {L"-1000000000000000000000001", L"-11574074074074075day 22:13:19"},
    };
    for (const ElapsedCase& c : cases)
        EXPECT_EQ(format_elapsed(big(c.tally)), c.shown) << "tally " << testing::PrintToString(std::wstring(c.tally));
}

// The running tally against the tally as one number and format_elapsed on it: frames within
// a day, frames that complete one (the day count's digits carrying, up from nines and, for
// negative counts, down to nines), frames far apart, and tallies set anywhere, up to the
// 4,000 digits "data.txt" can hold.
TEST(Tally, RunningTallyMatchesTheDirectText)
{
    const lib::biginteger day = big(L"86400000");
    auto days_and_ms = [&](const std::wstring& days, const wchar_t* ms) { return big(days.c_str()) * day + big(ms); };
    int checked = 0;
    RunningTally running;
    lib::biginteger tally;
    auto check = [&](const std::wstring& how) {
        ASSERT_EQ(running_tally_value(running), tally) << testing::PrintToString(how);
        ASSERT_EQ(running_tally_text(running), format_elapsed(tally)) << testing::PrintToString(how);
        ++checked;
    };
    auto set = [&](const lib::biginteger& t) {
        tally = t;
        set_running_tally(running, t);
    };
    auto advance = [&](std::uint32_t ms) {
        tally += big(std::to_wstring(ms).c_str());
        advance_running_tally(running, ms);
    };
    check(L"as made");

    const lib::biginteger starts[] = {
        big(L"0"),
        big(L"-1"),
        big(L"86399999"),
        big(L"-86400000"),
        big(L"-172800001"),
        days_and_ms(L"9", L"86399990"),
        days_and_ms(L"99", L"86399999"),
        days_and_ms(L"-10", L"86399999"),
        days_and_ms(L"-100", L"0"),
        days_and_ms(L"1", L"86399999"),
        big(L"1234567890123456789012345"),
        big(L"-1000000000000000000000001"),
    };
    // Within the day, completing it exactly, one day at once, the clock's longest step.
    const std::uint32_t steps[] = {0, 1, 16, 999, 86400000, 1, 86399998, 1, 172800000, 4294967295u, 123456789};
    for (const lib::biginteger& start : starts) {
        set(start);
        check(start.to_str() + L" set");
        for (std::uint32_t step : steps) {
            advance(step);
            check(start.to_str() + L" + " + std::to_wstring(step));
        }
    }
    // About 4,000 digits: a day completed with every digit of the count carrying, then a
    // frame in the new day. Few steps: the direct text of so many digits is slow to make.
    for (const lib::biginteger& start : {days_and_ms(std::wstring(3999, L'9'), L"86399999"),
                                         days_and_ms(L"-1" + std::wstring(3999, L'0'), L"86399999")}) {
        set(start);
        for (std::uint32_t step : {1u, 16u}) {
            advance(step);
            check(std::wstring(start.sign < 0 ? L"negative" : L"positive") + L" 4000 digits + " +
                  std::to_wstring(step));
        }
    }
    // Random tallies and frames, each set from wherever the last one ended.
    std::mt19937_64 rng(32);
    for (int run = 0; run < 200; ++run) {
        lib::biginteger t = big(std::to_wstring(rng() >> (rng() % 64)).c_str());
        if (rng() % 2) t = t * big(L"-1");
        set(t);
        for (int frame = 0; frame < 20; ++frame) {
            advance(static_cast<std::uint32_t>(rng() % 3 == 0 ? rng() : rng() % 50));
            check(tally.to_str());
        }
    }
    EXPECT_EQ(checked, 1 + 12 * 12 + 2 * 2 + 200 * 20);
}

TEST(Tally, Pad2)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"", L""}, {L"7", L"07"}, {L"42", L"42"}, {L"123", L"12"}, {L"-5", L"-5"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(pad2(in), out) << testing::PrintToString(std::wstring(in));
}

struct LoadCase {
    std::string bytes;
    bool ok;
    const wchar_t* tally;  // when ok
    bool has_saved_time;
    std::int64_t saved_time;
};

TEST(Tally, ParseStateFile)
{
    const LoadCase cases[] = {
        {"5000\r\n1700000000", true, L"5000", true, 1700000000},
        {"-42\r\n-5", true, L"-42", true, -5},
        {"+7\n8", true, L"7", true, 8},
        {" \t\r\n12 34 whatever follows", true, L"12", true, 34},
        {"1234567890123456789012345\r\n9223372036854775807", true, L"1234567890123456789012345", true, INT64_MAX},
        {"0\r\n-9223372036854775808", true, L"0", true, INT64_MIN},
        {"00017\r\n1", true, L"17", true, 1},
        // A readable tally without a readable time: no time away.
        {"5000", true, L"5000", false, 0},
        {"5000\r\n", true, L"5000", false, 0},
        {"5000\r\nabc", true, L"5000", false, 0},
        {"5000\r\n99999999999999999999", true, L"5000", false, 0},
        // No tally: the file is damaged and must not be replaced.
        {"", false, nullptr, false, 0},
        {" \r\n ", false, nullptr, false, 0},
        {"abc\r\n5", false, nullptr, false, 0},
        {"12x4\r\n5", false, nullptr, false, 0},
        {"-\r\n5", false, nullptr, false, 0},
        {"+\r\n5", false, nullptr, false, 0},
        {"5.5\r\n5", false, nullptr, false, 0},
        {"\xEF\xBB\xBF"
         "5000\r\n1",
         false, nullptr, false, 0},
        {std::string("50\0"
                     "00\r\n1",
                     7),
         false, nullptr, false, 0},
        {std::string(kStateFileLimit + 1, '1'), false, nullptr, false, 0},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes.substr(0, 40)));
        const StateFileContents r = parse_state_file(c.bytes);
        ASSERT_EQ(r.ok, c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(r.tally.to_str(), c.tally);
        EXPECT_EQ(r.has_saved_time, c.has_saved_time);
        if (c.has_saved_time) {
            EXPECT_EQ(r.saved_time, c.saved_time);
        }
    }
    // The longest accepted file is still read.
    const StateFileContents longest = parse_state_file(std::string(kStateFileLimit, '9'));
    EXPECT_TRUE(longest.ok);
    EXPECT_EQ(longest.tally.to_str().size(), kStateFileLimit);
}

TEST(Tally, TimeAway)
{
    struct Case {
        const wchar_t* tally;
        std::int64_t saved, now;
        const wchar_t* result;
    } const cases[] = {
        {L"5000", 1700000000, 1700000010, L"15000"},
        {L"5000", 1700000000, 1700000000, L"5000"},
        {L"0", 1700000005, 1700000000, L"-5000"},
        {L"-3", 10, 9, L"-1003"},
        // Differences of 2^32 seconds and more keep their high bits.
        {L"0", 0, 4294967296LL, L"4294967296000"},
        {L"0", -1, 4294967295LL, L"4294967296000"},
        {L"7", 4294967296LL * 3 + 5, 0, L"-12884901892993"},
        // The extremes: the difference needs all 64 unsigned bits.
        {L"0", INT64_MIN, INT64_MAX, L"18446744073709551615000"},
        {L"0", INT64_MAX, INT64_MIN, L"-18446744073709551615000"},
        {L"1", INT64_MIN, 0, L"9223372036854775808001"},
    };
    for (const Case& c : cases) {
        lib::biginteger t = big(c.tally);
        add_time_away(t, c.saved, c.now);
        EXPECT_EQ(t.to_str(), c.result) << c.saved << " -> " << c.now;
    }
}

TEST(Tally, StateFileText)
{
    EXPECT_EQ(format_state_file(big(L"0"), 0), "0\r\n0");
    EXPECT_EQ(format_state_file(big(L"-42"), 1700000000), "-42\r\n1700000000");
    EXPECT_EQ(format_state_file(big(L"1234567890123456789012345"), -5), "1234567890123456789012345\r\n-5");
    EXPECT_EQ(format_state_file(big(L"1"), INT64_MIN), "1\r\n-9223372036854775808");

    // What is written reads back to the same tally and time.
    const StateFileContents back = parse_state_file(format_state_file(big(L"-98765432109876543210"), 1765400000));
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.tally.to_str(), L"-98765432109876543210");
    EXPECT_TRUE(back.has_saved_time);
    EXPECT_EQ(back.saved_time, 1765400000);
}

}  // namespace
