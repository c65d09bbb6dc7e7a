// libFuzzer target over the whole VN_ ABI. An input is a byte-coded call sequence: opcodes,
// register numbers (valid, out of range or null), lengths and counts are read from it, the
// functions are called, and every result is checked against GMP and OpenSSL. Each opcode is
// one row of the table kRows at the end: the function it calls, how its arguments are drawn,
// the call and its reference check. After every call the registers it does not name as
// destinations must be unchanged, a failed call must change nothing (save the writes the
// header documents), and no register may exceed VN_MAX_BYTES. The first byte holds flags:
// bit 0 splits the rest into two sequences run at once on two threads, each on its own
// registers; bits 1 and 2 work the library's test seams; bits 3 to 5 together allow the fill
// opcode, and bit 6 with them its VN_MAX_BYTES size (in the seed replay; the fuzzer fills to
// just past the arithmetic limit); bit 7 reads opcodes by number (see step()).
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
bool probable_prime(const mpz_class &x) { return mpz_probab_prime_p(x.get_mpz_t(), 30) != 0; }

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

// ---- References and sizes ---------------------------------------------------------------

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

// Numbers the primality rows like to see.
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

// Work tokens no thread has: VN_WORKTOKEN's are positive.
constexpr int32_t kNoThread[] = {0, -1, -65536, INT32_MIN};

// ---- A lane: one call sequence over its own registers ---------------------------------

// Bit of an error code in an allowed-errors mask.
constexpr unsigned E(int code) { return 1u << code; }

struct Arg {
    int32_t num = 0;
    bool null = false;
    int idx = -1;  // lane register index, or -1 for a number that is no register
    bool is_reg = false;
};

// Any bad register or null pointer among the arguments: the call must fail with one of these.
bool bad(std::initializer_list<const Arg *> args) {
    for (const Arg *a : args)
        if (a->null || (a->is_reg && a->idx < 0)) return true;
    return false;
}
constexpr unsigned kBadArg = E(VN_E_REGISTER) | E(VN_E_ARGUMENT);

// A row's call: its arguments' addresses in parameter order.
using Call = int32_t (*)(int32_t **p);

// What an arithmetic row expects: its inputs x, y, m in, the results q (and r) out, or the
// errors the call must fail with and what it returns then; skip when checking would be slow.
struct Ref {
    mpz_class x, y, m, q, r;
    unsigned fail = 0;
    int32_t ret = VN_FAIL;
    bool skip = false;
};

// The operands of a truth row as drawn and read.
struct Truth {
    Arg cnt, a, c;
    mpz_class x, y;
    int rounds = 1;
};

