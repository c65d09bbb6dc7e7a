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

// The stop flag and progress of one long call, lent to the loops that do its work. Cheap to
// ask: one relaxed load.
class Work {
public:
    explicit Work(int32_t stage) : slot_(&my_slot()) {
        slot_->permille.store(-1, std::memory_order_relaxed);
        slot_->stage.store(stage, std::memory_order_relaxed);
    }
    ~Work() {
        slot_->stage.store(VN_STAGE_IDLE, std::memory_order_relaxed);
        slot_->permille.store(-1, std::memory_order_relaxed);
    }
    Work(const Work &) = delete;
    Work &operator=(const Work &) = delete;

    bool stopped() const { return slot_->stop.load(std::memory_order_relaxed); }
    // Throws Cancelled when a stop was asked for.
    void check() const {
        if (stopped()) throw Cancelled{};
    }
    void stage(int32_t s) const { slot_->stage.store(s, std::memory_order_relaxed); }
    // done of total (total > 0), in thousandths.
    void progress(uint64_t done, uint64_t total) const {
        uint64_t p = total == 0 ? 0 : (done >= total ? 1000 : done * 1000 / total);
        slot_->permille.store(static_cast<int32_t>(p), std::memory_order_relaxed);
    }
    void permille(int32_t p) const { slot_->permille.store(p, std::memory_order_relaxed); }
    WorkSlot &slot() const { return *slot_; }

private:
    WorkSlot *slot_;
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
