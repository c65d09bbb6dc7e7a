// Prime generation and exact primality proofs: the library beside OpenSSL, GMP and PARI in
// the same process. After the runs a table gives each pair's median time per call and the
// ratio library / peer, with the target it is held to.
#include <benchmark/benchmark.h>
#include <gmp.h>
#include <openssl/bn.h>
#include <pari/pari.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>
#include <vorn.hpp>

#include "bench_pairs.h"

namespace {


// ---- random primes -------------------------------------------------------------------

void LibGeneratePrime1024(benchmark::State &state) {
    bench::timed(state, bench::Clock::Wall, "generate_prime_1024/vorn", [] {
        if (vorn::generate_prime(1024, 5, 1) != VN_OK) std::abort();
    });
}

void OpensslGeneratePrime1024(benchmark::State &state) {
    BIGNUM *p = BN_new();
    BN_CTX *ctx = BN_CTX_new();
    bench::timed(state, bench::Clock::Wall, "generate_prime_1024/openssl", [&] {
        if (!BN_generate_prime_ex2(p, 1024, 0, nullptr, nullptr, nullptr, ctx)) std::abort();
    });
    BN_CTX_free(ctx);
    BN_free(p);
}

void GmpNextprime1024(benchmark::State &state) {
    mpz_t x;
    mpz_init(x);
    gmp_randstate_t rs;
    gmp_randinit_default(rs);
    gmp_randseed_ui(rs, 12345);
    bench::timed(state, bench::Clock::Wall, "generate_prime_1024/gmp_nextprime", [&] {
        mpz_urandomb(x, rs, 1024);
        mpz_setbit(x, 1023);
        mpz_nextprime(x, x);
    });
    gmp_randclear(rs);
    mpz_clear(x);
}

// ---- exact primality proofs -------------------------------------------------------------

// A random prime of exactly `digits` digits (GMP's next prime after a seeded random start):
// no special form, so both sides run their general proof.
void random_prime(mpz_ptr p, unsigned long digits, unsigned long seed) {
    gmp_randstate_t rs;
    gmp_randinit_default(rs);
    gmp_randseed_ui(rs, seed);
    mpz_t lo;
    mpz_init(lo);
    mpz_ui_pow_ui(lo, 10, digits - 1);
    mpz_urandomm(p, rs, lo);
    mpz_add(p, p, lo);
    mpz_nextprime(p, p);
    mpz_clear(lo);
    gmp_randclear(rs);
}

void load(mpz_srcptr x, vorn::Reg r) {
    std::string b((mpz_sizeinbase(x, 2) + 7) / 8, '\0');
    mpz_export(b.data(), nullptr, -1, 1, 0, 0, x);
    if (vorn::putreg(b, r) != VN_OK) std::abort();
}

// Each repetition proves another number, so that the medians are over several numbers; every
// side proves the same ones.
unsigned long next_seed(const std::string &name, unsigned long digits) {
    static std::map<std::string, unsigned long> repetition;
    return digits * 1000 + repetition[name]++;
}

// CPUs of this process's affinity mask (taskset -c 0 makes it one).
int cpu_count() {
    cpu_set_t set;
    return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
}

// CPU seconds of this process and of its children that have ended (the library's helpers).
double cpu_seconds() {
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    auto sum = [](const rusage &r) {
        return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
               static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
    };
    return sum(self) + sum(children);
}

// Wall time, and beside it the CPU time under the name with "_cpu" added: on a shared
// machine the one-thread comparison is fairer in CPU time, which other processes' load
// does not stretch.
template <typename F>
void timed_with_cpu(benchmark::State &state, const std::string &name, F &&call) {
    double cpu_start = cpu_seconds();
    bench::timed(state, bench::Clock::Wall, name, call);
    bench::runs()[name + "_cpu"].push_back(cpu_seconds() - cpu_start);
}

// "all_cpus" for 0, else "1_thread".
std::string threads_name(int64_t threads) { return threads == 0 ? "all_cpus" : "1_thread"; }

// The library's proof with every CPU (range 1: 0, VORN_PROOF_THREADS set to the CPU count) or
// one thread (1: the default).
void LibProve(benchmark::State &state) {
    auto digits = static_cast<unsigned long>(state.range(0));
    std::string name = "vorn_" + threads_name(state.range(1));
    std::string threads = state.range(1) == 0 ? "1024" : "1";   // the library caps it at the CPUs
    setenv("VORN_PROOF_THREADS", threads.c_str(), 1);
    mpz_t p;
    mpz_init(p);
    random_prime(p, digits, next_seed(name, digits));
    load(p, 1);
    timed_with_cpu(state, "prove_" + std::to_string(digits) + "_digits/" + name, [] {
        if (vorn::is_prime_slow(1) != 1) std::abort();
    });
    unsetenv("VORN_PROOF_THREADS");
    mpz_clear(p);
}

// PARI's isprime with its thread engine on every CPU (range 1: 0) or one thread (1).
void PariIsprime(benchmark::State &state) {
    auto digits = static_cast<unsigned long>(state.range(0));
    std::string name = "pari_isprime_" + threads_name(state.range(1));
    std::string threads = std::to_string(state.range(1) == 0 ? cpu_count() : 1);
    sd_nbthreads(threads.c_str(), d_SILENT);
    mpz_t p;
    mpz_init(p);
    random_prime(p, digits, next_seed(name, digits));
    char *hex = mpz_get_str(nullptr, 16, p);
    std::string text = std::string("0x") + hex;
    free(hex);
    timed_with_cpu(state, "prove_" + std::to_string(digits) + "_digits/" + name, [&] {
        pari_sp top = avma;
        if (!isprime(gp_read_str(text.c_str()))) std::abort();
        set_avma(top);
    });
    mpz_clear(p);
}

void LibProveMersenne2203(benchmark::State &state) {
    mpz_t p;
    mpz_init(p);
    mpz_ui_pow_ui(p, 2, 2203);
    mpz_sub_ui(p, p, 1);
    load(p, 1);
    mpz_add_ui(p, p, 2);
    load(p, 2);
    bench::timed(state, bench::Clock::Wall, "prove_2^2203-1/vorn", [] {
        if (vorn::is_prime_slow(1) != 1 || vorn::is_prime_slow(2) != 0) std::abort();
    });
    mpz_clear(p);
}

// 32 proofs of 200-digit primes from `threads` threads of the host, each taking the next
// number: proofs from several threads run side by side.
void LibProveFromThreads(benchmark::State &state) {
    constexpr int kProofs = 32;
    auto threads = static_cast<int>(state.range(0));
    mpz_t p;
    mpz_init(p);
    for (int i = 0; i < kProofs; ++i) {
        random_prime(p, 200, 7000 + static_cast<unsigned long>(i));
        load(p, 20 + i);
    }
    mpz_clear(p);
    bench::timed(state, bench::Clock::Wall, "prove_32x200_digits_" + std::to_string(threads) + "_threads/vorn", [&] {
        std::atomic<int> next{0};
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t)
            pool.emplace_back([&] {
                for (int i; (i = next++) < kProofs;)
                    if (vorn::is_prime_slow(20 + i) != 1) std::abort();
            });
        for (std::thread &t : pool) t.join();
    });
}

