// Inside the VORN library: the register store, the global error, and the helpers every
// group of operations shares. Nothing here is exported.
#pragma once

#include <gmp.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "vorn.h"
#include "work.h"

namespace vn {

// ---- wiping ----------------------------------------------------------------------------

// Zeroes every allocated limb of x (not only the used ones) and sets x to 0.
void wipe_number(mpz_ptr x);
// Zeroes the whole buffer of s (its capacity, not only its size) and empties it.
void wipe(std::string &s);
void wipe_bytes(void *p, size_t n);
template <typename T>
void wipe(std::vector<T> &v) {
    wipe_bytes(v.data(), v.capacity() * sizeof(T));
    v.clear();
}

// A GMP number for temporaries: initialised here, wiped and cleared when it goes.
struct Num {
    mpz_t v;
    Num() { mpz_init(v); }
    ~Num() {
        wipe_number(v);
        mpz_clear(v);
    }
    Num(const Num &) = delete;
    Num &operator=(const Num &) = delete;
    operator mpz_ptr() { return v; }
    operator mpz_srcptr() const { return v; }
    mpz_ptr operator->() { return v; }  // for GMP's macros (mpz_sgn, mpz_cmp_ui)
};

// A register: its bytes and/or its number, whichever are current, and the form it was last
// written in. At least one of the two views is always valid.
struct Register {
    std::string bytes;
    mpz_t num;
    bool byte_form = true;     // written as bytes (else as a number)
    bool bytes_valid = true;
    bool num_valid = true;     // the empty string is the number 0
};

// Thrown inside the library for an operand or result beyond the limits; the guard turns it
// into VN_E_TOOBIG. Every write comes after the checks that can throw it.
struct TooBig {};

// Sets the global error and returns VN_FAIL, so that failures read `return fail(VN_E_...)`.
int32_t fail(int32_t code) noexcept;
// Sets the global error without choosing the return value (for statuses and truth values).
void set_error(int32_t code) noexcept;

// ---- the guard at the C boundary ---------------------------------------------------------

// One lock for the whole library: registers, the prime table, PARI and FLINT are shared.
extern std::mutex g_library_lock;
// Wipes the limbs beyond the new value of every register written since the last call.
void settle_written() noexcept;

// Runs body under the library lock; any exception becomes a global error and on_failure.
// Every exported function that touches library state goes through here.
template <typename R, typename Body>
R guarded(R on_failure, Body &&body) noexcept {
    int32_t code;
    try {
        std::lock_guard<std::mutex> hold(g_library_lock);
        struct Settle {
            ~Settle() { settle_written(); }
        } settle;
        return body();
    } catch (const std::bad_alloc &) {
        code = VN_E_NOMEMORY;
    } catch (const TooBig &) {
        code = VN_E_TOOBIG;
    } catch (const std::length_error &) {
        code = VN_E_TOOBIG;
    } catch (const Cancelled &) {
        code = VN_E_CANCELLED;
    } catch (...) {
        code = VN_E_INTERNAL;
    }
    set_error(code);
    return on_failure;
}

// The register named by *number, or nullptr (global error VN_E_REGISTER; VN_E_ARGUMENT for a
// null pointer).
Register *reg(const int32_t *number);

// Looks up registers all at once: true when every one exists, else sets the error.
template <typename... P>
bool regs(P *...out_and_numbers);

// The register's value as a number (converted from the bytes once, then cached). Throws
// TooBig for bytes that make a number beyond VN_MAX_BITS.
mpz_srcptr value(Register &r);
// The register's bytes (converted from the number once, then cached).
const std::string &bytes_of(Register &r);

// Marks the register as a number result and returns its mpz to write into; its old bytes are
// wiped. Operands must be fetched with value() before this is called, since the destination
// may be an operand. The result must not exceed VN_MAX_BITS (callers check first).
mpz_ptr set_number(Register &r);
// Replaces the register's contents by bytes (byte form), wiping the old ones. Throws TooBig,
// before anything changes, for more than VN_MAX_BYTES.
void set_bytes(Register &r, std::string &&b);

// Size in bits of a number (0 for zero).
inline size_t bit_size(mpz_srcptr x) { return mpz_sgn(x) == 0 ? 0 : mpz_sizeinbase(x, 2); }

// Fills buf from the CSPRNG; false (and VN_E_CRYPTO) when it fails.
bool random_bytes(void *buf, size_t len);
// x = a uniformly random number in [0, 2^bits).
bool random_bits(mpz_ptr x, size_t bits);
// x = a uniformly random number in [lo, hi] (lo <= hi).
bool random_range(mpz_ptr x, mpz_srcptr lo, mpz_srcptr hi);

// Prime search shared by VN_GENERATEPRIME, RSA keys and BBS: p = a random prime of exactly
// bits bits (bits >= 2) that passes `rounds` Rabin-Miller rounds with random bases and BPSW.
// When three_mod_four is set, p = 3 (mod 4). When avoid_factor_of is non-zero, p - 1 is not
// divisible by it (for an RSA exponent). Returns false only when the CSPRNG fails.
bool generate_prime(mpz_ptr p, size_t bits, int rounds, bool three_mod_four, unsigned long avoid_factor_of);

// Rabin-Miller with `rounds` random bases on odd n > 3; true when n passes every round.
bool rabin_miller(mpz_srcptr n, int rounds);
// BPSW probable-prime test (exact below 2^64).
bool bpsw(mpz_srcptr n);

// Clamps a test-round count to 1 .. VN_MAX_ROUNDS.
inline int clamp_rounds(int32_t r) { return r < 1 ? 1 : (r > VN_MAX_ROUNDS ? VN_MAX_ROUNDS : r); }

// --- template definition ---
inline bool regs_impl() { return true; }
template <typename... P>
inline bool regs_impl(Register **out, const int32_t *number, P *...rest) {
    *out = reg(number);
    return *out != nullptr && regs_impl(rest...);
}
template <typename... P>
bool regs(P *...out_and_numbers) {
    return regs_impl(out_and_numbers...);
}

}  // namespace vn
