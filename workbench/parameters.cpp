// Parameter fields: set-up per operation, random parameters, the two clear commands.
#include <vorn.hpp>

#include "workbench.hpp"

namespace wb {

namespace {

// How one parameter field appears: hidden, shown with its default label, or shown with
// another label.
struct FieldLook {
    bool shown;
    std::string_view label;  // empty: the default label
};

constexpr FieldLook kHidden{false, ""};
constexpr FieldLook kShown{true, ""};
constexpr FieldLook labelled(std::string_view text) { return {true, text}; }

struct FieldSetup {
    std::string_view operation;
    FieldLook a, b, c;
};

// Labels not listed here (the separator entry) leave all three fields shown.
constexpr FieldSetup kFieldSetups[] = {
    {"a + b", kShown, kShown, kHidden},
    {"a - b", kShown, kShown, kHidden},
    {"a * b", kShown, kShown, kHidden},
    {"a ^ b", kShown, kShown, kHidden},
    {"a mod b", kShown, kShown, kHidden},
    {"a ^ -1 mod b", kShown, kShown, kHidden},
    {"GCD a, b", kShown, kShown, kHidden},
    {"a < b?", kShown, kShown, kHidden},
    {"a, b relative primes?", kShown, kShown, kHidden},
    {"a * 2", kShown, kHidden, kHidden},
    {"a = 0?", kShown, kHidden, kHidden},
    {"a is odd?", kShown, kHidden, kHidden},
    {"a is prime? (Div. lower primes)", kShown, kHidden, kHidden},
    {"a is prime? (Slow, 100%)", kShown, kHidden, kHidden},
    {"a is prime? (Fermat, <>100%)", kShown, kHidden, kHidden},
    {"a is prime? (Rabin-Miller, <>100%)", kShown, kHidden, kHidden},
    {"a \\ 2", kShown, kHidden, kShown},
    {"a \\ b", kShown, kShown, kShown},
    {"a ^ b mod c", kShown, kShown, kShown},
    {"Generate prime number", kHidden, kHidden, kHidden},
    {"Generate random number", kHidden, kHidden, kHidden},
    {"Generate RSA random number", kHidden, kHidden, kHidden},
    {"Generate BBS random number", kHidden, kHidden, kHidden},
    {"Generate RSA public key", labelled("Modulus n"), labelled("Public key e"),
     labelled("Private key d")},
    {"RSA encrypt/decrypt data", labelled("Plaintext"), labelled("Encrypted text"),
     labelled("Decrypted text")},
    {"AES encrypt/decrypt data", labelled("Plaintext"), labelled("Encrypted text"),
     labelled("Decrypted text")},
    {"SHA-256 hash algorithm", labelled("Text"), labelled("Hash value"), kHidden},
};

struct FieldIds {
    int field, label;
    std::string_view default_label;
};
constexpr FieldIds kFields[] = {
    {kFieldA, kLabelA, "Parameter 'a'"},
    {kFieldB, kLabelB, "Parameter 'b'"},
    {kFieldC, kLabelC, "Parameter 'c'"},
};

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
    std::string label = dlg::selected_entry(kOperationList);
    for (const FieldSetup &setup : kFieldSetups) {
        if (setup.operation == label) {
            apply(kFields[0], setup.a);
            apply(kFields[1], setup.b);
            apply(kFields[2], setup.c);
            return;
        }
    }
}

void random_parameters() {
    int32_t bits = dlg::round_to_int32(dlg::number_from_text(dlg::get_text(kBitlengthField)));
    for (const FieldIds &ids : kFields) {
        // A bit length the library refuses is said once, not three times.
        if (library_failed(vorn::generate_random(bits, kRegA),
                           "Random parameters of " + std::to_string(bits) + " bits"))
            return;
        vorn::huge2dec(kRegA, kRegA);
        dlg::set_text(ids.field, vorn::getreg(kRegA));
    }
}

void clear_parameters() {
    for (const FieldIds &ids : kFields) dlg::set_text(ids.field, "");
    dlg::set_text(kResultField, "");
}

void clear_result() { dlg::set_text(kResultField, ""); }

}  // namespace wb
