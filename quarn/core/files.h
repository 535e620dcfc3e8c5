// The file layer: one replaceable table of twelve file operations through which the whole
// library reaches files, the stream tables that decoders read through, plain files read
// directly or through a file-access thread of their own, plain directory listing and full
// path resolution. By default the table holds the archive-aware operations, which read a
// path inside "prefix.QUA" when a directory of the path is a QUA archive (archive.h).
//
// This header needs no operating system: the few system calls the layer makes go through
// file_os.h, so the layer's logic builds and is tested natively as well. Paths are wide
// text (UTF-16 units on Windows); the native build presents its file system as drive "Z:".
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarn/core/core.h"

enum : int32_t {
    kFilePathUnits = 260,           // a full path with its terminator
    kReadAheadCacheBytes = 131072,  // 128 KB read ahead by the file-access thread
    kOpenFileSlots = 512,           // files open at once through the archive-aware table
};

// A file handle of the table: the archive-aware set gives slot | 0xF0000000, a replaced
// table may give anything that fits a pointer. 0 is failure.
using FileHandle = intptr_t;
// A stream handle: a FileHandle for the file stream table, a MemoryStream* for the
// memory stream table.
using StreamHandle = intptr_t;

// What a directory listing reports of one entry.
struct FileInfoRecord {
    wchar_t name[kFilePathUnits];
    int32_t directory;  // 1 for a directory
    int64_t size;
    DateTimeRecord creationTime;   // local time
    DateTimeRecord lastWriteTime;  // local time
};

// The twelve file operations, in this slot order.
struct FileFunctionTable {
    // read-ahead, loader flag (passed on, ignored by the default set), asynchronous.
    FileHandle (*open)(const wchar_t* path, int readAhead, int loaderFlag, int asynchronous);
    int (*close)(FileHandle file);                             // 0, or -1
    int32_t (*tell)(FileHandle file);                          // position
    int (*seek)(FileHandle file, int32_t offset, int origin);  // origin 0 start, 1 current, 2 end
    // Whole elements read.
    int32_t (*read)(void* buffer, uint32_t elementSize, uint32_t count, FileHandle file);
    int (*isAtEnd)(FileHandle file);  // non-zero at the end
    int (*isIdle)(FileHandle file);   // 1 when nothing is pending
    int (*setCurrentDirectory)(const wchar_t* path);
    int (*getCurrentDirectory)(wchar_t* buffer);                          // buffer of kFilePathUnits
    intptr_t (*findFirst)(const wchar_t* pattern, FileInfoRecord* info);  // -1 when none
    int (*findNext)(intptr_t find, FileInfoRecord* info);                 // 0, or -1 at the end
    int (*findClose)(intptr_t find);                                      // 0, or -1
};

// The library's file table; it starts out holding the archive-aware set.
extern FileFunctionTable g_fileFunctions;

// Copies a table's twelve slots into the library's table; null installs the archive-aware
// set. Returns 0.
int InstallFileFunctions(const FileFunctionTable* table);

// Forwarders through the library's table: each passes its arguments on unchanged.
FileHandle OpenFileThroughTable(const wchar_t* path, int readAhead, int loaderFlag, int asynchronous);
int CloseFileThroughTable(FileHandle file);
int32_t TellFileThroughTable(FileHandle file);
int SeekFileThroughTable(FileHandle file, int32_t offset, int origin);
int32_t ReadFileThroughTable(void* buffer, uint32_t elementSize, uint32_t count, FileHandle file);
int IsFileAtEndThroughTable(FileHandle file);
int IsFileIdleThroughTable(FileHandle file);
int SetCurrentDirectoryThroughTable(const wchar_t* path);
int GetCurrentDirectoryThroughTable(wchar_t* buffer);

// ---------------------------------------------------------------------------------------
// Streams
// ---------------------------------------------------------------------------------------

