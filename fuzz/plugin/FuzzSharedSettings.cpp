// Arbitrary "SampleRate", "SyncMode" and "DataThreshold" values through the
// placeholder device, as a detection, a change notice and a start read them,
// with amplifier types of the input's choosing. The driver's pauses are
// skipped and its queue is drained after every run.
// Input: a byte of types, the threshold (8 bytes), then the rate text, a
// newline and the sync mode text.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "fuzz/plugin/FuzzPlugin.h"
#include "platform/usbamp/UsbAmpSim.h"
#include "platform/win/WinApi.h"
#include "plugin/VSharedConfigDevice.h"
#include "sdk/ModuleHost.h"
#include "sdk/ParameterValues.h"

namespace {

class SettingsHost : public KESUFuzz::CheckingHost {
public:
    const ZentuDigitalDevice::IParameterValue* Answer(const char* name) override {
        const std::string asked = name ? name : "";
        if (asked == "SampleRate") return &rate;
        if (asked == "SyncMode") return &syncMode;
        if (asked == "DataThreshold") return &threshold;
        return nullptr;
    }
    ZentuDigitalDevice::IParameterValueEnum rate, syncMode;
    ZentuDigitalDevice::IParameterValueDouble threshold;
};

KESU::VKESUDriverService& Driver() {
    // One for the process: its worker runs the queued commands on the simulated library.
    static KESU::VKESUDriverService* driver = [] {
        WinApi::SetSleepHook([](DWORD) {});
        return new KESU::VKESUDriverService;
    }();
    return *driver;
}

// Returns once the worker has run every command queued so far.
void Drain(KESU::VKESUDriverService& driver) {
    std::mutex mutex;
    std::condition_variable done;
    bool ran = false;
    driver.Enqueue([&] {
        std::lock_guard<std::mutex> lock(mutex);
        ran = true;
        done.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    done.wait(lock, [&] { return ran; });
}

bool SameThreshold(double a, double b) {
    return a == b || (a != a && b != b);
}

// What holds after every step, whatever the texts were; the rate reached every
// device once it was taken (a rate text that is no rate changes nothing).
void CheckSettings(const KESU::VSharedConfigDevice& placeholder, double threshold, bool rateTaken) {
    KESUFuzz::Require(placeholder.syncMode <= 2);
    KESUFuzz::Require(placeholder.rateCount >= 0 && placeholder.rateCount <= KESU::kDefaultRateCount);
    for (int32_t i = 1; i < placeholder.rateCount; ++i)
        KESUFuzz::Require(placeholder.rates[i] < placeholder.rates[i - 1]);
    for (const boost::shared_ptr<KESU::VKESUMirtDevice>& device : placeholder.devices) {
        KESUFuzz::Require(device->syncMode == placeholder.syncMode);
        KESUFuzz::Require(!rateTaken || device->sampleRate == placeholder.sampleRate);
        KESUFuzz::Require(SameThreshold(device->dataThreshold, threshold));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) return 0;
    static const int32_t kTypeChoices[4] = {100, 300, 400, 200};
    const int32_t types[3] = {kTypeChoices[data[0] & 3], kTypeChoices[(data[0] >> 2) & 3],
                              kTypeChoices[(data[0] >> 4) & 3]};
    double threshold = 0.0;
    std::memcpy(&threshold, data + 1, sizeof threshold);
    const std::string texts(reinterpret_cast<const char*>(data + 9), size - 9);
    const size_t newline = texts.find('\n');

    SettingsHost host;
    host.rate.SetValue(texts.substr(0, newline));
    host.syncMode.SetValue(newline == std::string::npos ? "" : texts.substr(newline + 1));
    host.threshold.SetValue(threshold);
    KESU::VKESUDriverService& driver = Driver();
    KESU::g_host = &host;
    {
        KESU::VSharedConfigDevice placeholder(&driver);
        boost::unique_lock<boost::mutex> lock(placeholder.mutex);
        placeholder.deviceHost = &host;
        lock.unlock();

        KESU::VKESUDriverService::VDllInitInfo info;
        placeholder.OnDetectionResult(info, KESUFuzz::Detection(types));
        lock.lock();
        CheckSettings(placeholder, threshold, false);
        lock.unlock();

        host.changed = {placeholder.definition.sampleRate.id, placeholder.definition.syncMode.id,
                        placeholder.definition.dataThreshold.id};
        placeholder.OnParametersChanged();
        const bool started = placeholder.Start(0, nullptr);
        lock.lock();
        CheckSettings(placeholder, threshold, started);
        lock.unlock();
        placeholder.Stop();
        Drain(driver);
        // The library's record of calls would grow run after run.
        UsbAmpSim::ClearCalls();
    }
    KESU::g_host = nullptr;
    return 0;
}
