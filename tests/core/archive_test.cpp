#include "quarn/core/archive.h"
#include "file_fixture.h"
#include "log_capture.h"
#include "qua_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>

namespace {

// "表示.txt" in code page 932: the first character's second byte is "\".
const std::string kJapaneseName = "\x95\x5C\x8E\xA6.txt";
const std::wstring kJapaneseWide = L"\u8868\u793A.txt";

quapack::Entry File(const std::string& path, std::vector<uint8_t> data, int compress = -1)
{
    quapack::Entry e;
    e.path = path;
    e.data = std::move(data);
    e.compress = compress;
    e.creationTime = 132000000000000000ull;   // 2019
    e.lastWriteTime = 133000000000000000ull;  // 2022
    return e;
}

std::vector<uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

// A tree of members of every kind: stored and compressed, empty, nested, and (in
// version 4) a name in code page 932.
std::vector<quapack::Entry> SampleEntries(int version)
{
    std::vector<quapack::Entry> entries = {
        File("a.txt", Text("hello")),
        File("big.txt", TextLikeBytes(50000, 1)),
        File("empty.bin", {}),
        File("noise.bin", RandomBytes(5000, 2)),
        File("data/img/a.png", RandomBytes(3000, 3), 0),
        File("data/img/b.PNG", TextLikeBytes(4000, 4), 1),
        File("data/x.png", TextLikeBytes(700, 5)),
        File("data\\a.b.png", Text("dots")),
        File("sub/deeper/deepest/c.txt", TextLikeBytes(20000, 6)),
        File("sub/file", Text("a file, not a directory")),
    };
    quapack::Entry dir;
    dir.path = "emptydir";
    dir.directory = true;
    entries.push_back(dir);
    if (version >= 4) entries.push_back(File(kJapaneseName, Text("japanese")));
    return entries;
}

std::vector<uint8_t> BuildImage(const std::vector<quapack::Entry>& entries, const quapack::Options& options)
{
    std::vector<uint8_t> image;
    std::string error;
    EXPECT_EQ(quapack::BuildArchive(entries, options, image, &error), 0) << error;
    return image;
}

quapack::Options Plain(int version = 4)
{
    quapack::Options o;
    o.version = version;
    o.plain = true;
    return o;
}

std::vector<uint8_t> ReadMember(ArchiveRecord* record, const std::string& path)
{
    ArchiveMember m;
    std::vector<uint8_t> out;
    if (OpenArchiveMember(&m, record, path.c_str(), 0) != 0) return {0xEE, 0xEE};
    uint8_t chunk[777];
    for (int32_t got; (got = ReadArchiveMember(&m, chunk, sizeof chunk)) > 0;)
        out.insert(out.end(), chunk, chunk + got);
    EXPECT_EQ(IsArchiveMemberAtEnd(&m), -1);
    CloseArchiveMember(&m);
    return out;
}

// Every name a listing of the pattern gives, "." and ".." included.
std::set<std::wstring> List(ArchiveRecord* record, const char* pattern,
                            std::map<std::wstring, FileInfoRecord>* infos = nullptr)
{
    std::set<std::wstring> names;
    ArchiveFindState state;
    FileInfoRecord info;
    for (int r = FindFirstInArchive(&state, record, pattern, &info); r == 0; r = FillArchiveFindRecord(&state, &info)) {
        EXPECT_TRUE(names.insert(info.name).second) << "listed twice";
        if (infos) (*infos)[info.name] = info;
        if (names.size() > 100) break;
    }
    return names;
}

TEST(ArchiveCipher, IsItsOwnInverseAndDependsOnlyOnKeyAndOffset)
{
    const std::vector<uint8_t> plain = RandomBytes(1000, 1);
    uint8_t defaultKey[kArchiveKeyBytes], textKey[kArchiveKeyBytes], fallback[kArchiveKeyBytes];
    DeriveArchiveKey(nullptr, defaultKey);
    DeriveArchiveKey("secret", textKey);
    BuildFallbackArchiveKey(fallback);
    EXPECT_NE(std::memcmp(defaultKey, textKey, kArchiveKeyBytes), 0);

    std::vector<uint8_t> whole = plain;
    ScrambleArchiveBytes(defaultKey, whole.data(), uint32_t(whole.size()), 0);
    int unchanged = 0;
    for (size_t i = 0; i < plain.size(); ++i) unchanged += whole[i] == plain[i];
    EXPECT_LT(unchanged, 20);

    // Pieces at any offset give the same bytes as the whole, and come back.
    for (uint32_t start : {0u, 1u, 11u, 12u, 47u, 48u, 50u, 500u}) {
        for (uint32_t length : {1u, 5u, 48u, 97u, 400u}) {
            std::vector<uint8_t> piece(plain.begin() + start, plain.begin() + start + length);
            ScrambleArchiveBytes(defaultKey, piece.data(), length, start);
            ASSERT_EQ(0, std::memcmp(piece.data(), whole.data() + start, length)) << start << "+" << length;
            ScrambleArchiveBytes(defaultKey, piece.data(), length, start);
            ASSERT_EQ(0, std::memcmp(piece.data(), plain.data() + start, length));
        }
    }
    std::vector<uint8_t> same = plain;
    ScrambleArchiveBytes(fallback, same.data(), uint32_t(same.size()), 0);
    EXPECT_EQ(same, plain);
}

// The writer's archives in every version, stored and compressed, under the default key, a
// key text and none, read back through the library byte for byte; the caller's image is
// as it was once the archive is closed.
TEST(ArchiveImage, WriterRoundTripInEveryVersionAndKey)
{
    for (int version = 0; version <= 4; ++version) {
        for (int keyKind = 0; keyKind < 3; ++keyKind) {
            for (bool compress : {false, true}) {
                SCOPED_TRACE("version " + std::to_string(version) + " key " + std::to_string(keyKind) +
                             (compress ? " compressed" : " stored"));
                BlockBalance balance;
                quapack::Options options;
                options.version = version;
                options.compress = compress;
                options.plain = keyKind == 2;
                options.keyText = keyKind == 1 ? "secret" : "";
                const std::vector<quapack::Entry> entries = SampleEntries(version);
                std::vector<uint8_t> image = BuildImage(entries, options);
                const std::vector<uint8_t> original = image;
                ArchiveRecord record;
                ClearArchiveRecord(&record);
                ASSERT_EQ(OpenArchiveImage(&record, image.data(), uint32_t(image.size()),
                                           keyKind == 1 ? "secret" : nullptr),
                          0);
                EXPECT_EQ(record.version, version);
                EXPECT_EQ(record.codePage, version >= 4 ? 932u : 0u);
                for (const auto& e : entries) {
                    if (!e.directory) {
                        EXPECT_EQ(ReadMember(&record, e.path), e.data) << e.path;
                    }
                }
                // Compressed members are stored as LZ blocks from version 2 on.
                uint32_t position = 0, stored = 0;
                ASSERT_EQ(LocateArchiveEntry(&record, "big.txt", &position, &stored), 0);
                if (version >= 2 && compress) EXPECT_LT(stored, 25000u);
                else EXPECT_EQ(stored, 50000u);
                EXPECT_EQ(CloseArchiveSource(&record), 0);
                EXPECT_EQ(image, original);
            }
        }
    }
}

// Archives that a reader could not read as meant are not written.
TEST(ArchiveWriter, RefusesWhatNoReaderCouldFind)
{
    const struct {
        const char* name;
        std::vector<quapack::Entry> entries;
        int version;
    } cases[] = {
        {"names equal but for case", {File("a.txt", {}), File("A.TXT", {})}, 4},
        {"a file and a directory of one name", {File("x", {}), File("x/y", {})}, 4},
        {"a directory and a file of one name", {File("x/y", {}), File("X", {})}, 4},
        {"a dot element", {File("a/./b", {})}, 4},
        {"an empty name", {File("\\", {})}, 4},
        {"a name longer than a lookup takes", {File(std::string(kArchiveSearchBytes, 'n'), {})}, 4},
        {"version 5", {File("a", {})}, 5},
    };
    for (const auto& c : cases) {
        quapack::Options options;
        options.version = c.version;
        std::vector<uint8_t> image;
        std::string error;
        EXPECT_EQ(quapack::BuildArchive(c.entries, options, image, &error), -1) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
}

TEST(ArchiveImage, KeyTextMustMatch)
{
    quapack::Options options;
    options.keyText = "secret";
    std::vector<uint8_t> image = BuildImage(SampleEntries(4), options);
    const std::vector<uint8_t> original = image;
    ArchiveRecord record;
    ClearArchiveRecord(&record);
    LogCapture log;
    EXPECT_EQ(OpenArchiveImage(&record, image.data(), uint32_t(image.size()), "other"), -1);
    EXPECT_TRUE(log.Contains(L"ＱＵＡアーカイブではありません\n"));
    EXPECT_EQ(image, original);
}

class ArchiveLookup : public ::testing::Test {
protected:
    void SetUp() override
    {
        image_ = BuildImage(SampleEntries(4), quapack::Options());
        ClearArchiveRecord(&record_);
        ASSERT_EQ(OpenArchiveImage(&record_, image_.data(), uint32_t(image_.size()), nullptr), 0);
    }
    void TearDown() override { CloseArchiveSource(&record_); }

    bool Finds(const char* path)
    {
        ArchiveFileEntry e;
        return FindArchiveFileEntry(path, &record_, &e) == 0;
    }

    std::vector<uint8_t> image_;
    ArchiveRecord record_;
};

TEST_F(ArchiveLookup, FindsMembersWhateverTheCaseAndOnlyFiles)
{
    const struct {
        const char* path;
        bool found;
    } cases[] = {
        {"DATA\\img.PNG", false},  // "img" is a directory
        {"DATA\\img\\A.png", true},
        {"data/IMG/b.png", true},
        {"\\data\\x.png", true},
        {"data\\\\x.png", true},
        {"data\\.\\img\\..\\x.png", true},
        {"data", false},  // a directory names no member
        {"data\\img\\", false},
        {"sub\\file\\c.txt", false},  // through a file, not a directory
        {"sub\\missing\\file", false},
        {"missing\\a.txt", false},  // "a.txt" is in the root, but not in "missing"
        {"..\\a.txt", false},       // no parent above the root
        {"sub/deeper/deepest/C.TXT", true},
        {"\x95\x5C\x8E\xA6.TXT", true},  // "\" inside a double-byte character does not split
        {"\x95\x5C\x8E\xA7.txt", false},
    };
    for (const auto& c : cases) EXPECT_EQ(Finds(c.path), c.found) << c.path;
    EXPECT_EQ(record_.currentDirectory, 0u) << "lookups put the directory back";
}

TEST_F(ArchiveLookup, ChangesDirectoryUpDownAndBack)
{
    ArchiveSearchName last;
    EXPECT_EQ(ChangeArchiveDirectory(&record_, "..", 1, &last), -1);
    EXPECT_EQ(record_.currentDirectory, 0u);
    ASSERT_EQ(ChangeArchiveDirectory(&record_, "data\\img\\", 1, &last), 0);
    EXPECT_TRUE(Finds("a.png"));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(last.name)), "IMG");
    ASSERT_EQ(ChangeArchiveDirectory(&record_, "..", 1, nullptr), 0);
    EXPECT_TRUE(Finds("x.png"));
    const uint32_t data = record_.currentDirectory;
    EXPECT_EQ(ChangeArchiveDirectory(&record_, ".", 1, nullptr), 0);
    EXPECT_EQ(record_.currentDirectory, data);

