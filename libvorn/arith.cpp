// Arithmetic on registers. Every check (registers, zero divisors, operand and result size)
// comes before the first write, so a failure leaves every register as it was and GMP never
// sees an input it would abort on or an allocation beyond VN_MAX_BITS. Operands are fetched
// with value() before set_number(), since the destination may be one of them; value()
// refuses byte-form operands beyond VN_MAX_BITS, so every operand here is within the limit.
#include <algorithm>
#include <cmath>
#include <utility>

#include "internal.h"

namespace vn {
namespace {

constexpr size_t kMaxBits = static_cast<size_t>(VN_MAX_BITS);

// Exact result size unknown until computed: compute into a temporary and keep it only when
// it fits, so the destination stays untouched on failure.
template <typename Compute>
int32_t compute_checked(Register &d, Compute &&compute) {
    Num t;
    compute(t);
    if (bit_size(t) > kMaxBits) return fail(VN_E_TOOBIG);
    adopt_number(d, t);
    return VN_OK;
}

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

void long_powm(const Context &ctx, mpz_ptr r, mpz_srcptr b, mpz_srcptr e, mpz_srcptr m, bool secure) {
    // A modular squaring costs about limbs^2 word products below GMP's FFT sizes (less
    // beyond). Powers of up to 2^31 such products (measured: a 20,000-bit power, 1.3 s) run
    // whole here at GMP's speed, and a stop waits for them. Longer ones run whole in the
    // helper process, which a stop kills; only where no helper starts are they split here,
    // in pieces of half that, which costs about twice GMP's one call (each piece squares the
    // running result as well as raising the base).
    auto limbs = static_cast<double>(mpz_size(m));
    double per_bit = limbs * limbs;
    size_t ebits = bit_size(e);
    auto run = [&](mpz_ptr out, mpz_srcptr base, mpz_srcptr exp) {
        if (secure && mpz_sgn(exp) > 0) mpz_powm_sec(out, base, exp, m);
        else mpz_powm(out, base, exp, m);
    };
    if (static_cast<double>(ebits) * per_bit <= 2147483648.0) {
        run(r, b, e);
        ctx.check();   // r is the caller's temporary: a stop during the power still counts
        return;
    }
    if (offload_powm(ctx, r, b, e, m, secure && mpz_sgn(e) > 0)) {
        ctx.check();
        return;
    }
    auto piece = static_cast<size_t>(1073741824.0 / per_bit);
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

}  // namespace vn

using namespace vn;

extern "C" {

VN_API int32_t VN_ADD(int32_t *a, int32_t *b, int32_t *d) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x, *y, *z;
        if (!regs(&x, a, &y, b, &z, d)) return VN_FAIL;
        mpz_srcptr u = value(*x), v = value(*y);
        // The sum has the larger operand's bits or one more.
        size_t top = std::max(bit_size(u), bit_size(v));
        if (top == kMaxBits) return compute_checked(*z, [&](mpz_ptr t) { mpz_add(t, u, v); });
        mpz_add(set_number(*z), u, v);
        return VN_OK;
    });
}

VN_API int32_t VN_SUB(int32_t *a, int32_t *b, int32_t *d) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x, *y, *z;
        if (!regs(&x, a, &y, b, &z, d)) return VN_FAIL;
        mpz_srcptr u = value(*x), v = value(*y);
        // Numbers carry no sign: the distance between them.
        if (mpz_cmp(u, v) < 0) std::swap(u, v);
        mpz_sub(set_number(*z), u, v);
        return VN_OK;
    });
}

VN_API int32_t VN_MUL(int32_t *a, int32_t *b, int32_t *d) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x, *y, *z;
        if (!regs(&x, a, &y, b, &z, d)) return VN_FAIL;
        mpz_srcptr u = value(*x), v = value(*y);
        size_t bu = bit_size(u), bv = bit_size(v);
        if (bu == 0 || bv == 0) {
            mpz_set_ui(set_number(*z), 0);
            return VN_OK;
        }
        // The product has bu + bv or bu + bv - 1 bits.
        if (bu + bv - 1 > kMaxBits) return fail(VN_E_TOOBIG);
        if (bu + bv > kMaxBits) return compute_checked(*z, [&](mpz_ptr t) { mpz_mul(t, u, v); });
        mpz_mul(set_number(*z), u, v);
        return VN_OK;
    });
}

VN_API int32_t VN_MULBY2(int32_t *a, int32_t *d) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x, *z;
        if (!regs(&x, a, &z, d)) return VN_FAIL;
        mpz_srcptr u = value(*x);
        if (bit_size(u) + 1 > kMaxBits) return fail(VN_E_TOOBIG);
        mpz_mul_2exp(set_number(*z), u, 1);
        return VN_OK;
    });
}

