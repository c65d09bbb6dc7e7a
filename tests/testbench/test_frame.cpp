// The test bench's frame: the dialog as described, the banner and the version format.
#include "testbench.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

TEST(Version, FormatsHundredthsWithoutLeadingZero) {
    struct Case {
        int32_t value;
        const char *text;
    };
    const Case cases[] = {
        {101, "1.01"}, {250, "2.50"}, {5, ".05"},   {100, "1.00"}, {1234, "12.34"},
        {99, ".99"},   {0, ".00"},    {10, ".10"},  {-5, "-.05"},  {-250, "-2.50"},
        {2147483647, "21474836.47"},  {-2147483647 - 1, "-21474836.48"},
    };
    for (const Case &c : cases) EXPECT_EQ(testbench::version_text(c.value), c.text) << c.value;
}

TEST(Log, LineBreakComesBeforeEveryLine) {
    EXPECT_EQ(testbench::with_line("", "a"), "\r\na");
    EXPECT_EQ(testbench::with_line("\r\na", "b"), "\r\na\r\nb");
    EXPECT_EQ(testbench::with_line("typed", ""), "typed\r\n");
    std::string zero_byte("x\0y", 3);
    EXPECT_EQ(testbench::with_line(zero_byte, "z"), std::string("x\0y\r\nz", 6));
}

TEST(Banner, FourLinesWithTheVersion) {
    auto lines = testbench::banner(101);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Testprogram for VORN.dll");
    EXPECT_EQ(lines[1], "Quendel library");
    EXPECT_EQ(lines[2], std::string(40, '-'));
    EXPECT_EQ(lines[3], "Current version of VORN.dll: 1.01");
}

TEST(MainDialog, ControlsInCreationOrder) {
    dlg::Dialog d = testbench::main_dialog();
    EXPECT_EQ(d.caption, "VORN - Testbench V1.01");
    EXPECT_EQ((std::array{d.x, d.y, d.w, d.h}), (std::array{151, 114, 282, 189}));
    struct Expected {
        int id;
        dlg::Kind kind;
        const char *text;
        int x, y, w, h;
    };
    const Expected expected[] = {
        {1001, dlg::Kind::Label, "Run battery of tests to check proper functioning of VORN.dll", 6, 4, 270, 16},
        {1002, dlg::Kind::Button, "Run battery of tests", 76, 22, 132, 16},
        {1003, dlg::Kind::Label, "Create file with random data", 6, 42, 270, 16},
        {1004, dlg::Kind::Button, "Blum-Blum-Shub algorithm", 6, 60, 134, 16},
        {1005, dlg::Kind::Button, "RSA algorithm", 142, 60, 134, 16},
        {1007, dlg::Kind::MultiEdit, "", 6, 80, 270, 102},
    };
    ASSERT_EQ(d.controls.size(), std::size(expected));
    for (size_t i = 0; i < d.controls.size(); ++i) {
        const dlg::Control &c = d.controls[i];
        const Expected &e = expected[i];
        EXPECT_EQ(c.id, e.id);
        EXPECT_EQ(c.kind, e.kind) << c.id;
        EXPECT_EQ(c.text, e.text) << c.id;
        EXPECT_EQ((std::array{c.x, c.y, c.w, c.h}), (std::array{e.x, e.y, e.w, e.h})) << c.id;
    }
}

TEST(MainDialog, StylesOfLabelsAndLog) {
    for (const dlg::Control &c : testbench::main_dialog().controls) {
        if (c.kind == dlg::Kind::Label) {
            // Centred both ways in a sunken client edge.
            EXPECT_EQ(c.style, dlg::kCenter | dlg::kCenterV | dlg::kClientEdge) << c.id;
        } else if (c.id == testbench::kLog) {
            // Log lines never wrap: the log scrolls both ways.
            EXPECT_EQ(c.style & dlg::kWrap, 0u);
            EXPECT_NE(c.style & dlg::kVScroll, 0u);
            EXPECT_NE(c.style & dlg::kHScroll, 0u);
        } else {
            EXPECT_EQ(c.style, 0u) << c.id;  // plain push buttons, none the default
        }
    }
}

}  // namespace
