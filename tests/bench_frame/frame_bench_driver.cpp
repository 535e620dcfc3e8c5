// The frame benchmark's driver, a native program run by `make bench`: it starts Vornik's frame on
// the Direct3D 9 device and on the software renderer, and beside each its anchor, a minimal program
// of our own doing the same frame on the same path (bench_vornik_frame.exe of the Windows benchmark
// build: "minimal-d3d9" beside the device, "minimal" (GDI) beside the software renderer, both
// holding the same silent sound buffer as the library), under Wine one after the other, paced as
// users run them and unpaced. For each it prints frames per second, CPU per frame of the program's
// own process and of every thread that serves it, the share of a core they take, and the start-up
// to the first frame with text; then where the CPU goes, per thread group, and the ratios to the
// anchors beside the goals. Where QUARN_BENCH_WINE_RATIOS names a file, the ratios go there for the
// Windows build's column of `make bench`'s table.
//
// The serving threads (the program's, the prefix's wineserver and service processes', the X
// server's of its display) are sampled every 10 ms through the measured span (thread_cpu.h),
// so that threads that end inside it still count. Their sum is checked against the
// processes' own totals and against the program's own CPU time; a figure that fails the check
// is printed as unconfirmed and never as a goal met.
//
//   bench_vornik_wine [SECONDS [RUNS [paced|unpaced]]]   (2 seconds, 3 runs of each, both
//                                                        pacings by default)
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/bench_frame/thread_cpu.h"
#include "tests/bench_ratio.h"

namespace {

const std::string kRoot = QUARN_SOURCE_ROOT;

std::string CommandOutput(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof(buffer), p) != nullptr) out += buffer;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

struct Result {
    bool ok = false;
    double startupMs = 0;          // from the process's creation
    double startupFromMainMs = 0;  // from the program's main()
    double fps = 0;
    double ownCpuPerFrameUs = 0;      // the program's process, as it measures itself
    double allCpuPerFrameUs = 0;      // every serving thread
    double processCpuPerFrameUs = 0;  // the second measure: the processes' own totals
    double allCorePercent = 0;
    std::map<std::string, double> groupPerFrameUs;
    // On the device: what the library sent it per frame (state and resource calls, draw calls,
    // triangles, scenes); negative where the program does not say.
    double sent[4] = {-1, -1, -1, -1};
};

// Whether the all-threads figure stands: it agrees with the processes' totals (which count in
// 10 ms ticks) and holds at least the program's own CPU time.
bool Confirmed(const Result& r)
{
    const double slack = 0.1 * r.allCpuPerFrameUs + 100.0;
    return std::fabs(r.allCpuPerFrameUs - r.processCpuPerFrameUs) <= slack &&
           r.allCpuPerFrameUs + slack >= r.ownCpuPerFrameUs;
}

