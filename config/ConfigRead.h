// Reader of the comma-separated keyword configuration files.
//
// Read opens a file, numbers its lines, skips blank and '%' comment lines,
// recognises each line's keyword in the table of the concrete reader, splits
// its parameters and hands it to ProcessKeyword; bad lines are described in
// the error text with their line numbers, and Summary cross-checks the whole
// file at the end. A reader is built, Read once, read out and destroyed.
#pragma once

#include <cstdint>

#include "platform/mfc/CString.h"

class CStdioFile;

// One row of a reader's keyword table.
struct ConfigKeyword {
    const wchar_t* keyword;  // upper case, compared exactly
    int32_t id;              // 1-based, handed to ProcessKeyword
    int32_t paramCount;      // comma-separated parameters after the keyword
};

class ConfigRead {
public:
    ConfigRead() = default;
    virtual ~ConfigRead() = default;
    ConfigRead(const ConfigRead&) = delete;
    ConfigRead& operator=(const ConfigRead&) = delete;

    // Resets the concrete reader's settings and counters and installs its table.
    virtual void Init() = 0;
    // Stores one recognised line. params holds the row's paramCount trimmed
    // texts; a problem is described in message, which arrives empty. Answers
    // true exactly when message is still empty.
    virtual bool ProcessKeyword(int id, const CString params[], CString& message) = 0;
    // Cross-checks the file after its last line; message arrives empty. A
    // negative result is an error described in message.
    virtual int Summary(CString& message) = 0;

    // path is a Windows path. 1: read, errors empty. 0: the file or its folder
    // does not exist (nothing read, Init not called). -1: errors describes an
    // open failure, bad lines or a Summary error.
    int Read(const CString& path, CString& errors);
    // What Read does once the file is open, on a file opened by the caller
    // (also over bytes in memory, CStdioFile::OpenBytes): 1 or -1 as above.
    int ReadOpened(CStdioFile& file, CString& errors);

    // Takes the next count comma-separated tokens of line from position into
    // params[0..count-1], each trimmed. False when the line runs out first.
    static bool SplitParameters(const CString& line, int position, CString params[], int count);
    // Converts text as an integer into value (also when out of range) and
    // answers min <= value <= max.
    static bool ParseRangedInt(const CString& text, int& value, int min, int max);

    const ConfigKeyword* keywords = nullptr;
    int32_t keywordCount = 0;
    // Set to 0 by Read; Summary sets the number of results of a clean, enabled file.
    int32_t resultCount = 0;
};
