#include "app/tally.h"

#include <sstream>

std::wstring pad2(std::wstring field)
{
    if (field.size() == 1)
        field.insert(field.begin(), L'0');
    else if (field.size() > 2)
        field.resize(2);
    return field;
}

std::wstring format_elapsed(lib::biginteger t)
{
    // Made once: this runs every frame.
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
    if (value == 0)
        return r;
    r.set_str(std::to_wstring(value));
    r.set_sign(sign);
    return r;
}

} // namespace

StateFileContents parse_state_file(const std::string& bytes)
{
    StateFileContents result;
    if (bytes.size() > kStateFileLimit)
        return result;
    std::istringstream in(bytes);
    std::string word;
    if (!(in >> word) || !has_digits(word))
        return result;
    // Each byte becomes one character, so a byte outside ASCII is refused as a bad digit.
    std::wstring wide;
    for (unsigned char c : word)
        wide.push_back(static_cast<wchar_t>(c));
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
    const std::uint64_t magnitude = back
        ? static_cast<std::uint64_t>(saved) - static_cast<std::uint64_t>(now)
        : static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(saved);
    const lib::biginteger thousand = lib::biginteger::from_uint(lib::uint::from_word(1000));
    tally += from_u64(magnitude, back ? -1 : 1) * thousand;
}

std::string format_state_file(const lib::biginteger& tally, std::int64_t now)
{
    std::string text;
    for (wchar_t c : tally.to_str())
        text.push_back(static_cast<char>(c));
    text += "\r\n";
    text += std::to_string(static_cast<long long>(now));
    return text;
}
