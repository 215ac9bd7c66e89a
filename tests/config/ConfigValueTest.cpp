#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <random>
#include <string>

#include "config/ConfigValue.h"
#include "config/DecimalNumber.h"
#include "tests/support/CommaLocale.h"

namespace {

using ConfigValue::ToFloat;
using ConfigValue::ToInt;

TEST(ConfigValueTest, DigitsAreTheTenOfAscii) {
    for (wchar_t ch = L'0'; ch <= L'9'; ++ch) EXPECT_TRUE(ConfigValue::IsDigit(ch)) << static_cast<int>(ch);
    for (const wchar_t ch : {L'/', L':', L'\0', L' ', L'a', static_cast<wchar_t>(0x0660),
                             static_cast<wchar_t>(0xFF10), static_cast<wchar_t>(-1)})
        EXPECT_FALSE(ConfigValue::IsDigit(ch)) << static_cast<int>(ch);
    // A byte above 0x7F read as a signed char is no digit either.
    EXPECT_FALSE(ConfigValue::IsDigit(static_cast<char>(0xB0)));
    EXPECT_EQ(7, ToInt(L"7\x0667"));
}

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

TEST(ConfigValueTest, FloatsBeyondTheDoubleRangeReadAsInfinityOrZero) {
    EXPECT_EQ(HUGE_VALF, ToFloat(L"1e400"));
    EXPECT_EQ(-HUGE_VALF, ToFloat(L"-1e400"));
    EXPECT_EQ(HUGE_VALF, ToFloat(L"1e99999999999999999999999999"));
    // Whether a value is too large or too small goes by its leading digit,
    // not by the sign of its exponent.
    EXPECT_EQ(HUGE_VALF, ToFloat(L"0.001e312"));
    EXPECT_EQ(HUGE_VALF, ToFloat(std::wstring(400, L'9').c_str()));
    EXPECT_EQ(HUGE_VALF, ToFloat((L"1" + std::wstring(400, L'0') + L"e-5").c_str()));
    const float tiny = ToFloat(L"1000e-330");
    EXPECT_EQ(0.0f, tiny);
    EXPECT_FALSE(std::signbit(tiny));
    EXPECT_EQ(0.0f, ToFloat((L"0." + std::wstring(400, L'0') + L"1e5").c_str()));
    EXPECT_EQ(0.0f, ToFloat((std::wstring(400, L'0') + L"1e-400").c_str()));
    const float negativeTiny = ToFloat(L"-1e-99999999999999999999");
    EXPECT_EQ(0.0f, negativeTiny);
    EXPECT_TRUE(std::signbit(negativeTiny));
    // In range once the leading zeros are counted.
    EXPECT_EQ(1e9f, ToFloat((L"0." + std::wstring(5000, L'0') + L"1e5010").c_str()));
    EXPECT_EQ(0.0f, ToFloat(L"0e99999999999999999999"));
}

// Texts made of digits, points, exponents, signs and blanks: nothing
// hexadecimal, INF or NAN, so wcstod of the "C" locale reads them as ToFloat
// must.
TEST(ConfigValueTest, FloatsMatchWcstodBitForBit) {
    ASSERT_STREQ(".", std::localeconv()->decimal_point);
    std::mt19937 random(20240611u);
    const auto pick = [&random](unsigned n) { return static_cast<unsigned>(random() % n); };
    const std::wstring alphabet = L"0123456789012345678901234567890..eE+- \t";
    for (int k = 0; k < 100000; ++k) {
        std::wstring text;
        if (k % 2 == 0) {
            for (unsigned n = pick(30); n > 0; --n) text += alphabet[pick(alphabet.size())];
        } else {
            if (pick(2)) text += L'-';
            for (unsigned n = pick(25); n > 0; --n)
                text += static_cast<wchar_t>(L'0' + (pick(3) ? pick(10) : 0));
            text += L'.';
            for (unsigned n = pick(25); n > 0; --n) text += static_cast<wchar_t>(L'0' + pick(10));
            if (pick(3)) text += L"e" + std::to_wstring(static_cast<int>(pick(900)) - 450);
        }
        const float expected = static_cast<float>(std::wcstod(text.c_str(), nullptr));
        const float actual = ToFloat(text.c_str());
        uint32_t expectedBits, actualBits;
        std::memcpy(&expectedBits, &expected, sizeof expectedBits);
        std::memcpy(&actualBits, &actual, sizeof actualBits);
        ASSERT_EQ(expectedBits, actualBits) << "text \"" << std::string(text.begin(), text.end()) << '"';
    }
}

TEST(ConfigValueTest, NegativeZeroKeepsItsSign) {
    EXPECT_TRUE(std::signbit(ToFloat(L"-0")));
    EXPECT_TRUE(std::signbit(ToFloat(L"-0.0e5")));
    EXPECT_FALSE(std::signbit(ToFloat(L"+0")));
}

TEST(ConfigValueTest, FloatsIgnoreAProcessLocaleWithADecimalComma) {
    KESUTest::CommaLocale comma;
    if (!comma.Active()) GTEST_SKIP() << "no locale with a decimal comma could be set";
    ASSERT_EQ(2.0, std::strtod("2.5", nullptr));  // the process locale now reads a comma
    EXPECT_EQ(2.5f, ToFloat(L"2.5"));
    EXPECT_EQ(-25.0f, ToFloat(L" -0.25e2x"));
    EXPECT_EQ(2.0f, ToFloat(L"2,5"));
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
