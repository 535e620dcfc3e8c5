#include "tests/network/fake_sockets.h"

#include <algorithm>

#include "quarn/core/core.h"
#include "quarn/network/network.h"

namespace {

FakeNetwork* g_fake;

int Receive(uintptr_t socket, uint8_t* at, int bytes)
{
    FakeSocket& s = g_fake->sockets[socket];
    if (s.incoming.empty()) {
        return s.peerClosed ? 0 : -1;
    }
    const int n = std::min(bytes, static_cast<int>(s.incoming.size()));
    std::copy(s.incoming.begin(), s.incoming.begin() + n, at);
    s.incoming.erase(0, static_cast<size_t>(n));
    return n;
}

int Send(uintptr_t socket, const uint8_t* at, int bytes)
{
    FakeSocket& s = g_fake->sockets[socket];
    s.sendBlocked = s.closed || s.sendRoom == 0;
    if (s.sendBlocked) {
        return -1;
    }
    const int n = s.sendRoom < 0 ? bytes : std::min(bytes, s.sendRoom);
    if (s.sendRoom > 0) {
        s.sendRoom -= n;
    }
    s.outgoing.append(reinterpret_cast<const char*>(at), static_cast<size_t>(n));
    return n;
}

int CloseSocket(uintptr_t socket)
{
    g_fake->sockets[socket].closed = true;
    return 0;
}

uintptr_t Accept(uintptr_t, uint8_t address[4], uint32_t* port)
{
    if (g_fake->waiting.empty()) {
        return kNetworkNoSocket;
    }
    const uintptr_t s = g_fake->waiting.front();
    g_fake->waiting.pop_front();
    address[0] = 127;
    address[1] = address[2] = 0;
    address[3] = 1;
    *port = 0x3412;
    return s;
}

int SelectEvents(uintptr_t socket, void*, uint32_t, uint32_t events)
{
    g_fake->sockets[socket].events = events;
    return 0;
}

void PumpWindow(void*)
{
    ++g_fake->pumps;
    if (!g_fake->script.empty()) {
        auto action = std::move(g_fake->script.front());
        g_fake->script.pop_front();
        action();
    }
}

void PostClose(void*) {}

uint32_t Milliseconds() { return (g_fake->clock += g_fake->clockStep) & 0x7FFFFFFF; }

int LastError() { return 10035; }

void Cleanup() { ++g_fake->cleanups; }

const NetworkOsApi kFake = {
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

}  // namespace

uintptr_t FakeNetwork::Connect()
{
    const uintptr_t s = nextSocket++;
    sockets[s] = FakeSocket{};
    waiting.push_back(s);
    return s;
}

void InstallFakeNetwork(FakeNetwork* network)
{
    g_fake = network;
    SetNetworkOsApi(network != nullptr ? &kFake : nullptr);
}

void StartNetworkWithListener(FakeNetwork* network, uintptr_t listener)
{
    ResetNetworkState();
    MakeEmptyHandleChain(&g_network.head, &g_network.tail);
    g_network.window = network;  // any non-null window
    g_network.ready = 1;
    auto* record = static_cast<NetworkHandleRecord*>(AllocTrackedMemoryZeroed(sizeof(NetworkHandleRecord), "", 0));
    record->socket = listener;
    // A stream record, so that the accept event reaches the accept; it stays connected, so no
    // closing pump takes it, and shut-down closes it like a connection.
    record->valid = 1;
    record->connected = 1;
    NetworkTable()->slots[kNetworkListenSlot] = HandleSlot{record, 0};
    NetworkTable()->liveCount += 1;
    record->node = {MakeHandle(kHandleTypeNetwork, 0, kNetworkListenSlot), record, &g_network.head,
                    g_network.head.next};
    g_network.head.next->previous = &record->node;
    g_network.head.next = &record->node;
}
