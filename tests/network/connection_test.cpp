// The connection logic over a stand-in socket layer: framing through the rings, short writes,
// peer close and the closing pump, hostile length words, a flood of connections, events that
// arrive during a receive and a closing walk whose drains close other records.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/network/network.h"
#include "tests/core/log_capture.h"
#include "tests/network/fake_sockets.h"
#include "tests/network/frame_bytes.h"

namespace {

constexpr uintptr_t kListener = 7;

// A started network over the stand-in, with a listening record in its slot as a creator puts
// it there. Every case ends with the network shut down and the allocator back where it was.
class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CaptureLogInto(&log);
        InstallFakeNetwork(&net);
        before = GetAllocatorTotals();
        StartNetworkWithListener(&net, kListener);
    }
    void TearDown() override
    {
        EXPECT_TRUE(net.script.empty()) << "every scripted action ran";
        net.script.clear();  // its actions may hold the case's locals
        EXPECT_EQ(ShutDownNetwork(), 0);
        EXPECT_EQ(NetworkTable()->liveCount, 0);
        const AllocatorTotals after = GetAllocatorTotals();
        EXPECT_EQ(after.blockCount, before.blockCount) << "every record and ring is freed";
        EXPECT_EQ(after.totalSize, before.totalSize);
        InstallFakeNetwork(nullptr);
        SetLogCapture(nullptr, nullptr);
    }
    // A peer connects and the accept event is dispatched; returns its connection record.
    NetworkHandleRecord* Accept(uintptr_t* peer = nullptr)
    {
        const uintptr_t s = net.Connect();
        if (peer != nullptr) {
            *peer = s;
        }
        if (DispatchSocketEvent(kNetworkEventAccept, kListener) != 1) {
            return nullptr;
        }
        return static_cast<NetworkHandleRecord*>(g_network.head.next->data);
    }
    void Deliver(const NetworkHandleRecord* r, const std::string& bytes) { net.sockets[r->socket].incoming += bytes; }
    int32_t Read(const NetworkHandleRecord* r)
    {
        return DispatchSocketEvent(kNetworkEventRead, static_cast<uint32_t>(r->socket));
    }
    static void Queue(NetworkHandleRecord* r, const std::string& bytes) { ASSERT_TRUE(QueueSendBytes(r, bytes)); }
    bool Live(int32_t handle) { return FindHandleRecord(NetworkTable(), handle) != nullptr; }

    FakeNetwork net;
    std::wstring log;
    AllocatorTotals before{};
};

TEST_F(ConnectionTest, FramesArriveInAnyPiecesAndEachEventTakesAllThatIsThere)
{
    // Frames beside one another, one longer than a receive takes at a frame's start and one
    // longer than the room a frame is given at once.
    std::string large(70000, '\0');
    for (size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>(i * 13);
    }
    const std::vector<std::string> payloads = {
        "abc", "", "defg", std::string(700, 'x'), "", "hij", std::string(5000, 'y'), large, "k"};
    std::string stream;
    std::string joined;
    for (const std::string& p : payloads) {
        stream += Frame(p);
        joined += p;
    }
    // One piece per event: a byte at a time, length words cut in two, three and a half
    // frames at once, and everything in one piece.
    for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{9}, size_t{18}, stream.size()}) {
        SCOPED_TRACE(piece);
        NetworkHandleRecord* r = Accept();
        ASSERT_NE(r, nullptr);
        for (size_t at = 0; at < stream.size(); at += piece) {
            Deliver(r, stream.substr(at, piece));
            EXPECT_EQ(Read(r), 1);
        }
        EXPECT_EQ(r->readableBytes, joined.size());
        EXPECT_EQ(r->receiveLeft, 0u);
        EXPECT_EQ(Held(r->receiveRing), joined);
        EXPECT_TRUE(net.sockets[r->socket].incoming.empty()) << "nothing is left waiting for an event";
        EXPECT_EQ(DrainAndCloseConnection(r->node.handle), 0);
    }
    EXPECT_EQ(log, L"");
}

