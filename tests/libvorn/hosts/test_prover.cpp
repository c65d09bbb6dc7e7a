// The exact prover on its own (vn::prove_prime, from the library's testing copy): known
// primes of 300 digits and more, products of two large primes, Carmichael numbers and strong
// pseudoprimes, each with 1, 2 and every CPU; a proof whose PARI stack runs out; a stop.
#include <gmp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "prover.h"
#include "seed.h"

namespace {

using vn::ProofResult;

struct Z {
    mpz_t v;
    Z() { mpz_init(v); }
    explicit Z(const char *decimal) { mpz_init_set_str(v, decimal, 10); }
    ~Z() { mpz_clear(v); }
    Z(const Z &) = delete;
    Z &operator=(const Z &) = delete;
    operator mpz_ptr() { return v; }
    mpz_ptr operator->() { return v; }  // for GMP's macros
};

// 1, 2 and every CPU of the affinity mask, without repeats.
std::vector<int32_t> thread_counts() {
    cpu_set_t set;
    int32_t all = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
    std::vector<int32_t> counts{1, 2};
    if (all > 2) counts.push_back(all);
    return counts;
}

ProofResult prove(mpz_srcptr n, int32_t threads, size_t stack_limit = 0) {
    vn::ProofControl control;
    control.threads = threads;
    control.pari_stack_limit = stack_limit;
    return vn::prove_prime(n, control);
}

// R317 = (10^317 - 1) / 9, the repunit prime of 317 digits (Williams and Dubner 1978;
// OEIS A004023). Neither n - 1 nor n + 1 has enough small factors: ECPP proves it.
void repunit_317(mpz_ptr n) {
    mpz_ui_pow_ui(n, 10, 317);
    mpz_sub_ui(n, n, 1);
    mpz_divexact_ui(n, n, 9);
}

// A prime of about 320 digits with a proof made here: p = 2kq + 1 with q = R317 and
// k < q, so that q > sqrt(p), is prime when some a has a^(p-1) = 1 and
// gcd(a^((p-1)/q) - 1, p) = 1 (Pocklington). k starts at a random point; the prover sees a
// number of no special form, since trial factoring of p - 1 finds only 2k's part.
void pocklington_prime(mpz_ptr p, uint64_t seed) {
    Z q, e, y, g, base;
    repunit_317(q);
    for (unsigned long k = 1000 + seed % 100000;; ++k) {
        mpz_mul_ui(p, q, 2 * k);
        mpz_add_ui(p, p, 1);
        mpz_sub_ui(e, p, 1);
        mpz_set_ui(base, 3);
        mpz_powm(y, base, e, p);
        if (mpz_cmp_ui(y, 1) != 0) continue;
        mpz_divexact(e, e, q);
        mpz_powm(y, base, e, p);
        mpz_sub_ui(y, y, 1);
        mpz_gcd(g, y, p);
        if (mpz_cmp_ui(g, 1) == 0) return;
    }
}

// A Carmichael number of Chernick's form (6k + 1)(12k + 1)(18k + 1), all three factors
// prime, for the first such k from k_from.
void chernick_carmichael(mpz_ptr n, unsigned long k_from) {
    Z a, b, c;
    for (unsigned long k = k_from;; ++k) {
        mpz_set_ui(a, 6 * k + 1);
        mpz_set_ui(b, 12 * k + 1);
        mpz_set_ui(c, 18 * k + 1);
        if (mpz_probab_prime_p(a, 30) && mpz_probab_prime_p(b, 30) && mpz_probab_prime_p(c, 30)) {
            mpz_mul(n, a, b);
            mpz_mul(n, n, c);
            return;
        }
    }
}

TEST(Prover, KnownPrimesOf300DigitsAndMoreWithOneTwoAndAllCpus) {
    uint64_t seed = test_seed();
    Z repunit, constructed, mersenne;
    repunit_317(repunit);
    pocklington_prime(constructed, seed);
    mpz_ui_pow_ui(mersenne, 2, 1279);  // 2^1279 - 1, a Mersenne prime (Robinson 1952)
    mpz_sub_ui(mersenne, mersenne, 1);
    for (int32_t threads : thread_counts()) {
        EXPECT_EQ(prove(repunit, threads), ProofResult::prime) << "R317, threads " << threads;
        EXPECT_EQ(prove(constructed, threads), ProofResult::prime) << "2kR317 + 1, threads " << threads;
        EXPECT_EQ(prove(mersenne, threads), ProofResult::prime) << "2^1279 - 1, threads " << threads;
    }
}

TEST(Prover, CompositesThatLookPrimeAreFoundWithOneTwoAndAllCpus) {
    uint64_t seed = test_seed();
    gmp_randstate_t rs;
    gmp_randinit_default(rs);
    gmp_randseed_ui(rs, static_cast<unsigned long>(seed));
    std::vector<Z> numbers(6);
    // Two products of two large primes: 160 digits each, and R317 times a 30-digit prime.
    Z p, q;
    mpz_urandomb(p, rs, 530);
    mpz_nextprime(p, p);
    mpz_urandomb(q, rs, 530);
    mpz_nextprime(q, q);
    mpz_mul(numbers[0], p, q);
    repunit_317(p);
    mpz_urandomb(q, rs, 100);
    mpz_nextprime(q, q);
    mpz_mul(numbers[1], p, q);
    // Carmichael numbers above 2^64: Fermat's test passes them for every base prime to them.
    chernick_carmichael(numbers[2], 1000000 + seed % 1000000);
    chernick_carmichael(numbers[3], 1000000000000ul);
    // OEIS A014233: the least odd composites that are strong pseudoprimes to all of the first
    // 12 and 13 prime bases (both above 2^64).
    mpz_set_str(numbers[4], "318665857834031151167461", 10);
    mpz_set_str(numbers[5], "3317044064679887385961981", 10);
    gmp_randclear(rs);
    for (int32_t threads : thread_counts())
        for (size_t i = 0; i < numbers.size(); ++i)
            EXPECT_EQ(prove(numbers[i], threads), ProofResult::composite) << "number " << i << ", threads " << threads;
}

TEST(Prover, AProofThatRunsOutOfPariStackStillAnswers) {
    Z repunit, composite;
    repunit_317(repunit);
    mpz_set_str(composite, "3317044064679887385961981", 10);
    // 64 KiB: far too small for ECPP at 317 digits; FLINT then decides in the helper.
    EXPECT_EQ(prove(repunit, 1, size_t{64} << 10), ProofResult::prime);
    EXPECT_EQ(prove(composite, 1, size_t{64} << 10), ProofResult::composite);
}

TEST(Prover, AStopEndsTheProofAndItsHelper) {
    Z p;
    mpz_ui_pow_ui(p, 10, 599);
    mpz_nextprime(p, p);  // a 600-digit prime: a proof of a minute or more
    std::atomic<bool> stop{false};
    vn::ProofControl control;
    control.stop = &stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop = true;
    });
    EXPECT_EQ(vn::prove_prime(p, control), ProofResult::stopped);
    stopper.join();
    // The helper was reaped: this process has no child left.
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

}  // namespace

namespace {

// Where the helper is missing or cannot work, FLINT proves in the calling thread.
TEST(Prover, WithoutAWorkingHelperFlintStillAnswers) {
    Z repunit, carmichael;
    repunit_317(repunit);
    chernick_carmichael(carmichael, 1000000);
    // VORN_PROVER names the built helper for the other tests (ctest's environment).
    const char *built = std::getenv("VORN_PROVER");
    std::string saved = built ? built : "";
    for (const char *helper : {"/nonexistent/vorn-prover", "/bin/false"}) {
        setenv("VORN_PROVER", helper, 1);
        EXPECT_EQ(prove(repunit, 1), ProofResult::prime) << helper;
        EXPECT_EQ(prove(carmichael, 1), ProofResult::composite) << helper;
    }
    if (built) setenv("VORN_PROVER", saved.c_str(), 1);
    else unsetenv("VORN_PROVER");
}

}  // namespace
