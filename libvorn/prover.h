// Exact primality proofs of numbers above 2^64 that passed BPSW. Nothing here touches the
// registers or any other library state, so callers run it without the library lock.
#pragma once

#include <gmp.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vn {

enum class ProofResult { composite, prime, no_memory, stopped, failed };

// What the caller lends a proof: a flag another thread may set to stop it, and where to
// report how far it is (each may be null).
struct ProofControl {
    const std::atomic<bool> *stop = nullptr;
    std::atomic<int32_t> *stage = nullptr;     // which method runs now
    std::atomic<int32_t> *permille = nullptr;  // how far it is, where that is known
    // Threads the proof may use: 0 for every CPU of the affinity mask, fewer when the
    // environment variable VORN_PROOF_THREADS asks for fewer.
    int32_t threads = 0;
    // When not 0, PARI's stack may not exceed this many bytes (for tests of a proof that
    // runs out of stack); 0 lets the helper size it.
    size_t pari_stack_limit = 0;
};

// Proves n prime or composite. n is odd, above 2^64, and passed BPSW.
ProofResult prove_prime(mpz_srcptr n, const ProofControl &control);

// ---- whole computations in the helper --------------------------------------------------

// A computation that one GMP call would take seconds for runs whole in a helper process of
// its own, which a stop kills: the stop takes effect at once, and the call costs GMP's time
// plus the transfer. done: answer holds the helper's answer; stopped: *stop was set (the
// helper is gone); not_run: no helper could start, or it ended without an answer (the caller
// then computes in its own thread).
enum class JobResult { done, stopped, not_run };
// Sends head then body[0, body_len) to a new helper and reads its answer, of at most
// max_answer bytes, into answer (sized once, so that it never leaves a copy behind).
JobResult run_job(const std::string &head, const char *body, size_t body_len, std::string &answer, size_t max_answer,
                  const std::atomic<bool> *stop);

}  // namespace vn
