// AES-CBC, AES-ECB and single blocks over OpenSSL's EVP interface. The fetched ciphers are
// kept until the library's end (fetching per call would cost more than encrypting a few
// kilobytes; a fetched cipher holds no key); a fetch that failed, for instance under a
// property query no provider meets, is tried again on the next call. Each call has a
// context of its own, freed at its end: freeing cleanses the key schedule, so no key
// outlives the call.
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <new>

#include "core.h"
#include "crypto_internal.h"
#include "internal.h"

namespace vn {
namespace {

// Fetched on first need, under the library lock.
EVP_CIPHER *g_ciphers[2][3] = {};
const char *const kCipherNames[2][3] = {{"AES-128-ECB", "AES-192-ECB", "AES-256-ECB"},
                                         {"AES-128-CBC", "AES-192-CBC", "AES-256-CBC"}};

const EVP_CIPHER *cipher_for(AesMode mode, size_t key_len) {
    int m = mode == AesMode::cbc ? 1 : 0;
    int k = key_len == 16 ? 0 : key_len == 24 ? 1 : 2;
    if (g_ciphers[m][k] == nullptr) g_ciphers[m][k] = EVP_CIPHER_fetch(nullptr, kCipherNames[m][k], nullptr);
    return g_ciphers[m][k];
}

// A cipher context for one call; EVP_CIPHER_CTX_free cleanses what it held.
struct CipherContext {
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    ~CipherContext() { EVP_CIPHER_CTX_free(ctx); }
    CipherContext() = default;
    CipherContext(const CipherContext &) = delete;
    CipherContext &operator=(const CipherContext &) = delete;
};

bool key_size_ok(size_t n) { return n == 16 || n == 24 || n == 32; }

// EVP counts in int: refuse inputs it cannot take in one piece.
constexpr size_t largest_input = INT_MAX - 64;

const unsigned char *ubytes(const std::string &s) {
    return reinterpret_cast<const unsigned char *>(s.data());
}

// The checks every cipher call makes first: the key's size, and an input EVP can take.
Status check_cipher_input(const std::string &in, const std::string &key) {
    if (!key_size_ok(key.size())) return refusal(VN_STATUS_KEYSIZE, VN_E_KEYSIZE);
    if (in.size() > largest_input) return failure(VN_E_TOOBIG);
    return kOk;
}

// Encrypts with PKCS#7 padding (ECB, or CBC with the IV written in front).
Status encrypt_padded(AesMode mode, const unsigned char *iv, BytesOut &c, const std::string &plain,
                      const std::string &key) {
    // Refuse before encrypting what could not be stored: padding, and the IV for CBC.
    size_t stored = (plain.size() / 16 + 1) * 16 + (mode == AesMode::cbc ? 16 : 0);
    if (stored > static_cast<size_t>(VN_MAX_BYTES)) return failure(VN_E_TOOBIG);
    std::string out;
    out.reserve(plain.size() + 32);
    if (mode == AesMode::cbc) out.assign(reinterpret_cast<const char *>(iv), 16);
    if (aes_run(mode, true, true, key, iv, ubytes(plain), plain.size(), out) != AesResult::ok)
        return failure(VN_E_CRYPTO);
    c.put(std::move(out));
    return kOk;
}

// Decrypts a padded ciphertext (CBC: the IV is its first block).
Status decrypt_padded(AesMode mode, BytesOut &p, const std::string &cipher, const std::string &key) {
    Status s = check_cipher_input(cipher, key);
    if (!succeeded(s)) return s;
    size_t header = mode == AesMode::cbc ? 16 : 0;
    if (cipher.size() % 16 != 0) return refusal(VN_STATUS_BLOCKS, VN_E_CIPHERTEXT);
    if (cipher.size() < header + 16) {
        p.put(std::string());
        return refusal(VN_STATUS_CIPHERTEXT, VN_E_CIPHERTEXT);
    }
    std::string out;
    out.reserve(cipher.size());
    const unsigned char *iv = ubytes(cipher);
    AesResult done = aes_run(mode, false, true, key, iv, ubytes(cipher) + header, cipher.size() - header, out);
    if (done == AesResult::provider_failed) return failure(VN_E_CRYPTO);
    if (done == AesResult::bad_padding) {
        p.put(std::string());
        return refusal(VN_STATUS_CIPHERTEXT, VN_E_PADDING);
    }
    p.put(std::move(out));
    return kOk;
}

}  // namespace

AesResult aes_run(AesMode mode, bool encrypt, bool pad, const std::string &key,
                  const unsigned char *iv, const unsigned char *in, size_t len, std::string &out) {
    const EVP_CIPHER *cipher = key_size_ok(key.size()) ? cipher_for(mode, key.size()) : nullptr;
    CipherContext holder;
    EVP_CIPHER_CTX *ctx = holder.ctx;
    if (cipher == nullptr || ctx == nullptr || len > largest_input) return AesResult::provider_failed;
    if (EVP_CipherInit_ex2(ctx, cipher, ubytes(key), mode == AesMode::cbc ? iv : nullptr,
                           encrypt ? 1 : 0, nullptr) != 1)
        return AesResult::provider_failed;
    EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
    size_t start = out.size();
    out.resize(start + len + 16);
    auto *dst = reinterpret_cast<unsigned char *>(out.data()) + start;
    int n1 = 0, n2 = 0;
    AesResult result = AesResult::ok;
    if (EVP_CipherUpdate(ctx, dst, &n1, in, static_cast<int>(len)) != 1)
        result = AesResult::provider_failed;
    // OpenSSL gives no separate code for bad padding: with a cipher that took the key and the
    // data, a refusal of a padded decryption's final block is the padding.
    else if (EVP_CipherFinal_ex(ctx, dst + n1, &n2) != 1)
        result = !encrypt && pad ? AesResult::bad_padding : AesResult::provider_failed;
    if (result != AesResult::ok) wipe_bytes(dst, len + 16);  // a refused decryption may have left plaintext
    out.resize(result == AesResult::ok ? start + static_cast<size_t>(n1 + n2) : start);
    return result;
}

void release_crypto() noexcept {
    // At exit this runs before OpenSSL's own clean-up (see library.cpp).
    for (auto &row : g_ciphers)
        for (auto &c : row) {
            EVP_CIPHER_free(c);
            c = nullptr;
        }
    release_digest();
}

Status aes_cbc_encrypt(const Context &ctx, BytesOut &c, const std::string &p, const std::string &key,
                       const std::string &iv) {
    Status s = check_cipher_input(p, key);
    if (!succeeded(s)) return s;
    if (!iv.empty() && iv.size() != 16) return refusal(VN_STATUS_IVSIZE, VN_E_IVSIZE);
    unsigned char iv_bytes[16];
    if (iv.empty()) random_bytes(ctx, iv_bytes, 16);
    else std::copy(iv.begin(), iv.end(), iv_bytes);
    return encrypt_padded(AesMode::cbc, iv_bytes, c, p, key);
}

Status aes_cbc_decrypt(BytesOut &p, const std::string &c, const std::string &key) {
    return decrypt_padded(AesMode::cbc, p, c, key);
}

Status aes_ecb_encrypt(BytesOut &c, const std::string &p, const std::string &key) {
    Status s = check_cipher_input(p, key);
    if (!succeeded(s)) return s;
    return encrypt_padded(AesMode::ecb, nullptr, c, p, key);
}

Status aes_ecb_decrypt(BytesOut &p, const std::string &c, const std::string &key) {
    return decrypt_padded(AesMode::ecb, p, c, key);
}

Status aes_block(BytesOut &out, const std::string &in, const std::string &key, bool encrypt) {
    Status s = check_cipher_input(in, key);
    if (!succeeded(s)) return s;
    if (in.size() != 16) return refusal(VN_STATUS_BLOCKS, VN_E_CIPHERTEXT);
    std::string result;
    result.reserve(32);
    if (aes_run(AesMode::ecb, encrypt, false, key, nullptr, ubytes(in), 16, result) != AesResult::ok)
        return failure(VN_E_CRYPTO);
    out.put(std::move(result));
    return kOk;
}

}  // namespace vn
