// Conversions between numbers and decimal or hexadecimal text.
#include <algorithm>
#include <cstdint>
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

// Eight characters at once, for texts of millions of digits: all are decimal digits when each
// byte's high half is 3 and its low half plus 6 stays below 16 (no carry crosses a byte).
bool eight_digits(const char *p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return (w & 0xF0F0F0F0F0F0F0F0) == 0x3030303030303030 &&
           (((w & 0x0F0F0F0F0F0F0F0F) + 0x0606060606060606) & 0x1010101010101010) == 0;
}

// The first and one-past-last significant digit of decimal text with optional white space
// around it; false when the text is anything else. One scan, no copy: the digits are then
// handed to GMP in place.
bool scan_decimal(const std::string &text, size_t &first, size_t &end) {
    size_t i = 0, n = text.size();
    while (i < n && is_space(text[i])) ++i;
    size_t digits_start = i;
    while (i + 8 <= n && eight_digits(text.data() + i)) i += 8;
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

// Numbers of up to kPieceDigits decimal digits are converted by one GMP call (a tenth of a
// second or so); larger ones by the divide and conquer GMP does inside, taken out so that a
// stop can come in between the pieces: the number of digits is halved until it is at most
// kLeafDigits (the leaf size L), and the number is split at 10^k for k = L * 2^i, so that
// the tree is balanced and pieces of equal size share their powers, each the square of the
// one below. As GMP does, the powers are kept without their whole zero limbs (10^k =
// 5^k * 2^k), a divisor a third shorter and no shifts of the number. The leaves are small
// because each GMP call builds its own table of powers for the levels below it: with leaves
// of 2^19 digits that rebuilding cost 1.7 % of a conversion to text, with leaves of 2^13
// digits 0.7 % (instructions counted), and reading in such leaves costs no more than GMP's
// one call. Above kHelperDigits the top division alone takes a third of a second or more
// (several seconds at VN_MAX_BITS), so such numbers are converted whole in the helper
// process, which a stop kills; in pieces here only where no helper starts. Up to 10^7 digits
// they stay here: the helper's start and the copies cost 5 to 15 % at that size.
constexpr size_t kPieceDigits = size_t{1} << 20;
constexpr size_t kLeafDigits = size_t{1} << 13;
constexpr size_t kHelperDigits = 12000000;

// 10^k for the few k a conversion of pieces of `leaf` digits splits at, each computed once
// and kept, as inside GMP, without its whole zero limbs: 10^k = 5^k * 2^k, so its low
// zero_limbs(k) = k / GMP_NUMB_BITS limbs are zero and only the rest, 5^k shifted by the
// remaining k mod GMP_NUMB_BITS bits, is stored and divided by.
struct PowersOfTen {
    explicit PowersOfTen(size_t digits, size_t most) : leaf(digits) {
        while (leaf > most) leaf = (leaf + 1) / 2;
    }
    ~PowersOfTen() {
        for (auto &p : known) delete p.second;
    }
    size_t leaf;
    std::vector<std::pair<size_t, Num *>> known;

    static size_t zero_limbs(size_t k) { return k / GMP_NUMB_BITS; }

    // 10^k >> (zero_limbs(k) limbs). Above the leaf it is the square of the one for k / 2,
    // whose own square has 2 * zero_limbs(k / 2) zero limbs removed: at most one more whole
    // zero limb remains, which the shift takes away.
    mpz_srcptr of(size_t k) {
        for (auto &p : known)
            if (p.first == k) return *p.second;
        auto *x = new Num;
        if (k > leaf) {
            mpz_srcptr half = of(k / 2);
            mpz_mul(*x, half, half);
            mpz_tdiv_q_2exp(*x, *x, (zero_limbs(k) - 2 * zero_limbs(k / 2)) * GMP_NUMB_BITS);
        } else {
            mpz_ui_pow_ui(*x, 5, k);
            mpz_mul_2exp(*x, *x, k % GMP_NUMB_BITS);
        }
        known.emplace_back(k, x);
        return *x;
    }
    // Where a piece of `digits` digits (more than leaf) splits: k = leaf * 2^i with
    // k < digits <= 2k, so that the high part has at most as many digits as the low one.
    size_t split(size_t digits) const {
        size_t k = leaf;
        while (2 * k < digits) k *= 2;
        return k;
    }
};

struct DecimalProgress {
    const Context &ctx;
    size_t total, done = 0;
    void add(size_t digits) {
        done += digits;
        ctx.check();
        ctx.progress(done, total);
    }
};

// Appends the decimal digits of x to out: exactly `width` digits (leading zeros) when width is
// not 0, else without leading zeros ("0" for zero).
void append_decimal(mpz_srcptr x, size_t width, std::string &out, PowersOfTen &powers, DecimalProgress &progress) {
    size_t digits = width ? width : mpz_sizeinbase(x, 10);
    if (digits <= powers.leaf) {
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
    // x = q * 10^k + r. With z = zero_limbs(k) and D = 10^k without those limbs, q and the
    // limbs of r from z up are the quotient and remainder of x's limbs from z up by D; r's
    // low z limbs are x's, as GMP does it: no shifts, and the remainder lands in place.
    size_t k = powers.split(digits);
    Num q, r;
    {
        mpz_srcptr power = powers.of(k);
        progress.ctx.check();
        auto z = static_cast<mp_size_t>(PowersOfTen::zero_limbs(k));
        mp_size_t xn = static_cast<mp_size_t>(mpz_size(x)), dn = static_cast<mp_size_t>(mpz_size(power));
        if (xn - z < dn) {
            mpz_set(r, x);  // x < 10^k: q = 0
        } else {
            const mp_limb_t *xp = mpz_limbs_read(x);
            mp_limb_t *qp = mpz_limbs_write(q, xn - z - dn + 1);
            mp_limb_t *rp = mpz_limbs_write(r, z + dn);
            std::copy(xp, xp + z, rp);
            mpn_tdiv_qr(qp, rp + z, 0, xp + z, xn - z, mpz_limbs_read(power), dn);
            mpz_limbs_finish(q, xn - z - dn + 1);
            mpz_limbs_finish(r, z + dn);
        }
    }
    progress.ctx.check();
    append_decimal(q, width ? width - k : 0, out, powers, progress);
    append_decimal(r, k, out, powers, progress);
}

// x = the number whose decimal digits are text[0, len) (digits only, no white space).
void parse_decimal(mpz_ptr x, const char *text, size_t len, PowersOfTen &powers, DecimalProgress &progress) {
    if (len <= powers.leaf) {
        // mpn_set_str takes digit values: one pass makes them, eight at a time, where
        // mpz_set_str would need a terminated copy and then make them itself. A leaf holds at
        // least one digit.
        std::vector<unsigned char> values(len);
        size_t i = 0;
        for (; i + 8 <= len; i += 8) {
            uint64_t w;
            std::memcpy(&w, text + i, 8);
            w &= 0x0F0F0F0F0F0F0F0F;
            std::memcpy(values.data() + i, &w, 8);
        }
        for (; i < len; ++i) values[i] = static_cast<unsigned char>(text[i] - '0');
        auto limbs = static_cast<mp_size_t>(decimal_limbs(len));
        mp_size_t n = mpn_set_str(mpz_limbs_write(x, limbs), values.data(), len, 10);
        mpz_limbs_finish(x, n);
        wipe(values);
        progress.add(len);
        return;
    }
    // x = high * 10^k + low, 10^k being the stored power shifted by its zero limbs.
    size_t k = powers.split(len);
    Num low;
    parse_decimal(x, text, len - k, powers, progress);
    parse_decimal(low, text + len - k, k, powers, progress);
    mpz_mul(x, x, powers.of(k));
    progress.ctx.check();
    mpz_mul_2exp(x, x, PowersOfTen::zero_limbs(k) * GMP_NUMB_BITS);
    mpz_add(x, x, low);
}

}  // namespace

// The text of a number within VN_MAX_BITS has at most 2^28 * log10(2) + 1 digits, below
// VN_MAX_BYTES; repeated self-conversions therefore stop at once the text, read as a number,
// exceeds VN_MAX_BITS.
void decimal_text(const Context &ctx, mpz_srcptr x, std::string &out) {
    size_t digits = mpz_sizeinbase(x, 10);
    if (digits <= kPieceDigits) {
        // mpz_sizeinbase may overstate the length by one; the text is cut to size after.
        out.assign(digits + 1, '\0');
        mpz_get_str(out.data(), 10, x);
        out.resize(std::strlen(out.c_str()));
        return;
    }
    if (digits > kHelperDigits && offload_decimal_text(ctx, x, out)) return;
    PowersOfTen powers(digits, kLeafDigits);
    DecimalProgress progress{ctx, digits};
    out.clear();
    out.reserve(digits + 3);  // a leaf's room may overstate by two
    append_decimal(x, 0, out, powers, progress);
}

void decimal_value(const Context &ctx, mpz_ptr x, const char *digits, size_t len) {
    if (len <= kPieceDigits) {
        std::string piece(digits, len);
        mpz_set_str(x, piece.c_str(), 10);
        wipe(piece);
        return;
    }
    if (len > kHelperDigits && offload_decimal_value(ctx, x, digits, len)) return;
    PowersOfTen powers(len, kLeafDigits);
    DecimalProgress progress{ctx, len};
    parse_decimal(x, digits, len, powers, progress);
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
    if (digits <= kPieceDigits) {
        mpz_set_str(x, text.c_str(), 10);
    } else {
        decimal_value(ctx, x, text.data() + first, digits);
    }
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
