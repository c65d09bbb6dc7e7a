// Conversions between numbers and decimal or hexadecimal text.
#include <cstring>
#include <new>

#include "internal.h"

namespace vn {
namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The first and one-past-last significant digit of decimal text with optional white space
// around it; false when the text is anything else. One scan, no copy: the digits are then
// handed to GMP in place.
bool scan_decimal(const std::string &text, size_t &first, size_t &end) {
    size_t i = 0, n = text.size();
    while (i < n && is_space(text[i])) ++i;
    size_t digits_start = i;
    while (i < n && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == digits_start) return false;
    size_t digits_end = i;
    while (i < n && is_space(text[i])) ++i;
    if (i != n) return false;
    while (digits_start + 1 < digits_end && text[digits_start] == '0') ++digits_start;
    first = digits_start;
    end = digits_end;
    return true;
}

// The text of x in `base` (10, or -16 for upper-case hexadecimal) as a byte-form result.
// src's number is within VN_MAX_BITS (value() refuses more), so its text is at most
// 2^28 * log10(2) + 1 or 2^26 digits: below VN_MAX_BYTES, which set_bytes checks all the same.
// Repeated self-conversions therefore stop at once the text, read as a number, exceeds
// VN_MAX_BITS.
int32_t to_text(int32_t *src, int32_t *dst, int base) {
    Register *s, *d;
    if (!regs(&s, src, &d, dst)) return VN_FAIL;
    mpz_srcptr x = value(*s);
    // mpz_sizeinbase may overstate the length by one; the text is cut to size after.
    std::string text(mpz_sizeinbase(x, base < 0 ? -base : base) + 1, '\0');
    mpz_get_str(text.data(), base, x);
    text.resize(std::strlen(text.c_str()));
    set_bytes(*d, std::move(text));
    return VN_OK;
}

}  // namespace
}  // namespace vn

using namespace vn;

extern "C" {

VN_API int32_t VN_DEC2HUGE(int32_t *src, int32_t *dst) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *s, *d;
        if (!regs(&s, src, &d, dst)) return VN_FAIL;
        const std::string &text = bytes_of(*s);
        size_t first, end;
        if (!scan_decimal(text, first, end)) {
            mpz_set_ui(set_number(*d), 0);
            return fail(VN_E_DECIMAL);
        }
        // 10^k has more than VN_MAX_BITS bits once k * log2(10) > VN_MAX_BITS; the last few
        // digit counts near the edge are settled by the value itself.
        size_t digits = end - first;
        if (static_cast<double>(digits - 1) * 3.321928094887362 >= static_cast<double>(VN_MAX_BITS))
            return fail(VN_E_TOOBIG);
        Num x;
        // mpz_set_str skips white space itself, and the scan allowed white space only around
        // the digits, so the register's text goes to it as it is.
        mpz_set_str(x, text.c_str(), 10);
        if (bit_size(x) > static_cast<size_t>(VN_MAX_BITS)) return fail(VN_E_TOOBIG);
        adopt_number(*d, x);
        return VN_OK;
    });
}

VN_API int32_t VN_HUGE2DEC(int32_t *src, int32_t *dst) {
    return guarded(VN_FAIL, [&] { return to_text(src, dst, 10); });
}

VN_API int32_t VN_HUGE2HEX(int32_t *src, int32_t *dst) {
    return guarded(VN_FAIL, [&] { return to_text(src, dst, -16); });
}

}  // extern "C"
