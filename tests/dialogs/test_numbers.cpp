// Number from text, rounding and number to text: the rules the programs rely on, including
// where they differ from what C's strtod and printf would give.
#include "dialogs.h"

#include <gtest/gtest.h>

#include "seed.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace {

struct FromText {
    const char *text;
    double value;
};


TEST(NumberFromText, DecimalForms) {
    const FromText table[] = {
        {" 12", 12}, {"12abc", 12}, {"abc", 0}, {"", 0}, {"1E3", 1000}, {"0.5", 0.5},
        {"\t\n 7", 7}, {"-3.5", -3.5}, {"+.5", 0.5}, {"5.", 5}, {".25x", 0.25},
        {"1D2", 100}, {"1d-2", 0.01}, {"2.5e+1", 25}, {"7e", 7}, {"7E+", 7}, {"7E-x", 7},
        {"000123", 123}, {"1.5.5", 1.5}, {"12 34", 12}, {"1,5", 1},
    };
    for (const auto &row : table) EXPECT_DOUBLE_EQ(dlg::number_from_text(row.text), row.value) << '"' << row.text << '"';
}

TEST(NumberFromText, NoLeadingNumber) {
    // A carriage return is not skipped; lone signs and points are no number.
    for (const char *text : {"\r12", ".", "-", "+", "-.", "E5", "x1", "\v1", "\f1"})
        EXPECT_EQ(dlg::number_from_text(text), 0) << '"' << text << '"';
}

TEST(NumberFromText, OtherBases) {
    const FromText table[] = {
        {"&H1F", 31}, {"&h1f", 31}, {"&H1Fz", 31}, {"&17", 15}, {"&B101", 5}, {"&b2", 0},
        {"&O17", 15}, {"&o7", 7}, {"&Q17", 15}, {"&q10", 8}, {"&8", 0}, {"&", 0}, {"&H", 0},
        {"&Z1", 0}, {" &H10", 16},
        // A 32-bit pattern is read as a signed 32-bit number ...
        {"&HFFFFFFFF", -1}, {"&H80000000", -2147483648.0}, {"&H7FFFFFFF", 2147483647},
        {"&B11111111111111111111111111111110", -2}, {"&37777777777", -1},
        // ... and a longer one keeps its full value instead of wrapping.
        {"&H100000000", 4294967296.0}, {"&H0000000FFFFFFFF", -1},
    };
    for (const auto &row : table) EXPECT_DOUBLE_EQ(dlg::number_from_text(row.text), row.value) << '"' << row.text << '"';
}

TEST(NumberFromText, DiffersFromStrtod) {
    // strtod would read hexadecimal floats, infinities and NaNs, and skip \r \v \f.
    for (const char *text : {"0x10", "inf", "nan", "INFINITY", "\r5"})
        EXPECT_EQ(dlg::number_from_text(text), std::strtod("0", nullptr)) << '"' << text << '"';
    EXPECT_EQ(dlg::number_from_text("0x10"), 0);
    EXPECT_EQ(dlg::number_from_text("1D3"), 1000);  // strtod stops at the D
}

TEST(NumberFromText, OutOfRange) {
    EXPECT_EQ(dlg::number_from_text("1e999"), DBL_MAX);
    EXPECT_EQ(dlg::number_from_text("-1D400"), -DBL_MAX);
    EXPECT_EQ(dlg::number_from_text("1e-999"), 0);
    EXPECT_TRUE(std::signbit(dlg::number_from_text("-0")));
}

