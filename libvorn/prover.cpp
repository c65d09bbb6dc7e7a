// Exact primality proofs, run in a helper process (vorn-prover, prover_main.cpp) that the
// library starts for each proof and ends with it. PARI, which proves with ECPP, keeps
// process-wide state, starts threads and prints warnings; in a process of its own none of
// that meets the host's process: the host may fork, exit, unload the library or run PARI
// itself at any time, and proofs from several threads run side by side. Where the helper
// cannot be started, FLINT proves the number in the calling thread instead. The same program
// runs the long computations of offload.cpp (run_job), one process per computation.
#include <dlfcn.h>
#include <fcntl.h>
#include <flint/fmpz.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "internal.h"
#include "prover.h"

namespace vn {
namespace {

constexpr int32_t kStageProof = 5;  // VN_STAGE_PROOF

// ---- finding the helper -----------------------------------------------------------------

// VORN_PROVER names the helper program when set (ignored in set-user-id programs); else it
// is vorn/vorn-prover beside the library file, where both the build and the install put it.
// Tests that link the library's objects statically set VORN_PROVER (their ctest
// environment). Looked up for each proof (microseconds beside the start of a process).
std::string find_helper() {
    if (const char *path = secure_getenv("VORN_PROVER"); path && *path) return path;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&find_helper), &info) && info.dli_fname) {
        std::string library = info.dli_fname;
        size_t slash = library.rfind('/');
        std::string folder = slash == std::string::npos ? "." : library.substr(0, slash);
        std::string beside = folder + "/vorn/vorn-prover";
        if (access(beside.c_str(), X_OK) == 0) return beside;
    }
    return {};
}

// PARI's own thread engine, measured on two cores, made a single proof slower than one thread
// (it starts hundreds of short-lived threads and nearly doubles the CPU time), so a proof
// takes one thread unless VORN_PROOF_THREADS asks for more, up to the CPUs this process may
// run on. Proofs from several threads of the host run side by side in helpers of their own.
long proof_threads(const ProofControl &control) {
    if (control.threads > 0) return control.threads;
    long cpus = 1;
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) cpus = CPU_COUNT(&set);
    long count = 1;
    if (const char *wanted_text = secure_getenv("VORN_PROOF_THREADS")) {
        char *end = nullptr;
        long wanted = std::strtol(wanted_text, &end, 10);
        if (end != wanted_text && *end == '\0' && wanted >= 1) count = wanted < cpus ? wanted : cpus;
    }
    return count < 1 ? 1 : count;
}

// ---- running the helper -------------------------------------------------------------------

enum class Run { prime, composite, undecided, died, stopped, not_started };

bool stop_requested(const ProofControl &control) {
    return control.stop && control.stop->load(std::memory_order_relaxed);
}

