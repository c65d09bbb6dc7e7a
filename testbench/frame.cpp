// The frame of the test bench: the main dialog, its banner, the log and the dispatch of the
// three buttons.
#include "testbench.h"

#include <vorn.hpp>
#include <vorn_version.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <vector>

namespace testbench {

const dlg::ProgramInfo kProgramInfo{
    "testbench", VORN_VERSION_STRING,
    "Runs a timed battery of self-consistency tests over the VORN library and writes files "
    "of generator output",
    "VORN",
    "\"Run battery of tests\" asks for a number of minutes, runs the library's known-answer "
    "checks once and then passes of 30 randomized self-consistency tests until the time is "
    "up, and logs every discrepancy and a summary. The two generator buttons ask for an "
    "amount of data and write it as BBS.txt or RSA.txt into the current folder."};

std::string version_text(int32_t version_times_100) {
    // Integer arithmetic: the value has exactly two decimals, so nothing needs rounding.
    int64_t v = version_times_100;
    std::string sign = v < 0 ? "-" : "";
    v = std::llabs(v);
    std::string whole = v >= 100 ? std::to_string(v / 100) : "";
    std::string cents = std::to_string(v % 100);
    if (cents.size() < 2) cents.insert(0, "0");
    return sign + whole + "." + cents;
}

std::string with_line(std::string_view text, std::string_view line) {
    std::string out(text);
    out += "\r\n";
    out += line;
    return out;
}

std::vector<std::string> banner(int32_t version_times_100) {
    return {"Testprogram for VORN.dll", "Quendel library", std::string(40, '-'),
            "Current version of VORN.dll: " + version_text(version_times_100)};
}

dlg::Dialog main_dialog() {
    constexpr uint32_t kFramedLabel = dlg::kCenter | dlg::kCenterV | dlg::kClientEdge;
    // Lines of the log do not wrap: it scrolls both ways.
    constexpr uint32_t kLogStyle = dlg::kVScroll | dlg::kHScroll | dlg::kClientEdge;
    return dlg::Dialog{
        "VORN - Testbench V1.01", 151, 114, 282, 189,
        {
            {kBatteryLabel, dlg::Kind::Label,
             std::string("Run battery of tests to check proper ") + "functioning of VORN.dll",
             6, 4, 270, 16, kFramedLabel},
            {kBatteryButton, dlg::Kind::Button, "Run battery of tests", 76, 22, 132, 16, 0},
            {kFileLabel, dlg::Kind::Label, "Create file with random data", 6, 42, 270, 16,
             kFramedLabel},
            {kBbsButton, dlg::Kind::Button, "Blum-Blum-Shub algorithm", 6, 60, 134, 16, 0},
            {kRsaButton, dlg::Kind::Button, "RSA algorithm", 142, 60, 134, 16, 0},
            {kLog, dlg::Kind::MultiEdit, "", 6, 80, 270, 102, kLogStyle},
        }};
}

void log_append(std::string_view line) {
    // The log is whatever the control holds now, the user's own typing included.
    dlg::set_text(kLog, with_line(dlg::get_text(kLog), line));
    dlg::caret_to_end(kLog);
}

namespace {

// The library's work token of the handlers' thread, and whether a stop reaches the library.
std::atomic<int32_t> work_token = 0;
std::atomic<bool> stop_reaches_library = false;

void handler_started() {
    work_token = VN_WORKTOKEN();   // also clears a stop left from an earlier action
    stop_reaches_library = false;
}

// Runs from a signal handler or the window's thread: atomics and VN_STOPWORK only.
void stop_work() {
    if (!stop_reaches_library) return;
    int32_t token = work_token;
    VN_STOPWORK(&token);
}

}  // namespace

void install_work_hooks() { dlg::set_work_hooks({handler_started, stop_work}); }

void stop_library_calls(bool on) {
    stop_reaches_library = on;
    // A stop that came before this call must still reach the library.
    if (on && dlg::stop_requested()) stop_work();
}

namespace {

struct Command {
    int id;
    void (*action)();
};

// Labels, the log and the OK/Cancel commands of Enter and Esc have no action.
constexpr std::array kCommands{
    Command{kBatteryButton, run_battery},
    Command{kBbsButton, generate_bbs_file},
    Command{kRsaButton, generate_rsa_file},
};

}  // namespace

// Commands that arrive while an action runs never get here: the dialog services drop them.
void dispatch(int id, int code) {
    if (code != 0 && code != 1) return;
    for (const Command &command : kCommands) {
        if (command.id == id) {
            command.action();
            return;
        }
    }
}

}  // namespace testbench
