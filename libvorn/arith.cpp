// Arithmetic. Every check (zero divisors, operand and result size) comes before the result is
// put, so GMP never sees an input it would abort on or an allocation beyond VN_MAX_BITS. The
// operands are within VN_MAX_BITS: the ABI layer refuses larger ones.
#include <algorithm>
#include <cmath>
#include <utility>

#include "core.h"
#include "internal.h"

namespace vn {
namespace {

constexpr size_t kMaxBits = static_cast<size_t>(VN_MAX_BITS);

// x = x^2, in three half-size products with a check between them where one squaring of x
// would take more than a second or so.
void long_square(const Context &ctx, mpz_ptr x) {
    size_t bits = bit_size(x);
    if (bits < (size_t{1} << 25)) {
        mpz_mul(x, x, x);
        return;
    }
    // x = hi*2^h + lo: x^2 = hi^2*2^2h + 2*hi*lo*2^h + lo^2.
    size_t h = bits / 2;
    Num hi, lo, t;
    mpz_tdiv_q_2exp(hi, x, h);
    mpz_tdiv_r_2exp(lo, x, h);
    mpz_mul(t, hi, lo);
    ctx.check();
    mpz_mul(hi, hi, hi);
    ctx.check();
    mpz_mul(lo, lo, lo);
    mpz_mul_2exp(hi, hi, 2 * h);
    mpz_mul_2exp(t, t, h + 1);
    mpz_add(x, hi, t);
    mpz_add(x, x, lo);
}

}  // namespace

void long_pow(const Context &ctx, mpz_ptr r, mpz_srcptr base, unsigned long n, double result_bits) {
    // The top bits of n by GMP's own power up to a result of about 2^20 bits (milliseconds),
    // then a squaring per remaining bit.
    unsigned rest = 0;
    while (rest + 1 < 64 && (n >> (rest + 1)) > 0 && result_bits / static_cast<double>(1ul << rest) > 1048576.0)
        ++rest;
    if (rest > 0) ctx.check();
    mpz_pow_ui(r, base, n >> rest);
    for (unsigned i = rest; i-- > 0;) {
        ctx.check();
        ctx.progress(bit_size(r), static_cast<uint64_t>(result_bits));
        long_square(ctx, r);
        if ((n >> i) & 1) mpz_mul(r, r, base);
    }
}

constexpr double kWholeHere = 7.5e8;

void long_powm(const Context &ctx, mpz_ptr r, mpz_srcptr b, mpz_srcptr e, mpz_srcptr m, bool secure) {
    // A modular squaring costs about limbs^2 word products below GMP's FFT sizes (less
    // beyond). Powers of up to kWholeHere such products (about 0.5 s: 2^31 of them, a
    // 20,000-bit power, took 1.3 s) run whole here at GMP's speed, and a stop waits for them;
    // the helper's start (3 to 4 ms) would cost more than 1 % below that. Longer ones run
    // whole in the helper process, which a stop kills; only where no helper starts are they
    // split here, in pieces of half that, which costs about twice GMP's one call (each piece
    // squares the running result as well as raising the base).
    auto limbs = static_cast<double>(mpz_size(m));
    double per_bit = limbs * limbs;
    size_t ebits = bit_size(e);
    auto run = [&](mpz_ptr out, mpz_srcptr base, mpz_srcptr exp) {
        if (secure && mpz_sgn(exp) > 0) mpz_powm_sec(out, base, exp, m);
        else mpz_powm(out, base, exp, m);
    };
    if (static_cast<double>(ebits) * per_bit <= kWholeHere) {
        run(r, b, e);
        ctx.check();   // r is the caller's temporary: a stop during the power still counts
        return;
    }
    if (offload_powm(ctx, r, b, e, m, secure && mpz_sgn(e) > 0)) {
        ctx.check();
        return;
    }
    auto piece = static_cast<size_t>(kWholeHere / 2 / per_bit);
    if (piece < 1) piece = 1;
    Num result, k, power, t;
    mpz_set_ui(result, 1);
    for (size_t pos = ebits; pos > 0;) {
        size_t c = piece < pos ? piece : pos;
        pos -= c;
        ctx.check();
        ctx.progress(ebits - pos - c, ebits);
        // The next c bits of e, from the top.
        mpz_tdiv_q_2exp(k, e, pos);
        mpz_tdiv_r_2exp(k, k, c);
        if (mpz_cmp_ui(result, 1) != 0) {
            mpz_set_ui(power, 0);
            mpz_setbit(power, c);
            mpz_powm(result, result, power, m);
            ctx.check();
        }
        if (mpz_sgn(k) != 0) {
            run(t, b, k);
            mpz_mul(result, result, t);
            mpz_mod(result, result, m);
        }
    }
    mpz_mod(r, result, m);
}

// ---- the operations ----------------------------------------------------------------------

Status add(NumberOut &d, mpz_srcptr a, mpz_srcptr b) {
    // The sum has the larger operand's bits or one more.
    if (std::max(bit_size(a), bit_size(b)) == kMaxBits) {
        mpz_ptr t = d.temporary();
        mpz_add(t, a, b);
        if (bit_size(t) > kMaxBits) return failure(VN_E_TOOBIG);
        d.keep();
        return kOk;
    }
    mpz_add(d.put(), a, b);
    return kOk;
}

Status distance(NumberOut &d, mpz_srcptr a, mpz_srcptr b) {
    if (mpz_cmp(a, b) < 0) std::swap(a, b);
    mpz_sub(d.put(), a, b);
    return kOk;
}

Status multiply(NumberOut &d, mpz_srcptr a, mpz_srcptr b) {
    size_t ba = bit_size(a), bb = bit_size(b);
    if (ba == 0 || bb == 0) {
        mpz_set_ui(d.put(), 0);
        return kOk;
    }
    // The product has ba + bb or ba + bb - 1 bits.
    if (ba + bb - 1 > kMaxBits) return failure(VN_E_TOOBIG);
    if (ba + bb > kMaxBits) {
        mpz_ptr t = d.temporary();
        mpz_mul(t, a, b);
        if (bit_size(t) > kMaxBits) return failure(VN_E_TOOBIG);
        d.keep();
        return kOk;
    }
    mpz_mul(d.put(), a, b);
    return kOk;
}

Status twice(NumberOut &d, mpz_srcptr a) {
    if (bit_size(a) + 1 > kMaxBits) return failure(VN_E_TOOBIG);
    mpz_mul_2exp(d.put(), a, 1);
    return kOk;
}

Status halve(NumberOut &q, NumberOut &r, mpz_srcptr a) {
    mpz_fdiv_q_2exp(q.put(), a, 1);
    mpz_set_ui(r.put(), mpz_odd_p(a) ? 1 : 0);
    return kOk;
}

Status divide(NumberOut &q, NumberOut &r, mpz_srcptr a, mpz_srcptr b) {
    if (mpz_sgn(b) == 0) return failure(VN_E_DIVZERO);
    mpz_fdiv_qr(q.put(), r.put(), a, b);
    return kOk;
}

Status modulo(NumberOut &d, mpz_srcptr a, mpz_srcptr m) {
    if (mpz_sgn(m) == 0) return failure(VN_E_DIVZERO);
    mpz_fdiv_r(d.put(), a, m);
    return kOk;
}

Status power(const Context &ctx, NumberOut &d, mpz_srcptr base, mpz_srcptr exponent) {
    // 0^0 = 1, 0^e = 0, 1^e = 1, b^0 = 1: no size question.
    if (mpz_sgn(exponent) == 0 || mpz_cmp_ui(base, 1) == 0) {
        mpz_set_ui(d.put(), 1);
        return kOk;
    }
    if (mpz_sgn(base) == 0) {
        mpz_set_ui(d.put(), 0);
        return kOk;
    }
    // base >= 2: the result has floor(e * log2(base)) + 1 bits. Refuse at once when that is
    // plainly beyond the limit; compute and check in the narrow band where double rounding
    // could decide either way.
    if (!mpz_fits_ulong_p(exponent) || mpz_get_ui(exponent) > kMaxBits) return failure(VN_E_TOOBIG);
    unsigned long n = mpz_get_ui(exponent);
    long scale;
    double mant = mpz_get_d_2exp(&scale, base);  // base = mant * 2^scale, mant in [0.5, 1)
    double result_bits = static_cast<double>(n) * (static_cast<double>(scale) + std::log2(mant)) + 1;
    if (result_bits > static_cast<double>(kMaxBits) + 1) return failure(VN_E_TOOBIG);
    mpz_ptr t = d.temporary();
    long_pow(ctx, t, base, n, result_bits);
    if (bit_size(t) > kMaxBits) return failure(VN_E_TOOBIG);
    d.keep();
    return kOk;
}

Status power_mod(const Context &ctx, NumberOut &d, mpz_srcptr base, mpz_srcptr exponent, mpz_srcptr m) {
    if (mpz_sgn(m) == 0) return failure(VN_E_DIVZERO);
    if (mpz_cmp_ui(m, 1) == 0) {
        mpz_set_ui(d.put(), 0);
        return kOk;
    }
    long_powm(ctx, d.temporary(), base, exponent, m);
    d.keep();
    return kOk;
}

Status gcd(NumberOut &d, mpz_srcptr a, mpz_srcptr b) {
    mpz_gcd(d.put(), a, b);
    return kOk;
}

Status inverse_mod(NumberOut &d, mpz_srcptr a, mpz_srcptr m) {
    if (mpz_sgn(m) == 0) return failure(VN_E_DIVZERO);
    if (mpz_cmp_ui(m, 1) == 0) {
        mpz_set_ui(d.put(), 0);
        return kOk;
    }
    if (mpz_invert(d.temporary(), a, m) == 0) return refusal(VN_STATUS_NOINVERSE, VN_E_NOINVERSE);
    d.keep();
    return kOk;
}

}  // namespace vn
