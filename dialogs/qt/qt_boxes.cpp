// The input box and the message box: owner-less modal dialogs, so the main dialog stays
// enabled while one is open.
#include "qt_internal.h"
#include "qt_window.h"

#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtGlobal>
#include <QScreen>
#include <QTimer>

namespace dlg::backend::qt_window {

namespace {

using qt_internal::from_qt;
using qt_internal::to_qt;

void centre_on_screen(QWidget *box) {
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect area = screen->availableGeometry();
    box->move(area.center() - QPoint(box->width() / 2, box->height() / 2));
}

// Runs a box modally on the GUI thread, with the arrow cursor over it.
int run_box(QDialog &box, std::string_view text) {
    if (qt_internal::box_shown) {
        std::string shown(text);
        QTimer::singleShot(0, &box, [&box, shown] { qt_internal::box_shown(&box, shown); });
    }
    ++ui.boxes_open;
    update_cursor();
    int result = box.exec();
    --ui.boxes_open;
    update_cursor();
    return result;
}

std::string show_input_box(std::string_view prompt, std::string_view caption, std::string_view default_text,
                           bool hidden) {
    if (!ui.main_window) choose_dialog_font();
    QDialog box(nullptr);
    box.setFont(ui.dialog_font);
    box.setWindowTitle(to_qt(caption));
    box.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    box.resize(px_x(150), px_y(100));
    auto *label = new QLabel(&box);
    label->setTextFormat(Qt::PlainText);
    label->setText(to_qt(prompt));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(dialog_rect(5, 5, 95, 72));
    auto *ok = new QPushButton("OK", &box);
    ok->setGeometry(dialog_rect(104, 5, 40, 10));
    ok->setDefault(true);
    auto *cancel = new QPushButton("CANCEL", &box);
    cancel->setGeometry(dialog_rect(104, 19, 40, 10));
    cancel->setAutoDefault(false);
    // The field takes any length; the answer is cut to 255 characters (dialogs.cpp), the
    // same in both backends.
    auto *edit = new QLineEdit(&box);
    edit->setGeometry(dialog_rect(2, 82, 146, 12));
    if (hidden) edit->setEchoMode(QLineEdit::Password);
    edit->setText(to_qt(default_text));
    edit->selectAll();
    QObject::connect(ok, &QPushButton::clicked, &box, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &box, &QDialog::reject);
    centre_on_screen(&box);
    box.setFocusProxy(edit);
    edit->setFocus();
    if (run_box(box, prompt) != QDialog::Accepted) return {};
    return from_qt(edit->text());
}

}  // namespace

std::string input_box(std::string_view prompt, std::string_view caption, std::string_view default_text, bool hidden) {
    return on_gui([=] { return show_input_box(prompt, caption, default_text, hidden); });
}

void show_help_box() {
    const ProgramInfo &info = program_info();
    std::string text = info.name.empty() ? std::string() : info.name + " " + info.version + "\n";
    if (!info.summary.empty()) text += info.summary + "\n";
    if (!info.help.empty()) text += "\n" + info.help + "\n";
    // The keys this window has: access keys only where a button marks one.
    std::string keys;
    for (const auto &[id, c] : ui.controls)
        if (c.kind == Kind::Button && static_cast<QPushButton *>(c.widget)->text().contains('&'))
            keys = "Alt and the underlined letter press a button; ";
    if (QtControl *c = find(ui.ctrl_enter_id))
        keys += "Ctrl+Enter: " + qt_internal::from_qt(static_cast<QPushButton *>(c->widget)->text().remove('&')) + "; ";
    text += "\nKeys: " + keys + "F1: this box.\n";
    text += "\nIn use: " + library_versions() + ", Qt " + qVersion() + ".";
    std::string title = "Help - " + (info.name.empty() ? default_caption() : info.name);
    QMessageBox box(QMessageBox::Information, to_qt(title), to_qt(text), QMessageBox::Ok, ui.main_window);
    box.setTextFormat(Qt::PlainText);
    run_box(box, text);
}

void message_box(std::string_view text, std::string_view caption) {
    on_gui([=] {
        QMessageBox box(QMessageBox::NoIcon, to_qt(caption), to_qt(text), QMessageBox::Ok, nullptr);
        box.setTextFormat(Qt::PlainText);
        run_box(box, text);
    });
}

}  // namespace dlg::backend::qt_window
