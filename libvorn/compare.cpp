// Truth-valued comparisons. Two byte-form registers compare their bytes; any comparison
// involving a number compares values.
#include "internal.h"

using namespace vn;

namespace {

// 1 when equal, 0 when different, -1 on a failure.
int equal(int32_t *a, int32_t *b) {
    Register *x, *y;
    if (!regs(&x, a, &y, b)) return -1;
    if (x == y) return 1;
    if (x->byte_form && y->byte_form) return bytes_of(*x) == bytes_of(*y);
    return mpz_cmp(value(*x), value(*y)) == 0;
}

}  // namespace

extern "C" {

VN_API int32_t VN_ISZERO(int32_t *a) {
    Register *x = reg(a);
    return x && mpz_sgn(value(*x)) == 0;
}

VN_API int32_t VN_ISODD(int32_t *a) {
    Register *x = reg(a);
    return x && mpz_odd_p(value(*x));
}

VN_API int32_t VN_ISEQUAL(int32_t *a, int32_t *b) { return equal(a, b) == 1; }

VN_API int32_t VN_ISNOTEQUAL(int32_t *a, int32_t *b) { return equal(a, b) == 0; }

VN_API int32_t VN_ISLESS(int32_t *a, int32_t *b) {
    Register *x, *y;
    if (!regs(&x, a, &y, b)) return 0;
    return mpz_cmp(value(*x), value(*y)) < 0;
}

}  // extern "C"
