#include "platform/mfc/FileException.h"

#include <cerrno>

CFileException::Cause CFileException::ErrnoToCause(int osError) {
    switch (osError) {
        case 0:
            return none;
        case ENOENT:
            return fileNotFound;
        case ENOTDIR:
            return badPath;
        case EACCES:
        case EPERM:
            return accessDenied;
        // Busy executables, busy devices and files another process holds a lease on.
        case ETXTBSY:
        case EBUSY:
        case EWOULDBLOCK:
            return sharingViolation;
        default:
            return genericException;
    }
}

BOOL CFileException::GetErrorMessage(wchar_t* buffer, UINT maxChars) const {
    if (!buffer || maxChars == 0) return FALSE;
    const wchar_t* pattern = nullptr;
    switch (m_cause) {
        case none:
            break;
        case fileNotFound:
            pattern = L"%s was not found.";
            break;
        case badPath:
            pattern = L"The folder of %s was not found.";
            break;
        case accessDenied:
            pattern = L"Access to %s was denied.";
            break;
        case sharingViolation:
            pattern = L"Encountered a sharing violation while accessing %s.";
            break;
        case genericException:
            pattern = L"%s could not be opened.";
            break;
    }
    CString text;
    if (pattern) text.Format(pattern, m_strFileName);
    UINT n = 0;
    for (; n + 1 < maxChars && n < static_cast<UINT>(text.GetLength()); ++n)
        buffer[n] = text[static_cast<int>(n)];
    buffer[n] = L'\0';
    return pattern ? TRUE : FALSE;
}
