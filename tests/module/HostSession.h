// The steps a host takes with the module, on the example host's library: load
// and boot, detect and connect the plates, change a common setting, start and
// stop a capture. Shared by the soak, the fault and the lifetime suites.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "host/ExampleHost.h"
#include "host/PluginModule.h"
#include "platform/usbamp/UsbAmpSim.h"
#include "sdk/ParameterValues.h"
#include "tests/module/ModuleFixture.h"
#include "tests/support/Signal.h"

namespace KESUTest {

// n amplifiers of one product type, each on a Sorvik plate of its own.
inline std::vector<UsbAmpSim::Amplifier> Amplifiers(int n, int32_t productType = 100) {
    std::vector<UsbAmpSim::Amplifier> amplifiers;
    for (int i = 0; i < n; ++i) {
        amplifiers.push_back(ScriptedAmplifier("Sorvik", "", "", i + 1));
        amplifiers.back().productType = productType;
    }
    return amplifiers;
}

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

    // Lines of the log that contain this text.
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
        if (!placeholder->ReadValue("ScanForHardware", fire) ||
            !placeholder->SetValue("ScanForHardware", fire))
            return false;
        placeholder->Device()->OnParametersChanged();
        return true;
    }

    static uint32_t StateOf(KESUHost::DeviceHost* device) {
        uint32_t state = 0;
        uint8_t flag = 0;
        device->Device()->GetStatus(&state, &flag);
        return state;
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
        return host.WaitUntil([&] { return StateOf(placeholder) == 1; }, kSafetyNet) &&
               UsbAmpSim::WaitUntilStreaming(kSafetyNet);
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
