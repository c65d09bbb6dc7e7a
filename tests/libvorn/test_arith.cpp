// Arithmetic: results against GMP computed in the test, aliasing of operands and
// destinations, size limits, and failures that must leave every register untouched.
#include <gmp.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>
#include <vorn.hpp>

#include "seed.h"

namespace {

// A number as the library stores it: least significant byte first, no high zero bytes.
std::string bytes_of(mpz_srcptr x) {
    std::string b((mpz_sizeinbase(x, 2) + 7) / 8, '\0');
    if (mpz_sgn(x) == 0) return "";
    mpz_export(b.data(), nullptr, -1, 1, 0, 0, x);
    return b;
}

void put(mpz_srcptr x, vorn::Reg r) { ASSERT_EQ(vorn::putreg(bytes_of(x), r), VN_OK); }

void put(const char *decimal, vorn::Reg r) {
    mpz_t x;
    mpz_init_set_str(x, decimal, 10);
    put(x, r);
    mpz_clear(x);
}

std::string get_dec(vorn::Reg r) {
    std::string b = vorn::getreg(r);
    mpz_t x;
    mpz_init(x);
    mpz_import(x, b.size(), -1, 1, 0, 0, b.data());
    char *s = mpz_get_str(nullptr, 10, x);
    std::string out(s);
    free(s);
    mpz_clear(x);
    return out;
}

// Random number of 0 .. max_bits bits, biased towards limb and byte boundaries.
void random_number(mpz_ptr x, gmp_randstate_t rs, std::mt19937_64 &gen, unsigned max_bits) {
    static const unsigned edges[] = {0, 1, 7, 8, 9, 63, 64, 65, 127, 128, 129};
    unsigned bits = gen() % 4 == 0 ? edges[gen() % std::size(edges)] : static_cast<unsigned>(gen() % (max_bits + 1));
    if (gen() % 3 == 0) mpz_rrandomb(x, rs, bits);  // long runs of ones and zeros
    else mpz_urandomb(x, rs, bits);
}

struct Operation {
    const char *name;
    int operands;  // 2 or 3 register operands before the destination
    std::function<int32_t(vorn::Reg, vorn::Reg, vorn::Reg, vorn::Reg)> call;
    // Reference result from GMP; false when the operation must fail for these operands.
    std::function<bool(mpz_ptr, mpz_srcptr, mpz_srcptr, mpz_srcptr)> expect;
};

const std::vector<Operation> &operations() {
    static const std::vector<Operation> ops = {
        {"ADD", 2, [](auto a, auto b, auto, auto d) { return vorn::add(a, b, d); },
         [](mpz_ptr r, mpz_srcptr a, mpz_srcptr b, mpz_srcptr) { mpz_add(r, a, b); return true; }},
        {"SUB", 2, [](auto a, auto b, auto, auto d) { return vorn::sub(a, b, d); },
         [](mpz_ptr r, mpz_srcptr a, mpz_srcptr b, mpz_srcptr) { mpz_sub(r, a, b); mpz_abs(r, r); return true; }},
        {"MUL", 2, [](auto a, auto b, auto, auto d) { return vorn::mul(a, b, d); },
         [](mpz_ptr r, mpz_srcptr a, mpz_srcptr b, mpz_srcptr) { mpz_mul(r, a, b); return true; }},
        {"MOD", 2, [](auto a, auto b, auto, auto d) { return vorn::mod(a, b, d); },
         [](mpz_ptr r, mpz_srcptr a, mpz_srcptr b, mpz_srcptr) {
             if (mpz_sgn(b) == 0) return false;
             mpz_mod(r, a, b);
             return true;
         }},
        {"GCD", 2, [](auto a, auto b, auto, auto d) { return vorn::gcd(a, b, d); },
         [](mpz_ptr r, mpz_srcptr a, mpz_srcptr b, mpz_srcptr) { mpz_gcd(r, a, b); return true; }},
        {"POWMOD", 3, [](auto a, auto b, auto c, auto d) { return vorn::powmod(a, b, c, d); },
         [](mpz_ptr r, mpz_srcptr a, mpz_srcptr b, mpz_srcptr c) {
             if (mpz_sgn(c) == 0) return false;
             mpz_powm(r, a, b, c);
             return true;
         }},
    };
    return ops;
}

TEST(Arithmetic, RandomOperandsAgreeWithGmpWhateverTheAliasing) {
    uint64_t seed = test_seed();
    std::mt19937_64 gen(seed);
    gmp_randstate_t rs;
    gmp_randinit_default(rs);
    gmp_randseed_ui(rs, static_cast<unsigned long>(seed));
    mpz_t v[3], want;
    for (auto &x : v) mpz_init(x);
    mpz_init(want);
    // Register layouts: distinct, destination = first, = second, = third, all one register.
    const vorn::Reg layouts[][4] = {{1, 2, 3, 4}, {1, 2, 3, 1}, {1, 2, 3, 2}, {1, 2, 3, 3}, {5, 5, 5, 5}};
    for (int round = 0; round < 300; ++round) {
        for (const Operation &op : operations()) {
            for (auto &x : v) random_number(x, rs, gen, 700);
            if (std::string(op.name) == "POWMOD") mpz_urandomb(v[1], rs, gen() % 200);
            for (const auto &l : layouts) {
                // Same register for several operands means the same value.
                if (l[0] == l[1]) mpz_set(v[1], v[0]), mpz_set(v[2], v[0]);
                put(v[0], l[0]);
                put(v[1], l[1]);
                if (op.operands == 3) put(v[2], l[2]);
                VN_CLEARGLOBALERROR();
                bool ok = op.expect(want, v[0], v[1], v[2]);
                int32_t rc = op.call(l[0], l[1], l[2], l[3]);
                char *a = mpz_get_str(nullptr, 16, v[0]);
                SCOPED_TRACE(std::string(op.name) + " a=0x" + a + " seed " + std::to_string(seed));
                free(a);
                if (!ok) {
                    EXPECT_EQ(rc, VN_FAIL);
                    EXPECT_EQ(vorn::global_error(), VN_E_DIVZERO);
                    continue;
                }
                ASSERT_EQ(rc, VN_OK);
                char *w = mpz_get_str(nullptr, 10, want);
                EXPECT_EQ(get_dec(l[3]), w);
                free(w);
            }
        }
    }
    for (auto &x : v) mpz_clear(x);
    mpz_clear(want);
    gmp_randclear(rs);
}

TEST(Arithmetic, DivisionGivesQuotientAndRemainderWithAnyAliasing) {
    std::mt19937_64 gen(test_seed());
    gmp_randstate_t rs;
    gmp_randinit_default(rs);
    gmp_randseed_ui(rs, static_cast<unsigned long>(test_seed() + 1));
    mpz_t a, b, q, r;
    mpz_inits(a, b, q, r, nullptr);
    // {a, b, q, r}: q and r apart, over a or b, and q = r (the remainder, written last, wins).
    const vorn::Reg layouts[][4] = {{1, 2, 3, 4}, {1, 2, 1, 2}, {1, 2, 2, 1}, {1, 2, 3, 3}, {1, 1, 1, 2}};
    for (int round = 0; round < 200; ++round) {
        random_number(a, rs, gen, 900);
        do random_number(b, rs, gen, 500); while (mpz_sgn(b) == 0);
        for (const auto &l : layouts) {
            if (l[0] == l[1]) mpz_set(b, a);
            if (mpz_sgn(b) == 0) continue;
            mpz_fdiv_qr(q, r, a, b);
            put(a, l[0]);
            put(b, l[1]);
            ASSERT_EQ(vorn::div(l[0], l[1], l[2], l[3]), VN_OK);
            char *rs_text = mpz_get_str(nullptr, 10, r), *qs = mpz_get_str(nullptr, 10, q);
            EXPECT_EQ(get_dec(l[3]), rs_text);
            if (l[2] != l[3]) {
                EXPECT_EQ(get_dec(l[2]), qs);
            }
            free(rs_text);
            free(qs);
        }
    }
    mpz_clears(a, b, q, r, nullptr);
    gmp_randclear(rs);
}

TEST(Arithmetic, HalvingDoublingAndModularInverse) {
    struct Case {
        const char *a, *m, *inverse;  // inverse nullptr: none exists
    };
    const Case cases[] = {
        {"3", "7", "5"},    {"10", "17", "12"}, {"0", "1", "0"},   {"5", "1", "0"},
        {"6", "9", nullptr}, {"0", "7", nullptr}, {"1", "2", "1"},
        {"18446744073709551617", "274177822531", nullptr},  // common factor 274177
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " mod " + c.m);
        put(c.a, 1);
        put(c.m, 2);
        put("4242", 3);
        VN_CLEARGLOBALERROR();
        int32_t rc = vorn::modinv(1, 2, 3);
        if (c.inverse) {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(get_dec(3), c.inverse);
        } else {
            // No inverse: status 1, destination kept.
            EXPECT_EQ(rc, 1);
            EXPECT_EQ(vorn::global_error(), VN_E_NOINVERSE);
            EXPECT_EQ(get_dec(3), "4242");
        }
    }
    // Inverse into its own operand, and checked by multiplication.
    put("340282366920938463463374607431768211455", 1);
    put("340282366920938463463374607431768211297", 2);  // prime
    ASSERT_EQ(vorn::copyreg(1, 4), VN_OK);
    ASSERT_EQ(vorn::modinv(1, 2, 1), 0);
    ASSERT_EQ(vorn::mul(1, 4, 5), VN_OK);
    ASSERT_EQ(vorn::mod(5, 2, 5), VN_OK);
    EXPECT_EQ(get_dec(5), "1");

