// Test and screenshot support for the Qt backend: answers for input boxes, the texts of the
// boxes shown, and pictures of the main dialog. Linked by tests and screenshot tools only.
#include "qt_testing.h"

#include "../backend.h"
#include "qt_internal.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <deque>
#include <optional>

namespace dlg::qt_testing {

namespace {

namespace internal = dlg::backend::qt_internal;

std::deque<std::optional<std::string>> queued_answers;
std::function<void(QDialog *)> box_inspector;
bool close_message_boxes = false;
std::vector<std::string> recorded_messages, recorded_prompts;

void box_shown(QDialog *box, std::string_view text) {
    if (qobject_cast<QMessageBox *>(box)) {
        recorded_messages.emplace_back(text);
        if (close_message_boxes) box->accept();
        return;
    }
    recorded_prompts.emplace_back(text);
    if (box_inspector) box_inspector(box);
    if (queued_answers.empty()) return;
    std::optional<std::string> answer = queued_answers.front();
    queued_answers.pop_front();
    if (!box->isVisible()) return;   // the inspector closed it
    auto buttons = box->findChildren<QPushButton *>();
    if (!answer) {
        buttons.at(1)->click();
        return;
    }
    box->findChild<QLineEdit *>()->setText(internal::to_qt(*answer));
    buttons.at(0)->click();
}

}  // namespace

void use_qt_backend() {
    if (!QApplication::instance() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    dlg::backend::qt_prepare();
    dlg::backend::select(&dlg::backend::qt_ops);
    internal::box_shown = box_shown;
}

QWidget *main_dialog() { return internal::main_window(); }
QWidget *control(int id) { return internal::control(id); }

void wait_until_idle() {
    while (internal::busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QApplication::processEvents();
}

void queue_input_answer(const std::string &text) { queued_answers.emplace_back(text); }
void queue_input_cancel() { queued_answers.emplace_back(std::nullopt); }
void inspect_input_boxes(std::function<void(QDialog *)> inspector) { box_inspector = std::move(inspector); }
void auto_close_message_boxes(bool on) { close_message_boxes = on; }
std::vector<std::string> message_box_texts() { return recorded_messages; }
std::vector<std::string> input_box_prompts() { return recorded_prompts; }

void clear_recorded() {
    recorded_messages.clear();
    recorded_prompts.clear();
}

int base_unit_x() { return internal::base_unit_x(); }
int base_unit_y() { return internal::base_unit_y(); }

bool save_screenshot(const std::string &png_path) {
    QWidget *window = internal::main_window();
    if (!window) return false;
    return window->grab().save(QString::fromStdString(png_path), "PNG");
}

}  // namespace dlg::qt_testing
