// Arithmetic and conversions: the library beside the bare GMP call on the same operands, in
// the same process. After the runs a table gives each pair's median time per call, the
// ratio library / GMP and the target it is held to.
#include <benchmark/benchmark.h>
#include <gmp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>
#include <vorn.hpp>

#include "bench_pairs.h"

namespace {


void check(int32_t rc) {
    if (rc != VN_OK) {
        std::fprintf(stderr, "library call failed: %d (error %d)\n", rc, vorn::global_error());
        std::exit(1);
    }
}

// Loads x into register r in number form (through the library's own arithmetic, so that
// the register holds a cached number exactly as after a computation).
void load(mpz_srcptr x, vorn::Reg r) {
    std::string b((mpz_sizeinbase(x, 2) + 7) / 8, '\0');
    mpz_export(b.data(), nullptr, -1, 1, 0, 0, x);
    check(vorn::putreg(b, r));
    check(vorn::putreg("", 200));
    check(vorn::add(r, 200, r));
}

struct Operands {
    gmp_randstate_t rs;
    Operands() {
        gmp_randinit_default(rs);
        gmp_randseed_ui(rs, 20261207);
    }
    ~Operands() { gmp_randclear(rs); }
};

Operands &operands() {
    static Operands o;
    return o;
}

// ---- ADD, 256-bit operands -----------------------------------------------------------

void LibAdd256(benchmark::State &state) {
    mpz_t a, b;
    mpz_inits(a, b, nullptr);
    mpz_urandomb(a, operands().rs, 256);
    mpz_urandomb(b, operands().rs, 256);
    load(a, 1);
    load(b, 2);
    int32_t x = 1, y = 2, d = 3;
    bench::timed(state, bench::Clock::Wall, "add_256/vorn", [&] { benchmark::DoNotOptimize(VN_ADD(&x, &y, &d)); });
    mpz_clears(a, b, nullptr);
}

// The same sum into a register that once held a 2,000,000-digit product: the wiping after a
// call covers what the call touched, not what the register's allocation once held. In file
// order this runs right after LibAdd256; with --benchmark_enable_random_interleaving the
// large cases below also run before the plain one.
void LibAdd256AfterHuge(benchmark::State &state) {
    mpz_t a, b, big;
    mpz_inits(a, b, big, nullptr);
    mpz_urandomb(a, operands().rs, 256);
    mpz_urandomb(b, operands().rs, 256);
    mpz_ui_pow_ui(big, 10, 999999);
    load(big, 5);
    check(vorn::mul(5, 5, 6));  // register 6: 2,000,000 digits
    load(a, 1);
    load(b, 2);
    int32_t x = 1, y = 2, d = 6;
    bench::timed(state, bench::Clock::Wall, "add_256_after_2M_digits/vorn",
                 [&] { benchmark::DoNotOptimize(VN_ADD(&x, &y, &d)); });
    mpz_clears(a, b, big, nullptr);
}

void GmpAdd256(benchmark::State &state) {
    mpz_t a, b, c;
    mpz_inits(a, b, c, nullptr);
    mpz_urandomb(a, operands().rs, 256);
    mpz_urandomb(b, operands().rs, 256);
    bench::timed(state, bench::Clock::Wall, "add_256/gmp", [&] {
        mpz_add(c, a, b);
        benchmark::ClobberMemory();
    });
    mpz_clears(a, b, c, nullptr);
}

// ---- MUL, 1,000,000-digit operands ---------------------------------------------------

void random_digits(mpz_ptr x, unsigned long digits) {
    mpz_t lo;
    mpz_init(lo);
    mpz_ui_pow_ui(lo, 10, digits - 1);
    mpz_urandomm(x, operands().rs, lo);
    mpz_add(x, x, lo);  // exactly `digits` digits
    mpz_clear(lo);
}

void LibMulMillionDigits(benchmark::State &state) {
    mpz_t a, b;
    mpz_inits(a, b, nullptr);
    random_digits(a, 1000000);
    random_digits(b, 1000000);
    load(a, 1);
    load(b, 2);
    bench::timed(state, bench::Clock::Wall, "mul_1M_digits/vorn", [&] { check(vorn::mul(1, 2, 3)); });
    mpz_clears(a, b, nullptr);
}

void GmpMulMillionDigits(benchmark::State &state) {
    mpz_t a, b, c;
    mpz_inits(a, b, c, nullptr);
    random_digits(a, 1000000);
    random_digits(b, 1000000);
    bench::timed(state, bench::Clock::Wall, "mul_1M_digits/gmp", [&] { mpz_mul(c, a, b); });
    mpz_clears(a, b, c, nullptr);
}

// ---- POWMOD, 2048-bit operands -------------------------------------------------------

// A random odd modulus of exactly `bits` bits, a base below it and an exponent of up to
// `bits` bits.
void powmod_operands(mpz_ptr a, mpz_ptr e, mpz_ptr m, unsigned long bits) {
    mpz_urandomb(m, operands().rs, bits);
    mpz_setbit(m, bits - 1);
    mpz_setbit(m, 0);
    mpz_urandomm(a, operands().rs, m);
    mpz_urandomb(e, operands().rs, bits);
}

void LibPowmod2048(benchmark::State &state) {
    mpz_t a, e, m;
    mpz_inits(a, e, m, nullptr);
    powmod_operands(a, e, m, 2048);
    load(a, 1);
    load(e, 2);
    load(m, 3);
    bench::timed(state, bench::Clock::Wall, "powmod_2048/vorn", [&] { check(vorn::powmod(1, 2, 3, 4)); });
    mpz_clears(a, e, m, nullptr);
}

void GmpPowmod2048(benchmark::State &state) {
    mpz_t a, e, m, r;
    mpz_inits(a, e, m, r, nullptr);
    powmod_operands(a, e, m, 2048);
    bench::timed(state, bench::Clock::Wall, "powmod_2048/gmp", [&] { mpz_powm(r, a, e, m); });
    mpz_clears(a, e, m, r, nullptr);
}

// ---- POWMOD, 24,000-bit operands: beyond about 0.5 s, so in the helper process ----------

void LibPowmod24000(benchmark::State &state) {
    mpz_t a, e, m;
    mpz_inits(a, e, m, nullptr);
    powmod_operands(a, e, m, 24000);
    load(a, 1);
    load(e, 2);
    load(m, 3);
    bench::timed(state, bench::Clock::Wall, "powmod_24000/vorn", [&] { check(vorn::powmod(1, 2, 3, 4)); });
    mpz_clears(a, e, m, nullptr);
}

void GmpPowmod24000(benchmark::State &state) {
    mpz_t a, e, m, r;
    mpz_inits(a, e, m, r, nullptr);
    powmod_operands(a, e, m, 24000);
    bench::timed(state, bench::Clock::Wall, "powmod_24000/gmp", [&] { mpz_powm(r, a, e, m); });
    mpz_clears(a, e, m, r, nullptr);
}

// ---- HUGE2DEC and DEC2HUGE of 3^10,000,000 (4,771,213 digits) and 3^21,000,000 --------
// (10,019,547 digits), in turns with GMP's one call. Both sizes are converted in pieces in
// this thread, so its CPU time is the fair measure.

std::string power_name(int64_t exponent) { return exponent == 10000000 ? "3^1e7" : "3^2.1e7"; }

void ToDecimal(benchmark::State &state) {
    mpz_t x;
    mpz_init(x);
    mpz_ui_pow_ui(x, 3, static_cast<unsigned long>(state.range(0)));
    load(x, 1);
    std::string name = "huge2dec_" + power_name(state.range(0));
    // GMP allocates its text, as the library must for a register's new value: the fresh pages
    // of a text of millions of digits cost about 2 % against a buffer written over and over.
    bench::timed_in_turns(
        state, bench::Clock::ThreadCpu, name + "/vorn", name + "/gmp", [&] { check(vorn::huge2dec(1, 2)); },
        [&] { free(mpz_get_str(nullptr, 10, x)); });
    mpz_clear(x);
}

void FromDecimal(benchmark::State &state) {
    mpz_t x, y;
    mpz_inits(x, y, nullptr);
    mpz_ui_pow_ui(x, 3, static_cast<unsigned long>(state.range(0)));
    char *text = mpz_get_str(nullptr, 10, x);
    check(vorn::putreg(text, 1));
    std::string name = "dec2huge_" + power_name(state.range(0));
    bench::timed_in_turns(
        state, bench::Clock::ThreadCpu, name + "/vorn", name + "/gmp", [&] { check(vorn::dec2huge(1, 2)); },
        [&] { mpz_set_str(y, text, 10); });
    free(text);
    mpz_clears(x, y, nullptr);
}

// Fixed iteration counts: Google Benchmark's own trial runs (which would also pass through
// `timed`) are skipped, so the table holds only the repetitions.
BENCHMARK(LibAdd256)->Repetitions(5)->Iterations(10000000);
BENCHMARK(LibAdd256AfterHuge)->Repetitions(5)->Iterations(10000000);
BENCHMARK(GmpAdd256)->Repetitions(5)->Iterations(10000000);
BENCHMARK(LibMulMillionDigits)->Repetitions(5)->Iterations(40)->Unit(benchmark::kMillisecond);
BENCHMARK(GmpMulMillionDigits)->Repetitions(5)->Iterations(40)->Unit(benchmark::kMillisecond);
BENCHMARK(LibPowmod2048)->Repetitions(5)->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(GmpPowmod2048)->Repetitions(5)->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(ToDecimal)->Arg(10000000)->Repetitions(7)->Iterations(4)->Unit(benchmark::kMillisecond);
BENCHMARK(FromDecimal)->Arg(10000000)->Repetitions(7)->Iterations(4)->Unit(benchmark::kMillisecond);
BENCHMARK(LibPowmod24000)->Repetitions(5)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(GmpPowmod24000)->Repetitions(5)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(ToDecimal)->Arg(21000000)->Repetitions(7)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(FromDecimal)->Arg(21000000)->Repetitions(7)->Iterations(2)->Unit(benchmark::kMillisecond);

const bench::Pair kPairs[] = {
    {"add_256/vorn", "add_256/gmp", 10.0},
    {"add_256_after_2M_digits/vorn", "add_256/gmp", 10.0},
    {"mul_1M_digits/vorn", "mul_1M_digits/gmp", 1.15},
    {"powmod_2048/vorn", "powmod_2048/gmp", 1.15},
    {"huge2dec_3^1e7/vorn", "huge2dec_3^1e7/gmp", 1.02},
    {"dec2huge_3^1e7/vorn", "dec2huge_3^1e7/gmp", 1.02},
    {"powmod_24000/vorn", "powmod_24000/gmp", 1.05},
    {"huge2dec_3^2.1e7/vorn", "huge2dec_3^2.1e7/gmp", 1.02},
    {"dec2huge_3^2.1e7/vorn", "dec2huge_3^2.1e7/gmp", 1.02},
};

void report() {
    bench::print_pairs(kPairs);
    // The sum's own target: 60 ns a call, into a fresh register and into a used one.
    for (const char *name : {"add_256/vorn", "add_256_after_2M_digits/vorn"}) {
        double ns = bench::median(name) * 1e9;
        if (ns > 0) std::printf("%-34s %8.1f ns a call (target 60 ns: %s)\n", name, ns, ns <= 60 ? "yes" : "NO");
    }
}

}  // namespace

int main(int argc, char **argv) { return bench::run(argc, argv, report); }
