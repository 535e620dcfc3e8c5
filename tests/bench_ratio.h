// The ratios of the benchmark programs, for `make bench`'s one table of every build; apart
// from the Google Benchmark main so that the programs with their own timing (those run under
// Wine, the frame benchmark's driver) hand their ratios over the same way.
#pragma once

#include <cstdio>
#include <cstdlib>

// Where the environment variable names a file, one line "WHAT<tab>ANCHOR<tab>RATIO" is
// appended to it. RATIO is always our speed over the anchor's (above 1: ours is faster),
// whichever way the program's own table puts it.
inline void RecordRatioIn(const char* variable, const char* what, const char* anchor, double ratio)
{
    const char* path = std::getenv(variable);
    if (path == nullptr || *path == 0 || !(ratio > 0)) {
        return;
    }
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\t%s\t%.3f\n", what, anchor, ratio);
        std::fclose(f);
    }
}

// Each ratio a program prints: into the file QUARN_BENCH_RATIOS names.
inline void RecordRatio(const char* what, const char* anchor, double ratio)
{
    RecordRatioIn("QUARN_BENCH_RATIOS", what, anchor, ratio);
}
