// Host threads, the worker and the library all at once. Meant for the
// ThreadSanitizer build; in the others it checks that nothing hangs or fails.
#include <thread>

#include "tests/plugin/SharedConfigDeviceTest.h"

namespace KESUTest {

namespace {

// A plate's side of a host that keeps nothing and takes no lock, so that the
// plate's own lock is all that orders a host thread's blink against the
// worker. It answers a blink whenever asked for the changes.
class BlinkingDeviceHost final : public ZentuDigitalDevice::IDeviceHost {
public:
    ResultPtr GetParameterValue(IParameterValue*, const char*, const char*) override { return {}; }
    ResultPtr SetParameterValue(const IParameterValue*, const char*, const char*) override { return {}; }
    uint32_t GetChangedParameterCount() override { return 1; }
    ResultPtr GetChangedParameterIds(const uint32_t*, uint64_t* ids, uint32_t* count) override {
        ids[0] = 5;
        *count = 1;
        return {};
    }
    ResultPtr WriteSamples(uint32_t, int64_t, uint32_t, const uint32_t*, uint32_t, const float*,
                           uint32_t) override {
        return {};
    }
    void NotifyStatusChanged() override {}
};

}  // namespace

TEST_F(PlaceholderTest, HostThreadsAndTheStreamingWorkerShareTheDevicesSafely) {
    const std::vector<UsbAmpSim::Amplifier> amplifiers = {Amp(300, 0), Amp(400, 1), Amp(100, 2)};
    Connect(amplifiers);
    const std::vector<Device> plates = Devices();
    // Every detection of the storm re-indexes the plates and offers the
    // host a fourth one, which it refuses, through the factory.
    BlinkingDeviceHost blinking;
    for (const Device& plate : plates) plate->Connect(&blinking);
    factory.refuseWithNullText = true;
    UsbAmpSim::SetAmplifiers({amplifiers[0], amplifiers[1], amplifiers[2], Amp(100, 3)});
    std::atomic<bool> done{false};
    struct Setting {
        const char* name;
        const char* text;
        std::vector<uint64_t> ids;
    };
    // Zeroing and the threshold leave acquisition running; the others stop it.
    const Setting settings[] = {
        {"SampleRate", "500", {1, 3}},
        {"DataThreshold", "5", {2}},
        {"SyncMode", "Hardware trigger", {0}},
        {"SyncMode", "Genlock", {0}},
        {"SampleRate", "bad", {1}},
        {"SyncMode", "Software trigger", {0, 1}},
        {"", "", {5}},
    };
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int round = 0; round < 42; ++round) {
            const Setting& s = settings[round % 7];
            Change(s.name, s.text, s.ids);
        }
    });
    threads.emplace_back([&] {
        for (int round = 0; round < 40; ++round) {
            placeholder->Start(0, &host);
            for (const FakeInstance& instance : host.Instances()) instance.device->Start(1, &host);
            placeholder->SetStartTime(0.0);
            if (round % 4 == 3) placeholder->Stop();
        }
    });
    threads.emplace_back([&] {
        for (int round = 0; round < 300 && !done; ++round) {
            for (const Device& plate : plates) plate->OnParametersChanged();
            std::this_thread::yield();
        }
    });
    threads.emplace_back([&] {
        using namespace boost::placeholders;
        for (int round = 0; !done; ++round) {
            placeholder->SetFactory(&factory);
            // Re-scans as "ScanForHardware" queues them, besides the host's own.
            if (round < 30)
                service->DetectDevices(
                    boost::bind(&KESU::VSharedConfigDevice::OnDetectionResult, placeholder.get(), _1, _2));
            std::this_thread::yield();
        }
    });
    threads.emplace_back([&] {
        uint32_t state = 0;
        uint8_t flag = 0;
        for (int block = 0; block < 20000 && !done; ++block) {
            UsbAmpSim::HandOverBlock();
            placeholder->GetStatus(&state, &flag);
            std::this_thread::yield();
        }
    });
    threads[0].join();
    threads[1].join();
    done = true;
    for (size_t t = 2; t < threads.size(); ++t) threads[t].join();
    ASSERT_TRUE(Drain());
    for (const FakeLogLine& line : host.LogLines()) EXPECT_EQ(line.text.find("exception"), std::string::npos);
    EXPECT_TRUE(host.AllResultsReleased());
    EXPECT_EQ(factory.references, 0);
    EXPECT_EQ(Devices().size(), 4u);
    factory.refuseWithNullText = false;
    Rescan(amplifiers);
    for (const Device& plate : plates) plate->Connect(&host.DeviceHost(plate->name));

    // Whatever the storm left behind, the next capture runs.
    Change("SampleRate", "1000", {});
    Change("SyncMode", "Software trigger", {0});
    ASSERT_TRUE(StartCapture());
    placeholder->SetStartTime(0.0);
    // A block whose announcement the worker's full queue refused in the storm
    // still waits in the library and comes with the next announcement.
    ASSERT_TRUE(UsbAmpSim::HandOverBlock());
    ASSERT_TRUE(Drain());
    host.ClearCalls();
    ASSERT_TRUE(UsbAmpSim::HandOverBlock());
    ASSERT_TRUE(Drain());
    EXPECT_EQ(host.CallsOf("WriteSamples").size(), 3u);
}

}  // namespace KESUTest
