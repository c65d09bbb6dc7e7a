// Conversions between numbers and decimal or hexadecimal text.
#include <cstring>
#include <string>
#include <utility>
#include <vector>
#include <new>

#include "core.h"
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

}  // namespace

void decimal_text(const Context &ctx, mpz_srcptr x, std::string &out) {
    if (mpz_sizeinbase(x, 10) > kPieceDigits) {
        PowersOfTen powers;
        DecimalProgress progress{ctx, mpz_sizeinbase(x, 10)};
        out.reserve(mpz_sizeinbase(x, 10) + 1);
        append_decimal(x, 0, out, powers, progress);
        return;
    }
    // mpz_sizeinbase may overstate the length by one; the text is cut to size after.
    out.assign(mpz_sizeinbase(x, 10) + 1, '\0');
    mpz_get_str(out.data(), 10, x);
    out.resize(std::strlen(out.c_str()));
}

void decimal_value(const Context &ctx, mpz_ptr x, const char *digits, size_t len) {
    if (len > kPieceDigits) {
        PowersOfTen powers;
        DecimalProgress progress{ctx, len};
        parse_decimal(x, digits, len, powers, progress);
        return;
    }
    std::string piece(digits, len);
    mpz_set_str(x, piece.c_str(), 10);
    wipe(piece);
}

Status from_decimal(const Context &ctx, NumberOut &d, const std::string &text) {
    size_t first, end;
    if (!scan_decimal(text, first, end)) {
        mpz_set_ui(d.put(), 0);
        return failure(VN_E_DECIMAL);
    }
    // 10^k has more than VN_MAX_BITS bits once k * log2(10) > VN_MAX_BITS; the last few
    // digit counts near the edge are settled by the value itself.
    size_t digits = end - first;
    if (static_cast<double>(digits - 1) * 3.321928094887362 >= static_cast<double>(VN_MAX_BITS))
        return failure(VN_E_TOOBIG);
    mpz_ptr x = d.temporary();
    // Short texts go to GMP as they are (it skips the white space the scan allowed).
    if (digits <= kPieceDigits) mpz_set_str(x, text.c_str(), 10);
    else decimal_value(ctx, x, text.data() + first, digits);
    if (bit_size(x) > static_cast<size_t>(VN_MAX_BITS)) return failure(VN_E_TOOBIG);
    d.keep();
    return kOk;
}

// The operand's number is within VN_MAX_BITS, so its text is at most 2^28 * log10(2) + 1 or
// 2^26 digits: below VN_MAX_BYTES. Repeated self-conversions therefore stop at once the
// text, read as a number, exceeds VN_MAX_BITS.
Status to_decimal(const Context &ctx, BytesOut &d, mpz_srcptr x) {
    std::string text;
    decimal_text(ctx, x, text);
    d.put(std::move(text));
    return kOk;
}

Status to_hex(BytesOut &d, mpz_srcptr x) {
    // Hexadecimal text takes linear time: one call at every size.
    std::string text(mpz_sizeinbase(x, 16) + 1, '\0');
    mpz_get_str(text.data(), -16, x);
    text.resize(std::strlen(text.c_str()));
    d.put(std::move(text));
    return kOk;
}

}  // namespace vn
