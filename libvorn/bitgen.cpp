// Blum-Blum-Shub and RSA bit generators, and the BBS set-up.
//
// Both generators spend nearly all their time in modular squarings, one after the other, so
// the arithmetic is chosen by modulus size and step. The RSA step's many squarings run in
// Montgomery form (straight-line 128-bit code up to two limbs, in x86-64 assembly where mulx
// is there, GMP's mpn layer with a word-by-word reduction beyond), converted out once a
// step. BBS squares once a step, and a conversion out of Montgomery form every step would
// cost as much as the squaring, so it squares plainly: by a precomputed reciprocal up to 128
// bits, with mpn_sqr and mpn_tdiv_qr beyond; only moduli below 2^64 keep one-word Montgomery
// code.
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "core.h"
#include "crypto_internal.h"
#include "internal.h"

namespace vn {
namespace {

using u64 = uint64_t;
using u128 = unsigned __int128;
static_assert(sizeof(mp_limb_t) == sizeof(u64), "64-bit limbs expected");

// -n^-1 mod 2^64 for odd n: Newton's iteration doubles the correct low bits, from the 3 that
// n itself gives (n*n = 1 mod 8 for odd n).
u64 negated_inverse(u64 n) {
    u64 x = n;
    for (int i = 0; i < 5; ++i) x *= 2 - n * x;
    return 0 - x;
}

// -n^-1 mod 2^128 for odd n, the same way.
u128 negated_inverse_128(u128 n) {
    u128 x = n;
    for (int i = 0; i < 6; ++i) x *= 2 - n * x;
    return 0 - x;
}

// floor((2^256 - 1) / d) - 2^128 for d with its top bit set (below 2^128 then).
u128 reciprocal(u128 d) {
    Num num, den;
    mpz_set_ui(num, 0);
    mpz_setbit(num, 256);
    mpz_sub_ui(num, num, 1);
    u64 limbs[2] = {static_cast<u64>(d), static_cast<u64>(d >> 64)};
    mpz_import(den, 2, -1, sizeof(u64), 0, 0, limbs);
    mpz_tdiv_q(num, num, den);
    mpz_clrbit(num, 128);
    return static_cast<u128>(mpz_getlimbn(num, 1)) << 64 | mpz_getlimbn(num, 0);
}

// y = x * 2^(64*limbs) mod n, as limbs.
void to_montgomery(mp_limb_t *y, size_t limbs, mpz_srcptr x, mpz_srcptr n) {
    Num t;
    mpz_mul_2exp(t, x, 64 * limbs);
    mpz_mod(t, t, n);
    for (size_t i = 0; i < limbs; ++i) y[i] = mpz_getlimbn(t, static_cast<mp_size_t>(i));
}

// r - n when r >= n, else r, without a branch: which one it is follows the data and would
// be mispredicted half the time, at a cost comparable to the arithmetic itself.
inline u128 select_reduced(u128 r, u128 n) {
    u128 diff = r - n;
    u128 keep_diff = 0 - static_cast<u128>(r >= n);
    return (diff & keep_diff) | (r & ~keep_diff);
}

// Montgomery arithmetic modulo an odd n below 2^64.
struct OneLimb {
    u64 n, ninv, y, base;
    // (hi:lo + q*n) / 2^64 for the q that clears the low word; below 2n.
    u64 reduce(u128 t) const {
        u64 q = static_cast<u64>(t) * ninv;
        u128 m = static_cast<u128>(q) * n;
        // The low words cancel; a carry comes out of them unless both are zero.
        u128 r = (t >> 64) + (m >> 64) + (static_cast<u64>(t) != 0);
        return static_cast<u64>(select_reduced(r, n));
    }
    void square() { y = reduce(static_cast<u128>(y) * y); }
    void multiply() { y = reduce(static_cast<u128>(y) * base); }
    u64 low_bits() const { return reduce(y); }
};

// Montgomery arithmetic modulo an odd n of 65 to 128 bits with R = 2^128, reducing all 128
// bits in one step: the products of a step are independent of each other, which keeps the
// chain of dependent multiplications short.
struct TwoLimbs {
    u128 n, ninv;  // ninv = -n^-1 mod 2^128
    u128 y = 0, base = 0;

    TwoLimbs(u128 modulus, u128 negated_inverse) : n(modulus), ninv(negated_inverse) {}

