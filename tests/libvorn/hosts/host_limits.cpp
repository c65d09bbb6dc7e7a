// A host under an address-space limit (ulimit -v) from 200 MiB up: a proof answers, either
// with the verdict or with VN_E_NOMEMORY, within a bounded time (ctest's timeout, and one
// minute per child here), and nothing appears on the host's standard error.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "host.h"

namespace {

// In a child with the limit set: loads the library and proves a 200-digit prime. Exit 0
// for "prime", 3 for VN_E_NOMEMORY, anything else is wrong.
[[noreturn]] void prove_under_limit(const char *file, rlim_t mib) {
    struct rlimit limit{mib << 20, mib << 20};
    if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(10);
    alarm(60);
    host::Library lib = host::load(file);
    mpz_t p;
    mpz_init(p);
    host::prime_of(p, 200, 31);
    host::put(lib, p, 1);
    int32_t r = 1;
    int32_t verdict = lib.is_prime_slow(&r);
    if (verdict == 1) std::_Exit(0);
    if (verdict == VN_FAIL && lib.global_error() == VN_E_NOMEMORY) std::_Exit(3);
    std::_Exit(11);
}

}  // namespace

int main(int argc, char **argv) {
    const char *file = argc > 1 ? argv[1] : VORN_LIBRARY_FILE;
    for (rlim_t mib : {200, 300, 400, 700}) {
        int err[2];
        host::check(pipe(err) == 0, "pipe");
        pid_t pid = fork();
        host::check(pid >= 0, "fork");
        if (pid == 0) {
            dup2(err[1], STDERR_FILENO);
            close(err[0]);
            close(err[1]);
            prove_under_limit(file, mib);
        }
        close(err[1]);
        std::string printed;
        char buffer[4096];
        for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;) printed.append(buffer, static_cast<size_t>(n));
        close(err[0]);
        int status = 0;
        host::check(waitpid(pid, &status, 0) == pid, "waitpid");
        int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::printf("RLIMIT_AS %lu MiB: %s, %zu bytes on standard error\n", static_cast<unsigned long>(mib),
                    code == 0 ? "prime" : code == 3 ? "VN_E_NOMEMORY" : ("wrong end " + std::to_string(code)).c_str(),
                    printed.size());
        if (!printed.empty()) std::printf("standard error: %s\n", printed.c_str());
        host::check(code == 0 || code == 3, "a proof under the limit neither answered nor reported no memory");
        host::check(printed.empty(), "the proof printed on the host's standard error");
    }
    return 0;
}
