// Typed characters and control codes, from the window procedure to the key-input layer.
#pragma once

#include <cstdint>

// Holds at most 1,024 units: one slot always stays free.
constexpr int32_t kCharInputUnits = 1025;
struct CharInputRing {
    uint16_t units[kCharInputUnits];
    int32_t readPos;
    int32_t writePos;
};
extern CharInputRing g_charInput;

int32_t PushCharInput(uint16_t unit);  // 0, or -1 when full
int32_t PopCharInputUnit();            // the oldest unit, or -1 when empty
int32_t CharInputHasRoom();
// The control code a key (Delete or an arrow) stores, or 0.
int32_t ControlCodeOfKey(int32_t virtualKey);
// The unit that a typed character code stores, or -1 when it is dropped.
int32_t CharInputUnitOfCode(uint32_t code);
