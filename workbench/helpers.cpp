// Helpers shared by the handlers: failure messages, texts of byte strings, input checks.
#include <vorn.hpp>

#include <string>

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

// The same white space that the library's decimal conversion skips.
bool is_decimal_text(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n\v\f";
    size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return false;  // empty or blank: no number at all
    size_t last = text.find_last_not_of(kSpace);
    for (size_t i = first; i <= last; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

}  // namespace wb
