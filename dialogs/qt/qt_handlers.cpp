// Handlers run on a thread of their own while the GUI thread keeps the window alive: it
// repaints, moves, shows the wait cursor and drops other commands. Every backend call a
// handler makes is carried out on the GUI thread and waited for (on_gui), so the program,
// and the library it calls, still runs on one thread at a time.
#include "qt_window.h"

#include <QApplication>
#include <QTimer>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace dlg::backend::qt_window {

namespace {

// One thread runs every handler, for the life of the process, so that what a program keeps
// per thread (the library's global error among it) carries from one command to the next as
// it does in the console. It takes one command at a time: claim_handler drops the rest.
struct HandlerThread {
    std::mutex m;
    std::condition_variable wakeup;
    std::function<void()> job;
};

[[noreturn]] void handler_loop(HandlerThread *t) {
    std::unique_lock<std::mutex> lock(t->m);
    for (;;) {
        t->wakeup.wait(lock, [t] { return bool(t->job); });
        std::function<void()> job = std::move(t->job);
        t->job = nullptr;
        lock.unlock();
        job();
        lock.lock();
    }
}

void run_on_handler_thread(std::function<void()> job) {
    // Never destroyed: the thread waits on it until the process ends.
    static HandlerThread *const t = [] {
        auto *created = new HandlerThread;
        std::thread(handler_loop, created).detach();
        return created;
    }();
    std::lock_guard<std::mutex> lock(t->m);
    t->job = std::move(job);
    t->wakeup.notify_one();
}

void finish_handler() {
    ui.handler_busy = false;
    ui.busy_cursor = false;
    update_cursor();
    release_handler();
}

}  // namespace

// At most one override cursor: the wait cursor while the program asks for it or a handler
// has run for a moment, except over an open input or message box.
void update_cursor() {
    bool want = (ui.wait_cursor_on || ui.busy_cursor) && ui.boxes_open == 0;
    if (want == ui.override_on) return;
    ui.override_on = want;
    if (want)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

bool start_handler(int id, int code) {
    if (!claim_handler()) return false;
    ui.handler_busy = true;
    unsigned generation = ++ui.worker_generation;
    // Quick commands do not flash the wait cursor.
    QTimer::singleShot(150, QCoreApplication::instance(), [generation] {
        if (!ui.handler_busy || generation != ui.worker_generation) return;
        ui.busy_cursor = true;
        update_cursor();
    });
    run_on_handler_thread([id, code] {
        run_handler(id, code);
        QMetaObject::invokeMethod(QCoreApplication::instance(), finish_handler, Qt::QueuedConnection);
    });
    return true;
}

}  // namespace dlg::backend::qt_window
