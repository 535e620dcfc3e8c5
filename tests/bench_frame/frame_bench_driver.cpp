// The frame benchmark's driver, a native program run by `make bench`: it starts Vornik's
// frame on the Direct3D 9 device and on the software renderer, and their anchor, the minimal
// program of our own (bench_vornik_frame.exe of the Windows build), under Wine one after the
// other, paced as users run them and unpaced, and prints for each frames per second, CPU per
// frame of the program's own process and of every process that serves it (the program, the
// prefix's wineserver and service processes, the X server of its display), the share of a
// core all of them take, and the start-up to the first frame with text; then Vornik's ratios
// to the anchor beside the goals. Where QUARN_BENCH_WINE_RATIOS names a file, the device's
// ratios go there for the Windows build's column of `make bench`'s table.
//
//   bench_vornik_wine [SECONDS [RUNS]]     (1.5 seconds, 2 runs of each by default)
#include <dirent.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/bench_ratio.h"

namespace {

const std::string kRoot = QUARN_SOURCE_ROOT;

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Run time in nanoseconds of each live thread of a process, added to the map by thread id
// (none when it is gone).
void AddThreadRunNs(int pid, std::map<int, long long>* threads)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr)
        return;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        (*threads)[std::atoi(e->d_name)] = std::atoll(Slurp(tasks + "/" + e->d_name + "/schedstat").c_str());
    }
    closedir(dir);
}

// The threads of the processes that serve a program of the prefix on the display (those
// started with the prefix in their environment, and the display's X server), with their run
// times.
std::map<int, long long> ServingThreads(const std::string& prefix, const std::string& display)
{
    std::map<int, long long> found;
    DIR* dir = opendir("/proc");
    while (dirent* e = readdir(dir)) {
        const int pid = std::atoi(e->d_name);
        if (pid <= 0)
            continue;
        const std::string base = "/proc/" + std::string(e->d_name);
        std::string environment = Slurp(base + "/environ");
        std::replace(environment.begin(), environment.end(), '\0', '\n');
        std::string command = Slurp(base + "/cmdline");
        std::replace(command.begin(), command.end(), '\0', ' ');
        const bool ofPrefix = environment.find("\nWINEPREFIX=" + prefix + "\n") != std::string::npos ||
                              environment.rfind("WINEPREFIX=" + prefix + "\n", 0) == 0;
        const bool server = command.rfind("Xvfb " + display + " ", 0) == 0;
        if (ofPrefix || server)
            AddThreadRunNs(pid, &found);
    }
    closedir(dir);
    return found;
}

// The run time the threads alive at the end had since the start. Counted per thread: a
// thread that ended in between (Wine's and the GL driver's come and go) takes its whole run
// time out of a process's sum, which would make a per-process difference fall, even below 0;
// its time after the start is left uncounted instead.
long long RunNsSince(const std::map<int, long long>& before, const std::map<int, long long>& after)
{
    long long sum = 0;
    for (const auto& [tid, ns] : after) {
        const auto was = before.find(tid);
        sum += ns - (was != before.end() ? was->second : 0);
    }
    return sum;
}

std::string CommandOutput(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof(buffer), p) != nullptr)
            out += buffer;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

struct Result {
    bool ok = false;
    double startupMs = 0;         // from the process's creation
    double startupFromMainMs = 0; // from the program's main()
    double fps = 0;
    double ownCpuPerFrameUs = 0;
    double allCpuPerFrameUs = 0;
    double allCorePercent = 0;
};

