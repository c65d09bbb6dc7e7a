// The test bench in real (offscreen) windows: buttons pressed while an action runs do
// nothing, and closing the window during a battery ends the program.
#include "testbench.h"

#include <qt/qt_testing.h>

#include <QAbstractButton>
#include <QKeyEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDialog>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

void show_banner() {
    for (const std::string &line : testbench::banner(100)) testbench::log_append(line);
}

void click(int id) {
    if (auto *button = qobject_cast<QAbstractButton *>(dlg::qt_testing::control(id))) button->click();
}

std::string log_text() {
    auto *log = qobject_cast<QPlainTextEdit *>(dlg::qt_testing::control(testbench::kLog));
    return log ? log->toPlainText().toStdString() : "";
}

size_t count(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class TestbenchQt : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("VORN_PAUSE_SCALE", "0", 1);
        dlg::qt_testing::use_qt_backend();
        dlg::qt_testing::clear_recorded();
        dlg::qt_testing::inspect_input_boxes({});
    }
};

TEST_F(TestbenchQt, ButtonsPressedDuringABatteryDoNothing) {
    std::string log;
    bool clicked_during_battery = false;
    bool wait_cursor_during_battery = false;
    bool arrow_after_battery = false;
    dlg::qt_testing::queue_input_answer("0");
    // Should a nested action start after all, its boxes are cancelled rather than left
    // waiting for a user; it would then log its lines.
    dlg::qt_testing::inspect_input_boxes([](QDialog *box) {
        if (dlg::qt_testing::input_box_prompts().size() > 1) box->reject();
    });
    QTimer during;   // the GUI answers while the battery's handler runs on its own thread
    dlg::show_modal(testbench::main_dialog(), testbench::dispatch, [&] {
        show_banner();
        QTimer::singleShot(0, [&] {
            QObject::connect(&during, &QTimer::timeout, [&] {
                const QCursor *cursor = QGuiApplication::overrideCursor();
                if (clicked_during_battery || !cursor || cursor->shape() != Qt::WaitCursor) return;
                wait_cursor_during_battery = true;
                for (int id : {testbench::kBbsButton, testbench::kRsaButton, testbench::kBatteryButton})
                    click(id);
                clicked_during_battery = log_text().find("GlobalError") == std::string::npos;
            });
            during.start(1);
            click(testbench::kBatteryButton);
            dlg::qt_testing::wait_until_idle();
            during.stop();
            log = log_text();
            arrow_after_battery = QGuiApplication::overrideCursor() == nullptr;
            dlg::end_dialog(0);
        });
    });
    EXPECT_TRUE(clicked_during_battery);
    EXPECT_TRUE(wait_cursor_during_battery);
    EXPECT_TRUE(arrow_after_battery);
    auto prompts = dlg::qt_testing::input_box_prompts();
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0], "For how long do you want to perform tests (in minutes):");
    EXPECT_EQ(count(log, "Tests started..."), 1u) << log;
    EXPECT_EQ(count(log, " 32 tests done,  0 errors"), 1u) << log;
    EXPECT_EQ(count(log, "modulus bitlenght"), 0u) << log;
}

TEST_F(TestbenchQt, OnlyTheThreeButtonsHaveActions) {
    dlg::qt_testing::queue_input_answer("0");
    std::string log;
    bool still_open = false;
    dlg::show_modal(testbench::main_dialog(), testbench::dispatch, [&] {
        show_banner();
        QTimer::singleShot(0, [&] {
            // Labels, the log, OK and Cancel (Enter and Esc), and notifications other than
            // 0 and 1 start nothing.
            for (int id : {testbench::kBatteryLabel, testbench::kFileLabel, testbench::kLog, 1, 2})
                for (int code : {0, 1}) testbench::dispatch(id, code);
            for (int code : {2, 3, 0x300}) testbench::dispatch(testbench::kBatteryButton, code);
            // Enter and Esc pressed in the window itself do not close it.
            if (QWidget *window = dlg::qt_testing::main_dialog()) {
                for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
                    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
                    QCoreApplication::sendEvent(window, &press);
                }
            }
            QCoreApplication::processEvents();
            still_open = !dlg::dialog_closed();
            // Notification 1 counts as a click.
            testbench::dispatch(testbench::kBatteryButton, 1);
            log = log_text();
            dlg::end_dialog(0);
        });
    });
    EXPECT_TRUE(still_open);
    auto prompts = dlg::qt_testing::input_box_prompts();
    EXPECT_EQ(prompts.size(), 1u);
    EXPECT_EQ(count(log, " 32 tests done,  0 errors"), 1u) << log;
}

TEST_F(TestbenchQt, ClosingDuringABatteryEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT({
        dlg::qt_testing::queue_input_answer("1");  // a minute, unless the close ends it
        dlg::show_modal(testbench::main_dialog(), testbench::dispatch, [&] {
            show_banner();
            QTimer::singleShot(0, [] {
                QTimer::singleShot(200, [] {
                    if (QWidget *window = dlg::qt_testing::main_dialog()) window->close();
                });
                click(testbench::kBatteryButton);
            });
        });
        std::exit(3);
    }, testing::ExitedWithCode(0), "");
}

}  // namespace
