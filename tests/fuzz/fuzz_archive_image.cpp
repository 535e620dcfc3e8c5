// An arbitrary byte image opened as a QUA archive: every directory listed, every entry
// looked up and every member read to its end.
#include "quarn/core/archive.h"
#include "quarn/core/archive_internal.h"

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kMostDirectories = 64;
constexpr int kMostEntries = 1024;

void ReadMember(ArchiveRecord* record, const char* name)
{
    ArchiveMember member;
    if (OpenArchiveMember(&member, record, name, 0) != 0) return;
    uint8_t chunk[4096];
    while (ReadArchiveMember(&member, chunk, sizeof chunk) > 0) {
    }
    SeekArchiveMember(&member, -3, 2);
    ReadArchiveMember(&member, chunk, 2);
    CloseArchiveMember(&member);
}

void ListAll(ArchiveRecord* record, const char* pattern)
{
    ArchiveFindState state;
    FileInfoRecord info;
    int rounds = 0;
    for (int r = FindFirstInArchive(&state, record, pattern, &info); r == 0 && rounds < kMostEntries + 2;
         r = FillArchiveFindRecord(&state, &info))
        ++rounds;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int quiet = EnableLogFile(0);
    (void)quiet;
    std::vector<uint8_t> image(data, data + size);
    ArchiveRecord record;
    ClearArchiveRecord(&record);
    if (OpenArchiveImage(&record, image.data(), uint32_t(image.size()), nullptr) != 0) return 0;
    ListAll(&record, "*");
    ListAll(&record, "\\*.*");

    // Each directory once (damaged tables may loop), each entry by its written name from
    // inside its directory, and by a path from the root.
    std::set<uint32_t> seen;
    std::vector<std::pair<uint32_t, std::string>> queue{{0, ""}};
    int entries = 0;
    for (size_t q = 0; q < queue.size() && q < size_t(kMostDirectories); ++q) {
        const uint32_t directory = queue[q].first;
        const std::string prefix = queue[q].second;
        ArchiveDirectory d;
        if (!seen.insert(directory).second || ReadArchiveDirectory(&record, directory, &d) != 0) continue;
        record.currentDirectory = directory;
        ListAll(&record, "*");
        ListAll(&record, "..\\?*");
        for (uint32_t i = 0; i < d.count && entries < kMostEntries; ++i, ++entries) {
            ArchiveFileEntry e;
            ReadArchiveEntry(&record, &d, i, &e);
            uint16_t words = 0;
            const uint8_t* name = ArchiveNameRecord(&record, e.nameOffset, &words);
            if (!name) continue;
            const char* written = reinterpret_cast<const char*>(name + 4 + 4 * words);
            if (!std::memchr(written, 0, 4 * size_t(words))) continue;
            record.currentDirectory = directory;
            if (e.attributes & kArchiveDirectoryAttribute) {
                queue.push_back({e.dataOffset, prefix + written + "\\"});
                ChangeArchiveDirectory(&record, written, 1, nullptr);
                record.currentDirectory = directory;
                continue;
            }
            ReadMember(&record, written);
            record.currentDirectory = 0;
            const std::string full = "\\" + prefix + written;
            uint32_t position = 0, stored = 0;
            if (LocateArchiveEntry(&record, full.c_str(), &position, &stored) == 0 &&
                uint64_t(position) + stored > image.size())
                __builtin_trap();
            ReadMember(&record, full.c_str());
        }
    }
    record.currentDirectory = 0;
    CloseArchiveSource(&record);
    // Closing gives the caller its bytes back as they came.
    if (std::memcmp(image.data(), data, size) != 0) __builtin_trap();
    return 0;
}
