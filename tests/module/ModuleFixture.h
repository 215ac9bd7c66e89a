// The built module loaded as a host loads it, on simulated amplifiers, with
// drive C: at a fresh folder and every pause recorded instead of waited out;
// and the steps a host takes with it on the example host's library.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/ExampleHost.h"
#include "host/PluginModule.h"
#include "platform/usbamp/UsbAmpSim.h"
#include "sdk/ParameterValues.h"
#include "tests/platform/TempFolder.h"
#include "tests/support/SleepRecorder.h"
#include "tests/support/Signal.h"

namespace KESUTest {

// An amplifier with a plate; length and width are the texts it reports, in inches.
inline UsbAmpSim::Amplifier ScriptedAmplifier(const std::string& platformModel, int serial,
                                              const std::string& length = "", const std::string& width = "") {
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

// n amplifiers of product type 100, each on a Sorvik plate of its own.
inline std::vector<UsbAmpSim::Amplifier> Amplifiers(int n) {
    std::vector<UsbAmpSim::Amplifier> amplifiers;
    for (int i = 0; i < n; ++i) {
        amplifiers.push_back(ScriptedAmplifier("Sorvik", i + 1));
        amplifiers.back().productType = 100;
    }
    return amplifiers;
}

// How often the module called this function of the simulated library.
inline size_t LibraryCalls(const std::string& function) {
    const std::vector<UsbAmpSim::Call> calls = UsbAmpSim::Calls();
    return std::count_if(calls.begin(), calls.end(),
                         [&](const UsbAmpSim::Call& call) { return call.function == function; });
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

class HostSession {
public:
    // The host's clock stands still at kNow, so a software-triggered capture
    // starts at the first block handed over after its start time is set.
    static constexpr double kNow = 100.0;

    HostSession() : host(log) {
        host.SetClock([] { return kNow; });
    }

    // Initialise, the definitions and the placeholder device; false when the
    // host did not get it.
    bool Boot(KESUHost::PluginModule& module) {
        if (!module.Initialise(&host)) return false;
        module.ProvideDeviceDefinitions(&host);
        module.BeginDeviceInstantiation(&host);
        const std::vector<KESUHost::DeviceHost*> instances = host.Instances();
        if (instances.empty()) return false;
        placeholder = instances[0];
        return true;
    }

    size_t LogCount(const std::string& text) const {
        const std::vector<std::string> lines = host.LogLines();
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }

    // Waits until the n-th detection of the session has been handled whole:
    // its handling ends by queueing the acquisition rate, whose trace line
    // then follows the detection's start-up.
    bool WaitForDetection(size_t n) {
        return host.WaitUntil(
            [&] {
                for (const std::string& line : host.LogLinesFrom(scanned_)) {
                    ++scanned_;
                    if (line == "[trace] ::fmDLLInit()") ++starts_;
                    if (starts_ == n && line.find("::fmBroadcastAcquisitionRate(") != std::string::npos)
                        handled_ = n;
                }
                return handled_ >= n;
            },
            kSafetyNet);
    }

    // Connects the placeholder (the first detection) and every plate instance the host got.
    bool Detect() {
        placeholder->Device()->Connect(placeholder);
        if (!WaitForDetection(1)) return false;
        ConnectPlates();
        return true;
    }
    void ConnectPlates() {
        plates = host.Instances();
        plates.erase(plates.begin());
        for (KESUHost::DeviceHost* plate : plates) plate->Device()->Connect(plate);
    }

    // The user's change of one common setting.
    template <typename Value, typename Set>
    bool Change(const std::string& name, Set value) {
        Value held;
        if (!placeholder->ReadValue(name, held)) return false;
        held.SetValue(value);
        if (!placeholder->SetValue(name, held)) return false;
        placeholder->Device()->OnParametersChanged();
        return true;
    }
    bool ChangeText(const std::string& name, const std::string& text) {
        return Change<ZentuDigitalDevice::IParameterValueEnum>(name, text);
    }
    bool ChangeNumber(const std::string& name, double value) {
        return Change<ZentuDigitalDevice::IParameterValueDouble>(name, value);
    }
    // "ScanForHardware" fired; the detection runs on the worker.
    bool Rescan() {
        ZentuDigitalDevice::IParameterValueAction fire;
        if (!placeholder->ReadValue("ScanForHardware", fire)) return false;
        if (!placeholder->SetValue("ScanForHardware", fire)) return false;
        placeholder->Device()->OnParametersChanged();
        return true;
    }

    // The plates, then the placeholder, as a host starts a capture; then the
    // start time. With wait, returns once the driver runs the amplifiers
    // again (its stop and start have both been done).
    bool Start(bool wait = true) {
        for (KESUHost::DeviceHost* plate : plates)
            if (!plate->Device()->Start(plate->HostDeviceId(), plate)) return false;
        if (!placeholder->Device()->Start(placeholder->HostDeviceId(), placeholder)) return false;
        placeholder->Device()->SetStartTime(kNow);
        for (KESUHost::DeviceHost* plate : plates) plate->Device()->SetStartTime(kNow);
        if (!wait) return true;
        const auto running = [&] {
            uint32_t state = 0;
            uint8_t flag = 0;
            placeholder->Device()->GetStatus(&state, &flag);
            return state == 1;
        };
        return host.WaitUntil(running, kSafetyNet) && UsbAmpSim::WaitUntilStreaming(kSafetyNet);
    }

    void Stop() {
        placeholder->Device()->Stop();
        for (KESUHost::DeviceHost* plate : plates) plate->Device()->Stop();
    }

    // Waits until every plate has received at least n packets.
    bool WaitForPackets(size_t n) const {
        return host.WaitUntil(
            [&] {
                for (KESUHost::DeviceHost* plate : plates)
                    if (plate->PacketCount() < n) return false;
                return true;
            },
            kSafetyNet);
    }

    std::ostringstream log;
    KESUHost::ExampleHost host;
    KESUHost::DeviceHost* placeholder = nullptr;
    std::vector<KESUHost::DeviceHost*> plates;

private:
    // How far WaitForDetection has read the log, and what it found there.
    size_t scanned_ = 0, starts_ = 0, handled_ = 0;
};

}  // namespace KESUTest
