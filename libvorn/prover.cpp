// Exact primality proofs: n - 1 / n + 1 proofs for special forms, then PARI's ECPP, then
// FLINT's APR-CL.
#include <flint/fmpz.h>
#include <pari/pari.h>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "internal.h"
#include "prover.h"
#ifdef VORN_TESTING
#include "testing.h"
#endif

namespace vn {
#ifdef VORN_TESTING
std::atomic<bool> testing::flint_fallback{false};
#endif
namespace {

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

}  // namespace

ProofResult prove_prime(mpz_srcptr n, const ProofControl &) {
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
    if (out_of_memory) return ProofResult::no_memory;
    return verdict == 1 ? ProofResult::prime : verdict == 0 ? ProofResult::composite : ProofResult::failed;
}

}  // namespace vn
