// Stop delays: for each kind of long call, the time from VN_STOPWORK to the call's return,
// with the stop sent at a random moment of the call, several times. Prints the median and the
// largest delay beside the bound the library states. A plain program, not a test: the delays
// depend on the machine and its load.
//
//   bench_stop [--quick] [word]   (--quick: fewer stops a case; word: only the calls whose
//                                  line contains it)
// VORN_PROVER=/nonexistent shows the delays where no helper process can start.
#include <gmp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>
#include <vorn.hpp>

namespace {

using Clock = std::chrono::steady_clock;

void check(int32_t rc, const char *what) {
    if (rc != VN_OK) {
        std::fprintf(stderr, "%s failed: %d (error %d)\n", what, rc, vorn::global_error());
        std::exit(1);
    }
}

// Puts x into register r (byte form, least significant byte first).
void put_number(mpz_srcptr x, vorn::Reg r) {
    std::string b((mpz_sizeinbase(x, 2) + 7) / 8, '\0');
    mpz_export(b.data(), nullptr, -1, 1, 0, 0, x);
    check(vorn::putreg(b, r), "VN_PUTREG");
}

struct Case {
    const char *name;
    double bound;          // the stated bound, seconds
    // Stops come at a uniformly random moment in [0.02 s, window]; window 0: six tenths of
    // the call's time, measured once unstopped (for calls that end within seconds).
    double window;
    std::function<void()> prepare;
    std::function<int32_t()> call;
};

struct Result {
    std::vector<double> delays;  // seconds
    int finished = 0;            // calls that ended before the stop came
};

// Runs the call in this thread; another thread stops it after `after` seconds.
// Returns the delay, or a negative number when the call ended first.
double stop_once(const Case &c, double after) {
    int32_t token = vorn::work_token();  // also clears an earlier stop
    std::atomic<bool> done{false};
    Clock::time_point stopped_at{};
    std::atomic<bool> sent{false};
    std::thread stopper([&] {
        Clock::time_point when = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(after));
        while (!done && Clock::now() < when) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (done) return;
        stopped_at = Clock::now();
        sent = true;
        vorn::stop_work(token);
    });
    int32_t rc = c.call();
    Clock::time_point returned = Clock::now();
    done = true;
    stopper.join();
    vorn::work_token();
    if (!sent || rc != VN_FAIL || vorn::global_error() != VN_E_CANCELLED) return -1;
    return std::chrono::duration<double>(returned - stopped_at).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    bool quick = false;
    const char *only = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        else only = argv[i];
    }
    int stops = quick ? 3 : 7;
    std::mt19937_64 random(20261208);
    gmp_randstate_t rs;
    gmp_randinit_default(rs);
    gmp_randseed_ui(rs, 20261208);

    std::vector<Case> cases;

    cases.push_back({"VN_ISPRIME_SLOW, 1000-digit prime", 0.5, 3.0,
                     [&] {
                         mpz_t p;
                         mpz_init(p);
                         mpz_ui_pow_ui(p, 10, 999);
                         mpz_t r;
                         mpz_init(r);
                         mpz_urandomm(r, rs, p);
                         mpz_mul_ui(p, p, 2);
                         mpz_add(p, p, r);
                         mpz_nextprime(p, p);
                         put_number(p, 1);
                         mpz_clears(p, r, nullptr);
                     },
                     [] { return vorn::is_prime_slow(1); }});

    // 3^e of 10^7 digits and of nearly VN_MAX_BITS bits.
    cases.push_back({"VN_POW, 10^7 digits", 0.5, 0,
                     [] {
                         check(vorn::putreg(vorn::le32(3), 1), "VN_PUTREG");
                         check(vorn::putreg(vorn::le32(20959032), 2), "VN_PUTREG");
                     },
                     [] { return vorn::pow(1, 2, 3); }});
    cases.push_back({"VN_POW, VN_MAX_BITS", 2.0, 0,
                     [] {
                         check(vorn::putreg(vorn::le32(3), 1), "VN_PUTREG");
                         check(vorn::putreg(vorn::le32(169000000), 2), "VN_PUTREG");
                     },
                     [] { return vorn::pow(1, 2, 3); }});

    // Random numbers of 10^7 digits and of VN_MAX_BITS bits, and decimal text of both sizes.
    auto random_number = [&](size_t bits) {
        mpz_t x;
        mpz_init(x);
        mpz_urandomb(x, rs, bits);
        mpz_setbit(x, bits - 1);
        put_number(x, 4);
        mpz_clear(x);
    };
    auto random_text = [&](size_t digits) {
        std::string t(digits, '0');
        t[0] = '1';
        for (size_t i = 1; i < digits; ++i) t[i] = static_cast<char>('0' + random() % 10);
        check(vorn::putreg(t, 5), "VN_PUTREG");
    };
    cases.push_back({"VN_HUGE2DEC, 10^7 digits", 0.5, 0, [&] { random_number(33219278); },
                     [] { return vorn::huge2dec(4, 6); }});
    cases.push_back({"VN_DEC2HUGE, 10^7 digits", 0.5, 0, [&] { random_text(10000000); },
                     [] { return vorn::dec2huge(5, 6); }});
    cases.push_back({"VN_HUGE2DEC, VN_MAX_BITS", 2.0, 20.0, [&] { random_number(VN_MAX_BITS); },
                     [] { return vorn::huge2dec(4, 6); }});
    // The most digits within VN_MAX_BITS: 10^80807123 < 2^(2^28).
    cases.push_back({"VN_DEC2HUGE, VN_MAX_BITS", 2.0, 6.0, [&] { random_text(80807124); },
                     [] { return vorn::dec2huge(5, 6); }});

    cases.push_back({"VN_GENERATEPRIME, 4096 bits", 0.5, 1.0, [] {},
                     [] { return vorn::generate_prime(4096, 3, 7); }});

    // 100 MB from a 1024-bit Blum-Blum-Shub generator, VN_MAX_GENERATE_BYTES a call.
    cases.push_back({"VN_GENERATEBBSRANDOMBITS, 100 MB", 0.5, 10.0,
                     [] { check(vorn::init_bbs(1024, 3, 8, 9), "VN_INITBBS"); },
                     [] {
                         int64_t left = 100000000;
                         while (left > 0) {
                             int32_t len = static_cast<int32_t>(std::min<int64_t>(left, VN_MAX_GENERATE_BYTES));
                             int32_t rc = vorn::bbs_bits(len, 1, 9, 8, 10, 9);
                             if (rc != VN_OK) return rc;
                             left -= len;
                         }
                         return int32_t{VN_OK};
                     }});

    // A modular power of 40,000-bit numbers: about 7 s of GMP's time.
    cases.push_back({"VN_POWMOD, 40,000 bits", 0.5, 5.0,
                     [&] {
                         mpz_t a, e, m;
                         mpz_inits(a, e, m, nullptr);
                         mpz_urandomb(m, rs, 40000);
                         mpz_setbit(m, 39999);
                         mpz_setbit(m, 0);
                         mpz_urandomm(a, rs, m);
                         mpz_urandomb(e, rs, 40000);
                         put_number(a, 1);
                         put_number(e, 2);
                         put_number(m, 3);
                         mpz_clears(a, e, m, nullptr);
                     },
                     [] { return vorn::powmod(1, 2, 3, 11); }});

    std::printf("%-36s %6s %10s %10s %10s %8s %s\n", "call", "stops", "window s", "median ms", "max ms", "bound",
                "met");
    for (Case &c : cases) {
        if (only && !std::strstr(c.name, only)) continue;
        c.prepare();
        if (c.window == 0) {
            vorn::work_token();
            Clock::time_point start = Clock::now();
            check(c.call(), c.name);
            c.window = 0.6 * std::chrono::duration<double>(Clock::now() - start).count();
        }
        Result r;
        for (int i = 0; i < stops; ++i) {
            double after = 0.02 + std::uniform_real_distribution<double>(0, 1)(random) * (c.window - 0.02);
            double d = stop_once(c, after);
            if (d < 0) ++r.finished;
            else r.delays.push_back(d);
        }
        double worst = r.delays.empty() ? 0 : *std::max_element(r.delays.begin(), r.delays.end());
        std::printf("%-36s %6zu %10.2f %10.1f %10.1f %7.1fs %s", c.name, r.delays.size(), c.window,
                    median(r.delays) * 1e3, worst * 1e3, c.bound, worst <= c.bound ? "yes" : "NO");
        if (r.finished) std::printf("  (%d calls ended before the stop)", r.finished);
        std::printf("\n");
        std::fflush(stdout);
        for (int reg = 1; reg <= 11; ++reg) vorn::putreg("", reg);  // the huge values go
    }
    gmp_randclear(rs);
    return 0;
}
