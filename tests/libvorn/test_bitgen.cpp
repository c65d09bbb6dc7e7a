// Blum-Blum-Shub and RSA bit generators and the BBS set-up, against a plain GMP reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <vorn.hpp>

#include "test_crypto_mpz.h"

namespace {

using crypto_test::bits;
using crypto_test::put_number;
using crypto_test::reg_number;
using crypto_test::Z;

// Registers: 70 state, 71 modulus, 72 output, 73 next state, 74 exponent.

// floor(log2(log2 n)) from its definition: the largest j with n >= 2^(2^j); at least 1.
unsigned reference_bits_per_step(mpz_srcptr n) {
    unsigned j = 0;
    for (;;) {
        Z power;
        mpz_set_ui(power, 0);
        mpz_setbit(power, 1ul << (j + 1));
        if (mpz_cmp(n, power) < 0) break;
        ++j;
    }
    return std::max(j, 1u);
}

// The generator written out with mpz_powm: x <- x^e mod n, low j bits of x a step, bit 0
// first, packed least significant bit first. Returns the bytes; x ends as the final state.
std::string reference_output(Z &x, mpz_srcptr n, mpz_srcptr e, unsigned j, size_t len) {
    std::string out(len, '\0');
    mpz_mod(x, x, n);
    for (size_t bit = 0; bit < len * 8;) {
        mpz_powm(x, x, e, n);
        for (unsigned b = 0; b < j && bit < len * 8; ++b, ++bit)
            if (mpz_tstbit(x, b)) out[bit / 8] = static_cast<char>(out[bit / 8] | (1 << (bit % 8)));
    }
    return out;
}

enum Kind { bbs_one_bit, bbs_multi, rsa };

// Runs the library generator of `kind` from registers 70 (state), 71 (n), 74 (e) into 72/73.
int32_t run(Kind kind, int32_t len, vorn::Reg state = 70, vorn::Reg next = 73) {
    if (kind == rsa) return vorn::rsa_bits(len, state, 74, 71, 72, next);
    return vorn::bbs_bits(len, kind == bbs_multi ? 1 : 0, state, 71, 72, next);
}

// Checks one library call against the reference for modulus n, state s and exponent e.
void expect_matches_reference(Kind kind, mpz_srcptr n, mpz_srcptr s, unsigned long e, size_t len) {
    Z x, ez(kind == rsa ? e : 2);
    mpz_set(x, s);
    unsigned j = kind == bbs_one_bit ? 1 : reference_bits_per_step(n);
    std::string expected = reference_output(x, n, ez, j, len);
    put_number(n, 71);
    put_number(s, 70);
    put_number(ez, 74);
    // A state whose first step lands on a fixed point gives constant output: refused.
    Z first, second;
    mpz_mod(first, s, n);
    mpz_powm(first, first, ez, n);
    mpz_powm(second, first, ez, n);
    if (mpz_cmp(first, second) == 0) {
        EXPECT_EQ(run(kind, static_cast<int32_t>(len)), VN_FAIL) << "n of " << bits(n) << " bits";
        EXPECT_EQ(vorn::global_error(), VN_E_ARGUMENT);
        return;
    }
    ASSERT_EQ(run(kind, static_cast<int32_t>(len)), VN_OK) << "n of " << bits(n) << " bits";
    std::string got = vorn::getreg(72);
    ASSERT_EQ(got.size(), len);
    EXPECT_EQ(got, expected) << "kind " << kind << ", n of " << bits(n) << " bits, e " << e;
    EXPECT_EQ(mpz_cmp(reg_number(73), x), 0) << "final state, n of " << bits(n) << " bits";
}

// Odd moduli of every size class the generators treat apart (one limb, two limbs, more),
// with values at the limb boundaries that stress carries.
std::vector<Z> test_moduli(std::mt19937_64 &rng) {
    std::vector<Z> out;
    for (size_t b : {2, 5, 17, 33, 63, 64, 65, 100, 127, 128, 129, 191, 192, 193, 256, 521, 1024, 1100}) {
        Z n = crypto_test::random_below_pow2(rng, b);
        mpz_setbit(n, b - 1);
        mpz_setbit(n, 0);
        out.push_back(n);
    }
    for (unsigned b : {64, 128, 192, 256}) {
        Z n;  // 2^b - 1, 2^b - 159, 2^(b-1) + 1
        mpz_set_ui(n, 0);
        mpz_setbit(n, b);
        mpz_sub_ui(n, n, 1);
        out.push_back(n);
        mpz_sub_ui(n, n, 158);
        out.push_back(n);
        mpz_set_ui(n, 1);
        mpz_setbit(n, b - 1);
        out.push_back(n);
    }
    return out;
}

TEST(BitGenerators, MatchTheReferenceForEveryModulusSize) {
    std::mt19937_64 rng(test_seed());
    for (Z &n : test_moduli(rng)) {
        for (int round = 0; round < 2; ++round) {
            Z s;
            do mpz_mod(s, crypto_test::random_below_pow2(rng, bits(n) + 8), n);
            while (mpz_cmp_ui(s.v, 1) <= 0);
            if (round == 1) mpz_add(s, s, n);  // a state not reduced modulo n
            size_t len = 1 + rng() % 90;
            expect_matches_reference(bbs_one_bit, n, s, 2, len);
            expect_matches_reference(bbs_multi, n, s, 2, len);
            for (unsigned long e : {2ul, 3ul, 65537ul}) expect_matches_reference(rsa, n, s, e, len);
        }
    }
}

TEST(BitGenerators, RealKeysMatchTheReference) {
    for (int32_t b : {16, 48, 64, 65, 128, 256, 1024}) {
        ASSERT_EQ(vorn::init_bbs(b, 4, 71, 70), VN_OK);
        Z n = reg_number(71), s = reg_number(70);
        expect_matches_reference(bbs_multi, n, s, 2, 300);
        expect_matches_reference(bbs_one_bit, n, s, 2, 50);
        if (b >= 32) {
            ASSERT_EQ(vorn::generate_rsa_keys(b, 3, 74, 75, 71), VN_OK);
            Z rn = reg_number(71);
            mpz_mod(s, s, rn);
            expect_matches_reference(rsa, rn, s, 65537, 300);
        }
    }
}

TEST(BitGenerators, LongRunsMatchTheReference) {
    // Tens of thousands of steps, so that rare corrections of the reductions come up.
    for (int32_t b : {65, 96, 127, 128, 129}) {
        ASSERT_EQ(vorn::init_bbs(b, 3, 71, 70), VN_OK);
        Z n = reg_number(71), s = reg_number(70);
        expect_matches_reference(bbs_multi, n, s, 2, 20000);
    }
}

TEST(BitGenerators, LongRsaRunsOnTwoLimbModuliMatchTheReference) {
    // The two-limb Montgomery code keeps values that need not be below n (below 2n up to
    // 126 bits) and corrects overflows past 2^128: long runs with moduli at the edges of 65
    // to 128 bits, and a modulus with a square factor, whose powers can reach 0.
    std::mt19937_64 rng(test_seed());
    std::vector<Z> moduli;
    for (unsigned b : {65, 96, 126, 127, 128}) {
        Z n = crypto_test::random_below_pow2(rng, b);
        mpz_setbit(n, b - 1);
        mpz_setbit(n, 0);
        moduli.push_back(n);
    }
    for (unsigned b : {126, 128}) {
        for (unsigned long below : {1ul, 159ul}) {
            Z n;  // 2^b - 1, 2^b - 159
            mpz_set_ui(n, 0);
            mpz_setbit(n, b);
            mpz_sub_ui(n, n, below);
            moduli.push_back(n);
        }
    }
    for (unsigned b : {64, 126, 127}) {
        Z n;  // 2^b + 1
        mpz_set_ui(n, 1);
        mpz_setbit(n, b);
        moduli.push_back(n);
    }
    Z cube;  // 3^80, of 127 bits: with e = 3 the state 3 goes to 0 in four steps
    mpz_ui_pow_ui(cube, 3, 80);
    moduli.push_back(cube);
    for (Z &n : moduli) {
        Z s;
        do mpz_mod(s, crypto_test::random_below_pow2(rng, bits(n) + 8), n);
        while (mpz_cmp_ui(s.v, 1) <= 0);
        for (unsigned long e : {3ul, 65537ul}) expect_matches_reference(rsa, n, s, e, 3000);
    }
    Z three(3);
    expect_matches_reference(rsa, cube, three, 3, 100);
}

TEST(BitGenerators, ConsecutiveCallsContinueOneSequence) {
    // With j dividing 8 * 500 no bits are dropped between calls: two calls of 500 bytes are
    // exactly one of 1000. Otherwise the second call starts from the state the first left.
    struct Case {
        Kind kind;
        int32_t modulus_bits;  // 48: j = 5; 128: j = 6; 1024: j = 9
        bool aligned;
    } cases[] = {{bbs_one_bit, 128, true}, {bbs_multi, 48, true}, {rsa, 48, true},
                 {bbs_multi, 128, false}, {rsa, 128, false}, {bbs_multi, 1024, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE("kind " + std::to_string(c.kind) + ", " + std::to_string(c.modulus_bits) + " bits");
        vorn::init_bbs(c.modulus_bits, 3, 71, 70);
        if (c.kind == rsa) {
            vorn::generate_rsa_keys(c.modulus_bits, 3, 74, 75, 71);
            vorn::generate_random(c.modulus_bits - 8, 70);
        }
        Z n = reg_number(71), s = reg_number(70), e = c.kind == rsa ? reg_number(74) : Z(2);
        vorn::copyreg(70, 76);
        ASSERT_EQ(run(c.kind, 1000, 70, 77), VN_OK);
        std::string whole = vorn::getreg(72);
        ASSERT_EQ(run(c.kind, 500, 76, 76), VN_OK);  // next state into the state register
        std::string first = vorn::getreg(72);
        ASSERT_EQ(run(c.kind, 500, 76, 76), VN_OK);
        std::string second = vorn::getreg(72);
        if (c.aligned) {
            EXPECT_EQ(first + second, whole);
            EXPECT_EQ(vorn::is_equal(76, 77), 1);
        }
        Z x = s;
        unsigned j = c.kind == bbs_one_bit ? 1 : reference_bits_per_step(n);
        EXPECT_EQ(first, reference_output(x, n, e, j, 500));
        EXPECT_EQ(second, reference_output(x, n, e, j, 500));
        EXPECT_EQ(mpz_cmp(reg_number(76), x), 0);
        EXPECT_EQ(vorn::is_equal(70, 70), 1);
        EXPECT_EQ(mpz_cmp(reg_number(70), s), 0);  // a separate s2 leaves s as it was
    }
}

TEST(BitGenerators, DeterministicAndExactlyLenBytes) {
    vorn::init_bbs(128, 3, 71, 70);
    for (int32_t len : {1, 2, 3, 7, 8, 999, 1000, 1001, 4097}) {
        ASSERT_EQ(run(bbs_multi, len), VN_OK);
        std::string a = vorn::getreg(72);
        ASSERT_EQ(run(bbs_multi, len), VN_OK);
        EXPECT_EQ(vorn::getreg(72), a);
        EXPECT_EQ(a.size(), static_cast<size_t>(len));
    }
    // An output whose last byte is zero keeps it.
    bool seen_zero_end = false;
    for (int i = 0; i < 20000 && !seen_zero_end; ++i) {
        ASSERT_EQ(run(bbs_multi, 3, 70, 70), VN_OK);
        std::string out = vorn::getreg(72);
        ASSERT_EQ(out.size(), 3u);
        seen_zero_end = out.back() == '\0';
    }
    EXPECT_TRUE(seen_zero_end);
}

// Byte-frequency chi-square, bit runs and monobit of a supposedly random buffer; thresholds
// are six standard deviations or more, so a sound generator fails with negligible chance.
bool looks_random(const std::string &data, std::string &why) {
    double counts[256] = {};
    for (unsigned char c : data) counts[c] += 1;
    double expected = static_cast<double>(data.size()) / 256, chi2 = 0;
    for (double c : counts) chi2 += (c - expected) * (c - expected) / expected;
    size_t n_bits = data.size() * 8, ones = 0, runs = 1;
    int prev = data[0] & 1;
    for (size_t i = 0; i < n_bits; ++i) {
        int b = (static_cast<unsigned char>(data[i / 8]) >> (i % 8)) & 1;
        ones += static_cast<size_t>(b);
        if (i > 0 && b != prev) ++runs;
        prev = b;
    }
    double sd = std::sqrt(static_cast<double>(n_bits)) / 2;
    double ones_dev = std::abs(static_cast<double>(ones) - n_bits / 2.0) / sd;
    double runs_dev = std::abs(static_cast<double>(runs) - (n_bits + 1) / 2.0) / sd;
    // A cycle repeats the output: the first 32 bytes must not come again.
    bool repeats = std::search(data.begin() + 1, data.end(), data.begin(), data.begin() + 32) != data.end();
    why = "chi2 " + std::to_string(chi2) + ", ones " + std::to_string(ones_dev) + " sd, runs " +
          std::to_string(runs_dev) + " sd" + (repeats ? ", repeats" : "");
    return chi2 < 400 && ones_dev < 6 && runs_dev < 6 && !repeats;
}

TEST(BitGenerators, OneMegabyteOfBbsLooksRandom) {
    ASSERT_EQ(vorn::init_bbs(128, 3, 71, 70), VN_OK);
    std::string data;
    for (int chunk = 0; chunk < 1000; ++chunk) {
        ASSERT_EQ(run(bbs_multi, 1000, 70, 70), VN_OK);
        data += vorn::getreg(72);
    }
    std::string why;
    EXPECT_TRUE(looks_random(data, why)) << why;
    // The checks do catch broken generators: a stuck bit, and output that repeats.
    std::string stuck = data;
    for (auto &c : stuck) c = static_cast<char>(c | 0x10);
    EXPECT_FALSE(looks_random(stuck, why)) << why;
    std::string repeated;
    while (repeated.size() < data.size()) repeated += data.substr(0, 1000);
    EXPECT_FALSE(looks_random(repeated, why)) << why;
    std::string one_bit_stuck_in_lsb = data;
    for (auto &c : one_bit_stuck_in_lsb) c = static_cast<char>(c & 0xfe);
    EXPECT_FALSE(looks_random(one_bit_stuck_in_lsb, why)) << why;
}

// u128 Pollard rho, enough to split BBS moduli of up to 64 bits.
using u128 = unsigned __int128;
uint64_t gcd64(uint64_t a, uint64_t b) {
    while (b) std::swap(a %= b, b);
    return a;
}
uint64_t split(uint64_t n) {
    if (n % 2 == 0) return 2;
    for (uint64_t c = 1;; ++c) {
        uint64_t x = 2, y = 2, d = 1;
        auto f = [&](uint64_t v) { return static_cast<uint64_t>((static_cast<u128>(v) * v + c) % n); };
        while (d == 1) {
            x = f(x);
            y = f(f(y));
            d = gcd64(x > y ? x - y : y - x, n);
        }
        if (d != n) return d;
    }
}

TEST(BitGenerators, BbsSetUpMakesBlumIntegersAndASquare) {
    for (int32_t b : {16, 17, 24, 31, 32, 48, 63, 64, 65, 100, 128, 129, 256, 512, 1024}) {
        SCOPED_TRACE(std::to_string(b) + " bits");
        ASSERT_EQ(vorn::init_bbs(b, 4, 71, 70), VN_OK);
        Z n = reg_number(71), s = reg_number(70), g;
        EXPECT_EQ(bits(n), static_cast<size_t>(b));
        EXPECT_EQ(mpz_fdiv_ui(n, 4), 1u);  // p = q = 3 (mod 4)
        EXPECT_LT(mpz_cmp(s, n), 0);
        EXPECT_GT(mpz_cmp_ui(s.v, 1), 0);
        mpz_gcd(g, s, n);
        EXPECT_EQ(mpz_cmp_ui(g.v, 1), 0);
        if (b <= 64) {
            uint64_t nv = 0;
            mpz_export(&nv, nullptr, -1, 8, 0, 0, n);
            uint64_t p = split(nv), q = nv / p;
            Z pz(p), qz(q);
            EXPECT_GT(mpz_probab_prime_p(pz, 20), 0);
            EXPECT_GT(mpz_probab_prime_p(qz, 20), 0);
            EXPECT_NE(p, q);
            EXPECT_EQ(p % 4, 3u);
            EXPECT_EQ(q % 4, 3u);
            EXPECT_EQ(std::min(bits(pz), bits(qz)), static_cast<size_t>(b / 2));
            // s is a square modulo both primes (Euler's criterion).
            for (Z *f : {&pz, &qz}) {
                Z exp, r;
                mpz_sub_ui(exp, *f, 1);
                mpz_tdiv_q_2exp(exp, exp, 1);
                mpz_powm(r, s, exp, *f);
                EXPECT_EQ(mpz_cmp_ui(r.v, 1), 0);
            }
        }
    }
    // Writes n, then s: one register for both ends with s.
    ASSERT_EQ(vorn::init_bbs(64, 3, 78, 78), VN_OK);
    EXPECT_LE(bits(reg_number(78)), 64u);
}

TEST(BitGenerators, BadInputsFailAndTouchNothing) {
    ASSERT_EQ(vorn::init_bbs(128, 3, 71, 70), VN_OK);
    Z n = reg_number(71), big;
    mpz_set_ui(big, 1);
    mpz_setbit(big, VN_MAX_BBS_BITS + 1);
    struct Case {
        const char *what;
        int32_t len;
        std::string state, modulus, exponent;  // empty modulus: keep the BBS one
        Kind kind;
        int32_t error;
    };
    std::string n_bytes = crypto_test::bytes_of(n);
    Z n_plus_1;
    mpz_add_ui(n_plus_1, n, 1);
    Case cases[] = {
        {"len 0", 0, "\x05", n_bytes, "\x03", bbs_multi, VN_E_BITS},
        {"len -1", -1, "\x05", n_bytes, "\x03", bbs_one_bit, VN_E_BITS},
        {"len beyond 16 MiB", VN_MAX_GENERATE_BYTES + 1, "\x05", n_bytes, "\x03", rsa, VN_E_BITS},
        {"modulus 0", 10, "\x05", "", "\x03", bbs_multi, VN_E_ARGUMENT},
        {"modulus 1", 10, "\x05", "\x01", "\x03", bbs_multi, VN_E_ARGUMENT},
        {"modulus 2", 10, "\x05", "\x02", "\x03", rsa, VN_E_ARGUMENT},
        {"even modulus", 10, "\x05", std::string("\x00\x01", 2), "\x03", bbs_multi, VN_E_ARGUMENT},
        {"huge modulus", 10, "\x05", crypto_test::bytes_of(big) + "\x01", "\x03", bbs_multi, VN_E_ARGUMENT},
        {"state 0", 10, "", n_bytes, "\x03", bbs_multi, VN_E_ARGUMENT},
        {"state 1", 10, "\x01", n_bytes, "\x03", rsa, VN_E_ARGUMENT},
        {"state n", 10, n_bytes, n_bytes, "\x03", bbs_one_bit, VN_E_ARGUMENT},
        {"state n + 1", 10, crypto_test::bytes_of(n_plus_1), n_bytes, "\x03", bbs_multi, VN_E_ARGUMENT},
        {"exponent 0", 10, "\x05", n_bytes, "", rsa, VN_E_ARGUMENT},
        {"exponent 1", 10, "\x05", n_bytes, "\x01", rsa, VN_E_ARGUMENT},
        {"exponent beyond the modulus", 10, "\x05", n_bytes, std::string(17, '\xff'), rsa, VN_E_ARGUMENT},
    };
    for (const auto &c : cases) {
        vorn::putreg(c.state, 70);
        vorn::putreg(c.modulus, 71);
        vorn::putreg(c.exponent, 74);
        vorn::putreg("out", 72);
        vorn::putreg("next", 73);
        VN_CLEARGLOBALERROR();
        EXPECT_EQ(run(c.kind, c.len), VN_FAIL) << c.what;
        EXPECT_EQ(vorn::global_error(), c.error) << c.what;
        EXPECT_EQ(vorn::getreg(72), "out") << c.what;
        EXPECT_EQ(vorn::getreg(73), "next") << c.what;
        EXPECT_EQ(vorn::getreg(70), c.state) << c.what;
        EXPECT_EQ(vorn::getreg(71), c.modulus) << c.what;
        EXPECT_EQ(vorn::getreg(74), c.exponent) << c.what;
    }
    // Bad registers and null pointers.
    put_number(n, 71);
    vorn::putreg("\x05", 70);
    int32_t len = 10;
    EXPECT_EQ(vorn::bbs_bits(len, 1, 70, 71, -1, 73), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_REGISTER);
    EXPECT_EQ(vorn::rsa_bits(len, 70, VN_REGISTERS, 71, 72, 73), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_REGISTER);
    int32_t s = 70, nr = 71, o = 72, s2 = 73;
    EXPECT_EQ(VN_GENERATEBBSRANDOMBITS(nullptr, &len, &s, &nr, &o, &s2), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_ARGUMENT);
    EXPECT_EQ(VN_GENERATERSARANDOMBITS(&len, &s, nullptr, &nr, &o, &s2), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_ARGUMENT);
    // Set-up sizes out of range.
    for (int32_t b : {-1, 0, VN_MIN_BBS_BITS - 1, VN_MAX_BBS_BITS + 1}) {
        VN_CLEARGLOBALERROR();
        EXPECT_EQ(vorn::init_bbs(b, 3, 71, 70), VN_FAIL) << b;
        EXPECT_EQ(vorn::global_error(), VN_E_BITS) << b;
    }
    EXPECT_EQ(mpz_cmp(reg_number(71), n), 0);
}

TEST(BitGenerators, MultiOtherThanOneTakesOneBit) {
    ASSERT_EQ(vorn::init_bbs(128, 3, 71, 70), VN_OK);
    int32_t len = 100;
    ASSERT_EQ(vorn::bbs_bits(len, 0, 70, 71, 72, 73), VN_OK);
    std::string one_bit = vorn::getreg(72);
    for (int32_t multi : {2, -1, 1000}) {
        ASSERT_EQ(vorn::bbs_bits(len, multi, 70, 71, 72, 73), VN_OK);
        EXPECT_EQ(vorn::getreg(72), one_bit) << multi;
    }
}

}  // namespace
