#include "quarn/system/charinput.h"

CharInputRing g_charInput;

int32_t CharInputHasRoom()
{
    return (g_charInput.writePos + 1) % kCharInputUnits != g_charInput.readPos ? 1 : 0;
}

int32_t PushCharInput(uint16_t unit)
{
    if (!CharInputHasRoom()) {
        return -1;
    }
    g_charInput.units[g_charInput.writePos] = unit;
    g_charInput.writePos = (g_charInput.writePos + 1) % kCharInputUnits;
    return 0;
}

int32_t PopCharInputUnit()
{
    if (g_charInput.readPos == g_charInput.writePos) {
        return -1;
    }
    const uint16_t unit = g_charInput.units[g_charInput.readPos];
    g_charInput.readPos = (g_charInput.readPos + 1) % kCharInputUnits;
    return unit;
}

int32_t ControlCodeOfKey(int32_t virtualKey)
{
    static const int32_t table[][2] = {
        {0x2E, 0x10},  // Delete
        {0x25, 0x1D},  // Left
        {0x27, 0x1C},  // Right
        {0x26, 0x1E},  // Up
        {0x28, 0x1F},  // Down
    };
    for (const auto& entry : table) {
        if (entry[0] == virtualKey) {
            return entry[1];
        }
    }
    return 0;
}

int32_t CharInputUnitOfCode(uint32_t code)
{
    if (code == 10) {
        return 13;
    }
    if (code >= 32) {
        return code <= 0xFFFF ? static_cast<int32_t>(code) : -1;
    }
    switch (code) {
    case 1: case 3: case 8: case 9: case 13: case 16: case 22: case 24: case 27:
        return static_cast<int32_t>(code);
    default:
        return -1;
    }
}
