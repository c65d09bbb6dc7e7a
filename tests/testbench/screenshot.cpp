// Saves a picture of the test bench's window after a one-pass battery:
//   testbench_screenshot OUTPUT.png   (under xvfb-run, or offscreen)
#include "testbench.h"

#include <qt/qt_testing.h>

#include <vorn.hpp>

#include <QAbstractButton>
#include <QTimer>

#include <cstdio>
#include <string>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    std::string output = argv[1];
    bool saved = false;
    dlg::qt_testing::use_qt_backend();
    dlg::seed(static_cast<float>(dlg::now()));
    dlg::qt_testing::queue_input_answer("0");
    dlg::show_modal(testbench::main_dialog(), testbench::dispatch, [&] {
        for (const std::string &line : testbench::banner(vorn::version())) testbench::log_append(line);
        QTimer::singleShot(300, [&] {
            if (auto *button = qobject_cast<QAbstractButton *>(
                    dlg::qt_testing::control(testbench::kBatteryButton)))
                button->click();
            QTimer::singleShot(300, [&] {
                saved = dlg::qt_testing::save_screenshot(output);
                dlg::end_dialog(0);
            });
        });
    });
    if (!saved) std::fprintf(stderr, "could not save %s\n", output.c_str());
    return saved ? 0 : 1;
}
