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

LibraryLockState s_lock = {0, 0, 0xFFFFFFFFu, {}, 0, 0, {}};

void CreateLockObjects()
{
    // The first caller creates the events; a thread-safe static makes that happen once.
    static const bool created = [] {
        for (WaitEntry& e : s_lock.queue) e.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        InitializeCriticalSection(&s_lock.guard);
        s_lock.created = 1;
        return true;
    }();
    (void)created;
}

void Take(DWORD thread)
{
    s_lock.recursion += 1;
    s_lock.locked = 1;
    s_lock.owner = thread;
    LeaveCriticalSection(&s_lock.guard);
}

}  // namespace

void AcquireLibraryLock()
{
    CreateLockObjects();
    const DWORD self = GetCurrentThreadId();
    for (;;) {
        EnterCriticalSection(&s_lock.guard);
        const int32_t n = s_lock.waiters;
        if (!s_lock.locked) {
            if (n == 0 || s_lock.owner == self) {
                Take(self);
                return;
            }
            if (s_lock.queue[0].threadId == self) {
                // Leave the queue: the others move up, taking their events along, and
                // this entry's event goes to the freed last entry.
                const HANDLE event = s_lock.queue[0].event;
                for (int32_t i = 1; i < n; ++i) s_lock.queue[i - 1] = s_lock.queue[i];
                s_lock.queue[n - 1] = {0, event};
                s_lock.waiters = n - 1;
                Take(self);
                return;
            }
        } else if (s_lock.owner == self) {
            Take(self);
            return;
        }
        if (n < kQueueEntries) {
            s_lock.queue[n].threadId = self;
            const HANDLE event = s_lock.queue[n].event;
            s_lock.waiters = n + 1;
            LeaveCriticalSection(&s_lock.guard);
            WaitForSingleObject(event, INFINITE);
            ResetEvent(event);
        } else {
            LeaveCriticalSection(&s_lock.guard);
            Sleep(1);
        }
    }
}

void ReleaseLibraryLock()
{
    if (!s_lock.created) return;
    EnterCriticalSection(&s_lock.guard);
    HANDLE wake = nullptr;
    if (s_lock.recursion == 1) {
        s_lock.locked = 0;
        s_lock.owner = 0xFFFFFFFFu;
        if (s_lock.waiters >= 1) wake = s_lock.queue[0].event;
    }
    if (s_lock.recursion > 0) s_lock.recursion -= 1;
    LeaveCriticalSection(&s_lock.guard);
    if (wake) {
        SetEvent(wake);
        Sleep(0);
    }
}

void CloseLibraryLock()
{
    if (!s_lock.created) return;
    for (WaitEntry& e : s_lock.queue) {
        CloseHandle(e.event);
        e.event = nullptr;
    }
    DeleteCriticalSection(&s_lock.guard);
    s_lock.created = 0;
}

int GetLibraryLockWaiterCount()
{
    if (!s_lock.created) return 0;
    EnterCriticalSection(&s_lock.guard);
    const int n = s_lock.waiters;
    LeaveCriticalSection(&s_lock.guard);
    return n;
}
