// A small program on the dialog services, driven through the console backend by
// console_session.sh: a log with appends, an input box, a message box, a list, a hidden
// label and an exit button.
#include "dialogs.h"

namespace {

constexpr int kLog = 1007;

void append_log(std::string_view line) {
    dlg::set_text(kLog, dlg::get_text(kLog) + "\r\n" + std::string(line));
    dlg::caret_to_end(kLog);
}

void handle(int id, int code) {
    switch (id) {
    case 1002:
        append_log("Tests started...");
        append_log("two lines\r\nat once");
        break;
    case 1003: {
        std::string answer = dlg::input_box("How many minutes:", "", "1");
        dlg::set_text(1004, "answer " + answer + " =" + dlg::number_to_text(dlg::number_from_text(answer)));
        break;
    }
    case 1005:
        dlg::message_box("Division by zero!");
        break;
    case 1006:
        if (code == dlg::kSelChange) dlg::set_text(1004, "chose " + dlg::selected_entry(1006));
        break;
    case 1009:
        dlg::set_visible(1008, true);
        dlg::set_text(1008, std::string("shown\0cut off", 13));
        break;
    case 1010:
        dlg::end_dialog(3);
        break;
    }
}

}  // namespace

int main(int argc, char **argv) {
    int code = dlg::start(argc, argv, {"console_demo", "0.1", "Console backend demo", "Demo", "Press the buttons."});
    if (code >= 0) return code;
    dlg::Dialog dialog{"Demo", 10, 10, 200, 150, {
        {1001, dlg::Kind::Label, "Demo dialog", 4, 4, 100, 10},
        {1002, dlg::Kind::Button, "&Append", 4, 16, 40, 14},
        {1003, dlg::Kind::Button, "&Ask", 48, 16, 40, 14},
        {1004, dlg::Kind::Label, "", 92, 16, 100, 10},
        {1005, dlg::Kind::Button, "&Message", 4, 32, 40, 14},
        {1006, dlg::Kind::ListBox, "", 4, 48, 60, 40, dlg::kVScroll},
        {1007, dlg::Kind::MultiEdit, "", 70, 48, 120, 60, dlg::kVScroll | dlg::kHScroll},
        {1008, dlg::Kind::Label, "secret", 4, 92, 60, 10},
        {1009, dlg::Kind::Button, "&Reveal", 4, 104, 40, 14},
        {1010, dlg::Kind::Button, "E&xit", 48, 104, 40, 14},
    }};
    auto prepare = [] {
        for (const char *entry : {"one", "two", "three"}) dlg::add_list_entry(1006, entry);
        dlg::set_visible(1008, false);
        append_log("Demo started");
    };
    int result = dlg::show_modal(dialog, handle, prepare);
    return result;
}
