// The Qt backend under the offscreen platform: geometry in dialog units, clicks reaching the
// handler (on its own thread), Enter/Esc/close, input and message boxes, the guard against
// nested commands, multi-line texts of any size, and UTF-8 text.
#include "dialogs.h"
#include "qt/qt_testing.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>

namespace {

namespace qt = dlg::qt_testing;

struct Call {
    int id, code;
    bool operator==(const Call &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Call &call) { return out << '(' << call.id << ", " << call.code << ')'; }

dlg::Dialog test_dialog() {
    return {"Qt test", 20, 30, 282, 189, {
        {1001, dlg::Kind::Label, "Centred label", 6, 4, 270, 16, dlg::kCenter | dlg::kCenterV | dlg::kClientEdge},
        {1002, dlg::Kind::Button, "Run battery of tests", 76, 22, 132, 16},
        {1003, dlg::Kind::Button, "&Other", 6, 60, 134, 16},
        {1004, dlg::Kind::Edit, "120", 142, 60, 36, 12, dlg::kClientEdge},
        {1005, dlg::Kind::ListBox, "", 200, 22, 76, 50, dlg::kVScroll},
        {1007, dlg::Kind::MultiEdit, "", 6, 80, 270, 102, dlg::kVScroll | dlg::kHScroll | dlg::kClientEdge},
        {1008, dlg::Kind::GroupBox, "Frame", 2, 18, 280, 60},
    }};
}

// Shows the dialog, runs script once it is up, and returns show_modal's result. A dialog that
// the script leaves open is closed after a minute (a sanitizer build on a busy machine takes
// seconds for the long-log test alone), and the test fails.
int run_dialog(const dlg::Handler &handler, std::function<void()> script,
               const std::function<void()> &prepare = nullptr) {
    qt::use_qt_backend();
    bool timed_out = false;
    QTimer::singleShot(0, [script] { script(); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&timed_out] {
        timed_out = true;
        dlg::end_dialog(-1);
    });
    guard.start(60000);
    int result = dlg::show_modal(test_dialog(), handler, prepare);
    EXPECT_FALSE(timed_out) << "the dialog did not end";
    return result;
}

QRect in_dialog_units(int x, int y, int w, int h) {
    int bx = qt::base_unit_x(), by = qt::base_unit_y();
    return QRect((x * bx + 2) / 4, (y * by + 4) / 8, (w * bx + 2) / 4, (h * by + 4) / 8);
}

TEST(QtBackend, ControlsArePlacedInDialogUnitsOfTheDialogFont) {
    run_dialog([](int, int) {}, [] {
        QWidget *dialog = qt::main_dialog();
        ASSERT_NE(dialog, nullptr);
        QFontMetrics metrics(dialog->font());
        EXPECT_EQ(dialog->font().pointSize(), 8);
        int average = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        EXPECT_EQ(qt::base_unit_x(), (average / 26 + 1) / 2);
        EXPECT_EQ(qt::base_unit_y(), metrics.height());
        EXPECT_EQ(dialog->size(), in_dialog_units(0, 0, 282, 189).size());
        const struct { int id, x, y, w, h; } table[] = {
            {1001, 6, 4, 270, 16}, {1002, 76, 22, 132, 16}, {1004, 142, 60, 36, 12}, {1007, 6, 80, 270, 102},
        };
        for (const auto &row : table)
            EXPECT_EQ(qt::control(row.id)->geometry(), in_dialog_units(row.x, row.y, row.w, row.h)) << row.id;
        // The texts fit their controls.
        for (int id : {1002, 1003}) {
            auto *button = static_cast<QPushButton *>(qt::control(id));
            EXPECT_LT(metrics.horizontalAdvance(button->text().remove('&')), button->width()) << id;
        }
        auto *label = static_cast<QLabel *>(qt::control(1001));
        EXPECT_EQ(label->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
        EXPECT_FALSE(static_cast<QPushButton *>(qt::control(1002))->autoDefault());
        dialog->close();
    });
}

TEST(QtBackend, ClickReachesTheHandlerAndGroupBoxesDoNotTakeClicks) {
    std::vector<Call> calls;
    // Every command runs on one handler thread, so what is kept per thread (the library's
    // global error) carries from one command to the next.
    static thread_local int commands_on_this_thread = 0;
    std::vector<int> counts;
    std::vector<std::thread::id> threads;
    run_dialog([&](int id, int code) {
        calls.push_back({id, code});
        counts.push_back(++commands_on_this_thread);
        threads.push_back(std::this_thread::get_id());
    }, [] {
        // 1002 lies inside the group box 1008, which comes later in creation order.
        QTest::mouseClick(qt::control(1002), Qt::LeftButton);
        qt::wait_until_idle();
        QWidget *dialog = qt::main_dialog();
        QPoint centre = qt::control(1003)->geometry().center();
        QWidget *hit = dialog->childAt(centre);
        EXPECT_EQ(hit, qt::control(1003));
        static_cast<QListWidget *>(qt::control(1005))->setCurrentRow(1);
        qt::wait_until_idle();
        dialog->close();
    }, [] {
        for (const char *entry : {"one", "two"}) dlg::add_list_entry(1005, entry);
    });
    EXPECT_EQ(calls, (std::vector<Call>{{1002, dlg::kClicked}, {1005, dlg::kSelChange}}));
    EXPECT_EQ(counts, (std::vector<int>{1, 2}));
    ASSERT_EQ(threads.size(), 2u);
    EXPECT_NE(threads[0], std::this_thread::get_id());
}

TEST(QtBackend, EnterAndEscDoNothingCloseEnds) {
    std::vector<Call> calls;
    bool still_open = false;
    int result = run_dialog([&](int id, int code) { calls.push_back({id, code}); }, [&] {
        QWidget *dialog = qt::main_dialog();
        qt::control(1002)->setFocus();
        QTest::keyClick(qt::control(1002), Qt::Key_Return);
        QTest::keyClick(qt::control(1002), Qt::Key_Enter);
        QTest::keyClick(qt::control(1004), Qt::Key_Escape);
        QTest::keyClick(dialog, Qt::Key_Escape);
        QTest::keyClick(qt::control(1007), Qt::Key_Return);
        still_open = dialog->isVisible() && !dlg::dialog_closed();
        EXPECT_EQ(dlg::get_text(1007), "");   // no line break typed into the log
        dialog->close();
    });
    EXPECT_TRUE(still_open);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(dlg::dialog_closed());
}

TEST(QtBackend, EndDialogReturnsItsResult) {
    int result = run_dialog([](int id, int) { if (id == 1002) dlg::end_dialog(7); },
                            [] { QTest::mouseClick(qt::control(1002), Qt::LeftButton); });
    EXPECT_EQ(result, 7);
}

TEST(QtBackend, InputBoxLayoutAndAnswers) {
    std::vector<std::string> answers;
    std::vector<std::string> checks;
    qt::inspect_input_boxes([&](QDialog *box) {
        auto *edit = box->findChild<QLineEdit *>();
        auto *label = box->findChild<QLabel *>();
        auto buttons = box->findChildren<QPushButton *>();
        ASSERT_TRUE(edit && label && buttons.size() == 2);
        EXPECT_EQ(box->size(), in_dialog_units(0, 0, 150, 100).size());
        EXPECT_EQ(label->geometry(), in_dialog_units(5, 5, 95, 72));
        EXPECT_EQ(edit->geometry(), in_dialog_units(2, 82, 146, 12));
        EXPECT_EQ(buttons[0]->text(), "OK");
        EXPECT_TRUE(buttons[0]->isDefault());
        EXPECT_EQ(buttons[0]->geometry(), in_dialog_units(104, 5, 40, 10));
        EXPECT_EQ(buttons[1]->text(), "CANCEL");
        EXPECT_EQ(buttons[1]->geometry(), in_dialog_units(104, 19, 40, 10));
        EXPECT_EQ(edit->selectedText(), edit->text());   // the default, fully selected
        EXPECT_EQ(box->parentWidget(), nullptr);         // no owner
        checks.push_back(box->windowTitle().toStdString() + "|" + edit->text().toStdString());
    });
    qt::queue_input_answer("42");
    qt::queue_input_cancel();
    qt::queue_input_answer(std::string(300, 'x'));
    run_dialog([&](int id, int) {
        if (id != 1002) return;
        answers.push_back(dlg::input_box("For how long?", "VORN testbench", "1"));
        answers.push_back(dlg::input_box("Cancelled", "", "5"));
        answers.push_back(dlg::input_box("Long", "", ""));
        dlg::end_dialog(0);
    }, [] { QTest::mouseClick(qt::control(1002), Qt::LeftButton); });
    qt::inspect_input_boxes(nullptr);
    EXPECT_EQ(answers, (std::vector<std::string>{"42", "", std::string(255, 'x')}));
    EXPECT_EQ(checks, (std::vector<std::string>{"VORN testbench|1", "VORN|5", "VORN|"}));
}

TEST(QtBackend, MessageBoxIsRecordedAndClosed) {
    qt::auto_close_message_boxes(true);
    qt::clear_recorded();
    run_dialog([](int id, int) {
        if (id != 1002) return;
        dlg::message_box("Division by zero!");
        dlg::end_dialog(0);
    }, [] { QTest::mouseClick(qt::control(1002), Qt::LeftButton); });
    qt::auto_close_message_boxes(false);
    EXPECT_EQ(qt::message_box_texts(), (std::vector<std::string>{"Division by zero!"}));
}

TEST(QtBackend, ClickDuringAPumpStepIsDropped) {
    std::vector<Call> calls;
    run_dialog([&](int id, int code) {
        calls.push_back({id, code});
        if (id != 1002) return;
        // A click of another button arrives while this handler takes pump steps.
        QMetaObject::invokeMethod(qt::control(1003), "click", Qt::QueuedConnection);
        for (int i = 0; i < 20; ++i) dlg::pump_step();
    }, [] {
        QTest::mouseClick(qt::control(1002), Qt::LeftButton);
        qt::wait_until_idle();
        // Once the handler has returned, the same button works.
        QTest::mouseClick(qt::control(1003), Qt::LeftButton);
        qt::wait_until_idle();
        qt::main_dialog()->close();
    });
    EXPECT_EQ(calls, (std::vector<Call>{{1002, 0}, {1003, 0}}));
}

TEST(QtBackend, ListSelectionDuringAHandlerIsDroppedAndPutBack) {
    std::vector<Call> calls;
    std::string selected_during, selected_after;
    run_dialog([&](int id, int code) {
        calls.push_back({id, code});
        if (id != 1002) return;
        auto *list = static_cast<QListWidget *>(qt::control(1005));
        QTimer::singleShot(0, list, [list] { list->setCurrentRow(2); });   // the user picks "three"
        for (int i = 0; i < 20; ++i) dlg::pump_step();
        selected_during = dlg::selected_entry(1005);
    }, [&] {
        auto *list = static_cast<QListWidget *>(qt::control(1005));
        list->setCurrentRow(0);
        qt::wait_until_idle();
        QTest::mouseClick(qt::control(1002), Qt::LeftButton);
        qt::wait_until_idle();
        selected_after = dlg::selected_entry(1005);
        list->setCurrentRow(1);   // with no handler running, a change goes through
        qt::wait_until_idle();
        qt::main_dialog()->close();
    }, [] {
        for (const char *entry : {"one", "two", "three"}) dlg::add_list_entry(1005, entry);
    });
    EXPECT_EQ(calls, (std::vector<Call>{{1005, 1}, {1002, 0}, {1005, 1}}));
    EXPECT_EQ(selected_during, "one");
    EXPECT_EQ(selected_after, "one");
}

// While a handler works for long, the window answers: timers run, the wait cursor shows,
// other commands are dropped, and the close box ends the process at once with exit code 0
// (the handler alone would take a minute; a failed check exits with 5).
TEST(QtBackendDeathTest, WindowAnswersDuringALongHandlerAndCloseEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT({
        std::atomic<int> calls = 0;
        run_dialog([&](int, int) {
            ++calls;
            for (int i = 0; i < 60000; ++i) dlg::pause_ms(1);
        }, [&] {
            QTest::mouseClick(qt::control(1002), Qt::LeftButton);
            QTimer::singleShot(300, [&] {
                QTest::mouseClick(qt::control(1003), Qt::LeftButton);
                const QCursor *cursor = QApplication::overrideCursor();
                if (calls != 1 || !cursor || cursor->shape() != Qt::WaitCursor) std::_Exit(5);
                qt::main_dialog()->close();
            });
        });
        std::exit(3);
    }, testing::ExitedWithCode(0), "");
}

TEST(QtBackend, MultiLineTextsAndTheUsersTyping) {
    run_dialog([](int, int) {}, [] {
        auto *log = static_cast<QPlainTextEdit *>(qt::control(1007));
        dlg::set_text(1007, dlg::get_text(1007) + "\r\nTests started...");
        dlg::set_text(1007, dlg::get_text(1007) + "\r\nsecond");
        EXPECT_EQ(log->toPlainText().toStdString(), "\nTests started...\nsecond");
        EXPECT_EQ(dlg::get_text(1007), "\r\nTests started...\r\nsecond");
        // What the user types stays, and reads back with CR LF line ends.
        dlg::caret_to_end(1007);
        QTest::keyClicks(log, " typed");
        EXPECT_EQ(dlg::get_text(1007), "\r\nTests started...\r\nsecond typed");
        dlg::set_text(1007, std::string("new\0hidden", 10));
        EXPECT_EQ(dlg::get_text(1007), "new");
        dlg::set_text(1004, "\xE9t\xE9");   // any byte survives the round trip
        EXPECT_EQ(dlg::get_text(1004), "\xE9t\xE9");
        qt::main_dialog()->close();
    });
}

TEST(QtBackend, LongLogsAppend) {
    run_dialog([](int, int) {}, [&] {
        std::string big(4 << 20, 'x');
        for (size_t i = 100; i < big.size(); i += 101) big[i] = '\n';
        dlg::set_text(1007, big);
        for (int i = 0; i < 200; ++i) dlg::set_text(1007, dlg::get_text(1007) + "\r\nline " + std::to_string(i));
        dlg::caret_to_end(1007);
        EXPECT_EQ(dlg::get_text(1007).size(), big.size() + 200 * 2 + 200 * 5 + 10 * 1 + 90 * 2 + 100 * 3);
        qt::main_dialog()->close();
    });
}

// A line of a million digits (shown cut into rows) reads back, copies, pastes and takes the
// user's typing as one line; replacing and clearing it leave nothing of it behind.
TEST(QtBackend, HugeLineInAWrappedFieldStaysOneLine) {
    dlg::Dialog dialog = test_dialog();
    dialog.controls.push_back({1009, dlg::Kind::MultiEdit, "", 6, 120, 200, 56, dlg::kWrap | dlg::kVScroll});
    qt::use_qt_backend();
    QTimer::singleShot(0, [&] {
        auto *edit = static_cast<QPlainTextEdit *>(qt::control(1009));
        std::string digits;
        for (int i = 0; i < 1000000; ++i) digits += char('0' + (i * 7 + i / 13) % 10);
        dlg::set_text(1009, "first\r\n" + digits + "\r\nlast");
        edit->grab();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "first\n" + digits + "\nlast");
        dlg::set_text(1009, "");
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);   // pasted back, cut into rows again
        EXPECT_GT(edit->document()->blockCount(), 3);
        EXPECT_EQ(dlg::get_text(1009), "first\r\n" + digits + "\r\nlast");
        dlg::set_text(1009, "");
        EXPECT_EQ(dlg::get_text(1009), "");
        EXPECT_EQ(edit->toPlainText(), "");
        dlg::set_text(1009, digits);
        dlg::caret_to_end(1009);
        QTest::keyClicks(edit, "9");
        EXPECT_EQ(dlg::get_text(1009), digits + "9");
        dlg::set_text(1009, "7");
        EXPECT_EQ(edit->toPlainText(), "7");
        qt::main_dialog()->close();
    });
    dlg::show_modal(dialog, [](int, int) {});
}

// Key presses carrying the characters, as a keyboard with these keys sends them.
void type(QWidget *widget, const QString &text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
    }
}

