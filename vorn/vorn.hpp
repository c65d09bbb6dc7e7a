// The programs' binding to the VORN library: each VN_ function with plain integer arguments
// (passed on by reference, as the library wants them) and std::string for texts. Returned
// strings are copied and released through the library at once.
#pragma once

#include <vorn.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vorn {

using Reg = int32_t;

inline int32_t putreg(std::string_view bytes, Reg r) {
    VN_STRING s{const_cast<char *>(bytes.data()), static_cast<int32_t>(bytes.size())};
    return VN_PUTREG(&s, &r);
}

inline std::string getreg(Reg r) {
    VN_STRING s = VN_GETREG(&r);
    std::string out(s.data ? s.data : "", static_cast<size_t>(s.len));
    VN_FREESTRING(&s);
    return out;
}

// The 4-byte little-endian encoding of a 32-bit integer, as constants are loaded.
inline std::string le32(int32_t v) {
    auto u = static_cast<uint32_t>(v);
    return std::string{static_cast<char>(u & 0xff), static_cast<char>((u >> 8) & 0xff),
                       static_cast<char>((u >> 16) & 0xff), static_cast<char>((u >> 24) & 0xff)};
}

inline int32_t dec2huge(Reg s, Reg d) { return VN_DEC2HUGE(&s, &d); }
inline int32_t huge2dec(Reg s, Reg d) { return VN_HUGE2DEC(&s, &d); }
inline int32_t huge2hex(Reg s, Reg d) { return VN_HUGE2HEX(&s, &d); }
inline int32_t copyreg(Reg s, Reg d) { return VN_COPYREG(&s, &d); }
inline int32_t swapreg(Reg a, Reg b) { return VN_SWAPREG(&a, &b); }
inline int32_t readprimes(int32_t n) { return VN_READPRIMES(&n); }
inline int32_t version() { return VN_VERSION(); }
inline int32_t global_error() { return VN_GETGLOBALERROR(); }

// Stopping long work from another thread and reading its progress.
inline int32_t work_token() { return VN_WORKTOKEN(); }
inline int32_t stop_work(int32_t token) { return VN_STOPWORK(&token); }
inline int32_t work_progress(int32_t token, int32_t &stage, int32_t &permille) {
    return VN_WORKPROGRESS(&token, &stage, &permille);
}

inline int32_t add(Reg a, Reg b, Reg d) { return VN_ADD(&a, &b, &d); }
inline int32_t sub(Reg a, Reg b, Reg d) { return VN_SUB(&a, &b, &d); }
inline int32_t mul(Reg a, Reg b, Reg d) { return VN_MUL(&a, &b, &d); }
inline int32_t mulby2(Reg a, Reg d) { return VN_MULBY2(&a, &d); }
inline int32_t divby2(Reg a, Reg q, Reg r) { return VN_DIVBY2(&a, &q, &r); }
inline int32_t div(Reg a, Reg b, Reg q, Reg r) { return VN_DIV(&a, &b, &q, &r); }
inline int32_t mod(Reg a, Reg m, Reg d) { return VN_MOD(&a, &m, &d); }
inline int32_t pow(Reg a, Reg e, Reg d) { return VN_POW(&a, &e, &d); }
inline int32_t powmod(Reg a, Reg e, Reg m, Reg d) { return VN_POWMOD(&a, &e, &m, &d); }
inline int32_t gcd(Reg a, Reg b, Reg d) { return VN_GCD(&a, &b, &d); }
inline int32_t modinv(Reg a, Reg m, Reg d) { return VN_MODINV(&a, &m, &d); }

inline int32_t is_zero(Reg a) { return VN_ISZERO(&a); }
inline int32_t is_odd(Reg a) { return VN_ISODD(&a); }
inline int32_t is_equal(Reg a, Reg b) { return VN_ISEQUAL(&a, &b); }
inline int32_t is_not_equal(Reg a, Reg b) { return VN_ISNOTEQUAL(&a, &b); }
inline int32_t is_less(Reg a, Reg b) { return VN_ISLESS(&a, &b); }
inline int32_t is_relprime(Reg a, Reg b) { return VN_ISRELPRIME(&a, &b); }
inline int32_t is_prime_div(Reg a) { return VN_ISPRIME_DIV(&a); }
inline int32_t is_prime_slow(Reg a) { return VN_ISPRIME_SLOW(&a); }
inline int32_t is_prime_fermat(int32_t count, Reg a) { return VN_ISPRIME_F(&count, &a); }
inline int32_t is_prime_rabin_miller(int32_t count, Reg a) { return VN_ISPRIME_RB(&count, &a); }

inline int32_t generate_random(int32_t bits, Reg d) { return VN_GENERATERANDOM(&bits, &d); }
inline int32_t generate_prime(int32_t bits, int32_t rounds, Reg d) {
    return VN_GENERATEPRIME(&bits, &rounds, &d);
}
inline int32_t generate_rsa_keys(int32_t bits, int32_t k, Reg e, Reg dk, Reg n) {
    return VN_GENERATERSAKEYS(&bits, &k, &e, &dk, &n);
}
inline int32_t init_bbs(int32_t bits, int32_t k, Reg n, Reg s) { return VN_INITBBS(&bits, &k, &n, &s); }
// The library reads len and never writes it (vorn.h). It is taken by reference so that a
// caller's length variable is the very one each call receives.
inline int32_t bbs_bits(int32_t &len, int32_t multi, Reg s, Reg n, Reg out, Reg s2) {
    return VN_GENERATEBBSRANDOMBITS(&len, &multi, &s, &n, &out, &s2);
}
inline int32_t rsa_bits(int32_t &len, Reg s, Reg e, Reg n, Reg out, Reg s2) {
    return VN_GENERATERSARANDOMBITS(&len, &s, &e, &n, &out, &s2);
}

inline int32_t encrypt_rsa(Reg m, Reg e, Reg n, Reg c) { return VN_ENCRYPT_RSA(&m, &e, &n, &c); }
inline int32_t decrypt_rsa(Reg c, Reg dk, Reg n, Reg m) { return VN_DECRYPT_RSA(&c, &dk, &n, &m); }
inline int32_t encrypt_aes_cbc(Reg p, Reg k, Reg iv, Reg c) { return VN_ENCRYPT_AES_CBC(&p, &k, &iv, &c); }
inline int32_t decrypt_aes_cbc(Reg c, Reg k, Reg p) { return VN_DECRYPT_AES_CBC(&c, &k, &p); }
inline int32_t encrypt_aes_ecb(Reg p, Reg k, Reg c) { return VN_ENCRYPT_AES_ECB(&p, &k, &c); }
inline int32_t decrypt_aes_ecb(Reg c, Reg k, Reg p) { return VN_DECRYPT_AES_ECB(&c, &k, &p); }
inline int32_t encrypt_aes_1block(Reg p, Reg k, Reg c) { return VN_ENCRYPT_AES_1BLOCK(&p, &k, &c); }
inline int32_t decrypt_aes_1block(Reg c, Reg k, Reg p) { return VN_DECRYPT_AES_1BLOCK(&c, &k, &p); }
inline int32_t hash_sha256(Reg s, Reg d) { return VN_HASH_SHA_256(&s, &d); }
inline int32_t check_aes_vectors() { return VN_CHECKTESTVECTORS_AES(); }
inline int32_t check_sha256_vectors() { return VN_CHECKTESTVECTORS_SHA_256(); }

}  // namespace vorn
