// Parameter fields: set-up per operation, random parameters, the two clear commands.
#include <vorn.hpp>

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

void random_parameters() {
    int32_t bits = dlg::round_to_int32(dlg::number_from_text(dlg::get_text(kBitlengthField)));
    for (const FieldIds &ids : kFields) {
        // A bit length the library refuses is said once, not three times.
        if (library_failed(vorn::generate_random(bits, kRegRandomParameter),
                           "Random parameters of " + std::to_string(bits) + " bits"))
            return;
        vorn::huge2dec(kRegRandomParameter, kRegRandomParameter);
        dlg::set_text(ids.field, vorn::getreg(kRegRandomParameter));
    }
}

void clear_parameters() {
    for (const FieldIds &ids : kFields) dlg::set_text(ids.field, "");
    dlg::set_text(kResultField, "");
}

void clear_result() { dlg::set_text(kResultField, ""); }

}  // namespace wb
