// Start-up, the main dialog and its command dispatch.
#include <vorn.hpp>
#include <vorn_version.h>

#include "workbench.hpp"

namespace wb {

const dlg::ProgramInfo kProgramInfo{
    "workbench", VORN_VERSION_STRING,
    "Interactive calculator for huge numbers, primes, RSA, AES and SHA-256 over the VORN library",
    "Workbench",
    "Choose an operation in the list on the left. Type the parameters a, b and c as whole "
    "numbers of 0 or more in decimal digits (no sign), or let \"Random parameters\" fill them "
    "with numbers of up to \"Bitlength\" bits. \"Calculate\" shows the result in decimal with "
    "its number of digits, and the time the calculation took without the time that "
    "questions stayed open. Generators, keys, RSA, AES and SHA-256 ask for what they need "
    "and show their outputs in the three fields."};

dlg::Dialog main_dialog() {
    using dlg::Kind;
    constexpr uint32_t kList = dlg::kVScroll | dlg::kHScroll | dlg::kClientEdge;
    constexpr uint32_t kField = dlg::kWrap | dlg::kVScroll | dlg::kClientEdge;
    constexpr uint32_t kSunken = dlg::kSunken;

    dlg::Dialog d;
    d.caption = std::string("VORN (Quendel) library - ") + "Workbench V1.01 - dll version";
    d.x = 89;
    d.y = 114;
    d.w = 464;
    d.h = 278;
    // Creation order is the tab order.
    d.controls = {
        {kOperationList, Kind::ListBox, "", 2, 48, 104, 226, kList},
        {kBanner, Kind::Label,
         std::string("Choose an operation, enter parameters and ") + "hit 'calculate' button", 2, 4,
         458, 18, dlg::kCenter | dlg::kCenterV | kSunken},
        {kOperationLabel, Kind::Label, "Operation", 4, 36, 62, 10, kSunken},
        {kFieldA, Kind::MultiEdit, "0", 110, 48, 232, 36, kField},
        {kLabelA, Kind::Label, "Parameter 'a'", 110, 36, 68, 12, kSunken},
        {kFieldB, Kind::MultiEdit, "0", 110, 104, 232, 36, kField},
        {kLabelB, Kind::Label, "Parameter 'b'", 110, 92, 68, 12, kSunken},
        {kFieldC, Kind::MultiEdit, "0", 110, 160, 232, 36, kField},
        {kResultField, Kind::MultiEdit, "", 110, 216, 232, 56, kField},
        {kLabelC, Kind::Label, "Parameter 'c'", 110, 148, 68, 12, kSunken},
        {kResultCaption, Kind::Label, "Result", 110, 202, 204, 12, kSunken},
        {kBitlengthLabel, Kind::Label, "Bitlength:", 356, 48, 52, 10, dlg::kRight},
        {kBitlengthField, Kind::Edit, "120", 410, 46, 36, 12, dlg::kClientEdge},
        {kRandomButton, Kind::Button, "&Random parameters", 362, 60, 84, 14, 0},
        {kModifyGroup, Kind::GroupBox, "Modify parameters", 348, 36, 110, 58, 0},
        {kClearParametersButton, Kind::Button, "Clear &parameters", 362, 76, 84, 14, 0},
        {kTimeDisplay, Kind::Label, "1000 seconds", 360, 110, 94, 10, 0},
        {kTimeGroup, Kind::GroupBox, "Calculation time", 348, 100, 110, 22, 0},
        {kCalculateButton, Kind::Button, "&Calculate", 362, 132, 84, 14, 0},
        {kStatusLine, Kind::Label, "", 352, 152, 106, 16, dlg::kCenter},
        {kClearResultButton, Kind::Button, "Clear result", 362, 236, 84, 14, 0},
        {kExitButton, Kind::Button, "&Exit", 362, 258, 84, 14, 0},
    };
    d.ctrl_enter_id = kCalculateButton;
    return d;
}

namespace {

// Which notifications of a control run its handler.
enum class Accepts {
    Click,      // 0, a click by mouse or keyboard, or 1, the same command from an accelerator
    Selection,  // a list's selection change
    Any,        // every notification
};

struct Command {
    int id;
    Accepts accepts;
    void (*handler)();
};

bool accepts(Accepts what, int code) {
    switch (what) {
        case Accepts::Click: return code == dlg::kClicked || code == 1;
        case Accepts::Selection: return code == dlg::kSelChange;
        case Accepts::Any: return true;
    }
    return false;
}

void exit_dialog() { dlg::end_dialog(0); }

constexpr Command kCommands[] = {
    {kOperationList, Accepts::Selection, field_setup},
    {kClearResultButton, Accepts::Any, clear_result},
    {kRandomButton, Accepts::Click, random_parameters},
    {kClearParametersButton, Accepts::Click, clear_parameters},
    {kCalculateButton, Accepts::Click, calculate},
    {kExitButton, Accepts::Click, exit_dialog},
};

}  // namespace

// Commands that arrive while a handler runs never get here: the dialog services drop them.
void dispatch(int id, int code) {
    for (const Command &c : kCommands) {
        if (c.id == id && accepts(c.accepts, code)) {
            c.handler();
            return;
        }
    }
}

// What the dialog needs once its controls exist, before the first command: the status
// line's font and the operation list, filled in catalogue order (the list does not sort).
void prepare_dialog() {
    dlg::use_system_font(kStatusLine);
    for (const Operation &operation : kCatalogue) dlg::add_list_entry(kOperationList, operation.label);
}

int run_workbench() {
    vorn::readprimes(1000);
    install_work_hooks();
    dlg::show_modal(main_dialog(), dispatch, prepare_dialog);
    return 0;
}

}  // namespace wb
