// workbench: an interactive calculator over the VORN library's registers.
//
// The program is one modal dialog. Everything it does is a handler of that dialog's command
// dispatch; the handlers are plain procedures over the library's registers, the dialog's
// controls and the one value kept between calculations (the saved RSA key).
#pragma once

#include <dialogs.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace wb {

// Control ids of the main dialog (1021 is not used).
enum ControlId : int {
    kOperationList = 1001,
    kBanner = 1002,
    kOperationLabel = 1003,
    kFieldA = 1004,
    kLabelA = 1005,
    kFieldB = 1006,
    kLabelB = 1007,
    kFieldC = 1008,
    kResultField = 1009,
    kLabelC = 1010,
    kResultCaption = 1011,
    kRandomButton = 1012,
    kBitlengthLabel = 1013,
    kBitlengthField = 1014,
    kModifyGroup = 1015,
    kClearParametersButton = 1016,
    kTimeDisplay = 1017,
    kTimeGroup = 1018,
    kCalculateButton = 1019,
    kExitButton = 1020,
    kStatusLine = 1022,
    kClearResultButton = 1023,
};

// Library registers as this program uses them, named for what they hold. Names share a
// number where operations use one register for different things; no operation uses one
// register for two of them.
enum Register : int32_t {
    kRegA = 1, kRegB = 2, kRegC = 3,  // the parameters, loaded by every calculation
    kRegResult = 9,                   // what the common result ending shows
    kRegDisplay = 10,                 // the result's decimal text, so register 9 keeps its number
    kRegRemainder = 4,                // a \ b
    kRegHalfRemainder = 8,            // a \ 2
    kRegRandomParameter = 1,          // each random parameter on its way to its field
    kRegKeyE = 1, kRegKeyD = 2, kRegKeyN = 3,  // an RSA key, also the RSA generator's
    kRegKeyPartText = 4,              // a key part in decimal, for its field
    kRegRsaState = 4,                 // the RSA generator's seed, then its state
    kRegBbsModulus = 1, kRegBbsState = 2,
    kRegPassphrase = 1, kRegAesKey = 2, kRegPlaintext = 3, kRegIv = 4,
    kRegMessage = 4, kRegCiphertext = 5, kRegDecrypted = 6,  // RSA and AES round trips
    kRegHashInput = 1, kRegDigest = 2,
};

// How a calculation ends.
enum class Ending {
    Result,   // the number in register 9, with its digit count
    Verdict,  // the verdict the operation wrote into the result field
    Fields,   // the outputs are in fields a, b and c; the result field stays empty
    Failed,   // a message said what went wrong; nothing to show
};

// Which parameters an operation reads as decimal numbers.
enum Uses : uint8_t { kUsesNone = 0, kUsesA = 1, kUsesB = 2, kUsesC = 4 };
constexpr uint8_t kUsesAB = kUsesA | kUsesB;

// How a parameter field and its label appear while an operation is selected: hidden, shown
// with the default label ("Parameter 'a'"), or shown with a label of the operation's own.
struct FieldLook {
    bool shown;
    std::string_view label;  // empty: the default label
};
constexpr FieldLook kHidden{false, ""};
constexpr FieldLook kShown{true, ""};
constexpr FieldLook labelled(std::string_view text) { return {true, text}; }

// One operation of the catalogue: everything the program knows about it. The handler
// returns true to end with the row's ending and false when it failed (after a message).
struct Operation {
    std::string_view label;            // its entry in the operation list
    uint8_t uses;                      // Uses bits: fields that must hold decimal numbers
    std::array<FieldLook, 3> looks;    // fields a, b and c
    Ending ending;
    bool (*run)();                     // nullptr for the separator entry
};

constexpr int kOperationCount = 28;
extern const std::array<Operation, kOperationCount> kCatalogue;

// The row whose label is exactly label, or nullptr.
const Operation *find_operation(std::string_view label);

// Name, version, summary and help text, for the command line and the help box.
extern const dlg::ProgramInfo kProgramInfo;

// The main dialog as data: ids, kinds, texts, geometry and styles.
dlg::Dialog main_dialog();

// The command dispatch of the main dialog.
void dispatch(int id, int code);

// Sets the status line font and fills the operation list, once the dialog exists.
void prepare_dialog();

// Start-up: library, dialog, list. Returns the program's exit code.
int run_workbench();

// ---- Handlers (one per command) ------------------------------------------------------
void calculate();
void field_setup();
void random_parameters();
void clear_parameters();
void clear_result();

// ---- Long work ----------------------------------------------------------------------
// Lets the user stop calculations (dialogs.h): run_workbench calls it before the dialog.
void install_work_hooks();
// The status line's text while a calculation runs: the phase, the elapsed time and how far
// the library is ("Calculating... 2.5 s, power 40 %"); "" before a phase is set.
std::string calculation_progress();
// Long work of a handler, started by button: until end_stoppable the button reads "&Stop"
// and stops it, the status line shows the progress of the phase, and the parameter fields
// cannot be edited.
void begin_stoppable(int button);
void end_stoppable();
// What the status line names while work runs; a text that lives as long as the program.
void set_phase(std::string_view phase_text);

// ---- Shared helpers of the handlers --------------------------------------------------
void take_start_time();
void end_with(Ending ending);
void result_ending();
void verdict_ending();
void fields_ending();
void failed_ending();
void stopped_ending();

// Shows a message box for a library call that did not return VN_OK (a failure, or a positive
// status the caller has not handled) and returns true; returns false for VN_OK.
bool library_failed(int32_t status, std::string_view what);

// Text of a register's bytes for an edit field: as it is when it can be shown as text,
// otherwise as hexadecimal.
std::string showable(std::string_view bytes);

// Lowercase hexadecimal of bytes, first byte first.
std::string to_hex(std::string_view bytes);

// Empty when text is a whole number >= 0 in decimal digits, with optional white space
// around it; otherwise a message that names the field and says what is wrong and what is
// accepted.
std::string decimal_problem(std::string_view text, char field_name);

// ---- Operations of positions 12 to 19 ------------------------------------------------
bool generate_prime();
bool generate_random();
bool generate_rsa_random();
bool generate_bbs_random();
bool generate_rsa_public_key();
bool rsa_encrypt_decrypt();
bool aes_encrypt_decrypt();
bool sha256_hash();

}  // namespace wb
