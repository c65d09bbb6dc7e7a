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

}  // namespace vn