    // (hi*2^128 + lo + q*n) / 2^128 for q = lo*ninv mod 2^128, which clears the low half;
    // for hi < n this is below 2n and is then brought below n.
    u128 reduce(u128 lo, u128 hi) const {
        u64 l0 = static_cast<u64>(lo), l1 = static_cast<u64>(lo >> 64);
        u64 i0 = static_cast<u64>(ninv), i1 = static_cast<u64>(ninv >> 64);
        u128 q = static_cast<u128>(l0) * i0;
        q += static_cast<u128>(l0 * i1 + l1 * i0) << 64;
        u64 q0 = static_cast<u64>(q), q1 = static_cast<u64>(q >> 64);
        u64 n0 = static_cast<u64>(n), n1 = static_cast<u64>(n >> 64);
        u128 p00 = static_cast<u128>(q0) * n0, p01 = static_cast<u128>(q0) * n1,
             p10 = static_cast<u128>(q1) * n0, p11 = static_cast<u128>(q1) * n1;
        u128 mid = (p00 >> 64) + static_cast<u64>(p01) + static_cast<u64>(p10);
        u128 qn_high = p11 + (p01 >> 64) + (p10 >> 64) + (mid >> 64);
        // The low halves sum to exactly 2^128 unless lo is 0: one carry into the high half.
        u128 r = hi + qn_high;
        u128 above = r < hi;
        u128 r1 = r + (lo != 0);
        above |= r1 < r;
        u128 diff = r1 - n;
        u128 keep_diff = 0 - (above | (r1 >= n));
        return (diff & keep_diff) | (r1 & ~keep_diff);
    }
    void square() {
        u64 y0 = static_cast<u64>(y), y1 = static_cast<u64>(y >> 64);
        u128 p00 = static_cast<u128>(y0) * y0, p01 = static_cast<u128>(y0) * y1,
             p11 = static_cast<u128>(y1) * y1;
        u128 s = (p00 >> 64) + (static_cast<u128>(static_cast<u64>(p01)) << 1);
        u128 lo = (s << 64) | static_cast<u64>(p00);
        s = (s >> 64) + (static_cast<u128>(static_cast<u64>(p01 >> 64)) << 1) +
            static_cast<u64>(p11);
        u128 hi = ((s >> 64) + (p11 >> 64)) << 64 | static_cast<u64>(s);
        y = reduce(lo, hi);
    }
    void multiply() {
        u64 a0 = static_cast<u64>(y), a1 = static_cast<u64>(y >> 64);
        u64 b0 = static_cast<u64>(base), b1 = static_cast<u64>(base >> 64);
        u128 p00 = static_cast<u128>(a0) * b0, p01 = static_cast<u128>(a0) * b1,
             p10 = static_cast<u128>(a1) * b0, p11 = static_cast<u128>(a1) * b1;
        u128 s = (p00 >> 64) + static_cast<u64>(p01) + static_cast<u64>(p10);
        u128 lo = (s << 64) | static_cast<u64>(p00);
        u128 hi = p11 + (p01 >> 64) + (p10 >> 64) + (s >> 64);
        y = reduce(lo, hi);
    }
    u64 low_bits() const { return static_cast<u64>(reduce(y, 0)); }
};

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VN_HAVE_MULX_TWO_LIMBS 1
// TwoLimbs with the squaring and the multiplication written out in x86-64 assembly around
// mulx (BMI2), for machines that have it: the compiler's code for the 128-bit arithmetic
// above spills and shuffles so much that it runs at about half the speed the dependent
// multiplications allow. The value is not kept below n, which TwoLimbs::reduce accepts; only
// the conversion out of Montgomery form reduces fully.
//
// For a, b < 2^128, T = a*b = t3:t2:t1:t0 and q = T * ninv mod 2^128, (T + q*n) / 2^128 is
// below 2^128 + n, and an overflow past 2^128 is fixed by adding m = 2^128 - n modulo 2^128.
// With q = q1:q0 (q0 = t0*i0 mod 2^64, q1 = hi(t0*i0) + t0*i1 + t1*i0 mod 2^64) the result
// is t3:t2 + hi(q0*n1) + q1*n1 + hi(q1*n0) + the carry out of column 1. Column 0 carries
// exactly when t0 is nonzero, and column 1 (t1, hi(q0*n0), lo(q0*n1), lo(q1*n0) and that
// carry) sums to a multiple of 2^64, so lo(q1*n0) is not needed: the column carries
// ceil((t1 + carry + hi(q0*n0) + lo(q0*n1)) / 2^64), which is summed with the terms of q0
// before q1 is known. What depends on q1 is q1*n1 + hi(q1*n0) (below 2^128), added both to
// that early sum and to the early sum plus m; a carry out of either addition picks the
// second.
//
// With Lazy, for n below 2^126, values stay below 2n instead: then T < 4n^2 <= n * 2^128,
// the result is below 2n again and nothing overflows, so the correction is left out.
#define VN_TWO_LIMB_EARLY                           \
    /* q0 in u, q1 in v */                          \
    "movq %[t0], %%rdx\n\t"                         \
    "mulx %[i0], %[u], %[v]\n\t"                    \
    "movq %[t0], %[w]\n\t"                          \
    "imulq %[i1], %[w]\n\t"                         \
    "addq %[w], %[v]\n\t"                           \
    "movq %[t1], %[w]\n\t"                          \
    "imulq %[i0], %[w]\n\t"                         \
    "addq %[w], %[v]\n\t"                           \
    /* y1:y0:t1 = T/2^64 + t1 + (t0 != 0) + 2^64 - 1, for the ceiling of column 1 */ \
    "negq %[t0]\n\t"                                \
    "adcq $-1, %[t1]\n\t"                           \
    "adcq $0, %[y0]\n\t"                            \
    "adcq $0, %[y1]\n\t"                            \
    /* c:b = q0*n / 2^64 (hi(q0*n1) + a carry stays below 2^64) */ \
    "movq %[u], %%rdx\n\t"                          \
    "mulx %[n0], %[a], %[a]\n\t"                    \
    "mulx %[n1], %[b], %[c]\n\t"                    \
    "xorl %k[ce], %k[ce]\n\t"                       \
    "addq %[a], %[b]\n\t"                           \
    "adcq $0, %[c]\n\t"                             \
    /* ce:y1:y0 = the early sum */                  \
    "addq %[b], %[t1]\n\t"                          \
    "adcq %[c], %[y0]\n\t"                          \
    "adcq $0, %[y1]\n\t"

#define VN_TWO_LIMB_FINISH                          \
    "adcq $0, %[ce]\n\t"                            \
    /* b:a = the early sum plus m */                \
    "movq %[y0], %[a]\n\t"                          \
    "addq %[m0], %[a]\n\t"                          \
    "movq %[y1], %[b]\n\t"                          \
    "adcq %[m1], %[b]\n\t"                          \
    /* t1:t0 = q1*n1 + hi(q1*n0) */                 \
    "movq %[v], %%rdx\n\t"                          \
    "mulx %[n0], %[c], %[c]\n\t"                    \
    "mulx %[n1], %[t0], %[t1]\n\t"                  \
    "addq %[c], %[t0]\n\t"                          \
    "adcq $0, %[t1]\n\t"                            \
    "addq %[t0], %[a]\n\t"                          \
    "adcq %[t1], %[b]\n\t"                          \
    "addq %[t0], %[y0]\n\t"                         \
    "adcq %[t1], %[y1]\n\t"                         \
    "adcq $0, %[ce]\n\t"                            \
    "cmovnzq %[a], %[y0]\n\t"                       \
    "cmovnzq %[b], %[y1]\n\t"

#define VN_TWO_LIMB_FINISH_LAZY                     \
    "movq %[v], %%rdx\n\t"                          \
    "mulx %[n0], %[c], %[c]\n\t"                    \
    "mulx %[n1], %[t0], %[t1]\n\t"                  \
    "addq %[c], %[t0]\n\t"                          \
    "adcq $0, %[t1]\n\t"                            \
    "addq %[t0], %[y0]\n\t"                         \
    "adcq %[t1], %[y1]\n\t"

#define VN_TWO_LIMB_SQUARE                          \
    "movq %[y0], %%rdx\n\t"                         \
    "mulx %[y0], %[t0], %[t1]\n\t" /* y0^2 */       \
    "mulx %[y1], %[u], %[v]\n\t"   /* y0*y1, doubled below */ \
    "movq %[y1], %%rdx\n\t"                         \
    "mulx %%rdx, %[y0], %[y1]\n\t" /* y1^2 */       \
    "addq %[u], %[u]\n\t"                           \
    "adcq %[v], %[v]\n\t"                           \
    "adcq $0, %[y1]\n\t"                            \
    "addq %[u], %[t1]\n\t"                          \
    "adcq %[v], %[y0]\n\t"                          \
    "adcq $0, %[y1]\n\t" /* T = y1:y0:t1:t0 */

#define VN_TWO_LIMB_MULTIPLY                        \
    "movq %[y0], %%rdx\n\t"                         \
    "mulx %[b0], %[t0], %[t1]\n\t"                  \
    "mulx %[b1], %[u], %[v]\n\t"                    \
    "movq %[y1], %%rdx\n\t"                         \
    "mulx %[b0], %[a], %[c]\n\t"                    \
    "mulx %[b1], %[y0], %[y1]\n\t"                  \
    "addq %[u], %[t1]\n\t"                          \
    "adcq %[v], %[y0]\n\t"                          \
    "adcq $0, %[y1]\n\t"                            \
    "addq %[a], %[t1]\n\t"                          \
    "adcq %[c], %[y0]\n\t"                          \
    "adcq $0, %[y1]\n\t" /* T = y1:y0:t1:t0 */

#define VN_TWO_LIMB_OUTPUTS                                                                \
    [y0] "+&r"(y0), [y1] "+&r"(y1), [t0] "=&r"(t0), [t1] "=&r"(t1), [u] "=&r"(u),          \
        [v] "=&r"(v), [w] "=&r"(w), [a] "=&r"(a), [b] "=&r"(b), [c] "=&r"(c), [ce] "=&r"(ce)
#define VN_TWO_LIMB_CONSTANTS                                                              \
    [n0] "m"(k[0]), [n1] "m"(k[1]), [i0] "m"(k[2]), [i1] "m"(k[3]), [m0] "m"(k[4]),         \
        [m1] "m"(k[5])

template <bool Lazy>
struct TwoLimbsMulx : TwoLimbs {
    u64 k[6];  // n0, n1, i0, i1 (ninv), m0, m1 (2^128 - n)

