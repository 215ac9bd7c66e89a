// What the placeholder device suites share: the real driver service on the
// simulated library, the recording fake host as the module's host, the Sleep
// recorder, and one placeholder device connected the way the host does it.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/bind/bind.hpp>
#include <boost/thread/locks.hpp>

#include "platform/usbamp/UsbAmpSim.h"
#include "plugin/ModuleStatics.h"
#include "plugin/VSharedConfigDevice.h"
#include "tests/support/FakeHost.h"
#include "tests/support/SettleWorker.h"
#include "tests/support/Signal.h"
#include "tests/support/SleepRecorder.h"

namespace KESUTest {

using Device = boost::shared_ptr<KESU::VKESUMirtDevice>;
using ZentuDigitalDevice::IDevice;
using ZentuDigitalDevice::IParameterValue;
using ZentuDigitalDevice::ResultPtr;

// A device's side of the host, forwarding to a FakeDeviceHost. Like a
// host that redraws at once, it asks for the status inside every
// NotifyStatusChanged (where the device holds its mutex); it can also answer a
// changed-id count that does not fit the ids it writes, and run a step of
// the test inside a write.
class AskingDeviceHost final : public ZentuDigitalDevice::IDeviceHost {
public:
    AskingDeviceHost(FakeDeviceHost& inner, IDevice& device) : inner(inner), device_(device) {}
    ResultPtr GetParameterValue(IParameterValue* into, const char* name, const char* scope) override {
        return inner.GetParameterValue(into, name, scope);
    }
    ResultPtr SetParameterValue(const IParameterValue* value, const char* name, const char* scope) override {
        return inner.SetParameterValue(value, name, scope);
    }
    uint32_t GetChangedParameterCount() override { return inner.GetChangedParameterCount() + extraRoom; }
    ResultPtr GetChangedParameterIds(const uint32_t* selector, uint64_t* ids, uint32_t* count) override {
        ResultPtr result = inner.GetChangedParameterIds(selector, ids, count);
        *count += extraClaimed;
        return result;
    }
    ResultPtr WriteSamples(uint32_t id, int64_t first, uint32_t samples, const uint32_t* outputIds,
                           uint32_t outputs, const float* values, uint32_t count) override {
        ResultPtr result = inner.WriteSamples(id, first, samples, outputIds, outputs, values, count);
        std::function<void()> step;
        step.swap(inside);
        if (step) step();
        return result;
    }
    void NotifyStatusChanged() override {
        uint32_t state = 9;
        uint8_t flag = 9;
        device_.GetStatus(&state, &flag);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            statuses_.push_back(state * 10 + flag);
        }
        inner.NotifyStatusChanged();
    }
    // The status at each notification, as state * 10 + flag.
    std::vector<uint32_t> Statuses() {
        std::lock_guard<std::mutex> lock(mutex_);
        return statuses_;
    }

    FakeDeviceHost& inner;
    std::atomic<uint32_t> extraRoom{0};     // added to the count the host answers
    std::atomic<uint32_t> extraClaimed{0};  // added to the count of ids it says it wrote
    std::function<void()> inside;           // run once inside the next WriteSamples; set while idle

private:
    IDevice& device_;
    std::mutex mutex_;
    std::vector<uint32_t> statuses_;
};

// The FakeHost's factory, except that it connects every accepted device at
// once (inside detection handling, on the worker), or refuses with a null text.
class ConnectingFactory final : public ZentuDigitalDevice::IDeviceFactory,
                                public ZentuDigitalDevice::IResult {
public:
    explicit ConnectingFactory(FakeHost& host) : host_(host) {}
    ResultPtr InstantiateDevice(const char* maker, const char* name, const char* version,
                                const char* instance, IDevice* device) override {
        if (refuseWithNullText) return AddRef(), ResultPtr(this);
        ResultPtr result = host_.InstantiateDevice(maker, name, version, instance, device);
        if (result.IsEmpty()) device->Connect(&host_.DeviceHost(instance));
        return result;
    }
    const char* GetText() const override { return nullptr; }
    void AddRef() override { ++references; }
    void Release() override { --references; }

    std::atomic<bool> refuseWithNullText{false};
    std::atomic<int> references{0};

private:
    FakeHost& host_;
};

// Amplifier n of a product type, on a platform that fits no model (10 by 10
// inches); its device is named "ASnPSn".
inline UsbAmpSim::Amplifier Amp(int32_t productType, int n) {
    UsbAmpSim::Amplifier amp;
    amp.productType = productType;
    amp.amplifierModel = "AM" + std::to_string(n);
    amp.amplifierSerial = "AS" + std::to_string(n);
    amp.platformModel = "PM" + std::to_string(n);
    amp.platformSerial = "PS" + std::to_string(n);
    amp.length = amp.width = "10";
    return amp;
}

// Float f of amplifier d in sample s of a block of n amplifiers.
inline float& At(std::vector<float>& block, uint32_t n, uint32_t s, uint32_t d, uint32_t f) {
    return block[(s * n + d) * 8 + f];
}

// Sample s counts first + s on every amplifier; no load, idle triggers.
inline std::vector<float> Block(uint32_t n, float first) {
    std::vector<float> block(16 * n * 8, 0.0f);
    for (uint32_t s = 0; s < 16; ++s)
        for (uint32_t d = 0; d < n; ++d) {
            At(block, n, s, d, 0) = first + static_cast<float>(s);
            At(block, n, s, d, 7) = UsbAmpSim::kTriggerIdle;
        }
    return block;
}

