// A host that proves, then forks: the child proves too, whether or not the parent proved
// before, and the parent still can after the child ended.
#include <sys/wait.h>
#include <unistd.h>

#include "host.h"

namespace {

// Runs a proof in a fresh child process; a child that hangs is ended after a minute.
void prove_in_child(const host::Library &lib, const char *what) {
    pid_t pid = fork();
    host::check(pid >= 0, "fork");
    if (pid == 0) {
        alarm(60);
        host::prove_both(lib, 200, 7);
        std::_Exit(0);
    }
    int status = 0;
    host::check(waitpid(pid, &status, 0) == pid, "waitpid");
    host::check(WIFEXITED(status) && WEXITSTATUS(status) == 0, what);
}

}  // namespace

int main(int argc, char **argv) {
    host::Library lib = host::load(argc > 1 ? argv[1] : VORN_LIBRARY_FILE);
    prove_in_child(lib, "a child of a parent that had not proved could not prove");
    for (int round = 0; round < 3; ++round) {
        host::prove_both(lib, 200, 11 + static_cast<unsigned long>(round));
        prove_in_child(lib, "a child of a parent that had proved could not prove");
    }
    host::prove_both(lib, 200, 3);
    std::puts("fork after proofs: every child proved");
    return 0;
}
