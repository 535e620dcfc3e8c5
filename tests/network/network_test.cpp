// The network entry points that the window and the pump call: socket events, the pump's
// pass, receive and send framing on the loopback interface.
#include <gtest/gtest.h>

#include <winsock.h>

#include <string>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/network/network.h"
#include "tests/core/log_capture.h"
#include "tests/network/loopback.h"
#include "tests/network/frame_bytes.h"
#include "tests/wait_scale.h"

namespace {

std::wstring g_log;

class NetworkTest : public ::testing::Test {
protected:
    void SetUp() override { CaptureLogInto(&g_log); }
    void TearDown() override { SetLogCapture(nullptr, nullptr); }
};

TEST_F(NetworkTest, ANetworkThatNeverStartedRefusesAndEndsSilently)
{
    EXPECT_EQ(PumpNetworkMessages(1), 0);
    EXPECT_EQ(RecvSocket(MakeHandle(kHandleTypeNetwork, 0, 0)), -1);
    EXPECT_EQ(SendSocket(MakeHandle(kHandleTypeNetwork, 0, 0)), -1);
    EXPECT_EQ(AcceptNetWork(), -1);
    EXPECT_EQ(DrainAndCloseConnection(MakeHandle(kHandleTypeNetwork, 0, 0)), -1);
    EXPECT_EQ(ShutDownNetwork(), 0);
    EXPECT_EQ(g_log, L"") << "a network that never started ends silently";

    EXPECT_EQ(DispatchSocketEvent(FD_READ, 1234), 0);
    EXPECT_EQ(g_log, L"通信エラー No.1\n");
}

// A started network with one hand-made connection, for the event dispatch.
class SocketEventTest : public NetworkTest {
protected:
    void SetUp() override
    {
        NetworkTest::SetUp();
        ResetNetworkState();
        MakeEmptyHandleChain(&g_network.head, &g_network.tail);
        g_network.ready = 1;
    }
    void TearDown() override
    {
        for (NetworkHandleRecord* r : records) {
            UnlinkHandleChainNode(&r->node);
            RemoveHandleRecord(NetworkTable(), r->node.handle);
            FreeTrackedMemory(r);
        }
        ResetNetworkState();
        NetworkTest::TearDown();
    }
    NetworkHandleRecord* Add(int32_t kind, uintptr_t socket)
    {
        auto* r = static_cast<NetworkHandleRecord*>(AllocTrackedMemoryZeroed(sizeof(NetworkHandleRecord), "", 0));
        r->kind = kind;
        r->valid = 1;
        r->socket = socket;
        r->node.handle = AddHandleRecord(NetworkTable(), r);
        r->check = HandleCheckOf(r->node.handle);
        r->node.data = r;
        r->node.previous = &g_network.head;
        r->node.next = g_network.head.next;
        g_network.head.next->previous = &r->node;
        g_network.head.next = &r->node;
        records.push_back(r);
        return r;
    }
    std::vector<NetworkHandleRecord*> records;
};

TEST_F(SocketEventTest, EventsChangeTheFlagsOfTheMatchingConnection)
{
    NetworkHandleRecord* stream = Add(0, 77);
    NetworkHandleRecord* datagram = Add(1, 78);
    stream->connected = 1;
    stream->closeFlag = 1;

    EXPECT_EQ(DispatchSocketEvent(FD_CLOSE, 77), 1);
    EXPECT_EQ(stream->connected, 0);
    EXPECT_EQ(stream->closeFlag, 1) << "a peer's close marks the record for the closing pump";
    EXPECT_EQ(DispatchSocketEvent(FD_CONNECT | (10061u << 16), 77), 1);
    EXPECT_EQ(stream->connected, 0) << "a failed connect changes nothing";
    EXPECT_EQ(DispatchSocketEvent(FD_CONNECT, 77), 1);
    EXPECT_EQ(stream->connected, 1);

    EXPECT_EQ(DispatchSocketEvent(FD_READ, 78), 1);
    EXPECT_EQ(DispatchSocketEvent(FD_WRITE, 78), 1);
    EXPECT_EQ(datagram->readReady, 1u);
    EXPECT_EQ(datagram->writeReady, 1u);
    EXPECT_EQ(g_log, L"");

    // Handle validation takes the kind into account.
    EXPECT_EQ(DeleteDatagramHandle(stream->node.handle), -1);
    EXPECT_EQ(RecvSocket(datagram->node.handle), -1);
}

using loopback::PumpUntil;
using loopback::WaitForAccept;

// A started network on real loopback sockets, with one client whose connection came in
// through the accept event. Every wait is bounded.
class LoopbackNetworkTest : public NetworkTest {
protected:
    void SetUp() override
    {
        NetworkTest::SetUp();
        before = GetAllocatorTotals();
        ASSERT_EQ(network.Start(), 0);
        client = Connect();
        ASSERT_NE(client, INVALID_SOCKET);
        connection = WaitForAccept();
        ASSERT_NE(connection, nullptr);
        handle = connection->node.handle;
    }
    void TearDown() override
    {
        network.End();
        EXPECT_EQ(NetworkTable()->liveCount, 0);
        EXPECT_NE(g_log.find(L"ネットワーク関連の終了処理は完了しました\n"), std::wstring::npos);
        const AllocatorTotals after = GetAllocatorTotals();
        EXPECT_EQ(after.blockCount, before.blockCount) << "every record and ring is freed";
        EXPECT_EQ(after.totalSize, before.totalSize);
        for (SOCKET c : clients) {
            closesocket(c);
        }
        NetworkTest::TearDown();
    }
    // A new client of the listener, closed at the end.
    SOCKET Connect()
    {
        const SOCKET c = network.Connect();
        if (c != INVALID_SOCKET) {
            clients.push_back(c);
        }
        return c;
    }
    bool Live(int32_t h) { return FindHandleRecord(NetworkTable(), h) != nullptr; }
    void SendRaw(SOCKET c, const std::string& bytes)
    {
        ASSERT_EQ(send(c, bytes.data(), static_cast<int>(bytes.size()), 0), static_cast<int>(bytes.size()));
    }
    void SendRaw(const std::string& bytes)
    {
        SendRaw(client, bytes);
        Sleep(50);
    }
    // What the client receives within the time, up to `bytes`.
    std::string ReceiveRaw(SOCKET c, size_t bytes)
    {
        std::string out;
        const DWORD start = GetTickCount();
        u_long waiting = 0;
        while (out.size() < bytes && GetTickCount() - start < scaled_wait_ms(10000)) {
            PumpNetworkMessages(1);
            if (ioctlsocket(c, FIONREAD, &waiting) == 0 && waiting > 0) {
                std::string piece(std::min<size_t>(waiting, bytes - out.size()), '\0');
                const int got = recv(c, piece.data(), static_cast<int>(piece.size()), 0);
                if (got <= 0) {
                    break;
                }
                out.append(piece, 0, static_cast<size_t>(got));
            } else {
                Sleep(1);
            }
        }
        return out;
    }
    static void Queue(NetworkHandleRecord* r, const std::string& bytes) { ASSERT_TRUE(QueueSendBytes(r, bytes)); }
    loopback::Network network;
    NetworkHandleRecord* connection = nullptr;
    SOCKET client = INVALID_SOCKET;
    std::vector<SOCKET> clients;
    int32_t handle = -1;
    AllocatorTotals before{};
};

TEST_F(LoopbackNetworkTest, TheAcceptEventBringsInAFramedConnection)
{
    EXPECT_EQ(HandleSlotOf(handle), 0);
    EXPECT_EQ(connection->framed, 1);
    EXPECT_EQ(connection->autoClose, 1);
    sockaddr_in own{};
    int length = sizeof(own);
    getsockname(client, reinterpret_cast<sockaddr*>(&own), &length);
    EXPECT_EQ(connection->peerPort, own.sin_port);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(connection->peerAddress), 4), std::string("\x7f\0\0\x01", 4));
}

