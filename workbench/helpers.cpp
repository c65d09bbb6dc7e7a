// Helpers shared by the handlers: failure messages, texts of byte strings, input checks.
#include <vorn.hpp>

#include <algorithm>
#include <cstdio>
#include <string>

#include "messages.hpp"

#include "workbench.hpp"

namespace wb {

namespace {

struct ErrorText {
    int32_t code;
    std::string text;
};

// What each of the library's global error codes means to the user.
const ErrorText kErrorTexts[] = {
    {VN_E_REGISTER, "a register number the library does not have"},
    {VN_E_DIVZERO, "division by zero or a zero modulus"},
    {VN_E_NOINVERSE, "no modular inverse exists"},
    {VN_E_DECIMAL, "the text is no decimal number"},
    {VN_E_BITS, "a length or bit count outside the library's range"},
    {VN_E_TOOBIG, "the number would be larger than the library's limit of " +
                      std::to_string(VN_MAX_BITS) + " bits"},
    {VN_E_ARGUMENT, "an argument the library cannot work with"},
    {VN_E_KEYSIZE, "an AES key that is not 16, 24 or 32 bytes"},
    {VN_E_IVSIZE, "an AES IV that is neither empty nor 16 bytes"},
    {VN_E_CIPHERTEXT, "a ciphertext of a bad length"},
    {VN_E_PADDING, "a ciphertext with bad padding"},
    {VN_E_LENGTH4, "an input whose length is not a multiple of 4 bytes"},
    {VN_E_RANGE, "an input that is not below the modulus"},
    {VN_E_NOMEMORY, "not enough memory"},
    {VN_E_CRYPTO, "the random-number or crypto provider failed"},
    {VN_E_CANCELLED, "the calculation was stopped"},
};

bool is_utf8_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not a valid one.
size_t utf8_length(std::string_view s, size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if (!is_utf8_continuation(static_cast<unsigned char>(s[i + k]))) return 0;
    return n;
}

}  // namespace

bool library_failed(int32_t status, std::string_view what) {
    if (status == VN_OK) return false;
    // A call the user stopped is no failure to report: the calculation ends as stopped.
    if (dlg::stop_requested()) return true;
    int32_t code = vorn::global_error();
    std::string text = "the library reported error " + std::to_string(code);
    for (const ErrorText &e : kErrorTexts)
        if (e.code == code) text = e.text;
    dlg::message_box(std::string(what) + " failed: " + text + ".");
    return true;
}

// Printable ASCII, tab, line breaks and well-formed UTF-8 can stand in an edit field.
// Anything else (zero bytes, other control bytes, broken UTF-8) would be cut off or
// garbled, so the whole string is then shown in hexadecimal.
std::string showable(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F) {
            ++i;
        } else if (c == '\t' || c == '\n' || c == '\r') {
            ++i;
        } else if (size_t n = c >= 0x80 ? utf8_length(bytes, i) : 0; n > 0) {
            i += n;
        } else {
            return "hex: " + to_hex(bytes);
        }
    }
    return std::string(bytes);
}

std::string to_hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (char byte : bytes) {
        auto c = static_cast<unsigned char>(byte);
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

// How a character that is not a digit is named in a message: printable ASCII as itself,
// anything else with its code point, so that look-alikes (a full-width digit, a
// non-breaking space) and invisible characters can be told apart.
static std::string describe_character(std::string_view text, size_t at, size_t length) {
    unsigned char c = static_cast<unsigned char>(text[at]);
    if (c == ' ') return "a blank";
    if (c > ' ' && c < 0x7F) return "'" + std::string(1, char(c)) + "'";
    char code[16];
    if (length == 1 && c < 0x80) {
        std::snprintf(code, sizeof code, "U+%04X", c);
        return std::string("the control character ") + code;
    }
    if (length == 1) {
        std::snprintf(code, sizeof code, "0x%02X", c);
        return std::string("the byte ") + code + " (not UTF-8)";
    }
    uint32_t point = c & (0xFF >> (length + 1));
    for (size_t k = 1; k < length; ++k) point = (point << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3F);
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(point));
    return "'" + std::string(text.substr(at, length)) + "' (" + code + ")";
}

// The same white space that the library's decimal conversion skips around a number.
std::string decimal_problem(std::string_view text, char field_name) {
    constexpr std::string_view kSpace = " \t\r\n\v\f";
    const std::string field = std::string("Parameter '") + field_name + "' ";
    const std::string accepted(msg::kAcceptedNumber);
    size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return field + "is empty. " + accepted;
    if (text[first] == '-' || text[first] == '+')
        return field + "starts with the sign '" + text[first] + "'. " + accepted;
    size_t last = text.find_last_not_of(kSpace);
    size_t position = 1;  // in characters, counted from the start of the text as typed
    for (size_t i = 0; i < first; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++position;
    for (size_t i = first; i <= last; ++position) {
        char c = text[i];
        if (c >= '0' && c <= '9') {
            ++i;
            continue;
        }
        if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            return field + "goes on in a second line. " + accepted;
        size_t length = std::max<size_t>(1, utf8_length(text, i));
        return field + "has " + describe_character(text, i, length) + " at position " +
               std::to_string(position) + ", which is not a digit. " + accepted;
    }
    return {};
}

}  // namespace wb
