// Test seams of the VORN library, for paths no test reaches through the ABI alone. They exist
// only in vorn_testing, the static copy of the library built with VORN_TESTING (see
// testing.cmake); libvorn.so has none of this, and this header is not installed. Set them
// from one thread while no call is running.
#pragma once

#include <atomic>

#include "work.h"

#ifndef VORN_TESTING
#error "testing.h is for the library's testing copy (vorn_testing) only"
#endif

namespace vn::testing {

// Replaces the CSPRNG (OpenSSL's RAND_bytes) when set: same contract, 1 on success, and
// anything else for a failure. nullptr restores RAND_bytes. This is no switch of this copy
// only: every call's context takes its random source from here (work.h), in libvorn.so too,
// where nothing outside the library can reach it.
using RandomSource = vn::RandomSource;
inline std::atomic<RandomSource> &random_source = vn::g_random_source;

// The bit generators use the portable two-limb code even on a CPU with BMI2.
extern std::atomic<bool> portable_two_limbs;

// The exact primality test hands every number above 64 bits straight to FLINT's APR-CL,
// composites included, as when the BPSW test, the n - 1 / n + 1 proofs and PARI were to give
// no verdict.
extern std::atomic<bool> flint_fallback;

// No helper process starts for a whole modular power or decimal conversion: they are
// computed in the calling thread, in pieces, as where the helper program is missing.
extern std::atomic<bool> no_helper_jobs;

// The known-answer checks read this text instead of the built-in vectors when set (the format
// of vectors/aes.txt and vectors/sha256.txt).
extern std::atomic<const char *> aes_vectors_text;
extern std::atomic<const char *> sha256_vectors_text;

}  // namespace vn::testing
