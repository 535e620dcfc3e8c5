// QUA archives: a directory tree of files packed into one file or one block of memory,
// enciphered, with members stored as they are or compressed in the library's own LZ
// format, and name tables made for case-insensitive lookup. Archives are read from a
// file (tables in memory, member data read on demand), from a file loaded whole into
// memory (optionally in the background), or from an image that the caller holds.
//
// Archive data is not trusted: every offset, count and length read from an archive is
// checked against the bytes that hold it, and a damaged archive is refused with a log
// line and the function's failure value.
//
// The layout (all integers little-endian):
//   header at 0: "QU", u16 version (0 to 4), u32 table-block size, u32 data start, u32
//     table-block offset, u32 file-table offset and u32 directory-table offset (both
//     within the table block), and from version 4 on u32 code page of the names (28
//     bytes; 24 before).
//   name record (name table at the block's offset 0): u16 L, u16 sum of the upper-cased
//     name's bytes, L x 4 bytes of the upper-cased name, L x 4 bytes of the name as
//     written, each zero-padded to (length + 4) rounded down to a multiple of 4.
//   file entry (40 bytes, 44 from version 2): u32 name offset, u32 attributes (0x10 a
//     directory), u64 creation time, u64 last access time, u64 last write time, u32 data
//     offset from the data start (a directory: its record's offset in the directory
//     table), u32 size, and from version 2 u32 compressed size (0xFFFFFFFF: stored).
//   directory record (16 bytes; the root at offset 0): u32 unused, u32 parent's offset
//     (0xFFFFFFFF at the root), u32 entry count, u32 first entry's offset in the file
//     table (the entries are consecutive).
//   LZ block: u32 decompressed size, u32 block size with this 9-byte head, u8 escape
//     byte E, then the code stream: a byte other than E is a literal; E E is the literal
//     E; E c is a match (c above E is lowered by 1): length (c >> 3, with bit 2 set one
//     more byte b gives (c >> 3) | (b << 5)) + 4, then a distance - 1 of (c & 3) + 1
//     bytes; the match copies from distance bytes back, byte after byte.
//   Every byte of an archive is enciphered by ScrambleArchiveBytes at its offset.
#pragma once

#include <cstdint>

#include "quarn/core/files.h"

enum : int32_t {
    kArchiveKeyBytes = 12,
    kArchiveSearchBytes = 1024,  // longest upper-cased, padded name
    kArchiveMaxVersion = 4,
    kArchiveSharedSlots = 512,
    kArchivePathUnits = kFilePathUnits + 4,  // a full path's prefix and ".QUA"
    kArchiveInPathBytes = 512,               // a path inside an archive, 8-bit
    kArchiveHeaderBytes = 28,                // from version 4; 24 before
    kLzHeadBytes = 9,
};

constexpr uint32_t kArchiveStored = 0xFFFFFFFFu;  // compressed size of a stored member
constexpr uint32_t kArchiveNoParent = 0xFFFFFFFFu;
constexpr uint32_t kArchiveDirectoryAttribute = 0x10;

// A name as lookups compare it: upper-cased, zero-padded to 4L bytes, with its check sum.
struct ArchiveSearchName {
    uint8_t name[kArchiveSearchBytes];
    uint16_t checkSum;
    uint16_t words;  // L
};

// One file entry as read from the file table.
struct ArchiveFileEntry {
    uint32_t nameOffset;
    uint32_t attributes;
    uint64_t creationTime;   // FILETIME
    uint64_t lastWriteTime;  // FILETIME
    uint32_t dataOffset;     // from the data start; a directory's record offset
    uint32_t size;
    uint32_t compressedSize;  // kArchiveStored for a stored member (and before version 2)
};

// One open archive; all zero while closed.
struct ArchiveRecord {
    uint16_t version;
    uint32_t tableSize;
    uint32_t dataStart;
    uint32_t tableOffset;
    uint32_t fileTableOffset;
    uint32_t directoryTableOffset;
    uint32_t codePage;          // 0 before version 4
    int32_t codeFormat;         // character-code format of the names
    uint8_t* image;             // an archive in memory, deciphered
    ServedFile* file;           // a file archive, or a whole-file load while it is pending
    uint8_t* tableBlock;        // owned; null for a caller's image
    const uint8_t* tables;      // the table block, wherever it lies
    uint32_t currentDirectory;  // its record's offset in the directory table
    uint8_t key[kArchiveKeyBytes];
    int32_t inMemory;
    int32_t callerOwned;
    uint32_t archiveSize;  // the image's size, or the archive file's
    int32_t pendingRead;
};

// One member file open for reading.
struct ArchiveMember {
    ArchiveRecord* record;
    ArchiveFileEntry entry;
    uint8_t* data;        // a compressed member, decompressed; null for a stored one
    uint8_t* compressed;  // while its background read is pending
    int32_t endFlag;
    uint32_t position;
    int32_t asynchronous;
    int32_t pendingKind;  // 0 none, 1 compressed data being read, 2 stored data being read
    uint32_t pendingOffset;
    uint8_t* pendingBuffer;
    uint32_t pendingLength;
    int32_t damaged;  // its data could not be decompressed: reads give nothing
};

// A directory listing inside an archive.
struct ArchiveFindState {
    ArchiveRecord* record;
    char pattern[kArchiveSearchBytes];  // upper-cased
    uint32_t directory;                 // the listed directory's record offset
    int32_t next;                       // 0 ".", 1 "..", then the entries from 2
};

