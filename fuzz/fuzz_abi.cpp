// libFuzzer target over the whole VN_ ABI. An input is a byte-coded call sequence: opcodes,
// register numbers (valid, out of range or null), lengths and counts are read from it, the
// functions are called, and every result is checked against GMP and OpenSSL. After every call
// the registers it does not name as destinations must be unchanged, a failed call must
// change nothing (save the writes the header documents), and no register may exceed
// VN_MAX_BYTES. The first byte holds flags: bit 0 splits the rest into two sequences run at
// once on two threads, each on its own registers; bits 1 and 2 work the library's test seams;
// bits 3 to 5 together allow the fill opcode, and bit 6 with them its VN_MAX_BYTES size
// (in the seed replay; the fuzzer fills to just past the arithmetic limit).
//
// Sizes are bounded here, not in the library: operands, exponents and generator lengths are
// kept small enough that one input runs in milliseconds, and a call whose reference would
// be slow is skipped. One opcode fills a register to VN_MAX_BYTES, after which only calls
// the library must refuse at once (or carry out within its limits) are made.
#include <gmpxx.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "vorn.h"
#ifdef VORN_TESTING
#include "testing.h"
#endif

namespace {

[[noreturn]] void failed(const char *what, int line, int op) {
    std::fprintf(stderr, "fuzz_abi: check failed at line %d (opcode %d, global error %d): %s\n", line, op,
                 static_cast<int>(VN_GETGLOBALERROR()), what);
    std::abort();
}
#define CHECK(c)                                       \
    do {                                               \
        if (!(c)) failed(#c, __LINE__, current_op);    \
    } while (0)

thread_local int current_op = -1;

constexpr int kLaneRegs = 8;
constexpr int kSentinel = 255;           // no lane uses it: it must never change
constexpr size_t kCheap = 4096;          // operands read only up to this many bytes
constexpr size_t kHuge = size_t{1} << 20;  // above this a register came from the fill opcode or
                                            // a conversion of it: snapshots only sample it
constexpr int kMaxOps = 48;

// ---- Reading the input ---------------------------------------------------------------

struct Input {
    const uint8_t *p;
    size_t n;
    bool empty() const { return n == 0; }
    uint8_t byte() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
    unsigned u16() { return static_cast<unsigned>(byte()) << 8 | byte(); }
};

// ---- Register snapshots --------------------------------------------------------------

// A register as read back: all its bytes, or for huge ones its length and samples, and the
// bit length of the number its bytes make (high zero bytes do not count).
struct Snap {
    int64_t len = 0;
    std::string data;
    size_t bits = 0;
    bool operator==(const Snap &o) const { return len == o.len && data == o.data; }
};

// Reads a register with VN_GETREG and checks what the header promises of the string.
Snap read_reg(int32_t r) {
    VN_STRING s = VN_GETREG(&r);
    CHECK(s.len >= 0);
    CHECK(s.len <= VN_MAX_BYTES);
    CHECK(s.len == 0 || s.data != nullptr);
    if (s.data) CHECK(s.data[s.len] == '\0');
    Snap out;
    out.len = s.len;
    size_t len = static_cast<size_t>(s.len);
    if (len <= kHuge) {
        out.data.assign(s.data ? s.data : "", len);
    } else {
        out.data.assign(s.data, 4096);
        out.data.append(s.data + len - 4096, 4096);
        for (size_t i = 4096; i < len; i += 65521) out.data.push_back(s.data[i]);
    }
    size_t top = len;
    while (top > 0 && s.data[top - 1] == 0) --top;
    if (top > 0) {
        out.bits = 8 * (top - 1);
        for (auto t = static_cast<unsigned char>(s.data[top - 1]); t; t >>= 1) ++out.bits;
    }
    VN_FREESTRING(&s);
    CHECK(s.data == nullptr && s.len == 0);
    return out;
}

mpz_class number(const std::string &b) {
    mpz_class x;
    mpz_import(x.get_mpz_t(), b.size(), -1, 1, 0, 0, b.data());
    return x;
}

// Number form: least significant byte first, no high zero bytes.
std::string bytes_of(const mpz_class &x) {
    std::string b((mpz_sizeinbase(x.get_mpz_t(), 2) + 7) / 8, '\0');
    if (x == 0) return {};
    mpz_export(b.data(), nullptr, -1, 1, 0, 0, x.get_mpz_t());
    return b;
}

size_t bits(const mpz_class &x) { return x == 0 ? 0 : mpz_sizeinbase(x.get_mpz_t(), 2); }

// ---- OpenSSL references --------------------------------------------------------------

std::string sha256(const std::string &in) {
    unsigned char d[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(in.data()), in.size(), d);
    return std::string(reinterpret_cast<char *>(d), sizeof d);
}

// AES in ECB or CBC through EVP; false when OpenSSL refuses (bad padding, bad length).
bool aes(bool cbc, bool enc, bool pad, const std::string &key, const std::string &iv,
         const std::string &in, std::string &out) {
    const EVP_CIPHER *c = nullptr;
    switch (key.size()) {
    case 16: c = cbc ? EVP_aes_128_cbc() : EVP_aes_128_ecb(); break;
    case 24: c = cbc ? EVP_aes_192_cbc() : EVP_aes_192_ecb(); break;
    case 32: c = cbc ? EVP_aes_256_cbc() : EVP_aes_256_ecb(); break;
    default: return false;
    }
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    out.assign(in.size() + 32, '\0');
    int n1 = 0, n2 = 0;
    auto *o = reinterpret_cast<unsigned char *>(out.data());
    bool ok = EVP_CipherInit_ex(ctx, c, nullptr, reinterpret_cast<const unsigned char *>(key.data()),
                                cbc ? reinterpret_cast<const unsigned char *>(iv.data()) : nullptr,
                                enc ? 1 : 0) == 1 &&
              EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0) == 1 &&
              EVP_CipherUpdate(ctx, o, &n1, reinterpret_cast<const unsigned char *>(in.data()),
                               static_cast<int>(in.size())) == 1 &&
              EVP_CipherFinal_ex(ctx, o + n1, &n2) == 1;
    EVP_CIPHER_CTX_free(ctx);
    out.resize(ok ? static_cast<size_t>(n1 + n2) : 0);
    return ok;
}

// ---- Small primes for the trial-division reference ------------------------------------

constexpr int kMaxTable = 5000;  // the prime table is never asked for more here
std::vector<unsigned long> g_primes;
std::atomic<int> g_table{1000};   // size of the library's table, as last set

void make_primes() {
    std::vector<bool> comp(230000, false);
    for (size_t i = 2; i < comp.size() && g_primes.size() < kMaxTable; ++i) {
        if (comp[i]) continue;
        g_primes.push_back(i);
        for (size_t k = i * i; k < comp.size(); k += i) comp[k] = true;
    }
}

// ---- A lane: one call sequence over its own registers ---------------------------------

// Bit of an error code in an allowed-errors mask.
constexpr unsigned E(int code) { return 1u << code; }

struct Arg {
    int32_t num = 0;
    bool null = false;
    int idx = -1;  // lane register index, or -1 for a number that is no register
    bool is_reg = false;
};

struct Lane {
    int base = 0;
    bool solo = true;  // alone in the process: the global error and the prime table are its own
    // The fill opcode works only where the input's flags allow it: every call after a fill
    // copies hundreds of MiB for its snapshots, and inputs that fill by chance would slow
    // the whole run to a few inputs a second.
    bool may_fill = false;
    bool may_fill_full = false;
    Input in{nullptr, 0};
    bool byte_form[kLaneRegs];
    Snap before[kLaneRegs];
    int ops_left = kMaxOps;
    bool numbered = false;  // opcodes by number (flag bit 7), else the stored seeds' reading
    bool filled = false;
    int slow_left = 3;  // prime, key and BBS generation, proofs, known-answer checks: 10 ms and more

