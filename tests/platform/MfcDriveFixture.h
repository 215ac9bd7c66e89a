// Points drive C: at a fresh temporary folder for one test and back at the
// previous root afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/mfc/WinPath.h"
#include "tests/platform/TempFolder.h"

namespace KESUTest {

class DriveTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedRoot_ = WinPath::GetDriveRoot();
        WinPath::SetDriveRoot(folder_.Path().string());
    }
    void TearDown() override { WinPath::SetDriveRoot(savedRoot_); }

    // The folder drive C: stands for.
    TempFolder folder_;

private:
    std::string savedRoot_;
};

}  // namespace KESUTest