class PlaceholderTest : public ::testing::Test {
protected:
    void SetUp() override {
        UsbAmpSim::Reset();
        KESU::g_host = &host;
        KESU::g_sharedConfigDefinition.Describe(&host, false);
        service = std::make_unique<KESU::VKESUDriverService>();
        placeholder = std::make_unique<KESU::VSharedConfigDevice>(service.get());
        placeholder->SetFactory(&factory);
    }
    void TearDown() override {
        UsbAmpSim::ReleaseHeldCall();
        recorder.SetPauseCallback(nullptr);
        service.reset();  // the worker calls the placeholder until the service has ended
        placeholder.reset();
        KESU::g_host = nullptr;
        UsbAmpSim::Reset();
    }

    // Instantiates the placeholder through the host and connects it, which
    // runs the first detection; waits for it.
    void Connect(const std::vector<UsbAmpSim::Amplifier>& amplifiers) {
        UsbAmpSim::SetAmplifiers(amplifiers);
        const KESU::VSharedConfigDefinition& definition = KESU::g_sharedConfigDefinition;
        ASSERT_TRUE(host.InstantiateDevice(definition.maker.c_str(), definition.name.c_str(),
                                           definition.version.c_str(), kName, placeholder.get())
                        .IsEmpty());
        placeholderHost = std::make_unique<AskingDeviceHost>(host.DeviceHost(kName), *placeholder);
        placeholder->Connect(placeholderHost.get());
        ASSERT_TRUE(Drain());
    }
    // "ScanForHardware" fired in the host; waits for the detection.
    void Rescan(const std::vector<UsbAmpSim::Amplifier>& amplifiers) {
        UsbAmpSim::SetAmplifiers(amplifiers);
        Change("", "", {5});
        ASSERT_TRUE(Drain());
    }
    // The host's change of one placeholder parameter (empty name: none), then
    // its change notification with these ids, on this thread.
    void Change(const std::string& name, const std::string& text, std::vector<uint64_t> ids) {
        const KESU::VSharedConfigDefinition& definition = KESU::g_sharedConfigDefinition;
        FakeDeviceHost& stored = placeholderHost->inner;
        if (name == "DataThreshold") {
            ZentuDigitalDevice::IParameterValueDouble value = definition.dataThreshold.value;
            value.SetValue(std::stod(text));
            ASSERT_TRUE(stored.SetStoredValue(name, value));
        } else if (!name.empty()) {
            ZentuDigitalDevice::IParameterValueEnum value =
                name == "SyncMode" ? definition.syncMode.value : definition.sampleRate.value;
            value.SetValue(text);
            ASSERT_TRUE(stored.SetStoredValue(name, value));
        }
        stored.SetChangedParameterIds(ids);
        placeholder->OnParametersChanged();
    }
    // Waits until the worker has run every command queued and handled every
    // data message posted before this call, and the commands those queued.
    bool Drain() {
        // Twice: detection handling queues the rate and the mode behind the first.
        return SettleWorker(*service) && SettleWorker(*service);
    }
    // The host starts every amplifier device and then the placeholder; waits
    // until the library streams.
    bool StartCapture() {
        for (const Device& device : Devices()) device->Start(1, &host);
        const bool started = placeholder->Start(0, &host);
        EXPECT_TRUE(Drain());
        EXPECT_TRUE(!started || UsbAmpSim::WaitUntilStreaming(kSafetyNet));
        return started;
    }
    // Hands one block to the library as it is and waits until it was handled.
    void Feed(const std::vector<float>& block) {
        ASSERT_TRUE(UsbAmpSim::HandOverBlock(block));
        ASSERT_TRUE(Drain());
    }
    std::vector<Device> Devices() {
        boost::unique_lock<boost::mutex> lock(placeholder->mutex);
        return placeholder->devices;
    }
    // The log above trace level as "level text", without the driver's lines about library calls.
    std::vector<std::string> Log() const {
        std::vector<std::string> lines;
        for (const FakeLogLine& line : host.LogLines())
            if (line.level > 0 && line.text.compare(0, 2, "::") != 0)
                lines.push_back(std::to_string(line.level) + " " + line.text);
        return lines;
    }
    // The first sample index of every packet written by the device of that name.
    std::vector<int64_t> FirstIndices(const std::string& name) const {
        std::vector<int64_t> indices;
        for (const FakeCall& call : host.CallsOf("WriteSamples"))
            if (call.deviceHost == name) indices.push_back(call.numbers[1]);
        return indices;
    }
    static uint32_t StateOf(IDevice& device) {
        uint32_t state = 9;
        uint8_t flag = 0;
        device.GetStatus(&state, &flag);
        return state;
    }
    // Library calls other than data transfers, as "fmBroadcastAcquisitionRate(1000)".
    static std::vector<std::string> LibraryCalls() {
        std::vector<std::string> calls;
        for (const UsbAmpSim::Call& call : UsbAmpSim::Calls()) {
            if (call.function == "fmDLLTransferFloatData") continue;
            std::string text = call.function + "(";
            for (size_t i = 0; i < call.arguments.size(); ++i)
                text += (i ? ", " : "") + std::to_string(call.arguments[i]);
            calls.push_back(text + ")");
        }
        return calls;
    }

    static constexpr const char* kName = "KESU Shared Config Device";
    FakeHost host;
    SleepRecorder recorder;
    ConnectingFactory factory{host};
    std::unique_ptr<AskingDeviceHost> placeholderHost;
    std::unique_ptr<KESU::VSharedConfigDevice> placeholder;
    std::unique_ptr<KESU::VKESUDriverService> service;
};

}  // namespace KESUTest
