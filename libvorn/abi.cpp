// The C ABI of the operations: one table from each VN_ function to the registers it reads and
// writes and the operation it runs (core.h), and one place that takes the library lock, reads
// the operands, runs the operation in the call's context, writes the results back, wipes
// what the old values left and sets the per-thread error. The functions that manage the
// registers themselves (VN_PUTREG, VN_COPYREG, ...) are in registers.cpp, the stop and
// progress functions in work.cpp.
#include <cstddef>
#include <initializer_list>
#include <new>

#include "core.h"
#include "internal.h"

namespace vn {
namespace {

// How a VN_ function uses one of its parameters.
enum Param : uint8_t {
    None,         // no such parameter
    Number,       // a register, read as a number
    Bytes,        // a register, read as its bytes
    AsStored,     // a register, read as it was written: bytes or number
    Count,        // an int32_t that is no register: a count, a length or a flag
    NumberResult, // a register that receives a number
    BytesResult,  // a register that receives bytes
};

constexpr int kMaxParams = 6;
// The steps of a call are inlined into each VN_ function, where its row is a constant: what
// the row does not use costs nothing (a VN_ADD takes a few tens of nanoseconds in all).
#define VN_INLINE [[gnu::always_inline]] inline
#define VN_EACH_PARAM _Pragma("GCC unroll 6")

constexpr int8_t kQuick = -1;  // a call too short to show a stage or to be stopped

constexpr bool is_register(Param p) { return p != None && p != Count; }

// One call in progress: its parameters as the operation sees them.
// Only what the row names is set and read: nothing here is cleared first, which at a few
// hundred bytes would cost more than a small sum.
struct Call {
    Context ctx;
    int32_t *param[kMaxParams];
    Register *reg[kMaxParams];
    Operand operand[kMaxParams];
    BytesOut bytes_out;  // no function has more than one byte-string result
    // The number results, made only for the parameters that are number results.
    const Param *params;
    alignas(NumberOut) unsigned char number_space[kMaxParams][sizeof(NumberOut)];

    // The quick context is made in place: a copy of it, stored piecewise and read back whole,
    // would stall the small calls.
    explicit Call(const Param *p) : ctx(quick_context()), params(p) {}
    Call(const Call &) = delete;
    Call &operator=(const Call &) = delete;
    ~Call() {
        VN_EACH_PARAM
    for (int i = 0; i < kMaxParams; ++i)
            if (params[i] == NumberResult) number(i).~NumberOut();
    }

