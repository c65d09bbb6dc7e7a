// The test battery: timed passes of 30 randomized self-consistency tests over the library,
// after its two known-answer checks. Each test computes one value two ways, or asks a
// predicate whose answer is known by construction; every disagreement is logged and counted.
#include "testbench.h"

#include <vorn.hpp>

#include <atomic>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace testbench {

namespace {

using namespace vorn;

// Registers loaded once per run and never written afterwards.
constexpr Reg kZero = 7;
constexpr Reg kOne = 8;
constexpr Reg kTwo = 9;

constexpr int kLongPause = 10'000;
constexpr int kPause = 2'000;

// Counters of the run in progress; the progress display reads them from another thread.
struct Battery {
    std::atomic<int64_t> tests_done = 0;
    std::atomic<int64_t> errors = 0;
    std::atomic<int64_t> passes = 0;
    std::atomic<double> start = 0;
    std::atomic<double> duration = 0;
};
Battery battery_in_progress;

int32_t U(int32_t a, int32_t b) { return dlg::random_between(a, b); }
void random_of(int32_t bits, Reg r) { generate_random(bits, r); }

// Lines that report a status of the library without counting as an error.
void note(std::string_view line) {
    log_append(line);
    dlg::pause_ms(kPause);
}

// Draws register r again until accept() holds, at most kMaxDraws times: a library that
// cannot deliver (a failing generator) must not hang the battery. False when it gave up.
template <typename Accept>
bool draw_until(int32_t bits, Reg r, Accept accept) {
    for (int attempt = 0; attempt < kMaxDraws; ++attempt) {
        if (generate_random(bits, r) != VN_OK) return false;
        if (accept()) return true;
    }
    return false;
}

// What a test found: its condition held, failed, or the library could not deliver an
// operand for it. "A, or else B" is written A || B, so such a test fails at most once.
enum Outcome { kPassed, kFailed, kNoOperand };
Outcome failed_if(bool failed) { return failed ? kFailed : kPassed; }

struct Test {
    Outcome (*run)(int32_t arg);
    int32_t arg = 0;                  // key size for the AES tests
    const char *line = nullptr;       // logged on failure
    int pause_ms = 0;                 // after each failure
    std::vector<std::string> (*details)() = nullptr;  // more lines after the first one
    // A second condition, asked after the first has been reported, whatever it gave.
    bool (*then_fails)() = nullptr;
    const char *then_line = nullptr;
    const char *no_operand_line = nullptr;
    bool pump_before = false;
};

Outcome add_sub(int32_t) {
    int32_t b = 8 * U(3, 14);
    random_of(b, 1);
    random_of(b, 2);
    add(1, 2, 3);
    sub(3, 2, 4);
    return failed_if(is_not_equal(1, 4) != 0);
}

Outcome add_mulby2(int32_t) {
    int32_t b = 8 * U(3, 14);
    random_of(b, 1);
    add(1, 1, 2);
    mulby2(1, 3);
    return failed_if(is_not_equal(2, 3) != 0);
}

Outcome mul_div(int32_t) {
    int32_t b = 8 * U(4, 32);
    random_of(b, 1);
    random_of(b, 2);
    if (is_less(1, 2) == 1) swapreg(1, 2);
    div(1, 2, 3, 4);
    mul(3, 2, 5);
    add(5, 4, 6);
    return failed_if(is_not_equal(1, 6) != 0);
}

Outcome div_by_two_small(int32_t) {
    int32_t b = 8 * U(4, 32);
    random_of(b, 1);
    div(1, kTwo, 3, 4);
    divby2(1, 5, 6);
    return failed_if(is_not_equal(3, 5) != 0 || is_not_equal(4, 6) != 0);
}

Outcome mul_by_two(int32_t) {
    int32_t b = 8 * U(4, 64);
    random_of(b, 1);
    mul(1, kTwo, 2);
    mulby2(1, 3);
    return failed_if(is_not_equal(2, 3) != 0);
}

Outcome div_by_two(int32_t) {
    int32_t b = 8 * U(4, 64);
    random_of(b, 1);
    div(1, kTwo, 2, 5);
    divby2(1, 3, 6);
    return failed_if(is_not_equal(2, 3) != 0 || is_not_equal(5, 6) != 0);
}

Outcome decimal_round_trip(int32_t) {
    int32_t b = 8 * U(4, 5);
    random_of(b, 1);
    huge2dec(1, 2);
    dec2huge(2, 3);
    return failed_if(is_not_equal(1, 3) != 0);
}

// The exponent goes in as a 4-byte little-endian constant, as the library reads numbers.
int32_t exponent_into_r2() {
    int32_t e = U(2, 10);
    putreg(le32(e), 2);
    return e;
}

Outcome power(int32_t) {
    int32_t b = 8 * U(4, 16);
    random_of(b, 1);
    int32_t e = exponent_into_r2();
    pow(1, 2, 3);
    copyreg(kOne, 4);
    for (int32_t i = 0; i < e; ++i) mul(4, 1, 4);
    return failed_if(is_not_equal(3, 4) != 0);
}

Outcome power_mod(int32_t) {
    random_of(8 * U(16, 64), 1);
    exponent_into_r2();
    random_of(8 * U(8, 64), 3);
    pow(1, 2, 4);
    mod(4, 3, 5);
    powmod(1, 2, 3, 6);
    return failed_if(is_not_equal(5, 6) != 0);
}

Outcome less(int32_t) {
    int32_t b = 8 * U(4, 16);
    random_of(b, 1);
    copyreg(1, 2);
    add(2, kOne, 2);
    return failed_if(is_less(1, 2) != 1);
}

bool less_reversed_fails() { return is_less(2, 1) != 0; }

Outcome zero(int32_t) {
    int32_t b = 8 * U(4, 16);
    random_of(b, 1);
    return failed_if(is_zero(1) != 0 || is_zero(kZero) != 1);
}

Outcome odd(int32_t) {
    int32_t b = 8 * U(4, 16);
    random_of(b, 1);
    mulby2(1, 1);
    add(1, kOne, 2);
    return failed_if(is_odd(1) != 0 || is_odd(2) != 1);
}

Outcome equal(int32_t) {
    int32_t b = 8 * U(4, 16);
    random_of(b, 1);
    copyreg(1, 2);
    mulby2(2, 3);
    return failed_if(is_equal(1, 2) != 1 || is_equal(3, 2) != 0);
}

Outcome gcd_of_primes(int32_t) {
    int32_t b = 8 * U(4, 12);
    generate_prime(b, 9, 1);
    generate_prime(b, 9, 2);
    gcd(1, 2, 3);
    return failed_if(is_equal(3, kOne) != 1);
}

Outcome modular_inverse(int32_t) {
    int32_t b = 8 * U(4, 8);
    random_of(b, 1);
    if (!draw_until(b, 2, [] { return is_relprime(1, 2) == 1; })) return kNoOperand;
    // No inverse is the library's answer, not a fault: the test ends without a check.
    if (modinv(1, 2, 3) == VN_STATUS_NOINVERSE) return kPassed;
    mul(1, 3, 4);
    mod(4, 2, 5);
    return failed_if(is_equal(5, kOne) != 1);
}

std::vector<std::string> inverse_operands() {
    std::vector<std::string> lines;
    for (Reg r : {1, 2, 3}) {
        huge2hex(r, 6);
        lines.push_back(getreg(6));
    }
    return lines;
}

Outcome gcd_of_products(int32_t) {
    generate_prime(32, 8, 1);
    for (Reg n : {2, 3}) {
        int32_t b = 8 * U(5, 16);
        generate_prime(b, 8, n);
    }
    mul(1, 2, 4);
    mul(1, 3, 5);
    gcd(4, 5, 6);
    return failed_if(is_not_equal(1, 6) != 0);
}

// R1 is the 32-bit prime that the previous test generated.
Outcome prime_passes(int32_t) {
    return failed_if(is_prime_div(1) != 1 || is_prime_fermat(4, 1) != 1 ||
                     is_prime_rabin_miller(4, 1) != 1);
}

Outcome even_fails(int32_t) {
    int32_t b = 8 * U(4, 16);
    random_of(b, 1);
    mulby2(1, 1);
    return failed_if(is_prime_div(1) != 0 || is_prime_fermat(4, 1) != 0 ||
                     is_prime_rabin_miller(4, 1) != 0);
}

Outcome exact_prime(int32_t) {
    generate_prime(32, 8, 1);
    return failed_if(is_prime_slow(1) != 1);
}

Outcome exact_composite(int32_t) {
    random_of(32, 1);
    mulby2(1, 1);
    return failed_if(is_prime_slow(1) != 0);
}

Outcome rsa_round_trip(int32_t) {
    int32_t k = 8 * U(6, 16);
    generate_rsa_keys(k, 5, 1, 2, 3);
    if (!draw_until(k - 8, 4, [] { return is_less(4, 3) == 1; })) return kNoOperand;
    int32_t s = encrypt_rsa(4, 1, 3, 5);
    if (s == VN_STATUS_LENGTH4) note("Plaintext length is not a multiple of 4 bytes!");
    else if (s == VN_STATUS_RANGE) note("Plaintext is larger than modulus!");
    s = decrypt_rsa(5, 2, 3, 6);
    if (s == VN_STATUS_LENGTH4) note("Ciphertext length is not a multiple of 4 bytes!");
    else if (s == VN_STATUS_RANGE) note("Ciphertext is larger than modulus!");
    return failed_if(is_not_equal(4, 6) != 0);
}

std::vector<std::string> rsa_mismatch() {
    return {"Decrypted ciphertext does not equal original plaintext..."};
}

// A plaintext of random length and random bytes, zero bytes included, into R1.
void random_plaintext(int32_t key_bits) {
    int32_t length = U(2, key_bits == 256 ? 150 : 50);
    std::string plaintext;
    for (int32_t i = 0; i < length; ++i) plaintext += static_cast<char>(U(0, 255));
    putreg(plaintext, 1);
}

Outcome aes_cbc(int32_t key_bits) {
    random_plaintext(key_bits);
    random_of(key_bits, 2);
    random_of(128, 3);
    encrypt_aes_cbc(1, 2, 3, 4);
    decrypt_aes_cbc(4, 2, 5);
    return failed_if(is_not_equal(5, 1) != 0);
}

Outcome aes_ecb(int32_t key_bits) {
    random_plaintext(key_bits);
    random_of(key_bits, 2);
    encrypt_aes_ecb(1, 2, 4);
    decrypt_aes_ecb(4, 2, 5);
    return failed_if(is_not_equal(5, 1) != 0);
}

Outcome aes_block(int32_t key_bits) {
    random_of(128, 1);
    random_of(key_bits, 2);
    encrypt_aes_1block(1, 2, 4);
    decrypt_aes_1block(4, 2, 5);
    return failed_if(is_not_equal(5, 1) != 0);
}

// One pass, in order. Test (8) counts once although it can fail twice.
const std::vector<Test> kPass{
    {.run = add_sub, .line = "Error in (1)a vn_Add , vn_Sub", .pause_ms = kLongPause},
    {.run = add_mulby2, .line = "Error in (1)b vn_Add , vn_MulBy2", .pause_ms = kLongPause},
    {.run = mul_div, .line = "Error in (2)a vn_Mul, vn_Div"},
    {.run = div_by_two_small, .line = "Error in (2)b vn_Div , vn_DivBy2"},
    {.run = mul_by_two, .line = "Error in (3) vn_Mul, vn_MulBy2"},
    {.run = div_by_two, .line = "Error in (4) vn_Div, vn_DivBy2"},
    {.run = decimal_round_trip, .line = "Error in (5) vn_Huge2Dec , vn_Dec2Huge"},
    {.run = power, .line = "Error in (6) vn_Pow", .pause_ms = kPause},
    {.run = power_mod, .line = "Error in (7) vn_PowMod", .pause_ms = kPause},
    {.run = less, .line = "Error in (8a) vn_IsLess", .pause_ms = kPause,
     .then_fails = less_reversed_fails, .then_line = "Error in (8b) v_IsLess"},
    {.run = zero, .line = "Error in (9) vn_IsZero", .pause_ms = kPause},
    {.run = odd, .line = "Error in (10) vn_IsOdd", .pause_ms = kPause},
    {.run = equal, .line = "Error in (11) vn_IsEqual", .pause_ms = kPause},
    {.run = gcd_of_primes, .line = "Error in (12) vn_GCD", .pause_ms = kPause},
    {.run = modular_inverse, .line = "Error in (13) vn_ModInv", .pause_ms = kPause,
     .details = inverse_operands,
     .no_operand_line = "Error in (13) vn_GenerateRandom, vn_IsRelPrime: no coprime operand drawn"},
    {.run = gcd_of_products, .line = "Error in (14) vn_GeneratePrimes, vn_GCD", .pause_ms = kPause,
     .pump_before = true},
    {.run = prime_passes, .line = "Error in (15) (vn_IsPrime_Div, vn_IsPrime_F, vn_IsPrime_RB",
     .pause_ms = kPause},
    {.run = even_fails, .line = "Error in (16) (vn_IsPrime_Div, vn_IsPrime_F, vn_IsPrime_RB",
     .pause_ms = kPause},
    {.run = exact_prime, .line = "Error in (17) vn_IsPrime_Slow", .pause_ms = kPause},
    {.run = exact_composite, .line = "Error in (18) vn_IsPrime_Slow", .pause_ms = kPause},
    {.run = rsa_round_trip, .line = "Error in (19) vn_Encrypt_RSA, vn_Decrypt_RSA",
     .pause_ms = kPause, .details = rsa_mismatch,
     .no_operand_line =
         "Error in (19) vn_GenerateRandom, vn_IsLess: no plaintext below the modulus drawn"},
    {aes_cbc, 128, "(21) vn_Encrypt_AES_CBC, vn_Decrypt_AES_CBC, 128 bit key", kPause},
    {aes_cbc, 192, "(21) vn_Encrypt_AES_CBC, vn_Decrypt_AES_CBC, 192 bit key", kPause},
    {aes_cbc, 256, "(21) vn_Encrypt_AES_CBC, vn_Decrypt_AES_CBC, 256 bit key", kPause},
    {aes_ecb, 128, "(21) vn_Encrypt_AES_ECB, vn_Decrypt_AES_ECB, 128 bit key", kPause},
    {aes_ecb, 192, "(21) vn_Encrypt_AES_ECB, vn_Decrypt_AES_ECB, 192 bit key", kPause},
    {aes_ecb, 256, "(21) vn_Encrypt_AES_ECB, vn_Decrypt_AES_ECB, 256 bit key", kPause},
    {aes_block, 128, "(23) vn_Encrypt_AES_1Block, vn_Decrypt_AES_1Block, 128 bit key", kPause},
    {aes_block, 192, "(23) vn_Encrypt_AES_1Block, vn_Decrypt_AES_1Block, 192 bit key", kPause},
    {aes_block, 256, "(23) vn_Encrypt_AES_1Block, vn_Decrypt_AES_1Block, 256 bit key", kPause},
};

// A failure: its lines, one error, then the test's pause.
void report(Battery &battery, const std::vector<std::string> &lines, int pause_ms) {
    for (const std::string &line : lines) log_append(line);
    ++battery.errors;
    dlg::pause_ms(pause_ms);
}

void run_test(const Test &test, Battery &battery) {
    ++battery.tests_done;
    Outcome outcome = test.run(test.arg);
    if (outcome == kFailed) {
        std::vector<std::string> lines{test.line};
        if (test.details)
            for (std::string &line : test.details()) lines.push_back(std::move(line));
        report(battery, lines, test.pause_ms);
    } else if (outcome == kNoOperand) {
        report(battery, {test.no_operand_line}, test.pause_ms);
    }
    if (test.then_fails && test.then_fails()) report(battery, {test.then_line}, test.pause_ms);
}

struct KnownAnswerCheck {
    const char *title;
    int32_t (*failing_vectors)();
    const char *error;
};

const KnownAnswerCheck kKnownAnswerChecks[] = {
    {"Checking AES testvectors", check_aes_vectors, "Error(s) in vn_CheckTestVectors_AES:"},
    {"Checking SHA-256 testvectors", check_sha256_vectors,
     "Error(s) in vn_CheckTestVectors_SHA_256:"},
};

void run_known_answer_checks(Battery &battery) {
    for (const KnownAnswerCheck &check : kKnownAnswerChecks) {
        ++battery.tests_done;
        log_append(check.title);
        int32_t failing = check.failing_vectors();
        if (failing == 0) continue;
        log_append(check.error + dlg::number_to_text(failing) + " error(s)");
        ++battery.errors;  // one error however many vectors failed
        dlg::pause_ms(kLongPause);
    }
}

// "pass 3, 92 tests, 0 errors, 41 s left", in the window's caption or on the terminal's
// progress line: never in the log, whose lines are results.
std::string battery_progress() {
    const Battery &b = battery_in_progress;
    double left = std::max(0.0, b.start + b.duration - dlg::monotonic_seconds());
    std::string text = "pass " + std::to_string(std::max<int64_t>(1, b.passes)) + ", " +
                       std::to_string(b.tests_done) + " tests, " + std::to_string(b.errors) + " errors";
    if (b.passes > 0) text += ", " + std::to_string(static_cast<long long>(std::ceil(left))) + " s left";
    return text;
}

}  // namespace

