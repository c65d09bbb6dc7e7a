// vorn-prover: the helper program in which the library proves one number prime or
// composite. The library starts it for each proof above 2^64 (see prover.cpp), so PARI's
// state, stack, threads and warnings live and die with this process, never in the host's.
//
// Request on standard input, one line:   <method> <threads> <stack> <hexadecimal digits of n>
//   method 'f': n - 1 / n + 1 proofs, then PARI's ECPP, then FLINT's APR-CL if PARI fails;
//   method 'a': FLINT alone (for a retry after this program died, such as of memory);
//   threads: how many PARI may use; stack: the most bytes PARI's stack may take, 0 for
//   what fits (tests give a small one).
// Answer on standard output, one letter: 'P' prime, 'C' composite, 'F' no verdict.
// n must be odd, above 2^64, and have passed BPSW.
//
// It also runs one computation whole, which the library would otherwise take in pieces so
// that a stop could come in between (see offload.cpp). Request: one letter, then parts up to
// the end of input, each an 8-byte length (host order) and that many bytes; numbers as their
// limbs, least significant first:
//   'm' base exponent modulus: base^exponent mod modulus (mpz_powm);
//   's' the same by mpz_powm_sec, side-channel resistant (odd modulus, exponent > 0);
//   'd' x: the decimal digits of x;  'n' digits: the number they spell.
// Answer: 'R' and the result as one part.
#include <fcntl.h>
#include <flint/aprcl.h>
#include <flint/fmpz.h>
#include <gmp.h>
#include <malloc.h>
#include <pari/pari.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "job_parts.h"

namespace {

constexpr size_t kMiB = size_t{1} << 20;

// ---- n - 1 / n + 1 proofs ----------------------------------------------------------------

// The part of m made of the given primes, each to its full power in m.
void factored_part(fmpz_t F, const fmpz_t m, const std::vector<mp_limb_t> &primes, slong count) {
    fmpz_t rest;
    fmpz_init_set(rest, m);
    fmpz_one(F);
    for (slong i = 0; i < count; ++i) {
        while (fmpz_divisible_si(rest, static_cast<slong>(primes[i]))) {
            fmpz_divexact_ui(rest, rest, primes[i]);
            fmpz_mul_ui(F, F, primes[i]);
        }
    }
    fmpz_clear(rest);
}

// Pocklington (n - 1) and Morrison (n + 1) proofs from the small prime factors of n -/+ 1:
// they settle numbers of special form, such as Mersenne numbers, in milliseconds. Each runs
// only when its factored part is large enough to prove, so that a number of no special form
// loses no time here. 1 prime, 0 composite, -1 undecided.
int prove_by_n_plus_minus_1(const fmpz_t n) {
    constexpr ulong kTrialLimit = ulong{1} << 20;
    std::vector<mp_limb_t> factors(fmpz_bits(n) + 2);  // distinct primes of n -/+ 1: fewer than its bits
    slong count = 0;
    fmpz_t F, R, m, square;
    fmpz_init(F);
    fmpz_init(R);
    fmpz_init(m);
    fmpz_init(square);
    int verdict = -1;

    _fmpz_nm1_trial_factors(n, factors.data(), &count, kTrialLimit);
    fmpz_sub_ui(m, n, 1);
    factored_part(F, m, factors, count);
    fmpz_mul(square, F, F);
    if (fmpz_cmp(square, n) >= 0) {
        // F >= sqrt(n): Pocklington's theorem proves n prime when every factor passes.
        // The test recomputes F; the proof holds only for the F it used.
        if (!fmpz_is_prime_pocklington(F, R, n, factors.data(), count)) verdict = 0;
        else if (fmpz_mul(square, F, F), fmpz_cmp(square, n) >= 0) verdict = 1;
    } else {
        count = 0;
        _fmpz_np1_trial_factors(n, factors.data(), &count, kTrialLimit);
        fmpz_add_ui(m, n, 1);
        factored_part(F, m, factors, count);
        fmpz_sub_ui(square, F, 1);
        fmpz_mul(square, square, square);
        // F - 1 > sqrt(n): Morrison's theorem proves n prime when every factor passes.
        if (fmpz_cmp(square, n) > 0) {
            if (!fmpz_is_prime_morrison(F, R, n, factors.data(), count)) verdict = 0;
            else if (fmpz_sub_ui(square, F, 1), fmpz_mul(square, square, square), fmpz_cmp(square, n) > 0)
                verdict = 1;
        }
    }
    fmpz_clear(F);
    fmpz_clear(R);
    fmpz_clear(m);
    fmpz_clear(square);
    return verdict;
}

// ---- PARI ------------------------------------------------------------------------------

// How much PARI may take, from the address-space limit this process inherited: its main
// stack, and how many worker threads with stacks of their own. Without a limit the stacks
// are reserved generously (address space only: PARI maps them without committing memory)
// so that they never need to grow. Under a limit everything must fit beside the program
// and libraries (about 60 MiB with glibc's malloc arenas held to one per thread).
struct PariBudget {
    size_t stack = 0, stack_max = 0, thread_stack_max = 0;
    long threads = 1;
};

PariBudget pari_budget(long threads, size_t stack_limit) {
    PariBudget b;
    b.threads = threads;
    if (stack_limit > 0) {
        b.stack = b.stack_max = b.thread_stack_max = stack_limit;
        return b;
    }
    struct rlimit limit {};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        b.stack = 32 * kMiB;
        b.stack_max = size_t{1} << 30;
        b.thread_stack_max = 256 * kMiB;
        return b;
    }
    size_t total = limit.rlim_cur;
    size_t spare = total > 80 * kMiB ? total - 80 * kMiB : 0;
    b.stack_max = std::min(spare / 3, size_t{1} << 30);
    b.stack = std::min(b.stack_max, 16 * kMiB);
    // Each worker: its PARI stack, an 8 MiB thread stack and some heap.
    b.thread_stack_max = std::min(spare / 3 / static_cast<size_t>(std::max(threads, 1L)), 256 * kMiB);
    long fit = static_cast<long>((spare - b.stack_max) / (b.thread_stack_max + 16 * kMiB));
    b.threads = std::max(1L, std::min(threads, fit));
    return b;
}

