// Paths no call through the ABI reaches on its own, driven through the seams of
// libvorn/testing.h: a failing CSPRNG, the portable two-limb generator code on a CPU with
// BMI2, FLINT deciding the exact primality test, and long modular powers without the helper
// process. Linked with vorn_testing, the library's static copy that has the seams.
#include <gtest/gtest.h>
#include <openssl/rand.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <vorn.hpp>

#include "seed.h"
#include "test_crypto_mpz.h"
#include "testing.h"

namespace {

using crypto_test::bits;
using crypto_test::put_number;
using crypto_test::reg_number;
using crypto_test::Z;

// A CSPRNG that works for `draws_left` draws and then fails.
std::atomic<int> draws_left{0};
std::atomic<int> draws{0};
int failing_source(unsigned char *buf, int len) {
    ++draws;
    if (draws_left-- <= 0) return 0;
    return RAND_bytes(buf, len);
}

struct SeamsOff {
    ~SeamsOff() {
        vn::testing::random_source = nullptr;
        vn::testing::portable_two_limbs = false;
        vn::testing::flint_fallback = false;
        vn::testing::no_helper_jobs = false;
        vn::testing::aes_vectors_text = nullptr;
        vn::testing::sha256_vectors_text = nullptr;
    }
};

std::vector<std::string> registers(int count) {
    std::vector<std::string> r;
    for (int i = 0; i < count; ++i) r.push_back(vorn::getreg(i));
    return r;
}

TEST(Seams, EveryCsprngFailureGivesCryptoErrorAndChangesNothing) {
    SeamsOff off;
    Z prime;
    mpz_set_str(prime, "170141183460469231731687303715884105727", 10);  // 2^127 - 1
    // Each call that draws random numbers, on registers 0..5 (4 holds a prime, 5 an AES key).
    struct Case {
        const char *name;
        std::function<int32_t()> call;
        bool truth;  // a test: success is the verdict 1 (the numbers are prime)
    };
    const Case cases[] = {
        {"GENERATERANDOM", [] { return vorn::generate_random(200, 0); }, false},
        {"GENERATEPRIME", [] { return vorn::generate_prime(100, 3, 0); }, false},
        {"GENERATERSAKEYS", [] { return vorn::generate_rsa_keys(128, 3, 0, 1, 2); }, false},
        {"INITBBS", [] { return vorn::init_bbs(128, 3, 0, 1); }, false},
        {"ENCRYPT_AES_CBC", [] { int32_t p = 3, k = 5, iv = 6, c = 0; return VN_ENCRYPT_AES_CBC(&p, &k, &iv, &c); }, false},
        {"ISPRIME_F", [] { return vorn::is_prime_fermat(20, 4); }, true},
        {"ISPRIME_RB", [] { return vorn::is_prime_rabin_miller(20, 4); }, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        // Fail the first draw, then later and later ones, until the call needs no more.
        for (int k = 0;; k = k < 8 ? k + 1 : k * 2) {
            ASSERT_LT(k, 1 << 16) << "the call never finished";
            for (int i = 0; i < 8; ++i) vorn::putreg("", i);
            vorn::putreg("plaintext", 3);
            put_number(prime, 4);
            vorn::putreg(std::string(16, 'k'), 5);
            std::vector<std::string> before = registers(8);
            VN_CLEARGLOBALERROR();
            draws = 0;
            draws_left = k;
            vn::testing::random_source = failing_source;
            int32_t ret = c.call();
            vn::testing::random_source = nullptr;
            if (draws <= k) {
                // Finished before the failing draw: the run is complete.
                EXPECT_EQ(ret, c.truth ? 1 : VN_OK);
                break;
            }
            // Tests too: a failed random source is a failure, never a verdict.
            EXPECT_EQ(VN_GETGLOBALERROR(), VN_E_CRYPTO) << "failing draw " << k;
            EXPECT_EQ(ret, VN_FAIL) << "failing draw " << k;
            EXPECT_EQ(registers(8), before) << "failing draw " << k;
        }
    }
}

// x <- x^e mod n, the low j bits a step, packed least significant bit first.
std::string reference(Z &x, mpz_srcptr n, mpz_srcptr e, unsigned j, size_t len) {
    std::string out(len, '\0');
    for (size_t bit = 0; bit < len * 8;) {
        mpz_powm(x, x, e, n);
        for (unsigned b = 0; b < j && bit < len * 8; ++b, ++bit)
            if (mpz_tstbit(x, b)) out[bit / 8] = static_cast<char>(out[bit / 8] | (1 << (bit % 8)));
    }
    return out;
}

TEST(Seams, PortableTwoLimbCodeMatchesTheAssemblyAndGmp) {
    SeamsOff off;
    if (!__builtin_cpu_supports("bmi2")) std::printf("no BMI2 here: both runs take the portable code\n");
    std::mt19937_64 rng(test_seed());
    gmp_randstate_t rs;
    gmp_randinit_default(rs);
    gmp_randseed_ui(rs, static_cast<unsigned long>(rng()));
    // Moduli of 65 to 128 bits: below 2^126 the assembly keeps values below 2n, above it
    // corrects overflows; both sides of that line, and the ends of the two-limb range.
    for (unsigned nbits : {65u, 100u, 125u, 126u, 127u, 128u, 128u, 128u}) {
        Z n, s, e, x;
        mpz_urandomb(n, rs, nbits);
        mpz_setbit(n, nbits - 1);
        mpz_setbit(n, 0);
        mpz_urandomm(s, rs, n);
        mpz_add_ui(s, s, 2);
        mpz_mod(s, s, n);
        if (mpz_cmp_ui(s.v, 2) < 0) mpz_set_ui(s, 2);
        for (int which = 0; which < 3; ++which) {
            if (which == 0) mpz_set_ui(e, 65537);
            if (which == 1) mpz_set_ui(e, 3);
            if (which == 2) {
                mpz_urandomb(e, rs, nbits);
                mpz_setbit(e, 1);
            }
            SCOPED_TRACE("n of " + std::to_string(nbits) + " bits, e of " + std::to_string(bits(e)) + " bits");
            unsigned j = 1;
            while ((size_t{2} << j) <= nbits - 1) ++j;
            const size_t len = 200;
            mpz_set(x, s);
            std::string want = reference(x, n, e, j, len);
            std::string out[2], next[2];
            for (int portable = 0; portable < 2; ++portable) {
                vn::testing::portable_two_limbs = portable == 1;
                put_number(n, 1);
                put_number(s, 2);
                put_number(e, 3);
                int32_t l = static_cast<int32_t>(len);
                ASSERT_EQ(vorn::rsa_bits(l, 2, 3, 1, 4, 5), VN_OK);
                out[portable] = vorn::getreg(4);
                next[portable] = vorn::getreg(5);
            }
            EXPECT_EQ(out[1], out[0]);
            EXPECT_EQ(out[1], want);
            EXPECT_EQ(next[1], next[0]);
            EXPECT_EQ(next[1], crypto_test::bytes_of(x));
        }
    }
    gmp_randclear(rs);
}

// Numbers of a data file, one a line, the first line naming the source.
std::vector<std::string> numbers_in(const char *file) {
    std::ifstream in(std::string(VORN_TEST_DATA) + "/" + file);
    std::vector<std::string> out;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line))
        if (!line.empty() && line[0] >= '0' && line[0] <= '9') out.push_back(line.substr(0, line.find_first_of(" \t#")));
    return out;
}