    const char *halving[][3] = {{"0", "0", "0"}, {"1", "0", "1"}, {"511", "255", "1"},
                                {"18446744073709551617", "9223372036854775808", "1"}};
    for (const auto &h : halving) {
        put(h[0], 1);
        ASSERT_EQ(vorn::divby2(1, 2, 3), VN_OK);
        EXPECT_EQ(get_dec(2), h[1]);
        EXPECT_EQ(get_dec(3), h[2]);
        ASSERT_EQ(vorn::divby2(1, 1, 1), VN_OK);  // one register for all: r wins
        EXPECT_EQ(get_dec(1), h[2]);
        put(h[0], 1);
        ASSERT_EQ(vorn::mulby2(1, 1), VN_OK);
        ASSERT_EQ(vorn::divby2(1, 1, 2), VN_OK);
        EXPECT_EQ(get_dec(1), h[0]);
        EXPECT_EQ(get_dec(2), "0");
    }
}

TEST(Arithmetic, SubtractionHasNoSign) {
    put("5", 1);
    put("12", 2);
    ASSERT_EQ(vorn::sub(1, 2, 3), VN_OK);
    EXPECT_EQ(get_dec(3), "7");
    ASSERT_EQ(vorn::sub(2, 1, 3), VN_OK);
    EXPECT_EQ(get_dec(3), "7");
    ASSERT_EQ(vorn::huge2dec(3, 4), VN_OK);
    EXPECT_EQ(vorn::getreg(4), "7");
    ASSERT_EQ(vorn::sub(1, 1, 1), VN_OK);
    EXPECT_EQ(vorn::getreg(1), "");  // zero has no bytes
}

