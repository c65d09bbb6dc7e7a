// Work slots and the stop and progress functions. Tokens name a slot and its generation, so a
// token of a thread that has ended is refused even when its slot has a new owner.
#include <pthread.h>

#include <mutex>

#include "internal.h"
#include "work.h"

namespace vn {
namespace {

// Slots live in the library's own static memory: no allocation, nothing to free on unload,
// and VN_STOPWORK can read them at any time without a lock. The last index is never given
// out: threads beyond the table share kOverflow, whose token no slot carries.
constexpr int32_t kIndexBits = 14;
constexpr int32_t kSlots = 1 << kIndexBits;
constexpr int32_t kMaxGeneration = (INT32_MAX >> kIndexBits);
constexpr int32_t kOverflowToken = INT32_MAX;  // index kSlots - 1, never handed out

WorkSlot g_slots[kSlots];
int32_t g_generation[kSlots];  // under g_slot_lock
// Freed slots are reused oldest first, and fresh ones before any freed one, so a token is
// rarely reused soon after its thread ended.
int32_t g_fresh = 0;
int32_t g_free[kSlots];
int32_t g_free_head = 0, g_free_count = 0;
std::mutex g_slot_lock;

thread_local WorkSlot *t_slot = nullptr;

pthread_key_t g_thread_end_key;
pthread_once_t g_key_once = PTHREAD_ONCE_INIT;
bool g_key_ready = false;

void release_slot(void *p) {
    auto *slot = static_cast<WorkSlot *>(p);
    auto index = static_cast<int32_t>(slot - g_slots);
    if (index < 0 || index >= kSlots - 1) return;
    std::lock_guard<std::mutex> hold(g_slot_lock);
    slot->token.store(0, std::memory_order_release);
    slot->stop.store(false, std::memory_order_relaxed);
    slot->stage.store(VN_STAGE_IDLE, std::memory_order_relaxed);
    g_free[(g_free_head + g_free_count) % kSlots] = index;
    ++g_free_count;
}

void make_key() { g_key_ready = pthread_key_create(&g_thread_end_key, release_slot) == 0; }

WorkSlot &take_slot() {
    pthread_once(&g_key_once, make_key);
    std::lock_guard<std::mutex> hold(g_slot_lock);
    int32_t index = -1;
    if (g_fresh < kSlots - 1) {
        index = g_fresh++;
    } else if (g_free_count > 0) {
        index = g_free[g_free_head];
        g_free_head = (g_free_head + 1) % kSlots;
        --g_free_count;
    }
    if (index < 0 || !g_key_ready) {
        // More living threads than slots (or no end-of-thread handler): a shared slot that
        // no token names, so this thread's work cannot be stopped from outside.
        WorkSlot &shared = g_slots[kSlots - 1];
        shared.token.store(kOverflowToken, std::memory_order_relaxed);
        return shared;
    }
    int32_t generation = g_generation[index] % kMaxGeneration + 1;
    g_generation[index] = generation;
    WorkSlot &slot = g_slots[index];
    slot.stop.store(false, std::memory_order_relaxed);
    slot.stage.store(VN_STAGE_IDLE, std::memory_order_relaxed);
    slot.permille.store(-1, std::memory_order_relaxed);
    slot.token.store(generation << kIndexBits | index, std::memory_order_release);
    pthread_setspecific(g_thread_end_key, &slot);
    return slot;
}

// The living slot that token names, or nullptr.
WorkSlot *slot_of(const int32_t *token) {
    if (token == nullptr || *token <= 0 || *token == kOverflowToken) return nullptr;
    WorkSlot &slot = g_slots[*token & (kSlots - 1)];
    return slot.token.load(std::memory_order_acquire) == *token ? &slot : nullptr;
}

}  // namespace

WorkSlot &my_slot() {
    if (t_slot == nullptr) t_slot = &take_slot();
    return *t_slot;
}

void slots_lock() noexcept { g_slot_lock.lock(); }

void slots_unlock_parent() noexcept { g_slot_lock.unlock(); }

void slots_reset_child() noexcept {
    // Only the forking thread exists in the child: every other slot is free again.
    g_free_head = 0;
    g_free_count = 0;
    for (int32_t i = 0; i < g_fresh; ++i) {
        if (&g_slots[i] == t_slot) continue;
        g_slots[i].token.store(0, std::memory_order_relaxed);
        g_slots[i].stop.store(false, std::memory_order_relaxed);
        g_slots[i].stage.store(VN_STAGE_IDLE, std::memory_order_relaxed);
        g_free[g_free_count++] = i;
    }
    new (&g_slot_lock) std::mutex;
}

void stop_all_work() noexcept {
    for (auto &slot : g_slots) slot.stop.store(true, std::memory_order_relaxed);
}

void slots_unload() noexcept {
    if (g_key_ready) pthread_key_delete(g_thread_end_key);
    g_key_ready = false;
}

}  // namespace vn

using namespace vn;

extern "C" {

VN_API int32_t VN_WORKTOKEN(void) {
    try {
        WorkSlot &slot = my_slot();
        slot.stop.store(false, std::memory_order_relaxed);
        return slot.token.load(std::memory_order_relaxed);
    } catch (...) {
        return kOverflowToken;  // cannot happen: taking a slot allocates nothing
    }
}

VN_API int32_t VN_STOPWORK(int32_t *token) {
    WorkSlot *slot = slot_of(token);
    if (slot == nullptr) return fail(VN_E_ARGUMENT);
    slot->stop.store(true, std::memory_order_relaxed);
    return VN_OK;
}

VN_API int32_t VN_WORKPROGRESS(int32_t *token, int32_t *stage, int32_t *permille) {
    WorkSlot *slot = slot_of(token);
    if (slot == nullptr || stage == nullptr || permille == nullptr) return fail(VN_E_ARGUMENT);
    *stage = slot->stage.load(std::memory_order_relaxed);
    *permille = slot->permille.load(std::memory_order_relaxed);
    return VN_OK;
}

}  // extern "C"
