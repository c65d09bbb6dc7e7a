// A control's text, read and written by the control's kind.
#include "qt_internal.h"
#include "qt_window.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace dlg::backend::qt_window {

using qt_internal::from_qt;
using qt_internal::to_qt;

// A multi-line edit holds lines; the programs' texts end lines with CR LF, as Windows edit
// controls do.
QString lines_to_qt(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
    return to_qt(plain);
}

std::string lines_from_qt(const QString &text) {
    std::string bytes = from_qt(text), result;
    result.reserve(bytes.size() + bytes.size() / 16);
    for (char c : bytes) {
        if (c == '\n') result += '\r';
        result += c;
    }
    return result;
}

std::string read_text(int id) {
    QtControl *c = find(id);
    if (!c) return {};
    if (c->program_text_valid) return c->program_text;
    switch (c->kind) {
    case Kind::Edit: return from_qt(static_cast<QLineEdit *>(c->widget)->text());
    case Kind::MultiEdit: return lines_from_qt(whole_text(static_cast<QPlainTextEdit *>(c->widget)));
    default: return {};
    }
}

void write_text(int id, std::string_view text) {
    QtControl *c = find(id);
    if (!c) return;
    switch (c->kind) {
    case Kind::Label: static_cast<QLabel *>(c->widget)->setText(to_qt(text)); break;
    case Kind::Button: static_cast<QPushButton *>(c->widget)->setText(to_qt(text)); break;
    case Kind::GroupBox: static_cast<QGroupBox *>(c->widget)->setTitle(to_qt(text)); break;
    case Kind::Edit: static_cast<QLineEdit *>(c->widget)->setText(to_qt(text)); break;
    case Kind::MultiEdit: set_multi_edit(*c, text); return;
    case Kind::ListBox: return;
    }
    c->program_text = text;
    c->program_text_valid = true;
}

}  // namespace dlg::backend::qt_window
