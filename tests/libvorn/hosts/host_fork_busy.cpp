// A host that forks while another of its threads is inside library calls: every child can
// call the library at once (no lock inherited in mid-call), and the parent goes on.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "host.h"

namespace {

using Binary = int32_t (*)(int32_t *, int32_t *, int32_t *);
using Unary = int32_t (*)(int32_t *, int32_t *);

std::atomic<bool> g_done{false};

}  // namespace

int main(int argc, char **argv) {
    host::Library lib = host::load(argc > 1 ? argv[1] : VORN_LIBRARY_FILE);
    Binary mul = nullptr, add = nullptr;
    Unary sha = nullptr;
    host::symbol(lib.handle, mul, "VN_MUL");
    host::symbol(lib.handle, add, "VN_ADD");
    host::symbol(lib.handle, sha, "VN_HASH_SHA_256");
    mpz_t x;
    mpz_init(x);
    mpz_ui_pow_ui(x, 7, 40000);  // about 112,000 bits: each product holds the lock a while
    host::put(lib, x, 10);
    // The busy thread multiplies without a pause, so a fork nearly always meets it inside a
    // call.
    std::thread busy([&] {
        int32_t a = 10, d = 11;
        while (!g_done.load()) host::check(mul(&a, &a, &d) == VN_OK, "VN_MUL in the busy thread");
    });
    for (int round = 0; round < 20; ++round) {
        usleep(2000);
        pid_t pid = fork();
        host::check(pid >= 0, "fork");
        if (pid == 0) {
            alarm(20);  // a child that hangs on an inherited lock is ended and counted
            int32_t a = 10, d = 12, r = 13;
            if (add(&a, &a, &d) != VN_OK || mul(&a, &a, &d) != VN_OK || sha(&d, &r) != VN_OK) std::_Exit(2);
            host::prove_both(lib, 30, 5);  // below and just above 2^64
            std::_Exit(0);
        }
        int status = 0;
        host::check(waitpid(pid, &status, 0) == pid, "waitpid");
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "child of round %d: %s %d\n", round, WIFEXITED(status) ? "exit" : "signal",
                         WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
            host::fail("a child forked while a thread was inside a call could not use the library");
        }
    }
    g_done = true;
    busy.join();
    mpz_clear(x);
    std::puts("fork during calls: every child called the library");
    return 0;
}