TEST_F(LoopbackNetworkTest, ReceiveTakesCompleteFramesAndWaitsForTheRest)
{
    // Part of a length word: nothing is taken yet.
    SendRaw(std::string("\x03\x00", 2));
    EXPECT_EQ(RecvSocket(handle), 0);
    EXPECT_EQ(connection->receiveLeft, 0u);
    EXPECT_EQ(connection->receiveRing.held, 0);

    // The rest of that word, an empty frame, one more and part of a fourth.
    SendRaw(std::string("\x00\x00", 2) + "abc" + Frame("") + Frame("defg") + std::string("\x06\x00\x00\x00xy", 6));
    EXPECT_EQ(RecvSocket(handle), 0);
    EXPECT_EQ(connection->readableBytes, 7u) << "one call takes every frame that is there";
    EXPECT_EQ(connection->receiveLeft, 4u);
    EXPECT_EQ(Held(connection->receiveRing), "abcdefgxy");

    SendRaw("zzzz");
    EXPECT_EQ(DispatchSocketEvent(FD_READ, static_cast<uint32_t>(connection->socket)), 1);
    EXPECT_EQ(connection->readableBytes, 13u);
    EXPECT_EQ(Held(connection->receiveRing), "abcdefgxyzzzz");
}

// Frames in pieces as a peer's packets cut them, received through the read events alone.
TEST_F(LoopbackNetworkTest, ReadEventsTakeFramesSplitAcrossPackets)
{
    std::string stream;
    std::string joined;
    for (const std::string& p : {std::string("one"), std::string(3000, 'b'), std::string(), std::string("four")}) {
        stream += Frame(p);
        joined += p;
    }
    for (size_t at = 0; at < stream.size(); at += 1001) {
        SendRaw(client, stream.substr(at, 1001));
        Sleep(5);
        PumpNetworkMessages(1);
    }
    EXPECT_TRUE(PumpUntil([&] { return connection->readableBytes == joined.size(); }));
    EXPECT_EQ(Held(connection->receiveRing), joined);
}

