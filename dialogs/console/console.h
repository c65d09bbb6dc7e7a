// The console backend's parts: the protocol (console.cpp), reading lines from a terminal or
// a pipe (terminal.cpp) and the help for a person at a terminal (help.cpp).
#pragma once

#include "../backend.h"

#include <string>
#include <string_view>
#include <vector>

namespace dlg::backend::console {

struct ConsoleControl {
    int id = 0;
    Kind kind = Kind::Label;
    std::string text;
    bool visible = true;
    std::vector<std::string> entries;   // list boxes
    int selected = -1;
    int x = 0, y = 0, w = 0, h = 0;     // dialog units: help finds a field's label by them
};

extern std::vector<ConsoleControl> controls;

// Every line goes out at once: a script driving us waits for it.
void print_line(std::string_view line);
// A line on standard error, for a command that cannot be carried out.
void complain(const std::string &message);

// ---- terminal.cpp
// True when standard input is a terminal: then a person types, and the greeting, the
// prompts, line editing and history are on. Through a pipe none of them is.
bool at_terminal();
// The next command line; false at the end of input. A CR before the LF is dropped.
bool read_command(std::string &line);
// The answer to an input box; hidden: typed without echo at a terminal. False at the end
// of input.
bool read_answer(std::string &line, bool hidden);

// ---- help.cpp
void print_greeting();
void print_help();
// Text of a control with the access-key marks taken out: "&Calculate" -> "Calculate".
std::string without_access_marks(std::string_view text);

}  // namespace dlg::backend::console
