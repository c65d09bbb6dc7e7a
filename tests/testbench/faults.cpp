// A broken VORN library for the test bench's tests, put in front of libvorn.so with
// LD_PRELOAD. Every function the test bench calls is forwarded to the real library
// (dlsym(RTLD_NEXT)); faults named in VORN_FAULTS (comma-separated) then spoil one result,
// most of them only for the register numbers of one test, so that each test's failure line
// can be provoked on its own.
//
// It also records the program's sleeps: nanosleep is interposed too, and when the sleeps
// asked for since the last library call add up to at least VORN_GAP_MIN_MS, the sum is
// written to the file VORN_GAP_LOG as "<ms> <next function>". The battery's pauses show up
// there, which the dialogs layer cannot tell us; what is recorded is the duration asked for,
// not time measured, so a busy machine cannot make a pause of one.
//
// VORN_FAKE_MIDNIGHT=s shifts the wall clock (CLOCK_REALTIME; run with TZ=UTC) so that the
// process starts s seconds before midnight; VORN_FIXED_TIME=ms stops it at that time of day.
#include <vorn.h>

#include <dlfcn.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace {

template <typename F>
F real(F, const char *name) {
    void *symbol = dlsym(RTLD_NEXT, name);
    if (!symbol) {
        std::fprintf(stderr, "faults: %s not found in the real library\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(symbol);
}
#define REAL(fn) static const auto real_##fn = real(&fn, #fn)

bool fault(const char *name) {
    static const std::set<std::string> faults = [] {
        std::set<std::string> names;
        const char *text = std::getenv("VORN_FAULTS");
        std::string list = text ? text : "";
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(',', start);
            if (end == std::string::npos) end = list.size();
            if (end > start) names.insert(list.substr(start, end - start));
            start = end + 1;
        }
        return names;
    }();
    return faults.count(name) != 0;
}

double slept_ms = 0;  // sleeps asked for since the last library call
int depth = 0;        // calls the library makes through these wrappers are part of the outer call

// Notes the sleeps before a call.
struct Call {
    explicit Call(const char *name) {
        if (depth++ > 0) return;
        static const double min_ms = [] {
            const char *text = std::getenv("VORN_GAP_MIN_MS");
            return text ? std::atof(text) : 50.0;
        }();
        static FILE *log = [] {
            const char *path = std::getenv("VORN_GAP_LOG");
            return path ? std::fopen(path, "w") : nullptr;
        }();
        if (log && slept_ms >= min_ms) {
            std::fprintf(log, "%.0f %s\n", slept_ms, name);
            std::fflush(log);
        }
        slept_ms = 0;
    }
    ~Call() { --depth; }
    Call(const Call &) = delete;
    Call &operator=(const Call &) = delete;
};

// Spoiling a register through the real library: +1, a flipped remainder, an extra byte.
constexpr int32_t kScratch = 250;
void put_number(int32_t value, int32_t reg) {
    REAL(VN_PUTREG);
    char bytes[4];
    std::memcpy(bytes, &value, 4);
    VN_STRING s{bytes, 4};
    real_VN_PUTREG(&s, &reg);
}
void bump(int32_t reg) {
    REAL(VN_ADD);
    put_number(1, kScratch);
    int32_t scratch = kScratch;
    real_VN_ADD(&reg, &scratch, &reg);
}
void flip_bit(int32_t reg) {
    REAL(VN_ISZERO);
    put_number(real_VN_ISZERO(&reg) ? 1 : 0, reg);
}
void resize_bytes(int32_t reg, int32_t length) {
    REAL(VN_GETREG);
    REAL(VN_PUTREG);
    REAL(VN_FREESTRING);
    VN_STRING old = real_VN_GETREG(&reg);
    std::string bytes(old.data ? old.data : "", static_cast<size_t>(old.len));
    real_VN_FREESTRING(&old);
    bytes.resize(static_cast<size_t>(length), 'x');
    VN_STRING s{bytes.data(), length};
    real_VN_PUTREG(&s, &reg);
}
void append_byte(int32_t reg) {
    REAL(VN_GETREG);
    REAL(VN_FREESTRING);
    VN_STRING old = real_VN_GETREG(&reg);
    int32_t length = old.len + 1;
    real_VN_FREESTRING(&old);
    resize_bytes(reg, length);
}

// Chunk faults: "chunk999" gives 999 bytes against a length of 1000; "chunklen999" makes the
// library write 999 back into the length and deliver that many; "chunk_fail" fails.
// "link_swap" acts on the file system instead: before the second chunk it moves the run's
// BBS.txt or RSA.txt to moved.txt and puts a link to target.txt in its place, as someone
// sharing the directory could.
template <typename Generate>
int32_t spoiled_chunk(int32_t *len, int32_t *out, Generate generate) {
    if (fault("chunk_fail")) return VN_FAIL;
    static int calls = 0;
    if (fault("link_swap") && ++calls == 2) {
        for (const char *name : {"BBS.txt", "RSA.txt"}) {
            if (std::rename(name, "moved.txt") == 0) {
                if (symlink("target.txt", name) != 0) std::perror("faults: symlink");
                break;
            }
        }
    }
    if (fault("chunklen999")) *len = 999;
    int32_t r = generate();
    if (fault("chunk999")) resize_bytes(*out, 999);
    return r;
}

}  // namespace

