#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "config/ConfigValue.h"

namespace {

using ConfigValue::ToFloat;
using ConfigValue::ToInt;

TEST(ConfigValueTest, IntegersReadAsWcstolInBase10) {
    EXPECT_EQ(42, ToInt(L"  42abc"));
    EXPECT_EQ(7, ToInt(L"\t\v\f\r\n 7"));
    EXPECT_EQ(-17, ToInt(L"-17"));
    EXPECT_EQ(5, ToInt(L"+5"));
    EXPECT_EQ(1, ToInt(L"1.9"));
    EXPECT_EQ(0, ToInt(L"0x10"));
    EXPECT_EQ(0, ToInt(L"abc"));
    EXPECT_EQ(0, ToInt(L""));
    EXPECT_EQ(0, ToInt(L"- 5"));
    EXPECT_EQ(0, ToInt(L"\x00A0"
                       L"5"));
}

TEST(ConfigValueTest, IntegersBeyond32BitsBecomeTheNearestLimit) {
    EXPECT_EQ(INT32_MAX, ToInt(L"2147483647"));
    EXPECT_EQ(INT32_MAX, ToInt(L"2147483648"));
    EXPECT_EQ(INT32_MIN, ToInt(L"-2147483648"));
    EXPECT_EQ(INT32_MIN, ToInt(L"-2147483649"));
    EXPECT_EQ(INT32_MAX, ToInt(L"99999999999999999999999999999"));
}

TEST(ConfigValueTest, FloatsReadAsDecimalWcstod) {
    EXPECT_EQ(3.5f, ToFloat(L"3.5"));
    EXPECT_EQ(-25.0f, ToFloat(L" -0.25e2x"));
    EXPECT_EQ(0.5f, ToFloat(L".5"));
    EXPECT_EQ(5.0f, ToFloat(L"5."));
    EXPECT_EQ(0.01f, ToFloat(L"1e-2"));
    EXPECT_EQ(1.0f, ToFloat(L"1e"));
    EXPECT_EQ(1.0f, ToFloat(L"1e+"));
    EXPECT_EQ(2.0f, ToFloat(L"2,5"));
    EXPECT_EQ(0.0f, ToFloat(L"."));
    EXPECT_EQ(0.0f, ToFloat(L"-"));
    EXPECT_EQ(0.0f, ToFloat(L"e5"));
}

TEST(ConfigValueTest, HexadecimalInfinityAndNanAreNotNumbers) {
    EXPECT_EQ(0.0f, ToFloat(L"0x10"));
    EXPECT_EQ(0.0f, ToFloat(L"inf"));
    EXPECT_EQ(0.0f, ToFloat(L"INFINITY"));
    EXPECT_EQ(0.0f, ToFloat(L"nan"));
}

TEST(ConfigValueTest, FloatsAreReadInDoubleThenNarrowed) {
    EXPECT_EQ(static_cast<float>(0.1), ToFloat(L"0.1"));
    // Just above the midpoint of 1 and the next float: the double is the
    // midpoint itself, which narrows to 1 (a direct float reading gives more).
    EXPECT_EQ(1.0f, ToFloat(L"1.000000059604644775390625000000000001"));
    EXPECT_TRUE(std::isinf(ToFloat(L"1e39")));
    EXPECT_EQ(0.0f, ToFloat(L"1e-50"));
}

TEST(ConfigValueTest, CopyTextCutsToTheLimitAndTheRoom) {
    wchar_t text[6];
    ConfigValue::CopyText(text, L"abcdefgh", 3);
    EXPECT_STREQ(L"abc", text);
    ConfigValue::CopyText(text, L"abcdefgh", 100);
    EXPECT_STREQ(L"abcde", text);
    ConfigValue::CopyText(text, L"", 3);
    EXPECT_STREQ(L"", text);
}

}  // namespace
