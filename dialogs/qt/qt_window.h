// The Qt backend's parts and the one state object they share. Each part lives in a file of
// its own:
//
//   qt_backend.cpp   the backend table: open, wait, destroy, the control calls, Qt start-up
//   qt_units.cpp     the dialog font and dialog units in pixels
//   qt_handlers.cpp  the handler thread, calls carried over to the GUI thread, the cursor
//   qt_controls.cpp  the main dialog window and its controls, by kind
//   qt_text.cpp      reading and writing a control's text, by kind
//   qt_multiedit.cpp multi-line edits that stay fast with lines of millions of characters
//   qt_boxes.cpp     the input box and the message box
//   qt_work.cpp      long work: the stop button, the progress display, read-only fields
//
// Widgets are only ever touched on the GUI thread; handlers run on a thread of their own
// and reach the widgets through on_gui.
#pragma once

#include "../backend.h"

#include <QCoreApplication>
#include <QFont>
#include <QMetaObject>
#include <QRect>
#include <QString>
#include <QThread>

#include <map>
#include <string>
#include <string_view>
#include <type_traits>

class QDialog;
class QListWidgetItem;
class QPlainTextEdit;
class QWidget;

namespace dlg::backend::qt_window {

struct QtControl {
    Kind kind = Kind::Label;
    QWidget *widget = nullptr;
    // The last text the program set, while the user has not changed it: it reads back
    // byte for byte (also bytes that are not UTF-8), without a conversion of megabytes,
    // and a text that extends it (a log line) is appended instead of replacing it all.
    std::string program_text;
    bool program_text_valid = false;
    int selected_row = -1;   // list boxes: the selection the program last heard of
};

// Everything the backend keeps between calls; touched on the GUI thread only.
struct WindowState {
    QDialog *main_window = nullptr;
    bool shown_once = false;
    std::map<int, QtControl> controls;
    bool setting_text = false;       // our own changes do not count as the user's typing
    bool wait_cursor_on = false;     // asked for by the program
    bool handler_busy = false;       // a handler runs on its own thread
    bool busy_cursor = false;        // ... and has run long enough to show the wait cursor
    int boxes_open = 0;              // input and message boxes keep the arrow
    bool override_on = false;
    unsigned worker_generation = 0;
    QFont dialog_font;
    int base_x = 6, base_y = 13;     // dialog-unit base of the dialog font, in pixels
    int ctrl_enter_id = 0;           // the button Ctrl+Enter clicks (0: none)
};

extern WindowState ui;

QtControl *find(int id);   // nullptr when there is no such control

// ---- qt_units.cpp
void choose_dialog_font();
int px_x(int units);
int px_y(int units);
QRect dialog_rect(int x, int y, int w, int h);

// ---- qt_handlers.cpp
inline bool on_gui_thread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

// Runs f on the GUI thread and returns its result; from a handler's thread it waits there.
template <class F>
auto on_gui(F f) -> decltype(f()) {
    if (on_gui_thread()) return f();
    if constexpr (std::is_void_v<decltype(f())>) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), f, Qt::BlockingQueuedConnection);
    } else {
        decltype(f()) result{};
        QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

void update_cursor();
// Runs the handler of a command on the handler thread; false when the command is dropped
// because another handler runs.
bool start_handler(int id, int code);

// ---- qt_controls.cpp
QDialog *make_main_window();
QWidget *make_control(const Control &c, int id, QtControl &entry);

// ---- qt_text.cpp
QString lines_to_qt(std::string_view text);
std::string lines_from_qt(const QString &text);
std::string read_text(int id);
void write_text(int id, std::string_view text);

// ---- qt_multiedit.cpp
QPlainTextEdit *make_multi_edit(QWidget *parent);
void set_multi_edit(QtControl &c, std::string_view text);
QString whole_text(QPlainTextEdit *edit);

// ---- qt_work.cpp
// Long work of the running handler: the stop button, the progress display, read-only fields.
void begin_work(int stop_button, std::string_view stop_caption, int progress_control);
void end_work();
void set_read_only(int id, bool read_only);
// A click on a button while a handler runs: the stop button stops the work, the exit button
// stops it and ends the program; any other is dropped.
void busy_click(int id);
// Ends the process without waiting for the handler, which may be deep in a computation:
// that stops its work too; quick_exit runs what the program registered for the case
// (removing a half-written file).
[[noreturn]] void quit_at_once();

// ---- qt_boxes.cpp
std::string input_box(std::string_view prompt, std::string_view caption, std::string_view default_text, bool hidden);
void message_box(std::string_view text, std::string_view caption);
// The help and about box of F1: what the program does, how, and the versions in use.
void show_help_box();

// ---- qt_conventions.cpp: what people expect of any window
// Minimum size, Ctrl+Enter and F1 for the main window, once its controls exist.
void add_window_conventions(const Dialog &dialog);
// A tooltip with the whole entry where the list is too narrow to show it.
void add_tooltip_if_cut(QWidget *list, QListWidgetItem *item);

}  // namespace dlg::backend::qt_window
