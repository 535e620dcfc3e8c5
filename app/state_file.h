// Reading, loading and replacing the state file on disk.
#pragma once

#include <cstdint>
#include <string>

#include "lib/biginteger.h"

// Reads the whole file into bytes. 0 when read, 1 when there is no such file, -1 when the
// file exists but cannot be read or is longer than the state file can be.
int read_state_file(const wchar_t* path, std::string& bytes);

// Replaces the file with bytes: they are written to a temporary file beside it, which then
// takes the file's place, so that the old contents stay whole until the new ones are on
// disk. 0, or -1 when the file could not be replaced (it is then unchanged).
int write_state_file(const wchar_t* path, const std::string& bytes);

enum StateLoad : int {
    kStateLoaded = 0,    // a tally was read, or there was no file: it is saved at the end
    kStateRefused = -1,  // unreadable, or no tally in it: the file must stay as it is
};

// The load step: the tally becomes the one in the file at path plus the time away until now
// (seconds since 1970); with no readable time beside it, no time away is added. The tally is
// changed only when one was read.
StateLoad load_state(const wchar_t* path, std::int64_t now, lib::biginteger& tally);
