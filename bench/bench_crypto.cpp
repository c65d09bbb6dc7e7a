// RSA key generation, AES-CBC and SHA-256: the library beside raw OpenSSL in the same process
// on the same data. After the runs a table gives each pair's median CPU time per call and
// the ratio library / peer, with the target it is held to.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>
#include <vorn.hpp>

#include "bench_pairs.h"

namespace {


// ---- RSA keys ------------------------------------------------------------------------

void VornRsaKeys2048(benchmark::State &state) {
    bench::timed(state, bench::Clock::ThreadCpu, "rsa_keys_2048/vorn", [] {
        if (vorn::generate_rsa_keys(2048, 5, 1, 2, 3) != VN_OK) std::abort();
    });
}

void OpensslRsaKeys2048(benchmark::State &state) {
    bench::timed(state, bench::Clock::ThreadCpu, "rsa_keys_2048/openssl", [] {
        EVP_PKEY *key = EVP_RSA_gen(2048);
        if (key == nullptr) std::abort();
        EVP_PKEY_free(key);
    });
}

BENCHMARK(VornRsaKeys2048)->Iterations(20)->Repetitions(3)->Unit(benchmark::kMillisecond);
BENCHMARK(OpensslRsaKeys2048)->Iterations(20)->Repetitions(3)->Unit(benchmark::kMillisecond);

// ---- AES-CBC and SHA-256 on 16 KB ------------------------------------------------------

const std::string &message_16k() {
    static std::string m = [] {
        std::string s(16384, '\0');
        for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(i * 2654435761u >> 13);
        return s;
    }();
    return m;
}

const std::string key_bytes(32, '\x5a'), iv_bytes(16, '\x33');

void vorn_aes_cbc(benchmark::State &state, int key_len, const char *name) {
    vorn::putreg(message_16k(), 1);
    vorn::putreg(key_bytes.substr(0, static_cast<size_t>(key_len)), 2);
    vorn::putreg(iv_bytes, 3);
    bench::timed(state, bench::Clock::ThreadCpu, name, [] {
        if (vorn::encrypt_aes_cbc(1, 2, 3, 4) != 0) std::abort();
    });
    state.SetBytesProcessed(state.iterations() * 16384);
}

void openssl_aes_cbc(benchmark::State &state, int key_len, const char *name) {
    EVP_CIPHER *cipher = EVP_CIPHER_fetch(nullptr, key_len == 16 ? "AES-128-CBC" : "AES-256-CBC", nullptr);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    const std::string &m = message_16k();
    std::vector<unsigned char> out(m.size() + 16);
    auto *key = reinterpret_cast<const unsigned char *>(key_bytes.data());
    auto *iv = reinterpret_cast<const unsigned char *>(iv_bytes.data());
    bench::timed(state, bench::Clock::ThreadCpu, name, [&] {
        int n1 = 0, n2 = 0;
        if (EVP_EncryptInit_ex2(ctx, cipher, key, iv, nullptr) != 1 ||
            EVP_EncryptUpdate(ctx, out.data(), &n1, reinterpret_cast<const unsigned char *>(m.data()),
                              static_cast<int>(m.size())) != 1 ||
            EVP_EncryptFinal_ex(ctx, out.data() + n1, &n2) != 1)
            std::abort();
        benchmark::DoNotOptimize(out.data());
    });
    state.SetBytesProcessed(state.iterations() * 16384);
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
}

void VornAes128Cbc16k(benchmark::State &state) { vorn_aes_cbc(state, 16, "aes_128_cbc_16k/vorn"); }
void OpensslAes128Cbc16k(benchmark::State &state) { openssl_aes_cbc(state, 16, "aes_128_cbc_16k/openssl"); }
void VornAes256Cbc16k(benchmark::State &state) { vorn_aes_cbc(state, 32, "aes_256_cbc_16k/vorn"); }
void OpensslAes256Cbc16k(benchmark::State &state) { openssl_aes_cbc(state, 32, "aes_256_cbc_16k/openssl"); }

void VornSha256_16k(benchmark::State &state) {
    vorn::putreg(message_16k(), 1);
    bench::timed(state, bench::Clock::ThreadCpu, "sha256_16k/vorn", [] {
        if (vorn::hash_sha256(1, 5) != VN_OK) std::abort();
    });
    state.SetBytesProcessed(state.iterations() * 16384);
}

void OpensslSha256_16k(benchmark::State &state) {
    EVP_MD *md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    const std::string &m = message_16k();
    unsigned char digest[32];
    bench::timed(state, bench::Clock::ThreadCpu, "sha256_16k/openssl", [&] {
        unsigned len = 0;
        if (EVP_DigestInit_ex2(ctx, md, nullptr) != 1 || EVP_DigestUpdate(ctx, m.data(), m.size()) != 1 ||
            EVP_DigestFinal_ex(ctx, digest, &len) != 1)
            std::abort();
        benchmark::DoNotOptimize(digest);
    });
    state.SetBytesProcessed(state.iterations() * 16384);
    EVP_MD_CTX_free(ctx);
    EVP_MD_free(md);
}

// Pairs alternate so that a change of machine load hits both sides alike.
BENCHMARK(VornAes128Cbc16k)->Iterations(20000)->Repetitions(5);
BENCHMARK(OpensslAes128Cbc16k)->Iterations(20000)->Repetitions(5);
BENCHMARK(VornAes256Cbc16k)->Iterations(20000)->Repetitions(5);
BENCHMARK(OpensslAes256Cbc16k)->Iterations(20000)->Repetitions(5);
BENCHMARK(VornSha256_16k)->Iterations(10000)->Repetitions(5);
BENCHMARK(OpensslSha256_16k)->Iterations(10000)->Repetitions(5);

const bench::Pair kPairs[] = {
    {"rsa_keys_2048/vorn", "rsa_keys_2048/openssl", 1.0},
    {"aes_128_cbc_16k/vorn", "aes_128_cbc_16k/openssl", 1.25},  // at least 0.8 x the speed
    {"aes_256_cbc_16k/vorn", "aes_256_cbc_16k/openssl", 1.25},
    {"sha256_16k/vorn", "sha256_16k/openssl", 1.25},
};

void report() {
    bench::print_pairs(kPairs);
    std::printf("(ratio = library time / peer time; a speed of at least 0.8 x the peer is a time ratio of at most 1.25)\n");
}

}  // namespace

int main(int argc, char **argv) { return bench::run(argc, argv, report); }
