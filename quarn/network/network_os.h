// The socket and window calls under the network connections, kept narrow so that the
// framing, the close flags, the closing walk and the guards build and run natively too.
// network_os_win.cpp calls WinSock and the window functions; tests install tables of their
// own that stand in for sockets which split frames, write short, would block, close or post
// events while a receive is under way.
#pragma once

#include <cstdint>

// The socket events as WSAAsyncSelect numbers them.
enum : uint32_t {
    kNetworkEventRead = 1,
    kNetworkEventWrite = 2,
    kNetworkEventAccept = 8,
    kNetworkEventConnect = 16,
    kNetworkEventClose = 32,
};

// accept's result when it gives no socket.
constexpr uintptr_t kNetworkNoSocket = ~static_cast<uintptr_t>(0);

struct NetworkOsApi {
    // Bytes received, 0 once the peer has closed, -1 on an error, would-block included.
    int (*receive)(uintptr_t socket, uint8_t* at, int bytes);
    // Bytes sent, or -1 on an error, would-block included.
    int (*send)(uintptr_t socket, const uint8_t* at, int bytes);
    int (*closeSocket)(uintptr_t socket);
    // The new socket and the peer's address and port as the system gives them (network byte
    // order), or kNetworkNoSocket.
    uintptr_t (*accept)(uintptr_t listener, uint8_t address[4], uint32_t* port);
    // Posts the events' message to the window (events 0 ends the notifications). 0, or -1.
    int (*selectEvents)(uintptr_t socket, void* window, uint32_t message, uint32_t events);
    // Removes and dispatches every message of the window.
    void (*pumpWindow)(void* window);
    void (*postClose)(void* window);
    // The millisecond clock with bit 31 clear.
    uint32_t (*milliseconds)();
    // The last socket error code.
    int (*lastError)();
    // Ends the socket library.
    void (*cleanup)();
};

// The system's calls: WinSock in the Windows build; in the native build a table in which
// every socket call fails (there are no sockets there but the tests' own).
const NetworkOsApi* SystemNetworkOsApi();
// Install a table (null restores the system's calls); the previous table is returned.
const NetworkOsApi* SetNetworkOsApi(const NetworkOsApi* api);
const NetworkOsApi* CurrentNetworkOsApi();