void start_pari(const PariBudget &b) {
    // No signal handlers (this process keeps the default ones), and GMP's allocator is left
    // to GMP, which FLINT shares.
    pari_init_opts(b.stack, 1u << 20, INIT_DFTm | INIT_noINTGMPm);
    paristack_setsize(b.stack, b.stack_max);
    DEBUGMEM = 0;  // no notes when the stack grows
    std::string size = std::to_string(b.thread_stack_max);
    sd_threadsizemax(size.c_str(), d_SILENT);
    std::string count = std::to_string(b.threads);
    sd_nbthreads(count.c_str(), d_SILENT);
}

// 1 prime, 0 composite, -1 when PARI failed (out of stack or memory, or any other error).
int pari_ecpp(const std::string &hex, long threads, size_t stack_limit) {
    start_pari(pari_budget(threads, stack_limit));
    std::string text = "0x" + hex;
    volatile int verdict = -1;
    pari_CATCH(CATCH_ALL) {
        verdict = -1;
    }
    pari_TRY {
        // Elliptic-curve primality proving: the fastest exact method at hand for numbers of
        // a few hundred digits and more.
        verdict = isprimeECPP(gp_read_str(text.c_str())) ? 1 : 0;
    }
    pari_ENDCATCH;
    return verdict;
}

// ---- request and answer ----------------------------------------------------------------

// Appends standard input to in up to its end or, with up_to_line, until a read ends a line.
bool read_input(std::string &in, bool up_to_line) {
    char buffer[1 << 16];
    for (;;) {
        ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return !up_to_line || (!in.empty() && in.back() == '\n');
        in.append(buffer, static_cast<size_t>(got));
        if (up_to_line && in.back() == '\n') return true;
    }
}

