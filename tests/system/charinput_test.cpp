#include "quarn/system/charinput.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Ring : ::testing::Test {
    CharInputRing ring;
    void SetUp() override { ClearCharRing(&ring); }
    // Moves both positions to the given slot, as after that many pushes and takes.
    void StartAt(int position)
    {
        ring.read = position;
        ring.write = position;
    }
    int Take(uint16_t out[2]) { return TakeCharRing(&ring, out, 1); }
};

TEST_F(Ring, HoldsAtMost1024UnitsFromAnyStart)
{
    for (int start : {0, 1, 512, 1024}) {
        StartAt(start);
        for (int i = 0; i < 1024; ++i) {
            ASSERT_EQ(PushCharRing(&ring, static_cast<uint16_t>('a' + i % 26)), 0) << start << " " << i;
        }
        EXPECT_EQ(CharRingHasRoom(&ring), 0);
        EXPECT_EQ(PushCharRing(&ring, 'x'), -1);
        uint16_t out[2];
        for (int i = 0; i < 1024; ++i) {
            ASSERT_EQ(Take(out), 1);
            ASSERT_EQ(out[0], 'a' + i % 26);
        }
        EXPECT_EQ(Take(out), 0);
        EXPECT_EQ(out[0], 0);
    }
}

TEST(LibraryRing, KeepsOrderWhileWritingOnAcrossTheEnd)
{
    ClearCharRing(&g_charInput);
    for (int i = 0; i < 1024; ++i) {
        ASSERT_EQ(PushCharInput(static_cast<uint16_t>(0x100 + i)), 0);
    }
    EXPECT_EQ(CharInputHasRoom(), 0);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(PopCharInputUnit(), 0x100 + i);
    }
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(PushCharInput(static_cast<uint16_t>(0x3000 + i)), 0);
    }
    EXPECT_EQ(PushCharInput(1), -1);
    uint16_t out[2];
    for (int i = 1000; i < 1024; ++i) {
        ASSERT_EQ(TakeCharInput(out, 1), 1);
        ASSERT_EQ(out[0], 0x100 + i);
    }
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(PopCharInputUnit(), 0x3000 + i);
    }
    EXPECT_EQ(PopCharInputUnit(), -1);
    EXPECT_EQ(TakeCharInput(out, 1), 0);
}

TEST_F(Ring, SurrogatePairSplitAcrossTheEndComesOutWhole)
{
    StartAt(kCharRingSlots - 1);
    ASSERT_EQ(PushCharRing(&ring, 0xD83D), 0);  // lands in the last slot
    ASSERT_EQ(ring.write, 0);
    ASSERT_EQ(PushCharRing(&ring, 0xDE00), 0);  // wraps to slot 0
    PushCharRing(&ring, 'z');
    uint16_t out[2];
    ASSERT_EQ(Take(out), 2);
    EXPECT_EQ(out[0], 0xD83D);
    EXPECT_EQ(out[1], 0xDE00);
    ASSERT_EQ(Take(out), 1);
    EXPECT_EQ(out[0], 'z');
    EXPECT_EQ(out[1], 0);
}