    // An element that cannot be entered: back where it was with restore, else where the
    // walk stopped.
    EXPECT_EQ(ChangeArchiveDirectory(&record_, "\\sub\\deeper\\nothing\\x", 1, &last), -1);
    EXPECT_EQ(record_.currentDirectory, data);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(last.name)), "NOTHING");
    EXPECT_EQ(ChangeArchiveDirectory(&record_, "\\sub\\deeper\\nothing\\x", 0, &last), -1);
    EXPECT_TRUE(Finds("deepest\\c.txt"));
    EXPECT_EQ(ChangeArchiveDirectory(&record_, "/", 1, nullptr), 0);
    EXPECT_EQ(record_.currentDirectory, 0u);
}

TEST_F(ArchiveLookup, LocatesAnEntryInsideTheImage)
{
    uint32_t position = 0, size = 0;
    ASSERT_EQ(LocateArchiveEntry(&record_, "a.txt", &position, &size), 0);
    ASSERT_EQ(size, 5u);
    EXPECT_EQ(std::memcmp(GetArchiveImagePointer(&record_) + position, "hello", 5), 0);
    EXPECT_EQ(LocateArchiveEntry(&record_, "nothing", &position, &size), -1);
}

TEST_F(ArchiveLookup, ListsWithWildcardsAndEnds)
{
    std::map<std::wstring, FileInfoRecord> infos;
    EXPECT_EQ(List(&record_, "*", &infos),
              (std::set<std::wstring>{L".", L"a.txt", L"big.txt", L"empty.bin", L"noise.bin", L"data", L"sub",
                                      L"emptydir", kJapaneseWide}));
    EXPECT_EQ(infos[L"big.txt"].size, 50000);
    EXPECT_EQ(infos[L"big.txt"].directory, 0);
    EXPECT_EQ(infos[L"data"].directory, 1);
    EXPECT_EQ(infos[L"."].directory, 1);
    EXPECT_EQ(infos[L"big.txt"].lastWriteTime.year, 2022);
    EXPECT_EQ(infos[L"big.txt"].creationTime.year, 2019);

    EXPECT_EQ(List(&record_, "data\\*.png"), (std::set<std::wstring>{L"x.png", L"a.b.png"}));
    EXPECT_EQ(List(&record_, "DATA/IMG/*"), (std::set<std::wstring>{L".", L"..", L"a.png", L"b.PNG"}));
    EXPECT_EQ(List(&record_, "\\sub\\??????"), (std::set<std::wstring>{L"deeper"}));
    EXPECT_EQ(List(&record_, "*.TXT"), (std::set<std::wstring>{L"a.txt", L"big.txt", kJapaneseWide}));
    EXPECT_EQ(List(&record_, "emptydir\\*"), (std::set<std::wstring>{L".", L".."}));
    EXPECT_TRUE(List(&record_, "*.zip").empty());
    ArchiveFindState state;
    EXPECT_EQ(FindFirstInArchive(&state, &record_, "missing\\*", nullptr), -1);
    EXPECT_EQ(record_.currentDirectory, 0u);
}

