// Host threads, the worker and the library all at once. Meant for the
// ThreadSanitizer build; in the others it checks that nothing hangs or fails.
#include <thread>

#include "tests/plugin/SharedConfigDeviceTest.h"

namespace KESUTest {

TEST_F(PlaceholderTest, HostThreadsAndTheStreamingWorkerShareTheDevicesSafely) {
    Connect({Amp(300, 0), Amp(400, 1), Amp(100, 2)});
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
    threads[2].join();
    ASSERT_TRUE(Drain());
    for (const FakeLogLine& line : host.LogLines()) EXPECT_EQ(line.text.find("exception"), std::string::npos);
    EXPECT_TRUE(host.AllResultsReleased());
    EXPECT_EQ(Devices().size(), 3u);

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
