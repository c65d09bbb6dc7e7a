// RSA keys, encryption and decryption, checked against GMP computations of the test's own.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include <vorn.hpp>

#include "test_crypto_mpz.h"

namespace {

using crypto_test::bits;
using crypto_test::put_number;
using crypto_test::reg_number;
using crypto_test::Z;

// Registers: 50 e, 51 d, 52 n, 53 message, 54 ciphertext, 55 decrypted.

// Recovers p < q from n, e and d by the standard split with a multiple of lambda(n); false
// when none is found, which happens when e*d - 1 is no multiple of lambda(n).
bool factor_from_key(mpz_srcptr n, mpz_srcptr e, mpz_srcptr d, Z &p, Z &q) {
    Z k, t, x, y, n1;
    mpz_mul(k, e, d);
    mpz_sub_ui(k, k, 1);
    if (mpz_sgn(k.v) == 0) return false;
    unsigned long s = mpz_scan1(k, 0);
    mpz_tdiv_q_2exp(t, k, s);
    mpz_sub_ui(n1, n, 1);
    for (unsigned long g = 2; g < 300; ++g) {
        Z base(g);
        mpz_powm(x, base, t, n);
        for (unsigned long i = 0; i < s; ++i) {
            mpz_powm_ui(y, x, 2, n);
            if (mpz_cmp_ui(y.v, 1) == 0) {
                if (mpz_cmp_ui(x.v, 1) == 0 || mpz_cmp(x, n1) == 0) break;
                mpz_sub_ui(x, x, 1);
                mpz_gcd(p, x, n);
                mpz_tdiv_q(q, n, p);
                if (mpz_cmp(p, q) > 0) std::swap(p, q);
                return true;
            }
            mpz_set(x, y);
        }
    }
    return false;
}

struct Key {
    Z e, d, n;
};

Key generate(int32_t key_bits, int32_t k = 5) {
    EXPECT_EQ(vorn::generate_rsa_keys(key_bits, k, 50, 51, 52), VN_OK) << key_bits;
    return {reg_number(50), reg_number(51), reg_number(52)};
}

// Everything a key must be: n of exactly the bits, two distinct primes of half size, e = 65537
// prime to p-1 and q-1, d = e^-1 mod lcm(p-1, q-1).
void check_key(const Key &key, int32_t key_bits) {
    SCOPED_TRACE("key of " + std::to_string(key_bits) + " bits");
    EXPECT_EQ(bits(key.n), static_cast<size_t>(key_bits));
    EXPECT_EQ(mpz_cmp_ui(key.e.v, 65537), 0);
    Z p, q;
    ASSERT_TRUE(factor_from_key(key.n, key.e, key.d, p, q)) << "e*d - 1 is no multiple of lambda(n)";
    EXPECT_GT(mpz_probab_prime_p(p, 30), 0);
    EXPECT_GT(mpz_probab_prime_p(q, 30), 0);
    EXPECT_NE(mpz_cmp(p, q), 0);
    EXPECT_EQ(bits(p), static_cast<size_t>(key_bits / 2));
    EXPECT_EQ(bits(q), static_cast<size_t>(key_bits - key_bits / 2));
    Z p1, q1, lambda, expected_d;
    mpz_sub_ui(p1, p, 1);
    mpz_sub_ui(q1, q, 1);
    EXPECT_NE(mpz_fdiv_ui(p1, 65537), 0u);
    EXPECT_NE(mpz_fdiv_ui(q1, 65537), 0u);
    mpz_lcm(lambda, p1, q1);
    ASSERT_NE(mpz_invert(expected_d, key.e, lambda), 0);
    EXPECT_EQ(mpz_cmp(key.d, expected_d), 0);
}

// Encrypts m (register 53 as stored by the caller) and decrypts; checks both against GMP.
void check_round_trip(const Key &key, mpz_srcptr m) {
    ASSERT_EQ(vorn::encrypt_rsa(53, 50, 52, 54), 0);
    Z expected;
    mpz_powm(expected, m, key.e, key.n);
    EXPECT_EQ(mpz_cmp(reg_number(54), expected), 0);
    ASSERT_EQ(vorn::decrypt_rsa(54, 51, 52, 55), 0);
    EXPECT_EQ(mpz_cmp(reg_number(55), m), 0);
    EXPECT_EQ(vorn::is_not_equal(55, 53), 0);
}

TEST(Rsa, KeysOfEverySizeAreSound) {
    std::mt19937_64 rng(test_seed());
    std::vector<int32_t> sizes = {32, 33, 40, 47};
    for (int32_t b = 48; b <= 128; b += 8) sizes.push_back(b);
    for (int32_t b : {129, 191, 256, 512, 1024, 2048}) sizes.push_back(b);
    for (int32_t key_bits : sizes) {
        Key key = generate(key_bits);
        check_key(key, key_bits);
        // Messages: 0, 1, n - 1 and random ones below n.
        Z m;
        for (int i = 0; i < 8; ++i) {
            if (i == 0) mpz_set_ui(m, 0);
            if (i == 1) mpz_set_ui(m, 1);
            if (i == 2) mpz_sub_ui(m, key.n, 1);
            if (i >= 3) mpz_mod(m, crypto_test::random_below_pow2(rng, static_cast<size_t>(key_bits)), key.n);
            put_number(m, 53);
            if (bits(m) % 32 != 0 && crypto_test::bytes_of(m).size() % 4 != 0) {
                // Byte form of a length that is no multiple of 4: store it as a number instead.
                vorn::putreg(crypto_test::bytes_of(m), 56);
                vorn::putreg("", 57);
                vorn::add(56, 57, 53);
            }
            check_round_trip(key, m);
        }
    }
}

TEST(Rsa, EveryMessageOfASmallKeyRoundTrips) {
    // Multiples of p and q included: they are not prime to n, and still come back.
    Key key = generate(32);
    Z p, q;
    ASSERT_TRUE(factor_from_key(key.n, key.e, key.d, p, q));
    std::vector<Z> messages;
    for (unsigned long i = 0; i < 3000; ++i) messages.emplace_back(i);
    for (unsigned long i = 1; i < 50; ++i) {
        Z a, b;
        mpz_mul_ui(a, p, i);
        mpz_mul_ui(b, q, i);
        messages.push_back(a);
        messages.push_back(b);
    }
    for (Z &m : messages) {
        vorn::putreg(crypto_test::bytes_of(m), 56);
        vorn::putreg("", 57);
        vorn::add(56, 57, 53);  // number form
        check_round_trip(key, m);
    }
}

TEST(Rsa, BatteryPlaintextsAreAccepted) {
    // Random numbers of k - 8 bits, 5 to 15 bytes: number form, whatever their length.
    for (int32_t key_bits = 48; key_bits <= 128; key_bits += 8) {
        Key key = generate(key_bits);
        for (int i = 0; i < 5; ++i) {
            do vorn::generate_random(key_bits - 8, 53);
            while (!vorn::is_less(53, 52));
            ASSERT_EQ(vorn::encrypt_rsa(53, 50, 52, 54), 0) << key_bits;
            ASSERT_EQ(vorn::decrypt_rsa(54, 51, 52, 55), 0) << key_bits;
            EXPECT_EQ(vorn::is_not_equal(53, 55), 0);
        }
    }
}

TEST(Rsa, PaddedTextRoundTrips) {
    // Text as the workbench stores it: byte form, padded to a multiple of 4 bytes.
    generate(256);
    vorn::putreg("Hello---", 53);
    ASSERT_EQ(vorn::encrypt_rsa(53, 50, 52, 54), 0);
    ASSERT_EQ(vorn::decrypt_rsa(54, 51, 52, 55), 0);
    EXPECT_EQ(vorn::getreg(55), "Hello---");
}

TEST(Rsa, BadInputsGiveTheirStatusAndTouchNothing) {
    Key key = generate(64);
    Z n_plus;
    mpz_add_ui(n_plus, key.n, 1);
    struct Case {
        const char *what;
        std::string message;  // byte form
        int32_t status, error;
    } cases[] = {
        {"5 bytes", "abcde", 1, VN_E_LENGTH4},
        {"1 byte", "a", 1, VN_E_LENGTH4},
        {"9 bytes", "abcdefghi", 1, VN_E_LENGTH4},
        {"equal to n (8 bytes)", crypto_test::bytes_of(key.n), 2, VN_E_RANGE},
        {"above n (12 bytes)", std::string(12, '\xff'), 2, VN_E_RANGE},
    };
    for (const auto &c : cases) {
        vorn::putreg(c.message, 53);
        vorn::putreg("old", 54);
        VN_CLEARGLOBALERROR();
        EXPECT_EQ(vorn::encrypt_rsa(53, 50, 52, 54), c.status) << c.what;
        EXPECT_EQ(vorn::global_error(), c.error) << c.what;
        EXPECT_EQ(vorn::getreg(54), "old") << c.what;
        VN_CLEARGLOBALERROR();
        EXPECT_EQ(vorn::decrypt_rsa(53, 51, 52, 54), c.status) << c.what;
        EXPECT_EQ(vorn::global_error(), c.error) << c.what;
        EXPECT_EQ(vorn::getreg(54), "old") << c.what;
        EXPECT_EQ(vorn::getreg(53), c.message);
    }
    // A number not below n.
    put_number(n_plus, 56);
    vorn::putreg("", 57);
    vorn::add(56, 57, 53);
    EXPECT_EQ(vorn::encrypt_rsa(53, 50, 52, 54), 2);
    // n = 0 and bad registers fail.
    vorn::putreg("", 58);
    vorn::putreg("abcd", 53);
    VN_CLEARGLOBALERROR();
    EXPECT_EQ(vorn::encrypt_rsa(53, 50, 58, 54), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_DIVZERO);
    VN_CLEARGLOBALERROR();
    EXPECT_EQ(vorn::decrypt_rsa(53, 51, 58, 54), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_DIVZERO);
    EXPECT_EQ(vorn::encrypt_rsa(53, 50, 52, -1), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_REGISTER);
    EXPECT_EQ(vorn::decrypt_rsa(VN_REGISTERS, 51, 52, 54), VN_FAIL);
    EXPECT_EQ(vorn::getreg(54), "old");
    EXPECT_EQ(mpz_cmp(reg_number(52), key.n), 0);
}

TEST(Rsa, DecryptionWithKeysThatAreNoRealKeys) {
    // Even moduli, exponent 0 and modulus 1 take no side-channel resistant path but must
    // still give c^d mod n.
    struct Case {
        unsigned long c, d, n;
    } cases[] = {{5, 3, 8}, {7, 0, 9}, {0, 0, 9}, {0, 5, 1}, {1, 0, 2}, {1, 7, 2}, {123456, 65537, 1000000}, {2, 10, 1025}};
    for (const auto &c : cases) {
        Z cz(c.c), dz(c.d), nz(c.n), expected;
        put_number(cz, 60);
        vorn::putreg("", 63);
        vorn::add(60, 63, 60);  // number form: no length rule
        put_number(dz, 61);
        put_number(nz, 62);
        ASSERT_EQ(vorn::decrypt_rsa(60, 61, 62, 64), 0) << c.c << "^" << c.d << " mod " << c.n;
        mpz_powm(expected, cz, dz, nz);
        EXPECT_EQ(mpz_cmp(reg_number(64), expected), 0) << c.c << "^" << c.d << " mod " << c.n;
    }
}

TEST(Rsa, KeySizeLimitsAndArguments) {
    vorn::putreg("e", 50);
    vorn::putreg("d", 51);
    vorn::putreg("n", 52);
    for (int32_t b : {-1, 0, 16, VN_MIN_RSA_BITS - 1, VN_MAX_RSA_BITS + 1}) {
        VN_CLEARGLOBALERROR();
        EXPECT_EQ(vorn::generate_rsa_keys(b, 5, 50, 51, 52), VN_FAIL) << b;
        EXPECT_EQ(vorn::global_error(), VN_E_BITS) << b;
    }
    EXPECT_EQ(vorn::getreg(50), "e");
    EXPECT_EQ(vorn::getreg(51), "d");
    EXPECT_EQ(vorn::getreg(52), "n");
    EXPECT_EQ(vorn::generate_rsa_keys(64, 5, 50, -3, 52), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_REGISTER);
    EXPECT_EQ(vorn::getreg(50), "e");
    // Round counts are clamped, not refused.
    for (int32_t k : {-5, 0, 1, 100000}) {
        Key key = generate(64, k);
        check_key(key, 64);
    }
    // One register for all three: n is written last.
    ASSERT_EQ(vorn::generate_rsa_keys(64, 3, 59, 59, 59), VN_OK);
    EXPECT_EQ(bits(reg_number(59)), 64u);
}

}  // namespace