enum Shape { UNARY, BINARY, COUNTED, EQUALITY };  // truth rows: a; a, b; count, a; a, b by bytes
enum Mode { CBC, ECB, ONE };                      // AES rows

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
    bool rng_fails = false;  // the CSPRNG fails after a number of draws (flag 4)

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
    static int32_t invoke(Call call, std::initializer_list<Arg *> args) {
        int32_t *p[6] = {};
        int i = 0;
        for (Arg *a : args) p[i++] = ptr(*a);
        return call(p);
    }

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

    // ---- Shared checks ----
    // After a call: registers outside dests unchanged; dests as given by expect().
    void check_rest(std::initializer_list<const Arg *> dests) {
        for (int i = 0; i < kLaneRegs; ++i) {
            bool dest = false;
            for (const Arg *d : dests) dest = dest || d->idx == i;
            if (!dest) CHECK(read_reg(base + i) == before[i]);
        }
    }
    void check_unchanged() { check_rest({}); }
    void check_error(unsigned allowed) {
        if (!solo) return;
        int32_t e = VN_GETGLOBALERROR();
        CHECK(e > 0 && e < 32 && (allowed & E(e)) != 0);
    }
    // A refused call: it returned want, changed nothing and set one of the allowed errors.
    void refused(int32_t ret, unsigned allowed, int32_t want = VN_FAIL) {
        CHECK(ret == want);
        check_unchanged();
        check_error(allowed);
    }
    // With a failing CSPRNG (input flag 4) a call that draws may fail: VN_FAIL with
    // VN_E_CRYPTO and no change, tests included (never a verdict). True when that is what
    // happened. Alone the error was cleared before the call, so it is this call's; in a lane
    // it may be an earlier call's, and a result other than VN_FAIL is then judged as usual.
    bool crypto_failure(int32_t ret) {
        if (!rng_fails || VN_GETGLOBALERROR() != VN_E_CRYPTO) return false;
        if (ret != VN_FAIL && !solo) return false;
        CHECK(ret == VN_FAIL);
        check_unchanged();
        return true;
    }
    void expect_number(const Arg &d, const mpz_class &x) {
        CHECK(read_reg(base + d.idx).data == bytes_of(x));
        byte_form[d.idx] = false;
    }
    void expect_bytes(const Arg &d, const std::string &x) {
        CHECK(read_reg(base + d.idx).data == x);
        byte_form[d.idx] = true;
    }
    bool equal_regs(const Arg &x, const Arg &y) const {
        if (byte_form[x.idx] && byte_form[y.idx]) return b(x) == b(y);
        return v(x) == v(y);
    }

    void run();
    void step();

    // ---- Registers and transfers ----

    // VN_PUTREG of data through s into d; want: the errors it must fail with, 0 for success.
    void put(Arg &d, const std::string &data, VN_STRING s, unsigned want) {
        int32_t ret = VN_PUTREG(&s, ptr(d));
        if (want || bad({&d})) return refused(ret, want | kBadArg);
        CHECK(ret == VN_OK);
        check_rest({&d});
        expect_bytes(d, data);
    }

    // Up to 64 bytes, a 16-byte unit repeated up to 768 bytes, or a bad length or pointer.
    void put_bytes() {
        Arg d = reg_arg();
        uint8_t l = in.byte();
        std::string data;
        if (l < 0xF0) {
            for (unsigned i = 0; i < l % 65u; ++i) data.push_back(static_cast<char>(in.byte()));
        } else if (l < 0xFC) {
            for (unsigned i = 0; i < 16; ++i) data.push_back(static_cast<char>(in.byte()));
            std::string unit = data;
            while (data.size() < 64u * (l - 0xEFu)) data += unit;
        }
        VN_STRING s{data.data(), static_cast<int32_t>(data.size())};
        unsigned want = 0;
        if (l == 0xFC) { s = {nullptr, 5}; want = E(VN_E_ARGUMENT); }
        if (l == 0xFD) { s = {data.data(), -1}; want = E(VN_E_ARGUMENT); }
        if (l == 0xFE) { s = {data.data(), static_cast<int32_t>(VN_MAX_BYTES + 1)}; want = E(VN_E_TOOBIG); }
        if (l == 0xFF) { s = {data.data(), INT32_MIN}; want = E(VN_E_ARGUMENT); }
        put(d, data, s, want);
    }

    // A 16-bit number as four bytes.
    void put_number() {
        Arg d = reg_arg();
        uint8_t hi = in.byte();
        unsigned v = static_cast<unsigned>(hi) << 8 | in.byte();
        std::string data;
        for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>(v >> (8 * i)));
        put(d, data, {data.data(), 4}, 0);
    }

    // Text of digits, white space and a few characters VN_DEC2HUGE refuses, sometimes with a NUL.
    void put_text() {
        Arg d = reg_arg();
        uint8_t l = in.byte();
        static const char alphabet[] = "0123456789012345678901234567890123456789 \t\r\n\v\f+-.xA";
        std::string data;
        for (unsigned i = 0; i < l % 48u; ++i) data.push_back(alphabet[in.byte() % (sizeof alphabet - 1)]);
        if (l >= 0xF0) data.push_back('\0');
        put(d, data, {data.data(), static_cast<int32_t>(data.size())}, 0);
    }

    // One of kSpecials, as text or (top bit of the byte) as the number itself.
    void put_special() {
        Arg d = reg_arg();
        uint8_t l = in.byte();
        std::string data = kSpecials[(l & 0x7F) % (sizeof kSpecials / sizeof *kSpecials)];
        if (l & 0x80) data = bytes_of(mpz_class(data));
        put(d, data, {data.data(), static_cast<int32_t>(data.size())}, 0);
    }

    // VN_GETREG of a bad register or null (every snapshot reads the good ones).
    void get_bad() {
        Arg a = reg_arg();
        if (bad({&a})) {
            VN_STRING s = VN_GETREG(ptr(a));
            CHECK(s.data == nullptr && s.len == 0);
            check_error(kBadArg);
        }
        check_unchanged();
    }

    // VN_DEC2HUGE (radix 0: text to number), VN_HUGE2DEC (10) and VN_HUGE2HEX (16): src, dst.
    void convert(int radix, Call call) {
        Arg s = reg_arg(), d = reg_arg();
        int32_t ret;
        if (bad({&s, &d})) return refused(invoke(call, {&s, &d}), kBadArg);
        if (huge(s)) {
            // Beyond the arithmetic limit a conversion may only fail (the text would pass
            // VN_MAX_BYTES, or the number VN_MAX_BITS) or stay in limits; the text of a number
            // within it would take seconds to check.
            if (radix && !over(s)) return;
#ifdef VORN_TESTING
            // Tens of millions of digits take seconds to read under the fuzzer's sanitizers:
            // only the seed replay converts them.
            if (!radix && b(s).find_first_not_of("0123456789") == std::string::npos) return;
#endif
            ret = invoke(call, {&s, &d});
            if (ret != VN_OK) {
                CHECK(ret == VN_FAIL);
                if (!radix && VN_GETGLOBALERROR() == VN_E_DECIMAL) {
                    check_rest({&d});
                    expect_number(d, 0);
                    return;
                }
                return refused(ret, E(VN_E_TOOBIG) | E(VN_E_NOMEMORY));
            }
            check_rest({&d});
            read_reg(base + d.idx);  // within the limits
            byte_form[d.idx] = radix != 0;
            return;
        }
        if (!cheap(s)) return;
        if (radix) {
            std::string text = v(s).get_str(radix);
            for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            CHECK(invoke(call, {&s, &d}) == VN_OK);
            check_rest({&d});
            expect_bytes(d, text);
            return;
        }
        mpz_class x;
        bool ok = parse_decimal(b(s), x);
        ret = invoke(call, {&s, &d});
        check_rest({&d});
        if (ok) {
            CHECK(ret == VN_OK);
            expect_number(d, x);
        } else {
            CHECK(ret == VN_FAIL);
            check_error(E(VN_E_DECIMAL));
            expect_number(d, 0);
        }
    }

    // VN_COPYREG and VN_SWAPREG: src (or a), dst (or b). Each works at every size, form included.
    void transfer(bool swap, Call call) {
        Arg s = reg_arg(), d = reg_arg();
        if (bad({&s, &d})) return refused(invoke(call, {&s, &d}), kBadArg);
        if (!huge(s) && !cheap(s)) return;
        CHECK(invoke(call, {&s, &d}) == VN_OK);
        check_rest({&s, &d});
        CHECK(read_reg(base + d.idx) == before[s.idx]);
        if (swap) CHECK(read_reg(base + s.idx) == before[d.idx]);
        bool f = byte_form[s.idx];
        if (swap) byte_form[s.idx] = byte_form[d.idx];
        byte_form[d.idx] = f;
    }

    void read_primes() {
        Arg n = int_arg(1, kMaxTable);
        if (n.null) return refused(VN_READPRIMES(nullptr), E(VN_E_ARGUMENT));
        int32_t want = n.num < 1 ? 1 : n.num;
        if (want > kMaxTable) return;  // a table that large is slow to use
        int32_t got = VN_READPRIMES(&n.num);
        CHECK(got == want);
        g_table = got;
        check_unchanged();
    }

    // The global error's life: set by a failure, kept by reading, cleared by VN_CLEARGLOBALERROR
    // (alone only: in a lane another thread's calls do not touch ours, but ours come and go).
    // The calls that cannot fail come along: VN_VERSION and VN_FREESTRING of null.
    void global_error() {
        CHECK(VN_VERSION() >= 100);
        if (solo) {
            CHECK(VN_GETGLOBALERROR() == VN_E_NONE);
            int32_t bad_reg = -1;
            CHECK(VN_ISZERO(&bad_reg) == VN_FAIL);
            CHECK(VN_GETGLOBALERROR() == VN_E_REGISTER);
            CHECK(VN_GETGLOBALERROR() == VN_E_REGISTER);  // reading does not clear it
            VN_CLEARGLOBALERROR();
            CHECK(VN_GETGLOBALERROR() == VN_E_NONE);
        }
        VN_FREESTRING(nullptr);
        check_unchanged();
    }

    // ---- Arithmetic and truth functions ----

    // nin operands, then nout destinations; ref gives what the call must do.
    void arith(int nin, int nout, Call call, void (*ref)(Ref &)) {
        Arg a[5];
        for (int i = 0; i < nin + nout; ++i) a[i] = reg_arg();
        auto go = [&] { return invoke(call, {&a[0], &a[1], &a[2], &a[3], &a[4]}); };
        // The slots beyond nin + nout name no register and are never bad.
        if (bad({&a[0], &a[1], &a[2], &a[3], &a[4]})) return refused(go(), kBadArg);
        bool any_over = false, all_cheap = true;
        for (int i = 0; i < nin; ++i) {
            any_over = any_over || over(a[i]);
            all_cheap = all_cheap && cheap(a[i]);
        }
        // An operand beyond VN_MAX_BITS: refused at once.
        if (any_over) return refused(go(), E(VN_E_TOOBIG) | E(VN_E_DIVZERO));
        if (!all_cheap) return;
        Ref want;
        want.x = v(a[0]);
        if (nin > 1) want.y = v(a[1]);
        if (nin > 2) want.m = v(a[2]);
        ref(want);
        if (want.skip) return;
        int32_t ret = go();
        if (want.fail) return refused(ret, want.fail, want.ret);
        CHECK(ret == VN_OK);
        Arg &d = a[nin], &d2 = a[nin + 1];  // d2 names no register when nout is 1
        check_rest({&d, &d2});
        if (nout == 1 || d.idx != d2.idx) expect_number(d, want.q);
        if (nout == 2) expect_number(d2, want.r);  // where the two coincide the later one wins
    }

    // skip bounds the operands where the reference would be slow; judge checks the answer,
    // which is 0 or 1.
    void truth(Shape shape, Call call, void (*judge)(Lane &, const Truth &, int32_t ret),
               bool (*skip)(Lane &, const Truth &) = nullptr) {
        Truth t;
        if (shape == COUNTED) t.cnt = int_arg(1, 40);
        t.a = reg_arg();
        t.c = shape == BINARY || shape == EQUALITY ? reg_arg() : t.a;
        auto go = [&] { return shape == COUNTED ? invoke(call, {&t.cnt, &t.a}) : invoke(call, {&t.a, &t.c}); };
        // A failure never reads as either answer.
        if (bad({&t.a, &t.c, &t.cnt})) return refused(go(), kBadArg);
        if (over(t.a) || over(t.c)) {
            // Refused at once, save by the rows that compare two byte-form registers by their
            // bytes (the snapshots only sample these: no verdict to check).
            if (shape == EQUALITY && byte_form[t.a.idx] && byte_form[t.c.idx]) return;
            return refused(go(), E(VN_E_TOOBIG));
        }
        if (!cheap(t.a) || !cheap(t.c)) return;
        t.x = v(t.a);
        t.y = v(t.c);
        t.rounds = t.cnt.num < 1 ? 1 : (t.cnt.num > VN_MAX_ROUNDS ? VN_MAX_ROUNDS : t.cnt.num);
        if (skip && skip(*this, t)) return;
        int32_t ret = go();
        if (crypto_failure(ret)) return;
        check_unchanged();
        CHECK(ret == 0 || ret == 1);
        judge(*this, t, ret);
    }

    // ---- Generators ----

    // VN_GENERATERANDOM (bits, d) and VN_GENERATEPRIME (bits, rounds, d).
    void generate(bool prime, Call call) {
        Arg n = prime ? int_arg(VN_MIN_PRIME_BITS, 192) : int_arg(1, 4096);
        Arg k = prime ? int_arg(1, 20) : Arg{};
        Arg d = reg_arg();
        auto go = [&] { return prime ? invoke(call, {&n, &k, &d}) : invoke(call, {&n, &d}); };
        int32_t lo = prime ? VN_MIN_PRIME_BITS : 1, hi = prime ? VN_MAX_PRIME_BITS : VN_MAX_RANDOM_BITS;
        bool range_bad = !n.null && (n.num < lo || n.num > hi);
        if (bad({&n, &k, &d}) || range_bad) return refused(go(), kBadArg | (range_bad ? E(VN_E_BITS) : 0));
        if (n.num > (prime ? 160 : 4096)) return;
        if (prime && ((k.num > 40 && n.num > 64) || slow_left-- <= 0)) return;
        int32_t ret = go();
        if (crypto_failure(ret)) return;
        CHECK(ret == VN_OK);
        check_rest({&d});
        Snap s = read_reg(base + d.idx);
        mpz_class x = number(s.data);
        CHECK(s.data == bytes_of(x));
        byte_form[d.idx] = false;
        if (prime) {
            CHECK(bits(x) == static_cast<size_t>(n.num));
            CHECK(probable_prime(x));
        } else {
            CHECK(s.len == (n.num + 7) / 8);
            CHECK(x != 0 && bits(x) <= static_cast<size_t>(n.num));
        }
    }

    // VN_GENERATERSAKEYS (bits, k, e, dk, n) and VN_INITBBS (bits, k, n, s).
    void keys(bool rsa_keys, Call call) {
        Arg n = rsa_keys ? int_arg(VN_MIN_RSA_BITS, 256) : int_arg(VN_MIN_BBS_BITS, 256);
        Arg k = int_arg(1, 8);
        int nout = rsa_keys ? 3 : 2;
        Arg d[3];
        for (int i = 0; i < nout; ++i) d[i] = reg_arg();
        auto go = [&] { return invoke(call, {&n, &k, &d[0], &d[1], &d[2]}); };  // INITBBS leaves d[2]
        int32_t lo = rsa_keys ? VN_MIN_RSA_BITS : VN_MIN_BBS_BITS;
        int32_t hi = rsa_keys ? VN_MAX_RSA_BITS : VN_MAX_BBS_BITS;
        bool range_bad = !n.null && (n.num < lo || n.num > hi);
        if (bad({&n, &k, &d[0], &d[1], &d[2]}) || range_bad)
            return refused(go(), kBadArg | (range_bad ? E(VN_E_BITS) : 0));
        if (n.num > 256 || slow_left-- <= 0) return;
        int32_t ret = go();
        if (crypto_failure(ret)) return;
        CHECK(ret == VN_OK);
        check_rest({&d[0], &d[1], &d[2]});  // INITBBS's d[2] names no register
        mpz_class out[3];
        for (int i = 0; i < nout; ++i) {
            std::string got = read_reg(base + d[i].idx).data;
            out[i] = number(got);
            CHECK(got == bytes_of(out[i]));  // number form
            byte_form[d[i].idx] = false;
        }
        // Where destinations coincide the later one wins: check what is left to see.
        if (rsa_keys) {
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
    }

    // VN_GENERATEBBSRANDOMBITS (len, multi, s, n, out, s2) and VN_GENERATERSARANDOMBITS
    // (len, s, e, n, out, s2).
    void bit_generator(bool rsa_bits, Call call) {
        Arg len = int_arg(1, 64);
        Arg multi = rsa_bits ? Arg{} : int_arg(0, 2);
        Arg s = reg_arg(), e = rsa_bits ? reg_arg() : Arg{};
        Arg n = reg_arg(), out = reg_arg(), s2 = reg_arg();
        auto go = [&] {
            return rsa_bits ? invoke(call, {&len, &s, &e, &n, &out, &s2})
                            : invoke(call, {&len, &multi, &s, &n, &out, &s2});
        };
        if (!rsa_bits) e = s;
        if (bad({&len, &multi, &s, &e, &n, &out, &s2})) return refused(go(), kBadArg | E(VN_E_BITS));
        if (!cheap(s) || !cheap(n) || !cheap(e)) return;
        mpz_class mod = v(n), x = v(s), ex = rsa_bits ? v(e) : mpz_class(2);
        unsigned allowed = 0;
        if (len.num < 1 || len.num > VN_MAX_GENERATE_BYTES) allowed |= E(VN_E_BITS);
        bool mod_bad = mod < 3 || mpz_even_p(mod.get_mpz_t()) || bits(mod) > VN_MAX_BBS_BITS;
        if (mod_bad) allowed |= E(VN_E_ARGUMENT);
        if (rsa_bits && (ex < 2 || bits(ex) > std::max<size_t>(bits(mod), 32))) allowed |= E(VN_E_ARGUMENT);
        if (!mod_bad) {
            x %= mod;
            if (x <= 1) allowed |= E(VN_E_ARGUMENT);
        }
        if (allowed) return refused(go(), allowed);
        unsigned j = (rsa_bits || multi.num == 1) ? bits_per_step(mod) : 1;
        size_t steps = (8 * static_cast<size_t>(len.num) + j - 1) / j;
        size_t limbs = (bits(mod) + 63) / 64;
        if (steps * bits(ex) * limbs * limbs > 400000) return;
        // A state whose orbit is constant from the first step may be refused as well, at
        // any exponent.
        mpz_class y, z;
        mpz_powm(y.get_mpz_t(), x.get_mpz_t(), ex.get_mpz_t(), mod.get_mpz_t());
        mpz_powm(z.get_mpz_t(), y.get_mpz_t(), ex.get_mpz_t(), mod.get_mpz_t());
        bool degenerate = y == z || x == mod - 1;
        int32_t ret = go();
        if (ret != VN_OK && degenerate) return refused(ret, E(VN_E_ARGUMENT));
        CHECK(ret == VN_OK);
        std::string want = generator_bytes(x, static_cast<size_t>(len.num), j, [&](mpz_class &t) {
            mpz_powm(t.get_mpz_t(), t.get_mpz_t(), ex.get_mpz_t(), mod.get_mpz_t());
        });
        check_rest({&out, &s2});
        if (out.idx != s2.idx) expect_bytes(out, want);
        expect_number(s2, x);
    }

    // ---- Ciphers and hash ----

    // VN_ENCRYPT_RSA (m, e, n, c) and VN_DECRYPT_RSA (c, dk, n, m): the same power, the same checks.
    void rsa(Call call) {
        Arg m = reg_arg(), e = reg_arg(), n = reg_arg(), c = reg_arg();
        auto go = [&] { return invoke(call, {&m, &e, &n, &c}); };
        if (bad({&m, &e, &n, &c})) return refused(go(), kBadArg);
        if (over(m) || over(e) || over(n)) {
            int32_t ret = go();
            CHECK(ret == VN_FAIL || ret == VN_STATUS_LENGTH4 || ret == VN_STATUS_RANGE);
            // A zero modulus may be reported before the size of the other operands.
            bool zero_modulus = cheap(n) && v(n) == 0;
            unsigned allowed = E(VN_E_TOOBIG) | E(VN_E_LENGTH4) | E(VN_E_RANGE);
            return refused(ret, allowed | (zero_modulus ? E(VN_E_DIVZERO) : 0u), ret);
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
        int32_t ret = go();
        if (allowed) {
            CHECK((ret == VN_FAIL && (allowed & E(VN_E_DIVZERO))) ||
                  (ret == VN_STATUS_LENGTH4 && len4) || (ret == VN_STATUS_RANGE && x >= mod));
            return refused(ret, allowed, ret);
        }
        CHECK(ret == VN_OK);
        mpz_class r;
        mpz_powm(r.get_mpz_t(), x.get_mpz_t(), ex.get_mpz_t(), mod.get_mpz_t());
        check_rest({&c});
        expect_number(c, r);
    }

    // The six AES functions: in, key, [iv,] out; the reference is OpenSSL's EVP.
    void aes_row(Mode mode, bool enc, Call call) {
        bool with_iv = mode == CBC && enc, one = mode == ONE;
        Arg p = reg_arg(), key = reg_arg(), iv = with_iv ? reg_arg() : Arg{}, c = reg_arg();
        if (!with_iv) iv = p;
        auto go = [&] { return with_iv ? invoke(call, {&p, &key, &iv, &c}) : invoke(call, {&p, &key, &c}); };
        if (bad({&p, &key, &iv, &c})) return refused(go(), kBadArg);
        if (len(p) > 65536 || !cheap(key) || !cheap(iv)) return;
        const std::string &src = b(p), &k = b(key);
        bool key_bad = k.size() != 16 && k.size() != 24 && k.size() != 32;
        // Statuses that may be reported, as a mask of return values 1 .. 3.
        unsigned statuses = 0, errors = 0;
        if (key_bad) { statuses |= 2; errors |= E(VN_E_KEYSIZE); }
        if (with_iv && len(iv) != 0 && len(iv) != 16) { statuses |= 4; errors |= E(VN_E_IVSIZE); }
        if (one && src.size() != 16) { statuses |= 4; errors |= E(VN_E_CIPHERTEXT); }
        if (!enc && !one && src.size() % 16 != 0) { statuses |= 4; errors |= E(VN_E_CIPHERTEXT); }
        std::string want;
        bool short_or_bad = false;
        if (!statuses && !enc) {
            size_t min = mode == CBC ? 32 : (mode == ECB ? 16 : 0);
            if (src.size() < min) short_or_bad = true;
            else if (mode == CBC)
                short_or_bad = !aes(true, false, true, k, src.substr(0, 16), src.substr(16), want);
            else
                short_or_bad = !aes(false, false, !one, k, "", src, want);
        }
        int32_t ret = go();
        if (with_iv && !statuses && crypto_failure(ret)) return;
        if (statuses) {
            CHECK(ret >= 1 && ret <= 2 && (statuses & (1u << ret)));
            return refused(ret, errors, ret);
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
        } else if (with_iv) {
            CHECK(out.data.size() >= 32 && out.data.size() % 16 == 0);
            std::string ivb = out.data.substr(0, 16), back;
            if (len(iv) == 16) CHECK(ivb == b(iv));
            CHECK(aes(true, false, true, k, ivb, out.data.substr(16), back));
            CHECK(back == src);
        } else {
            CHECK(aes(false, true, !one, k, "", src, want));
            CHECK(out.data == want);
        }
    }

    void hash() {
        Arg s = reg_arg(), d = reg_arg();
        if (bad({&s, &d})) return refused(VN_HASH_SHA_256(ptr(s), ptr(d)), kBadArg);
        if (len(s) > 65536) return;
        CHECK(VN_HASH_SHA_256(&s.num, &d.num) == VN_OK);
        check_rest({&d});
        expect_bytes(d, sha256(b(s)));
    }

    // One byte chooses the set of known-answer vectors.
    void vectors() {
        // One million "a" alone takes a tenth of a second: a few times a process is enough.
        static std::atomic<int> runs{0};
        if (runs++ > 8) return;
        CHECK((in.byte() & 1 ? VN_CHECKTESTVECTORS_AES() : VN_CHECKTESTVECTORS_SHA_256()) == 0);
        check_unchanged();
    }

    // The same hash and cipher calls over and over: with another thread doing the same, any
    // state the library shares between calls shows up as a wrong result.
    void hammer() {
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
    }

    // ---- Stopping work, and the fill ----

    // This thread asks itself to stop: a prime search, a generator run or a large power then
    // fails with VN_E_CANCELLED and changes nothing, until VN_WORKTOKEN takes the token again.
    void stopped() {
        Arg d = reg_arg(), s = reg_arg();
        int32_t token = VN_WORKTOKEN();
        CHECK(token > 0);
        CHECK(VN_STOPWORK(&token) == VN_OK);
        int32_t nbits = 64 + in.byte() * 2, rounds = 2, glen = 1 + in.byte(), multi = 1;
        int32_t ret;
        switch (in.byte() % 3) {
        case 0: ret = VN_GENERATEPRIME(&nbits, &rounds, ptr(d)); break;
        case 1: {
            int32_t bbs_n = base + s.idx;  // a state register may be anything: the checks come first
            ret = VN_GENERATEBBSRANDOMBITS(&glen, &multi, ptr(s), &bbs_n, ptr(d), ptr(s));
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
    }

    // A byte chooses the token (this thread's, or one no thread has) and which pointers are
    // null. Between calls this thread's work is idle.
    void progress() {
        uint8_t how = in.byte();
        bool mine = how % 8 < 4;
        int32_t token = mine ? VN_WORKTOKEN() : kNoThread[how % 4], stage = -2, permille = -2;
        int32_t ret = VN_WORKPROGRESS(how & 8 ? nullptr : &token, how & 16 ? nullptr : &stage,
                                      how & 32 ? nullptr : &permille);
        if (!mine || (how & 56)) return refused(ret, E(VN_E_ARGUMENT));
        CHECK(ret == VN_OK && stage == VN_STAGE_IDLE && permille >= -1 && permille <= 1000);
        check_unchanged();
    }

    // VN_STOPWORK of a token no thread has, or null.
    void stop_nobody() {
        int32_t token = kNoThread[in.byte() % 4];
        refused(VN_STOPWORK(in.byte() & 1 ? nullptr : &token), E(VN_E_ARGUMENT));
    }

    void fill() {
        Arg d = reg_arg();
        uint8_t how = in.byte();
        if (!solo || filled || !may_fill || bad({&d})) return;
        filled = true;
        fill_big(base + d.idx, (how & 2) && may_fill_full, how & 1);
        byte_form[d.idx] = true;
        check_rest({&d});
    }
};

// ---- The rows ---------------------------------------------------------------------------

// One row per opcode: its fixed number, the function it calls, and what it does. A new row
// takes the next free number; no row is ever renumbered or changes how it reads its bytes,
// so that a stored input keeps its meaning. VN_PUTREG has four rows (four ways to draw its
// value), the known-answer checks share one; VN_GETREG, VN_GETGLOBALERROR and VN_FREESTRING
// are also called by every check.
struct Row {
    uint8_t opcode;
    const char *name;
    void (*run)(Lane &);
};

// VN_ISPRIME_DIV: 0 exactly for a number below 2 or with a proper factor in the table.
void trial_division(Lane &lane, const Truth &t, int32_t ret) {
    if (t.x < 2) {
        CHECK(ret == 0);
        return;
    }
    if (!lane.solo) {  // the table may change under us: only what holds for every table
        if (probable_prime(t.x)) CHECK(ret == 1);
        return;
    }
    bool factor = false;
    for (int i = 0; i < g_table && !factor; ++i) {
        unsigned long q = g_primes[static_cast<size_t>(i)];
        factor = t.x != q && mpz_divisible_ui_p(t.x.get_mpz_t(), q);
    }
    CHECK(ret == !factor);
}
// The tests with random bases: 0, 1 and even numbers above 2 fail, a prime passes every base.
bool bases_slow(Lane &, const Truth &t) { return bits(t.x) > 1024 || (t.rounds > 40 && bits(t.x) > 64); }
void bases_judge(Lane &, const Truth &t, int32_t ret) {
    if (t.x < 2 || (t.x > 2 && mpz_even_p(t.x.get_mpz_t()))) CHECK(ret == 0);
    else if (probable_prime(t.x)) CHECK(ret == 1);
}

// The parts of a row written in place: its call on the argument pointers, an arithmetic
// row's reference, a truth row's bound on slow references and its verdict.
#define CALL(...) [](int32_t **p) { return __VA_ARGS__; }
#define REF(...) [](Ref &r) { __VA_ARGS__; }
#define SKIP(...) [](Lane &lane, const Truth &t) -> bool { (void)lane; return __VA_ARGS__; }
#define JUDGE(...) [](Lane &lane, const Truth &t, int32_t ret) { (void)lane; __VA_ARGS__; }

constexpr int kFill = 50;
const Row kRows[] = {
    {0, "VN_PUTREG", [](Lane &L) { L.put_bytes(); }},
    {1, "VN_PUTREG", [](Lane &L) { L.put_number(); }},
    {2, "VN_PUTREG", [](Lane &L) { L.put_text(); }},
    {3, "VN_PUTREG", [](Lane &L) { L.put_special(); }},
    {4, "VN_GETREG", [](Lane &L) { L.get_bad(); }},
    {5, "VN_DEC2HUGE", [](Lane &L) { L.convert(0, CALL(VN_DEC2HUGE(p[0], p[1]))); }},
    {6, "VN_HUGE2DEC", [](Lane &L) { L.convert(10, CALL(VN_HUGE2DEC(p[0], p[1]))); }},
    {7, "VN_HUGE2HEX", [](Lane &L) { L.convert(16, CALL(VN_HUGE2HEX(p[0], p[1]))); }},
    {8, "VN_COPYREG", [](Lane &L) { L.transfer(false, CALL(VN_COPYREG(p[0], p[1]))); }},
    {9, "VN_SWAPREG", [](Lane &L) { L.transfer(true, CALL(VN_SWAPREG(p[0], p[1]))); }},
    {10, "VN_READPRIMES", [](Lane &L) { L.read_primes(); }},
    {11, "VN_CLEARGLOBALERROR", [](Lane &L) { L.global_error(); }},

    {12, "VN_ADD", [](Lane &L) { L.arith(2, 1, CALL(VN_ADD(p[0], p[1], p[2])), REF(r.q = r.x + r.y)); }},
    {13, "VN_SUB", [](Lane &L) { L.arith(2, 1, CALL(VN_SUB(p[0], p[1], p[2])), REF(r.q = abs(r.x - r.y))); }},
    {14, "VN_MUL", [](Lane &L) { L.arith(2, 1, CALL(VN_MUL(p[0], p[1], p[2])), REF(r.q = r.x * r.y)); }},
    {15, "VN_MULBY2", [](Lane &L) { L.arith(1, 1, CALL(VN_MULBY2(p[0], p[1])), REF(r.q = 2 * r.x)); }},
    {16, "VN_DIVBY2", [](Lane &L) { L.arith(1, 2, CALL(VN_DIVBY2(p[0], p[1], p[2])), REF(r.q = r.x / 2; r.r = r.x % 2)); }},
    {17, "VN_DIV", [](Lane &L) {
         L.arith(2, 2, CALL(VN_DIV(p[0], p[1], p[2], p[3])), REF(
             if (r.y == 0) r.fail = E(VN_E_DIVZERO);
             else mpz_fdiv_qr(r.q.get_mpz_t(), r.r.get_mpz_t(), r.x.get_mpz_t(), r.y.get_mpz_t())));
     }},
    {18, "VN_MOD", [](Lane &L) {
         L.arith(2, 1, CALL(VN_MOD(p[0], p[1], p[2])), REF(if (r.y == 0) r.fail = E(VN_E_DIVZERO); else r.q = r.x % r.y));
     }},
    {19, "VN_POW", [](Lane &L) {
         L.arith(2, 1, CALL(VN_POW(p[0], p[1], p[2])), REF(
             if (r.x <= 1 || r.y == 0) { r.q = r.y == 0 ? mpz_class(1) : r.x; return; }
             // a^e has between (bits(a) - 1) * e + 1 and bits(a) * e bits.
             mpz_class lo = (bits(r.x) - 1) * r.y + 1, hi = bits(r.x) * r.y;
             if (lo > VN_MAX_BITS) r.fail = E(VN_E_TOOBIG);
             else if (hi > 65536) r.skip = true;  // allowed but slow to check
             else mpz_pow_ui(r.q.get_mpz_t(), r.x.get_mpz_t(), r.y.get_ui())));
     }},
    {20, "VN_POWMOD", [](Lane &L) {
         L.arith(3, 1, CALL(VN_POWMOD(p[0], p[1], p[2], p[3])), REF(
             if (r.m == 0) r.fail = E(VN_E_DIVZERO);
             else if (bits(r.y) > 1100 || bits(r.m) > 1100) r.skip = true;
             else mpz_powm(r.q.get_mpz_t(), r.x.get_mpz_t(), r.y.get_mpz_t(), r.m.get_mpz_t())));
     }},
    {21, "VN_GCD", [](Lane &L) { L.arith(2, 1, CALL(VN_GCD(p[0], p[1], p[2])), REF(r.q = gcd(r.x, r.y))); }},
    {22, "VN_MODINV", [](Lane &L) {
         L.arith(2, 1, CALL(VN_MODINV(p[0], p[1], p[2])), REF(
             if (r.y == 0) r.fail = E(VN_E_DIVZERO);
             else if (r.y == 1) r.q = 0;
             else if (mpz_invert(r.q.get_mpz_t(), r.x.get_mpz_t(), r.y.get_mpz_t()) == 0) {
                 r.fail = E(VN_E_NOINVERSE);
                 r.ret = VN_STATUS_NOINVERSE;
             }));
     }},

    {23, "VN_ISZERO", [](Lane &L) { L.truth(UNARY, CALL(VN_ISZERO(p[0])), JUDGE(CHECK(ret == (t.x == 0)))); }},
    {24, "VN_ISODD", [](Lane &L) { L.truth(UNARY, CALL(VN_ISODD(p[0])), JUDGE(CHECK(ret == mpz_odd_p(t.x.get_mpz_t())))); }},
    {25, "VN_ISEQUAL", [](Lane &L) {
         L.truth(EQUALITY, CALL(VN_ISEQUAL(p[0], p[1])), JUDGE(CHECK(ret == lane.equal_regs(t.a, t.c))));
     }},
    {26, "VN_ISNOTEQUAL", [](Lane &L) {
         L.truth(EQUALITY, CALL(VN_ISNOTEQUAL(p[0], p[1])), JUDGE(CHECK(ret == !lane.equal_regs(t.a, t.c))));
     }},
    {27, "VN_ISLESS", [](Lane &L) { L.truth(BINARY, CALL(VN_ISLESS(p[0], p[1])), JUDGE(CHECK(ret == (t.x < t.y)))); }},
    {28, "VN_ISRELPRIME",
     [](Lane &L) { L.truth(BINARY, CALL(VN_ISRELPRIME(p[0], p[1])), JUDGE(CHECK(ret == (gcd(t.x, t.y) == 1)))); }},
    {29, "VN_ISPRIME_DIV", [](Lane &L) { L.truth(UNARY, CALL(VN_ISPRIME_DIV(p[0])), trial_division, SKIP(bits(t.x) > 2048)); }},
    {30, "VN_ISPRIME_SLOW", [](Lane &L) {
         L.truth(UNARY, CALL(VN_ISPRIME_SLOW(p[0])), JUDGE(CHECK(ret == probable_prime(t.x))),
                 SKIP(bits(t.x) > 128 || (bits(t.x) > 64 && lane.slow_left-- <= 0)));
     }},
    {31, "VN_ISPRIME_F", [](Lane &L) { L.truth(COUNTED, CALL(VN_ISPRIME_F(p[0], p[1])), bases_judge, bases_slow); }},
    {32, "VN_ISPRIME_RB", [](Lane &L) { L.truth(COUNTED, CALL(VN_ISPRIME_RB(p[0], p[1])), bases_judge, bases_slow); }},

    {33, "VN_GENERATERANDOM", [](Lane &L) { L.generate(false, CALL(VN_GENERATERANDOM(p[0], p[1]))); }},
    {34, "VN_GENERATEPRIME", [](Lane &L) { L.generate(true, CALL(VN_GENERATEPRIME(p[0], p[1], p[2]))); }},
    {35, "VN_GENERATERSAKEYS", [](Lane &L) { L.keys(true, CALL(VN_GENERATERSAKEYS(p[0], p[1], p[2], p[3], p[4]))); }},
    {36, "VN_INITBBS", [](Lane &L) { L.keys(false, CALL(VN_INITBBS(p[0], p[1], p[2], p[3]))); }},
    {37, "VN_GENERATEBBSRANDOMBITS",
     [](Lane &L) { L.bit_generator(false, CALL(VN_GENERATEBBSRANDOMBITS(p[0], p[1], p[2], p[3], p[4], p[5]))); }},
    {38, "VN_GENERATERSARANDOMBITS",
     [](Lane &L) { L.bit_generator(true, CALL(VN_GENERATERSARANDOMBITS(p[0], p[1], p[2], p[3], p[4], p[5]))); }},

    {39, "VN_ENCRYPT_RSA", [](Lane &L) { L.rsa(CALL(VN_ENCRYPT_RSA(p[0], p[1], p[2], p[3]))); }},
    {40, "VN_DECRYPT_RSA", [](Lane &L) { L.rsa(CALL(VN_DECRYPT_RSA(p[0], p[1], p[2], p[3]))); }},
    {41, "VN_ENCRYPT_AES_CBC", [](Lane &L) { L.aes_row(CBC, true, CALL(VN_ENCRYPT_AES_CBC(p[0], p[1], p[2], p[3]))); }},
    {42, "VN_DECRYPT_AES_CBC", [](Lane &L) { L.aes_row(CBC, false, CALL(VN_DECRYPT_AES_CBC(p[0], p[1], p[2]))); }},
    {43, "VN_ENCRYPT_AES_ECB", [](Lane &L) { L.aes_row(ECB, true, CALL(VN_ENCRYPT_AES_ECB(p[0], p[1], p[2]))); }},
    {44, "VN_DECRYPT_AES_ECB", [](Lane &L) { L.aes_row(ECB, false, CALL(VN_DECRYPT_AES_ECB(p[0], p[1], p[2]))); }},
    {45, "VN_ENCRYPT_AES_1BLOCK", [](Lane &L) { L.aes_row(ONE, true, CALL(VN_ENCRYPT_AES_1BLOCK(p[0], p[1], p[2]))); }},
    {46, "VN_DECRYPT_AES_1BLOCK", [](Lane &L) { L.aes_row(ONE, false, CALL(VN_DECRYPT_AES_1BLOCK(p[0], p[1], p[2]))); }},
    {47, "VN_HASH_SHA_256", [](Lane &L) { L.hash(); }},
    {48, "VN_CHECKTESTVECTORS_AES, _SHA_256", [](Lane &L) { L.vectors(); }},
    {49, "VN_HASH_SHA_256, VN_ENCRYPT_AES_ECB repeated", [](Lane &L) { L.hammer(); }},
    {kFill, "VN_PUTREG beyond VN_MAX_BITS", [](Lane &L) { L.fill(); }},
    // Opcodes from here on are read only by number (flag bit 7).
    {51, "VN_STOPWORK, VN_WORKTOKEN", [](Lane &L) { L.stopped(); }},
    {52, "VN_WORKPROGRESS", [](Lane &L) { L.progress(); }},
    {53, "VN_STOPWORK", [](Lane &L) { L.stop_nobody(); }},
};
constexpr int kLegacyOps = 51;  // the stored seeds' reading: a byte modulo 51, rows 0 .. 50
constexpr int kOps = sizeof kRows / sizeof *kRows;

// The table lists the rows in opcode order, every number below kOps once.
void check_rows() {
    for (int i = 0; i < kOps; ++i) CHECK(kRows[i].opcode == i);
}

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
            std::fprintf(stderr, "lane %d opcode %d (%s): %.3f ms\n", base, current_op,
                         current_op >= 0 ? kRows[current_op].name : "none",
                         std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
}

// Inputs whose flag byte has bit 7 set read an opcode byte as the row's number (a number no
// row has yet ends the input). Inputs without it are read as the stored seeds were written:
// the byte modulo kLegacyOps, over the first rows only, which stay what they were.
void Lane::step() {
    int op = numbered ? in.byte() : in.byte() % kLegacyOps;
    if (op >= kOps) {
        ops_left = 0;
        return;
    }
    current_op = op;
    // After the fill every snapshot copies it: only a few more calls.
    if (filled && op != kFill && ops_left > 2) ops_left = 2;
    if (solo) VN_CLEARGLOBALERROR();
    snapshot();
    kRows[op].run(*this);
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
    check_rows();
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
        (void)draws;
#else
        // The library's test seams (its static copy only): flag 2 takes the portable two-limb
        // generator code, flag 4 makes the CSPRNG fail after as many draws as the next byte says.
        vn::testing::portable_two_limbs = (flags & 2) != 0;
        if (flags & 4) {
            a.rng_fails = true;
            g_draws_left = draws;
            vn::testing::random_source = failing_source;
        }
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
