// A stand-in socket layer for the connection logic: peers whose bytes arrive in the pieces a
// test delivers, send buffers that take only so many bytes, peers that close, a window whose
// pumping runs scripted actions (events that arrive during a receive), and a clock that moves
// on by itself so that timed loops end.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>

#include "quarn/network/network_os.h"

struct FakeSocket {
    std::string incoming;  // delivered by the peer, not yet received
    bool peerClosed = false;
    std::string outgoing;      // what the library sent
    int sendRoom = -1;         // bytes the peer's side still takes; -1 without limit, 0 would block
    bool sendBlocked = false;  // the last send was refused: the system will post a write event
    bool closed = false;
    uint32_t events = 0;
};

struct FakeNetwork {
    std::map<uintptr_t, FakeSocket> sockets;
    std::deque<uintptr_t> waiting;  // connections queued on the listener
    uintptr_t nextSocket = 100;
    std::deque<std::function<void()>> script;  // one action per pump of the window
    uint32_t clock = 0;
    uint32_t clockStep = 10;  // milliseconds each reading moves on
    int pumps = 0;
    int cleanups = 0;

    // Queues a new peer on the listener and returns its socket.
    uintptr_t Connect();
};

// Installs the stand-in (null restores the system's calls).
void InstallFakeNetwork(FakeNetwork* network);

// A started network over the stand-in, with a listening record on socket `listener` in its
// slot, as a creator puts it there.
void StartNetworkWithListener(FakeNetwork* network, uintptr_t listener);
