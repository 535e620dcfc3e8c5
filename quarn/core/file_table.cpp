// The library's file table and its forwarders, the two stream tables, and the plain
// directory operations.

#include "quarn/core/file_internal.h"
#include "quarn/core/file_os.h"
#include "quarn/core/files.h"

namespace {

constexpr FileFunctionTable kArchiveAwareFunctions = {
    OpenVirtualFile,
    CloseVirtualFile,
    TellVirtualFile,
    SeekVirtualFile,
    ReadVirtualFile,
    IsVirtualFileAtEnd,
    IsVirtualFileIdle,
    SetVirtualCurrentDirectory,
    GetVirtualCurrentDirectory,
    FindFirstVirtualFile,
    FindNextVirtualFile,
    CloseVirtualFind,
};

StreamFunctionTable s_fileStreamFunctions;
StreamFunctionTable s_memoryStreamFunctions;

void ConvertFindDataToFileInfo(const FileOsFindData& data, FileInfoRecord* info)
{
    if (!info) return;
    CopyWideStringLimited(info->name, data.name, kFilePathUnits - 1);
    info->directory = (data.attributes & 0x10) ? 1 : 0;
    info->size = static_cast<int64_t>(data.size);
    FileOsFileTimeToDateTime(data.creationTime, &info->creationTime);
    FileOsFileTimeToDateTime(data.lastWriteTime, &info->lastWriteTime);
}

}  // namespace

FileFunctionTable g_fileFunctions = kArchiveAwareFunctions;

int RefuseLongPath() { return AppendLog(L"ファイルパスが長すぎます\n"); }

uint32_t LibraryCodePage()
{
    static const uint32_t kCodePages[] = {0, 932, 949, 950, 936};
    const int format = GetCharacterCodeFormat();
    return format >= 0 && format <= 4 ? kCodePages[format] : 0;
}

int InstallFileFunctions(const FileFunctionTable* table)
{
    g_fileFunctions = table ? *table : kArchiveAwareFunctions;
    return 0;
}

FileHandle OpenFileThroughTable(const wchar_t* path, int readAhead, int loaderFlag, int asynchronous)
{
    return g_fileFunctions.open(path, readAhead, loaderFlag, asynchronous);
}

int CloseFileThroughTable(FileHandle file) { return g_fileFunctions.close(file); }

int32_t TellFileThroughTable(FileHandle file) { return g_fileFunctions.tell(file); }

int SeekFileThroughTable(FileHandle file, int32_t offset, int origin)
{
    return g_fileFunctions.seek(file, offset, origin);
}

int32_t ReadFileThroughTable(void* buffer, uint32_t elementSize, uint32_t count, FileHandle file)
{
    return g_fileFunctions.read(buffer, elementSize, count, file);
}

int IsFileAtEndThroughTable(FileHandle file) { return g_fileFunctions.isAtEnd(file); }

int IsFileIdleThroughTable(FileHandle file) { return g_fileFunctions.isIdle(file); }

int SetCurrentDirectoryThroughTable(const wchar_t* path) { return g_fileFunctions.setCurrentDirectory(path); }

int GetCurrentDirectoryThroughTable(wchar_t* buffer) { return g_fileFunctions.getCurrentDirectory(buffer); }

int FillStreamFunctionTables()
{
    s_fileStreamFunctions = {TellFileThroughTable,    SeekFileThroughTable,   ReadFileThroughTable,
                             IsFileAtEndThroughTable, IsFileIdleThroughTable, CloseFileThroughTable};
    s_memoryStreamFunctions = {TellMemoryStream,    SeekMemoryStream,   ReadMemoryStream,
                               IsMemoryStreamAtEnd, IsMemoryStreamIdle, CloseMemoryStream};
    return 0;
}

const StreamFunctionTable* GetFileStreamFunctions()
{
    if (!s_fileStreamFunctions.read) FillStreamFunctionTables();
    return &s_fileStreamFunctions;
}

const StreamFunctionTable* GetMemoryStreamFunctions()
{
    if (!s_memoryStreamFunctions.read) FillStreamFunctionTables();
    return &s_memoryStreamFunctions;
}

int SetPlainCurrentDirectory(const wchar_t* path) { return FileOsSetCurrentDirectory(path); }

int GetPlainCurrentDirectory(wchar_t* buffer)
{
    return static_cast<int>(FileOsGetCurrentDirectory(kFilePathUnits, buffer));
}

intptr_t FindFirstPlainFile(const wchar_t* pattern, FileInfoRecord* info)
{
    FileOsFindData data;
    void* find = FileOsFindFirst(pattern, &data);
    if (!find) return -1;
    ConvertFindDataToFileInfo(data, info);
    return reinterpret_cast<intptr_t>(find);
}

int FindNextPlainFile(intptr_t find, FileInfoRecord* info)
{
    FileOsFindData data;
    if (FileOsFindNext(reinterpret_cast<void*>(find), &data) != 0) return -1;
    ConvertFindDataToFileInfo(data, info);
    return 0;
}

int ClosePlainFind(intptr_t find) { return FileOsFindClose(reinterpret_cast<void*>(find)); }
