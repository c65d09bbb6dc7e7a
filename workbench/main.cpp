// workbench: an interactive big-number calculator over the VORN library.
#include <dialogs.h>

#include "workbench.hpp"

int main(int argc, char **argv) {
    int code = dlg::start(argc, argv, wb::kProgramInfo);
    if (code >= 0) return code;
    return wb::run_workbench();
}
