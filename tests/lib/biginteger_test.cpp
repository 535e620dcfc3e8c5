#include <stdexcept>

#include "lib_test_util.h"

using lib::biginteger;
using lib::ubase;
using libtest::big;
using libtest::expect_throw;
using libtest::Limbs;
using libtest::limbs_of;
using libtest::make_big;
using libtest::make_uint;
using libtest::narrow;

namespace {

// What a text reads as: the value written back in the same base, or the exception.
struct ReadCase {
    const wchar_t* text;
    unsigned base;
    const char* value;  // null when it throws
    char error;         // 'i' invalid_argument, 'o' out_of_range
    const char* message;
};

class BigintegerSetStr : public ::testing::TestWithParam<ReadCase> {};

TEST_P(BigintegerSetStr, ReadsOrRefuses)
{
    const ReadCase& c = GetParam();
    biginteger x = big(-77);
    auto read = [&] { x.set_str(c.text, c.base); };
    if (c.value) {
        read();
        EXPECT_EQ(narrow(x.to_str(c.base)), c.value);
        EXPECT_EQ(x.sign == 0, x.magnitude.size == 0);
        return;
    }
    if (c.error == 'i') expect_throw<std::invalid_argument>(read, c.message);
    else expect_throw<std::out_of_range>(read, c.message);
    EXPECT_EQ(x, big(-77)) << "a failing read leaves the value as it was";
}

const char kBadSymbol[] = "ubase bad symbol in input [^0-9A-Za-z]";
const char kTooLarge[] = "ubase digit is too large";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, BigintegerSetStr, ::testing::Values(
    ReadCase{L"12345", 10, "12345", 0, nullptr},
    ReadCase{L"-42", 10, "-42", 0, nullptr},
    ReadCase{L"+42", 10, "42", 0, nullptr},
    ReadCase{L"007", 10, "7", 0, nullptr},
    ReadCase{L"-007", 10, "-7", 0, nullptr},
    ReadCase{L"0", 10, "0", 0, nullptr},
    ReadCase{L"-0", 10, "0", 0, nullptr},
    ReadCase{L"-", 10, "0", 0, nullptr},
    ReadCase{L"+", 10, "0", 0, nullptr},
    ReadCase{L"18446744073709551616", 10, "18446744073709551616", 0, nullptr},
    ReadCase{L"-340282366920938463463374607431768211456", 10,
             "-340282366920938463463374607431768211456", 0, nullptr},
    ReadCase{L"101", 2, "101", 0, nullptr},
    ReadCase{L"-zz", 36, "-ZZ", 0, nullptr},
    ReadCase{L"Zz9", 36, "ZZ9", 0, nullptr},
    ReadCase{L"ff", 16, "FF", 0, nullptr},
    ReadCase{L"", 10, nullptr, 'i', "@lib::biginteger::set_str"},
    ReadCase{L"12a4", 10, nullptr, 'o', kTooLarge},
    ReadCase{L"12 4", 10, nullptr, 'o', kBadSymbol},
    ReadCase{L" 124", 10, nullptr, 'o', kBadSymbol},
    ReadCase{L"124 ", 10, nullptr, 'o', kBadSymbol},
    ReadCase{L"--1", 10, nullptr, 'o', kBadSymbol},
    ReadCase{L"1-", 10, nullptr, 'o', kBadSymbol},
    ReadCase{L"\u00e912", 10, nullptr, 'o', kBadSymbol},
    // The characters are examined from the last: the last bad one decides.
    ReadCase{L"#2a", 10, nullptr, 'o', kTooLarge},
    ReadCase{L"a2#", 10, nullptr, 'o', kBadSymbol},
    ReadCase{L"102", 2, nullptr, 'o', kTooLarge},
    ReadCase{L"10", 37, nullptr, 'o', "ubase base is too large (base>36)"},
    ReadCase{L"10", 1, nullptr, 'o', "ubase base is too small (base<2)"}));
// clang-format on

struct DivCase {
    long long a, d, quotient, remainder;
};

class BigintegerFlooredDivision : public ::testing::TestWithParam<DivCase> {};