Result RunOnce(const std::string& exe, const ServingSelector& selector, const std::string& program,
               const std::string& pacing, const std::string& seconds)
{
    Result r;
    int output[2];
    int input[2];
    if (pipe(output) != 0 || pipe(input) != 0) return r;
    char scratch[] = "/tmp/quarn-frame-bench-XXXXXX";
    if (mkdtemp(scratch) == nullptr) return r;
    const pid_t child = fork();
    if (child == 0) {
        dup2(output[1], 1);
        dup2(input[0], 0);
        close(output[0]);
        close(output[1]);
        close(input[0]);
        close(input[1]);
        if (chdir(scratch) != 0) _exit(127);
        setenv("QUARN_PRIVATE_DISPLAY", "1", 1);
        setenv("QUARN_NULL_AUDIO", "1", 1);
        const std::string runner = kRoot + "/tools/wine-run";
        execl(runner.c_str(), runner.c_str(), exe.c_str(), program.c_str(), pacing.c_str(), seconds.c_str(), "hold",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(output[1]);
    close(input[0]);
    FILE* lines = fdopen(output[0], "r");
    CpuSampler sampler;
    bool sampling = false;
    char line[256];
    long long sent[4] = {-1, -1, -1, -1};
    while (std::fgets(line, sizeof(line), lines) != nullptr) {
        double value = 0;
        long frames = 0;
        long long cpu = 0;
        long long wall = 0;
        double sinceMain = 0;
        if (std::sscanf(line, "first-frame %lf %lf", &value, &sinceMain) == 2) {
            r.startupMs = value;
            r.startupFromMainMs = sinceMain;
        } else if (std::sscanf(line, "sent %lld %lld %lld %lld", &sent[0], &sent[1], &sent[2], &sent[3]) == 4) {
            // Per frame once the span's frame count is known.
        } else if (std::strncmp(line, "measure", 7) == 0 && !sampling) {
            StartCpuSampling(&sampler, selector);
            sampling = true;
        } else if (std::sscanf(line, "done %ld %lld %lld", &frames, &cpu, &wall) == 3 && frames > 0 && sampling) {
            // The closing sample while the program still runs: it waits for its input to close.
            const CpuSpan span = StopCpuSampling(&sampler);
            sampling = false;
            close(input[1]);
            input[1] = -1;
            r.fps = frames * 1e6 / wall;
            r.ownCpuPerFrameUs = static_cast<double>(cpu) / frames;
            r.allCpuPerFrameUs = span.runNs / 1e3 / frames;
            r.processCpuPerFrameUs = span.processNs / 1e3 / frames;
            r.allCorePercent = 100.0 * span.runNs / span.wallNs;
            for (const ThreadGroupCpu& g : span.groups) r.groupPerFrameUs[g.name] = g.runNs / 1e3 / frames;
            for (int i = 0; i < 4; ++i) r.sent[i] = sent[i] >= 0 ? static_cast<double>(sent[i]) / frames : -1;
            r.ok = true;
        }
    }
    if (sampling) StopCpuSampling(&sampler);
    if (input[1] >= 0) close(input[1]);
    std::fclose(lines);
    int status = 0;
    waitpid(child, &status, 0);
    CommandOutput("rm -rf " + std::string(scratch));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) r.ok = false;
    return r;
}

double Median(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Each figure's median over the runs that ran; the groups' too.
Result MedianOf(const std::vector<Result>& runs)
{
    Result m;
    std::vector<const Result*> ok;
    for (const Result& r : runs) {
        if (r.ok) ok.push_back(&r);
    }
    m.ok = !ok.empty();
    auto median = [&ok](auto field) {
        std::vector<double> v;
        for (const Result* r : ok) v.push_back(field(*r));
        return Median(v);
    };
    m.startupMs = median([](const Result& r) { return r.startupMs; });
    m.startupFromMainMs = median([](const Result& r) { return r.startupFromMainMs; });
    m.fps = median([](const Result& r) { return r.fps; });
    m.ownCpuPerFrameUs = median([](const Result& r) { return r.ownCpuPerFrameUs; });
    m.allCpuPerFrameUs = median([](const Result& r) { return r.allCpuPerFrameUs; });
    m.processCpuPerFrameUs = median([](const Result& r) { return r.processCpuPerFrameUs; });
    m.allCorePercent = median([](const Result& r) { return r.allCorePercent; });
    for (int i = 0; i < 4; ++i) m.sent[i] = median([i](const Result& r) { return r.sent[i]; });
    for (const Result* r : ok) {
        for (const auto& [name, us] : r->groupPerFrameUs) m.groupPerFrameUs[name] = 0;
    }
    for (auto& [name, us] : m.groupPerFrameUs) {
        us = median([&name](const Result& r) {
            const auto g = r.groupPerFrameUs.find(name);
            return g != r.groupPerFrameUs.end() ? g->second : 0.0;
        });
    }
    return m;
}

const char* Verdict(bool met, bool confirmed)
{
    if (!confirmed) return "unconfirmed";
    return met ? "met" : "not met";
}

struct Pairing {
    const char* program;  // Vornik's frame on one renderer
    const char* anchor;   // the minimal program on the same path
    const char* anchorName;
};

const Pairing kPairings[] = {
    {"device", "minimal-d3d9", "minimal Direct3D 9 program"},
    {"software", "minimal", "minimal GDI program"},
};

}  // namespace

int main(int argc, char** argv)
{
    const std::string seconds = argc > 1 ? argv[1] : "2";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string only = argc > 3 ? argv[3] : "";
    // The 32-bit program only where it runs at full speed: through the emulator its timings
    // mean nothing, and the 64-bit one runs in its place.
    const bool bits32 = CommandOutput(kRoot + "/tools/wine-run --how 32 2>/dev/null") == "native";
    const std::string exe = std::string(bits32 ? QUARN_FRAME_PROGRAM_32 : QUARN_FRAME_PROGRAM_64);
    const std::string prefix = kRoot + (bits32 ? "/.wine" : "/.wine64");
    if (access(exe.c_str(), R_OK) != 0) {
        std::printf("bench_vornik_wine: %s is not built; `make bench` builds it\n", exe.c_str());
        return 1;
    }
    const std::string display = CommandOutput(std::string("QUARN_PRIVATE_DISPLAY=1 WINEARCH=") +
                                              (bits32 ? "win32 " : "win64 ") + kRoot + "/tools/wine-run --display");
    const ServingSelector selector{prefix, display, "bench_vornik_frame"};
    const std::string load = CommandOutput("cut -d' ' -f1-3 /proc/loadavg");
    std::printf(
        "Vornik's frame under %d-bit Wine on display %s, on the Direct3D 9 device and on the software "
        "renderer, each beside the minimal program on its path; median of %d runs of %s s each; "
        "machine load %s (%ld processors)\n",
        bits32 ? 32 : 64, display.c_str(), runs, seconds.c_str(), load.c_str(), sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("%-13s %-8s %6s %14s %14s %14s %10s %18s\n", "program", "pacing", "fps", "own CPU/frame",
                "all CPU/frame", "(processes)", "all % core", "start-up ms (main)");
    const char* const programs[] = {"minimal-d3d9", "device", "minimal", "software"};
    int failed = 0;
    for (const char* pacing : {"paced", "unpaced"}) {
        if (!only.empty() && only != pacing) continue;
        std::map<std::string, std::vector<Result>> results;
        for (int run = 0; run < runs; ++run) {
            for (const char* program : programs)
                results[program].push_back(RunOnce(exe, selector, program, pacing, seconds));
        }
        std::map<std::string, Result> medians;
        for (const char* program : programs) {
            const Result m = MedianOf(results[program]);
            medians[program] = m;
            if (!m.ok) {
                std::printf("%-13s %-8s did not run\n", program, pacing);
                ++failed;
                continue;
            }
            std::printf("%-13s %-8s %6.1f %11.1f us %11.1f us %11.1f us %9.1f%% %11.0f (%4.0f)%s\n", program, pacing,
                        m.fps, m.ownCpuPerFrameUs, m.allCpuPerFrameUs, m.processCpuPerFrameUs, m.allCorePercent,
                        m.startupMs, m.startupFromMainMs, Confirmed(m) ? "" : "  (unconfirmed)");
        }
        // Where the CPU goes, per thread group, in microseconds per frame.
        std::printf("  CPU per frame by thread group, %s (us)     ", pacing);
        for (const char* program : programs) std::printf(" %13s", program);
        std::printf("\n");
        std::map<std::string, bool> names;
        for (const auto& [program, m] : medians) {
            for (const auto& [name, us] : m.groupPerFrameUs) names[name] = true;
        }
        for (const auto& [name, present] : names) {
            std::printf("    %-38s", name.c_str());
            for (const char* program : programs) {
                const auto& g = medians[program].groupPerFrameUs;
                const auto it = g.find(name);
                std::printf(" %13.1f", it != g.end() ? it->second : 0.0);
            }
            std::printf("\n");
        }
        if (medians["device"].ok && medians["device"].sent[0] >= 0) {
            const double* sent = medians["device"].sent;
            std::printf(
                "  the library sent the device per frame, %s: %.1f state and resource calls, %.1f draws "
                "(%.1f triangles), %.1f scenes; and one present\n",
                pacing, sent[0], sent[1], sent[2], sent[3]);
        }
        for (const Pairing& p : kPairings) {
            const Result& v = medians[p.program];
            const Result& a = medians[p.anchor];
            if (!v.ok || !a.ok) continue;
            const double cpuRatio = v.allCpuPerFrameUs / a.allCpuPerFrameUs;
            const double startRatio = v.startupMs / a.startupMs;
            const bool confirmed = Confirmed(v) && Confirmed(a);
            std::printf(
                "  ratio %s/%s, %s: own CPU/frame %.2fx, all CPU/frame %.2fx, start-up %.2fx (from main "
                "%.2fx)\n",
                p.program, p.anchor, pacing, v.ownCpuPerFrameUs / a.ownCpuPerFrameUs, cpuRatio, startRatio,
                v.startupFromMainMs / a.startupFromMainMs);
            // The table's ratio is the anchor's CPU per frame over Vornik's (all the threads
            // serving each): above 1, Vornik costs less than the minimal program. It belongs
            // to the Windows build's column, which the table is told of apart.
            const std::string what = std::string("Vornik frame, ") + p.program + ", " + pacing;
            if (confirmed) RecordRatioIn("QUARN_BENCH_WINE_RATIOS", what.c_str(), p.anchorName, 1.0 / cpuRatio);
            if (std::string(pacing) != "paced") continue;
            std::printf(
                "  goals, paced, %s: fps at the display's rate (%.1f, anchor %.1f); all CPU/frame at most "
                "1.2x the %s (%.2fx: %s)",
                p.program, v.fps, a.fps, p.anchorName, cpuRatio, Verdict(cpuRatio <= 1.2, confirmed));
            if (std::string(p.program) == "device") {
                std::printf("; at most 20%% of a core in all (%.1f%%: %s)", v.allCorePercent,
                            Verdict(v.allCorePercent <= 20.0, Confirmed(v)));
            }
            std::printf("; start-up at most 1.2x (%.2fx: %s)\n", startRatio, startRatio <= 1.2 ? "met" : "not met");
        }
    }
    return failed == 0 ? 0 : 1;
}
