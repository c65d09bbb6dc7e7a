// Inside the VORN library: per-thread work slots, through which another thread stops a long
// call (VN_STOPWORK) and reads its progress (VN_WORKPROGRESS). Nothing here is exported.
#pragma once

#include <atomic>
#include <cstdint>

#include "vorn.h"

namespace vn {

// One thread's slot. Only the owning thread writes stage and permille; any thread may set
// stop. All fields are atomics, read and written without a lock.
struct WorkSlot {
    std::atomic<int32_t> token{0};  // 0 while the slot is free
    std::atomic<bool> stop{false};
    std::atomic<int32_t> stage{VN_STAGE_IDLE};
    std::atomic<int32_t> permille{-1};
};

// The calling thread's slot, taken on first need and given back when the thread ends.
WorkSlot &my_slot();

// Thrown by a long loop that finds a stop request; the guard at the C boundary turns it into
// VN_FAIL with VN_E_CANCELLED. Loops throw it before anything is written to a register.
struct Cancelled {};

// The random source: 1 on success, anything else for a failure (RAND_bytes' contract).
using RandomSource = int (*)(unsigned char *buf, int len);
// The source every call's context starts from: OpenSSL's RAND_bytes (null), or what a test
// that links the library's objects sets here. Not exported.
extern std::atomic<RandomSource> g_random_source;

// The other switches every call's context starts from, for paths no call reaches on its own.
// Only a test that links the library's objects changes them (testing.h); in libvorn.so they
// keep these values. Not exported.
struct Seams {
    std::atomic<bool> portable_two_limbs{false};
    std::atomic<bool> flint_fallback{false};
    std::atomic<const char *> aes_vectors{nullptr};
    std::atomic<const char *> sha256_vectors{nullptr};
    std::atomic<bool> no_helper_jobs{false};  // read where no context reaches (prover.cpp)
};
extern Seams g_seams;

// What a call lends the code that does its work: the random source and the other seams, and
// the calling thread's stop flag and progress (no slot: a quick call that can be neither
// stopped nor watched). Asking for a stop is one relaxed load.
struct Context {
    RandomSource random = nullptr;  // null: RAND_bytes
    WorkSlot *slot = nullptr;
    // The bit generators leave out the mulx assembly, as on a CPU without BMI2.
    bool portable_two_limbs = false;
    // The exact test hands every number above 64 bits straight to FLINT, composites
    // included, as when BPSW, the helper and PARI were to give no verdict.
    bool flint_fallback = false;
    // The known-answer checks read these texts instead of the built-in vectors (null: the
    // built-in ones).
    const char *aes_vectors = nullptr;
    const char *sha256_vectors = nullptr;
    // The share of the whole call that this piece of work reports in, in thousandths: a
    // key's two primes report in 0..500 and 500..1000.
    int32_t part_lo = 0, part_hi = 1000;

    bool stopped() const { return slot != nullptr && slot->stop.load(std::memory_order_relaxed); }
    // Throws Cancelled when a stop was asked for.
    void check() const {
        if (stopped()) throw Cancelled{};
    }
    void stage(int32_t s) const {
        if (slot) slot->stage.store(s, std::memory_order_relaxed);
    }
    // done of total, in thousandths of the part.
    void progress(uint64_t done, uint64_t total) const {
        if (!slot) return;
        uint64_t p = total == 0 ? 0 : (done >= total ? 1000 : done * 1000 / total);
        permille(static_cast<int32_t>(p));
    }
    void permille(int32_t p) const {
        if (slot) slot->permille.store(part_lo + (part_hi - part_lo) * p / 1000, std::memory_order_relaxed);
    }
    // The same context reporting in the part lo..hi (thousandths of this context's part).
    Context part(int32_t lo, int32_t hi) const {
        Context c = *this;
        c.part_lo = part_lo + (part_hi - part_lo) * lo / 1000;
        c.part_hi = part_lo + (part_hi - part_lo) * hi / 1000;
        return c;
    }
};

// The context of a quick call: the random source and the seams, no slot.
inline Context quick_context() {
    Context c;
    c.random = g_random_source.load(std::memory_order_relaxed);
    c.portable_two_limbs = g_seams.portable_two_limbs.load(std::memory_order_relaxed);
    c.flint_fallback = g_seams.flint_fallback.load(std::memory_order_relaxed);
    c.aes_vectors = g_seams.aes_vectors.load(std::memory_order_relaxed);
    c.sha256_vectors = g_seams.sha256_vectors.load(std::memory_order_relaxed);
    return c;
}

// The context of a long call of the calling thread: its stage shows from here until the
// call ends.
class Work : public Context {
public:
    explicit Work(int32_t stage) : Context(quick_context()) {
        slot = &my_slot();
        slot->permille.store(-1, std::memory_order_relaxed);
        slot->stage.store(stage, std::memory_order_relaxed);
    }
    ~Work() {
        slot->stage.store(VN_STAGE_IDLE, std::memory_order_relaxed);
        slot->permille.store(-1, std::memory_order_relaxed);
    }
    Work(const Work &) = delete;
    Work &operator=(const Work &) = delete;
};

// For the fork and shutdown handlers: hold the slot table's lock, and after a fork free every
// slot but the calling thread's (the other threads do not exist in the child).
void slots_lock() noexcept;
void slots_unlock_parent() noexcept;
void slots_reset_child() noexcept;
// Asks every living thread's call to stop (at the end of the process).
void stop_all_work() noexcept;
// Forgets the end-of-thread handler (the library is being unloaded).
void slots_unload() noexcept;

}  // namespace vn
