// What the placeholder device suites share: the real driver service on the
// simulated library, the recording fake host as the module's host, the Sleep
// recorder, and one placeholder device connected the way the host does it.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/usbamp/UsbAmpSim.h"
#include "plugin/VSharedConfigDevice.h"
#include "tests/support/FakeHost.h"
#include "tests/support/SleepRecorder.h"

namespace KESUTest {

using Device = boost::shared_ptr<KESU::VKESUMirtDevice>;

// The placeholder's side of the host. Forwards to a FakeDeviceHost; like a
// host that redraws at once, it asks the device for its status inside every
// NotifyStatusChanged (where the device holds its own mutex). It can also
// answer a changed-id count that does not fit the ids it writes.
class AskingDeviceHost final : public ZentuDigitalDevice::IDeviceHost {
public:
    AskingDeviceHost(FakeDeviceHost& inner, ZentuDigitalDevice::IDevice& device)
        : inner_(inner), device_(device) {}
    ZentuDigitalDevice::ResultPtr GetParameterValue(ZentuDigitalDevice::IParameterValue* into,
                                                    const char* name, const char* scope) override;
    ZentuDigitalDevice::ResultPtr SetParameterValue(const ZentuDigitalDevice::IParameterValue* value,
                                                    const char* name, const char* scope) override;
    uint32_t GetChangedParameterCount() override;
    ZentuDigitalDevice::ResultPtr GetChangedParameterIds(const uint32_t* selector, uint64_t* ids,
                                                         uint32_t* count) override;
    ZentuDigitalDevice::ResultPtr WriteSamples(uint32_t hostDeviceId, int64_t firstIndex,
                                               uint32_t sampleCount, const uint32_t* outputIds,
                                               uint32_t outputCount, const float* values,
                                               uint32_t valueCount) override;
    void NotifyStatusChanged() override;

    // The state and flag GetStatus gave at each notification, as state * 10 + flag.
    std::vector<uint32_t> Statuses() const;
    FakeDeviceHost& Inner() { return inner_; }

    std::atomic<uint32_t> extraRoom{0};     // added to the count the host answers
    std::atomic<uint32_t> extraClaimed{0};  // added to the count of ids it says it wrote

private:
    FakeDeviceHost& inner_;
    ZentuDigitalDevice::IDevice& device_;
    mutable std::mutex mutex_;
    std::vector<uint32_t> statuses_;
};

// The factory the placeholder is given: the FakeHost's, which connects every
// accepted device at once (inside detection handling, on the worker), or one
// that refuses with a result whose text is null.
class ConnectingFactory final : public ZentuDigitalDevice::IDeviceFactory,
                                public ZentuDigitalDevice::IResult {
public:
    explicit ConnectingFactory(FakeHost& host) : host_(host) {}
    ZentuDigitalDevice::ResultPtr InstantiateDevice(const char* maker, const char* definitionName,
                                                    const char* version, const char* instanceName,
                                                    ZentuDigitalDevice::IDevice* device) override;
    // The null-text refusal.
    const char* GetText() const override { return nullptr; }
    void AddRef() override { ++references; }
    void Release() override { --references; }

    std::atomic<bool> refuseWithNullText{false};
    std::atomic<int> references{0};

private:
    FakeHost& host_;
};

class PlaceholderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Instantiates the placeholder through the host and connects it, which
    // runs the first detection; waits until the worker is idle.
    void Connect(const std::vector<UsbAmpSim::Amplifier>& amplifiers);
    // "ScanForHardware" fired in the host; waits for the detection.
    void Rescan(const std::vector<UsbAmpSim::Amplifier>& amplifiers);
    // The host's change of one placeholder parameter (empty name: none), then
    // its change notification with these ids, on this thread.
    void Change(const std::string& name, const std::string& text, std::vector<uint64_t> ids);
    // Waits until the worker has run every command queued and handled every
    // data message posted before this call, and the commands those queued.
    bool Drain();
    // The host starts every amplifier device and then the placeholder; waits
    // until the library streams.
    bool StartCapture();
    // Hands one block to the library as it is and waits until it was handled.
    void Feed(const std::vector<float>& block);

    std::vector<Device> Devices();
    // The log above trace level, as "level text", without the driver's
    // lines about library calls ("::...").
    std::vector<std::string> Log() const;
    // The first sample index of every packet written by the device with that name.
    std::vector<int64_t> FirstIndices(const std::string& name) const;
    static uint32_t StateOf(ZentuDigitalDevice::IDevice& device);

    FakeHost host;
    SleepRecorder recorder;
    ConnectingFactory factory{host};
    std::unique_ptr<AskingDeviceHost> placeholderHost;
    std::unique_ptr<KESU::VSharedConfigDevice> placeholder;
    std::unique_ptr<KESU::VKESUDriverService> service;
};

// Amplifier n of a product type, on a platform that fits no model (10 by 10
// inches), named "ASn" / "PSn"; its device is named "ASnPSn".
UsbAmpSim::Amplifier Amp(int32_t productType, int n);

// A block of n amplifiers whose sample s counts first + s on every amplifier,
// no load and idle triggers; At reaches float f of amplifier d in sample s.
std::vector<float> Block(uint32_t n, float first);
float& At(std::vector<float>& block, uint32_t n, uint32_t s, uint32_t d, uint32_t f);

}  // namespace KESUTest