TEST(Seams, FlintAloneDecidesTheExactTestRight) {
    SeamsOff off;
    vn::testing::flint_fallback = true;
    int checked = 0;
    // Known primes and composites above 64 bits, strong pseudoprimes included: without the
    // seam BPSW would turn the composites away before FLINT.
    for (const char *file : {"known_primes.txt", "known_composites.txt", "strong_pseudoprimes_first_bases.txt",
                             "carmichael.txt", "strong_pseudoprimes_base2.txt"}) {
        for (const std::string &text : numbers_in(file)) {
            Z n;
            ASSERT_EQ(mpz_set_str(n, text.c_str(), 10), 0) << file << ": " << text;
            if (bits(n) <= 64 || (bits(n) > 400 && mpz_probab_prime_p(n, 25))) continue;  // long proofs
            put_number(n, 1);
            EXPECT_EQ(vorn::is_prime_slow(1), mpz_probab_prime_p(n, 40) ? 1 : 0) << file << ": " << text;
            ++checked;
        }
    }
    EXPECT_GE(checked, 10);
}

// Where no helper process starts, a modular power beyond about 0.5 s of GMP's estimated time
// is taken in pieces of the exponent (here a 2^21-bit modulus, whose pieces are single bits,
// cheap only because GMP multiplies such numbers by FFT), and agrees with GMP.
TEST(Seams, WithoutTheHelperALongModularPowerGoesInPieces) {
    SeamsOff off;
    vn::testing::no_helper_jobs = true;
    Z a, e, m, r;
    mpz_ui_pow_ui(m, 3, 1323000);
    mpz_add_ui(m, m, 2);
    mpz_ui_pow_ui(a, 7, 700000);
    for (unsigned long exponent : {6ul, 13ul}) {
        mpz_set_ui(e, exponent);
        put_number(a, 1);
        put_number(e, 2);
        put_number(m, 3);
        ASSERT_EQ(vorn::powmod(1, 2, 3, 4), VN_OK);
        mpz_powm(r, a, e, m);
        EXPECT_EQ(mpz_cmp(reg_number(4), r), 0) << "exponent " << exponent;
    }
}

// The first vector line of a file in libvorn/vectors/.
std::string first_vector(const char *file) {
    std::ifstream in(std::string(VORN_VECTORS) + "/" + file);
    std::string line;
    while (std::getline(in, line))
        if (line.find_first_not_of(" \t") != std::string::npos && line[0] != '#') return line;
    return "";
}

TEST(Seams, KnownAnswerChecksFailWithoutVectors) {
    SeamsOff off;
    struct Kind {
        std::atomic<const char *> &text;
        int32_t (*check)();
        std::string good;
    } kinds[] = {
        {vn::testing::aes_vectors_text, VN_CHECKTESTVECTORS_AES, first_vector("aes.txt")},
        {vn::testing::sha256_vectors_text, VN_CHECKTESTVECTORS_SHA_256, first_vector("sha256.txt")},
    };
    for (Kind &k : kinds) {
        ASSERT_FALSE(k.good.empty());
        std::string bad = k.good;
        char &last = bad.back();
        last = last == '0' ? '1' : '0';  // one digit of the expected output changed
        const std::string texts[] = {"", "\n  \n", "# a comment\n", k.good, bad, k.good + "\n" + bad + "\n" + k.good};
        const int32_t want[] = {1, 1, 1, 0, 1, 1};
        for (size_t i = 0; i < std::size(texts); ++i) {
            k.text = texts[i].c_str();
            EXPECT_EQ(k.check(), want[i]) << "vectors: \"" << texts[i] << "\"";
        }
        k.text = nullptr;
        EXPECT_EQ(k.check(), 0);  // the built-in set again
    }
}

}  // namespace
