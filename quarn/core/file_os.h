// The operating-system calls of the file layer, kept narrow so that the layer's logic (the
// served files and their file-access thread, archives, the archive-aware functions and
// path resolution) builds and runs natively too. file_os_win.cpp calls the Windows
// functions; file_os_native.cpp stands in with POSIX calls and standard threads, and
// presents the file system as drive "Z:" with "\" separators and, as Windows does, names
// that match without regard to the case of "a" to "z".
#pragma once

#include <cstdint>

#include "quarn/core/core.h"

enum : uint32_t { kFileOsWaitForever = 0xFFFFFFFFu };

// Files opened for reading. An opaque handle, null when the file could not be opened (a
// directory is not a file here). shareRead 1 lets others read it meanwhile.
void* FileOsOpen(const wchar_t* path, int shareRead);
// 0 and the bytes read (fewer at the end of the file), or -1 when the read failed.
int FileOsRead(void* file, void* buffer, uint32_t bytes, uint32_t* bytesRead);
// From the start of the file. 0, or -1.
int FileOsSeek(void* file, uint32_t position);
// The size's low 32 bits.
uint32_t FileOsSize(void* file);
// 0, or -1.
int FileOsClose(void* file);

// Manual-reset events.
void* FileOsCreateEvent(int signalled);
void FileOsSetEvent(void* event);
void FileOsResetEvent(void* event);
// 1 when the event is (or becomes) signalled within the time, 0 when the time ran out.
int FileOsWaitEvent(void* event, uint32_t milliseconds);
void FileOsCloseEvent(void* event);

// Threads.
using FileOsThreadFunction = uint32_t (*)(void* argument);
// Null when the thread could not be started.
void* FileOsStartThread(FileOsThreadFunction function, void* argument, uint32_t* threadId);
// 1 while the thread's function has not returned.
int FileOsIsThreadActive(void* thread);
// Releases the handle of a thread that has ended.
void FileOsCloseThread(void* thread);
// 0 gives up the rest of the time slice.
void FileOsSleep(uint32_t milliseconds);

// Current directory: non-zero on success.
int FileOsSetCurrentDirectory(const wchar_t* path);
// As GetCurrentDirectoryW: the length without the terminator when it fits in units, else
// the units needed with the terminator (buffer untouched); 0 on failure.
uint32_t FileOsGetCurrentDirectory(uint32_t units, wchar_t* buffer);

// One entry of a plain directory listing; times are FILETIME values (100 ns since 1601).
struct FileOsFindData {
    wchar_t name[260];
    uint32_t attributes;  // 0x10 for a directory
    uint64_t size;
    uint64_t creationTime;
    uint64_t lastWriteTime;
};
// Null when nothing matches the pattern (a directory and a last element with "*" and "?").
void* FileOsFindFirst(const wchar_t* pattern, FileOsFindData* data);
int FileOsFindNext(void* find, FileOsFindData* data);  // 0, or -1 at the end
int FileOsFindClose(void* find);                       // 0, or -1

// A FILETIME value as local date and time.
void FileOsFileTimeToDateTime(uint64_t fileTime, DateTimeRecord* out);

// 8-bit text in a code page (0: the system's) to wide text and back, terminators
// included. The units (bytes) written without the terminator, or -1 when the text does
// not fit or cannot be converted.
int FileOsCodePageToWide(uint32_t codePage, const char* text, wchar_t* out, int outUnits);
int FileOsWideToCodePage(uint32_t codePage, const wchar_t* text, char* out, int outBytes);
