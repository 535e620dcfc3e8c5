#include "quarn/system/system.h"

#include "quarn/core/core.h"

// The library lock: every public entry holds it for its whole run.
void AcquireLibraryLock();
void ReleaseLibraryLock();

int PumpLibraryMessages()
{
    AcquireLibraryLock();
    const int32_t result = PumpWindowMessages();
    ReleaseLibraryLock();
    return result;
}
