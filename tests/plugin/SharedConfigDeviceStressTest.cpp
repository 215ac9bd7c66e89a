// Host threads, the worker and the library all at once. Meant for the
// ThreadSanitizer build; in the others it checks that nothing hangs or fails.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/plugin/SharedConfigDeviceTest.h"
#include "tests/support/ThreadState.h"

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

// A plate's side of a host slower than the amplifiers: while it writes a
// block, they make two more, once it is told to flood. It keeps the index of
// each packet, and counts the packets written while a host thread sleeps in
// a call that has not yet taken effect (which the worker sees under the
// devices' locks).
class FloodedDeviceHost final : public ZentuDigitalDevice::IDeviceHost {
public:
    ResultPtr GetParameterValue(IParameterValue*, const char*, const char*) override { return {}; }
    ResultPtr SetParameterValue(const IParameterValue*, const char*, const char*) override { return {}; }
    uint32_t GetChangedParameterCount() override { return 0; }
    ResultPtr GetChangedParameterIds(const uint32_t*, uint64_t*, uint32_t* count) override {
        *count = 0;
        return {};
    }
    ResultPtr WriteSamples(uint32_t, int64_t first, uint32_t, const uint32_t*, uint32_t, const float*,
                           uint32_t) override {
        if (floods) {
            UsbAmpSim::HandOverBlock();
            UsbAmpSim::HandOverBlock();
        }
        firsts.push_back(first);
        std::lock_guard<std::mutex> lock(mutex_);
        ++written;
        if (!taken_) taken_ = taken();
        if (!taken_ && ThreadState(caller_) == 'S') ++waited_;
        wrote_.notify_all();
        return {};
    }
    void NotifyStatusChanged() override {}
    // The calling thread, from now on, until `taken` answers true on the worker.
    void Watch(std::function<bool()> taken) {
        std::lock_guard<std::mutex> lock(mutex_);
        caller_ = KernelThreadId();
        this->taken = std::move(taken);
        taken_ = false;
        waited_ = 0;
    }
    size_t Waited() {
        std::lock_guard<std::mutex> lock(mutex_);
        return waited_;
    }
    bool WaitForWrites(size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return wrote_.wait_for(lock, kSafetyNet, [&] { return written >= n; });
    }

