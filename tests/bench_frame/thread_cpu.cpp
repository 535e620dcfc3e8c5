#include "tests/bench_frame/thread_cpu.h"

#include <dirent.h>
#include <unistd.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

long long MonotonicNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

// The name and the fields after it of a /proc stat line ("PID (NAME) STATE PPID ..."); the
// name may hold spaces and parentheses, so it ends at the last ')'.
bool ParseStat(const std::string& line, std::string* name, std::vector<std::string>* fields)
{
    const size_t open = line.find('(');
    const size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return false;
    }
    *name = line.substr(open + 1, close - open - 1);
    std::istringstream rest(line.substr(close + 1));
    fields->clear();
    for (std::string f; rest >> f;) {
        fields->push_back(f);
    }
    return fields->size() > 12;
}

// User and system time of a process, its threads that ended included, in clock ticks; -1 when
// it is gone.
long long ProcessTicks(int pid)
{
    std::string name;
    std::vector<std::string> fields;
    if (!ParseStat(Slurp("/proc/" + std::to_string(pid) + "/stat"), &name, &fields)) {
        return -1;
    }
    // Fields 14 and 15 of the line, utime and stime; the vector starts at field 3.
    return std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str());
}

bool HasLine(const std::string& zeroSeparated, const std::string& entry)
{
    size_t at = 0;
    while (at < zeroSeparated.size()) {
        const size_t end = std::min(zeroSeparated.find('\0', at), zeroSeparated.size());
        if (zeroSeparated.compare(at, end - at, entry) == 0) {
            return true;
        }
        at = end + 1;
    }
    return false;
}

void Sample(CpuSampler* s, bool first)
{
    std::lock_guard<std::mutex> hold(s->lock);
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return;
    }
    while (dirent* e = readdir(proc)) {
        const int pid = std::atoi(e->d_name);
        if (pid <= 0) {
            continue;
        }
        const std::string base = "/proc/" + std::string(e->d_name);
        auto known = s->processes.find(pid);
        if (known == s->processes.end()) {
            CpuSampler::ProcessRecord p;
            std::string command = Slurp(base + "/cmdline");
            const bool server = command.rfind("Xvfb", 0) == 0 && HasLine(command, s->selector.display);
            const bool ofPrefix = HasLine(Slurp(base + "/environ"), "WINEPREFIX=" + s->selector.prefix);
            p.serving = server || ofPrefix;
            std::replace(command.begin(), command.end(), '\0', ' ');
            p.program = ofPrefix && !s->selector.programName.empty() &&
                        command.find(s->selector.programName) != std::string::npos;
            std::vector<std::string> fields;
            ParseStat(Slurp(base + "/stat"), &p.name, &fields);
            if (server) {
                p.name = "Xvfb";
            }
            known = s->processes.emplace(pid, p).first;
            if (p.serving && first) {
                known->second.firstTicks = ProcessTicks(pid);
            }
        }
        CpuSampler::ProcessRecord& p = known->second;
        if (!p.serving) {
            continue;
        }
        const long long ticks = ProcessTicks(pid);
        if (ticks >= 0) {
            p.lastTicks = ticks;
        }
        const std::string tasks = base + "/task";
        DIR* dir = opendir(tasks.c_str());
        if (dir == nullptr) {
            continue;
        }
        while (dirent* t = readdir(dir)) {
            const int tid = std::atoi(t->d_name);
            if (tid <= 0) {
                continue;
            }
            const std::string task = tasks + "/" + t->d_name;
            const std::string runTimes = Slurp(task + "/schedstat");
            if (runTimes.empty()) {
                continue;  // ended between the listing and the read
            }
            const long long ns = std::atoll(runTimes.c_str());
            auto thread = s->threads.find({pid, tid});
            if (thread == s->threads.end()) {
                CpuSampler::ThreadRecord r;
                std::string threadName = Slurp(task + "/comm");
                while (!threadName.empty() && threadName.back() == '\n') {
                    threadName.pop_back();
                }
                r.group = ThreadGroupOf(p.name, threadName, p.program, tid == pid);
                // Born inside the span: all its run time is the span's.
                r.firstNs = first ? ns : 0;
                thread = s->threads.emplace(std::make_pair(pid, tid), r).first;
            }
            thread->second.lastNs = ns;
        }
        closedir(dir);
    }
    closedir(proc);
    ++s->samples;
}

// The groups in the order they are printed.
const char* const kGroupOrder[] = {
    "program: main thread",
    "program: Direct3D command thread",
    "program: rasteriser (llvmpipe)",
    "program: sound (mixer, ALSA)",
    "program: other threads",
    "wineserver",
    "Wine services",
    "X server",
};

}  // namespace

std::string ThreadGroupOf(const std::string& processName, const std::string& threadName, bool ofProgram,
                          bool mainThread)
{
    if (!ofProgram) {
        if (processName == "Xvfb") {
            return "X server";
        }
        if (processName.rfind("wineserver", 0) == 0) {
            return "wineserver";
        }
        return "Wine services";
    }
    if (mainThread) {
        return "program: main thread";
    }
    if (threadName.rfind("llvmpipe", 0) == 0) {
        return "program: rasteriser (llvmpipe)";
    }
    if (threadName.rfind("wined3d", 0) == 0) {
        return "program: Direct3D command thread";
    }
    if (threadName.find("dsound") != std::string::npos || threadName.find("alsa") != std::string::npos ||
        threadName.find("ALSA") != std::string::npos || threadName.find("audio") != std::string::npos ||
        threadName.find("mmdevapi") != std::string::npos) {
        return "program: sound (mixer, ALSA)";
    }
    return "program: other threads";
}

void StartCpuSampling(CpuSampler* sampler, const ServingSelector& selector, int periodMs)
{
    sampler->selector = selector;
    sampler->periodMs = periodMs;
    sampler->threads.clear();
    sampler->processes.clear();
    sampler->samples = 0;
    sampler->stop = false;
    sampler->startNs = MonotonicNs();
    Sample(sampler, true);
    sampler->worker = std::thread([sampler] {
        while (!sampler->stop) {
            timespec pause{0, sampler->periodMs * 1000000L};
            nanosleep(&pause, nullptr);
            if (!sampler->stop) {
                Sample(sampler, false);
            }
        }
    });
}

CpuSpan StopCpuSampling(CpuSampler* sampler)
{
    sampler->stop = true;
    if (sampler->worker.joinable()) {
        sampler->worker.join();
    }
    Sample(sampler, false);
    CpuSpan span;
    span.wallNs = MonotonicNs() - sampler->startNs;
    span.samples = sampler->samples;
    std::map<std::string, ThreadGroupCpu> groups;
    for (const auto& [key, r] : sampler->threads) {
        ThreadGroupCpu& g = groups[r.group];
        g.name = r.group;
        g.runNs += r.lastNs - r.firstNs;
        ++g.threads;
        span.runNs += r.lastNs - r.firstNs;
    }
    for (const char* name : kGroupOrder) {
        const auto g = groups.find(name);
        if (g != groups.end()) {
            span.groups.push_back(g->second);
        }
    }
    const long long tick = 1000000000LL / sysconf(_SC_CLK_TCK);
    for (const auto& [pid, p] : sampler->processes) {
        if (p.serving) {
            span.processNs += (p.lastTicks - p.firstTicks) * tick;
        }
    }
    return span;
}
