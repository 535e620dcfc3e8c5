// The archive-aware file functions, the library's default file table: a path opens inside
// the archive "prefix.QUA" when one of its directory prefixes names an archive, and as a
// plain file otherwise. Handles of both kinds come from one table of 512 open files.

#include "quarn/core/archive.h"
#include "quarn/core/file_internal.h"
#include "quarn/core/file_os.h"
#include "quarn/core/files.h"

#include <cstring>

namespace {

constexpr uint32_t kHandleTag = 0xF0000000u;
constexpr uint32_t kSlotMask = 0x0FFFFFFFu;

struct FileRecord {
    int32_t inArchive;
    ServedFile* plain;
    int32_t archiveIndex;
    ArchiveMember member;
};

FileRecord* g_openFiles[kOpenFileSlots];
int s_openFileCount;

struct FindRecord {
    int32_t inArchive;
    int32_t archiveIndex;
    intptr_t plain;
    ArchiveFindState* state;
};

// The last archive found: the candidate's path, the length of its prefix (the path
// without ".QUA") and its slot in the shared table.
struct ResolutionCache {
    wchar_t path[kArchivePathUnits];
    int32_t prefixLength;
    int32_t index;
};
ResolutionCache s_resolution;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The record of a handle; only a handle that carries the tag is taken, so that 0, the
// failure value of open, never reaches the file in slot 0.
FileRecord* RecordOf(FileHandle handle)
{
    if (handle != FileHandle(int32_t(handle)) || (uint32_t(handle) & kHandleTag) != kHandleTag) return nullptr;
    const uint32_t slot = uint32_t(handle) & kSlotMask;
    return slot < uint32_t(kOpenFileSlots) ? g_openFiles[slot] : nullptr;
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix, int length)
{
    for (int i = 0; i < length; ++i) {
        if (text[i] != prefix[i] || text[i] == 0) return false;
    }
    return true;
}

// The archive whose prefix begins full, from the cache or by trying each directory
// prefix from the shortest: its slot with one use held, and where the rest of full
// begins; -1 for a plain path.
int FindArchiveOfPath(const wchar_t* full, int* restStart)
{
    const int cached = s_resolution.prefixLength;
    if (cached > 0 && StartsWith(full, s_resolution.path, cached) && IsSeparator(full[cached])) {
        const int index = OpenSharedArchive(s_resolution.index, s_resolution.path, 0, 0);
        if (index < 0) return -1;
        s_resolution.index = index;
        *restStart = cached + 1;
        return index;
    }
    int i = full[0] == L'\\' && full[1] == L'\\' ? 2 : 0;
    for (;;) {
        const int start = i;
        while (full[i] != 0 && !IsSeparator(full[i])) ++i;
        if (full[i] == 0 || i == start) return -1;
        if (i == 2 && full[1] == L':') {
            ++i;  // a drive is no directory that an archive could stand for
            continue;
        }
        wchar_t candidate[kArchivePathUnits];
        CopyWideStringLimited(candidate, full, i);
        CopyWideString(candidate + i, L".QUA");
        const int index = OpenSharedArchive(-1, candidate, 0, 0);
        if (index >= 0) {
            CopyWideString(s_resolution.path, candidate);
            s_resolution.prefixLength = i;
            s_resolution.index = index;
            *restStart = i + 1;
            return index;
        }
        ++i;
    }
}

}  // namespace

int ResolveArchivePath(const wchar_t* path, int32_t* archiveIndex, char* inArchivePath)
{
    wchar_t full[kFilePathUnits];
    if (MakeComparablePath(path, full) != 0) return 1;
    int restStart = 0;
    const int index = FindArchiveOfPath(full, &restStart);
    if (index < 0) return 1;
    const ArchiveRecord* archive = GetSharedArchive(index);
    const uint32_t codePage = archive->codePage ? archive->codePage : LibraryCodePage();
    if (FileOsWideToCodePage(codePage, full + restStart, inArchivePath, kArchiveInPathBytes) < 0) {
        ReleaseSharedArchiveUse(index);
        RefuseLongPath();
        return 1;
    }
    *archiveIndex = index;
    return 0;
}

void ForgetArchivePathCache() { std::memset(&s_resolution, 0, sizeof s_resolution); }

int CountOpenVirtualFiles() { return s_openFileCount; }

FileHandle OpenVirtualFile(const wchar_t* path, int readAhead, int, int asynchronous)
{
    if (s_openFileCount >= kOpenFileSlots) {
        AppendLog(L"同時に開けるファイルの数が限界を超えました\n");
        return 0;
    }
    FileRecord* record = static_cast<FileRecord*>(AllocTrackedMemoryZeroed(sizeof(FileRecord), "", 0));
    if (!record) {
        AppendLog(L"ファイルの情報を格納するメモリの確保に失敗しました\n");
        return 0;
    }
    int32_t index = -1;
    char inArchive[kArchiveInPathBytes];
    if (ResolveArchivePath(path, &index, inArchive) == 0) {
        if (OpenArchiveMember(&record->member, GetSharedArchive(index), inArchive, asynchronous) != 0) {
            ReleaseSharedArchiveUse(index);
            FreeTrackedMemory(record);
            return 0;
        }
        record->inArchive = 1;
        record->archiveIndex = index;
    } else {
        record->plain = OpenServedFile(path, readAhead, 1, asynchronous);
        if (!record->plain) {
            FreeTrackedMemory(record);
            return 0;
        }
    }
    uint32_t slot = 0;
    while (g_openFiles[slot]) ++slot;
    g_openFiles[slot] = record;
    ++s_openFileCount;
    return FileHandle(int32_t(slot | kHandleTag));
}

