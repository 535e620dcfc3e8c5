// Our integers beside GMP's, for the fuzz targets that check arithmetic against it.
#pragma once

#include <gmp.h>

#include "fuzz.h"
#include "lib/biginteger.h"

namespace fuzz {

// A GMP integer that clears itself.
struct Mpz {
    mpz_t v;
    Mpz() { mpz_init(v); }
    ~Mpz() { mpz_clear(v); }
    Mpz(const Mpz&) = delete;
    Mpz& operator=(const Mpz&) = delete;
};

// The value of one of our integers, read limb by limb.
inline void ToMpz(const lib::biginteger& x, mpz_t out)
{
    mpz_import(out, x.magnitude.size, -1, sizeof(uint32_t), 0, 0, x.magnitude.limbs);
    if (x.sign < 0) mpz_neg(out, out);
}

// Whether an integer holds exactly GMP's value, with a sound sign and magnitude.
inline bool Same(const lib::biginteger& x, const mpz_t want)
{
    const uint32_t n = x.magnitude.size;
    if (n > x.magnitude.capacity || (n > 0 && x.magnitude.limbs[n - 1] == 0)) return false;
    if ((x.sign == 0) != (n == 0) || x.sign < -1 || x.sign > 1) return false;
    Mpz got;
    ToMpz(x, got.v);
    return mpz_cmp(got.v, want) == 0;
}

}  // namespace fuzz
