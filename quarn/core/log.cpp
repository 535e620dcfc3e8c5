// The log: lines of wide text to "Log.txt" and the debugger output, each new line stamped
// with the milliseconds since the log started and indented by the current indent.

#include "quarn/core/core.h"
#include "quarn/core/file_os.h"
#include "quarn/core/platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <type_traits>

namespace {

constexpr int kFormatUnits = 1024;
constexpr int kFixedTextUnits = 255;
constexpr int kFolderUnits = 520;

struct LogState {
    int32_t off;
    wchar_t folder[kFolderUnits];
    int32_t indent;
    int32_t midLine;
    uint32_t startTime;
    int32_t userWindowMode;
    LogCaptureFunction capture;
    void* captureUser;
};

LogState g_log;
ScreenLogState s_screenLog = {0, 16, -1, 1, 0, {}};

const wchar_t kLogFileName[] = L"Log.txt";

// Formats a log line into buffer, keeping one unit free for the line break: a longer text is
// cut to kFormatUnits - 2 units (and *cut set, when given). Returns the units of text.
template <class Char>
int FormatLogText(Char (&buffer)[kFormatUnits + 1], const Char* format, va_list args, bool* cut = nullptr)
{
    int n;
    if constexpr (std::is_same_v<Char, wchar_t>) n = std::vswprintf(buffer, kFormatUnits - 1, format, args);
    else n = std::vsnprintf(buffer, kFormatUnits - 1, format, args);
    const bool fits = n >= 0 && n < kFormatUnits - 1;
    if (cut) *cut = !fits;
    if (fits) return n;
    buffer[kFormatUnits - 2] = 0;
    int length = 0;
    while (buffer[length] != 0) ++length;
    return length;
}

// Copies text into out turning every line feed that has no carriage return before it into
// CR LF; surrogate pairs are copied whole. out holds 2 * length + 1 units.
void ConvertLineEnds(const wchar_t* text, int length, wchar_t* out)
{
    // Neither unit of a surrogate pair is a line feed, so pairs pass through whole without
    // being looked for; a lone high unit never hides the line feed after it.
    int o = 0;
    for (int i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        if (c == L'\n' && (i == 0 || text[i - 1] != L'\r')) out[o++] = L'\r';
        out[o++] = c;
    }
    out[o] = 0;
}

void WriteConverted(const wchar_t* text, int length)
{
    if (g_log.userWindowMode) {
        LogDebuggerOutput(text);
        return;
    }
    if (g_log.off || g_log.folder[0] == 0) return;

    // Appends are serialised: each opens the file without sharing, and the stamp, indent
    // and mid-line flag belong to one line at a time.
    ScopedCoreLock lock(kLogLock);
    wchar_t path[kFolderUnits + 16];
    CopyWideString(path, g_log.folder);
    int n = CountWideUnits(path);
    if (path[n - 1] != L'\\' && path[n - 1] != L'/') path[n++] = L'\\';
    CopyWideString(path + n, kLogFileName);

    void* file = LogOpenForAppend(path);
    if (!g_log.midLine) {
        wchar_t stamp[24];
        std::swprintf(stamp, 24, L"%d:", static_cast<int>(CoreMilliseconds() - g_log.startTime));
        LogWriteUnits(file, stamp, CountWideUnits(stamp));
        LogDebuggerOutput(stamp);
        if (g_log.indent > 0) {
            wchar_t tabs[64];
            const int count = g_log.indent < 63 ? g_log.indent : 63;
            for (int i = 0; i < count; ++i) tabs[i] = L'\t';
            tabs[count] = 0;
            for (int left = g_log.indent; left > 0; left -= 63) LogWriteUnits(file, tabs, left < 63 ? left : 63);
            LogDebuggerOutput(tabs);
        }
    }
    LogWriteUnits(file, text, length);
    LogDebuggerOutput(text);
    g_log.midLine = length == 0 ? g_log.midLine : (text[length - 1] != L'\n');
    LogCloseFile(file);
}

}  // namespace

int AppendLog(const wchar_t* text)
{
    if (!text) return -1;
    if (g_log.capture) g_log.capture(text, g_log.captureUser);
    if (!g_log.userWindowMode && (g_log.off || g_log.folder[0] == 0)) return -1;

    const int length = CountWideUnits(text);
    wchar_t fixed[kFixedTextUnits * 2 + 1];
    wchar_t* converted = fixed;
    if (length > kFixedTextUnits) {
        // Allocated before the log lock is taken: the allocator logs under its own lock.
        const uint64_t bytes = (uint64_t(length) * 2 + 1) * sizeof(wchar_t);
        if (bytes > UINT32_MAX) return -1;
        converted = static_cast<wchar_t*>(AllocTrackedMemory(static_cast<uint32_t>(bytes), nullptr, 0xFFFF));
        if (!converted) return -1;
    }
    ConvertLineEnds(text, length, converted);
    WriteConverted(converted, CountWideUnits(converted));
    if (converted != fixed) FreeTrackedMemory(converted);
    return -1;
}

int AppendLogFormat(const wchar_t* format, ...)
{
    wchar_t buffer[kFormatUnits + 1] = {};
    va_list args;
    va_start(args, format);
    bool cut = false;
    int length = FormatLogText(buffer, format, args, &cut);
    va_end(args);
    // A cut inside a surrogate pair would leave a lone high unit, which would take the line
    // break for its partner: drop it.
    if (cut && length > 0 && IsHighSurrogateUnit(buffer[length - 1])) --length;
    buffer[length] = L'\n';
    buffer[length + 1] = 0;
    return AppendLog(buffer);
}

