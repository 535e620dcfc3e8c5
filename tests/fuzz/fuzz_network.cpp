// Network connections as their peers drive them, over the tests' stand-in sockets. Input: a
// list of steps, each an operation byte and its argument: bytes that one of three peers
// sends (as many as the input says, cut where it says), a read event, bytes the application
// queues and a write event with so much room on the peer's side, a close event, a closing
// pump.
//
// Each peer's bytes are read beside a plain reading of the frames: after a read event every
// frame that came whole is readable, its payload in order at the front of the ring, and a
// length word above the longest frame puts the connection in error. What the library sends
// reads back as frames whose payloads are the queued bytes in order. Shut-down leaves no
// connection and the allocator where it was.
#include <string>

#include "fuzz.h"
#include "quarn/core/byte_order.h"
#include "quarn/core/core.h"
#include "quarn/network/network.h"
#include "tests/network/fake_sockets.h"
#include "tests/network/frame_bytes.h"

namespace {

constexpr uintptr_t kListener = 7;
constexpr int kPeers = 3;

struct Peer {
    uintptr_t socket = 0;
    int32_t handle = -1;
    std::string sent;    // what the peer sent
    std::string queued;  // what the application queued for it
    bool hostile = false;
};

NetworkHandleRecord* RecordOf(const Peer& p)
{
    return FindHandleRecordAs<NetworkHandleRecord>(NetworkTable(), p.handle);
}

// The payloads of the frames that came whole, and whether a length word above the longest
// frame came before the first that did not.
std::string CompletePayloads(const std::string& bytes, bool* hostile)
{
    std::string out;
    size_t at = 0;
    *hostile = false;
    while (bytes.size() - at >= 4) {
        const uint32_t length = ReadLe32(reinterpret_cast<const uint8_t*>(bytes.data() + at));
        if (length > kMaxNetworkFrameBytes) {
            *hostile = true;
            break;
        }
        if (bytes.size() - at - 4 < length) {
            break;
        }
        out.append(bytes, at + 4, length);
        at += 4 + length;
    }
    return out;
}

void CheckReceived(Peer& p)
{
    NetworkHandleRecord* r = RecordOf(p);
    if (r == nullptr) {
        return;
    }
    bool hostile = false;
    const std::string complete = CompletePayloads(p.sent, &hostile);
    FUZZ_CHECK(r->error == (hostile ? 1 : 0));
    FUZZ_CHECK(r->readableBytes == complete.size());
    FUZZ_CHECK(RingFront(r->receiveRing, r->readableBytes) == complete);
    p.hostile = hostile;
}

// What went out reads as frames whose payloads are the front of what was queued.
void CheckSent(FakeNetwork& net, const Peer& p)
{
    const std::string& out = net.sockets[p.socket].outgoing;
    std::string payloads;
    size_t at = 0;
    while (out.size() - at >= 4) {
        const uint32_t length = ReadLe32(reinterpret_cast<const uint8_t*>(out.data() + at));
        FUZZ_CHECK(length != 0 && length <= p.queued.size());
        const size_t take = std::min<size_t>(length, out.size() - at - 4);
        payloads.append(out, at + 4, take);
        at += 4 + take;
    }
    FUZZ_CHECK(p.queued.compare(0, payloads.size(), payloads) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in{data, size};
    FakeNetwork net;
    InstallFakeNetwork(&net);
    SetLogCapture([](const wchar_t*, void*) {}, nullptr);
    const AllocatorTotals before = GetAllocatorTotals();
    StartNetworkWithListener(&net, kListener);

    Peer peers[kPeers];
    for (Peer& p : peers) {
        p.socket = net.Connect();
        FUZZ_CHECK(DispatchSocketEvent(kNetworkEventAccept, kListener) == 1);
        p.handle = g_network.head.next->handle;
    }
    while (in.Left() > 0) {
        const uint8_t op = in.Byte();
        Peer& p = peers[(op >> 4) % kPeers];
        switch ((op & 0x0F) % 6) {
        case 0:  // the peer sends bytes
        case 1: {
            const std::string bytes = in.Bytes(in.Byte());
            p.sent += bytes;
            net.sockets[p.socket].incoming += bytes;
            break;
        }
        case 2:
            DispatchSocketEvent(kNetworkEventRead, static_cast<uint32_t>(p.socket));
            CheckReceived(p);
            break;
        case 3:
            if (NetworkHandleRecord* r = RecordOf(p)) {
                const std::string bytes = in.Bytes(in.Byte());
                if (r->error == 0 && !bytes.empty()) {
                    p.queued += bytes;
                    FUZZ_CHECK(QueueSendBytes(r, bytes));
                }
            }
            break;
        case 4:
            net.sockets[p.socket].sendRoom = in.Bool() ? -1 : in.Byte();
            DispatchSocketEvent(kNetworkEventWrite, static_cast<uint32_t>(p.socket));
            CheckSent(net, p);
            break;
        default:
            if (in.Bool()) {
                net.sockets[p.socket].peerClosed = true;
                DispatchSocketEvent(kNetworkEventClose, static_cast<uint32_t>(p.socket));
            } else {
                PumpNetworkMessages(1);
            }
            break;
        }
    }
    ShutDownNetwork();
    FUZZ_CHECK(NetworkTable()->liveCount == 0);
    for (const Peer& p : peers) {
        FUZZ_CHECK(net.sockets[p.socket].closed);
    }
    const AllocatorTotals after = GetAllocatorTotals();
    FUZZ_CHECK(after.blockCount == before.blockCount && after.totalSize == before.totalSize);
    ResetNetworkState();
    InstallFakeNetwork(nullptr);
    SetLogCapture(nullptr, nullptr);
    return 0;
}
