// The Blum-Blum-Shub and RSA bit generators beside Crypto++'s PublicBlumBlumShub, in the same
// process and from the same modulus and seed. After the runs a table gives each side's median
// throughput (bytes per CPU second) and the speed-up of the library over the peer, with the target it is held to.
#include <benchmark/benchmark.h>
#include <cryptopp/blumshub.h>
#include <cryptopp/integer.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <map>
#include <string>
#include <vector>
#include <vorn.hpp>

#include "bench_pairs.h"

namespace {

// Bytes each benchmark makes per iteration, by name, for its rate.
std::map<std::string, int64_t> g_bytes;

template <typename F>
void timed(benchmark::State &state, const std::string &name, int64_t bytes_per_iteration, F &&call) {
    g_bytes[name] = bytes_per_iteration;
    bench::timed(state, bench::Clock::ThreadCpu, name, call);
    state.SetBytesProcessed(bytes_per_iteration * state.iterations());
}

// Median bytes per CPU second of a name, 0 when it did not run.
double rate(const std::string &name) {
    double t = bench::median(name);
    return t > 0 ? static_cast<double>(g_bytes[name]) / t : 0;
}

// Registers: 1 modulus, 2 state, 3 output, 4 exponent. One BBS modulus and seed per size,
// made once so that both sides run from the same values.
struct Setup {
    std::string n, s;
};

Setup &bbs_setup(int32_t bits) {
    static std::map<int32_t, Setup> made;
    if (!made.count(bits)) {
        if (vorn::init_bbs(bits, 3, 1, 2) != VN_OK) std::abort();
        made[bits] = {vorn::getreg(1), vorn::getreg(2)};
    }
    return made[bits];
}

CryptoPP::Integer integer_of(const std::string &le_bytes) {
    return CryptoPP::Integer(reinterpret_cast<const CryptoPP::byte *>(le_bytes.data()), le_bytes.size(),
                             CryptoPP::Integer::UNSIGNED, CryptoPP::LITTLE_ENDIAN_ORDER);
}

// Crypto++ leaves two members of this class abstract.
struct PeerBbs : CryptoPP::PublicBlumBlumShub {
    using PublicBlumBlumShub::PublicBlumBlumShub;
    std::string AlgorithmName() const override { return "PublicBlumBlumShub"; }
    bool IsRandomAccess() const override { return false; }
};

constexpr int32_t kChunk = 1000;

void vorn_bbs(benchmark::State &state, int32_t bits, int64_t total, const std::string &name) {
    Setup &s = bbs_setup(bits);
    vorn::putreg(s.n, 1);
    vorn::putreg(s.s, 2);
    timed(state, name, total, [&] {
        for (int64_t done = 0; done < total; done += kChunk) {
            int32_t len = kChunk;
            if (vorn::bbs_bits(len, 1, 2, 1, 3, 2) != VN_OK) std::abort();
        }
    });
}

void cryptopp_bbs(benchmark::State &state, int32_t bits, int64_t total, const std::string &name) {
    Setup &s = bbs_setup(bits);
    PeerBbs bbs(integer_of(s.n), integer_of(s.s));
    std::vector<CryptoPP::byte> buf(kChunk);
    timed(state, name, total, [&] {
        for (int64_t done = 0; done < total; done += kChunk) bbs.GenerateBlock(buf.data(), buf.size());
        benchmark::DoNotOptimize(buf.data());
    });
}

void VornBbs128(benchmark::State &state) { vorn_bbs(state, 128, 10'000'000, "bbs_128/vorn"); }
void CryptoppBbs128(benchmark::State &state) { cryptopp_bbs(state, 128, 10'000'000, "bbs_128/cryptopp"); }
void VornBbs1024(benchmark::State &state) { vorn_bbs(state, 1024, 1'000'000, "bbs_1024/vorn"); }
void CryptoppBbs1024(benchmark::State &state) { cryptopp_bbs(state, 1024, 1'000'000, "bbs_1024/cryptopp"); }

void VornRsaGenerator128(benchmark::State &state) {
    if (vorn::generate_rsa_keys(128, 3, 4, 5, 1) != VN_OK) std::abort();
    vorn::generate_random(120, 2);
    const int64_t total = 3'000'000;
    timed(state, "rsa_generator_128/vorn", total, [&] {
        for (int64_t done = 0; done < total; done += kChunk) {
            int32_t len = kChunk;
            if (vorn::rsa_bits(len, 2, 4, 1, 3, 2) != VN_OK) std::abort();
        }
    });
}

BENCHMARK(VornBbs128)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);
BENCHMARK(CryptoppBbs128)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);
BENCHMARK(VornBbs1024)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);
BENCHMARK(CryptoppBbs1024)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);
BENCHMARK(VornRsaGenerator128)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);

struct Target {
    const char *lib, *peer;  // peer null: an absolute target in MB/s
    double limit;            // least speed-up over the peer, or least MB/s
};

const Target kTargets[] = {
    {"bbs_128/vorn", "bbs_128/cryptopp", 10.0},
    {"bbs_1024/vorn", "bbs_1024/cryptopp", 2.5},
    {"rsa_generator_128/vorn", nullptr, 3.0},
    // The same target independent of the machine's load: 3 MB/s where the peer's 128-bit BBS
    // runs at 3.6 MB/s.
    {"rsa_generator_128/vorn", "bbs_128/cryptopp", 3.0 / 3.6},
};

void print_table() {
    std::printf("\n%-24s %-20s %10s %10s %9s %7s %s\n", "library", "peer", "lib MB/s", "peer MB/s",
                "speed-up", "target", "met");
    for (const Target &t : kTargets) {
        double a = rate(t.lib) / 1e6;
        if (a == 0) continue;
        if (t.peer == nullptr) {
            std::printf("%-24s %-20s %10.2f %10s %9s %7.1f %s\n", t.lib, "-", a, "-", "-", t.limit,
                        a >= t.limit ? "yes (MB/s)" : "NO (MB/s)");
            continue;
        }
        double b = rate(t.peer) / 1e6;
        if (b == 0) continue;
        std::printf("%-24s %-20s %10.2f %10.2f %9.2f %7.1f %s\n", t.lib, t.peer, a, b, a / b, t.limit,
                    a / b >= t.limit ? "yes" : "NO");
    }
}

}  // namespace

int main(int argc, char **argv) { return bench::run(argc, argv, print_table); }
