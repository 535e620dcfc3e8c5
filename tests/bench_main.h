// The main of a benchmark program that prints its ratios after the benchmarks' own table:
// it runs every benchmark through the program's reporter, whose Finalize prints the summary.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

// Each ratio a program prints is also handed here, for `make bench`'s one table of every
// build: where QUARN_BENCH_RATIOS names a file, one line "WHAT<tab>ANCHOR<tab>RATIO" is
// appended to it. RATIO is always our speed over the anchor's (above 1: ours is faster),
// whichever way the program's own table puts it.
inline void RecordRatio(const char* what, const char* anchor, double ratio)
{
    const char* path = std::getenv("QUARN_BENCH_RATIOS");
    if (path == nullptr || *path == 0 || !(ratio > 0)) {
        return;
    }
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\t%s\t%.3f\n", what, anchor, ratio);
        std::fclose(f);
    }
}

// The usual console output; each single run, or the mean of repetitions, is handed to Keep
// so that Finalize can print the program's ratios.
class SummaryReporterBase : public benchmark::ConsoleReporter {
public:
    SummaryReporterBase() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Aggregate || r.aggregate_name == "mean") {
                Keep(r);
            }
        }
    }

protected:
    virtual void Keep(const Run& run) = 0;
};

template <typename Reporter>
int RunBenchmarksWithSummary(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
