// Parameter fields: set-up per operation, random parameters, the two clear commands.
#include <vorn.hpp>

#include "messages.hpp"
#include "workbench.hpp"

namespace wb {

namespace {

struct FieldIds {
    int field, label;
    std::string_view default_label;
};
constexpr std::array<FieldIds, 3> kFields{{
    {kFieldA, kLabelA, "Parameter 'a'"},
    {kFieldB, kLabelB, "Parameter 'b'"},
    {kFieldC, kLabelC, "Parameter 'c'"},
}};

void apply(const FieldIds &ids, const FieldLook &look) {
    dlg::set_visible(ids.field, look.shown);
    dlg::set_visible(ids.label, look.shown);
    if (!look.label.empty()) dlg::set_text(ids.label, look.label);
}

}  // namespace

void field_setup() {
    for (const FieldIds &ids : kFields) {
        dlg::set_visible(ids.field, true);
        dlg::set_visible(ids.label, true);
        dlg::set_text(ids.label, ids.default_label);
    }
    dlg::set_text(kResultField, "");
    if (const Operation *operation = find_operation(dlg::selected_entry(kOperationList)))
        for (size_t i = 0; i < kFields.size(); ++i) apply(kFields[i], operation->looks[i]);
}

// Numbers of millions of bits take seconds to draw and convert: the work can be stopped,
// and a stop leaves all three fields as they were.
void random_parameters() {
    int32_t bits = dlg::round_to_int32(dlg::number_from_text(dlg::get_text(kBitlengthField)));
    begin_stoppable(kRandomButton);
    take_start_time();
    set_phase(msg::kDrawing);
    std::array<std::string, 3> values;
    bool drawn = true;
    for (std::string &value : values) {
        // A bit length the library refuses is said once, not three times.
        drawn = !library_failed(vorn::generate_random(bits, kRegRandomParameter),
                                "Random parameters of " + std::to_string(bits) + " bits") &&
                !library_failed(vorn::huge2dec(kRegRandomParameter, kRegRandomParameter),
                                "Random parameters of " + std::to_string(bits) + " bits");
        if (!drawn || dlg::stop_requested()) break;
        value = vorn::getreg(kRegRandomParameter);
    }
    end_stoppable();
    if (dlg::stop_requested()) {
        dlg::set_text(kStatusLine, msg::kStopped);
        return;
    }
    // The status line showed progress only in a window; the console's stays as it was.
    if (!dlg::get_text(kStatusLine).empty()) dlg::set_text(kStatusLine, "");
    if (!drawn) return;
    for (size_t i = 0; i < kFields.size(); ++i) dlg::set_text(kFields[i].field, values[i]);
}

void clear_parameters() {
    for (const FieldIds &ids : kFields) dlg::set_text(ids.field, "");
    dlg::set_text(kResultField, "");
}

void clear_result() { dlg::set_text(kResultField, ""); }

}  // namespace wb
