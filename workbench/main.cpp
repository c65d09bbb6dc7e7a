// workbench: an interactive big-number calculator over the VORN library.
#include <dialogs.h>
#include <vorn_version.h>

#include "workbench.hpp"

int main(int argc, char **argv) {
    const dlg::ProgramInfo info{
        "workbench", VORN_VERSION_STRING,
        "Interactive calculator for huge numbers, primes, RSA, AES and SHA-256 over the VORN library",
        "Workbench"};
    int code = dlg::start(argc, argv, info);
    if (code >= 0) return code;
    return wb::run_workbench();
}