TEST(MatchWildcardName, MatchesByCharacterWithBacktracking)
{
    const struct {
        const char* pattern;
        const char* name;
        int result;
    } cases[] = {
        {"*.PNG", "A.PNG", 0},
        {"*.PNG", "A.B.PNG", 0},
        {"*A", "BAB", -1},
        {"*A", "BABA", 0},
        {"A*B*C", "AXXBYYBC", 0},
        {"A*B*C", "AXXBYYBCD", -1},
        {"?", "", -1},
        {"?", "X", 0},
        {"??", "X", -1},
        {"*", "", 0},
        {"", "", 0},
        {"", "X", -1},
        {"**X*", "ABXC", 0},
        {".", "..", -1},
        {"*.*", "ABC", -1},
        {"?", "\x95\x5C", 0},  // one double-byte character
        {"??", "\x95\x5C", -1},
        {"?\\", "\x95\x5C", -1},  // its second byte is no character of its own
        {"*\\", "\x95\x5C", -1},
        {"\x95\x5C*", "\x95\x5C\x8E\xA6.TXT", 0},
        {"*\x8E\xA6.TXT", "\x95\x5C\x8E\xA6.TXT", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchWildcardName(c.pattern, c.name, 1), c.result) << c.pattern << " / " << c.name;
}

TEST(ArchiveSearchName, UpperCasesSumsAndRefusesOverLongNames)
{
    ArchiveSearchName s;
    ASSERT_EQ(BuildArchiveSearchName("ab\\c", 1, &s), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s.name)), "AB");
    EXPECT_EQ(s.words, 1);
    EXPECT_EQ(s.checkSum, 'A' + 'B');
    ASSERT_EQ(BuildArchiveSearchName("\x95\x5Cz", 1, &s), 0);  // the trail "\" is kept
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s.name)), "\x95\x5CZ");
    EXPECT_EQ(s.words, 1);
    ASSERT_EQ(BuildArchiveSearchName("abcd", 1, &s), 0);
    EXPECT_EQ(s.words, 2);  // at least one zero byte follows the name

    LogCapture log;
    const std::string longest(kArchiveSearchBytes - 1, 'n');
    ASSERT_EQ(BuildArchiveSearchName(longest.c_str(), 1, &s), 0);
    EXPECT_EQ(s.words, kArchiveSearchBytes / 4);
    EXPECT_FALSE(log.Contains(L"ファイルパスが長すぎます"));
    EXPECT_EQ(BuildArchiveSearchName((longest + "n").c_str(), 1, &s), -1);
    EXPECT_TRUE(log.Contains(L"ファイルパスが長すぎます\n"));
}

