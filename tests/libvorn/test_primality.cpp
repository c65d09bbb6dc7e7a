// Primality tests on known primes, Carmichael numbers and strong pseudoprimes (data files
// name their source), on the small and even cases, and the trial-division table.
#include <gmp.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <vorn.hpp>

namespace {

// The numbers of a data file: one a line, the first word; '#' lines are comments.
std::vector<std::string> numbers_in(const std::string &file) {
    std::ifstream in(std::string(VORN_TEST_DATA) + "/" + file);
    EXPECT_TRUE(in) << file;
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string n;
        words >> n;
        out.push_back(n);
    }
    return out;
}

void load(const std::string &decimal, vorn::Reg r) {
    ASSERT_EQ(vorn::putreg(decimal, r), VN_OK);
    ASSERT_EQ(vorn::dec2huge(r, r), VN_OK);
}

using Test = int32_t (*)(vorn::Reg);
int32_t rb20(vorn::Reg r) { return vorn::is_prime_rabin_miller(20, r); }
int32_t fermat20(vorn::Reg r) { return vorn::is_prime_fermat(20, r); }
int32_t slow(vorn::Reg r) { return vorn::is_prime_slow(r); }
int32_t div_test(vorn::Reg r) { return vorn::is_prime_div(r); }

TEST(Primality, KnownPrimesPassEveryTest) {
    vorn::readprimes(1000);
    for (const std::string &p : numbers_in("known_primes.txt")) {
        SCOPED_TRACE(p.substr(0, 40));
        load(p, 1);
        EXPECT_EQ(rb20(1), 1);
        EXPECT_EQ(fermat20(1), 1);
        EXPECT_EQ(div_test(1), 1);
        EXPECT_EQ(slow(1), 1);
    }
}

TEST(Primality, PseudoprimesAndCarmichaelNumbersAreComposite) {
    // Rabin-Miller with 20 random bases: a composite passes one round with probability at
    // most 1/4, so a false "prime" here is a fault, not bad luck (4^-20 per number).
    vorn::readprimes(1000);
    for (const char *file : {"carmichael.txt", "strong_pseudoprimes_base2.txt",
                             "strong_pseudoprimes_first_bases.txt", "known_composites.txt"}) {
        for (const std::string &n : numbers_in(file)) {
            SCOPED_TRACE(std::string(file) + ": " + n.substr(0, 40));
            load(n, 1);
            EXPECT_EQ(rb20(1), 0);
            EXPECT_EQ(slow(1), 0);
        }
    }
    // Every Carmichael number below 10^6 has a factor below 1000 (the cube root bound).
    for (const std::string &n : numbers_in("carmichael.txt")) {
        load(n, 1);
        EXPECT_EQ(div_test(1), 0) << n;
    }
}

TEST(Primality, SmallAndEvenNumbers) {
    struct Case {
        const char *n;
        int prime;
    };
    const Case cases[] = {{"0", 0}, {"1", 0}, {"2", 1}, {"3", 1}, {"4", 0}, {"5", 1}, {"9", 0},
                          {"25", 0}, {"97", 1}, {"7919", 1}, {"7921", 0}, {"1000000", 0},
                          {"18446744073709551556", 0}, {"18446744073709551557", 1},
                          {"340282366920938463463374607431768211456", 0}};
    // Primes pass at any count; with few random bases an odd composite may pass (25 is a
    // strong pseudoprime to bases 7 and 18), so composites are judged at the largest count,
    // except those the tests decide without bases (0, 1, even numbers).
    for (int32_t rounds : {-5, 0, 1, 3, 5000}) {
        for (const Case &c : cases) {
            load(c.n, 1);
            bool decided = c.prime || rounds >= 1000 || vorn::is_odd(1) == 0 || c.n[1] == '\0';
            if (!decided) continue;
            EXPECT_EQ(vorn::is_prime_rabin_miller(rounds, 1), c.prime) << c.n << " rounds " << rounds;
            EXPECT_EQ(vorn::is_prime_fermat(rounds, 1), c.prime) << c.n << " rounds " << rounds;
        }
    }
    for (const Case &c : cases) {
        load(c.n, 1);
        EXPECT_EQ(slow(1), c.prime) << c.n;
    }
}

TEST(Primality, ExactTestAgreesWithASieveBelowTwentyThousand) {
    std::vector<bool> composite(20000, false);
    for (size_t i = 2; i * i < composite.size(); ++i)
        if (!composite[i])
            for (size_t j = i * i; j < composite.size(); j += i) composite[j] = true;
    vorn::readprimes(1000);
    for (uint32_t n = 0; n < composite.size(); ++n) {
        ASSERT_EQ(vorn::putreg(vorn::le32(static_cast<int32_t>(n)), 1), VN_OK);
        int prime = n >= 2 && !composite[n];
        ASSERT_EQ(slow(1), prime) << n;
        ASSERT_EQ(rb20(1), prime) << n;
        // The first 1000 primes reach 7919, so trial division decides every n < 7919^2.
        ASSERT_EQ(div_test(1), prime) << n;
    }
}

