// The tally's text and its state file, apart from any operating system.
#pragma once

#include <cstdint>
#include <string>

#include "lib/biginteger.h"

// A two-character field of the display text: one character gets a "0" in front, more than
// two are cut to the first two, none or two stay as they are.
std::wstring pad2(std::wstring field);

// The display text of a tally in milliseconds: whole days followed directly by "day " (or
// "days " above one), then HH:MM:SS, as in "1day 01:01:01". Division is floored, so -1 ms
// shows "-1day 23:59:59".
std::wstring format_elapsed(lib::biginteger t);

// The tally as Vornik runs it. A "data.txt" can hold a tally of thousands of digits, and
// dividing that many digits, or writing them out in decimal (at a cost that grows with
// their square), every frame would take far more than a frame has. So the whole days are
// kept apart from the time of day, and the display text with them: a frame adds to the
// time of day and rewrites the text's last eight characters; the day count changes only
// when a day is completed, by counting its text up. Only setting the tally divides it and
// writes its days out in full.
struct RunningTally {
    lib::biginteger days;                  // whole days, floored
    std::uint32_t ms = 0;                  // milliseconds into that day, below one day
    std::wstring days_text = L"0";         // days in decimal, "-" before a negative count
    std::wstring text = L"0day 00:00:00";  // format_elapsed of the tally
};

// Sets the running tally to t.
void set_running_tally(RunningTally& r, const lib::biginteger& t);
// Adds milliseconds, as the clock advanced between two frames.
void advance_running_tally(RunningTally& r, std::uint32_t ms);
// The tally as one number, as "data.txt" holds it.
lib::biginteger running_tally_value(const RunningTally& r);
// The display text: format_elapsed(running_tally_value(r)).
inline const std::wstring& running_tally_text(const RunningTally& r) { return r.text; }

// What the state file said. `ok` is false when the tally could not be read: the caller
// must then leave the file alone. `has_saved_time` tells whether the second field was read.
struct StateFileContents {
    bool ok = false;
    bool has_saved_time = false;
    lib::biginteger tally;
    std::int64_t saved_time = 0;
};

// The largest state file that is read; anything longer is refused as damaged.
constexpr std::size_t kStateFileLimit = 4096;

// Reads the bytes of "data.txt": a decimal tally ("-" before a negative value), white
// space, the seconds since 1970 at saving. Text after the second field is ignored.
StateFileContents parse_state_file(const std::string& bytes);

// The tally plus the time away, now - saved seconds, times 1000. Works on the full 64-bit
// difference in either direction: a clock set back lowers the tally.
void add_time_away(lib::biginteger& tally, std::int64_t saved, std::int64_t now);

// The bytes written to "data.txt": the tally, CR LF, the seconds, no line break at the end.
std::string format_state_file(const lib::biginteger& tally, std::int64_t now);
