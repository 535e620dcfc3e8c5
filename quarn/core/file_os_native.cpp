// The native build's stand-in for the file layer's system calls: POSIX files and
// directories, standard threads and condition-variable events, iconv for code pages. The
// file system is shown as Windows shows it under a compatibility layer: drive "Z:" is the
// root, "\" separates, and a name that does not exist as written is looked for without
// regard to the case of "a" to "z".
#if !defined(_WIN32)

#include "quarn/core/file_os.h"
#include "quarn/core/utf8.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <iconv.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint64_t kUnixEpochInFileTime = 116444736000000000ull;  // 1970-01-01 in FILETIME

// Wide text as UTF-8, with "\" turned into "/".
std::string Utf8Of(const wchar_t* text)
{
    std::string out;
    for (const wchar_t* p = text; *p; ++p) AppendUtf8(out, *p == L'\\' ? uint32_t('/') : static_cast<uint32_t>(*p));
    return out;
}

// UTF-8 into wide text (at most units - 1 and a terminator); -1 when it does not fit.
int WideOfUtf8(const std::string& text, wchar_t* out, int units)
{
    int n = 0;
    for (size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        uint32_t c = b;
        int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        if (extra) c = b & (0x3F >> extra);
        ++i;
        for (; extra > 0 && i < text.size(); --extra, ++i) c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        if (n + 1 >= units) return -1;
        out[n++] = static_cast<wchar_t>(c);
    }
    out[n] = 0;
    return n;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The path in POSIX form. A drive letter and colon stand for the root ("Z:\tmp" is
// "/tmp"; "Z:name", relative to the drive's current directory, is taken relative to the
// current directory). Elements that do not exist as written are matched without regard
// to case, element by element.
std::string NativePath(const wchar_t* path)
{
    std::string p = Utf8Of(path);
    if (p.size() >= 2 && p[1] == ':' && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'))) p.erase(0, 2);
    if (p.empty() || Exists(p)) return p;
    std::string resolved = p[0] == '/' ? "/" : "";
    size_t i = p[0] == '/' ? 1 : 0;
    while (i <= p.size()) {
        size_t end = p.find('/', i);
        if (end == std::string::npos) end = p.size();
        std::string element = p.substr(i, end - i);
        if (!element.empty()) {
            std::string candidate = resolved + element;
            if (!Exists(candidate) && element != "." && element != "..") {
                if (DIR* dir = opendir(resolved.empty() ? "." : resolved.c_str())) {
                    while (dirent* entry = readdir(dir)) {
                        if (strcasecmp(entry->d_name, element.c_str()) == 0) {
                            candidate = resolved + entry->d_name;
                            break;
                        }
                    }
                    closedir(dir);
                }
            }
            resolved = candidate;
            if (end < p.size()) resolved += '/';
        }
        i = end + 1;
    }
    return resolved;
}

uint64_t FileTimeOf(const timespec& t)
{
    return kUnixEpochInFileTime + uint64_t(int64_t(t.tv_sec)) * 10000000ull + uint64_t(t.tv_nsec / 100);
}

int FdOf(void* file) { return static_cast<int>(reinterpret_cast<intptr_t>(file)) - 1; }

struct NativeEvent {
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;
};

struct NativeThread {
    std::thread thread;
    std::atomic<int> active{1};
};

std::atomic<uint32_t> s_nextThreadId{1};

struct NativeFind {
    DIR* dir;
    std::string directory;  // with a trailing "/", or empty for the current directory
    std::string pattern;
};

// The next entry that matches the find's pattern, or -1 at the end.
int NextMatch(NativeFind* find, FileOsFindData* data)
{
    while (dirent* entry = readdir(find->dir)) {
        if (fnmatch(find->pattern.c_str(), entry->d_name, FNM_CASEFOLD) != 0) continue;
        if (!data) return 0;
        struct stat st;
        if (stat((find->directory + entry->d_name).c_str(), &st) != 0) std::memset(&st, 0, sizeof st);
        if (WideOfUtf8(entry->d_name, data->name, 260) < 0)
            continue;  // a name longer than a Windows name is not listed
        data->attributes = S_ISDIR(st.st_mode) ? 0x10 : 0x80;
        data->size = S_ISDIR(st.st_mode) ? 0 : uint64_t(st.st_size);
        data->creationTime = FileTimeOf(st.st_mtim);
        data->lastWriteTime = FileTimeOf(st.st_mtim);
        return 0;
    }
    return -1;
}

// An iconv name for a code page: the system's (0) and 65001 are UTF-8 here.
std::string IconvName(uint32_t codePage)
{
    if (codePage == 0 || codePage == 65001) return "UTF-8";
    return "CP" + std::to_string(codePage);
}

// Converts terminated text; the bytes written (terminator excluded) or -1.
int Convert(const char* to, const char* from, const char* in, size_t inBytes, char* out, size_t outBytes,
            size_t terminatorBytes)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
    char* src = const_cast<char*>(in);
    char* dst = out;
    size_t left = outBytes >= terminatorBytes ? outBytes - terminatorBytes : 0;
    const size_t room = left;
    const size_t r = outBytes >= terminatorBytes ? iconv(cd, &src, &inBytes, &dst, &left) : size_t(-1);
    iconv_close(cd);
    if (r == size_t(-1) || inBytes != 0) return -1;
    std::memset(dst, 0, terminatorBytes);
    return static_cast<int>(room - left);
}

}  // namespace

void* FileOsOpen(const wchar_t* path, int)
{
    const int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    return reinterpret_cast<void*>(intptr_t(fd) + 1);
}

int FileOsRead(void* file, void* buffer, uint32_t bytes, uint32_t* bytesRead)
{
    uint32_t done = 0;
    while (done < bytes) {
        const ssize_t n = read(FdOf(file), static_cast<char*>(buffer) + done, bytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *bytesRead = done;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<uint32_t>(n);
    }
    *bytesRead = done;
    return 0;
}

int FileOsSeek(void* file, uint32_t position) { return lseek(FdOf(file), off_t(position), SEEK_SET) < 0 ? -1 : 0; }

uint32_t FileOsSize(void* file)
{
    struct stat st;
    return fstat(FdOf(file), &st) == 0 ? static_cast<uint32_t>(st.st_size) : 0;
}

int FileOsClose(void* file) { return close(FdOf(file)) == 0 ? 0 : -1; }

void* FileOsCreateEvent(int signalled)
{
    NativeEvent* event = new NativeEvent;
    event->signalled = signalled != 0;
    return event;
}

void FileOsSetEvent(void* raw)
{
    NativeEvent* event = static_cast<NativeEvent*>(raw);
    std::lock_guard<std::mutex> hold(event->mutex);
    event->signalled = true;
    event->changed.notify_all();
}

void FileOsResetEvent(void* raw)
{
    NativeEvent* event = static_cast<NativeEvent*>(raw);
    std::lock_guard<std::mutex> hold(event->mutex);
    event->signalled = false;
}

int FileOsWaitEvent(void* raw, uint32_t milliseconds)
{
    NativeEvent* event = static_cast<NativeEvent*>(raw);
    std::unique_lock<std::mutex> hold(event->mutex);
    if (milliseconds == kFileOsWaitForever) {
        event->changed.wait(hold, [event] { return event->signalled; });
        return 1;
    }
    return event->changed.wait_for(hold, std::chrono::milliseconds(milliseconds), [event] { return event->signalled; })
               ? 1
               : 0;
}

void FileOsCloseEvent(void* event) { delete static_cast<NativeEvent*>(event); }

void* FileOsStartThread(FileOsThreadFunction function, void* argument, uint32_t* threadId)
{
    NativeThread* thread = new NativeThread;
    try {
        thread->thread = std::thread([thread, function, argument] {
            function(argument);
            thread->active.store(0);
        });
    } catch (...) {
        delete thread;
        return nullptr;
    }
    if (threadId) *threadId = s_nextThreadId.fetch_add(1);
    return thread;
}

int FileOsIsThreadActive(void* thread) { return static_cast<NativeThread*>(thread)->active.load(); }

void FileOsCloseThread(void* raw)
{
    NativeThread* thread = static_cast<NativeThread*>(raw);
    if (!thread) return;
    if (thread->thread.joinable()) thread->thread.join();
    delete thread;
}

void FileOsSleep(uint32_t milliseconds)
{
    if (milliseconds == 0) std::this_thread::yield();
    else std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int FileOsSetCurrentDirectory(const wchar_t* path) { return chdir(NativePath(path).c_str()) == 0 ? 1 : 0; }

uint32_t FileOsGetCurrentDirectory(uint32_t units, wchar_t* buffer)
{
    char raw[4096];
    if (!getcwd(raw, sizeof raw)) return 0;
    std::string shown = std::string("Z:") + raw;
    if (shown == "Z:/") shown = "Z:\\";
    for (char& c : shown) {
        if (c == '/') c = '\\';
    }
    wchar_t wide[4096];
    const int n = WideOfUtf8(shown, wide, 4096);
    if (n < 0) return 0;
    if (uint32_t(n) + 1 > units) return uint32_t(n) + 1;
    CopyWideString(buffer, wide);
    return uint32_t(n);
}

void* FileOsFindFirst(const wchar_t* pattern, FileOsFindData* data)
{
    // The last element is the pattern; what stands before it (up to its separator, or a
    // drive's colon) names the directory.
    const int units = CountWideUnits(pattern);
    int split = -1;
    for (int i = 0; i < units; ++i) {
        if (pattern[i] == L'\\' || pattern[i] == L'/' || (i == 1 && pattern[i] == L':')) split = i;
    }
    NativeFind* find = new NativeFind;
    find->pattern = Utf8Of(pattern + split + 1);
    if (find->pattern == "*.*") find->pattern = "*";
    if (split >= 0) {
        const std::wstring directory(pattern, pattern + split + 1);
        find->directory = NativePath(directory.c_str());
    }
    if (!find->directory.empty() && find->directory.back() != '/') find->directory += '/';
    find->dir = opendir(find->directory.empty() ? "." : find->directory.c_str());
    if (!find->dir || NextMatch(find, data) != 0) {
        if (find->dir) closedir(find->dir);
        delete find;
        return nullptr;
    }
    return find;
}

int FileOsFindNext(void* find, FileOsFindData* data) { return NextMatch(static_cast<NativeFind*>(find), data); }

int FileOsFindClose(void* raw)
{
    NativeFind* find = static_cast<NativeFind*>(raw);
    const int result = closedir(find->dir) == 0 ? 0 : -1;
    delete find;
    return result;
}

void FileOsFileTimeToDateTime(uint64_t fileTime, DateTimeRecord* out)
{
    // Whole seconds first: any 64-bit FILETIME (an archive may hold one) stays in range.
    const time_t seconds = static_cast<time_t>(int64_t(fileTime / 10000000) - int64_t(kUnixEpochInFileTime / 10000000));
    tm local{};
    if (!localtime_r(&seconds, &local)) {
        *out = DateTimeRecord{};
        return;
    }
    out->year = local.tm_year + 1900;
    out->month = local.tm_mon + 1;
    out->day = local.tm_mday;
    out->hour = local.tm_hour;
    out->minute = local.tm_min;
    out->second = local.tm_sec;
}

int FileOsCodePageToWide(uint32_t codePage, const char* text, wchar_t* out, int outUnits)
{
    if (outUnits < 1) return -1;
    const int bytes = Convert("WCHAR_T", IconvName(codePage).c_str(), text, std::strlen(text),
                              reinterpret_cast<char*>(out), size_t(outUnits) * sizeof(wchar_t), sizeof(wchar_t));
    if (bytes < 0) {
        out[0] = 0;
        return -1;
    }
    return bytes / int(sizeof(wchar_t));
}

int FileOsWideToCodePage(uint32_t codePage, const wchar_t* text, char* out, int outBytes)
{
    if (outBytes < 1) return -1;
    const size_t units = size_t(CountWideUnits(text));
    const int bytes = Convert(IconvName(codePage).c_str(), "WCHAR_T", reinterpret_cast<const char*>(text),
                              units * sizeof(wchar_t), out, size_t(outBytes), 1);
    if (bytes < 0) {
        out[0] = 0;
        return -1;
    }
    return bytes;
}

#endif
