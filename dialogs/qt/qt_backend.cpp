// The Qt 6 Widgets backend: the main dialog as a window with absolutely placed controls in
// dialog units, and the input and message boxes as owner-less modal dialogs. This file holds
// the backend table and Qt's start-up; qt_window.h lists the other parts.
//
// Handlers run on a thread of their own while the GUI thread keeps the window alive; the
// close box ends the process at once while one runs (qt_controls.cpp).
#include "qt_internal.h"
#include "qt_window.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDialog>
#include <QFontDatabase>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTextCursor>

#include <chrono>
#include <string>
#include <cstdio>
#include <thread>
#include <vector>

namespace dlg::backend {

namespace qt_window {

WindowState ui;

QtControl *find(int id) {
    auto it = ui.controls.find(id);
    return it == ui.controls.end() ? nullptr : &it->second;
}

}  // namespace qt_window

namespace {

using namespace qt_window;
using qt_internal::to_qt;

void open(const Dialog &dialog) {
    choose_dialog_font();
    ui.controls.clear();
    ui.main_window = make_main_window();
    QDialog *window = ui.main_window;
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    window->setFont(ui.dialog_font);
    window->setWindowTitle(to_qt(shown_text(dialog.caption)));
    window->setModal(false);
    window->resize(px_x(dialog.w), px_y(dialog.h));
    window->move(px_x(dialog.x), px_y(dialog.y));
    std::vector<QWidget *> groups;
    for (const Control &c : dialog.controls) {
        QtControl &entry = ui.controls[c.id];
        entry.kind = c.kind;
        entry.widget = make_control(c, c.id, entry);
        entry.widget->setGeometry(dialog_rect(c.x, c.y, c.w, c.h));
        if (c.kind == Kind::GroupBox) groups.push_back(entry.widget);
    }
    for (QWidget *group : groups) group->lower();
    add_window_conventions(dialog);
    ui.shown_once = false;
}

void wait_for_event() {
    // Shown only now, after the program's own set-up, as a dialog that is created hidden.
    if (!ui.shown_once && ui.main_window) {
        ui.shown_once = true;
        ui.main_window->show();
        ui.main_window->activateWindow();
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void destroy() {
    // end_dialog from a handler ends the dialog before the handler has returned.
    while (ui.handler_busy) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ui.controls.clear();
    delete ui.main_window;
    ui.main_window = nullptr;
}

std::string get_text(int id) {
    return on_gui([id] { return read_text(id); });
}

void set_text(int id, std::string_view text) {
    on_gui([id, text] { write_text(id, text); });
}

void set_visible(int id, bool visible) {
    on_gui([id, visible] {
        if (QtControl *c = find(id)) c->widget->setVisible(visible);
    });
}

void add_list_entry(int id, std::string_view text) {
    on_gui([id, text] {
        QtControl *c = find(id);
        if (!c || c->kind != Kind::ListBox) return;
        // The entry's own bytes are kept beside its shown text, for selected_entry.
        auto *item = new QListWidgetItem(to_qt(text));
        item->setData(Qt::UserRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
        static_cast<QListWidget *>(c->widget)->addItem(item);
        add_tooltip_if_cut(c->widget, item);
    });
}

std::string selected_entry(int id) {
    return on_gui([id] {
        QtControl *c = find(id);
        if (!c || c->kind != Kind::ListBox) return std::string();
        auto selected = static_cast<QListWidget *>(c->widget)->selectedItems();
        return selected.isEmpty() ? std::string() : selected.first()->data(Qt::UserRole).toByteArray().toStdString();
    });
}

void caret_to_end(int id) {
    on_gui([id] {
        QtControl *c = find(id);
        if (!c) return;
        if (c->kind == Kind::MultiEdit) {
            auto *edit = static_cast<QPlainTextEdit *>(c->widget);
            edit->moveCursor(QTextCursor::End);
            edit->ensureCursorVisible();
        } else if (c->kind == Kind::Edit) {
            static_cast<QLineEdit *>(c->widget)->end(false);
        }
    });
}

void use_system_font(int id) {
    on_gui([id] {
        if (QtControl *c = find(id)) c->widget->setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    });
}

void set_wait_cursor(bool wait) {
    on_gui([wait] {
        ui.wait_cursor_on = wait;
        update_cursor();
    });
}

void pump_step() {
    // The GUI thread answers on its own while a handler runs on its thread: there a step
    // is the 1 ms pause alone.
    if (!on_gui_thread()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return;
    }
    // One pass over what is pending; with nothing pending, 1 ms of sleep.
    QAbstractEventDispatcher *dispatcher = QThread::currentThread()->eventDispatcher();
    QCoreApplication::sendPostedEvents();
    bool handled = dispatcher && dispatcher->processEvents(QEventLoop::AllEvents);
    if (!handled) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

const Ops qt_ops = {
    "qt", open, wait_for_event, destroy, get_text, set_text, set_visible, add_list_entry,
    selected_entry, caret_to_end, use_system_font, set_wait_cursor, qt_window::input_box, qt_window::message_box,
    pump_step, qt_window::begin_work, qt_window::end_work, qt_window::set_read_only,
};

namespace {

void (*platform_failed)() = nullptr;

// Qt ends the process when its platform cannot start, even when the display's socket
// answered a moment before (a virtual display that is just going away).
void startup_message(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    if (type == QtFatalMsg && platform_failed) platform_failed();
}

}  // namespace

bool qt_prepare(void (*cannot_start)()) {
    if (QApplication::instance()) return true;
    // The window class (X11) and app id (Wayland) come from these names: they must match the
    // desktop entry, org.vorn.<program>, so a task bar matches the window to its launcher.
    static std::string name = program_name().empty() ? "vorn" : program_name();
    static int argc = 1;
    static char *argv[] = {name.data(), nullptr};
    platform_failed = cannot_start;
    QtMessageHandler previous = qInstallMessageHandler(startup_message);
    QCoreApplication::setApplicationName(qt_internal::to_qt("org.vorn." + name));
    QGuiApplication::setDesktopFileName(qt_internal::to_qt("org.vorn." + name));
    new QApplication(argc, argv);
    qInstallMessageHandler(previous);
    return QGuiApplication::primaryScreen() != nullptr;
}

// ---- What the test support sees ------------------------------------------------------------

namespace qt_internal {

QString to_qt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
std::string from_qt(const QString &text) { return text.toUtf8().toStdString(); }

QWidget *main_window() { return qt_window::ui.main_window; }

QWidget *control(int id) {
    qt_window::QtControl *c = qt_window::find(id);
    return c ? c->widget : nullptr;
}

int base_unit_x() {
    qt_window::choose_dialog_font();
    return qt_window::ui.base_x;
}

int base_unit_y() {
    qt_window::choose_dialog_font();
    return qt_window::ui.base_y;
}

bool busy() { return qt_window::ui.handler_busy; }

void (*box_shown)(QDialog *box, std::string_view text) = nullptr;

}  // namespace qt_internal

}  // namespace dlg::backend