// Cipher. DeriveArchiveKey makes the key of a key text, or the default key for null or
// an empty text. Scrambling is its own inverse: it enciphers plain bytes and deciphers
// enciphered ones, given the buffer's offset in the archive.
void DeriveArchiveKey(const char* keyText, uint8_t key[kArchiveKeyBytes]);
// The key the readers try when the derived one does not give "QU": the plain key, under
// which bytes are stored as they are.
void BuildFallbackArchiveKey(uint8_t key[kArchiveKeyBytes]);
void ScrambleArchiveBytes(const uint8_t key[kArchiveKeyBytes], void* buffer, uint32_t size, uint32_t offset);

// The decompressed size of an LZ block of at most available bytes, or -1 and a log line
// for a damaged block. With a null destination only the head is checked: a block size
// outside the bytes given, or a stated size that no code stream of that length could
// produce, is refused, so the size is safe to allocate. With a destination it decodes,
// and refuses a block that claims more than capacity, runs past its own bytes, refers
// before the start of its output, or does not produce exactly its stated size.
int64_t DecompressArchiveData(const void* block, uint32_t available, void* destination, uint32_t capacity);

int ClearArchiveRecord(ArchiveRecord* record);
// Deciphers the caller's image in place and reads from it; on failure the image is left
// as it was. 0, or -1.
int OpenArchiveImage(ArchiveRecord* record, void* image, uint32_t size, const char* keyText);
int LoadArchiveFileToMemory(ArchiveRecord* record, const wchar_t* path, const char* keyText, int asynchronous);
int OpenArchiveFileForReading(ArchiveRecord* record, const wchar_t* path, const char* keyText);
// 1 when no background load is pending (finishing one that is done), else 0.
int PollArchiveImageRead(ArchiveRecord* record);
// The image of an archive in memory (after finishing a pending load), or null.
uint8_t* GetArchiveImagePointer(ArchiveRecord* record);
// Closes the source (a caller's image gets its bytes back enciphered) and zero-fills.
int CloseArchiveSource(ArchiveRecord* record);
int ReleaseArchiveRecord(ArchiveRecord* record);

// Finds a member by its 8-bit path (from the current directory; a leading separator from
// the root). 0 and the archive offset of its data and the bytes stored there (the LZ
// block of a compressed member), or -1.
int LocateArchiveEntry(ArchiveRecord* record, const char* path, uint32_t* position, uint32_t* size);
// The search form of a path element (up to its first separator). 0, or -1 (and a log
// line) when it is longer than a search form holds.
int BuildArchiveSearchName(const char* element, int codeFormat, ArchiveSearchName* out);
int MakeArchiveSearchName(ArchiveRecord* record, const char* element, ArchiveSearchName* out);
// Enters the current directory's subdirectory of that name. 0, or -1.
int EnterArchiveSubdirectory(ArchiveRecord* record, const ArchiveSearchName* name);
// "." stays, "\" or "/" goes to the root, ".." to the parent (-1 at the root); any other
// path is entered element by element. When an element cannot be entered its search form
// goes to last, the old directory comes back when restore is 1, and the result is -1;
// else last holds the last element's form and the result is 0. last may be null.
int ChangeArchiveDirectory(ArchiveRecord* record, const char* path, int restore, ArchiveSearchName* last);
// The member (not a directory) at path. 0, or -1.
int FindArchiveFileEntry(const char* path, ArchiveRecord* record, ArchiveFileEntry* out);
// Splits at the last "\", "/" or ":" (double-byte characters skipped): directory part and
// name, each of kArchiveSearchBytes. 0, or -1 when a part does not fit.
int SplitPathLastElement(ArchiveRecord* record, char* directory, char* name, const char* path);
// "?" matches one character, "*" any run of them; double-byte characters (by codeFormat)
// are single characters. 0 on a match, -1 otherwise.
int MatchWildcardName(const char* pattern, const char* name, int codeFormat);

// Listing: the first and following entries that match the pattern ("." and ".." first,
// ".." not in the root). 0 and info filled (info may be null), or -1 at the end.
int FindFirstInArchive(ArchiveFindState* state, ArchiveRecord* record, const char* pattern, FileInfoRecord* info);
int FillArchiveFindRecord(ArchiveFindState* state, FileInfoRecord* info);

int OpenArchiveMember(ArchiveMember* member, ArchiveRecord* record, const char* path, int asynchronous);
int IsArchiveMemberIdle(ArchiveMember* member);  // 1 unless a background read is pending
int CloseArchiveMember(ArchiveMember* member);
// The bytes read (at most bytes), 0 and the end flag at the end.
int32_t ReadArchiveMember(ArchiveMember* member, void* buffer, uint32_t bytes);
int SeekArchiveMember(ArchiveMember* member, int32_t offset, int origin);  // clamped; 0
int32_t TellArchiveMember(ArchiveMember* member);
int IsArchiveMemberAtEnd(ArchiveMember* member);  // -1 at the end, else 0

// The table of archives shared by the archive-aware file functions. OpenSharedArchive
// gives a slot index and one use of the archive at path (opened with the default key),
// or -1; hint is a slot to try first, or -1.
int OpenSharedArchive(int hint, const wchar_t* path, int loadWhole, int asynchronous);
ArchiveRecord* GetSharedArchive(int index);
// Gives back one use of the archive; it stays open until it is closed as unused.
void ReleaseSharedArchiveUse(int index);
// Closes every archive that has no use.
void CloseUnusedArchives();
int ReleaseIdleArchives();  // the same; 0
int CountSharedArchives();
