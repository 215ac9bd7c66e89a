// Puts the fuzzer's bytes where a reader looks for its file: a private drive
// C: under the temporary folder, removed when the fuzzer exits.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/mfc/CString.h"
#include "platform/mfc/WinPath.h"

namespace KESUFuzz {

class ConfigDrive {
public:
    ConfigDrive() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kesu-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        root_ = pattern;
        std::filesystem::create_directories(root_ / "KESU" / "CFG");
        WinPath::SetDriveRoot(root_.string());
    }
    ~ConfigDrive() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    // Writes C:\KESU\CFG\<name> and answers its Windows path.
    CString Write(const std::string& name, const uint8_t* data, size_t size) const {
        std::ofstream out(root_ / "KESU" / "CFG" / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        out.close();
        if (!out) std::abort();
        const std::wstring path = L"C:\\KESU\\CFG\\" + std::wstring(name.begin(), name.end());
        return CString(path.c_str());
    }

private:
    std::filesystem::path root_;
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
