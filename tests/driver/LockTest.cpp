// The service's locks: no callback runs under the state mutex, zeroing waits
// for a running body, and many host threads may use the service at once.
#include <atomic>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/driver/DriverTest.h"

namespace KESUTest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class LockTest : public DriverTest {};

// How a state report is brought about, from acquisition stopped or running.
struct ReportPath {
    const char* name;
    bool runFirst;  // start acquisition before installing the callback
    std::function<void(Service&)> trigger;
    bool reported;
};

void PrintTo(const ReportPath& p, std::ostream* out) {
    *out << p.name;
}

class ReentrantStateCallbackTest : public DriverTest, public ::testing::WithParamInterface<ReportPath> {};

// A state callback that re-enters the service through every entry point that
// takes the state mutex, and replaces itself while it runs. Under the mutex it
// would deadlock; called in place rather than on a copy, replacing it would
// destroy the text it still reads.
TEST_P(ReentrantStateCallbackTest, TheCallbackMayCallIntoTheServiceAndReplaceItself) {
    const ReportPath& path = GetParam();
    if (path.runFirst)
        StartStreaming();
    else
        Detect();
    ClearRecords();

    Service* s = service.get();
    const std::string kept(300, 'k');
    service->SetStateCallback([this, s, kept](bool running) {
        const bool seen = s->IsRunning();
        s->IsDllInitialised();
        s->IsStopPending();
        s->SetDataCallback(Service::DataCallback());
        s->Zero();
        s->SetStateCallback(
            [this](bool value) { events.Add(std::string("replacement ") + (value ? "1" : "0")); });
        events.Add(std::string("state ") + (running ? "1" : "0") +
                   (seen == running ? "" : " but running differs") +
                   (kept == std::string(300, 'k') ? "" : " with its text spoilt"));
    });
    path.trigger(*service);
    ASSERT_TRUE(events.WaitForCount(1));
    ASSERT_TRUE(Drain());

    EXPECT_THAT(events.All(), ElementsAre(std::string("state ") + (path.reported ? "1" : "0")));
    // Zeroing acts only while running, and there it ran on the worker that called it.
    const std::vector<UsbAmpSim::Call> zeros = CallsNamed("fmBroadcastZero");
    if (path.reported) {
        ASSERT_EQ(zeros.size(), 1u);
        EXPECT_EQ(zeros[0].threadId, Worker());
    } else {
        EXPECT_THAT(zeros, IsEmpty());
    }

    service->Stop();
    ASSERT_TRUE(Drain());
    EXPECT_EQ(events.All().back(), "replacement 0");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ReentrantStateCallbackTest,
    ::testing::Values(ReportPath{"Start", false, [](Service& s) { s.Start(); }, true},
                      ReportPath{"Stop", true, [](Service& s) { s.Stop(); }, false},
                      ReportPath{"Blink", true, [](Service& s) { s.Blink(1); }, false},
                      ReportPath{"DetectionEnd", true,
                                 [](Service& s) { s.DetectDevices(Service::DetectionCallback()); }, false}),
    [](const ::testing::TestParamInfo<ReportPath>& info) { return std::string(info.param.name); });

TEST_F(LockTest, ADetectionCallbackMayQueueCommandsAndCallTheService) {
    Service* s = service.get();
    service->DetectDevices([this, s](Service::VDllInitInfo, std::vector<Service::VDeviceInfo>) {
        s->IsRunning();
        s->Zero();
        s->SetStateCallback([this](bool running) { events.Add(running ? "state 1" : "state 0"); });
        s->SetAcquisitionRate(2000);
        s->SetGenlockMode(true);
        s->Enqueue([this] { events.Add("queued by the callback"); });
        events.Add("detection");
    });
    ASSERT_TRUE(events.WaitForCount(3));
    ASSERT_TRUE(Drain());

    // The state report of the detection's end reaches the callback set during it.
    EXPECT_THAT(events.All(), ElementsAre("detection", "state 0", "queued by the callback"));
    const std::vector<std::string> calls = DescribedCalls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_THAT(std::vector<std::string>(calls.end() - 2, calls.end()),
                ElementsAre("fmBroadcastAcquisitionRate(2000)", "fmBroadcastGenlock(1)"));
}

TEST_F(LockTest, TheDataCallbackRunsWithoutAnyServiceLock) {
    Service* s = service.get();
    service->SetDataCallback([this, s](float*) {
        if (s->IsRunning()) s->Zero();
        events.Add("data");
    });
    UsbAmpSim::SetAmplifiers({Plate(0)});
    StartStreaming();
    ClearRecords();
    ASSERT_TRUE(UsbAmpSim::HandOverBlock());
    ASSERT_TRUE(events.WaitForCount(1));

    const std::vector<UsbAmpSim::Call> zeros = CallsNamed("fmBroadcastZero");
    ASSERT_EQ(zeros.size(), 1u);
    EXPECT_EQ(zeros[0].threadId, Worker());
}

