// Configuration files written into a temporary drive C: for one test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/mfc/CString.h"
#include "platform/mfc/WinPath.h"
#include "tests/platform/TempFolder.h"

namespace KESUTest {

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedRoot_ = WinPath::GetDriveRoot();
        WinPath::SetDriveRoot(folder_.Path().string());
    }
    void TearDown() override { WinPath::SetDriveRoot(savedRoot_); }

    // Writes C:\KESU\CFG\<name> and answers its Windows path.
    CString WriteConfig(const std::string& name, const std::string& bytes) {
        folder_.Write("KESU/CFG/" + name, bytes);
        return ConfigPath(name);
    }
    static CString ConfigPath(const std::string& name) {
        const std::wstring path = L"C:\\KESU\\CFG\\" + std::wstring(name.begin(), name.end());
        return CString(path.c_str());
    }

    TempFolder folder_;

private:
    std::string savedRoot_;
};

}  // namespace KESUTest
