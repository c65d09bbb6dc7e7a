// SHA-256: the built-in known answers, agreement with sha256sum, byte handling and failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include <vorn.hpp>

#include "test_crypto_mpz.h"

namespace {

using crypto_test::hex;

std::string sha256_of(const std::string &message) {
    vorn::putreg(message, 20);
    EXPECT_EQ(vorn::hash_sha256(20, 21), VN_OK);
    return vorn::getreg(21);
}

// The first word sha256sum prints for the file holding bytes.
std::string sha256sum(const std::string &bytes) {
    std::string path = testing::TempDir() + "vorn_sha_input.bin";
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    FILE *p = popen(("sha256sum '" + path + "'").c_str(), "r");
    char line[128] = {};
    if (p == nullptr || std::fgets(line, sizeof line, p) == nullptr) line[0] = 0;
    if (p != nullptr) pclose(p);
    return std::string(line).substr(0, 64);
}

TEST(Sha256, BuiltInKnownAnswersPass) { EXPECT_EQ(vorn::check_sha256_vectors(), 0); }

// Every vector of libvorn/vectors/sha256.txt through VN_HASH_SHA_256.
TEST(Sha256, KnownAnswerVectors) {
    int vectors = 0;
    for (const auto &w : crypto_test::vector_lines("sha256.txt")) {
        std::string message;
        if (w[0] == "repeat") {
            ASSERT_EQ(w.size(), 4u);
            for (long i = 0, count = std::stol(w[1]); i < count; ++i) message += crypto_test::unhex(w[2]);
        } else {
            ASSERT_EQ(w.size(), 2u);
            if (w[0] != "-") message = crypto_test::unhex(w[0]);
        }
        EXPECT_EQ(hex(sha256_of(message)), w.back()) << "message of " << message.size() << " bytes";
        ++vectors;
    }
    EXPECT_GE(vectors, 5);
}

TEST(Sha256, AgreesWithSha256sumOnRandomInputs) {
    std::mt19937_64 rng(test_seed());
    // Every length around the 64-byte block and the 55/56-byte padding edge, then larger ones.
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 130; ++n) lengths.push_back(n);
    for (size_t n : {255, 256, 1000, 4095, 4096, 65537, 1000003}) lengths.push_back(n);
    for (size_t n : lengths) {
        std::string message(n, '\0');
        for (auto &c : message) c = static_cast<char>(rng());
        if (n > 0 && n % 3 == 0) message.back() = '\0';  // trailing zero bytes count
        ASSERT_EQ(hex(sha256_of(message)), sha256sum(message)) << "length " << n;
    }
}

TEST(Sha256, DigestIsExactly32BytesInByteForm) {
    // Digests with a zero first or last byte must keep it.
    for (int i = 0; i < 2000; ++i) {
        std::string d = sha256_of(std::to_string(i));
        ASSERT_EQ(d.size(), 32u);
    }
    vorn::putreg("x", 22);
    vorn::hash_sha256(22, 23);
    vorn::putreg(vorn::getreg(23), 24);
    EXPECT_EQ(vorn::is_equal(23, 24), 1);  // both byte form: compared byte for byte
}

TEST(Sha256, HashesTheRegisterBytesOfEitherForm) {
    // A number register is hashed as its minimal bytes, least significant first.
    vorn::putreg(vorn::le32(0x030201), 25);  // byte form "\1\2\3\0"
    vorn::putreg("", 27);  // the number 0
    vorn::add(25, 27, 28);  // number form: bytes "\1\2\3"
    EXPECT_EQ(vorn::hash_sha256(28, 29), VN_OK);
    EXPECT_EQ(vorn::getreg(29), sha256_of(std::string("\1\2\3", 3)));
    EXPECT_EQ(vorn::hash_sha256(25, 29), VN_OK);
    EXPECT_EQ(vorn::getreg(29), sha256_of(std::string("\1\2\3\0", 4)));
}

TEST(Sha256, SourceMayBeTheDestination) {
    std::string digest = sha256_of("abc");
    vorn::putreg("abc", 30);
    ASSERT_EQ(vorn::hash_sha256(30, 30), VN_OK);
    EXPECT_EQ(vorn::getreg(30), digest);
}

TEST(Sha256, BadRegistersFailAndTouchNothing) {
    vorn::putreg("keep", 31);
    VN_CLEARGLOBALERROR();
    EXPECT_EQ(vorn::hash_sha256(-1, 31), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_REGISTER);
    VN_CLEARGLOBALERROR();
    EXPECT_EQ(vorn::hash_sha256(31, VN_REGISTERS), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_REGISTER);
    EXPECT_EQ(vorn::getreg(31), "keep");
    int32_t r = 31;
    EXPECT_EQ(VN_HASH_SHA_256(&r, nullptr), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_ARGUMENT);
}

}  // namespace
