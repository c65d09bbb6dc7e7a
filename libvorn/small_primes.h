// Tables of small primes shared by the prime search, trial division and the tests' sieves.
// Nothing here is exported.
#pragma once

#include <gmp.h>

#include <cstdint>
#include <vector>

#include "work.h"

namespace vn {

// All primes below `limit` (limit <= 2^32), in increasing order.
std::vector<uint32_t> primes_below(uint32_t limit);

// The odd primes below 2^21 (built once), which the prime search sieves with.
const std::vector<uint32_t> &sieve_primes();

// Strong probable-prime test of odd n > 3 to base a (2 <= a <= n-2).
bool strong_probable_prime(const Context &ctx, mpz_srcptr n, mpz_srcptr a);

// Rabin-Miller rounds with bases drawn from the CSPRNG on odd n > 3: true when n passes every
// round, false when one proves it composite. A failed CSPRNG throws ProviderFailed.
bool random_base_rounds(const Context &ctx, mpz_srcptr n, int rounds);

}  // namespace vn
