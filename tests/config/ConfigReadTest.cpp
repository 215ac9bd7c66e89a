#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/ConfigRead.h"
#include "tests/config/ConfigTestFolder.h"

namespace {

// A concrete reader that keeps every line it is handed.
class RecordingReader : public ConfigRead {
public:
    struct Line {
        int id;
        std::vector<std::wstring> params;
        bool operator==(const Line& other) const { return id == other.id && params == other.params; }
    };

    void Init() override {
        ++initCount;
        keywords = kRows;
        keywordCount = 4;
    }
    bool ProcessKeyword(int id, const CString params[], CString& message) override {
        Line line{id, {}};
        for (int i = 0; i < kRows[id - 1].paramCount; ++i) line.params.push_back(params[i].GetString());
        lines.push_back(line);
        if (id == refusedId) message = L"refused";
        return message.IsEmpty();
    }
    int Summary(CString& message) override {
        ++summaryCount;
        message = summaryMessage;
        return summaryResult;
    }

    static const ConfigKeyword kRows[4];
    int initCount = 0;
    int summaryCount = 0;
    int refusedId = 0;
    int summaryResult = 1;
    CString summaryMessage;
    std::vector<Line> lines;
};

const ConfigKeyword RecordingReader::kRows[4] = {
    {L"TEXT_NOTE", 1, 0}, {L"VERSION", 2, 1}, {L"PP_INFO", 3, 2}, {L"WIDE", 4, 3}};

using Line = RecordingReader::Line;

class ConfigReadTest : public KESUTest::ConfigFileTest {
protected:
    int ReadText(const std::string& text) {
        errors = L"left over";
        return reader.Read(WriteConfig("test.cfg", text), errors);
    }
    static std::wstring Repeat(const std::wstring& line, int times) {
        std::wstring all;
        for (int i = 0; i < times; ++i) all += line;
        return all;
    }

