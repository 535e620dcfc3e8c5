// Frames through SendSocket and RecvSocket beside plain blocking send and recv of the same
// bytes (the floor), for 64-byte and 64 KB frames. Natively the connections' socket calls go
// to a local stream socket pair; the library pays its framing, its rings and its guards.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "tests/bench_main.h"
#include "quarn/core/core.h"
#include "quarn/network/network.h"
#include "quarn/network/network_os.h"
#include "tests/network/frame_bytes.h"

namespace {

std::deque<int> s_waiting;  // what the next accepts return

int Receive(uintptr_t s, uint8_t* at, int bytes)
{
    const ssize_t n = recv(static_cast<int>(s), at, static_cast<size_t>(bytes), MSG_DONTWAIT);
    return n < 0 ? -1 : static_cast<int>(n);
}
int Send(uintptr_t s, const uint8_t* at, int bytes)
{
    const ssize_t n = send(static_cast<int>(s), at, static_cast<size_t>(bytes), MSG_DONTWAIT | MSG_NOSIGNAL);
    return n < 0 ? -1 : static_cast<int>(n);
}
int CloseSocket(uintptr_t s) { return close(static_cast<int>(s)); }
uintptr_t Accept(uintptr_t, uint8_t*, uint32_t*)
{
    if (s_waiting.empty()) {
        return kNetworkNoSocket;
    }
    const int s = s_waiting.front();
    s_waiting.pop_front();
    return static_cast<uintptr_t>(s);
}
int SelectEvents(uintptr_t, void*, uint32_t, uint32_t) { return 0; }
void PumpWindow(void*) {}
void PostClose(void*) {}
uint32_t Milliseconds()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count()) &
           0x7FFFFFFF;
}
int LastError() { return errno; }
void Cleanup() {}

const NetworkOsApi kLocalSockets = {
    .receive = Receive,
    .send = Send,
    .closeSocket = CloseSocket,
    .accept = Accept,
    .selectEvents = SelectEvents,
    .pumpWindow = PumpWindow,
    .postClose = PostClose,
    .milliseconds = Milliseconds,
    .lastError = LastError,
    .cleanup = Cleanup,
};

// A started network with two connections, the ends of one socket pair.
struct Pair {
    NetworkHandleRecord* sender = nullptr;
    NetworkHandleRecord* receiver = nullptr;
    NetworkHandleRecord listener{};

    Pair()
    {
        SetNetworkOsApi(&kLocalSockets);
        ResetNetworkState();
        MakeEmptyHandleChain(&g_network.head, &g_network.tail);
        g_network.window = this;
        g_network.ready = 1;
        listener.valid = 1;
        listener.connected = 1;
        listener.socket = kNetworkNoSocket;
        NetworkTable()->slots[kNetworkListenSlot] = HandleSlot{&listener, 0};
        int ends[2];
        socketpair(AF_UNIX, SOCK_STREAM, 0, ends);
        s_waiting = {ends[0], ends[1]};
        AcceptNetWork();
        sender = static_cast<NetworkHandleRecord*>(g_network.head.next->data);
        AcceptNetWork();
        receiver = static_cast<NetworkHandleRecord*>(g_network.head.next->data);
    }
    ~Pair()
    {
        DrainAndCloseConnection(sender->node.handle);
        DrainAndCloseConnection(receiver->node.handle);
        NetworkTable()->slots[kNetworkListenSlot] = HandleSlot{};
        ResetNetworkState();
        SetNetworkOsApi(nullptr);
    }
};

void BM_FramedSendRecv(benchmark::State& state)
{
    const int32_t size = static_cast<int32_t>(state.range(0));
    std::vector<uint8_t> payload(static_cast<size_t>(size), 0x5A);
    std::vector<uint8_t> sink(static_cast<size_t>(size));
    Pair pair;
    for (auto _ : state) {
        PutBytesInRing(&pair.sender->sendRing, payload.data(), size);
        // Bounded: a frame that makes no way in this many rounds is an error.
        int rounds = 0;
        while (pair.receiver->readableBytes < static_cast<uint32_t>(size) && ++rounds < 100000) {
            SendSocket(pair.sender->node.handle);
            RecvSocket(pair.receiver->node.handle);
        }
        if (ReadRingBuffer(&pair.receiver->receiveRing, sink.data(), size, 0) != 0) {
            state.SkipWithError("the frame did not arrive");
            break;
        }
        pair.receiver->readableBytes -= static_cast<uint32_t>(size);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * size);
    state.SetItemsProcessed(int64_t(state.iterations()));
}

