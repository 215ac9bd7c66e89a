// Host threads, the worker and the library all at once. Meant for the
// ThreadSanitizer build; in the others it checks that nothing hangs or fails.
#include <thread>

#include "tests/plugin/SharedConfigDeviceTest.h"

namespace KESUTest {

TEST_F(PlaceholderTest, HostThreadsAndTheStreamingWorkerShareTheDevicesSafely) {
    Connect({Amp(300, 0), Amp(400, 1), Amp(100, 2)});
    const int kRounds = 60;
    std::atomic<bool> done{false};

    struct Setting {
        const char* name;
        const char* text;
        std::vector<uint64_t> ids;
    };
    // Zeroing and the threshold leave acquisition running; the others stop it.
    const Setting settingsCycle[] = {
        {"SampleRate", "500", {1, 3}},
        {"DataThreshold", "5", {2, 3}},
        {"SyncMode", "Hardware trigger", {0}},
        {"DataThreshold", "0", {2}},
        {"SyncMode", "Genlock", {0}},
        {"SampleRate", "bad", {1}},
        {"SyncMode", "Software trigger", {0, 1}},
        {"", "", {5}},
    };
    std::thread settings([&] {
        for (int round = 0; round < kRounds; ++round) {
            const Setting& setting = settingsCycle[round % 8];
            Change(setting.name, setting.text, setting.ids);
        }
    });
    std::thread capture([&] {
        for (int round = 0; round < kRounds; ++round) {
            placeholder->Start(0, &host);
            for (const FakeInstance& instance : host.Instances()) instance.device->Start(1, &host);
            placeholder->SetStartTime(0.0);
            std::this_thread::yield();
            if (round % 4 == 3) placeholder->Stop();
        }
    });
    std::thread library([&] {
        for (int block = 0; block < 20000 && !done; ++block) {
            UsbAmpSim::HandOverBlock();
            std::this_thread::yield();
        }
    });
    std::thread status([&] {
        uint32_t state = 0;
        uint8_t flag = 0;
        for (int round = 0; round < 20000 && !done; ++round) placeholder->GetStatus(&state, &flag);
    });
    settings.join();
    capture.join();
    done = true;
    library.join();
    status.join();
    ASSERT_TRUE(Drain());

    for (const FakeLogLine& line : host.LogLines()) EXPECT_EQ(line.text.find("exception"), std::string::npos);
    EXPECT_TRUE(host.AllResultsReleased());
    EXPECT_EQ(Devices().size(), 3u);
    placeholder->Stop();
    for (const FakeInstance& instance : host.Instances()) EXPECT_EQ(StateOf(*instance.device), 2u);

    // Whatever the storm left behind, the next capture runs.
    Change("SampleRate", "1000", {});
    Change("SyncMode", "Software trigger", {0});
    ASSERT_TRUE(StartCapture());
    placeholder->SetStartTime(0.0);
    host.ClearCalls();
    ASSERT_TRUE(UsbAmpSim::HandOverBlock());
    ASSERT_TRUE(Drain());
    EXPECT_EQ(host.CallsOf("WriteSamples").size(), 3u);
}

}  // namespace KESUTest
