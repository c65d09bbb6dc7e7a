// The library's life in its host process: the lock, what is registered with the process on
// the first call, and what happens at fork, at exit and when the library is unloaded.
//
// - fork: handlers hold the library lock (and the work-slot table's lock) across the fork,
//   so the child never inherits a lock that a thread of the parent held in mid-call.
// - exit and unload: one handler, registered with atexit on the first call (so that dlclose
//   runs it too), marks the library as closing, asks every call in progress to stop, waits
//   a bounded time for the lock and then wipes and frees the registers and every other piece
//   of state. Calls that come after fail at once (VN_E_CANCELLED) without touching state.
//   OpenSSL is set up before the handler is registered, so the handler runs before OpenSSL's
//   own clean-up at exit.
#include <openssl/crypto.h>
#include <pthread.h>

#include <chrono>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <thread>

#include "internal.h"

namespace vn {

std::mutex g_library_lock;
std::atomic<bool> g_closing{false};
std::atomic<bool> g_started{false};

namespace {

pthread_once_t g_start_once = PTHREAD_ONCE_INIT;

// A call in progress either finishes quickly or checks for the stop it has been asked for;
// the one thing that can take longer is a single GMP operation on the largest operands.
constexpr auto kShutdownWait = std::chrono::seconds(2);

void shutdown() {
    g_closing.store(true);
    stop_all_work();
    auto deadline = std::chrono::steady_clock::now() + kShutdownWait;
    bool locked = false;
    while (!(locked = g_library_lock.try_lock()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (locked) {
        // No call is in progress and none will start: the state can go.
        release_registers();
        release_primality();
        release_crypto();
        g_library_lock.unlock();
    }
    // Otherwise a call is still inside one long GMP step: its state stays, and the process
    // ends around it.
    slots_unload();
}

void before_fork() {
    g_library_lock.lock();
    slots_lock();
}

void after_fork_parent() {
    slots_unlock_parent();
    g_library_lock.unlock();
}

void after_fork_child() {
    slots_reset_child();
    g_library_lock.unlock();
}

void start() {
    // Sets OpenSSL up now (as the first fetch would) so that its clean-up at exit, registered
    // here if the host has not set it up yet, runs after ours. (With no option at all the call
    // would return at once without registering anything.)
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
    pthread_atfork(before_fork, after_fork_parent, after_fork_child);
    std::atexit(shutdown);
    g_started.store(true, std::memory_order_release);
}

}  // namespace

void start_library() noexcept { pthread_once(&g_start_once, start); }

int32_t error_of_current_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc &) {
        return VN_E_NOMEMORY;
    } catch (const TooBig &) {
        return VN_E_TOOBIG;
    } catch (const std::length_error &) {
        return VN_E_TOOBIG;
    } catch (const Cancelled &) {
        return VN_E_CANCELLED;
    } catch (const ProviderFailed &) {
        return VN_E_CRYPTO;
    } catch (...) {
        return VN_E_INTERNAL;
    }
}

}  // namespace vn
