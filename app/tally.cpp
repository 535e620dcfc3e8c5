#include "app/tally.h"

#include <sstream>

std::wstring pad2(std::wstring field)
{
    if (field.size() == 1) field.insert(field.begin(), L'0');
    else if (field.size() > 2) field.resize(2);
    return field;
}

std::wstring format_elapsed(lib::biginteger t)
{
    // Made once.
    static const lib::biginteger thousand = lib::biginteger::from_uint(lib::uint::from_word(1000));
    static const lib::biginteger sixty = lib::biginteger::from_uint(lib::uint::from_word(60));
    static const lib::biginteger twenty_four = lib::biginteger::from_uint(lib::uint::from_word(24));
    static const lib::biginteger one = lib::biginteger::from_uint(lib::uint::from_word(1));

    t /= thousand;
    std::wstring result = pad2((t % sixty).to_str());
    t /= sixty;
    result = pad2((t % sixty).to_str()) + L":" + result;
    t /= sixty;
    result = pad2((t % twenty_four).to_str()) + L":" + result;
    t /= twenty_four;
    return t.to_str() + (t > one ? L"days " : L"day ") + result;
}

namespace {

constexpr std::uint32_t kDayMs = 86400000;

lib::biginteger from_word(std::uint32_t w) { return lib::biginteger::from_uint(lib::uint::from_word(w)); }

// Adds one to a decimal text with an optional "-", in time linear in its digits.
void count_up(std::wstring& text)
{
    if (text[0] != L'-') {
        std::size_t i = text.size();
        while (i > 0 && text[i - 1] == L'9') text[--i] = L'0';
        if (i == 0) text.insert(text.begin(), L'1');
        else ++text[i - 1];
        return;
    }
    // A negative count: its digits after the sign go down by one.
    std::size_t i = text.size();
    while (text[i - 1] == L'0') text[--i] = L'9';
    --text[i - 1];
    if (text[1] == L'0') text.erase(text.size() > 2 ? 1 : 0, 1);  // "-09" becomes "-9", "-0" becomes "0"
}

// The last eight characters of the text: the time of day as HH:MM:SS.
void write_time_of_day(RunningTally& r)
{
    const std::uint32_t s = r.ms / 1000;
    const std::uint32_t fields[3] = {s / 3600, s / 60 % 60, s % 60};
    wchar_t* at = r.text.data() + r.text.size() - 8;
    for (std::uint32_t field : fields) {
        *at++ = static_cast<wchar_t>(L'0' + field / 10);
        *at++ = static_cast<wchar_t>(L'0' + field % 10);
        ++at;  // the colon, or the end
    }
}

void write_text(RunningTally& r)
{
    const std::wstring& d = r.days_text;
    const bool plural = d[0] != L'-' && d != L"0" && d != L"1";
    r.text = d + (plural ? L"days " : L"day ") + L"00:00:00";
    write_time_of_day(r);
}

// A word the tally can be read from: an optional sign and at least one character more.
// The digits themselves are checked by the number library.
bool has_digits(const std::string& word)
{
    const std::size_t start = (!word.empty() && (word[0] == '-' || word[0] == '+')) ? 1 : 0;
    return word.size() > start;
}

lib::biginteger from_u64(std::uint64_t value, std::int32_t sign)
{
    lib::biginteger r;
    if (value == 0) return r;
    r.set_str(std::to_wstring(value));
    r.set_sign(sign);
    return r;
}

}  // namespace

void set_running_tally(RunningTally& r, const lib::biginteger& t)
{
    static const lib::biginteger day = from_word(kDayMs);
    lib::biginteger rest = t;
    rest.divide(day, r.days);  // floored: 0 <= rest < one day
    r.ms = rest.is_zero() ? 0 : rest.magnitude.limbs[0];
    r.days_text = r.days.to_str();
    write_text(r);
}

void advance_running_tally(RunningTally& r, std::uint32_t ms)
{
    const std::uint64_t sum = std::uint64_t(r.ms) + ms;
    r.ms = static_cast<std::uint32_t>(sum % kDayMs);
    const std::uint32_t days = static_cast<std::uint32_t>(sum / kDayMs);  // 49 at most
    if (days == 0) {
        write_time_of_day(r);
        return;
    }
    r.days += from_word(days);
    for (std::uint32_t i = 0; i < days; ++i) count_up(r.days_text);
    write_text(r);
}

lib::biginteger running_tally_value(const RunningTally& r) { return from_word(kDayMs) * r.days + from_word(r.ms); }

StateFileContents parse_state_file(const std::string& bytes)
{
    StateFileContents result;
    if (bytes.size() > kStateFileLimit) return result;
    std::istringstream in(bytes);
    std::string word;
    if (!(in >> word) || !has_digits(word)) return result;
    // Each byte becomes one character, so a byte outside ASCII is refused as a bad digit.
    std::wstring wide;
    for (unsigned char c : word) wide.push_back(static_cast<wchar_t>(c));
    try {
        result.tally.set_str(wide, 10);
    } catch (const std::exception&) {
        return result;
    }
    result.ok = true;
    long long saved = 0;
    if (in >> saved) {
        result.has_saved_time = true;
        result.saved_time = saved;
    }
    return result;
}

void add_time_away(lib::biginteger& tally, std::int64_t saved, std::int64_t now)
{
    // The difference of two 64-bit values always fits 64 unsigned bits.
    const bool back = now < saved;
    const std::uint64_t magnitude = back ? static_cast<std::uint64_t>(saved) - static_cast<std::uint64_t>(now)
                                         : static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(saved);
    const lib::biginteger thousand = lib::biginteger::from_uint(lib::uint::from_word(1000));
    tally += from_u64(magnitude, back ? -1 : 1) * thousand;
}

std::string format_state_file(const lib::biginteger& tally, std::int64_t now)
{
    std::string text;
    for (wchar_t c : tally.to_str()) text.push_back(static_cast<char>(c));
    text += "\r\n";
    text += std::to_string(static_cast<long long>(now));
    return text;
}
