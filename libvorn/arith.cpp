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

}  // namespace
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
        if (result_bits > static_cast<double>(kMaxBits) - 1)
            return compute_checked(*z, [&](mpz_ptr t) { mpz_pow_ui(t, base, n); });
        mpz_pow_ui(set_number(*z), base, n);
        return VN_OK;
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
        mpz_powm(set_number(*z), base, exp, mod);
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
