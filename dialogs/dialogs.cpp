// The dialog's life cycle and the control calls, shared by both backends.
#include "backend.h"

#include <cstdio>

namespace dlg {

namespace {

struct ModalState {
    bool open = false;      // between show_modal's start and its return
    bool ended = false;     // closed or ended; controls read empty from here on
    bool running = false;   // a handler is running
    int result = 0;
    Handler handler;
};

ModalState state;
const backend::Ops *ops = &backend::console_ops;

bool live() { return state.open && !state.ended; }

}  // namespace

namespace backend {

void select(const Ops *chosen) { ops = chosen; }
const Ops &current() { return *ops; }
bool handler_running() { return state.running; }

bool command(int id, int code) {
    // A command that arrives while a handler runs (during its pump steps or while its input
    // or message box is open) would run nested and clobber the registers the running one
    // is using, so it is dropped.
    if (!live() || state.running || !state.handler) return false;
    state.running = true;
    state.handler(id, code);
    state.running = false;
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
    state = ModalState{};
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

std::string input_box(std::string_view prompt, std::string_view title, std::string_view default_text) {
    std::string caption(backend::shown_text(title.empty() ? backend::default_caption() : title));
    if (caption.size() > 60) caption.resize(60);
    std::string answer = ops->input_box(backend::shown_text(prompt), caption, backend::shown_text(default_text));
    if (answer.size() > 255) answer.resize(255);
    return answer;
}

void message_box(std::string_view text) {
    ops->message_box(backend::shown_text(text), backend::default_caption());
}

void pump_step() { ops->pump_step(); }

}  // namespace dlg
