#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cwctype>
#include <string>

#include "platform/mfc/CString.h"

namespace {

TEST(CStringTest, TrimRemovesTheSixCWhiteSpaceCharactersOnly) {
    CString s(L" \t\n\v\f\rword one\r\f\v\n\t ");
    s.Trim();
    EXPECT_EQ(s, L"word one");

    // No-break space and next-line are not C white space.
    CString other(L"\x00A0\x0085x\x0085\x00A0");
    other.Trim();
    EXPECT_EQ(5, other.GetLength());

    CString left(L"  a  "), right(L"  a  ");
    EXPECT_EQ(left.TrimLeft(), L"a  ");
    EXPECT_EQ(right.TrimRight(), L"  a");

    CString blank(L" \t \r\n");
    EXPECT_TRUE(blank.Trim().IsEmpty());
}

// Sets LC_ALL for the life of the object and restores it afterwards.
class ProcessLocale {
public:
    explicit ProcessLocale(const char* name) : saved_(std::setlocale(LC_ALL, nullptr)) {
        set_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~ProcessLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
    ProcessLocale(const ProcessLocale&) = delete;
    ProcessLocale& operator=(const ProcessLocale&) = delete;

    bool IsSet() const { return set_; }

private:
    const std::string saved_;
    bool set_ = false;
};

TEST(CStringTest, MakeUpperChangesAToZOnlyWhateverTheLocale) {
    // C.UTF-8 comes with the C library on Debian.
    ProcessLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.IsSet()) << "the C.UTF-8 locale is not available";
    // The locale upper-cases U+00E9 and friends; the string must not.
    ASSERT_EQ(static_cast<std::wint_t>(0xC9), std::towupper(0xE9));
    CString s(L"az AZ 09 _\x00E9\x00FF\x0101{");
    s.MakeUpper();
    EXPECT_EQ(s, L"AZ AZ 09 _\x00E9\x00FF\x0101{");
}

TEST(CStringTest, FindAnswersTheFirstPositionFromStartOrMinusOne) {
    const CString s(L"a,b,,c");
    EXPECT_EQ(1, s.Find(L','));
    EXPECT_EQ(3, s.Find(L',', 2));
    EXPECT_EQ(-1, s.Find(L'x'));
    EXPECT_EQ(-1, s.Find(L',', 6));
    EXPECT_EQ(-1, s.Find(L',', -1));
    EXPECT_EQ(2, s.Find(L"b,,"));
    EXPECT_EQ(-1, s.Find(L"b,,", 3));
    EXPECT_EQ(-1, s.Find(L"c,"));
    EXPECT_EQ(-1, CString().Find(L'a'));
}

TEST(CStringTest, MidAndLeftCutCountsToWhatIsThere) {
    const CString s(L"abcdef");
    EXPECT_EQ(s.Mid(2, 3), L"cde");
    EXPECT_EQ(s.Mid(4, 100), L"ef");
    EXPECT_EQ(s.Mid(4), L"ef");
    EXPECT_TRUE(s.Mid(6).IsEmpty());
    EXPECT_TRUE(s.Mid(10, 2).IsEmpty());
    EXPECT_EQ(s.Left(2), L"ab");
    EXPECT_EQ(s.Left(99), L"abcdef");
    EXPECT_TRUE(s.Left(-1).IsEmpty());
}

TEST(CStringTest, CharactersZeroAndAbove0x7FAreKeptInTheLength) {
    const wchar_t raw[] = {L'a', 0, 0xFF, L'b'};
    CString s(raw, 4);
    EXPECT_EQ(4, s.GetLength());
    EXPECT_EQ(0, s[1]);
    EXPECT_EQ(0xFF, s[2]);
    EXPECT_EQ(1, s.Replace(L'\0', L'-'));
    EXPECT_EQ(s,
              L"a-\x00FF"
              L"b");
}

TEST(CStringTest, FormatWritesDecimalsAndWideText) {
    CString s;
    s.Format(L"line %d: %s (%s) 100%%", 42, L"wide", CString(L"text"));
    EXPECT_EQ(s, L"line 42: wide (text) 100%");

    s.Format(L"%d %d %d", 0, -7, INT_MIN);
    EXPECT_EQ(s, L"0 -7 -2147483648");
    s.Format(L"%d", INT_MAX);
    EXPECT_EQ(s, L"2147483647");

    // A conversion without its argument, or with one of the other kind, writes nothing.
    s.Format(L"[%d][%s][%x]", L"text", 5);
    EXPECT_EQ(s, L"[][][%x]");
    s.Format(L"%s and %s", L"one");
    EXPECT_EQ(s, L"one and ");
    s.Format(L"%s", static_cast<const wchar_t*>(nullptr));
    EXPECT_TRUE(s.IsEmpty());
}

TEST(CStringTest, AppendFormatMayQuoteTheStringItself) {
    CString s(L"ab");
    s.AppendFormat(L"<%s>", s);
    EXPECT_EQ(s, L"ab<ab>");
    s.Format(L"%s%s", s, s);
    EXPECT_EQ(s, L"ab<ab>ab<ab>");
}

}  // namespace