    // A register argument: mostly the lane's registers, sometimes a bad number or null.
    Arg reg_arg() {
        uint8_t b = in.byte();
        Arg a;
        a.is_reg = true;
        if (b < 0xF0) {
            a.idx = b % kLaneRegs;
            a.num = base + a.idx;
        } else if (b < 0xFE) {
            static const int32_t bad[] = {-1, VN_REGISTERS, INT32_MIN, INT32_MAX, 1000, -256};
            a.num = bad[b % 6];
        } else {
            a.null = true;
        }
        return a;
    }
    // A count or length argument in lo .. hi, or one of the values around and beyond it.
    Arg int_arg(int32_t lo, int32_t hi) {
        uint8_t b = in.byte();
        Arg a;
        if (b < 0xF8) {
            uint32_t span = static_cast<uint32_t>(hi - lo) + 1;
            a.num = lo + static_cast<int32_t>((static_cast<uint32_t>(b) << 8 | in.byte()) % span);
            return a;
        }
        switch (b) {
        case 0xF8: a.null = true; break;
        case 0xF9: a.num = -1; break;
        case 0xFA: a.num = 0; break;
        case 0xFB: a.num = INT32_MIN; break;
        case 0xFC: a.num = INT32_MAX; break;
        case 0xFD: a.num = lo - 1; break;
        case 0xFE: a.num = hi + 1; break;
        default: a.num = hi; break;
        }
        return a;
    }
    static int32_t *ptr(Arg &a) { return a.null ? nullptr : &a.num; }

    void snapshot() {
        for (int i = 0; i < kLaneRegs; ++i) before[i] = read_reg(base + i);
    }
    const std::string &b(const Arg &a) const { return before[a.idx].data; }
    mpz_class v(const Arg &a) const { return number(before[a.idx].data); }
    int64_t len(const Arg &a) const { return before[a.idx].len; }
    bool cheap(const Arg &a) const { return static_cast<size_t>(before[a.idx].len) <= kCheap; }
    bool huge(const Arg &a) const { return static_cast<size_t>(before[a.idx].len) > kHuge; }
    // Beyond the arithmetic limit: every call that reads it as a number refuses at once.
    bool over(const Arg &a) const { return before[a.idx].bits > static_cast<size_t>(VN_MAX_BITS); }

