// Several threads calling the library at once: hashing, AES, arithmetic and exact prime
// proofs, each thread on registers of its own. Every result is checked against GMP or against
// the same call made before the threads start, and each thread's global error is its own.
// Run under ThreadSanitizer through the ctest label `threads`.
#include <gmp.h>
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>
#include <vorn.hpp>

#include "seed.h"
#include "test_crypto_mpz.h"

namespace {

using crypto_test::Z;

constexpr int kThreads = 4;
constexpr int kRounds = 400;

// Registers of thread t: 130 + 10t .. 139 + 10t.
vorn::Reg base_of(int t) { return 130 + 10 * t; }

struct Expected {
    std::string message, digest, key, iv, cipher;
    std::string prime, composite;  // 4-byte-aligned little-endian numbers of 128 bits
};

std::string le_bytes(mpz_srcptr x) { return crypto_test::bytes_of(x); }

// One thread's work; returns the number of results that differ from the expected ones.
int work(int t, const Expected &x, uint64_t seed) {
    const vorn::Reg r = base_of(t);
    std::mt19937_64 rng(seed + static_cast<uint64_t>(t));
    int wrong = 0;
    Z a, b, sum, product;
    vorn::putreg("", r + 9);
    for (int i = 0; i < kRounds; ++i) {
        // SHA-256 and AES-CBC of fixed data: the same bytes as computed alone.
        vorn::putreg(x.message, r);
        wrong += vorn::hash_sha256(r, r + 1) != VN_OK || vorn::getreg(r + 1) != x.digest;
        vorn::putreg(x.key, r + 2);
        vorn::putreg(x.iv, r + 3);
        wrong += vorn::encrypt_aes_cbc(r, r + 2, r + 3, r + 4) != VN_OK || vorn::getreg(r + 4) != x.cipher;
        wrong += vorn::decrypt_aes_cbc(r + 4, r + 2, r + 5) != VN_OK || vorn::getreg(r + 5) != x.message;
        // 256-bit arithmetic against GMP.
        a = crypto_test::random_below_pow2(rng, 256);
        b = crypto_test::random_below_pow2(rng, 256);
        mpz_add(sum, a, b);
        mpz_mul(product, a, b);
        crypto_test::put_number(a, r + 6);
        crypto_test::put_number(b, r + 7);
        wrong += vorn::add(r + 6, r + 7, r + 8) != VN_OK || mpz_cmp(crypto_test::reg_number(r + 8), sum) != 0;
        wrong += vorn::mul(r + 6, r + 7, r + 8) != VN_OK || mpz_cmp(crypto_test::reg_number(r + 8), product) != 0;
        // The global error is the thread's own: each thread fails with a code of its own.
        VN_CLEARGLOBALERROR();
        if (t % 2 == 0) vorn::div(r, r + 9, r + 8, r + 8);  // register r + 9 is 0
        else vorn::add(r, 999, r + 8);
        wrong += vorn::global_error() != (t % 2 == 0 ? VN_E_DIVZERO : VN_E_REGISTER);
        // Exact proofs of 128-bit numbers go to PARI, whose stack is per thread.
        if (i % 40 == 0) {
            vorn::putreg(x.prime, r + 9);
            wrong += vorn::is_prime_slow(r + 9) != 1;
            vorn::putreg(x.composite, r + 9);
            wrong += vorn::is_prime_slow(r + 9) != 0;
            vorn::putreg("", r + 9);
        }
    }
    return wrong;
}

TEST(Threads, ConcurrentCallsGiveTheResultsOfCallsMadeAlone) {
    uint64_t seed = test_seed();
    Expected x;
    x.message = "a message of some length, hashed and enciphered by every thread at once";
    x.key = std::string(32, '\x5a');
    x.iv = std::string(16, '\x0f');
    // The references: the library alone (its single-threaded results are checked against
    // NIST vectors and OpenSSL elsewhere) and GMP for the primes.
    const vorn::Reg r = 120;
    vorn::putreg(x.message, r);
    ASSERT_EQ(vorn::hash_sha256(r, r + 1), VN_OK);
    x.digest = vorn::getreg(r + 1);
    vorn::putreg(x.key, r + 2);
    vorn::putreg(x.iv, r + 3);
    ASSERT_EQ(vorn::encrypt_aes_cbc(r, r + 2, r + 3, r + 4), VN_OK);
    x.cipher = vorn::getreg(r + 4);
    Z p, q;
    mpz_set_ui(p, 1);
    mpz_mul_2exp(p, p, 127);
    mpz_nextprime(p, p);
    mpz_nextprime(q, p);
    x.prime = le_bytes(p);
    mpz_mul(q, q, p);  // 254 bits, a product of two primes near 2^127
    x.composite = le_bytes(q);
    ASSERT_EQ(x.prime.size(), 16u);

    VN_CLEARGLOBALERROR();
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] { wrong[static_cast<size_t>(t)] = work(t, x, seed); });
    for (auto &th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[static_cast<size_t>(t)], 0) << "thread " << t;
    // This thread's error was untouched by the failures of the others.
    EXPECT_EQ(vorn::global_error(), VN_E_NONE);
}

}  // namespace

namespace {

// Work tokens: one per living thread, the same on every call, refused once the thread ended;
// a stop and the progress reach only the token's thread.
TEST(Threads, WorkTokensNameLivingThreadsOnly) {
    int32_t mine = vorn::work_token();
    ASSERT_GT(mine, 0);
    EXPECT_EQ(vorn::work_token(), mine);
    int32_t theirs = 0, theirs_again = 0;
    std::thread([&] {
        theirs = vorn::work_token();
        theirs_again = vorn::work_token();
    }).join();
    EXPECT_GT(theirs, 0);
    EXPECT_EQ(theirs, theirs_again);
    EXPECT_NE(theirs, mine);
    // The thread is gone: its token names nothing any more.
    EXPECT_EQ(vorn::stop_work(theirs), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_ARGUMENT);
    int32_t stage = -5, permille = -5;
    EXPECT_EQ(vorn::work_progress(theirs, stage, permille), VN_FAIL);
    EXPECT_EQ(vorn::work_progress(0, stage, permille), VN_FAIL);
    EXPECT_EQ(VN_WORKPROGRESS(&mine, nullptr, &permille), VN_FAIL);
    EXPECT_EQ(vorn::work_progress(mine, stage, permille), VN_OK);
    EXPECT_EQ(stage, VN_STAGE_IDLE);
    // A stop of this thread is cleared by its next VN_WORKTOKEN; quick calls do not see it.
    EXPECT_EQ(vorn::stop_work(mine), VN_OK);
    vorn::putreg("\x07", 1);
    EXPECT_EQ(vorn::add(1, 1, 2), VN_OK);
    EXPECT_EQ(vorn::work_token(), mine);
}

}  // namespace
