// RSA keys, encryption and decryption, and the two-prime modulus the BBS set-up shares.
// Primes, lambda and the private exponent live in Num temporaries, wiped when they go.
#include <new>

#include "core.h"
#include "crypto_internal.h"
#include "internal.h"

namespace vn {

namespace {

constexpr unsigned long rsa_exponent = 65537;

}  // namespace

Status two_prime_modulus(const Context &ctx, mpz_ptr p, mpz_ptr q, mpz_ptr n, size_t bits, int rounds,
                         bool three_mod_four, unsigned long avoid_factor_of) {
    Context first = ctx.part(0, 500), second = ctx.part(500, 1000);
    // A product of a bits/2-bit and a (bits - bits/2)-bit prime has bits or bits - 1 bits.
    // When it comes out short, the prime with the smaller leading part is replaced and the
    // larger kept, which needs about 2.6 primes a modulus instead of 4 for redrawing both.
    size_t p_bits = bits / 2, q_bits = bits - p_bits;
    Status s = generate_prime(first, p, p_bits, rounds, three_mod_four, avoid_factor_of);
    if (succeeded(s)) s = generate_prime(second, q, q_bits, rounds, three_mod_four, avoid_factor_of);
    Num p_scaled, q_scaled;
    while (succeeded(s)) {
        mpz_mul(n, p, q);
        if (bit_size(n) == bits && mpz_cmp(p, q) != 0) break;
        // Compare p / 2^p_bits with q / 2^q_bits.
        mpz_mul_2exp(p_scaled, p, q_bits);
        mpz_mul_2exp(q_scaled, q, p_bits);
        if (mpz_cmp(p_scaled, q_scaled) <= 0) s = generate_prime(second, p, p_bits, rounds, three_mod_four, avoid_factor_of);
        else s = generate_prime(second, q, q_bits, rounds, three_mod_four, avoid_factor_of);
    }
    return s;
}

Status rsa_keys(const Context &ctx, NumberOut &e, NumberOut &dk, NumberOut &n, int32_t bits, int32_t rounds) {
    if (bits < VN_MIN_RSA_BITS || bits > VN_MAX_RSA_BITS) return failure(VN_E_BITS);
    Num p, q, modulus, lambda, g, d;
    for (;;) {
        // p - 1 and q - 1 are kept free of the factor 65537, so e is invertible modulo
        // lambda; the inverse is still checked rather than assumed.
        Status s = two_prime_modulus(ctx, p, q, modulus, static_cast<size_t>(bits), clamp_rounds(rounds), false,
                                     rsa_exponent);
        if (!succeeded(s)) return s;
        mpz_sub_ui(p, p, 1);
        mpz_sub_ui(q, q, 1);
        mpz_lcm(lambda, p, q);
        mpz_set_ui(g, rsa_exponent);
        if (mpz_invert(d, g, lambda) != 0) break;
    }
    mpz_set_ui(e.put(), rsa_exponent);
    mpz_set(dk.put(), d);
    mpz_set(n.put(), modulus);
    return kOk;
}

namespace {

// The checks encryption and decryption share: a zero modulus, text stored with VN_PUTREG
// whose length is no multiple of 4 bytes (it is encrypted in 4-byte words; numbers have no
// such rule), an input not below the modulus. x is set to the input's number.
Status check_rsa_input(Operand in, mpz_srcptr n, Num &x) {
    if (mpz_sgn(n) == 0) return failure(VN_E_DIVZERO);
    if (in.bytes && in.bytes->size() % 4 != 0) return refusal(VN_STATUS_LENGTH4, VN_E_LENGTH4);
    if (in.bytes) number_from_bytes(x, *in.bytes);
    else mpz_set(x, in.number);
    if (mpz_cmp(x, n) >= 0) return refusal(VN_STATUS_RANGE, VN_E_RANGE);
    return kOk;
}

}  // namespace

Status rsa_encrypt(const Context &ctx, NumberOut &c, Operand m, mpz_srcptr e, mpz_srcptr n) {
    Num x;
    Status s = check_rsa_input(m, n, x);
    if (!succeeded(s)) return s;
    long_powm(ctx, c.temporary(), x, e, n);
    c.keep();
    return kOk;
}

Status rsa_decrypt(const Context &ctx, NumberOut &m, Operand c, mpz_srcptr dk, mpz_srcptr n) {
    Num x;
    Status s = check_rsa_input(c, n, x);
    if (!succeeded(s)) return s;
    mpz_ptr result = m.temporary();
    if (mpz_cmp_ui(n, 1) == 0) {
        mpz_set_ui(result, 0);
    } else if (mpz_sgn(dk) == 0) {
        mpz_set_ui(result, 1);
    } else if (mpz_odd_p(n)) {
        // mpz_powm_sec wants an odd modulus and a positive exponent, which every real RSA key
        // has; the other cases are no secret key and take the plain power.
        long_powm(ctx, result, x, dk, n, true);
    } else {
        long_powm(ctx, result, x, dk, n);
    }
    m.keep();
    return kOk;
}

}  // namespace vn
