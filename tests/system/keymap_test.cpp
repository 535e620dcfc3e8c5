#include "quarn/system/keymap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

namespace {

// The DIK entries that end up down when only this virtual key is down.
std::vector<int> DownAfter(int virtualKey)
{
    uint8_t state[256] = {};
    uint8_t keys[256];
    std::memset(keys, 0xEE, sizeof(keys));  // stale contents must be cleared
    state[virtualKey] = 0x80;
    CopyVirtualKeysToDik(state, keys);
    std::vector<int> down;
    for (int dik = 0; dik < 256; ++dik) {
        if (keys[dik] != 0) {
            down.push_back(dik);
        }
    }
    return down;
}

TEST(VirtualKeyToDik, EachKeyLandsOnItsDirectInputCode)
{
    struct Case {
        int virtualKey;
        std::vector<int> diks;
    };
    const Case cases[] = {
        {0x74, {0x3F}},        // F5, the application's reset key
        {0x70, {0x3B}},        // F1
        {0x7B, {0x58}},        // F12
        {0x41, {0x1E}},        // A
        {0x5A, {0x2C}},        // Z
        {0x30, {0x0B}},        // 0
        {0x31, {0x02}},        // 1
        {0x0D, {0x1C, 0x9C}},  // Enter stands for both Return keys
        {0x25, {0xCB}},        // Left
        {0x28, {0xD0}},        // Down
        {0xBA, {0x92}},        // ':' of the Japanese layout
        {0xBB, {0x27}},        // ';'
        {0xC0, {0x91}},        // '@'
        {0xDC, {0x7D}},        // yen
        {0xE2, {0x2B}},        // backslash / underscore
        {0xDB, {0x1A}},        // '['
        {0x6F, {0xB5}},        // numeric pad '/'
        {0x6E, {0x53}},        // numeric pad '.'
        {0xA1, {0x36}},        // right Shift
        {0xA3, {0x9D}},        // right Control
        {0xA5, {0xB8}},        // right Alt
        {0x13, {0xC5}},        // Pause
        {0x1B, {0x01}},        // Escape
        {0x5B, {}},            // left Windows key: not in the table
        {0x10, {}},            // generic Shift: only the sided keys are copied
        {0x7C, {}},            // F13
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DownAfter(c.virtualKey), c.diks) << "virtual key 0x" << std::hex << c.virtualKey;
    }
}

TEST(VirtualKeyToDik, TableHasNinetyNinePairsAndOnlyEnterSharesAVirtualKey)
{
    std::set<int> diks;
    std::multiset<int> virtualKeys;
    int pairs = 0;
    for (const VirtualKeyToDik* p = kVirtualKeyToDikTable; p->virtualKey != 0xFFFF; ++p) {
        ++pairs;
        EXPECT_TRUE(diks.insert(p->dik).second) << "DIK 0x" << std::hex << p->dik << " mapped twice";
        virtualKeys.insert(p->virtualKey);
    }
    EXPECT_EQ(pairs, kVirtualKeyToDikPairs);
    for (int vk : virtualKeys) {
        EXPECT_EQ(virtualKeys.count(vk), vk == 0x0D ? 2u : 1u) << "virtual key 0x" << std::hex << vk;
    }
}

TEST(VirtualKeyToDik, CopiesTheWholeStateByteNotJustTheDownBit)
{
    uint8_t state[256] = {};
    uint8_t keys[256] = {};
    state[0x14] = 0x01;  // Caps Lock toggled but not held
    state[0x74] = 0x81;
    CopyVirtualKeysToDik(state, keys);
    EXPECT_EQ(keys[0x3A], 0x01);
    EXPECT_EQ(keys[0x3F], 0x81);
}

TEST(PadKeyMap, DefaultsOnPadOneOnlyAndKeysMapToBits)
{
    static PadKeyMapEntry map[kMaxPads][kPadKeyMapEntries];
    std::memset(map, 0x55, sizeof(map));
    ResetPadKeyMap(map);
    EXPECT_EQ(map[0][0].firstKey, 0x50);
    EXPECT_EQ(map[0][0].secondKey, 0xD0);
    EXPECT_EQ(map[0][3].secondKey, 0xC8);
    EXPECT_EQ(map[0][13].firstKey, 0x39);
    EXPECT_EQ(map[0][13].secondKey, -1);
    EXPECT_EQ(map[0][14].firstKey, -1);
    for (int pad = 1; pad < kMaxPads; ++pad) {
        for (int entry = 0; entry < kPadKeyMapEntries; ++entry) {
            ASSERT_EQ(map[pad][entry].firstKey, -1);
            ASSERT_EQ(map[pad][entry].secondKey, -1);
        }
    }

    uint8_t keys[256] = {};
    EXPECT_EQ(PadKeyMapState(map[0], keys), 0u);
    keys[0xCB] = 0x80;  // Left arrow: entry 1 through its second key
    keys[0x2C] = 0x80;  // Z: entry 4
    keys[0x2D] = 0x01;  // X with bit 7 clear is not down
    EXPECT_EQ(PadKeyMapState(map[0], keys), (1u << 1) | (1u << 4));
    EXPECT_EQ(PadKeyMapState(map[1], keys), 0u);
}

}  // namespace
