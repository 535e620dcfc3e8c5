// The main of a benchmark program that prints its ratios after the benchmarks' own table:
// it runs every benchmark through the program's reporter, whose Finalize prints the summary.
#pragma once

#include <benchmark/benchmark.h>

template <typename Reporter>
int RunBenchmarksWithSummary(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
