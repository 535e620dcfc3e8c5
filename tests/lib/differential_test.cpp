// Random values checked against the compiler's own integers where they fit, and through
// identities where they do not.
#include <random>
#include <stdexcept>

#include "lib_test_util.h"

using lib::biginteger;
using libtest::Limbs;
using libtest::limbs_of;
using libtest::make_big;
using libtest::make_uint;
using libtest::narrow;

namespace {

// The widest machine integers at hand: 128 bits natively, 64 bits on the 32-bit target.
#ifdef __SIZEOF_INT128__
using UWide = unsigned __int128;
using SWide = __int128;
#else
using UWide = std::uint64_t;
using SWide = std::int64_t;
#endif
constexpr unsigned kWideBits = sizeof(UWide) * 8;

lib::uint to_uint(UWide v)
{
    Limbs limbs;
    for (; v; v >>= 32) limbs.push_back(static_cast<std::uint32_t>(v));
    return make_uint(limbs);
}

biginteger to_big(SWide v)
{
    UWide m = v < 0 ? UWide(0) - UWide(v) : UWide(v);
    return biginteger::from_uint_sign(to_uint(m), v < 0 ? -1 : 1);
}

// Digits of v written by hand, to check the library's text without the library.
std::string wide_text(SWide v, unsigned base)
{
    const bool negative = v < 0;
    UWide m = negative ? UWide(0) - UWide(v) : UWide(v);
    std::string s;
    do {
        const unsigned digit = static_cast<unsigned>(m % base);
        s.insert(s.begin(), static_cast<char>(digit < 10 ? '0' + digit : 'A' + digit - 10));
        m /= base;
    } while (m);
    return negative ? "-" + s : s;
}

class Random {
public:
    explicit Random(unsigned seed) : gen_(seed) {}

    // A value of at most `bits` bits, favouring all-ones and all-zero limbs so that carries
    // and borrows run across limb boundaries.
    UWide wide(unsigned bits)
    {
        const unsigned length = static_cast<unsigned>(gen_() % (bits + 1));
        UWide v = 0;
        for (unsigned i = 0; i < kWideBits; i += 32) v |= UWide(word()) << i;
        return length == 0 ? 0 : length >= kWideBits ? v : v & ((UWide(1) << length) - 1);
    }

    SWide signed_wide(unsigned bits)
    {
        const SWide m = static_cast<SWide>(wide(bits));
        return gen_() & 1 ? -m : m;
    }

    Limbs limbs(unsigned max_count)
    {
        Limbs l(gen_() % (max_count + 1));
        for (std::uint32_t& w : l) w = word();
        return l;
    }

    biginteger big(unsigned max_limbs)
    {
        const Limbs l = limbs(max_limbs);
        return make_big(gen_() & 1 ? -1 : 1, l);
    }

    unsigned below(unsigned n) { return static_cast<unsigned>(gen_() % n); }

private:
    std::uint32_t word()
    {
        switch (gen_() % 4) {
        case 0: return 0xFFFFFFFFu;
        case 1: return 0;
        default: return static_cast<std::uint32_t>(gen_());
        }
    }

