// Test stand-in for the fatal exit of the start-up code, which input calls when the mouse
// or keyboard device cannot be set up.
#include "quarn/system/system.h"

#include <cstdio>
#include <cstdlib>

void FatalErrorExit(const wchar_t* message)
{
    std::fprintf(stderr, "fatal: %ls\n", message);
    std::abort();
}

void FatalErrorExitFormat(const wchar_t* format, ...)
{
    FatalErrorExit(format);
}
