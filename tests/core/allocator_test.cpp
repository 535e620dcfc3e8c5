#include "quarn/core/core.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

AllocationRecord* RecordOf(void* block)
{
    return reinterpret_cast<AllocationRecord*>(static_cast<unsigned char*>(block) - sizeof(AllocationRecord));
}

std::wstring Hex8(const void* p)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"%08x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
    return text;
}

std::wstring Number(long long v) { return std::to_wstring(v); }

TEST(Allocator, RecordLineShowsSizeSourceLineIdAddressAndData)
{
    char* block = static_cast<char*>(AllocTrackedMemory(5, "src/file.cpp", 12));
    ASSERT_NE(block, nullptr);
    std::memcpy(block,
                "ab\x01"
                "cd",
                5);
    const int id = RecordOf(block)->head.id;

    LogCapture log;
    LogAllocationRecordLine(RecordOf(block));
    ASSERT_EQ(log.texts.size(), 1u);
    EXPECT_EQ(log.texts[0], L"\tsize:5(0.005kb)  file:src/file.cpp  line:12  ID:" + Number(id) + L"  addr:" +
                                Hex8(block) + L"  data:<ab.cd> [61 62 01 63 64]\n");
    FreeTrackedMemory(block);
}

TEST(Allocator, DataPartShowsAtMostSixteenBytes)
{
    unsigned char* block = static_cast<unsigned char*>(AllocTrackedMemory(40, nullptr, 0));
    for (int i = 0; i < 40; ++i) block[i] = static_cast<unsigned char>('A' + i);
    LogCapture log;
    LogAllocationRecordLine(RecordOf(block));
    EXPECT_NE(log.Joined().find(L"file:  line:0  "), std::wstring::npos);
    EXPECT_NE(log.Joined().find(L"data:<ABCDEFGHIJKLMNOP> [41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50]\n"),
              std::wstring::npos);
    FreeTrackedMemory(block);
}

TEST(Allocator, SourceNameKeepsItsLastFifteenCharacters)
{
    struct Case {
        const char* name;
        const char* tail;
    } const cases[] = {
        {"abcdefghijklmno", "abcdefghijklmno"},       // exactly 15: whole
        {"0123456789abcdefghij", "56789abcdefghij"},  // 20: last 15
        {"", ""},
        {nullptr, ""},
    };
    for (const Case& c : cases) {
        void* block = AllocTrackedMemory(8, c.name, 3);
        ASSERT_NE(block, nullptr);
        EXPECT_STREQ(RecordOf(block)->head.sourceTail, c.tail) << (c.name ? c.name : "(null)");
        FreeTrackedMemory(block);
    }
}

TEST(Allocator, DumpListsLiveBlocksNewestFirstWithTotals)
{
    const AllocatorTotals before = GetAllocatorTotals();
    void* a = AllocTrackedMemory(100, "a.cpp", 1);
    void* b = AllocTrackedMemory(200, "b.cpp", 2);
    void* c = AllocTrackedMemory(300, "c.cpp", 3);
    EXPECT_EQ(GetAllocatorTotals().blockCount, before.blockCount + 3);
    EXPECT_EQ(GetAllocatorTotals().totalSize, before.totalSize + 600);
    FreeTrackedMemory(b);
    EXPECT_EQ(CheckAllocationGuards(), 0);

    LogCapture log;
    DumpMemoryRecords();
    const std::wstring dump = log.Joined();
    ASSERT_GE(log.texts.size(), 5u);
    EXPECT_EQ(log.texts[0], L"\n");
    EXPECT_EQ(log.texts[1], L"Alloc memory dump\n");
    const size_t posC = dump.find(L"file:c.cpp  line:3");
    const size_t posA = dump.find(L"file:a.cpp  line:1");
    ASSERT_NE(posC, std::wstring::npos);
    ASSERT_NE(posA, std::wstring::npos);
    EXPECT_LT(posC, posA);
    EXPECT_EQ(dump.find(L"file:b.cpp"), std::wstring::npos);
    const AllocatorTotals now = GetAllocatorTotals();
    wchar_t totals[128];
    std::swprintf(totals, 128, L"\tTotal size:%d(%.3fkb)  Alloc num:%d\n", now.totalSize, now.totalSize / 1024.0,
                  now.blockCount);
    EXPECT_EQ(log.texts[log.texts.size() - 2], totals);
    EXPECT_EQ(log.texts.back(), L"\n");

    FreeTrackedMemory(a);
    FreeTrackedMemory(c);
    EXPECT_EQ(GetAllocatorTotals().blockCount, before.blockCount);
    EXPECT_EQ(GetAllocatorTotals().totalSize, before.totalSize);
}

