// Long work of a running handler in the window: its button turns into a stop button, the
// progress text is shown several times a second, and the parameter fields can be made
// read-only.
#include "qt_internal.h"
#include "qt_window.h"

#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace dlg::backend::qt_window {

namespace {

using qt_internal::to_qt;

struct Work {
    bool on = false;
    int stop_button = 0;
    QString button_caption;    // the stop button's own caption, shown again at the end
    int progress_control = 0;  // 0: after the window's caption
    QString window_caption;
    QTimer *timer = nullptr;
};
Work work;

void show_progress() {
    ProgressText progress = work_progress();
    if (!work.on || !progress || !ui.main_window) return;
    std::string text = progress();
    if (work.progress_control == 0) {
        ui.main_window->setWindowTitle(text.empty() ? work.window_caption
                                                    : work.window_caption + " - " + to_qt(text));
    } else if (!text.empty()) {
        write_text(work.progress_control, text);
    }
}

QPushButton *button(int id) {
    QtControl *c = find(id);
    return c && c->kind == Kind::Button ? static_cast<QPushButton *>(c->widget) : nullptr;
}

}  // namespace

void begin_work(int stop_button, std::string_view stop_caption, int progress_control) {
    on_gui([=] {
        if (!ui.main_window || work.on) return;
        work.on = true;
        work.stop_button = stop_button;
        work.progress_control = progress_control;
        work.window_caption = ui.main_window->windowTitle();
        if (QPushButton *b = button(stop_button)) {
            work.button_caption = b->text();
            b->setText(to_qt(stop_caption));
        }
        // First after 0.3 s, so quick work shows nothing; then five times a second.
        work.timer = new QTimer(ui.main_window);
        QObject::connect(work.timer, &QTimer::timeout, [] {
            work.timer->setInterval(200);
            show_progress();
        });
        work.timer->start(300);
    });
}

void end_work() {
    on_gui([] {
        if (!work.on) return;
        work.on = false;
        delete work.timer;
        work.timer = nullptr;
        if (!ui.main_window) return;
        if (QPushButton *b = button(work.stop_button)) b->setText(work.button_caption);
        ui.main_window->setWindowTitle(work.window_caption);
    });
}

void set_read_only(int id, bool read_only) {
    on_gui([id, read_only] {
        QtControl *c = find(id);
        if (!c) return;
        if (c->kind == Kind::Edit) static_cast<QLineEdit *>(c->widget)->setReadOnly(read_only);
        if (c->kind == Kind::MultiEdit) static_cast<QPlainTextEdit *>(c->widget)->setReadOnly(read_only);
    });
}

void busy_click(int id) {
    if (id == exit_button()) quit_at_once();
    if (id == stop_button() && work.on) request_stop();
}

void quit_at_once() {
    std::fflush(nullptr);
    std::quick_exit(0);
}

}  // namespace dlg::backend::qt_window
