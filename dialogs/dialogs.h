// Dialog and text services shared by testbench and workbench.
//
// A program describes its one main dialog as data, shows it modally with a handler that
// receives every command as (control id, notification code), and talks to the user only
// through the calls below. The window system sits behind a backend chosen at start-up:
// real windows (Qt 6 Widgets) or the console backend, which runs the same dialog in a
// terminal and is scripted from standard input. No Qt type appears here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace dlg {

// ---- Dialog descriptions -------------------------------------------------------------

enum class Kind {
    Label,      // static text
    Button,     // push button; a click sends notification kClicked
    GroupBox,   // frame with a caption
    Edit,       // single-line edit field
    MultiEdit,  // multi-line edit field
    ListBox,    // list box; a selection change sends notification kSelChange
};

// Style bits the backends honour (the rest of a Windows style word is kept but ignored).
enum Style : uint32_t {
    kCenter = 0x0001,       // text centred horizontally (labels)
    kRight = 0x0002,        // text right-aligned (labels)
    kCenterV = 0x0200,      // text centred vertically (labels)
    kSunken = 0x1000,       // sunken frame (labels)
    kWrap = 0x010000,       // multi-line edit: long lines wrap (otherwise they scroll)
    kVScroll = 0x200000,    // vertical scroll bar
    kHScroll = 0x100000,    // horizontal scroll bar
    kClientEdge = 0x400000, // sunken client edge
};

struct Control {
    int id;
    Kind kind;
    std::string text;       // initial text
    int x, y, w, h;         // dialog units
    uint32_t style = 0;     // Style bits
};

struct Dialog {
    std::string caption;
    int x, y, w, h;         // dialog units, from the top left of the screen
    std::vector<Control> controls;  // creation order = tab order
    int ctrl_enter_id = 0;  // the button that Ctrl+Enter clicks from any control (0: none)
};

// Notification codes passed to the handler.
constexpr int kClicked = 0;     // button click
constexpr int kSelChange = 1;   // list box selection changed

using Handler = std::function<void(int id, int code)>;

// ---- Program start -------------------------------------------------------------------

struct ProgramInfo {
    std::string name;            // "workbench"
    std::string version;         // "1.0.0", from the project's one version number
    std::string summary;         // one line for --help
    std::string default_caption; // caption of input and message boxes given no title
    std::string help;            // a few lines on how to use the program, for its help box (F1)
};

// Parses the command line (--help, --version, --console; anything else is an error) and
// chooses the backend: console with --console or when neither DISPLAY nor WAYLAND_DISPLAY
// is set (or the local display named there does not answer), Qt windows otherwise; when Qt
// still cannot start its platform, the program starts itself again with --console. Prints
// "<name> <version>" for --version and a usage text for --help (exit code 0); an unknown
// option is reported on stderr (exit code 2). Returns -1 when the program should go on, or
// the exit code to end with at once. The console backend's protocol: docs/console.md.
int start(int argc, char **argv, const ProgramInfo &info);

// Shows the dialog modally and runs handler for every command until the dialog ends (close
// box, Alt+F4, console "close" or end of input, or end_dialog). Commands that arrive while
// the handler is still running (during pump steps or an open input or message box) are
// dropped; closing still closes. Returns the end result (0 for the close command).
int show_modal(const Dialog &dialog, const Handler &handler);

// The same, running prepare once the controls exist and before the first command is read:
// the place to fill list boxes, set fonts and append start-up lines to a log (control calls
// made before show_modal have no dialog to act on).
int show_modal(const Dialog &dialog, const Handler &handler, const std::function<void()> &prepare);

// Ends the dialog shown by show_modal; show_modal returns once the running handler returns.
void end_dialog(int result);

// True once the dialog has ended (then control calls do nothing and read empty text).
bool dialog_closed();

// The versions of the libraries under the VORN library, for a help or about text:
// "GMP 6.2.1, OpenSSL 3.0.19, FLINT 2.9.0, PARI 2.15.2" (GMP and OpenSSL as loaded, FLINT and
// PARI as built).
std::string library_versions();

// ---- Controls of the main dialog -----------------------------------------------------
// A control that does not exist (or a dialog already closed) reads as "" and ignores writes.

std::string get_text(int id);
void set_text(int id, std::string_view text);
void set_visible(int id, bool visible);
void add_list_entry(int id, std::string_view text);
std::string selected_entry(int id);   // "" when nothing is selected
void caret_to_end(int id);            // caret to the end of an edit field, scrolled into view
void use_system_font(int id);         // draw this control in the system font
void set_wait_cursor(bool wait);      // wait cursor on, or back to the arrow

// ---- Boxes, pumping, time ------------------------------------------------------------