TEST_F(LoopbackNetworkTest, FrameWrapsOverTheEndOfTheReceiveRing)
{
    SendRaw(Frame(std::string(1000, 'a')));
    EXPECT_EQ(RecvSocket(handle), 0);
    const int32_t size = connection->receiveRing.size;
    ASSERT_GE(size, 1000);
    // The application takes all but one byte, which it leaves where only two bytes' room
    // is left before the ring's end.
    RingBuffer& ring = connection->receiveRing;
    std::string sink(static_cast<size_t>(size), '\0');
    ASSERT_EQ(ReadRingBuffer(&ring, sink.data(), 999, 0), 0);
    ring.readPos = size - 3;
    ring.writePos = size - 2;
    ring.data[ring.readPos] = 'a';

    SendRaw(Frame("WXYZ"));
    EXPECT_EQ(RecvSocket(handle), 0);
    EXPECT_EQ(ring.size, size) << "the frame fitted without growing";
    EXPECT_EQ(ring.writePos, 2);
    EXPECT_EQ(Held(ring), "aWXYZ");
    EXPECT_EQ(connection->readableBytes, 1004u);
}

TEST_F(LoopbackNetworkTest, SendFramesWhatIsPending)
{
    const std::string payload = "hello, peer";
    Queue(connection, payload);
    EXPECT_EQ(SendSocket(handle), 0);
    EXPECT_EQ(connection->sendRing.held, 0);
    EXPECT_EQ(connection->sendFrameLeft, 0u);
    EXPECT_EQ(ReceiveRaw(client, payload.size() + 4), Frame(payload));
}

TEST_F(LoopbackNetworkTest, PendingBytesAcrossTheSendRingsEndGoAsOneFrame)
{
    ASSERT_EQ(ReserveRingBuffer(&connection->sendRing, 16), 0);
    RingBuffer& ring = connection->sendRing;
    const std::string payload = "wrapped!";
    // Queued so that the first five bytes stand at the ring's end, the rest at its start.
    ring.readPos = ring.size - 5;
    for (size_t i = 0; i < payload.size(); ++i) {
        ring.data[(static_cast<size_t>(ring.readPos) + i) % static_cast<size_t>(ring.size)] = static_cast<uint8_t>(
            payload[i]);
    }
    ring.writePos = 3;
    ring.held = static_cast<int32_t>(payload.size());

    EXPECT_EQ(SendSocket(handle), 0);
    EXPECT_EQ(ring.held, 0);
    EXPECT_EQ(ring.readPos, 0) << "an emptied ring starts again at its beginning";
    EXPECT_EQ(ring.writePos, 0);
    EXPECT_EQ(ReceiveRaw(client, payload.size() + 4), Frame(payload));
}

// A small send buffer and a peer that does not read force short writes; the write events
// carry the rest once the peer reads.
TEST_F(LoopbackNetworkTest, ShortWritesFinishThroughTheWriteEvents)
{
    const int small = 4096;
    setsockopt(static_cast<SOCKET>(connection->socket), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&small),
               sizeof(small));
    setsockopt(client, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&small), sizeof(small));
    std::string first(1 << 17, '\0');
    for (size_t i = 0; i < first.size(); ++i) {
        first[i] = static_cast<char>(i * 7);
    }
    Queue(connection, first);
    EXPECT_EQ(SendSocket(handle), 0);
    EXPECT_NE(connection->sendFrameLeft, 0u) << "the peer's side is full";
    Queue(connection, "second");  // queued meanwhile: its own frame
    const std::string all = Frame(first) + Frame("second");
    EXPECT_EQ(ReceiveRaw(client, all.size()), all);
    EXPECT_EQ(connection->sendRing.held, 0);
}

