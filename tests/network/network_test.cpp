// The network entry points that the window and the pump call: socket events, the pump's
// pass, receive and send framing on the loopback interface.
#include <gtest/gtest.h>

#include <winsock.h>

#include <string>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/network/network.h"
#include "tests/core/log_capture.h"

namespace {

std::wstring g_log;

class NetworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CaptureLogInto(&g_log);
    }
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

}  // namespace

namespace {

// A started network on the loopback interface: a listening record in the listen slot and
// a client socket connected to it, accepted through AcceptNetWork.
class LoopbackNetworkTest : public NetworkTest {
protected:
    void SetUp() override
    {
        NetworkTest::SetUp();
        WSADATA data{};
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
        ResetNetworkState();
        MakeEmptyHandleChain(&g_network.head, &g_network.tail);
        g_network.window = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        ASSERT_NE(g_network.window, nullptr);
        g_network.ready = 1;

        listener = static_cast<NetworkHandleRecord*>(AllocTrackedMemoryZeroed(sizeof(NetworkHandleRecord), "", 0));
        const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ASSERT_EQ(listen(s, 4), 0);
        int length = sizeof(address);
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
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

        client = socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ASSERT_EQ(AcceptNetWork(), 1);
        handle = g_network.head.next->handle;
        connection = FindHandleRecordAs<NetworkHandleRecord>(NetworkTable(), handle);
        ASSERT_NE(connection, nullptr);
    }
    void TearDown() override
    {
        HWND window = static_cast<HWND>(g_network.window);
        EXPECT_EQ(ShutDownNetwork(), 0);
        EXPECT_EQ(NetworkTable()->liveCount, 0);
        EXPECT_NE(g_log.find(L"ネットワーク関連の終了処理は完了しました\n"), std::wstring::npos);
        closesocket(client);
        DestroyWindow(window);
        ResetNetworkState();
        NetworkTest::TearDown();
    }
    void SendRaw(const std::string& bytes)
    {
        ASSERT_EQ(send(client, bytes.data(), static_cast<int>(bytes.size()), 0), static_cast<int>(bytes.size()));
        Sleep(50);
    }
    static std::string Frame(const std::string& payload)
    {
        const uint32_t n = static_cast<uint32_t>(payload.size());
        std::string out{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                        static_cast<char>(n >> 24)};
        return out + payload;
    }
    std::string Held(const RingBuffer& ring)
    {
        std::string out;
        for (int32_t i = 0; i < ring.held; ++i) {
            out += static_cast<char>(ring.data[(ring.readPos + i) % ring.size]);
        }
        return out;
    }
    NetworkHandleRecord* listener = nullptr;
    NetworkHandleRecord* connection = nullptr;
    SOCKET client = INVALID_SOCKET;
    int32_t handle = -1;
};

TEST_F(LoopbackNetworkTest, ReceiveTakesCompleteFramesAndWaitsForTheRest)
{
    EXPECT_EQ(HandleSlotOf(handle), 0);
    EXPECT_EQ(connection->framed, 1);
    EXPECT_EQ(connection->autoClose, 1);

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

TEST_F(LoopbackNetworkTest, FrameWrapsOverTheEndOfTheReceiveRing)
{
    SendRaw(Frame(std::string(1000, 'a')));
    EXPECT_EQ(RecvSocket(handle), 0);
    const int32_t size = connection->receiveRing.size;
    ASSERT_GE(size, 1000);
    // The application takes all but the last two bytes' room.
    std::string sink(static_cast<size_t>(size), '\0');
    ASSERT_EQ(ReadRingBuffer(&connection->receiveRing, sink.data(), 1000, 0), 0);
    const int32_t drop = size - 2 - connection->receiveRing.writePos;
    connection->receiveRing.writePos += drop;
    connection->receiveRing.readPos += drop;

    SendRaw(Frame("WXYZ"));
    EXPECT_EQ(RecvSocket(handle), 0);
    EXPECT_EQ(connection->receiveRing.size, size) << "the frame fitted without growing";
    EXPECT_EQ(connection->receiveRing.writePos, 2);
    EXPECT_EQ(Held(connection->receiveRing), "WXYZ");
    EXPECT_EQ(connection->readableBytes, 1004u);
}

TEST_F(LoopbackNetworkTest, SendFramesWhatIsPending)
{
    const std::string payload = "hello, peer";
    ASSERT_EQ(ReserveRingBuffer(&connection->sendRing, static_cast<int32_t>(payload.size())), 0);
    CopyBytes(connection->sendRing.data, payload.data(), static_cast<uint32_t>(payload.size()));
    connection->sendRing.writePos = static_cast<int32_t>(payload.size());
    connection->sendRing.held = static_cast<int32_t>(payload.size());

    EXPECT_EQ(SendSocket(handle), 0);
    EXPECT_EQ(connection->sendRing.held, 0);
    EXPECT_EQ(connection->sendFrameLeft, 0u);
    Sleep(50);
    char received[64] = {};
    const int got = recv(client, received, sizeof(received), 0);
    EXPECT_EQ(std::string(received, got > 0 ? got : 0), Frame(payload));
}

TEST_F(LoopbackNetworkTest, PendingBytesAcrossTheSendRingsEndGoAsOneFrame)
{
    ASSERT_EQ(ReserveRingBuffer(&connection->sendRing, 16), 0);
    RingBuffer& ring = connection->sendRing;
    const std::string payload = "wrapped!";
    // Queued so that the first five bytes stand at the ring's end, the rest at its start.
    ring.readPos = ring.size - 5;
    for (size_t i = 0; i < payload.size(); ++i) {
        ring.data[(static_cast<size_t>(ring.readPos) + i) % static_cast<size_t>(ring.size)] =
            static_cast<uint8_t>(payload[i]);
    }
    ring.writePos = 3;
    ring.held = static_cast<int32_t>(payload.size());

    EXPECT_EQ(SendSocket(handle), 0);
    EXPECT_EQ(ring.held, 0);
    EXPECT_EQ(ring.readPos, 3) << "the read position stands behind the second piece";
    Sleep(50);
    char received[64] = {};
    const int got = recv(client, received, sizeof(received), 0);
    EXPECT_EQ(std::string(received, got > 0 ? got : 0), Frame(payload));
}

TEST_F(LoopbackNetworkTest, PumpClosesFailedAndFinishedConnections)
{
    EXPECT_EQ(DispatchSocketEvent(FD_CLOSE, static_cast<uint32_t>(connection->socket)), 1);
    EXPECT_EQ(PumpNetworkMessages(1), 0);
    EXPECT_EQ(FindHandleRecord(NetworkTable(), handle), nullptr) << "a peer's close frees the connection";
    EXPECT_EQ(RecvSocket(handle), -1);
}

}  // namespace
