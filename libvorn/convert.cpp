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

// Numbers of up to kPieceDigits decimal digits are converted by one GMP call (a tenth of a
// second or so); larger ones by the divide and conquer GMP does inside, taken out so that a
// stop can come in between the pieces: the number of digits is halved until it is at most
// kLeafDigits (the leaf size L), and the number is split at 10^k for k = L * 2^i, so that
// the tree is balanced and pieces of equal size share their powers, each the square of the
// one below. As GMP does, the split divides by 5^k and shifts by k bits (10^k = 5^k * 2^k),
// a divisor a third smaller. Above kHelperDigits the top division alone takes a third of a
// second or more (several seconds at VN_MAX_BITS), so such numbers are converted whole in the
// helper process, which a stop kills; in pieces here only where no helper starts. Up to
// 10^7 digits they stay here: the helper's start and the copies cost 5 to 15 % at that size.
constexpr size_t kPieceDigits = size_t{1} << 20;
constexpr size_t kLeafDigits = size_t{1} << 19;
constexpr size_t kHelperDigits = 12000000;
// Reading is cheaper than writing: GMP reads up to kReadWholeDigits digits in one call of
// about a quarter of a second (0.25 s for 4,771,213), and larger texts split into leaves of
// at most that size. Each leaf builds GMP's table of powers anew, which in leaves of 2^21
// digits cost 4 % of the whole.
constexpr size_t kReadWholeDigits = 5000000;

// 5^k for the few k a conversion of pieces of `leaf` digits splits at, each computed once.
struct PowersOfFive {
    explicit PowersOfFive(size_t digits, size_t most) : leaf(digits) {
        while (leaf > most) leaf = (leaf + 1) / 2;
    }
    ~PowersOfFive() {
        for (auto &p : known) delete p.second;
    }
    size_t leaf;
    std::vector<std::pair<size_t, Num *>> known;

    mpz_srcptr of(size_t k) {
        for (auto &p : known)
            if (p.first == k) return *p.second;
        auto *x = new Num;
        if (k > leaf) {
            mpz_srcptr half = of(k / 2);
            mpz_mul(*x, half, half);
        } else {
            mpz_ui_pow_ui(*x, 5, k);
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
void append_decimal(mpz_srcptr x, size_t width, std::string &out, PowersOfFive &powers, DecimalProgress &progress) {
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
    // x = q * 10^k + r, where q = (x >> k) / 5^k and r = ((x >> k) mod 5^k) << k | (x mod 2^k).
    size_t k = powers.split(digits);
    Num q, r;
    {
        mpz_srcptr power = powers.of(k);
        progress.ctx.check();
        Num low;
        mpz_tdiv_r_2exp(low, x, k);
        mpz_tdiv_q_2exp(q, x, k);
        mpz_tdiv_qr(q, r, q, power);
        mpz_mul_2exp(r, r, k);
        mpz_add(r, r, low);
    }
    progress.ctx.check();
    append_decimal(q, width ? width - k : 0, out, powers, progress);
    append_decimal(r, k, out, powers, progress);
}

// x = the number whose decimal digits are text[0, len) (digits only, no white space).
void parse_decimal(mpz_ptr x, const char *text, size_t len, PowersOfFive &powers, DecimalProgress &progress) {
    if (len <= powers.leaf) {
        // mpn_set_str takes digit values: one pass makes them, where mpz_set_str would need a
        // terminated copy and then make them itself. A leaf holds at least one digit.
        std::vector<unsigned char> values(len);
        for (size_t i = 0; i < len; ++i) values[i] = static_cast<unsigned char>(text[i] - '0');
        auto limbs = static_cast<mp_size_t>(static_cast<double>(len) * 0.0519051265 + 2);  // log2(10) / 64
        mp_size_t n = mpn_set_str(mpz_limbs_write(x, limbs), values.data(), len, 10);
        mpz_limbs_finish(x, n);
        wipe(values);
        progress.add(len);
        return;
    }
    // x = high * 10^k + low = (high * 5^k) << k + low.
    size_t k = powers.split(len);
    Num low;
    parse_decimal(x, text, len - k, powers, progress);
    parse_decimal(low, text + len - k, k, powers, progress);
    mpz_mul(x, x, powers.of(k));
    progress.ctx.check();
    mpz_mul_2exp(x, x, k);
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
    PowersOfFive powers(digits, kLeafDigits);
    DecimalProgress progress{ctx, digits};
    out.clear();
    out.reserve(digits + 3);  // a leaf's room may overstate by two
    append_decimal(x, 0, out, powers, progress);
}

void decimal_value(const Context &ctx, mpz_ptr x, const char *digits, size_t len) {
    if (len <= kReadWholeDigits) {
        std::string piece(digits, len);
        mpz_set_str(x, piece.c_str(), 10);
        wipe(piece);
        if (len > kPieceDigits) ctx.check();
        return;
    }
    if (len > kHelperDigits && offload_decimal_value(ctx, x, digits, len)) return;
    PowersOfFive powers(len, kReadWholeDigits);
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
    if (digits <= kReadWholeDigits) {
        mpz_set_str(x, text.c_str(), 10);
        // x is the call's temporary: a stop during a long single call still counts.
        if (digits > kPieceDigits) ctx.check();
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