TEST(Arithmetic, PowersAtTheEdges) {
    const char *cases[][3] = {{"0", "0", "1"}, {"0", "5", "0"}, {"7", "0", "1"}, {"1", "1000000000000", "1"},
                              {"2", "100", "1267650600228229401496703205376"}, {"10", "3", "1000"}};
    for (const auto &c : cases) {
        put(c[0], 1);
        put(c[1], 2);
        ASSERT_EQ(vorn::pow(1, 2, 3), VN_OK) << c[0] << "^" << c[1];
        EXPECT_EQ(get_dec(3), c[2]);
    }
    // POWMOD: m = 1 gives 0; 0^0 mod m = 1.
    put("0", 1);
    put("0", 2);
    put("7", 3);
    ASSERT_EQ(vorn::powmod(1, 2, 3, 4), VN_OK);
    EXPECT_EQ(get_dec(4), "1");
    put("1", 3);
    ASSERT_EQ(vorn::powmod(1, 2, 3, 4), VN_OK);
    EXPECT_EQ(get_dec(4), "0");
}

TEST(Arithmetic, LargestPowersWorkAndHugeOnesAreRefusedAtOnce) {
    // 3^10,000,000 has 15,849,626 bits: well inside the limit.
    put("3", 1);
    put("10000000", 2);
    ASSERT_EQ(vorn::pow(1, 2, 3), VN_OK);
    mpz_t x;
    mpz_init(x);
    std::string b = vorn::getreg(3);
    mpz_import(x, b.size(), -1, 1, 0, 0, b.data());
    EXPECT_EQ(mpz_sizeinbase(x, 2), 15849626u);
    // Checked modulo a prime against an independent modular power.
    mpz_t m, e, n;
    mpz_init_set_ui(m, 3);
    mpz_init_set_ui(e, 10000000);
    mpz_init_set_ui(n, 1000000007);
    mpz_powm(m, m, e, n);
    EXPECT_EQ(mpz_fdiv_ui(x, 1000000007), mpz_get_ui(m));
    mpz_clears(m, e, n, nullptr);
    // 2^(10^18) and the like: refused before anything is computed or allocated.
    const char *too_big[][2] = {{"2", "1000000000000000000"}, {"2", "268435456"},
                                {"3", "169366296"}, {"2", "340282366920938463463374607431768211456"}};
    put("99", 4);
    for (const auto &t : too_big) {
        put(t[0], 1);
        put(t[1], 2);
        VN_CLEARGLOBALERROR();
        EXPECT_EQ(vorn::pow(1, 2, 4), VN_FAIL) << t[0] << "^" << t[1];
        EXPECT_EQ(vorn::global_error(), VN_E_TOOBIG);
        EXPECT_EQ(get_dec(4), "99");
    }
    // Exactly at the limit: 2^(2^28 - 1) has 2^28 bits and is allowed; doubling it is not.
    put("2", 1);
    put("268435455", 2);
    ASSERT_EQ(vorn::pow(1, 2, 3), VN_OK);
    EXPECT_EQ(vorn::mulby2(3, 4), VN_FAIL);
    EXPECT_EQ(vorn::add(3, 3, 4), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_TOOBIG);
    EXPECT_EQ(vorn::mul(3, 1, 4), VN_FAIL);
    EXPECT_EQ(get_dec(4), "99");
    ASSERT_EQ(vorn::add(3, 4, 5), VN_OK);  // 2^(2^28-1) + 99 still fits
    mpz_clear(x);
}

