#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/mfc/StdioFile.h"
#include "platform/mfc/WinPath.h"
#include "tests/platform/MfcDriveFixture.h"

namespace {

class DriveFixture : public KESUTest::DriveTest {
protected:
    std::vector<CString> ReadLines(const std::string& bytes) {
        folder_.Write("KESU/CFG/lines.txt", bytes);
        CStdioFile file;
        std::vector<CString> lines;
        CFileException error;
        if (!file.Open(L"C:\\KESU\\CFG\\lines.txt", CStdioFile::modeRead | CStdioFile::typeText, &error)) {
            ADD_FAILURE() << "open failed, cause " << error.m_cause;
            return lines;
        }
        CString line;
        while (file.ReadString(line)) lines.push_back(line);
        EXPECT_TRUE(line.IsEmpty());
        EXPECT_FALSE(file.ReadString(line));

        // The same bytes held in memory give the same lines.
        CStdioFile memory;
        EXPECT_TRUE(memory.OpenBytes(bytes.data(), bytes.size()));
        std::vector<CString> memoryLines;
        while (memory.ReadString(line)) memoryLines.push_back(line);
        EXPECT_TRUE(line.IsEmpty());
        EXPECT_FALSE(memory.ReadString(line));
        EXPECT_TRUE(memoryLines == lines) << "bytes in memory read differently";
        return lines;
    }

    CFileException OpenFailure(const wchar_t* path) {
        CStdioFile file;
        CFileException error;
        EXPECT_FALSE(file.Open(path, CStdioFile::modeRead, &error));
        return error;
    }

    static std::wstring Describe(const CFileException& error, UINT room = 200) {
        std::vector<wchar_t> buffer(room, L'#');
        error.GetErrorMessage(buffer.data(), room);
        return buffer.data();
    }
};

using StdioFileLinesTest = DriveFixture;
using StdioFileOpenTest = DriveFixture;

TEST_F(StdioFileLinesTest, LfAndCrLfEndLinesAndTheLastLineNeedsNoEnd) {
    const std::vector<CString> lines = ReadLines("one\ntwo\r\n\r\n\nlast");
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ(lines[0], L"one");
    EXPECT_EQ(lines[1], L"two");
    EXPECT_TRUE(lines[2].IsEmpty());
    EXPECT_TRUE(lines[3].IsEmpty());
    EXPECT_EQ(lines[4], L"last");
}

TEST_F(StdioFileLinesTest, OnlyOneCrRightBeforeTheLfIsDropped) {
    const std::vector<CString> lines = ReadLines("a\rb\r\r\nc\r");
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(lines[0], L"a\rb\r");
    EXPECT_EQ(lines[1], L"c\r");
}

TEST_F(StdioFileLinesTest, EmptyFileHasNoLineAndAFinalLfAddsNone) {
    EXPECT_TRUE(ReadLines("").empty());
    EXPECT_EQ(1u, ReadLines("only\n").size());
    EXPECT_EQ(1u, ReadLines("\n").size());
}

TEST_F(StdioFileLinesTest, EveryByteBecomesOneCharacterOfTheSameValue) {
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        if (b != '\n') bytes += static_cast<char>(b);
    const std::vector<CString> lines = ReadLines(bytes);
    ASSERT_EQ(1u, lines.size());
    ASSERT_EQ(255, lines[0].GetLength());
    for (int i = 0; i < 255; ++i) {
        const int expected = i < '\n' ? i : i + 1;
        EXPECT_EQ(expected, static_cast<int>(lines[0][i])) << "at " << i;
    }
}

TEST_F(StdioFileLinesTest, LinesLongerThanTheBufferComeWhole) {
    const std::string longLine(10000, 'x');
    const std::vector<CString> lines = ReadLines(longLine + "\r\n" + longLine + "y");
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(10000, lines[0].GetLength());
    EXPECT_EQ(10001, lines[1].GetLength());
    EXPECT_EQ(L'y', lines[1][10000]);
}

TEST_F(StdioFileLinesTest, ClosingEndsReadingAndTheObjectOpensAgain) {
    folder_.Write("a.txt", "first\n");
    folder_.Write("b.txt", "second\n");
    CStdioFile file;
    CString line;
    EXPECT_FALSE(file.ReadString(line));
    ASSERT_TRUE(file.Open(L"C:\\a.txt", CStdioFile::modeRead));
    file.Close();
    EXPECT_FALSE(file.ReadString(line));
    file.Close();
    ASSERT_TRUE(file.Open(L"C:\\a.txt", CStdioFile::modeRead));
    ASSERT_TRUE(file.Open(L"C:\\b.txt", CStdioFile::modeRead));
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, L"second");
}

TEST_F(StdioFileLinesTest, BytesInMemoryAreReadWithoutACopyAndCloseLikeAFile) {
    std::string bytes = "first\nsecond";
    CStdioFile file;
    CString line;
    ASSERT_TRUE(file.OpenBytes(bytes.data(), bytes.size()));
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, L"first");
    bytes[6] = 'S';  // read in place, not copied
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, L"Second");
    EXPECT_FALSE(file.ReadString(line));

    ASSERT_TRUE(file.OpenBytes(bytes.data(), 5));
    file.Close();
    EXPECT_FALSE(file.ReadString(line));
    ASSERT_TRUE(file.OpenBytes(nullptr, 0));
    EXPECT_FALSE(file.ReadString(line));

    // A file opened after bytes reads the file.
    folder_.Write("a.txt", "from the file\n");
    ASSERT_TRUE(file.OpenBytes(bytes.data(), bytes.size()));
    ASSERT_TRUE(file.Open(L"C:\\a.txt", CStdioFile::modeRead));
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, L"from the file");
}