// Six operations over a stream handle; the same meanings as the file table's slots.
struct StreamFunctionTable {
    int32_t (*tell)(StreamHandle stream);
    int (*seek)(StreamHandle stream, int32_t offset, int origin);
    int32_t (*read)(void* buffer, uint32_t elementSize, uint32_t count, StreamHandle stream);
    int (*isAtEnd)(StreamHandle stream);
    int (*isIdle)(StreamHandle stream);
    int (*close)(StreamHandle stream);
};

// Fills the two stream tables, the one over the file table and the one over memory.
// Returns 0. The getters fill them on first use too.
int FillStreamFunctionTables();
const StreamFunctionTable* GetFileStreamFunctions();
const StreamFunctionTable* GetMemoryStreamFunctions();

// A stream over a block of memory that it does not own.
struct MemoryStream {
    const uint8_t* data;
    uint32_t size;
    uint32_t position;
    int32_t endFlag;
};

// A new stream at position 0, or null when memory runs out.
MemoryStream* OpenMemoryStream(const void* data, uint32_t size);
int32_t TellMemoryStream(StreamHandle stream);
// Clamped to [0, size]; clears the end flag. Returns 0.
int SeekMemoryStream(StreamHandle stream, int32_t offset, int origin);
// Copies at most elementSize x count bytes and returns the whole elements copied; a last
// partial element is copied but not counted. At the end: 0 and the end flag set.
int32_t ReadMemoryStream(void* buffer, uint32_t elementSize, uint32_t count, StreamHandle stream);
int IsMemoryStreamAtEnd(StreamHandle stream);
int IsMemoryStreamIdle(StreamHandle stream);  // always 1
int CloseMemoryStream(StreamHandle stream);   // frees the record, not the data; 0

// ---------------------------------------------------------------------------------------
// Plain files, read directly or through a file-access thread
// ---------------------------------------------------------------------------------------

enum ServedFileCommand : int32_t {
    kServedOpen = 0,
    kServedClose = 1,
    kServedRead = 2,
    kServedSeek = 3,
    kServedQuit = 4,
};

// One plain file. In direct mode the caller's thread reads it; served (read-ahead or
// asynchronous asked for) a file-access thread of its own opens, reads, seeks and closes
// it, and with read-ahead fills a 128 KB cache while it is idle. Caller and thread hand
// over through two manual-reset events: the caller waits for done before it writes a
// command, the thread sets done when the command is finished.
struct ServedFile {
    void* file;  // direct mode
    int32_t served;
    int32_t readAhead;
    int32_t asynchronous;
    int32_t endFlag;
    uint32_t position;
    uint32_t size;  // at open
    uint32_t threadId;
    void* thread;
    void* threadFile;  // the thread's file; null while closed
    void* commandEvent;
    void* doneEvent;
    int32_t command;
    int32_t threadEnded;
    int32_t openFailed;
    wchar_t path[kFilePathUnits];
    uint8_t* requestBuffer;
    uint32_t requestPosition;
    uint32_t requestLength;
    uint32_t requestDelivered;  // bytes the last read command put into its buffer
    uint32_t seekTarget;
    uint8_t* cache;           // kReadAheadCacheBytes, null without read-ahead
    uint32_t cachePosition;   // file position of the first cached byte
    uint32_t cachedBytes;     // valid bytes at the start of the cache
    uint32_t bytesFromCache;  // bytes read commands took from the cache, for diagnostics
    // Where the system's pointer of the file stands, while the caller knows it (direct
    // mode, or after its own read once the thread was idle): a read there needs no seek.
    uint32_t filePointer;
    int32_t filePointerKnown;
};

