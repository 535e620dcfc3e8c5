// The native build's operating-system services for the portable core: standard library
// locks and heap, a steady clock, and the log written as UTF-16LE through stdio.
// The Windows build uses platform_win.cpp instead.
#if !defined(_WIN32)

#include "quarn/core/utf8.h"
#include "quarn/core/core.h"
#include "quarn/core/platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

std::recursive_mutex& LockOf(CoreLockId id)
{
    // Never destroyed: blocks may still be freed while static objects are torn down.
    static std::recursive_mutex* locks = new std::recursive_mutex[kCoreLockCount];
    return locks[id];
}

std::string NarrowPath(const wchar_t* path)
{
    std::string out;
    for (const wchar_t* p = path; *p; ++p) {
        const uint32_t c = static_cast<uint32_t>(*p);
        if (c == L'\\') {
            out += '/';
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

void PutUnit(std::FILE* f, uint32_t unit)
{
    std::fputc(static_cast<int>(unit & 0xFF), f);
    std::fputc(static_cast<int>((unit >> 8) & 0xFF), f);
}

}  // namespace

void EnterCoreLock(CoreLockId id) { LockOf(id).lock(); }

void LeaveCoreLock(CoreLockId id) { LockOf(id).unlock(); }

void* CoreHeapAlloc(size_t bytes) { return std::malloc(bytes ? bytes : 1); }

void* CoreHeapRealloc(void* block, size_t oldBytes, size_t newBytes)
{
    void* moved = std::realloc(block, newBytes ? newBytes : 1);
    if (moved && newBytes > oldBytes) std::memset(static_cast<char*>(moved) + oldBytes, 0, newBytes - oldBytes);
    return moved;
}

void CoreHeapFree(void* block) { std::free(block); }

uint32_t CoreMilliseconds()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void* LogOpenForAppend(const wchar_t* path) { return std::fopen(NarrowPath(path).c_str(), "ab"); }

void LogWriteUnits(void* file, const wchar_t* units, size_t count)
{
    auto* f = static_cast<std::FILE*>(file);
    if (!f) return;
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = static_cast<uint32_t>(units[i]);
        if (c >= 0x10000 && c <= 0x10FFFF) {
            c -= 0x10000;
            PutUnit(f, 0xD800 + (c >> 10));
            PutUnit(f, 0xDC00 + (c & 0x3FF));
        } else {
            PutUnit(f, c);
        }
    }
}

void LogCloseFile(void* file)
{
    if (file) std::fclose(static_cast<std::FILE*>(file));
}

void LogCreateFresh(const wchar_t* path)
{
    const std::string name = NarrowPath(path);
    std::remove(name.c_str());
    if (std::FILE* f = std::fopen(name.c_str(), "wbx")) {
        PutUnit(f, 0xFEFF);
        std::fclose(f);
    }
}

void LogDebuggerOutput(const wchar_t* text)
{
    // The native build's stand-in for the debugger output, on request only.
    static const bool wanted = std::getenv("QUARN_LOG_STDERR") != nullptr;
    if (wanted) std::fputs(NarrowPath(text).c_str(), stderr);
}

void CoreEndProcessOnFatalError() { std::_Exit(-1); }

#endif
