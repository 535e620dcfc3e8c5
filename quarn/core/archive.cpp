// Opening QUA archives, their tables, lookups and directory navigation, and the table of
// archives shared by the archive-aware file functions.

#include "quarn/core/archive.h"
#include "quarn/core/archive_internal.h"
#include "quarn/core/file_internal.h"

#include <cstring>

namespace {

constexpr uint32_t kDirectoryRecordBytes = 16;
constexpr uint32_t kSmallHeaderBytes = 24;
constexpr uint32_t kFullHeaderBytes = kArchiveHeaderBytes;

struct SharedArchive {
    int32_t useCount;
    ArchiveRecord record;
    wchar_t path[kArchivePathUnits];
};

SharedArchive* s_sharedArchives[kArchiveSharedSlots];
int s_sharedArchiveCount;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Bytes a character at p takes in the archive's code page.
int CharacterBytes(const char* p, int codeFormat)
{
    return IsDoubleByteLead(reinterpret_cast<const unsigned char*>(p), codeFormat) && p[1] != 0 ? 2 : 1;
}

bool HasSource(const ArchiveRecord* r) { return r->image != nullptr || r->file != nullptr; }

// The header's fields from its deciphered bytes (at least the header's size of them).
void TakeHeader(ArchiveRecord* r, const uint8_t* h)
{
    r->version = ReadLe16(h + 2);
    r->tableSize = ReadLe32(h + 4);
    r->dataStart = ReadLe32(h + 8);
    r->tableOffset = ReadLe32(h + 12);
    r->fileTableOffset = ReadLe32(h + 16);
    r->directoryTableOffset = ReadLe32(h + 20);
    r->codePage = r->version >= 4 ? ReadLe32(h + 24) : 0;
    r->codeFormat = CharacterCodeFormatFromCodePage(r->codePage);
}

// Checks the header among the first bytes of an archive (raw, enciphered; count of them
// at most kArchiveHeaderBytes) under the derived key and then the fallback key, and takes
// its fields and the key that fits. The raw bytes are not changed.
int CheckHeader(ArchiveRecord* r, const uint8_t* raw, uint32_t count, const char* keyText)
{
    uint8_t head[kArchiveHeaderBytes] = {};
    if (count < 8) return AppendLog(L"ＱＵＡアーカイブではありません\n");
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 0) DeriveArchiveKey(keyText, r->key);
        else BuildFallbackArchiveKey(r->key);
        std::memcpy(head, raw, count);
        ScrambleArchiveBytes(r->key, head, count, 0);
        if (head[0] == 'Q' && head[1] == 'U') break;
        if (attempt == 1) return AppendLog(L"ＱＵＡアーカイブではありません\n");
    }
    if (ReadLe16(head + 2) > kArchiveMaxVersion) return AppendLog(L"対応していないバージョンのＱＵＡアーカイブです\n");
    const uint32_t headerBytes = ReadLe16(head + 2) >= 4 ? kFullHeaderBytes : kSmallHeaderBytes;
    if (count < headerBytes) return RefuseArchiveHeader();
    TakeHeader(r, head);
    return 0;
}

// The header's offsets against the archive's size: the table block inside the archive,
// the two tables inside the block, room for the root's record.
int CheckLayout(const ArchiveRecord* r)
{
    if (uint64_t(r->tableOffset) + r->tableSize > r->archiveSize || r->dataStart > r->archiveSize ||
        r->fileTableOffset > r->tableSize || uint64_t(r->directoryTableOffset) + kDirectoryRecordBytes > r->tableSize)
        return RefuseArchiveHeader();
    return 0;
}

// Reads the raw header bytes of a file archive.
uint32_t ReadRawHeader(ServedFile* file, uint8_t* raw)
{
    const uint32_t count = file->size < kFullHeaderBytes ? file->size : kFullHeaderBytes;
    return count == 0 ? 0 : ReadServedFileAt(file, raw, 0, count);
}