// What the user types reaches the program as UTF-8, texts the program sets show as text,
// and the input box's limit of 255 counts characters.
TEST(QtBackend, TextIsUtf8BothWays) {
    std::vector<std::string> read, answers;
    std::string e300;
    for (int i = 0; i < 300; ++i) e300 += "\u00e9";
    qt::queue_input_answer(e300.substr(0, 400));   // 200 characters
    qt::queue_input_answer(e300);
    run_dialog([&](int id, int) {
        if (id != 1002) return;
        read.push_back(dlg::get_text(1004));
        read.push_back(dlg::get_text(1007));
        read.push_back(dlg::selected_entry(1005));
        answers.push_back(dlg::input_box("\u20ac?", "", ""));
        answers.push_back(dlg::input_box("\u20ac?", "", ""));
    }, [] {
        auto *line = static_cast<QLineEdit *>(qt::control(1004));
        line->clear();
        type(line, QString::fromUtf8("caf\u00e9 \u20ac"));
        type(qt::control(1007), QString::fromUtf8("\u00fc"));
        static_cast<QListWidget *>(qt::control(1005))->setCurrentRow(0);
        qt::wait_until_idle();
        dlg::set_text(1001, "\u00c6\u00f8");
        EXPECT_EQ(static_cast<QLabel *>(qt::control(1001))->text(), QString::fromUtf8("\u00c6\u00f8"));
        QTest::mouseClick(qt::control(1002), Qt::LeftButton);
        qt::wait_until_idle();
        qt::main_dialog()->close();
    }, [] { dlg::add_list_entry(1005, "na\u00efve"); });
    EXPECT_EQ(read, (std::vector<std::string>{"caf\xC3\xA9 \xE2\x82\xAC", "\xC3\xBC", "na\xC3\xAFve"}));
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].size(), 400u);
    EXPECT_EQ(answers[1], e300.substr(0, 510));
    EXPECT_EQ(qt::input_box_prompts().back(), "\xE2\x82\xAC?");
}

