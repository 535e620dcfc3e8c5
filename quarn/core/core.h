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

#include "quarn/core/rect.h"
#include "quarn/quarn.h"

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
// The size the caller asked for when the block was (re)allocated; 0 for null. Only for blocks
// of this allocator.
uint32_t TrackedMemorySize(const void* block);
// DumpMemoryRecords (quarn/quarn.h) writes the live blocks newest first, then the totals.
// 0 when every live record matches its guard copy; -1 (and a log line) at the first that
// does not.
int CheckAllocationGuards();
// Writes one record's line to the log.
void LogAllocationRecordLine(const AllocationRecord* record);
// Writes the totals line to the log.
void LogAllocationTotals();

// Debug switches of the allocator (all 0 by default).
struct AllocatorDebugSettings {
    int32_t traceAll;    // 1: every operation writes a trace entry
    int32_t totals;      // 1: every operation writes the totals line
    int32_t guardCheck;  // 1: every operation runs CheckAllocationGuards
    int32_t traceSize;   // operations of this size are traced; negative traces all
    int32_t failSize;    // above 0: allocations of this size fail, as on a heap without room
    // Above 0: each allocation or reallocation counts it down, and the one that brings it to 0
    // fails (1: the next one). With failOnward 1, that one and every later one fail, as on a
    // heap that has run out; the countdown then stays at 0 until it is set again.
    int32_t failCountdown;
    int32_t failOnward;
};
AllocatorDebugSettings* GetAllocatorDebugSettings();

// Live totals, for tests and diagnostics.
struct AllocatorTotals {
    int32_t totalSize;
    int32_t blockCount;
    uint16_t nextId;
    uint32_t requests;  // allocations and reallocations asked for, failed ones included
};
AllocatorTotals GetAllocatorTotals();

// ---------------------------------------------------------------------------------------
// Log
// ---------------------------------------------------------------------------------------

// AppendLog, AppendLogFormat, PushLogIndent, PopLogIndent and EnableLogFile are declared in
// quarn/quarn.h. What the library relies on besides: AppendLog turns "\n" into CR LF, and each
// new line starts with the milliseconds since the log started, a colon and one tab per indent
// level; it returns -1, so that a failing operation can return the log call's result as its
// own. AppendLogFormat's format is wide (%s takes a narrow string, %ls a wide one) and its
// result is cut to fit 1,024 units before the line break is added. The indent never goes
// below 0; EnableLogFile(0) also silences the debugger output.
// printf-style over an 8-bit format in code page 932 (Shift-JIS), converted before it is
// appended; a line break is added. Returns -1.
int AppendLogFormatCp932(const char* format, ...);
// A UTF-8 text, converted and appended as it is (no line break added). Returns -1.
int AppendLogUtf8(const char* text);
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
// 1 when a line handed to AppendLog goes anywhere (the file, the debugger output or the
// capture), 0 while the log is off with nothing capturing it.
int IsLogObserved();

