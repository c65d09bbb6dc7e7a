// What the host programs share: the library loaded with dlopen from the file named on the
// command line (so that any build of it can be tried), its functions looked up by name, and
// a few numbers to prove. Each host program checks one situation of a program that uses the
// library as a guest; it prints what went wrong and exits with 1, and a hang is ended by
// ctest's timeout.
#pragma once

#include <dirent.h>
#include <dlfcn.h>
#include <gmp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vorn.h"

namespace host {

[[noreturn]] inline void fail(const char *what) {
    std::fflush(stdout);
    std::fprintf(stderr, "FAILED: %s\n", what);
    std::fflush(stderr);
    std::_Exit(1);
}

inline void check(bool ok, const char *what) {
    if (!ok) fail(what);
}

struct Library {
    void *handle = nullptr;
    int32_t (*putreg)(const VN_STRING *, int32_t *) = nullptr;
    int32_t (*is_prime_slow)(int32_t *) = nullptr;
    int32_t (*global_error)() = nullptr;
};

template <typename F>
void symbol(void *handle, F &f, const char *name) {
    f = reinterpret_cast<F>(dlsym(handle, name));
    if (!f) fail(name);
}

inline Library load(const char *file) {
    Library lib;
    lib.handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (!lib.handle) fail(dlerror());
    symbol(lib.handle, lib.putreg, "VN_PUTREG");
    symbol(lib.handle, lib.is_prime_slow, "VN_ISPRIME_SLOW");
    symbol(lib.handle, lib.global_error, "VN_GETGLOBALERROR");
    return lib;
}

// Stores x into register r, least significant byte first.
inline void put(const Library &lib, mpz_srcptr x, int32_t r) {
    std::string bytes((mpz_sizeinbase(x, 2) + 7) / 8, '\0');
    mpz_export(bytes.data(), nullptr, -1, 1, 0, 0, x);
    VN_STRING s{bytes.data(), static_cast<int32_t>(bytes.size())};
    check(lib.putreg(&s, &r) == VN_OK, "VN_PUTREG");
}

// The first prime above 10^(digits - 1) + offset (BPSW; the library's proof confirms it).
inline void prime_of(mpz_ptr p, unsigned long digits, unsigned long offset) {
    mpz_ui_pow_ui(p, 10, digits - 1);
    mpz_add_ui(p, p, offset);
    mpz_nextprime(p, p);
}

// Proves a prime and a product of two primes of about `digits` digits each in registers
// 1 and 2, and checks both verdicts.
inline void prove_both(const Library &lib, unsigned long digits, unsigned long offset) {
    mpz_t p, q;
    mpz_inits(p, q, nullptr);
    prime_of(p, digits, offset);
    prime_of(q, digits / 2, offset);
    mpz_mul(q, q, p);
    put(lib, p, 1);
    put(lib, q, 2);
    int32_t r1 = 1, r2 = 2;
    check(lib.is_prime_slow(&r1) == 1, "a prime was not proved prime");
    check(lib.is_prime_slow(&r2) == 0, "a product of two primes was not found composite");
    mpz_clears(p, q, nullptr);
}

// Threads of this process.
inline int thread_count() {
    DIR *d = opendir("/proc/self/task");
    if (!d) fail("/proc/self/task");
    int n = 0;
    while (dirent *e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;
}

// A field of /proc/self/status in kB (VmSize, VmRSS).
inline long status_kb(const char *field) {
    FILE *f = std::fopen("/proc/self/status", "r");
    if (!f) fail("/proc/self/status");
    char line[256];
    long kb = -1;
    size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') kb = std::atol(line + n + 1);
    std::fclose(f);
    return kb;
}

}  // namespace host
