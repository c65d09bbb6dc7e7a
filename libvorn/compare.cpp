// Truth-valued comparisons. Two byte-string operands compare their bytes; any comparison
// involving a number compares values.
#include "core.h"
#include "internal.h"

namespace vn {
namespace {

bool equal(Operand a, Operand b) {
    if (a.bytes && b.bytes) return *a.bytes == *b.bytes;
    Num x, y;
    if (a.bytes) number_from_bytes(x, *a.bytes);
    if (b.bytes) number_from_bytes(y, *b.bytes);
    return mpz_cmp(a.bytes ? x : a.number, b.bytes ? y : b.number) == 0;
}

}  // namespace

Status is_zero(mpz_srcptr a) { return truth(mpz_sgn(a) == 0); }

Status is_odd(mpz_srcptr a) { return truth(mpz_odd_p(a) != 0); }

Status is_equal(Operand a, Operand b) { return truth(equal(a, b)); }

Status is_not_equal(Operand a, Operand b) { return truth(!equal(a, b)); }

Status is_less(mpz_srcptr a, mpz_srcptr b) { return truth(mpz_cmp(a, b) < 0); }

}  // namespace vn
