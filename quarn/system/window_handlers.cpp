// The registry through which the window and its pump reach the layers above them.
#include "quarn/system/system.h"

namespace {

// One slot of a registry: the message or timer id it answers, and its handler.
template <typename Key, typename Handler>
struct HandlerSlot {
    Key key;
    Handler handler;  // null while the slot is free
};

using MessageHandlerSlot = HandlerSlot<UINT, WindowMessageHandler>;
using TimerHandlerSlot = HandlerSlot<UINT_PTR, TIMERPROC>;

struct WindowHandlerRegistry {
    MessageHandlerSlot messages[kWindowHandlerSlots];
    TimerHandlerSlot timers[kWindowTimerSlots];
    void (*pumpPass)();
    void (*pumpInactiveRound)();
};

WindowHandlerRegistry s_registry;

// Sets the handler of a key: replaces the one it has, or takes the first free slot. A null
// handler frees the key's slot. -1 when the registry is full.
template <typename Key, typename Handler, size_t N>
int32_t SetHandler(HandlerSlot<Key, Handler> (&slots)[N], Key key, Handler handler)
{
    HandlerSlot<Key, Handler>* free = nullptr;
    for (HandlerSlot<Key, Handler>& slot : slots) {
        if (slot.handler != nullptr && slot.key == key) {
            slot.handler = handler;
            return 0;
        }
        if (slot.handler == nullptr && free == nullptr) {
            free = &slot;
        }
    }
    if (handler == nullptr) {
        return 0;
    }
    if (free == nullptr) {
        return -1;
    }
    *free = HandlerSlot<Key, Handler>{key, handler};
    return 0;
}

template <typename Key, typename Handler, size_t N>
Handler FindHandler(const HandlerSlot<Key, Handler> (&slots)[N], Key key)
{
    for (const HandlerSlot<Key, Handler>& slot : slots) {
        if (slot.handler != nullptr && slot.key == key) {
            return slot.handler;
        }
    }
    return nullptr;
}

}  // namespace

int32_t RegisterWindowMessageHandler(UINT message, WindowMessageHandler handler)
{
    return SetHandler(s_registry.messages, message, handler);
}

WindowMessageHandler FindWindowMessageHandler(UINT message) { return FindHandler(s_registry.messages, message); }

int32_t RegisterWindowTimerHandler(UINT_PTR id, TIMERPROC handler)
{
    return SetHandler(s_registry.timers, id, handler);
}

void CALLBACK DispatchWindowTimer(HWND window, UINT message, UINT_PTR id, DWORD time)
{
    if (const TIMERPROC handler = FindHandler(s_registry.timers, id)) {
        handler(window, message, id, time);
        return;
    }
    KillTimer(window, id);
}

void RegisterPumpWork(void (*pass)(), void (*inactiveRound)())
{
    s_registry.pumpPass = pass;
    s_registry.pumpInactiveRound = inactiveRound;
}

void ClearWindowHandlers() { s_registry = WindowHandlerRegistry{}; }

void RunPumpPass()
{
    if (s_registry.pumpPass != nullptr) {
        s_registry.pumpPass();
    }
}

void RunPumpInactiveRound()
{
    if (s_registry.pumpInactiveRound != nullptr) {
        s_registry.pumpInactiveRound();
    }
}
