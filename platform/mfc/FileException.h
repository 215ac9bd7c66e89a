// Why a file could not be opened, with a one-line description naming the file.
#pragma once

#include "platform/mfc/CString.h"
#include "platform/win/WinApi.h"

class CFileException {
public:
    enum Cause {
        none,
        genericException,  // any cause not listed below, e.g. a folder given as the file
        fileNotFound,      // the folder exists, the file does not
        badPath,           // the folder does not exist (or the drive)
        accessDenied,
        sharingViolation,
    };

    CFileException() = default;
    CFileException(Cause cause, int osError, const CString& fileName)
        : m_cause(cause), m_lOsError(osError), m_strFileName(fileName) {}

    // The cause an errno value stands for. ENOENT alone cannot tell a missing
    // file from a missing folder; the opener looks at the folder for that.
    static Cause ErrnoToCause(int osError);

    // Writes the description into buffer, cut to maxChars - 1 characters and
    // terminated. FALSE (buffer emptied) when there is no failure to describe;
    // FALSE without writing when there is no room at all.
    BOOL GetErrorMessage(wchar_t* buffer, UINT maxChars) const;

    Cause m_cause = none;
    int m_lOsError = 0;     // errno of the failure
    CString m_strFileName;  // the path as it was given to Open
};
