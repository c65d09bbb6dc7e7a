// Program start, clock, pause and the small pseudo-random generator.
#include "backend.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cstddef>

namespace dlg {

namespace {

std::string program_caption = "VORN";
uint32_t random_state = 0;

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
void restart_in_console() {
    std::fprintf(stderr, "%s: cannot open the display; running in the console\n", start_name.c_str());
    std::vector<char *> args(start_argv, start_argv + start_argc);
    static char console_option[] = "--console";
    args.push_back(console_option);
    args.push_back(nullptr);
    std::fflush(nullptr);
    execv("/proc/self/exe", args.data());
}

}  // namespace

const std::string &backend::default_caption() { return program_caption; }

int start(int argc, char **argv, const ProgramInfo &info) {
    if (!info.default_caption.empty()) program_caption = info.default_caption;
    bool console = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help") {
            std::printf("Usage: %s [--console | --help | --version]\n%s\n\n"
                        "  --console  run the dialog in the terminal, scripted from standard input\n"
                        "             (also chosen when no display is available)\n"
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
#ifdef VORN_WITH_QT
    if (!console && has_display()) {
        start_argc = argc;
        start_argv = argv;
        start_name = info.name;
        if (display_reachable() && backend::qt_prepare(restart_in_console)) {
            backend::select(&backend::qt_ops);
            return -1;
        }
        std::fprintf(stderr, "%s: cannot open the display; running in the console\n", info.name.c_str());
    }
#else
    (void)has_display;
    (void)display_reachable;
    (void)restart_in_console;
    (void)console;
#endif
    backend::select(&backend::console_ops);
    return -1;
}

// ---- Clock and pause -------------------------------------------------------------------

double now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    long long ms = local.tm_hour * 3600000LL + local.tm_min * 60000LL + local.tm_sec * 1000LL +
                   ts.tv_nsec / 1000000;
    return static_cast<double>(ms) / 1000.0;
}

double monotonic_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void pause_ms(int milliseconds) {
    if (milliseconds <= 0) return;
    // Tests shorten the programs' fixed pauses with VORN_PAUSE_SCALE (0 skips them).
    double scale = 1;
    if (const char *text = std::getenv("VORN_PAUSE_SCALE"); text && *text) {
        char *end = nullptr;
        double parsed = std::strtod(text, &end);
        if (end != text && std::isfinite(parsed)) scale = parsed < 0 ? 0 : parsed;
    }
    double scaled = milliseconds * scale;
    if (scaled <= 0) return;
    // In short steps, so that a stop of the user does not wait for the whole pause.
    using namespace std::chrono;
    auto end = steady_clock::now() + duration_cast<steady_clock::duration>(duration<double, std::milli>(scaled));
    for (auto at = steady_clock::now(); at < end && !stop_requested(); at = steady_clock::now())
        std::this_thread::sleep_for(std::min<steady_clock::duration>(end - at, std::chrono::milliseconds(20)));
}

// ---- Pseudo-random integers ------------------------------------------------------------

void seed(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    random_state = bits;
}

int32_t random_between(int32_t a, int32_t b) {
    random_state = random_state * 134775813u + 1u;
    double u = static_cast<double>(random_state >> 1) / 2147483648.0;
    // In double, so that b - a + 1 cannot overflow for any 32-bit bounds.
    double span = static_cast<double>(b) - static_cast<double>(a) + 1.0;
    int32_t value = round_to_int32(u * span + static_cast<double>(a) - 0.5);
    // u = 0 gives a - 0.5, which ties to even rounds to a - 1 for an odd a: keep the draw
    // within the promised range.
    if (a <= b) value = std::clamp(value, a, b);
    return value;
}

}  // namespace dlg
