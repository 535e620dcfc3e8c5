// The log's text functions. Input: a selector byte, then the text.
//
// The log runs in the mode that hands lines to the debugger output, so every text goes
// through the line-end conversion without a file; what each call hands on is captured.
// UTF-8 is checked against a reading of the well-formed byte sequences: well-formed text
// comes out as its characters, and in any text every ASCII character comes out, in order,
// with U+FFFD in place of what is not well-formed. Formatted texts are cut to their buffer.
#include <cwchar>
#include <string>
#include <vector>

#include "fuzz.h"
#include "quarn/core/core.h"

namespace {

std::wstring s_captured;

void Capture(const wchar_t* text, void*) { s_captured += text; }

// The length of the well-formed sequence at p (with n bytes left) and its character, or
// 0 when none starts there; by the table of well-formed byte sequences.
int WellFormed(const unsigned char* p, size_t n, uint32_t* cp)
{
    const unsigned char b = p[0];
    auto in = [&](size_t i, unsigned lo, unsigned hi) { return i < n && p[i] >= lo && p[i] <= hi; };
    if (b < 0x80) {
        *cp = b;
        return 1;
    }
    int len;
    unsigned lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) len = 2;
    else if (b == 0xE0) len = 3, lo = 0xA0;
    else if (b == 0xED) len = 3, hi = 0x9F;
    else if (b >= 0xE1 && b <= 0xEF) len = 3;
    else if (b == 0xF0) len = 4, lo = 0x90;
    else if (b == 0xF4) len = 4, hi = 0x8F;
    else if (b >= 0xF1 && b <= 0xF3) len = 4;
    else return 0;
    if (!in(1, lo, hi)) return 0;
    for (int i = 2; i < len; ++i)
        if (!in(size_t(i), 0x80, 0xBF)) return 0;
    uint32_t v = b & (0xFF >> (len + 1));
    for (int i = 1; i < len; ++i) v = v << 6 | (p[i] & 0x3F);
    *cp = v;
    return len;
}

void CheckUtf8(const std::string& bytes)
{
    s_captured.clear();
    AppendLogUtf8(bytes.c_str());
    const std::wstring& got = s_captured;
    // What comes before the first NUL is the text.
    const std::string text(bytes.c_str());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::wstring ascii, wellFormed;
    bool allWellFormed = true;
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const int len = WellFormed(p + i, text.size() - i, &cp);
        if (len == 0) {
            allWellFormed = false;
            ++i;
            continue;
        }
        wellFormed += wchar_t(cp);
        if (cp < 0x80) ascii += wchar_t(cp);
        i += size_t(len);
    }
    if (allWellFormed) {
        FUZZ_CHECK(got == wellFormed);
        return;
    }
    // Every ASCII character comes out in order; nothing else but characters of the text
    // and U+FFFD, never more units than bytes.
    std::wstring gotAscii;
    for (wchar_t c : got) {
        FUZZ_CHECK(c != 0 && !(c >= 0xD800 && c <= 0xDFFF) && uint32_t(c) <= 0x10FFFF);
        if (c < 0x80) gotAscii += c;
    }
    FUZZ_CHECK(gotAscii == ascii);
    FUZZ_CHECK(got.size() <= text.size());
    FUZZ_CHECK(got.find(wchar_t(0xFFFD)) != std::wstring::npos);
}

// A wide text from the bytes: two bytes a unit, any value but 0.
std::wstring Wide(const std::string& bytes)
{
    std::wstring w;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const wchar_t c = wchar_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8);
        if (c != 0) w += c;
    }
    return w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = [] {
        SetLogUserWindowMode(1);
        SetLogCapture(Capture, nullptr);
        return true;
    }();
    (void)ready;
    fuzz::Input in{data, size};
    const uint8_t selector = in.Byte();
    const std::string bytes = in.Bytes(in.Left());
    switch (selector % 5) {
    case 0: CheckUtf8(bytes); break;
    case 1: {
        // A wide text is handed on as it is.
        const std::wstring w = Wide(bytes);
        s_captured.clear();
        AppendLog(w.c_str());
        FUZZ_CHECK(s_captured == w);
        break;
    }
    case 2: {
        // Formatted: cut to the buffer, a line break added.
        const std::wstring w = Wide(bytes);
        s_captured.clear();
        AppendLogFormat(L"<%ls>", w.c_str());
        const std::wstring whole = L"<" + w + L">";
        FUZZ_CHECK(!s_captured.empty() && s_captured.back() == L'\n');
        const std::wstring body = s_captured.substr(0, s_captured.size() - 1);
        FUZZ_CHECK(body.size() <= 1022);
        FUZZ_CHECK(whole.compare(0, body.size(), body) == 0);
        // A cut text keeps 1,022 units, one less when the cut would split a surrogate pair.
        const bool splitPair = whole.size() > 1022 && whole[1021] >= 0xD800 && whole[1021] <= 0xDBFF;
        FUZZ_CHECK(body == whole || body.size() == (splitPair ? 1021u : 1022u));
        break;
    }
    case 3: {
        // Code page 932: the text, cut to its buffer, never longer in units than in bytes.
        std::string narrow(bytes.c_str());
        s_captured.clear();
        AppendLogFormatCp932("%s", narrow.c_str());
        FUZZ_CHECK(!s_captured.empty() && s_captured.back() == L'\n');
        FUZZ_CHECK(s_captured.size() <= 1023);
        break;
    }
    default:
        // Indents in any order, popped back to none at the end (never below zero).
        for (unsigned char c : bytes) {
            if (c & 1) PushLogIndent();
            else PopLogIndent();
        }
        s_captured.clear();
        AppendLog(L"x\n");
        FUZZ_CHECK(s_captured == L"x\n");
        for (size_t i = 0; i < bytes.size(); ++i) PopLogIndent();
        break;
    }
    return 0;
}
