// The network's socket and window calls on Windows: WinSock 1.1 and the window functions.
#include "quarn/network/network_os.h"

#include <windows.h>
#include <winsock.h>

namespace {

int Receive(uintptr_t socket, uint8_t* at, int bytes)
{
    return recv(static_cast<SOCKET>(socket), reinterpret_cast<char*>(at), bytes, 0);
}

int Send(uintptr_t socket, const uint8_t* at, int bytes)
{
    return send(static_cast<SOCKET>(socket), reinterpret_cast<const char*>(at), bytes, 0);
}

int CloseSocket(uintptr_t socket) { return closesocket(static_cast<SOCKET>(socket)) == 0 ? 0 : -1; }

uintptr_t Accept(uintptr_t listener, uint8_t address[4], uint32_t* port)
{
    sockaddr_in peer{};
    int length = sizeof(peer);
    const SOCKET s = accept(static_cast<SOCKET>(listener), reinterpret_cast<sockaddr*>(&peer), &length);
    if (s == INVALID_SOCKET) {
        return kNetworkNoSocket;
    }
    CopyMemory(address, &peer.sin_addr, 4);
    *port = peer.sin_port;
    return s;
}

int SelectEvents(uintptr_t socket, void* window, uint32_t message, uint32_t events)
{
    return WSAAsyncSelect(static_cast<SOCKET>(socket), static_cast<HWND>(window), message, static_cast<long>(events)) ==
                   SOCKET_ERROR
               ? -1
               : 0;
}

void PumpWindow(void* window)
{
    MSG message;
    while (PeekMessageW(&message, static_cast<HWND>(window), 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void PostClose(void* window) { PostMessageW(static_cast<HWND>(window), WM_CLOSE, 0, 0); }

uint32_t Milliseconds() { return timeGetTime() & 0x7FFFFFFF; }

int LastError() { return WSAGetLastError(); }

void Cleanup() { WSACleanup(); }

const NetworkOsApi kWinSock = {
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

const NetworkOsApi* SystemNetworkOsApi() { return &kWinSock; }
