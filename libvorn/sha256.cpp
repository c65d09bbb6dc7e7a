// SHA-256 over OpenSSL's EVP interface, with the digest fetched on first need and a context per call
// (freeing it cleanses the state, so no digest outlives the call).
#include <openssl/evp.h>

#include <new>

#include "core.h"
#include "crypto_internal.h"
#include "internal.h"

namespace vn {

namespace {
EVP_MD *g_md = nullptr;  // fetched on first need under the library lock; retried after a failure
}  // namespace

void release_digest() noexcept {
    EVP_MD_free(g_md);
    g_md = nullptr;
}

bool sha256(const void *data, size_t len, unsigned char out[32]) {
    if (g_md == nullptr) g_md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    EVP_MD *md = g_md;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    unsigned int out_len = 0;
    bool ok = md != nullptr && ctx != nullptr && EVP_DigestInit_ex2(ctx, md, nullptr) == 1 &&
              EVP_DigestUpdate(ctx, data, len) == 1 && EVP_DigestFinal_ex(ctx, out, &out_len) == 1 &&
              out_len == 32;
    EVP_MD_CTX_free(ctx);
    return ok;
}

Status sha256_digest(BytesOut &d, const std::string &message) {
    std::string digest(32, '\0');
    if (!sha256(message.data(), message.size(), reinterpret_cast<unsigned char *>(digest.data())))
        return failure(VN_E_CRYPTO);
    d.put(std::move(digest));
    return kOk;
}

}  // namespace vn