BENCHMARK(LibProveFromThreads)->Arg(1)->Arg(8)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
BENCHMARK(LibProveMersenne2203)->Iterations(5)->Repetitions(3)->Unit(benchmark::kMillisecond);
// Three numbers per size and side. 1000 digits (minutes each, one number) only with
// VORN_BENCH_1000=1 in the environment (see main).
BENCHMARK(LibProve)->ArgsProduct({{300, 500}, {0, 1}})->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);
BENCHMARK(PariIsprime)->ArgsProduct({{300, 500}, {0, 1}})->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

BENCHMARK(LibGeneratePrime1024)->Iterations(60)->Repetitions(5)->Unit(benchmark::kMillisecond);
BENCHMARK(OpensslGeneratePrime1024)->Iterations(60)->Repetitions(5)->Unit(benchmark::kMillisecond);
BENCHMARK(GmpNextprime1024)->Iterations(60)->Repetitions(5)->Unit(benchmark::kMillisecond);

const bench::Pair kPairs[] = {
    {"prove_32x200_digits_8_threads/vorn", "prove_32x200_digits_1_threads/vorn", 0.6},
    {"generate_prime_1024/vorn", "generate_prime_1024/openssl", 0.6},
    {"generate_prime_1024/vorn", "generate_prime_1024/gmp_nextprime", 0.0},
    {"prove_300_digits/vorn_all_cpus", "prove_300_digits/pari_isprime_1_thread", 0.6},
    {"prove_300_digits/vorn_all_cpus", "prove_300_digits/pari_isprime_all_cpus", 1.0},
    {"prove_300_digits/vorn_1_thread", "prove_300_digits/pari_isprime_1_thread", 1.0},
    {"prove_500_digits/vorn_all_cpus", "prove_500_digits/pari_isprime_1_thread", 0.6},
    {"prove_500_digits/vorn_all_cpus", "prove_500_digits/pari_isprime_all_cpus", 1.0},
    {"prove_500_digits/vorn_1_thread", "prove_500_digits/pari_isprime_1_thread", 1.0},
    {"prove_300_digits/vorn_1_thread_cpu", "prove_300_digits/pari_isprime_1_thread_cpu", 1.0},
    {"prove_500_digits/vorn_1_thread_cpu", "prove_500_digits/pari_isprime_1_thread_cpu", 1.0},
    {"prove_300_digits/vorn_all_cpus_cpu", "prove_300_digits/vorn_1_thread_cpu", 0.0},
    {"prove_500_digits/vorn_all_cpus_cpu", "prove_500_digits/vorn_1_thread_cpu", 0.0},
    {"prove_1000_digits/vorn_all_cpus", "prove_1000_digits/pari_isprime_1_thread", 0.0},
};

void report() {
    std::printf("\nCPUs in the affinity mask: %d\n", cpu_count());
    if (double t = bench::median("prove_2^2203-1/vorn"))
        std::printf("\nprove 2^2203-1 and reject 2^2203+1: %.6f s (target: well inside 1 s)\n", t);
    bench::print_pairs(kPairs);
}

}  // namespace

int main(int argc, char **argv) {
    // PARI for the peer (no signal handlers, GMP's allocator left alone). The library's
    // proofs run in its helper processes and never meet this set-up.
    pari_init_opts(size_t{16} << 20, 1u << 20, INIT_DFTm | INIT_noINTGMPm);
    paristack_setsize(size_t{16} << 20, size_t{1} << 30);
    DEBUGMEM = 0;
    if (const char *big = std::getenv("VORN_BENCH_1000"); big && *big == '1') {
        benchmark::RegisterBenchmark("LibProve1000", LibProve)->Args({1000, 0})->Iterations(1)->Unit(benchmark::kSecond);
        benchmark::RegisterBenchmark("PariIsprime1000", PariIsprime)->Args({1000, 1})->Iterations(1)->Unit(benchmark::kSecond);
    }
    return bench::run(argc, argv, report);
}