    RecordingReader reader;
};

TEST_F(ConfigReadTest, TokenRuleSkipsCommaRunsAndKeepsBlankFields) {
    EXPECT_EQ(-1, ReadText("version,101\n"
                           "VERSION ,101\n"
                           ",,VERSION,102\n"
                           "TEXT_NOTE, any text, more text\n"
                           "TEXT_NOTE any text\n"
                           "PP_INFO,1,,NAME\n"
                           "PP_INFO,1, ,NAME\n"
                           "PP_INFO,,, 7 ,\t x y \t,,\n"
                           "VERSION,1,2,3\n"
                           "PP_INFO,1\n"
                           "VERSION,\n"
                           ",,, ,\n"));
    const std::vector<Line> expected = {
        {2, {L"101"}},    {2, {L"102"}},       {1, {}},     {3, {L"1", L"NAME"}},
        {3, {L"1", L""}}, {3, {L"7", L"x y"}}, {2, {L"1"}},
    };
    EXPECT_EQ(expected, reader.lines);
    // ", ," holds a blank field, which is a token: the keyword " " is unknown.
    EXPECT_EQ(
        L"Unknown keyword in configuration file at line 2 \r\n"
        L"Unknown keyword in configuration file at line 5 \r\n"
        L"Missing parameters in configuration file at line 10 \r\n"
        L"Missing parameters in configuration file at line 11 \r\n"
        L"Unknown keyword in configuration file at line 12 \r\n",
        Errors());
}

TEST_F(ConfigReadTest, OnlyCommasOnALineIsASyntaxError) {
    EXPECT_EQ(-1, ReadText("  ,,,  \r\n"));
    EXPECT_EQ(errors, L"Syntax error in configuration file at line 1 \r\n");
}

TEST_F(ConfigReadTest, LineNumbersCountBlankAndCommentLines) {
    EXPECT_EQ(-1, ReadText("% first\r\n\r\n \t \r\n  % indented note\r\nbogus,1\r\nVERSION,3"));
    EXPECT_EQ(errors, L"Unknown keyword in configuration file at line 5 \r\n");
    const std::vector<Line> expected = {{2, {L"3"}}};
    EXPECT_EQ(expected, reader.lines);
}

TEST_F(ConfigReadTest, BlankAndCommentOnlyFileDependsOnSummaryAlone) {
    EXPECT_EQ(1, ReadText("\n   \n% a\n\t%b\n"));
    EXPECT_TRUE(errors.IsEmpty());
    EXPECT_EQ(1, reader.initCount);
    EXPECT_EQ(1, reader.summaryCount);
    EXPECT_TRUE(reader.lines.empty());
}

TEST_F(ConfigReadTest, SemanticAndSummaryErrorsCarryTheReadersMessages) {
    reader.refusedId = 3;
    reader.summaryResult = -1;
    reader.summaryMessage = L"first\r\nsecond\r\n";
    EXPECT_EQ(-1, ReadText("VERSION,1\nPP_INFO,1,A\n"));
    EXPECT_EQ(
        L"Semantic error (refused) in configuration file at line 2 \r\n"
        L"Summary error in configuration file: \r\nfirst\r\nsecond\r\n ",
        Errors());
}

TEST_F(ConfigReadTest, FiveBadLinesKeepTheirMessages) {
    reader.summaryResult = -1;
    reader.summaryMessage = L"sum";
    EXPECT_EQ(-1, ReadText("a\nb\nc\n,\nPP_INFO\n"));
    EXPECT_EQ(
        L"Unknown keyword in configuration file at line 1 \r\n"
        L"Unknown keyword in configuration file at line 2 \r\n"
        L"Unknown keyword in configuration file at line 3 \r\n"
        L"Syntax error in configuration file at line 4 \r\n"
        L"Missing parameters in configuration file at line 5 \r\n"
        L"Summary error in configuration file: \r\nsum ",
        Errors());
}

TEST_F(ConfigReadTest, SixBadLinesLeaveOnlyTheCorruptFileText) {
    reader.refusedId = 2;
    reader.summaryResult = -1;
    reader.summaryMessage = L"sum";
    EXPECT_EQ(-1, ReadText("a\nb\nc\n,\nPP_INFO\nVERSION,1\nVERSION,2\n"));
    EXPECT_EQ(errors, L"Configuration file is corrupt - delete and reformat");
    // Reading went on to the end all the same.
    EXPECT_EQ(2u, reader.lines.size());
}

TEST_F(ConfigReadTest, MissingFileOrFolderIsNoErrorAndReadsNothing) {
    folder_.Write("KESU/CFG/other.cfg", "VERSION,1\n");
    reader.resultCount = 9;
    errors = L"left over";
    EXPECT_EQ(0, reader.Read(KESUTest::ConfigPath("test.cfg"), errors));
    EXPECT_TRUE(errors.IsEmpty());
    EXPECT_EQ(0, reader.resultCount);

    errors = L"left over";
    EXPECT_EQ(0, reader.Read(L"C:\\KESU\\NOFOLDER\\test.cfg", errors));
    EXPECT_TRUE(errors.IsEmpty());
    EXPECT_EQ(0, reader.initCount);
    EXPECT_EQ(0, reader.summaryCount);
}

TEST_F(ConfigReadTest, OtherOpenFailureIsDescribedInAtMost99Characters) {
    folder_.Write("KESU/CFG/test.cfg/inside", "");
    EXPECT_EQ(-1, reader.Read(KESUTest::ConfigPath("test.cfg"), errors));
    EXPECT_EQ(errors, L"Cannot open configuration file: C:\\KESU\\CFG\\test.cfg could not be opened.");
    EXPECT_EQ(0, reader.initCount);

    const std::string longName(120, 'n');
    folder_.Write("KESU/CFG/" + longName + "/inside", "");
    EXPECT_EQ(-1, reader.Read(KESUTest::ConfigPath(longName), errors));
    const std::wstring described = (L"C:\\KESU\\CFG\\" + std::wstring(120, L'n')).substr(0, 99);
    EXPECT_EQ(L"Cannot open configuration file: " + described, Errors());
}

TEST(ConfigReadStaticTest, SplitParametersTakesCountTrimmedTokens) {
    CString params[3];
    EXPECT_TRUE(ConfigRead::SplitParameters(L"KEY,a,,b , c,d", 4, params, 3));
    EXPECT_EQ(params[0], L"a");
    EXPECT_EQ(params[1], L"b");
    EXPECT_EQ(params[2], L"c");

    params[1] = L"stale";
    EXPECT_FALSE(ConfigRead::SplitParameters(L"KEY,a,,", 4, params, 3));
    EXPECT_EQ(params[0], L"a");
    EXPECT_TRUE(params[1].IsEmpty());

    EXPECT_TRUE(ConfigRead::SplitParameters(L"KEY", 3, params, 0));
    EXPECT_FALSE(ConfigRead::SplitParameters(L"KEY", 3, params, 1));
}

TEST(ConfigReadStaticTest, ParseRangedIntStoresTheValueEvenOutOfRange) {
    int value = 0;
    EXPECT_TRUE(ConfigRead::ParseRangedInt(L" 4", value, 1, 4));
    EXPECT_EQ(4, value);
    EXPECT_FALSE(ConfigRead::ParseRangedInt(L"26", value, 1, 25));
    EXPECT_EQ(26, value);
    EXPECT_FALSE(ConfigRead::ParseRangedInt(L"x", value, 1, 25));
    EXPECT_EQ(0, value);
    EXPECT_FALSE(ConfigRead::ParseRangedInt(L"1", value, 1, 0));
}

}  // namespace
