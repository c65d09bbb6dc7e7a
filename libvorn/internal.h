// Inside the VORN library: the register store, the global error, and the helpers every
// group of operations shares. Nothing here is exported.
#pragma once

#include <gmp.h>

#include <atomic>
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
    // Wipes what the known-dirty first limbs hold and lets the allocation go, so that the
    // destructor has nothing left to wipe.
    void release(size_t dirty_limbs);
    operator mpz_ptr() { return v; }
    operator mpz_srcptr() const { return v; }
    mpz_ptr operator->() { return v; }  // for GMP's macros (mpz_sgn, mpz_cmp_ui)
};

// A register: its bytes and/or its number, whichever are current, and the form it was last
// written in. At least one of the two views is always valid.
struct Register {
    std::string bytes;
    mpz_t num;
    // Limbs at the start of num's allocation that may hold something other than zero: the
    // wiping after a call covers these, not the whole allocation, so a register that once
    // held a huge number costs nothing extra on later small writes.
    size_t dirty = 0;
    bool byte_form = true;     // written as bytes (else as a number)
    bool bytes_valid = true;
    bool num_valid = true;     // the empty string is the number 0
};

// Thrown inside the library for an operand or result beyond the limits; the guard turns it
// into VN_E_TOOBIG. Every write comes after the checks that can throw it.
struct TooBig {};
// Thrown where a crypto or random-number provider failed; the guard makes it VN_E_CRYPTO.
struct ProviderFailed {};

// Sets the global error and returns VN_FAIL, so that failures read `return fail(VN_E_...)`.
int32_t fail(int32_t code) noexcept;
// Sets the global error without choosing the return value (for statuses and truth values).
void set_error(int32_t code) noexcept;

// ---- the guard at the C boundary ---------------------------------------------------------

// One lock for the whole library: registers, the prime table and the cached cipher objects.
extern std::mutex g_library_lock;
// Set when the process exits or the library is unloaded: calls then fail at once.
extern std::atomic<bool> g_closing;
extern std::atomic<bool> g_started;
// Sets up, on the first call, what the library registers with the process: the fork
// handlers and the handler that wipes the registers at exit or unload.
void start_library() noexcept;
// Wipe and free each part's state (at exit or unload, under the library lock).
void release_registers() noexcept;
void release_primality() noexcept;
void release_crypto() noexcept;
// Wipes the limbs beyond the new value of every register written since the last call.
void settle_written() noexcept;

// The exception of a call as its global error code.
int32_t error_of_current_exception() noexcept;

// Runs body under the library lock; any exception becomes a global error and on_failure.
// Every exported function that touches library state goes through here.
template <typename R, typename Body>
R guarded(R on_failure, Body &&body) noexcept {
    if (!g_started.load(std::memory_order_acquire)) start_library();
    int32_t code = VN_E_CANCELLED;  // the library is closing
    if (g_closing.load(std::memory_order_relaxed)) {
        set_error(code);
        return on_failure;
    }
    try {
        std::lock_guard<std::mutex> hold(g_library_lock);
        // Checked again under the lock: the state may have been freed meanwhile.
        if (!g_closing.load(std::memory_order_relaxed)) {
            struct Settle {
                ~Settle() { settle_written(); }
            } settle;
            return body();
        }
    } catch (...) {
        code = error_of_current_exception();
    }
    set_error(code);
    return on_failure;
}

// The register named by *number, or nullptr with error set to VN_E_REGISTER (VN_E_ARGUMENT
// for a null pointer).
Register *find_register(const int32_t *number, int32_t &error);
// The same, setting the global error.
Register *reg(const int32_t *number);