// The on-screen log's record: its lines are drawn by the font code.
enum { kScreenLogLines = 80, kScreenLogLineUnits = 255 };
struct ScreenLogState {
    int32_t setUp;
    int32_t lineHeight;  // 16
    int32_t fontHandle;  // -1 when none
    int32_t fontNeeded;  // 1 when the font must be (re)created
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
int FillBytes(void* dst, int byte, uint32_t count);              // returns the byte
int CompareBytes(const void* a, const void* b, uint32_t count);  // 0 equal, 1 not
void CopyBytes(void* dst, const void* src, uint32_t count);      // areas must not overlap
void MoveBytes(void* dst, const void* src, uint32_t count);      // overlap-safe

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
    uint8_t* data;     // from AllocTrackedMemory; null while empty
    int32_t readPos;   // oldest held byte
    int32_t writePos;  // where the next byte goes
    int32_t held;      // bytes held
    int32_t size;      // buffer size in bytes
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

// ---------------------------------------------------------------------------------------
// Fatal exit
// ---------------------------------------------------------------------------------------

// The library's one fatal exit: logs the message with a line break, runs the shut-down the
// runtime armed it with (before start-up there is none) and ends the process with exit code
// -1.
[[noreturn]] void FatalErrorExit(const wchar_t* message);
// The same with a printf-style message (%ls for wide strings), cut to 1,024 units.
[[noreturn]] void FatalErrorExitFormat(const wchar_t* format, ...);
// Arms the fatal exit with the library's shut-down; the runtime does so at start-up.
void ArmFatalErrorExit(void (*shutDown)());
int32_t IsFatalErrorExitArmed();
// A failure the caller cannot go on from: once the fatal exit is armed it ends the process;
// before that (no start-up, as in the native build) the line is logged with a line break and
// the caller fails. Returns -1.
int32_t FailFatally(const wchar_t* line);

// ---------------------------------------------------------------------------------------
// Library lock, clocks and system information
// ---------------------------------------------------------------------------------------

// The library-wide recursive lock; threads that wait get it first in, first out.
// Windows build only.
void AcquireLibraryLock();
void ReleaseLibraryLock();
// Closes the lock's events and critical section (fatal exit). Windows build only.
void CloseLibraryLock();
// Threads waiting in the lock's queue, for diagnostics. Windows build only.
int GetLibraryLockWaiterCount();

// ReadMillisecondClock and ReadMicrosecondClock are declared in quarn/quarn.h (Windows build
// only): timeGetTime() with bit 31 cleared, and microseconds from the processor clock (flag 1,
// once start-up has completed), else the performance counter, else timeGetTime() x 1,000.
// Reads the performance counter's frequency for the microsecond clock (start-up).
// 0, or -1 when the system has no performance counter. Windows build only.
int ReadPerformanceCounterFrequency();
// The performance counter's frequency in counts a second, or 0 without a counter; the one
// place the library asks the system for it. Windows build only.
int64_t QueryCounterFrequency();
// Set by the start-up once it has completed: the microsecond clock may then use the
// processor clock measured by LogSystemInformation. With the flag 1 it first completes that
// measurement where the report left it running. Windows build only.
void NoteLibraryStartupComplete(int flag);

struct DateTimeRecord {
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
};
// Local date and time. Returns 0. Windows build only.
int ReadLocalDateTime(DateTimeRecord* out);

// Operating-system codes. Each later system has a higher code than the one before it, so
// that tests such as "code below kOsVista" hold for every system.
enum : int32_t {
    kOsWin31 = 0,
    kOsWin95 = 1,
    kOsWin98 = 2,
    kOsWinMe = 3,
    kOsNT351 = 0x104,
    kOsNT40 = 0x105,
    kOsWin2000 = 0x106,
    kOsWinXP = 0x107,
    kOsVista = 0x108,
    kOsWin7 = 0x109,
    kOsWin8 = 0x10A,
    kOsWin81 = 0x10B,
    kOsWin10 = 0x10C,
    kOsWin11 = 0x10D,
};

// Processor and operating-system facts, filled by LogSystemInformation.
struct SystemCapabilityInfo {
    int32_t osCode;
    int32_t directXLevel;  // 0x70000
    int32_t mmxUsable;
    int32_t sseUsable;
    int32_t sse2Usable;
    int32_t timeStampCounterUsable;
    uint64_t processorClock;  // time-stamp-counter ticks per second
    wchar_t osText[512];
    wchar_t processorName[64];
    int32_t processorMhz;
};
extern SystemCapabilityInfo g_systemCapability;

// A version record as the system reports it.
struct OsVersionFacts {
    uint32_t platformId;  // 0 Win32s, 1 Windows 9x, 2 NT
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    const wchar_t* servicePack;  // may be null
};
// Writes the system's name ("Windows" and its suffix) to name (64 units) and returns its
// code, or previousCode for a version it does not know.
int32_t DescribeOsVersion(const OsVersionFacts* facts, wchar_t* name, int32_t previousCode);
// The OS text kept in the state: "<name> ( Build <build> <service pack> )". out holds 512
// units.
void FormatOsText(const OsVersionFacts* facts, const wchar_t* name, wchar_t* out);

// Writes the system report to the log and fills g_systemCapability. Returns 0.
// The processor clock takes at least 100 ms of the millisecond clock to measure. While the
// log is observed the report waits for it, so that its speed line stands in its place; while
// nobody reads the log the measurement runs on beside the rest of the start-up and
// NoteLibraryStartupComplete(1) completes it. Windows build only.
int LogSystemInformation();

// The processor's features, as read by CPUID (all 0 where there is no CPUID).
struct ProcessorFeatures {
    int32_t hasCpuid;
    int32_t timeStampCounter;
    int32_t mmx;
    int32_t sse;
    int32_t sse2;
    int32_t ssse3;  // leaf 1, ECX bit 9
    char vendor[13];
    char name[49];
};
void ReadProcessorFeatures(ProcessorFeatures* out);
// 1 when CPUID exists and reports MMX.
int HasMmxSupport();
// The one decision whether MMX code runs, for every kernel that has an MMX form: the system
// capability record's flag (read from the processor on first use when the start-up's system
// information has not filled it yet), unless a test forced it.
int32_t IsMmxUsable();
// Tests and benchmarks: 1 or 0 forces the decision, -1 hands it back to the capability record.
// Returns the previous setting.
int32_t OverrideMmxUsable(int32_t mode);
// The same decision for SSE2 (the record's sse2Usable flag), for the kernels' SSE2 forms.
int32_t IsSse2Usable();
int32_t OverrideSse2Usable(int32_t mode);
// The same decision for SSSE3, for the kernels' SSSE3 forms. The capability record has no
// flag for it: the processor is asked once and its answer kept beside the switch. The kernels
// take SSSE3 only where they take SSE2 as well, so forcing SSE2 off forces SSSE3 off too.
int32_t IsSsse3Usable();
int32_t OverrideSsse3Usable(int32_t mode);
// The SSE2 forms are compiled for x86 whatever the build's own target (QUARN_SSE2_FN, and
// QUARN_SSE2_ENTRY on the functions called from plain code: 32-bit Windows keeps the stack
// only 4-byte aligned, and SSE2 values spilled to it need 16) and run only where
// IsSse2Usable says so.
#if defined(__i386__) || defined(__x86_64__)
#define QUARN_HAVE_SSE2 1
#define QUARN_SSE2_FN __attribute__((target("sse2")))
#if defined(__i386__)
#define QUARN_SSE2_ENTRY __attribute__((target("sse2"), force_align_arg_pointer))
#else
#define QUARN_SSE2_ENTRY QUARN_SSE2_FN
#endif
// The SSSE3 forms likewise, under IsSsse3Usable.
#define QUARN_SSSE3_FN __attribute__((target("ssse3")))
#if defined(__i386__)
#define QUARN_SSSE3_ENTRY __attribute__((target("ssse3"), force_align_arg_pointer))
#else
#define QUARN_SSSE3_ENTRY QUARN_SSSE3_FN
#endif
#else
#define QUARN_HAVE_SSE2 0
#endif
// The processor's time-stamp counter (0 where there is none).
uint64_t ReadTimeStampCounter();

// A time-stamp-counter reading paired with the millisecond clock it was taken at.
struct TicksAtMillisecond {
    uint64_t ticks;
    int32_t ms;
};
// Reads the counter between two readings of the millisecond clock and keeps the pair only
// when both readings agree, trying again otherwise (at most `tries` times, then the last
// pair): a thread taken off the processor between the two clocks would pair ticks with a
// millisecond they were not read in, and a processor clock measured from such a pair over
// 100 ms is off by as much as the thread was away. readMs and readTicks are callables.
template <class ReadMs, class ReadTicks>
TicksAtMillisecond ReadTicksWithinOneMillisecond(ReadMs readMs, ReadTicks readTicks, int32_t tries)
{
    TicksAtMillisecond pair{};
    for (int32_t i = 0; i < tries; ++i) {
        const int32_t before = readMs();
        pair.ticks = readTicks();
        pair.ms = readMs();
        if (pair.ms == before) break;
    }
    return pair;
}

// ---------------------------------------------------------------------------------------
// Matrices, vectors and rectangle clipping
// ---------------------------------------------------------------------------------------

// Row-vector convention: a point is a row vector multiplied from the left; the
// translation sits in the fourth row.
struct Matrix4x4 {
    float m[4][4];
};
struct Vector3 {
    float x, y, z;
};

int SetIdentityMatrix4x4(Matrix4x4* out);
// out = a x b; out may be a or b; with out null nothing is stored.
int MultiplyMatrix4x4(Matrix4x4* out, const Matrix4x4* a, const Matrix4x4* b);
int TransposeMatrix4x4(Matrix4x4* out, const Matrix4x4* in);
// -1 without change when the determinant's absolute value is below 1e-7.
int InvertMatrix4x4(Matrix4x4* out, const Matrix4x4* in);
// Left-handed perspective. aspect is the view's height / width; a negative aspect takes
// the configured screen's. -1 when far and near nearly meet or the angle is nearly 0.
int BuildFovProjectionMatrix(Matrix4x4* out, float angle, float zNear, float zFar, float aspect);
// Left-handed orthographic; aspect as above. -1 when far and near nearly meet.
int BuildParallelProjectionMatrix(Matrix4x4* out, float height, float zNear, float zFar, float aspect);
// Maps the projection's -1..1 range onto a screen rectangle of that centre and size, y down.
int BuildScreenMappingMatrix(Matrix4x4* out, float centerX, float centerY, float width, float height);
// Left-handed view from eye towards target.
int BuildEyeViewMatrix(Matrix4x4* out, const Vector3* eye, const Vector3* target, const Vector3* up);
// out = (x, y, z, 1) x matrix, first three components (no division by w).
int TransformVector3(Vector3* out, const Vector3* in, const Matrix4x4* matrix);
// out = (x, y, z) x the matrix's upper 3 x 3: a direction, which no translation moves. Returns out.
Vector3* TransformDirectionByMatrix(Vector3* out, const Vector3* in, const Matrix4x4* matrix);
float DotVector3(const Vector3* a, const Vector3* b);
int NormalizeVector3(Vector3* out, const Vector3* in);
Vector3* MakeUnitVector3(Vector3* out, float x, float y, float z);
// Puts the rectangle's corners in order, then clamps it into the bound. Returns 0.
int ClampRectInsideRect(PixelRect* rect, const PixelRect* bound);

// ---------------------------------------------------------------------------------------
// Random numbers (MT19937)
// ---------------------------------------------------------------------------------------

enum { kRandomStateWords = 624 };
struct RandomGeneratorState {
    uint32_t state[kRandomStateWords + 1];  // the extra word holds word 0 during a refill
    uint32_t output[kRandomStateWords];     // tempered words, read in order
    int32_t index;                          // next output word
    int32_t seeded;
    int32_t useMmx;
};
extern RandomGeneratorState g_random;

// The next state (one MT19937 generation step), tempered into the output buffer.
void RefillRandomState();
// The same with MMX instructions; gives the plain refill's result bit for bit.
void RefillRandomStateMmx();
// SeedRandomGenerator and DrawRandomWord are declared in quarn/quarn.h; a draw before any seed
// seeds with 0 first.