// Modal input box of 150 x 100 dialog units, centred, no owner. Returns the text typed
// (at most 255 characters) on OK, "" on Cancel, Esc or close. Empty title: default caption.
std::string input_box(std::string_view prompt, std::string_view title, std::string_view default_text);

// The same for a passphrase: what is typed is not shown (dots in the window, no echo at a
// terminal).
std::string hidden_input_box(std::string_view prompt, std::string_view title, std::string_view default_text);

// Modal message box with an OK button and the default caption.
void message_box(std::string_view text);

// A pause of 1 ms at a step of long work. Windows answer meanwhile anyway (the handler runs on
// a thread of its own); the console reads no command until the handler returns.
void pump_step();

// Sleeps the handler's thread (the windows still repaint); a stop of the user ends it
// early. The environment variable VORN_PAUSE_SCALE (a factor; tests set 0) scales every
// pause.
void pause_ms(int milliseconds);

// Local time of day in seconds since midnight, millisecond resolution.
double now();

// Seconds on a monotonic clock: for elapsed times (never negative, right across midnight).
double monotonic_seconds();

// Seconds that input and message boxes have stayed open since the program started, on the
// same clock: a calculation's own time is its elapsed time less the growth of this.
double seconds_in_boxes();

// ---- Long work: stop and progress ----------------------------------------------------
// The user can stop the work of a running handler: in a window with the handler's stop
// button or Esc, at a terminal with Ctrl-C (SIGINT; Ctrl-C while no handler runs ends the
// program as before). A stop sets stop_requested() and calls the program's stop hook; the
// handler's own loops check stop_requested() and end early, saying so.

struct WorkHooks {
    // On the handler's thread as each handler starts, before it runs (e.g. VN_WORKTOKEN).
    void (*handler_started)() = nullptr;
    // When the user stops: from the window's thread or from a signal handler, so it may only
    // set atomics and call what is safe there (VN_STOPWORK takes no lock and never waits).
    void (*stop)() = nullptr;
};
void set_work_hooks(const WorkHooks &hooks);

// A progress text, asked several times a second from another thread while work runs; ""
// shows nothing. It must not call these services (read atomics, VN_WORKPROGRESS).
using ProgressText = std::string (*)();

// Marks long work of the running handler, until end_work or the handler's return. In a
// window: 0.3 s after the start the progress text appears in control progress_control (0:
// after the window's caption) and is renewed five times a second; stop_button reads
// stop_caption and a click of it stops the work. At a terminal the progress text is shown
// on one line of standard error that updates in place (only when standard error is a
// terminal); standard output and the controls' texts stay as they were.
void begin_work(int stop_button, std::string_view stop_caption, int progress_control, ProgressText progress);
void end_work();

// True once the user has asked the running handler to stop; cleared as each handler starts.
bool stop_requested();
// What the user's stop does: safe from any thread and from a signal handler. Ignored while
// no handler runs.
void request_stop();

// A click of this button while a handler runs stops the work and ends the program at once,
// as the close box does (when idle, the click runs its handler as any other).
void set_exit_button(int id);

// A field the user cannot edit (the program still sets its text), or can again.
void set_read_only(int id, bool read_only);

// ---- Pseudo-random integers ----------------------------------------------------------
// x <- x * 134775813 + 1 (mod 2^32); u = (x div 2) / 2^31; U(a..b) = round(u*(b-a+1) + a - 0.5)
// with ties to even.

void seed(float value);             // x = the bit pattern of value
int32_t random_between(int32_t a, int32_t b);   // U(a..b), kept within a..b when a <= b

// ---- Numbers and text ----------------------------------------------------------------

// Reads the number a text starts with. Leading blanks, tabs and line feeds are skipped (a
// carriage return is not). "&H", "&B", "&O" or "&Q" (either case), and "&" followed by
// digits, start a hexadecimal, binary or octal number; otherwise an optional sign, digits
// with an optional point and an optional exponent after E, e, D or d. Reading stops at the
// first character that cannot continue the number; 0 when there is no leading number. "&"
// numbers of up to 32 bits are that bit pattern as a signed 32-bit value (&HFFFFFFFF is -1),
// longer ones keep their unsigned value. Beyond the double range the value saturates to
// +-DBL_MAX.
double number_from_text(std::string_view text);

// Rounds to the nearest integer, ties to even, saturating to the 32-bit range.
int32_t round_to_int32(double value);

// Sign position (blank or "-"), at most 15 significant digits, no trailing zeros after the
// point, no point for whole numbers, no "0" before the point below 1: 7 -> " 7", 0.25 -> " .25".
// Never an exponent form: 1E+20 is " 1" and 20 zeros, 1.5E-05 is " .000015". Negative zero
// is " 0".
std::string number_to_text(double value);

}  // namespace dlg
