// A stand-in for a program the frame benchmark measures: a thread of its own burns a known
// amount of CPU and ends, as a program's threads do when it finishes its frames.
//
//   bench_frame_standin MS stay|exit
//
// It writes "ready", waits for a line on its input, burns MS milliseconds of CPU on a new
// thread, joins it and writes "burned NS" with that thread's own CPU time in nanoseconds.
// Then "stay" waits for its input to close before it ends; "exit" lingers a moment and ends.
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

long long ThreadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

long long s_burnNs = 0;
long long s_burnedNs = 0;

void* Burn(void*)
{
    pthread_setname_np(pthread_self(), "burner");
    volatile unsigned long long x = 1;
    while (ThreadCpuNs() < s_burnNs) {
        for (int i = 0; i < 10000; ++i) {
            x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        }
    }
    s_burnedNs = ThreadCpuNs();
    return nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        return 2;
    }
    s_burnNs = std::atoll(argv[1]) * 1000000LL;
    const bool stay = std::strcmp(argv[2], "stay") == 0;
    std::printf("ready\n");
    std::fflush(stdout);
    char line[16];
    if (std::fgets(line, sizeof(line), stdin) == nullptr) {
        return 1;
    }
    pthread_t thread;
    pthread_create(&thread, nullptr, Burn, nullptr);
    pthread_join(thread, nullptr);
    std::printf("burned %lld\n", s_burnedNs);
    std::fflush(stdout);
    if (stay) {
        while (std::fgets(line, sizeof(line), stdin) != nullptr) {
        }
    } else {
        usleep(150000);
    }
    return 0;
}