    TwoLimbsMulx(u128 modulus, u128 negated_inverse) : TwoLimbs(modulus, negated_inverse) {
        u128 m = 0 - modulus;
        k[0] = static_cast<u64>(modulus);
        k[1] = static_cast<u64>(modulus >> 64);
        k[2] = static_cast<u64>(negated_inverse);
        k[3] = static_cast<u64>(negated_inverse >> 64);
        k[4] = static_cast<u64>(m);
        k[5] = static_cast<u64>(m >> 64);
    }
    void square() {
        u64 y0 = static_cast<u64>(y), y1 = static_cast<u64>(y >> 64);
        u64 t0, t1, u, v, w, a, b, c, ce;
        if constexpr (Lazy) {
            asm(VN_TWO_LIMB_SQUARE VN_TWO_LIMB_EARLY VN_TWO_LIMB_FINISH_LAZY
                : VN_TWO_LIMB_OUTPUTS
                : VN_TWO_LIMB_CONSTANTS
                : "rdx", "cc");
        } else {
            asm(VN_TWO_LIMB_SQUARE VN_TWO_LIMB_EARLY VN_TWO_LIMB_FINISH
                : VN_TWO_LIMB_OUTPUTS
                : VN_TWO_LIMB_CONSTANTS
                : "rdx", "cc");
        }
        y = static_cast<u128>(y1) << 64 | y0;
    }
    void multiply() {
        u64 y0 = static_cast<u64>(y), y1 = static_cast<u64>(y >> 64);
        u64 b0 = static_cast<u64>(base), b1 = static_cast<u64>(base >> 64);
        u64 t0, t1, u, v, w, a, b, c, ce;
        if constexpr (Lazy) {
            asm(VN_TWO_LIMB_MULTIPLY VN_TWO_LIMB_EARLY VN_TWO_LIMB_FINISH_LAZY
                : VN_TWO_LIMB_OUTPUTS
                : VN_TWO_LIMB_CONSTANTS, [b0] "rm"(b0), [b1] "rm"(b1)
                : "rdx", "cc");
        } else {
            asm(VN_TWO_LIMB_MULTIPLY VN_TWO_LIMB_EARLY VN_TWO_LIMB_FINISH
                : VN_TWO_LIMB_OUTPUTS
                : VN_TWO_LIMB_CONSTANTS, [b0] "rm"(b0), [b1] "rm"(b1)
                : "rdx", "cc");
        }
        y = static_cast<u128>(y1) << 64 | y0;
    }
};

#undef VN_TWO_LIMB_EARLY
#undef VN_TWO_LIMB_FINISH
#undef VN_TWO_LIMB_FINISH_LAZY
#undef VN_TWO_LIMB_SQUARE
#undef VN_TWO_LIMB_MULTIPLY
#undef VN_TWO_LIMB_OUTPUTS
#undef VN_TWO_LIMB_CONSTANTS

#endif

// mulx belongs to BMI2: the assembler takes it whatever the compiler flags, so the CPU is asked
// once at run time.
bool have_mulx() {
#ifdef VN_HAVE_MULX_TWO_LIMBS
    static const bool yes = __builtin_cpu_supports("bmi2");
    return yes;
#else
    return false;
#endif
}

// Plain squaring modulo an odd n of 65 to 128 bits with a precomputed reciprocal, for BBS:
// it gives x itself, where Montgomery form needs a conversion out of it every step, and so
// does a third fewer multiplications a step.
struct TwoLimbsPlain {
    u128 N;      // n << shift: the top bit set
    u128 v;      // floor((2^256 - 1) / N) - 2^128
    unsigned shift;
    u128 x;      // the state, below n

