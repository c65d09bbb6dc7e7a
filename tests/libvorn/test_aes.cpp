// AES: known answers, round trips of every length, statuses, and interoperability with the
// openssl command line.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include <vorn.hpp>

#include "test_crypto_mpz.h"

namespace {

using crypto_test::hex;
using crypto_test::unhex;

std::string random_bytes(std::mt19937_64 &rng, size_t n) {
    std::string s(n, '\0');
    for (auto &c : s) c = static_cast<char>(rng());
    return s;
}

enum Mode { CBC, ECB };

// Registers: 40 plaintext, 41 key, 42 IV, 43 ciphertext, 44 decrypted.
int32_t encrypt(Mode m) { return m == CBC ? vorn::encrypt_aes_cbc(40, 41, 42, 43) : vorn::encrypt_aes_ecb(40, 41, 43); }
int32_t decrypt(Mode m) { return m == CBC ? vorn::decrypt_aes_cbc(43, 41, 44) : vorn::decrypt_aes_ecb(43, 41, 44); }

TEST(Aes, BuiltInKnownAnswersPass) { EXPECT_EQ(vorn::check_aes_vectors(), 0); }

// Every vector of libvorn/vectors/aes.txt through the calls: whole messages with the padding
// calls (which add one block after the vector's ciphertext) and back, and ECB block by block
// with the one-block calls.
TEST(Aes, KnownAnswerVectorsThroughEveryCall) {
    int vectors = 0;
    for (const auto &w : crypto_test::vector_lines("aes.txt")) {
        ASSERT_EQ(w.size(), 5u);
        SCOPED_TRACE(w[0] + " key " + w[1]);
        Mode mode = w[0] == "CBC" ? CBC : ECB;
        std::string key = unhex(w[1]), plain = unhex(w[3]), cipher = unhex(w[4]);
        vorn::putreg(key, 41);
        vorn::putreg(plain, 40);
        if (mode == CBC) vorn::putreg(unhex(w[2]), 42);
        ASSERT_EQ(encrypt(mode), 0);
        std::string c = vorn::getreg(43);
        size_t head = mode == CBC ? 16 : 0;
        ASSERT_EQ(c.size(), head + plain.size() + 16);
        if (mode == CBC) {
            EXPECT_EQ(c.substr(0, 16), unhex(w[2]));
        }
        EXPECT_EQ(hex(c.substr(head, cipher.size())), w[4]);
        ASSERT_EQ(decrypt(mode), 0);
        EXPECT_EQ(vorn::getreg(44), plain);
        for (size_t i = 0; mode == ECB && i < plain.size(); i += 16) {
            vorn::putreg(plain.substr(i, 16), 40);
            ASSERT_EQ(vorn::encrypt_aes_1block(40, 41, 43), 0);
            EXPECT_EQ(vorn::getreg(43), cipher.substr(i, 16));
            ASSERT_EQ(vorn::decrypt_aes_1block(43, 41, 44), 0);
            EXPECT_EQ(vorn::getreg(44), plain.substr(i, 16));
        }
        ++vectors;
    }
    EXPECT_GE(vectors, 10);
}

TEST(Aes, EveryLengthAndByteComesBack) {
    std::mt19937_64 rng(test_seed());
    for (Mode m : {CBC, ECB}) {
        for (size_t key_len : {16, 24, 32}) {
            for (size_t len = 0; len <= 150; ++len) {
                std::string plain = random_bytes(rng, len);
                if (len % 2 == 0 && len > 0) plain.back() = '\0';  // trailing zeros
                if (len % 4 == 0 && len > 1) plain[len - 2] = '\0';
                vorn::putreg(plain, 40);
                vorn::putreg(random_bytes(rng, key_len), 41);
                vorn::putreg(len % 3 ? random_bytes(rng, 16) : "", 42);
                ASSERT_EQ(encrypt(m), 0);
                size_t expected = (len / 16 + 1) * 16 + (m == CBC ? 16 : 0);
                ASSERT_EQ(vorn::getreg(43).size(), expected);
                ASSERT_EQ(decrypt(m), 0) << "mode " << m << " key " << key_len << " length " << len;
                ASSERT_EQ(vorn::getreg(44), plain) << "mode " << m << " key " << key_len << " length " << len;
                ASSERT_EQ(vorn::is_not_equal(44, 40), 0);
            }
        }
    }
}

TEST(Aes, BatteryShapedRoundTripsWithNumberKeys) {
    // Keys, IVs and single blocks drawn as random numbers of exactly K bits.
    for (int32_t k : {128, 192, 256}) {
        for (int i = 0; i < 20; ++i) {
            vorn::putreg(std::string("\x01\x00\x00", 3) + std::string(static_cast<size_t>(i), '\0'), 40);
            vorn::generate_random(k, 41);
            vorn::generate_random(128, 42);
            ASSERT_EQ(vorn::encrypt_aes_cbc(40, 41, 42, 43), 0);
            ASSERT_EQ(vorn::decrypt_aes_cbc(43, 41, 44), 0);
            EXPECT_EQ(vorn::is_not_equal(44, 40), 0);
            vorn::generate_random(128, 45);
            ASSERT_EQ(vorn::encrypt_aes_1block(45, 41, 46), 0);
            ASSERT_EQ(vorn::decrypt_aes_1block(46, 41, 47), 0);
            EXPECT_EQ(vorn::is_not_equal(47, 45), 0);
        }
    }
}

TEST(Aes, EmptyIvMeansAFreshRandomIv) {
    vorn::putreg(std::string(32, 'k'), 41);
    vorn::putreg("same text", 40);
    vorn::putreg("", 42);
    ASSERT_EQ(encrypt(CBC), 0);
    std::string first = vorn::getreg(43);
    ASSERT_EQ(encrypt(CBC), 0);
    std::string second = vorn::getreg(43);
    EXPECT_NE(first.substr(0, 16), second.substr(0, 16));
    EXPECT_NE(first, second);
}

TEST(Aes, DestinationMayBeAnInput) {
    vorn::putreg(std::string(16, 'k'), 41);
    vorn::putreg("", 42);
    vorn::putreg("in place", 40);
    ASSERT_EQ(vorn::encrypt_aes_cbc(40, 41, 42, 40), 0);
    ASSERT_EQ(vorn::decrypt_aes_cbc(40, 41, 40), 0);
    EXPECT_EQ(vorn::getreg(40), "in place");
    ASSERT_EQ(vorn::encrypt_aes_ecb(40, 41, 41), 0);  // key register overwritten by the output
    EXPECT_EQ(vorn::getreg(41).size(), 16u);
}

// Statuses and global errors; the output register and every other register stay as they were.
TEST(Aes, BadInputsGiveTheirStatusAndTouchNothing) {
    const std::string key16(16, 'k'), plain = "plain";
    struct Case {
        const char *what;
        std::string p, key, iv, c;  // inputs of registers 40, 41, 42 and the old 43/44
        int call;                   // 0 enc CBC, 1 dec CBC, 2 enc ECB, 3 dec ECB, 4 enc 1, 5 dec 1
        int32_t status, error;
        bool clears_output;
    };
    const std::string block(16, 'b');
    // A CBC ciphertext of IV 0 and one block whose plaintext padding is invalid.
    auto bad_padding = [&](const std::string &last_block_plain) {
        vorn::putreg(last_block_plain, 48);
        vorn::putreg(key16, 49);
        vorn::encrypt_aes_1block(48, 49, 48);
        return vorn::getreg(48);
    };
    std::string pad0 = bad_padding(std::string(15, 'x') + '\0');
    std::string pad17 = bad_padding(std::string(15, 'x') + '\x11');
    std::string pad_mixed = bad_padding(std::string(13, 'x') + "\x01\x03\x03");
    std::string zero_iv(16, '\0');
    Case cases[] = {
        {"key 0 bytes", plain, "", "", "old", 0, 1, VN_E_KEYSIZE, false},
        {"key 15 bytes", plain, std::string(15, 'k'), "", "old", 0, 1, VN_E_KEYSIZE, false},
        {"key 17 bytes", plain, std::string(17, 'k'), "", "old", 2, 1, VN_E_KEYSIZE, false},
        {"key 33 bytes", block, std::string(33, 'k'), "", "old", 4, 1, VN_E_KEYSIZE, false},
        {"key 31 bytes dec", block + block, std::string(31, 'k'), "", "old", 1, 1, VN_E_KEYSIZE, false},
        {"key 8 bytes dec ecb", block, std::string(8, 'k'), "", "old", 3, 1, VN_E_KEYSIZE, false},
        {"key 8 bytes dec 1", block, std::string(8, 'k'), "", "old", 5, 1, VN_E_KEYSIZE, false},
        {"iv 1 byte", plain, key16, "i", "old", 0, 2, VN_E_IVSIZE, false},
        {"iv 15 bytes", plain, key16, std::string(15, 'i'), "old", 0, 2, VN_E_IVSIZE, false},
        {"iv 17 bytes", plain, key16, std::string(17, 'i'), "old", 0, 2, VN_E_IVSIZE, false},
        {"cbc 33 bytes", std::string(33, 'c'), key16, "", "old", 1, 2, VN_E_CIPHERTEXT, false},
        {"cbc 15 bytes", std::string(15, 'c'), key16, "", "old", 1, 2, VN_E_CIPHERTEXT, false},
        {"cbc empty", "", key16, "", "old", 1, 3, VN_E_CIPHERTEXT, true},
        {"cbc IV only", block, key16, "", "old", 1, 3, VN_E_CIPHERTEXT, true},
        {"cbc padding 0", zero_iv + pad0, key16, "", "old", 1, 3, VN_E_PADDING, true},
        {"cbc padding 17", zero_iv + pad17, key16, "", "old", 1, 3, VN_E_PADDING, true},
        {"cbc padding mixed", zero_iv + pad_mixed, key16, "", "old", 1, 3, VN_E_PADDING, true},
        {"ecb 17 bytes", std::string(17, 'c'), key16, "", "old", 3, 2, VN_E_CIPHERTEXT, false},
        {"ecb empty", "", key16, "", "old", 3, 3, VN_E_CIPHERTEXT, true},
        {"ecb padding 0", pad0, key16, "", "old", 3, 3, VN_E_PADDING, true},
        {"ecb padding mixed", block + pad_mixed, key16, "", "old", 3, 3, VN_E_PADDING, true},
        {"1 block of 15", std::string(15, 'p'), key16, "", "old", 4, 2, VN_E_CIPHERTEXT, false},
        {"1 block of 17", std::string(17, 'p'), key16, "", "old", 5, 2, VN_E_CIPHERTEXT, false},
        {"1 block of 0", "", key16, "", "old", 4, 2, VN_E_CIPHERTEXT, false},
    };
    for (const auto &c : cases) {
        vorn::putreg(c.p, 40);
        vorn::putreg(c.key, 41);
        vorn::putreg(c.iv, 42);
        vorn::putreg(c.c, 43);
        vorn::putreg(c.c, 44);
        VN_CLEARGLOBALERROR();
        int32_t st;
        switch (c.call) {
            case 0: st = vorn::encrypt_aes_cbc(40, 41, 42, 43); break;
            case 1: st = vorn::decrypt_aes_cbc(40, 41, 43); break;
            case 2: st = vorn::encrypt_aes_ecb(40, 41, 43); break;
            case 3: st = vorn::decrypt_aes_ecb(40, 41, 43); break;
            case 4: st = vorn::encrypt_aes_1block(40, 41, 43); break;
            default: st = vorn::decrypt_aes_1block(40, 41, 43); break;
        }
        EXPECT_EQ(st, c.status) << c.what;
        EXPECT_EQ(vorn::global_error(), c.error) << c.what;
        EXPECT_EQ(vorn::getreg(43), c.clears_output ? "" : c.c) << c.what;
        EXPECT_EQ(vorn::getreg(40), c.p) << c.what;
        EXPECT_EQ(vorn::getreg(41), c.key) << c.what;
        EXPECT_EQ(vorn::getreg(42), c.iv) << c.what;
        EXPECT_EQ(vorn::getreg(44), c.c) << c.what;
    }
}

TEST(Aes, BadRegisterNumbersFail) {
    vorn::putreg(std::string(16, 'k'), 41);
    vorn::putreg("keep", 43);
    for (int32_t bad : {-1, VN_REGISTERS}) {
        VN_CLEARGLOBALERROR();
        EXPECT_EQ(vorn::encrypt_aes_cbc(bad, 41, 42, 43), VN_FAIL);
        EXPECT_EQ(vorn::global_error(), VN_E_REGISTER);
        EXPECT_EQ(vorn::encrypt_aes_cbc(40, 41, bad, 43), VN_FAIL);
        EXPECT_EQ(vorn::decrypt_aes_cbc(43, bad, 44), VN_FAIL);
        EXPECT_EQ(vorn::encrypt_aes_ecb(40, 41, bad), VN_FAIL);
        EXPECT_EQ(vorn::decrypt_aes_ecb(bad, 41, 43), VN_FAIL);
        EXPECT_EQ(vorn::encrypt_aes_1block(40, bad, 43), VN_FAIL);
        EXPECT_EQ(vorn::decrypt_aes_1block(40, 41, bad), VN_FAIL);
    }
    EXPECT_EQ(vorn::getreg(43), "keep");
}

// Runs a shell command with the file `in` as standard input; its standard output, or
// nothing when it failed.
std::string run_with_input(const std::string &command, const std::string &in, bool &ok) {
    std::string in_path = testing::TempDir() + "vorn_aes_in.bin";
    std::string out_path = testing::TempDir() + "vorn_aes_out.bin";
    std::ofstream(in_path, std::ios::binary).write(in.data(), static_cast<std::streamsize>(in.size()));
    ok = std::system((command + " -in '" + in_path + "' -out '" + out_path + "'").c_str()) == 0;
    std::ifstream f(out_path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

TEST(Aes, InteroperatesWithOpensslEnc) {
    std::mt19937_64 rng(test_seed());
    for (size_t key_len : {16, 24, 32}) {
        std::string bits = std::to_string(key_len * 8);
        for (size_t len : {0, 1, 15, 16, 17, 100}) {
            std::string key = random_bytes(rng, key_len), iv = random_bytes(rng, 16);
            std::string plain = random_bytes(rng, len);
            bool ok;
            // Library to openssl: the IV is the first block of the ciphertext.
            vorn::putreg(plain, 40);
            vorn::putreg(key, 41);
            vorn::putreg("", 42);
            ASSERT_EQ(encrypt(CBC), 0);
            std::string c = vorn::getreg(43);
            std::string got = run_with_input("openssl enc -d -aes-" + bits + "-cbc -K " + hex(key) +
                                                 " -iv " + hex(c.substr(0, 16)),
                                             c.substr(16), ok);
            ASSERT_TRUE(ok);
            EXPECT_EQ(got, plain) << bits << " bit key, length " << len;
            // openssl to the library: put the IV in front.
            std::string theirs = run_with_input("openssl enc -aes-" + bits + "-cbc -K " + hex(key) + " -iv " + hex(iv),
                                                plain, ok);
            ASSERT_TRUE(ok);
            vorn::putreg(iv + theirs, 43);
            ASSERT_EQ(decrypt(CBC), 0);
            EXPECT_EQ(vorn::getreg(44), plain) << bits << " bit key, length " << len;
            // ECB both ways.
            ASSERT_EQ(encrypt(ECB), 0);
            got = run_with_input("openssl enc -d -aes-" + bits + "-ecb -K " + hex(key), vorn::getreg(43), ok);
            ASSERT_TRUE(ok);
            EXPECT_EQ(got, plain);
            theirs = run_with_input("openssl enc -aes-" + bits + "-ecb -K " + hex(key), plain, ok);
            ASSERT_TRUE(ok);
            vorn::putreg(theirs, 43);
            ASSERT_EQ(decrypt(ECB), 0);
            EXPECT_EQ(vorn::getreg(44), plain);
        }
    }
}

}  // namespace
