#include <gtest/gtest.h>

#include <string>

#include "config/CComboRead.h"
#include "tests/config/ConfigTestFolder.h"

namespace {

class CComboReadTest : public KESUTest::ConfigFileTest {
protected:
    int ReadText(const std::string& text) {
        return reader.Read(WriteConfig("CombinationPlatform.cfg", text), errors);
    }

    CComboRead reader;
};

// Two members side by side in combined platform 1 (the worked example).
const char* const kTwoMembers =
    "TEXT_NOTE, combined platforms\r\n"
    "VERSION,3\r\n"
    "ENABLED,1\r\n"
    "UNITS,1\r\n"
    "CP_COUNT,1\r\n"
    "CP_INFO,1,7,WALKWAY,T4,2,40.5,10,1.5\r\n"
    "PP_INFO,1,A\r\n"
    "PP_INFO,1,B\r\n"
    "PP_MEMBER,A,TA,20,10,0,0,0\r\n"
    "PP_MEMBER,B,TB,20,10,30,0,0\r\n";

TEST_F(CComboReadTest, WorkedExampleGivesTheBoxCentreOffsets) {
    EXPECT_EQ(1, ReadText(kTwoMembers));
    EXPECT_TRUE(errors.IsEmpty());
    EXPECT_EQ(3, reader.version);
    EXPECT_EQ(1, reader.units);
    EXPECT_EQ(1, reader.cpCount);
    EXPECT_EQ(2, reader.resultCount);
    EXPECT_EQ(2, reader.memberRefTotal);
    EXPECT_EQ(2, reader.memberTotal);
    EXPECT_EQ(2, reader.memberCountSum);

    const ComboPlatformRecord& combo = reader.combos[0];
    EXPECT_STREQ(L"WALKWAY", combo.name);
    EXPECT_STREQ(L"T4", combo.text4);
    EXPECT_EQ(7, combo.param2);
    EXPECT_EQ(2, combo.memberCount);
    EXPECT_EQ(40.5f, combo.sizeX);
    EXPECT_EQ(10.0f, combo.sizeY);
    EXPECT_EQ(1.5f, combo.param8);

    EXPECT_EQ(0, reader.memberRefs[0].comboIndex);
    EXPECT_EQ(1, reader.memberRefs[0].matched);
    EXPECT_EQ(15.0f, reader.memberRefs[0].offsetX);
    EXPECT_EQ(0.0f, reader.memberRefs[0].offsetY);
    EXPECT_EQ(-15.0f, reader.memberRefs[1].offsetX);
    EXPECT_EQ(0.0f, reader.memberRefs[1].offsetY);
    EXPECT_STREQ(L"TB", reader.members[1].text2);
}

TEST_F(CComboReadTest, DisabledFileIsCleanButYieldsNoResultCount) {
    std::string text = kTwoMembers;
    text.replace(text.find("ENABLED,1"), 9, "ENABLED,0");
    EXPECT_EQ(1, ReadText(text));
    EXPECT_EQ(0, reader.resultCount);
    EXPECT_EQ(1, reader.cpCount);
}

TEST_F(CComboReadTest, TurnedMembersSwapTheirExtentsAndPassOnTheirOrientation) {
    EXPECT_EQ(
        1, ReadText("CP_COUNT,1\nCP_INFO,1,0,C,T,3,0,0,0\nPP_INFO,1,A\nPP_INFO,1,B\nPP_INFO,1,C\n"
                    "PP_MEMBER,A,T,20,10,0,0,1\nPP_MEMBER,B,T,20,10,30,0,7\nPP_MEMBER,C,T,20,10,30,0,-1\n"));
    // A spans X -5..5 and Y -10..10, B X 20..40 and Y -5..5: the box centre is (17.5, 0).
    EXPECT_EQ(17.5f, reader.memberRefs[0].offsetX);
    EXPECT_EQ(1, reader.memberRefs[0].orientation);
    EXPECT_EQ(-12.5f, reader.memberRefs[1].offsetX);
    EXPECT_EQ(0, reader.members[1].orientation);
    EXPECT_EQ(0, reader.members[2].orientation);
}

// Orientations run 0 to 3: 4, the first value past them, is taken as 0 like
// 7 and -1, while 3 is kept and turns its member as 1 does.
TEST_F(CComboReadTest, OrientationFourIsTakenAsZeroAndThreeIsKept) {
    EXPECT_EQ(1, ReadText("CP_COUNT,1\nCP_INFO,1,0,C,T,2,0,0,0\nPP_INFO,1,A\nPP_INFO,1,B\n"
                          "PP_MEMBER,A,T,20,10,0,0,4\nPP_MEMBER,B,T,20,10,30,0,3\n"));
    EXPECT_TRUE(errors.IsEmpty());
    EXPECT_EQ(0, reader.members[0].orientation);
    EXPECT_EQ(0, reader.memberRefs[0].orientation);
    EXPECT_EQ(3, reader.members[1].orientation);
    EXPECT_EQ(3, reader.memberRefs[1].orientation);
    // A, not turned, spans X -10..10 and Y -5..5; B, turned, X 25..35 and
    // Y -10..10: the box centre is (12.5, 0).
    EXPECT_EQ(12.5f, reader.memberRefs[0].offsetX);
    EXPECT_EQ(-17.5f, reader.memberRefs[1].offsetX);
}

TEST_F(CComboReadTest, EmptyOrNotesOnlyFileIsClean) {
    EXPECT_EQ(1, ReadText(""));
    EXPECT_EQ(0, reader.cpCount);
    CComboRead second;
    EXPECT_EQ(1, second.Read(WriteConfig("notes.cfg", "TEXT_NOTE,x\n% y\n"), errors));
    EXPECT_EQ(0, second.comboReadCount);
}

TEST_F(CComboReadTest, CountProblemsAreSummaryErrors) {
    EXPECT_EQ(-1, ReadText("CP_COUNT,2\nCP_INFO,1,0,C,T,3,0,0,0\nPP_INFO,1,A\nPP_INFO,1,A\n"
                           "PP_MEMBER,A,T,1,1,0,0,0\n"));
    EXPECT_EQ(SummaryError(L"Combined platform count incorrect\r\n"
                           L"Member platform count incorrect for combo platform 1\r\n"),
              Errors());
}

TEST_F(CComboReadTest, UnknownMemberNamesAreReportedCaseSensitively) {
    EXPECT_EQ(-1, ReadText("CP_COUNT,2\nCP_INFO,1,0,C,T,1,0,0,0\nCP_INFO,2,0,D,T,1,0,0,0\n"
                           "PP_INFO,1,plate1\nPP_INFO,2,PLATE1\nPP_MEMBER,PLATE1,T,1,1,0,0,0\n"));
    EXPECT_EQ(SummaryError(L"Member platform 'plate1' unknown for combo platform 1\r\n"), Errors());
    EXPECT_EQ(0.0f, reader.memberRefs[0].offsetX);
}

TEST_F(CComboReadTest, IndexesOutsideOneTo25AreRefusedLineByLine) {
    EXPECT_EQ(-1, ReadText("CP_COUNT,1\nCP_INFO,0,0,C,T,0,0,0,0\nCP_INFO,26,0,C,T,0,0,0,0\n"
                           "CP_INFO,1,0,C,T,0,0,0,0\nPP_INFO,26,A\nPP_INFO,-3,A\n"));
    EXPECT_EQ(
        L"Semantic error (Bad combo platform index 0) in configuration file at line 2 \r\n"
        L"Semantic error (Bad combo platform index 26) in configuration file at line 3 \r\n"
        L"Semantic error (Bad combo platform index 26) in configuration file at line 5 \r\n"
        L"Semantic error (Bad combo platform index -3) in configuration file at line 6 \r\n",
        Errors());
    EXPECT_EQ(1, reader.comboReadCount);
    EXPECT_EQ(0, reader.memberRefReadCount);
}

TEST_F(CComboReadTest, ReferenceToAPositionNoCpInfoFilledIsRefused) {
    EXPECT_EQ(-1, ReadText("CP_COUNT,1\nCP_INFO,1,0,C,T,1,0,0,0\nPP_INFO,1,A\nPP_INFO,3,A\n"
                           "PP_MEMBER,A,T,2,2,0,0,0\n"));
    EXPECT_EQ(SummaryError(L"Combo platform 3 not defined for member platform 'A'\r\n"), Errors());
}

TEST_F(CComboReadTest, RecordsBeyondTheArraysAreDroppedAndCountedAgainst) {
    std::string text = "CP_COUNT,26\n";
    for (int i = 1; i <= 25; ++i)
        text += "CP_INFO," + std::to_string(i) + ",0,N" + std::to_string(i) + ",T,0,1,1,0\n";
    text += "CP_INFO,1,0,LATE,T,0,1,1,0\n";
    for (int i = 0; i < 101; ++i) text += "PP_INFO,2,M\n";
    for (int i = 0; i < 31; ++i) text += "PP_MEMBER,M" + std::to_string(i) + ",T,1,1,0,0,0\n";
    EXPECT_EQ(-1, ReadText(text));
    EXPECT_EQ(25, reader.comboReadCount);
    EXPECT_STREQ(L"N1", reader.combos[0].name);
    EXPECT_EQ(100, reader.memberRefReadCount);
    EXPECT_EQ(100, reader.memberRefsPerCombo[1]);
    EXPECT_EQ(30, reader.memberReadCount);
    EXPECT_STREQ(L"M29", reader.members[29].name);
    const std::wstring errorsText = Errors();
    EXPECT_NE(std::wstring::npos, errorsText.find(L"Combined platform count incorrect\r\n"));
    EXPECT_NE(std::wstring::npos,
              errorsText.find(L"Member platform count incorrect for combo platform 2\r\n"));
}

TEST_F(CComboReadTest, TextsKeep28CharactersAndUnfilledPositionsReadEmpty) {
    const std::string name30 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";
    EXPECT_EQ(-1, ReadText("CP_COUNT,2\nCP_INFO,1,0," + name30 + ",T,0,1,1,0\nCP_INFO,3,0,X,T,0,1,1,0\n"));
    EXPECT_EQ(SummaryError(L"Combo platform 2 not defined\r\n"), Errors());
    EXPECT_STREQ(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ01", reader.combos[0].name);
    EXPECT_STREQ(L"", reader.combos[1].name);
    EXPECT_EQ(0.0f, reader.combos[1].sizeX);
    EXPECT_STREQ(L"X", reader.combos[2].name);
}

// The combined platforms offered are the first CP_COUNT positions: a file
// that leaves one of them empty would offer an unnamed 0 x 0 platform and
// drop the one it gives.
TEST_F(CComboReadTest, DeclaredPositionNoCpInfoFilledIsRefused) {
    EXPECT_EQ(-1, ReadText("ENABLED,1\nCP_COUNT,1\nCP_INFO,3,0,C,T,1,20,10,0\nPP_INFO,3,A\n"
                           "PP_MEMBER,A,T,20,10,0,0,0\n"));
    EXPECT_EQ(SummaryError(L"Combo platform 1 not defined\r\n"), Errors());
    EXPECT_EQ(0, reader.resultCount);
}

TEST_F(CComboReadTest, RepeatedCpInfoIndexLeavesAPositionUndefined) {
    // As many CP_INFO lines as CP_COUNT says, and the members agree.
    EXPECT_EQ(-1, ReadText("ENABLED,1\nCP_COUNT,2\nCP_INFO,1,0,C,T,1,0,0,0\nCP_INFO,1,0,D,T,1,0,0,0\n"
                           "PP_INFO,1,A\nPP_MEMBER,A,T,1,1,0,0,0\n"));
    EXPECT_EQ(SummaryError(L"Combo platform 2 not defined\r\n"), Errors());
    EXPECT_EQ(2, reader.comboReadCount);
    EXPECT_STREQ(L"D", reader.combos[0].name);
    EXPECT_EQ(0, reader.resultCount);
}

TEST_F(CComboReadTest, UndefinedPositionsAreCheckedUpTo25Only) {
    std::string text = "CP_COUNT,30\n";
    for (int i = 1; i <= 25; ++i)
        if (i != 7) text += "CP_INFO," + std::to_string(i) + ",0,N,T,0,1,1,0\n";
    EXPECT_EQ(-1, ReadText(text));
    EXPECT_EQ(SummaryError(L"Combined platform count incorrect\r\nCombo platform 7 not defined\r\n"),
              Errors());

    CComboRead negative;
    EXPECT_EQ(-1, negative.Read(WriteConfig("negative.cfg", "CP_COUNT,-1\n"), errors));
    EXPECT_EQ(SummaryError(L"Combined platform count incorrect\r\n"), Errors());
}

TEST_F(CComboReadTest, HugeMemberCountsDoNotOverflowTheirSum) {
    EXPECT_EQ(-1,
              ReadText("CP_COUNT,2\nCP_INFO,1,0,C,T,2147483647,0,0,0\nCP_INFO,2,0,C,T,2147483647,0,0,0\n"));
    EXPECT_EQ(INT32_MAX, reader.memberCountSum);
}

}  // namespace
