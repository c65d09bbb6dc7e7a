// What a window system must provide to run the dialogs; one table per backend. The shared
// code (dialogs.cpp) keeps the dialog's life cycle and the guard against nested commands,
// so both backends behave alike there.
#pragma once

#include "dialogs.h"

namespace dlg::backend {

struct Ops {
    const char *name;
    void (*open)(const Dialog &dialog);       // builds the dialog and shows it
    void (*wait_for_event)();                 // waits for one user event and handles it
    void (*destroy)();                        // removes the dialog after it ended
    std::string (*get_text)(int id);
    void (*set_text)(int id, std::string_view text);
    void (*set_visible)(int id, bool visible);
    void (*add_list_entry)(int id, std::string_view text);
    std::string (*selected_entry)(int id);
    void (*caret_to_end)(int id);
    void (*use_system_font)(int id);
    void (*set_wait_cursor)(bool wait);
    // hidden: what is typed is not shown (a passphrase)
    std::string (*input_box)(std::string_view prompt, std::string_view caption, std::string_view default_text,
                             bool hidden);
    void (*message_box)(std::string_view text, std::string_view caption);
    void (*pump_step)();
    // Long work of the running handler (dialogs.h); the rest is kept in dialogs.cpp.
    void (*begin_work)(int stop_button, std::string_view stop_caption, int progress_control);
    void (*end_work)();
    void (*set_read_only)(int id, bool read_only);
};

extern const Ops console_ops;
#ifdef VORN_WITH_QT
extern const Ops qt_ops;
// Creates the application object; false when no screen can be opened. When Qt cannot start
// its platform at all (it would abort), cannot_start is called first, if given.
bool qt_prepare(void (*cannot_start)() = nullptr);
#endif

void select(const Ops *ops);
// Selects the backend at start (display.cpp): the console when asked for or when no display
// can be used, the windows otherwise.
void choose_backend(bool console, int argc, char **argv, const std::string &name);
const Ops &current();

// Called by the backends when the user acts on the main dialog.
bool command(int id, int code);   // runs the handler, unless one is running: false when dropped
void close_requested();           // close box, Alt+F4, console "close" or end of input
bool handler_running();

// Long work as begin_work described it: the progress text (nullptr without work) and the
// buttons whose clicks stop while a handler runs.
ProgressText work_progress();
int stop_button();
int exit_button();

// command() in three steps, for a backend that runs handlers on a thread of their own:
// claim (false when the command must be dropped), run there, release once it has returned.
// Between claim and release every other command is dropped.
bool claim_handler();
void run_handler(int id, int code);
void release_handler();

const std::string &default_caption();
const std::string &program_name();   // "workbench"; empty before start()
const ProgramInfo &program_info();   // as given to start(); empty before

// Text as a control shows it: up to the first zero byte.
inline std::string_view shown_text(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

}  // namespace dlg::backend
