// Sweeping a failing allocation over an operation: the allocator's countdown makes the Nth
// allocation fail (or that one and every later one), for every N the operation reaches. Each
// run must succeed as it would have, or be refused with one of its log lines, leave nothing
// half-made behind and give back every block it took.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "quarn/core/core.h"
#include "tests/core/log_capture.h"

namespace test {

struct AllocationSweep {
    const char* name;
    // Runs before each run with every allocation served, and is not counted; may be empty.
    std::function<void()> prepare;
    // The operation. A result below 0 is a refusal; otherwise it made what `undo` gives back.
    // It checks what it made itself (a run whose allocation failed may still succeed, and
    // must then have made the same).
    std::function<int32_t()> run;
    // Gives back what a successful run made; may be empty.
    std::function<void(int32_t result)> undo;
    // A refusal logs at least one of these.
    std::vector<std::wstring> refusalLines;
    // After a refusal: checks that nothing the run began is left reachable; may be empty.
    std::function<void()> nothingLeft;
    // Lines with which the library ends the program on purpose (once its fatal exit is
    // armed), each as the fatal exit logs it, whole. A run that logs one says so on the error output, where a sweep that runs each
    // run in a process of its own looks for it: see kSweepRunEnded.
    std::vector<std::wstring> fatalLines;
    // False for an operation that has no refusal (a shut-down): it must go through whatever
    // allocation fails.
    bool canRefuse = true;
};

// Written to the error output by a run that ended as it must, in its own process.
constexpr const char* kSweepRunEnded = "SWEEP-RUN-ENDED";

// The texts handed to the log during one run, watching for the fatal lines.
struct SweepLog {
    std::wstring text;
    const std::vector<std::wstring>* fatalLines;

    explicit SweepLog(const std::vector<std::wstring>* fatal) : fatalLines(fatal) { SetLogCapture(&Collect, this); }
    ~SweepLog() { SetLogCapture(nullptr, nullptr); }
    SweepLog(const SweepLog&) = delete;
    SweepLog& operator=(const SweepLog&) = delete;

    static void Collect(const wchar_t* piece, void* user)
    {
        auto* log = static_cast<SweepLog*>(user);
        log->text += piece;
        // The fatal exit's line, with the line break its log call adds.
        std::wstring whole(piece);
        if (!whole.empty() && whole.back() == L'\n') whole.pop_back();
        for (const std::wstring& line : *log->fatalLines) {
            if (line == whole) {
                std::fprintf(stderr, "%s: a designed fatal exit\n", kSweepRunEnded);
                std::fflush(stderr);
            }
        }
    }
};

// The number of allocations one run asks for: its second run's, after a first that may have
// made what lives on (tables made on first use). Both must succeed and give back all they took.
inline uint32_t CountSweepRequests(const AllocationSweep& c)
{
    for (int pass = 0; pass < 2; ++pass) {
        const AllocatorTotals before = GetAllocatorTotals();
        if (c.prepare) c.prepare();
        const uint32_t prepared = GetAllocatorTotals().requests;
        const int32_t result = c.run();
        const uint32_t ran = GetAllocatorTotals().requests - prepared;
        EXPECT_GE(result, 0) << c.name << ": the operation fails with memory to spare";
        if (result < 0) return 0;
        if (c.undo) c.undo(result);
        const AllocatorTotals after = GetAllocatorTotals();
        if (pass == 1) {
            EXPECT_EQ(after.blockCount, before.blockCount) << c.name;
            EXPECT_EQ(after.totalSize, before.totalSize) << c.name;
            return ran;
        }
    }
    return 0;
}

// One run with allocation n failing (or, with onward 1, every one from n), checked as the
// sweep checks it; requests is the count of a run. Failures are reported as test failures.
inline void RunWithFailingAllocation(const AllocationSweep& c, uint32_t n, int onward, uint32_t requests)
{
    const std::string where = std::string(c.name) + (onward ? ": every allocation from the " : ": allocation ") +
                              std::to_string(n) + " of " + std::to_string(requests) + " failing";
    SCOPED_TRACE(where);
    AllocatorDebugSettings* d = GetAllocatorDebugSettings();
    const AllocatorTotals before = GetAllocatorTotals();
    if (c.prepare) c.prepare();
    int32_t result = 0;
    std::wstring logged;
    {
        SweepLog log(&c.fatalLines);
        d->failCountdown = static_cast<int32_t>(n);
        d->failOnward = onward;
        result = c.run();
        d->failCountdown = 0;
        d->failOnward = 0;
        logged = log.text;
    }
    if (result < 0) {
        bool lineFound = false;
        for (const std::wstring& line : c.refusalLines)
            lineFound = lineFound || logged.find(line) != std::wstring::npos;
        EXPECT_TRUE(lineFound) << "refused without its log line";
        if (c.nothingLeft) c.nothingLeft();
    } else if (c.undo) {
        c.undo(result);
    }
    if (n > requests || !c.canRefuse) {
        EXPECT_GE(result, 0) << "refused with no allocation failing, or with no refusal to give";
    }
    if (n == 1 && onward == 1 && requests > 0 && c.canRefuse) {
        EXPECT_LT(result, 0) << "an operation without memory is refused";
    }
    const AllocatorTotals after = GetAllocatorTotals();
    EXPECT_EQ(after.blockCount, before.blockCount) << "blocks leaked";
    EXPECT_EQ(after.totalSize, before.totalSize) << "bytes leaked";
}

// Runs the sweep: each allocation of a run failing alone, then every one from it, and one
// run past the last with nothing failing. The number of allocations one run asks for.
inline uint32_t SweepFailingAllocations(const AllocationSweep& c)
{
    const uint32_t requests = CountSweepRequests(c);
    for (int onward : {0, 1}) {
        for (uint32_t n = 1; n <= requests + 1; ++n) {
            RunWithFailingAllocation(c, n, onward, requests);
            if (::testing::Test::HasFailure()) return requests;
        }
    }
    return requests;
}

}  // namespace test
