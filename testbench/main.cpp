// testbench: checks the VORN library with a timed battery of tests and writes files of its
// generators' output.
#include "testbench.h"

#include <vorn.hpp>

int main(int argc, char **argv) {
    int early_exit = dlg::start(argc, argv, testbench::kProgramInfo);
    if (early_exit >= 0) return early_exit;
    dlg::seed(static_cast<float>(dlg::now()));
    testbench::install_work_hooks();
    dlg::show_modal(testbench::main_dialog(), testbench::dispatch, [] {
        for (const std::string &line : testbench::banner(vorn::version()))
            testbench::log_append(line);
    });
    return 0;
}
