// Prime generation and exact primality proofs: the library beside OpenSSL, GMP and PARI in
// the same process. After the runs a table gives each pair's median time per call and the
// ratio library / peer, with the target it is held to.
#include <benchmark/benchmark.h>
#include <gmp.h>
#include <openssl/bn.h>
#include <pari/pari.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>
#include <vorn.hpp>

namespace {

// Seconds per call of every repetition, by benchmark name.
std::map<std::string, std::vector<double>> g_runs;

template <typename F>
void timed(benchmark::State &state, const std::string &name, F &&call) {
    auto start = std::chrono::steady_clock::now();
    int64_t n = 0;
    for (auto _ : state) {
        call();
        ++n;
    }
    std::chrono::duration<double> t = std::chrono::steady_clock::now() - start;
    if (n) g_runs[name].push_back(t.count() / static_cast<double>(n));
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// ---- random primes -------------------------------------------------------------------

void LibGeneratePrime1024(benchmark::State &state) {
    timed(state, "generate_prime_1024/vorn", [] {
        if (vorn::generate_prime(1024, 5, 1) != VN_OK) std::abort();
    });
}

void OpensslGeneratePrime1024(benchmark::State &state) {
    BIGNUM *p = BN_new();
    BN_CTX *ctx = BN_CTX_new();
    timed(state, "generate_prime_1024/openssl", [&] {
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
    timed(state, "generate_prime_1024/gmp_nextprime", [&] {
        mpz_urandomb(x, rs, 1024);
        mpz_setbit(x, 1023);
        mpz_nextprime(x, x);
    });
    gmp_randclear(rs);
    mpz_clear(x);
}

BENCHMARK(LibGeneratePrime1024)->Iterations(60)->Repetitions(5)->Unit(benchmark::kMillisecond);
BENCHMARK(OpensslGeneratePrime1024)->Iterations(60)->Repetitions(5)->Unit(benchmark::kMillisecond);
BENCHMARK(GmpNextprime1024)->Iterations(60)->Repetitions(5)->Unit(benchmark::kMillisecond);

struct Target {
    const char *lib, *peer;
    double limit;
};

const Target kTargets[] = {
    {"generate_prime_1024/vorn", "generate_prime_1024/openssl", 0.6},
    {"generate_prime_1024/vorn", "generate_prime_1024/gmp_nextprime", 0.0},
};

void print_table() {
    std::printf("\n%-34s %-38s %12s %12s %7s %7s %s\n", "library", "peer", "lib s/call",
                "peer s/call", "ratio", "target", "met");
    for (const Target &t : kTargets) {
        if (!g_runs.count(t.lib) || !g_runs.count(t.peer)) continue;
        double a = median(g_runs[t.lib]), b = median(g_runs[t.peer]);
        if (t.limit > 0)
            std::printf("%-34s %-38s %12.6f %12.6f %7.3f %7.2f %s\n", t.lib, t.peer, a, b, a / b,
                        t.limit, a / b <= t.limit ? "yes" : "NO");
        else
            std::printf("%-34s %-38s %12.6f %12.6f %7.3f %7s %s\n", t.lib, t.peer, a, b, a / b,
                        "-", "(reference)");
    }
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    print_table();
    return 0;
}
