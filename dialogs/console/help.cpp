// What a person at a terminal is told: one greeting line, and the help with the commands,
// the controls with their ids and labels, and the entries of each list.
#include "console.h"

#include <algorithm>
#include <cstdlib>

namespace dlg::backend::console {

namespace {

const char *kind_name(Kind kind) {
    switch (kind) {
    case Kind::Label: return "label";
    case Kind::Button: return "button";
    case Kind::GroupBox: return "frame";
    case Kind::Edit:
    case Kind::MultiEdit: return "field";
    case Kind::ListBox: return "list";
    }
    return "";
}

// The label that names a field or list: just above it, or just left of it on its row, as a
// person sees it in the window.
const ConsoleControl *label_of(const ConsoleControl &c) {
    for (const ConsoleControl &label : controls) {
        if (label.kind != Kind::Label) continue;
        bool overlaps = label.x < c.x + c.w && c.x < label.x + label.w;
        int gap_above = c.y - (label.y + label.h);
        bool above = overlaps && gap_above >= -2 && gap_above <= 4;
        int gap_left = c.x - (label.x + label.w);
        bool left = gap_left >= 0 && gap_left <= 6 && std::abs(label.y - c.y) <= 4;
        if (above || left) return &label;
    }
    return nullptr;
}

// First line of a text, cut to a width that keeps the help readable.
std::string short_text(std::string_view text) {
    text = text.substr(0, text.find_first_of("\r\n"));
    std::string shown = without_access_marks(text);
    if (shown.size() > 60) shown = shown.substr(0, 57) + "...";
    return shown;
}

}  // namespace

std::string without_access_marks(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;   // "&&" stands for one "&"
        out += text[i];
    }
    return out;
}

void print_greeting() {
    std::string name = program_name().empty() ? "This program" : program_name();
    print_line(name + " in the console: type help for the commands and controls, close to end.");
}

void print_help() {
    print_line("Commands (in upper or lower case):");
    print_line("  press ID          click button ID");
    print_line("  select ID ENTRY   choose ENTRY in list ID (case and blanks do not matter)");
    print_line("  set ID TEXT       put TEXT into field ID");
    print_line("  show [ID]         print control ID, or every control");
    print_line("  help, ?           print this help");
    print_line("  close             end the program (so does Ctrl-D)");
    print_line("A line \"? PROMPT [DEFAULT]\" asks for an answer: Enter alone takes the default,");
    print_line("<cancel> cancels. Lines are edited as in a shell; Up and Down recall earlier ones.");
    print_line("Controls:");
    for (const ConsoleControl &c : controls) {
        std::string line = "  " + std::to_string(c.id) + "  " + kind_name(c.kind);
        line.resize(std::max<size_t>(line.size() + 1, 16), ' ');
        if (c.kind == Kind::Edit || c.kind == Kind::MultiEdit || c.kind == Kind::ListBox) {
            const ConsoleControl *label = label_of(c);
            line += label ? short_text(label->text) : std::string();
        } else {
            line += short_text(c.text);
        }
        if (!c.visible) line += " (hidden)";
        print_line(line);
    }
    for (const ConsoleControl &c : controls) {
        if (c.kind != Kind::ListBox || c.entries.empty()) continue;
        print_line("Entries of list " + std::to_string(c.id) + ":");
        for (const std::string &entry : c.entries) print_line("  " + entry);
    }
}

}  // namespace dlg::backend::console
