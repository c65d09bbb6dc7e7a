// Register model: forms, byte order, aliasing of copy and swap, error paths.
#include <gtest/gtest.h>

#include <vorn.hpp>

namespace {

TEST(Registers, BytesComeBackExactly) {
    const std::string with_zeros("\x00\x01\x00\x00", 4);
    ASSERT_EQ(vorn::putreg(with_zeros, 1), VN_OK);
    EXPECT_EQ(vorn::getreg(1), with_zeros);
    ASSERT_EQ(vorn::putreg("", 1), VN_OK);
    EXPECT_EQ(vorn::getreg(1), "");
}

TEST(Registers, ByteFormComparesBytesNumbersCompareValues) {
    vorn::putreg(std::string("\x01\x00\x00\x00", 4), 1);
    vorn::putreg(std::string("\x01", 1), 2);
    EXPECT_EQ(vorn::is_equal(1, 2), 0);      // two byte strings: bytes differ
    EXPECT_EQ(vorn::is_not_equal(1, 2), 1);
    EXPECT_EQ(vorn::is_less(2, 1), 0);       // equal values are not less
    EXPECT_EQ(vorn::is_less(1, 2), 0);
}

TEST(Registers, SwapAndCopyKeepForms) {
    vorn::putreg(std::string("ab\0", 3), 10);
    vorn::putreg("xyz", 11);
    ASSERT_EQ(vorn::swapreg(10, 11), VN_OK);
    EXPECT_EQ(vorn::getreg(10), "xyz");
    EXPECT_EQ(vorn::getreg(11), std::string("ab\0", 3));
    ASSERT_EQ(vorn::copyreg(11, 12), VN_OK);
    EXPECT_EQ(vorn::getreg(12), std::string("ab\0", 3));
    EXPECT_EQ(vorn::swapreg(12, 12), VN_OK);
    EXPECT_EQ(vorn::getreg(12), std::string("ab\0", 3));
}

TEST(Registers, OutOfRangeNumbersFailAndTouchNothing) {
    vorn::putreg("keep", 0);
    vorn::putreg("keep255", 255);
    VN_CLEARGLOBALERROR();
    for (int32_t bad : {-1, VN_REGISTERS, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(vorn::putreg("x", bad), VN_FAIL);
        EXPECT_EQ(vorn::global_error(), VN_E_REGISTER);
        VN_CLEARGLOBALERROR();
        EXPECT_EQ(vorn::getreg(bad), "");
        EXPECT_EQ(vorn::copyreg(bad, 0), VN_FAIL);
        EXPECT_EQ(vorn::copyreg(0, bad), VN_FAIL);
        EXPECT_EQ(vorn::swapreg(255, bad), VN_FAIL);
    }
    EXPECT_EQ(vorn::getreg(0), "keep");
    EXPECT_EQ(vorn::getreg(255), "keep255");
    EXPECT_EQ(VN_PUTREG(nullptr, nullptr), VN_FAIL);
    EXPECT_EQ(vorn::global_error(), VN_E_ARGUMENT);
    VN_STRING negative{nullptr, -3};
    int32_t r = 1;
    EXPECT_EQ(VN_PUTREG(&negative, &r), VN_FAIL);
}

TEST(Registers, GlobalErrorIsStickyUntilCleared) {
    VN_CLEARGLOBALERROR();
    EXPECT_EQ(vorn::global_error(), VN_E_NONE);
    vorn::copyreg(-5, 1);
    EXPECT_EQ(vorn::global_error(), VN_E_REGISTER);
    vorn::putreg("fine", 1);  // a success does not clear it
    EXPECT_EQ(vorn::global_error(), VN_E_REGISTER);
    VN_CLEARGLOBALERROR();
    EXPECT_EQ(vorn::global_error(), VN_E_NONE);
}

TEST(Registers, ReturnedStringsAreTerminatedAndFreed) {
    vorn::putreg("abc", 7);
    int32_t r = 7;
    VN_STRING s = VN_GETREG(&r);
    ASSERT_NE(s.data, nullptr);
    EXPECT_EQ(s.len, 3);
    EXPECT_EQ(s.data[3], '\0');
    VN_FREESTRING(&s);
    EXPECT_EQ(s.data, nullptr);
    VN_FREESTRING(&s);  // twice is harmless
    VN_FREESTRING(nullptr);
}

}  // namespace
