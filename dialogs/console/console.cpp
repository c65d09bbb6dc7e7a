// The console backend: the main dialog lives as a list of controls in memory, commands come
// from standard input one a line, and every change the program makes is printed. The
// protocol is described for users in docs/console.md.
#include "console.h"

#include <charconv>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <thread>

#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace dlg::backend {

namespace console {

std::vector<ConsoleControl> controls;

// ---- The progress line ---------------------------------------------------------------
// Long work shows its progress on one line of standard error, rewritten in place, when that
// is a terminal. Every other line first clears it, so no output is mixed into it.

std::mutex terminal;            // the progress line and the lines printed
bool progress_shown = false;    // the progress line stands on the terminal now

void clear_progress_line() {
    if (!progress_shown) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progress_shown = false;
}

void show_progress_line(const std::string &text) {
    std::lock_guard<std::mutex> lock(terminal);
    if (text.empty()) return clear_progress_line();
    // A line longer than the terminal would wrap, and \r would then rewrite only its end.
    winsize size{};
    size_t width = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
    std::string line = text.substr(0, width);
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    progress_shown = true;
}

void print_line(std::string_view line) {
    std::lock_guard<std::mutex> lock(terminal);
    clear_progress_line();
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void complain(const std::string &message) {
    std::lock_guard<std::mutex> lock(terminal);
    clear_progress_line();
    std::fprintf(stderr, "console: %s\n", message.c_str());
    std::fflush(stderr);
}

}  // namespace console

namespace {

using namespace console;

bool greeted = false;

ConsoleControl *find(int id) {
    for (auto &control : controls)
        if (control.id == id) return &control;
    return nullptr;
}

// Renews the progress line while work runs: first after 0.3 s, then five times a second.
struct Ticker {
    std::mutex m;
    std::condition_variable wakeup;
    bool running = false;
    std::thread thread;
};
Ticker ticker;

void tick_until_ended() {
    using namespace std::chrono;
    std::unique_lock<std::mutex> lock(ticker.m);
    auto ended = [] { return !ticker.running; };
    if (ticker.wakeup.wait_for(lock, milliseconds(300), ended)) return;
    for (;;) {
        ProgressText progress = work_progress();
        lock.unlock();
        show_progress_line(progress ? progress() : std::string());
        lock.lock();
        if (ticker.wakeup.wait_for(lock, milliseconds(200), ended)) return;
    }
}

// ---- Ctrl-C ----------------------------------------------------------------------------
// While a handler runs, Ctrl-C stops its work (and cancels an input box waiting for its
// answer); otherwise it ends the program as the default action of SIGINT does.

pthread_t console_thread;

void on_interrupt(int) {
    int saved_errno = errno;
    // The signal may reach any thread; the console's own thread must see it, so that a read
    // of standard input waiting there returns.
    if (!pthread_equal(pthread_self(), console_thread)) {
        pthread_kill(console_thread, SIGINT);
    } else if (handler_running()) {
        request_stop();
    } else {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
    errno = saved_errno;
}

// SIGTERM or SIGHUP (the terminal closed) while a handler runs end the program as they
// would, but through quick_exit, which runs what the program registered for the case
// (removing a half-written file); the exit status is the one a shell shows for the signal.
void on_termination(int signal_number) {
    if (handler_running()) std::quick_exit(128 + signal_number);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void catch_interrupts(bool on) {
    struct sigaction action {};
    action.sa_handler = on ? on_interrupt : SIG_DFL;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;   // no SA_RESTART: a read of standard input returns with EINTR
    console_thread = pthread_self();
    sigaction(SIGINT, &action, nullptr);
    action.sa_handler = on ? on_termination : SIG_DFL;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

// Lines end with CR LF or with LF alone.
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t begin = 0;
    for (;;) {
        size_t lf = text.find('\n', begin);
        if (lf == std::string_view::npos) break;
        size_t end = (lf > begin && text[lf - 1] == '\r') ? lf - 1 : lf;
        lines.push_back(text.substr(begin, end - begin));
        begin = lf + 1;
    }
    lines.push_back(text.substr(begin));
    return lines;
}

void print_lines(int id, std::string_view prefix, std::string_view text) {
    std::string head = "[" + std::to_string(id) + "] " + std::string(prefix);
    for (auto line : split_lines(text)) print_line(head + std::string(line));
}

// A text that only extends the old one (the test bench's log) prints just its new lines;
// the old last line is printed again only when the new text continues it.
void print_change(int id, const std::string &old_text, std::string_view new_text) {
    bool extends = new_text.size() > old_text.size() && new_text.substr(0, old_text.size()) == old_text;
    if (!extends) {
        print_lines(id, "", new_text);
        return;
    }
    std::string_view added = new_text.substr(old_text.size());
    if (added.substr(0, 2) == "\r\n") {
        added.remove_prefix(2);
    } else if (added[0] == '\n') {
        added.remove_prefix(1);
    } else {
        size_t last_break = old_text.rfind('\n');
        added = new_text.substr(last_break == std::string::npos ? 0 : last_break + 1);
    }
    print_lines(id, "", added);
}

void show_control(const ConsoleControl &control) {
    std::string hidden = control.visible ? "" : "(hidden) ";
    if (control.kind != Kind::ListBox) {
        print_lines(control.id, hidden, control.text);
        return;
    }
    std::string head = "[" + std::to_string(control.id) + "] " + hidden;
    if (control.entries.empty()) print_line(head);
    for (size_t i = 0; i < control.entries.size(); ++i)
        print_line(head + (static_cast<int>(i) == control.selected ? "* " : "") + control.entries[i]);
}

// Splits "WORD REST" at the first blank (space or tab); REST keeps everything after that
// one blank.
std::pair<std::string_view, std::string_view> split_word(std::string_view line) {
    size_t blank = line.find_first_of(" \t");
    if (blank == std::string_view::npos) return {line, {}};
    return {line.substr(0, blank), line.substr(blank + 1)};
}

ConsoleControl *control_named(std::string_view word) {
    int id = 0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), id);
    if (word.empty() || error != std::errc() || end != word.data() + word.size()) {
        complain("not a control id: '" + std::string(word) + "'");
        return nullptr;
    }
    ConsoleControl *control = find(id);
    if (!control) complain("no control " + std::string(word));
    return control;
}

std::string_view skip_blanks(std::string_view text) {
    size_t first = text.find_first_not_of(" \t");
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

// ASCII letters in lower case; other bytes (UTF-8 included) as they are.
std::string lower(std::string_view text) {
    std::string out(text);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string without_blanks(std::string_view text) {
    std::string out;
    for (char c : text)
        if (c != ' ' && c != '\t') out += c;
    return out;
}

// The entry a person means: the exact text first; else the one entry equal to it in any
// case and without blanks at its ends; else the one equal to it with no blanks at all
// ("a+b" for "a + b"). -1 when there is none, or more than one at the first tier that finds
// any.
int find_entry(const ConsoleControl &list, std::string_view wanted) {
    for (size_t i = 0; i < list.entries.size(); ++i)
        if (list.entries[i] == wanted) return static_cast<int>(i);
    std::string_view trimmed = skip_blanks(wanted);
    trimmed = trimmed.substr(0, trimmed.find_last_not_of(" \t") + 1);
    using Key = std::string (*)(std::string_view);
    const Key looser[] = {
        [](std::string_view t) { return lower(t); },
        [](std::string_view t) { return lower(without_blanks(t)); },
    };
    for (auto key : looser) {
        int found = -1, count = 0;
        for (size_t i = 0; i < list.entries.size(); ++i) {
            std::string_view entry = list.entries[i];
            entry = skip_blanks(entry);
            entry = entry.substr(0, entry.find_last_not_of(" \t") + 1);
            if (key(entry) == key(trimmed)) {
                found = static_cast<int>(i);
                ++count;
            }
        }
        if (count == 1) return found;
        if (count > 1) return -1;
    }
    return -1;
}

void run_command(std::string_view line) {
    auto [typed_word, rest] = split_word(skip_blanks(line));
    rest = skip_blanks(rest);   // blanks before the id; the text after it is kept as typed
    if (typed_word.empty() || typed_word[0] == '#') return;  // blank lines and comments
    const std::string command_word = lower(typed_word);
    if (command_word == "help" || command_word == "?") {
        print_help();
        return;
    }
    if (command_word == "close") {
        close_requested();
        return;
    }
    if (command_word == "show") {
        if (rest.empty()) {
            for (const auto &control : controls) show_control(control);
        } else if (ConsoleControl *control = control_named(split_word(rest).first)) {
            show_control(*control);
        }
        return;
    }
    auto [id_word, argument] = split_word(rest);
    if (command_word == "press") {
        ConsoleControl *control = control_named(id_word);
        if (!control) return;
        if (control->kind != Kind::Button) return complain("control " + std::string(id_word) + " is not a button");
        if (!control->visible) return complain("button " + std::string(id_word) + " is hidden");
        command(control->id, kClicked);
    } else if (command_word == "select") {
        ConsoleControl *control = control_named(id_word);
        if (!control) return;
        if (control->kind != Kind::ListBox) return complain("control " + std::string(id_word) + " is not a list");
        if (!control->visible) return complain("list " + std::string(id_word) + " is hidden");
        if (int entry = find_entry(*control, argument); entry >= 0) {
            control->selected = entry;
            command(control->id, kSelChange);
            return;
        }
        complain("no entry '" + std::string(argument) + "' in list " + std::string(id_word) + "; its entries:");
        for (const std::string &entry : control->entries) complain("  " + entry);
    } else if (command_word == "set") {
        ConsoleControl *control = control_named(id_word);
        if (!control) return;
        if (control->kind == Kind::ListBox) return complain("control " + std::string(id_word) + " is a list: use select");
        control->text = std::string(shown_text(argument));  // the user's own typing is not echoed
    } else {
        complain("unknown command '" + std::string(typed_word) + "' (help lists the commands)");
    }
}

// ---- The backend table ---------------------------------------------------------------

void open(const Dialog &dialog) {
    controls.clear();
    for (const auto &c : dialog.controls) {
        ConsoleControl control;
        control.id = c.id;
        control.kind = c.kind;
        if (c.kind != Kind::ListBox) control.text = shown_text(c.text);
        control.x = c.x;
        control.y = c.y;
        control.w = c.w;
        control.h = c.h;
        controls.push_back(control);
    }
    greeted = false;
    catch_interrupts(true);
}

void wait_for_event() {
    // After the program's own set-up, so the greeting stands right above the first prompt.
    if (!greeted && at_terminal()) print_greeting();
    greeted = true;
    std::string line;
    if (!read_command(line)) {
        close_requested();
        return;
    }
    run_command(line);
}

void destroy() {
    catch_interrupts(false);
    controls.clear();
}

std::string get_text(int id) {
    ConsoleControl *control = find(id);
    return control && control->kind != Kind::ListBox ? control->text : std::string();
}

void set_text(int id, std::string_view text) {
    ConsoleControl *control = find(id);
    if (!control) return;
    print_change(id, control->text, text);
    control->text = std::string(text);
}

void set_visible(int id, bool visible) {
    if (ConsoleControl *control = find(id)) control->visible = visible;
}

void add_list_entry(int id, std::string_view text) {
    ConsoleControl *control = find(id);
    if (control && control->kind == Kind::ListBox) control->entries.emplace_back(text);
}

std::string selected_entry(int id) {
    ConsoleControl *control = find(id);
    if (!control || control->selected < 0) return {};
    return control->entries[static_cast<size_t>(control->selected)];
}

void caret_to_end(int) {}
void use_system_font(int) {}
void set_wait_cursor(bool) {}

// One event a line: line breaks inside a prompt or default become blanks.
std::string one_line(std::string_view text) {
    std::string line;
    for (auto piece : split_lines(text)) line += (line.empty() ? "" : " ") + std::string(piece);
    return line;
}

std::string input_box(std::string_view prompt, std::string_view, std::string_view default_text, bool hidden) {
    print_line("? " + one_line(prompt) + " [" + one_line(default_text) + "]");
    std::string answer;
    if (!read_answer(answer, hidden)) return {};   // end of input or Ctrl-C cancels
    if (answer.empty()) return std::string(default_text);
    if (answer == "<cancel>") return {};
    return std::string(shown_text(answer));
}

void message_box(std::string_view text, std::string_view) {
    for (auto line : split_lines(text)) print_line("! " + std::string(line));
}

// No window messages exist here; a step takes its 1 ms and reads no input.
void pump_step() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

// The button keeps its text and no control changes: the output stays what scripts expect.
void begin_work(int, std::string_view, int) {
    if (!isatty(STDERR_FILENO)) return;
    std::lock_guard<std::mutex> lock(ticker.m);
    ticker.running = true;
    ticker.thread = std::thread(tick_until_ended);
}

void end_work() {
    {
        std::lock_guard<std::mutex> lock(ticker.m);
        if (!ticker.running) return;
        ticker.running = false;
    }
    ticker.wakeup.notify_all();
    ticker.thread.join();
    std::lock_guard<std::mutex> lock(terminal);
    clear_progress_line();
}

// Nobody types into a field here while a handler runs: commands wait until it returns.
void set_read_only(int, bool) {}

}  // namespace

const Ops console_ops = {
    "console", open, wait_for_event, destroy, get_text, set_text, set_visible, add_list_entry,
    selected_entry, caret_to_end, use_system_font, set_wait_cursor, input_box, message_box, pump_step,
    begin_work, end_work, set_read_only,
};

}  // namespace dlg::backend