TEST_F(LockTest, ZeroWaitsWhileACommandBodyHoldsTheStateMutex) {
    StartStreaming();
    ClearRecords();
    UsbAmpSim::HoldCall("fmBroadcastAcquisitionRate");
    service->SetAcquisitionRate(500);
    ASSERT_TRUE(UsbAmpSim::WaitUntilHeld(kSafetyNet));

    {
        // Once the zeroing thread sleeps in the kernel it waits for the
        // mutex; a Zero that did not wait would have returned instead.
        BlockingCall zeroing([this] { service->Zero(); });
        EXPECT_TRUE(zeroing.WaitUntilAsleep());
        EXPECT_EQ(CountOf(DescribedCalls(), "fmBroadcastZero()"), 0u);
        UsbAmpSim::ReleaseHeldCall();
        EXPECT_TRUE(zeroing.WaitUntilReturned());
    }

    EXPECT_THAT(DescribedCalls(), ElementsAre("fmBroadcastAcquisitionRate(500)", "fmBroadcastZero()"));
    EXPECT_THAT(Log(), ElementsAre("0 ::fmBroadcastAcquisitionRate(500)", "0 ::fmBroadcastZero()"));
}

// Host threads queue commands, zero, set rates and callbacks while blocks
// stream in; every command runs once, each thread's in its order, every block
// arrives once and in order, every zeroing reaches the library.
TEST_F(LockTest, ManyHostThreadsUseTheServiceWhileBlocksStream) {
    constexpr int kThreads = 6;
    constexpr int kCommands = 60;
    // No more than the library's buffer holds, so that none is dropped
    // however far the worker falls behind the pump.
    constexpr int kBlocks = static_cast<int>(UsbAmpSim::kBlockBufferLimit);

    struct DataSeen {
        int blocks = 0;  // worker only, read after a drain
        int outOfOrder = 0;
        float next = 0.0f;
    };
    auto data = std::make_shared<DataSeen>();
    service->SetDataCallback([data](float* block) {
        if (block[0] != data->next) ++data->outOfOrder;
        data->next = block[0] + 16.0f;
        ++data->blocks;
    });
    // Shared with the callbacks, which the service keeps after this body.
    struct Reports {
        std::atomic<int> all{0};
        std::atomic<int> spoilt{0};
    };
    auto reports = std::make_shared<Reports>();
    const std::string kept(100, 'c');
    auto counting = [reports, kept](bool) {
        ++reports->all;
        if (kept != std::string(100, 'c')) ++reports->spoilt;
    };
    UsbAmpSim::SetAmplifiers({Plate(0), Plate(1)});
    StartStreaming();
    ClearRecords();
    service->SetStateCallback(counting);

    // What the commands record; shared with them, as a failed wait leaves
    // them queued past this body.
    struct Ran {
        std::mutex mutex;
        std::vector<std::vector<int>> byThread = std::vector<std::vector<int>>(kThreads);
    };
    auto ran = std::make_shared<Ran>();
    std::atomic<int> zeros{0};
    std::atomic<int> starts{0};
    std::vector<std::thread> hosts;
    for (int t = 0; t < kThreads; ++t) {
        hosts.emplace_back([&, t] {
            for (int k = 0; k < kCommands; ++k) {
                service->Enqueue([ran, t, k] {
                    std::lock_guard<std::mutex> lock(ran->mutex);
                    ran->byThread[t].push_back(k);
                });
                if (k % 4 == t % 4) {
                    service->Zero();
                    ++zeros;
                }
                if (k % 10 == t) service->SetAcquisitionRate(1000 + static_cast<uint32_t>(k));
                if (k % 15 == t) service->SetGenlockMode(k % 2 == 0);
                if (t == 0 && k % 6 == 0) service->SetStateCallback(counting);
                if (t == 1 && k % 12 == 0) {
                    service->Start();
                    ++starts;
                }
                if (t == 2 && k % 8 == 0) service->SetDataCallback([](float*) {});
            }
        });
    }
    int handedOver = 0;
    std::thread pump([&] {
        for (int b = 0; b < kBlocks; ++b)
            if (UsbAmpSim::HandOverBlock()) ++handedOver;
    });
    for (std::thread& h : hosts) h.join();
    pump.join();
    // Every command and every data message was posted before this one.
    ASSERT_TRUE(Drain());

    for (int t = 0; t < kThreads; ++t) {
        std::vector<int> expected(kCommands);
        for (int k = 0; k < kCommands; ++k) expected[k] = k;
        std::lock_guard<std::mutex> lock(ran->mutex);
        EXPECT_EQ(ran->byThread[t], expected) << "thread " << t;
    }
    EXPECT_EQ(handedOver, kBlocks);
    EXPECT_EQ(data->blocks, kBlocks);
    EXPECT_EQ(data->outOfOrder, 0);
    // Whichever copy of the callback was in place, each start was reported once.
    EXPECT_EQ(reports->all, starts);
    EXPECT_EQ(reports->spoilt, 0);
    // Acquisition ran throughout, so every zeroing reached the library, on its caller's thread.
    const std::vector<UsbAmpSim::Call> zeroCalls = CallsNamed("fmBroadcastZero");
    EXPECT_EQ(static_cast<int>(zeroCalls.size()), zeros.load());
    for (const UsbAmpSim::Call& call : UsbAmpSim::Calls()) {
        const bool onWorker = call.threadId == Worker();
        EXPECT_EQ(onWorker, call.function != "fmBroadcastZero") << call.function;
    }
    EXPECT_TRUE(service->IsRunning());
}

}  // namespace
}  // namespace KESUTest