    void run();
    void step();
    // After a call: registers outside dests unchanged; dests as given by expect().
    void check_rest(std::initializer_list<const Arg *> dests);
    void check_unchanged() { check_rest({}); }
    // With a failing CSPRNG (input flag 4) a call that draws may fail: VN_FAIL with
    // VN_E_CRYPTO and no change, tests included (never a verdict). True when that is what
    // happened. Alone the error was cleared before the call, so it is this call's; in a lane
    // it may be an earlier call's, and a result other than VN_FAIL is then judged as usual.
    bool rng_fails = false;
    bool crypto_failure(int32_t ret, bool /*truth*/) {
        if (!rng_fails || VN_GETGLOBALERROR() != VN_E_CRYPTO) return false;
        if (ret != VN_FAIL && !solo) return false;
        CHECK(ret == VN_FAIL);
        check_unchanged();
        return true;
    }
    void check_error(unsigned allowed) {
        if (!solo) return;
        int32_t e = VN_GETGLOBALERROR();
        CHECK(e > 0 && e < 32 && (allowed & E(e)) != 0);
    }
    void expect_number(const Arg &d, const mpz_class &x) {
        Snap s = read_reg(base + d.idx);
        CHECK(s.data == bytes_of(x));
        byte_form[d.idx] = false;
    }
    void expect_bytes(const Arg &d, const std::string &x) {
        Snap s = read_reg(base + d.idx);
        CHECK(s.data == x);
        byte_form[d.idx] = true;
    }
    bool equal_regs(const Arg &x, const Arg &y) const {
        if (byte_form[x.idx] && byte_form[y.idx]) return b(x) == b(y);
        return v(x) == v(y);
    }
};

// Any bad register or null pointer among the arguments: the call must fail with one of these.
bool bad(std::initializer_list<const Arg *> args) {
    for (const Arg *a : args)
        if (a->null || (a->is_reg && a->idx < 0)) return true;
    return false;
}
constexpr unsigned kBadArg = E(VN_E_REGISTER) | E(VN_E_ARGUMENT);

void Lane::check_rest(std::initializer_list<const Arg *> dests) {
    for (int i = 0; i < kLaneRegs; ++i) {
        bool dest = false;
        for (const Arg *d : dests) dest = dest || d->idx == i;
        if (!dest) CHECK(read_reg(base + i) == before[i]);
    }
}

// A fill beyond the arithmetic limit: VN_MAX_BITS / 8 + 1 bytes, or VN_MAX_BYTES when full is
// set, with a top byte that is not zero. The pages stay untouched (zero) unless the fill is
// digits, which VN_DEC2HUGE must refuse by their count.
void fill_big(int32_t r, bool full, bool digits) {
    size_t n = full ? VN_MAX_BYTES : VN_MAX_BITS / 8 + 1;
    void *m = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    CHECK(m != MAP_FAILED);
    char *p = static_cast<char *>(m);
    if (digits) std::memset(p, '9', n);
    p[n - 1] = digits ? '9' : 1;
    VN_STRING s{p, static_cast<int32_t>(n)};
    CHECK(VN_PUTREG(&s, &r) == VN_OK);
    munmap(m, n);
}

// The reference of both bit generators: len bytes from x, next = step(x), j bits a step.
template <typename Step>
std::string generator_bytes(mpz_class &x, size_t len, unsigned j, Step next) {
    std::string out(len, '\0');
    size_t pos = 0;
    while (pos < 8 * len) {
        next(x);
        for (unsigned t = 0; t < j && pos < 8 * len; ++t, ++pos)
            if (mpz_tstbit(x.get_mpz_t(), t)) out[pos / 8] = static_cast<char>(out[pos / 8] | 1 << (pos % 8));
    }
    return out;
}

unsigned bits_per_step(const mpz_class &n) {
    size_t b = bits(n);
    unsigned j = 0;
    while ((size_t{1} << (j + 1)) <= b - 1) ++j;
    return j < 1 ? 1 : j;
}

// Decimal text as the header accepts it: white space, digits, white space.
bool parse_decimal(const std::string &s, mpz_class &x) {
    auto ws = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    size_t i = 0, n = s.size();
    while (i < n && ws(s[i])) ++i;
    size_t start = i;
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i;
    size_t end = i;
    while (i < n && ws(s[i])) ++i;
    if (end == start || i != n) return false;
    x.set_str(s.substr(start, end - start), 10);
    return true;
}

// Opcodes have fixed numbers: a new one takes the next free number and none is ever renumbered.
// Inputs whose flag byte has bit 7 set read an opcode byte as that number (a number not
// assigned ends the input). Inputs without it are read as the stored seeds were written: the
// byte modulo kLegacyOps, over the first 51 opcodes only, which stay what they were.
enum Op {
    PUT = 0, PUTNUM = 1, PUTTEXT = 2, PUTSPECIAL = 3, GET = 4, DEC2HUGE = 5, HUGE2DEC = 6,
    HUGE2HEX = 7, COPYREG = 8, SWAPREG = 9, READPRIMES = 10, HOUSEKEEPING = 11, ADD = 12,
    SUB = 13, MUL = 14, MULBY2 = 15, DIVBY2 = 16, DIV = 17, MOD = 18, POW = 19, POWMOD = 20,
    GCD = 21, MODINV = 22, ISZERO = 23, ISODD = 24, ISEQUAL = 25, ISNOTEQUAL = 26, ISLESS = 27,
    ISRELPRIME = 28, ISPRIME_DIV = 29, ISPRIME_SLOW = 30, ISPRIME_F = 31, ISPRIME_RB = 32,
    RANDOM = 33, PRIME = 34, RSAKEYS = 35, INITBBS = 36, BBSBITS = 37, RSABITS = 38,
    ENC_RSA = 39, DEC_RSA = 40, ENC_CBC = 41, DEC_CBC = 42, ENC_ECB = 43, DEC_ECB = 44,
    ENC_1BLOCK = 45, DEC_1BLOCK = 46, SHA256 = 47, VECTORS = 48, HAMMER = 49, FILL = 50,
    STOPPED = 51,  // a long call made while a stop is asked for: nothing changes
    OP_COUNT = 52
};
constexpr int kLegacyOps = 51;

// Numbers the primality opcodes like to see.
const char *const kSpecials[] = {
    "0", "1", "2", "3", "4", "561", "1105", "3215031751", "2047", "1373653",
    "2305843009213693951",                        // 2^61 - 1
    "170141183460469231731687303715884105727",    // 2^127 - 1
    "318665857834031151167461",                   // strong pseudoprime to the first 12 prime bases
    "3317044064679887385961981",                  // ... to the first 13
    "340282366920938463463374607431768211457",    // 2^128 + 1, composite
    "18446744073709551557",                       // largest prime below 2^64
    "18446744073709551617",                       // 2^64 + 1 = 274177 * 67280421310721
    "4294967295", "65537", "340282366920938463463374607431768211297",  // 2^128 - 159, prime
};

void Lane::run() {
    for (int i = 0; i < kLaneRegs; ++i) {
        VN_STRING e{nullptr, 0};
        int32_t r = base + i;
        CHECK(VN_PUTREG(&e, &r) == VN_OK);
        byte_form[i] = true;
    }
    // VORN_FUZZ_TRACE=1 prints each opcode and its time, to find what makes an input slow.
    static const bool trace = std::getenv("VORN_FUZZ_TRACE") != nullptr;
    while (!in.empty() && ops_left-- > 0) {
        auto t0 = std::chrono::steady_clock::now();
        step();
        if (trace)
            std::fprintf(stderr, "lane %d opcode %d: %.3f ms\n", base, current_op,
                         std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
}

void Lane::step() {
    int op = numbered ? in.byte() : in.byte() % kLegacyOps;
    if (op >= OP_COUNT) {
        ops_left = 0;  // a number no opcode has (yet)
        return;
    }
    current_op = op;
    if (filled && op != FILL) {
        // After the fill every snapshot copies it: only a few more calls.
        if (ops_left > 2) ops_left = 2;
    }
    if (solo) VN_CLEARGLOBALERROR();
    snapshot();

    switch (op) {
    case PUT: case PUTNUM: case PUTTEXT: case PUTSPECIAL: {
        Arg d = reg_arg();
        std::string data;
        uint8_t l = in.byte();
        VN_STRING s{nullptr, 0};
        unsigned want = 0;  // 0: success expected
        if (op == PUT) {
            if (l < 0xF0) {
                for (unsigned i = 0; i < l % 65u; ++i) data.push_back(static_cast<char>(in.byte()));
            } else if (l < 0xFC) {
                for (unsigned i = 0; i < 16; ++i) data.push_back(static_cast<char>(in.byte()));
                std::string unit = data;
                while (data.size() < 64u * (l - 0xEFu)) data += unit;
            }
            s = {data.data(), static_cast<int32_t>(data.size())};
            if (l == 0xFC) { s = {nullptr, 5}; want = E(VN_E_ARGUMENT); }
            if (l == 0xFD) { s = {data.data(), -1}; want = E(VN_E_ARGUMENT); }
            if (l == 0xFE) { s = {data.data(), static_cast<int32_t>(VN_MAX_BYTES + 1)}; want = E(VN_E_TOOBIG); }
            if (l == 0xFF) { s = {data.data(), INT32_MIN}; want = E(VN_E_ARGUMENT); }
        } else if (op == PUTNUM) {
            unsigned v = static_cast<unsigned>(l) << 8 | in.byte();
            for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>(v >> (8 * i)));
            s = {data.data(), 4};
        } else if (op == PUTTEXT) {
            static const char alphabet[] = "0123456789012345678901234567890123456789 \t\r\n\v\f+-.xA";
            for (unsigned i = 0; i < l % 48u; ++i)
                data.push_back(alphabet[in.byte() % (sizeof alphabet - 1)]);
            if (l >= 0xF0) data.push_back('\0');
            s = {data.data(), static_cast<int32_t>(data.size())};
        } else {
            data = kSpecials[(l & 0x7F) % (sizeof kSpecials / sizeof *kSpecials)];
            if (l & 0x80) data = bytes_of(mpz_class(data));  // the number itself, not its text
            s = {data.data(), static_cast<int32_t>(data.size())};
        }
        int32_t ret = VN_PUTREG(&s, ptr(d));
        if (want || bad({&d})) {
            CHECK(ret == VN_FAIL);
            check_unchanged();
            check_error(want ? want | kBadArg : kBadArg);
        } else {
            CHECK(ret == VN_OK);
            check_rest({&d});
            expect_bytes(d, data);
        }
        return;
    }
    case GET: {
        Arg a = reg_arg();
        if (a.null || a.idx < 0) {
            VN_STRING s = VN_GETREG(ptr(a));
            CHECK(s.data == nullptr && s.len == 0);
            check_error(kBadArg);
        }
        check_unchanged();
        return;
    }
    case DEC2HUGE: case HUGE2DEC: case HUGE2HEX: case COPYREG: case SWAPREG: {
        Arg s = reg_arg(), d = reg_arg();
        if (bad({&s, &d})) {
            int32_t ret = op == DEC2HUGE ? VN_DEC2HUGE(ptr(s), ptr(d))
                        : op == HUGE2DEC ? VN_HUGE2DEC(ptr(s), ptr(d))
                        : op == HUGE2HEX ? VN_HUGE2HEX(ptr(s), ptr(d))
                        : op == COPYREG  ? VN_COPYREG(ptr(s), ptr(d))
                                         : VN_SWAPREG(ptr(s), ptr(d));
            CHECK(ret == VN_FAIL);
            check_unchanged();
            check_error(kBadArg);
            return;
        }
        if (huge(s)) {
            // A copy or swap works. Beyond the arithmetic limit a conversion may only fail
            // (the text would pass VN_MAX_BYTES, or the number VN_MAX_BITS) or stay in limits;
            // the text of a number within it would take seconds to check.
            if ((op == HUGE2DEC || op == HUGE2HEX) && !over(s)) return;
#ifdef VORN_TESTING
            // Tens of millions of digits take seconds to read under the fuzzer's sanitizers:
            // only the seed replay converts them.
            if (op == DEC2HUGE && b(s).find_first_not_of("0123456789") == std::string::npos) return;
#endif
            int32_t ret = op == DEC2HUGE ? VN_DEC2HUGE(&s.num, &d.num)
                        : op == HUGE2DEC ? VN_HUGE2DEC(&s.num, &d.num)
                        : op == HUGE2HEX ? VN_HUGE2HEX(&s.num, &d.num)
                        : op == COPYREG  ? VN_COPYREG(&s.num, &d.num)
                                         : VN_SWAPREG(&s.num, &d.num);
            if (op == COPYREG || op == SWAPREG) {
                CHECK(ret == VN_OK);
                CHECK(read_reg(base + d.idx) == before[s.idx]);
                if (op == SWAPREG) CHECK(read_reg(base + s.idx) == before[d.idx]);
                check_rest({&s, &d});
                bool f = byte_form[s.idx];
                if (op == SWAPREG) byte_form[s.idx] = byte_form[d.idx];
                byte_form[d.idx] = f;
                return;
            }
            if (ret != VN_OK) {
                CHECK(ret == VN_FAIL);
                if (op == DEC2HUGE && VN_GETGLOBALERROR() == VN_E_DECIMAL) {
                    check_rest({&d});
                    expect_number(d, 0);
                    return;
                }
                check_unchanged();
                check_error(E(VN_E_TOOBIG) | E(VN_E_NOMEMORY));
                return;
            }
            check_rest({&d});
            read_reg(base + d.idx);  // within the limits
            byte_form[d.idx] = op != DEC2HUGE;
            return;
        }
        if (!cheap(s)) return;
        int32_t ret;
        if (op == DEC2HUGE) {
            mpz_class x;
            bool ok = parse_decimal(b(s), x);
            ret = VN_DEC2HUGE(&s.num, &d.num);
            check_rest({&d});
            if (ok) {
                CHECK(ret == VN_OK);
                expect_number(d, x);
            } else {
                CHECK(ret == VN_FAIL);
                check_error(E(VN_E_DECIMAL));
                expect_number(d, 0);
            }
            return;
        }
        if (op == HUGE2DEC || op == HUGE2HEX) {
            std::string text = v(s).get_str(op == HUGE2DEC ? 10 : 16);
            if (op == HUGE2HEX)
                for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            ret = op == HUGE2DEC ? VN_HUGE2DEC(&s.num, &d.num) : VN_HUGE2HEX(&s.num, &d.num);
            CHECK(ret == VN_OK);
            check_rest({&d});
            expect_bytes(d, text);
            return;
        }
        ret = op == COPYREG ? VN_COPYREG(&s.num, &d.num) : VN_SWAPREG(&s.num, &d.num);
        CHECK(ret == VN_OK);
        check_rest({&s, &d});
        CHECK(read_reg(base + d.idx).data == b(s));
        if (op == SWAPREG) CHECK(read_reg(base + s.idx).data == b(d));
        bool f = byte_form[s.idx];
        if (op == SWAPREG) byte_form[s.idx] = byte_form[d.idx];
        byte_form[d.idx] = f;
        return;
    }
    case READPRIMES: {
        Arg n = int_arg(1, kMaxTable);
        if (n.null) {
            VN_READPRIMES(nullptr);
            check_unchanged();
            return;
        }
        int32_t want = n.num < 1 ? 1 : n.num;
        if (want > kMaxTable) return;  // a table that large is slow to use
        int32_t got = VN_READPRIMES(&n.num);
        CHECK(got == want);
        g_table = got;
        check_unchanged();
        return;
    }
    case HOUSEKEEPING: {
        CHECK(VN_VERSION() >= 100);
        if (solo) {
            CHECK(VN_GETGLOBALERROR() == VN_E_NONE);
            int32_t bad_reg = -1;
            CHECK(VN_ISZERO(&bad_reg) != 1);
            CHECK(VN_GETGLOBALERROR() == VN_E_REGISTER);
            CHECK(VN_GETGLOBALERROR() == VN_E_REGISTER);  // reading does not clear it
            VN_CLEARGLOBALERROR();
            CHECK(VN_GETGLOBALERROR() == VN_E_NONE);
        }
        VN_FREESTRING(nullptr);
        check_unchanged();
        return;
    }
    default: break;
    }

    if (op >= ADD && op <= MODINV) {
        // Arithmetic: a and b are read, the rest written.
        int nin = (op == MULBY2 || op == DIVBY2) ? 1 : (op == POWMOD ? 3 : 2);
        int nout = (op == DIVBY2 || op == DIV) ? 2 : 1;
        Arg a[3], d[2];
        for (int i = 0; i < nin; ++i) a[i] = reg_arg();
        for (int i = 0; i < nout; ++i) d[i] = reg_arg();
        auto call = [&]() -> int32_t {
            switch (op) {
            case ADD: return VN_ADD(ptr(a[0]), ptr(a[1]), ptr(d[0]));
            case SUB: return VN_SUB(ptr(a[0]), ptr(a[1]), ptr(d[0]));
            case MUL: return VN_MUL(ptr(a[0]), ptr(a[1]), ptr(d[0]));
            case MULBY2: return VN_MULBY2(ptr(a[0]), ptr(d[0]));
            case DIVBY2: return VN_DIVBY2(ptr(a[0]), ptr(d[0]), ptr(d[1]));
            case DIV: return VN_DIV(ptr(a[0]), ptr(a[1]), ptr(d[0]), ptr(d[1]));
            case MOD: return VN_MOD(ptr(a[0]), ptr(a[1]), ptr(d[0]));
            case POW: return VN_POW(ptr(a[0]), ptr(a[1]), ptr(d[0]));
            case POWMOD: return VN_POWMOD(ptr(a[0]), ptr(a[1]), ptr(a[2]), ptr(d[0]));
            case GCD: return VN_GCD(ptr(a[0]), ptr(a[1]), ptr(d[0]));
            default: return VN_MODINV(ptr(a[0]), ptr(a[1]), ptr(d[0]));
            }
        };
        bool any_bad = false;
        for (int i = 0; i < nin; ++i) any_bad = any_bad || bad({&a[i]});
        for (int i = 0; i < nout; ++i) any_bad = any_bad || bad({&d[i]});
        if (any_bad) {
            CHECK(call() == VN_FAIL);
            check_unchanged();
            check_error(kBadArg);
            return;
        }
        bool any_over = false, all_cheap = true;
        for (int i = 0; i < nin; ++i) {
            any_over = any_over || over(a[i]);
            all_cheap = all_cheap && cheap(a[i]);
        }
        if (any_over) {
            // An operand beyond VN_MAX_BITS: refused at once.
            CHECK(call() == VN_FAIL);
            check_unchanged();
            check_error(E(VN_E_TOOBIG) | E(VN_E_DIVZERO));
            return;
        }
        if (!all_cheap) return;
        mpz_class x = v(a[0]), y = nin > 1 ? v(a[1]) : mpz_class(0), m = nin > 2 ? v(a[2]) : mpz_class(0);
        mpz_class r0, r1;
        unsigned fail_with = 0;
        int status = 0;
        switch (op) {
        case ADD: r0 = x + y; break;
        case SUB: r0 = abs(x - y); break;
        case MUL: r0 = x * y; break;
        case MULBY2: r0 = 2 * x; break;
        case DIVBY2: r0 = x / 2; r1 = x % 2; break;
        case DIV:
            if (y == 0) fail_with = E(VN_E_DIVZERO);
            else { mpz_fdiv_qr(r0.get_mpz_t(), r1.get_mpz_t(), x.get_mpz_t(), y.get_mpz_t()); }
            break;
        case MOD:
            if (y == 0) fail_with = E(VN_E_DIVZERO);
            else r0 = x % y;
            break;
        case POW: {
            if (x <= 1 || y == 0) {
                r0 = (y == 0) ? 1 : x;
                break;
            }
            // a^e has between (bits(a) - 1) * e + 1 and bits(a) * e bits.
            mpz_class lo = (bits(x) - 1) * y + 1, hi = bits(x) * y;
            if (lo > VN_MAX_BITS) { fail_with = E(VN_E_TOOBIG); break; }
            if (hi > 65536) return;  // allowed but slow to check
            mpz_pow_ui(r0.get_mpz_t(), x.get_mpz_t(), y.get_ui());
            break;
        }
        case POWMOD:
            if (m == 0) { fail_with = E(VN_E_DIVZERO); break; }
            if (bits(y) > 1100 || bits(m) > 1100) return;
            mpz_powm(r0.get_mpz_t(), x.get_mpz_t(), y.get_mpz_t(), m.get_mpz_t());
            break;
        case GCD: r0 = gcd(x, y); break;
        default:  // MODINV
            if (y == 0) { fail_with = E(VN_E_DIVZERO); break; }
            if (y == 1) { r0 = 0; break; }
            if (mpz_invert(r0.get_mpz_t(), x.get_mpz_t(), y.get_mpz_t()) == 0) {
                status = 1;
                fail_with = E(VN_E_NOINVERSE);
            }
            break;
        }
        int32_t ret = call();
        if (fail_with) {
            CHECK(ret == (status ? status : VN_FAIL));
            check_unchanged();
            check_error(fail_with);
            return;
        }
        CHECK(ret == VN_OK);
        if (nout == 2) {
            check_rest({&d[0], &d[1]});
            if (d[0].idx == d[1].idx) {
                expect_number(d[1], r1);  // the later destination wins
            } else {
                expect_number(d[0], r0);
                expect_number(d[1], r1);
            }
        } else {
            check_rest({&d[0]});
            expect_number(d[0], r0);
        }
        return;
    }

    if (op >= ISZERO && op <= ISPRIME_RB) {
        Arg cnt;
        if (op == ISPRIME_F || op == ISPRIME_RB) cnt = int_arg(1, 40);
        int nin = (op == ISEQUAL || op == ISNOTEQUAL || op == ISLESS || op == ISRELPRIME) ? 2 : 1;
        Arg a = reg_arg(), c = nin > 1 ? reg_arg() : a;
        auto call = [&]() -> int32_t {
            switch (op) {
            case ISZERO: return VN_ISZERO(ptr(a));
            case ISODD: return VN_ISODD(ptr(a));
            case ISEQUAL: return VN_ISEQUAL(ptr(a), ptr(c));
            case ISNOTEQUAL: return VN_ISNOTEQUAL(ptr(a), ptr(c));
            case ISLESS: return VN_ISLESS(ptr(a), ptr(c));
            case ISRELPRIME: return VN_ISRELPRIME(ptr(a), ptr(c));
            case ISPRIME_DIV: return VN_ISPRIME_DIV(ptr(a));
            case ISPRIME_SLOW: return VN_ISPRIME_SLOW(ptr(a));
            case ISPRIME_F: return VN_ISPRIME_F(ptr(cnt), ptr(a));
            default: return VN_ISPRIME_RB(ptr(cnt), ptr(a));
            }
        };
        if (bad({&a, &c, &cnt})) {
            int32_t ret = call();
            // A failure never reads as the passing answer: for "not equal" that is 0.
            if (op == ISNOTEQUAL) CHECK(ret != 0);
            else CHECK(ret == 0 || ret == VN_FAIL);
            check_unchanged();
            check_error(kBadArg);
            return;
        }
        if (!cheap(a) || !cheap(c)) return;
        mpz_class x = v(a), y = v(c);
        int rounds = cnt.num < 1 ? 1 : (cnt.num > VN_MAX_ROUNDS ? VN_MAX_ROUNDS : cnt.num);
        if (op == ISPRIME_SLOW && (bits(x) > 128 || (bits(x) > 64 && slow_left-- <= 0))) return;
        if ((op == ISPRIME_F || op == ISPRIME_RB) && (bits(x) > 1024 || (rounds > 40 && bits(x) > 64)))
            return;
        if (op == ISPRIME_DIV && bits(x) > 2048) return;
        int32_t ret = call();
        if (crypto_failure(ret, true)) return;
        check_unchanged();
        CHECK(ret == 0 || ret == 1);
        // The reference test only where a verdict needs it: on a 4096-byte operand it takes seconds.
        auto prime = [&x] { return mpz_probab_prime_p(x.get_mpz_t(), 30) != 0; };
        switch (op) {
        case ISZERO: CHECK(ret == (x == 0)); break;
        case ISODD: CHECK(ret == mpz_odd_p(x.get_mpz_t())); break;
        case ISEQUAL: CHECK(ret == equal_regs(a, c)); break;
        case ISNOTEQUAL: CHECK(ret == !equal_regs(a, c)); break;
        case ISLESS: CHECK(ret == (x < y)); break;
        case ISRELPRIME: CHECK(ret == (gcd(x, y) == 1)); break;
        case ISPRIME_DIV: {
            if (x < 2) { CHECK(ret == 0); break; }
            if (!solo) {
                // The table may change under us: only what holds for every table.
                if (prime()) CHECK(ret == 1);
                break;
            }
            bool factor = false;
            for (int i = 0; i < g_table && !factor; ++i)
                factor = x != g_primes[static_cast<size_t>(i)] && mpz_divisible_ui_p(x.get_mpz_t(), g_primes[static_cast<size_t>(i)]);
            CHECK(ret == !factor);
            break;
        }
        case ISPRIME_SLOW: CHECK(ret == prime()); break;
        default:
            if (x < 2 || (x > 2 && mpz_even_p(x.get_mpz_t()))) CHECK(ret == 0);
            else if (prime()) CHECK(ret == 1);  // a prime passes every base
            break;
        }
        return;
    }

    switch (op) {
    case RANDOM: case PRIME: {
        Arg n = op == RANDOM ? int_arg(1, 4096) : int_arg(VN_MIN_PRIME_BITS, 192);
        Arg k = op == PRIME ? int_arg(1, 20) : Arg{};
        Arg d = reg_arg();
        int32_t lo = op == RANDOM ? 1 : VN_MIN_PRIME_BITS;
        int32_t hi = op == RANDOM ? VN_MAX_RANDOM_BITS : VN_MAX_PRIME_BITS;
        auto call = [&] { return op == RANDOM ? VN_GENERATERANDOM(ptr(n), ptr(d)) : VN_GENERATEPRIME(ptr(n), ptr(k), ptr(d)); };
        bool range_bad = !n.null && (n.num < lo || n.num > hi);
        if (bad({&d, &k}) || n.null || range_bad) {
            CHECK(call() == VN_FAIL);
            check_unchanged();
            check_error(kBadArg | (range_bad ? E(VN_E_BITS) : 0));
            return;
        }
        if (op == RANDOM ? n.num > 4096 : n.num > 160) return;
        if (op == PRIME && ((k.num > 40 && n.num > 64) || slow_left-- <= 0)) return;
        int32_t ret = call();
        if (crypto_failure(ret, false)) return;
        CHECK(ret == VN_OK);
        check_rest({&d});
        Snap s = read_reg(base + d.idx);
        mpz_class x = number(s.data);
        CHECK(s.data == bytes_of(x));
        byte_form[d.idx] = false;
        if (op == RANDOM) {
            CHECK(s.len == (n.num + 7) / 8);
            CHECK(x != 0 && bits(x) <= static_cast<size_t>(n.num));
        } else {
            CHECK(bits(x) == static_cast<size_t>(n.num));
            CHECK(mpz_probab_prime_p(x.get_mpz_t(), 30) != 0);
        }
        return;
    }
    case RSAKEYS: case INITBBS: {
        Arg n = op == RSAKEYS ? int_arg(VN_MIN_RSA_BITS, 256) : int_arg(VN_MIN_BBS_BITS, 256);
        Arg k = int_arg(1, 8);
        int nout = op == RSAKEYS ? 3 : 2;
        Arg d[3];
        for (int i = 0; i < nout; ++i) d[i] = reg_arg();
        auto call = [&] {
            return op == RSAKEYS ? VN_GENERATERSAKEYS(ptr(n), ptr(k), ptr(d[0]), ptr(d[1]), ptr(d[2]))
                                 : VN_INITBBS(ptr(n), ptr(k), ptr(d[0]), ptr(d[1]));
        };
        int32_t lo = op == RSAKEYS ? VN_MIN_RSA_BITS : VN_MIN_BBS_BITS;
        int32_t hi = op == RSAKEYS ? VN_MAX_RSA_BITS : VN_MAX_BBS_BITS;
        bool range_bad = !n.null && (n.num < lo || n.num > hi);
        if (bad({&d[0], &d[1], &k}) || (nout == 3 && bad({&d[2]})) || n.null || range_bad) {
            CHECK(call() == VN_FAIL);
            check_unchanged();
            check_error(kBadArg | (range_bad ? E(VN_E_BITS) : 0));
            return;
        }
        if (n.num > 256 || slow_left-- <= 0) return;
        int32_t ret = call();
        if (crypto_failure(ret, false)) return;
        CHECK(ret == VN_OK);
        if (nout == 3) check_rest({&d[0], &d[1], &d[2]});
        else check_rest({&d[0], &d[1]});
        mpz_class out[3];
        for (int i = 0; i < nout; ++i) {
            out[i] = number(read_reg(base + d[i].idx).data);
            byte_form[d[i].idx] = false;
        }
        // Where destinations coincide the later one wins: check what is left to see.
        if (op == RSAKEYS) {
            mpz_class e = out[0], dk = out[1], mod = out[2];
            CHECK(bits(mod) == static_cast<size_t>(n.num));
            if (d[0].idx != d[2].idx && d[0].idx != d[1].idx) CHECK(e == 65537);
            if (d[0].idx != d[1].idx && d[1].idx != d[2].idx && d[0].idx != d[2].idx) {
                for (unsigned long t : {2ul, 3ul, 0x1234567ul}) {
                    mpz_class m = t, c, back;
                    mpz_powm(c.get_mpz_t(), m.get_mpz_t(), e.get_mpz_t(), mod.get_mpz_t());
                    mpz_powm(back.get_mpz_t(), c.get_mpz_t(), dk.get_mpz_t(), mod.get_mpz_t());
                    CHECK(back == m);
                }
            }
        } else {
            mpz_class s = out[1];
            CHECK(s > 1);
            if (d[0].idx != d[1].idx) {
                mpz_class mod = out[0];
                CHECK(bits(mod) == static_cast<size_t>(n.num));
                CHECK(mod % 4 == 1 && s < mod && gcd(s, mod) == 1);
            }
        }
        return;
    }
    case BBSBITS: case RSABITS: {
        Arg len = int_arg(1, 64);
        Arg multi = op == BBSBITS ? int_arg(0, 2) : Arg{};
        Arg s = reg_arg(), e = op == RSABITS ? reg_arg() : Arg{};
        Arg n = reg_arg(), out = reg_arg(), s2 = reg_arg();
        auto call = [&] {
            return op == BBSBITS ? VN_GENERATEBBSRANDOMBITS(ptr(len), ptr(multi), ptr(s), ptr(n), ptr(out), ptr(s2))
                                 : VN_GENERATERSARANDOMBITS(ptr(len), ptr(s), ptr(e), ptr(n), ptr(out), ptr(s2));
        };
        if (op == BBSBITS) e = s;
        if (bad({&len, &multi, &s, &e, &n, &out, &s2})) {
            CHECK(call() == VN_FAIL);
            check_unchanged();
            check_error(kBadArg | E(VN_E_BITS));
            return;
        }
        if (!cheap(s) || !cheap(n) || !cheap(e)) return;
        mpz_class mod = v(n), x = v(s), ex = op == RSABITS ? v(e) : mpz_class(2);
        unsigned allowed = 0;
        if (len.num < 1 || len.num > VN_MAX_GENERATE_BYTES) allowed |= E(VN_E_BITS);
        bool mod_bad = mod < 3 || mpz_even_p(mod.get_mpz_t()) || bits(mod) > VN_MAX_BBS_BITS;
        if (mod_bad) allowed |= E(VN_E_ARGUMENT);
        if (op == RSABITS && (ex < 2 || bits(ex) > std::max<size_t>(bits(mod), 32))) allowed |= E(VN_E_ARGUMENT);
        if (!mod_bad) {
            x %= mod;
            if (x <= 1) allowed |= E(VN_E_ARGUMENT);
        }
        if (allowed) {
            CHECK(call() == VN_FAIL);
            check_unchanged();
            check_error(allowed);
            return;
        }
        unsigned j = (op == RSABITS || multi.num == 1) ? bits_per_step(mod) : 1;
        size_t steps = (8 * static_cast<size_t>(len.num) + j - 1) / j;
        size_t limbs = (bits(mod) + 63) / 64;
        if (steps * bits(ex) * limbs * limbs > 400000) return;
        // A state whose orbit is constant from the first step may be refused as well, at
        // any exponent.
        mpz_class y, z;
        mpz_powm(y.get_mpz_t(), x.get_mpz_t(), ex.get_mpz_t(), mod.get_mpz_t());
        mpz_powm(z.get_mpz_t(), y.get_mpz_t(), ex.get_mpz_t(), mod.get_mpz_t());
        bool degenerate = y == z || x == mod - 1;
        int32_t ret = call();
        if (ret != VN_OK && degenerate) {
            CHECK(ret == VN_FAIL);
            check_unchanged();
            check_error(E(VN_E_ARGUMENT));
            return;
        }
        CHECK(ret == VN_OK);
        std::string want = generator_bytes(x, static_cast<size_t>(len.num), j, [&](mpz_class &t) {
            mpz_powm(t.get_mpz_t(), t.get_mpz_t(), ex.get_mpz_t(), mod.get_mpz_t());
        });
        check_rest({&out, &s2});
        if (out.idx != s2.idx) expect_bytes(out, want);
        expect_number(s2, x);
        return;
    }
    case ENC_RSA: case DEC_RSA: {
        Arg m = reg_arg(), e = reg_arg(), n = reg_arg(), c = reg_arg();
        auto call = [&] { return op == ENC_RSA ? VN_ENCRYPT_RSA(ptr(m), ptr(e), ptr(n), ptr(c)) : VN_DECRYPT_RSA(ptr(m), ptr(e), ptr(n), ptr(c)); };
        if (bad({&m, &e, &n, &c})) {
            CHECK(call() == VN_FAIL);
            check_unchanged();
            check_error(kBadArg);
            return;
        }
        if (over(m) || over(e) || over(n)) {
            int32_t ret = call();
            CHECK(ret == VN_FAIL || ret == VN_STATUS_LENGTH4 || ret == VN_STATUS_RANGE);
            check_unchanged();
            // A zero modulus may be reported before the size of the other operands.
            bool zero_modulus = cheap(n) && v(n) == 0;
            check_error(E(VN_E_TOOBIG) | E(VN_E_LENGTH4) | E(VN_E_RANGE) | (zero_modulus ? E(VN_E_DIVZERO) : 0u));
            return;
        }
        if (!cheap(m) || !cheap(e) || !cheap(n)) return;
        mpz_class x = v(m), ex = v(e), mod = v(n);
        // Where several refusals apply, any of them may be the one reported.
        unsigned allowed = 0;
        bool len4 = byte_form[m.idx] && len(m) % 4 != 0;
        if (mod == 0) allowed |= E(VN_E_DIVZERO);
        if (len4) allowed |= E(VN_E_LENGTH4);
        if (x >= mod) allowed |= E(VN_E_RANGE);
        if (!allowed && (bits(ex) > 2100 || bits(mod) > 2100)) return;
        int32_t ret = call();
        if (allowed) {
            CHECK((ret == VN_FAIL && (allowed & E(VN_E_DIVZERO))) ||
                  (ret == VN_STATUS_LENGTH4 && len4) || (ret == VN_STATUS_RANGE && x >= mod));
            check_unchanged();
            check_error(allowed);
            return;
        }
        CHECK(ret == VN_OK);
        mpz_class r;
        mpz_powm(r.get_mpz_t(), x.get_mpz_t(), ex.get_mpz_t(), mod.get_mpz_t());
        check_rest({&c});
        expect_number(c, r);
        return;
    }
    case ENC_CBC: case DEC_CBC: case ENC_ECB: case DEC_ECB: case ENC_1BLOCK: case DEC_1BLOCK: {
        Arg p = reg_arg(), key = reg_arg(), iv = op == ENC_CBC ? reg_arg() : Arg{}, c = reg_arg();
        if (op != ENC_CBC) iv = p;
        auto call = [&] {
            switch (op) {
            case ENC_CBC: return VN_ENCRYPT_AES_CBC(ptr(p), ptr(key), ptr(iv), ptr(c));
            case DEC_CBC: return VN_DECRYPT_AES_CBC(ptr(p), ptr(key), ptr(c));
            case ENC_ECB: return VN_ENCRYPT_AES_ECB(ptr(p), ptr(key), ptr(c));
            case DEC_ECB: return VN_DECRYPT_AES_ECB(ptr(p), ptr(key), ptr(c));
            case ENC_1BLOCK: return VN_ENCRYPT_AES_1BLOCK(ptr(p), ptr(key), ptr(c));
            default: return VN_DECRYPT_AES_1BLOCK(ptr(p), ptr(key), ptr(c));
            }
        };
        if (bad({&p, &key, &iv, &c})) {
            CHECK(call() == VN_FAIL);
            check_unchanged();
            check_error(kBadArg);
            return;
        }
        if (len(p) > 65536 || !cheap(key) || !cheap(iv)) return;
        const std::string &src = b(p), &k = b(key);
        bool key_bad = k.size() != 16 && k.size() != 24 && k.size() != 32;
        bool enc = op == ENC_CBC || op == ENC_ECB || op == ENC_1BLOCK;
        bool one = op == ENC_1BLOCK || op == DEC_1BLOCK;
        // Statuses that may be reported, as a mask of return values 1 .. 3.
        unsigned statuses = 0, errors = 0;
        if (key_bad) { statuses |= 2; errors |= E(VN_E_KEYSIZE); }
        if (op == ENC_CBC && len(iv) != 0 && len(iv) != 16) { statuses |= 4; errors |= E(VN_E_IVSIZE); }
        if (one && src.size() != 16) { statuses |= 4; errors |= E(VN_E_CIPHERTEXT); }
        if ((op == DEC_CBC || op == DEC_ECB) && src.size() % 16 != 0) { statuses |= 4; errors |= E(VN_E_CIPHERTEXT); }
        std::string want;
        bool short_or_bad = false;
        if (!statuses && !enc) {
            size_t min = op == DEC_CBC ? 32 : (op == DEC_ECB ? 16 : 0);
            if (src.size() < min) short_or_bad = true;
            else if (op == DEC_CBC)
                short_or_bad = !aes(true, false, true, k, src.substr(0, 16), src.substr(16), want);
            else
                short_or_bad = !aes(false, false, !one, k, "", src, want);
        }
        int32_t ret = call();
        if (op == ENC_CBC && !statuses && crypto_failure(ret, false)) return;
        if (statuses) {
            CHECK(ret >= 1 && ret <= 2 && (statuses & (1u << ret)));
            check_unchanged();
            check_error(errors);
            return;
        }
        check_rest({&c});
        if (short_or_bad) {
            CHECK(ret == VN_STATUS_CIPHERTEXT);
            check_error(E(VN_E_CIPHERTEXT) | E(VN_E_PADDING));
            expect_bytes(c, "");
            return;
        }
        CHECK(ret == VN_OK);
        Snap out = read_reg(base + c.idx);
        byte_form[c.idx] = true;
        if (!enc) {
            CHECK(out.data == want);
        } else if (op == ENC_CBC) {
            CHECK(out.data.size() >= 32 && out.data.size() % 16 == 0);
            std::string ivb = out.data.substr(0, 16), back;
            if (len(iv) == 16) CHECK(ivb == b(iv));
            CHECK(aes(true, false, true, k, ivb, out.data.substr(16), back));
            CHECK(back == src);
        } else {
            CHECK(aes(false, true, !one, k, "", src, want));
            CHECK(out.data == want);
        }
        return;
    }
    case SHA256: {
        Arg s = reg_arg(), d = reg_arg();
        if (bad({&s, &d})) {
            CHECK(VN_HASH_SHA_256(ptr(s), ptr(d)) == VN_FAIL);
            check_unchanged();
            check_error(kBadArg);
            return;
        }
        if (len(s) > 65536) return;
        CHECK(VN_HASH_SHA_256(&s.num, &d.num) == VN_OK);
        check_rest({&d});
        expect_bytes(d, sha256(b(s)));
        return;
    }
    case VECTORS: {
        // One million "a" alone takes a tenth of a second: a few times a process is enough.
        static std::atomic<int> runs{0};
        if (runs++ > 8) return;
        CHECK((in.byte() & 1 ? VN_CHECKTESTVECTORS_AES() : VN_CHECKTESTVECTORS_SHA_256()) == 0);
        check_unchanged();
        return;
    }
    case HAMMER: {
        // The same hash and cipher calls over and over: with another thread doing the same,
        // any state the library shares between calls shows up as a wrong result.
        Arg s = reg_arg(), key = reg_arg(), d = reg_arg();
        unsigned count = 1 + in.byte() % 32u;
        if (bad({&s, &key, &d}) || d.idx == s.idx || d.idx == key.idx || len(s) > 4096 || !cheap(key)) return;
        std::string digest = sha256(b(s)), cipher;
        bool key_ok = aes(false, true, true, b(key), "", b(s), cipher);
        for (unsigned i = 0; i < count; ++i) {
            CHECK(VN_HASH_SHA_256(&s.num, &d.num) == VN_OK);
            CHECK(read_reg(base + d.idx).data == digest);
            if (key_ok) {
                CHECK(VN_ENCRYPT_AES_ECB(&s.num, &key.num, &d.num) == VN_OK);
                CHECK(read_reg(base + d.idx).data == cipher);
            }
        }
        check_rest({&d});
        byte_form[d.idx] = true;
        return;
    }
    case STOPPED: {
        // This thread asks itself to stop: a prime search, a generator run or a large power
        // then fails with VN_E_CANCELLED and changes nothing, until the token is taken again.
        Arg d = reg_arg(), s = reg_arg();
        int32_t token = VN_WORKTOKEN();
        CHECK(token > 0);
        CHECK(VN_STOPWORK(&token) == VN_OK);
        int32_t bits = 64 + in.byte() * 2, rounds = 2, len = 1 + in.byte(), multi = 1;
        int32_t ret;
        switch (in.byte() % 3) {
        case 0: ret = VN_GENERATEPRIME(&bits, &rounds, ptr(d)); break;
        case 1: {
            int32_t bbs_n = base + s.idx;  // a state register may be anything: the checks come first
            ret = VN_GENERATEBBSRANDOMBITS(&len, &multi, ptr(s), &bbs_n, ptr(d), ptr(s));
            break;
        }
        default: {
            // 3^(2^21): beyond the size a power does in one GMP call.
            std::string three = "\x03", exponent = std::string("\x00\x00\x20", 3);
            VN_STRING t{three.data(), 1}, e{exponent.data(), 3};
            int32_t r1 = kSentinel - 1 - base / 4, r2 = r1 - 1;  // 254, 253 or 252, 251: no lane's
            CHECK(VN_PUTREG(&t, &r1) == VN_OK && VN_PUTREG(&e, &r2) == VN_OK);
            ret = VN_POW(&r1, &r2, ptr(d));
            break;
        }
        }
        int32_t error = VN_GETGLOBALERROR();
        CHECK(VN_WORKTOKEN() == token);
        // Bad arguments are refused before any work; everything else is stopped.
        CHECK(ret == VN_FAIL);
        if (!bad({&d, &s})) CHECK(error == VN_E_CANCELLED || error == VN_E_ARGUMENT || error == VN_E_TOOBIG);
        check_unchanged();
        return;
    }
    case FILL: {
        Arg d = reg_arg();
        uint8_t how = in.byte();
        if (!solo || filled || !may_fill || bad({&d})) return;
        filled = true;
        fill_big(base + d.idx, (how & 2) && may_fill_full, how & 1);
        byte_form[d.idx] = true;
        check_rest({&d});
        return;
    }
    default: return;
    }
}

#ifdef VORN_TESTING
std::atomic<int> g_draws_left{0};
int failing_source(unsigned char *buf, int len) {
    if (g_draws_left-- <= 0) return 0;
    return RAND_bytes(buf, len);
}
#endif

void put_sentinel() {
    VN_STRING s{const_cast<char *>("sentinel"), 8};
    int32_t r = kSentinel;
    CHECK(VN_PUTREG(&s, &r) == VN_OK);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    make_primes();
    put_sentinel();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    uint8_t flags = data[0];
    ++data;
    --size;
    int32_t table = 1000;
    CHECK(VN_READPRIMES(&table) == 1000);
    g_table = 1000;
    if (flags & 1) {
        // Two sequences at once, on registers 0..7 and 8..15.
        Lane a, b;
        a.base = 0;
        b.base = kLaneRegs;
        a.numbered = b.numbered = (flags & 0x80) != 0;
        a.solo = b.solo = false;
        a.in = {data, size / 2};
        b.in = {data + size / 2, size - size / 2};
        std::thread t([&b] { b.run(); });
        a.run();
        t.join();
    } else {
        Lane a;
        a.in = {data, size};
        a.numbered = (flags & 0x80) != 0;
        int draws = (flags & 4) ? a.in.byte() : 0;  // read in every build, so inputs mean the same
        a.may_fill = (flags & 0x38) == 0x38;
#ifndef VORN_TESTING
        // The VN_MAX_BYTES fill costs seconds a call under the fuzzer's sanitizers: only the
        // seed replay against the shared library makes it.
        a.may_fill_full = a.may_fill && (flags & 0x40);
#endif
#ifdef VORN_TESTING
        // The library's test seams (its static copy only): flag 2 takes the portable two-limb
        // generator code, flag 4 makes the CSPRNG fail after as many draws as the next byte says.
        vn::testing::portable_two_limbs = (flags & 2) != 0;
        if (flags & 4) {
            a.rng_fails = true;
            g_draws_left = draws;
            vn::testing::random_source = failing_source;
        }
#else
        (void)draws;
#endif
        a.run();
#ifdef VORN_TESTING
        vn::testing::portable_two_limbs = false;
        vn::testing::random_source = nullptr;
#endif
    }
    current_op = -1;
    CHECK(read_reg(kSentinel).data == "sentinel");
    return 0;
}
