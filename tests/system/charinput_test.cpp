#include "quarn/system/charinput.h"

#include <gtest/gtest.h>

namespace {

TEST(CharInputRing, HoldsAtMost1024UnitsAndWraps)
{
    g_charInput = CharInputRing{};
    for (int i = 0; i < 1024; ++i) {
        ASSERT_EQ(PushCharInput(static_cast<uint16_t>(i)), 0);
    }
    EXPECT_EQ(CharInputHasRoom(), 0);
    EXPECT_EQ(PushCharInput(1), -1);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(PopCharInputUnit(), i);
    }
    // Writing on across the end of the store.
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(PushCharInput(static_cast<uint16_t>(5000 + i)), 0);
    }
    EXPECT_EQ(PushCharInput(1), -1);
    for (int i = 1000; i < 1024; ++i) {
        ASSERT_EQ(PopCharInputUnit(), i);
    }
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(PopCharInputUnit(), 5000 + i);
    }
    EXPECT_EQ(PopCharInputUnit(), -1);
}

}  // namespace
