// Inside the VORN library: what the cipher, hash, key and generator files share with the
// known-answer checks. Nothing here is exported.
#pragma once

#include <gmp.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "work.h"

namespace vn {

// n = p*q of exactly `bits` bits from two distinct primes of bits/2 and bits - bits/2 bits,
// each passing `rounds` Rabin-Miller rounds and BPSW (see generate_prime). three_mod_four
// and avoid_factor_of are passed on to generate_prime, whose failure this returns.
struct Status;
Status two_prime_modulus(const Context &ctx, mpz_ptr p, mpz_ptr q, mpz_ptr n, size_t bits, int rounds,
                         bool three_mod_four, unsigned long avoid_factor_of);

enum class AesMode { ecb, cbc };

// What aes_run did: done; the padding of a decryption was bad; the provider failed (no
// cipher could be fetched, or it refused the key or the data).
enum class AesResult { ok, bad_padding, provider_failed };

// Runs AES over in (key of 16, 24 or 32 bytes; iv of 16 bytes for CBC, ignored for ECB),
// appending the result to out. With pad set, encryption adds PKCS#7 padding and decryption
// checks and removes it; without, in must be whole blocks. The global error is not touched.
AesResult aes_run(AesMode mode, bool encrypt, bool pad, const std::string &key,
             const unsigned char *iv, const unsigned char *in, size_t len, std::string &out);

// out = the SHA-256 digest of the len bytes at data. False when the provider fails.
// The fetched cipher and digest objects are kept between calls; a failed fetch is tried again
// on the next call. These run under the library lock.
bool sha256(const void *data, size_t len, unsigned char out[32]);
void release_digest() noexcept;

}  // namespace vn