TEST(Allocator, CorruptedRecordIsReportedAndTheAllocatorStaysUsable)
{
    for (size_t offset = 0; offset < sizeof(AllocationRecordHead); offset += 5) {
        unsigned char* block = static_cast<unsigned char*>(AllocTrackedMemory(4, "guard.cpp", 7));
        unsigned char* record = reinterpret_cast<unsigned char*>(RecordOf(block));
        ASSERT_EQ(CheckAllocationGuards(), 0);
        const unsigned char saved = record[offset];
        record[offset] ^= 0x5A;  // a stray write just in front of the block
        {
            LogCapture log;
            EXPECT_EQ(CheckAllocationGuards(), -1) << "offset " << offset;
            ASSERT_GE(log.texts.size(), 2u);
            EXPECT_EQ(log.texts[0], L"以下のメモリ確保情報が破損しました");
            EXPECT_NE(log.texts[1].find(L"addr:" + Hex8(block)), std::wstring::npos);
        }
        record[offset] = saved;
        EXPECT_EQ(CheckAllocationGuards(), 0);
        void* other = AllocTrackedMemory(16, nullptr, 0);
        ASSERT_NE(other, nullptr);
        FreeTrackedMemory(other);
        FreeTrackedMemory(block);
    }
}

TEST(Allocator, CorruptionSurvivesChangesToTheNeighboursLinks)
{
    // Each operation relinks the broken record to a neighbour; its stray write must still
    // show at the next check.
    enum Op { kAllocAfter, kFreeNewer, kReallocNewer, kFreeOlder, kReallocOlder };
    for (Op op : {kAllocAfter, kFreeNewer, kReallocNewer, kFreeOlder, kReallocOlder}) {
        void* older = AllocTrackedMemory(4, nullptr, 0);
        unsigned char* block = static_cast<unsigned char*>(AllocTrackedMemory(4, "stray.cpp", 7));
        void* newer = op == kAllocAfter ? nullptr : AllocTrackedMemory(4, nullptr, 0);
        AllocationRecordHead& h = RecordOf(block)->head;
        h.size ^= 0x40000000u;
        switch (op) {
        case kAllocAfter: newer = AllocTrackedMemory(4, nullptr, 0); break;
        case kFreeNewer:
            FreeTrackedMemory(newer);
            newer = nullptr;
            break;
        case kReallocNewer: newer = ReallocTrackedMemory(newer, 5000, nullptr, 0); break;
        case kFreeOlder:
            FreeTrackedMemory(older);
            older = nullptr;
            break;
        case kReallocOlder: older = ReallocTrackedMemory(older, 5000, nullptr, 0); break;
        }
        {
            LogCapture log;
            EXPECT_EQ(CheckAllocationGuards(), -1) << "operation " << op;
            EXPECT_TRUE(log.Contains(L"file:stray.cpp  line:7  ")) << "operation " << op;
        }
        h.size ^= 0x40000000u;
        EXPECT_EQ(CheckAllocationGuards(), 0) << "operation " << op;
        FreeTrackedMemory(newer);
        FreeTrackedMemory(block);
        FreeTrackedMemory(older);
    }
}

