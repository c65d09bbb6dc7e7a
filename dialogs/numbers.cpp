// Number from text, rounding and number to text. The rules are the programs' own and differ
// from strtod and printf on purpose: "&H", "&B", "&O" and "&" prefixes for other bases, D as
// well as E before an exponent, no infinities or NaNs read, a sign position on every number
// written, no "0" before the point and never an exponent form.
#include "dialogs.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace dlg {

namespace {

int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// Reads the digits after "&H", "&B", "&O" or "&". A value that fits in 32 bits is that bit
// pattern as a signed 32-bit number (&HFFFFFFFF is -1), so a typed bit pattern means what it
// says; a longer one cannot be reported as an error here, so it keeps its full unsigned
// value (no range is enforced).
double read_based(std::string_view digits, int base) {
    double value = 0;
    bool fits = true;
    uint64_t bits = 0;
    for (char c : digits) {
        int d = digit_value(c);
        if (d >= base) break;
        value = value * base + d;
        if (fits) {
            bits = bits * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
            if (bits > 0xFFFFFFFFull) fits = false;
        }
    }
    if (!fits) return value;
    return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(bits)));
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double number_from_text(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
    text.remove_prefix(i);
    if (text.empty()) return 0;

    if (text[0] == '&') {
        if (text.size() < 2) return 0;
        char kind = text[1];
        switch (kind) {
        case 'H': case 'h': return read_based(text.substr(2), 16);
        case 'B': case 'b': return read_based(text.substr(2), 2);
        case 'O': case 'o': case 'Q': case 'q': return read_based(text.substr(2), 8);
        default: return is_digit(kind) ? read_based(text.substr(1), 8) : 0;
        }
    }

    // Copy the longest prefix that forms a number into a clean buffer for strtod, with a
    // "D" exponent written as "E".
    std::string clean;
    size_t p = 0;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) clean += text[p++];
    size_t digits = 0;
    while (p < text.size() && is_digit(text[p])) { clean += text[p++]; ++digits; }
    if (p < text.size() && text[p] == '.') {
        clean += text[p++];
        while (p < text.size() && is_digit(text[p])) { clean += text[p++]; ++digits; }
    }
    if (digits == 0) return 0;
    if (p < text.size() && (text[p] == 'E' || text[p] == 'e' || text[p] == 'D' || text[p] == 'd')) {
        size_t q = p + 1;
        std::string exponent = "E";
        if (q < text.size() && (text[q] == '+' || text[q] == '-')) exponent += text[q++];
        size_t exponent_digits = 0;
        while (q < text.size() && is_digit(text[q])) { exponent += text[q++]; ++exponent_digits; }
        if (exponent_digits > 0) clean += exponent;  // "1E" alone is the number 1
    }
    double value = std::strtod(clean.c_str(), nullptr);
    // No failure can be reported here, so the value saturates to the largest finite number
    // rather than becoming infinity, which no caller could use.
    if (std::isinf(value)) value = std::copysign(DBL_MAX, value);
    return value;
}

int32_t round_to_int32(double value) {
    if (std::isnan(value)) return 0;
    double r = std::nearbyint(value);  // the default rounding mode: ties to even
    if (r >= 2147483647.0) return INT32_MAX;
    if (r <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(r);
}

std::string number_to_text(double value) {
    if (std::isnan(value)) return " NaN";
    if (std::isinf(value)) return value > 0 ? " Inf" : "-Inf";
    if (value == 0) return " 0";  // negative zero too

    std::string result = value < 0 ? "-" : " ";
    // 15 significant digits, rounded to nearest with ties to even by the C library; the
    // rounding may carry into a new leading digit (9.999999999999999 -> 10), which the
    // exponent then counts.
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
    std::string digits;
    for (char *c = buffer; *c && *c != 'e'; ++c)
        if (*c != '.') digits += *c;
    int exponent = std::atoi(std::strchr(buffer, 'e') + 1);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    // Plain decimal at every magnitude: zeros fill in between the digits and the point.
    if (exponent < 0) return result + "." + std::string(size_t(-exponent - 1), '0') + digits;
    size_t whole = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= whole) return result + digits + std::string(whole - digits.size(), '0');
    return result + digits.substr(0, whole) + "." + digits.substr(whole);
}

}  // namespace dlg
