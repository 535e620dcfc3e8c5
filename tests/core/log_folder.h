// Runs the log in a fresh directory of its own while it lives, and reads back the file.
#pragma once

#include "quarn/core/core.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

class LogFolder {
public:
    explicit LogFolder(const std::string& name)
        : saved_(std::filesystem::current_path()), dir_(std::filesystem::temp_directory_path() / name)
    {
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        std::filesystem::current_path(dir_);
        EnableLogFile(1);
        StartLogFile();
        SetLogFolder(dir_.wstring().c_str());
    }
    ~LogFolder()
    {
        SetLogFolder(L"");
        std::filesystem::current_path(saved_);
        std::filesystem::remove_all(dir_);
    }
    LogFolder(const LogFolder&) = delete;
    LogFolder& operator=(const LogFolder&) = delete;

    std::filesystem::path File() const { return dir_ / "Log.txt"; }
    bool Exists() const { return std::filesystem::exists(File()); }

    std::vector<unsigned char> Bytes() const
    {
        std::ifstream in(File(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // The file's text after the byte-order mark, one wchar_t per UTF-16 unit.
    std::wstring Text() const
    {
        const std::vector<unsigned char> b = Bytes();
        EXPECT_GE(b.size(), 2u);
        EXPECT_EQ(b.size() % 2, 0u);
        std::wstring text;
        for (size_t i = 2; i + 1 < b.size(); i += 2) text += static_cast<wchar_t>(b[i] | (b[i + 1] << 8));
        return text;
    }

private:
    std::filesystem::path saved_, dir_;
};