    mpz_srcptr num(int i) const { return operand[i].number; }
    const std::string &bytes(int i) const { return *operand[i].bytes; }
    Operand stored(int i) const { return operand[i]; }
    int32_t count(int i) const { return *param[i]; }
    NumberOut &number(int i) { return *std::launder(reinterpret_cast<NumberOut *>(number_space[i])); }
    BytesOut &text(int) { return bytes_out; }
};

enum class Fn : uint8_t {
    add, sub, mul, mulby2, divby2, div, mod, pow, powmod, gcd, modinv,
    iszero, isodd, isequal, isnotequal, isless, isrelprime,
    isprime_div, isprime_slow, isprime_f, isprime_rb, readprimes,
    dec2huge, huge2dec, huge2hex,
    generaterandom, generateprime, generatersakeys, initbbs, bbsbits, rsabits,
    encrypt_rsa, decrypt_rsa,
    encrypt_aes_cbc, decrypt_aes_cbc, encrypt_aes_ecb, decrypt_aes_ecb, encrypt_aes_1block, decrypt_aes_1block,
    hash_sha_256, vectors_aes, vectors_sha_256,
    count
};

struct Row {
    Fn fn;
    const char *name;
    Param params[kMaxParams];
    int8_t stage;   // VN_STAGE_... shown while it runs, or kQuick
    bool unlocked;  // runs without the library lock, on copies of its operands (no results)
    Status (*run)(Call &);
};

constexpr Param N = Number, B = Bytes, S = AsStored, C = Count, RN = NumberResult, RB = BytesResult;

// clang-format off
constexpr Row kRows[] = {
    // arithmetic
    {Fn::add,     "VN_ADD",     {N, N, RN},    kQuick, false, [](Call &c) { return add(c.number(2), c.num(0), c.num(1)); }},
    {Fn::sub,     "VN_SUB",     {N, N, RN},    kQuick, false, [](Call &c) { return distance(c.number(2), c.num(0), c.num(1)); }},
    {Fn::mul,     "VN_MUL",     {N, N, RN},    kQuick, false, [](Call &c) { return multiply(c.number(2), c.num(0), c.num(1)); }},
    {Fn::mulby2,  "VN_MULBY2",  {N, RN},       kQuick, false, [](Call &c) { return twice(c.number(1), c.num(0)); }},
    {Fn::divby2,  "VN_DIVBY2",  {N, RN, RN},   kQuick, false, [](Call &c) { return halve(c.number(1), c.number(2), c.num(0)); }},
    {Fn::div,     "VN_DIV",     {N, N, RN, RN}, kQuick, false, [](Call &c) { return divide(c.number(2), c.number(3), c.num(0), c.num(1)); }},
    {Fn::mod,     "VN_MOD",     {N, N, RN},    kQuick, false, [](Call &c) { return modulo(c.number(2), c.num(0), c.num(1)); }},
    {Fn::pow,     "VN_POW",     {N, N, RN},    VN_STAGE_POWER, false, [](Call &c) { return power(c.ctx, c.number(2), c.num(0), c.num(1)); }},
    {Fn::powmod,  "VN_POWMOD",  {N, N, N, RN}, VN_STAGE_POWER, false, [](Call &c) { return power_mod(c.ctx, c.number(3), c.num(0), c.num(1), c.num(2)); }},
    {Fn::gcd,     "VN_GCD",     {N, N, RN},    kQuick, false, [](Call &c) { return gcd(c.number(2), c.num(0), c.num(1)); }},
    {Fn::modinv,  "VN_MODINV",  {N, N, RN},    kQuick, false, [](Call &c) { return inverse_mod(c.number(2), c.num(0), c.num(1)); }},
    // tests
    {Fn::iszero,     "VN_ISZERO",     {N},    kQuick, false, [](Call &c) { return is_zero(c.num(0)); }},
    {Fn::isodd,      "VN_ISODD",      {N},    kQuick, false, [](Call &c) { return is_odd(c.num(0)); }},
    {Fn::isequal,    "VN_ISEQUAL",    {S, S}, kQuick, false, [](Call &c) { return is_equal(c.stored(0), c.stored(1)); }},
    {Fn::isnotequal, "VN_ISNOTEQUAL", {S, S}, kQuick, false, [](Call &c) { return is_not_equal(c.stored(0), c.stored(1)); }},
    {Fn::isless,     "VN_ISLESS",     {N, N}, kQuick, false, [](Call &c) { return is_less(c.num(0), c.num(1)); }},
    {Fn::isrelprime, "VN_ISRELPRIME", {N, N}, kQuick, false, [](Call &c) { return is_rel_prime(c.num(0), c.num(1)); }},
    {Fn::isprime_div,  "VN_ISPRIME_DIV",  {N},    kQuick, false, [](Call &c) { return is_prime_div(c.num(0)); }},
    // The proof runs without the lock, so that other threads' calls never wait behind it
    // and proofs from several threads run at once.
    {Fn::isprime_slow, "VN_ISPRIME_SLOW", {N},    VN_STAGE_PROOF, true, [](Call &c) { return is_prime_exact(c.ctx, c.num(0)); }},
    {Fn::isprime_f,    "VN_ISPRIME_F",    {C, N}, VN_STAGE_WORKING, false, [](Call &c) { return is_prime_fermat(c.ctx, c.count(0), c.num(1)); }},
    {Fn::isprime_rb,   "VN_ISPRIME_RB",   {C, N}, VN_STAGE_WORKING, false, [](Call &c) { return is_prime_rabin_miller(c.ctx, c.count(0), c.num(1)); }},
    {Fn::readprimes,   "VN_READPRIMES",   {C},    kQuick, false, [](Call &c) { return read_primes(c.count(0)); }},
    // text
    {Fn::dec2huge, "VN_DEC2HUGE", {B, RN}, VN_STAGE_CONVERT, false, [](Call &c) { return from_decimal(c.ctx, c.number(1), c.bytes(0)); }},
    {Fn::huge2dec, "VN_HUGE2DEC", {N, RB}, VN_STAGE_CONVERT, false, [](Call &c) { return to_decimal(c.ctx, c.text(1), c.num(0)); }},
    {Fn::huge2hex, "VN_HUGE2HEX", {N, RB}, kQuick, false, [](Call &c) { return to_hex(c.text(1), c.num(0)); }},
    // generators
    {Fn::generaterandom,   "VN_GENERATERANDOM",   {C, RN},            kQuick, false, [](Call &c) { return random_number(c.ctx, c.number(1), c.count(0)); }},
    {Fn::generateprime,    "VN_GENERATEPRIME",    {C, C, RN},         VN_STAGE_SEARCH, false, [](Call &c) { return random_prime(c.ctx, c.number(2), c.count(0), c.count(1)); }},
    {Fn::generatersakeys,  "VN_GENERATERSAKEYS",  {C, C, RN, RN, RN}, VN_STAGE_SEARCH, false, [](Call &c) { return rsa_keys(c.ctx, c.number(2), c.number(3), c.number(4), c.count(0), c.count(1)); }},
    {Fn::initbbs,          "VN_INITBBS",          {C, C, RN, RN},     VN_STAGE_SEARCH, false, [](Call &c) { return bbs_setup(c.ctx, c.number(2), c.number(3), c.count(0), c.count(1)); }},
    {Fn::bbsbits, "VN_GENERATEBBSRANDOMBITS", {C, C, N, N, RB, RN},   VN_STAGE_GENERATE, false, [](Call &c) { return bbs_bits(c.ctx, c.text(4), c.number(5), c.count(0), c.count(1), c.num(2), c.num(3)); }},
    {Fn::rsabits, "VN_GENERATERSARANDOMBITS", {C, N, N, N, RB, RN},   VN_STAGE_GENERATE, false, [](Call &c) { return rsa_bits(c.ctx, c.text(4), c.number(5), c.count(0), c.num(1), c.num(2), c.num(3)); }},
    // ciphers and hash
    {Fn::encrypt_rsa, "VN_ENCRYPT_RSA", {S, N, N, RN}, VN_STAGE_CIPHER, false, [](Call &c) { return rsa_encrypt(c.ctx, c.number(3), c.stored(0), c.num(1), c.num(2)); }},
    {Fn::decrypt_rsa, "VN_DECRYPT_RSA", {S, N, N, RN}, VN_STAGE_CIPHER, false, [](Call &c) { return rsa_decrypt(c.ctx, c.number(3), c.stored(0), c.num(1), c.num(2)); }},
    {Fn::encrypt_aes_cbc,    "VN_ENCRYPT_AES_CBC",    {B, B, B, RB}, kQuick, false, [](Call &c) { return aes_cbc_encrypt(c.ctx, c.text(3), c.bytes(0), c.bytes(1), c.bytes(2)); }},
    {Fn::decrypt_aes_cbc,    "VN_DECRYPT_AES_CBC",    {B, B, RB},    kQuick, false, [](Call &c) { return aes_cbc_decrypt(c.text(2), c.bytes(0), c.bytes(1)); }},
    {Fn::encrypt_aes_ecb,    "VN_ENCRYPT_AES_ECB",    {B, B, RB},    kQuick, false, [](Call &c) { return aes_ecb_encrypt(c.text(2), c.bytes(0), c.bytes(1)); }},
    {Fn::decrypt_aes_ecb,    "VN_DECRYPT_AES_ECB",    {B, B, RB},    kQuick, false, [](Call &c) { return aes_ecb_decrypt(c.text(2), c.bytes(0), c.bytes(1)); }},
    {Fn::encrypt_aes_1block, "VN_ENCRYPT_AES_1BLOCK", {B, B, RB},    kQuick, false, [](Call &c) { return aes_block(c.text(2), c.bytes(0), c.bytes(1), true); }},
    {Fn::decrypt_aes_1block, "VN_DECRYPT_AES_1BLOCK", {B, B, RB},    kQuick, false, [](Call &c) { return aes_block(c.text(2), c.bytes(0), c.bytes(1), false); }},
    {Fn::hash_sha_256,       "VN_HASH_SHA_256",       {B, RB},       kQuick, false, [](Call &c) { return sha256_digest(c.text(1), c.bytes(0)); }},
    {Fn::vectors_aes,     "VN_CHECKTESTVECTORS_AES",     {}, kQuick, false, [](Call &c) { return check_aes_vectors(c.ctx); }},
    {Fn::vectors_sha_256, "VN_CHECKTESTVECTORS_SHA_256", {}, kQuick, false, [](Call &c) { return check_sha256_vectors(c.ctx); }},
};
// clang-format on

constexpr bool rows_well_formed() {
    for (size_t i = 0; i < std::size(kRows); ++i) {
        if (static_cast<size_t>(kRows[i].fn) != i) return false;
        int byte_results = 0;
        for (Param p : kRows[i].params) byte_results += p == BytesResult;
        if (byte_results > 1) return false;
    }
    return std::size(kRows) == static_cast<size_t>(Fn::count);
}
static_assert(rows_well_formed(), "one row per function, in the order of Fn, with at most one byte-string result");


// Looks up the registers and reads the operands, in the order of the parameters: first a
// missing count, then each register, then each operand's value (which refuses bytes beyond
// VN_MAX_BITS as a number). Prepares the results' targets.
VN_INLINE Status read_operands(const Row &row, Call &c) {
    VN_EACH_PARAM
    for (int i = 0; i < kMaxParams; ++i)
        if (row.params[i] == Count && c.param[i] == nullptr) return failure(VN_E_ARGUMENT);
    // One error variable for the whole loop: GCC's AddressSanitizer took a variable scoped to
    // each unrolled pass for one used after its scope.
    int32_t error = VN_E_NONE;
    VN_EACH_PARAM
    for (int i = 0; i < kMaxParams; ++i) {
        c.reg[i] = nullptr;
        if (!is_register(row.params[i])) continue;
        c.reg[i] = find_register(c.param[i], error);
        if (c.reg[i] == nullptr) return failure(error);
    }
    VN_EACH_PARAM
    for (int i = 0; i < kMaxParams; ++i) {
        Register *r = c.reg[i];
        switch (row.params[i]) {
        case Number: c.operand[i] = {nullptr, value(*r)}; break;
        case Bytes: c.operand[i] = {&bytes_of(*r), nullptr}; break;
        case AsStored:
            if (r->byte_form) c.operand[i] = {&bytes_of(*r), nullptr};
            else c.operand[i] = {nullptr, value(*r)};
            break;
        case NumberResult: {
            // A result whose register is also another parameter is computed apart, so that
            // no result overwrites an operand or an earlier result.
            bool shared = false;
            VN_EACH_PARAM
            for (int j = 0; j < kMaxParams; ++j) shared |= j != i && c.reg[j] == r;
            NumberOut &out = c.number(i);
            out.target = shared ? out.temporary() : number_target(*r);
            break;
        }
        default: break;
        }
    }
    return kOk;
}

// Writes the results the operation put, in the order of the parameters: where two results
// name one register, the later one stays.
VN_INLINE void write_results(const Row &row, Call &c) {
    VN_EACH_PARAM
    for (int i = 0; i < kMaxParams; ++i) {
        if (row.params[i] == NumberResult && c.number(i).put_done) {
            NumberOut &out = c.number(i);
            if (out.held != nullptr && (out.kept || out.target == out.held->v)) adopt_number(*c.reg[i], *out.held);
            else number_written(*c.reg[i]);
        } else if (row.params[i] == BytesResult && c.bytes_out.put_done) {
            set_bytes(*c.reg[i], std::move(c.bytes_out.value));
        }
    }
}

VN_INLINE Status run_in_context(const Row &row, Call &c) {
    if (row.stage == kQuick) return row.run(c);
    Work work(row.stage);
    c.ctx = work;
    return row.run(c);
}

// An unlocked row: its operands are copied under the lock, and the operation runs on the
// copies without it.
int32_t call_unlocked(const Row &row, Call &c) noexcept {
    Num copies[kMaxParams];
    Status s = guarded(Status{VN_FAIL, VN_E_NONE}, [&] {
        Status read = read_operands(row, c);
        if (!succeeded(read)) return read;
        VN_EACH_PARAM
    for (int i = 0; i < kMaxParams; ++i)
            if ((row.params[i] == Number || row.params[i] == AsStored) && c.operand[i].number != nullptr) {
                mpz_set(copies[i], c.operand[i].number);
                c.operand[i].number = copies[i];
            }
        return kOk;
    });
    if (succeeded(s)) {
        try {
            s = run_in_context(row, c);
        } catch (...) {
            s = failure(error_of_current_exception());
        }
    }
    if (s.error != VN_E_NONE) set_error(s.error);
    return s.result;
}

template <Fn F>
int32_t call(std::initializer_list<int32_t *> params) noexcept {
    constexpr const Row &row = kRows[static_cast<size_t>(F)];
    Call c(row.params);
    int i = 0;
    for (int32_t *p : params) c.param[i++] = p;
    VN_EACH_PARAM
    for (; i < kMaxParams; ++i) c.param[i] = nullptr;
    VN_EACH_PARAM
    for (i = 0; i < kMaxParams; ++i)
        if (row.params[i] == NumberResult) new (c.number_space[i]) NumberOut;
    if (row.unlocked) return call_unlocked(row, c);
    // A failure the guard catches (an exception) has set its error already.
    Status s = guarded(Status{VN_FAIL, VN_E_NONE}, [&] {
        Status read = read_operands(row, c);
        if (!succeeded(read)) return read;
        Status done = run_in_context(row, c);
        write_results(row, c);
        return done;
    });
    if (s.error != VN_E_NONE) set_error(s.error);
    return s.result;
}

}  // namespace

void BytesOut::release() { wipe(value); }

mpz_ptr NumberOut::temporary() {
    if (held == nullptr) held = new Num;
    return *held;
}

void NumberOut::release() {
    delete held;
    held = nullptr;
}

}  // namespace vn

