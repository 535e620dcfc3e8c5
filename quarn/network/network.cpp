#include "quarn/network/network.h"

#include <winsock.h>

#include <cstdarg>
#include <cstdio>

NetworkState g_network;

static FixedHandleTable<kNetworkConnectionSlots + 1> s_networkTable{kHandleTypeNetwork, kSlotFirstFree,
                                                                     kNetworkConnectionSlots};
// Nested receives and sends (from the pumping inside them) are refused at once.
static uint32_t s_receiveGuard;
static uint32_t s_sendGuard;

HandleTable* NetworkTable() { return s_networkTable.get(); }

static int32_t LogNetworkError(const wchar_t* format, ...)
{
    wchar_t text[1024];
    va_list args;
    va_start(args, format);
    vsnwprintf(text, 1024, format, args);
    va_end(args);
    text[1023] = L'\0';
    return AppendLogFormat(L"ネットワークログ。%ls[%d]", text, WSAGetLastError());
}

static void EnsureChain()
{
    if (g_network.head.next == nullptr) {
        MakeEmptyHandleChain(&g_network.head, &g_network.tail);
    }
}

// A record of the wanted kind (0 stream, 1 any other) behind a handle of a started network.
static NetworkHandleRecord* FindConnection(int32_t handle, bool stream)
{
    if (!g_network.ready) {
        return nullptr;
    }
    auto* record = FindHandleRecordAs<NetworkHandleRecord>(NetworkTable(), handle);
    if (record == nullptr || (record->kind == 0) != stream) {
        return nullptr;
    }
    return record;
}

static void ReleaseConnection(NetworkHandleRecord* record, int32_t handle)
{
    UnlinkHandleChainNode(&record->node);
    RemoveHandleRecord(NetworkTable(), handle);
    FreeTrackedMemory(record);
}

