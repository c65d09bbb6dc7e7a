// Conversions between numbers and decimal or hexadecimal text.
#include <cstring>
#include <string>
#include <utility>
#include <vector>
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

// Numbers of up to kPieceDigits decimal digits are converted by one GMP call (a fifth of a
// second at most); larger ones by the divide and conquer GMP does inside, taken out so that a
// stop can come in between the pieces: split by powers of ten 10^(2^i) down to pieces of
// kLeafDigits, which GMP converts. The powers are computed once, each the square of the one
// before, as GMP's own table is, so the whole costs about what one GMP call does.
constexpr size_t kPieceDigits = size_t{1} << 20;
constexpr size_t kLeafDigits = size_t{1} << 15;

// 10^k for the few k a conversion splits at, each computed once.
struct PowersOfTen {
    std::vector<std::pair<size_t, Num *>> known;
    ~PowersOfTen() {
        for (auto &p : known) delete p.second;
    }
    mpz_srcptr of(size_t k) {
        for (auto &p : known)
            if (p.first == k) return *p.second;
        auto *x = new Num;
        if (k % 2 == 0 && k > kLeafDigits) {
            mpz_srcptr half = of(k / 2);
            mpz_mul(*x, half, half);
        } else {
            mpz_ui_pow_ui(*x, 10, k);
        }
        known.emplace_back(k, x);
        return *x;
    }
};

// The split point for a number of `digits` digits: the largest power of two below half of
// it, so that pieces of equal size share their powers of ten.
size_t split_digits(size_t digits) {
    size_t k = 1;
    while (2 * k < digits / 2 + 1) k *= 2;
    return k;
}

struct DecimalProgress {
    const Context &ctx;
    size_t total, done = 0, since_check = 0;
    void add(size_t digits) {
        done += digits;
        since_check += digits;
        if (since_check < kLeafDigits * 8) return;  // every few milliseconds
        since_check = 0;
        ctx.check();
        ctx.progress(done, total);
    }
};

// Appends the decimal digits of x to out: exactly `width` digits (leading zeros) when width is
// not 0, else without leading zeros ("0" for zero).
void append_decimal(mpz_srcptr x, size_t width, std::string &out, PowersOfTen &powers, DecimalProgress &progress) {
    size_t digits = width ? width : mpz_sizeinbase(x, 10);
    if (digits <= kLeafDigits) {
        size_t start = out.size();
        size_t room = mpz_sizeinbase(x, 10) + 1;  // may overstate by one
        out.resize(start + (width > room ? width : room) + 1);
        size_t pad = 0;
        size_t len = 0;
        if (mpz_sgn(x) != 0 || width == 0) {
            mpz_get_str(out.data() + start, 10, x);
            len = std::strlen(out.data() + start);
        }
        if (width > len) {
            pad = width - len;
            std::memmove(out.data() + start + pad, out.data() + start, len);
            std::memset(out.data() + start, '0', pad);
        }
        out.resize(start + pad + len);
        progress.add(pad + len);
        return;
    }
    size_t k = split_digits(digits);
    Num q, r;
    mpz_srcptr power = powers.of(k);
    progress.ctx.check();
    mpz_tdiv_qr(q, r, x, power);
    progress.ctx.check();
    append_decimal(q, width ? width - k : 0, out, powers, progress);
    append_decimal(r, k, out, powers, progress);
}

// x = the number whose decimal digits are text[0, len) (digits only, no white space).
void parse_decimal(mpz_ptr x, const char *text, size_t len, PowersOfTen &powers, DecimalProgress &progress) {
    // GMP reads text of this size with a table of powers of its own: larger pieces than for
    // writing, so that fewer tables are built.
    if (len <= 4 * kLeafDigits) {
        std::string piece(text, len);
        mpz_set_str(x, piece.c_str(), 10);
        wipe(piece);
        progress.add(len);
        return;
    }
    size_t k = split_digits(len);
    Num low;
    parse_decimal(x, text, len - k, powers, progress);
    parse_decimal(low, text + len - k, k, powers, progress);
    mpz_mul(x, x, powers.of(k));
    progress.ctx.check();
    mpz_add(x, x, low);
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
    std::string text;
    if (base == 10 && mpz_sizeinbase(x, 10) > kPieceDigits) {
        Work work(VN_STAGE_CONVERT);
        PowersOfTen powers;
        DecimalProgress progress{work, mpz_sizeinbase(x, 10)};
        text.reserve(mpz_sizeinbase(x, 10) + 1);
        append_decimal(x, 0, text, powers, progress);
    } else {
        // Hexadecimal text takes linear time: one call at every size. mpz_sizeinbase may
        // overstate the length by one; the text is cut to size after.
        text.assign(mpz_sizeinbase(x, base < 0 ? -base : base) + 1, '\0');
        mpz_get_str(text.data(), base, x);
        text.resize(std::strlen(text.c_str()));
    }
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
        if (digits > kPieceDigits) {
            Work work(VN_STAGE_CONVERT);
            PowersOfTen powers;
            DecimalProgress progress{work, digits};
            parse_decimal(x, text.data() + first, digits, powers, progress);
        } else {
            // mpz_set_str skips white space itself, and the scan allowed white space only
            // around the digits, so the register's text goes to it as it is.
            mpz_set_str(x, text.c_str(), 10);
        }
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
