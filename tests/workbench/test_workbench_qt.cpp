// The workbench dialog in real Qt widgets (offscreen): controls, texts, geometry, the list,
// Exit, Enter and Esc, and commands arriving while a calculation runs.
#include <dialogs.h>
#include <qt/qt_testing.h>
#include <workbench.hpp>

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

namespace qt = dlg::qt_testing;
using dlg::Kind;

struct Expected {
    int id;
    Kind kind;
    const char *qt_class;
    std::string text;
    int x, y, w, h;
};

// The dialog as it must appear, in creation (tab) order.
const std::vector<Expected> kExpected = {
    {1001, Kind::ListBox, "QListWidget", "", 2, 48, 104, 226},
    {1002, Kind::Label, "QLabel", "Choose an operation, enter parameters and hit 'calculate' button", 2, 4, 458, 18},
    {1003, Kind::Label, "QLabel", "Operation", 4, 36, 62, 10},
    {1004, Kind::MultiEdit, "QPlainTextEdit", "0", 110, 48, 232, 36},
    {1005, Kind::Label, "QLabel", "Parameter 'a'", 110, 36, 68, 12},
    {1006, Kind::MultiEdit, "QPlainTextEdit", "0", 110, 104, 232, 36},
    {1007, Kind::Label, "QLabel", "Parameter 'b'", 110, 92, 68, 12},
    {1008, Kind::MultiEdit, "QPlainTextEdit", "0", 110, 160, 232, 36},
    {1009, Kind::MultiEdit, "QPlainTextEdit", "", 110, 216, 232, 56},
    {1010, Kind::Label, "QLabel", "Parameter 'c'", 110, 148, 68, 12},
    {1011, Kind::Label, "QLabel", "Result", 110, 202, 204, 12},
    {1013, Kind::Label, "QLabel", "Bitlength:", 356, 48, 52, 10},
    {1014, Kind::Edit, "QLineEdit", "120", 410, 46, 36, 12},
    {1012, Kind::Button, "QPushButton", "&Random parameters", 362, 60, 84, 14},
    {1015, Kind::GroupBox, "QGroupBox", "Modify parameters", 348, 36, 110, 58},
    {1016, Kind::Button, "QPushButton", "Clear &parameters", 362, 76, 84, 14},
    {1017, Kind::Label, "QLabel", "1000 seconds", 360, 110, 94, 10},
    {1018, Kind::GroupBox, "QGroupBox", "Calculation time", 348, 100, 110, 22},
    {1019, Kind::Button, "QPushButton", "&Calculate", 362, 132, 84, 14},
    {1022, Kind::Label, "QLabel", "", 352, 152, 106, 16},
    {1023, Kind::Button, "QPushButton", "Clear result", 362, 236, 84, 14},
    {1020, Kind::Button, "QPushButton", "&Exit", 362, 258, 84, 14},
};

// Dialog units to pixels as the backend maps them (rounded like MulDiv).
QRect pixels(int x, int y, int w, int h) {
    int bx = qt::base_unit_x(), by = qt::base_unit_y();
    auto px = [bx](int u) { return (u * bx + 2) / 4; };
    auto py = [by](int u) { return (u * by + 4) / 8; };
    return QRect(px(x), py(y), px(w), py(h));
}

// Runs the workbench dialog; checks runs inside its event loop once it is shown.
int run_dialog(std::function<void()> checks) {
    qt::use_qt_backend();
    QTimer::singleShot(0, [&checks] {
        checks();
        qt::wait_until_idle();
        if (!dlg::dialog_closed() && qt::main_dialog()) qt::main_dialog()->close();
    });
    return dlg::show_modal(wb::main_dialog(), wb::dispatch, wb::prepare_dialog);
}

// A click, and the handler it starts run to its end.
void click(int id) {
    auto *button = qobject_cast<QPushButton *>(qt::control(id));
    ASSERT_NE(button, nullptr) << id;
    QTest::mouseClick(button, Qt::LeftButton);
    qt::wait_until_idle();
}