TEST(Primality, TrialDivisionTableSize) {
    // Clamped to 1 .. 1,000,000; the millionth prime is 15,485,863.
    EXPECT_EQ(vorn::readprimes(0), 1);
    load("9", 1);
    EXPECT_EQ(div_test(1), 1);  // only 2 in the table: no factor found
    load("4", 1);
    EXPECT_EQ(div_test(1), 0);
    EXPECT_EQ(vorn::readprimes(-7), 1);
    EXPECT_EQ(vorn::readprimes(2000000), 1000000);
    // 15485863 * 15485867: the 1,000,000th and 1,000,001st primes; the full table finds the first.
    load("239812014798221", 1);
    EXPECT_EQ(div_test(1), 0);
    load("239812014798221", 1);
    EXPECT_EQ(vorn::readprimes(999999), 999999);
    EXPECT_EQ(div_test(1), 1);  // now neither factor is in the table: "possibly prime"
    EXPECT_EQ(vorn::readprimes(1000), 1000);
}

TEST(Primality, TrialDivisionOfLongNumbers) {
    // Long numbers take another path (a gcd with the product of the table): both must agree.
    // 7927 is the 1001st prime, just outside the default table; 7919 is the 1000th.
    vorn::readprimes(1000);
    mpz_t x;
    mpz_init(x);
    for (unsigned long power : {3ul, 30ul, 120000ul}) {
        for (unsigned long factor : {1ul, 7919ul, 2ul, 3ul}) {
            mpz_ui_pow_ui(x, 7927, power);
            mpz_mul_ui(x, x, factor);
            std::string b((mpz_sizeinbase(x, 2) + 7) / 8, '\0');
            mpz_export(b.data(), nullptr, -1, 1, 0, 0, x);
            ASSERT_EQ(vorn::putreg(b, 1), VN_OK);
            EXPECT_EQ(div_test(1), factor == 1 ? 1 : 0) << "7927^" << power << " * " << factor;
        }
    }
    mpz_clear(x);
}

// How fast the n + 1 proof settles this is measured by bench/bench_primes.cpp.
TEST(Primality, MersenneIsProvedAndItsNeighbourIsRejected) {
    mpz_t x;
    mpz_init(x);
    mpz_ui_pow_ui(x, 2, 2203);
    mpz_sub_ui(x, x, 1);
    std::string b((mpz_sizeinbase(x, 2) + 7) / 8, '\0');
    mpz_export(b.data(), nullptr, -1, 1, 0, 0, x);
    ASSERT_EQ(vorn::putreg(b, 1), VN_OK);
    EXPECT_EQ(slow(1), 1);
    mpz_add_ui(x, x, 2);
    mpz_export(b.data(), nullptr, -1, 1, 0, 0, x);
    ASSERT_EQ(vorn::putreg(b, 1), VN_OK);
    EXPECT_EQ(slow(1), 0);
    mpz_clear(x);
}

TEST(Primality, RandomPrimeOfAHundredDigitsIsProved) {
    // A prime without special form (the general proof runs), and a composite near it with no
    // factor below 1000.
    load("3197773653325777549550979369810566694038107447957252482272544302481210096742115824698039612951934301", 1);
    EXPECT_EQ(slow(1), 1);
    load("3197773653325777549550979369810566694038107447957252482272544302481210096742115824698039612951934307", 1);
    EXPECT_EQ(slow(1), 0);
}

TEST(Primality, FailuresReadAsNeitherAnswer) {
    int32_t bad = 256, count = 5;
    VN_CLEARGLOBALERROR();
    EXPECT_EQ(VN_ISPRIME_SLOW(&bad), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_REGISTER);
    EXPECT_EQ(VN_ISPRIME_RB(&count, &bad), VN_FAIL);
    EXPECT_EQ(VN_ISPRIME_F(nullptr, &count), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_ARGUMENT);
    EXPECT_EQ(VN_ISPRIME_DIV(nullptr), VN_FAIL);
    EXPECT_EQ(VN_ISRELPRIME(&count, &bad), VN_FAIL);
}

TEST(Primality, RelativelyPrime) {
    const char *cases[][3] = {{"0", "0", "0"}, {"0", "1", "1"}, {"1", "1", "1"}, {"6", "35", "1"},
                              {"6", "15", "0"}, {"0", "5", "0"}, {"18446744073709551617", "274177", "0"}};
    for (const auto &c : cases) {
        load(c[0], 1);
        load(c[1], 2);
        EXPECT_EQ(vorn::is_relprime(1, 2), c[2][0] - '0') << c[0] << ", " << c[1];
    }
}

}  // namespace
