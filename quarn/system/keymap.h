// Key codes: the virtual-key to DirectInput key-code table, the joypad key map and the key
// table helpers. Needs no operating system.
#pragma once

#include <cstdint>

constexpr int kKeyTableSize = 256;  // one entry per DirectInput key code, bit 7 = down
constexpr int kMaxPads = 16;
constexpr int kPadKeyMapEntries = 32;

// DirectInput key codes used by the library itself.
constexpr int kDikF5 = 0x3F;
constexpr int kDikRightShift = 0x36;

// {virtual key, DirectInput key code} pairs, ended by a pair whose virtual key is 0xFFFF.
// A virtual key may appear more than once (Enter stands for both Return keys).
struct VirtualKeyToDik {
    uint16_t virtualKey;
    uint16_t dik;
};
extern const VirtualKeyToDik kVirtualKeyToDikTable[];
constexpr int kVirtualKeyToDikPairs = 99;

// Fills the key table from a 256-byte virtual-key state (GetKeyboardState's layout): every
// entry is cleared, then each pair copies the virtual key's byte into its DIK entry.
void CopyVirtualKeysToDik(const uint8_t* virtualKeyState, uint8_t* keyTable);

// Keys that stand for one pad input: up to two DIK codes, -1 when unused.
struct PadKeyMapEntry {
    int32_t firstKey;
    int32_t secondKey;
    int32_t reserved[2];
};

// Every entry of every pad to -1, then pad 1's defaults: entries 0 to 3 are down, left,
// right and up (numeric pad and cursor keys), 4 to 13 the buttons Z X C A S D Q W Esc Space.
void ResetPadKeyMap(PadKeyMapEntry (*map)[kPadKeyMapEntries]);

// Bit n set when entry n of the pad's key map names a key that is down in the key table.
uint32_t PadKeyMapState(const PadKeyMapEntry* padMap, const uint8_t* keyTable);
