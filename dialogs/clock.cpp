// The clock and the pause.
#include "dialogs.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace dlg {

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
    using Clock = steady_clock;
    auto end = Clock::now() + duration_cast<Clock::duration>(duration<double, std::milli>(scaled));
    for (auto at = Clock::now(); at < end && !stop_requested(); at = Clock::now())
        std::this_thread::sleep_for(std::min<Clock::duration>(end - at, std::chrono::milliseconds(20)));
}

}  // namespace dlg
