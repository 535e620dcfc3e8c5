// What the archive sources share among themselves: checked access to an archive's tables
// and the reads of its file.
#pragma once

#include <cstdint>

#include "quarn/core/archive.h"

// A directory record, read and checked: its entries lie inside the file table.
struct ArchiveDirectory {
    uint32_t offset;  // in the directory table
    uint32_t parent;
    uint32_t count;
    uint32_t firstEntry;  // in the file table
};

// The log lines of a damaged archive; each returns -1.
int RefuseArchiveHeader();
int RefuseArchiveTable();

// Bytes of the table block, or null when they are not all inside it.
const uint8_t* ArchiveTableBytes(const ArchiveRecord* r, uint64_t offset, uint64_t length);
// 0, or -1 (logged) when the record or its entries lie outside the tables.
int ReadArchiveDirectory(const ArchiveRecord* r, uint32_t offset, ArchiveDirectory* out);
uint32_t ArchiveEntryBytes(const ArchiveRecord* r);
// The entry of a checked directory; index below its count.
void ReadArchiveEntry(const ArchiveRecord* r, const ArchiveDirectory* d, uint32_t index, ArchiveFileEntry* out);
// A name record whose upper-cased and written names both lie inside the table block, with
// its L; null (logged) otherwise.
const uint8_t* ArchiveNameRecord(const ArchiveRecord* r, uint32_t nameOffset, uint16_t* words);
// Where a member's bytes start in the archive and how many are stored (the LZ block of a
// compressed member). -1 (logged) when they run past the archive's end.
int ArchiveMemberRange(const ArchiveRecord* r, const ArchiveFileEntry* e, uint32_t* start, uint32_t* stored);
// Finishes any background load, then finds the member at path and where its bytes lie.
// 0, or -1 when it is not there or runs past the archive's end.
int FindArchiveMember(ArchiveRecord* r, const char* path, ArchiveFileEntry* e, uint32_t* start, uint32_t* stored);

// Reads bytes of a file archive and deciphers them, waiting for the file-access thread.
// 0, or -1 when fewer arrived.
int ReadArchiveBytesDeciphered(ArchiveRecord* r, uint32_t offset, void* buffer, uint32_t length);
// Starts a read of a file archive's bytes in the background; they arrive enciphered.
void StartArchiveRead(ArchiveRecord* r, uint32_t offset, void* buffer, uint32_t length);
// Waits for a background whole-file load and finishes it.
void FinishPendingArchiveLoad(ArchiveRecord* r);
// "a" to "z" to "A" to "Z", double-byte characters of the code page untouched.
void UpperCaseArchiveName(char* text, int codeFormat);
