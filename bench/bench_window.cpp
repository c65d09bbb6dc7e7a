// The workbench window's own costs with huge texts: the Qt backend (offscreen) against the
// console backend in the same process, which does the same library work and prints the
// texts instead of laying them out. Each step is timed from the command to the moment the
// window is idle and painted again; medians of a few runs, and their ratio to the console.
//
//   bench_window [EXPONENT [RUNS [STEPS]]]
// 3 ^ EXPONENT is the huge result (default 10000000); STEPS cuts the scenario short.
#include <dialogs.h>
#include <backend.h>
#include <workbench.hpp>

#ifndef VORN_WITH_QT
#include <cstdio>
int main() {
    std::puts("bench_window: built without the Qt backend, nothing to measure");
    return 0;
}
#else
#include <qt/qt_testing.h>

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <streambuf>
#include <string>
#include <vector>

namespace {

namespace qt = dlg::qt_testing;

// One step of a scenario: a console command line; the Qt side does the same with widgets.
struct Step {
    std::string name;      // empty: not timed
    std::string command;   // "select 1001 a ^ b", "set 1004 3", "press 1019"
};

std::vector<Step> scenario(long exponent) {
    std::string power = "select 1001 a ^ b";
    std::string huge_b = "set 1006 " + std::to_string(exponent);
    return {
        {"", "select 1001 a ^ b"}, {"", "set 1004 7"}, {"", "set 1006 236700"},
        {"", "press 1019"}, {"Clear result, 200,000 digits", "press 1023"},
        {"", "set 1004 3"}, {"", huge_b},
        {"3 ^ b: click to painted result", "press 1019"},
        {"Setting that many digits", "set 1009 " + std::string(size_t(double(exponent) * 0.47712125472) + 1, '7')},
        {"Clear result, huge", "press 1023"},
        {"", "press 1019"},
        {"Another operation, huge", "select 1001 a * b"},
        {"", power}, {"", "set 1004 3"}, {"", huge_b}, {"", "press 1019"},
        {"Clear parameters, huge", "press 1016"},
        {"", power}, {"", "set 1004 3"}, {"", huge_b}, {"", "press 1019"},
        {"Calculate again, huge", "press 1019"},
        {"", "set 1014 700000"}, {"", "press 1012"},
        {"Clear parameters, 700000 bits", "press 1016"},
    };
}

double seconds() { return dlg::monotonic_seconds(); }

// ---- Console: the scenario as the backend's input, timed as each line is read ----------

class Script : public std::streambuf {
public:
    explicit Script(std::vector<std::string> lines) : lines_(std::move(lines)) {}
    std::vector<double> stamps;   // when line i was asked for

protected:
    int_type underflow() override {
        stamps.push_back(seconds());
        if (next_ == lines_.size()) return traits_type::eof();
        current_ = lines_[next_++] + "\n";
        setg(current_.data(), current_.data(), current_.data() + current_.size());
        return traits_type::to_int_type(current_[0]);
    }

private:
    std::vector<std::string> lines_;
    size_t next_ = 0;
    std::string current_;
};

std::vector<double> run_console(const std::vector<Step> &steps) {
    std::vector<std::string> lines;
    for (const Step &s : steps) lines.push_back(s.command);
    lines.push_back("close");
    Script script(lines);
    std::streambuf *old = std::cin.rdbuf(&script);
    // The console prints every text it is given; that printing is its share of the work.
    std::fflush(stdout);
    int saved = dup(1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dlg::backend::select(&dlg::backend::console_ops);
    dlg::show_modal(wb::main_dialog(), wb::dispatch, wb::prepare_dialog);
    std::fflush(stdout);
    dup2(saved, 1);
    close(null);
    close(saved);
    std::cin.rdbuf(old);
    std::vector<double> times;
    for (size_t i = 0; i < steps.size(); ++i) times.push_back(script.stamps[i + 1] - script.stamps[i]);
    return times;
}

// ---- Qt: the same steps on the widgets, each until the handler is done and painted -----

void wait_until_idle() {
    qt::wait_until_idle();
    if (QWidget *window = qt::main_dialog()) window->repaint();
}

void qt_step(const std::string &command) {
    size_t blank1 = command.find(' '), blank2 = command.find(' ', blank1 + 1);
    std::string word = command.substr(0, blank1);
    int id = std::atoi(command.c_str() + blank1 + 1);
    std::string rest = blank2 == std::string::npos ? "" : command.substr(blank2 + 1);
    if (word == "set") {
        dlg::set_text(id, rest);
    } else if (word == "press") {
        qobject_cast<QPushButton *>(qt::control(id))->click();
    } else if (word == "select") {
        auto *list = qobject_cast<QListWidget *>(qt::control(id));
        auto found = list->findItems(QString::fromStdString(rest), Qt::MatchExactly);
        if (!found.isEmpty()) list->setCurrentItem(found.first());
    }
    wait_until_idle();
}

std::vector<double> run_qt(const std::vector<Step> &steps) {
    qt::use_qt_backend();
    std::vector<double> times;
    QTimer::singleShot(0, [&] {
        wait_until_idle();
        for (const Step &s : steps) {
            double start = seconds();
            qt_step(s.command);
            times.push_back(seconds() - start);
        }
        qt::main_dialog()->close();
    });
    dlg::show_modal(wb::main_dialog(), wb::dispatch, wb::prepare_dialog);
    return times;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    long exponent = argc > 1 ? std::atol(argv[1]) : 10000000;
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    std::vector<Step> steps = scenario(exponent);
    if (argc > 3) steps.resize(std::min(steps.size(), size_t(std::atol(argv[3]))));
    std::map<size_t, std::vector<double>> qt_times, console_times;
    for (int run = 0; run < runs; ++run) {
        std::vector<double> c = run_console(steps), q = run_qt(steps);
        for (size_t i = 0; i < steps.size(); ++i) {
            console_times[i].push_back(c[i]);
            qt_times[i].push_back(q[i]);
        }
    }
    std::printf("3 ^ %ld, median of %d runs (seconds)\n", exponent, runs);
    std::printf("%-34s %10s %10s %8s\n", "step", "Qt", "console", "ratio");
    for (size_t i = 0; i < steps.size(); ++i) {
        if (steps[i].name.empty()) continue;
        double q = median(qt_times[i]), c = median(console_times[i]);
        std::printf("%-34s %10.3f %10.3f %8.1f\n", steps[i].name.c_str(), q, c, c > 0 ? q / c : 0.0);
    }
    return 0;
}
#endif