void select_operation(std::string_view label) {
    auto *list = qobject_cast<QListWidget *>(qt::control(wb::kOperationList));
    ASSERT_NE(list, nullptr);
    auto found = list->findItems(QString::fromUtf8(label.data(), qsizetype(label.size())), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << label;
    list->setCurrentItem(found.first());
    qt::wait_until_idle();
}

TEST(WorkbenchDialog, DescriptionMatchesTheTable) {
    dlg::Dialog d = wb::main_dialog();
    EXPECT_EQ(d.caption, "VORN (Quendel) library - Workbench V1.01 - dll version");
    EXPECT_EQ((std::array{d.x, d.y, d.w, d.h}), (std::array{89, 114, 464, 278}));
    ASSERT_EQ(d.controls.size(), kExpected.size());
    for (size_t i = 0; i < kExpected.size(); ++i) {
        const dlg::Control &c = d.controls[i];
        const Expected &e = kExpected[i];
        EXPECT_EQ(c.id, e.id);
        EXPECT_EQ(c.kind, e.kind) << e.id;
        EXPECT_EQ(c.text, e.text) << e.id;
        EXPECT_EQ((std::array{c.x, c.y, c.w, c.h}), (std::array{e.x, e.y, e.w, e.h})) << e.id;
    }
}

TEST(WorkbenchDialog, WidgetsTextsGeometryAndList) {
    int result = run_dialog([] {
        QWidget *window = qt::main_dialog();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->windowTitle().toStdString(),
                  "VORN (Quendel) library - Workbench V1.01 - dll version");
        EXPECT_EQ(window->size(), pixels(89, 114, 464, 278).size());
        for (const Expected &e : kExpected) {
            QWidget *w = qt::control(e.id);
            ASSERT_NE(w, nullptr) << e.id;
            EXPECT_TRUE(w->inherits(e.qt_class)) << e.id;
            EXPECT_EQ(w->geometry(), pixels(e.x, e.y, e.w, e.h)) << e.id;
            EXPECT_TRUE(w->isVisible()) << e.id;
            if (e.kind != Kind::ListBox) {
                EXPECT_EQ(dlg::get_text(e.id), e.text) << e.id;
            }
        }
        auto *list = qobject_cast<QListWidget *>(qt::control(wb::kOperationList));
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->count(), wb::kOperationCount);
        EXPECT_FALSE(list->isSortingEnabled());
        for (int i = 0; i < list->count(); ++i)
            EXPECT_EQ(list->item(i)->text().toStdString(), wb::kCatalogue[size_t(i)].label);
        EXPECT_EQ(list->item(19)->text().toStdString(), std::string(20, '-'));
        EXPECT_EQ(dlg::selected_entry(wb::kOperationList), "");
        // The status line alone draws in the system font.
        QFont system = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        EXPECT_EQ(qt::control(wb::kStatusLine)->font().family(), system.family());
        // No default button: Enter must not click one.
        for (const Expected &e : kExpected) {
            if (auto *b = qobject_cast<QPushButton *>(qt::control(e.id))) {
                EXPECT_FALSE(b->isDefault()) << e.id;
            }
        }
    });
    EXPECT_EQ(result, 0);
}

TEST(WorkbenchDialog, EnterAndEscKeepItOpenExitEndsIt) {
    bool exit_ended_it = false;
    int result = run_dialog([&] {
        QWidget *window = qt::main_dialog();
        ASSERT_NE(window, nullptr);
        // Enter and Esc wherever the focus is: on the list, an edit field, a button, the dialog.
        const int focus_ids[] = {wb::kOperationList, wb::kBitlengthField, wb::kFieldA, wb::kCalculateButton};
        for (int id : focus_ids) {
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
                qt::control(id)->setFocus();
                QTest::keyClick(qt::control(id), key);
                EXPECT_FALSE(dlg::dialog_closed()) << id << " key " << key;
                EXPECT_TRUE(window->isVisible()) << id << " key " << key;
            }
        }
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) QTest::keyClick(window, key);
        EXPECT_FALSE(dlg::dialog_closed());
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(dlg::get_text(wb::kResultField), "");  // Enter clicked no button
        click(wb::kExitButton);
        exit_ended_it = dlg::dialog_closed();
    });
    EXPECT_TRUE(exit_ended_it);
    EXPECT_EQ(result, 0);
}

