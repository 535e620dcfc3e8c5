// The frame benchmark's measurer, against a stand-in program whose thread burns a known
// amount of CPU and ends inside the measured span.
#include "tests/bench_frame/thread_cpu.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr long long kBurnMs = 250;

struct StandIn {
    pid_t pid = -1;
    FILE* out = nullptr;  // its output
    int in = -1;          // its input
};

StandIn StartStandIn(const std::string& prefix, const char* ending)
{
    int toChild[2];
    int fromChild[2];
    StandIn s;
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) {
        return s;
    }
    s.pid = fork();
    if (s.pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        close(toChild[1]);
        close(fromChild[0]);
        setenv("WINEPREFIX", prefix.c_str(), 1);
        const std::string ms = std::to_string(kBurnMs);
        execl(QUARN_CPU_STANDIN, QUARN_CPU_STANDIN, ms.c_str(), ending, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    s.in = toChild[1];
    s.out = fdopen(fromChild[0], "r");
    return s;
}

std::string ReadLine(FILE* f)
{
    char line[64] = {};
    return std::fgets(line, sizeof(line), f) != nullptr ? line : "";
}

long long GroupNs(const CpuSpan& span, const std::string& name)
{
    for (const ThreadGroupCpu& g : span.groups) {
        if (g.name == name) {
            return g.runNs;
        }
    }
    return -1;
}

// Runs the stand-in through one measured span: the span starts before its thread does and
// ends after that thread has ended, while the process still runs ("stay") or once it has
// ended too ("exit"). Returns the span; *burnedNs gets the thread's own CPU time.
CpuSpan MeasureStandIn(const char* ending, long long* burnedNs)
{
    const std::string prefix = "/tmp/quarn-standin-" + std::to_string(getpid()) + "-" + ending;
    StandIn s = StartStandIn(prefix, ending);
    EXPECT_GT(s.pid, 0);
    EXPECT_EQ(ReadLine(s.out), "ready\n");
    CpuSampler sampler;
    StartCpuSampling(&sampler, ServingSelector{prefix, ":none", "bench_frame_standin"});
    EXPECT_EQ(write(s.in, "go\n", 3), 3);
    *burnedNs = 0;
    EXPECT_EQ(std::sscanf(ReadLine(s.out).c_str(), "burned %lld", burnedNs), 1);
    CpuSpan span;
    int status = 0;
    if (std::string(ending) == "stay") {
        span = StopCpuSampling(&sampler);
        close(s.in);
        waitpid(s.pid, &status, 0);
    } else {
        close(s.in);
        waitpid(s.pid, &status, 0);
        span = StopCpuSampling(&sampler);
    }
    std::fclose(s.out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return span;
}

TEST(FrameBenchMeasurer, CountsAThreadThatEndedInsideTheSpan)
{
    for (const char* ending : {"stay", "exit"}) {
        SCOPED_TRACE(ending);
        long long burned = 0;
        const CpuSpan span = MeasureStandIn(ending, &burned);
        ASSERT_GE(burned, kBurnMs * 1000000);
        // Sampled every 10 ms: at most the last samples' worth of the thread's end is lost
        // (more when the machine is loaded and the sampler runs late).
        const long long burner = GroupNs(span, "program: other threads");
        EXPECT_GE(burner, burned - 50000000);
        // Its own clock is read before it ends: its exit (the sanitizers' clean-up) runs after.
        EXPECT_LE(burner, burned + 20000000);
        // Beside it only the process's main thread ran (a line or two, and its exit).
        const long long main = GroupNs(span, "program: main thread");
        EXPECT_GE(main, 0);
        EXPECT_EQ(span.runNs, burner + main);
        // The second measure, from the process's own total in 10 ms ticks, agrees.
        EXPECT_GE(span.processNs, burned - 50000000) << "process totals";
        EXPECT_LE(span.processNs, span.runNs + 30000000) << "process totals";
        EXPECT_GT(span.samples, 2);
        EXPECT_GE(span.wallNs, burned);
    }
}

TEST(FrameBenchMeasurer, CountsNoProcessOfAnotherPrefix)
{
    long long burned = 0;
    const std::string prefix = "/tmp/quarn-standin-other-" + std::to_string(getpid());
    StandIn s = StartStandIn(prefix, "stay");
    ASSERT_EQ(ReadLine(s.out), "ready\n");
    CpuSampler sampler;
    StartCpuSampling(&sampler, ServingSelector{prefix + "-not", ":none", "bench_frame_standin"});
    ASSERT_EQ(write(s.in, "go\n", 3), 3);
    ASSERT_EQ(std::sscanf(ReadLine(s.out).c_str(), "burned %lld", &burned), 1);
    const CpuSpan span = StopCpuSampling(&sampler);
    close(s.in);
    int status = 0;
    waitpid(s.pid, &status, 0);
    std::fclose(s.out);
    EXPECT_EQ(span.runNs, 0);
    EXPECT_EQ(span.processNs, 0);
    EXPECT_TRUE(span.groups.empty());
}

}  // namespace
