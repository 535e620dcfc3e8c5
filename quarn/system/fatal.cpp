#include <cstdarg>
#include <cwchar>

#include "quarn/core/core.h"
#include "quarn/system/startup.h"
#include "quarn/system/system.h"

void FatalErrorExit(const wchar_t* message)
{
    AppendLog(message);
    AppendLog(L"\n");
    RunLibraryShutDown();
    // Torn down without being released: this thread may hold the lock, and no thread
    // gets it after this point.
    CloseLibraryLock();
    ExitProcess(static_cast<UINT>(-1));
}

void FatalErrorExitFormat(const wchar_t* format, ...)
{
    wchar_t message[1024] = {};
    va_list args;
    va_start(args, format);
    const int n = vswprintf(message, sizeof message / sizeof message[0], format, args);
    va_end(args);
    if (n < 0)
        message[sizeof message / sizeof message[0] - 1] = L'\0';
    FatalErrorExit(message);
}