TEST(Allocator, ReallocGetsANewIdKeepsDataAndZeroesTheGrowth)
{
    unsigned char* block = static_cast<unsigned char*>(AllocTrackedMemory(8, "r.cpp", 1));
    std::memset(block, 0xAB, 8);
    const uint16_t firstId = RecordOf(block)->head.id;
    const AllocatorTotals before = GetAllocatorTotals();

    unsigned char* grown = static_cast<unsigned char*>(ReallocTrackedMemory(block, 5000, "r2.cpp", 9));
    ASSERT_NE(grown, nullptr);
    const AllocationRecordHead& h = RecordOf(grown)->head;
    EXPECT_NE(h.id, firstId);
    EXPECT_EQ(h.id, before.nextId);
    EXPECT_EQ(h.line, 9);
    EXPECT_STREQ(h.sourceTail, "r2.cpp");
    EXPECT_EQ(h.size, 5000u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(grown[i], 0xAB);
    for (int i = 8; i < 5000; ++i) ASSERT_EQ(grown[i], 0) << i;
    EXPECT_EQ(GetAllocatorTotals().blockCount, before.blockCount);
    EXPECT_EQ(GetAllocatorTotals().totalSize, before.totalSize + 5000 - 8);
    EXPECT_EQ(CheckAllocationGuards(), 0);
    FreeTrackedMemory(grown);
}

TEST(Allocator, ReallocInTheMiddleOfTheListKeepsItLinked)
{
    void* a = AllocTrackedMemory(11, "older.cpp", 1);
    void* b = AllocTrackedMemory(12, "middle.cpp", 2);
    void* c = AllocTrackedMemory(13, "newer.cpp", 3);
    AllocatorDebugSettings* d = GetAllocatorDebugSettings();
    const AllocatorDebugSettings saved = *d;
    d->traceSize = 70000;
    {
        LogCapture log;
        // Large enough that the heap moves the block.
        b = ReallocTrackedMemory(b, 70000, "moved.cpp", 5);
        ASSERT_NE(b, nullptr);
        ASSERT_GE(log.texts.size(), 2u);
        EXPECT_EQ(log.texts[0], L"mem realloc  ");
        EXPECT_NE(log.texts[1].find(L"\tsize:70000("), std::wstring::npos);
        EXPECT_NE(log.texts[1].find(L"file:moved.cpp  line:5  "), std::wstring::npos);
    }
    *d = saved;
    // Both neighbours point at the moved record, and every guard copy still matches.
    const AllocationRecord* moved = RecordOf(b);
    EXPECT_EQ(moved->head.newer, RecordOf(c));
    EXPECT_EQ(moved->head.older, RecordOf(a));
    EXPECT_EQ(RecordOf(c)->head.older, moved);
    EXPECT_EQ(RecordOf(a)->head.newer, moved);
    EXPECT_EQ(CheckAllocationGuards(), 0);
    LogCapture dump;
    DumpMemoryRecords();
    const std::wstring all = dump.Joined();
    const size_t posC = all.find(L"file:newer.cpp"), posB = all.find(L"file:moved.cpp"),
                 posA = all.find(L"file:older.cpp");
    ASSERT_NE(posB, std::wstring::npos);
    EXPECT_LT(posC, posB);
    EXPECT_LT(posB, posA);
    FreeTrackedMemory(b);
    FreeTrackedMemory(a);
    FreeTrackedMemory(c);
    EXPECT_EQ(CheckAllocationGuards(), 0);
}

TEST(Allocator, NullArgumentsAndZeroSize)
{
    FreeTrackedMemory(nullptr);  // ignored

    void* fromNull = ReallocTrackedMemory(nullptr, 24, "n.cpp", 4);
    ASSERT_NE(fromNull, nullptr);
    EXPECT_EQ(RecordOf(fromNull)->head.size, 24u);

    const AllocatorTotals before = GetAllocatorTotals();
    LogCapture log;
    void* empty = AllocTrackedMemory(0, nullptr, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_NE(empty, fromNull);
    EXPECT_EQ(GetAllocatorTotals().blockCount, before.blockCount + 1);
    // The default trace size is 0, so a zero-size request is traced.
    ASSERT_GE(log.texts.size(), 2u);
    EXPECT_EQ(log.texts[0], L"mem alloc  ");
    const std::wstring& line = log.texts[1];
    EXPECT_EQ(line.substr(line.size() - 10), L"data:<> ]\n");

    FreeTrackedMemory(empty);
    FreeTrackedMemory(fromNull);
}

TEST(Allocator, ZeroedAllocationIsZero)
{
    // Dirty the heap first so that a missing clear shows.
    unsigned char* dirty = static_cast<unsigned char*>(AllocTrackedMemory(256, nullptr, 0));
    std::memset(dirty, 0xCD, 256);
    FreeTrackedMemory(dirty);
    unsigned char* block = static_cast<unsigned char*>(AllocTrackedMemoryZeroed(256, nullptr, 0));
    for (int i = 0; i < 256; ++i) ASSERT_EQ(block[i], 0);
    FreeTrackedMemory(block);
}

TEST(Allocator, IdsWrapAfter65536Allocations)
{
    void* first = AllocTrackedMemory(1, nullptr, 0);
    const uint16_t id = RecordOf(first)->head.id;
    for (int i = 0; i < 65535; ++i) FreeTrackedMemory(AllocTrackedMemory(1, nullptr, 0));
    void* again = AllocTrackedMemory(1, nullptr, 0);
    EXPECT_EQ(RecordOf(again)->head.id, id);
    FreeTrackedMemory(first);
    FreeTrackedMemory(again);
}

TEST(Allocator, SizeThatCannotCarryItsRecordFailsWithADump)
{
    const AllocatorTotals before = GetAllocatorTotals();
    LogCapture log;
    EXPECT_EQ(AllocTrackedMemory(0xFFFFFFF0u, nullptr, 0), nullptr);
    EXPECT_TRUE(log.Contains(L"Alloc memory dump\n"));

    void* block = AllocTrackedMemory(16, nullptr, 0);
    std::memset(block, 7, 16);
    EXPECT_EQ(ReallocTrackedMemory(block, 0xFFFFFFF0u, nullptr, 0), nullptr);
    // The old block stays valid and linked.
    EXPECT_EQ(static_cast<unsigned char*>(block)[15], 7);
    EXPECT_EQ(GetAllocatorTotals().blockCount, before.blockCount + 1);
    EXPECT_EQ(CheckAllocationGuards(), 0);
    FreeTrackedMemory(block);
    EXPECT_EQ(GetAllocatorTotals().blockCount, before.blockCount);
}

TEST(Allocator, DebugSwitchesTraceTotalsAndCheck)
{
    AllocatorDebugSettings* d = GetAllocatorDebugSettings();
    const AllocatorDebugSettings saved = *d;
    d->traceSize = 33;
    d->totals = 1;
    {
        LogCapture log;
        void* traced = AllocTrackedMemory(33, nullptr, 0);
        void* quiet = AllocTrackedMemory(34, nullptr, 0);
        FreeTrackedMemory(traced);
        FreeTrackedMemory(quiet);
        const std::wstring all = log.Joined();
        EXPECT_NE(all.find(L"mem alloc  \tsize:33("), std::wstring::npos);
        EXPECT_NE(all.find(L"mem free  \tsize:33("), std::wstring::npos);
        EXPECT_EQ(all.find(L"  \tsize:34("), std::wstring::npos);
        size_t totalsLines = 0;
        for (const auto& t : log.texts) totalsLines += t.find(L"\tTotal size:") == 0;
        EXPECT_EQ(totalsLines, 4u);
    }
    *d = saved;

    // Trace-all traces every size; the guard check runs after each operation, traced or not.
    // The broken record is kept away from the head, whose guard copy each allocation renews.
    unsigned char* broken = static_cast<unsigned char*>(AllocTrackedMemory(8, "broken.cpp", 1));
    void* spacer = AllocTrackedMemory(8, nullptr, 0);
    RecordOf(broken)->head.line ^= 0x0101;
    d->traceSize = 1;
    for (int flag : {0, 1}) {
        d->guardCheck = flag;
        d->traceAll = flag;
        LogCapture log;
        void* block = AllocTrackedMemory(35, nullptr, 0);
        FreeTrackedMemory(block);
        EXPECT_EQ(log.Contains(L"以下のメモリ確保情報が破損しました"), flag == 1);
        EXPECT_EQ(log.Contains(L"file:broken.cpp  line:256  "), flag == 1);
        EXPECT_EQ(log.Contains(L"mem alloc  \tsize:35("), flag == 1);
        EXPECT_EQ(log.Contains(L"mem free  \tsize:35("), flag == 1);
    }
    *d = saved;
    RecordOf(broken)->head.line ^= 0x0101;
    EXPECT_EQ(CheckAllocationGuards(), 0);
    FreeTrackedMemory(spacer);
    FreeTrackedMemory(broken);
}

TEST(Allocator, CountdownFailsTheNthRequestOrEveryOneFromIt)
{
    // Five requests in turn: allocate, grow that block (allocate when the first failed),
    // allocate, allocate zeroed, grow again. Each case names the requests that fail.
    struct Case {
        int32_t countdown;
        int32_t onward;
        const char* fails;  // one character per request: x fails, . succeeds
    } const cases[] = {
        {1, 0, "x...."}, {2, 0, ".x..."}, {5, 0, "....x"}, {6, 0, "....."},
        {1, 1, "xxxxx"}, {3, 1, "..xxx"}, {5, 1, "....x"}, {0, 1, "....."},
    };
    AllocatorDebugSettings* d = GetAllocatorDebugSettings();
    const AllocatorDebugSettings saved = *d;
    for (const Case& c : cases) {
        const AllocatorTotals before = GetAllocatorTotals();
        d->failCountdown = c.countdown;
        d->failOnward = c.onward;
        std::string got;
        unsigned char* grown = static_cast<unsigned char*>(AllocTrackedMemory(8, nullptr, 0));
        got += grown ? '.' : 'x';
        unsigned char* kept = grown;
        if (kept) kept[0] = 0x5A;
        void* moved = ReallocTrackedMemory(kept, 4000, nullptr, 0);
        got += moved ? '.' : 'x';
        if (kept && !moved) EXPECT_EQ(kept[0], 0x5A) << "a failed reallocation keeps the old block";
        else if (moved) kept = static_cast<unsigned char*>(moved);
        void* a = AllocTrackedMemory(16, nullptr, 0);
        got += a ? '.' : 'x';
        void* b = AllocTrackedMemoryZeroed(16, nullptr, 0);
        got += b ? '.' : 'x';
        void* again = ReallocTrackedMemory(kept, 9000, nullptr, 0);
        got += again ? '.' : 'x';
        if (again) kept = static_cast<unsigned char*>(again);
        EXPECT_EQ(got, c.fails) << "countdown " << c.countdown << " onward " << c.onward;
        EXPECT_EQ(GetAllocatorTotals().requests, before.requests + 5);
        *d = saved;
        FreeTrackedMemory(kept);
        FreeTrackedMemory(a);
        FreeTrackedMemory(b);
        EXPECT_EQ(GetAllocatorTotals().blockCount, before.blockCount);
        EXPECT_EQ(GetAllocatorTotals().totalSize, before.totalSize);
        void* after = AllocTrackedMemory(8, nullptr, 0);
        EXPECT_NE(after, nullptr) << "switched off, the allocator serves again";
        FreeTrackedMemory(after);
    }
}

}  // namespace