int CloseVirtualFile(FileHandle file)
{
    FileRecord* record = RecordOf(file);
    if (!record) return -1;
    int result = 0;
    if (record->inArchive) {
        CloseArchiveMember(&record->member);
        ReleaseSharedArchiveUse(record->archiveIndex);
    } else {
        result = CloseServedFile(record->plain);
    }
    FreeTrackedMemory(record);
    g_openFiles[uint32_t(file) & kSlotMask] = nullptr;
    --s_openFileCount;
    return result;
}

int32_t TellVirtualFile(FileHandle file)
{
    FileRecord* record = RecordOf(file);
    if (!record) return -1;
    return record->inArchive ? TellArchiveMember(&record->member) : TellServedFile(record->plain);
}

int SeekVirtualFile(FileHandle file, int32_t offset, int origin)
{
    FileRecord* record = RecordOf(file);
    if (!record) return -1;
    return record->inArchive ? SeekArchiveMember(&record->member, offset, origin)
                             : SeekServedFile(record->plain, offset, origin);
}

int32_t ReadVirtualFile(void* buffer, uint32_t elementSize, uint32_t count, FileHandle file)
{
    FileRecord* record = RecordOf(file);
    if (!record) return -1;
    if (!record->inArchive) return ReadServedFile(buffer, elementSize, count, record->plain);
    if (elementSize == 0) return 0;
    const uint64_t wanted = uint64_t(elementSize) * count;
    const uint32_t bytes = wanted > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(wanted);
    // A partial last element is copied but not counted.
    const int32_t got = ReadArchiveMember(&record->member, buffer, bytes);
    return static_cast<int32_t>(uint32_t(got) / elementSize);
}

int IsVirtualFileAtEnd(FileHandle file)
{
    FileRecord* record = RecordOf(file);
    if (!record) return -1;
    return record->inArchive ? IsArchiveMemberAtEnd(&record->member) : IsServedFileAtEnd(record->plain);
}

int IsVirtualFileIdle(FileHandle file)
{
    FileRecord* record = RecordOf(file);
    if (!record) return -1;
    return record->inArchive ? IsArchiveMemberIdle(&record->member) : IsServedFileIdle(record->plain);
}

int SetVirtualCurrentDirectory(const wchar_t* path) { return FileOsSetCurrentDirectory(path) ? 0 : -1; }

int GetVirtualCurrentDirectory(wchar_t* buffer)
{
    const uint32_t n = FileOsGetCurrentDirectory(kFilePathUnits, buffer);
    if (n == 0 || n >= uint32_t(kFilePathUnits)) {
        buffer[0] = 0;
        return n == 0 ? -1 : RefuseLongPath();
    }
    return 0;
}

intptr_t FindFirstVirtualFile(const wchar_t* pattern, FileInfoRecord* info)
{
    FindRecord* record = static_cast<FindRecord*>(AllocTrackedMemoryZeroed(sizeof(FindRecord), "", 0));
    if (!record) return -1;
    int32_t index = -1;
    char inArchive[kArchiveInPathBytes];
    if (ResolveArchivePath(pattern, &index, inArchive) == 0) {
        record->state = static_cast<ArchiveFindState*>(AllocTrackedMemoryZeroed(sizeof(ArchiveFindState), "", 0));
        if (!record->state || FindFirstInArchive(record->state, GetSharedArchive(index), inArchive, info) != 0) {
            FreeTrackedMemory(record->state);
            ReleaseSharedArchiveUse(index);
            FreeTrackedMemory(record);
            return -1;
        }
        record->inArchive = 1;
        record->archiveIndex = index;
    } else {
        record->plain = FindFirstPlainFile(pattern, info);
        if (record->plain == -1) {
            FreeTrackedMemory(record);
            return -1;
        }
    }
    return reinterpret_cast<intptr_t>(record);
}

int FindNextVirtualFile(intptr_t find, FileInfoRecord* info)
{
    if (find == -1 || find == 0) return -1;
    FindRecord* record = reinterpret_cast<FindRecord*>(find);
    if (record->inArchive) return FillArchiveFindRecord(record->state, info);
    return FindNextPlainFile(record->plain, info);
}

int CloseVirtualFind(intptr_t find)
{
    if (find == -1 || find == 0) return -1;
    FindRecord* record = reinterpret_cast<FindRecord*>(find);
    int result = 0;
    if (record->inArchive) {
        FreeTrackedMemory(record->state);
        ReleaseSharedArchiveUse(record->archiveIndex);
    } else {
        result = ClosePlainFind(record->plain);
    }
    FreeTrackedMemory(record);
    return result;
}