// A peer that leaves silently is seen only through the close event; one that leaves with a
// frame and a half is also seen by the receive that finds the socket ended.
TEST_F(LoopbackNetworkTest, APeersCloseReleasesTheSlotAndItsMemory)
{
    const AllocatorTotals start = GetAllocatorTotals();
    for (const std::string& last : {std::string(), Frame("last words") + LengthWord(100) + "half"}) {
        SCOPED_TRACE(last.size());
        const SOCKET peer = Connect();
        NetworkHandleRecord* r = WaitForAccept();
        ASSERT_NE(r, nullptr);
        const int32_t h = r->node.handle;
        if (!last.empty()) {
            SendRaw(peer, last);
        }
        closesocket(peer);
        clients.pop_back();
        EXPECT_TRUE(PumpUntil([&] { return !Live(h); }));
        EXPECT_EQ(NetworkTable()->liveCount, 2) << "the listener and the fixture's connection";
        const AllocatorTotals now = GetAllocatorTotals();
        EXPECT_EQ(now.blockCount, start.blockCount) << "the record and its rings are freed";
        EXPECT_EQ(now.totalSize, start.totalSize);
    }
}

// The peer sends the rest of a frame a little after it is told that the close has begun,
// noting what had reached it by then.
struct LateRest {
    SOCKET peer;
    HANDLE closing;
    u_long arrivedBefore;
};
DWORD WINAPI SendTheRestLate(void* p)
{
    auto* late = static_cast<LateRest*>(p);
    WaitForSingleObject(late->closing, scaled_wait_ms(5000));
    Sleep(50);
    ioctlsocket(late->peer, FIONREAD, &late->arrivedBefore);
    send(late->peer, "def", 3, 0);
    return 0;
}

