// Primality: small-prime tables, Rabin-Miller, BPSW, and the exported primality tests.
#include <flint/fmpz.h>
#include <pari/pari.h>

#include <climits>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "internal.h"
#ifdef VORN_TESTING
#include "testing.h"
#endif
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
    Num d, y, n_minus_1;
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
    return probable;
}

int random_base_rounds(mpz_srcptr n, int rounds) {
    Num a, lo, hi;
    mpz_set_ui(lo, 2);
    mpz_sub_ui(hi, n, 2);
    int verdict = 1;
    for (int i = 0; verdict == 1 && i < rounds; ++i) {
        if (!random_range(a, lo, hi)) verdict = -1;
        else if (!strong_probable_prime(n, a)) verdict = 0;
    }
    return verdict;
}

bool rabin_miller(mpz_srcptr n, int rounds) { return random_base_rounds(n, rounds) == 1; }

bool bpsw(mpz_srcptr n) {
    // GMP 6.2's mpz_probab_prime_p runs trial division, then a strong base-2 test and a strong
    // Lucas test (BPSW), then reps - 24 further Miller-Rabin rounds: reps 0 is BPSW alone.
    return mpz_probab_prime_p(n, 0) != 0;
}

}  // namespace vn

namespace vn {
#ifdef VORN_TESTING
std::atomic<bool> testing::flint_fallback{false};
#endif
namespace {

// ---- the table of small primes for trial division ----------------------------------------

std::vector<uint32_t> &division_table() {
    static std::vector<uint32_t> table = [] {
        std::vector<uint32_t> t = primes_below(7920);  // the first 1000 primes end at 7919
        t.resize(1000);
        return t;
    }();
    return table;
}

// The product of all primes of the division table, built on first need after each
// VN_READPRIMES (a balanced product tree: fast even for a million primes).
mpz_t g_table_product;
bool g_table_product_ready = false;

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
        static bool initialised = (mpz_init(g_table_product), true);
        (void)initialised;
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

// ---- exact proofs --------------------------------------------------------------------------

// PARI keeps its stack and state per thread (Debian builds it with the pthread engine), and a
// thread can only be given PARI state by the thread that started PARI. So PARI runs on a
// thread of the library's own, started with PARI on the first proof that needs it; proofs
// are handed to it and waited for (they never overlap: the library lock). It starts PARI
// without its signal handlers (the host program owns signals) and without taking over GMP's
// allocator (the library and the program share GMP); the stack starts small and may grow
// to kPariStackMax. A host that runs PARI itself and calls from the thread where it started
// PARI has its proofs run right there, on its own set-up.
constexpr size_t kPariStack = size_t{16} << 20;
constexpr size_t kPariStackMax = size_t{1} << 30;

struct PariThread {
    std::mutex m;
    std::condition_variable cv;
    const std::function<void()> *job = nullptr;
    bool done = false;
};

void pari_thread_loop(PariThread *w) {
    pari_init_opts(kPariStack, 1u << 20, INIT_DFTm | INIT_noINTGMPm);
    paristack_setsize(kPariStack, kPariStackMax);
    DEBUGMEM = 0;  // no notes on stdout when the stack grows
    std::unique_lock<std::mutex> lock(w->m);
    for (;;) {
        w->cv.wait(lock, [w] { return w->job != nullptr; });
        (*w->job)();
        w->job = nullptr;
        w->done = true;
        w->cv.notify_all();
    }
}

// Runs job (which must not throw) where PARI is set up.
void on_pari_thread(const std::function<void()> &job) {
    if (pari_mainstack != nullptr) {
        job();
        return;
    }
    // Never destroyed: the thread waits for work for the life of the process.
    static PariThread *const w = [] {
        auto *t = new PariThread;
        std::thread(pari_thread_loop, t).detach();
        return t;
    }();
    std::unique_lock<std::mutex> lock(w->m);
    w->done = false;
    w->job = &job;
    w->cv.notify_all();
    w->cv.wait(lock, [] { return w->done; });
}

// 1 prime, 0 composite, -1 when PARI failed (out of stack or any other error).
int pari_ecpp(mpz_srcptr n) {
    // PARI reads the number from hexadecimal text: independent of how its kernel stores
    // limbs, and cheap beside the proof.
    std::string text = "0x";
    text.resize(2 + mpz_sizeinbase(n, 16) + 1);
    mpz_get_str(text.data() + 2, 16, n);
    text.resize(std::strlen(text.c_str()));
    int result = -1;
    on_pari_thread([&] {
        pari_sp top = avma;
        volatile int verdict = -1;
        pari_CATCH(CATCH_ALL) {
            verdict = -1;
        }
        pari_TRY {
            GEN x = gp_read_str(text.c_str());
            // Elliptic-curve primality proving: the fastest exact method at hand for numbers
            // of a few hundred digits (at 300 digits PARI's APR-CL takes about twice as long
            // and FLINT's about 1.2 times).
            verdict = isprimeECPP(x) ? 1 : 0;
        }
        pari_ENDCATCH;
        set_avma(top);
        result = verdict;
    });
    wipe(text);
    return result;
}

// The part of m made of the given primes, each to its full power in m.
void factored_part(fmpz_t F, const fmpz_t m, const std::vector<mp_limb_t> &primes, slong count) {
    fmpz_t rest;
    fmpz_init_set(rest, m);
    fmpz_one(F);
    for (slong i = 0; i < count; ++i) {
        while (fmpz_divisible_si(rest, static_cast<slong>(primes[i]))) {
            fmpz_divexact_ui(rest, rest, primes[i]);
            fmpz_mul_ui(F, F, primes[i]);
        }
    }
    fmpz_clear(rest);
}

// Pocklington (n - 1) and Morrison (n + 1) proofs from the small prime factors of n -/+ 1:
// they settle numbers of special form, such as Mersenne numbers, in milliseconds. Each runs
// only when its factored part is large enough to prove, so that a number of no special form
// loses no time here. 1 prime, 0 composite, -1 undecided.
int prove_by_n_plus_minus_1(const fmpz_t n) {
    constexpr ulong kTrialLimit = ulong{1} << 20;
    std::vector<mp_limb_t> factors(fmpz_bits(n) + 2);  // distinct primes of n -/+ 1: fewer than its bits
    slong count = 0;
    fmpz_t F, R, m, square;
    fmpz_init(F);
    fmpz_init(R);
    fmpz_init(m);
    fmpz_init(square);
    int verdict = -1;

    _fmpz_nm1_trial_factors(n, factors.data(), &count, kTrialLimit);
    fmpz_sub_ui(m, n, 1);
    factored_part(F, m, factors, count);
    fmpz_mul(square, F, F);
    if (fmpz_cmp(square, n) >= 0) {
        // F >= sqrt(n): Pocklington's theorem proves n prime when every factor passes.
        // The test recomputes F; the proof holds only for the F it used.
        if (!fmpz_is_prime_pocklington(F, R, n, factors.data(), count)) verdict = 0;
        else if (fmpz_mul(square, F, F), fmpz_cmp(square, n) >= 0) verdict = 1;
    } else {
        count = 0;
        _fmpz_np1_trial_factors(n, factors.data(), &count, kTrialLimit);
        fmpz_add_ui(m, n, 1);
        factored_part(F, m, factors, count);
        fmpz_sub_ui(square, F, 1);
        fmpz_mul(square, square, square);
        // F - 1 > sqrt(n): Morrison's theorem proves n prime when every factor passes.
        if (fmpz_cmp(square, n) > 0) {
            if (!fmpz_is_prime_morrison(F, R, n, factors.data(), count)) verdict = 0;
            else if (fmpz_sub_ui(square, F, 1), fmpz_mul(square, square, square), fmpz_cmp(square, n) > 0)
                verdict = 1;
        }
    }
    fmpz_clear(F);
    fmpz_clear(R);
    fmpz_clear(m);
    fmpz_clear(square);
    return verdict;
}

// n -/+ 1 proofs, then ECPP, then APR-CL, for an n above 2^64 that passed BPSW.
int prove(mpz_srcptr n) {
    fmpz_t f;
    fmpz_init(f);
    fmpz_set_mpz(f, n);
    int verdict;
#ifdef VORN_TESTING
    if (testing::flint_fallback) verdict = fmpz_is_prime(f);
    else
#endif
    {
        verdict = prove_by_n_plus_minus_1(f);
        if (verdict < 0) verdict = pari_ecpp(n);
        if (verdict < 0) verdict = fmpz_is_prime(f);  // PARI gave up: FLINT's slower APR-CL
    }
    fmpz_clear(f);
    return verdict;
}

// Exact primality of n.
bool is_proven_prime(mpz_srcptr n) {
    if (mpz_cmp_ui(n, 2) < 0) return false;
    // BPSW has no pseudoprime below 2^64 (Feitsma and Galway's table of base-2 strong
    // pseudoprimes), so below that it is a proof; above, it rejects composites cheaply.
    if (mpz_sizeinbase(n, 2) <= 64) return bpsw(n);
#ifdef VORN_TESTING
    if (!testing::flint_fallback)
#endif
        if (!bpsw(n)) return false;
    // FLINT keeps caches per thread (the primes it trial-divides by, spare numbers) that the
    // end of a thread does not release. The proof runs where PARI does, on the library's own
    // long-lived thread, so a host that calls from short-lived threads leaks nothing.
    int verdict = -1;
    bool out_of_memory = false;
    on_pari_thread([&] {
        try {
            verdict = prove(n);
        } catch (const std::bad_alloc &) {
            out_of_memory = true;
        }
    });
    if (out_of_memory) throw std::bad_alloc();
    return verdict == 1;
}

// A test's verdict on the small and even cases every test shares: 1 or 0, or -1 when the
// number needs the real test (odd, at least 5).
int trivial_verdict(mpz_srcptr n) {
    if (mpz_cmp_ui(n, 2) < 0) return 0;
    if (mpz_cmp_ui(n, 3) <= 0) return 1;
    if (mpz_even_p(n)) return 0;
    return -1;
}

// Fermat test with random bases in [2, n-2] on odd n >= 5.
bool fermat(mpz_srcptr n, int rounds) {
    Num a, lo, hi, n_minus_1, y;
    mpz_set_ui(lo, 2);
    mpz_sub_ui(hi, n, 2);
    mpz_sub_ui(n_minus_1, n, 1);
    bool passed = true;
    for (int i = 0; passed && i < rounds; ++i) {
        if (!random_range(a, lo, hi)) passed = false;
        else {
            mpz_powm(y, a, n_minus_1, n);
            passed = mpz_cmp_ui(y, 1) == 0;
        }
    }
    return passed;
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

// The Fermat and Rabin-Miller entry points: the small and even cases, then trial division
// (a number with a small factor needs no modular power, which for 10^20000 - 1 takes
// seconds), then count rounds.
int32_t random_base_test(bool (*test)(mpz_srcptr, int), int32_t *count, int32_t *a) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        if (!count) return fail(VN_E_ARGUMENT);
        Register *x = reg(a);
        if (!x) return VN_FAIL;
        mpz_srcptr n = value(*x);
        int v = trivial_verdict(n);
        if (v >= 0) return v;
        if (trial_division(n) == 0) return 0;
        return test(n, clamp_rounds(*count));
    });
}

}  // namespace
}  // namespace vn

