// The built module loaded as a host loads it, on simulated amplifiers, with
// drive C: at a fresh folder and every pause recorded instead of waited out.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/PluginModule.h"
#include "platform/usbamp/UsbAmpSim.h"
#include "tests/platform/TempFolder.h"
#include "tests/support/SleepRecorder.h"

namespace KESUTest {

// An amplifier with a plate; length and width are the texts it reports, in inches.
inline UsbAmpSim::Amplifier ScriptedAmplifier(const std::string& platformModel, const std::string& length,
                                              const std::string& width, int serial) {
    UsbAmpSim::Amplifier amplifier;
    amplifier.productType = 300;
    amplifier.amplifierModel = "MIRT-300";
    amplifier.amplifierSerial = "A" + std::to_string(serial);
    amplifier.amplifierFirmware = "3.02";
    amplifier.platformModel = platformModel;
    amplifier.platformSerial = "P" + std::to_string(serial);
    amplifier.xyzOffsets = {0.25f, -0.5f, 1.5f};
    amplifier.length = length;
    amplifier.width = width;
    return amplifier;
}

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        UsbAmpSim::Reset();
        // The module's drive C: is out of reach once it is loaded.
        setenv("KESU_DRIVE_C", drive_.Path().c_str(), 1);
    }
    void TearDown() override {
        module_.reset();
        UsbAmpSim::Reset();
        unsetenv("KESU_DRIVE_C");
    }

    void WriteConfig(const std::string& name, const std::string& bytes) {
        drive_.Write("KESU/CFG/" + name, bytes);
    }

    KESUHost::PluginModule& Load() {
        module_.reset(new KESUHost::PluginModule(KESU_MODULE_FILE));
        EXPECT_TRUE(module_->IsLoaded()) << module_->Error();
        return *module_;
    }
    void Unload() { module_.reset(); }

    // Unloads the module when a scope ends, also an ASSERT's early return:
    // declared after a host, it goes before the host does.
    struct UnloadAtEnd {
        ModuleTest& test;
        ~UnloadAtEnd() { test.Unload(); }
    };

    TempFolder drive_;
    SleepRecorder sleeps_;
    std::unique_ptr<KESUHost::PluginModule> module_;
};

}  // namespace KESUTest
