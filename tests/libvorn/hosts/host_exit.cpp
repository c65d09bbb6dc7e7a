// A host that ends while other threads are inside library calls: exit() or a return from
// main never crashes, corrupts memory or hangs. And at a normal exit the registers are
// wiped: the host's own GMP memory functions (set before the first call, as GMP allows)
// see the register's limbs freed, and zeroed first.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "host.h"

namespace {

using Binary = int32_t (*)(int32_t *, int32_t *, int32_t *);
using Prime = int32_t (*)(int32_t *, int32_t *, int32_t *);
using Cipher = int32_t (*)(int32_t *, int32_t *, int32_t *, int32_t *);
using Unary = int32_t (*)(int32_t *, int32_t *);

// Threads that call the library until the process ends: short GMP calls, AES and SHA-256,
// prime searches and exact proofs. A result that comes back VN_OK must be right; failures
// are allowed once the process is ending.
[[noreturn]] void run_child(const host::Library &lib, int round) {
    alarm(30);
    Binary add = nullptr, mul = nullptr;
    Prime prime = nullptr;
    Cipher cbc = nullptr;
    Unary sha = nullptr;
    host::symbol(lib.handle, add, "VN_ADD");
    host::symbol(lib.handle, mul, "VN_MUL");
    host::symbol(lib.handle, prime, "VN_GENERATEPRIME");
    host::symbol(lib.handle, cbc, "VN_ENCRYPT_AES_CBC");
    host::symbol(lib.handle, sha, "VN_HASH_SHA_256");
    // The library has been in use before (its first call sets up OpenSSL, which an exit in
    // the middle of would catch half done, whoever set it up).
    int32_t one = 1;
    host::check(add(&one, &one, &one) == VN_OK, "VN_ADD");
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int32_t i = 0;; i = (i + 1) % 8) {
            int32_t a = 20 + i, b = 30 + i, d = 40 + i;
            add(&a, &b, &d);
            mul(&a, &b, &d);
        }
    });
    threads.emplace_back([&] {
        for (;;) {
            int32_t p = 50, k = 51, iv = 52, c = 53, h = 54;
            cbc(&p, &k, &iv, &c);
            sha(&c, &h);
        }
    });
    threads.emplace_back([&] {
        for (;;) {
            int32_t bits = 1024, rounds = 5, d = 60;
            prime(&bits, &rounds, &d);
        }
    });
    threads.emplace_back([&] {
        for (unsigned long k = 0;; ++k) {
            mpz_t p;
            mpz_init(p);
            host::prime_of(p, 60, k);
            std::string bytes((mpz_sizeinbase(p, 2) + 7) / 8, '\0');
            mpz_export(bytes.data(), nullptr, -1, 1, 0, 0, p);
            VN_STRING s{bytes.data(), static_cast<int32_t>(bytes.size())};
            int32_t r = 70;
            if (lib.putreg(&s, &r) != VN_OK) continue;  // the process is ending
            int32_t v = lib.is_prime_slow(&r);
            if (v == 0) std::_Exit(5);  // a prime called composite: something is corrupt
            mpz_clear(p);
        }
    });
    for (auto &t : threads) t.detach();
    usleep(static_cast<useconds_t>(2000 + 3000 * (round % 7)));
    std::exit(0);  // what a return from main does too
}

// ---- the wipe at exit --------------------------------------------------------------------

std::atomic<bool> g_exiting{false};
std::atomic<int> g_big_frees{0};
std::atomic<bool> g_pattern_freed{false};
constexpr size_t kLimbs = 512;
constexpr mp_limb_t kPattern = 0xA5C3A5C3A5C3A5C3ull;

void counting_free(void *p, size_t size) {
    if (g_exiting && size >= kLimbs * sizeof(mp_limb_t)) {
        ++g_big_frees;
        auto *limbs = static_cast<mp_limb_t *>(p);
        for (size_t i = 0; i < size / sizeof(mp_limb_t); ++i)
            if (limbs[i] == kPattern) g_pattern_freed = true;
    }
    std::free(p);
}

void *plain_alloc(size_t n) { return std::malloc(n); }
void *plain_realloc(void *p, size_t, size_t n) { return std::realloc(p, n); }

void verdict_at_the_end() {
    if (g_pattern_freed) std::_Exit(3);  // a register's number was freed without a wipe
    if (g_big_frees == 0) std::_Exit(4);  // the register was never freed, so never wiped
}

void mark_exiting() { g_exiting = true; }

[[noreturn]] void run_wipe_child(const char *file) {
    alarm(30);
    // Before the library is loaded and called: GMP's rule.
    mp_set_memory_functions(plain_alloc, plain_realloc, counting_free);
    std::atexit(verdict_at_the_end);  // runs after the library's own handler
    host::Library lib = host::load(file);
    Binary add = nullptr;
    host::symbol(lib.handle, add, "VN_ADD");
    std::string bytes(kLimbs * sizeof(mp_limb_t), '\0');
    for (size_t i = 0; i < kLimbs; ++i) std::memcpy(&bytes[i * sizeof(mp_limb_t)], &kPattern, sizeof kPattern);
    VN_STRING s{bytes.data(), static_cast<int32_t>(bytes.size())};
    int32_t r = 80, zero = 81, d = 82;
    host::check(lib.putreg(&s, &r) == VN_OK, "VN_PUTREG");
    host::check(add(&r, &zero, &d) == VN_OK, "VN_ADD");  // register 82 holds the pattern as a number
    std::atexit(mark_exiting);  // runs before the library's handler
    std::exit(0);
}

}  // namespace

int main(int argc, char **argv) {
    const char *file = argc > 1 ? argv[1] : VORN_LIBRARY_FILE;
    host::Library lib = host::load(file);
    if (argc > 2) run_child(lib, std::atoi(argv[2]));  // one round in this process, for a debugger
    int crashed = 0;
    const int rounds = 40;
    for (int round = 0; round < rounds; ++round) {
        pid_t pid = fork();
        host::check(pid >= 0, "fork");
        if (pid == 0) run_child(lib, round);
        int status = 0;
        host::check(waitpid(pid, &status, 0) == pid, "waitpid");
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            ++crashed;
            std::fprintf(stderr, "round %d: %s %d\n", round, WIFEXITED(status) ? "exit" : "signal",
                         WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
        }
    }
    if (crashed) host::fail("exit while other threads were inside calls crashed or hung");
    pid_t pid = fork();
    host::check(pid >= 0, "fork");
    if (pid == 0) run_wipe_child(file);
    int status = 0;
    host::check(waitpid(pid, &status, 0) == pid, "waitpid");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "wipe child: %s %d\n", WIFEXITED(status) ? "exit" : "signal",
                     WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    host::check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the registers were not wiped at exit");
    std::printf("exit during calls: %d of %d rounds clean; registers wiped at exit\n", rounds - crashed, rounds);
    return 0;
}