    // a*b = hi*2^128 + lo.
    static u128 multiply(u128 a, u128 b, u128 &lo) {
        u64 a0 = static_cast<u64>(a), a1 = static_cast<u64>(a >> 64);
        u64 b0 = static_cast<u64>(b), b1 = static_cast<u64>(b >> 64);
        u128 p00 = static_cast<u128>(a0) * b0, p01 = static_cast<u128>(a0) * b1,
             p10 = static_cast<u128>(a1) * b0, p11 = static_cast<u128>(a1) * b1;
        u128 mid = (p00 >> 64) + static_cast<u64>(p01) + static_cast<u64>(p10);
        lo = (mid << 64) | static_cast<u64>(p00);
        return p11 + (p01 >> 64) + (p10 >> 64) + (mid >> 64);
    }
    void square() {
        // T = x^2 * 2^shift = A*2^128 + B, so that T mod N = (x^2 mod n) * 2^shift. A < N.
        u128 lo, hi = multiply(x, x, lo);
        u128 a = shift ? (hi << shift) | (lo >> (128 - shift)) : hi;
        u128 b = lo << shift;
        // q = A + floor(A*v / 2^128) never exceeds floor(T / N) and falls short of it by a
        // little, so r = T - q*N is small: its low 192 bits are all of it.
        u128 unused, q = a + multiply(a, v, unused);
        u128 qn_lo, qn_hi = multiply(q, N, qn_lo);
        u128 r = b - qn_lo;
        u64 r_top = static_cast<u64>(a) - static_cast<u64>(qn_hi) - (b < qn_lo);
        while (r_top != 0 || r >= N) {
            r_top -= r < N;
            r -= N;
        }
        x = r >> shift;
    }
    u64 low_bits() const { return static_cast<u64>(x); }
};

// Montgomery arithmetic on GMP's mpn layer for moduli of any number of limbs.
struct ManyLimbs {
    size_t limbs;
    u64 ninv;
    std::vector<mp_limb_t> n, y, base, t, x;
    ~ManyLimbs() {
        wipe(x);
        wipe(y);
        wipe(t);
        wipe(base);
    }

