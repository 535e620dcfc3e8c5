// The file layer's speed beside its anchors: the LZ decoder beside zlib's inflate of the
// same data (the project's own sources), and a 64 MB stored member read through the
// archive-aware file table beside the same bytes read as a plain file.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include "tests/bench_main.h"
#include "quarn/core/archive.h"
#include "quarn/core/files.h"
#include "qua_writer.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The project's sources, joined: text of the kind the library's data packs hold.
const std::vector<uint8_t>& SourceText()
{
    static const std::vector<uint8_t> text = [] {
        std::vector<uint8_t> all;
        for (const char* dir : {"quarn", "lib", "app", "tests", "tools", "cmake"}) {
            std::error_code failure;
            for (auto it = fs::recursive_directory_iterator(fs::path(QUARN_SOURCE_ROOT) / dir, failure);
                 !failure && it != fs::recursive_directory_iterator(); it.increment(failure)) {
                const std::string ext = it->path().extension().string();
                if (!it->is_regular_file() || (ext != ".cpp" && ext != ".h" && ext != ".txt" && ext != ".cmake"))
                    continue;
                std::ifstream in(it->path(), std::ios::binary);
                all.insert(all.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            }
        }
        return all;
    }();
    return text;
}

void BM_LzDecode(benchmark::State& state)
{
    const std::vector<uint8_t>& text = SourceText();
    const std::vector<uint8_t> block = quapack::EncodeLzBlock(text.data(), text.size());
    std::vector<uint8_t> out(text.size());
    for (auto _ : state) {
        const int64_t n = DecompressArchiveData(block.data(), uint32_t(block.size()), out.data(), uint32_t(out.size()));
        if (n != int64_t(text.size())) state.SkipWithError("the block does not decode");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
    state.counters["ratio"] = double(block.size()) / double(text.size());
}

void BM_ZlibInflate(benchmark::State& state)
{
    const std::vector<uint8_t>& text = SourceText();
    std::vector<uint8_t> packed(compressBound(uLong(text.size())));
    uLongf packedSize = uLongf(packed.size());
    compress2(packed.data(), &packedSize, text.data(), uLong(text.size()), Z_DEFAULT_COMPRESSION);
    std::vector<uint8_t> out(text.size());
    for (auto _ : state) {
        uLongf outSize = uLongf(out.size());
        if (uncompress(out.data(), &outSize, packed.data(), packedSize) != Z_OK || outSize != text.size())
            state.SkipWithError("zlib does not inflate");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
    state.counters["ratio"] = double(packedSize) / double(text.size());
}

constexpr size_t kMemberBytes = size_t(64) << 20;

// A folder holding "plain.bin" (64 MB) and "big.QUA" and "open.QUA" holding the same bytes
// as a stored member "m.bin", enciphered under the default key and not.
struct BigFiles {
    fs::path dir = fs::temp_directory_path() / "quarn_files_bench";
    BigFiles()
    {
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::vector<uint8_t> bytes(kMemberBytes);
        std::mt19937 rng(1);
        for (size_t i = 0; i < bytes.size(); i += 4) {
            const uint32_t w = rng();
            std::memcpy(&bytes[i], &w, 4);
        }
        Write("plain.bin", bytes);
        quapack::Entry e;
        e.path = "m.bin";
        e.data = std::move(bytes);
        e.compress = 0;
        for (bool plain : {false, true}) {
            quapack::Options options;
            options.plain = plain;
            std::vector<uint8_t> archive;
            quapack::BuildArchive({e}, options, archive, nullptr);
            Write(plain ? "open.QUA" : "big.QUA", archive);
        }
        fs::current_path(dir);
        InstallFileFunctions(nullptr);
    }
    ~BigFiles() { fs::remove_all(dir); }
    void Write(const char* name, const std::vector<uint8_t>& bytes)
    {
        std::ofstream out(dir / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
};

BigFiles& Files()
{
    static BigFiles files;
    return files;
}

// Reads the whole file through the file table in chunks of range(0) bytes.
void ReadThroughTable(benchmark::State& state, const wchar_t* path)
{
    Files();
    std::vector<uint8_t> chunk(size_t(state.range(0)));
    for (auto _ : state) {
        const FileHandle h = OpenFileThroughTable(path, 0, 1, 0);
        size_t total = 0;
        for (int32_t n; (n = ReadFileThroughTable(chunk.data(), 1, uint32_t(chunk.size()), h)) > 0;) total += size_t(n);
        CloseFileThroughTable(h);
        if (total != kMemberBytes) state.SkipWithError("short read");
        benchmark::DoNotOptimize(chunk.data());
    }
    ReleaseIdleArchives();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kMemberBytes));
}

void BM_ArchiveMember(benchmark::State& state) { ReadThroughTable(state, L"big\\m.bin"); }

void BM_ArchiveMemberNotEnciphered(benchmark::State& state) { ReadThroughTable(state, L"open\\m.bin"); }

void BM_PlainFile(benchmark::State& state) { ReadThroughTable(state, L"plain.bin"); }

// The floor: read() of the same file, with nothing of the library between.
void BM_PosixRead(benchmark::State& state)
{
    const fs::path path = Files().dir / "plain.bin";
    std::vector<uint8_t> chunk(size_t(state.range(0)));
    for (auto _ : state) {
        const int fd = open(path.c_str(), O_RDONLY);
        size_t total = 0;
        for (ssize_t n; (n = read(fd, chunk.data(), chunk.size())) > 0;) total += size_t(n);
        close(fd);
        if (total != kMemberBytes) state.SkipWithError("short read");
        benchmark::DoNotOptimize(chunk.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kMemberBytes));
}

// The deciphering alone, on the member's bytes in chunks of range(0) bytes at their archive
// offsets: the one step an enciphered member read adds to the plain one.
void BM_Decipher(benchmark::State& state)
{
    uint8_t key[kArchiveKeyBytes];
    DeriveArchiveKey(nullptr, key);
    std::vector<uint8_t> chunk(size_t(state.range(0)), 0x5A);
    for (auto _ : state) {
        for (size_t offset = 0; offset < kMemberBytes; offset += chunk.size())
            ScrambleArchiveBytes(key, chunk.data(), uint32_t(chunk.size()), uint32_t(offset));
        benchmark::DoNotOptimize(chunk.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kMemberBytes));
}

BENCHMARK(BM_LzDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArchiveMember)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArchiveMemberNotEnciphered)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFile)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PosixRead)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decipher)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// The usual console output, then MB/s side by side with the ratios to the anchors.
class SummaryReporter : public SummaryReporterBase {
public:
    void Keep(const Run& r) override
    {
        const std::string name = r.run_name.str();
        const double seconds = r.real_accumulated_time / double(r.iterations);
        const double megabytes = name.rfind("BM_Lz", 0) == 0 || name.rfind("BM_Zlib", 0) == 0
                                     ? double(SourceText().size()) / 1e6
                                     : double(kMemberBytes) / 1e6;
        rate_[name] = megabytes / seconds;
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
        const double lz = rate_["BM_LzDecode"];
        const double zlib = rate_["BM_ZlibInflate"];
        std::printf("\n%-44s %10.1f MB/s\n%-44s %10.1f MB/s\n%-44s %10.2f (goal: at least 1)\n", "LZ decode", lz,
                    "zlib inflate", zlib, "LZ / zlib", ratio(lz, zlib));
        RecordRatio("LZ decode", "zlib inflate", ratio(lz, zlib));
        for (const char* chunk : {"65536", "1048576"}) {
            const double archive = rate_[std::string("BM_ArchiveMember/") + chunk];
            const double open = rate_[std::string("BM_ArchiveMemberNotEnciphered/") + chunk];
            const double plain = rate_[std::string("BM_PlainFile/") + chunk];
            const double posix = rate_[std::string("BM_PosixRead/") + chunk];
            const double decipher = rate_[std::string("BM_Decipher/") + chunk];
            // A plain read followed by the deciphering pass, their times added: what the
            // enciphered member would reach if the member path itself cost nothing.
            const double bound = plain > 0 && decipher > 0 ? 1 / (1 / plain + 1 / decipher) : 0.0;
            std::printf("\n64 MB in chunks of %s bytes\n", chunk);
            std::printf("  %-42s %10.1f MB/s\n  %-42s %10.1f MB/s\n  %-42s %10.1f MB/s\n  %-42s %10.1f MB/s\n",
                        "archive member (enciphered)", archive, "archive member (not enciphered)", open,
                        "plain file through the table", plain, "read() of the plain file", posix);
            std::printf("  %-42s %10.1f MB/s\n  %-42s %10.1f MB/s\n", "deciphering alone", decipher,
                        "plain file, then deciphering (times added)", bound);
            std::printf("  %-42s %10.2f (goal: at least 0.9)\n  %-42s %10.2f\n  %-42s %10.2f\n", "archive / plain file",
                        ratio(archive, plain), "not enciphered / plain file", ratio(open, plain), "plain file / read()",
                        ratio(plain, posix));
            std::printf("  %-42s %10.2f\n  %-42s %10.2f\n", "plain, then deciphering / plain file", ratio(bound, plain),
                        "archive / (plain, then deciphering)", ratio(archive, bound));
            RecordRatio((std::string("archive member, chunks of ") + chunk).c_str(), "plain file",
                        ratio(archive, plain));
            RecordRatio((std::string("archive member, chunks of ") + chunk).c_str(), "plain file, then deciphering",
                        ratio(archive, bound));
            RecordRatio((std::string("plain file, chunks of ") + chunk).c_str(), "read()", ratio(plain, posix));
        }
    }

private:
    std::map<std::string, double> rate_;
};

}  // namespace

int main(int argc, char** argv) { return RunBenchmarksWithSummary<SummaryReporter>(argc, argv); }
