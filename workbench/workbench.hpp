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

// Library registers as this program uses them.
enum Register : int32_t {
    kRegA = 1, kRegB = 2, kRegC = 3,   // parameters (also key parts, passphrase, plaintext)
    kRegWork4 = 4, kRegWork5 = 5, kRegWork6 = 6, kRegWork8 = 8,
    kRegResult = 9,
    kRegDisplay = 10,  // decimal text of the result, so that register 9 keeps its number
};

// How a calculation ends.
enum class Ending { Result, Verdict, Silent };

// Which parameters an operation reads as decimal numbers.
enum Uses : uint8_t { kUsesNone = 0, kUsesA = 1, kUsesB = 2, kUsesC = 4 };

// One entry of the catalogue. The handler returns true to end with the entry's ending and
// false to end silently (a message was shown, or the operation has nothing to show).
struct Operation {
    std::string_view label;
    uint8_t uses;
    Ending ending;
    bool (*run)();   // nullptr for the separator entry
};

constexpr int kOperationCount = 28;
extern const std::array<Operation, kOperationCount> kCatalogue;

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

// ---- Shared helpers of the handlers --------------------------------------------------
void take_start_time();
void end_with(Ending ending);
void result_ending();
void verdict_ending();
void silent_ending();

// Shows a message box for a failed library call (status VN_FAIL) and returns true, or
// returns false when the call succeeded.
bool library_failed(int32_t status, std::string_view what);

// Text of a register's bytes for an edit field: as it is when it can be shown as text,
// otherwise as hexadecimal.
std::string showable(std::string_view bytes);

// Lowercase hexadecimal of bytes, first byte first.
std::string to_hex(std::string_view bytes);

// True for decimal digits with optional white space around them.
bool is_decimal_text(std::string_view text);

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
