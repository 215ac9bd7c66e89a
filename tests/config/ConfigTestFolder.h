// Configuration files written into a temporary drive C: for one test, and the
// error text a reader collects.
#pragma once

#include <string>

#include "platform/mfc/CString.h"
#include "tests/config/ConfigFiles.h"
#include "tests/platform/MfcDriveFixture.h"

namespace KESUTest {

class ConfigFileTest : public DriveTest {
protected:
    // Writes C:\KESU\CFG\<name> and answers its Windows path.
    CString WriteConfig(const std::string& name, const std::string& bytes) {
        return WriteConfigFile(folder_, name, bytes);
    }

    std::wstring Errors() const { return errors.GetString(); }
    // What Read makes of a message that Summary answers with.
    static std::wstring SummaryError(const std::wstring& message) {
        return L"Summary error in configuration file: \r\n" + message + L" ";
    }

    CString errors;
};

}  // namespace KESUTest
