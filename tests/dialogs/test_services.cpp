// The pseudo-random generator against values worked out from its definition, the clocks
// and the pause, and the control calls when no dialog is shown.
#include "dialogs.h"

#include <gtest/gtest.h>

#include "seed.h"

#include <cstdlib>
#include <iostream>
#include <random>
#include <sstream>
#include <vector>

namespace {

struct Draws {
    float seed;
    int32_t a, b;
    std::vector<int32_t> values;
};

// Worked out from x <- x * 134775813 + 1 (mod 2^32), u = (x div 2) / 2^31,
// U = round(u * (b - a + 1) + a - 0.5) with ties to even; e.g. for seed 1.0 (bits
// 0x3F800000) the first x is 1031798785, u = 0.240234375 and U(1..6) = round(1.94...) = 2.
const Draws kDraws[] = {
    {1.0f, 1, 6, {2, 2, 6, 2, 3, 3, 6, 3}},
    {45296.123f, 0, 255, {24, 9, 54, 227, 137, 29}},
    {45296.123f, -1000, 1000, {-807, -926, -571, 778, 73, -772}},
    {-2.5f, INT32_MIN, INT32_MAX, {-1063256064, 1260946438, -1408390114, -1040426852}},
    // Seed 0 draws u = 0 first: by the formula U(1..6) would be round(0.5) = 0, outside
    // the range; it is kept at 1.
    {0.0f, 1, 6, {1, 1, 6}},
};

TEST(RandomBetween, MatchesTheGeneratorDefinition) {
    for (const auto &row : kDraws) {
        dlg::seed(row.seed);
        for (size_t i = 0; i < row.values.size(); ++i)
            EXPECT_EQ(dlg::random_between(row.a, row.b), row.values[i]) << "seed " << row.seed << " draw " << i;
    }
}

TEST(RandomBetween, StaysInRange) {
    const unsigned run_seed = static_cast<unsigned>(test_seed());
    std::mt19937 bounds(run_seed);
    dlg::seed(static_cast<float>(run_seed % 86400));
    for (int i = 0; i < 20000; ++i) {
        int32_t a = static_cast<int32_t>(bounds() % 2001) - 1000;
        int32_t b = a + static_cast<int32_t>(bounds() % 50);
        int32_t value = dlg::random_between(a, b);
        ASSERT_GE(value, a) << "VORN_SEED=" << run_seed;
        ASSERT_LE(value, b) << "VORN_SEED=" << run_seed;
    }
}

TEST(Clock, NowIsTimeOfDayInMilliseconds) {
    double t = dlg::now();
    EXPECT_GE(t, 0);
    EXPECT_LT(t, 86400);
    EXPECT_DOUBLE_EQ(t * 1000, std::round(t * 1000));
}

TEST(Clock, PauseSleepsScaledTime) {
    setenv("VORN_PAUSE_SCALE", "1", 1);
    double start = dlg::monotonic_seconds();
    dlg::pause_ms(30);
    double slept = dlg::monotonic_seconds() - start;
    EXPECT_GE(slept, 0.029);
    setenv("VORN_PAUSE_SCALE", "0", 1);
    start = dlg::monotonic_seconds();
    dlg::pause_ms(5000);
    EXPECT_LT(dlg::monotonic_seconds() - start, 0.5);
    unsetenv("VORN_PAUSE_SCALE");
}

TEST(Clock, ConsolePumpStepTakesAboutAMillisecond) {
    double start = dlg::monotonic_seconds();
    for (int i = 0; i < 20; ++i) dlg::pump_step();
    double elapsed = dlg::monotonic_seconds() - start;
    EXPECT_GE(elapsed, 0.020);
    EXPECT_LT(elapsed, 1.0);
}

TEST(Controls, WithoutADialogReadEmptyAndIgnoreWrites) {
    dlg::set_text(1001, "x");
    dlg::add_list_entry(1001, "y");
    EXPECT_EQ(dlg::get_text(1001), "");
    EXPECT_EQ(dlg::selected_entry(1001), "");
}

// The console backend fed from a script: tabs count as blanks between a command and its id,
// and the input box's limit of 255 counts characters (here two-byte ones), never splitting
// one.
TEST(Console, TabsBeforeTheIdAndTheInputLimitInCharacters) {
    std::string e300;
    for (int i = 0; i < 300; ++i) e300 += "\u00e9";
    std::istringstream script("press\t1002\n \tset\t1003\tx y\npress \t 1002\n" + e300 + "\n" +
                              e300.substr(0, 400) + "\nclose\n");
    std::streambuf *old = std::cin.rdbuf(script.rdbuf());
    std::vector<std::string> seen;
    dlg::Dialog dialog{"console", 0, 0, 100, 100, {
        {1002, dlg::Kind::Button, "Go", 0, 0, 10, 10},
        {1003, dlg::Kind::Edit, "", 0, 20, 10, 10},
    }};
    testing::internal::CaptureStdout();
    dlg::show_modal(dialog, [&](int id, int) {
        seen.push_back(std::to_string(id) + ":" + dlg::get_text(1003));
        if (seen.size() == 2) {
            seen.push_back(dlg::input_box("Text?", "", ""));
            seen.push_back(dlg::input_box("Text?", "", ""));
        }
    });
    testing::internal::GetCapturedStdout();
    std::cin.rdbuf(old);
    EXPECT_EQ(seen, (std::vector<std::string>{"1002:", "1002:x y", e300.substr(0, 510), e300.substr(0, 400)}));
}

}  // namespace
