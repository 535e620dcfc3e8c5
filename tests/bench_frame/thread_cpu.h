// The frame benchmark's measurer (native, Linux): the CPU time of every thread that serves a
// program under Wine over a measured span, from /proc, per thread group.
//
// The threads are sampled every few milliseconds through the span, not only at its two ends:
// a thread that ends inside the span (a process's own threads as it exits, the GL driver's and
// Wine's helpers that come and go) keeps the run time it had at its last sample, and a thread
// or process born inside the span counts from zero. Beside the per-thread sum, a second
// measure is kept per process from its own total (/proc/PID/stat, which still holds the time
// of its threads that have ended), so that a figure can be checked against it.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Which processes serve the program: those started with WINEPREFIX=prefix in their
// environment, and the X server of the display (a command line "Xvfb DISPLAY ...").
// programName: a word of the measured program's command line (its file name), which marks its
// process apart from the prefix's other processes.
struct ServingSelector {
    std::string prefix;
    std::string display;
    std::string programName;
};

// One thread group's share of the span.
struct ThreadGroupCpu {
    std::string name;
    long long runNs = 0;
    int threads = 0;  // threads of the group seen in the span
};

// A measured span: every group's run time (the groups sum to runNs) and the second measure.
struct CpuSpan {
    long long runNs = 0;      // all the serving threads, from their run times
    long long processNs = 0;  // the same from the processes' own totals (10 ms ticks)
    long long wallNs = 0;     // the span's length on the monotonic clock
    int samples = 0;
    std::vector<ThreadGroupCpu> groups;  // in a fixed order, empty groups left out
};

// The group a thread belongs to, from its process's name, its own name (Linux's 15-byte
// "comm"), whether its process is the measured program's and whether it is that process's
// first thread.
std::string ThreadGroupOf(const std::string& processName, const std::string& threadName, bool ofProgram,
                          bool mainThread);

// Samples the serving threads on a thread of its own from StartCpuSampling to StopCpuSampling.
struct CpuSampler {
    struct ThreadRecord {
        long long firstNs = 0;  // at the span's start, or 0 for a thread born inside it
        long long lastNs = 0;
        std::string group;
    };
    struct ProcessRecord {
        bool serving = false;
        bool program = false;
        std::string name;
        long long firstTicks = 0;  // as firstNs, in the process's own clock ticks
        long long lastTicks = 0;
    };

    ServingSelector selector;
    int periodMs = 10;
    std::mutex lock;
    // By process and thread id: within one span of seconds an id is not used twice.
    std::map<std::pair<int, int>, ThreadRecord> threads;
    std::map<int, ProcessRecord> processes;
    long long startNs = 0;
    int samples = 0;
    std::atomic<bool> stop{false};
    std::thread worker;
};

// Takes the span's first sample at once, then samples every periodMs until stopped.
void StartCpuSampling(CpuSampler* sampler, const ServingSelector& selector, int periodMs = 10);
// Takes the span's last sample, ends the sampling and sums the span.
CpuSpan StopCpuSampling(CpuSampler* sampler);
