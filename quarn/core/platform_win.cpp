// The Windows services behind the portable core: critical sections, the process heap,
// timeGetTime and the log file written through CreateFileW.

#include <windows.h>
#include <mmsystem.h>

#include "quarn/core/core.h"
#include "quarn/core/platform.h"

namespace {

struct CoreLocks {
    CRITICAL_SECTION section[kCoreLockCount];
    CoreLocks()
    {
        for (auto& s : section) InitializeCriticalSection(&s);
    }
};

CRITICAL_SECTION* SectionOf(CoreLockId id)
{
    // Created on first use (thread-safe static) and never deleted: the allocator may be
    // called while static objects are torn down.
    static CoreLocks* locks = new CoreLocks;
    return &locks->section[id];
}

}  // namespace

void EnterCoreLock(CoreLockId id) { EnterCriticalSection(SectionOf(id)); }

void LeaveCoreLock(CoreLockId id) { LeaveCriticalSection(SectionOf(id)); }

void* CoreHeapAlloc(size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }

void* CoreHeapRealloc(void* block, size_t, size_t newBytes)
{
    return HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, block, newBytes);
}

void CoreHeapFree(void* block) { HeapFree(GetProcessHeap(), 0, block); }

uint32_t CoreMilliseconds() { return timeGetTime(); }

void* LogOpenForAppend(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    SetFilePointer(file, 0, nullptr, FILE_END);
    return file;
}

void LogWriteUnits(void* file, const wchar_t* units, size_t count)
{
    if (!file || count == 0) return;
    DWORD written = 0;
    WriteFile(static_cast<HANDLE>(file), units, static_cast<DWORD>(count * sizeof(wchar_t)), &written, nullptr);
}

void LogCloseFile(void* file)
{
    if (file) CloseHandle(static_cast<HANDLE>(file));
}

void LogCreateFresh(const wchar_t* path)
{
    DeleteFileW(path);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const unsigned char bom[2] = {0xFF, 0xFE};
    DWORD written = 0;
    WriteFile(file, bom, 2, &written, nullptr);
    CloseHandle(file);
}

void LogDebuggerOutput(const wchar_t* text) { OutputDebugStringW(text); }

void CoreEndProcessOnFatalError()
{
    CloseLibraryLock();
    ExitProcess(static_cast<UINT>(-1));
}
