// Listing an archive's directories and reading its member files.

#include "quarn/core/archive.h"
#include "quarn/core/archive_internal.h"
#include "quarn/core/file_internal.h"
#include "quarn/core/file_os.h"

#include <cstring>

namespace {

// The zero-terminated text in at most bytes bytes, or null when it has no terminator.
const char* TerminatedText(const uint8_t* p, uint32_t bytes)
{
    return std::memchr(p, 0, bytes) ? reinterpret_cast<const char*>(p) : nullptr;
}

void FillDotRecord(const char* name, FileInfoRecord* info)
{
    if (!info) return;
    std::memset(info, 0, sizeof *info);
    for (int i = 0; name[i] != 0; ++i) info->name[i] = static_cast<wchar_t>(name[i]);
    info->directory = 1;
}

// Fills info from an entry. false (logged) when its name cannot be given in wide text.
bool FillEntryRecord(const ArchiveRecord* r, const ArchiveFileEntry* e, const char* writtenName, FileInfoRecord* info)
{
    if (!info) return true;
    const uint32_t codePage = r->codePage ? r->codePage : LibraryCodePage();
    if (FileOsCodePageToWide(codePage, writtenName, info->name, kFilePathUnits) < 0) {
        RefuseLongPath();
        return false;
    }
    info->directory = (e->attributes & kArchiveDirectoryAttribute) ? 1 : 0;
    info->size = e->size;
    FileOsFileTimeToDateTime(e->creationTime, &info->creationTime);
    FileOsFileTimeToDateTime(e->lastWriteTime, &info->lastWriteTime);
    return true;
}

bool IsStoredMember(const ArchiveRecord* r, const ArchiveFileEntry* e)
{
    return r->version < 2 || e->compressedSize == kArchiveStored;
}

// Decompresses a member's LZ block into a buffer of the entry's size, allocated once the
// block's head says that size. A block that does not give exactly the entry's size leaves
// the member marked damaged.
void Decompress(ArchiveMember* m, const uint8_t* block, uint32_t blockBytes)
{
    const int64_t stated = DecompressArchiveData(block, blockBytes, nullptr, 0);
    if (stated >= 0 && stated != int64_t(m->entry.size)) {
        AppendLog(L"ＱＵＡアーカイブのファイルデータが壊れています\n");
        m->damaged = 1;
        return;
    }
    if (stated >= 0) m->data = static_cast<uint8_t*>(AllocTrackedMemory(m->entry.size ? m->entry.size : 1, "", 0));
    if (stated >= 0 && !m->data) {
        AppendLog(L"ＱＵＡアーカイブのファイルを展開するメモリの確保に失敗しました\n");
        m->damaged = 1;
        return;
    }
    if (stated < 0 || DecompressArchiveData(block, blockBytes, m->data, m->entry.size) != stated) {
        FreeTrackedMemory(m->data);
        m->data = nullptr;
        m->damaged = 1;
    }
}

// Waits until nothing of the member is pending.
void WaitForMember(ArchiveMember* m)
{
    while (!IsArchiveMemberIdle(m)) WaitForServedFile(m->record->file);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Listing
// ---------------------------------------------------------------------------------------

int FindFirstInArchive(ArchiveFindState* state, ArchiveRecord* record, const char* pattern, FileInfoRecord* info)
{
    char directory[kArchiveSearchBytes];
    std::memset(state, 0, sizeof *state);
    if (SplitPathLastElement(record, directory, state->pattern, pattern) != 0) return -1;
    UpperCaseArchiveName(directory, record->codeFormat);
    UpperCaseArchiveName(state->pattern, record->codeFormat);
    const uint32_t saved = record->currentDirectory;
    if (directory[0] != 0 && ChangeArchiveDirectory(record, directory, 1, nullptr) != 0) return -1;
    state->record = record;
    state->directory = record->currentDirectory;
    state->next = 0;
    record->currentDirectory = saved;
    return FillArchiveFindRecord(state, info);
}

int FillArchiveFindRecord(ArchiveFindState* state, FileInfoRecord* info)
{
    const ArchiveRecord* r = state->record;
    ArchiveDirectory d;
    if (!r || ReadArchiveDirectory(r, state->directory, &d) != 0) return -1;
    for (;;) {
        const int32_t index = state->next;
        if (index < 0 || uint64_t(index) >= uint64_t(d.count) + 2) return -1;
        state->next = index + 1;
        if (index < 2) {
            const char* dots = index == 0 ? "." : "..";
            if ((index == 1 && state->directory == 0) || MatchWildcardName(state->pattern, dots, r->codeFormat) != 0)
                continue;
            FillDotRecord(dots, info);
            return 0;
        }
        ArchiveFileEntry e;
        ReadArchiveEntry(r, &d, uint32_t(index - 2), &e);
        uint16_t words = 0;
        const uint8_t* name = ArchiveNameRecord(r, e.nameOffset, &words);
        if (!name) continue;
        const char* upper = TerminatedText(name + 4, uint32_t(words) * 4);
        const char* written = TerminatedText(name + 4 + uint32_t(words) * 4, uint32_t(words) * 4);
        if (!upper || !written) {
            RefuseArchiveTable();
            continue;
        }
        if (MatchWildcardName(state->pattern, upper, r->codeFormat) != 0) continue;
        if (FillEntryRecord(r, &e, written, info)) return 0;
    }
}

// ---------------------------------------------------------------------------------------
// Members
// ---------------------------------------------------------------------------------------

int OpenArchiveMember(ArchiveMember* member, ArchiveRecord* record, const char* path, int asynchronous)
{
    std::memset(member, 0, sizeof *member);
    ArchiveFileEntry e;
    uint32_t start = 0;
    uint32_t stored = 0;
    if (FindArchiveMember(record, path, &e, &start, &stored) != 0) return -1;
    member->record = record;
    member->entry = e;
    member->asynchronous = asynchronous ? 1 : 0;
    if (IsStoredMember(record, &e)) {
        member->entry.compressedSize = kArchiveStored;
        return 0;
    }
    if (record->inMemory) {
        Decompress(member, record->image + start, stored);
    } else {
        member->compressed = static_cast<uint8_t*>(AllocTrackedMemory(stored ? stored : 1, "", 0));
        if (!member->compressed) return AppendLog(L"ＱＵＡアーカイブのファイルを展開するメモリの確保に失敗しました\n");
        if (member->asynchronous) {
            StartArchiveRead(record, start, member->compressed, stored);
            member->pendingKind = 1;
            member->pendingOffset = start;
            member->pendingLength = stored;
            return 0;
        }
        if (ReadArchiveBytesDeciphered(record, start, member->compressed, stored) == 0) {
            Decompress(member, member->compressed, stored);
        } else {
            AppendLog(L"ＱＵＡアーカイブのファイルデータが壊れています\n");
            member->damaged = 1;
        }
        FreeTrackedMemory(member->compressed);
        member->compressed = nullptr;
    }
    if (member->damaged) {
        std::memset(member, 0, sizeof *member);
        return -1;
    }
    return 0;
}

int IsArchiveMemberIdle(ArchiveMember* member)
{
    if (member->pendingKind == 0) return 1;
    if (!IsServedFileIdle(member->record->file)) return 0;
    ScrambleArchiveBytes(member->record->key, member->pendingKind == 1 ? member->compressed : member->pendingBuffer,
                         member->pendingLength, member->pendingOffset);
    if (member->pendingKind == 1) {
        Decompress(member, member->compressed, member->pendingLength);
        FreeTrackedMemory(member->compressed);
        member->compressed = nullptr;
    }
    member->pendingKind = 0;
    return 1;
}

int CloseArchiveMember(ArchiveMember* member)
{
    if (member->record) WaitForMember(member);
    FreeTrackedMemory(member->data);
    FreeTrackedMemory(member->compressed);
    std::memset(member, 0, sizeof *member);
    return 0;
}

int32_t ReadArchiveMember(ArchiveMember* member, void* buffer, uint32_t bytes)
{
    WaitForMember(member);
    if (member->damaged || member->position >= member->entry.size) {
        member->endFlag = 1;
        return 0;
    }
    uint32_t n = member->entry.size - member->position;
    if (bytes < n) n = bytes;
    if (n > uint32_t(INT32_MAX)) n = INT32_MAX;
    ArchiveRecord* r = member->record;
    const uint32_t offset = r->dataStart + member->entry.dataOffset + member->position;
    if (member->data) {
        CopyBytes(buffer, member->data + member->position, n);
    } else if (r->inMemory) {
        CopyBytes(buffer, r->image + offset, n);
    } else if (member->asynchronous) {
        StartArchiveRead(r, offset, buffer, n);
        member->pendingKind = 2;
        member->pendingOffset = offset;
        member->pendingBuffer = static_cast<uint8_t*>(buffer);
        member->pendingLength = n;
    } else if (ReadArchiveBytesDeciphered(r, offset, buffer, n) != 0) {
        // The file is shorter than when it was opened.
        AppendLog(L"ＱＵＡアーカイブのファイルデータが壊れています\n");
        member->damaged = 1;
        member->endFlag = 1;
        return 0;
    }
    member->position += n;
    member->endFlag = 0;
    return static_cast<int32_t>(n);
}

int SeekArchiveMember(ArchiveMember* member, int32_t offset, int origin)
{
    WaitForMember(member);
    int64_t target = offset;
    if (origin == 1) target += member->position;
    else if (origin == 2) target += member->entry.size;
    if (target < 0) target = 0;
    if (target > int64_t(member->entry.size)) target = member->entry.size;
    member->position = static_cast<uint32_t>(target);
    member->endFlag = 0;
    return 0;
}

int32_t TellArchiveMember(ArchiveMember* member)
{
    WaitForMember(member);
    return static_cast<int32_t>(member->position);
}

int IsArchiveMemberAtEnd(ArchiveMember* member)
{
    WaitForMember(member);
    return member->endFlag ? -1 : 0;
}