TEST_P(BigintegerFlooredDivision, AllSignCombinations)
{
    const DivCase& c = GetParam();
    biginteger a = big(c.a), q = big(12345);
    a.divide(big(c.d), q);
    EXPECT_EQ(narrow(q.to_str()), std::to_string(c.quotient));
    EXPECT_EQ(narrow(a.to_str()), std::to_string(c.remainder));
    EXPECT_EQ(q.sign, c.quotient < 0 ? -1 : c.quotient > 0 ? 1 : 0);
    EXPECT_EQ(a.sign, c.remainder < 0 ? -1 : c.remainder > 0 ? 1 : 0);

    EXPECT_EQ(big(c.a) % big(c.d), big(c.remainder));
    EXPECT_EQ(big(c.a) / big(c.d), big(c.quotient));
    biginteger t = big(c.a);
    t /= big(c.d);
    EXPECT_EQ(t, big(c.quotient));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, BigintegerFlooredDivision, ::testing::Values(
    DivCase{7, 2, 3, 1}, DivCase{-7, 2, -4, 1}, DivCase{7, -2, -4, -1}, DivCase{-7, -2, 3, -1},
    DivCase{-6, 2, -3, 0}, DivCase{6, -3, -2, 0}, DivCase{-6, -3, 2, 0}, DivCase{0, 5, 0, 0},
    DivCase{0, -5, 0, 0}, DivCase{1, 2, 0, 1}, DivCase{-1, 2, -1, 1}, DivCase{1, -2, -1, -1},
    DivCase{-1, 60, -1, 59}, DivCase{59999, 60, 999, 59}, DivCase{86400, 24, 3600, 0},
    // Crossing limbs: 2^32 and 2^64 - 1 with unlike signs.
    DivCase{-4294967296LL, 3, -1431655766, 2},
    DivCase{4294967296LL, -4294967295LL, -2, -4294967294LL},
    DivCase{-4294967296LL, 4294967296LL, -1, 0},
    DivCase{-1, 4294967296LL, -1, 4294967295LL}));
// clang-format on

TEST(Biginteger, DivisionByZero)
{
    // The floored division itself gives 0 and leaves the dividend; the operators refuse it.
    biginteger a = big(-9), q = big(4);
    a.divide(biginteger(), q);
    EXPECT_EQ(a, big(-9));
    EXPECT_EQ(q.sign, 0);
    EXPECT_EQ(q.magnitude.size, 0u);

    expect_throw<std::out_of_range>([&] { (void)(a % biginteger()); }, "@lib::biginteger::operator %");
    expect_throw<std::out_of_range>([&] { a /= biginteger(); }, "@lib::biginteger::operator /=");
    expect_throw<std::out_of_range>([&] { (void)(a / biginteger()); }, "@lib::biginteger::operator /");
    EXPECT_EQ(a, big(-9));
}

TEST(Biginteger, DivideAliasing)
{
    biginteger a = big(-7);
    expect_throw<std::invalid_argument>([&] { a.divide(big(2), a); },
                                        "try to store quotient and remainder into this@lib::biginteger::divide");
    EXPECT_EQ(a, big(-7));

    biginteger q;
    a.divide(a, q);
    EXPECT_EQ(q, big(1));
    EXPECT_EQ(a.sign, 0);

    a = big(-7);
    q = big(2);
    a.divide(q, q);  // divisor is the quotient object
    EXPECT_EQ(q, big(-4));
    EXPECT_EQ(a, big(1));

    biginteger x = big(-100);
    x /= x;
    EXPECT_EQ(x, big(1));
}

TEST(Biginteger, AddSubtractsThroughSigns)
{
    struct Case {
        long long a, b, sum;
    };
    for (const Case& c : {Case{5, -5, 0}, Case{-3, 10, 7}, Case{3, -10, -7}, Case{-3, -4, -7}, Case{0, -4, -4},
                          Case{-4, 0, -4}, Case{0, 0, 0}, Case{4294967295LL, 1, 4294967296LL},
                          Case{4294967296LL, -1, 4294967295LL}, Case{-4294967296LL, 4294967297LL, 1}}) {
        biginteger r = big(99);
        biginteger::add(r, big(c.a), big(c.b));
        EXPECT_EQ(r, big(c.sum)) << c.a << " + " << c.b;
        EXPECT_EQ(r.sign == 0, r.magnitude.size == 0);
        EXPECT_EQ(big(c.b) + big(c.a), big(c.sum));
    }
    biginteger x = big(-21);
    biginteger::add(x, x, x);
    EXPECT_EQ(x, big(-42));
    x += big(50);
    EXPECT_EQ(x, big(8));
}

