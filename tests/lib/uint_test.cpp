#include <stdexcept>

#include "lib_test_util.h"

using libtest::expect_throw;
using libtest::Limbs;
using libtest::limbs_of;
using libtest::make_uint;

namespace {

constexpr std::uint32_t M = 0xFFFFFFFFu;

struct BinaryCase {
    char op;  // '+', '-', '*'
    Limbs a, b, expected;
};

class UintArithmetic : public ::testing::TestWithParam<BinaryCase> {};

TEST_P(UintArithmetic, GivesTrimmedResult)
{
    const BinaryCase& c = GetParam();
    const lib::uint a = make_uint(c.a), b = make_uint(c.b);
    // A result object that already holds a larger value: its old limbs must not leak through.
    lib::uint result = make_uint({7, 7, 7, 7, 7, 7});
    switch (c.op) {
    case '+': lib::uint::add(result, a, b); break;
    case '-': lib::uint::subtract(result, a, b); break;
    case '*': lib::uint::multiply(result, a, b); break;
    }
    EXPECT_EQ(limbs_of(result), c.expected);
    EXPECT_LE(result.size, result.capacity);
    EXPECT_EQ(result.capacity, 6u) << "an array large enough is reused";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, UintArithmetic, ::testing::Values(
    BinaryCase{'+', {M}, {1}, {0, 1}},
    BinaryCase{'+', {M, M}, {1}, {0, 0, 1}},
    BinaryCase{'+', {1}, {M, M}, {0, 0, 1}},
    BinaryCase{'+', {1, 2, 3}, {M}, {0, 3, 3}},
    BinaryCase{'+', {M, 5}, {1, M}, {0, 5, 1}},
    BinaryCase{'+', {}, {5}, {5}},
    BinaryCase{'+', {5}, {}, {5}},
    BinaryCase{'+', {}, {}, {}},
    BinaryCase{'-', {0, 1}, {1}, {M}},
    BinaryCase{'-', {0, 0, 1}, {1}, {M, M}},
    BinaryCase{'-', {5, 7}, {5, 7}, {}},
    BinaryCase{'-', {5, 0, 1}, {3, 0, 1}, {2}},
    BinaryCase{'-', {7}, {}, {7}},
    BinaryCase{'-', {1, 1}, {2}, {M}},
    BinaryCase{'*', {}, {5}, {}},
    BinaryCase{'*', {5}, {}, {}},
    BinaryCase{'*', {0, 1}, {0, 1}, {0, 0, 1}},
    BinaryCase{'*', {M}, {M}, {1, M - 1}},
    BinaryCase{'*', {M, M}, {M, M}, {1, 0, M - 1, M}},
    BinaryCase{'*', {0x80000000u}, {2}, {0, 1}},
    BinaryCase{'*', {2}, {0x80000000u}, {0, 1}},
    BinaryCase{'*', {0x80000001u}, {0x80000000u, 1}, {0x80000000u, 0xC0000001u}},
    BinaryCase{'*', {3}, {M, M, M}, {M - 2, M, M, 2}}));
// clang-format on

TEST(Uint, SubtractRefusesANegativeResult)
{
    lib::uint result = make_uint({9});
    expect_throw<std::invalid_argument>([&] { lib::uint::subtract(result, make_uint({5}), make_uint({7})); },
                                        "uint subtract results negative");
    // Fewer limbs than the subtrahend is refused before the result is touched.
    result = make_uint({9});
    expect_throw<std::invalid_argument>(
        [&] {
            lib::uint::subtract(result, make_uint({M}), make_uint({0, 1}));
        },
        "uint subtract results negative");
    EXPECT_EQ(limbs_of(result), Limbs{9});
    // Equal sizes with a borrow left at the top.
    expect_throw<std::invalid_argument>(
        [&] {
            lib::uint::subtract(result, make_uint({5, 1}), make_uint({6, 1}));
        },
        "uint subtract results negative");
    EXPECT_EQ(result.size, 0u);
}

struct DivideCase {
    Limbs a, d, quotient, remainder;
};

class UintDivide : public ::testing::TestWithParam<DivideCase> {};

TEST_P(UintDivide, LeavesRemainderInDividend)
{
    const DivideCase& c = GetParam();
    lib::uint a = make_uint(c.a);
    lib::uint q = make_uint({1, 2, 3});
    a.divide(make_uint(c.d), q);
    EXPECT_EQ(limbs_of(q), c.quotient);
    EXPECT_EQ(limbs_of(a), c.remainder);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, UintDivide, ::testing::Values(
    DivideCase{{100}, {7}, {14}, {2}},
    DivideCase{{5}, {7}, {}, {5}},
    DivideCase{{0, 0, 1}, {0, 1}, {0, 1}, {}},
    DivideCase{{0, 1}, {2}, {0x80000000u}, {}},
    DivideCase{{5, 0, 1}, {0, 0, 1}, {1}, {5}},
    DivideCase{{M, M, M}, {M, M}, {0, 1}, {M}},
    DivideCase{{M, M, M}, {M}, {1, 1, 1}, {}},
    DivideCase{{7, 0, 0, 1}, {3}, {0x55555557u, 0x55555555u, 0x55555555u}, {2}},
    DivideCase{{1, 2, 3}, {1, 2, 3}, {1}, {}},
    DivideCase{{1, 2}, {1, 2, 3}, {}, {1, 2}},
    DivideCase{{9, 9}, {}, {}, {9, 9}},
    DivideCase{{}, {5}, {}, {}}));
// clang-format on

TEST(Uint, DivideAliasing)
{
    lib::uint a = make_uint({1, 2});
    expect_throw<std::invalid_argument>([&] { a.divide(make_uint({3}), a); },
                                        "uint try to store quotient and remainder into this");
    EXPECT_EQ(limbs_of(a), (Limbs{1, 2}));

    lib::uint q;
    a.divide(a, q);  // divisor is the dividend: divided by its own old value
    EXPECT_EQ(limbs_of(q), Limbs{1});
    EXPECT_EQ(limbs_of(a), Limbs{});

    a = make_uint({100});
    q = make_uint({7});
    a.divide(q, q);  // divisor is the quotient object
    EXPECT_EQ(limbs_of(q), Limbs{14});
    EXPECT_EQ(limbs_of(a), Limbs{2});
}

TEST(Uint, ResultMayBeAnOperand)
{
    lib::uint x = make_uint({M, 0x80000000u});
    lib::uint::add(x, x, x);
    EXPECT_EQ(limbs_of(x), (Limbs{M - 1, 1, 1}));
    lib::uint::multiply(x, x, x);  // (2^64 + 2^32 - 2)^2
    EXPECT_EQ(limbs_of(x), (Limbs{4, 0xFFFFFFF8u, M, 3, 1}));
    lib::uint y = make_uint({5, 5});
    lib::uint::subtract(y, y, make_uint({6}));
    EXPECT_EQ(limbs_of(y), (Limbs{M, 4}));
    lib::uint::subtract(y, make_uint({0, 5}), y);
    EXPECT_EQ(limbs_of(y), Limbs{1});
}

TEST(Uint, AddLimbsAcceptsAnyOrderAndAliasing)
{
    lib::uint small = make_uint({M});
    lib::uint large = make_uint({1, M});
    lib::uint r;
    lib::uint::add_limbs(r, small, large);
    EXPECT_EQ(limbs_of(r), (Limbs{0, 0, 1}));
    lib::uint::add_limbs(large, large, small);
    EXPECT_EQ(limbs_of(large), (Limbs{0, 0, 1}));
}

TEST(Uint, IncrementAndDecrement)
{
    struct Case {
        Limbs before, after_incr;
    };
    for (const Case& c :
         {Case{{}, {1}}, Case{{M}, {0, 1}}, Case{{M, M}, {0, 0, 1}}, Case{{M, 3}, {0, 4}}, Case{{41}, {42}}}) {
        lib::uint x = make_uint(c.before);
        EXPECT_EQ(&x.incr(), &x);
        EXPECT_EQ(limbs_of(x), c.after_incr);
        EXPECT_EQ(&x.decr(), &x);
        EXPECT_EQ(limbs_of(x), c.before);
    }
    lib::uint zero;
    expect_throw<std::out_of_range>([&] { zero.decr(); }, "uint decr. negative");
    EXPECT_EQ(zero.size, 0u);
}

TEST(Uint, ToPrimitive)
{
    EXPECT_EQ(lib::uint().to_primitive(), 0);
    EXPECT_EQ(make_uint({65535}).to_primitive(), 65535);
    expect_throw<std::out_of_range>([] { make_uint({65536}).to_primitive(); }, "@lib::uint::to_primitive");
    expect_throw<std::out_of_range>([] { make_uint({1, 1}).to_primitive(); }, "@lib::uint::to_primitive");
}

TEST(Uint, ConstructionCopyAndCompare)
{
    lib::uint zero = lib::uint::from_word(0);
    EXPECT_EQ(zero.size, 0u);
    EXPECT_EQ(zero.limbs, nullptr);
    EXPECT_EQ(limbs_of(lib::uint::from_short(65535)), Limbs{65535});

    lib::uint x = make_uint({1, 2, 3});
    x.reserve_keep(10);
    EXPECT_EQ(limbs_of(x), (Limbs{1, 2, 3}));
    lib::uint copy(x);
    EXPECT_EQ(copy.capacity, 3u);
    EXPECT_EQ(limbs_of(copy), (Limbs{1, 2, 3}));
    copy.limbs[0] = 9;
    EXPECT_EQ(x.limbs[0], 1u) << "a copy owns its own limbs";

    struct Case {
        Limbs a, b;
        int expected;
    };
    for (const Case& c : {Case{{}, {}, 0}, Case{{}, {1}, -1}, Case{{M}, {0, 1}, -1}, Case{{5, 2}, {4, 2}, 1},
                          Case{{1, 2}, {2, 1}, 1}, Case{{1, 2, 3}, {1, 2, 3}, 0}}) {
        EXPECT_EQ(lib::uint::compare(make_uint(c.a), make_uint(c.b)), c.expected);
        EXPECT_EQ(lib::uint::compare(make_uint(c.b), make_uint(c.a)), -c.expected);
    }
}

}  // namespace
