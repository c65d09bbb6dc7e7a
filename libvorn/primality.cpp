// Primality: small-prime tables, Rabin-Miller, BPSW, and the exported primality tests.

#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "core.h"
#include "internal.h"
#include "prover.h"
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

namespace {
// The library's prime tables, made on first need under the library lock and freed by
// release_primality.
std::vector<uint32_t> *g_sieve_primes = nullptr;
std::vector<uint32_t> *g_division_table = nullptr;
// The product of all primes of the division table, built on first need after each
// VN_READPRIMES (a balanced product tree: fast even for a million primes).
mpz_t g_table_product;
bool g_table_product_init = false;
bool g_table_product_ready = false;
}  // namespace

const std::vector<uint32_t> &sieve_primes() {
    if (g_sieve_primes == nullptr) {
        std::vector<uint32_t> v = primes_below(1u << 21);
        v.erase(v.begin());
        g_sieve_primes = new std::vector<uint32_t>(std::move(v));
    }
    return *g_sieve_primes;
}

void release_primality() noexcept {
    delete g_sieve_primes;
    g_sieve_primes = nullptr;
    delete g_division_table;
    g_division_table = nullptr;
    if (g_table_product_init) mpz_clear(g_table_product);
    g_table_product_init = g_table_product_ready = false;
}

bool strong_probable_prime(const Context &ctx, mpz_srcptr n, mpz_srcptr a) {
    Num d, y, n_minus_1;
    mpz_sub_ui(n_minus_1, n, 1);
    mp_bitcnt_t s = mpz_scan1(n_minus_1, 0);
    mpz_tdiv_q_2exp(d, n_minus_1, s);
    long_powm(ctx, y, a, d, n);
    bool probable = mpz_cmp_ui(y, 1) == 0 || mpz_cmp(y, n_minus_1) == 0;
    for (mp_bitcnt_t i = 1; !probable && i < s; ++i) {
        if (i % 64 == 0) ctx.check();
        mpz_powm_ui(y, y, 2, n);
        if (mpz_cmp(y, n_minus_1) == 0) probable = true;
        else if (mpz_cmp_ui(y, 1) == 0) break;  // a square root of 1 other than -1: composite
    }
    return probable;
}

bool random_base_rounds(const Context &ctx, mpz_srcptr n, int rounds) {
    Num a, lo, hi;
    mpz_set_ui(lo, 2);
    mpz_sub_ui(hi, n, 2);
    for (int i = 0; i < rounds; ++i) {
        ctx.check();
        ctx.progress(static_cast<uint64_t>(i), static_cast<uint64_t>(rounds));
        random_range(ctx, a, lo, hi);
        if (!strong_probable_prime(ctx, n, a)) return false;
    }
    return true;
}


bool bpsw(mpz_srcptr n) {
    // GMP 6.2's mpz_probab_prime_p runs trial division, then a strong base-2 test and a strong
    // Lucas test (BPSW), then reps - 24 further Miller-Rabin rounds: reps 0 is BPSW alone.
    return mpz_probab_prime_p(n, 0) != 0;
}

}  // namespace vn

