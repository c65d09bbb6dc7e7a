// Stopping long calls from another thread: each kind of long call, stopped while it runs,
// returns VN_FAIL with VN_E_CANCELLED and leaves every register as it was; meanwhile its
// stage shows through VN_WORKPROGRESS; the same call made again unstopped gives the right
// answer. The time from the stop to the return is printed (the benchmarks hold the targets).
#include <gmp.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>
#include <vorn.hpp>

#include "test_crypto_mpz.h"

namespace {

using crypto_test::put_number;
using crypto_test::reg_number;
using crypto_test::Z;
using Clock = std::chrono::steady_clock;

constexpr int kRegs = 12;

std::vector<std::string> snapshot() {
    std::vector<std::string> r;
    for (int i = 0; i < kRegs; ++i) r.push_back(vorn::getreg(i));
    return r;
}

// Runs call in this thread and stops it from another once its stage shows; returns what the
// call returned. Checks the stage seen and that nothing changed.
int32_t stop_while_running(const char *name, int32_t stage, const std::function<int32_t()> &call) {
    SCOPED_TRACE(name);
    int32_t token = vorn::work_token();
    std::vector<std::string> before = snapshot();
    std::atomic<bool> running{true};
    int32_t seen_stage = VN_STAGE_IDLE, seen_permille = -2;
    Clock::time_point stopped_at{};
    std::thread stopper([&] {
        int32_t st = VN_STAGE_IDLE, pm = -1;
        while (running && st == VN_STAGE_IDLE) {
            ASSERT_EQ(vorn::work_progress(token, st, pm), VN_OK);
            std::this_thread::yield();
        }
        if (!running) return;
        vorn::work_progress(token, seen_stage, seen_permille);
        stopped_at = Clock::now();
        EXPECT_EQ(vorn::stop_work(token), VN_OK);
    });
    VN_CLEARGLOBALERROR();
    Clock::time_point started = Clock::now();
    int32_t result = call();
    Clock::time_point returned = Clock::now();
    running = false;
    stopper.join();
    EXPECT_EQ(result, VN_FAIL) << "the call was not stopped";
    EXPECT_EQ(vorn::global_error(), VN_E_CANCELLED);
    EXPECT_TRUE(snapshot() == before) << "a stopped call changed a register";
    EXPECT_EQ(seen_stage, stage);
    EXPECT_GE(seen_permille, -1);
    EXPECT_LE(seen_permille, 1000);
    if (result == VN_FAIL)
        std::printf("%-20s stopped %6.1f ms after the request, %6.1f ms after its start (progress then %d)\n",
                    name, std::chrono::duration<double, std::milli>(returned - stopped_at).count(),
                    std::chrono::duration<double, std::milli>(returned - started).count(), seen_permille);
    // Idle again, and the next call runs once the thread takes its token again.
    int32_t st = -5, pm = -5;
    EXPECT_EQ(vorn::work_progress(token, st, pm), VN_OK);
    EXPECT_EQ(st, VN_STAGE_IDLE);
    EXPECT_EQ(vorn::work_token(), token);
    return result;
}

TEST(Stop, EachKindOfLongCallStopsAndChangesNothing) {
    for (int i = 0; i < kRegs; ++i) vorn::putreg(std::string(1, static_cast<char>('a' + i)), i);

    // A power of about 3.3 million digits.
    Z base, exponent, expected;
    mpz_set_ui(base, 3);
    mpz_set_ui(exponent, 7000000);
    put_number(base, 1);
    put_number(exponent, 2);
    stop_while_running("VN_POW", VN_STAGE_POWER, [] { return vorn::pow(1, 2, 3); });
    ASSERT_EQ(vorn::pow(1, 2, 3), VN_OK);
    mpz_ui_pow_ui(expected, 3, 7000000);
    EXPECT_EQ(mpz_cmp(reg_number(3), expected), 0);

    // Its text, split by powers of ten; and back.
    stop_while_running("VN_HUGE2DEC", VN_STAGE_CONVERT, [] { return vorn::huge2dec(3, 4); });
    ASSERT_EQ(vorn::huge2dec(3, 4), VN_OK);
    std::string text = vorn::getreg(4);
    char *reference = mpz_get_str(nullptr, 10, expected);
    EXPECT_TRUE(text == reference) << "decimal text differs from GMP's";
    free(reference);
    stop_while_running("VN_DEC2HUGE", VN_STAGE_CONVERT, [] { return vorn::dec2huge(4, 5); });
    ASSERT_EQ(vorn::dec2huge(4, 5), VN_OK);
    EXPECT_EQ(mpz_cmp(reg_number(5), expected), 0);
    vorn::putreg("x", 3);  // the huge values go, so that snapshots stay quick
    vorn::putreg("y", 4);
    vorn::putreg("z", 5);

    // A modular power of 20,000-bit numbers, taken in pieces.
    Z a, m, r;
    mpz_ui_pow_ui(m, 7, 7150);  // about 20,000 bits
    mpz_add_ui(m, m, 2);
    mpz_ui_pow_ui(a, 5, 8500);
    mpz_sub_ui(exponent, m, 3);
    put_number(a, 1);
    put_number(exponent, 2);
    put_number(m, 6);
    stop_while_running("VN_POWMOD", VN_STAGE_POWER, [] { return vorn::powmod(1, 2, 6, 7); });
    ASSERT_EQ(vorn::powmod(1, 2, 6, 7), VN_OK);
    mpz_powm(r, a, exponent, m);
    EXPECT_EQ(mpz_cmp(reg_number(7), r), 0);

    // Prime searches and keys.
    stop_while_running("VN_GENERATEPRIME", VN_STAGE_SEARCH, [] { return vorn::generate_prime(4096, 3, 8); });
    stop_while_running("VN_GENERATERSAKEYS", VN_STAGE_SEARCH, [] { return vorn::generate_rsa_keys(8192, 3, 8, 9, 10); });
    ASSERT_EQ(vorn::generate_prime(1024, 3, 8), VN_OK);
    EXPECT_EQ(crypto_test::bits(reg_number(8)), 1024u);
    EXPECT_NE(mpz_probab_prime_p(reg_number(8), 30), 0);

    // A Blum-Blum-Shub run of 4 MiB from a 2048-bit modulus.
    ASSERT_EQ(vorn::init_bbs(2048, 3, 9, 10), VN_OK);
    int32_t len = 4 << 20;
    std::vector<std::string> keep = snapshot();
    stop_while_running("VN_GENERATEBBS...", VN_STAGE_GENERATE, [&] { return vorn::bbs_bits(len, 1, 10, 9, 11, 10); });
    len = 1000;
    ASSERT_EQ(vorn::bbs_bits(len, 1, 10, 9, 11, 0), VN_OK);
    EXPECT_EQ(vorn::getreg(11).size(), 1000u);
    EXPECT_EQ(vorn::getreg(10), keep[10]);

    // Fermat rounds on a 4,000-bit prime, and an exact proof of a 300-digit prime.
    Z p;
    mpz_ui_pow_ui(p, 2, 4000);
    mpz_nextprime(p, p);
    put_number(p, 1);
    stop_while_running("VN_ISPRIME_F", VN_STAGE_WORKING, [] { return vorn::is_prime_fermat(1000, 1); });
    EXPECT_EQ(vorn::is_prime_fermat(3, 1), 1);
    mpz_ui_pow_ui(p, 10, 299);
    mpz_nextprime(p, p);
    put_number(p, 1);
    stop_while_running("VN_ISPRIME_SLOW", VN_STAGE_PROOF, [] { return vorn::is_prime_slow(1); });
}

// The calls that run whole in the helper process: a modular power beyond about 0.5 s of
// GMP's estimated time (a 2^21-bit modulus, cheap here only because GMP multiplies such
// numbers by FFT) and decimal conversions of more than 12,000,000 digits. Stopped, they change
// nothing; unstopped, the answer is GMP's.
TEST(Stop, CallsInTheHelperProcessStopAndAgreeWithGmp) {
    for (int i = 0; i < kRegs; ++i) vorn::putreg(std::string(1, static_cast<char>('a' + i)), i);
    Z a, e, m, r;
    mpz_ui_pow_ui(m, 3, 1323000);  // about 2^21 bits
    mpz_add_ui(m, m, 2);
    mpz_ui_pow_ui(a, 7, 700000);
    mpz_set_ui(e, 6);
    put_number(a, 1);
    put_number(e, 2);
    put_number(m, 6);
    stop_while_running("VN_POWMOD", VN_STAGE_POWER, [] { return vorn::powmod(1, 2, 6, 7); });
    ASSERT_EQ(vorn::powmod(1, 2, 6, 7), VN_OK);
    mpz_powm(r, a, e, m);
    EXPECT_EQ(mpz_cmp(reg_number(7), r), 0);

    Z x;
    mpz_ui_pow_ui(x, 7, 14300000);  // 12,084,902 digits
    put_number(x, 3);
    stop_while_running("VN_HUGE2DEC", VN_STAGE_CONVERT, [] { return vorn::huge2dec(3, 4); });
    ASSERT_EQ(vorn::huge2dec(3, 4), VN_OK);
    char *reference = mpz_get_str(nullptr, 10, x);
    EXPECT_TRUE(vorn::getreg(4) == reference) << "decimal text differs from GMP's";
    free(reference);
    stop_while_running("VN_DEC2HUGE", VN_STAGE_CONVERT, [] { return vorn::dec2huge(4, 5); });
    ASSERT_EQ(vorn::dec2huge(4, 5), VN_OK);
    EXPECT_EQ(mpz_cmp(reg_number(5), x), 0);
}

}  // namespace
