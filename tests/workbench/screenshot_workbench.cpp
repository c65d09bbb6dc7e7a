// Saves a picture of the workbench dialog after one calculation, for the documentation:
//   QT_QPA_PLATFORM=xcb xvfb-run -a screenshot_workbench docs/workbench.png
#include <dialogs.h>
#include <qt/qt_testing.h>
#include <workbench.hpp>

#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PNG_FILE\n", argv[0]);
        return 2;
    }
    namespace qt = dlg::qt_testing;
    qt::use_qt_backend();
    bool saved = false;
    QTimer::singleShot(300, [&] {
        auto *list = qobject_cast<QListWidget *>(qt::control(wb::kOperationList));
        list->setCurrentRow(8);  // "a ^ b mod c"
        qt::wait_until_idle();   // the field set-up runs first; a click meanwhile is dropped
        dlg::set_text(wb::kFieldA, "123456789012345678901234567890");
        dlg::set_text(wb::kFieldB, "65537");
        dlg::set_text(wb::kFieldC, "340282366920938463463374607431768211507");
        qobject_cast<QPushButton *>(qt::control(wb::kCalculateButton))->click();
        qt::wait_until_idle();
        QTimer::singleShot(300, [&] {
            saved = qt::save_screenshot(argv[1]);
            qt::main_dialog()->close();
        });
    });
    dlg::show_modal(wb::main_dialog(), wb::dispatch, wb::prepare_dialog);
    if (!saved) std::fprintf(stderr, "could not save %s\n", argv[1]);
    return saved ? 0 : 1;
}
