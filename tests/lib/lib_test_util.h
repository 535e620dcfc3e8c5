// Helpers shared by the number library's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <typeinfo>
#include <vector>

#include "lib/biginteger.h"

namespace libtest {

using Limbs = std::vector<std::uint32_t>;

inline lib::uint make_uint(const Limbs& limbs)
{
    lib::uint x;
    x.reserve_discard(static_cast<std::uint32_t>(limbs.size()));
    x.size = static_cast<std::uint32_t>(limbs.size());
    for (std::size_t i = 0; i < limbs.size(); ++i) x.limbs[i] = limbs[i];
    while (x.size > 0 && x.limbs[x.size - 1] == 0) --x.size;
    return x;
}

inline Limbs limbs_of(const lib::uint& x) { return Limbs(x.limbs, x.limbs + x.size); }

inline lib::biginteger make_big(std::int32_t sign, const Limbs& limbs)
{
    return lib::biginteger::from_uint_sign(make_uint(limbs), sign);
}

inline lib::biginteger big(long long v)
{
    unsigned long long m = v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    return make_big(v < 0 ? -1 : 1, {static_cast<std::uint32_t>(m), static_cast<std::uint32_t>(m >> 32)});
}

inline std::string narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// Runs fn and checks that it throws exactly E with exactly this message.
template <typename E, typename F>
void expect_throw(F&& fn, const char* message)
{
    try {
        fn();
        ADD_FAILURE() << "no exception, expected: " << message;
    } catch (const E& e) {
        EXPECT_STREQ(e.what(), message);
        EXPECT_EQ(typeid(e), typeid(E)) << "thrown: " << typeid(e).name();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "wrong exception " << typeid(e).name() << ": " << e.what() << ", expected: " << message;
    }
}

}  // namespace libtest
