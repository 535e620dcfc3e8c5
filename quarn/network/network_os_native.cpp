// The native build has no sockets of the library's: every socket call fails and the window
// has no messages. Tests install tables of their own.
#if !defined(_WIN32)

#include "quarn/network/network_os.h"

namespace {

int Receive(uintptr_t, uint8_t*, int) { return -1; }
int Send(uintptr_t, const uint8_t*, int) { return -1; }
int CloseSocket(uintptr_t) { return -1; }
uintptr_t Accept(uintptr_t, uint8_t*, uint32_t*) { return kNetworkNoSocket; }
int SelectEvents(uintptr_t, void*, uint32_t, uint32_t) { return -1; }
void PumpWindow(void*) {}
void PostClose(void*) {}
uint32_t Milliseconds() { return 0; }
int LastError() { return 0; }
void Cleanup() {}

const NetworkOsApi kNoSockets = {
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

const NetworkOsApi* SystemNetworkOsApi() { return &kNoSockets; }

#endif