TEST(RoundToInt32, TiesToEvenAndSaturation) {
    const struct { double value; int32_t rounded; } table[] = {
        {2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {0.5, 0}, {1.5, 2}, {-0.5, 0},
        {2.4999999, 2}, {2.5000001, 3}, {-7.6, -8}, {12.5 * 8, 100},
        {2147483646.5, 2147483646}, {2147483647.4, INT32_MAX}, {2147483647.5, INT32_MAX},
        {3e9, INT32_MAX}, {DBL_MAX, INT32_MAX}, {-2147483648.5, INT32_MIN}, {-3e9, INT32_MIN},
        {std::numeric_limits<double>::infinity(), INT32_MAX},
        {-std::numeric_limits<double>::infinity(), INT32_MIN},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const auto &row : table) EXPECT_EQ(dlg::round_to_int32(row.value), row.rounded) << row.value;
}

TEST(NumberToText, Forms) {
    const struct { double value; const char *text; } table[] = {
        {0, " 0"}, {-0.0, " 0"}, {-5, "-5"}, {0.25, " .25"}, {37.0, " 37"}, {7, " 7"},
        {-0.5, "-.5"}, {100, " 100"}, {123.456, " 123.456"}, {0.125, " .125"},
        {1.0 / 3, " .333333333333333"}, {2.0 / 3, " .666666666666667"},
        {0.1 + 0.2, " .3"},  // printf("%.17g") would show .30000000000000004
        {0.0001, " .0001"}, {-0.00012, "-.00012"}, {1.5e-5, " .000015"}, {-1.25e-7, "-.000000125"},
        {6.26899998223962e-06, " .00000626899998223962"},
        {123456789012345.0, " 123456789012345"}, {-999999999999999.0, "-999999999999999"},
        {1e15, " 1000000000000000"}, {1e20, " 100000000000000000000"},
        {12345678901234567.0, " 12345678901234600"}, {-2.5e17, "-250000000000000000"},
        // The rounding to 15 digits carries into a new leading digit.
        {9.999999999999999, " 10"}, {-0.09999999999999999, "-.1"},
        {999999999999999.9, " 1000000000000000"},
        // 16 digits that are exact in binary: the 15th digit is rounded to even.
        {1000000000000005.0, " 1000000000000000"}, {1000000000000015.0, " 1000000000000020"},
        {1000000000000025.0, " 1000000000000020"},
        {2147483647.0, " 2147483647"}, {-2147483648.0, "-2147483648"},
    };
    for (const auto &row : table) EXPECT_EQ(dlg::number_to_text(row.value), row.text) << row.value;
}

TEST(NumberToText, ExtremeMagnitudesArePlainDecimals) {
    // The whole range of doubles: a sign, digits, at most one point, nothing else, and the
    // text reads back to the value's 15-digit rounding.
    for (double value : {DBL_MAX, -DBL_MAX, DBL_MIN, -4.9406564584124654e-324, 1e-300, 3.0e200,
                         0.25, -17.5, 1e15, 1.5e-5, 123456.789, -2147483648.0}) {
        std::string text = dlg::number_to_text(value);
        EXPECT_EQ(text.find_first_not_of("0123456789.", 1), std::string::npos) << text;
        char rounded[40];
        std::snprintf(rounded, sizeof rounded, "%.14e", value);
        double expected = std::strtod(rounded, nullptr);  // DBL_MAX rounds up beyond itself
        if (std::isinf(expected)) expected = std::copysign(DBL_MAX, expected);
        EXPECT_EQ(dlg::number_from_text(text), expected) << text;
    }
    EXPECT_EQ(dlg::number_to_text(DBL_MAX).size(), 1u + 309u);
    EXPECT_EQ(dlg::number_to_text(1e-300), " ." + std::string(299, '0') + "1");
}

TEST(NumberToText, RandomValuesReadBackAsTheir15DigitRounding) {
    const unsigned run_seed = static_cast<unsigned>(test_seed());
    std::mt19937_64 source(run_seed);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    std::uniform_int_distribution<int> exponent(-40, 40);
    for (int i = 0; i < 20000; ++i) {
        double value = mantissa(source) * std::pow(10.0, exponent(source)) * (source() % 2 ? -1 : 1);
        std::string text = dlg::number_to_text(value);
        char rounded[40];
        std::snprintf(rounded, sizeof rounded, "%.14e", value);
        ASSERT_EQ(dlg::number_from_text(text), std::strtod(rounded, nullptr))
            << text << " from " << rounded << ", VORN_SEED=" << run_seed;
        ASSERT_TRUE(text[0] == ' ' || text[0] == '-') << text;
        ASSERT_NE(text.substr(1, 2), "0.") << text;   // no "0" before the point
        ASSERT_EQ(text.find_first_not_of("0123456789.", 1), std::string::npos) << text;
    }
}

}  // namespace