// 0 when the file cannot be opened (logged only on the served path).
ServedFile* OpenServedFile(const wchar_t* path, int readAhead, int loaderFlag, int asynchronous);
// 0, or -1 when the system could not close it. The record is freed.
int CloseServedFile(ServedFile* file);
int32_t TellServedFile(ServedFile* file);
// Clamped to [0, size]; clears the end flag. 0, or -1 when a direct seek fails.
int SeekServedFile(ServedFile* file, int32_t offset, int origin);
// Whole elements read. The position advances by what was read. An asynchronous served
// read returns at once with the count it will deliver: the buffer is not to be used
// before IsServedFileIdle gives 1.
int32_t ReadServedFile(void* buffer, uint32_t elementSize, uint32_t count, ServedFile* file);
int IsServedFileAtEnd(ServedFile* file);  // -1 at the end, else 0
int IsServedFileIdle(ServedFile* file);   // 1 idle, 0 while a command is pending
// Waits until the file-access thread has finished its command (at once in direct mode).
void WaitForServedFile(ServedFile* file);
// Reads length bytes at position now, whatever the mode, and returns the bytes read; the
// file's position is just after them. Once the file-access thread is idle, a file without
// read-ahead is read on the caller's thread: a round trip to the thread for every read
// costs more than the read.
uint32_t ReadServedFileAt(ServedFile* f, void* buffer, uint32_t position, uint32_t length);

// ---------------------------------------------------------------------------------------
// Plain directories and paths
// ---------------------------------------------------------------------------------------

// Non-zero on success.
int SetPlainCurrentDirectory(const wchar_t* path);
// The length, as the system reports it (kFilePathUnits units).
int GetPlainCurrentDirectory(wchar_t* buffer);
// A find handle, or -1 when nothing matches. info may be null.
intptr_t FindFirstPlainFile(const wchar_t* pattern, FileInfoRecord* info);
int FindNextPlainFile(intptr_t find, FileInfoRecord* info);  // 0, or -1 at the end
int ClosePlainFind(intptr_t find);                           // 0, or -1

// The full form of a path (out holds kFilePathUnits units): relative to base, or to the
// current directory of the file table when base is null; "." and ".." elements are
// resolved, separators become "\". A null path gives the base. 0, or -1 (and a log line)
// when the result would not fit.
int ResolveFullPath(const wchar_t* relative, wchar_t* out, const wchar_t* base);
// The same from the process's current directory, with "a" to "z" upper-cased: the form in
// which archive paths are compared.
int MakeComparablePath(const wchar_t* path, wchar_t* out);

// ---------------------------------------------------------------------------------------
// The archive-aware file functions (the default table)
// ---------------------------------------------------------------------------------------

FileHandle OpenVirtualFile(const wchar_t* path, int readAhead, int loaderFlag, int asynchronous);
int CloseVirtualFile(FileHandle file);
int32_t TellVirtualFile(FileHandle file);
int SeekVirtualFile(FileHandle file, int32_t offset, int origin);
int32_t ReadVirtualFile(void* buffer, uint32_t elementSize, uint32_t count, FileHandle file);
int IsVirtualFileAtEnd(FileHandle file);              // -1 at the end, 0 before it
int IsVirtualFileIdle(FileHandle file);               // 1 idle, 0 busy
int SetVirtualCurrentDirectory(const wchar_t* path);  // 0, or -1 when the system refused
// 0, or -1 (buffer emptied, a log line) when the directory does not fit kFilePathUnits.
int GetVirtualCurrentDirectory(wchar_t* buffer);
intptr_t FindFirstVirtualFile(const wchar_t* pattern, FileInfoRecord* info);
int FindNextVirtualFile(intptr_t find, FileInfoRecord* info);  // 0, or -1 at the end
int CloseVirtualFind(intptr_t find);

// 0 when the path lies inside an archive: *archiveIndex is its slot in the shared archive
// table (one use of it is held for the caller) and inArchivePath (512 bytes) the rest of
// the path in the archive's code page. Non-zero for a plain path.
int ResolveArchivePath(const wchar_t* path, int32_t* archiveIndex, char* inArchivePath);
// Files open through the archive-aware table, for diagnostics.
int CountOpenVirtualFiles();
// Forgets the last archive found by ResolveArchivePath.
void ForgetArchivePathCache();
