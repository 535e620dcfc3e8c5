// Collecting the texts handed to the log in a test.
#pragma once

#include "quarn/core/core.h"

#include <string>
#include <vector>

// Collects every text handed to the log while it lives.
class LogCapture {
public:
    LogCapture() { SetLogCapture(&LogCapture::Collect, this); }
    ~LogCapture() { SetLogCapture(nullptr, nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // All texts joined, as they would read in the log.
    std::wstring Joined() const
    {
        std::wstring all;
        for (const auto& t : texts) all += t;
        return all;
    }
    bool Contains(const std::wstring& piece) const { return Joined().find(piece) != std::wstring::npos; }

    std::vector<std::wstring> texts;

private:
    static void Collect(const wchar_t* text, void* user) { static_cast<LogCapture*>(user)->texts.emplace_back(text); }
};

// Appends every text handed to the log to *sink, emptied first, until the capture is taken
// away with SetLogCapture(nullptr, nullptr).
inline void CaptureLogInto(std::wstring* sink)
{
    sink->clear();
    SetLogCapture([](const wchar_t* text, void* user) { *static_cast<std::wstring*>(user) += text; }, sink);
}
