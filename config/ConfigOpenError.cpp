#include "config/ConfigOpenError.h"

#include "platform/win/WinApi.h"

namespace ConfigOpenError {

namespace {

// The description and its terminator.
constexpr UINT kDescriptionRoom = 100;

}  // namespace

CString Text(const CFileException& failure) {
    wchar_t description[kDescriptionRoom];
    failure.GetErrorMessage(description, kDescriptionRoom);
    CString text;
    text.Format(L"Cannot open configuration file: %s", description);
    return text;
}

}  // namespace ConfigOpenError
