// What the Qt backend shows of itself to its test support (qt_testing.cpp), which lives in a
// library of its own that only tests and screenshot tools link. Not for program code.
#pragma once

#include <QString>

#include <string>
#include <string_view>

class QDialog;
class QWidget;

namespace dlg::backend::qt_internal {

// Texts are UTF-8 bytes on the program's side.
QString to_qt(std::string_view text);
std::string from_qt(const QString &text);

QWidget *main_window();
QWidget *control(int id);   // nullptr when there is no such control

// The dialog font's base units in pixels (average character width, height).
int base_unit_x();
int base_unit_y();

// True while a handler runs (from the click until it has returned and its thread is gone).
bool busy();

// Called on the GUI thread with each input or message box just after it is shown, with the
// prompt or message it shows. The programs leave it empty.
extern void (*box_shown)(QDialog *box, std::string_view text);

}  // namespace dlg::backend::qt_internal
