// Decimal and hexadecimal conversions: accepted and refused texts, zero, limb and byte
// boundaries, aliasing, and a round trip of a number of millions of digits.
#include <gmp.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vorn.hpp>

#include "seed.h"

namespace {

std::string gmp_text(mpz_srcptr x, int base) {
    char *s = mpz_get_str(nullptr, base, x);
    std::string out(s);
    free(s);
    return out;
}

std::string le_bytes(mpz_srcptr x) {
    if (mpz_sgn(x) == 0) return "";
    std::string b((mpz_sizeinbase(x, 2) + 7) / 8, '\0');
    mpz_export(b.data(), nullptr, -1, 1, 0, 0, x);
    return b;
}

TEST(Convert, DecimalTextAcceptedAndRefused) {
    struct Case {
        std::string text;
        const char *value;  // nullptr: refused with VN_E_DECIMAL, destination set to 0
    };
    const Case cases[] = {
        {"0", "0"},
        {"000", "0"},
        {"007", "7"},
        {"  42\t\r\n", "42"},
        {"\v\f1", "1"},
        {"18446744073709551615", "18446744073709551615"},
        {"18446744073709551616", "18446744073709551616"},
        {"", nullptr},
        {"   ", nullptr},
        {"-1", nullptr},
        {"+1", nullptr},
        {"1.5", nullptr},
        {"1e5", nullptr},
        {"12 34", nullptr},
        {"0x10", nullptr},
        {std::string("12\0", 3), nullptr},
        {std::string("\0" "12", 3), nullptr},
        {"\xd9\xa1", nullptr},  // a non-ASCII digit
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("text \"" + c.text + "\"");
        ASSERT_EQ(vorn::putreg(c.text, 1), VN_OK);
        ASSERT_EQ(vorn::putreg("keep", 3), VN_OK);
        ASSERT_EQ(vorn::putreg("\x05", 2), VN_OK);
        VN_CLEARGLOBALERROR();
        int32_t rc = vorn::dec2huge(1, 2);
        ASSERT_EQ(vorn::huge2dec(2, 4), VN_OK);
        if (c.value) {
            EXPECT_EQ(rc, VN_OK);
            EXPECT_EQ(vorn::getreg(4), c.value);
            EXPECT_EQ(vorn::global_error(), VN_E_NONE);
        } else {
            EXPECT_EQ(rc, VN_FAIL);
            EXPECT_EQ(vorn::global_error(), VN_E_DECIMAL);
            EXPECT_EQ(vorn::getreg(4), "0");
        }
        EXPECT_EQ(vorn::getreg(1), c.text);  // the source is kept
        EXPECT_EQ(vorn::getreg(3), "keep");
    }
    // Digits are checked eight at a time: a byte just outside '0'..'9', or one whose low half
    // is a digit's, is found at every place in and after such a block.
    for (char bad : {'/', ':', '\0', '\x7f', '\xb3', 'p', '\x10'}) {
        for (size_t at = 1; at < 23; ++at) {
            std::string text = "123456789012345678901234";
            text[at] = bad;
            ASSERT_EQ(vorn::putreg(text, 1), VN_OK);
            EXPECT_EQ(vorn::dec2huge(1, 2), VN_FAIL) << "byte " << int(bad) << " at " << at;
        }
    }
}

TEST(Convert, TextAtByteAndLimbBoundaries) {
    mpz_t x;
    mpz_init(x);
    for (unsigned bits : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 31u, 32u, 63u, 64u, 65u, 127u, 128u, 129u, 4095u, 4096u}) {
        for (int delta : {-1, 0, 1}) {
            mpz_set_ui(x, 0);
            mpz_setbit(x, bits);
            if (delta < 0) mpz_sub_ui(x, x, 1);
            if (delta > 0) mpz_add_ui(x, x, 1);
            SCOPED_TRACE("2^" + std::to_string(bits) + " + " + std::to_string(delta));
            ASSERT_EQ(vorn::putreg(le_bytes(x), 1), VN_OK);
            ASSERT_EQ(vorn::huge2dec(1, 2), VN_OK);
            EXPECT_EQ(vorn::getreg(2), gmp_text(x, 10));
            ASSERT_EQ(vorn::huge2hex(1, 3), VN_OK);
            std::string hex = gmp_text(x, 16);
            for (char &c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            EXPECT_EQ(vorn::getreg(3), hex);
            ASSERT_EQ(vorn::dec2huge(2, 2), VN_OK);  // in place
            EXPECT_EQ(vorn::getreg(2), le_bytes(x));
            EXPECT_EQ(vorn::is_equal(1, 2), 1);
        }
    }
    mpz_clear(x);
}

TEST(Convert, ByteFormZerosReadAsTheNumber) {
    // High zero bytes in byte form do not change the value; the empty string is zero.
    const std::string forms[][2] = {{"", "0"}, {std::string("\0", 1), "0"}, {std::string("\0\0\0\0", 4), "0"},
                                    {std::string("\x01\0\0\0", 4), "1"}, {std::string("\0\x01", 2), "256"},
                                    {std::string("\xff\xff\xff\xff\xff\xff\xff\xff\x01", 9), "36893488147419103231"}};
    for (const auto &f : forms) {
        ASSERT_EQ(vorn::putreg(f[0], 5), VN_OK);
        ASSERT_EQ(vorn::huge2dec(5, 6), VN_OK);
        EXPECT_EQ(vorn::getreg(6), f[1]);
        ASSERT_EQ(vorn::huge2hex(5, 5), VN_OK);  // in place
        ASSERT_EQ(vorn::dec2huge(6, 6), VN_OK);
        ASSERT_EQ(vorn::huge2hex(6, 6), VN_OK);
        EXPECT_EQ(vorn::getreg(5), vorn::getreg(6));
    }
}

TEST(Convert, RandomRoundTripsAgreeWithGmp) {
    uint64_t seed = test_seed();
    gmp_randstate_t rs;
    gmp_randinit_default(rs);
    gmp_randseed_ui(rs, static_cast<unsigned long>(seed));
    mpz_t x;
    mpz_init(x);
    for (int i = 0; i < 300; ++i) {
        mpz_urandomb(x, rs, static_cast<unsigned long>(i * 37 % 5000));
        std::string dec = gmp_text(x, 10);
        ASSERT_EQ(vorn::putreg(dec, 1), VN_OK);
        ASSERT_EQ(vorn::dec2huge(1, 2), VN_OK);
        ASSERT_EQ(vorn::getreg(2), le_bytes(x)) << "seed " << seed << " decimal " << dec;
        ASSERT_EQ(vorn::huge2dec(2, 2), VN_OK);
        ASSERT_EQ(vorn::getreg(2), dec);
    }
    mpz_clear(x);
    gmp_randclear(rs);
}

TEST(Convert, MillionsOfDigitsRoundTrip) {
    // 3^10,000,000: 4,771,213 digits.
    mpz_t x;
    mpz_init(x);
    mpz_ui_pow_ui(x, 3, 10000000);
    std::string dec = gmp_text(x, 10);
    ASSERT_EQ(dec.size(), 4771213u);
    ASSERT_EQ(vorn::putreg(dec, 1), VN_OK);
    ASSERT_EQ(vorn::dec2huge(1, 2), VN_OK);
    EXPECT_EQ(vorn::getreg(2), le_bytes(x));
    ASSERT_EQ(vorn::huge2dec(2, 3), VN_OK);
    EXPECT_TRUE(vorn::getreg(3) == dec);
    // Random numbers of random lengths above a million digits: other leaf sizes, and powers
    // whose zero limbs end at other bits.
    uint64_t seed = test_seed();
    gmp_randstate_t rs;
    gmp_randinit_default(rs);
    gmp_randseed_ui(rs, static_cast<unsigned long>(seed));
    for (int i = 0; i < 3; ++i) {
        mpz_urandomb(x, rs, 3500000 + gmp_urandomm_ui(rs, 1200000));
        dec = gmp_text(x, 10);
        ASSERT_EQ(vorn::putreg(dec, 1), VN_OK);
        ASSERT_EQ(vorn::dec2huge(1, 2), VN_OK);
        EXPECT_TRUE(vorn::getreg(2) == le_bytes(x)) << "seed " << seed;
        ASSERT_EQ(vorn::huge2dec(2, 3), VN_OK);
        EXPECT_TRUE(vorn::getreg(3) == dec) << "seed " << seed;
    }
    gmp_randclear(rs);
    mpz_clear(x);
}

// Above a million digits the conversions split by powers of ten: pieces that are all zeros
// or all nines, and zeros inside, must keep their places.
TEST(Convert, SplitConversionsKeepZeroPieces) {
    mpz_t x, t;
    mpz_inits(x, t, nullptr);
    for (int kind = 0; kind < 3; ++kind) {
        mpz_ui_pow_ui(x, 10, 1200000);
        if (kind == 1) mpz_sub_ui(x, x, 1);
        if (kind == 2) {
            mpz_ui_pow_ui(t, 10, 40000);
            mpz_add(x, x, t);
            mpz_add_ui(x, x, 7);
        }
        std::string dec = gmp_text(x, 10);
        ASSERT_EQ(vorn::putreg(le_bytes(x), 1), VN_OK);
        ASSERT_EQ(vorn::huge2dec(1, 2), VN_OK);
        EXPECT_TRUE(vorn::getreg(2) == dec) << "kind " << kind;
        ASSERT_EQ(vorn::dec2huge(2, 3), VN_OK);
        EXPECT_TRUE(vorn::getreg(3) == le_bytes(x)) << "kind " << kind;
    }
    mpz_clears(x, t, nullptr);
}

TEST(Convert, BadRegistersAndTooManyDigits) {
    ASSERT_EQ(vorn::putreg("12", 1), VN_OK);
    for (auto call : {+[] { return vorn::dec2huge(1, 256); }, +[] { return vorn::dec2huge(-1, 1); },
                      +[] { return vorn::huge2dec(1, 256); }, +[] { return vorn::huge2hex(300, 1); }}) {
        VN_CLEARGLOBALERROR();
        EXPECT_EQ(call(), VN_FAIL);
        EXPECT_EQ(vorn::global_error(), VN_E_REGISTER);
        EXPECT_EQ(vorn::getreg(1), "12");
    }
    // 81 million digits is a number beyond 2^28 bits: refused, destination kept.
    std::string many(81000000, '9');
    ASSERT_EQ(vorn::putreg(many, 2), VN_OK);
    VN_CLEARGLOBALERROR();
    EXPECT_EQ(vorn::dec2huge(2, 1), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_TOOBIG);
    EXPECT_EQ(vorn::getreg(1), "12");
    ASSERT_EQ(vorn::putreg("", 2), VN_OK);
}

}  // namespace