namespace vn {
namespace {

// ---- the table of small primes for trial division ----------------------------------------

std::vector<uint32_t> &division_table() {
    if (g_division_table == nullptr) {
        std::vector<uint32_t> t = primes_below(7920);  // the first 1000 primes end at 7919
        t.resize(1000);
        g_division_table = new std::vector<uint32_t>(std::move(t));
    }
    return *g_division_table;
}

void product_of(mpz_ptr out, const std::vector<uint32_t> &t, size_t lo, size_t hi) {
    if (hi - lo <= 16) {
        mpz_set_ui(out, 1);
        for (size_t i = lo; i < hi; ++i) mpz_mul_ui(out, out, t[i]);
        return;
    }
    Num right;
    size_t mid = lo + (hi - lo) / 2;
    product_of(out, t, lo, mid);
    product_of(right, t, mid, hi);
    mpz_mul(out, out, right);
}

mpz_srcptr table_product() {
    if (!g_table_product_ready) {
        if (!g_table_product_init) mpz_init(g_table_product);
        g_table_product_init = true;
        product_of(g_table_product, division_table(), 0, division_table().size());
        g_table_product_ready = true;
    }
    return g_table_product;
}

// The first n primes (n >= 1). The n-th prime is below n (ln n + ln ln n) for n >= 6.
std::vector<uint32_t> first_primes(size_t n) {
    double x = static_cast<double>(n < 6 ? 6 : n);
    auto limit = static_cast<uint32_t>(x * (std::log(x) + std::log(std::log(x)))) + 16;
    std::vector<uint32_t> t = primes_below(limit);
    t.resize(n);
    return t;
}

// What the exact test needs after the quick checks: a proof (n above 2^64 that passed BPSW).
constexpr int32_t kNeedsProof = -2;

// The exact test's verdict where no proof is needed: 1 or 0, or kNeedsProof. ctx gives the
// seams (a quick call's by default).
int32_t quick_exact_verdict(mpz_srcptr n, const Context &ctx) {
    if (mpz_cmp_ui(n, 2) < 0) return 0;
    // BPSW has no pseudoprime below 2^64 (Feitsma and Galway's table of base-2 strong
    // pseudoprimes), so below that it is a proof; above, it rejects composites cheaply.
    if (mpz_sizeinbase(n, 2) <= 64) return bpsw(n);
    if (!ctx.flint_fallback && !bpsw(n)) return 0;
    return kNeedsProof;
}

// A test's verdict on the small and even cases every test shares: 1 or 0, or -1 when the
// number needs the real test (odd, at least 5).
int trivial_verdict(mpz_srcptr n) {
    if (mpz_cmp_ui(n, 2) < 0) return 0;
    if (mpz_cmp_ui(n, 3) <= 0) return 1;
    if (mpz_even_p(n)) return 0;
    return -1;
}

// Fermat test with random bases in [2, n-2] on odd n >= 5: true when every round passes.
bool fermat(const Context &ctx, mpz_srcptr n, int rounds) {
    Num a, lo, hi, n_minus_1, y;
    mpz_set_ui(lo, 2);
    mpz_sub_ui(hi, n, 2);
    mpz_sub_ui(n_minus_1, n, 1);
    for (int i = 0; i < rounds; ++i) {
        ctx.check();
        ctx.progress(static_cast<uint64_t>(i), static_cast<uint64_t>(rounds));
        random_range(ctx, a, lo, hi);
        long_powm(ctx, y, a, n_minus_1, n);
        if (mpz_cmp_ui(y, 1) != 0) return false;
    }
    return true;
}

// Trial division by the table (VN_READPRIMES): 0 when n < 2 or a proper factor was found,
// else 1.
int32_t trial_division(mpz_srcptr n) {
    if (mpz_cmp_ui(n, 2) < 0) return 0;
    const std::vector<uint32_t> &table = division_table();
    // A long number and a long table: one gcd with the product of the table replaces a word
    // division of the whole number per prime or two, which for a 2^28-bit number and a
    // million primes would take hours. n then exceeds every table prime, so any common
    // factor is a proper one.
    if (mpz_size(n) * table.size() > (size_t{1} << 24) && mpz_sizeinbase(n, 2) > 32) {
        Num g;
        mpz_srcptr product = table_product();
        if (mpz_cmp(n, product) > 0) {
            mpz_mod(g, n, product);  // the gcd's first step, at the cost of one division
            mpz_gcd(g, g, product);
        } else {
            mpz_gcd(g, n, product);
        }
        return mpz_cmp_ui(g, 1) != 0 ? 0 : 1;
    }
    // Several primes to one word division; a prime divisor equal to n itself is no proper
    // factor.
    bool small = mpz_fits_ulong_p(n);
    unsigned long nv = small ? mpz_get_ui(n) : 0;
    size_t i = 0;
    while (i < table.size()) {
        size_t j = i;
        unsigned long product = 1;
        while (j < table.size() && product <= ULONG_MAX / table[j]) product *= table[j++];
        unsigned long rest = mpz_fdiv_ui(n, product);
        for (size_t k = i; k < j; ++k) {
            if (rest % table[k] == 0 && !(small && nv == table[k])) return 0;
            if (small && static_cast<unsigned long>(table[k]) * table[k] > nv) return 1;
        }
        i = j;
    }
    return 1;
}

// The Fermat and Rabin-Miller tests: the small and even cases, then trial division (a number
// with a small factor needs no modular power, which for 10^20000 - 1 takes seconds), then
// the rounds. A failed random source unwinds as ProviderFailed: a failure, never a verdict.
Status random_base_test(bool (*test)(const Context &, mpz_srcptr, int), const Context &ctx, int32_t rounds,
                        mpz_srcptr n) {
    int v = trivial_verdict(n);
    if (v >= 0) return truth(v == 1);
    if (trial_division(n) == 0) return truth(false);
    return truth(test(ctx, n, clamp_rounds(rounds)));
}

}  // namespace

Status read_primes(int32_t count) {
    size_t want = count < 1 ? 1 : (count > 1000000 ? 1000000 : static_cast<size_t>(count));
    division_table() = first_primes(want);
    g_table_product_ready = false;
    return {static_cast<int32_t>(division_table().size()), VN_E_NONE};
}

Status is_rel_prime(mpz_srcptr a, mpz_srcptr b) {
    Num g;
    mpz_gcd(g, a, b);
    return truth(mpz_cmp_ui(g, 1) == 0);
}

Status is_prime_div(mpz_srcptr a) { return truth(trial_division(a) == 1); }

// Runs without the library lock, on a copy of the number.
Status is_prime_exact(const Context &ctx, mpz_srcptr n) {
    int32_t quick = quick_exact_verdict(n, ctx);
    if (quick != kNeedsProof) return truth(quick == 1);
    ProofControl control;
    control.stop = &ctx.slot->stop;
    control.stage = &ctx.slot->stage;
    control.permille = &ctx.slot->permille;
    switch (prove_prime(n, control)) {
        case ProofResult::prime: return truth(true);
        case ProofResult::composite: return truth(false);
        case ProofResult::no_memory: return failure(VN_E_NOMEMORY);
        case ProofResult::stopped: return failure(VN_E_CANCELLED);
        default: return failure(VN_E_INTERNAL);
    }
}

Status is_prime_fermat(const Context &ctx, int32_t rounds, mpz_srcptr a) {
    return random_base_test(fermat, ctx, rounds, a);
}

Status is_prime_rabin_miller(const Context &ctx, int32_t rounds, mpz_srcptr a) {
    return random_base_test(random_base_rounds, ctx, rounds, a);
}

}  // namespace vn
