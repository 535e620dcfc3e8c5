// The library's file table, its forwarders and the two stream tables.
//
// Until the archive-aware file functions are part of the library, the table starts out
// with a set that opens nothing; InstallFileFunctions puts a working set in place.

#include "quarn/core/files.h"

namespace {

FileHandle OpenNoFile(const wchar_t*, int, int, int) { return 0; }
int CloseNoFile(FileHandle) { return -1; }
int32_t TellNoFile(FileHandle) { return 0; }
int SeekNoFile(FileHandle, int32_t, int) { return -1; }
int32_t ReadNoFile(void*, uint32_t, uint32_t, FileHandle) { return 0; }
int IsNoFileAtEnd(FileHandle) { return -1; }
int IsNoFileIdle(FileHandle) { return 1; }
int SetNoCurrentDirectory(const wchar_t*) { return 0; }
int GetNoCurrentDirectory(wchar_t* buffer)
{
    buffer[0] = 0;
    return 0;
}
intptr_t FindNoFirstFile(const wchar_t*, FileInfoRecord*) { return -1; }
int FindNoNextFile(intptr_t, FileInfoRecord*) { return -1; }
int CloseNoFind(intptr_t) { return -1; }

constexpr FileFunctionTable kNoFileFunctions = {
    OpenNoFile,   CloseNoFile,           TellNoFile,            SeekNoFile,
    ReadNoFile,   IsNoFileAtEnd,         IsNoFileIdle,          SetNoCurrentDirectory,
    GetNoCurrentDirectory, FindNoFirstFile, FindNoNextFile,      CloseNoFind,
};

StreamFunctionTable g_fileStreamFunctions;
StreamFunctionTable g_memoryStreamFunctions;

}  // namespace

FileFunctionTable g_fileFunctions = kNoFileFunctions;

int InstallFileFunctions(const FileFunctionTable* table)
{
    g_fileFunctions = table ? *table : kNoFileFunctions;
    return 0;
}

FileHandle OpenFileThroughTable(const wchar_t* path, int readAhead, int loaderFlag, int asynchronous)
{
    return g_fileFunctions.open(path, readAhead, loaderFlag, asynchronous);
}

int CloseFileThroughTable(FileHandle file)
{
    return g_fileFunctions.close(file);
}

int32_t TellFileThroughTable(FileHandle file)
{
    return g_fileFunctions.tell(file);
}

int SeekFileThroughTable(FileHandle file, int32_t offset, int origin)
{
    return g_fileFunctions.seek(file, offset, origin);
}

int32_t ReadFileThroughTable(void* buffer, uint32_t elementSize, uint32_t count, FileHandle file)
{
    return g_fileFunctions.read(buffer, elementSize, count, file);
}

int IsFileAtEndThroughTable(FileHandle file)
{
    return g_fileFunctions.isAtEnd(file);
}

int IsFileIdleThroughTable(FileHandle file)
{
    return g_fileFunctions.isIdle(file);
}

int SetCurrentDirectoryThroughTable(const wchar_t* path)
{
    return g_fileFunctions.setCurrentDirectory(path);
}

int GetCurrentDirectoryThroughTable(wchar_t* buffer)
{
    return g_fileFunctions.getCurrentDirectory(buffer);
}

int FillStreamFunctionTables()
{
    g_fileStreamFunctions = {TellFileThroughTable,    SeekFileThroughTable,  ReadFileThroughTable,
                             IsFileAtEndThroughTable, IsFileIdleThroughTable, CloseFileThroughTable};
    g_memoryStreamFunctions = {TellMemoryStream,    SeekMemoryStream,  ReadMemoryStream,
                               IsMemoryStreamAtEnd, IsMemoryStreamIdle, CloseMemoryStream};
    return 0;
}

const StreamFunctionTable* GetFileStreamFunctions()
{
    if (!g_fileStreamFunctions.read)
        FillStreamFunctionTables();
    return &g_fileStreamFunctions;
}

const StreamFunctionTable* GetMemoryStreamFunctions()
{
    if (!g_memoryStreamFunctions.read)
        FillStreamFunctionTables();
    return &g_memoryStreamFunctions;
}
