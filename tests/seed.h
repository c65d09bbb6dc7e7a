// The seed of every randomized test, in one format: VORN_SEED=<decimal>. Set in the
// environment it replays a run; without it one seed is drawn per process. Every test that
// takes it prints "VORN_SEED=<n>" beside its name, so a failure shows what to set.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

inline uint64_t test_seed() {
    static const uint64_t seed = [] {
        if (const char *env = std::getenv("VORN_SEED")) {
            char *end = nullptr;
            unsigned long long v = std::strtoull(env, &end, 10);
            if (*env < '0' || *env > '9' || *end != '\0') {
                std::fprintf(stderr, "VORN_SEED=%s: expected a decimal number\n", env);
                std::exit(2);
            }
            return static_cast<uint64_t>(v);
        }
        std::random_device rd;
        return uint64_t{rd()} << 32 ^ rd();
    }();
    const ::testing::TestInfo *t = ::testing::UnitTest::GetInstance()->current_test_info();
    std::printf("[ seed     ] %s.%s: VORN_SEED=%llu\n", t ? t->test_suite_name() : "-", t ? t->name() : "-",
                static_cast<unsigned long long>(seed));
    return seed;
}
