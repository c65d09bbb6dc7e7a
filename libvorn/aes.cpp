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

#include "crypto_internal.h"
#include "internal.h"

namespace vn {
namespace {

// Returned by the shared checks when the call may go on (every status, VN_FAIL included,
// is a possible result of the checks).
constexpr int32_t go_on = INT32_MIN;

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

// Looks up the three registers of a cipher call and checks the key; returns go_on to go on, or
// the value the VN_ function returns.
int32_t cipher_registers(int32_t *in, int32_t *key, int32_t *out, Register *&ri, Register *&rk,
                         Register *&ro) {
    if (!regs(&ri, in, &rk, key, &ro, out)) return VN_FAIL;
    if (!key_size_ok(bytes_of(*rk).size())) {
        set_error(VN_E_KEYSIZE);
        return 1;
    }
    if (bytes_of(*ri).size() > largest_input) return fail(VN_E_TOOBIG);
    return go_on;
}

// Encrypts with PKCS#7 padding (ECB, or CBC with the IV written in front).
int32_t encrypt_padded(AesMode mode, const unsigned char *iv,
                       Register &rp, Register &rk, Register &rc) {
    const std::string &plain = bytes_of(rp);
    // Refuse before encrypting what could not be stored: padding, and the IV for CBC.
    size_t stored = (plain.size() / 16 + 1) * 16 + (mode == AesMode::cbc ? 16 : 0);
    if (stored > static_cast<size_t>(VN_MAX_BYTES)) return fail(VN_E_TOOBIG);
    std::string out;
    out.reserve(plain.size() + 32);
    if (mode == AesMode::cbc) out.assign(reinterpret_cast<const char *>(iv), 16);
    if (aes_run(mode, true, true, bytes_of(rk), iv, ubytes(plain), plain.size(), out) != AesResult::ok)
        return fail(VN_E_CRYPTO);
    set_bytes(rc, std::move(out));
    return VN_OK;
}

// Decrypts a padded ciphertext (CBC: the IV is its first block).
int32_t decrypt_padded(AesMode mode, int32_t *c, int32_t *key, int32_t *p) {
    Register *rc, *rk, *rp;
    int32_t st = cipher_registers(c, key, p, rc, rk, rp);
    if (st != go_on) return st;
    const std::string &cipher = bytes_of(*rc);
    size_t header = mode == AesMode::cbc ? 16 : 0;
    if (cipher.size() % 16 != 0) {
        set_error(VN_E_CIPHERTEXT);
        return 2;
    }
    if (cipher.size() < header + 16) {
        set_error(VN_E_CIPHERTEXT);
        set_bytes(*rp, std::string());
        return 3;
    }
    std::string out;
    out.reserve(cipher.size());
    const unsigned char *iv = ubytes(cipher);
    AesResult done = aes_run(mode, false, true, bytes_of(*rk), iv, ubytes(cipher) + header,
                             cipher.size() - header, out);
    if (done == AesResult::provider_failed) return fail(VN_E_CRYPTO);
    if (done == AesResult::bad_padding) {
        set_error(VN_E_PADDING);
        set_bytes(*rp, std::string());
        return 3;
    }
    set_bytes(*rp, std::move(out));
    return VN_OK;
}

int32_t one_block(bool encrypt, int32_t *in, int32_t *key, int32_t *out) {
    Register *ri, *rk, *ro;
    int32_t st = cipher_registers(in, key, out, ri, rk, ro);
    if (st != go_on) return st;
    const std::string &block = bytes_of(*ri);
    if (block.size() != 16) {
        set_error(VN_E_CIPHERTEXT);
        return 2;
    }
    std::string result;
    result.reserve(32);
    if (aes_run(AesMode::ecb, encrypt, false, bytes_of(*rk), nullptr, ubytes(block), 16, result) != AesResult::ok)
        return fail(VN_E_CRYPTO);
    set_bytes(*ro, std::move(result));
    return VN_OK;
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

}  // namespace vn

using namespace vn;

extern "C" {

VN_API int32_t VN_ENCRYPT_AES_CBC(int32_t *p, int32_t *key, int32_t *iv, int32_t *c) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *rp, *rk, *ri, *rc;
        if (!regs(&rp, p, &rk, key, &ri, iv, &rc, c)) return VN_FAIL;
        int32_t st = cipher_registers(p, key, c, rp, rk, rc);
        if (st != go_on) return st;
        const std::string &given = bytes_of(*ri);
        if (!given.empty() && given.size() != 16) {
            set_error(VN_E_IVSIZE);
            return 2;
        }
        unsigned char iv_bytes[16];
        if (given.empty()) {
            if (!random_bytes(quick_context(), iv_bytes, 16)) return VN_FAIL;
        } else {
            std::copy(given.begin(), given.end(), iv_bytes);
        }
        return encrypt_padded(AesMode::cbc, iv_bytes, *rp, *rk, *rc);
    });
}

VN_API int32_t VN_DECRYPT_AES_CBC(int32_t *c, int32_t *key, int32_t *p) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        return decrypt_padded(AesMode::cbc, c, key, p);
    });
}

VN_API int32_t VN_ENCRYPT_AES_ECB(int32_t *p, int32_t *key, int32_t *c) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        Register *rp, *rk, *rc;
        int32_t st = cipher_registers(p, key, c, rp, rk, rc);
        if (st != go_on) return st;
        return encrypt_padded(AesMode::ecb, nullptr, *rp, *rk, *rc);
    });
}

VN_API int32_t VN_DECRYPT_AES_ECB(int32_t *c, int32_t *key, int32_t *p) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        return decrypt_padded(AesMode::ecb, c, key, p);
    });
}

VN_API int32_t VN_ENCRYPT_AES_1BLOCK(int32_t *p, int32_t *key, int32_t *c) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        return one_block(true, p, key, c);
    });
}

VN_API int32_t VN_DECRYPT_AES_1BLOCK(int32_t *c, int32_t *key, int32_t *p) {
    return guarded(VN_FAIL, [&]() -> int32_t {
        return one_block(false, c, key, p);
    });
}

}  // extern "C"