extern "C" {

// ---- Forwarded unchanged ----------------------------------------------------------------
#define PASS1(fn, T1)                   \
    int32_t fn(T1 *a) {                 \
        REAL(fn);                       \
        Call call(#fn);                 \
        return real_##fn(a);            \
    }
#define PASS2(fn)                        \
    int32_t fn(int32_t *a, int32_t *b) { \
        REAL(fn);                        \
        Call call(#fn);                  \
        return real_##fn(a, b);          \
    }
#define PASS3(fn)                                    \
    int32_t fn(int32_t *a, int32_t *b, int32_t *c) { \
        REAL(fn);                                    \
        Call call(#fn);                              \
        return real_##fn(a, b, c);                   \
    }

PASS2(VN_HUGE2DEC)
PASS2(VN_HUGE2HEX)
PASS2(VN_COPYREG)
PASS2(VN_SWAPREG)
PASS2(VN_MULBY2)
PASS3(VN_MOD)
PASS3(VN_GENERATEPRIME)
PASS3(VN_ENCRYPT_AES_ECB)
PASS3(VN_ENCRYPT_AES_1BLOCK)
PASS1(VN_READPRIMES, int32_t)

int32_t VN_ENCRYPT_AES_CBC(int32_t *p, int32_t *k, int32_t *iv, int32_t *c) {
    REAL(VN_ENCRYPT_AES_CBC);
    Call call("VN_ENCRYPT_AES_CBC");
    return real_VN_ENCRYPT_AES_CBC(p, k, iv, c);
}

int32_t VN_PUTREG(const VN_STRING *value, int32_t *reg) {
    REAL(VN_PUTREG);
    Call call("VN_PUTREG");
    return real_VN_PUTREG(value, reg);
}

VN_STRING VN_GETREG(int32_t *reg) {
    REAL(VN_GETREG);
    Call call("VN_GETREG");
    return real_VN_GETREG(reg);
}

void VN_FREESTRING(VN_STRING *s) {
    REAL(VN_FREESTRING);
    Call call("VN_FREESTRING");
    real_VN_FREESTRING(s);
}

int32_t VN_VERSION(void) {
    REAL(VN_VERSION);
    Call call("VN_VERSION");
    int32_t v = real_VN_VERSION();
    if (fault("version5")) return 5;
    if (fault("version1234")) return 1234;
    return v;
}

int32_t VN_GETGLOBALERROR(void) {
    REAL(VN_GETGLOBALERROR);
    Call call("VN_GETGLOBALERROR");
    int32_t e = real_VN_GETGLOBALERROR();
    return fault("globalerror") ? 7 : e;
}

// ---- Arithmetic ---------------------------------------------------------------------------

int32_t VN_ADD(int32_t *a, int32_t *b, int32_t *d) {
    REAL(VN_ADD);
    Call call("VN_ADD");
    bool same = *a == *b;
    int32_t r = real_VN_ADD(a, b, d);
    if (same && fault("add_same")) bump(*d);
    return r;
}

int32_t VN_SUB(int32_t *a, int32_t *b, int32_t *d) {
    REAL(VN_SUB);
    Call call("VN_SUB");
    int32_t r = real_VN_SUB(a, b, d);
    if (fault("sub")) bump(*d);
    return r;
}

int32_t VN_MUL(int32_t *a, int32_t *b, int32_t *d) {
    REAL(VN_MUL);
    Call call("VN_MUL");
    bool by_two = *b == 9;
    int32_t r = real_VN_MUL(a, b, d);
    if (by_two && fault("mul_two")) bump(*d);
    return r;
}

int32_t VN_DIV(int32_t *a, int32_t *b, int32_t *q, int32_t *rem) {
    REAL(VN_DIV);
    Call call("VN_DIV");
    bool by_r2 = *b == 2;
    int32_t r = real_VN_DIV(a, b, q, rem);
    if (by_r2 && fault("div_rem")) bump(*rem);
    return r;
}

int32_t VN_DIVBY2(int32_t *a, int32_t *q, int32_t *rem) {
    REAL(VN_DIVBY2);
    Call call("VN_DIVBY2");
    int32_t r = real_VN_DIVBY2(a, q, rem);
    std::string at = std::to_string(*q);  // 5 in (2)b, 3 in (4)
    if (fault(("divby2_q" + at).c_str())) bump(*q);
    if (fault(("divby2_r" + at).c_str())) flip_bit(*rem);
    return r;
}

int32_t VN_DEC2HUGE(int32_t *s, int32_t *d) {
    REAL(VN_DEC2HUGE);
    Call call("VN_DEC2HUGE");
    int32_t r = real_VN_DEC2HUGE(s, d);
    if (fault("dec2huge")) bump(*d);
    return r;
}

int32_t VN_POW(int32_t *a, int32_t *e, int32_t *d) {
    REAL(VN_POW);
    Call call("VN_POW");
    int32_t r = real_VN_POW(a, e, d);
    if (*d == 3 && fault("pow")) bump(*d);
    return r;
}

int32_t VN_POWMOD(int32_t *a, int32_t *e, int32_t *m, int32_t *d) {
    REAL(VN_POWMOD);
    Call call("VN_POWMOD");
    int32_t r = real_VN_POWMOD(a, e, m, d);
    if (fault("powmod")) bump(*d);
    return r;
}

int32_t VN_GCD(int32_t *a, int32_t *b, int32_t *d) {
    REAL(VN_GCD);
    Call call("VN_GCD");
    int32_t r = real_VN_GCD(a, b, d);
    if (fault(("gcd_" + std::to_string(*d)).c_str())) bump(*d);
    return r;
}

int32_t VN_MODINV(int32_t *a, int32_t *m, int32_t *d) {
    REAL(VN_MODINV);
    Call call("VN_MODINV");
    if (fault("modinv_status")) return 1;
    int32_t r = real_VN_MODINV(a, m, d);
    if (fault("modinv")) bump(*d);
    return r;
}

// ---- Tests --------------------------------------------------------------------------------
// "truth_fail" makes every truth function fail with -1, as a failed call may return.

int32_t VN_ISLESS(int32_t *a, int32_t *b) {
    REAL(VN_ISLESS);
    Call call("VN_ISLESS");
    if (fault("truth_fail")) return -1;
    int32_t r = real_VN_ISLESS(a, b);
    std::string at = std::to_string(*a) + std::to_string(*b);
    if (fault(("isless_" + at + "_false").c_str())) return 0;
    if (fault(("isless_" + at + "_true").c_str())) return 1;
    return r;
}

#define SPOILED_TEST1(fn, name)                                                     \
    int32_t fn(int32_t *a) {                                                        \
        REAL(fn);                                                                   \
        Call call(#fn);                                                             \
        if (fault("truth_fail")) return -1;                                         \
        int32_t r = real_##fn(a);                                                   \
        std::string at = std::string(name) + "_" + std::to_string(*a);              \
        if (fault((at + "_false").c_str()) || fault(name "_false")) return 0;       \
        if (fault((at + "_true").c_str()) || fault(name "_true")) return 1;         \
        return r;                                                                   \
    }
#define SPOILED_TEST2(fn, name)                                                           \
    int32_t fn(int32_t *a, int32_t *b) {                                                  \
        REAL(fn);                                                                         \
        Call call(#fn);                                                                   \
        if (fault("truth_fail")) return -1;                                               \
        int32_t r = real_##fn(a, b);                                                      \
        std::string at = std::string(name) + "_" + std::to_string(*a) + std::to_string(*b); \
        if (fault((at + "_false").c_str()) || fault(name "_false")) return 0;             \
        if (fault((at + "_true").c_str()) || fault(name "_true")) return 1;               \
        return r;                                                                         \
    }

SPOILED_TEST1(VN_ISZERO, "iszero")
SPOILED_TEST1(VN_ISODD, "isodd")
SPOILED_TEST1(VN_ISPRIME_DIV, "isprime_div")
SPOILED_TEST1(VN_ISPRIME_SLOW, "isprime_slow")
SPOILED_TEST2(VN_ISEQUAL, "isequal")
SPOILED_TEST2(VN_ISRELPRIME, "isrelprime")
SPOILED_TEST2(VN_ISNOTEQUAL, "isnotequal")

int32_t VN_ISPRIME_F(int32_t *count, int32_t *a) {
    REAL(VN_ISPRIME_F);
    Call call("VN_ISPRIME_F");
    if (fault("truth_fail")) return -1;
    int32_t r = real_VN_ISPRIME_F(count, a);
    if (fault("isprime_f_false")) return 0;
    if (fault("isprime_f_true")) return 1;
    return r;
}

int32_t VN_ISPRIME_RB(int32_t *count, int32_t *a) {
    REAL(VN_ISPRIME_RB);
    Call call("VN_ISPRIME_RB");
    if (fault("truth_fail")) return -1;
    int32_t r = real_VN_ISPRIME_RB(count, a);
    if (fault("isprime_rb_false")) return 0;
    if (fault("isprime_rb_true")) return 1;
    return r;
}

// ---- Generators ---------------------------------------------------------------------------

int32_t VN_GENERATERANDOM(int32_t *bits, int32_t *d) {
    REAL(VN_GENERATERANDOM);
    Call call("VN_GENERATERANDOM");
    if (fault("random_fail")) return VN_FAIL;
    return real_VN_GENERATERANDOM(bits, d);
}

int32_t VN_GENERATERSAKEYS(int32_t *bits, int32_t *k, int32_t *e, int32_t *dk, int32_t *n) {
    REAL(VN_GENERATERSAKEYS);
    Call call("VN_GENERATERSAKEYS");
    return real_VN_GENERATERSAKEYS(bits, k, e, dk, n);
}

int32_t VN_INITBBS(int32_t *bits, int32_t *k, int32_t *n, int32_t *s) {
    REAL(VN_INITBBS);
    Call call("VN_INITBBS");
    return real_VN_INITBBS(bits, k, n, s);
}

int32_t VN_GENERATEBBSRANDOMBITS(int32_t *len, int32_t *multi, int32_t *s, int32_t *n,
                                 int32_t *out, int32_t *s2) {
    REAL(VN_GENERATEBBSRANDOMBITS);
    Call call("VN_GENERATEBBSRANDOMBITS");
    // The multi-bit flag as passed, for the tests of the yes/no answer.
    if (const char *path = std::getenv("VORN_MULTI_LOG")) {
        if (FILE *f = std::fopen(path, "a")) {
            std::fprintf(f, "%d\n", *multi);
            std::fclose(f);
        }
    }
    return spoiled_chunk(len, out, [&] { return real_VN_GENERATEBBSRANDOMBITS(len, multi, s, n, out, s2); });
}

int32_t VN_GENERATERSARANDOMBITS(int32_t *len, int32_t *s, int32_t *e, int32_t *n, int32_t *out,
                                 int32_t *s2) {
    REAL(VN_GENERATERSARANDOMBITS);
    Call call("VN_GENERATERSARANDOMBITS");
    return spoiled_chunk(len, out, [&] { return real_VN_GENERATERSARANDOMBITS(len, s, e, n, out, s2); });
}

// ---- Ciphers ------------------------------------------------------------------------------

int32_t VN_ENCRYPT_RSA(int32_t *m, int32_t *e, int32_t *n, int32_t *c) {
    REAL(VN_ENCRYPT_RSA);
    Call call("VN_ENCRYPT_RSA");
    int32_t r = real_VN_ENCRYPT_RSA(m, e, n, c);
    if (fault("rsa_enc_status1")) return 1;
    if (fault("rsa_enc_status2")) return 2;
    return r;
}

int32_t VN_DECRYPT_RSA(int32_t *c, int32_t *dk, int32_t *n, int32_t *m) {
    REAL(VN_DECRYPT_RSA);
    Call call("VN_DECRYPT_RSA");
    int32_t r = real_VN_DECRYPT_RSA(c, dk, n, m);
    if (fault("rsa_dec_wrong")) bump(*m);
    if (fault("rsa_dec_status1")) return 1;
    if (fault("rsa_dec_status2")) return 2;
    return r;
}

#define SPOILED_DECRYPT(fn, name)                         \
    int32_t fn(int32_t *c, int32_t *k, int32_t *p) {      \
        REAL(fn);                                         \
        Call call(#fn);                                   \
        int32_t r = real_##fn(c, k, p);                   \
        if (fault(name)) append_byte(*p);                 \
        return r;                                         \
    }
SPOILED_DECRYPT(VN_DECRYPT_AES_CBC, "cbc_dec")
SPOILED_DECRYPT(VN_DECRYPT_AES_ECB, "ecb_dec")
SPOILED_DECRYPT(VN_DECRYPT_AES_1BLOCK, "block_dec")

int32_t VN_CHECKTESTVECTORS_AES(void) {
    REAL(VN_CHECKTESTVECTORS_AES);
    Call call("VN_CHECKTESTVECTORS_AES");
    int32_t r = real_VN_CHECKTESTVECTORS_AES();
    return fault("aes_kat") ? 3 : r;
}

int32_t VN_CHECKTESTVECTORS_SHA_256(void) {
    REAL(VN_CHECKTESTVECTORS_SHA_256);
    Call call("VN_CHECKTESTVECTORS_SHA_256");
    int32_t r = real_VN_CHECKTESTVECTORS_SHA_256();
    return fault("sha_kat") ? -2 : r;
}

// ---- Sleeps ----------------------------------------------------------------------------------

// A pause sleeps in slices until its deadline, so on a loaded machine its slices ask for less
// than the pause lasts: slices of 10 ms and more count the time they really took. Shorter
// sleeps (the pump steps of 1 ms) count what they asked for, so load cannot make a pause of
// them.
int nanosleep(const timespec *request, timespec *remaining) {
    static const auto real_nanosleep = real(&::nanosleep, "nanosleep");
    if (!request) return real_nanosleep(request, remaining);
    double asked_ms = double(request->tv_sec) * 1e3 + double(request->tv_nsec) / 1e6;
    timespec before{}, after{};
    ::syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &before);
    int r = real_nanosleep(request, remaining);
    ::syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &after);
    double took_ms = double(after.tv_sec - before.tv_sec) * 1e3 + double(after.tv_nsec - before.tv_nsec) / 1e6;
    slept_ms += asked_ms >= 10 ? took_ms : asked_ms;
    return r;
}

// ---- The wall clock -----------------------------------------------------------------------

int clock_gettime(clockid_t clock, timespec *ts) noexcept {
    static const auto real_clock_gettime = real(&::clock_gettime, "clock_gettime");
    int r = real_clock_gettime(clock, ts);
    if (r != 0 || clock != CLOCK_REALTIME) return r;
    if (const char *fixed = std::getenv("VORN_FIXED_TIME"); fixed && *fixed) {
        // A wall clock that stands still at this time of day (ms): the program seeds its
        // pseudo-random generator from it, so a run's draws can be replayed.
        long long ms = std::atoll(fixed) % 86'400'000;
        ts->tv_sec = ts->tv_sec / 86400 * 86400 + ms / 1000;
        ts->tv_nsec = (ms % 1000) * 1'000'000;
        return r;
    }
    const char *before = std::getenv("VORN_FAKE_MIDNIGHT");
    if (!before) return r;
    static const time_t shift = [&] {
        time_t target = 86400 - static_cast<time_t>(std::atol(before));
        return target - ts->tv_sec % 86400;
    }();
    ts->tv_sec += shift;
    return r;
}

}  // extern "C"