// Ends the helper at once and reaps it: true when it had exited on its own (rather than
// been killed by a signal, or reaped by someone else).
bool end_helper(pid_t pid) {
    kill(pid, SIGKILL);
    int status = 0;
    pid_t reaped;
    while ((reaped = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    return reaped == pid && WIFEXITED(status);
}

// Starts the helper with its standard input and output on one end of a socket pair (a
// socket, so that a write to a helper that died is an error and not SIGPIPE for the host)
// and its standard error on /dev/null; its signal mask and dispositions are the defaults.
pid_t start_helper(const std::string &path, int child_end) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_adddup2(&actions, child_end, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, child_end, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char *argv[] = {const_cast<char *>("vorn-prover"), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ) != 0) pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool send_all(int fd, const char *data, size_t len) {
    size_t sent = 0;
    while (sent < len) {
        ssize_t n = send(fd, data + sent, len - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool send_all(int fd, const std::string &text) { return send_all(fd, text.data(), text.size()); }

// Waits for the helper's one-letter answer, checking for a stop every few milliseconds.
// 0 when the helper closed its end without answering.
char await_answer(int fd, const ProofControl &control, bool &stopped) {
    for (;;) {
        if (stop_requested(control)) {
            stopped = true;
            return 0;
        }
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, 10);
        if (ready < 0 && errno != EINTR) return 0;
        if (ready <= 0) continue;
        char letter = 0;
        ssize_t got = read(fd, &letter, 1);
        if (got < 0 && errno == EINTR) continue;
        return got == 1 ? letter : 0;
    }
}

// Starts the helper with one end of a new socket pair as its input and output; ends[0] is
// ours. -1 (and nothing left open) when no helper could start.
pid_t start_connected_helper(int ends[2]) {
    std::string path = find_helper();
    if (path.empty()) return -1;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return -1;
    pid_t pid = start_helper(path, ends[1]);
    close(ends[1]);
    if (pid < 0) close(ends[0]);
    return pid;
}

// One proof in one helper process: method 'f' (all methods) or 'a' (FLINT alone).
Run run_helper(mpz_srcptr n, char method, const ProofControl &control) {
    int ends[2];
    pid_t pid = start_connected_helper(ends);
    if (pid < 0) return Run::not_started;
    std::string request = std::string(1, method) + " " + std::to_string(proof_threads(control)) + " " +
                          std::to_string(control.pari_stack_limit) + " ";
    size_t digits_at = request.size();
    request.resize(digits_at + mpz_sizeinbase(n, 16) + 1);
    mpz_get_str(request.data() + digits_at, 16, n);
    request.resize(std::strlen(request.c_str()));
    request += '\n';
    bool stopped = false;
    char letter = send_all(ends[0], request) ? await_answer(ends[0], control, stopped) : 0;
    wipe(request);
    close(ends[0]);
    if (stopped) {
        end_helper(pid);
        return Run::stopped;
    }
    if (letter == 0) {
        // A helper that exits without an answer cannot work here (a program of another
        // version, a missing library); one that a signal ended most likely ran out of memory.
        return end_helper(pid) ? Run::not_started : Run::died;
    }
    // The answer is in: the helper exits on its own. A host that reaps every child itself
    // (or ignores SIGCHLD) may have taken it already, hence no check of the result.
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return letter == 'P' ? Run::prime : letter == 'C' ? Run::composite : Run::undecided;
}

// Reads the helper's whole answer (up to its end of file) into answer[0, max), checking for a
// stop every few milliseconds. false when stopped or when the answer would not fit.
bool read_answer(int fd, std::string &answer, size_t max, const std::atomic<bool> *stop, bool &stopped) {
    answer.assign(max, '\0');
    size_t got_total = 0;
    for (;;) {
        if (stop && stop->load(std::memory_order_relaxed)) {
            stopped = true;
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, 10);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        if (got_total == max) {
            // Room for nothing more: only the end of file may follow.
            char extra;
            ssize_t n = read(fd, &extra, 1);
            if (n < 0 && errno == EINTR) continue;
            answer.resize(got_total);
            return n == 0;
        }
        ssize_t n = read(fd, answer.data() + got_total, max - got_total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            answer.resize(got_total);
            return true;
        }
        got_total += static_cast<size_t>(n);
    }
}

// FLINT in the calling thread: its n - 1 / n + 1 proofs and APR-CL. FLINT keeps caches per
// thread that the end of a thread does not release, so they are released here.
ProofResult prove_in_this_thread(mpz_srcptr n) {
    fmpz_t f;
    fmpz_init(f);
    fmpz_set_mpz(f, n);
    int verdict = fmpz_is_prime(f);
    fmpz_clear(f);
    flint_cleanup();
    return verdict == 1 ? ProofResult::prime : verdict == 0 ? ProofResult::composite : ProofResult::failed;
}

}  // namespace

JobResult run_job(const std::string &head, const char *body, size_t body_len, std::string &answer, size_t max_answer,
                  const std::atomic<bool> *stop) {
    if (g_seams.no_helper_jobs.load(std::memory_order_relaxed)) return JobResult::not_run;
    int ends[2];
    pid_t pid = start_connected_helper(ends);
    if (pid < 0) return JobResult::not_run;
    // The helper reads the whole request before it answers, so sending all first cannot
    // block for good; the end of the request is the end of its input.
    bool sent = send_all(ends[0], head) && send_all(ends[0], body, body_len);
    shutdown(ends[0], SHUT_WR);
    bool stopped = false;
    bool complete = sent && read_answer(ends[0], answer, max_answer, stop, stopped);
    close(ends[0]);
    if (stopped || !complete) {
        end_helper(pid);
        return stopped ? JobResult::stopped : JobResult::not_run;
    }
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return JobResult::done;
}

ProofResult prove_prime(mpz_srcptr n, const ProofControl &control) {
    if (control.stage) control.stage->store(kStageProof);
    if (control.permille) control.permille->store(-1);
    // The seam for FLINT alone (testing.h); no context reaches here, so the default is read.
    if (g_seams.flint_fallback.load(std::memory_order_relaxed)) return prove_in_this_thread(n);
    // A helper that dies without an answer most likely ran out of memory (an address-space
    // limit, PARI's threads): FLINT alone, which needs far less, gets a second try.
    for (char method : {'f', 'a'}) {
        switch (run_helper(n, method, control)) {
            case Run::prime: return ProofResult::prime;
            case Run::composite: return ProofResult::composite;
            case Run::stopped: return ProofResult::stopped;
            case Run::not_started: return prove_in_this_thread(n);
            case Run::undecided: return ProofResult::failed;
            case Run::died: break;
        }
    }
    return ProofResult::no_memory;
}

}  // namespace vn