// Sends the frame through one end of the socket pair and takes it from the other, in turns,
// so that a frame larger than the socket's buffer goes too. False when the receive fails.
bool SendAndTake(const int ends[2], const std::vector<uint8_t>& frame, std::vector<uint8_t>* sink)
{
    size_t sent = 0;
    size_t got = 0;
    while (got < frame.size()) {
        if (sent < frame.size()) {
            const ssize_t n = send(ends[0], frame.data() + sent, frame.size() - sent, MSG_DONTWAIT);
            sent += n > 0 ? static_cast<size_t>(n) : 0;
        }
        const ssize_t n = recv(ends[1], sink->data() + got, frame.size() - got, 0);
        if (n <= 0) {
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

void BM_PlainSendRecv(benchmark::State& state)
{
    const size_t size = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> frame(size + 4, 0x5A);
    std::memcpy(frame.data(), &size, 4);
    std::vector<uint8_t> sink(size + 4);
    int ends[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, ends);
    for (auto _ : state) {
        if (!SendAndTake(ends, frame, &sink)) {
            state.SkipWithError("recv failed");
            break;
        }
    }
    close(ends[0]);
    close(ends[1]);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
    state.SetItemsProcessed(int64_t(state.iterations()));
}

// The floor with the two copies that the rings cost whatever the library does: the payload
// into the send ring (the application's queueing) and out of the receive ring (its taking).
// It shows what of the library's time is its own and what the rings' copies are.
void BM_PlainSendRecvWithRingCopies(benchmark::State& state)
{
    const size_t size = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> payload(size, 0x5A);
    std::vector<uint8_t> frame(size + 4);
    std::memcpy(frame.data(), &size, 4);
    std::vector<uint8_t> sink(size + 4);
    std::vector<uint8_t> taken(size);
    int ends[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, ends);
    for (auto _ : state) {
        std::memcpy(frame.data() + 4, payload.data(), size);
        if (!SendAndTake(ends, frame, &sink)) {
            state.SkipWithError("recv failed");
            break;
        }
        std::memcpy(taken.data(), sink.data() + 4, size);
        benchmark::DoNotOptimize(taken.data());
    }
    close(ends[0]);
    close(ends[1]);
    state.SetItemsProcessed(int64_t(state.iterations()));
}

BENCHMARK(BM_FramedSendRecv)->Arg(64)->Arg(64 << 10);
BENCHMARK(BM_PlainSendRecv)->Arg(64)->Arg(64 << 10);
BENCHMARK(BM_PlainSendRecvWithRingCopies)->Arg(64)->Arg(64 << 10);

// The usual console output, then frames per second and MB/s beside the floor.
class SummaryReporter : public SummaryReporterBase {
public:
    void Keep(const Run& r) override
    {
        framesPerSecond_[r.run_name.str()] = double(r.iterations) / r.real_accumulated_time;
        framesPerCpuSecond_[r.run_name.str()] = double(r.iterations) / r.cpu_accumulated_time;
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const char* size : {"64", "65536"}) {
            const double framed = framesPerSecond_[std::string("BM_FramedSendRecv/") + size];
            const double plain = framesPerSecond_[std::string("BM_PlainSendRecv/") + size];
            const double copies = framesPerSecond_[std::string("BM_PlainSendRecvWithRingCopies/") + size];
            const double bytes = std::stod(size);
            std::printf("\nframes of %s bytes\n", size);
            std::printf("  %-36s %12.0f frames/s %10.1f MB/s\n", "SendSocket / RecvSocket", framed,
                        framed * bytes / 1e6);
            std::printf("  %-36s %12.0f frames/s %10.1f MB/s\n", "plain send / recv (the floor)", plain,
                        plain * bytes / 1e6);
            std::printf("  %-36s %12.0f frames/s %10.1f MB/s\n", "the floor with the rings' two copies", copies,
                        copies * bytes / 1e6);
            std::printf("  %-36s %12.2f\n", "library / floor", plain > 0 ? framed / plain : 0.0);
            std::printf("  %-36s %12.2f\n", "library / floor with the copies", copies > 0 ? framed / copies : 0.0);
            // Every call of both runs on the calling thread, the kernel's copies included, so
            // on a loaded machine processor time is the steadier second measure.
            const double framedCpu = framesPerCpuSecond_[std::string("BM_FramedSendRecv/") + size];
            const double plainCpu = framesPerCpuSecond_[std::string("BM_PlainSendRecv/") + size];
            std::printf("  %-36s %12.2f\n", "library / floor, processor time",
                        plainCpu > 0 ? framedCpu / plainCpu : 0.0);
            RecordRatio((std::string("frames of ") + size + " bytes").c_str(), "send/recv",
                        plain > 0 ? framed / plain : 0.0);
        }
    }

private:
    std::map<std::string, double> framesPerSecond_;
    std::map<std::string, double> framesPerCpuSecond_;
};

}  // namespace

int main(int argc, char** argv) { return RunBenchmarksWithSummary<SummaryReporter>(argc, argv); }