TEST_F(ConnectionTest, ShortWritesGoOnWhereTheyStopped)
{
    uintptr_t peer = 0;
    NetworkHandleRecord* r = Accept(&peer);
    FakeSocket& s = net.sockets[peer];
    Queue(r, "hello");
    // Each stop must come from a send that would block: only that brings a write event.
    s.sendRoom = 2;  // half the length word
    EXPECT_EQ(SendSocket(r->node.handle), 0);
    EXPECT_EQ(r->lengthWordLeft, 2u);
    EXPECT_TRUE(s.sendBlocked);
    EXPECT_EQ(SendSocket(r->node.handle), 0);
    EXPECT_EQ(r->lengthWordLeft, 2u);
    s.sendRoom = 1;  // one more byte of the word
    EXPECT_EQ(DispatchSocketEvent(kNetworkEventWrite, static_cast<uint32_t>(peer)), 1);
    EXPECT_EQ(r->lengthWordLeft, 1u);
    EXPECT_TRUE(s.sendBlocked);
    s.sendRoom = 4;  // the last byte of the word and three payload bytes
    EXPECT_EQ(DispatchSocketEvent(kNetworkEventWrite, static_cast<uint32_t>(peer)), 1);
    EXPECT_EQ(r->lengthWordLeft, 0u);
    EXPECT_EQ(r->sendFrameLeft, 2u);
    EXPECT_TRUE(s.sendBlocked);
    s.sendRoom = 1;  // one byte of the payload
    EXPECT_EQ(DispatchSocketEvent(kNetworkEventWrite, static_cast<uint32_t>(peer)), 1);
    EXPECT_EQ(r->sendFrameLeft, 1u);
    EXPECT_TRUE(s.sendBlocked);
    Queue(r, "XY");  // queued meanwhile: its own frame after this one
    s.sendRoom = -1;
    s.sendBlocked = false;
    EXPECT_EQ(SendSocket(r->node.handle), 0);
    EXPECT_EQ(s.outgoing, Frame("hello") + Frame("XY"));
    EXPECT_EQ(r->sendRing.held, 0);
}

// A frame across the send ring's end whose second piece goes short: both pieces count, the
// read position stands behind what went, and the rest follows once the peer takes bytes.
TEST_F(ConnectionTest, ASecondPieceThatGoesShortCountsWhatWent)
{
    uintptr_t peer = 0;
    NetworkHandleRecord* r = Accept(&peer);
    FakeSocket& s = net.sockets[peer];
    std::string payload(5000, '\0');  // longer than a frame that goes with its length word
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>(i * 31);
    }
    ASSERT_EQ(ReserveRingBuffer(&r->sendRing, static_cast<int32_t>(payload.size())), 0);
    RingBuffer& ring = r->sendRing;
    ring.readPos = ring.size - 100;
    ring.writePos = ring.readPos;
    Queue(r, payload);
    s.sendRoom = 4 + 100 + 10;  // the word, the piece at the ring's end and ten bytes more
    EXPECT_EQ(SendSocket(r->node.handle), 0);
    EXPECT_EQ(ring.readPos, 10);
    EXPECT_EQ(ring.held, 4890);
    EXPECT_EQ(r->sendFrameLeft, 4890u);
    s.sendRoom = -1;
    EXPECT_EQ(SendSocket(r->node.handle), 0);
    EXPECT_EQ(s.outgoing, Frame(payload));
    EXPECT_EQ(ring.held, 0);
}