Result RunOnce(const std::string& exe, const std::string& prefix, const std::string& display,
               const std::string& program, const std::string& pacing, const std::string& seconds)
{
    Result r;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return r;
    char scratch[] = "/tmp/quarn-frame-bench-XXXXXX";
    if (mkdtemp(scratch) == nullptr)
        return r;
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], 1);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        if (chdir(scratch) != 0)
            _exit(127);
        setenv("QUARN_PRIVATE_DISPLAY", "1", 1);
        setenv("QUARN_NULL_AUDIO", "1", 1);
        const std::string runner = kRoot + "/tools/wine-run";
        execl(runner.c_str(), runner.c_str(), exe.c_str(), program.c_str(), pacing.c_str(), seconds.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    FILE* lines = fdopen(pipeEnds[0], "r");
    std::map<int, long long> before;
    char line[256];
    while (std::fgets(line, sizeof(line), lines) != nullptr) {
        double value = 0;
        long frames = 0;
        long long cpu = 0;
        long long wall = 0;
        double sinceMain = 0;
        if (std::sscanf(line, "first-frame %lf %lf", &value, &sinceMain) == 2) {
            r.startupMs = value;
            r.startupFromMainMs = sinceMain;
        } else if (std::strncmp(line, "measure", 7) == 0) {
            before = ServingThreads(prefix, display);
        } else if (std::sscanf(line, "done %ld %lld %lld", &frames, &cpu, &wall) == 3 && frames > 0) {
            const long long all = RunNsSince(before, ServingThreads(prefix, display));
            r.fps = frames * 1e6 / wall;
            r.ownCpuPerFrameUs = static_cast<double>(cpu) / frames;
            r.allCpuPerFrameUs = all / 1e3 / frames;
            r.allCorePercent = all / 1e3 / wall * 100.0;
            r.ok = true;
        }
    }
    std::fclose(lines);
    int status = 0;
    waitpid(child, &status, 0);
    CommandOutput("rm -rf " + std::string(scratch));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        r.ok = false;
    return r;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

Result MedianOf(const std::vector<Result>& runs)
{
    Result m;
    std::vector<double> a, b, c, d, e, f;
    for (const Result& r : runs) {
        if (!r.ok)
            continue;
        a.push_back(r.startupMs);
        f.push_back(r.startupFromMainMs);
        b.push_back(r.fps);
        c.push_back(r.ownCpuPerFrameUs);
        d.push_back(r.allCpuPerFrameUs);
        e.push_back(r.allCorePercent);
    }
    m.ok = !a.empty();
    m.startupMs = Median(a);
    m.startupFromMainMs = Median(f);
    m.fps = Median(b);
    m.ownCpuPerFrameUs = Median(c);
    m.allCpuPerFrameUs = Median(d);
    m.allCorePercent = Median(e);
    return m;
}

// Prints one program's ratios to the anchor (the minimal program).
void PrintRatios(const char* name, const char* pacing, const Result& v, const Result& a)
{
    std::printf("  ratio %s/minimal, %s: own CPU/frame %.2fx, all CPU/frame %.2fx, start-up %.2fx (from main %.2fx)\n",
                name, pacing, v.ownCpuPerFrameUs / a.ownCpuPerFrameUs, v.allCpuPerFrameUs / a.allCpuPerFrameUs,
                v.startupMs / a.startupMs, v.startupFromMainMs / a.startupFromMainMs);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string seconds = argc > 1 ? argv[1] : "1.5";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
    // The 32-bit program only where it runs at full speed: through the emulator its timings
    // mean nothing, and the 64-bit one runs in its place.
    const bool bits32 = CommandOutput(kRoot + "/tools/wine-run --how 32 2>/dev/null") == "native";
    const std::string exe = kRoot + (bits32 ? "/build/win" : "/build/win64") + "/bench_programs/bench_vornik_frame.exe";
    const std::string prefix = kRoot + (bits32 ? "/.wine" : "/.wine64");
    if (access(exe.c_str(), R_OK) != 0) {
        std::printf("bench_vornik_wine: %s is not built; `make bench` builds it\n", exe.c_str());
        return 1;
    }
    const std::string display = CommandOutput(std::string("QUARN_PRIVATE_DISPLAY=1 WINEARCH=") +
                                              (bits32 ? "win32 " : "win64 ") + kRoot + "/tools/wine-run --display");
    std::printf("Vornik's frame under %d-bit Wine on display %s, on the Direct3D 9 device and on the software "
                "renderer, beside the minimal program; median of %d runs of %s s each\n",
                bits32 ? 32 : 64, display.c_str(), runs, seconds.c_str());
    std::printf("%-8s %-9s %8s %14s %14s %11s %18s\n", "program", "pacing", "fps", "own CPU/frame", "all CPU/frame",
                "all % core", "start-up ms (main)");
    // Vornik's frame on each renderer, asked for explicitly.
    const char* const programs[] = {"minimal", "software", "device"};
    int failed = 0;
    for (const char* pacing : {"paced", "unpaced"}) {
        std::map<std::string, std::vector<Result>> results;
        for (int run = 0; run < runs; ++run) {
            for (const char* program : programs) {
                results[program].push_back(RunOnce(exe, prefix, display, program, pacing, seconds));
            }
        }
        Result medians[std::size(programs)];
        int i = 0;
        for (const char* program : programs) {
            const Result m = MedianOf(results[program]);
            medians[i++] = m;
            if (!m.ok) {
                std::printf("%-8s %-9s did not run\n", program, pacing);
                ++failed;
                continue;
            }
            std::printf("%-8s %-9s %8.1f %11.1f us %11.1f us %10.2f%% %11.0f (%4.0f)\n", program, pacing, m.fps,
                        m.ownCpuPerFrameUs, m.allCpuPerFrameUs, m.allCorePercent, m.startupMs, m.startupFromMainMs);
        }
        const Result& a = medians[0];
        const Result& soft = medians[1];
        const Result& dev = medians[2];
        if (a.ok && soft.ok)
            PrintRatios("software", pacing, soft, a);
        if (a.ok && dev.ok)
            PrintRatios("device", pacing, dev, a);
        if (soft.ok && dev.ok) {
            std::printf("  ratio device/software, %s: own CPU/frame %.2fx, all CPU/frame %.2fx\n", pacing,
                        dev.ownCpuPerFrameUs / soft.ownCpuPerFrameUs, dev.allCpuPerFrameUs / soft.allCpuPerFrameUs);
        }
        if (!a.ok || !dev.ok)
            continue;
        // The table's ratios are the anchor's CPU per frame over Vornik's on the device (all
        // the processes serving each): above 1, Vornik costs less than the minimal program.
        // They belong to the Windows build's column, which the table is told of apart.
        const std::string what = std::string("Vornik frame, device, ") + pacing;
        RecordRatioIn("QUARN_BENCH_WINE_RATIOS", what.c_str(), "minimal Win32 program",
                      a.allCpuPerFrameUs / dev.allCpuPerFrameUs);
        if (std::string(pacing) == "paced") {
            const Result& v = dev;
            std::printf("  goals, paced, on the device: fps at the display's rate (%.1f, anchor %.1f); all processes "
                        "at most 4%% of a core (%.2f%%); CPU/frame of all processes at most 1.2x (%.2fx: %s); "
                        "start-up at most 1.2x (%.2fx)\n",
                        v.fps, a.fps, v.allCorePercent, v.allCpuPerFrameUs / a.allCpuPerFrameUs,
                        v.allCpuPerFrameUs <= 1.2 * a.allCpuPerFrameUs ? "met" : "not met",
                        v.startupMs / a.startupMs);
        }
    }
    return failed == 0 ? 0 : 1;
}