TEST(Arithmetic, FailuresWriteNothing) {
    for (vorn::Reg r = 1; r <= 6; ++r) put(std::to_string(100 + r).c_str(), r);
    put("0", 7);
    struct Failure {
        const char *what;
        std::function<int32_t()> call;
        int32_t error;
    };
    const Failure failures[] = {
        {"div by zero", [] { return vorn::div(1, 7, 2, 3); }, VN_E_DIVZERO},
        {"mod by zero", [] { return vorn::mod(1, 7, 2); }, VN_E_DIVZERO},
        {"powmod zero modulus", [] { return vorn::powmod(1, 2, 7, 3); }, VN_E_DIVZERO},
        {"modinv zero modulus", [] { return vorn::modinv(1, 7, 3); }, VN_E_DIVZERO},
        {"add bad register", [] { return vorn::add(1, 256, 2); }, VN_E_REGISTER},
        {"sub bad destination", [] { return vorn::sub(1, 2, -1); }, VN_E_REGISTER},
        {"mul bad register", [] { return vorn::mul(-5, 2, 3); }, VN_E_REGISTER},
        {"div bad remainder register", [] { return vorn::div(1, 2, 3, 1000); }, VN_E_REGISTER},
        {"divby2 bad register", [] { return vorn::divby2(1, 2, 256); }, VN_E_REGISTER},
        {"pow bad register", [] { return vorn::pow(1, 999, 2); }, VN_E_REGISTER},
        {"gcd bad register", [] { return vorn::gcd(1, 2, 300); }, VN_E_REGISTER},
        {"modinv bad register", [] { return vorn::modinv(1, 2, 256); }, VN_E_REGISTER},
        {"mulby2 bad register", [] { return vorn::mulby2(256, 2); }, VN_E_REGISTER},
    };
    for (const Failure &f : failures) {
        VN_CLEARGLOBALERROR();
        EXPECT_EQ(f.call(), VN_FAIL) << f.what;
        EXPECT_EQ(vorn::global_error(), f.error) << f.what;
        for (vorn::Reg r = 1; r <= 6; ++r) EXPECT_EQ(get_dec(r), std::to_string(100 + r)) << f.what;
    }
    int32_t a = 1, b = 2;
    EXPECT_EQ(VN_ADD(&a, &b, nullptr), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_ARGUMENT);
}

TEST(Arithmetic, ByteFormOperandsAreReadLeastSignificantByteFirst) {
    ASSERT_EQ(vorn::putreg(std::string("\x01\x00\x00\x00", 4), 1), VN_OK);  // 1 as a constant
    ASSERT_EQ(vorn::putreg(std::string("\x00\x01", 2), 2), VN_OK);          // 256
    ASSERT_EQ(vorn::add(1, 2, 3), VN_OK);
    EXPECT_EQ(vorn::getreg(3), std::string("\x01\x01", 2));
    ASSERT_EQ(vorn::putreg(std::string("\xff\xff\x00\x00\x00", 5), 1), VN_OK);
    ASSERT_EQ(vorn::mulby2(1, 1), VN_OK);
    EXPECT_EQ(vorn::getreg(1), std::string("\xfe\xff\x01", 3));  // number form: minimal bytes
}

}  // namespace