VN_API int32_t VN_DIVBY2(int32_t *a, int32_t *q, int32_t *r) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x, *qr, *rr;
        if (!regs(&x, a, &qr, q, &rr, r)) return VN_FAIL;
        mpz_srcptr u = value(*x);
        unsigned long low = mpz_odd_p(u) ? 1 : 0;  // read before q may overwrite a
        mpz_fdiv_q_2exp(set_number(*qr), u, 1);
        mpz_set_ui(set_number(*rr), low);
        return VN_OK;
    });
}

VN_API int32_t VN_DIV(int32_t *a, int32_t *b, int32_t *q, int32_t *r) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x, *y, *qr, *rr;
        if (!regs(&x, a, &y, b, &qr, q, &rr, r)) return VN_FAIL;
        mpz_srcptr u = value(*x), v = value(*y);
        if (mpz_sgn(v) == 0) return fail(VN_E_DIVZERO);
        if (qr == rr) {
            // Both destinations in one register: the remainder, written last, wins.
            mpz_fdiv_r(set_number(*rr), u, v);
            return VN_OK;
        }
        mpz_fdiv_qr(set_number(*qr), set_number(*rr), u, v);
        return VN_OK;
    });
}

VN_API int32_t VN_MOD(int32_t *a, int32_t *m, int32_t *d) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x, *y, *z;
        if (!regs(&x, a, &y, m, &z, d)) return VN_FAIL;
        mpz_srcptr u = value(*x), v = value(*y);
        if (mpz_sgn(v) == 0) return fail(VN_E_DIVZERO);
        mpz_fdiv_r(set_number(*z), u, v);
        return VN_OK;
    });
}

VN_API int32_t VN_POW(int32_t *a, int32_t *e, int32_t *d) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x, *y, *z;
        if (!regs(&x, a, &y, e, &z, d)) return VN_FAIL;
        mpz_srcptr base = value(*x), exp = value(*y);
        // 0^0 = 1, 0^e = 0, 1^e = 1, b^0 = 1: no size question.
        if (mpz_sgn(exp) == 0 || mpz_cmp_ui(base, 1) == 0) {
            mpz_set_ui(set_number(*z), 1);
            return VN_OK;
        }
        if (mpz_sgn(base) == 0) {
            mpz_set_ui(set_number(*z), 0);
            return VN_OK;
        }
        // base >= 2: the result has floor(e * log2(base)) + 1 bits. Refuse at once when that is
        // plainly beyond the limit; compute and check in the narrow band where double rounding
        // could decide either way.
        if (!mpz_fits_ulong_p(exp) || mpz_get_ui(exp) > kMaxBits) return fail(VN_E_TOOBIG);
        unsigned long n = mpz_get_ui(exp);
        long scale;
        double mant = mpz_get_d_2exp(&scale, base);  // base = mant * 2^scale, mant in [0.5, 1)
        double result_bits = static_cast<double>(n) * (static_cast<double>(scale) + std::log2(mant)) + 1;
        if (result_bits > static_cast<double>(kMaxBits) + 1) return fail(VN_E_TOOBIG);
        // Into a temporary: a stop leaves the destination as it was.
        Work work(VN_STAGE_POWER);
        return compute_checked(*z, [&](mpz_ptr t) { long_pow(work, t, base, n, result_bits); });
    });
}

VN_API int32_t VN_POWMOD(int32_t *a, int32_t *e, int32_t *m, int32_t *d) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x, *y, *w, *z;
        if (!regs(&x, a, &y, e, &w, m, &z, d)) return VN_FAIL;
        mpz_srcptr base = value(*x), exp = value(*y), mod = value(*w);
        if (mpz_sgn(mod) == 0) return fail(VN_E_DIVZERO);
        if (mpz_cmp_ui(mod, 1) == 0) {
            mpz_set_ui(set_number(*z), 0);
            return VN_OK;
        }
        Work work(VN_STAGE_POWER);
        Num t;
        long_powm(work, t, base, exp, mod);
        adopt_number(*z, t);
        return VN_OK;
    });
}

VN_API int32_t VN_GCD(int32_t *a, int32_t *b, int32_t *d) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x, *y, *z;
        if (!regs(&x, a, &y, b, &z, d)) return VN_FAIL;
        mpz_srcptr u = value(*x), v = value(*y);
        mpz_gcd(set_number(*z), u, v);
        return VN_OK;
    });
}

VN_API int32_t VN_MODINV(int32_t *a, int32_t *m, int32_t *d) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x, *y, *z;
        if (!regs(&x, a, &y, m, &z, d)) return VN_FAIL;
        mpz_srcptr u = value(*x), mod = value(*y);
        if (mpz_sgn(mod) == 0) return fail(VN_E_DIVZERO);
        if (mpz_cmp_ui(mod, 1) == 0) {
            mpz_set_ui(set_number(*z), 0);
            return 0;
        }
        Num inv;
        int found = mpz_invert(inv, u, mod);
        if (found) adopt_number(*z, inv);
        if (!found) {
            set_error(VN_E_NOINVERSE);
            return 1;
        }
        return 0;
    });
}

}  // extern "C"
