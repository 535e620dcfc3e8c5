// The library-wide recursive lock. Threads that find it taken, or free while others are
// still queued, join a first-in-first-out queue and sleep on an event of their own entry;
// a release wakes the head of the queue, and only the head may take a free lock.

#include <windows.h>

#include "quarn/core/core.h"

namespace {

constexpr int kQueueEntries = 4096;

struct WaitEntry {
    DWORD threadId;
    HANDLE event;
};

struct LibraryLockState {
    int32_t recursion;
    int32_t locked;
    DWORD owner;
    WaitEntry queue[kQueueEntries];
    int32_t waiters;
    int32_t created;
    CRITICAL_SECTION guard;
};

LibraryLockState g_lock = {0, 0, 0xFFFFFFFFu, {}, 0, 0, {}};

void CreateLockObjects()
{
    // The first caller creates the events; a thread-safe static makes that happen once.
    static const bool created = [] {
        for (WaitEntry& e : g_lock.queue)
            e.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        InitializeCriticalSection(&g_lock.guard);
        g_lock.created = 1;
        return true;
    }();
    (void)created;
}

void Take(DWORD thread)
{
    g_lock.recursion += 1;
    g_lock.locked = 1;
    g_lock.owner = thread;
    LeaveCriticalSection(&g_lock.guard);
}

}  // namespace

void AcquireLibraryLock()
{
    CreateLockObjects();
    const DWORD self = GetCurrentThreadId();
    for (;;) {
        EnterCriticalSection(&g_lock.guard);
        const int32_t n = g_lock.waiters;
        if (!g_lock.locked) {
            if (n == 0 || g_lock.owner == self) {
                Take(self);
                return;
            }
            if (g_lock.queue[0].threadId == self) {
                // Leave the queue: the others move up, taking their events along, and
                // this entry's event goes to the freed last entry.
                const HANDLE event = g_lock.queue[0].event;
                for (int32_t i = 1; i < n; ++i)
                    g_lock.queue[i - 1] = g_lock.queue[i];
                g_lock.queue[n - 1] = {0, event};
                g_lock.waiters = n - 1;
                Take(self);
                return;
            }
        } else if (g_lock.owner == self) {
            Take(self);
            return;
        }
        if (n < kQueueEntries) {
            g_lock.queue[n].threadId = self;
            const HANDLE event = g_lock.queue[n].event;
            g_lock.waiters = n + 1;
            LeaveCriticalSection(&g_lock.guard);
            WaitForSingleObject(event, INFINITE);
            ResetEvent(event);
        } else {
            LeaveCriticalSection(&g_lock.guard);
            Sleep(1);
        }
    }
}

void ReleaseLibraryLock()
{
    if (!g_lock.created)
        return;
    EnterCriticalSection(&g_lock.guard);
    HANDLE wake = nullptr;
    if (g_lock.recursion == 1) {
        g_lock.locked = 0;
        g_lock.owner = 0xFFFFFFFFu;
        if (g_lock.waiters >= 1)
            wake = g_lock.queue[0].event;
    }
    if (g_lock.recursion > 0)
        g_lock.recursion -= 1;
    LeaveCriticalSection(&g_lock.guard);
    if (wake) {
        SetEvent(wake);
        Sleep(0);
    }
}

void CloseLibraryLock()
{
    if (!g_lock.created)
        return;
    for (WaitEntry& e : g_lock.queue) {
        CloseHandle(e.event);
        e.event = nullptr;
    }
    DeleteCriticalSection(&g_lock.guard);
    g_lock.created = 0;
}

int GetLibraryLockWaiterCount()
{
    if (!g_lock.created)
        return 0;
    EnterCriticalSection(&g_lock.guard);
    const int n = g_lock.waiters;
    LeaveCriticalSection(&g_lock.guard);
    return n;
}
