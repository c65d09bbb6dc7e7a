// Truth-valued comparisons. Two byte-form registers compare their bytes; any comparison
// involving a number compares values. A failure returns VN_FAIL, which no caller can take
// for either answer.
#include "internal.h"

using namespace vn;

namespace {

// 1 when equal, 0 when different, VN_FAIL on a failure.
int32_t equal(int32_t *a, int32_t *b) {
    Register *x, *y;
    if (!regs(&x, a, &y, b)) return VN_FAIL;
    if (x == y) return 1;
    if (x->byte_form && y->byte_form) return bytes_of(*x) == bytes_of(*y);
    return mpz_cmp(value(*x), value(*y)) == 0;
}

}  // namespace

extern "C" {

VN_API int32_t VN_ISZERO(int32_t *a) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x = reg(a);
        if (!x) return VN_FAIL;
        return mpz_sgn(value(*x)) == 0;
    });
}

VN_API int32_t VN_ISODD(int32_t *a) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x = reg(a);
        if (!x) return VN_FAIL;
        return mpz_odd_p(value(*x)) != 0;
    });
}

VN_API int32_t VN_ISEQUAL(int32_t *a, int32_t *b) {
    return guarded(VN_FAIL, [&] { return equal(a, b); });
}

VN_API int32_t VN_ISNOTEQUAL(int32_t *a, int32_t *b) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        int32_t e = equal(a, b);
        return e == VN_FAIL ? VN_FAIL : !e;
    });
}

VN_API int32_t VN_ISLESS(int32_t *a, int32_t *b) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *x, *y;
        if (!regs(&x, a, &y, b)) return VN_FAIL;
        return mpz_cmp(value(*x), value(*y)) < 0;
    });
}

}  // extern "C"
