#include "quarn/system/system.h"

#include "quarn/core/core.h"

// Like every public entry, it holds the library lock for its whole run.
int PumpLibraryMessages()
{
    AcquireLibraryLock();
    const int32_t result = PumpWindowMessages();
    ReleaseLibraryLock();
    return result;
}
