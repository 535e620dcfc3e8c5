#include "app/state_file.h"

#include <windows.h>

#include "app/tally.h"

int read_state_file(const wchar_t* path, std::string& bytes)
{
    bytes.clear();
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? 1 : -1;
    }
    int result = -1;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart <= static_cast<LONGLONG>(kStateFileLimit)) {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD read = 0;
        if (bytes.empty() ||
            (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size()))
            result = 0;
    }
    CloseHandle(file);
    if (result != 0) bytes.clear();
    return result;
}

int write_state_file(const wchar_t* path, const std::string& bytes)
{
    const std::wstring temporary = std::wstring(path) + L".new";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    DWORD written = 0;
    const bool stored = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                        written == bytes.size() && FlushFileBuffers(file);
    const bool closed = CloseHandle(file) != 0;
    if (stored && closed && MoveFileExW(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    DeleteFileW(temporary.c_str());
    return -1;
}

StateLoad load_state(const wchar_t* path, std::int64_t now, lib::biginteger& tally)
{
    std::string bytes;
    const int found = read_state_file(path, bytes);
    if (found == 1) return kStateLoaded;
    if (found != 0) return kStateRefused;
    StateFileContents contents = parse_state_file(bytes);
    if (!contents.ok) return kStateRefused;
    tally = static_cast<lib::biginteger&&>(contents.tally);
    // Without the time it was saved at, the time away is unknown: none is added, and the
    // tally is kept and saved with the time of this run's end, so that nothing is lost.
    if (contents.has_saved_time) add_time_away(tally, contents.saved_time, now);
    return kStateLoaded;
}
