// The texts the workbench shows: message boxes, verdicts, status texts and prompts.
#pragma once

#include <string_view>

namespace wb::msg {

// Frame and endings.
constexpr std::string_view kSelectFirst = "Select an operation first...";
constexpr std::string_view kUnknownOperation = "Unknown operation..";
constexpr std::string_view kCalculating = "Calculating...";
constexpr std::string_view kPreparing = "Preparing result";
constexpr std::string_view kPreparingLong = "Preparing result to display. May take a while...";
constexpr std::string_view kStopped = "Stopped";
constexpr std::string_view kDrawing = "Drawing random parameters...";
constexpr std::string_view kStopCaption = "&Stop";
constexpr std::string_view kResultCaption = "Result";
constexpr std::string_view kDigitsBefore = "Result (";
constexpr std::string_view kDigitsAfter = " decimal digits)";
// Said in the result field when it could not take the whole result.
constexpr std::string_view kTooManyDigitsBefore = "The result has";
constexpr std::string_view kTooManyDigitsAfter = " decimal digits, too many for this field to show.";
// A parameter that is not a whole number >= 0 in decimal digits.
constexpr std::string_view kAcceptedNumber =
    "Enter a whole number >= 0 in the digits 0 to 9 only, without sign, point, separators or exponent.";

// Arithmetic.
constexpr std::string_view kNegative = "a < b. Result will be negative (sign not shown)...";
constexpr std::string_view kDivisionByZero = "Division by zero!";
constexpr std::string_view kZeroModulus = "C parameter must not be zero!";
constexpr std::string_view kRemainder = "Remainder: ";
constexpr std::string_view kNoInverse = "No result: GCD(a,b) <> 1 !";

// Keys, ciphers and hash.
constexpr std::string_view kInitRsa = "Initializing RSA generator. Only needed once...";
constexpr std::string_view kInitBbs = "Initializing BBS generator. Only needed once...";
constexpr std::string_view kTooLong = "Message is too long!!";
constexpr std::string_view kAesKeySize = "AES key is NOT equal to 16, 24 or 32 bytes";
constexpr std::string_view kAesIvSize = "IV is not empty and not equal to blocklength (16 bytes)";
constexpr std::string_view kAesBlockLength =
    "Ciphertext length is not a multiple of an AES block (16 bytes)";
constexpr std::string_view kAesBadPadding =
    "Decryption failed: wrong passphrase or damaged ciphertext (bad padding)";
constexpr std::string_view kDecryptionError =
    "Decryption error: decrypted ciphertext does not equal original plaintext!";

// Prompts.
constexpr std::string_view kAskPrimeBytes =
    "Enter the length of the prime number to be generated (in bytes)";
constexpr std::string_view kAskPrimeRounds = "Number of tests to be performed by Rabin-Miller test [2-15]";
constexpr std::string_view kAskRandomBytes =
    "Enter the length of the random number to be generated (in bytes)";
constexpr std::string_view kAskRsaBits = "Enter the length of the RSA modulus (in bits)";
constexpr std::string_view kAskBbsBits = "Enter the length of the BBS modulus (in bits)";
constexpr std::string_view kAskMessageBefore = "Enter a string to encrypt (max. length:";
constexpr std::string_view kAskMessageAfter = " bytes)";
constexpr std::string_view kAskPlaintext = "Enter a string (of any length) to encrypt";
constexpr std::string_view kAskEncryptPassphrase = "Enter a passphrase to encrypt the string";
constexpr std::string_view kAskDecryptPassphrase = "Enter a passphrase to decrypt the string";
constexpr std::string_view kAskFermatCount = "Number of tests to be performed by Fermat test [1-100]";
constexpr std::string_view kAskRabinMillerCount =
    "Number of tests to be performed by Rabin-Miller test [1-100]";

}  // namespace wb::msg