// Length word of a frame in the byte order of the wire.
static void PutLittleEndian(uint8_t* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

static int ReceivePiece(SOCKET s, uint8_t* at, int bytes)
{
    return recv(s, reinterpret_cast<char*>(at), bytes, 0);
}

static int SendPiece(SOCKET s, uint8_t* at, int bytes)
{
    return send(s, reinterpret_cast<const char*>(at), bytes, 0);
}

// Moves up to `left` bytes of a frame between the socket and the ring at *position: in two
// pieces when they run over the ring's end, the second one from the ring's start. Returns
// the bytes moved; -1 when the first piece failed and nothing moved. A short first piece
// ends the move; a failed second piece still counts the first.
static int32_t MoveThroughRing(SOCKET s, RingBuffer* ring, int32_t* position, int32_t left,
                               int (*piece)(SOCKET, uint8_t*, int))
{
    if (left <= 0) {
        return 0;  // an empty frame: the ring may not even have a block yet
    }
    const int32_t first = *position + left > ring->size ? ring->size - *position : left;
    const int got = piece(s, ring->data + *position, first);
    if (got == SOCKET_ERROR) {
        return -1;
    }
    if (got < first || first == left) {
        *position += got;
        return got;
    }
    const int second = piece(s, ring->data, left - first);
    if (second == SOCKET_ERROR) {
        *position = 0;
        return first;
    }
    *position = second;
    return first + second;
}

int32_t RecvSocket(int32_t handle)
{
    NetworkHandleRecord* r = FindConnection(handle, true);
    if (r == nullptr || s_receiveGuard == 1) {
        return -1;
    }
    s_receiveGuard = 1;
    int32_t result = 0;
    PumpNetworkMessages(0);
    if (r->valid == 0) {
        s_receiveGuard = 0;
        return AppendLog(L"有効なネットワークハンドルではありません in RecvSocket\n");
    }
    if (r->error == 1) {
        s_receiveGuard = 0;
        return AppendLog(L"このネットワークハンドルにはエラーが発生しています in RecvSocket\n");
    }
    if (r->framed != 1) {
        s_receiveGuard = 0;
        return 0;
    }
    const SOCKET s = static_cast<SOCKET>(r->socket);
    for (;;) {
        if (r->receiveLeft == 0) {
            uint8_t word[4];
            if (recv(s, reinterpret_cast<char*>(word), 4, MSG_PEEK) < 4) {
                break;
            }
            if (recv(s, reinterpret_cast<char*>(word), 4, 0) < 4) {
                break;
            }
            r->receiveLeft = word[0] | (word[1] << 8) | (word[2] << 16) | (static_cast<uint32_t>(word[3]) << 24);
            r->receiveFrameLength = r->receiveLeft;
            if (r->receiveLeft > 0x7FFFFFFFu ||
                ReserveRingBuffer(&r->receiveRing, static_cast<int32_t>(r->receiveLeft)) != 0) {
                AppendLogFormat(L"受信データを保存するリングバッファのリサイズに失敗しました(データサイズ %d byte)",
                                static_cast<int>(r->receiveFrameLength));
                r->receiveLeft = 0;
                r->error = 1;
                result = -1;
                break;
            }
        }
        RingBuffer& ring = r->receiveRing;
        NormalizeRingBufferPositions(&ring);
        const int32_t count = MoveThroughRing(s, &ring, &ring.writePos, static_cast<int32_t>(r->receiveLeft),
                                              ReceivePiece);
        if (count < 0) {
            break;
        }
        ring.held += count;
        r->receiveLeft -= static_cast<uint32_t>(count);
        if (r->receiveLeft == 0) {
            r->readableBytes += r->receiveFrameLength;
        }
        // A frame of length 0 is consumed without data; a connection that delivered nothing
        // this pass waits for its next event.
        if (PumpNetworkMessages(0) != 0 || count < 1 || r->receiveLeft != 0) {
            break;
        }
    }
    s_receiveGuard = 0;
    return result;
}

int32_t SendSocket(int32_t handle)
{
    NetworkHandleRecord* r = FindConnection(handle, true);
    if (r == nullptr || s_sendGuard == 1) {
        return -1;
    }
    s_sendGuard = 1;
    PumpNetworkMessages(0);
    if (r->valid == 0) {
        s_sendGuard = 0;
        return AppendLog(L"有効なネットワークハンドルではありません in SendSocket\n");
    }
    if (r->error == 1) {
        s_sendGuard = 0;
        return AppendLog(L"このネットワークハンドルにはエラーが発生しています in SendSocket\n");
    }
    if (r->sendRing.held == 0 || r->framed != 1) {
        s_sendGuard = 0;
        return 0;
    }
    const SOCKET s = static_cast<SOCKET>(r->socket);
    for (;;) {
        uint8_t word[4];
        if (r->lengthWordLeft != 0) {
            PutLittleEndian(word, r->sendFrameLeft);
            const int k = static_cast<int>(r->lengthWordLeft);
            const int went = send(s, reinterpret_cast<const char*>(word + 4 - k), k, 0);
            if (went == SOCKET_ERROR) {
                break;
            }
            r->lengthWordLeft -= static_cast<uint32_t>(went);
            if (r->lengthWordLeft != 0) {
                break;
            }
        }
        if (r->sendFrameLeft == 0) {
            r->sendFrameLeft = static_cast<uint32_t>(r->sendRing.held);
            PutLittleEndian(word, r->sendFrameLeft);
            const int went = send(s, reinterpret_cast<const char*>(word), 4, 0);
            if (went == SOCKET_ERROR) {
                r->sendFrameLeft = 0;
                break;
            }
            if (went < 4) {
                r->lengthWordLeft = static_cast<uint32_t>(4 - went);
                break;
            }
        }
        RingBuffer& ring = r->sendRing;
        NormalizeRingBufferPositions(&ring);
        const int32_t count = MoveThroughRing(s, &ring, &ring.readPos, static_cast<int32_t>(r->sendFrameLeft),
                                              SendPiece);
        if (count < 0) {
            break;
        }
        ring.held -= count;
        r->sendFrameLeft -= static_cast<uint32_t>(count);
        if (PumpNetworkMessages(0) != 0 || count == 0 || r->sendFrameLeft != 0 || ring.held == 0) {
            break;
        }
    }
    s_sendGuard = 0;
    return 0;
}

int32_t AcceptNetWork()
{
    if (!g_network.ready) {
        return -1;
    }
    PumpNetworkMessages(0);
    auto* listener = static_cast<NetworkHandleRecord*>(NetworkTable()->slots[kNetworkListenSlot].record);
    if (listener == nullptr) {
        return -1;
    }
    auto* r = static_cast<NetworkHandleRecord*>(AllocTrackedMemoryZeroed(sizeof(NetworkHandleRecord), "", 0));
    if (r == nullptr) {
        return AppendLog(L"ソケット用のメモリの確保に失敗しました\n");
    }
    HandleTable* table = NetworkTable();
    // Only an accepted connection uses up a check number.
    const int32_t check = table->nextCheck;
    const int32_t handle = AddHandleRecord(table, r);
    if (handle < 0) {
        FreeTrackedMemory(r);
        return AppendLog(L"空きソケットデータがなかったので accept を拒否しました \n");
    }
    r->kind = 0;
    r->valid = 1;
    r->connected = 1;
    r->word7 = 1;
    r->framed = g_network.unframed == 0 ? 1 : 0;
    r->autoClose = g_network.keepClosed == 0 ? 1 : 0;
    r->check = HandleCheckOf(handle);
    EnsureChain();
    r->node.handle = handle;
    r->node.data = r;
    r->node.previous = &g_network.head;
    r->node.next = g_network.head.next;
    g_network.head.next->previous = &r->node;
    g_network.head.next = &r->node;

    sockaddr_in address{};
    int length = sizeof(address);
    const SOCKET s = accept(static_cast<SOCKET>(listener->socket), reinterpret_cast<sockaddr*>(&address), &length);
    if (s == INVALID_SOCKET) {
        LogNetworkError(L"acceptに失敗しました");
        ReleaseConnection(r, handle);
        table->nextCheck = check;
        return -1;
    }
    r->socket = s;
    CopyBytes(r->peerAddress, &address.sin_addr, 4);
    r->peerPort = address.sin_port;
    if (WSAAsyncSelect(s, g_network.window, kSocketEventMessage, FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR) {
        LogNetworkError(L"WSAAsyncSelectのエラー in AcceptNetWork");
        closesocket(s);
        ReleaseConnection(r, handle);
        table->nextCheck = check;
        return -1;
    }
    return 1;
}

// Elapsed milliseconds on the 31-bit clock.
static uint32_t MillisecondsSince(uint32_t start)
{
    return ((timeGetTime() & 0x7FFFFFFF) - start) & 0x7FFFFFFF;
}

int32_t DrainAndCloseConnection(int32_t handle)
{
    NetworkHandleRecord* r = FindConnection(handle, true);
    if (r == nullptr || r->valid == 0) {
        return -1;
    }
    PumpNetworkMessages(0);
    uint32_t start = timeGetTime() & 0x7FFFFFFF;
    while (MillisecondsSince(start) < 1000 && r->receiveLeft != 0) {
        if (PumpNetworkMessages(0) != 0) {
            break;
        }
        RecvSocket(handle);
    }
    start = timeGetTime() & 0x7FFFFFFF;
    while (MillisecondsSince(start) < 1000 && r->sendRing.held != 0) {
        if (PumpNetworkMessages(0) != 0) {
            break;
        }
        SendSocket(handle);
    }
    WSAAsyncSelect(static_cast<SOCKET>(r->socket), g_network.window, 0, 0);
    closesocket(static_cast<SOCKET>(r->socket));
    r->socket = 0;
    FreeRingBuffer(&r->receiveRing);
    FreeRingBuffer(&r->sendRing);
    r->valid = 0;
    r->connected = 0;
    r->word6 = 0;
    r->closeFlag = 1;
    ReleaseConnection(r, handle);
    return 0;
}

int32_t DeleteDatagramHandle(int32_t handle)
{
    NetworkHandleRecord* r = FindConnection(handle, false);
    if (r == nullptr) {
        return -1;
    }
    WSAAsyncSelect(static_cast<SOCKET>(r->socket), g_network.window, 0, 0);
    closesocket(static_cast<SOCKET>(r->socket));
    r->socket = 0;
    ReleaseConnection(r, handle);
    return 0;
}

int32_t PumpNetworkMessages(uint32_t closeFinished)
{
    if (g_network.window == nullptr || !g_network.ready) {
        return 0;
    }
    if (closeFinished == 1 && g_network.head.next != nullptr) {
        for (HandleChainNode* node = g_network.head.next; node != nullptr && node != &g_network.tail;) {
            HandleChainNode* next = node->next;
            auto* r = static_cast<NetworkHandleRecord*>(node->data);
            if (r->valid == 1 && (r->error == 1 || (r->connected == 0 && r->closeFlag == 1 && r->autoClose == 1))) {
                DrainAndCloseConnection(node->handle);
            }
            node = next;
        }
    }
    MSG message;
    while (PeekMessageW(&message, g_network.window, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

int32_t DispatchSocketEvent(uint32_t eventWord, uint32_t socket)
{
    NetworkHandleRecord* r = nullptr;
    for (HandleChainNode* node = g_network.head.next; node != nullptr && node != &g_network.tail;
         node = node->next) {
        auto* candidate = static_cast<NetworkHandleRecord*>(node->data);
        if (candidate->socket == socket) {
            r = candidate;
            break;
        }
    }
    if (r == nullptr) {
        AppendLog(L"通信エラー No.1\n");
        return 0;
    }
    const uint32_t event = eventWord & 0xFFFF;
    if (r->kind != 0) {
        if (event == FD_READ) {
            r->readReady = 1;
        } else if (event == FD_WRITE) {
            r->writeReady = 1;
        }
        return 1;
    }
    switch (event) {
    case FD_READ:
        RecvSocket(r->node.handle);
        break;
    case FD_WRITE:
        SendSocket(r->node.handle);
        break;
    case FD_ACCEPT:
        return AcceptNetWork();
    case FD_CONNECT:
        if ((eventWord >> 16) == 0) {
            r->connected = 1;
        }
        break;
    case FD_CLOSE:
        r->connected = 0;
        r->closeFlag = 0;
        break;
    default:
        break;
    }
    return 1;
}

int32_t ShutDownNetwork()
{
    if (!g_network.ready) {
        return 0;
    }
    AppendLog(L"ネットワーク関連の終了処理を行います \n");
    HandleTable* table = NetworkTable();
    for (int32_t slot = 0; slot <= kNetworkListenSlot; ++slot) {
        const int32_t handle = HandleOfSlot(table, slot);
        if (handle < 0) {
            continue;
        }
        auto* r = static_cast<NetworkHandleRecord*>(table->slots[slot].record);
        if (r->kind != 0) {
            DeleteDatagramHandle(handle);
        } else if (DrainAndCloseConnection(handle) != 0) {
            // A record that was already marked dead still owns its socket and memory.
            closesocket(static_cast<SOCKET>(r->socket));
            FreeRingBuffer(&r->receiveRing);
            FreeRingBuffer(&r->sendRing);
            ReleaseConnection(r, handle);
        }
    }
    if (g_network.window != nullptr) {
        PostMessageW(g_network.window, WM_CLOSE, 0, 0);
        if (g_network.windowGone == 0) {
            PumpNetworkMessages(0);
        }
    }
    ResetNetworkState();
    WSACleanup();
    AppendLog(L"ネットワーク関連の終了処理は完了しました\n");
    return 0;
}

void ResetNetworkState()
{
    g_network = NetworkState{};
    NetworkTable()->nextCheck = 0;
}