TEST_F(ArchiveLookup, RefusesOverLongPaths)
{
    LogCapture log;
    const std::string name(kArchiveSearchBytes + 50, 'x');
    EXPECT_FALSE(Finds(name.c_str()));
    EXPECT_FALSE(Finds(("data\\" + name + "\\a").c_str()));
    ArchiveFindState state;
    EXPECT_EQ(FindFirstInArchive(&state, &record_, (name + "\\*").c_str(), nullptr), -1);
    EXPECT_TRUE(log.Contains(L"ファイルパスが長すぎます\n"));
}

TEST_F(ArchiveLookup, MembersReadSeekAndEnd)
{
    ArchiveMember m;
    ASSERT_EQ(OpenArchiveMember(&m, &record_, "empty.bin", 0), 0);
    uint8_t b[8];
    EXPECT_EQ(IsArchiveMemberAtEnd(&m), 0);
    EXPECT_EQ(ReadArchiveMember(&m, b, sizeof b), 0);
    EXPECT_EQ(IsArchiveMemberAtEnd(&m), -1);
    CloseArchiveMember(&m);

    const std::vector<uint8_t> big = TextLikeBytes(50000, 1);
    ASSERT_EQ(OpenArchiveMember(&m, &record_, "big.txt", 0), 0);
    const struct {
        int32_t offset;
        int origin;
        uint32_t position;
    } seeks[] = {{-5, 0, 0}, {60000, 0, 50000}, {-8, 2, 49992}, {100, 1, 50000}, {-49000, 1, 1000}};
    for (const auto& s : seeks) {
        EXPECT_EQ(SeekArchiveMember(&m, s.offset, s.origin), 0);
        EXPECT_EQ(TellArchiveMember(&m), int32_t(s.position));
        EXPECT_EQ(IsArchiveMemberAtEnd(&m), 0);
        if (s.position < 50000) {
            ASSERT_EQ(ReadArchiveMember(&m, b, sizeof b), 8);
            EXPECT_EQ(std::memcmp(b, big.data() + s.position, 8), 0);
            SeekArchiveMember(&m, -8, 1);
        }
    }
    CloseArchiveMember(&m);
    EXPECT_EQ(OpenArchiveMember(&m, &record_, "data", 0), -1);
}

