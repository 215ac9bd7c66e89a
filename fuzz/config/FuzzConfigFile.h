// Puts the fuzzer's bytes where a reader looks for its file: a private drive
// C: under the temporary folder, removed when the fuzzer exits.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/mfc/CString.h"
#include "platform/mfc/WinPath.h"
#include "tests/config/ConfigFiles.h"
#include "tests/platform/TempFolder.h"

namespace KESUFuzz {

class ConfigDrive {
public:
    ConfigDrive() { WinPath::SetDriveRoot(root_.Path().string()); }

    // Writes C:\KESU\CFG\<name> and answers its Windows path.
    CString Write(const std::string& name, const uint8_t* data, size_t size) const {
        return KESUTest::WriteConfigFile(root_, name, std::string(reinterpret_cast<const char*>(data), size));
    }

private:
    KESUTest::TempFolder root_;
};

inline const ConfigDrive& Drive() {
    static const ConfigDrive drive;
    return drive;
}

// A reader's result and its error text must agree.
inline void CheckResult(int result, const CString& errors) {
    if (result != 1 && result != -1) std::abort();
    if ((result == 1) != errors.IsEmpty()) std::abort();
}

}  // namespace KESUFuzz