    // r = t / R mod n for t < n*R (2*limbs words, clobbered). Each row's carry is parked in
    // the word the row cleared and added in one pass at the end, as GMP's own redc does.
    void reduce(mp_limb_t *r, mp_limb_t *tw) const {
        const auto sz = static_cast<mp_size_t>(limbs);
        for (size_t i = 0; i < limbs; ++i) tw[i] = mpn_addmul_1(tw + i, n.data(), sz, tw[i] * ninv);
        mp_limb_t carry = mpn_add_n(r, tw + limbs, tw, sz);
        if (carry != 0 || mpn_cmp(r, n.data(), sz) >= 0) mpn_sub_n(r, r, n.data(), sz);
    }
    void square() {
        mpn_sqr(t.data(), y.data(), static_cast<mp_size_t>(limbs));
        reduce(y.data(), t.data());
    }
    void multiply() {
        mpn_mul_n(t.data(), y.data(), base.data(), static_cast<mp_size_t>(limbs));
        reduce(y.data(), t.data());
    }
    void from_montgomery() {
        std::memcpy(t.data(), y.data(), limbs * sizeof(mp_limb_t));
        std::memset(t.data() + limbs, 0, limbs * sizeof(mp_limb_t));
        reduce(x.data(), t.data());
    }
    u64 low_bits() {
        from_montgomery();
        return x[0];
    }
};

// Plain squaring and division for BBS on moduli of more than two limbs. Montgomery form
// would save the division but cost a conversion out of it every step, which is dearer.
struct PlainLimbs {
    size_t limbs;
    std::vector<mp_limb_t> n, x, t, q;
    ~PlainLimbs() {
        wipe(x);
        wipe(t);
    }
    void square() {
        const auto sz = static_cast<mp_size_t>(limbs);
        mpn_sqr(t.data(), x.data(), sz);
        mpn_tdiv_qr(q.data(), x.data(), 0, t.data(), 2 * sz, n.data(), sz);
    }
    u64 low_bits() const { return x[0]; }
};

// Packs j-bit groups, least significant bit first, into bytes. The buffer needs 8 bytes of
// slack beyond the output, since whole 32-bit words are written.
struct BitPacker {
    unsigned char *out;
    u64 acc = 0;
    unsigned fill = 0;
    void put(u64 bits, unsigned j) {
        acc |= (bits & ((u64{1} << j) - 1)) << fill;
        fill += j;
        if (fill >= 32) {
            for (int b = 0; b < 4; ++b) out[b] = static_cast<unsigned char>(acc >> (8 * b));
            out += 4;
            acc >>= 32;
            fill -= 32;
        }
    }
    void flush() {
        for (unsigned b = 0; b * 8 < fill; ++b) out[b] = static_cast<unsigned char>(acc >> (8 * b));
    }
};

// The exponent of the RSA step, most significant bit first, the leading 1 left out; empty
// for the squaring of BBS.
using ExponentBits = std::vector<unsigned char>;

// Runs the steps in chunks of about a millisecond (chunk steps each), checking for a stop and
// reporting the share done between chunks.
template <typename Engine>
void run_steps(const Context &ctx, Engine &eng, u64 steps, u64 chunk, unsigned j,
               const ExponentBits &exponent, BitPacker &pack) {
    for (u64 done = 0; done < steps;) {
        u64 end = steps - done > chunk ? done + chunk : steps;
        if constexpr (requires { eng.multiply(); }) {
            if (!exponent.empty()) {
                for (; done < end; ++done) {
                    eng.base = eng.y;
                    for (unsigned char bit : exponent) {
                        eng.square();
                        if (bit) eng.multiply();
                    }
                    pack.put(eng.low_bits(), j);
                }
            }
        }
        for (; done < end; ++done) {
            eng.square();
            pack.put(eng.low_bits(), j);
        }
        ctx.check();
        ctx.progress(done, steps);
    }
}

// floor(log2(log2 n)) for odd n >= 3, at least 1: for odd n of b bits, log2 n lies strictly
// between b - 1 and b, so this is floor(log2(b - 1)).
unsigned bits_per_step(mpz_srcptr n) {
    size_t below = bit_size(n) - 1;
    unsigned j = 0;
    while ((size_t{2} << j) <= below) ++j;
    return j < 1 ? 1 : j;
}

// One generator call's steps: what every engine runs.
struct Steps {
    const Context &ctx;
    const ExponentBits &exponent;  // empty: squaring
    u64 count, chunk;
    unsigned j;
    BitPacker &pack;