TEST_F(Ring, LoneHighSurrogateWaitsForItsPartner)
{
    StartAt(kCharRingSlots - 1);
    PushCharRing(&ring, 0xD842);
    uint16_t out[2] = {7, 7};
    EXPECT_EQ(Take(out), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(ring.read, kCharRingSlots - 1);  // put back
    PushCharRing(&ring, 0xDFB7);
    EXPECT_EQ(Take(out), 2);
    EXPECT_EQ(out[0], 0xD842);
    EXPECT_EQ(out[1], 0xDFB7);
    EXPECT_EQ(ring.read, ring.write);
}

TEST_F(Ring, PeekGivesWhatTheNextTakeGives)
{
    const uint16_t units[] = {'q', 0xD83D, 0xDE00, kCtrlLeft};
    for (uint16_t u : units) {
        PushCharRing(&ring, u);
    }
    for (int i = 0; i < 3; ++i) {
        uint16_t peeked[2];
        uint16_t taken[2];
        const int n = TakeCharRing(&ring, peeked, 0);
        EXPECT_EQ(TakeCharRing(&ring, peeked, 0), n);  // peeking twice changes nothing
        ASSERT_EQ(Take(taken), n);
        EXPECT_EQ(peeked[0], taken[0]);
        EXPECT_EQ(peeked[1], taken[1]);
    }
    EXPECT_EQ(ring.read, ring.write);
}

TEST(ControlCodes, EditingKeysAndTheirCodes)
{
    const struct {
        int virtualKey;
        uint16_t code;
    } cases[] = {{0x2E, 0x10}, {0x25, 0x1D}, {0x27, 0x1C}, {0x26, 0x1E}, {0x28, 0x1F}, {0x24, 0x1A},
                 {0x23, 0x19}, {0x21, 0x17}, {0x22, 0x15}, {0x41, 0},    {0x0D, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(ControlCodeOfKey(c.virtualKey), c.code) << c.virtualKey;
        if (c.code != 0) {
            EXPECT_EQ(IsControlCode(c.code), 1);
        }
    }
    for (uint16_t unit : {0u, 8u, 13u, 27u, 0x11u, 0x20u, 0x41u, 0xD800u}) {
        EXPECT_EQ(IsControlCode(unit), 0) << unit;
    }
}

TEST(ControlCodes, TypedCodesKeptOrDropped)
{
    const struct {
        uint32_t code;
        int32_t unit;
    } cases[] = {{10, 13}, {13, 13}, {2, -1},          {0, -1},          {1, 1},       {3, 3},
                 {8, 8},   {9, 9},   {16, 16},         {22, 22},         {24, 24},     {27, 27},
                 {31, -1}, {32, 32}, {0x3042, 0x3042}, {0xD83D, 0xD83D}, {0x1F600, -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(CharInputUnitOfCode(c.code), c.unit) << c.code;
    }
}

TEST(ControlCodes, CountCharactersJoinsPairsAndStopsAtZero)
{
    const uint16_t text[] = {'a', 0xD83D, 0xDE00, 'b', 0, 'c'};
    EXPECT_EQ(CountCharacters(text, 6), 3);
    EXPECT_EQ(CountCharacters(text, 3), 2);
    EXPECT_EQ(CountCharacters(text, 2), 2);  // a high surrogate cut off by the limit counts alone
    EXPECT_EQ(CountCharacters(text, 0), 0);
}

struct Editor : ::testing::Test {
    uint16_t buffer[9];
    KeyInputRecord record{};
    void SetUp() override
    {
        record.maxLength = 8;
        record.text = buffer;
        record.selectionStart = record.selectionEnd = -1;
        buffer[0] = 0;
    }
    void Type(const std::u16string& text)
    {
        for (char16_t u : text) {
            const uint16_t unit = u;
            InsertKeyInputText(&record, &unit, 1);
        }
    }
    std::u16string Text() const { return std::u16string(buffer, buffer + record.length); }
};

TEST_F(Editor, TypingMovingAndDeletingStepOverSurrogatePairs)
{
    Type(u"ab");
    const uint16_t pair[2] = {0xD83D, 0xDE00};
    ASSERT_EQ(InsertKeyInputText(&record, pair, 2), 0);
    Type(u"c");
    EXPECT_EQ(Text(), u"ab\U0001F600c");
    ApplyKeyInputControl(&record, kCtrlLeft);
    ApplyKeyInputControl(&record, kCtrlLeft);  // over the pair in one step
    EXPECT_EQ(record.cursor, 2);
    ApplyKeyInputControl(&record, kCtrlDelete);
    EXPECT_EQ(Text(), u"abc");
    ApplyKeyInputControl(&record, kCtrlEnd);
    InsertKeyInputText(&record, pair, 2);
    ApplyKeyInputControl(&record, kCtrlBackspace);
    EXPECT_EQ(Text(), u"abc");
    EXPECT_EQ(buffer[record.length], 0);
    ApplyKeyInputControl(&record, kCtrlHome);
    ApplyKeyInputControl(&record, kCtrlBackspace);  // nothing before the start
    EXPECT_EQ(Text(), u"abc");
}

TEST_F(Editor, TheMaximumRefusesWholeCharacters)
{
    Type(u"1234567");
    const uint16_t pair[2] = {0xD83D, 0xDE00};
    EXPECT_EQ(InsertKeyInputText(&record, pair, 2), -1);  // would need 9 units
    EXPECT_EQ(Text(), u"1234567");
    Type(u"89");
    EXPECT_EQ(Text(), u"12345678");
}

TEST_F(Editor, SelectionIsReplacedByTypingAndDeletedWithTheCursorKeptInside)
{
    Type(u"hello");
    ApplyKeyInputControl(&record, kCtrlSelectAll);
    EXPECT_EQ(ApplyKeyInputControl(&record, kCtrlCopy), kKeyInputCopyRequest);
    EXPECT_EQ(ApplyKeyInputControl(&record, kCtrlCut), kKeyInputCutRequest);
    Type(u"x");
    EXPECT_EQ(Text(), u"x");
    EXPECT_EQ(record.selectionStart, -1);
    EXPECT_EQ(ApplyKeyInputControl(&record, kCtrlCopy), kKeyInputNoRequest);

    Type(u"yz");
    record.selectionStart = 2;  // selection made backwards over "yz"
    record.selectionEnd = 0;
    record.cursor = 3;
    DeleteSelectedText(&record);
    EXPECT_EQ(Text(), u"z");
    EXPECT_EQ(record.cursor, 1);
    EXPECT_EQ(record.selectionEnd, -1);
}

TEST_F(Editor, EnterEndsAndEscapeCancelsOnlyWhenAllowed)
{
    ApplyKeyInputControl(&record, kCtrlEscape);
    EXPECT_EQ(record.end, kKeyInputEditing);
    record.cancelAllowed = 1;
    ApplyKeyInputControl(&record, kCtrlEscape);
    EXPECT_EQ(record.end, kKeyInputCancelled);
    record.end = kKeyInputEditing;
    EXPECT_EQ(ApplyKeyInputControl(&record, kCtrlPaste), kKeyInputPasteRequest);
    ApplyKeyInputControl(&record, kCtrlEnter);
    EXPECT_EQ(record.end, kKeyInputEntered);
}

}  // namespace
