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

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

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

std::string button_text(int id) {
    auto *button = qobject_cast<QAbstractButton *>(dlg::qt_testing::control(id));
    return button ? button->text().toStdString() : "";
}

// While a battery of an hour runs, the other buttons do nothing and the battery's own button
// reads "Stop battery": a click on it ends the run after the test in progress, and the
// summary is logged with the counts so far. The progress stands in the window's caption.
TEST_F(TestbenchQt, TheBatteryButtonStopsARunningBattery) {
    std::string log, caption_during, button_during;
    bool wait_cursor_during_battery = false;
    bool arrow_after_battery = false;
    dlg::qt_testing::queue_input_answer("60");
    // A second input box would mean that a click started another action.
    dlg::qt_testing::inspect_input_boxes([](QDialog *box) {
        if (dlg::qt_testing::input_box_prompts().size() > 1) box->reject();
    });
    QTimer during;   // the GUI answers while the battery's handler runs on its own thread
    dlg::show_modal(testbench::main_dialog(), testbench::dispatch, [&] {
        show_banner();
        QTimer::singleShot(0, [&] {
            QObject::connect(&during, &QTimer::timeout, [&] {
                caption_during = dlg::qt_testing::main_dialog()->windowTitle().toStdString();
                if (caption_during.find("errors") == std::string::npos) return;   // no progress yet
                const QCursor *cursor = QGuiApplication::overrideCursor();
                wait_cursor_during_battery = cursor && cursor->shape() == Qt::WaitCursor;
                button_during = button_text(testbench::kBatteryButton);
                for (int id : {testbench::kBbsButton, testbench::kRsaButton, testbench::kBatteryButton})
                    click(id);
                during.stop();
            });
            during.start(10);
            click(testbench::kBatteryButton);
            dlg::qt_testing::wait_until_idle();
            during.stop();
            log = log_text();
            arrow_after_battery = QGuiApplication::overrideCursor() == nullptr;
            EXPECT_EQ(button_text(testbench::kBatteryButton), "Run battery of tests");
            EXPECT_EQ(dlg::qt_testing::main_dialog()->windowTitle().toStdString(), "VORN - Testbench V1.01");
            dlg::end_dialog(0);
        });
    });
    EXPECT_EQ(button_during, "Stop battery");
    EXPECT_NE(caption_during.find("VORN - Testbench V1.01 - pass "), std::string::npos) << caption_during;
    EXPECT_TRUE(wait_cursor_during_battery);
    EXPECT_TRUE(arrow_after_battery);
    auto prompts = dlg::qt_testing::input_box_prompts();
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(count(log, "Tests started..."), 1u) << log;
    EXPECT_EQ(count(log, "tests done,  0 errors, stopped by the user"), 1u) << log;
    EXPECT_EQ(count(log, "GlobalError: 0"), 1u) << log;
    EXPECT_EQ(count(log, "modulus bitlenght"), 0u) << log;
    // Progress never reaches the log.
    EXPECT_EQ(count(log, "pass "), 0u) << log;
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

// Closing the window while a file is written ends the program at once; the half-written
// temporary file goes with it and the earlier file keeps its bytes.
TEST_F(TestbenchQt, ClosingDuringAFileRunLeavesTheEarlierFile) {
    // The death test's child runs this test again from the start: it takes the parent's
    // folder from the environment.
    std::string folder;
    if (const char *given = std::getenv("TESTBENCH_QT_FOLDER")) {
        folder = given;
    } else {
        char folder_template[] = "/tmp/testbench_qt_XXXXXX";
        ASSERT_NE(mkdtemp(folder_template), nullptr);
        folder = folder_template;
        setenv("TESTBENCH_QT_FOLDER", folder.c_str(), 1);
    }
    std::string earlier = folder + "/BBS.txt";
    std::FILE *f = std::fopen(earlier.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("earlier data", f);
    std::fclose(f);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT({
        if (chdir(folder.c_str()) != 0) std::exit(4);
        for (const char *answer : {"128", "y", "1000000"}) dlg::qt_testing::queue_input_answer(answer);
        dlg::show_modal(testbench::main_dialog(), testbench::dispatch, [&] {
            show_banner();
            QTimer::singleShot(0, [] {
                QTimer::singleShot(500, [] {
                    if (QWidget *window = dlg::qt_testing::main_dialog()) window->close();
                });
                click(testbench::kBbsButton);
            });
        });
        std::exit(3);
    }, testing::ExitedWithCode(0), "");
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"BBS.txt"});
    std::ifstream in(earlier);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "earlier data");
    std::filesystem::remove_all(folder);
    unsetenv("TESTBENCH_QT_FOLDER");
}

}  // namespace
