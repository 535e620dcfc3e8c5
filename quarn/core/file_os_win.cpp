// The file layer's system calls on Windows: CreateFileW and its relatives, events and
// threads of KERNEL32, the current directory and FindFirstFileW.

#include <windows.h>

#include "quarn/core/core_win.h"
#include "quarn/core/file_os.h"

namespace {

uint64_t FileTimeValue(const FILETIME& time) { return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

void FillFindData(const WIN32_FIND_DATAW& found, FileOsFindData* data)
{
    if (!data) return;
    CopyWideStringLimited(data->name, found.cFileName, 259);
    data->attributes = found.dwFileAttributes;
    data->size = (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    data->creationTime = FileTimeValue(found.ftCreationTime);
    data->lastWriteTime = FileTimeValue(found.ftLastWriteTime);
}

}  // namespace

void* FileOsOpen(const wchar_t* path, int shareRead)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, shareRead ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

int FileOsRead(void* file, void* buffer, uint32_t bytes, uint32_t* bytesRead)
{
    DWORD read = 0;
    const BOOL ok = ReadFile(static_cast<HANDLE>(file), buffer, bytes, &read, nullptr);
    *bytesRead = ok ? read : 0;
    return ok ? 0 : -1;
}

int FileOsSeek(void* file, uint32_t position)
{
    // Positions are below 4 GB: the high part is always 0.
    LONG high = 0;
    const DWORD low = SetFilePointer(static_cast<HANDLE>(file), static_cast<LONG>(position), &high, FILE_BEGIN);
    return low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR ? -1 : 0;
}

uint32_t FileOsSize(void* file) { return GetFileSize(static_cast<HANDLE>(file), nullptr); }

int FileOsClose(void* file) { return CloseHandle(static_cast<HANDLE>(file)) ? 0 : -1; }

void* FileOsCreateEvent(int signalled) { return CreateEventW(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr); }

void FileOsSetEvent(void* event) { SetEvent(static_cast<HANDLE>(event)); }

void FileOsResetEvent(void* event) { ResetEvent(static_cast<HANDLE>(event)); }

int FileOsWaitEvent(void* event, uint32_t milliseconds)
{
    const DWORD wait = milliseconds == kFileOsWaitForever ? INFINITE : milliseconds;
    return WaitForSingleObject(static_cast<HANDLE>(event), wait) == WAIT_OBJECT_0 ? 1 : 0;
}

void FileOsCloseEvent(void* event)
{
    if (event) CloseHandle(static_cast<HANDLE>(event));
}

namespace {

struct ThreadStart {
    FileOsThreadFunction function;
    void* argument;
};

DWORD WINAPI RunThread(LPVOID raw)
{
    const ThreadStart start = *static_cast<ThreadStart*>(raw);
    FreeTrackedMemory(raw);
    return start.function(start.argument);
}

}  // namespace

void* FileOsStartThread(FileOsThreadFunction function, void* argument, uint32_t* threadId)
{
    // The thread's function has the system's calling convention; the file layer's is a
    // plain function, so a small record carries it over.
    ThreadStart* start = static_cast<ThreadStart*>(AllocTrackedMemory(sizeof(ThreadStart), "", 0));
    if (!start) return nullptr;
    start->function = function;
    start->argument = argument;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, RunThread, start, 0, &id);
    if (!thread) {
        FreeTrackedMemory(start);
        return nullptr;
    }
    if (threadId) *threadId = id;
    return thread;
}

int FileOsIsThreadActive(void* thread)
{
    DWORD code = 0;
    if (!GetExitCodeThread(static_cast<HANDLE>(thread), &code)) return 0;
    return code == STILL_ACTIVE ? 1 : 0;
}

void FileOsCloseThread(void* thread)
{
    if (thread) CloseHandle(static_cast<HANDLE>(thread));
}

void FileOsSleep(uint32_t milliseconds) { Sleep(milliseconds); }

int FileOsSetCurrentDirectory(const wchar_t* path) { return SetCurrentDirectoryW(path) ? 1 : 0; }

uint32_t FileOsGetCurrentDirectory(uint32_t units, wchar_t* buffer) { return GetCurrentDirectoryW(units, buffer); }

void* FileOsFindFirst(const wchar_t* pattern, FileOsFindData* data)
{
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW(pattern, &found);
    if (find == INVALID_HANDLE_VALUE) return nullptr;
    FillFindData(found, data);
    return find;
}

int FileOsFindNext(void* find, FileOsFindData* data)
{
    WIN32_FIND_DATAW found{};
    if (!FindNextFileW(static_cast<HANDLE>(find), &found)) return -1;
    FillFindData(found, data);
    return 0;
}

int FileOsFindClose(void* find) { return FindClose(static_cast<HANDLE>(find)) ? 0 : -1; }

void FileOsFileTimeToDateTime(uint64_t fileTime, DateTimeRecord* out)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(fileTime);
    time.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    ConvertFileTimeToDateTime(&time, out);
}

int FileOsCodePageToWide(uint32_t codePage, const char* text, wchar_t* out, int outUnits)
{
    if (outUnits < 1) return -1;
    const int n = MultiByteToWideChar(codePage, 0, text, -1, out, outUnits);
    if (n <= 0) {
        out[0] = 0;
        return -1;
    }
    return n - 1;
}

int FileOsWideToCodePage(uint32_t codePage, const wchar_t* text, char* out, int outBytes)
{
    if (outBytes < 1) return -1;
    const int n = WideCharToMultiByte(codePage, 0, text, -1, out, outBytes, nullptr, nullptr);
    if (n <= 0) {
        out[0] = 0;
        return -1;
    }
    return n - 1;
}