TEST(Biginteger, MultiplySigns)
{
    struct Case {
        long long a, b, product;
    };
    for (const Case& c : {Case{-3, 4, -12}, Case{3, -4, -12}, Case{-3, -4, 12}, Case{3, 4, 12}, Case{-3, 0, 0},
                          Case{0, -3, 0}, Case{-65536, 65536, -4294967296LL}}) {
        biginteger r = big(99);
        biginteger::multiply(r, big(c.a), big(c.b));
        EXPECT_EQ(r, big(c.product));
        EXPECT_EQ(r.sign == 0, r.magnitude.size == 0);
        EXPECT_EQ(big(c.a) * big(c.b), big(c.product));
    }
    biginteger x = big(-65536);
    biginteger::multiply(x, x, x);
    EXPECT_EQ(x, big(4294967296LL));
}

TEST(Biginteger, CompareAndSigns)
{
    struct Case {
        long long a, b;
        int expected;
    };
    for (const Case& c : {Case{-1, 1, -1}, Case{2, 1, 1}, Case{0, 0, 0}, Case{-2, -1, -1}, Case{-1, -4294967296LL, 1},
                          Case{0, -1, 1}, Case{5, 5, 0}, Case{-5, -5, 0}}) {
        EXPECT_EQ(biginteger::compare(big(c.a), big(c.b)), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(biginteger::compare(big(c.b), big(c.a)), -c.expected);
    }
    biginteger broken = big(1), other = big(1);
    broken.sign = other.sign = 2;
    expect_throw<std::invalid_argument>([&] { biginteger::compare(broken, other); }, "@lib::biginteger::compare");

    biginteger x = big(5);
    expect_throw<std::invalid_argument>([&] { x.set_sign(0); }, "lib.biginteger.set_sign");
    expect_throw<std::invalid_argument>([&] { x.set_sign(2); }, "lib.biginteger.set_sign");
    EXPECT_EQ(x.sign, 1);
    x.set_sign(-1);
    EXPECT_EQ(x, big(-5));
    biginteger zero;
    zero.set_sign(-1);
    EXPECT_EQ(zero.sign, 0);
    zero.set_sign(0);
    EXPECT_EQ(zero.sign, 0);
    EXPECT_EQ(biginteger::from_uint(lib::uint()).sign, 0);
    EXPECT_EQ(biginteger::from_uint(make_uint({0, 1})).sign, 1);
}

TEST(Biginteger, CopiesAndMovesKeepTheInvariant)
{
    biginteger a = make_big(-1, {1, 2, 3});
    biginteger b(a);
    EXPECT_EQ(b, a);
    EXPECT_EQ(b.magnitude.capacity, 3u);
    biginteger c(std::move(a));
    EXPECT_EQ(c, b);
    EXPECT_EQ(a.sign, 0);  // NOLINT: the moved-from value is a sound zero
    EXPECT_EQ(a.magnitude.size, 0u);
    a = c;
    EXPECT_EQ(limbs_of(a.magnitude), (Limbs{1, 2, 3}));
}

TEST(Ubase, TextOfDigitRecords)
{
    ubase r = ubase::from_uint(make_uint({0, 0, 1}));
    EXPECT_EQ(r.base, 10);
    EXPECT_EQ(r.count, 20u);
    EXPECT_GE(r.capacity, r.count);
    EXPECT_EQ(narrow(ubase::to_text(r)), "18446744073709551616");
    EXPECT_EQ(limbs_of(ubase::to_uint(r)), (Limbs{0, 0, 1}));

    EXPECT_EQ(narrow(ubase::to_text(ubase::from_uint(lib::uint()))), "0");
    ubase z = ubase::from_text(L"000", 10);
    EXPECT_EQ(z.count, 0u);
    EXPECT_EQ(z.capacity, 3u);
    EXPECT_EQ(narrow(ubase::to_text(z)), "0");

    ubase hex = ubase::from_text(L"1aF", 16);
    EXPECT_EQ(hex.count, 3u);
    EXPECT_EQ(hex.digits[0], 15);
    EXPECT_EQ(hex.digits[2], 1);
    EXPECT_EQ(narrow(ubase::to_text(hex)), "1AF");

    hex.base = 37;
    expect_throw<std::out_of_range>([&] { ubase::to_text(hex); }, "ubase base is too large (base>36)");
    hex.base = 15;  // the digit F no longer fits
    expect_throw<std::out_of_range>([&] { ubase::to_text(hex); }, "ubase digit is too large");
    expect_throw<std::out_of_range>([] { ubase::from_uint(make_uint({5}), 1); }, "ubase base is too small (base<2)");
    expect_throw<std::out_of_range>([] { ubase::from_uint(make_uint({5}), 37); }, "ubase base is too large (base>36)");
}

}  // namespace