// The peer's close frees the connection at the next closing pump: its slot, socket and rings.
// Were the record kept, the table would fill after 8,192 closes and refuse every accept.
TEST_F(ConnectionTest, PeerCloseReleasesTheConnection)
{
    for (int round = 0; round < kNetworkConnectionSlots + 8; ++round) {
        uintptr_t peer = 0;
        NetworkHandleRecord* r = Accept(&peer);
        ASSERT_NE(r, nullptr) << "round " << round;
        const int32_t handle = r->node.handle;
        net.sockets[peer].peerClosed = true;
        if (round % 2 == 0) {
            Deliver(r, Frame("bye") + LengthWord(10) + "part");
            EXPECT_EQ(DispatchSocketEvent(kNetworkEventClose, static_cast<uint32_t>(peer)), 1);
        } else if (round % 4 == 1) {
            // No close event: the receive that finds the peer gone counts as one, between
            // frames or inside one.
            Deliver(r, Frame("bye"));
            EXPECT_EQ(Read(r), 1);
        } else {
            Deliver(r, Frame("bye") + LengthWord(10) + "part");
            EXPECT_EQ(Read(r), 1);
            EXPECT_EQ(Read(r), 1);
        }
        EXPECT_EQ(PumpNetworkMessages(1), 0);
        ASSERT_FALSE(Live(handle)) << "round " << round;
        ASSERT_TRUE(net.sockets[peer].closed);
        net.sockets.erase(peer);
    }
    EXPECT_EQ(NetworkTable()->liveCount, 1) << "only the listener";
    EXPECT_EQ(log, L"");
}

// A flood fills the table; the one past it is refused and stays queued; once the flood's
// peers go, their records go too and the queued peer is served.
TEST_F(ConnectionTest, AFloodFillsTheTableAndLeavesNothingBehind)
{
    std::vector<uintptr_t> peers;
    for (int i = 0; i < kNetworkConnectionSlots; ++i) {
        uintptr_t peer = 0;
        ASSERT_NE(Accept(&peer), nullptr) << i;
        peers.push_back(peer);
    }
    const uintptr_t late = net.Connect();
    EXPECT_EQ(DispatchSocketEvent(kNetworkEventAccept, kListener), -1);
    EXPECT_EQ(log, L"空きソケットデータがなかったので accept を拒否しました \n");
    EXPECT_EQ(net.waiting.size(), 1u);
    for (uintptr_t peer : peers) {
        net.sockets[peer].peerClosed = true;
        DispatchSocketEvent(kNetworkEventClose, static_cast<uint32_t>(peer));
    }
    // No accept event comes for the refused peer: the pump that freed the slots takes it.
    EXPECT_EQ(PumpNetworkMessages(1), 0);
    EXPECT_EQ(NetworkTable()->liveCount, 2);
    auto* r = static_cast<NetworkHandleRecord*>(g_network.head.next->data);
    EXPECT_EQ(r->socket, late);
    Deliver(r, Frame("still here"));
    EXPECT_EQ(Read(r), 1);
    EXPECT_EQ(Held(r->receiveRing), "still here");
}