// ---------------------------------------------------------------------------------------
// Damaged archives
// ---------------------------------------------------------------------------------------

void Put32(std::vector<uint8_t>& image, size_t at, uint32_t value)
{
    for (int k = 0; k < 4; ++k) image[at + k] = uint8_t(value >> (8 * k));
}

uint32_t Get32(const std::vector<uint8_t>& image, size_t at)
{
    return uint32_t(image[at]) | uint32_t(image[at + 1]) << 8 | uint32_t(image[at + 2]) << 16 |
           uint32_t(image[at + 3]) << 24;
}

// A small plain archive of version 4 whose fields the cases change: root entries a.txt,
// big.txt (compressed), sub; sub holding c.txt.
struct SmallArchive {
    std::vector<uint8_t> image;
    size_t table, files, directories;
    static constexpr size_t kEntry = 44;

    SmallArchive()
    {
        image = BuildImage({File("a.txt", Text("hello")), File("big.txt", TextLikeBytes(3000, 1), 1),
                            File("sub/c.txt", Text("c"))},
                           Plain());
        table = Get32(image, 12);
        files = table + Get32(image, 16);
        directories = table + Get32(image, 20);
    }
    size_t Entry(int index) const { return files + kEntry * size_t(index); }
};

TEST(DamagedArchive, IsRefusedWithItsLogLineAndTheImageKept)
{
    const SmallArchive base;
    const uint32_t size = uint32_t(base.image.size());
    const std::wstring kNotArchive = L"ＱＵＡアーカイブではありません\n";
    const std::wstring kVersion = L"対応していないバージョンのＱＵＡアーカイブです\n";
    const std::wstring kHeader = L"ＱＵＡアーカイブのヘッダが壊れています\n";
    const std::wstring kTable = L"ＱＵＡアーカイブのファイルテーブルが壊れています\n";
    const std::wstring kData = L"ＱＵＡアーカイブのファイルデータが壊れています\n";
    const std::wstring kLz = L"圧縮データが壊れています\n";
    const struct {
        const char* name;
        std::function<void(std::vector<uint8_t>&, const SmallArchive&)> damage;
        const char* failingStep;  // "open", or the member whose opening fails
        std::wstring line;
    } cases[] = {
        {"wrong magic", [](auto& i, auto&) { i[1] = 'V'; }, "open", kNotArchive},
        {"cut inside the magic", [](auto& i, auto&) { i.resize(5); }, "open", kNotArchive},
        {"version 5", [](auto& i, auto&) { i[2] = 5; }, "open", kVersion},
        {"cut inside the header", [](auto& i, auto&) { i.resize(26); }, "open", kHeader},
        {"table block past the end", [size](auto& i, auto&) { Put32(i, 12, size - 10); }, "open", kHeader},
        {"table size past the end", [](auto& i, auto&) { Put32(i, 4, 0xFFFFFFF0u); }, "open", kHeader},
        {"data start past the end", [size](auto& i, auto&) { Put32(i, 8, size + 1); }, "open", kHeader},
        {"file table outside the block", [](auto& i, auto&) { Put32(i, 16, Get32(i, 4) + 1); }, "open", kHeader},
        {"no room for the root", [](auto& i, auto&) { Put32(i, 20, Get32(i, 4) - 8); }, "open", kHeader},
        {"root's entries past the table", [](auto& i, auto& a) { Put32(i, a.directories + 8, 0x10000000); }, "open",
         kTable},
        {"root's first entry past the table", [](auto& i, auto& a) { Put32(i, a.directories + 12, 0xFFFFFFF0u); },
         "open", kTable},
        {"a subdirectory's record outside the table", [](auto& i, auto& a) { Put32(i, a.Entry(2) + 32, 0x7FFFFFF0); },
         "sub\\c.txt", kTable},
        {"a name record outside the table", [](auto& i, auto& a) { Put32(i, a.Entry(0) + 0, 0xFFFFFFFD); }, "a.txt",
         kTable},
        {"a name's length past the table",
         [](auto& i, auto& a) {
             i[a.table + 0] = 0xFF;
             i[a.table + 1] = 0xFF;
         },
         "a.txt", kTable},
        {"member data past the end", [](auto& i, auto& a) { Put32(i, a.Entry(0) + 36, 0x1000); }, "a.txt", kData},
        {"member offset past the end", [](auto& i, auto& a) { Put32(i, a.Entry(0) + 32, 0xFFFFFFFE); }, "a.txt", kData},
        {"compressed block past the end", [](auto& i, auto& a) { Put32(i, a.Entry(1) + 40, 0x100000); }, "big.txt",
         kData},
        {"a damaged LZ block",
         [](auto& i, auto& a) {
             const size_t block = Get32(i, 8) + Get32(i, a.Entry(1) + 32);
             Put32(i, block + 4, Get32(i, a.Entry(1) + 40) + 1);  // says it runs past its bytes
         },
         "big.txt", kLz},
        {"an LZ block of another size than its entry", [](auto& i, auto& a) { Put32(i, a.Entry(1) + 36, 2999); },
         "big.txt", kData},
        {"an entry claiming more than its block can give",
         [](auto& i, auto& a) { Put32(i, a.Entry(1) + 36, 0xFFFFFF00u); }, "big.txt", kData},
    };
    for (bool enciphered : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (enciphered ? ", enciphered" : ", plain"));
            BlockBalance balance;
            std::vector<uint8_t> image = base.image;
            c.damage(image, base);
            if (enciphered) {
                uint8_t key[kArchiveKeyBytes];
                DeriveArchiveKey(nullptr, key);
                ScrambleArchiveBytes(key, image.data(), uint32_t(image.size()), 0);
            }
            const std::vector<uint8_t> before = image;
            ArchiveRecord record;
            ClearArchiveRecord(&record);
            LogCapture log;
            const int opened = OpenArchiveImage(&record, image.data(), uint32_t(image.size()), nullptr);
            if (std::string(c.failingStep) == "open") {
                EXPECT_EQ(opened, -1);
                EXPECT_EQ(image, before) << "the caller's image changed";
                EXPECT_EQ(record.image, nullptr);
            } else {
                ASSERT_EQ(opened, 0);
                ArchiveMember m;
                EXPECT_EQ(OpenArchiveMember(&m, &record, c.failingStep, 0), -1);
                CloseArchiveSource(&record);
                EXPECT_EQ(image, before);
            }
            EXPECT_TRUE(log.Contains(c.line)) << "log: " << log.Joined().size();
        }
    }
}

