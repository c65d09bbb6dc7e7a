// GMP helpers and seeds for the crypto tests' independent reference computations.
#pragma once

#include <gmp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <vorn.hpp>

#include "seed.h"

namespace crypto_test {

// An mpz with a destructor.
struct Z {
    mpz_t v;
    Z() { mpz_init(v); }
    explicit Z(unsigned long x) {
        mpz_init(v);
        mpz_set_ui(v, x);
    }
    ~Z() { mpz_clear(v); }
    Z(const Z &o) {
        mpz_init(v);
        mpz_set(v, o.v);
    }
    Z &operator=(const Z &o) {
        mpz_set(v, o.v);
        return *this;
    }
    operator mpz_ptr() { return v; }
    operator mpz_srcptr() const { return v; }
};

inline size_t bits(mpz_srcptr x) { return mpz_sgn(x) == 0 ? 0 : mpz_sizeinbase(x, 2); }

// A register's bytes read as a number, least significant byte first.
inline Z number_of(const std::string &bytes) {
    Z z;
    mpz_import(z, bytes.size(), -1, 1, 0, 0, bytes.data());
    return z;
}
inline Z reg_number(vorn::Reg r) { return number_of(vorn::getreg(r)); }

// The number's minimal bytes, least significant first (as the library's number form).
inline std::string bytes_of(mpz_srcptr x) {
    std::string out((bits(x) + 7) / 8, '\0');
    if (!out.empty()) mpz_export(out.data(), nullptr, -1, 1, 0, 0, x);
    return out;
}

// Stores x into a register in byte form (minimal bytes, i.e. the same value).
inline void put_number(mpz_srcptr x, vorn::Reg r) { vorn::putreg(bytes_of(x), r); }

// A random number below 2^b.
inline Z random_below_pow2(std::mt19937_64 &rng, size_t b) {
    std::string bytes((b + 7) / 8, '\0');
    for (auto &c : bytes) c = static_cast<char>(rng());
    if (b % 8) bytes.back() = static_cast<char>(bytes.back() & ((1 << (b % 8)) - 1));
    return number_of(bytes);
}

// Hex text to bytes.
inline std::string unhex(const std::string &h) {
    std::string out;
    for (size_t i = 0; i + 1 < h.size(); i += 2) out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

// The vector lines of a known-answer file in libvorn/vectors/, each split into its words
// (blank lines and comments left out).
inline std::vector<std::vector<std::string>> vector_lines(const char *file) {
    std::ifstream in(std::string(VORN_VECTORS) + "/" + file);
    std::vector<std::vector<std::string>> out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (!w.empty() && w[0][0] != '#') out.push_back(w);
    }
    return out;
}

// Lower-case hexadecimal of bytes, first byte first.
inline std::string hex(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace crypto_test
