// What every benchmark here shares: each run records its seconds per call under a name such
// as "add_256/vorn" or "add_256/gmp", and after all runs main prints the medians of the
// pairs side by side with their ratio and target.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace bench {

// Wall time for work that runs threads of its own (PARI's proofs); this thread's CPU time
// elsewhere, since on a shared machine the wall clock swings with other processes' load.
enum class Clock { Wall, ThreadCpu };

inline double seconds(Clock clock) {
    if (clock == Clock::Wall)
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Seconds per call of every repetition, by name.
inline std::map<std::string, std::vector<double>> &runs() {
    static std::map<std::string, std::vector<double>> r;
    return r;
}

template <typename F>
void timed(benchmark::State &state, Clock clock, const std::string &name, F &&call) {
    double start = seconds(clock);
    int64_t n = 0;
    for (auto _ : state) {
        call();
        ++n;
    }
    if (n) runs()[name].push_back((seconds(clock) - start) / static_cast<double>(n));
}

// A library call and its peer in turns, each timed on its own and each first in every other
// round, so that a change in the machine's load, and whatever one call leaves behind for the
// next (freed memory, caches), fall on both alike.
template <typename L, typename P>
void timed_in_turns(benchmark::State &state, Clock clock, const std::string &lib_name, const std::string &peer_name,
                    L &&lib_call, P &&peer_call) {
    double spent[2] = {0, 0};  // library, peer
    int64_t n = 0;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            int who = (turn + static_cast<int>(n % 2)) % 2;
            double start = seconds(clock);
            if (who == 0)
                lib_call();
            else
                peer_call();
            spent[who] += seconds(clock) - start;
        }
        ++n;
    }
    if (n) {
        runs()[lib_name].push_back(spent[0] / static_cast<double>(n));
        runs()[peer_name].push_back(spent[1] / static_cast<double>(n));
    }
}

// Median seconds per call of a name, 0 when it did not run.
inline double median(const std::string &name) {
    auto it = runs().find(name);
    if (it == runs().end() || it->second.empty()) return 0;
    std::vector<double> v = it->second;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A library benchmark and its peer: the library's median time over the peer's is held to at
// most limit (limit 0: a reference shown without a target).
struct Pair {
    const char *lib, *peer;
    double limit;
};

template <size_t N>
void print_pairs(const Pair (&pairs)[N]) {
    std::printf("\n%-34s %-38s %12s %12s %7s %7s %s\n", "library", "peer", "lib s/call", "peer s/call",
                "ratio", "target", "met");
    for (const Pair &p : pairs) {
        double a = median(p.lib), b = median(p.peer);
        if (a == 0 || b == 0) continue;
        if (p.limit > 0)
            std::printf("%-34s %-38s %12.9f %12.9f %7.3f %7.2f %s\n", p.lib, p.peer, a, b, a / b, p.limit,
                        a / b <= p.limit ? "yes" : "NO");
        else
            std::printf("%-34s %-38s %12.9f %12.9f %7.3f %7s %s\n", p.lib, p.peer, a, b, a / b, "-",
                        "(reference)");
    }
}

// Runs the benchmarks named on the command line (all by default), then the report.
inline int run(int argc, char **argv, void (*report)()) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    report();
    return 0;
}

}  // namespace bench