using namespace vn;

extern "C" {

VN_API int32_t VN_READPRIMES(int32_t *n) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        if (!n) return fail(VN_E_ARGUMENT);
        size_t want = *n < 1 ? 1 : (*n > 1000000 ? 1000000 : static_cast<size_t>(*n));
        division_table() = first_primes(want);
        g_table_product_ready = false;
        return static_cast<int32_t>(division_table().size());
    });
}

VN_API int32_t VN_ISRELPRIME(int32_t *a, int32_t *b) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x, *y;
        if (!regs(&x, a, &y, b)) return VN_FAIL;
        Num g;
        mpz_gcd(g, value(*x), value(*y));
        return mpz_cmp_ui(g, 1) == 0;
    });
}

VN_API int32_t VN_ISPRIME_DIV(int32_t *a) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x = reg(a);
        if (!x) return VN_FAIL;
        return trial_division(value(*x));
    });
}

VN_API int32_t VN_ISPRIME_SLOW(int32_t *a) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x = reg(a);
        if (!x) return VN_FAIL;
        return is_proven_prime(value(*x));
    });
}

VN_API int32_t VN_ISPRIME_F(int32_t *count, int32_t *a) { return random_base_test(fermat, count, a); }

VN_API int32_t VN_ISPRIME_RB(int32_t *count, int32_t *a) { return random_base_test(rabin_miller, count, a); }

}  // extern "C"