TEST(WorkbenchDialog, CommandsDuringACalculationAreIgnored) {
    qt::clear_recorded();
    qt::auto_close_message_boxes(true);
    int result = run_dialog([] {
        auto *list = qobject_cast<QListWidget *>(qt::control(wb::kOperationList));
        ASSERT_NE(list, nullptr);
        list->setCurrentRow(12);  // "Generate random number"
        qt::wait_until_idle();
        EXPECT_EQ(dlg::selected_entry(wb::kOperationList), "Generate random number");
        EXPECT_FALSE(qt::control(wb::kFieldA)->isVisible());
        // While the input box is open, "Clear parameters" and "Exit" are dropped.
        bool inspected = false;
        qt::inspect_input_boxes([&inspected](QDialog *) {
            inspected = true;
            QTest::mouseClick(qt::control(wb::kClearParametersButton), Qt::LeftButton);
            QTest::mouseClick(qt::control(wb::kExitButton), Qt::LeftButton);
        });
        qt::queue_input_answer("4");
        click(wb::kCalculateButton);
        qt::inspect_input_boxes(nullptr);
        EXPECT_TRUE(inspected);
        EXPECT_FALSE(dlg::dialog_closed());
        EXPECT_EQ(dlg::get_text(wb::kFieldA), "0");
        std::string value = dlg::get_text(wb::kResultField);
        ASSERT_FALSE(value.empty());
        EXPECT_LT(std::stoull(value), 1ULL << 32);  // 4 bytes
        EXPECT_EQ(dlg::get_text(wb::kResultCaption).substr(0, 8), "Result (");
        EXPECT_EQ(qt::input_box_prompts(),
                  std::vector<std::string>{"Enter the length of the random number to be generated (in bytes)"});
    });
    qt::auto_close_message_boxes(false);
    EXPECT_EQ(result, 0);
}

}  // namespace

namespace {

// The close box ends the program at once, also while a calculation waits in an input box.
TEST(WorkbenchDialogDeathTest, CloseBoxEndsTheProgramDuringACalculation) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT({
        run_dialog([] {
            select_operation("a is prime? (Fermat, <>100%)");   // asks for a count
            qt::inspect_input_boxes([](QDialog *) { qt::main_dialog()->close(); });
            QTest::mouseClick(qt::control(wb::kCalculateButton), Qt::LeftButton);
            for (;;) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        });
        std::exit(3);
    }, testing::ExitedWithCode(0), "");
}

}  // namespace

namespace {

// 3 ^ 10000000 has 4771213 digits: computed, converted and shown in the real edit field,
// copied whole, and cleared by "Clear result" and by choosing another operation.
TEST(WorkbenchDialog, LongResultIsShownCopiedAndCleared) {
    std::string caption, tail, copied_tail;
    size_t length = 0, copied = 0;
    std::vector<std::string> after_clear;
    int result = run_dialog([&] {
        select_operation("a ^ b");
        dlg::set_text(wb::kFieldA, "3");
        dlg::set_text(wb::kFieldB, "10000000");
        click(wb::kCalculateButton);
        caption = dlg::get_text(wb::kResultCaption);
        std::string text = dlg::get_text(wb::kResultField);
        length = text.size();
        if (length >= 10) tail = text.substr(length - 10);
        QWidget *field = qt::control(wb::kResultField);
        field->repaint();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
        QString clip = QApplication::clipboard()->text();
        copied = size_t(clip.size());
        copied_tail = clip.right(10).toStdString();
        click(wb::kClearResultButton);
        after_clear.push_back(dlg::get_text(wb::kResultField));
        click(wb::kCalculateButton);
        select_operation("a * b");
        after_clear.push_back(dlg::get_text(wb::kResultField));
        after_clear.push_back(qobject_cast<QPlainTextEdit *>(field)->toPlainText().toStdString());
    });
    EXPECT_EQ(caption, "Result ( 4771213 decimal digits)");
    EXPECT_EQ(length, 4771213u);
    EXPECT_EQ(tail, "2200000001");  // 3^10000000 mod 10^10
    EXPECT_EQ(copied, 4771213u);
    EXPECT_EQ(copied_tail, "2200000001");
    EXPECT_EQ(after_clear, (std::vector<std::string>{"", "", ""}));
    EXPECT_EQ(result, 0);
}

}  // namespace