TEST(DamagedArchive, AListingSkipsAnUnterminatedName)
{
    SmallArchive a;
    // a.txt's written name fills its padded bytes without a terminator.
    const size_t name = a.table + Get32(a.image, a.Entry(0));
    const uint16_t words = uint16_t(a.image[name] | a.image[name + 1] << 8);
    std::memset(&a.image[name + 4 + 4 * words], 'z', 4 * words);
    ArchiveRecord record;
    ClearArchiveRecord(&record);
    ASSERT_EQ(OpenArchiveImage(&record, a.image.data(), uint32_t(a.image.size()), nullptr), 0);
    LogCapture log;
    EXPECT_EQ(List(&record, "*"), (std::set<std::wstring>{L".", L"big.txt", L"sub"}));
    EXPECT_TRUE(log.Contains(L"ＱＵＡアーカイブのファイルテーブルが壊れています\n"));
    CloseArchiveSource(&record);
}

// ---------------------------------------------------------------------------------------
// Archives read from a file
// ---------------------------------------------------------------------------------------

class ArchiveFile : public ::testing::Test {
protected:
    ArchiveFile() : folder_(::testing::UnitTest::GetInstance()->current_test_info()->name()) {}
    void SetUp() override
    {
        entries_ = SampleEntries(4);
        entries_.push_back(File("large.bin", RandomBytes(300000, 8), 0));
        entries_.push_back(File("large.txt", TextLikeBytes(300000, 9), 1));
        folder_.Write("a.QUA", BuildImage(entries_, quapack::Options()));
    }
    std::vector<uint8_t> DataOf(const std::string& path) const
    {
        for (const auto& e : entries_)
            if (e.path == path) return e.data;
        return {};
    }