// Opens the archive file and reads its header and table block. 0, or -1 with the record
// zero-filled and nothing held.
int OpenFileTables(ArchiveRecord* r, const wchar_t* path, const char* keyText)
{
    ServedFile* file = OpenServedFile(path, 0, 1, 1);
    if (!file) return -1;
    uint8_t raw[kArchiveHeaderBytes];
    const uint32_t count = ReadRawHeader(file, raw);
    r->file = file;
    r->archiveSize = file->size;
    if (CheckHeader(r, raw, count, keyText) != 0 || CheckLayout(r) != 0) {
        CloseServedFile(file);
        ClearArchiveRecord(r);
        return -1;
    }
    r->tableBlock = static_cast<uint8_t*>(AllocTrackedMemory(r->tableSize, "", 0));
    if (!r->tableBlock) {
        CloseServedFile(file);
        ClearArchiveRecord(r);
        return AppendLog(L"ＱＵＡアーカイブのテーブルを読み込むメモリの確保に失敗しました\n");
    }
    if (ReadArchiveBytesDeciphered(r, r->tableOffset, r->tableBlock, r->tableSize) != 0) {
        FreeTrackedMemory(r->tableBlock);
        CloseServedFile(file);
        ClearArchiveRecord(r);
        return RefuseArchiveHeader();
    }
    r->tables = r->tableBlock;
    r->currentDirectory = 0;
    return 0;
}

// Finishes a background whole-file load: the file is closed and the image deciphered.
void FinishLoad(ArchiveRecord* r)
{
    // Less than the whole file (it shrank since it was measured): members are kept to
    // what arrived.
    if (r->file->requestDelivered < r->archiveSize) {
        AppendLog(L"ＱＵＡアーカイブのファイルデータが壊れています\n");
        r->archiveSize = r->file->requestDelivered;
    }
    CloseServedFile(r->file);
    r->file = nullptr;
    ScrambleArchiveBytes(r->key, r->image, r->archiveSize, 0);
    r->pendingRead = 0;
}

bool NameRecordMatches(const ArchiveRecord* r, uint32_t nameOffset, const ArchiveSearchName* name)
{
    uint16_t words = 0;
    const uint8_t* record = ArchiveNameRecord(r, nameOffset, &words);
    return record && words == name->words && ReadLe16(record + 2) == name->checkSum &&
           std::memcmp(record + 4, name->name, size_t(words) * 4) == 0;
}

// The first entry of the current directory whose name matches, directories or files as
// asked. 0, or -1.
int FindInCurrentDirectory(ArchiveRecord* r, const ArchiveSearchName* name, bool directory, ArchiveFileEntry* out)
{
    ArchiveDirectory d;
    if (ReadArchiveDirectory(r, r->currentDirectory, &d) != 0) return -1;
    for (uint32_t i = 0; i < d.count; ++i) {
        ArchiveFileEntry e;
        ReadArchiveEntry(r, &d, i, &e);
        const bool isDirectory = (e.attributes & kArchiveDirectoryAttribute) != 0;
        if (isDirectory == directory && NameRecordMatches(r, e.nameOffset, name)) {
            *out = e;
            return 0;
        }
    }
    return -1;
}

// The bytes of the element at path (up to its first separator), double-byte characters
// whole.
int ElementBytes(const char* path, int codeFormat)
{
    int n = 0;
    while (path[n] != 0 && !IsSeparator(path[n])) n += CharacterBytes(path + n, codeFormat);
    return n;
}

enum WalkResult { kWalkEntered, kWalkStoppedAtLast, kWalkStoppedBefore };

