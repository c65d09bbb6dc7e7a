// The parts that the library and its helper program (vorn-prover) exchange for a whole
// computation: an 8-byte length in host order, then that many bytes; a number as its limbs,
// least significant first. Both sides include this one header, so they cannot drift apart.
#pragma once

#include <gmp.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace vn::job {

inline void put_length(std::string &out, uint64_t len) {
    char raw[sizeof len];
    std::memcpy(raw, &len, sizeof len);
    out.append(raw, sizeof len);
}

// The bytes x takes as a part, its length included.
inline size_t number_size(mpz_srcptr x) { return sizeof(uint64_t) + mpz_size(x) * sizeof(mp_limb_t); }

inline void put_number(std::string &out, mpz_srcptr x) {
    size_t len = mpz_size(x) * sizeof(mp_limb_t);
    put_length(out, len);
    size_t at = out.size();
    out.resize(at + len);
    if (len) mpz_export(out.data() + at, nullptr, -1, sizeof(mp_limb_t), 0, 0, x);
}

// The part of in that starts at pos: its bytes are in[at, at + len), and pos moves past it.
// false when in ends first.
inline bool take_part(const std::string &in, size_t &pos, size_t &at, size_t &len) {
    uint64_t n = 0;
    if (in.size() < pos || in.size() - pos < sizeof n) return false;
    std::memcpy(&n, in.data() + pos, sizeof n);
    at = pos + sizeof n;
    if (n > in.size() - at) return false;
    len = static_cast<size_t>(n);
    pos = at + len;
    return true;
}

// x from a part's bytes; false when they are not whole limbs.
inline bool number_from_part(mpz_ptr x, const char *data, size_t len) {
    if (len % sizeof(mp_limb_t) != 0) return false;
    mpz_import(x, len / sizeof(mp_limb_t), -1, sizeof(mp_limb_t), 0, 0, data);
    return true;
}

}  // namespace vn::job