using vn::call;
using vn::Fn;

extern "C" {

VN_API int32_t VN_ADD(int32_t *a, int32_t *b, int32_t *d) { return call<Fn::add>({a, b, d}); }
VN_API int32_t VN_SUB(int32_t *a, int32_t *b, int32_t *d) { return call<Fn::sub>({a, b, d}); }
VN_API int32_t VN_MUL(int32_t *a, int32_t *b, int32_t *d) { return call<Fn::mul>({a, b, d}); }
VN_API int32_t VN_MULBY2(int32_t *a, int32_t *d) { return call<Fn::mulby2>({a, d}); }
VN_API int32_t VN_DIVBY2(int32_t *a, int32_t *q, int32_t *r) { return call<Fn::divby2>({a, q, r}); }
VN_API int32_t VN_DIV(int32_t *a, int32_t *b, int32_t *q, int32_t *r) { return call<Fn::div>({a, b, q, r}); }
VN_API int32_t VN_MOD(int32_t *a, int32_t *m, int32_t *d) { return call<Fn::mod>({a, m, d}); }
VN_API int32_t VN_POW(int32_t *a, int32_t *e, int32_t *d) { return call<Fn::pow>({a, e, d}); }
VN_API int32_t VN_POWMOD(int32_t *a, int32_t *e, int32_t *m, int32_t *d) { return call<Fn::powmod>({a, e, m, d}); }
VN_API int32_t VN_GCD(int32_t *a, int32_t *b, int32_t *d) { return call<Fn::gcd>({a, b, d}); }
VN_API int32_t VN_MODINV(int32_t *a, int32_t *m, int32_t *d) { return call<Fn::modinv>({a, m, d}); }

VN_API int32_t VN_ISZERO(int32_t *a) { return call<Fn::iszero>({a}); }
VN_API int32_t VN_ISODD(int32_t *a) { return call<Fn::isodd>({a}); }
VN_API int32_t VN_ISEQUAL(int32_t *a, int32_t *b) { return call<Fn::isequal>({a, b}); }
VN_API int32_t VN_ISNOTEQUAL(int32_t *a, int32_t *b) { return call<Fn::isnotequal>({a, b}); }
VN_API int32_t VN_ISLESS(int32_t *a, int32_t *b) { return call<Fn::isless>({a, b}); }
VN_API int32_t VN_ISRELPRIME(int32_t *a, int32_t *b) { return call<Fn::isrelprime>({a, b}); }
VN_API int32_t VN_ISPRIME_DIV(int32_t *a) { return call<Fn::isprime_div>({a}); }
VN_API int32_t VN_ISPRIME_SLOW(int32_t *a) { return call<Fn::isprime_slow>({a}); }
VN_API int32_t VN_ISPRIME_F(int32_t *count, int32_t *a) { return call<Fn::isprime_f>({count, a}); }
VN_API int32_t VN_ISPRIME_RB(int32_t *count, int32_t *a) { return call<Fn::isprime_rb>({count, a}); }
VN_API int32_t VN_READPRIMES(int32_t *n) { return call<Fn::readprimes>({n}); }

VN_API int32_t VN_DEC2HUGE(int32_t *src, int32_t *dst) { return call<Fn::dec2huge>({src, dst}); }
VN_API int32_t VN_HUGE2DEC(int32_t *src, int32_t *dst) { return call<Fn::huge2dec>({src, dst}); }
VN_API int32_t VN_HUGE2HEX(int32_t *src, int32_t *dst) { return call<Fn::huge2hex>({src, dst}); }

VN_API int32_t VN_GENERATERANDOM(int32_t *bits, int32_t *d) { return call<Fn::generaterandom>({bits, d}); }
VN_API int32_t VN_GENERATEPRIME(int32_t *bits, int32_t *rounds, int32_t *d) {
    return call<Fn::generateprime>({bits, rounds, d});
}
VN_API int32_t VN_GENERATERSAKEYS(int32_t *bits, int32_t *k, int32_t *e, int32_t *dk, int32_t *n) {
    return call<Fn::generatersakeys>({bits, k, e, dk, n});
}
VN_API int32_t VN_INITBBS(int32_t *bits, int32_t *k, int32_t *n, int32_t *s) {
    return call<Fn::initbbs>({bits, k, n, s});
}
VN_API int32_t VN_GENERATEBBSRANDOMBITS(int32_t *len, int32_t *multi, int32_t *s, int32_t *n, int32_t *out,
                                        int32_t *s2) {
    return call<Fn::bbsbits>({len, multi, s, n, out, s2});
}
VN_API int32_t VN_GENERATERSARANDOMBITS(int32_t *len, int32_t *s, int32_t *e, int32_t *n, int32_t *out,
                                        int32_t *s2) {
    return call<Fn::rsabits>({len, s, e, n, out, s2});
}

VN_API int32_t VN_ENCRYPT_RSA(int32_t *m, int32_t *e, int32_t *n, int32_t *c) { return call<Fn::encrypt_rsa>({m, e, n, c}); }
VN_API int32_t VN_DECRYPT_RSA(int32_t *c, int32_t *dk, int32_t *n, int32_t *m) { return call<Fn::decrypt_rsa>({c, dk, n, m}); }
VN_API int32_t VN_ENCRYPT_AES_CBC(int32_t *p, int32_t *key, int32_t *iv, int32_t *c) {
    return call<Fn::encrypt_aes_cbc>({p, key, iv, c});
}
VN_API int32_t VN_DECRYPT_AES_CBC(int32_t *c, int32_t *key, int32_t *p) { return call<Fn::decrypt_aes_cbc>({c, key, p}); }
VN_API int32_t VN_ENCRYPT_AES_ECB(int32_t *p, int32_t *key, int32_t *c) { return call<Fn::encrypt_aes_ecb>({p, key, c}); }
VN_API int32_t VN_DECRYPT_AES_ECB(int32_t *c, int32_t *key, int32_t *p) { return call<Fn::decrypt_aes_ecb>({c, key, p}); }
VN_API int32_t VN_ENCRYPT_AES_1BLOCK(int32_t *p, int32_t *key, int32_t *c) { return call<Fn::encrypt_aes_1block>({p, key, c}); }
VN_API int32_t VN_DECRYPT_AES_1BLOCK(int32_t *c, int32_t *key, int32_t *p) { return call<Fn::decrypt_aes_1block>({c, key, p}); }
VN_API int32_t VN_HASH_SHA_256(int32_t *src, int32_t *d) { return call<Fn::hash_sha_256>({src, d}); }
VN_API int32_t VN_CHECKTESTVECTORS_AES(void) { return call<Fn::vectors_aes>({}); }
VN_API int32_t VN_CHECKTESTVECTORS_SHA_256(void) { return call<Fn::vectors_sha_256>({}); }

}  // extern "C"
