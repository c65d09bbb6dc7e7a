// The test bench: one dialog with three buttons and a log. The battery of self-consistency
// tests and the two random-data file generators run inside the button handlers and report
// only through the log.
#pragma once

#include <dialogs.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testbench {

// Control ids of the main dialog.
constexpr int kBatteryLabel = 1001;
constexpr int kBatteryButton = 1002;
constexpr int kFileLabel = 1003;
constexpr int kBbsButton = 1004;
constexpr int kRsaButton = 1005;
constexpr int kLog = 1007;

extern const dlg::ProgramInfo kProgramInfo;

// The library's version times 100 in the form "###.00": 101 -> "1.01", 5 -> ".05".
std::string version_text(int32_t version_times_100);

// text + CR LF + line: how the log grows, so its first line is always empty.
std::string with_line(std::string_view text, std::string_view line);

// The lines the log starts with, for the given library version.
std::vector<std::string> banner(int32_t version_times_100);

// The main dialog as created; its log is empty until the banner is appended.
dlg::Dialog main_dialog();

// Adds line as the new last line of the log and puts the caret at the very end.
void log_append(std::string_view line);

// Runs the action of a command of the main dialog, if any: the battery, or a generator.
// (The dialog services drop commands that arrive while an action runs.)
void dispatch(int id, int code);

// Lets the user stop the actions (dialogs.h): main calls it before the dialog is shown.
void install_work_hooks();

// Whether a stop of the user also stops the library call in progress (the file runs), or
// only the action's own loop, after the call (the battery ends after its test in progress).
void stop_library_calls(bool on);

// The actions behind the three buttons.
void run_battery();
void generate_bbs_file();
void generate_rsa_file();

// How many times a loop waiting for the library to draw a suitable random number tries
// before it gives up and says so in the log.
constexpr int kMaxDraws = 1000;

}  // namespace testbench
