// quapack: packs a directory into a QUA archive, or a file into an LZ block.
//
//   quapack [--version N] [--key TEXT | --plain] [--store | --compress] [--codepage N] OUT.QUA DIR
//   quapack --lz OUT IN
//   quapack --shader-pack OUT.cpp
//
// Names on disk (UTF-8) are written in the archive's code page (932 unless told). Every
// file written is read back through the library's reader before the archive is saved.

#include "qua_writer.h"
#include "shader_pack_writer.h"

#include "quarn/core/archive.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <iconv.h>

namespace fs = std::filesystem;

namespace {

int Usage()
{
    std::fprintf(stderr,
                 "usage: quapack [--version N] [--key TEXT | --plain] [--store | --compress] "
                 "[--codepage N] OUT.QUA DIR\n"
                 "       quapack --lz OUT IN\n"
                 "       quapack --shader-pack OUT.cpp\n");
    return 2;
}

bool ReadFile(const fs::path& path, std::vector<uint8_t>& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

// UTF-8 text in a code page (65001 keeps it as it is).
bool ToCodePage(const std::string& utf8, uint32_t codePage, std::string& out)
{
    if (codePage == 65001) {
        out = utf8;
        return true;
    }
    const std::string name = "CP" + std::to_string(codePage);
    iconv_t cd = iconv_open(name.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> buffer(utf8.size() * 4 + 4);
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* dst = buffer.data();
    size_t outLeft = buffer.size();
    const size_t r = iconv(cd, &in, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    if (r == size_t(-1) || inLeft != 0) return false;
    out.assign(buffer.data(), buffer.size() - outLeft);
    return true;
}

uint64_t FileTimeOf(fs::file_time_type time)
{
    const auto since = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::file_clock::to_sys(time).time_since_epoch());
    return 116444736000000000ull + uint64_t(since.count()) * 10000000ull;
}

int PackLz(const char* out, const char* in)
{
    std::vector<uint8_t> data;
    if (!ReadFile(in, data)) {
        std::fprintf(stderr, "quapack: cannot read %s\n", in);
        return 1;
    }
    std::vector<uint8_t> block = quapack::EncodeLzBlock(data.data(), data.size());
    std::vector<uint8_t> back(data.size() + 1);
    if (DecompressArchiveData(block.data(), uint32_t(block.size()), back.data(), uint32_t(data.size())) !=
            int64_t(data.size()) ||
        !std::equal(data.begin(), data.end(), back.begin())) {
        std::fprintf(stderr, "quapack: the LZ block does not decode to %s\n", in);
        return 1;
    }
    if (!WriteFile(out, block)) {
        std::fprintf(stderr, "quapack: cannot write %s\n", out);
        return 1;
    }
    return 0;
}

// The library's embedded shader pack as C++ source (quarn/graphics/d3d9/shader_pack_data.cpp).
int PackShaders(const char* out)
{
    std::vector<uint8_t> block;
    std::string error;
    if (quapack::BuildShaderPackBlock(quapack::DefaultShaderPack(), block, &error) != 0) {
        std::fprintf(stderr, "quapack: %s\n", error.c_str());
        return 1;
    }
    const std::string source = quapack::ShaderPackBlockSource(block);
    if (!WriteFile(out, std::vector<uint8_t>(source.begin(), source.end()))) {
        std::fprintf(stderr, "quapack: cannot write %s\n", out);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    quapack::Options options;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string flag = argv[i];
        const bool hasValue = i + 1 < argc;
        if (flag == "--lz") return argc == i + 3 ? PackLz(argv[i + 1], argv[i + 2]) : Usage();
        if (flag == "--shader-pack") return argc == i + 2 ? PackShaders(argv[i + 1]) : Usage();
        if (flag == "--version" && hasValue) options.version = std::atoi(argv[++i]);
        else if (flag == "--key" && hasValue) options.keyText = argv[++i];
        else if (flag == "--codepage" && hasValue) options.codePage = uint32_t(std::strtoul(argv[++i], nullptr, 10));
        else if (flag == "--plain") options.plain = true;
        else if (flag == "--store") options.compress = false;
        else if (flag == "--compress") options.compress = true;
        else return Usage();
    }
    if (argc != i + 2) return Usage();
    const fs::path outPath = argv[i];
    const fs::path root = argv[i + 1];

    std::vector<quapack::Entry> entries;
    std::error_code failure;
    for (auto it = fs::recursive_directory_iterator(root, failure);
         !failure && it != fs::recursive_directory_iterator(); it.increment(failure)) {
        quapack::Entry e;
        std::string relative = fs::relative(it->path(), root).generic_string();
        for (char& c : relative) {
            if (c == '/') c = '\\';
        }
        if (!ToCodePage(relative, options.codePage, e.path)) {
            std::fprintf(stderr, "quapack: %s has no form in code page %u\n", relative.c_str(), options.codePage);
            return 1;
        }
        e.lastWriteTime = e.creationTime = FileTimeOf(it->last_write_time());
        if (it->is_directory()) {
            e.directory = true;
        } else if (!ReadFile(it->path(), e.data)) {
            std::fprintf(stderr, "quapack: cannot read %s\n", it->path().c_str());
            return 1;
        }
        entries.push_back(std::move(e));
    }
    if (failure) {
        std::fprintf(stderr, "quapack: cannot list %s: %s\n", root.c_str(), failure.message().c_str());
        return 1;
    }
    std::vector<uint8_t> archive;
    std::string error;
    if (quapack::BuildArchive(entries, options, archive, &error) != 0 ||
        quapack::VerifyArchive(archive, entries, options, &error) != 0) {
        std::fprintf(stderr, "quapack: %s\n", error.c_str());
        return 1;
    }
    if (!WriteFile(outPath, archive)) {
        std::fprintf(stderr, "quapack: cannot write %s\n", outPath.c_str());
        return 1;
    }
    return 0;
}
