// Primality: small-prime tables, Rabin-Miller, BPSW, and the exported primality tests.
#include <cstring>

#include "internal.h"
#include "small_primes.h"

namespace vn {

std::vector<uint32_t> primes_below(uint32_t limit) {
    std::vector<uint32_t> out;
    if (limit <= 2) return out;
    // Odd-only sieve of Eratosthenes: index i stands for 2i+1.
    std::vector<uint8_t> composite(limit / 2 + 1, 0);
    out.push_back(2);
    for (uint64_t i = 1; 2 * i + 1 < limit; ++i) {
        if (composite[i]) continue;
        uint64_t p = 2 * i + 1;
        out.push_back(static_cast<uint32_t>(p));
        for (uint64_t j = p * p / 2; 2 * j + 1 < limit; j += p) composite[j] = 1;
    }
    return out;
}

const std::vector<uint32_t> &sieve_primes() {
    static const std::vector<uint32_t> odd = [] {
        std::vector<uint32_t> v = primes_below(1u << 21);
        v.erase(v.begin());
        return v;
    }();
    return odd;
}

bool strong_probable_prime(mpz_srcptr n, mpz_srcptr a) {
    mpz_t d, y, n_minus_1;
    mpz_inits(d, y, n_minus_1, nullptr);
    mpz_sub_ui(n_minus_1, n, 1);
    mp_bitcnt_t s = mpz_scan1(n_minus_1, 0);
    mpz_tdiv_q_2exp(d, n_minus_1, s);
    mpz_powm(y, a, d, n);
    bool probable = mpz_cmp_ui(y, 1) == 0 || mpz_cmp(y, n_minus_1) == 0;
    for (mp_bitcnt_t i = 1; !probable && i < s; ++i) {
        mpz_powm_ui(y, y, 2, n);
        if (mpz_cmp(y, n_minus_1) == 0) probable = true;
        else if (mpz_cmp_ui(y, 1) == 0) break;  // a square root of 1 other than -1: composite
    }
    mpz_clears(d, y, n_minus_1, nullptr);
    return probable;
}

int random_base_rounds(mpz_srcptr n, int rounds) {
    mpz_t a, lo, hi;
    mpz_inits(a, lo, hi, nullptr);
    mpz_set_ui(lo, 2);
    mpz_sub_ui(hi, n, 2);
    int verdict = 1;
    for (int i = 0; verdict == 1 && i < rounds; ++i) {
        if (!random_range(a, lo, hi)) verdict = -1;
        else if (!strong_probable_prime(n, a)) verdict = 0;
    }
    mpz_clears(a, lo, hi, nullptr);
    return verdict;
}

bool rabin_miller(mpz_srcptr n, int rounds) { return random_base_rounds(n, rounds) == 1; }

bool bpsw(mpz_srcptr n) {
    // GMP 6.2's mpz_probab_prime_p runs trial division, then a strong base-2 test and a strong
    // Lucas test (BPSW), then reps - 24 further Miller-Rabin rounds: reps 0 is BPSW alone.
    return mpz_probab_prime_p(n, 0) != 0;
}

}  // namespace vn
