#include "quarn/core/core.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <vector>

namespace {

// The published MT19937 started from the given 624 state words, before its first step.
std::mt19937 ReferenceFrom(const uint32_t* state)
{
    std::stringstream text;
    for (int i = 0; i < kRandomStateWords; ++i) text << state[i] << ' ';
    text << kRandomStateWords;  // position: the next draw renews the whole state
    std::mt19937 reference;
    text >> reference;
    return reference;
}

std::vector<uint32_t> Output() { return std::vector<uint32_t>(g_random.output, g_random.output + kRandomStateWords); }

// The seeding's state words, before the first refill.
std::vector<uint32_t> SeedWords(uint32_t seed)
{
    std::vector<uint32_t> words;
    uint32_t x = seed;
    for (int i = 0; i < kRandomStateWords; ++i) {
        const uint32_t high = x & 0xFFFF0000u;
        x = x * 69069u + 1u;
        words.push_back(high | (x >> 16));
        x = x * 69069u + 1u;
    }
    return words;
}

TEST(Random, SeedingWithOneGivesTheFirstOutputsOfMt19937)
{
    const std::vector<uint32_t> start = SeedWords(1);
    std::mt19937 reference = ReferenceFrom(start.data());
    std::mt19937 drawn = reference;
    SeedRandomGenerator(1);
    EXPECT_EQ(g_random.seeded, 1);
    EXPECT_EQ(g_random.index, 0);
    for (int i = 0; i < kRandomStateWords; ++i) ASSERT_EQ(g_random.output[i], reference()) << "word " << i;
    // Draws read the buffer, then go on through the next refills.
    reference = drawn;
    for (int i = 0; i < 3 * kRandomStateWords; ++i) ASSERT_EQ(DrawRandomWord(), reference()) << "draw " << i;
}

TEST(Random, BothRefillsMatchTheReferenceOnAnyState)
{
    std::mt19937 source(2024);
    for (int round = 0; round < 20; ++round) {
        uint32_t start[kRandomStateWords];
        for (uint32_t& w : start) w = source();
        if (round == 1)
            for (uint32_t& w : start) w = 0xFFFFFFFFu;  // every low bit set: the matrix term everywhere

        for (int variant = 0; variant < 2; ++variant) {
            std::mt19937 reference = ReferenceFrom(start);
            std::copy(start, start + kRandomStateWords, g_random.state);
            g_random.state[kRandomStateWords] = 0xDEADBEEFu;
            if (variant == 0) RefillRandomState();
            else RefillRandomStateMmx();
            for (int i = 0; i < kRandomStateWords; ++i)
                ASSERT_EQ(g_random.output[i], reference())
                    << "round " << round << " variant " << variant << " word " << i;
        }
    }
}

TEST(Random, SameSeedSameStateWhicheverRefill)
{
    SeedRandomGenerator(77);
    const std::vector<uint32_t> first = Output();
    const std::vector<uint32_t> state(g_random.state, g_random.state + kRandomStateWords);
    SeedRandomGenerator(77);
    EXPECT_EQ(Output(), first);

    const std::vector<uint32_t> start = SeedWords(77);
    std::copy(start.begin(), start.end(), g_random.state);
    RefillRandomState();
    EXPECT_EQ(Output(), first);
    EXPECT_EQ(std::vector<uint32_t>(g_random.state, g_random.state + kRandomStateWords), state);
    std::copy(start.begin(), start.end(), g_random.state);
    RefillRandomStateMmx();
    EXPECT_EQ(Output(), first);
    EXPECT_EQ(std::vector<uint32_t>(g_random.state, g_random.state + kRandomStateWords), state);

    SeedRandomGenerator(78);
    EXPECT_NE(Output(), first);
}

}  // namespace
