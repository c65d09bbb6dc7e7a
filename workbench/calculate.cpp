// The Calculate command: the catalogue of operations, the frame every calculation shares, the
// endings, and the arithmetic and yes/no operations.
#include <vorn.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

#include "messages.hpp"
#include "workbench.hpp"

namespace wb {

namespace {

// Start time on the monotonic clock, in double precision: elapsed times are never negative,
// also across midnight. Atomic, as the progress display reads it from another thread.
std::atomic<double> g_start_time = 0.0;
// The time that boxes stay open is the user's, not the calculation's: it is taken off.
double g_start_box_time = 0.0;

// The library's work token of the handlers' thread, and the phase the status line names
// while a calculation runs (nullptr: none yet).
std::atomic<int32_t> g_work_token = 0;
std::atomic<const char *> g_phase = nullptr;

// Runs from a signal handler or the window's thread: atomics and VN_STOPWORK only.
void stop_library_work() {
    int32_t token = g_work_token;
    VN_STOPWORK(&token);
}

void handler_started() {
    g_work_token = VN_WORKTOKEN();   // also clears a stop left from an earlier command
    if (dlg::stop_requested()) stop_library_work();
}

struct StageName {
    int32_t stage;
    const char *name;
};
constexpr StageName kStageNames[] = {
    {VN_STAGE_POWER, "power"},         {VN_STAGE_CONVERT, "conversion"},
    {VN_STAGE_SEARCH, "prime search"}, {VN_STAGE_PROOF, "exact proof"},
    {VN_STAGE_GENERATE, "generator"},  {VN_STAGE_CIPHER, "cipher"},
};

constexpr int kParameterFieldIds[] = {kFieldA, kFieldB, kFieldC};

}  // namespace

// While long work runs the user can stop it, and the parameter fields show what is being
// computed: they cannot be edited.
void begin_stoppable(int button) {
    dlg::begin_work(button, msg::kStopCaption, kStatusLine, calculation_progress);
    for (int id : kParameterFieldIds) dlg::set_read_only(id, true);
}

void end_stoppable() {
    dlg::end_work();
    g_phase = nullptr;
    for (int id : kParameterFieldIds) dlg::set_read_only(id, false);
}

void set_phase(std::string_view phase_text) { g_phase = phase_text.data(); }

namespace {

std::string elapsed_text() {
    double boxes = dlg::seconds_in_boxes() - g_start_box_time;
    return dlg::number_to_text(std::max(0.0, dlg::monotonic_seconds() - g_start_time - boxes));
}

// ---- Operations with a result in register 9 ------------------------------------------

bool add() { return !library_failed(vorn::add(kRegA, kRegB, kRegResult), "a + b"); }

bool subtract() {
    if (vorn::is_less(kRegA, kRegB) == 1) dlg::message_box(msg::kNegative);
    return !library_failed(vorn::sub(kRegA, kRegB, kRegResult), "a - b");
}

bool multiply() { return !library_failed(vorn::mul(kRegA, kRegB, kRegResult), "a * b"); }

bool double_a() { return !library_failed(vorn::mulby2(kRegA, kRegResult), "a * 2"); }

void show_remainder(vorn::Reg remainder) {
    vorn::huge2dec(remainder, remainder);
    dlg::set_text(kFieldC, std::string(msg::kRemainder) + vorn::getreg(remainder));
}

bool divide() {
    if (vorn::is_zero(kRegB) == 1) {
        dlg::message_box(msg::kDivisionByZero);
        return false;
    }
    if (library_failed(vorn::div(kRegA, kRegB, kRegResult, kRegRemainder), "a \\ b")) return false;
    show_remainder(kRegRemainder);
    return true;
}

bool halve() {
    if (library_failed(vorn::divby2(kRegA, kRegResult, kRegHalfRemainder), "a \\ 2")) return false;
    show_remainder(kRegHalfRemainder);
    return true;
}

bool power() { return !library_failed(vorn::pow(kRegA, kRegB, kRegResult), "a ^ b"); }

// Like "a \ b": a zero divisor is reported instead of being left to the library.
bool modulo() {
    if (vorn::is_zero(kRegB) == 1) {
        dlg::message_box(msg::kDivisionByZero);
        return false;
    }
    return !library_failed(vorn::mod(kRegA, kRegB, kRegResult), "a mod b");
}

bool power_modulo() {
    if (vorn::is_zero(kRegC) == 1) {
        dlg::message_box(msg::kZeroModulus);
        return false;
    }
    return !library_failed(vorn::powmod(kRegA, kRegB, kRegC, kRegResult), "a ^ b mod c");
}

bool inverse() {
    int32_t status = vorn::modinv(kRegA, kRegB, kRegResult);
    if (status == VN_STATUS_NOINVERSE) {
        dlg::message_box(msg::kNoInverse);
        return false;
    }
    return !library_failed(status, "a ^ -1 mod b");
}

bool gcd() { return !library_failed(vorn::gcd(kRegA, kRegB, kRegResult), "GCD a, b"); }

// ---- Yes/no tests ----------------------------------------------------------------------

// A truth value is 1 or 0; anything else is a failed call, reported instead of read as
// either answer.
bool verdict(int32_t truth, std::string_view yes, std::string_view no) {
    if (truth != 0 && truth != 1) return !library_failed(VN_FAIL, "The test");
    dlg::set_text(kResultField, truth == 1 ? yes : no);
    return true;
}

int32_t ask_count(std::string_view prompt) {
    return dlg::round_to_int32(dlg::number_from_text(dlg::input_box(prompt, "", "5")));
}

constexpr std::string_view kPossiblyPrime = "a is possibly a prime..";
constexpr std::string_view kNotPrime = "a is definitely NOT prime";

bool is_zero() { return verdict(vorn::is_zero(kRegA), "a = 0", "a <> 0"); }
bool is_less() { return verdict(vorn::is_less(kRegA, kRegB), "a < b", "a >= b"); }
bool is_odd() { return verdict(vorn::is_odd(kRegA), "a is odd", "a is even"); }
bool is_prime_div() { return verdict(vorn::is_prime_div(kRegA), kPossiblyPrime, kNotPrime); }
bool is_prime_slow() {
    return verdict(vorn::is_prime_slow(kRegA), "a is definitely a prime..", kNotPrime);
}
// The prompt's time counts: the start time is not taken again.
bool is_prime_fermat() {
    int32_t count = ask_count(msg::kAskFermatCount);
    return verdict(vorn::is_prime_fermat(count, kRegA), kPossiblyPrime, kNotPrime);
}
bool is_prime_rabin_miller() {
    int32_t count = ask_count(msg::kAskRabinMillerCount);
    return verdict(vorn::is_prime_rabin_miller(count, kRegA), kPossiblyPrime, kNotPrime);
}
bool is_relprime() {
    return verdict(vorn::is_relprime(kRegA, kRegB), "a and b are relative primes",
                   "a and b are NOT relative primes");
}

struct ParameterField {
    int id;
    char name;
    vorn::Reg reg;
    uint8_t use;
};
constexpr ParameterField kParameterFields[] = {
    {kFieldA, 'a', kRegA, kUsesA}, {kFieldB, 'b', kRegB, kUsesB}, {kFieldC, 'c', kRegC, kUsesC}};

// A field the operation uses must hold a decimal number; the others are not looked at.
bool parameters_are_decimal(uint8_t uses) {
    for (const ParameterField &f : kParameterFields) {
        if (!(uses & f.use)) continue;
        if (std::string problem = decimal_problem(dlg::get_text(f.id), f.name); !problem.empty()) {
            dlg::message_box(problem);
            return false;
        }
    }
    return true;
}

// A calculation that could not start shows no earlier answer either; no time was taken.
void refuse_calculation() {
    dlg::set_text(kResultField, "");
    dlg::set_text(kResultCaption, msg::kResultCaption);
    dlg::set_text(kStatusLine, "");
}

// All three fields go into registers 1 to 3, in this order, whatever the operation. Only a
// used field's conversion can fail here (a number too large for the library).
bool load_parameters(uint8_t uses) {
    for (const ParameterField &f : kParameterFields) {
        vorn::putreg(dlg::get_text(f.id), f.reg);
        int32_t status = vorn::dec2huge(f.reg, f.reg);
        if ((uses & f.use) && library_failed(status, "Loading the parameters")) return false;
    }
    return true;
}

}  // namespace

// The operations in list order, one row each: label, fields read as numbers, looks of
// fields a, b and c, ending, handler. The list, the field set-up and the Calculate command
// all read this table.
constexpr std::array<FieldLook, 3> kShowAB{kShown, kShown, kHidden};
constexpr std::array<FieldLook, 3> kShowA{kShown, kHidden, kHidden};
constexpr std::array<FieldLook, 3> kShowABC{kShown, kShown, kShown};
constexpr std::array<FieldLook, 3> kShowNone{kHidden, kHidden, kHidden};
constexpr std::array<FieldLook, 3> kShowKey{labelled("Modulus n"), labelled("Public key e"),
                                            labelled("Private key d")};
constexpr std::array<FieldLook, 3> kShowRoundTrip{labelled("Plaintext"), labelled("Encrypted text"),
                                                  labelled("Decrypted text")};
constexpr std::array<FieldLook, 3> kShowHash{labelled("Text"), labelled("Hash value"), kHidden};

const std::array<Operation, kOperationCount> kCatalogue = {{
    {"a + b", kUsesAB, kShowAB, Ending::Result, add},
    {"a - b", kUsesAB, kShowAB, Ending::Result, subtract},
    {"a * b", kUsesAB, kShowAB, Ending::Result, multiply},
    {"a * 2", kUsesA, kShowA, Ending::Result, double_a},
    {"a \\ b", kUsesAB, kShowABC, Ending::Result, divide},  // c shows the remainder
    {"a \\ 2", kUsesA, {kShown, kHidden, kShown}, Ending::Result, halve},
    {"a ^ b", kUsesAB, kShowAB, Ending::Result, power},
    {"a mod b", kUsesAB, kShowAB, Ending::Result, modulo},
    {"a ^ b mod c", kUsesAB | kUsesC, kShowABC, Ending::Result, power_modulo},
    {"a ^ -1 mod b", kUsesAB, kShowAB, Ending::Result, inverse},
    {"GCD a, b", kUsesAB, kShowAB, Ending::Result, gcd},
    {"Generate prime number", kUsesNone, kShowNone, Ending::Result, generate_prime},
    {"Generate random number", kUsesNone, kShowNone, Ending::Result, generate_random},
    {"Generate RSA random number", kUsesNone, kShowNone, Ending::Result, generate_rsa_random},
    {"Generate BBS random number", kUsesNone, kShowNone, Ending::Result, generate_bbs_random},
    {"Generate RSA public key", kUsesNone, kShowKey, Ending::Fields, generate_rsa_public_key},
    {"RSA encrypt/decrypt data", kUsesNone, kShowRoundTrip, Ending::Fields, rsa_encrypt_decrypt},
    {"AES encrypt/decrypt data", kUsesNone, kShowRoundTrip, Ending::Fields, aes_encrypt_decrypt},
    {"SHA-256 hash algorithm", kUsesNone, kShowHash, Ending::Fields, sha256_hash},
    {"--------------------", kUsesNone, kShowABC, Ending::Failed, nullptr},
    {"a = 0?", kUsesA, kShowA, Ending::Verdict, is_zero},
    {"a < b?", kUsesAB, kShowAB, Ending::Verdict, is_less},
    {"a is odd?", kUsesA, kShowA, Ending::Verdict, is_odd},
    {"a is prime? (Div. lower primes)", kUsesA, kShowA, Ending::Verdict, is_prime_div},
    {"a is prime? (Slow, 100%)", kUsesA, kShowA, Ending::Verdict, is_prime_slow},
    {"a is prime? (Fermat, <>100%)", kUsesA, kShowA, Ending::Verdict, is_prime_fermat},
    {"a is prime? (Rabin-Miller, <>100%)", kUsesA, kShowA, Ending::Verdict, is_prime_rabin_miller},
    {"a, b relative primes?", kUsesAB, kShowAB, Ending::Verdict, is_relprime},
}};

const Operation *find_operation(std::string_view label) {
    for (const Operation &operation : kCatalogue)
        if (operation.label == label) return &operation;
    return nullptr;
}

static bool result_register_empty() {
    if (vorn::is_zero(kRegResult) != 1 || !vorn::getreg(kRegResult).empty()) return false;
    vorn::putreg(std::string(1, '\0'), kRegDisplay);
    return vorn::is_equal(kRegResult, kRegDisplay) == 0;
}

void take_start_time() {
    g_start_time = dlg::monotonic_seconds();
    g_start_box_time = dlg::seconds_in_boxes();
}

void install_work_hooks() {
    dlg::set_work_hooks({handler_started, stop_library_work});
    dlg::set_exit_button(kExitButton);
}

std::string calculation_progress() {
    const char *phase = g_phase;
    if (phase == nullptr) return "";
    char text[96];
    std::snprintf(text, sizeof text, "%s %.1f s", phase, dlg::monotonic_seconds() - g_start_time);
    std::string shown = text;
    int32_t token = g_work_token, stage = VN_STAGE_IDLE, permille = -1;
    if (VN_WORKPROGRESS(&token, &stage, &permille) != VN_OK) return shown;
    for (const StageName &s : kStageNames) {
        if (s.stage != stage) continue;
        shown += std::string(", ") + s.name;
        if (permille >= 0) shown += " " + std::to_string(permille / 10) + " %";
    }
    return shown;
}

void calculate() {
    std::string label = dlg::selected_entry(kOperationList);
    if (label.empty()) {
        dlg::message_box(msg::kSelectFirst);
        return;
    }
    const Operation *operation = find_operation(label);
    uint8_t uses = operation ? operation->uses : uint8_t(kUsesNone);
    if (!parameters_are_decimal(uses)) {
        refuse_calculation();
        return;
    }

    begin_stoppable(kCalculateButton);
    take_start_time();   // taken again below; a stop while loading counts from here
    if (!load_parameters(uses)) {
        if (dlg::stop_requested()) stopped_ending();
        else refuse_calculation();
        end_stoppable();
        return;
    }
    dlg::set_text(kResultCaption, "");
    dlg::set_text(kStatusLine, msg::kCalculating);
    dlg::set_text(kResultField, "");
    set_phase(msg::kCalculating);
    take_start_time();
    if (operation == nullptr || operation->run == nullptr) {
        dlg::message_box(msg::kUnknownOperation);
        failed_ending();
    } else {
        bool shown = operation->run();
        if (dlg::stop_requested()) stopped_ending();
        else end_with(shown ? operation->ending : Ending::Failed);
    }
    end_stoppable();
}

void end_with(Ending ending) {
    switch (ending) {
        case Ending::Result: result_ending(); break;
        case Ending::Verdict: verdict_ending(); break;
        case Ending::Fields: fields_ending(); break;
        case Ending::Failed: failed_ending(); break;
    }
}

void result_ending() {
    dlg::set_text(kTimeDisplay, elapsed_text());
    set_phase(msg::kPreparing);
    dlg::set_text(kStatusLine, msg::kPreparing);
    dlg::set_text(kResultField, msg::kPreparingLong);
    for (int i = 0; i < 5; ++i) dlg::pump_step();
    // Convert into another register: register 9 keeps its number, so an ending that finds
    // no new result shows the previous one again rather than its decimal text read as bytes.
    std::string digits;
    if (!result_register_empty() &&
        !library_failed(vorn::huge2dec(kRegResult, kRegDisplay), "Converting the result")) {
        digits = vorn::getreg(kRegDisplay);
        vorn::putreg("", kRegDisplay);  // the text may be megabytes; do not keep it
    }
    if (dlg::stop_requested()) return stopped_ending();
    dlg::end_work();
    dlg::set_text(kResultField, digits);
    if (dlg::get_text(kResultField).size() != digits.size()) {
        dlg::set_text(kResultField, std::string(msg::kTooManyDigitsBefore) +
                                        dlg::number_to_text(double(digits.size())) +
                                        std::string(msg::kTooManyDigitsAfter));
    }
    dlg::set_text(kResultCaption, std::string(msg::kDigitsBefore) +
                                      dlg::number_to_text(double(digits.size())) +
                                      std::string(msg::kDigitsAfter));
    dlg::set_text(kStatusLine, "");
}

// Each ending ends the progress display first, so it cannot write over the last status.
void verdict_ending() {
    dlg::end_work();
    dlg::set_text(kTimeDisplay, elapsed_text());
    dlg::set_text(kResultCaption, msg::kResultCaption);
    dlg::set_text(kStatusLine, "");
}

// Operations whose outputs are in fields a, b and c: the result field stays empty, so it
// cannot be taken for theirs.
void fields_ending() {
    dlg::end_work();
    dlg::set_text(kTimeDisplay, elapsed_text());
    if (!dlg::get_text(kResultField).empty()) dlg::set_text(kResultField, "");
    dlg::set_text(kResultCaption, msg::kResultCaption);
    dlg::set_text(kStatusLine, "");
}

// A failed calculation shows the time it took up to the failure and no number at all: an
// earlier answer under the new parameters would read as this one's.
void failed_ending() { fields_ending(); }

// The time until the stop, no result, and the parameters as they were.
void stopped_ending() {
    dlg::end_work();
    dlg::set_text(kTimeDisplay, elapsed_text());
    dlg::set_text(kResultField, "");
    dlg::set_text(kResultCaption, msg::kResultCaption);
    dlg::set_text(kStatusLine, msg::kStopped);
}

}  // namespace wb