namespace {

std::string widget_text(int id) {
    QWidget *w = qt::control(id);
    if (auto *button = qobject_cast<QPushButton *>(w)) return button->text().toStdString();
    if (auto *label = qobject_cast<QLabel *>(w)) return label->text().toStdString();
    return "";
}

bool read_only(int id) {
    auto *edit = qobject_cast<QPlainTextEdit *>(qt::control(id));
    return edit && edit->isReadOnly();
}

// While a calculation runs (here: waiting in its prompt) "&Calculate" reads "&Stop", the
// parameter fields cannot be edited and the status line shows the elapsed time; a click of
// "&Stop", or Esc, ends it as stopped: "Stopped", no result, the calculation's own time until
// the stop, the parameters as they were.
TEST(WorkbenchDialog, StopButtonAndEscStopACalculation) {
    wb::install_work_hooks();
    qt::clear_recorded();
    qt::auto_close_message_boxes(true);
    run_dialog([] {
        select_operation("a is prime? (Fermat, <>100%)");
        for (bool by_escape : {false, true}) {
            dlg::set_text(wb::kFieldA, "1000003");
            dlg::set_text(wb::kResultField, "earlier result");
            std::string button_during, status_during;
            bool fields_read_only = false;
            qt::inspect_input_boxes([&](QDialog *) {
                QTest::qWait(700);   // the status line shows progress after 0.3 s
                button_during = widget_text(wb::kCalculateButton);
                status_during = widget_text(wb::kStatusLine);
                fields_read_only = read_only(wb::kFieldA) && read_only(wb::kFieldB) && read_only(wb::kFieldC);
                if (by_escape)
                    QTest::keyClick(qt::main_dialog(), Qt::Key_Escape);
                else
                    QTest::mouseClick(qt::control(wb::kCalculateButton), Qt::LeftButton);
            });
            qt::queue_input_answer("5");
            click(wb::kCalculateButton);
            qt::inspect_input_boxes(nullptr);
            EXPECT_EQ(button_during, "&Stop");
            EXPECT_EQ(status_during.substr(0, 15), "Calculating... ") << status_during;
            EXPECT_TRUE(fields_read_only);
            EXPECT_EQ(dlg::get_text(wb::kStatusLine), "Stopped");
            EXPECT_EQ(dlg::get_text(wb::kResultField), "");
            EXPECT_EQ(dlg::get_text(wb::kResultCaption), "Result");
            // The 0.7 s in the prompt were the user's: the time until the stop leaves them out.
            double seconds = dlg::number_from_text(dlg::get_text(wb::kTimeDisplay));
            EXPECT_LT(seconds, 0.5) << dlg::get_text(wb::kTimeDisplay);
            EXPECT_EQ(dlg::get_text(wb::kFieldA), "1000003");
            EXPECT_EQ(widget_text(wb::kCalculateButton), "&Calculate");
            EXPECT_FALSE(read_only(wb::kFieldA));
        }
        // Idle, Esc does nothing, and the next calculation runs as ever.
        QTest::keyClick(qt::main_dialog(), Qt::Key_Escape);
        qt::queue_input_answer("5");
        click(wb::kCalculateButton);
        EXPECT_EQ(dlg::get_text(wb::kResultField), "a is possibly a prime..");
        EXPECT_EQ(dlg::get_text(wb::kStatusLine), "");
    });
    qt::auto_close_message_boxes(false);
    dlg::set_exit_button(0);   // the other tests click "&Exit" while a handler runs
    EXPECT_TRUE(qt::message_box_texts().empty());
}

// "&Exit" during a calculation stops it and ends the program at once.
TEST(WorkbenchDialogDeathTest, ExitEndsTheProgramDuringACalculation) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT({
        wb::install_work_hooks();
        run_dialog([] {
            select_operation("a is prime? (Fermat, <>100%)");
            qt::inspect_input_boxes([](QDialog *) {
                QTest::mouseClick(qt::control(wb::kExitButton), Qt::LeftButton);
            });
            QTest::mouseClick(qt::control(wb::kCalculateButton), Qt::LeftButton);
            for (;;) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        });
        std::exit(3);
    }, testing::ExitedWithCode(0), "");
}

}  // namespace

