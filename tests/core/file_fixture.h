// Fixtures of the file-layer tests: a fresh folder of files, random contents, and the
// check that a test gave back every block it took from the library's allocator.
#pragma once

#include "quarn/core/archive.h"
#include "quarn/core/files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

inline std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

// Bytes that compress: words of a small vocabulary with random numbers between them.
inline std::vector<uint8_t> TextLikeBytes(size_t count, uint32_t seed)
{
    static const char* const kWords[] = {"alpha ",  "beta ", "gamma\n", "delta ", "quarn ",  "archive ",
                                         "member ", "\t",    "{",       "}",      "(x, y) ", "return 0;\n"};
    std::mt19937 rng(seed);
    std::string text;
    while (text.size() < count) {
        text += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
        if (rng() % 5 == 0) text += std::to_string(rng() % 1000);
    }
    text.resize(count);
    return {text.begin(), text.end()};
}

// Removes a folder and everything in it, as far as the system lets it: a leftover that cannot
// go must not stop the next test from starting.
inline void RemoveTree(const std::filesystem::path& dir)
{
    std::error_code failure;
    std::filesystem::remove_all(dir, failure);
}

// A fresh folder under the system's temporary folder, the current directory while it
// lives (the one before comes back afterwards).
class TempFolder {
public:
    explicit TempFolder(const std::string& name)
        : saved_(std::filesystem::current_path()),
          dir_(std::filesystem::temp_directory_path() / ("quarn_files_" + name))
    {
        RemoveTree(dir_);
        std::filesystem::create_directories(dir_);
        std::filesystem::current_path(dir_);
    }
    ~TempFolder()
    {
        std::filesystem::current_path(saved_);
        RemoveTree(dir_);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::filesystem::path Path(const std::string& relative = "") const
    {
        return relative.empty() ? dir_ : dir_ / std::filesystem::path(relative);
    }
    // The full path as the library takes it.
    std::wstring Wide(const std::string& relative = "") const { return Path(relative).wstring(); }

    void Write(const std::string& relative, const std::vector<uint8_t>& bytes) const
    {
        const std::filesystem::path p = Path(relative);
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

private:
    std::filesystem::path saved_, dir_;
};

// Fails the test when the library's allocator holds more or fewer blocks at the end of
// the scope than at its start.
class BlockBalance {
public:
    BlockBalance() : blocks_(GetAllocatorTotals().blockCount) {}
    ~BlockBalance() { EXPECT_EQ(GetAllocatorTotals().blockCount, blocks_) << "blocks not given back"; }

private:
    int32_t blocks_;
};