// A length word above the cap is an error of that connection alone: no memory is reserved for
// it, the next closing pump frees it, and the other connection goes on.
TEST_F(ConnectionTest, HostileLengthWordsCloseOnlyTheirOwnConnection)
{
    NetworkHandleRecord* good = Accept();
    const int32_t goodHandle = good->node.handle;
    for (uint32_t length :
         {kMaxNetworkFrameBytes + 1, 0x20000000u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFCu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(length);
        log.clear();
        const AllocatorTotals start = GetAllocatorTotals();
        NetworkHandleRecord* hostile = Accept();
        const int32_t handle = hostile->node.handle;
        Deliver(hostile, LengthWord(length) + "payload");
        EXPECT_EQ(RecvSocket(handle), -1);
        EXPECT_EQ(hostile->error, 1);
        EXPECT_EQ(hostile->receiveRing.data, nullptr);
        EXPECT_LT(GetAllocatorTotals().totalSize - start.totalSize, 4096);
        EXPECT_EQ(log, L"受信データのサイズが上限を超えています(データサイズ " + std::to_wstring(length) + L" byte)\n");
        EXPECT_EQ(RecvSocket(handle), -1) << "a connection in error reads nothing more";
        EXPECT_EQ(PumpNetworkMessages(1), 0);
        EXPECT_FALSE(Live(handle));
    }
    ASSERT_TRUE(Live(goodHandle));
    Deliver(good, Frame("fine"));
    EXPECT_EQ(Read(good), 1);
    EXPECT_EQ(Held(good->receiveRing), "fine");
}

// A length at the cap is taken; the peer then goes away mid-frame. The close waits for no
// more from it and frees everything.
TEST_F(ConnectionTest, APeerThatSendsALengthAndLeavesIsClosedInBoundedTime)
{
    uintptr_t peer = 0;
    NetworkHandleRecord* r = Accept(&peer);
    const int32_t handle = r->node.handle;
    Deliver(r, LengthWord(kMaxNetworkFrameBytes) + "abc");
    EXPECT_EQ(Read(r), 1);
    EXPECT_EQ(r->error, 0);
    EXPECT_EQ(r->receiveLeft, kMaxNetworkFrameBytes - 3);
    net.sockets[peer].peerClosed = true;
    EXPECT_EQ(DispatchSocketEvent(kNetworkEventClose, static_cast<uint32_t>(peer)), 1);
    const uint32_t clock = net.clock;
    EXPECT_EQ(PumpNetworkMessages(1), 0);
    EXPECT_FALSE(Live(handle));
    EXPECT_LT(net.clock - clock, 100u) << "no wait for a frame whose peer has gone";
}

// Peers that announce the longest frame and send little of it: what the library holds for
// them grows with what they sent, not with what they announced. A length word alone holds a
// few KB (the table has room for 8,192 such peers); then the ring's own growth may leave room
// for half of what it holds again, and the frame up to as much as has arrived ahead.
TEST_F(ConnectionTest, MemoryForAFrameGrowsWithWhatArrived)
{
    std::vector<NetworkHandleRecord*> peers;
    for (int i = 0; i < 8; ++i) {
        peers.push_back(Accept());
    }
    const AllocatorTotals start = GetAllocatorTotals();
    uint32_t arrived = 0;
    bool first = true;
    for (uint32_t piece : {0u, 1u, 3u, 70000u, 300000u}) {
        SCOPED_TRACE(piece);
        for (NetworkHandleRecord* r : peers) {
            Deliver(r, (first ? LengthWord(kMaxNetworkFrameBytes) : "") + std::string(piece, 'p'));
            EXPECT_EQ(Read(r), 1);
        }
        first = false;
        arrived += piece;
        for (NetworkHandleRecord* r : peers) {
            EXPECT_EQ(r->receiveLeft, kMaxNetworkFrameBytes - arrived);
            EXPECT_EQ(r->receiveRing.held, static_cast<int32_t>(arrived));
        }
        const int64_t bound = int64_t{8} * (int64_t{arrived} * 5 / 2 + 8192);
        EXPECT_LE(GetAllocatorTotals().totalSize - start.totalSize, bound);
    }
    EXPECT_EQ(log, L"");
}

// The bytes of incomplete frames over all connections have one cap, twice the longest frame:
// two peers each one byte short of the longest frame are within it; a third whose bytes take
// the total past it loses its own connection with one line, and the other two finish.
TEST_F(ConnectionTest, IncompleteFramesHaveOneCapOverAllConnections)
{
    NetworkHandleRecord* a = Accept();
    NetworkHandleRecord* b = Accept();
    const std::string chunk(1u << 20, 'c');
    for (NetworkHandleRecord* r : {a, b}) {
        Deliver(r, LengthWord(kMaxNetworkFrameBytes));
        for (uint32_t sent = 0; sent < kMaxNetworkFrameBytes - 1; sent += static_cast<uint32_t>(chunk.size())) {
            Deliver(r, chunk.substr(0, std::min<size_t>(chunk.size(), kMaxNetworkFrameBytes - 1 - sent)));
            ASSERT_EQ(Read(r), 1);
        }
        ASSERT_EQ(r->receiveLeft, 1u);
    }
    EXPECT_EQ(log, L"");

    uintptr_t peer = 0;
    NetworkHandleRecord* c = Accept(&peer);
    const int32_t handle = c->node.handle;
    Deliver(c, Frame("whole") + LengthWord(10) + "abc");
    EXPECT_EQ(RecvSocket(handle), -1);
    EXPECT_EQ(log, L"受信途中のデータの合計が上限(134217728 byte)を超えたので接続を閉じます(データサイズ 10 byte)\n");
    EXPECT_EQ(c->error, 1);
    EXPECT_EQ(Held(c->receiveRing), "whole") << "the frame that came whole stays; the cut one goes";
    EXPECT_EQ(PumpNetworkMessages(1), 0);
    EXPECT_FALSE(Live(handle));
    EXPECT_TRUE(net.sockets[peer].closed);

    for (NetworkHandleRecord* r : {a, b}) {
        Deliver(r, "!");
        EXPECT_EQ(Read(r), 1);
        EXPECT_EQ(r->readableBytes, kMaxNetworkFrameBytes);
        EXPECT_EQ(r->receiveRing.data[(r->receiveRing.writePos + r->receiveRing.size - 1) % r->receiveRing.size], '!');
    }
    // With those complete, a new peer's frame in part is held again.
    NetworkHandleRecord* d = Accept();
    Deliver(d, LengthWord(10) + "abc");
    EXPECT_EQ(Read(d), 1);
    EXPECT_EQ(d->error, 0);
    EXPECT_EQ(d->receiveLeft, 7u);
    EXPECT_EQ(log, L"受信途中のデータの合計が上限(134217728 byte)を超えたので接続を閉じます(データサイズ 10 byte)\n");
}

// A connected peer that stops mid-frame is waited for a second at most, then closed.
TEST_F(ConnectionTest, AQuietPeersFrameIsWaitedForASecondAtMost)
{
    NetworkHandleRecord* r = Accept();
    const int32_t handle = r->node.handle;
    Deliver(r, LengthWord(6) + "abc");
    EXPECT_EQ(Read(r), 1);
    const uint32_t clock = net.clock;
    EXPECT_EQ(DrainAndCloseConnection(handle), 0);
    EXPECT_FALSE(Live(handle));
    EXPECT_GE(net.clock - clock, 1000u);
    EXPECT_LT(net.clock - clock, 1100u);
}

TEST_F(ConnectionTest, CloseDrainsTheFrameInProgressAndThePendingSend)
{
    uintptr_t peer = 0;
    NetworkHandleRecord* r = Accept(&peer);
    FakeSocket& s = net.sockets[peer];
    Deliver(r, LengthWord(6) + "abc");
    EXPECT_EQ(Read(r), 1);
    Queue(r, "out");
    s.sendRoom = 0;
    // The rest of the frame comes, and the peer's side takes bytes again, during the close.
    net.script.push_back([&] {
        s.incoming += "def";
        s.sendRoom = -1;
    });
    EXPECT_EQ(DrainAndCloseConnection(r->node.handle), 0);
    EXPECT_TRUE(s.incoming.empty());
    EXPECT_EQ(s.outgoing, Frame("out"));
    EXPECT_TRUE(s.closed);
    EXPECT_EQ(s.events, 0u) << "notifications ended before the socket closed";
}

// Read events that the window dispatches while a receive pumps: another connection's is
// served at once, and the receiving connection's own makes it read on.
TEST_F(ConnectionTest, ReadEventsDuringAReceiveAreNotLost)
{
    NetworkHandleRecord* a = Accept();
    NetworkHandleRecord* b = Accept();
    Deliver(a, LengthWord(8) + "1234");
    net.script.push_back([] {});  // the pump at the start of the receive
    net.script.push_back([&] {    // the pump after its first piece
        Deliver(b, Frame("for b"));
        Deliver(a, "5678" + Frame("next"));
        Read(b);
        Read(a);
    });
    EXPECT_EQ(RecvSocket(a->node.handle), 0);
    EXPECT_EQ(Held(b->receiveRing), "for b");
    EXPECT_EQ(Held(a->receiveRing), "12345678next");
    EXPECT_EQ(a->readableBytes, 12u);
    EXPECT_EQ(a->receiving, 0u);
    EXPECT_EQ(b->receiving, 0u);
}

// A closing pump that runs inside a receive (an application's own message loop, say) leaves
// the receiving connection alone; the next closing pump frees it.
TEST_F(ConnectionTest, AConnectionIsNotFreedUnderItsOwnReceive)
{
    uintptr_t peer = 0;
    NetworkHandleRecord* r = Accept(&peer);
    const int32_t handle = r->node.handle;
    Deliver(r, LengthWord(8) + "1234");
    net.script.push_back([] {});
    net.script.push_back([&] {
        Deliver(r, "5678");
        Read(r);
        net.sockets[peer].peerClosed = true;
        DispatchSocketEvent(kNetworkEventClose, static_cast<uint32_t>(peer));
        EXPECT_EQ(PumpNetworkMessages(1), 0);
        EXPECT_EQ(DrainAndCloseConnection(handle), -1);
        EXPECT_TRUE(Live(handle));
    });
    EXPECT_EQ(RecvSocket(handle), 0);
    EXPECT_EQ(r->readableBytes, 8u);
    EXPECT_EQ(PumpNetworkMessages(1), 0);
    EXPECT_FALSE(Live(handle));
}

// The closing walk's drains pump messages whose handlers close other records (the walk's
// next node among them), try to close the record being drained, and pump with 1 again.
TEST_F(ConnectionTest, TheClosingWalkSurvivesRecordsClosedUnderIt)
{
    std::vector<int32_t> handles;
    std::vector<uintptr_t> peers;
    for (int i = 0; i < 4; ++i) {
        uintptr_t peer = 0;
        handles.push_back(Accept(&peer)->node.handle);
        peers.push_back(peer);
    }
    // Newest first in the chain: the walk drains handles[3] first; handles[2] is its next.
    for (int i = 1; i < 4; ++i) {
        DispatchSocketEvent(kNetworkEventClose, static_cast<uint32_t>(peers[static_cast<size_t>(i)]));
    }
    int refused = 0;
    net.script.push_back([&] {
        refused += DrainAndCloseConnection(handles[3]) == -1;
        EXPECT_EQ(DrainAndCloseConnection(handles[2]), 0);
        EXPECT_EQ(PumpNetworkMessages(1), 0);
        EXPECT_EQ(DrainAndCloseConnection(handles[0]), 0) << "a live one, closed by its application";
    });
    EXPECT_EQ(PumpNetworkMessages(1), 0);
    EXPECT_EQ(refused, 1) << "the record being drained is not closed twice";
    for (int32_t handle : handles) {
        EXPECT_FALSE(Live(handle));
    }
    EXPECT_EQ(NetworkTable()->liveCount, 1);
}

// Shut-down's drains pump messages; a connection accepted among them takes the first free
// slot, which the walk has passed. Shut-down closes it too.
TEST_F(ConnectionTest, ShutDownClosesAConnectionAcceptedDuringItsWalk)
{
    NetworkHandleRecord* first = Accept();
    uintptr_t peer = 0;
    Accept(&peer);
    ASSERT_EQ(DrainAndCloseConnection(first->node.handle), 0);  // slot 0 is free again
    uintptr_t late = 0;
    net.script.push_back([&] {  // the pump of the first drain, in slot 1
        late = net.Connect();
        ASSERT_EQ(DispatchSocketEvent(kNetworkEventAccept, kListener), 1);
        EXPECT_EQ(HandleSlotOf(g_network.head.next->handle), 0);
    });
    EXPECT_EQ(ShutDownNetwork(), 0);
    EXPECT_EQ(NetworkTable()->liveCount, 0);
    EXPECT_TRUE(net.sockets[peer].closed);
    EXPECT_TRUE(net.sockets[late].closed);
    EXPECT_TRUE(net.sockets[kListener].closed);
}

}  // namespace
