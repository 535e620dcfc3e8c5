// The tracked allocator: every block carries a record in front of it; the records form a
// list of the live blocks, newest first, ending at a static sentinel.

#include "quarn/core/core.h"
#include "quarn/core/platform.h"

#include <cstring>
#include <cwchar>

namespace {

constexpr uint32_t kRecordBytes = sizeof(AllocationRecord);

struct AllocatorState {
    AllocationRecord* head;  // newest record; null before the first allocation
    AllocationRecord sentinel;
    uint16_t counter;
    uint32_t totalSize;  // shown as a signed value
    int32_t blockCount;
    uint32_t requests;
    bool failingOnward;  // the countdown of a failOnward switch has run out
    AllocatorDebugSettings debug;
};

AllocatorState s_alloc;

AllocationRecord* RecordOf(void* block)
{
    return reinterpret_cast<AllocationRecord*>(static_cast<unsigned char*>(block) - kRecordBytes);
}

void* BlockOf(AllocationRecord* record) { return reinterpret_cast<unsigned char*>(record) + kRecordBytes; }

void RefreshGuard(AllocationRecord* record)
{
    if (record) std::memcpy(&record->guard, &record->head, sizeof(record->head));
}

// Points a neighbour's link at another record, in the record and in its guard copy alike.
// Copying the whole record into the guard instead would make a stray write to the
// neighbour's other fields look sound from then on.
void SetLink(AllocationRecord* record, AllocationRecord* AllocationRecordHead::*link, AllocationRecord* to)
{
    if (record) {
        record->head.*link = to;
        record->guard.*link = to;
    }
}

void SetSourceTail(AllocationRecord* record, const char* sourceName)
{
    char* tail = record->head.sourceTail;
    std::memset(tail, 0, sizeof(record->head.sourceTail));
    if (!sourceName) return;
    const size_t length = std::strlen(sourceName);
    const size_t keep = sizeof(record->head.sourceTail) - 1;
    const char* from = length > keep ? sourceName + (length - keep) : sourceName;
    std::memcpy(tail, from, length > keep ? keep : length);
}

uint16_t NextId() { return s_alloc.counter++; }

// Trace entry, totals line and guard check after an operation of the given size.
void AfterOperation(const wchar_t* traceLabel, const AllocationRecord* record, uint32_t size)
{
    const AllocatorDebugSettings& d = s_alloc.debug;
    if (d.traceSize < 0 || static_cast<uint32_t>(d.traceSize) == size || d.traceAll == 1) {
        AppendLog(traceLabel);
        LogAllocationRecordLine(record);
    }
    if (d.totals == 1) LogAllocationTotals();
    if (d.guardCheck == 1) CheckAllocationGuards();
}

// Counts one allocation or reallocation and tells whether the debug switches fail it.
bool RequestFails(uint32_t size)
{
    AllocatorDebugSettings& d = s_alloc.debug;
    s_alloc.requests += 1;
    if (d.failOnward != 1) s_alloc.failingOnward = false;
    if (d.failCountdown > 0 && --d.failCountdown == 0) {
        s_alloc.failingOnward = d.failOnward == 1;
        return true;
    }
    if (s_alloc.failingOnward && d.failCountdown == 0) return true;
    return d.failSize > 0 && size == static_cast<uint32_t>(d.failSize);
}

}  // namespace

void* AllocTrackedMemory(uint32_t size, const char* sourceName, uint16_t line)
{
    ScopedCoreLock lock(kAllocatorLock);
    // A size that cannot carry its record is a failed allocation, not a tiny block.
    AllocationRecord* record = nullptr;
    if (!RequestFails(size) && size <= UINT32_MAX - kRecordBytes)
        record = static_cast<AllocationRecord*>(CoreHeapAlloc(size_t(size) + kRecordBytes));
    if (!record) {
        DumpMemoryRecords();
        CheckAllocationGuards();
        return nullptr;
    }

    std::memset(record, 0, kRecordBytes);
    record->head.size = size;
    SetSourceTail(record, sourceName);
    record->head.line = line;
    record->head.id = NextId();

    if (!s_alloc.head) s_alloc.head = &s_alloc.sentinel;
    AllocationRecord* oldHead = s_alloc.head;
    SetLink(oldHead, &AllocationRecordHead::newer, record);
    record->head.older = oldHead;
    record->head.newer = nullptr;
    s_alloc.head = record;
    RefreshGuard(record);

    s_alloc.totalSize += size;
    s_alloc.blockCount += 1;
    AfterOperation(L"mem alloc  ", record, size);
    return BlockOf(record);
}

void* AllocTrackedMemoryZeroed(uint32_t size, const char* sourceName, uint16_t line)
{
    void* block = AllocTrackedMemory(size, sourceName, line);
    if (block) std::memset(block, 0, size);
    return block;
}

