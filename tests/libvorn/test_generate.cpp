// Random numbers and random primes: sizes, ranges, limits and failures.
#include <gmp.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vorn.hpp>

namespace {

void number_of(vorn::Reg r, mpz_ptr x) {
    std::string b = vorn::getreg(r);
    mpz_import(x, b.size(), -1, 1, 0, 0, b.data());
}

TEST(GenerateRandom, ExactByteCountTopByteNeverZero) {
    mpz_t x;
    mpz_init(x);
    for (int32_t bits : {1, 2, 7, 8, 9, 15, 16, 17, 63, 64, 65, 255, 256, 1000, 4096}) {
        for (int i = 0; i < 50; ++i) {
            ASSERT_EQ(vorn::generate_random(bits, 1), VN_OK) << bits;
            std::string b = vorn::getreg(1);
            ASSERT_EQ(b.size(), static_cast<size_t>((bits + 7) / 8)) << bits;
            ASSERT_NE(b.back(), '\0') << bits;
            number_of(1, x);
            ASSERT_LE(mpz_sizeinbase(x, 2), static_cast<size_t>(bits)) << bits;
        }
    }
    ASSERT_EQ(vorn::generate_random(1, 1), VN_OK);
    EXPECT_EQ(vorn::getreg(1), "\x01");  // the only 1-bit number that is not 0
    mpz_clear(x);
}

TEST(GenerateRandom, EveryValueOfASmallRangeOccurs) {
    // 4 bits: 15 values; 3000 draws miss one with probability 15 * (14/15)^3000, about 1e-88.
    std::set<std::string> seen;
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(vorn::generate_random(4, 2), VN_OK);
        seen.insert(vorn::getreg(2));
    }
    EXPECT_EQ(seen.size(), 15u);
    EXPECT_EQ(seen.count(""), 0u);
}

TEST(GenerateRandom, LargestSizeAndOutOfRange) {
    ASSERT_EQ(vorn::generate_random(static_cast<int32_t>(VN_MAX_RANDOM_BITS), 3), VN_OK);
    EXPECT_EQ(vorn::getreg(3).size(), static_cast<size_t>(VN_MAX_RANDOM_BITS / 8));
    ASSERT_EQ(vorn::putreg("keep", 3), VN_OK);
    for (int32_t bits : {0, -1, -8, static_cast<int32_t>(VN_MAX_RANDOM_BITS + 1), INT32_MAX, INT32_MIN}) {
        VN_CLEARGLOBALERROR();
        EXPECT_EQ(vorn::generate_random(bits, 3), VN_FAIL) << bits;
        EXPECT_EQ(vorn::global_error(), VN_E_BITS);
        EXPECT_EQ(vorn::getreg(3), "keep");
    }
    VN_CLEARGLOBALERROR();
    EXPECT_EQ(vorn::generate_random(8, 256), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_REGISTER);
    int32_t r = 1;
    EXPECT_EQ(VN_GENERATERANDOM(nullptr, &r), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_ARGUMENT);
}

TEST(GeneratePrime, ExactBitLengthAndPrime) {
    mpz_t p;
    mpz_init(p);
    for (int32_t bits : {2, 3, 4, 5, 8, 16, 19, 20, 21, 22, 31, 32, 33, 63, 64, 65, 127, 128, 129, 256, 512, 1024, 2048}) {
        for (int i = 0; i < (bits < 300 ? 10 : 1); ++i) {
            ASSERT_EQ(vorn::generate_prime(bits, 5, 1), VN_OK) << bits;
            number_of(1, p);
            ASSERT_EQ(mpz_sizeinbase(p, 2), static_cast<size_t>(bits));
            // Independent check: GMP's own BPSW plus 30 Miller-Rabin rounds.
            ASSERT_NE(mpz_probab_prime_p(p, 50), 0) << bits;
        }
    }
    mpz_clear(p);
}

TEST(GeneratePrime, SmallSizesReachEveryPrime) {
    // 5 bits: 17, 19, 23, 29, 31. 2 bits: 2 and 3.
    std::set<std::string> five, two;
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(vorn::generate_prime(5, 1, 1), VN_OK);
        ASSERT_EQ(vorn::huge2dec(1, 1), VN_OK);
        five.insert(vorn::getreg(1));
        ASSERT_EQ(vorn::generate_prime(2, 1, 1), VN_OK);
        ASSERT_EQ(vorn::huge2dec(1, 1), VN_OK);
        two.insert(vorn::getreg(1));
    }
    EXPECT_EQ(five, (std::set<std::string>{"17", "19", "23", "29", "31"}));
    EXPECT_EQ(two, (std::set<std::string>{"2", "3"}));
    // 40 bits: draws should hardly ever repeat.
    std::set<std::string> forty;
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(vorn::generate_prime(40, 3, 1), VN_OK);
        forty.insert(vorn::getreg(1));
    }
    EXPECT_GE(forty.size(), 98u);
}

TEST(GeneratePrime, RoundsAreClampedAndBitsChecked) {
    for (int32_t rounds : {INT32_MIN, -1, 0, 1, 5000}) EXPECT_EQ(vorn::generate_prime(128, rounds, 1), VN_OK) << rounds;
    ASSERT_EQ(vorn::putreg("keep", 2), VN_OK);
    for (int32_t bits : {-1, 0, 1, VN_MAX_PRIME_BITS + 1, INT32_MAX}) {
        VN_CLEARGLOBALERROR();
        EXPECT_EQ(vorn::generate_prime(bits, 5, 2), VN_FAIL) << bits;
        EXPECT_EQ(vorn::global_error(), VN_E_BITS);
        EXPECT_EQ(vorn::getreg(2), "keep");
    }
    VN_CLEARGLOBALERROR();
    EXPECT_EQ(vorn::generate_prime(64, 5, -1), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_REGISTER);
    int32_t bits = 64, r = 1;
    EXPECT_EQ(VN_GENERATEPRIME(&bits, nullptr, &r), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_ARGUMENT);
}

}  // namespace
