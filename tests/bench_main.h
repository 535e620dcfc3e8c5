// The main of a benchmark program that prints its ratios after the benchmarks' own table:
// it runs every benchmark through the program's reporter, whose Finalize prints the summary.
#pragma once

#include <benchmark/benchmark.h>

#include <vector>

#include "tests/bench_ratio.h"

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