// Enters path's elements one by one from the current directory (a leading separator
// starts at the root; "." stays and ".." goes up). The walk stops at the first element
// that cannot be entered, with its search form in last; the current directory is where
// the walk stopped. Whether that element was the path's last one tells a name in an
// existing directory from a path through a missing one.
WalkResult WalkArchivePath(ArchiveRecord* r, const char* path, ArchiveSearchName* last)
{
    const char* p = path;
    if (IsSeparator(*p)) {
        r->currentDirectory = 0;
        ++p;
    }
    while (*p != 0) {
        const int length = ElementBytes(p, r->codeFormat);
        const bool isLast = p[length] == 0;
        if (length == 0) {  // "a\\b": an empty element is no step
            ++p;
            continue;
        }
        if (BuildArchiveSearchName(p, r->codeFormat, last) != 0) return kWalkStoppedBefore;
        bool entered = true;
        if (length == 1 && p[0] == '.') {
        } else if (length == 2 && p[0] == '.' && p[1] == '.') {
            ArchiveDirectory d;
            entered = ReadArchiveDirectory(r, r->currentDirectory, &d) == 0 && d.parent != kArchiveNoParent &&
                      ReadArchiveDirectory(r, d.parent, &d) == 0;
            if (entered) r->currentDirectory = d.offset;
        } else {
            entered = EnterArchiveSubdirectory(r, last) == 0;
        }
        if (!entered) return isLast ? kWalkStoppedAtLast : kWalkStoppedBefore;
        p += length;
        if (*p != 0) ++p;  // the separator; a trailing one ends the walk
    }
    return kWalkEntered;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Shared with the other archive sources (archive_internal.h)
// ---------------------------------------------------------------------------------------

int RefuseArchiveHeader() { return AppendLog(L"ＱＵＡアーカイブのヘッダが壊れています\n"); }

int RefuseArchiveTable() { return AppendLog(L"ＱＵＡアーカイブのファイルテーブルが壊れています\n"); }

const uint8_t* ArchiveTableBytes(const ArchiveRecord* r, uint64_t offset, uint64_t length)
{
    if (offset + length > r->tableSize) return nullptr;
    return r->tables + offset;
}

int ReadArchiveDirectory(const ArchiveRecord* r, uint32_t offset, ArchiveDirectory* out)
{
    const uint8_t* p = ArchiveTableBytes(r, uint64_t(r->directoryTableOffset) + offset, kDirectoryRecordBytes);
    if (!p) return RefuseArchiveTable();
    out->offset = offset;
    out->parent = ReadLe32(p + 4);
    out->count = ReadLe32(p + 8);
    out->firstEntry = ReadLe32(p + 12);
    if (!ArchiveTableBytes(r, uint64_t(r->fileTableOffset) + out->firstEntry,
                           uint64_t(out->count) * ArchiveEntryBytes(r)))
        return RefuseArchiveTable();
    return 0;
}

uint32_t ArchiveEntryBytes(const ArchiveRecord* r) { return r->version >= 2 ? 44 : 40; }

void ReadArchiveEntry(const ArchiveRecord* r, const ArchiveDirectory* d, uint32_t index, ArchiveFileEntry* out)
{
    const uint8_t* p = r->tables + r->fileTableOffset + d->firstEntry + uint64_t(index) * ArchiveEntryBytes(r);
    out->nameOffset = ReadLe32(p);
    out->attributes = ReadLe32(p + 4);
    out->creationTime = ReadLe64(p + 8);
    out->lastWriteTime = ReadLe64(p + 24);
    out->dataOffset = ReadLe32(p + 32);
    out->size = ReadLe32(p + 36);
    out->compressedSize = r->version >= 2 ? ReadLe32(p + 40) : kArchiveStored;
}

const uint8_t* ArchiveNameRecord(const ArchiveRecord* r, uint32_t nameOffset, uint16_t* words)
{
    const uint8_t* head = ArchiveTableBytes(r, nameOffset, 4);
    if (!head || !ArchiveTableBytes(r, nameOffset, 4 + uint64_t(ReadLe16(head)) * 8)) {
        RefuseArchiveTable();
        return nullptr;
    }
    *words = ReadLe16(head);
    return head;
}

int ReadArchiveBytesDeciphered(ArchiveRecord* r, uint32_t offset, void* buffer, uint32_t length)
{
    if (length == 0) return 0;
    if (ReadServedFileAt(r->file, buffer, offset, length) != length) return -1;
    ScrambleArchiveBytes(r->key, buffer, length, offset);
    return 0;
}

void StartArchiveRead(ArchiveRecord* r, uint32_t offset, void* buffer, uint32_t length)
{
    ServedFile* file = r->file;
    if (file->position != offset) SeekServedFile(file, static_cast<int32_t>(offset), 0);
    ReadServedFile(buffer, 1, length, file);
}

void FinishPendingArchiveLoad(ArchiveRecord* r)
{
    while (!PollArchiveImageRead(r)) WaitForServedFile(r->file);
}

void UpperCaseArchiveName(char* text, int codeFormat)
{
    for (char* p = text; *p != 0;) {
        const int bytes = CharacterBytes(p, codeFormat);
        if (bytes == 1 && *p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
        p += bytes;
    }
}

// ---------------------------------------------------------------------------------------
// Records and openings
// ---------------------------------------------------------------------------------------

int ClearArchiveRecord(ArchiveRecord* record)
{
    std::memset(record, 0, sizeof *record);
    return 0;
}

int OpenArchiveImage(ArchiveRecord* record, void* image, uint32_t size, const char* keyText)
{
    if (HasSource(record)) return -1;
    uint8_t* bytes = static_cast<uint8_t*>(image);
    // The header is checked on a copy: the caller's image is deciphered only once it is
    // known to be an archive, and enciphered again if its tables turn out damaged.
    if (!bytes || CheckHeader(record, bytes, size < kFullHeaderBytes ? size : kFullHeaderBytes, keyText) != 0) {
        ClearArchiveRecord(record);
        return -1;
    }
    record->archiveSize = size;
    if (CheckLayout(record) != 0) {
        ClearArchiveRecord(record);
        return -1;
    }
    ScrambleArchiveBytes(record->key, bytes, size, 0);
    record->image = bytes;
    record->tables = bytes + record->tableOffset;
    record->currentDirectory = 0;
    record->inMemory = 1;
    record->callerOwned = 1;
    ArchiveDirectory root;
    if (ReadArchiveDirectory(record, 0, &root) != 0) {
        ScrambleArchiveBytes(record->key, bytes, size, 0);
        ClearArchiveRecord(record);
        return -1;
    }
    return 0;
}

namespace {

// Opens the file's tables and reads its root directory; on failure no source stays open.
int OpenArchiveFileSource(ArchiveRecord* record, const wchar_t* path, const char* keyText)
{
    if (HasSource(record) || OpenFileTables(record, path, keyText) != 0) return -1;
    ArchiveDirectory root;
    if (ReadArchiveDirectory(record, 0, &root) != 0) {
        CloseArchiveSource(record);
        return -1;
    }
    return 0;
}

}  // namespace

int OpenArchiveFileForReading(ArchiveRecord* record, const wchar_t* path, const char* keyText)
{
    return OpenArchiveFileSource(record, path, keyText);
}

int LoadArchiveFileToMemory(ArchiveRecord* record, const wchar_t* path, const char* keyText, int asynchronous)
{
    if (OpenArchiveFileSource(record, path, keyText) != 0) return -1;
    record->image = static_cast<uint8_t*>(AllocTrackedMemory(record->archiveSize, "", 0));
    if (!record->image) {
        CloseArchiveSource(record);
        return AppendLog(L"ＱＵＡアーカイブを読み込むメモリの確保に失敗しました\n");
    }
    record->inMemory = 1;
    record->callerOwned = 0;
    StartArchiveRead(record, 0, record->image, record->archiveSize);
    record->pendingRead = 1;
    if (!asynchronous) FinishPendingArchiveLoad(record);
    return 0;
}

int PollArchiveImageRead(ArchiveRecord* record)
{
    if (!record->pendingRead) return 1;
    if (!IsServedFileIdle(record->file)) return 0;
    FinishLoad(record);
    return 1;
}

uint8_t* GetArchiveImagePointer(ArchiveRecord* record)
{
    FinishPendingArchiveLoad(record);
    return record->inMemory ? record->image : nullptr;
}

int CloseArchiveSource(ArchiveRecord* record)
{
    if (!HasSource(record)) return 0;
    FinishPendingArchiveLoad(record);
    if (record->file) CloseServedFile(record->file);
    FreeTrackedMemory(record->tableBlock);
    if (record->image) {
        if (record->callerOwned) ScrambleArchiveBytes(record->key, record->image, record->archiveSize, 0);
        else FreeTrackedMemory(record->image);
    }
    return ClearArchiveRecord(record);
}

int ReleaseArchiveRecord(ArchiveRecord* record)
{
    CloseArchiveSource(record);
    return ClearArchiveRecord(record);
}

// ---------------------------------------------------------------------------------------
// Names, directories and lookups
// ---------------------------------------------------------------------------------------

int BuildArchiveSearchName(const char* element, int codeFormat, ArchiveSearchName* out)
{
    std::memset(out->name, 0, sizeof out->name);
    uint32_t sum = 0;
    int n = 0;
    for (const char* p = element; *p != 0 && !IsSeparator(*p);) {
        const int bytes = CharacterBytes(p, codeFormat);
        // At least one zero byte follows the name within its padded length.
        if (n + bytes >= kArchiveSearchBytes) {
            out->words = 0;
            out->checkSum = 0;
            return RefuseLongPath();
        }
        for (int k = 0; k < bytes; ++k) {
            uint8_t c = static_cast<uint8_t>(p[k]);
            if (bytes == 1 && c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 'a' + 'A');
            out->name[n++] = c;
            sum += c;
        }
        p += bytes;
    }
    out->words = static_cast<uint16_t>(((n + 4) & ~3) / 4);
    out->checkSum = static_cast<uint16_t>(sum);
    return 0;
}

int MakeArchiveSearchName(ArchiveRecord* record, const char* element, ArchiveSearchName* out)
{
    return BuildArchiveSearchName(element, record->codeFormat, out);
}

int EnterArchiveSubdirectory(ArchiveRecord* record, const ArchiveSearchName* name)
{
    ArchiveFileEntry e;
    ArchiveDirectory target;
    if (FindInCurrentDirectory(record, name, true, &e) != 0 || ReadArchiveDirectory(record, e.dataOffset, &target) != 0)
        return -1;
    record->currentDirectory = e.dataOffset;
    return 0;
}

int ChangeArchiveDirectory(ArchiveRecord* record, const char* path, int restore, ArchiveSearchName* last)
{
    if (path[0] == '.' && path[1] == 0) return 0;
    if (IsSeparator(path[0]) && path[1] == 0) {
        record->currentDirectory = 0;
        return 0;
    }
    ArchiveSearchName scratch;
    const uint32_t saved = record->currentDirectory;
    if (WalkArchivePath(record, path, last ? last : &scratch) != kWalkEntered) {
        if (restore) record->currentDirectory = saved;
        return -1;
    }
    return 0;
}

int FindArchiveFileEntry(const char* path, ArchiveRecord* record, ArchiveFileEntry* out)
{
    const uint32_t saved = record->currentDirectory;
    ArchiveSearchName name;
    int result = -1;
    // A path through a directory that is not there finds nothing, even when a file of
    // that directory's name is there; a path that names a directory finds nothing.
    if (WalkArchivePath(record, path, &name) == kWalkStoppedAtLast)
        result = FindInCurrentDirectory(record, &name, false, out);
    record->currentDirectory = saved;
    return result;
}

int FindArchiveMember(ArchiveRecord* r, const char* path, ArchiveFileEntry* e, uint32_t* start, uint32_t* stored)
{
    FinishPendingArchiveLoad(r);
    if (FindArchiveFileEntry(path, r, e) != 0 || ArchiveMemberRange(r, e, start, stored) != 0) return -1;
    return 0;
}

int LocateArchiveEntry(ArchiveRecord* record, const char* path, uint32_t* position, uint32_t* size)
{
    ArchiveFileEntry e;
    uint32_t start = 0;
    uint32_t stored = 0;
    if (FindArchiveMember(record, path, &e, &start, &stored) != 0) return -1;
    if (position) *position = start;
    if (size) *size = stored;
    return 0;
}

int ArchiveMemberRange(const ArchiveRecord* r, const ArchiveFileEntry* e, uint32_t* start, uint32_t* stored)
{
    const uint32_t bytes = e->compressedSize == kArchiveStored ? e->size : e->compressedSize;
    const uint64_t first = uint64_t(r->dataStart) + e->dataOffset;
    if (first + bytes > r->archiveSize) return AppendLog(L"ＱＵＡアーカイブのファイルデータが壊れています\n");
    *start = static_cast<uint32_t>(first);
    *stored = bytes;
    return 0;
}

int SplitPathLastElement(ArchiveRecord* record, char* directory, char* name, const char* path)
{
    int split = -1;
    int length = 0;
    while (path[length] != 0) {
        const char c = path[length];
        if (IsSeparator(c) || c == ':') split = length;
        length += CharacterBytes(path + length, record->codeFormat);
    }
    // The directory part keeps its separator, so that "\x" lists the root.
    const int directoryBytes = split + 1;
    const int nameBytes = length - directoryBytes;
    if (directoryBytes >= kArchiveSearchBytes || nameBytes >= kArchiveSearchBytes) {
        directory[0] = 0;
        name[0] = 0;
        return RefuseLongPath();
    }
    std::memcpy(directory, path, size_t(directoryBytes));
    directory[directoryBytes] = 0;
    std::memcpy(name, path + directoryBytes, size_t(nameBytes) + 1);
    return 0;
}

int MatchWildcardName(const char* pattern, const char* name, int codeFormat)
{
    const char* p = pattern;
    const char* n = name;
    const char* starPattern = nullptr;  // just after the last run of "*"
    const char* starName = nullptr;     // where that run's match ends so far
    while (*n != 0) {
        if (*p == '*') {
            while (*p == '*') ++p;
            starPattern = p;
            starName = n;
            continue;
        }
        const int nameBytes = CharacterBytes(n, codeFormat);
        if (*p != 0) {
            const int patternBytes = CharacterBytes(p, codeFormat);
            if ((patternBytes == 1 && *p == '?') ||
                (patternBytes == nameBytes && std::memcmp(p, n, size_t(nameBytes)) == 0)) {
                p += patternBytes;
                n += nameBytes;
                continue;
            }
        }
        if (!starPattern) return -1;
        // Let the last "*" take one more character and try again from there.
        starName += CharacterBytes(starName, codeFormat);
        n = starName;
        p = starPattern;
    }
    while (*p == '*') ++p;
    return *p == 0 ? 0 : -1;
}

// ---------------------------------------------------------------------------------------
// Shared archives
// ---------------------------------------------------------------------------------------

int OpenSharedArchive(int hint, const wchar_t* path, int loadWhole, int asynchronous)
{
    if (CountWideUnits(path) >= kArchivePathUnits) return RefuseLongPath();
    if (hint >= 0 && hint < kArchiveSharedSlots && s_sharedArchives[hint] &&
        CompareWideStrings(s_sharedArchives[hint]->path, path) == 0) {
        ++s_sharedArchives[hint]->useCount;
        return hint;
    }
    for (int i = 0; i < kArchiveSharedSlots; ++i) {
        if (s_sharedArchives[i] && CompareWideStrings(s_sharedArchives[i]->path, path) == 0) {
            ++s_sharedArchives[i]->useCount;
            return i;
        }
    }
    if (s_sharedArchiveCount >= kArchiveSharedSlots) {
        CloseUnusedArchives();
        if (s_sharedArchiveCount >= kArchiveSharedSlots) return -1;
    }
    SharedArchive* entry = static_cast<SharedArchive*>(AllocTrackedMemoryZeroed(sizeof(SharedArchive), "", 0));
    if (!entry) return AppendLog(L"ＱＵＡアーカイブの情報を格納するメモリの確保に失敗しました\n");
    const int opened = loadWhole ? LoadArchiveFileToMemory(&entry->record, path, nullptr, asynchronous)
                                 : OpenArchiveFileForReading(&entry->record, path, nullptr);
    if (opened != 0) {
        FreeTrackedMemory(entry);
        return -1;
    }
    entry->useCount = 1;
    CopyWideString(entry->path, path);
    int slot = 0;
    while (s_sharedArchives[slot]) ++slot;
    s_sharedArchives[slot] = entry;
    ++s_sharedArchiveCount;
    return slot;
}

ArchiveRecord* GetSharedArchive(int index)
{
    if (index < 0 || index >= kArchiveSharedSlots || !s_sharedArchives[index]) return nullptr;
    return &s_sharedArchives[index]->record;
}

void ReleaseSharedArchiveUse(int index)
{
    if (index >= 0 && index < kArchiveSharedSlots && s_sharedArchives[index] && s_sharedArchives[index]->useCount > 0)
        --s_sharedArchives[index]->useCount;
}

void CloseUnusedArchives()
{
    for (int i = 0; i < kArchiveSharedSlots; ++i) {
        SharedArchive* entry = s_sharedArchives[i];
        if (!entry || entry->useCount > 0) continue;
        CloseArchiveSource(&entry->record);
        FreeTrackedMemory(entry);
        s_sharedArchives[i] = nullptr;
        --s_sharedArchiveCount;
    }
}

int ReleaseIdleArchives()
{
    CloseUnusedArchives();
    return 0;
}

int CountSharedArchives() { return s_sharedArchiveCount; }
