// The registry through which the window and its pump reach the layers above them.
#include "quarn/system/system.h"

namespace {

struct MessageHandlerSlot {
    UINT message;
    WindowMessageHandler handler;  // null while the slot is free
};

struct TimerHandlerSlot {
    UINT_PTR id;
    TIMERPROC handler;  // null while the slot is free
};

struct WindowHandlerRegistry {
    MessageHandlerSlot messages[kWindowHandlerSlots];
    TimerHandlerSlot timers[kWindowTimerSlots];
    void (*pumpPass)();
    void (*pumpInactiveRound)();
};

WindowHandlerRegistry s_registry;

}  // namespace

int32_t RegisterWindowMessageHandler(UINT message, WindowMessageHandler handler)
{
    MessageHandlerSlot* free = nullptr;
    for (MessageHandlerSlot& slot : s_registry.messages) {
        if (slot.handler != nullptr && slot.message == message) {
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
    *free = MessageHandlerSlot{message, handler};
    return 0;
}

WindowMessageHandler FindWindowMessageHandler(UINT message)
{
    for (const MessageHandlerSlot& slot : s_registry.messages) {
        if (slot.handler != nullptr && slot.message == message) {
            return slot.handler;
        }
    }
    return nullptr;
}

int32_t RegisterWindowTimerHandler(UINT_PTR id, TIMERPROC handler)
{
    TimerHandlerSlot* free = nullptr;
    for (TimerHandlerSlot& slot : s_registry.timers) {
        if (slot.handler != nullptr && slot.id == id) {
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
    *free = TimerHandlerSlot{id, handler};
    return 0;
}

void CALLBACK DispatchWindowTimer(HWND window, UINT message, UINT_PTR id, DWORD time)
{
    for (const TimerHandlerSlot& slot : s_registry.timers) {
        if (slot.handler != nullptr && slot.id == id) {
            slot.handler(window, message, id, time);
            return;
        }
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
