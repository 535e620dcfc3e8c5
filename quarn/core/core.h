// Core services that every other part of the library builds on: the tracked allocator, the
// log, string and memory helpers, ring buffers, handle chains, 128-bit helpers, math,
// rectangle clipping and random numbers.
//
// This header needs no operating system. Declarations marked "Windows build only" have no
// definition in the native build; portable code must not call them.
//
// Wide text is wchar_t: UTF-16 code units on Windows. In the native build wchar_t is wider,
// and the same functions treat each wchar_t as one unit.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------
// Tracked allocator
// ---------------------------------------------------------------------------------------

// The part of a block's record that its guard copy protects.
struct AllocationRecordHead {
    char sourceTail[16];             // last 15 characters of the source name, zero-terminated
    uint16_t id;                     // allocation counter at allocation or last reallocation
    uint16_t line;                   // caller's line number
    uint32_t size;                   // size the caller asked for
    struct AllocationRecord* older;  // next older record (towards the sentinel)
    struct AllocationRecord* newer;  // next newer record, null for the newest
};

// Placed directly in front of every block the allocator hands out.
struct AllocationRecord {
    AllocationRecordHead head;
    AllocationRecordHead guard;  // copy of head, refreshed after every change
};

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(AllocationRecord) == 64, "the block record is 64 bytes on 32-bit x86");
#endif

// Null on failure. The block's contents are undefined.
void* AllocTrackedMemory(uint32_t size, const char* sourceName, uint16_t line);
// As AllocTrackedMemory, with the block's bytes set to 0.
void* AllocTrackedMemoryZeroed(uint32_t size, const char* sourceName, uint16_t line);
// Null block: allocates. Bytes added at the end are 0. On failure returns null and the old
// block stays valid.
void* ReallocTrackedMemory(void* block, uint32_t newSize, const char* sourceName, uint16_t line);
// Null is ignored.
void FreeTrackedMemory(void* block);
// Writes the live blocks (newest first) and the totals to the log.
void DumpMemoryRecords();
// 0 when every live record matches its guard copy; -1 (and a log line) at the first that
// does not.
int CheckAllocationGuards();
// Writes one record's line to the log.
void LogAllocationRecordLine(const AllocationRecord* record);
// Writes the totals line to the log.
void LogAllocationTotals();

// Debug switches of the allocator (all 0 by default).
struct AllocatorDebugSettings {
    int32_t traceAll;     // 1: every operation writes a trace entry
    int32_t totals;       // 1: every operation writes the totals line
    int32_t guardCheck;   // 1: every operation runs CheckAllocationGuards
    int32_t traceSize;    // operations of this size are traced; negative traces all
};
AllocatorDebugSettings* GetAllocatorDebugSettings();

// Live totals, for tests and diagnostics.
struct AllocatorTotals {
    int32_t totalSize;
    int32_t blockCount;
    uint16_t nextId;
};
AllocatorTotals GetAllocatorTotals();

// ---------------------------------------------------------------------------------------
// Log
// ---------------------------------------------------------------------------------------

// Appends text to the log. "\n" becomes CR LF; each new line starts with the milliseconds
// since the log started, a colon and one tab per indent level. Always returns -1, so that
// a failing operation can return the log call's result as its own.
int AppendLog(const wchar_t* text);
// printf-style (wide format; %s takes a narrow string, %ls a wide one). The result is cut
// to fit 1,024 units, a line break is added. Returns -1.
int AppendLogFormat(const wchar_t* format, ...);
// printf-style over an 8-bit format in code page 932 (Shift-JIS), converted before it is
// appended; a line break is added. Returns -1.
int AppendLogFormatCp932(const char* format, ...);
// A UTF-8 text, converted and appended as it is (no line break added). Returns -1.
int AppendLogUtf8(const char* text);
int PushLogIndent();
int PopLogIndent();  // never below 0
// 0 switches the log off (no file, no debugger output); call before start-up.
int EnableLogFile(int flag);
// Creates "Log.txt" anew in the current directory (byte-order mark only) and restarts the
// line clock. Returns 1.
int StartLogFile();
// The directory in which "Log.txt" is appended to; nothing is written while it is empty.
void SetLogFolder(const wchar_t* folder);
// 1: the library runs in a window of the application's: lines go to the debugger only.
void SetLogUserWindowMode(int flag);

// Every text handed to AppendLog (after formatting, before line-end conversion) is also
// passed to this function, whether the log is on or off. For tests of failure paths;
// null removes it.
using LogCaptureFunction = void (*)(const wchar_t* text, void* user);
void SetLogCapture(LogCaptureFunction function, void* user);

