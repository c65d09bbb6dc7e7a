// Reading lines. Through a pipe, std::getline and nothing else, so a script sees exactly the
// same output as always. At a terminal, lines are read with libedit: editing, history, and no
// line limit (the terminal driver's own line editing cuts a line at 4095 characters, which a
// pasted number easily exceeds). Where libedit cannot be used (a hidden answer), a line the
// driver may have cut is refused, never used cut.
#include "console.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <editline/readline.h>
#include <termios.h>
#include <unistd.h>

namespace dlg::backend::console {

namespace {

// A canonical-mode terminal line holds at most 4095 characters before its line feed
// (Linux's N_TTY buffer of 4096); one that long may have lost its end.
constexpr size_t kTerminalLineLimit = 4095;

// A read that Ctrl-C interrupts (the console catches SIGINT without SA_RESTART) fails with
// EINTR: an answer (until_stop) then ends unread, and any other wait reads on.
bool plain_line(std::string &line, bool until_stop = false) {
    for (;;) {
        if (until_stop && stop_requested()) return false;
        errno = 0;
        if (std::getline(std::cin, line)) break;
        if (!(std::ferror(stdin) && errno == EINTR)) return false;
        std::clearerr(stdin);
        std::cin.clear();
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void prepare_editing() {
    static bool done = false;
    if (done) return;
    done = true;
    // rl_catch_signals stays on: on Ctrl-C and the like the editor puts the terminal back as
    // it was before the signal goes on to the program's own handling.
    rl_instream = stdin;
    rl_outstream = stdout;
    using_history();
}

// One line read with editing; false at the end of input (Ctrl-D on an empty line).
bool edited_line(std::string &line, const char *prompt, bool remember) {
    prepare_editing();
    std::fflush(stdout);
    char *text = readline(prompt);
    if (!text) {
        std::fputc('\n', stdout);   // Ctrl-D leaves the cursor after the prompt
        std::fflush(stdout);
        return false;
    }
    line = text;
    std::free(text);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (remember && !line.empty()) add_history(line.c_str());
    return true;
}

// A line read without echo, through the terminal driver.
bool hidden_line(std::string &line) {
    termios saved{};
    bool restore = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (restore) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);   // typeahead is kept
    }
    std::fputs("(typing is not shown)> ", stdout);
    std::fflush(stdout);
    bool read = plain_line(line, true);
    if (restore) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return read;
}

bool cut_by_terminal(const std::string &line) {
    if (line.size() < kTerminalLineLimit) return false;
    complain("this line reached the terminal's limit of " + std::to_string(kTerminalLineLimit) +
             " characters and may have been cut, so it was not used; type it again with the line "
             "editor, or send long texts through a pipe");
    return true;
}

}  // namespace

bool at_terminal() {
    static const bool terminal = isatty(STDIN_FILENO) == 1;
    return terminal;
}

bool read_command(std::string &line) {
    if (!at_terminal()) return plain_line(line);
    return edited_line(line, "> ", true);
}

bool read_answer(std::string &line, bool hidden) {
    if (!at_terminal()) return plain_line(line, true);
    // Ctrl-C while the line editor waits stops the work: the answer is not used.
    if (!hidden) return edited_line(line, "answer> ", false) && !stop_requested();
    for (;;) {
        if (!hidden_line(line)) return false;
        if (!cut_by_terminal(line)) return true;
    }
}

}  // namespace dlg::backend::console
