// What the network subsystem offers the rest of the library: connections over stream
// sockets whose events arrive as window messages. The connection logic needs no operating
// system: its socket and window calls go through network_os.h.
#pragma once

#include <cstdint>

#include "quarn/core/core.h"
#include "quarn/core/handle.h"

// The window message that WSAAsyncSelect posts for socket events.
constexpr uint32_t kSocketEventMessage = 0x0400 + 0x105;  // WM_USER + 0x105

// The longest frame a peer may announce. A longer length word is refused as an error of that
// connection, before any memory is reserved for it: one word must not be able to take the
// address space of the process.
constexpr uint32_t kMaxNetworkFrameBytes = 64u << 20;

// A frame's room in the receive ring grows with what has arrived of it, at most this much
// ahead of its bytes; a length word alone reserves a few KB.
constexpr uint32_t kNetworkReceiveStep = 64u << 10;

// The payload bytes of incomplete frames, over all connections, that the library holds at
// most. The connection whose bytes take the total past it is closed as an error of its own.
// Twice the longest frame: one peer's largest frame always fits beside another's.
constexpr uint64_t kMaxIncompleteNetworkBytes = uint64_t{2} * kMaxNetworkFrameBytes;

struct NetworkHandleRecord {
    int32_t kind;  // 0 stream connection; other values carry only the two ready flags
    int32_t valid;
    int32_t error;  // a receive could not grow its ring; the next closing pump closes it
    int32_t connected;
    int32_t closeFlag;
    int32_t word6;
    int32_t word7;
    int32_t framed;     // messages carry a 4-byte length word
    int32_t autoClose;  // close once no longer connected
    int32_t check;
    uintptr_t socket;
    uint32_t receiveLeft;
    // The bytes of a length word that came without the rest of it.
    uint8_t partialWord[4];
    uint32_t partialWordBytes;
    RingBuffer receiveRing;
    uint32_t receiveFrameLength;
    uint32_t readableBytes;
    RingBuffer sendRing;
    uint32_t sendFrameLeft;
    uint32_t lengthWordLeft;
    uint8_t peerAddress[4];
    uint32_t peerPort;
    uint32_t readReady;
    uint32_t writeReady;
    // Guards of this connection's receive and send while they pump the window.
    uint32_t receiving;
    uint32_t sending;
    // A read event for this connection came while it was receiving: read on before stopping.
    uint32_t readAgain;
    // DrainAndCloseConnection runs for it: no second close, no closing walk picks it.
    uint32_t closing;
    HandleChainNode node;
};

constexpr int32_t kNetworkConnectionSlots = 8192;
constexpr int32_t kNetworkListenSlot = 8192;

struct NetworkState {
    HandleChainNode head;
    HandleChainNode tail;
    uint32_t ready;
    void* window;  // HWND
    uint32_t unframed;
    uint32_t keepClosed;
    uint32_t windowGone;
    // An accept was refused at a full table. WinSock posts the next accept event only after
    // an accept, so the refused peer waits for the closing pump to free a slot and take it.
    uint32_t acceptRefused;
    // Payload bytes of incomplete frames held over all connections.
    uint64_t incompleteBytes;
};
extern NetworkState g_network;
HandleTable* NetworkTable();

int32_t RecvSocket(int32_t handle);
int32_t SendSocket(int32_t handle);
int32_t AcceptNetWork();
int32_t DrainAndCloseConnection(int32_t handle);
int32_t DeleteDatagramHandle(int32_t handle);
// Message-pump hook: with closeFinished 1 first closes failed and finished connections,
// then dispatches the network window's messages. Always 0.
int32_t PumpNetworkMessages(uint32_t closeFinished);
// The window procedure's handler of kSocketEventMessage: 0 for an unknown socket, the
// accept result for FD_ACCEPT, else 1.
int32_t DispatchSocketEvent(uint32_t eventWord, uint32_t socket);
// Library shut-down: closes every connection and ends WinSock when the network was started.
int32_t ShutDownNetwork();
// The state of a network that never started: no window, no connections, handle checks from 0.
// The network's end finishes with it; test fixtures start and end with it.
void ResetNetworkState();
