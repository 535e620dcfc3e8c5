// What the portable core sources need from the operating system: recursive locks, the
// process heap, a millisecond counter and the log's file and debugger output. One source
// per platform implements it.
#pragma once

#include <cstddef>
#include <cstdint>

enum CoreLockId { kAllocatorLock, kLogLock, kCoreLockCount };

// Recursive; created on first use and never destroyed.
void EnterCoreLock(CoreLockId id);
void LeaveCoreLock(CoreLockId id);

// Holds a core lock for the rest of the scope.
class ScopedCoreLock {
public:
    explicit ScopedCoreLock(CoreLockId id) : id_(id) { EnterCoreLock(id_); }
    ~ScopedCoreLock() { LeaveCoreLock(id_); }
    ScopedCoreLock(const ScopedCoreLock&) = delete;
    ScopedCoreLock& operator=(const ScopedCoreLock&) = delete;

private:
    CoreLockId id_;
};

void* CoreHeapAlloc(size_t bytes);
// Resizes; the bytes after oldBytes are zero. Null on failure, the old block kept.
void* CoreHeapRealloc(void* block, size_t oldBytes, size_t newBytes);
void CoreHeapFree(void* block);

uint32_t CoreMilliseconds();

// Log output. A file handle is an opaque pointer, null when the file could not be opened.
void* LogOpenForAppend(const wchar_t* path);
void LogWriteUnits(void* file, const wchar_t* units, size_t count);
void LogCloseFile(void* file);
// Deletes the file and creates it anew holding only the byte-order mark.
void LogCreateFresh(const wchar_t* path);
void LogDebuggerOutput(const wchar_t* text);

// Ends the process with exit code -1 after a fatal error; on Windows the library lock's
// events and critical section are closed first (this thread may hold the lock, and no thread
// gets it after this point).
[[noreturn]] void CoreEndProcessOnFatalError();