// The on-screen log's record: its lines are drawn by the font code.
enum { kScreenLogLines = 80, kScreenLogLineUnits = 255 };
struct ScreenLogState {
    int32_t setUp;
    int32_t lineHeight;   // 16
    int32_t fontHandle;   // -1 when none
    int32_t fontNeeded;   // 1 when the font must be (re)created
    int32_t shown;
    wchar_t lines[kScreenLogLines][kScreenLogLineUnits];
};
ScreenLogState* GetScreenLogState();
// Marks the on-screen log set up with its defaults and clears its lines (first call only).
// Returns 0.
int PrepareScreenLogState();
// Clears the set-up flag (library shut-down).
void ResetScreenLogState();
int IsScreenLogShown();

// ---------------------------------------------------------------------------------------
// Text and memory helpers
// ---------------------------------------------------------------------------------------

// Character-code format of the double-byte code page in use: 0 other, 1 (932), 2 (949),
// 3 (950), 4 (936). Formats 0 and 1 recognise Shift-JIS lead bytes; 2 to 4 treat every
// byte of 0x80 or more as a lead byte.
int CharacterCodeFormatFromCodePage(uint32_t codePage);
void SetCharacterCodeFormat(int format);
int GetCharacterCodeFormat();

int IsHighSurrogateUnit(wchar_t unit);
int IsDoubleByteLead(const unsigned char* byte, int format);
void CopyNarrowString(char* dst, const char* src);
void CopyWideString(wchar_t* dst, const wchar_t* src);
// Copies at most maxUnits units (fewer at the terminator), then writes a terminator:
// dst must hold maxUnits + 1 units. maxUnits below 1 gives an empty string.
void CopyWideStringLimited(wchar_t* dst, const wchar_t* src, int maxUnits);
int CountWideUnits(const wchar_t* text);
// Double-byte characters are skipped whole. Null when absent or empty.
char* FindNarrowChar(const char* text, char ch);
// Surrogate pairs are skipped whole. Null when absent.
wchar_t* FindWideChar(const wchar_t* text, wchar_t unit);
int CompareNarrowStrings(const char* a, const char* b);  // 0 equal, 1 not
int CompareWideStrings(const wchar_t* a, const wchar_t* b);
int CompareWideStringsLimited(const wchar_t* a, const wchar_t* b, int count);
// "a"-"z" to "A"-"Z" in place, double-byte characters and surrogate pairs untouched.
// Return the end of the string.
char* UpperCaseNarrowString(char* text);
wchar_t* UpperCaseWideString(wchar_t* text);
int FillBytes(void* dst, int byte, uint32_t count);  // returns the byte
int CompareBytes(const void* a, const void* b, uint32_t count);  // 0 equal, 1 not
void CopyBytes(void* dst, const void* src, uint32_t count);  // areas must not overlap
void MoveBytes(void* dst, const void* src, uint32_t count);  // overlap-safe

void ComputeSinCos(float angle, float* sine, float* cosine);
int32_t AbsoluteInt(int32_t value);
float AbsoluteFloat(float value);
// Rounded toward zero; NaN and values outside the 32-bit range give INT32_MIN.
int32_t TruncateFloatToInt(float value);
int32_t TruncateDoubleToInt(double value);
float SquareRootFloat(float value);
// Digits most significant first, "-" before negatives, lower-case letters above 9.
// out must hold 34 units. A radix outside 2..36 gives an empty text. Returns out.
wchar_t* FormatIntegerWide(int32_t value, wchar_t* out, int radix);

// Unsigned 128-bit value as four 32-bit words, low word first.
struct UInt128 {
    uint32_t word[4];
};
void Multiply64To128(const uint64_t* a, const uint64_t* b, UInt128* product);
// Low 64 bits of the quotient; a zero divisor gives 0.
void Divide128By64(const UInt128* dividend, const uint64_t* divisor, uint64_t* quotient);

// ---------------------------------------------------------------------------------------
// Ring buffer and handle chain
// ---------------------------------------------------------------------------------------

// A byte ring owned by its user, all zero to start. Users that add bytes reserve room
// first, copy at the write position (wrapping at the size), then advance the write
// position and the held count themselves.
struct RingBuffer {
    uint8_t* data;      // from AllocTrackedMemory; null while empty
    int32_t readPos;    // oldest held byte
    int32_t writePos;   // where the next byte goes
    int32_t held;       // bytes held
    int32_t size;       // buffer size in bytes
};

void NormalizeRingBufferPositions(RingBuffer* ring);
// Makes room for extra more bytes. 0 on success; -1 for a negative request, one whose new
// size would pass 2^31 - 1 bytes, or when memory runs out: the ring is then unchanged.
int ReserveRingBuffer(RingBuffer* ring, int32_t extra);
// Copies length bytes from the read position; unless peek, consumes them. -1 without
// change when fewer are held or the length is negative.
int ReadRingBuffer(RingBuffer* ring, void* dst, int32_t length, int peek);
int FreeRingBuffer(RingBuffer* ring);

struct HandleChainNode {
    int32_t handle;  // -1 in the two sentinels
    void* data;
    HandleChainNode* previous;
    HandleChainNode* next;
};
int MakeEmptyHandleChain(HandleChainNode* head, HandleChainNode* tail);
int UnlinkHandleChainNode(HandleChainNode* node);
