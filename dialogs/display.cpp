// Whether the windows can be used: a display named in the environment, checked before Qt
// tries it, and the restart in the console when Qt still cannot start.
#include "backend.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace dlg::backend {

namespace {

bool has_display() {
    const char *x11 = std::getenv("DISPLAY");
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

bool socket_answers(const std::string &path, bool abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    size_t offset = abstract ? 1 : 0;   // an abstract name starts with a zero byte
    if (path.size() + offset >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    bool connected = connect(fd, reinterpret_cast<sockaddr *>(&address), length) == 0;
    close(fd);
    return connected;
}

// Qt aborts the process when its platform cannot connect to the display, so a display
// that is named but not there is found out first and the console is used instead. Only
// local displays can be checked cheaply; any other is trusted.
bool display_reachable() {
    if (const char *platform = std::getenv("QT_QPA_PLATFORM"); platform && *platform) return true;
    if (const char *x11 = std::getenv("DISPLAY"); x11 && *x11) {
        if (x11[0] != ':') return true;
        std::string number(x11 + 1);
        number = number.substr(0, number.find('.'));
        std::string path = "/tmp/.X11-unix/X" + number;
        if (socket_answers(path, false) || socket_answers(path, true)) return true;
    }
    if (const char *wayland = std::getenv("WAYLAND_DISPLAY"); wayland && *wayland) {
        std::string path = wayland;
        if (path[0] != '/') {
            const char *runtime = std::getenv("XDG_RUNTIME_DIR");
            path = std::string(runtime ? runtime : "") + "/" + path;
        }
        if (socket_answers(path, false)) return true;
    }
    return false;
}

int start_argc = 0;
char **start_argv = nullptr;
std::string start_name;

// Called when Qt cannot start after the display seemed to answer: the program starts
// again in the console with the same arguments and the same standard input, of which
// nothing has been read yet.
[[maybe_unused]] void restart_in_console() {
    std::fprintf(stderr, "%s: cannot open the display; running in the console\n", start_name.c_str());
    std::vector<char *> args(start_argv, start_argv + start_argc);
    static char console_option[] = "--console";
    args.push_back(console_option);
    args.push_back(nullptr);
    std::fflush(nullptr);
    execv("/proc/self/exe", args.data());
}

}  // namespace

void choose_backend(bool console, int argc, char **argv, const std::string &name) {
#ifdef VORN_WITH_QT
    if (!console && has_display()) {
        start_argc = argc;
        start_argv = argv;
        start_name = name;
        if (display_reachable() && qt_prepare(restart_in_console)) {
            select(&qt_ops);
            return;
        }
        std::fprintf(stderr, "%s: cannot open the display; running in the console\n", name.c_str());
    }
#else
    (void)has_display;
    (void)display_reachable;
    (void)console;
    (void)argc;
    (void)argv;
    (void)name;
#endif
    select(&console_ops);
}

}  // namespace dlg::backend
