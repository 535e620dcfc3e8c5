// The Quarn library: what an application calls.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------------------
// Log, clocks and random numbers
// ---------------------------------------------------------------------------------------

// 0 switches the log ("Log.txt" and the debugger output) off; call before start-up.
int EnableLogFile(int flag);
// Appends text to the log; "\n" ends a line. Always returns -1.
int AppendLog(const wchar_t* text);
// printf-style (%ls for wide strings); a line break is added. Always returns -1.
int AppendLogFormat(const wchar_t* format, ...);
// One tab more, or less, at the start of the following log lines.
int PushLogIndent();
int PopLogIndent();
// Writes the library's live memory blocks to the log.
void DumpMemoryRecords();

// Milliseconds of the system clock, 0 to 0x7FFFFFFF (wrapping to 0).
int32_t ReadMillisecondClock();
// Microseconds; 1 allows the processor's own clock once the library has started.
int64_t ReadMicrosecondClock(int useProcessorClock);

// Restarts the random numbers from a seed (the library seeds them at start-up).
void SeedRandomGenerator(uint32_t seed);
// The next random 32-bit word.
uint32_t DrawRandomWord();
