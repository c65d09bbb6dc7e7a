// The console backend: the main dialog lives as a list of controls in memory, commands come
// from standard input one a line, and every change the program makes is printed. The
// protocol is described for users in docs/console.md.
#include "../backend.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

namespace dlg::backend {

namespace {

struct ConsoleControl {
    int id = 0;
    Kind kind = Kind::Label;
    std::string text;
    bool visible = true;
    std::vector<std::string> entries;   // list boxes
    int selected = -1;
};

std::vector<ConsoleControl> controls;

ConsoleControl *find(int id) {
    for (auto &control : controls)
        if (control.id == id) return &control;
    return nullptr;
}

// Every line goes out at once: a script driving us waits for it.
void print_line(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void complain(const std::string &message) {
    std::fprintf(stderr, "console: %s\n", message.c_str());
    std::fflush(stderr);
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

void run_command(std::string_view line) {
    auto [command_word, rest] = split_word(skip_blanks(line));
    rest = skip_blanks(rest);   // blanks before the id; the text after it is kept as typed
    if (command_word.empty() || command_word[0] == '#') return;  // blank lines and comments
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
        for (size_t i = 0; i < control->entries.size(); ++i) {
            if (control->entries[i] == argument) {
                control->selected = static_cast<int>(i);
                command(control->id, kSelChange);
                return;
            }
        }
        complain("no entry '" + std::string(argument) + "' in list " + std::string(id_word));
    } else if (command_word == "set") {
        ConsoleControl *control = control_named(id_word);
        if (!control) return;
        if (control->kind == Kind::ListBox) return complain("control " + std::string(id_word) + " is a list: use select");
        control->text = std::string(shown_text(argument));  // the user's own typing is not echoed
    } else {
        complain("unknown command '" + std::string(command_word) + "'");
    }
}

// False at the end of input. A CR before the LF (a script written on Windows) is dropped.
bool read_line(std::string &line) {
    if (!std::getline(std::cin, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// ---- The backend table ---------------------------------------------------------------

void open(const Dialog &dialog) {
    controls.clear();
    for (const auto &c : dialog.controls) {
        ConsoleControl control;
        control.id = c.id;
        control.kind = c.kind;
        if (c.kind != Kind::ListBox) control.text = shown_text(c.text);
        controls.push_back(control);
    }
}

void wait_for_event() {
    std::string line;
    if (!read_line(line)) {
        close_requested();
        return;
    }
    run_command(line);
}

void destroy() { controls.clear(); }

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

std::string input_box(std::string_view prompt, std::string_view, std::string_view default_text) {
    print_line("? " + one_line(prompt) + " [" + one_line(default_text) + "]");
    std::string answer;
    if (!read_line(answer)) return {};   // end of input cancels
    if (answer.empty()) return std::string(default_text);
    if (answer == "<cancel>") return {};
    return std::string(shown_text(answer));
}

void message_box(std::string_view text, std::string_view) {
    for (auto line : split_lines(text)) print_line("! " + std::string(line));
}

// No window messages exist here; a step takes its 1 ms and reads no input.
void pump_step() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

}  // namespace

const Ops console_ops = {
    "console", open, wait_for_event, destroy, get_text, set_text, set_visible, add_list_entry,
    selected_entry, caret_to_end, use_system_font, set_wait_cursor, input_box, message_box, pump_step,
};

}  // namespace dlg::backend