void* ReallocTrackedMemory(void* block, uint32_t newSize, const char* sourceName, uint16_t line)
{
    ScopedCoreLock lock(kAllocatorLock);
    if (!block) return AllocTrackedMemory(newSize, sourceName, line);

    AllocationRecord* old = RecordOf(block);
    const uint32_t oldSize = old->head.size;
    AllocationRecord* moved = nullptr;
    if (!RequestFails(newSize) && newSize <= UINT32_MAX - kRecordBytes)
        moved = static_cast<AllocationRecord*>(
            CoreHeapRealloc(old, size_t(oldSize) + kRecordBytes, size_t(newSize) + kRecordBytes));
    if (!moved) {
        DumpMemoryRecords();
        return nullptr;
    }

    SetSourceTail(moved, sourceName);
    moved->head.line = line;
    moved->head.id = NextId();
    AllocationRecord* older = moved->head.older;
    AllocationRecord* newer = moved->head.newer;
    SetLink(older, &AllocationRecordHead::newer, moved);
    SetLink(newer, &AllocationRecordHead::older, moved);
    if (s_alloc.head == old) s_alloc.head = moved;

    s_alloc.totalSize -= oldSize;
    moved->head.size = newSize;
    s_alloc.totalSize += newSize;
    RefreshGuard(moved);

    AfterOperation(L"mem realloc  ", moved, newSize);
    return BlockOf(moved);
}

uint32_t TrackedMemorySize(const void* block)
{
    if (!block) return 0;
    ScopedCoreLock lock(kAllocatorLock);
    return RecordOf(const_cast<void*>(block))->head.size;
}

void FreeTrackedMemory(void* block)
{
    if (!block) return;
    ScopedCoreLock lock(kAllocatorLock);
    AllocationRecord* record = RecordOf(block);
    s_alloc.totalSize -= record->head.size;
    s_alloc.blockCount -= 1;
    if (s_alloc.debug.guardCheck == 1) CheckAllocationGuards();

    AllocationRecord* older = record->head.older;
    AllocationRecord* newer = record->head.newer;
    SetLink(older, &AllocationRecordHead::newer, newer);
    SetLink(newer, &AllocationRecordHead::older, older);
    if (s_alloc.head == record) s_alloc.head = older;

    AfterOperation(L"mem free  ", record, record->head.size);
    CoreHeapFree(record);
}

int CheckAllocationGuards()
{
    ScopedCoreLock lock(kAllocatorLock);
    for (AllocationRecord* r = s_alloc.head; r && r != &s_alloc.sentinel; r = r->head.older) {
        if (std::memcmp(&r->guard, &r->head, sizeof(r->head)) != 0) {
            AppendLog(L"以下のメモリ確保情報が破損しました");
            LogAllocationRecordLine(r);
            return -1;
        }
    }
    return 0;
}

void DumpMemoryRecords()
{
    ScopedCoreLock lock(kAllocatorLock);
    AppendLog(L"\n");
    AppendLog(L"Alloc memory dump\n");
    for (AllocationRecord* r = s_alloc.head; r && r != &s_alloc.sentinel; r = r->head.older) LogAllocationRecordLine(r);
    LogAllocationTotals();
    AppendLog(L"\n");
}

void LogAllocationTotals()
{
    const int32_t total = static_cast<int32_t>(s_alloc.totalSize);
    AppendLogFormat(L"\tTotal size:%d(%.3fkb)  Alloc num:%d", total, total * 0.0009765625, s_alloc.blockCount);
}

void LogAllocationRecordLine(const AllocationRecord* record)
{
    wchar_t line[256];
    const AllocationRecordHead& h = record->head;
    const unsigned char* data = reinterpret_cast<const unsigned char*>(record) + kRecordBytes;
    char tail[sizeof(h.sourceTail)];
    std::memcpy(tail, h.sourceTail, sizeof(tail));
    tail[sizeof(tail) - 1] = 0;
    // Only the low 32 bits of the address fit the field; on 32-bit builds that is all of it.
    const unsigned address = static_cast<unsigned>(reinterpret_cast<uintptr_t>(data));
    int n = std::swprintf(line, 256, L"\tsize:%d(%.3fkb)  file:%s  line:%d  ID:%d  addr:%08x  data:<",
                          static_cast<int32_t>(h.size), h.size * 0.0009765625, tail, int(h.line), int(h.id), address);
    if (n < 0) n = 0;
    // A broken record may carry a wrong size: of the record and its guard copy, one still
    // holds the true size, and the smaller never reads past the block.
    const uint32_t size = h.size < record->guard.size ? h.size : record->guard.size;
    const int shown = size < 16 ? static_cast<int>(size) : 16;
    // 16 characters + "> [" + 16 * 3 + "]\n" + terminator: 70 units, well within the line.
    for (int i = 0; i < shown; ++i) line[n++] = data[i] < 32 ? L'.' : static_cast<wchar_t>(data[i]);
    line[n++] = L'>';
    line[n++] = L' ';
    line[n++] = L'[';
    static const wchar_t kHex[] = L"0123456789abcdef";
    for (int i = 0; i < shown; ++i) {
        line[n++] = kHex[data[i] >> 4];
        line[n++] = kHex[data[i] & 15];
        line[n++] = L' ';
    }
    // "]\n" replaces the last space, or the opening bracket when no byte was shown.
    n -= 1;
    line[n++] = L']';
    line[n++] = L'\n';
    line[n] = 0;
    AppendLog(line);
}

AllocatorDebugSettings* GetAllocatorDebugSettings() { return &s_alloc.debug; }

AllocatorTotals GetAllocatorTotals()
{
    ScopedCoreLock lock(kAllocatorLock);
    return {static_cast<int32_t>(s_alloc.totalSize), s_alloc.blockCount, s_alloc.counter, s_alloc.requests};
}
