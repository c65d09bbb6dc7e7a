// Test and screenshot support for the Qt backend, in the library dialogs_qt_testing that
// only tests and screenshot tools link; the programs carry none of it.
#pragma once

#include <functional>
#include <string>
#include <vector>

class QWidget;
class QDialog;

namespace dlg::qt_testing {

// Creates the QApplication when there is none (with the offscreen platform when
// QT_QPA_PLATFORM is unset) and makes the Qt backend the one in use, whatever start() chose.
void use_qt_backend();

// The main dialog while it is shown, and one of its controls; nullptr when there is none.
QWidget *main_dialog();
QWidget *control(int id);

// Handlers run on a thread of their own: a click returns at once. This handles the GUI's
// events until the running handler (if any) has returned.
void wait_until_idle();

// Answers for the next input boxes, in order: the box opens as usual, then the text is typed
// (as far as the edit field takes it) and OK is clicked, or Cancel for queue_input_cancel.
// With nothing queued an input box waits for the user.
void queue_input_answer(const std::string &text);
void queue_input_cancel();

// Called with each input box once it is shown, before a queued answer is given: for checks
// of its layout.
void inspect_input_boxes(std::function<void(QDialog *box)> inspector);

// While on, message boxes close as soon as they are shown; their texts are recorded.
void auto_close_message_boxes(bool on);
std::vector<std::string> message_box_texts();   // recorded since the last clear
std::vector<std::string> input_box_prompts();   // prompts of the input boxes shown
void clear_recorded();

// The dialog-unit base of the dialog font, in pixels (x: average character width, y: height).
int base_unit_x();
int base_unit_y();

// Saves a picture of the main dialog as PNG; false when there is no dialog or saving fails.
bool save_screenshot(const std::string &png_path);

}  // namespace dlg::qt_testing