TEST(QtBackend, FontsCursorVisibilityAndCaret) {
    run_dialog([](int, int) {}, [] {
        dlg::use_system_font(1001);
        QFont system = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        EXPECT_EQ(qt::control(1001)->font().family(), system.family());
        EXPECT_EQ(qt::control(1001)->font().pointSizeF(), system.pointSizeF());
        EXPECT_EQ(qt::control(1002)->font().pointSize(), 8);
        // Turning the wait cursor on twice and off once leaves the arrow: no stacked cursors.
        dlg::set_wait_cursor(true);
        dlg::set_wait_cursor(true);
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        dlg::set_wait_cursor(false);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        dlg::set_visible(1004, false);
        EXPECT_FALSE(qt::control(1004)->isVisible());
        dlg::set_visible(1004, true);
        EXPECT_TRUE(qt::control(1004)->isVisible());
        dlg::set_text(1007, "one\r\ntwo");
        auto *log = static_cast<QPlainTextEdit *>(qt::control(1007));
        log->moveCursor(QTextCursor::Start);
        dlg::caret_to_end(1007);
        EXPECT_EQ(log->textCursor().position(), 7);
        qt::main_dialog()->close();
    });
}

TEST(QtBackend, ScreenshotIsSaved) {
    std::string path = testing::TempDir() + "dialogs_screenshot.png";
    bool saved = false;
    run_dialog([](int, int) {}, [&] {
        saved = qt::save_screenshot(path);
        qt::main_dialog()->close();
    });
    EXPECT_TRUE(saved);
    QImage image(QString::fromStdString(path));
    EXPECT_FALSE(image.isNull());
    EXPECT_FALSE(qt::save_screenshot(path));   // no dialog any more
}

}  // namespace
