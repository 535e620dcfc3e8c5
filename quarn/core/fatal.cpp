// The library's one fatal exit.
#include <cstdarg>
#include <cwchar>

#include "quarn/core/core.h"
#include "quarn/core/platform.h"

namespace {

// The shut-down the runtime armed the fatal exit with; null before start-up.
void (*s_fatalShutDown)() = nullptr;

}  // namespace

void ArmFatalErrorExit(void (*shutDown)()) { s_fatalShutDown = shutDown; }

int32_t IsFatalErrorExitArmed() { return s_fatalShutDown != nullptr ? 1 : 0; }

void FatalErrorExit(const wchar_t* message)
{
    AppendLogFormat(L"%ls", message != nullptr ? message : L"");
    if (s_fatalShutDown != nullptr) {
        s_fatalShutDown();
    }
    CoreEndProcessOnFatalError();
}

void FatalErrorExitFormat(const wchar_t* format, ...)
{
    wchar_t message[1024] = {};
    va_list args;
    va_start(args, format);
    const int n = vswprintf(message, sizeof message / sizeof message[0], format, args);
    va_end(args);
    if (n < 0) message[sizeof message / sizeof message[0] - 1] = L'\0';
    FatalErrorExit(message);
}

int32_t FailFatally(const wchar_t* line)
{
    if (s_fatalShutDown != nullptr) {
        FatalErrorExit(line);
    }
    return AppendLogFormat(L"%ls", line);
}
