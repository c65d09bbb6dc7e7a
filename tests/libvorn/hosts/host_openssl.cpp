// A host that uses OpenSSL itself and, for a while, asks for algorithms no provider has
// (FIPS required, no FIPS provider loaded): meanwhile the library's AES, SHA-256 and their
// checks fail with VN_FAIL and VN_E_CRYPTO (never a padding status), and once the host lifts
// the requirement they work again, matching the host's own OpenSSL.
#include <openssl/evp.h>

#include "host.h"

namespace {

using Cipher = int32_t (*)(int32_t *, int32_t *, int32_t *, int32_t *);
using Decipher = int32_t (*)(int32_t *, int32_t *, int32_t *);
using Unary = int32_t (*)(int32_t *, int32_t *);
using Count = int32_t (*)();
using Get = VN_STRING (*)(int32_t *);
using Free = void (*)(VN_STRING *);

std::string host_cbc(const std::string &key, const std::string &iv, const std::string &plain) {
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    std::string out(plain.size() + 16, '\0');
    int n1 = 0, n2 = 0;
    auto *o = reinterpret_cast<unsigned char *>(out.data());
    host::check(EVP_EncryptInit_ex2(ctx, EVP_aes_256_cbc(), reinterpret_cast<const unsigned char *>(key.data()),
                                    reinterpret_cast<const unsigned char *>(iv.data()), nullptr) == 1 &&
                    EVP_EncryptUpdate(ctx, o, &n1, reinterpret_cast<const unsigned char *>(plain.data()),
                                      static_cast<int>(plain.size())) == 1 &&
                    EVP_EncryptFinal_ex(ctx, o + n1, &n2) == 1,
                "the host's own AES");
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(n1 + n2));
    return iv + out;
}

}  // namespace

int main(int argc, char **argv) {
    host::Library lib = host::load(argc > 1 ? argv[1] : VORN_LIBRARY_FILE);
    Cipher enc = nullptr;
    Decipher dec = nullptr;
    Unary sha = nullptr;
    Count aes_checks = nullptr, sha_checks = nullptr;
    Get getreg = nullptr;
    Free freestring = nullptr;
    host::symbol(lib.handle, enc, "VN_ENCRYPT_AES_CBC");
    host::symbol(lib.handle, dec, "VN_DECRYPT_AES_CBC");
    host::symbol(lib.handle, sha, "VN_HASH_SHA_256");
    host::symbol(lib.handle, aes_checks, "VN_CHECKTESTVECTORS_AES");
    host::symbol(lib.handle, sha_checks, "VN_CHECKTESTVECTORS_SHA_256");
    host::symbol(lib.handle, getreg, "VN_GETREG");
    host::symbol(lib.handle, freestring, "VN_FREESTRING");
    auto put = [&](const std::string &b, int32_t r) {
        VN_STRING s{const_cast<char *>(b.data()), static_cast<int32_t>(b.size())};
        host::check(lib.putreg(&s, &r) == VN_OK, "VN_PUTREG");
    };
    auto get = [&](int32_t r) {
        VN_STRING s = getreg(&r);
        std::string out(s.data ? s.data : "", static_cast<size_t>(s.len));
        freestring(&s);
        return out;
    };
    const std::string key(32, 'k'), iv(16, 'i'), plain = "the host and its guest share OpenSSL";
    const std::string cipher = host_cbc(key, iv, plain);
    put(plain, 1);
    put(key, 2);
    put(iv, 3);
    put(cipher, 4);
    int32_t p = 1, k = 2, v = 3, c = 4, out = 5;

    host::check(EVP_set_default_properties(nullptr, "fips=yes") == 1, "EVP_set_default_properties");
    host::check(enc(&p, &k, &v, &out) == VN_FAIL && lib.global_error() == VN_E_CRYPTO,
                "AES encryption without a provider is not VN_FAIL with VN_E_CRYPTO");
    int32_t st = dec(&c, &k, &out);
    std::printf("decryption without a provider: %d, error %d\n", st, lib.global_error());
    host::check(st == VN_FAIL && lib.global_error() == VN_E_CRYPTO,
                "AES decryption without a provider is not VN_FAIL with VN_E_CRYPTO");
    host::check(sha(&p, &out) == VN_FAIL && lib.global_error() == VN_E_CRYPTO,
                "SHA-256 without a provider is not VN_FAIL with VN_E_CRYPTO");
    host::check(aes_checks() == VN_FAIL && lib.global_error() == VN_E_CRYPTO,
                "the AES checks without a provider are not VN_FAIL with VN_E_CRYPTO");
    host::check(sha_checks() == VN_FAIL && lib.global_error() == VN_E_CRYPTO,
                "the SHA-256 checks without a provider are not VN_FAIL with VN_E_CRYPTO");

    host::check(EVP_set_default_properties(nullptr, "") == 1, "EVP_set_default_properties");
    host::check(enc(&p, &k, &v, &out) == VN_OK && get(out) == cipher, "AES encryption did not recover");
    host::check(dec(&c, &k, &out) == VN_OK && get(out) == plain, "AES decryption did not recover");
    host::check(sha(&p, &out) == VN_OK && get(out).size() == 32, "SHA-256 did not recover");
    host::check(aes_checks() == 0 && sha_checks() == 0, "the known-answer checks did not recover");
    std::puts("a failed fetch is tried again: AES and SHA-256 work once the host lifts its requirement");
    return 0;
}