TEST(WorkbenchDialog, WindowConventions) {
    char name[] = "workbench", console[] = "--console";
    char *argv[] = {name, console, nullptr};
    ASSERT_EQ(dlg::start(2, argv, wb::kProgramInfo), -1);
    qt::clear_recorded();
    qt::auto_close_message_boxes(true);
    std::vector<QLineEdit::EchoMode> echo_modes;
    qt::inspect_input_boxes([&echo_modes](QDialog *box) {
        echo_modes.push_back(box->findChild<QLineEdit *>()->echoMode());
    });
    int result = run_dialog([&] {
        QWidget *window = qt::main_dialog();
        ASSERT_NE(window, nullptr);
        // Entries wider than the list show their whole label as a tooltip; the others none.
        auto *list = qobject_cast<QListWidget *>(qt::control(wb::kOperationList));
        int room = list->viewport()->width();
        int cut = 0;
        for (int i = 0; i < list->count(); ++i) {
            QListWidgetItem *item = list->item(i);
            bool wide = list->fontMetrics().horizontalAdvance(item->text()) > room;
            cut += wide;
            EXPECT_EQ(item->toolTip(), wide ? item->text() : QString()) << i;
        }
        EXPECT_GE(cut, 2);   // "Generate RSA random number", the prime tests
        // It cannot shrink until a control is cut off; the designed size stays.
        EXPECT_EQ(window->size(), pixels(0, 0, 464, 278).size());
        window->resize(100, 80);
        for (const Expected &e : kExpected)
            EXPECT_TRUE(window->rect().contains(qt::control(e.id)->geometry())) << e.id;
        // Ctrl+Enter calculates from any field, without a line break in a multi-line one.
        select_operation("a * b");
        dlg::set_text(wb::kFieldA, "6");
        dlg::set_text(wb::kFieldB, "7");
        for (int id : {wb::kFieldA, wb::kBitlengthField, wb::kOperationList}) {
            dlg::set_text(wb::kResultField, "");
            qt::control(id)->setFocus();
            QTest::keyClick(qt::control(id), Qt::Key_Return, Qt::ControlModifier);
            qt::wait_until_idle();
            EXPECT_EQ(dlg::get_text(wb::kResultField), "42") << id;
        }
        EXPECT_EQ(dlg::get_text(wb::kFieldA), "6");
        // A number pasted across two lines is named as such.
        dlg::set_text(wb::kFieldA, "12\r\n34");
        click(wb::kCalculateButton);
        ASSERT_EQ(qt::message_box_texts().size(), 1u);
        EXPECT_EQ(qt::message_box_texts()[0].rfind("Parameter 'a' goes on in a second line.", 0), 0u);
        EXPECT_EQ(dlg::get_text(wb::kResultField), "");
        // Passphrases are not shown as typed; the plaintext is.
        select_operation("AES encrypt/decrypt data");
        for (const char *answer : {"plain", "pass", "pass"}) qt::queue_input_answer(answer);
        click(wb::kCalculateButton);
        EXPECT_EQ(dlg::get_text(wb::kFieldC), "plain");
        // F1: what the program does and the versions in use (the name and help given at start).
        qt::clear_recorded();
        window->activateWindow();   // the boxes had the focus
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTest::keyClick(qt::control(wb::kFieldA), Qt::Key_F1);
        ASSERT_EQ(qt::message_box_texts().size(), 1u);
        std::string help = qt::message_box_texts()[0];
        for (const char *part : {"Choose an operation", "Ctrl+Enter: Calculate", "GMP 6", "OpenSSL 3", "FLINT ",
                                 "PARI ", "Qt 6"})
            EXPECT_NE(help.find(part), std::string::npos) << part;
    });
    qt::inspect_input_boxes(nullptr);
    qt::auto_close_message_boxes(false);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(echo_modes, (std::vector{QLineEdit::Normal, QLineEdit::Password, QLineEdit::Password}));
}