    std::atomic<bool> floods{false};
    std::atomic<size_t> written{0};
    std::vector<int64_t> firsts;  // read once the worker is idle

private:
    std::mutex mutex_;
    std::condition_variable wrote_;
    std::function<bool()> taken = [] { return true; };
    bool taken_ = true;
    long caller_ = 0;
    size_t waited_ = 0;
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

// The worker takes the placeholder's lock for every block and again right
// after; a host thread still gets either device's lock within the block being
// handled and the next, however long the flood has lasted.
TEST_F(PlaceholderTest, AHostCallInAFloodWaitsAtMostTwoBlocksFirstCallIncluded) {
    Connect({});
    // With genlock every packet is numbered by the amplifiers' own counter,
    // so the numbering runs on across the captures.
    Change("SyncMode", "Genlock", {0});
    const char* const rates[] = {"500", "1000"};  // 1000 before
    // In a flood the worker's queue fills and refuses announcements; the
    // blocks wait in the library for the next one. Posted once there is room,
    // unless the worker has taken a block by then.
    const auto announce = [&](const FloodedDeviceHost& plate, size_t written) {
        const auto giveUp = std::chrono::steady_clock::now() + kSafetyNet;
        while (
            !PostThreadMessageW(service->WorkerThreadId(), KESU::VKESUDriverService::WM_DATA_READY, 0, 0) &&
            plate.written == written)
            ASSERT_LT(std::chrono::steady_clock::now(), giveUp);
    };
    // Retired plates keep their host, until the worker has ended.
    std::vector<std::unique_ptr<FloodedDeviceHost>> hosts;
    struct EndWorker {
        std::unique_ptr<KESU::VKESUDriverService>& service;
        ~EndWorker() { service.reset(); }
    } endWorker{service};
    // With one plate, its lock too is let go and taken again at once: the
    // first plate's is the last one the worker takes for a block.
    for (const int amplifiers : {2, 1}) {
        SCOPED_TRACE(amplifiers);
        Rescan(amplifiers == 2 ? std::vector<UsbAmpSim::Amplifier>{Amp(100, 0), Amp(100, 1)}
                               : std::vector<UsbAmpSim::Amplifier>{Amp(100, 0)});
        const std::vector<Device> plates = Devices();
        std::vector<FloodedDeviceHost*> plateHosts;
        for (const Device& plate : plates) {
            hosts.emplace_back(new FloodedDeviceHost);
            plateHosts.push_back(hosts.back().get());
            plate->Connect(plateHosts.back());
        }
        FloodedDeviceHost& counting = *plateHosts[0];
        const uint64_t droppedBefore = UsbAmpSim::DroppedBlocks();
        ASSERT_TRUE(StartCapture());
        plateHosts.back()->floods = true;
        for (int repeat = 0; repeat < 20; ++repeat) {
            SCOPED_TRACE(repeat);
            // The amplifiers run; the flood grows until it could outlast a
            // start, the first time until the library's buffer is full.
            const size_t kicked = counting.written;
            UsbAmpSim::HandOverBlock();
            announce(counting, kicked);
            ASSERT_TRUE(counting.WaitForWrites(kicked + (repeat == 0 ? 320 : 64)));
            const char* rate = rates[repeat % 2];
            struct Call {
                std::function<void()> call;
                std::function<bool()> taken;  // on the worker inside the first plate's write
            };
            std::vector<Call> calls = {{[&] { EXPECT_TRUE(placeholder->Start(0, &host)); },
                                        [&] { return StateOf(*placeholder) == 0; }}};
            for (uint32_t id = 100; id < 150; ++id)
                calls.push_back({[&, id] { EXPECT_TRUE(plates[0]->Start(id, &host)); },
                                 [&, id] { return plates[0]->hostDeviceId == id; }});
            calls.push_back({[&] { placeholder->Stop(); }, [&] { return StateOf(*placeholder) == 2; }});
            // Stops the amplifiers; the blocks they made still come.
            calls.push_back({[&] { placeholder->OnParametersChanged(); },
                             [&] { return placeholder->sampleRate == std::stoul(rate); }});
            ZentuDigitalDevice::IParameterValueEnum value = KESU::g_sharedConfigDefinition.sampleRate.value;
            value.SetValue(rate);
            ASSERT_TRUE(placeholderHost->inner.SetStoredValue("SampleRate", value));
            placeholderHost->inner.SetChangedParameterIds({1});
            for (const Call& c : calls) {
                counting.Watch(c.taken);
                c.call();
                EXPECT_LE(counting.Waited(), 2u);
            }
            // The amplifiers again, behind the stop the rate change queued.
            service->Start();
            Signal started;
            service->Enqueue([&started] { started.Raise(); });
            ASSERT_TRUE(started.Wait());
        }
        plateHosts.back()->floods = false;
        announce(counting, counting.written);
        ASSERT_TRUE(Drain());
        const uint64_t dropped = UsbAmpSim::DroppedBlocks() - droppedBefore;
        // None twice, none out of order, none missing but those the full buffer lost.
        const std::vector<int64_t>& firsts = counting.firsts;
        EXPECT_EQ(firsts, plateHosts.back()->firsts);
        uint64_t skipped = 0;
        for (size_t i = 1; i < firsts.size(); ++i) {
            const int64_t step = firsts[i] - firsts[i - 1];
            ASSERT_TRUE(step > 0 && step % 16 == 0)
                << "packet " << i << ": " << firsts[i - 1] << ", " << firsts[i];
            skipped += static_cast<uint64_t>(step / 16 - 1);
        }
        // Blocks lost after the last one written leave no gap.
        EXPECT_LE(skipped, dropped);
        EXPECT_GT(skipped, 0u);
    }
}

}  // namespace KESUTest
