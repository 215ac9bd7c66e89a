// A library that always has a block ready: commands and the quit still get
// their turn within a few blocks however long the flood has lasted, and every
// block still arrives once, in order.
#include <chrono>
#include <list>
#include <memory>
#include <thread>
#include <vector>

#include "tests/driver/DriverTest.h"

namespace KESUTest {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

// Sixteen amplifiers at 2000 Hz make a block every 8 ms of the library's
// clock, and the clock moves only as the host writes: 1 ms for each of a
// block's sixteen plates. Every block costs the host twice the time the
// amplifiers take to make one, so blocks pile up for as long as that lasts.
constexpr int kAmplifiers = 16;
constexpr uint32_t kRate = 2000;
constexpr std::chrono::nanoseconds kHostTimePerBlock = kAmplifiers * 1ms;
// The host takes no more time from here on, so a worker that never turns to
// its queue ends the flood with the blocks piled up, and the test fails
// instead of hanging.
constexpr std::chrono::nanoseconds kFloodEnds = 10s;
constexpr size_t kBound = Service::kBlocksPerTurn;

class FloodTest : public DriverTest {
protected:
    // A point of the flood where the worker waits inside a write until the
    // host has asked for something: until `asked` is raised, or until the
    // quit message is queued (the destructor asks for the quit before it
    // posts that).
    struct Request {
        std::chrono::nanoseconds at;
        bool quit;
        Signal reached;
        Signal asked;
        size_t block = 0;  // the blocks written, this one included
        // Of the first `written` blocks, those whose write ended after the
        // host asked: this one and the ones after it.
        size_t WrittenSince(size_t written) const { return written + 1 - block; }
    };

    void SetUp() override {
        DriverTest::SetUp();
        std::vector<UsbAmpSim::Amplifier> amplifiers;
        for (int i = 0; i < kAmplifiers; ++i) amplifiers.push_back(Plate(i));
        UsbAmpSim::SetAmplifiers(amplifiers);
        UsbAmpSim::SetBlockSource(UsbAmpSim::BlockSource::Producer);
        UsbAmpSim::SetClock(clock_);
        service->SetDataCallback([this](float* block) { Write(block); });
        service->SetAcquisitionRate(kRate);
        StartStreaming();
        // A command pauses right before its library call, with no block between.
        const DWORD worker = Worker();
        recorder.SetPauseCallback([this, worker](DWORD) {
            if (GetCurrentThreadId() == worker) commandsAt_.push_back(counters_.size());
        });
    }

    void TearDown() override {
        for (Request& request : requests_) request.asked.Raise();
        DriverTest::TearDown();
    }

    Request& RequestAt(std::chrono::nanoseconds at, bool quit = false) {
        Request& request = requests_.emplace_back();
        request.at = at;
        request.quit = quit;
        return request;
    }

    void StartFlood() { clock_->Advance(kHostTimePerBlock); }

    // Runs on the worker.
    void Write(const float* block) {
        counters_.push_back(block[0]);
        if (clock_->Now() < kFloodEnds) {
            clock_->Advance(kHostTimePerBlock);
            // The library then holds every block due, so it is never found empty.
            clock_->WaitForSleeper(kSafetyNet);
        }
        for (Request& request : requests_) {
            if (request.block != 0 || clock_->Now() < request.at) continue;
            request.block = counters_.size();
            request.reached.Raise();
            if (request.quit)
                WaitForQuitMessage();
            else
                request.asked.Wait();
        }
    }

    static void WaitForQuitMessage() {
        MSG msg;
        const auto giveUp = std::chrono::steady_clock::now() + kSafetyNet;
        while (!PeekMessageW(&msg, nullptr, Service::WM_DRIVER_QUIT, Service::WM_DRIVER_QUIT, PM_NOREMOVE) &&
               std::chrono::steady_clock::now() < giveUp)
            std::this_thread::yield();
    }

    // Written by the worker, read by the test once the worker has ended, or
    // once the flood and every command have: the first counter of each block
    // written, and the blocks written when each command came to its library
    // call.
    std::vector<float> counters_;
    std::vector<size_t> commandsAt_;

private:
    std::shared_ptr<UsbAmpSim::ManualClock> clock_ = std::make_shared<UsbAmpSim::ManualClock>();
    std::list<Request> requests_;
};

TEST_F(FloodTest, ARateAskedForAfterOneAndAfterTenSecondsReachesTheLibraryWithinTheSameFewBlocks) {
    struct Asked {
        std::chrono::seconds at;
        uint32_t rate;
    };
    const Asked asked[] = {{1s, 1800}, {10s, 2000}};
    std::vector<Request*> requests;
    for (const Asked& a : asked) requests.push_back(&RequestAt(a.at));
    ClearRecords();
    StartFlood();
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(requests[i]->reached.Wait());
        service->SetAcquisitionRate(asked[i].rate);
        requests[i]->asked.Raise();
    }
    ASSERT_TRUE(Drain());

    EXPECT_THAT(DescribedCalls(),
                ElementsAre("fmBroadcastAcquisitionRate(1800)", "fmBroadcastAcquisitionRate(2000)"));
    ASSERT_EQ(commandsAt_.size(), 2u);
    for (int i = 0; i < 2; ++i)
        EXPECT_LE(requests[i]->WrittenSince(commandsAt_[i]), kBound)
            << "asked for at " << asked[i].at.count() << " s";
    // The flood was real: the host took no more time after the last request,
    // so the hundreds of blocks written after it were all ready when it came.
    EXPECT_GT(counters_.size() - requests[1]->block, 100 * kBound);
    // Each block's first counter is 16 on from the one before: none twice,
    // none skipped, none out of order.
    for (size_t i = 0; i < counters_.size(); ++i)
        ASSERT_EQ(counters_[i], 16.0f * static_cast<float>(i)) << "block " << i;
}

TEST_F(FloodTest, ShutdownAskedForMidFloodEndsTheWorkerWithinTheSameFewBlocks) {
    Request& request = RequestAt(5s, true);
    StartFlood();
    ASSERT_TRUE(request.reached.Wait());
    service.reset();

    EXPECT_LE(request.WrittenSince(counters_.size()), kBound);
}

}  // namespace
}  // namespace KESUTest
