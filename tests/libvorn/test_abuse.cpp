// The library under a hostile caller: operands and results beyond the limits, failed truth
// functions, numbers left in freed memory, degenerate generator states, and composites
// with a small factor given to the probabilistic tests.
#include <gmp.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>
#include <vorn.hpp>

#include "test_crypto_mpz.h"

namespace {

using crypto_test::bytes_of;
using crypto_test::put_number;
using crypto_test::reg_number;
using crypto_test::Z;

// Registers 100 .. 120.
constexpr vorn::Reg kHuge = 100, kSmall = 101, kOther = 102, kOut = 103, kOut2 = 104;

TEST(Abuse, OperandsBeyondTheNumberLimitAreRefusedEverywhere) {
    // A byte string of VN_MAX_BITS + 8 bits read as a number: refused at once by every
    // function that reads it so, whichever operand it is, and nothing is written.
    std::string huge(static_cast<size_t>(VN_MAX_BITS) / 8 + 1, '\x01');
    ASSERT_EQ(vorn::putreg(huge, kHuge), VN_OK);
    ASSERT_EQ(vorn::putreg(vorn::le32(3), kSmall), VN_OK);
    ASSERT_EQ(vorn::putreg(vorn::le32(5), kOther), VN_OK);
    const vorn::Reg H = kHuge, S = kSmall, O = kOther, D = kOut, D2 = kOut2;
    int32_t len = 16;
    const std::pair<const char *, std::function<int32_t()>> calls[] = {
        {"add", [&] { return vorn::add(S, H, D); }},
        {"sub", [&] { return vorn::sub(H, S, D); }},
        {"mul", [&] { return vorn::mul(S, H, D); }},
        {"mulby2", [&] { return vorn::mulby2(H, D); }},
        {"divby2", [&] { return vorn::divby2(H, D, D2); }},
        {"div", [&] { return vorn::div(H, S, D, D2); }},
        {"mod", [&] { return vorn::mod(S, H, D); }},
        {"pow", [&] { return vorn::pow(H, S, D); }},
        {"powmod modulus", [&] { return vorn::powmod(S, S, H, D); }},
        {"powmod exponent", [&] { return vorn::powmod(S, H, O, D); }},
        {"gcd", [&] { return vorn::gcd(H, S, D); }},
        {"modinv", [&] { return vorn::modinv(S, H, D); }},
        {"huge2dec", [&] { return vorn::huge2dec(H, D); }},
        {"huge2hex", [&] { return vorn::huge2hex(H, D); }},
        {"is_zero", [&] { return vorn::is_zero(H); }},
        {"is_odd", [&] { return vorn::is_odd(H); }},
        {"is_less", [&] { return vorn::is_less(S, H); }},
        {"is_equal number", [&] { return vorn::is_equal(D, H); }},
        {"is_relprime", [&] { return vorn::is_relprime(H, S); }},
        {"is_prime_div", [&] { return vorn::is_prime_div(H); }},
        {"is_prime_fermat", [&] { return vorn::is_prime_fermat(1, H); }},
        {"is_prime_rabin_miller", [&] { return vorn::is_prime_rabin_miller(1, H); }},
        {"is_prime_slow", [&] { return vorn::is_prime_slow(H); }},
        {"encrypt_rsa", [&] { return vorn::encrypt_rsa(S, H, O, D); }},
        {"decrypt_rsa", [&] { return vorn::decrypt_rsa(S, O, H, D); }},
        {"bbs state", [&] { return vorn::bbs_bits(len, 1, H, O, D, D2); }},
    };
    ASSERT_EQ(vorn::mulby2(O, D), VN_OK);  // D holds the number 10
    ASSERT_EQ(vorn::putreg("kept", D2), VN_OK);
    for (const auto &[what, call] : calls) {
        VN_CLEARGLOBALERROR();
        EXPECT_EQ(call(), VN_FAIL) << what;
        EXPECT_EQ(vorn::global_error(), VN_E_TOOBIG) << what;
        EXPECT_EQ(vorn::getreg(D), std::string("\x0a", 1)) << what;
        EXPECT_EQ(vorn::getreg(D2), "kept") << what;
    }
    // Byte operations have no number limit: the bytes themselves are compared and hashed.
    EXPECT_EQ(vorn::is_not_equal(H, S), 1);
    EXPECT_EQ(vorn::hash_sha256(H, D), VN_OK);
    ASSERT_EQ(vorn::putreg("", kHuge), VN_OK);
}

TEST(Abuse, SelfConversionsStopBeforeTheByteLimit) {
    // Each hexadecimal self-conversion of text doubles its length; the register must stop
    // growing once its text read as a number exceeds VN_MAX_BITS (2^26 bytes of text).
    ASSERT_EQ(vorn::putreg("0", kOut), VN_OK);
    int conversions = 0;
    while (conversions < 27 && vorn::huge2hex(kOut, kOut) == VN_OK) ++conversions;  // 27: 128 MiB
    EXPECT_EQ(conversions, 26);
    EXPECT_EQ(vorn::global_error(), VN_E_TOOBIG);
    VN_STRING s = [] {
        int32_t r = kOut;
        return VN_GETREG(&r);
    }();
    EXPECT_EQ(s.len, 1 << 26);  // the refused call left the register as it was
    EXPECT_EQ(std::string(s.data, 8), "33333333");
    VN_FREESTRING(&s);
    EXPECT_EQ(s.data, nullptr);
    ASSERT_EQ(vorn::putreg("", kOut), VN_OK);
}

TEST(Abuse, FailedTruthFunctionsReadAsNeitherAnswer) {
    ASSERT_EQ(vorn::putreg(vorn::le32(7), 1), VN_OK);
    int32_t one = 1, bad = 300, count = 3;
    const std::pair<const char *, std::function<int32_t()>> calls[] = {
        {"is_not_equal", [&] { return VN_ISNOTEQUAL(&one, &bad); }},
        {"is_equal", [&] { return VN_ISEQUAL(&bad, &one); }},
        {"is_less", [&] { return VN_ISLESS(&one, &bad); }},
        {"is_zero", [&] { return VN_ISZERO(&bad); }},
        {"is_odd", [&] { return VN_ISODD(&bad); }},
        {"is_relprime", [&] { return VN_ISRELPRIME(&bad, &one); }},
        {"is_prime_div", [&] { return VN_ISPRIME_DIV(&bad); }},
        {"is_prime_slow", [&] { return VN_ISPRIME_SLOW(&bad); }},
        {"is_prime_f", [&] { return VN_ISPRIME_F(&count, &bad); }},
        {"is_prime_rb", [&] { return VN_ISPRIME_RB(&count, &bad); }},
    };
    for (const auto &[what, call] : calls) {
        VN_CLEARGLOBALERROR();
        EXPECT_EQ(call(), VN_FAIL) << what;
        EXPECT_EQ(vorn::global_error(), VN_E_REGISTER) << what;
    }
    EXPECT_EQ(VN_ISEQUAL(&one, nullptr), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_ARGUMENT);
}

TEST(Abuse, SmallFactorsEndFermatAndRabinMillerAtOnce) {
    // 10^20000 - 1 is divisible by 3; 7 * (2^521 - 1) by 7. Both are composite for every
    // test; the Mersenne prime itself and a table prime still pass.
    Z nines, seven_m, mersenne, seven(7);
    mpz_ui_pow_ui(nines, 10, 20000);
    mpz_sub_ui(nines, nines, 1);
    mpz_ui_pow_ui(mersenne, 2, 521);
    mpz_sub_ui(mersenne, mersenne, 1);
    mpz_mul_ui(seven_m, mersenne, 7);
    const std::pair<Z *, int32_t> cases[] = {{&nines, 0}, {&seven_m, 0}, {&mersenne, 1}, {&seven, 1}};
    for (const auto &[n, expected] : cases) {
        put_number(*n, kSmall);
        EXPECT_EQ(vorn::is_prime_fermat(5, kSmall), expected) << mpz_sizeinbase(*n, 2) << " bits";
        EXPECT_EQ(vorn::is_prime_rabin_miller(5, kSmall), expected) << mpz_sizeinbase(*n, 2) << " bits";
    }
}

TEST(Abuse, GeneratorStatesWithAConstantOrbitAreRefused) {
    // A Blum modulus of two known primes, so that every fixed point of squaring is known:
    // x = 0 or 1 modulo each prime; and the square roots of 1, +-1 modulo each.
    Z p, q, n, e(65537);
    mpz_set_ui(p, 1000000);
    do mpz_nextprime(p, p);
    while (mpz_fdiv_ui(p, 4) != 3);
    mpz_set(q, p);
    do mpz_nextprime(q, q);
    while (mpz_fdiv_ui(q, 4) != 3);
    mpz_mul(n, p, q);
    // crt(a, b) = the x with x = a mod p, x = b mod q.
    auto crt = [&](long a, long b) {
        Z x, t, inv;
        mpz_invert(inv, p, q);
        mpz_set_si(t, b - a);
        mpz_mul(t, t, inv);
        mpz_mod(t, t, q);
        mpz_mul(x, t, p);
        if (a >= 0) mpz_add_ui(x, x, static_cast<unsigned long>(a));
        else mpz_sub_ui(x, x, static_cast<unsigned long>(-a));
        mpz_mod(x, x, n);
        return x;
    };
    std::vector<Z> degenerate = {crt(0, 0), crt(1, 1), crt(-1, -1), crt(1, -1), crt(-1, 1),
                                 crt(0, 1), crt(1, 0), crt(0, -1), crt(-1, 0)};
    put_number(n, kOther);
    put_number(e, kHuge);
    ASSERT_EQ(vorn::putreg("out", kOut), VN_OK);
    ASSERT_EQ(vorn::putreg("next", kOut2), VN_OK);
    for (Z &x : degenerate) {
        put_number(x, kSmall);
        int32_t len = 8;
        VN_CLEARGLOBALERROR();
        EXPECT_EQ(vorn::bbs_bits(len, 1, kSmall, kOther, kOut, kOut2), VN_FAIL) << mpz_get_str(nullptr, 10, x);
        EXPECT_EQ(vorn::global_error(), VN_E_ARGUMENT);
        EXPECT_EQ(vorn::getreg(kOut), "out");
        EXPECT_EQ(vorn::getreg(kOut2), "next");
    }
    // The RSA step x^e: 0, 1 and n - 1 are fixed points.
    for (int i : {0, 1, 2}) {
        put_number(degenerate[static_cast<size_t>(i)], kSmall);
        int32_t len = 8;
        EXPECT_EQ(vorn::rsa_bits(len, kSmall, kHuge, kOther, kOut, kOut2), VN_FAIL) << i;
        EXPECT_EQ(vorn::getreg(kOut), "out");
    }
    // Any other unit is fine, and its output is not constant.
    Z x(2);
    put_number(x, kSmall);
    int32_t len = 64;
    ASSERT_EQ(vorn::bbs_bits(len, 1, kSmall, kOther, kOut, kOut2), VN_OK);
    EXPECT_NE(vorn::getreg(kOut).substr(0, 32), vorn::getreg(kOut).substr(32));
}

// GMP memory functions that look at every block GMP frees or moves for a marker limb: the
// library shares GMP with this program, so a register or temporary released unwiped shows.
constexpr mp_limb_t kMarker = 0x5EC2E75EC2E75EC2ull;
int g_marked_blocks = 0;
void *(*g_alloc)(size_t);
void *(*g_realloc)(void *, size_t, size_t);
void (*g_free)(void *, size_t);

bool marked(const void *p, size_t size) {
    const auto *limbs = static_cast<const mp_limb_t *>(p);
    for (size_t i = 0; i < size / sizeof(mp_limb_t); ++i)
        if (limbs[i] == kMarker) return true;
    return false;
}
void *checking_realloc(void *p, size_t old_size, size_t new_size) {
    g_marked_blocks += marked(p, old_size);
    return g_realloc(p, old_size, new_size);
}
void checking_free(void *p, size_t size) {
    g_marked_blocks += marked(p, size);
    g_free(p, size);
}

TEST(Abuse, NumbersAreWipedBeforeTheirMemoryIsReleased) {
    mp_get_memory_functions(&g_alloc, &g_realloc, &g_free);
    std::string secret;
    for (int i = 0; i < 8; ++i) secret.append(reinterpret_cast<const char *>(&kMarker), sizeof kMarker);
    Z big;
    mpz_ui_pow_ui(big, 3, 4000);
    Z seven(7);
    put_number(big, kOther);
    put_number(seven, kOut2);
    mp_set_memory_functions(g_alloc, checking_realloc, checking_free);
    g_marked_blocks = 0;
    // Registers 110 and 111 serve no other test, so their numbers start unallocated.
    // The secret read as a number (its limbs now in the register), replaced by 3, then the
    // register's number grows past its old size and GMP moves it.
    ASSERT_EQ(vorn::putreg(secret, 110), VN_OK);
    ASSERT_EQ(vorn::is_zero(110), 0);
    ASSERT_EQ(vorn::putreg(vorn::le32(3), 110), VN_OK);
    ASSERT_EQ(vorn::mul(kOther, 110, 110), VN_OK);
    EXPECT_EQ(g_marked_blocks, 0) << "overwritten register";
    // The secret's limbs handed to a temporary by the result that replaces them.
    ASSERT_EQ(vorn::putreg(secret, 111), VN_OK);
    ASSERT_EQ(vorn::is_zero(111), 0);
    ASSERT_EQ(vorn::modinv(kOut2, kOther, 111), 0);
    EXPECT_EQ(g_marked_blocks, 0) << "register replaced by an inverse";
    mp_set_memory_functions(g_alloc, g_realloc, g_free);
    // The test is live: the same check sees an mpz freed unwiped.
    Z *plain = new Z;
    mpz_import(*plain, secret.size(), -1, 1, 0, 0, secret.data());
    mp_set_memory_functions(g_alloc, checking_realloc, checking_free);
    delete plain;
    mp_set_memory_functions(g_alloc, g_realloc, g_free);
    EXPECT_EQ(g_marked_blocks, 1);
}

}  // namespace
