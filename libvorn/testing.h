// Test seams of the VORN library, for paths no test reaches through the ABI alone. Tests and
// the fuzz target reach them through vorn_testing, a static library of the same objects as
// libvorn.so; libvorn.so has them too but exports none, and this header is not installed.
// Every call's context copies them at its start (work.h). Set them from one thread while no
// call is running.
#pragma once

#include <atomic>

#include "work.h"

namespace vn::testing {

// Replaces the CSPRNG (OpenSSL's RAND_bytes) when set: same contract, 1 on success, and
// anything else for a failure. nullptr restores RAND_bytes.
using RandomSource = vn::RandomSource;
inline std::atomic<RandomSource> &random_source = vn::g_random_source;

// The bit generators use the portable two-limb code even on a CPU with BMI2.
inline std::atomic<bool> &portable_two_limbs = vn::g_seams.portable_two_limbs;

// The exact primality test hands every number above 64 bits straight to FLINT's APR-CL,
// composites included, as when the BPSW test, the n - 1 / n + 1 proofs and PARI were to give
// no verdict.
inline std::atomic<bool> &flint_fallback = vn::g_seams.flint_fallback;

// No helper process starts for a whole modular power or decimal conversion: they are
// computed in the calling thread, in pieces, as where the helper program is missing.
inline std::atomic<bool> &no_helper_jobs = vn::g_seams.no_helper_jobs;

// The known-answer checks read this text instead of the built-in vectors when set (the format
// of vectors/aes.txt and vectors/sha256.txt).
inline std::atomic<const char *> &aes_vectors_text = vn::g_seams.aes_vectors;
inline std::atomic<const char *> &sha256_vectors_text = vn::g_seams.sha256_vectors;

}  // namespace vn::testing