// The close first waits (up to a second) for the frame that is partly in, then sends what is
// pending, then ends the connection.
TEST_F(LoopbackNetworkTest, OurCloseDrainsThenEndsTheConnection)
{
    SendRaw(LengthWord(6) + "abc");
    EXPECT_EQ(RecvSocket(handle), 0);
    EXPECT_EQ(connection->receiveLeft, 3u);
    Queue(connection, "goodbye");
    LateRest late{client, CreateEventW(nullptr, TRUE, FALSE, nullptr), 99};
    HANDLE thread = CreateThread(nullptr, 0, SendTheRestLate, &late, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    SetEvent(late.closing);
    EXPECT_EQ(DrainAndCloseConnection(handle), 0);
    WaitForSingleObject(thread, scaled_wait_ms(5000));
    CloseHandle(thread);
    CloseHandle(late.closing);
    EXPECT_EQ(late.arrivedBefore, 0u) << "nothing was sent before the frame's rest had come";
    EXPECT_FALSE(Live(handle));
    EXPECT_EQ(ReceiveRaw(client, 11), Frame("goodbye"));
    char byte = 0;
    EXPECT_EQ(recv(client, &byte, 1, 0), 0) << "the peer sees an orderly close";
}

TEST_F(LoopbackNetworkTest, AcceptAtAFullTableIsRefused)
{
    // The other slots taken by stand-in records (a real socket for each is too many).
    std::vector<int32_t> taken;
    static NetworkHandleRecord placeholder{};
    for (int32_t h; (h = AddHandleRecord(NetworkTable(), &placeholder)) >= 0;) {
        taken.push_back(h);
    }
    g_log.clear();
    const SOCKET late = Connect();
    ASSERT_NE(late, INVALID_SOCKET);
    EXPECT_TRUE(PumpUntil([] { return !g_log.empty(); }));
    EXPECT_EQ(g_log, L"空きソケットデータがなかったので accept を拒否しました \n");
    for (int32_t h : taken) {
        RemoveHandleRecord(NetworkTable(), h);
    }
    // No accept event comes for it again: the closing pump takes the queued peer.
    EXPECT_TRUE(PumpUntil([] { return NetworkTable()->liveCount == 3; }));
}

// Hostile peers beside a good one: huge and negative lengths, a length above the cap, a
// length and then a disconnect, a flood past the table's end. Only their own connections
// go; the good one keeps working, and the memory is back once they are gone.
TEST_F(LoopbackNetworkTest, HostilePeersLoseOnlyTheirOwnConnections)
{
    const AllocatorTotals start = GetAllocatorTotals();
    for (uint32_t length : {kMaxNetworkFrameBytes + 1, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(length);
        const SOCKET peer = Connect();
        NetworkHandleRecord* r = WaitForAccept();
        ASSERT_NE(r, nullptr);
        const int32_t h = r->node.handle;
        SendRaw(peer, LengthWord(length) + "junk");
        EXPECT_TRUE(PumpUntil([&] { return !Live(h); }));
        EXPECT_NE(g_log.find(L"受信データのサイズが上限を超えています(データサイズ " + std::to_wstring(length) +
                             L" byte)"),
                  std::wstring::npos);
    }
    {
        const SOCKET peer = Connect();
        NetworkHandleRecord* r = WaitForAccept();
        ASSERT_NE(r, nullptr);
        const int32_t h = r->node.handle;
        SendRaw(peer, LengthWord(5000));
        closesocket(peer);
        clients.pop_back();
        EXPECT_TRUE(PumpUntil([&] { return !Live(h); }));
    }
    // A flood past the end of a table that has room for only a few more.
    std::vector<int32_t> taken;
    static NetworkHandleRecord placeholder{};
    while (NetworkTable()->liveCount < kNetworkConnectionSlots + 1 - 4) {
        taken.push_back(AddHandleRecord(NetworkTable(), &placeholder));
    }
    g_log.clear();
    for (int i = 0; i < 6; ++i) {
        ASSERT_NE(Connect(), INVALID_SOCKET);
    }
    EXPECT_TRUE(PumpUntil([] { return NetworkTable()->liveCount == kNetworkConnectionSlots + 1; }));
    EXPECT_TRUE(PumpUntil([] { return g_log.find(L"accept を拒否しました") != std::wstring::npos; }));
    for (int32_t h : taken) {
        RemoveHandleRecord(NetworkTable(), h);
    }
    for (size_t i = clients.size() - 6; i < clients.size(); ++i) {
        closesocket(clients[i]);
    }
    clients.resize(clients.size() - 6);
    // Once the hostile peers and the flood are gone, so is every block they made the library
    // take; the good connection still works.
    EXPECT_TRUE(PumpUntil([] { return NetworkTable()->liveCount == 2; }));
    const AllocatorTotals end = GetAllocatorTotals();
    EXPECT_EQ(end.blockCount, start.blockCount);
    EXPECT_EQ(end.totalSize, start.totalSize);
    SendRaw(Frame("still") + Frame("here"));
    EXPECT_TRUE(PumpUntil([&] { return connection->readableBytes == 9; }));
    EXPECT_EQ(Held(connection->receiveRing), "stillhere");
}

// Several peers' frames at once: every read event is served, whichever receive is running.
TEST_F(LoopbackNetworkTest, ReadEventsOfSeveralConnectionsInterleave)
{
    std::vector<SOCKET> peers{client};
    std::vector<NetworkHandleRecord*> records{connection};
    for (int i = 0; i < 3; ++i) {
        peers.push_back(Connect());
        records.push_back(WaitForAccept());
        ASSERT_NE(records.back(), nullptr);
    }
    for (int round = 0; round < 20; ++round) {
        for (size_t i = 0; i < peers.size(); ++i) {
            SendRaw(peers[i], Frame(std::string(100 + round, static_cast<char>('a' + i))));
        }
    }
    EXPECT_TRUE(PumpUntil([&] {
        for (NetworkHandleRecord* r : records) {
            if (r->readableBytes != 20 * 100 + 190) {
                return false;
            }
        }
        return true;
    }));
}

TEST_F(LoopbackNetworkTest, PumpClosesFailedAndFinishedConnections)
{
    EXPECT_EQ(DispatchSocketEvent(FD_CLOSE, static_cast<uint32_t>(connection->socket)), 1);
    EXPECT_EQ(PumpNetworkMessages(1), 0);
    EXPECT_EQ(FindHandleRecord(NetworkTable(), handle), nullptr) << "a peer's close frees the connection";
    EXPECT_EQ(RecvSocket(handle), -1);
}

}  // namespace
