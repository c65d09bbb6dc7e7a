// Program start: the command line, then the backend.
#include "backend.h"

#include <cstdio>

namespace dlg {

namespace {

std::string program_caption = "VORN";
std::string name;
ProgramInfo program;

}  // namespace

const std::string &backend::default_caption() { return program_caption; }
const std::string &backend::program_name() { return name; }
const ProgramInfo &backend::program_info() { return program; }

int start(int argc, char **argv, const ProgramInfo &info) {
    if (!info.default_caption.empty()) program_caption = info.default_caption;
    name = info.name;
    program = info;
    bool console = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help") {
            std::printf("Usage: %s [--console | --help | --version]\n%s\n\n"
                        "  --console  run the dialog in the terminal (type help there for the commands)\n"
                        "             or scripted from standard input; also chosen when no display\n"
                        "             is available\n"
                        "  --help     show this help and exit\n"
                        "  --version  show the version and exit\n",
                        info.name.c_str(), info.summary.c_str());
            return 0;
        }
        if (arg == "--version") {
            std::printf("%s %s\n", info.name.c_str(), info.version.c_str());
            return 0;
        }
        if (arg == "--console") {
            console = true;
            continue;
        }
        std::fprintf(stderr, "%s: unknown option '%s' (try --help)\n", info.name.c_str(), argv[i]);
        return 2;
    }
    backend::choose_backend(console, argc, argv, info.name);
    return -1;
}

}  // namespace dlg
