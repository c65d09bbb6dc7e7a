// The known-answer checks: the vectors of vectors/aes.txt and vectors/sha256.txt, built into
// the library, run through the same AES and SHA-256 code the VN_ functions use.
#include <cctype>
#include <new>
#include <sstream>
#include <cstdlib>
#include <string>
#include <vector>

#include "core.h"
#include "crypto_internal.h"
#include "internal.h"

namespace vn {
namespace {

#include "vectors.inc"

// Hex text to bytes; false for anything that is not whole hex bytes.
bool from_hex(const std::string &hex, std::string &out) {
    out.clear();
    if (hex == "-") return true;
    if (hex.size() % 2 != 0) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(hex[i])) ||
            !std::isxdigit(static_cast<unsigned char>(hex[i + 1])))
            return false;
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return true;
}

// Calls check on every line that is neither blank nor a comment, with its words; returns the
// number of lines for which check is false. A text without any vector counts as one failure:
// a check that checked nothing must not pass.
template <typename Check>
int32_t count_failures(const char *text, Check check) {
    std::istringstream lines(text);
    std::string line;
    int32_t failures = 0, vectors = 0;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.empty() || w[0][0] == '#') continue;
        ++vectors;
        if (!check(w)) ++failures;
    }
    return vectors == 0 ? 1 : failures;
}

// The result of one step of a check; a provider failure means the check cannot run at all.
bool passes(AesResult r) {
    if (r == AesResult::provider_failed) throw ProviderFailed{};
    return r == AesResult::ok;
}

// A vector passes when encryption gives the ciphertext and decryption the plaintext.
bool aes_vector_passes(const std::vector<std::string> &w) {
    std::string key, iv, plain, cipher, out;
    if (w.size() != 5 || (w[0] != "ECB" && w[0] != "CBC") || !from_hex(w[1], key) ||
        !from_hex(w[2], iv) || !from_hex(w[3], plain) || !from_hex(w[4], cipher))
        return false;
    AesMode mode = w[0] == "CBC" ? AesMode::cbc : AesMode::ecb;
    if (mode == AesMode::cbc && iv.size() != 16) return false;
    if (key.size() != 16 && key.size() != 24 && key.size() != 32) return false;
    if (plain.size() % 16 != 0 || cipher.size() % 16 != 0) return false;
    const auto *ivp = reinterpret_cast<const unsigned char *>(iv.data());
    bool ok = passes(aes_run(mode, true, false, key, ivp,
                             reinterpret_cast<const unsigned char *>(plain.data()), plain.size(), out)) &&
              out == cipher;
    out.clear();
    return ok &&
           passes(aes_run(mode, false, false, key, ivp,
                          reinterpret_cast<const unsigned char *>(cipher.data()), cipher.size(), out)) &&
           out == plain;
}

bool sha256_vector_passes(const std::vector<std::string> &w) {
    std::string message, digest;
    if (w.size() == 4 && w[0] == "repeat") {
        std::string unit;
        long count = std::strtol(w[1].c_str(), nullptr, 10);
        if (count < 0 || count > (1L << 24) || !from_hex(w[2], unit) || !from_hex(w[3], digest))
            return false;
        for (long i = 0; i < count; ++i) message += unit;
    } else if (w.size() != 2 || !from_hex(w[0], message) || !from_hex(w[1], digest)) {
        return false;
    }
    unsigned char got[32];
    if (!sha256(message.data(), message.size(), got)) throw ProviderFailed{};
    return digest.size() == 32 && digest.compare(0, 32, reinterpret_cast<const char *>(got), 32) == 0;
}

}  // namespace

// The checks, on the context's vectors when it has any, else on the built-in ones.
Status check_aes_vectors(const Context &ctx) {
    return {count_failures(ctx.aes_vectors ? ctx.aes_vectors : aes_vectors, aes_vector_passes), VN_E_NONE};
}

Status check_sha256_vectors(const Context &ctx) {
    return {count_failures(ctx.sha256_vectors ? ctx.sha256_vectors : sha256_vectors, sha256_vector_passes),
            VN_E_NONE};
}

}  // namespace vn