    std::mt19937_64 gen_;
};

constexpr int kRounds = 3000;

TEST(UintDifferential, MatchesMachineArithmetic)
{
    Random rnd(1);
    for (int i = 0; i < kRounds; ++i) {
        const UWide a = rnd.wide(kWideBits - 1), b = rnd.wide(kWideBits - 1);
        const lib::uint ua = to_uint(a), ub = to_uint(b);
        lib::uint r;
        lib::uint::add(r, ua, ub);
        ASSERT_EQ(limbs_of(r), limbs_of(to_uint(a + b)));
        EXPECT_EQ(lib::uint::compare(ua, ub), a < b ? -1 : a > b ? 1 : 0);
        if (a >= b) {
            lib::uint::subtract(r, ua, ub);
            ASSERT_EQ(limbs_of(r), limbs_of(to_uint(a - b)));
        } else {
            EXPECT_THROW(lib::uint::subtract(r, ua, ub), std::invalid_argument);
        }

        const UWide x = rnd.wide(kWideBits / 2), y = rnd.wide(kWideBits / 2);
        lib::uint::multiply(r, to_uint(x), to_uint(y));
        ASSERT_EQ(limbs_of(r), limbs_of(to_uint(x * y)));

        if (b != 0) {
            lib::uint rem = ua, q;
            rem.divide(ub, q);
            ASSERT_EQ(limbs_of(q), limbs_of(to_uint(a / b)));
            ASSERT_EQ(limbs_of(rem), limbs_of(to_uint(a % b)));
        }
        lib::uint inc = ua;
        inc.incr();
        ASSERT_EQ(limbs_of(inc), limbs_of(to_uint(a + 1)));
        inc.decr();
        ASSERT_EQ(limbs_of(inc), limbs_of(ua));
    }
}

TEST(BigintegerDifferential, MatchesMachineArithmetic)
{
    Random rnd(2);
    for (int i = 0; i < kRounds; ++i) {
        const SWide a = rnd.signed_wide(kWideBits - 2), b = rnd.signed_wide(kWideBits - 2);
        const biginteger ba = to_big(a), bb = to_big(b);
        ASSERT_EQ(ba + bb, to_big(a + b));
        ASSERT_EQ(biginteger::compare(ba, bb), a < b ? -1 : a > b ? 1 : 0);

        const SWide x = rnd.signed_wide(kWideBits / 2 - 1), y = rnd.signed_wide(kWideBits / 2 - 1);
        ASSERT_EQ(to_big(x) * to_big(y), to_big(x * y));

        if (b != 0) {
            SWide q = a / b, r = a % b;
            if (r != 0 && (r < 0) != (b < 0)) {
                q -= 1;
                r += b;
            }
            biginteger rem = ba, bq;
            rem.divide(bb, bq);
            ASSERT_EQ(bq, to_big(q)) << wide_text(a, 10) << " / " << wide_text(b, 10);
            ASSERT_EQ(rem, to_big(r)) << wide_text(a, 10) << " % " << wide_text(b, 10);
        }

        const unsigned base = 2 + rnd.below(35);
        const std::string text = wide_text(a, base);
        ASSERT_EQ(narrow(ba.to_str(base)), text);
        biginteger back;
        back.set_str(std::wstring(text.begin(), text.end()), base);
        ASSERT_EQ(back, ba);
    }
}

TEST(BigintegerDifferential, IdentitiesOnLargeValues)
{
    Random rnd(3);
    for (int i = 0; i < 400; ++i) {
        const biginteger a = rnd.big(24);
        const biginteger b = rnd.big(i % 4 == 0 ? 3 : 24);

        // (a + b) + (-b) == a: adding a negative subtracts.
        biginteger minus_b = b;
        if (!minus_b.is_zero()) minus_b.set_sign(-b.sign);
        ASSERT_EQ((a + b) + minus_b, a);

        // a == q * b + r with r zero or of b's sign and |r| < |b|.
        if (!b.is_zero()) {
            biginteger r = a, q;
            r.divide(b, q);
            ASSERT_EQ(q * b + r, a);
            ASSERT_TRUE(r.sign == 0 || r.sign == b.sign);
            ASSERT_LT(lib::uint::compare(r.magnitude, b.magnitude), 0);
            ASSERT_EQ(a % b, r);
            ASSERT_EQ(a / b, q);
        }

        biginteger back;
        back.set_str(a.to_str());
        ASSERT_EQ(back, a);
    }
}

TEST(BigintegerDifferential, TextRoundTripInEveryBase)
{
    Random rnd(5);
    for (int i = 0; i < 60; ++i) {
        const biginteger a = rnd.big(10);
        for (unsigned base = 2; base <= 36; ++base) {
            biginteger back = rnd.big(2);
            back.set_str(a.to_str(base), base);
            ASSERT_EQ(back, a) << "base " << base;
        }
    }
}

TEST(BigintegerDifferential, HundredsOfLimbs)
{
    Random rnd(4);
    Limbs la = rnd.limbs(300), lb = rnd.limbs(140);
    la.resize(300, 0x9E3779B9u);
    la.back() |= 1;
    lb.push_back(7);
    const biginteger a = make_big(-1, la), b = make_big(1, lb);
    biginteger back;
    back.set_str(a.to_str());
    EXPECT_EQ(back, a);
    biginteger r = a, q;
    r.divide(b, q);
    EXPECT_EQ(q * b + r, a);
    EXPECT_TRUE(r.sign == 0 || r.sign == 1);
}

}  // namespace
