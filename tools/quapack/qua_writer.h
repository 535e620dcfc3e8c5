// The project's own QUA archive writer and LZ encoder: builds archive images in memory
// for the build (the embedded shader pack) and for tests. Portable: names are handed in
// as 8-bit text already in the archive's code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quapack {

// An LZ block of the data (head, escape byte and code stream), as the library's
// DecompressArchiveData reads it.
std::vector<uint8_t> EncodeLzBlock(const uint8_t* data, size_t size);

struct Entry {
    std::string path;        // inside the archive; "\" or "/" between elements
    bool directory = false;  // an empty directory (directories of paths are made anyway)
    std::vector<uint8_t> data;
    uint64_t creationTime = 0;  // FILETIME
    uint64_t lastWriteTime = 0;
    // -1 as the options say, 0 stored, 1 compressed even when larger (versions before 2
    // have no compression: their members are always stored).
    int compress = -1;
};

struct Options {
    int version = 4;          // 0 to 4; compression needs 2 or more
    uint32_t codePage = 932;  // the names' code page, written from version 4 on
    std::string keyText;      // empty: the default key
    bool plain = false;       // not enciphered
    bool compress = true;     // compress members that get smaller by it
};

// 0 and the archive's bytes in out, or -1 and a message in error.
int BuildArchive(const std::vector<Entry>& entries, const Options& options, std::vector<uint8_t>& out,
                 std::string* error);

// Reads every file of the archive image back through the library and compares it with
// the entries. 0, or -1 and a message.
int VerifyArchive(const std::vector<uint8_t>& archive, const std::vector<Entry>& entries, const Options& options,
                  std::string* error);

}  // namespace quapack
