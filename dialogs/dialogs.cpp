// The dialog's life cycle and the control calls, shared by both backends.
#include "backend.h"

#include <atomic>
#include <cstdio>

namespace dlg {

namespace {

// A handler may run on a thread of its own (Qt backend) while the window's thread takes
// the user's commands, hence the atomics.
struct ModalState {
    std::atomic<bool> open = false;      // between show_modal's start and its return
    std::atomic<bool> ended = false;     // closed or ended; controls read empty from here on
    std::atomic<bool> running = false;   // a handler is running
    std::atomic<int> result = 0;
    std::atomic<bool> stop = false;      // the user asked the running handler to stop
    Handler handler;
};

// Set once at start; read from other threads and from a signal handler.
WorkHooks hooks;
std::atomic<ProgressText> progress_text = nullptr;   // while work runs
std::atomic<int> work_stop_button = 0;
std::atomic<int> exit_button_id = 0;
std::atomic<bool> working = false;                  // between begin_work and end_work

ModalState state;
const backend::Ops *ops = &backend::console_ops;

// Boxes are opened by the handler's thread only, which also reads this.
double box_seconds = 0;

// Adds the time a box stays open to box_seconds.
struct BoxClock {
    double opened = monotonic_seconds();
    ~BoxClock() { box_seconds += monotonic_seconds() - opened; }
};

bool live() { return state.open && !state.ended; }

// Bytes taken by the first `count` characters of text. A well-formed UTF-8 sequence is one
// character; any other byte counts as a character of its own, so byte strings are cut too.
size_t utf8_prefix(std::string_view text, size_t count) {
    size_t at = 0;
    for (; count > 0 && at < text.size(); --count) {
        auto lead = static_cast<unsigned char>(text[at]);
        size_t length = lead >= 0xF0 && lead < 0xF8 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (lead >= 0xF8 || at + length > text.size()) length = 1;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) length = 1;
        at += length;
    }
    return at;
}

}  // namespace

namespace backend {

void select(const Ops *chosen) { ops = chosen; }
const Ops &current() { return *ops; }
bool handler_running() { return state.running; }

bool claim_handler() {
    // A command that arrives while a handler runs (during its pump steps or while its input
    // or message box is open) would run nested and clobber the registers the running one
    // is using, so it is dropped.
    if (!live() || !state.handler) return false;
    bool idle = false;
    if (!state.running.compare_exchange_strong(idle, true)) return false;
    state.stop = false;
    return true;
}

void run_handler(int id, int code) {
    if (hooks.handler_started) hooks.handler_started();
    state.handler(id, code);
    end_work();   // work the handler did not end itself
}

void release_handler() { state.running = false; }

ProgressText work_progress() { return progress_text; }
int stop_button() { return work_stop_button; }
int exit_button() { return exit_button_id; }

bool command(int id, int code) {
    if (!claim_handler()) return false;
    run_handler(id, code);
    release_handler();
    return true;
}

void close_requested() {
    if (!state.open || state.ended) return;
    state.ended = true;
    state.result = 0;
}

}  // namespace backend

int show_modal(const Dialog &dialog, const Handler &handler) { return show_modal(dialog, handler, nullptr); }

int show_modal(const Dialog &dialog, const Handler &handler, const std::function<void()> &prepare) {
    state.ended = false;
    state.running = false;
    state.stop = false;
    state.result = 0;
    state.open = true;
    state.handler = handler;
    ops->open(dialog);
    if (prepare) {
        // Counts as a running handler: nothing may interleave with the set-up.
        state.running = true;
        prepare();
        state.running = false;
    }
    while (!state.ended) ops->wait_for_event();
    ops->destroy();
    state.open = false;
    state.handler = nullptr;
    return state.result;
}

void end_dialog(int result) {
    if (!live()) return;
    state.ended = true;
    state.result = result;
}

bool dialog_closed() { return state.ended; }

std::string get_text(int id) { return live() ? ops->get_text(id) : std::string(); }

void set_text(int id, std::string_view text) {
    if (live()) ops->set_text(id, backend::shown_text(text));
}

void set_visible(int id, bool visible) {
    if (live()) ops->set_visible(id, visible);
}

void add_list_entry(int id, std::string_view text) {
    if (live()) ops->add_list_entry(id, backend::shown_text(text));
}

std::string selected_entry(int id) { return live() ? ops->selected_entry(id) : std::string(); }

void caret_to_end(int id) {
    if (live()) ops->caret_to_end(id);
}

void use_system_font(int id) {
    if (live()) ops->use_system_font(id);
}

void set_wait_cursor(bool wait) { ops->set_wait_cursor(wait); }

namespace {

std::string any_input_box(std::string_view prompt, std::string_view title, std::string_view default_text,
                          bool hidden) {
    // Both limits count characters, and never split one.
    std::string_view caption = backend::shown_text(title.empty() ? backend::default_caption() : title);
    caption = caption.substr(0, utf8_prefix(caption, 60));
    BoxClock clock;
    std::string answer =
        ops->input_box(backend::shown_text(prompt), caption, backend::shown_text(default_text), hidden);
    answer.resize(utf8_prefix(answer, 255));
    return answer;
}

}  // namespace

std::string input_box(std::string_view prompt, std::string_view title, std::string_view default_text) {
    return any_input_box(prompt, title, default_text, false);
}

std::string hidden_input_box(std::string_view prompt, std::string_view title, std::string_view default_text) {
    return any_input_box(prompt, title, default_text, true);
}

void message_box(std::string_view text) {
    BoxClock clock;
    ops->message_box(backend::shown_text(text), backend::default_caption());
}

void pump_step() { ops->pump_step(); }

double seconds_in_boxes() { return box_seconds; }

void set_work_hooks(const WorkHooks &new_hooks) { hooks = new_hooks; }

void begin_work(int stop_button, std::string_view stop_caption, int progress_control, ProgressText progress) {
    if (!live() || working) return;
    work_stop_button = stop_button;
    progress_text = progress;
    working = true;
    ops->begin_work(stop_button, stop_caption, progress_control);
}

void end_work() {
    if (!working) return;
    ops->end_work();
    working = false;
    progress_text = nullptr;
    work_stop_button = 0;
}

bool stop_requested() { return state.stop; }

void request_stop() {
    if (!state.running) return;
    state.stop = true;
    if (hooks.stop) hooks.stop();
}

void set_exit_button(int id) { exit_button_id = id; }

void set_read_only(int id, bool read_only) {
    if (live()) ops->set_read_only(id, read_only);
}

}  // namespace dlg
