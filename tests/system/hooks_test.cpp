// The sound, movie and network entry points that the window and the pump call.
#include <gtest/gtest.h>

#include <string>

#include "quarn/core/core.h"
#include "quarn/network/network.h"
#include "quarn/sound/sound.h"

namespace {

std::wstring g_log;
void Capture(const wchar_t* text, void*) { g_log += text; }

class HookTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        SetLogCapture(Capture, nullptr);
    }
    void TearDown() override { SetLogCapture(nullptr, nullptr); }
};

TEST_F(HookTest, EmptyTablesMakeTheHooksDoNothing)
{
    EXPECT_EQ(PollMidiPlayState(), -1) << "the sound system is not started";
    EXPECT_EQ(HandleMidiNotify(), 0);
    EXPECT_EQ(SuspendAllMovies(), 0);
    EXPECT_EQ(ResumeSuspendedMovies(), 0);
    EXPECT_EQ(RefreshMovieOverlays(), 0);
    EXPECT_EQ(SuspendMovie(-1, 1), -1);
    EXPECT_EQ(ShowMovieOverlay(0, 0, 1, MakeHandle(kHandleTypeMovie, 0, 0), 1), -1);

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

TEST_F(HookTest, MovieOverlayIsClippedToTheVisibleDrawArea)
{
    const RECT drawArea{100, 200, 400, 260};
    const RECT clipBox{0, 0, 50, 60};
    struct Case {
        int32_t x, y, mag;
        const RECT* clip;
        bool shown;
        RECT source, destination;
    };
    const Case cases[] = {
        {10, 20, 1, nullptr, true, {0, 0, 100, 40}, {110, 220, 210, 260}},
        {10, 20, 2, nullptr, true, {0, 0, 100, 20}, {110, 220, 310, 260}},
        {10, 20, 2, &clipBox, true, {0, 0, 20, 20}, {110, 220, 150, 260}},
        {-40, 0, 2, nullptr, true, {20, 0, 100, 30}, {100, 200, 260, 260}},
        {500, 20, 1, nullptr, false, {}, {}},
    };
    for (const Case& c : cases) {
        RECT source{-1, -1, -1, -1};
        RECT destination{-1, -1, -1, -1};
        const bool shown = ComputeMovieOverlayRects(c.x, c.y, c.mag, 100, 50, c.clip, drawArea, &source, &destination);
        EXPECT_EQ(shown, c.shown) << c.x << "," << c.y << " x" << c.mag;
        if (shown) {
            EXPECT_TRUE(EqualRect(&source, &c.source))
                << source.left << " " << source.top << " " << source.right << " " << source.bottom;
            EXPECT_TRUE(EqualRect(&destination, &c.destination))
                << destination.left << " " << destination.top << " " << destination.right << " "
                << destination.bottom;
        }
    }
}

// A started network with one hand-made connection, for the event dispatch.
class SocketEventTest : public HookTest {
protected:
    void SetUp() override
    {
        HookTest::SetUp();
        g_network = NetworkState{};
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
        g_network = NetworkState{};
        HookTest::TearDown();
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
    EXPECT_EQ(stream->closeFlag, 0);
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