int AppendLogUtf8(const char* text)
{
    if (!text) return -1;
    // Decoded in pieces so that any length fits a fixed buffer. A carriage return at the end
    // of a piece moves on to the next one: a line feed opening that piece would otherwise
    // get a carriage return of its own.
    wchar_t piece[256];
    int n = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        uint32_t cp = 0xFFFD;
        int extra = 0;
        if (*p < 0x80) {
            cp = *p;
        } else if ((*p & 0xE0) == 0xC0) {
            cp = *p & 0x1F;
            extra = 1;
        } else if ((*p & 0xF0) == 0xE0) {
            cp = *p & 0x0F;
            extra = 2;
        } else if ((*p & 0xF8) == 0xF0) {
            cp = *p & 0x07;
            extra = 3;
        }
        ++p;
        for (int i = 0; i < extra; ++i) {
            if ((*p & 0xC0) != 0x80) {
                cp = 0xFFFD;
                extra = 0;
                break;
            }
            cp = (cp << 6) | (*p++ & 0x3F);
        }
        // An over-long form (C0 80 spells a NUL, which would end the text handed on), a
        // surrogate and anything past U+10FFFF are not characters: each becomes U+FFFD.
        static const uint32_t kShortest[4] = {0, 0x80, 0x800, 0x10000};
        if (cp < kShortest[extra] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
        if (sizeof(wchar_t) == 2 && cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            piece[n++] = static_cast<wchar_t>(0xD800 + (cp >> 10));
            piece[n++] = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        } else {
            piece[n++] = static_cast<wchar_t>(cp);
        }
        if (n >= 250) {
            const bool heldBack = piece[n - 1] == L'\r';
            if (heldBack) --n;
            piece[n] = 0;
            AppendLog(piece);
            n = 0;
            if (heldBack) piece[n++] = L'\r';
        }
    }
    piece[n] = 0;
    if (n > 0) AppendLog(piece);
    return -1;
}

int PushLogIndent()
{
    ScopedCoreLock lock(kLogLock);
    g_log.indent += 1;
    return 0;
}

int PopLogIndent()
{
    ScopedCoreLock lock(kLogLock);
    if (g_log.indent > 0) g_log.indent -= 1;
    return 0;
}

int EnableLogFile(int flag)
{
    g_log.off = flag == 0 ? 1 : 0;
    return 0;
}

int StartLogFile()
{
    if (g_log.off == 1 || g_log.userWindowMode == 1) return 1;
    ScopedCoreLock lock(kLogLock);
    LogCreateFresh(kLogFileName);
    g_log.indent = 0;
    g_log.midLine = 0;
    g_log.startTime = CoreMilliseconds();
    return 1;
}

void SetLogFolder(const wchar_t* folder)
{
    ScopedCoreLock lock(kLogLock);
    CopyWideStringLimited(g_log.folder, folder ? folder : L"", kFolderUnits - 1);
}

void SetLogUserWindowMode(int flag) { g_log.userWindowMode = flag; }

int IsLogObserved() { return g_log.capture != nullptr || g_log.userWindowMode || !g_log.off ? 1 : 0; }

void SetLogCapture(LogCaptureFunction function, void* user)
{
    ScopedCoreLock lock(kLogLock);
    g_log.capture = function;
    g_log.captureUser = user;
}

ScreenLogState* GetScreenLogState() { return &s_screenLog; }

int PrepareScreenLogState()
{
    if (s_screenLog.setUp) return 0;
    s_screenLog.setUp = 1;
    s_screenLog.lineHeight = 16;
    s_screenLog.fontHandle = -1;
    s_screenLog.fontNeeded = 1;
    s_screenLog.shown = 0;
    FillBytes(s_screenLog.lines, 0, sizeof(s_screenLog.lines));
    return 0;
}

void ResetScreenLogState() { s_screenLog.setUp = 0; }

int IsScreenLogShown() { return s_screenLog.shown; }

int AppendLogFormatCp932(const char* format, ...)
{
    char buffer[kFormatUnits + 1] = {};
    va_list args;
    va_start(args, format);
    int length = FormatLogText(buffer, format, args);
    va_end(args);
    // A cut inside a double-byte character would leave a lone lead byte: drop it.
    int i = 0;
    while (i < length) {
        if (IsDoubleByteLead(reinterpret_cast<const unsigned char*>(buffer + i), 1)) {
            if (i + 1 >= length) {
                length = i;
                break;
            }
            i += 2;
        } else {
            i += 1;
        }
    }
    buffer[length] = '\n';
    buffer[length + 1] = 0;
    wchar_t wide[kFormatUnits + 1];
    if (FileOsCodePageToWide(932, buffer, wide, kFormatUnits + 1) < 0) {
        // Bytes the code page cannot read still make a line: ASCII kept, each other byte
        // U+FFFD.
        int n = 0;
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(buffer); *p != 0; ++p)
            wide[n++] = *p < 0x80 ? static_cast<wchar_t>(*p) : static_cast<wchar_t>(0xFFFD);
        wide[n] = 0;
    }
    return AppendLog(wide);
}