void run_battery() {
    double minutes = dlg::number_from_text(dlg::input_box(
        "For how long do you want to perform tests (in minutes):", "VORN testbench", "1"));
    double duration = minutes * 60;

    putreg(le32(0), kZero);
    putreg(le32(1), kOne);
    putreg(le32(2), kTwo);
    log_append("Tests started...");
    Battery &battery = battery_in_progress;
    battery.tests_done = 0;
    battery.errors = 0;
    battery.passes = 0;
    battery.duration = duration;
    // The button now stops the run, after the test in progress: a library call is never cut
    // short here, so no test fails because of the stop.
    dlg::begin_work(kBatteryButton, "Stop battery", 0, battery_progress);
    dlg::set_wait_cursor(true);
    for (int i = 0; i < 80; ++i) dlg::pump_step();

    // A monotonic clock: the time of day jumps back at midnight and would never let a
    // battery that crosses it end.
    double start = dlg::monotonic_seconds();
    battery.start = start;
    // Once the dialog is closed nobody can see the log: the run ends, so the program ends
    // instead of testing on unseen for the rest of the duration.
    auto ended = [] { return dlg::dialog_closed() || dlg::stop_requested(); };
    if (!ended()) run_known_answer_checks(battery);
    while (!ended()) {
        ++battery.passes;
        dlg::pump_step();
        for (const Test &test : kPass) {
            if (ended()) break;
            if (test.pump_before) dlg::pump_step();
            run_test(test, battery);
        }
        dlg::pump_step();
        if (dlg::monotonic_seconds() - start > duration) break;
    }
    dlg::end_work();

    log_append(dlg::number_to_text(static_cast<double>(battery.tests_done)) + " tests done, " +
               dlg::number_to_text(static_cast<double>(battery.errors)) + " errors" +
               (dlg::stop_requested() ? ", stopped by the user" : ""));
    log_append("GlobalError:" + dlg::number_to_text(global_error()));
    log_append(std::string(27, '-'));
    dlg::set_wait_cursor(false);
}

}  // namespace testbench
