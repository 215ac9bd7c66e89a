// Stand-in for the class library's buffered text file, for reading only.
//
// Text mode as the readers expect it: a line ends at LF, a CR just before the
// LF is dropped, the last line is returned even without a line end, and an
// empty file has no line. Each byte becomes one character (0x80 to 0xFF
// included); there is no charset decoding.
//
// Besides a file, it reads bytes held in memory (OpenBytes) with the same
// lines: the fuzz targets feed the configuration readers that way, without
// a file per input.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/mfc/CString.h"
#include "platform/mfc/FileException.h"
#include "platform/win/WinApi.h"

class CStdioFile {
public:
    // Reading is the only mode; the flags are accepted for the callers' sake.
    enum OpenFlags : UINT { modeRead = 0x0000, typeText = 0x4000 };

    CStdioFile() = default;
    ~CStdioFile();
    CStdioFile(const CStdioFile&) = delete;
    CStdioFile& operator=(const CStdioFile&) = delete;

    // fileName is a Windows path (see WinPath.h). Only regular files open. On
    // failure answers FALSE and, when error is given, says why there.
    BOOL Open(const wchar_t* fileName, UINT openFlags, CFileException* error = nullptr);

    // Reads size bytes from data as the text of a file holding them; they are
    // not copied and must outlive the reading. Always opens (an empty buffer
    // is an empty file).
    BOOL OpenBytes(const void* data, size_t size);

    // The next line without its line end. FALSE (line emptied) at the end of
    // the file; a read error also ends the file.
    BOOL ReadString(CString& line);

    // Harmless when nothing is open.
    void Close();

private:
    bool Fill();

    int fd_ = -1;
    std::vector<unsigned char> buffer_;
    // The bytes not read yet are text_[next_, end_): the buffer's for a file,
    // the caller's for OpenBytes.
    const unsigned char* text_ = nullptr;
    size_t next_ = 0;
    size_t end_ = 0;
};