TEST_F(StdioFileOpenTest, MissingFileAndMissingFolderAreToldApart) {
    folder_.Write("KESU/CFG/other.cfg", "x");

    CFileException file = OpenFailure(L"C:\\KESU\\CFG\\Ambulor.cfg");
    EXPECT_EQ(CFileException::fileNotFound, file.m_cause);
    EXPECT_EQ(ENOENT, file.m_lOsError);
    EXPECT_EQ(L"C:\\KESU\\CFG\\Ambulor.cfg was not found.", Describe(file));

    CFileException folder = OpenFailure(L"C:\\KESU\\NOPE\\Ambulor.cfg");
    EXPECT_EQ(CFileException::badPath, folder.m_cause);
    EXPECT_EQ(L"The folder of C:\\KESU\\NOPE\\Ambulor.cfg was not found.", Describe(folder));

    // A file where a folder should be is a missing folder too.
    EXPECT_EQ(CFileException::badPath, OpenFailure(L"C:\\KESU\\CFG\\other.cfg\\x.cfg").m_cause);
    // So is a drive that does not exist here.
    EXPECT_EQ(CFileException::badPath, OpenFailure(L"D:\\KESU\\CFG\\Ambulor.cfg").m_cause);
}

TEST_F(StdioFileOpenTest, FolderGivenAsTheFileHasADescriptionOfItsOwn) {
    folder_.Write("KESU/CFG/Ambulor.cfg/inside.txt", "x");
    CFileException error = OpenFailure(L"C:\\KESU\\CFG\\Ambulor.cfg");
    EXPECT_EQ(CFileException::genericException, error.m_cause);
    EXPECT_EQ(EISDIR, error.m_lOsError);
    EXPECT_EQ(L"C:\\KESU\\CFG\\Ambulor.cfg could not be opened.", Describe(error));
}

TEST_F(StdioFileOpenTest, ErrnoValuesMapToTheirCauses) {
    EXPECT_EQ(CFileException::accessDenied, CFileException::ErrnoToCause(EACCES));
    EXPECT_EQ(CFileException::accessDenied, CFileException::ErrnoToCause(EPERM));
    EXPECT_EQ(CFileException::sharingViolation, CFileException::ErrnoToCause(ETXTBSY));
    EXPECT_EQ(CFileException::sharingViolation, CFileException::ErrnoToCause(EBUSY));
    EXPECT_EQ(CFileException::sharingViolation, CFileException::ErrnoToCause(EWOULDBLOCK));
    EXPECT_EQ(CFileException::badPath, CFileException::ErrnoToCause(ENOTDIR));
    EXPECT_EQ(CFileException::fileNotFound, CFileException::ErrnoToCause(ENOENT));
    EXPECT_EQ(CFileException::genericException, CFileException::ErrnoToCause(EISDIR));
    EXPECT_EQ(CFileException::genericException, CFileException::ErrnoToCause(EMFILE));
}

TEST_F(StdioFileOpenTest, DescriptionsNameTheFileAndAreCutToTheBuffer) {
    const CString name(L"C:\\KESU\\CFG\\Ambulor.cfg");
    EXPECT_EQ(L"Access to C:\\KESU\\CFG\\Ambulor.cfg was denied.",
              Describe(CFileException(CFileException::accessDenied, EACCES, name)));
    EXPECT_EQ(L"Encountered a sharing violation while accessing C:\\KESU\\CFG\\Ambulor.cfg.",
              Describe(CFileException(CFileException::sharingViolation, EBUSY, name)));

    std::wstring longName = L"C:\\";
    longName.append(150, L'n');
    const CFileException error(CFileException::fileNotFound, ENOENT, CString(longName.c_str()));
    wchar_t buffer[101];
    std::fill(buffer, buffer + 101, L'#');
    EXPECT_EQ(TRUE, error.GetErrorMessage(buffer, 100));
    EXPECT_EQ(99u, std::wstring(buffer).size());
    EXPECT_EQ(L'#', buffer[100]);
    EXPECT_EQ(longName.substr(0, 99), buffer);

    const CFileException nothing;
    EXPECT_EQ(FALSE, nothing.GetErrorMessage(buffer, 100));
    EXPECT_EQ(L'\0', buffer[0]);
}

TEST(WinPathTest, DriveCMapsOntoTheRootAndBackslashesTurn) {
    const std::string saved = WinPath::GetDriveRoot();
    WinPath::SetDriveRoot("/r/drive");
    EXPECT_EQ("/r/drive/KESU/CFG/Ambulor.cfg", WinPath::ToLinuxPath(L"C:\\KESU\\CFG\\Ambulor.cfg"));
    EXPECT_EQ("/r/drive/KESU/x", WinPath::ToLinuxPath(L"c:\\KESU/x"));
    EXPECT_EQ("/r/drive/x", WinPath::ToLinuxPath(L"C:x"));
    EXPECT_EQ("", WinPath::ToLinuxPath(L"D:\\KESU\\CFG\\Ambulor.cfg"));
    EXPECT_EQ("rel/a.cfg", WinPath::ToLinuxPath(L"rel\\a.cfg"));
    EXPECT_EQ("/tmp/a.cfg", WinPath::ToLinuxPath(L"/tmp/a.cfg"));
    EXPECT_EQ("/r/drive/caf\xC3\xA9", WinPath::ToLinuxPath(L"C:\\caf\x00E9"));
    WinPath::SetDriveRoot(saved);
    EXPECT_EQ(saved + "/KESU", WinPath::ToLinuxPath(L"C:\\KESU"));
}

}  // namespace
