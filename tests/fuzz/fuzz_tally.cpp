// The state file's parse and the tally's text. Input: two bytes of file length, the bytes of
// "data.txt", then the clock steps of frames, four bytes each.
//
// The parse is checked against a plain reading of the format and GMP's value of the digits;
// a tally that was read is written back and read again unchanged; the running tally Vornik
// draws from gives the tally's value and format_elapsed's text frame after frame.
#include "app/tally.h"
#include "fuzz_gmp.h"

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What the file says, read by hand: the first word must be a sign and decimal digits; the
// second field, when it reads as a 64-bit number, is the saved time.
struct Expected {
    bool ok = false;
    std::string digits;  // the first word without its sign
    bool negative = false;
    bool hasTime = false;
    int64_t time = 0;
};

Expected Read(const std::string& file)
{
    Expected e;
    if (file.size() > kStateFileLimit) return e;
    size_t i = 0;
    while (i < file.size() && IsSpace(file[i])) ++i;
    const size_t start = i;
    while (i < file.size() && !IsSpace(file[i])) ++i;
    std::string word = file.substr(start, i - start);
    if (!word.empty() && (word[0] == '-' || word[0] == '+')) {
        e.negative = word[0] == '-';
        word.erase(0, 1);
    }
    if (word.empty() || !std::all_of(word.begin(), word.end(), IsDigit)) return e;
    e.ok = true;
    e.digits = word;

    while (i < file.size() && IsSpace(file[i])) ++i;
    bool minus = false;
    if (i < file.size() && (file[i] == '-' || file[i] == '+')) minus = file[i++] == '-';
    if (i >= file.size() || !IsDigit(file[i])) return e;
    // The magnitude, in 128 bits so that a value just past the range is seen as such.
    unsigned __int128 m = 0;
    for (; i < file.size() && IsDigit(file[i]); ++i) {
        m = m * 10 + unsigned(file[i] - '0');
        if (m > (unsigned __int128)1 << 64) return e;  // out of range: no time
    }
    const unsigned __int128 limit = minus ? (unsigned __int128)1 << 63 : ((unsigned __int128)1 << 63) - 1;
    if (m > limit) return e;
    e.hasTime = true;
    e.time = minus ? int64_t(-(__int128)m) : int64_t(m);
    return e;
}

// Tallies up to this many digits are formatted in full, frame after frame; longer ones are
// checked against GMP only, since writing thousands of digits out is slow.
constexpr size_t kFormattedDigits = 120;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in{data, size};
    const size_t length = size_t(in.Byte()) | size_t(in.Byte()) << 8;
    const std::string file = in.Bytes(length);

    const StateFileContents got = parse_state_file(file);
    const Expected want = Read(file);
    FUZZ_CHECK(got.ok == want.ok);
    if (!got.ok) return 0;
    fuzz::Mpz value;
    FUZZ_CHECK(mpz_set_str(value.v, want.digits.c_str(), 10) == 0);
    if (want.negative) mpz_neg(value.v, value.v);
    FUZZ_CHECK(fuzz::Same(got.tally, value.v));
    FUZZ_CHECK(got.has_saved_time == want.hasTime);
    if (got.has_saved_time) FUZZ_CHECK(got.saved_time == want.time);

    if (want.digits.size() > kFormattedDigits) return 0;
    // Written back and read again: the same tally and time.
    const StateFileContents back = parse_state_file(format_state_file(got.tally, got.saved_time));
    FUZZ_CHECK(back.ok && back.has_saved_time && back.saved_time == got.saved_time);
    FUZZ_CHECK(fuzz::Same(back.tally, value.v));

    // Frames: the running tally against the tally as one number.
    RunningTally running;
    set_running_tally(running, got.tally);
    lib::biginteger tally = got.tally;
    FUZZ_CHECK(running_tally_text(running) == format_elapsed(tally));
    for (int frame = 0; frame < 64 && in.Left() > 0; ++frame) {
        const uint32_t step = in.U32();
        advance_running_tally(running, step);
        tally += lib::biginteger::from_uint(lib::uint::from_word(step));
        mpz_add_ui(value.v, value.v, step);
        FUZZ_CHECK(running_tally_text(running) == format_elapsed(tally));
    }
    FUZZ_CHECK(fuzz::Same(running_tally_value(running), value.v));
    return 0;
}
