// RSA keys, encryption and decryption, and the two-prime modulus the BBS set-up shares.
// Primes, lambda and the private exponent live in Num temporaries, wiped when they go.
#include <new>

#include "crypto_internal.h"
#include "internal.h"

namespace vn {

namespace {

// Returned by the shared checks when the call may go on (every status, VN_FAIL included,
// is a possible result of the checks).
constexpr int32_t go_on = INT32_MIN;

constexpr unsigned long rsa_exponent = 65537;

}  // namespace

bool two_prime_modulus(const Context &ctx, mpz_ptr p, mpz_ptr q, mpz_ptr n, size_t bits, int rounds,
                       bool three_mod_four, unsigned long avoid_factor_of) {
    Context first = ctx.part(0, 500), second = ctx.part(500, 1000);
    // A product of a bits/2-bit and a (bits - bits/2)-bit prime has bits or bits - 1 bits.
    // When it comes out short, the prime with the smaller leading part is replaced and the
    // larger kept, which needs about 2.6 primes a modulus instead of 4 for redrawing both.
    size_t p_bits = bits / 2, q_bits = bits - p_bits;
    if (!generate_prime(first, p, p_bits, rounds, three_mod_four, avoid_factor_of) ||
        !generate_prime(second, q, q_bits, rounds, three_mod_four, avoid_factor_of))
        return false;
    Num p_scaled, q_scaled;
    for (;;) {
        mpz_mul(n, p, q);
        if (bit_size(n) == bits && mpz_cmp(p, q) != 0) return true;
        // Compare p / 2^p_bits with q / 2^q_bits.
        mpz_mul_2exp(p_scaled, p, q_bits);
        mpz_mul_2exp(q_scaled, q, p_bits);
        bool replace_p = mpz_cmp(p_scaled, q_scaled) <= 0;
        if (replace_p ? !generate_prime(second, p, p_bits, rounds, three_mod_four, avoid_factor_of)
                      : !generate_prime(second, q, q_bits, rounds, three_mod_four, avoid_factor_of))
            return false;
    }
}

namespace {

// The checks VN_ENCRYPT_RSA and VN_DECRYPT_RSA share. Returns go_on to go on, else the result.
int32_t check_rsa_input(Register &in, mpz_srcptr n) {
    if (mpz_sgn(n) == 0) return fail(VN_E_DIVZERO);
    // Text stored with VN_PUTREG is encrypted in 4-byte words; numbers have no such rule.
    if (in.byte_form && bytes_of(in).size() % 4 != 0) {
        set_error(VN_E_LENGTH4);
        return 1;
    }
    if (mpz_cmp(value(in), n) >= 0) {
        set_error(VN_E_RANGE);
        return 2;
    }
    return go_on;
}

}  // namespace

}  // namespace vn

using namespace vn;

extern "C" {

VN_API int32_t VN_GENERATERSAKEYS(int32_t *bits, int32_t *k, int32_t *e, int32_t *dk,
                                  int32_t *n) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        if (bits == nullptr || k == nullptr) return fail(VN_E_ARGUMENT);
        Register *re, *rd, *rn;
        if (!regs(&re, e, &rd, dk, &rn, n)) return VN_FAIL;
        if (*bits < VN_MIN_RSA_BITS || *bits > VN_MAX_RSA_BITS) return fail(VN_E_BITS);
        Num p, q, modulus, lambda, g, d;
        Work work(VN_STAGE_SEARCH);
        for (;;) {
            // p - 1 and q - 1 are kept free of the factor 65537, so e is invertible modulo
            // lambda; the inverse is still checked rather than assumed.
            if (!two_prime_modulus(work, p, q, modulus, static_cast<size_t>(*bits), clamp_rounds(*k), false,
                                   rsa_exponent))
                return VN_FAIL;
            mpz_sub_ui(p, p, 1);
            mpz_sub_ui(q, q, 1);
            mpz_lcm(lambda, p, q);
            mpz_set_ui(g, rsa_exponent);
            if (mpz_invert(d, g, lambda) != 0) break;
        }
        mpz_set_ui(set_number(*re), rsa_exponent);
        mpz_set(set_number(*rd), d);
        mpz_set(set_number(*rn), modulus);
        return VN_OK;
    });
}

VN_API int32_t VN_ENCRYPT_RSA(int32_t *m, int32_t *e, int32_t *n, int32_t *c) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *rm, *re, *rn, *rc;
        if (!regs(&rm, m, &re, e, &rn, n, &rc, c)) return VN_FAIL;
        int32_t st = check_rsa_input(*rm, value(*rn));
        if (st != go_on) return st;
        Num result;
        Work work(VN_STAGE_CIPHER);
        long_powm(work, result, value(*rm), value(*re), value(*rn));
        adopt_number(*rc, result);
        return VN_OK;
    });
}

VN_API int32_t VN_DECRYPT_RSA(int32_t *c, int32_t *dk, int32_t *n, int32_t *m) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *rc, *rd, *rn, *rm;
        if (!regs(&rc, c, &rd, dk, &rn, n, &rm, m)) return VN_FAIL;
        mpz_srcptr modulus = value(*rn);
        int32_t st = check_rsa_input(*rc, modulus);
        if (st != go_on) return st;
        mpz_srcptr base = value(*rc), exponent = value(*rd);
        Num result;
        Work work(VN_STAGE_CIPHER);
        if (mpz_cmp_ui(modulus, 1) == 0) {
            mpz_set_ui(result, 0);
        } else if (mpz_sgn(exponent) == 0) {
            mpz_set_ui(result, 1);
        } else if (mpz_odd_p(modulus)) {
            // mpz_powm_sec wants an odd modulus and a positive exponent, which every real RSA key
            // has; the other cases are no secret key and take the plain power.
            long_powm(work, result, base, exponent, modulus, true);
        } else {
            long_powm(work, result, base, exponent, modulus);
        }
        adopt_number(*rm, result);
        return VN_OK;
    });
}

}  // extern "C"