    template <typename Engine>
    void run(Engine &eng) const {
        run_steps(ctx, eng, count, chunk, j, exponent, pack);
    }
};

u128 two_limbs_of(mpz_srcptr v) { return static_cast<u128>(mpz_getlimbn(v, 1)) << 64 | mpz_getlimbn(v, 0); }

void set_two_limbs(mpz_ptr x, u128 v) {
    u64 y[2] = {static_cast<u64>(v), static_cast<u64>(v >> 64)};
    mpz_import(x, 2, -1, sizeof(u64), 0, 0, y);
}

// Each engine's run: sets the engine up from x and n, runs the steps and leaves the final
// state in x.
void run_one_limb(const Steps &s, mpz_ptr x, mpz_srcptr n) {
    OneLimb eng{mpz_getlimbn(n, 0), negated_inverse(mpz_getlimbn(n, 0)), 0, 0};
    to_montgomery(&eng.y, 1, x, n);
    s.run(eng);
    mpz_set_ui(x, eng.low_bits());
}

void run_two_limbs_plain(const Steps &s, mpz_ptr x, mpz_srcptr n) {
    u128 nn = two_limbs_of(n);
    unsigned shift = static_cast<unsigned>(128 - bit_size(n));
    TwoLimbsPlain eng{nn << shift, reciprocal(nn << shift), shift, two_limbs_of(x)};
    s.run(eng);
    set_two_limbs(x, eng.x);
}

// TwoLimbs and its mulx forms, which share its conversion out of Montgomery form.
template <typename Engine>
void run_two_limbs(const Steps &s, mpz_ptr x, mpz_srcptr n) {
    u128 nn = two_limbs_of(n);
    Engine eng(nn, negated_inverse_128(nn));
    u64 y[2];
    to_montgomery(y, 2, x, n);
    eng.y = static_cast<u128>(y[1]) << 64 | y[0];
    s.run(eng);
    set_two_limbs(x, eng.reduce(eng.y, 0));
}

void run_plain_limbs(const Steps &s, mpz_ptr x, mpz_srcptr n) {
    size_t limbs = mpz_size(n);
    PlainLimbs eng{limbs, std::vector<mp_limb_t>(limbs), std::vector<mp_limb_t>(limbs),
                   std::vector<mp_limb_t>(2 * limbs), std::vector<mp_limb_t>(limbs + 1)};
    for (size_t i = 0; i < limbs; ++i) {
        eng.n[i] = mpz_getlimbn(n, static_cast<mp_size_t>(i));
        eng.x[i] = mpz_getlimbn(x, static_cast<mp_size_t>(i));
    }
    s.run(eng);
    mpz_import(x, limbs, -1, sizeof(mp_limb_t), 0, 0, eng.x.data());
}

void run_many_limbs(const Steps &s, mpz_ptr x, mpz_srcptr n) {
    size_t limbs = mpz_size(n);
    ManyLimbs eng{limbs, negated_inverse(mpz_getlimbn(n, 0)), std::vector<mp_limb_t>(limbs),
                  std::vector<mp_limb_t>(limbs), {}, std::vector<mp_limb_t>(2 * limbs),
                  std::vector<mp_limb_t>(limbs)};
    for (size_t i = 0; i < limbs; ++i) eng.n[i] = mpz_getlimbn(n, static_cast<mp_size_t>(i));
    to_montgomery(eng.y.data(), limbs, x, n);
    s.run(eng);
    eng.from_montgomery();
    mpz_import(x, limbs, -1, sizeof(mp_limb_t), 0, 0, eng.x.data());
}

enum class Step { squaring, exponent, either };

// The engines, tried in order: the first row that fits the call runs it. A row fits moduli
// of up to max_bits bits (0: any), BBS's squaring or the RSA step's exponent (or either),
// and, with mulx set, only a CPU with BMI2 where the context does not ask for the portable
// code.
struct EngineRow {
    const char *name;
    size_t max_bits;
    Step step;
    bool mulx;
    void (*run)(const Steps &, mpz_ptr x, mpz_srcptr n);
};

constexpr EngineRow kEngines[] = {
    {"OneLimb", 64, Step::either, false, run_one_limb},
    {"TwoLimbsPlain", 128, Step::squaring, false, run_two_limbs_plain},
#ifdef VN_HAVE_MULX_TWO_LIMBS
    // Below 2^126 values may stay below 2n: no overflow to correct.
    {"TwoLimbsMulx<true>", 126, Step::exponent, true, run_two_limbs<TwoLimbsMulx<true>>},
    {"TwoLimbsMulx<false>", 128, Step::exponent, true, run_two_limbs<TwoLimbsMulx<false>>},
#endif
    {"TwoLimbs", 128, Step::exponent, false, run_two_limbs<TwoLimbs>},
    {"PlainLimbs", 0, Step::squaring, false, run_plain_limbs},
    {"ManyLimbs", 0, Step::exponent, false, run_many_limbs},
};

bool fits(const EngineRow &row, size_t bits, bool squaring, const Context &ctx) {
    if (row.max_bits != 0 && bits > row.max_bits) return false;
    if (row.step != Step::either && (row.step == Step::squaring) != squaring) return false;
    return !row.mulx || (!ctx.portable_two_limbs && have_mulx());
}

// The first row that fits; the last two take any modulus, so one always does.
const EngineRow &engine_for(size_t bits, bool squaring, const Context &ctx) {
    for (const EngineRow &row : kEngines)
        if (fits(row, bits, squaring, ctx)) return row;
    return kEngines[std::size(kEngines) - 1];
}

// Writes len bytes from x (0 < x < n, n odd) stepping by squaring (empty exponent) or by the
// exponent, and leaves the final x in x.
bool generate(const Context &ctx, mpz_ptr x, mpz_srcptr n, const ExponentBits &exponent, unsigned j,
              size_t len, std::string &out) {
    out.assign(len + 8, '\0');
    BitPacker pack{reinterpret_cast<unsigned char *>(out.data())};
    u64 steps = (static_cast<u64>(len) * 8 + j - 1) / j;
    size_t limbs = static_cast<size_t>(mpz_size(n));
    // A step costs about limbs^2 per squaring or multiplication; a chunk about 2^18 of those.
    u64 step_cost = static_cast<u64>(limbs) * limbs * (exponent.size() + exponent.size() / 4 + 1);
    u64 chunk = step_cost >= (u64{1} << 18) ? 1 : (u64{1} << 18) / step_cost;
    engine_for(bit_size(n), exponent.empty(), ctx).run(Steps{ctx, exponent, steps, chunk, j, pack}, x, n);
    pack.flush();
    out.resize(len);
    return true;
}

// True when the state x (below n) reaches a fixed point of the step (x^2, or x^e with e
// given) after one step, so that every output step would give the same bits. That covers 0,
// 1 and n - 1 for both generators and, for BBS, the other square roots of 1 and the fixed
// points x = 0 mod p, 1 mod q. For a Blum modulus (VN_INITBBS's, p = q = 3 mod 4) these are
// all the states whose output is constant: a unit whose squares reach 1 has an order that
// is a power of 2, and modulo such a prime only +-1 have one. For other moduli an orbit may
// take more steps to settle, which no check short of factoring n can rule out.
bool falls_on_fixed_point(mpz_srcptr x, mpz_srcptr n, mpz_srcptr e) {
    Num first, second;
    if (e == nullptr) mpz_powm_ui(first, x, 2, n);
    else mpz_powm(first, x, e, n);
    if (e == nullptr) mpz_powm_ui(second, first, 2, n);
    else mpz_powm(second, first, e, n);
    return mpz_cmp(first, second) == 0;
}

// The checks and the work both generators share. e is null for BBS; j_wanted 0 means
// floor(log2(log2 n)) bits a step.
Status generator_run(const Context &ctx, BytesOut &out, NumberOut &next, int32_t len, unsigned j_wanted,
                     mpz_srcptr s, mpz_srcptr e, mpz_srcptr n) {
    if (len < 1 || len > VN_MAX_GENERATE_BYTES) return failure(VN_E_BITS);
    // An even modulus has no Montgomery form and its squares soon stick; a modulus beyond
    // the largest the set-up makes would take hours for one call.
    if (mpz_cmp_ui(n, 3) < 0 || mpz_even_p(n) || bit_size(n) > VN_MAX_BBS_BITS) return failure(VN_E_ARGUMENT);
    ExponentBits exponent;
    if (e != nullptr) {
        // Beyond the modulus' own size (or 32 bits for tiny moduli) one step could run for
        // hours; no RSA key has such an exponent.
        size_t limit = bit_size(n) > 32 ? bit_size(n) : 32;
        if (mpz_cmp_ui(e, 2) < 0 || bit_size(e) > limit) return failure(VN_E_ARGUMENT);
        for (size_t i = bit_size(e) - 1; i-- > 0;) exponent.push_back(mpz_tstbit(e, i) ? 1 : 0);
    }
    mpz_ptr x = next.temporary();
    mpz_mod(x, s, n);
    if (falls_on_fixed_point(x, n, e)) return failure(VN_E_ARGUMENT);
    unsigned j = j_wanted == 0 ? bits_per_step(n) : j_wanted;
    struct Bytes {
        std::string b;
        ~Bytes() { wipe(b); }
    } bytes;
    generate(ctx, x, n, exponent, j, static_cast<size_t>(len), bytes.b);
    out.put(std::move(bytes.b));
    next.keep();
    return kOk;
}

}  // namespace

Status bbs_setup(const Context &ctx, NumberOut &n, NumberOut &s, int32_t bits, int32_t rounds) {
    if (bits < VN_MIN_BBS_BITS || bits > VN_MAX_BBS_BITS) return failure(VN_E_BITS);
    Num p, q, modulus, x, state, lo, hi;
    Status st = two_prime_modulus(ctx, p, q, modulus, static_cast<size_t>(bits), clamp_rounds(rounds), true, 0);
    if (!succeeded(st)) return st;
    // x coprime to n and a square x^2 that is not 1 (x = +-1 or the other two roots of 1),
    // nor n - 1 (not a square modulo a Blum integer, so it never comes; the check is cheap).
    mpz_set_ui(lo, 2);
    mpz_sub_ui(hi, modulus, 2);
    for (;;) {
        random_range(ctx, x, lo, hi);
        mpz_gcd(state, x, modulus);
        if (mpz_cmp_ui(state, 1) != 0) continue;
        mpz_powm_ui(state, x, 2, modulus);
        if (!falls_on_fixed_point(state, modulus, nullptr)) break;
    }
    mpz_swap(n.temporary(), modulus);
    mpz_swap(s.temporary(), state);
    n.keep();
    s.keep();
    return kOk;
}

Status bbs_bits(const Context &ctx, BytesOut &out, NumberOut &next, int32_t len, int32_t multi, mpz_srcptr s,
                mpz_srcptr n) {
    return generator_run(ctx, out, next, len, multi == 1 ? 0 : 1, s, nullptr, n);
}

Status rsa_bits(const Context &ctx, BytesOut &out, NumberOut &next, int32_t len, mpz_srcptr s, mpz_srcptr e,
                mpz_srcptr n) {
    return generator_run(ctx, out, next, len, 0, s, e, n);
}

}  // namespace vn