void write_all(const char *data, size_t len) {
    while (len > 0) {
        ssize_t n = write(STDOUT_FILENO, data, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        len -= static_cast<size_t>(n);
    }
}

void answer(char letter) { write_all(&letter, 1); }

// ---- whole computations ----------------------------------------------------------------

bool next_number(const std::string &in, size_t &pos, mpz_ptr x) {
    size_t at, len;
    return vn::job::take_part(in, pos, at, len) && vn::job::number_from_part(x, in.data() + at, len);
}

void answer_part(const char *data, size_t len) {
    std::string head(1, 'R');
    vn::job::put_length(head, len);
    write_all(head.data(), head.size());
    write_all(data, len);
}

void answer_number(mpz_srcptr x) {
    std::string out(1, 'R');
    vn::job::put_number(out, x);
    write_all(out.data(), out.size());
}

int compute(char kind) {
    // A secure power's exponent is a key: no core dump of this process.
    if (kind == 's') prctl(PR_SET_DUMPABLE, 0);
    std::string in;
    if (!read_input(in, false)) return 2;
    size_t pos = 0;
    mpz_t x, e, m;
    mpz_inits(x, e, m, nullptr);
    if (kind == 'm' || kind == 's') {
        if (!next_number(in, pos, x) || !next_number(in, pos, e) || !next_number(in, pos, m) || mpz_cmp_ui(m, 1) <= 0)
            return 2;
        if (kind == 's' && (mpz_even_p(m) || mpz_sgn(e) <= 0)) return 2;
        std::memset(in.data(), 0, in.size());
        if (kind == 's') mpz_powm_sec(x, x, e, m);
        else mpz_powm(x, x, e, m);
        answer_number(x);
    } else if (kind == 'd') {
        if (!next_number(in, pos, x)) return 2;
        std::string text(mpz_sizeinbase(x, 10) + 1, '\0');
        mpz_get_str(text.data(), 10, x);
        answer_part(text.data(), std::strlen(text.c_str()));
    } else {
        size_t at, len;
        if (!vn::job::take_part(in, pos, at, len) || len == 0 || pos != in.size()) return 2;
        in.push_back('\0');  // the digits are the last part
        if (mpz_set_str(x, in.data() + at, 10) != 0) return 2;
        answer_number(x);
    }
    return 0;
}

}  // namespace

int main() {
    // Ends with the library's thread that waits for it, should that thread's process die;
    // then the request below reads an end of file.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // Nothing of the host's but the request and answer pipe: descriptors it left inheritable
    // would otherwise stay open as long as the proof runs.
    close_range(3, ~0u, 0);
    std::signal(SIGPIPE, SIG_IGN);

    char first = 0;
    ssize_t got;
    while ((got = read(STDIN_FILENO, &first, 1)) < 0 && errno == EINTR) {
    }
    if (got != 1) return 2;
    if (first == 'm' || first == 's' || first == 'd' || first == 'n') return compute(first);
    std::string request(1, first);
    if (first != '\n' && !read_input(request, true)) return 2;
    char method = 0;
    long threads = 0;
    unsigned long long stack_limit = 0;
    int consumed = 0;
    if (std::sscanf(request.c_str(), "%c %ld %llu %n", &method, &threads, &stack_limit, &consumed) != 3 ||
        consumed <= 0)
        return 2;
    std::string hex = request.substr(static_cast<size_t>(consumed));
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == ' ')) hex.pop_back();
    threads = std::clamp(threads, 1L, 1024L);
    // PARI reads the number as a GP expression: hexadecimal digits only.
    if (hex.empty() || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return 2;

    struct rlimit limit {};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        mallopt(M_ARENA_MAX, 1);  // each arena reserves 64 MiB of address space

    fmpz_t n;
    fmpz_init(n);
    if (fmpz_set_str(n, hex.c_str(), 16) != 0 || fmpz_cmp_ui(n, 3) < 0 || fmpz_is_even(n)) return 2;
    int verdict = -1;
    // A number that fails BPSW is proven composite. The library sends none, but PARI's ECPP
    // would spend many seconds on a composite (21 s on a 72-bit Carmichael number).
    mpz_t m;
    mpz_init(m);
    fmpz_get_mpz(m, n);
    if (mpz_probab_prime_p(m, 0) == 0) verdict = 0;
    mpz_clear(m);
    if (verdict < 0 && method == 'f') {
        verdict = prove_by_n_plus_minus_1(n);
        if (verdict < 0) verdict = pari_ecpp(hex, threads, static_cast<size_t>(stack_limit));
    }
    if (verdict < 0) verdict = fmpz_is_prime(n);  // FLINT's n -/+ 1 proofs and APR-CL
    answer(verdict == 1 ? 'P' : verdict == 0 ? 'C' : 'F');
    return 0;
}
