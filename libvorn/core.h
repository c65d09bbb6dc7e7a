// Inside the VORN library: the operations themselves, on numbers (GMP) and byte strings.
// Nothing here knows registers, the library lock or the per-thread error. The ABI layer
// (abi.cpp) reads a call's operands out of the registers, runs one of these with the call's
// context, writes the results that the operation put back into the registers and reports
// the status. Nothing here is exported.
//
// Rules every operation keeps:
// - It puts a result only as its last step, after every check passed: a failed or stopped
//   operation leaves its results unset (save the writes the header documents, such as the 0
//   of a bad decimal text). A result's target never shares memory with an operand.
// - Sizes are checked before GMP sees them: no operation computes a number beyond
//   VN_MAX_BITS or a byte string beyond VN_MAX_BYTES.
// - A stop deep inside a loop unwinds as Cancelled, an operand beyond the limits as TooBig,
//   a provider failure as ProviderFailed; the ABI layer turns them into statuses.
#pragma once

#include <gmp.h>

#include <cstdint>
#include <string>
#include <utility>

#include "vorn.h"
#include "work.h"

namespace vn {

// What an operation reports: the value its VN_ function returns (VN_OK, VN_FAIL, a truth
// value, a status or a count) and the error code the call leaves (VN_E_NONE: the error of an
// earlier call stays).
struct Status {
    int32_t result;
    int32_t error;
};
constexpr Status kOk{VN_OK, VN_E_NONE};
constexpr Status failure(int32_t error) { return {VN_FAIL, error}; }
constexpr Status truth(bool yes) { return {yes ? 1 : 0, VN_E_NONE}; }
// One of the small statuses of the header (VN_STATUS_...), with its error code.
constexpr Status refusal(int32_t status, int32_t error) { return {status, error}; }
constexpr bool succeeded(Status s) { return s.result != VN_FAIL && s.error == VN_E_NONE; }

// A number result. put() gives the place to write it; an operation that must compute into a
// temporary first (its size is known only at the end, or a stop may come before it is done)
// computes into temporary() and calls keep() once it is the result. The ABI layer moves it
// into the register without a copy.
struct Num;
struct NumberOut {
    mpz_ptr target = nullptr;
    Num *held = nullptr;
    bool put_done = false;
    bool kept = false;
    mpz_ptr put() {
        put_done = true;
        return target;
    }
    mpz_ptr temporary();
    void keep() { put_done = kept = true; }
    NumberOut() = default;
    NumberOut(const NumberOut &) = delete;
    NumberOut &operator=(const NumberOut &) = delete;
    ~NumberOut() {
        if (held != nullptr) release();
    }

private:
    void release();
};

// A byte-string result.
struct BytesOut {
    std::string value;
    bool put_done = false;
    void put(std::string &&v) {
        value = std::move(v);
        put_done = true;
    }
    ~BytesOut() {
        if (!value.empty()) release();  // a value that never reached its register
    }

private:
    void release();
};

// An operand as it was stored: its bytes when it was written as bytes, else its number.
struct Operand {
    const std::string *bytes;
    mpz_srcptr number;
};

// ---- arithmetic (arith.cpp) -------------------------------------------------------------
Status add(NumberOut &d, mpz_srcptr a, mpz_srcptr b);
Status distance(NumberOut &d, mpz_srcptr a, mpz_srcptr b);  // |a - b|: numbers carry no sign
Status multiply(NumberOut &d, mpz_srcptr a, mpz_srcptr b);
Status twice(NumberOut &d, mpz_srcptr a);
Status halve(NumberOut &q, NumberOut &r, mpz_srcptr a);
Status divide(NumberOut &q, NumberOut &r, mpz_srcptr a, mpz_srcptr b);
Status modulo(NumberOut &d, mpz_srcptr a, mpz_srcptr m);
Status power(const Context &ctx, NumberOut &d, mpz_srcptr base, mpz_srcptr exponent);
Status power_mod(const Context &ctx, NumberOut &d, mpz_srcptr base, mpz_srcptr exponent, mpz_srcptr m);
Status gcd(NumberOut &d, mpz_srcptr a, mpz_srcptr b);
Status inverse_mod(NumberOut &d, mpz_srcptr a, mpz_srcptr m);

// ---- comparisons (compare.cpp) ----------------------------------------------------------
Status is_zero(mpz_srcptr a);
Status is_odd(mpz_srcptr a);
// Two byte-string operands compare their bytes; otherwise values.
Status is_equal(Operand a, Operand b);
Status is_not_equal(Operand a, Operand b);
Status is_less(mpz_srcptr a, mpz_srcptr b);

// ---- text (convert.cpp) -----------------------------------------------------------------
Status from_decimal(const Context &ctx, NumberOut &d, const std::string &text);
Status to_decimal(const Context &ctx, BytesOut &d, mpz_srcptr x);
Status to_hex(BytesOut &d, mpz_srcptr x);

// ---- primality (primality.cpp) ----------------------------------------------------------
Status read_primes(int32_t count);
Status is_rel_prime(mpz_srcptr a, mpz_srcptr b);
Status is_prime_div(mpz_srcptr a);
Status is_prime_exact(const Context &ctx, mpz_srcptr a);
Status is_prime_fermat(const Context &ctx, int32_t rounds, mpz_srcptr a);
Status is_prime_rabin_miller(const Context &ctx, int32_t rounds, mpz_srcptr a);

// ---- generators (generate.cpp, rsa.cpp, bitgen.cpp) -------------------------------------
Status random_number(const Context &ctx, NumberOut &d, int32_t bits);
Status random_prime(const Context &ctx, NumberOut &d, int32_t bits, int32_t rounds);
Status rsa_keys(const Context &ctx, NumberOut &e, NumberOut &dk, NumberOut &n, int32_t bits, int32_t rounds);
Status bbs_setup(const Context &ctx, NumberOut &n, NumberOut &s, int32_t bits, int32_t rounds);
Status bbs_bits(const Context &ctx, BytesOut &out, NumberOut &next, int32_t len, int32_t multi, mpz_srcptr s,
                mpz_srcptr n);
Status rsa_bits(const Context &ctx, BytesOut &out, NumberOut &next, int32_t len, mpz_srcptr s, mpz_srcptr e,
                mpz_srcptr n);

// ---- ciphers and hash (rsa.cpp, aes.cpp, sha256.cpp, selftest.cpp) ----------------------
Status rsa_encrypt(const Context &ctx, NumberOut &c, Operand m, mpz_srcptr e, mpz_srcptr n);
Status rsa_decrypt(const Context &ctx, NumberOut &m, Operand c, mpz_srcptr dk, mpz_srcptr n);
Status aes_cbc_encrypt(const Context &ctx, BytesOut &c, const std::string &p, const std::string &key,
                       const std::string &iv);
Status aes_cbc_decrypt(BytesOut &p, const std::string &c, const std::string &key);
Status aes_ecb_encrypt(BytesOut &c, const std::string &p, const std::string &key);
Status aes_ecb_decrypt(BytesOut &p, const std::string &c, const std::string &key);
Status aes_block(BytesOut &out, const std::string &in, const std::string &key, bool encrypt);
Status sha256_digest(BytesOut &d, const std::string &message);
Status check_aes_vectors(const Context &ctx);
Status check_sha256_vectors(const Context &ctx);

}  // namespace vn
