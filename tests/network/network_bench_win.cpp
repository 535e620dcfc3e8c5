// Frames through SendSocket and RecvSocket on WinSock's loopback, beside plain blocking send
// and recv of the same bytes (the floor), for 64-byte and 64 KB frames. Both ends of one
// loopback connection are library connections, brought in through the accept event; their
// socket events arrive as window messages, as in a program.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/network/network.h"
#include "quarn/network/network_os.h"
#include "quarn/quarn.h"
#include "tests/bench_ratio.h"
#include "tests/network/loopback.h"
#include "tests/network/frame_bytes.h"

namespace {

double Seconds()
{
    static LARGE_INTEGER frequency{};
    if (frequency.QuadPart == 0) {
        QueryPerformanceFrequency(&frequency);
    }
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Frames per second of one transfer function, the median of five runs of at least 0.3 s each,
// after one run to warm up. A transfer that fails gives 0.
template <typename Transfer>
double FramesPerSecond(Transfer transfer)
{
    std::vector<double> rates;
    for (int run = 0; run < 6; ++run) {
        long frames = 0;
        const double start = Seconds();
        double elapsed = 0.0;
        do {
            for (int i = 0; i < 16; ++i, ++frames) {
                if (!transfer()) {
                    return 0.0;
                }
            }
            elapsed = Seconds() - start;
        } while (elapsed < 0.3);
        if (run > 0) {
            rates.push_back(static_cast<double>(frames) / elapsed);
        }
    }
    std::sort(rates.begin(), rates.end());
    return rates[rates.size() / 2];
}

// The accept of the network's listener hands out the waiting client socket first, so that
// the client end of a loopback connection becomes a library connection as well.
SOCKET s_adopt = INVALID_SOCKET;
NetworkOsApi s_adopting;

uintptr_t AcceptOrAdopt(uintptr_t listener, uint8_t address[4], uint32_t* port)
{
    if (s_adopt != INVALID_SOCKET) {
        const SOCKET s = s_adopt;
        s_adopt = INVALID_SOCKET;
        std::memset(address, 0, 4);
        *port = 0;
        return s;
    }
    return SystemNetworkOsApi()->accept(listener, address, port);
}

// Two library connections, the ends of one loopback connection.
struct LibraryPair {
    loopback::Network network;
    NetworkHandleRecord* sender = nullptr;
    NetworkHandleRecord* receiver = nullptr;

    bool Start()
    {
        if (network.Start() != 0) {
            return false;
        }
        const SOCKET client = network.Connect();
        if (client == INVALID_SOCKET) {
            return false;
        }
        receiver = loopback::WaitForAccept();
        s_adopting = *SystemNetworkOsApi();
        s_adopting.accept = AcceptOrAdopt;
        SetNetworkOsApi(&s_adopting);
        s_adopt = client;
        if (AcceptNetWork() != 1) {
            return false;
        }
        sender = static_cast<NetworkHandleRecord*>(g_network.head.next->data);
        return receiver != nullptr && sender->socket == client;
    }
    ~LibraryPair()
    {
        network.End();
        SetNetworkOsApi(nullptr);
    }
};

// One frame queued on the sender and taken out of the receiver's ring; the write and read
// events (and the calls here, for what the events leave) move it.
double Library(int32_t size)
{
    LibraryPair pair;
    if (!pair.Start()) {
        std::printf("the loopback connections could not be made\n");
        return 0.0;
    }
    std::vector<uint8_t> payload(static_cast<size_t>(size), 0x5A);
    std::vector<uint8_t> sink(static_cast<size_t>(size));
    return FramesPerSecond([&] {
        PutBytesInRing(&pair.sender->sendRing, payload.data(), size);
        // Bounded: a frame that makes no way in this many rounds is an error.
        for (int rounds = 0; pair.receiver->readableBytes < static_cast<uint32_t>(size); ++rounds) {
            if (rounds == 100000) {
                return false;
            }
            SendSocket(pair.sender->node.handle);
            RecvSocket(pair.receiver->node.handle);
        }
        if (ReadRingBuffer(&pair.receiver->receiveRing, sink.data(), size, 0) != 0) {
            return false;
        }
        pair.receiver->readableBytes -= static_cast<uint32_t>(size);
        return true;
    });
}

// The same bytes, length word included, by blocking send and recv on a loopback connection of
// its own: sent and taken in turns, so that a frame larger than the socket's buffer goes too.
double Plain(int32_t size)
{
    loopback::Network network;
    double rate = 0.0;
    if (network.Start() == 0) {
        const SOCKET sender = network.Connect();
        SOCKET receiver = accept(network.listener->socket, nullptr, nullptr);
        // The listener's accept events made its sockets non-blocking: this end blocks again.
        WSAAsyncSelect(receiver, static_cast<HWND>(g_network.window), 0, 0);
        u_long blocking = 0;
        ioctlsocket(receiver, FIONBIO, &blocking);
        std::vector<char> frame(static_cast<size_t>(size) + 4, 0x5A);
        std::memcpy(frame.data(), &size, 4);
        std::vector<char> sink(frame.size());
        const int total = static_cast<int>(frame.size());
        const int piece = 16 << 10;
        rate = FramesPerSecond([&] {
            int sent = 0;
            int got = 0;
            while (got < total) {
                if (sent < total) {
                    const int n = send(sender, frame.data() + sent, std::min(piece, total - sent), 0);
                    if (n <= 0) {
                        return false;
                    }
                    sent += n;
                }
                const int n = recv(receiver, sink.data() + got, total - got, 0);
                if (n <= 0) {
                    return false;
                }
                got += n;
            }
            return true;
        });
        closesocket(sender);
        closesocket(receiver);
    }
    network.End();
    return rate;
}

}  // namespace

int main()
{
    EnableLogFile(0);
    std::printf("network frames on WinSock loopback (median of 5 runs)\n");
    for (const int32_t size : {64, 64 << 10}) {
        const double framed = Library(size);
        const double plain = Plain(size);
        std::printf("\nframes of %d bytes\n", static_cast<int>(size));
        std::printf("  %-36s %12.0f frames/s %10.1f MB/s\n", "SendSocket / RecvSocket", framed, framed * size / 1e6);
        std::printf("  %-36s %12.0f frames/s %10.1f MB/s\n", "plain send / recv (the floor)", plain,
                    plain * size / 1e6);
        std::printf("  %-36s %12.2f\n", "library / floor", plain > 0 ? framed / plain : 0.0);
        // Named as the native program (bench_network) names its rows.
        const std::string what = "frames of " + std::to_string(size) + " bytes";
        RecordRatio(what.c_str(), "send/recv", plain > 0 ? framed / plain : 0.0);
    }
    return 0;
}