    TempFolder folder_;
    BlockBalance balance_;
    std::vector<quapack::Entry> entries_;
};

TEST_F(ArchiveFile, ReadsMembersOnDemandAndWholeInMemory)
{
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way == 0 ? "on demand" : way == 1 ? "loaded whole" : "loaded in the background");
        ArchiveRecord record;
        ClearArchiveRecord(&record);
        const std::wstring path = folder_.Wide("a.QUA");
        ASSERT_EQ(way == 0 ? OpenArchiveFileForReading(&record, path.c_str(), nullptr)
                           : LoadArchiveFileToMemory(&record, path.c_str(), nullptr, way == 2),
                  0);
        EXPECT_EQ(record.inMemory, way == 0 ? 0 : 1);
        for (const auto& e : entries_) {
            if (!e.directory) {
                EXPECT_EQ(ReadMember(&record, e.path), e.data) << e.path;
            }
        }
        EXPECT_NE(GetArchiveImagePointer(&record) != nullptr, way == 0);
        EXPECT_EQ(PollArchiveImageRead(&record), 1);
        CloseArchiveSource(&record);
    }
}

// A member read in the background: the read returns at once with its count, and the
// bytes are there (deciphered) once the member is idle. A synchronous read of another
// part of the same file meanwhile waits for the file-access thread before it reads, so
// that neither read moves the file's pointer under the other.
TEST_F(ArchiveFile, ReadsInTheBackgroundAndInTurn)
{
    ArchiveRecord record;
    ClearArchiveRecord(&record);
    ASSERT_EQ(OpenArchiveFileForReading(&record, folder_.Wide("a.QUA").c_str(), nullptr), 0);
    const std::vector<uint8_t> stored = DataOf("large.bin");
    const std::vector<uint8_t> text = DataOf("large.txt");
    const uint32_t half = uint32_t(stored.size() / 2);
    ArchiveMember background, compressed, plain;
    ASSERT_EQ(OpenArchiveMember(&background, &record, "large.bin", 1), 0);
    ASSERT_EQ(OpenArchiveMember(&compressed, &record, "large.txt", 1), 0);
    ASSERT_EQ(OpenArchiveMember(&plain, &record, "large.bin", 0), 0);
    std::vector<uint8_t> a(stored.size()), b(text.size()), c(half);
    for (int round = 0; round < 20; ++round) {
        SeekArchiveMember(&background, 0, 0);
        SeekArchiveMember(&plain, int32_t(half), 0);
        for (uint32_t done = 0; done < half;) {
            const int32_t n = ReadArchiveMember(&background, a.data() + done, 1500);
            ASSERT_EQ(n, 1500 < half - done ? 1500 : int32_t(half - done));
            ASSERT_EQ(ReadArchiveMember(&plain, c.data() + done, uint32_t(n)), n);
            ASSERT_EQ(std::memcmp(c.data() + done, stored.data() + half + done, size_t(n)), 0)
                << "round " << round << " at " << done;
            while (!IsArchiveMemberIdle(&background)) {
            }
            ASSERT_EQ(std::memcmp(a.data() + done, stored.data() + done, size_t(n)), 0)
                << "round " << round << " at " << done;
            done += uint32_t(n);
        }
    }
    ASSERT_EQ(ReadArchiveMember(&compressed, b.data(), uint32_t(b.size())), int32_t(b.size()));
    EXPECT_EQ(b, text);
    CloseArchiveMember(&background);
    CloseArchiveMember(&compressed);
    CloseArchiveMember(&plain);
    CloseArchiveSource(&record);
}

TEST_F(ArchiveFile, SharedArchivesAreCountedAndClosedWhenIdle)
{
    const std::wstring path = folder_.Wide("a.QUA");
    const int first = OpenSharedArchive(-1, path.c_str(), 0, 0);
    ASSERT_GE(first, 0);
    EXPECT_EQ(OpenSharedArchive(first, path.c_str(), 0, 0), first);
    EXPECT_EQ(OpenSharedArchive(-1, path.c_str(), 0, 0), first);
    EXPECT_EQ(CountSharedArchives(), 1);
    EXPECT_EQ(OpenSharedArchive(-1, folder_.Wide("missing.QUA").c_str(), 0, 0), -1);
    ReleaseSharedArchiveUse(first);
    ReleaseSharedArchiveUse(first);
    EXPECT_EQ(ReleaseIdleArchives(), 0);
    EXPECT_EQ(CountSharedArchives(), 1) << "still in use";
    EXPECT_EQ(ReadMember(GetSharedArchive(first), "a.txt"), Text("hello"));
    ReleaseSharedArchiveUse(first);
    ReleaseIdleArchives();
    EXPECT_EQ(CountSharedArchives(), 0);
    EXPECT_EQ(GetSharedArchive(first), nullptr);
}

}  // namespace
