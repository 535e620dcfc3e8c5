#include "quarn/network/network.h"

#include <cstdarg>
#include <cwchar>

#include "quarn/core/byte_order.h"
#include "quarn/network/network_os.h"

NetworkState g_network;

static FixedHandleTable<kNetworkConnectionSlots + 1> s_networkTable{kHandleTypeNetwork, kSlotFirstFree,
                                                                    kNetworkConnectionSlots};

HandleTable* NetworkTable() { return s_networkTable.get(); }

static const NetworkOsApi* s_os;

const NetworkOsApi* CurrentNetworkOsApi() { return s_os != nullptr ? s_os : SystemNetworkOsApi(); }

const NetworkOsApi* SetNetworkOsApi(const NetworkOsApi* api)
{
    const NetworkOsApi* previous = CurrentNetworkOsApi();
    s_os = api;
    return previous;
}

namespace {
const NetworkOsApi* Os() { return CurrentNetworkOsApi(); }

int32_t LogNetworkError(const wchar_t* format, ...)
{
    wchar_t text[1024];
    va_list args;
    va_start(args, format);
    const int n = vswprintf(text, 1024, format, args);
    va_end(args);
    if (n < 0) {
        text[1023] = L'\0';
    }
    return AppendLogFormat(L"ネットワークログ。%ls[%d]", text, Os()->lastError());
}

void EnsureChain()
{
    if (g_network.head.next == nullptr) {
        MakeEmptyHandleChain(&g_network.head, &g_network.tail);
    }
}

// A record of the wanted kind (0 stream, 1 any other) behind a handle of a started network.
NetworkHandleRecord* FindConnection(int32_t handle, bool stream)
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

void ReleaseConnection(NetworkHandleRecord* record, int32_t handle)
{
    UnlinkHandleChainNode(&record->node);
    RemoveHandleRecord(NetworkTable(), handle);
    FreeTrackedMemory(record);
}

// Length word of a frame in the byte order of the wire.
void PutLittleEndian(uint8_t* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

int ReceivePiece(uintptr_t s, uint8_t* at, int bytes) { return Os()->receive(s, at, bytes); }

int SendPiece(uintptr_t s, uint8_t* at, int bytes) { return Os()->send(s, at, bytes); }

// Moves up to `left` bytes of a frame between the socket and the ring at *position: in two
// pieces when they run over the ring's end, the second one from the ring's start. Returns
// the bytes moved; -1 when the first piece failed and nothing moved. A short first piece
// ends the move; a failed second piece still counts the first.
int32_t MoveThroughRing(uintptr_t s, RingBuffer* ring, int32_t* position, int32_t left,
                        int (*piece)(uintptr_t, uint8_t*, int))
{
    if (left <= 0) {
        return 0;  // an empty frame: the ring may not even have a block yet
    }
    const int32_t first = *position + left > ring->size ? ring->size - *position : left;
    const int got = piece(s, ring->data + *position, first);
    if (got < 0) {
        return -1;
    }
    if (got < first || first == left) {
        *position += got;
        return got;
    }
    const int second = piece(s, ring->data, left - first);
    if (second < 0) {
        *position = 0;
        return first;
    }
    *position = second;
    return first + second;
}

// The peer has gone: the next closing pump drains what is left and frees the record.
void MarkPeerClosed(NetworkHandleRecord* r)
{
    r->connected = 0;
    r->closeFlag = 1;
}

// What one receive takes between frames: the length word and what follows it, copied to the
// ring from here. Small frames that came together then cost one receive for all of them, and
// a frame's start one receive rather than three.
constexpr uint32_t kStagedBytes = 4096;

uint32_t Smaller(uint32_t a, uint32_t b) { return a < b ? a : b; }

uint32_t ArrivedOfFrame(const NetworkHandleRecord* r)
{
    return r->receiveLeft != 0 ? r->receiveFrameLength - r->receiveLeft : 0;
}

// Takes the incomplete frame's bytes out of the ring and out of the total held for
// incomplete frames.
void DropIncompleteFrame(NetworkHandleRecord* r)
{
    const uint32_t arrived = ArrivedOfFrame(r);
    g_network.incompleteBytes -= arrived;
    RingBuffer& ring = r->receiveRing;
    if (arrived != 0) {
        ring.held -= static_cast<int32_t>(arrived);
        ring.writePos = static_cast<int32_t>((int64_t{ring.writePos} + ring.size - arrived) % ring.size);
    }
    r->receiveLeft = 0;
}

// An empty ring's positions go back to its start, so that a frame that fits in it is moved
// in one piece rather than two cut at its end.
void StartEmptyRingAtItsBeginning(RingBuffer* ring)
{
    if (ring->held == 0) {
        ring->readPos = 0;
        ring->writePos = 0;
    }
}

// Room in the ring for the frame's next bytes: as much as has arrived of it, at least what a
// receive takes at a frame's start and at most a step, so that a length word alone cannot make
// the library reserve what its peer never sends, not even over thousands of connections. 0, or
// -1 when the ring cannot grow (the connection is then in error).
int32_t MakeFrameRoom(NetworkHandleRecord* r)
{
    StartEmptyRingAtItsBeginning(&r->receiveRing);
    const uint32_t arrived = ArrivedOfFrame(r);
    const uint32_t ahead = arrived < kStagedBytes ? kStagedBytes : Smaller(arrived, kNetworkReceiveStep);
    if (ReserveRingBuffer(&r->receiveRing, static_cast<int32_t>(Smaller(r->receiveLeft, ahead))) == 0) {
        return 0;
    }
    AppendLogFormat(L"受信データを保存するリングバッファのリサイズに失敗しました(データサイズ %d byte)",
                    static_cast<int>(r->receiveFrameLength));
    DropIncompleteFrame(r);
    r->error = 1;
    return -1;
}

// count bytes of the current frame have landed at the ring's write position. 0, or -1 when
// they take the bytes of incomplete frames past their cap: this connection is then in error
// and its incomplete frame dropped, and no other connection is touched.
int32_t TakeFrameBytes(NetworkHandleRecord* r, uint32_t count)
{
    r->receiveRing.held += static_cast<int32_t>(count);
    r->receiveLeft -= count;
    if (r->receiveLeft == 0) {
        g_network.incompleteBytes -= r->receiveFrameLength - count;
        r->readableBytes += r->receiveFrameLength;
        return 0;
    }
    g_network.incompleteBytes += count;
    if (g_network.incompleteBytes <= kMaxIncompleteNetworkBytes) {
        return 0;
    }
    AppendLogFormat(L"受信途中のデータの合計が上限(%llu byte)を超えたので接続を閉じます(データサイズ %u byte)",
                    static_cast<unsigned long long>(kMaxIncompleteNetworkBytes), r->receiveFrameLength);
    DropIncompleteFrame(r);
    r->error = 1;
    return -1;
}

// Between frames: one receive takes the next length word (after the bytes of it kept from
// before) and what follows it; every frame that came whole goes to the ring, and of the last
// frame the part that came. 1 when more may wait: the receive filled what it asked for, or it
// ended between frames, where the next receive also finds a peer that has closed. 0 when the
// socket gave all it had; -1 when a frame was refused (the record is then in error).
int32_t ReceiveFrameStarts(NetworkHandleRecord* r)
{
    uint8_t stage[kStagedBytes];
    const uint32_t kept = r->partialWordBytes;
    CopyBytes(stage, r->partialWord, kept);
    const int want = static_cast<int>(kStagedBytes - kept);
    const int got = Os()->receive(r->socket, stage + kept, want);
    if (got <= 0) {
        if (got == 0) {
            MarkPeerClosed(r);  // an orderly close, whether or not its event comes
        }
        return 0;
    }
    const uint32_t total = kept + static_cast<uint32_t>(got);
    uint32_t at = 0;
    while (r->receiveLeft == 0 && total - at >= 4) {
        const uint32_t length = ReadLe32(stage + at);
        at += 4;
        r->receiveFrameLength = length;
        if (length > kMaxNetworkFrameBytes) {
            AppendLogFormat(L"受信データのサイズが上限を超えています(データサイズ %u byte)", length);
            r->partialWordBytes = 0;
            r->error = 1;
            return -1;
        }
        r->receiveLeft = length;
        if (length == 0) {
            continue;  // an empty frame: nothing to hold, nothing readable added
        }
        if (MakeFrameRoom(r) != 0) {
            r->partialWordBytes = 0;
            return -1;
        }
        // The room at a frame's start holds what one receive takes, or the whole frame.
        const uint32_t take = Smaller(length, total - at);
        RingBuffer& ring = r->receiveRing;
        NormalizeRingBufferPositions(&ring);
        const uint32_t first = Smaller(take, static_cast<uint32_t>(ring.size - ring.writePos));
        CopyBytes(ring.data + ring.writePos, stage + at, first);
        CopyBytes(ring.data, stage + at + first, take - first);
        ring.writePos = static_cast<int32_t>((int64_t{ring.writePos} + take) % ring.size);
        at += take;
        if (TakeFrameBytes(r, take) != 0) {
            r->partialWordBytes = 0;
            return -1;
        }
    }
    r->partialWordBytes = total - at;  // below 4: a frame that came in part took the rest
    CopyBytes(r->partialWord, stage + at, r->partialWordBytes);
    return r->receiveLeft == 0 || got == want ? 1 : 0;
}

// Inside a frame: its next bytes straight from the socket into the ring, as many as the
// ring has room for. 1 when they filled that room, so that more may wait; 0 when the socket
// gave all it had; -1 when the frame was refused (the record is then in error).
int32_t ReceiveFrameRest(NetworkHandleRecord* r)
{
    if (MakeFrameRoom(r) != 0) {
        return -1;
    }
    RingBuffer& ring = r->receiveRing;
    NormalizeRingBufferPositions(&ring);
    const int32_t want = static_cast<int32_t>(Smaller(r->receiveLeft, static_cast<uint32_t>(ring.size - ring.held)));
    const int32_t count = MoveThroughRing(r->socket, &ring, &ring.writePos, want, ReceivePiece);
    if (count <= 0) {
        if (count == 0) {
            MarkPeerClosed(r);
        }
        return 0;
    }
    if (TakeFrameBytes(r, static_cast<uint32_t>(count)) != 0) {
        return -1;
    }
    return count == want ? 1 : 0;
}
}  // namespace

int32_t RecvSocket(int32_t handle)
{
    NetworkHandleRecord* r = FindConnection(handle, true);
    if (r == nullptr) {
        return -1;
    }
    if (r->receiving == 1) {
        // The outer receive of this connection reads on for this event, so it is not lost.
        r->readAgain = 1;
        return -1;
    }
    r->receiving = 1;
    int32_t result = 0;
    PumpNetworkMessages(0);
    if (r->valid == 0) {
        r->receiving = 0;
        return AppendLog(L"有効なネットワークハンドルではありません in RecvSocket\n");
    }
    if (r->error == 1) {
        r->receiving = 0;
        return AppendLog(L"このネットワークハンドルにはエラーが発生しています in RecvSocket\n");
    }
    if (r->framed != 1) {
        r->receiving = 0;
        return 0;
    }
    // WinSock posts the next read event only after a recv, and a read event that comes while
    // this call pumps is refused above: so read on until the socket has no more for us.
    for (;;) {
        r->readAgain = 0;
        int32_t more = 1;
        if (r->receiveLeft == 0) {
            more = ReceiveFrameStarts(r);
        }
        if (more == 1 && r->receiveLeft != 0) {
            more = ReceiveFrameRest(r);
        }
        if (more < 0) {
            result = -1;
            break;
        }
        PumpNetworkMessages(0);
        if (r->valid == 0 || r->error == 1 || (more == 0 && r->readAgain == 0)) {
            break;
        }
    }
    r->readAgain = 0;
    r->receiving = 0;
    return result;
}

int32_t SendSocket(int32_t handle)
{
    NetworkHandleRecord* r = FindConnection(handle, true);
    if (r == nullptr || r->sending == 1) {
        return -1;
    }
    r->sending = 1;
    PumpNetworkMessages(0);
    if (r->valid == 0) {
        r->sending = 0;
        return AppendLog(L"有効なネットワークハンドルではありません in SendSocket\n");
    }
    if (r->error == 1) {
        r->sending = 0;
        return AppendLog(L"このネットワークハンドルにはエラーが発生しています in SendSocket\n");
    }
    if (r->sendRing.held == 0 || r->framed != 1) {
        r->sending = 0;
        return 0;
    }
    // WinSock posts the next write event only after a send that would block: so a short send
    // is followed by another until one is refused, or the write events stop for good.
    const uintptr_t s = r->socket;
    for (;;) {
        uint8_t word[4];
        if (r->lengthWordLeft != 0) {
            PutLittleEndian(word, r->sendFrameLeft);
            const int k = static_cast<int>(r->lengthWordLeft);
            const int went = Os()->send(s, word + 4 - k, k);
            if (went < 0) {
                break;
            }
            r->lengthWordLeft -= static_cast<uint32_t>(went);
            if (r->lengthWordLeft != 0) {
                if (went == 0) {
                    break;
                }
                continue;
            }
        }
        RingBuffer& ring = r->sendRing;
        NormalizeRingBufferPositions(&ring);
        int32_t count = 0;
        bool staged = false;  // the frame went with its length word in one send
        if (r->sendFrameLeft == 0) {
            r->sendFrameLeft = static_cast<uint32_t>(ring.held);
            // A small frame goes with its length word in one send, copied together here.
            uint8_t stage[kStagedBytes];
            const int32_t payload = ring.held <= static_cast<int32_t>(kStagedBytes) - 4 ? ring.held : 0;
            PutLittleEndian(stage, r->sendFrameLeft);
            if (payload != 0) {
                ReadRingBuffer(&ring, stage + 4, payload, 1);
            }
            const int went = Os()->send(s, stage, 4 + payload);
            if (went < 0) {
                r->sendFrameLeft = 0;
                break;
            }
            if (went < 4) {
                r->lengthWordLeft = static_cast<uint32_t>(4 - went);
                if (went == 0) {
                    break;
                }
                continue;
            }
            count = went - 4;
            staged = payload != 0;
            ring.readPos = static_cast<int32_t>((int64_t{ring.readPos} + count) % ring.size);
        }
        if (!staged) {
            count = MoveThroughRing(s, &ring, &ring.readPos, static_cast<int32_t>(r->sendFrameLeft), SendPiece);
            if (count < 0) {
                break;
            }
        }
        ring.held -= count;
        r->sendFrameLeft -= static_cast<uint32_t>(count);
        StartEmptyRingAtItsBeginning(&ring);
        PumpNetworkMessages(0);
        if (r->valid == 0 || (count == 0 && !staged) || ring.held == 0) {
            break;
        }
    }
    r->sending = 0;
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
        g_network.acceptRefused = 1;
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

    const uintptr_t s = Os()->accept(listener->socket, r->peerAddress, &r->peerPort);
    if (s == kNetworkNoSocket) {
        LogNetworkError(L"acceptに失敗しました");
        ReleaseConnection(r, handle);
        table->nextCheck = check;
        return -1;
    }
    r->socket = s;
    if (Os()->selectEvents(s, g_network.window, kSocketEventMessage,
                           kNetworkEventRead | kNetworkEventWrite | kNetworkEventClose) != 0) {
        LogNetworkError(L"WSAAsyncSelectのエラー in AcceptNetWork");
        Os()->closeSocket(s);
        ReleaseConnection(r, handle);
        table->nextCheck = check;
        return -1;
    }
    return 1;
}

namespace {
// Elapsed milliseconds on the 31-bit clock.
uint32_t MillisecondsSince(uint32_t start) { return ((Os()->milliseconds() & 0x7FFFFFFF) - start) & 0x7FFFFFFF; }
}  // namespace

int32_t DrainAndCloseConnection(int32_t handle)
{
    NetworkHandleRecord* r = FindConnection(handle, true);
    if (r == nullptr || r->valid == 0 || r->closing == 1 || r->receiving == 1 || r->sending == 1) {
        return -1;  // closing, or a receive or send of it is under way further up the stack
    }
    // The drain pumps messages whose handlers may try to close this record again.
    r->closing = 1;
    PumpNetworkMessages(0);
    uint32_t start = Os()->milliseconds() & 0x7FFFFFFF;
    while (MillisecondsSince(start) < 1000 && r->receiveLeft != 0) {
        if (PumpNetworkMessages(0) != 0) {
            break;
        }
        const uint32_t left = r->receiveLeft;
        RecvSocket(handle);
        // From a peer that has gone nothing more comes: waiting out the second would let
        // each peer that leaves mid-frame hold the main thread up for it.
        if (r->connected == 0 && r->receiveLeft == left) {
            break;
        }
    }
    start = Os()->milliseconds() & 0x7FFFFFFF;
    while (MillisecondsSince(start) < 1000 && r->sendRing.held != 0) {
        if (PumpNetworkMessages(0) != 0) {
            break;
        }
        SendSocket(handle);
    }
    Os()->selectEvents(r->socket, g_network.window, 0, 0);
    Os()->closeSocket(r->socket);
    r->socket = 0;
    DropIncompleteFrame(r);
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
    Os()->selectEvents(r->socket, g_network.window, 0, 0);
    Os()->closeSocket(r->socket);
    r->socket = 0;
    ReleaseConnection(r, handle);
    return 0;
}

namespace {
bool IsFinished(const NetworkHandleRecord* r)
{
    return r->kind == 0 && r->valid == 1 &&
           (r->error == 1 || (r->connected == 0 && r->closeFlag == 1 && r->autoClose == 1));
}

// Closes every failed or finished connection. A drain pumps messages, and what they run may
// close or add records anywhere in the chain: so after each close the walk starts again
// from the head rather than trust a node it took before.
void CloseFinishedConnections()
{
    HandleChainNode* node = g_network.head.next;
    while (g_network.ready && node != nullptr && node != &g_network.tail) {
        auto* r = static_cast<NetworkHandleRecord*>(node->data);
        // A record that is closing already, or receiving or sending further up the stack, is
        // refused by the close before it pumps, so its successor is still good.
        if (IsFinished(r) && DrainAndCloseConnection(node->handle) == 0) {
            node = g_network.head.next;
        } else {
            node = node->next;
        }
    }
}

bool HasFreeConnectionSlot()
{
    const HandleTable* table = NetworkTable();
    const int32_t listening = table->slots[kNetworkListenSlot].record != nullptr ? 1 : 0;
    return table->liveCount - listening < kNetworkConnectionSlots;
}
}  // namespace

int32_t PumpNetworkMessages(uint32_t closeFinished)
{
    if (g_network.window == nullptr || !g_network.ready) {
        return 0;
    }
    if (closeFinished == 1 && g_network.head.next != nullptr) {
        CloseFinishedConnections();
        if (g_network.acceptRefused == 1 && HasFreeConnectionSlot()) {
            g_network.acceptRefused = 0;
            AcceptNetWork();
        }
    }
    if (g_network.window != nullptr) {
        Os()->pumpWindow(g_network.window);
    }
    return 0;
}

int32_t DispatchSocketEvent(uint32_t eventWord, uint32_t socket)
{
    NetworkHandleRecord* r = nullptr;
    for (HandleChainNode* node = g_network.head.next; node != nullptr && node != &g_network.tail; node = node->next) {
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
        if (event == kNetworkEventRead) {
            r->readReady = 1;
        } else if (event == kNetworkEventWrite) {
            r->writeReady = 1;
        }
        return 1;
    }
    switch (event) {
    case kNetworkEventRead: RecvSocket(r->node.handle); break;
    case kNetworkEventWrite: SendSocket(r->node.handle); break;
    case kNetworkEventAccept: return AcceptNetWork();
    case kNetworkEventConnect:
        if ((eventWord >> 16) == 0) {
            r->connected = 1;
        }
        break;
    case kNetworkEventClose: MarkPeerClosed(r); break;
    default: break;
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
    // A drain pumps messages, and an accept among them takes the first free slot, which may
    // lie behind the walk: so walk again until a walk finds nothing. The listener goes at the
    // end of the first walk, and with it every later accept.
    for (bool found = true; found;) {
        found = false;
        for (int32_t slot = 0; slot <= kNetworkListenSlot; ++slot) {
            const int32_t handle = HandleOfSlot(table, slot);
            if (handle < 0) {
                continue;
            }
            found = true;
            auto* r = static_cast<NetworkHandleRecord*>(table->slots[slot].record);
            if (r->kind != 0) {
                DeleteDatagramHandle(handle);
            } else if (DrainAndCloseConnection(handle) != 0) {
                // A record that was already marked dead still owns its socket and memory.
                Os()->closeSocket(r->socket);
                FreeRingBuffer(&r->receiveRing);
                FreeRingBuffer(&r->sendRing);
                ReleaseConnection(r, handle);
            }
        }
    }
    if (g_network.window != nullptr) {
        Os()->postClose(g_network.window);
        if (g_network.windowGone == 0) {
            PumpNetworkMessages(0);
        }
    }
    ResetNetworkState();
    Os()->cleanup();
    AppendLog(L"ネットワーク関連の終了処理は完了しました\n");
    return 0;
}

void ResetNetworkState()
{
    g_network = NetworkState{};
    NetworkTable()->nextCheck = 0;
}
