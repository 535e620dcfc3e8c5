// A started network on real WinSock loopback sockets, made as a creator of connections would
// make it: WinSock started, a message-only network window whose socket messages go to the
// dispatcher, and a listening socket on 127.0.0.1 (port 0) in the listening slot with its
// accept events selected to that window. For the Windows tests and benchmarks.
#pragma once

#include <winsock.h>

#include "quarn/core/core.h"
#include "quarn/network/network.h"

namespace loopback {

inline LRESULT CALLBACK NetworkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kSocketEventMessage) {
        return DispatchSocketEvent(static_cast<uint32_t>(lParam), static_cast<uint32_t>(wParam));
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

struct Network {
    NetworkHandleRecord* listener = nullptr;
    sockaddr_in address{};

    // 0, or -1 when a step failed (what was made is ended by End()).
    int Start()
    {
        WSADATA data{};
        if (WSAStartup(MAKEWORD(1, 1), &data) != 0) {
            return -1;
        }
        ResetNetworkState();
        MakeEmptyHandleChain(&g_network.head, &g_network.tail);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = NetworkWindowProc;
        windowClass.lpszClassName = L"QuarnLoopbackNetwork";
        RegisterClassW(&windowClass);
        g_network.window = CreateWindowW(L"QuarnLoopbackNetwork", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                         nullptr);
        if (g_network.window == nullptr) {
            return -1;
        }
        g_network.ready = 1;

        const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        if (s == INVALID_SOCKET) {
            return -1;
        }
        listener = static_cast<NetworkHandleRecord*>(AllocTrackedMemoryZeroed(sizeof(NetworkHandleRecord), "", 0));
        listener->socket = s;
        listener->valid = 1;
        listener->connected = 1;  // a stream record, so that FD_ACCEPT reaches the accept
        NetworkTable()->slots[kNetworkListenSlot] = HandleSlot{listener, 0};
        NetworkTable()->liveCount += 1;
        listener->node.handle = MakeHandle(kHandleTypeNetwork, 0, kNetworkListenSlot);
        listener->node.data = listener;
        listener->node.previous = &g_network.head;
        listener->node.next = g_network.head.next;
        g_network.head.next->previous = &listener->node;
        g_network.head.next = &listener->node;

        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof(address);
        if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(s, 16) != 0 ||
            getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            WSAAsyncSelect(s, static_cast<HWND>(g_network.window), kSocketEventMessage, FD_ACCEPT) != 0) {
            return -1;
        }
        return 0;
    }

    // The library's end closes every connection and the listener and ends WinSock; then the
    // window goes.
    void End()
    {
        HWND window = static_cast<HWND>(g_network.window);
        ShutDownNetwork();
        if (window != nullptr) {
            DestroyWindow(window);
        }
        ResetNetworkState();
        listener = nullptr;
    }

    // A new blocking client of the listener, without delay on small writes; INVALID_SOCKET
    // when it cannot connect.
    SOCKET Connect() const
    {
        SOCKET c = socket(AF_INET, SOCK_STREAM, 0);
        const BOOL on = TRUE;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
        const DWORD timeout = 3000;  // no blocking receive waits longer
        setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
        if (connect(c, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
            closesocket(c);
            return INVALID_SOCKET;
        }
        return c;
    }
};

// Pumps the network window with closing pumps until the condition holds or the time passes.
template <typename Condition>
bool PumpUntil(Condition done, DWORD timeoutMs = 3000)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        PumpNetworkMessages(1);
        Sleep(1);
    }
    return true;
}

// The connection that the next accept event brings in; null when none comes in time.
inline NetworkHandleRecord* WaitForAccept()
{
    HandleChainNode* newest = g_network.head.next;
    if (!PumpUntil([newest] { return g_network.head.next != newest; })) {
        return nullptr;
    }
    return static_cast<NetworkHandleRecord*>(g_network.head.next->data);
}

}  // namespace loopback
