// Generators, RSA keys, RSA and AES round trips, SHA-256.
#include <vorn.hpp>

#include <cmath>
#include <string>

#include "messages.hpp"
#include "workbench.hpp"

namespace wb {

namespace {

// The key of the latest key generation, raw register bytes; an empty modulus means none yet.
struct SavedRsaKey {
    std::string n, e, d;
};
SavedRsaKey g_saved_key;

// Range of a size the library accepts, to say so before asking it, in the unit the user
// typed. A length typed in bytes is checked as bits (12.5 bytes are 100 bits).
struct SizeRange {
    std::string_view what;
    long min, max;        // in bits, or in bytes where the library counts bytes
    std::string_view unit;
    bool typed_in_bytes;  // bytes typed, bits checked
};

constexpr SizeRange kPrimeBits{"Length of the prime", VN_MIN_PRIME_BITS, VN_MAX_PRIME_BITS, "bits", true};
constexpr SizeRange kRandomBits{"Length of the random number", 1, VN_MAX_RANDOM_BITS, "bits", true};
constexpr SizeRange kGeneratorBytes{"Length of the random number", 1, VN_MAX_GENERATE_BYTES, "bytes",
                                    false};
constexpr SizeRange kRsaBits{"Length of the RSA modulus", VN_MIN_RSA_BITS, VN_MAX_RSA_BITS, "bits", false};
constexpr SizeRange kBbsBits{"Length of the BBS modulus", VN_MIN_BBS_BITS, VN_MAX_BBS_BITS, "bits", false};

// A number as the user would write it: 600, 12.5, -4.
std::string plain_number(double value) {
    std::string text = dlg::number_to_text(value);
    if (text.size() > 1 && text[0] == ' ') text.erase(0, 1);
    if (text.size() > 1 && text[0] == '.') text.insert(0, "0");
    return text;
}

// Shows a message and returns false when value lies outside the range (a cancelled prompt
// gives 0, which no size allows). typed is what the user typed; value what is checked.
bool size_ok(double typed, int32_t value, const SizeRange &range) {
    if (value >= range.min && value <= range.max) return true;
    if (dlg::stop_requested()) return false;   // Ctrl-C at the prompt: stopped, no message
    std::string limits;
    if (range.typed_in_bytes) {
        long min_bytes = (range.min + 7) / 8, max_bytes = range.max / 8;
        limits = std::to_string(min_bytes) + " to " + std::to_string(max_bytes) + " bytes (" +
                 std::to_string(min_bytes * 8) + " to " + std::to_string(max_bytes * 8) + " bits)";
    } else {
        limits = std::to_string(range.min) + " to " + std::to_string(range.max) + " " +
                 std::string(range.unit);
    }
    std::string unit = range.typed_in_bytes ? "bytes" : std::string(range.unit);
    dlg::message_box(std::string(range.what) + ": " + plain_number(typed) + " " + unit + " is too " +
                     (value > range.max ? "long" : "short") + ": " + limits + ".");
    return false;
}

double ask_number(std::string_view prompt, std::string_view default_text) {
    return dlg::number_from_text(dlg::input_box(prompt, "", default_text));
}

// A length typed in bytes, and the same as a bit count: multiplied by 8 before rounding
// (12.5 -> 100).
struct TypedBytes {
    double typed;
    int32_t bits;
};
TypedBytes ask_bytes_as_bits(std::string_view prompt) {
    double typed = ask_number(prompt, "100");
    return {typed, dlg::round_to_int32(typed * 8.0)};
}

// Generates a key into the key registers, saves it and shows n, e and d in decimal in
// fields a, b and c.
bool generate_and_show_rsa_key(int32_t bits) {
    if (library_failed(vorn::generate_rsa_keys(bits, 4, kRegKeyE, kRegKeyD, kRegKeyN),
                       "RSA key generation"))
        return false;
    struct Part {
        vorn::Reg reg;
        std::string *saved;
        int field;
    };
    const Part parts[] = {{kRegKeyN, &g_saved_key.n, kFieldA},
                          {kRegKeyE, &g_saved_key.e, kFieldB},
                          {kRegKeyD, &g_saved_key.d, kFieldC}};
    for (const Part &p : parts) {
        *p.saved = vorn::getreg(p.reg);
        vorn::huge2dec(p.reg, kRegKeyPartText);
        dlg::set_text(p.field, vorn::getreg(kRegKeyPartText));
    }
    return true;
}

// Appends "-" until the length is a multiple of 4: the library encrypts whole 4-byte words.
std::string pad_to_words(std::string message) {
    while (message.size() % 4 != 0) message += '-';
    return message;
}

// The AES key is the SHA-256 digest of the passphrase.
void passphrase_to_key(const std::string &passphrase) {
    vorn::putreg(passphrase, kRegPassphrase);
    vorn::hash_sha256(kRegPassphrase, kRegAesKey);
}

}  // namespace

bool generate_prime() {
    TypedBytes length = ask_bytes_as_bits(msg::kAskPrimeBytes);
    int32_t rounds = dlg::round_to_int32(ask_number(msg::kAskPrimeRounds, "5"));
    if (!size_ok(length.typed, length.bits, kPrimeBits)) return false;
    take_start_time();
    return !library_failed(vorn::generate_prime(length.bits, rounds, kRegResult), "Prime generation");
}

bool generate_random() {
    TypedBytes length = ask_bytes_as_bits(msg::kAskRandomBytes);
    if (!size_ok(length.typed, length.bits, kRandomBits)) return false;
    take_start_time();
    return !library_failed(vorn::generate_random(length.bits, kRegResult), "Random number generation");
}

// The generators take the length in bytes as typed; it is not turned into bits.
bool generate_rsa_random() {
    double typed_length = ask_number(msg::kAskRandomBytes, "100");
    double typed_bits = ask_number(msg::kAskRsaBits, "128");
    int32_t length = dlg::round_to_int32(typed_length), bits = dlg::round_to_int32(typed_bits);
    if (!size_ok(typed_length, length, kGeneratorBytes) || !size_ok(typed_bits, bits, kRsaBits))
        return false;
    dlg::set_text(kResultField, msg::kInitRsa);
    if (library_failed(vorn::generate_rsa_keys(bits, 3, kRegKeyE, kRegKeyD, kRegKeyN),
                       "RSA generator set-up") ||
        library_failed(vorn::generate_random(bits - 8, kRegRsaState), "RSA generator seed"))
        return false;
    take_start_time();
    return !library_failed(vorn::rsa_bits(length, kRegRsaState, kRegKeyE, kRegKeyN, kRegResult,
                                          kRegRsaState),
                           "RSA random number generation");
}

bool generate_bbs_random() {
    double typed_length = ask_number(msg::kAskRandomBytes, "100");
    double typed_bits = ask_number(msg::kAskBbsBits, "128");
    int32_t length = dlg::round_to_int32(typed_length), bits = dlg::round_to_int32(typed_bits);
    if (!size_ok(typed_length, length, kGeneratorBytes) || !size_ok(typed_bits, bits, kBbsBits))
        return false;
    dlg::set_text(kResultField, msg::kInitBbs);
    if (library_failed(vorn::init_bbs(bits, 4, kRegBbsModulus, kRegBbsState), "BBS generator set-up"))
        return false;
    take_start_time();
    return !library_failed(vorn::bbs_bits(length, 1, kRegBbsState, kRegBbsModulus, kRegResult,
                                          kRegBbsState),
                           "BBS random number generation");
}

// Writes nothing to register 9: the ending shows the previous result again.
bool generate_rsa_public_key() {
    double typed = ask_number(msg::kAskRsaBits, "256");
    int32_t bits = dlg::round_to_int32(typed);
    take_start_time();
    return size_ok(typed, bits, kRsaBits) && generate_and_show_rsa_key(bits);
}

bool rsa_encrypt_decrypt() {
    if (g_saved_key.n.empty()) {
        double typed = ask_number(msg::kAskRsaBits, "256");
        int32_t bits = dlg::round_to_int32(typed);
        take_start_time();
        if (!size_ok(typed, bits, kRsaBits) || !generate_and_show_rsa_key(bits)) return false;
    } else {
        vorn::putreg(g_saved_key.e, kRegKeyE);
        vorn::putreg(g_saved_key.d, kRegKeyD);
        vorn::putreg(g_saved_key.n, kRegKeyN);
    }
    std::string prompt = std::string(msg::kAskMessageBefore) +
                         dlg::number_to_text(double(g_saved_key.n.size())) +
                         std::string(msg::kAskMessageAfter);
    std::string message = pad_to_words(dlg::input_box(prompt, "", ""));
    dlg::set_text(kFieldA, showable(message));
    vorn::putreg(message, kRegMessage);
    if (vorn::is_less(kRegKeyN, kRegMessage) == 1) {
        dlg::message_box(msg::kTooLong);
        return false;
    }
    take_start_time();
    int32_t status = vorn::encrypt_rsa(kRegMessage, kRegKeyE, kRegKeyN, kRegCiphertext);
    // A message equal to the modulus is not below it either.
    if (status == VN_STATUS_RANGE) {
        dlg::message_box(msg::kTooLong);
        return false;
    }
    if (library_failed(status, "RSA encryption")) return false;
    dlg::set_text(kFieldB, showable(vorn::getreg(kRegCiphertext)));
    if (library_failed(vorn::decrypt_rsa(kRegCiphertext, kRegKeyD, kRegKeyN, kRegDecrypted),
                       "RSA decryption"))
        return false;
    dlg::set_text(kFieldC, showable(vorn::getreg(kRegDecrypted)));
    return true;
}

bool aes_encrypt_decrypt() {
    std::string plaintext = dlg::input_box(msg::kAskPlaintext, "", "");
    dlg::set_text(kFieldA, showable(plaintext));
    passphrase_to_key(dlg::hidden_input_box(msg::kAskEncryptPassphrase, "", ""));
    vorn::putreg(plaintext, kRegPlaintext);
    vorn::putreg("", kRegIv);  // empty IV: the library draws a fresh one
    int32_t status = vorn::encrypt_aes_cbc(kRegPlaintext, kRegAesKey, kRegIv, kRegCiphertext);
    if (status == VN_STATUS_KEYSIZE || status == VN_STATUS_IVSIZE) {
        dlg::message_box(status == VN_STATUS_KEYSIZE ? msg::kAesKeySize : msg::kAesIvSize);
        return false;
    }
    if (library_failed(status, "AES encryption")) return false;
    dlg::set_text(kFieldB, showable(vorn::getreg(kRegCiphertext)));

    passphrase_to_key(dlg::hidden_input_box(msg::kAskDecryptPassphrase, "", ""));
    status = vorn::decrypt_aes_cbc(kRegCiphertext, kRegAesKey, kRegDecrypted);
    if (status == VN_STATUS_KEYSIZE || status == VN_STATUS_BLOCKS) {
        dlg::message_box(status == VN_STATUS_KEYSIZE ? msg::kAesKeySize : msg::kAesBlockLength);
        return false;
    }
    // Bad padding: almost always a wrong passphrase. The library leaves an empty output,
    // which could compare equal to an empty plaintext, so it is reported here.
    if (status == VN_STATUS_CIPHERTEXT) {
        dlg::set_text(kFieldC, "");
        dlg::message_box(msg::kAesBadPadding);
        return false;
    }
    if (library_failed(status, "AES decryption")) return false;
    dlg::set_text(kFieldC, showable(vorn::getreg(kRegDecrypted)));
    // Only a sure "equal" passes: a failed comparison is no proof of a good round trip.
    if (vorn::is_not_equal(kRegPlaintext, kRegDecrypted) != 0)
        dlg::message_box(msg::kDecryptionError);
    return true;
}

// The digest as sha256sum prints it: its 32 bytes in order, two lowercase hex digits each.
bool sha256_hash() {
    vorn::putreg(dlg::get_text(kFieldA), kRegHashInput);
    if (library_failed(vorn::hash_sha256(kRegHashInput, kRegDigest), "SHA-256")) return false;
    dlg::set_text(kFieldB, to_hex(vorn::getreg(kRegDigest)));
    return true;
}

}  // namespace wb