// x = the number whose bytes (least significant first) are given. Throws TooBig beyond
// VN_MAX_BITS.
void number_from_bytes(mpz_ptr x, const std::string &bytes);

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
// The two halves of set_number for a result that may not come: the register's mpz to write
// into (nothing is marked yet), and the marking once it was written.
mpz_ptr number_target(Register &r);
void number_written(Register &r);
// Moves t into the register as its number result (the register's old number goes to t,
// wiped). For results computed into a temporary.
void adopt_number(Register &r, Num &t);
// Replaces the register's contents by bytes (byte form), wiping the old ones. Throws TooBig,
// before anything changes, for more than VN_MAX_BYTES.
void set_bytes(Register &r, std::string &&b);

// r = b^e mod m (m > 1). Up to about 0.5 s of GMP's time, one mpz_powm in this thread (a stop
// waits for it); beyond, one mpz_powm in the helper process, which a stop kills; where no
// helper starts, the exponent is taken in pieces here (the result so far raised to 2^c,
// times b^piece), with a check for a stop and the share of the exponent done reported
// between pieces. With secure set, the power is side-channel resistant (mpz_powm_sec, in
// the helper or in every piece; odd m, e > 0).
void long_powm(const Context &ctx, mpz_ptr r, mpz_srcptr b, mpz_srcptr e, mpz_srcptr m, bool secure = false);
// r = base^n for base >= 2, checking for a stop between the squarings of its last steps.
// result_bits estimates the result's size, for the progress.
void long_pow(const Context &ctx, mpz_ptr r, mpz_srcptr base, unsigned long n, double result_bits);

// The decimal digits of x ("0" for zero), and x = the number that digits[0, len) spell
// (digits only, already checked, no white space). Large numbers go in pieces with checks for
// a stop between them; the largest whole to the helper process.
void decimal_text(const Context &ctx, mpz_srcptr x, std::string &out);
void decimal_value(const Context &ctx, mpz_ptr x, const char *digits, size_t len);

// The same computations whole in the helper process (offload.cpp), which a stop kills (then
// Cancelled is thrown). false when no helper ran: the caller computes them itself.
bool offload_powm(const Context &ctx, mpz_ptr r, mpz_srcptr b, mpz_srcptr e, mpz_srcptr m, bool secure);
bool offload_decimal_text(const Context &ctx, mpz_srcptr x, std::string &out);
bool offload_decimal_value(const Context &ctx, mpz_ptr x, const char *digits, size_t len);

// Size in bits of a number (0 for zero).
inline size_t bit_size(mpz_srcptr x) { return mpz_sgn(x) == 0 ? 0 : mpz_sizeinbase(x, 2); }

// Limbs enough for a number of `digits` decimal digits: 10^digits < 2^(digits * log2(10)),
// with a limb to spare.
inline size_t decimal_limbs(size_t digits) {
    return static_cast<size_t>(static_cast<double>(digits) * 3.3219280948873626 / GMP_NUMB_BITS) + 2;
}

// Fills buf from the context's random source; throws ProviderFailed when it fails.
void random_bytes(const Context &ctx, void *buf, size_t len);
// x = a uniformly random number in [0, 2^bits).
void random_bits(const Context &ctx, mpz_ptr x, size_t bits);
// x = a uniformly random number in [lo, hi] (lo <= hi).
void random_range(const Context &ctx, mpz_ptr x, mpz_srcptr lo, mpz_srcptr hi);

// Prime search shared by VN_GENERATEPRIME, RSA keys and BBS: p = a random prime of exactly
// bits bits (bits >= 2) that passes `rounds` Rabin-Miller rounds with random bases and BPSW.
// When three_mod_four is set, p = 3 (mod 4). When avoid_factor_of is non-zero, p - 1 is not
// divisible by it (for an RSA exponent). Fails (VN_E_ARGUMENT) only for constraints no prime
// of that size meets; checks the context for a stop between candidates and reports
// candidates tried as progress.
struct Status;
Status generate_prime(const Context &ctx, mpz_ptr p, size_t bits, int rounds, bool three_mod_four,
                      unsigned long avoid_factor_of);

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
