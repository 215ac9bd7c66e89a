// A library that always has a block ready: commands and the quit still get
// their turn within a few blocks however long the flood has lasted, and every
// block the library keeps still arrives once, in order.
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "tests/driver/DriverTest.h"

namespace KESUTest {
namespace {

using namespace std::chrono_literals;

// Sixteen amplifiers at 2000 Hz make a block every 8 ms of the library's
// clock, and the clock moves only as the host writes: 1 ms for each of a
// block's sixteen plates. Every block costs the host twice the time the
// amplifiers take to make one, so blocks pile up for as long as that lasts.
constexpr int kAmplifiers = 16;
constexpr std::chrono::nanoseconds kHostTimePerBlock = kAmplifiers * 1ms;
// The host takes no more time from here on: a worker that never turns to its
// queue ends the flood with the blocks piled up, and fails instead of hanging.
constexpr std::chrono::nanoseconds kFloodEnds = 20s;

// Something the host asks for while the worker writes the block of that time.
struct Ask {
    std::chrono::nanoseconds at;
    std::function<void()> ask;  // on the worker, inside the write
    size_t block = 0;           // the blocks written when it was asked, this one included
};

class FloodTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        std::vector<UsbAmpSim::Amplifier> amplifiers;
        for (int i = 0; i < kAmplifiers; ++i) amplifiers.push_back(Plate(i));
        UsbAmpSim::SetAmplifiers(amplifiers);
        UsbAmpSim::SetBlockSource(UsbAmpSim::BlockSource::Producer);
        UsbAmpSim::SetClock(clock_);
        service->SetDataCallback([this](float* block) { Write(block); });
        service->SetAcquisitionRate(2000);
        StartStreaming();
        // A command pauses right before its library call, with no block between.
        const DWORD worker = Worker();
        recorder.SetPauseCallback([this, worker](DWORD) {
            if (GetCurrentThreadId() == worker) commandsAt_.push_back(counters_.size());
        });
    }

    // Runs on the worker.
    void Write(const float* block) {
        counters_.push_back(block[0]);
        const std::chrono::nanoseconds now = clock_->Now();
        if (now < kFloodEnds) {
            clock_->Advance(kHostTimePerBlock);
            // The library then holds every block due, so it is never found empty.
            clock_->WaitForSleeper(kSafetyNet);
        }
        for (Ask& a : asks_)
            if (a.block == 0 && now >= a.at) {
                a.block = counters_.size();
                a.ask();
            }
    }

    std::shared_ptr<UsbAmpSim::ManualClock> clock_ = std::make_shared<UsbAmpSim::ManualClock>();
    std::vector<Ask> asks_;
    // Written by the worker, read once it has ended: the first counter of
    // each block written, and the blocks written when each command came to
    // its library call.
    std::vector<float> counters_;
    std::vector<size_t> commandsAt_;
};

TEST_F(FloodTest, RatesAfterOneAndTenSecondsAndShutdownAfterFifteenGetTheirTurnWithinTheSameFewBlocks) {
    Signal shutdownAsked;
    asks_ = {{1s, [this] { service->SetAcquisitionRate(1800); }},
             {10s, [this] { service->SetAcquisitionRate(2000); }},
             // The destructor asks for the quit before it posts the message.
             {15s, [&shutdownAsked] {
                  shutdownAsked.Raise();
                  MSG msg;
                  const auto giveUp = std::chrono::steady_clock::now() + kSafetyNet;
                  while (!PeekMessageW(&msg, nullptr, Service::WM_DRIVER_QUIT, Service::WM_DRIVER_QUIT,
                                       PM_NOREMOVE) &&
                         std::chrono::steady_clock::now() < giveUp) {
                  }
              }}};
    ClearRecords();
    clock_->Advance(kHostTimePerBlock);
    ASSERT_TRUE(shutdownAsked.Wait());
    service.reset();

    EXPECT_THAT(DescribedCalls(),
                ::testing::ElementsAre("fmBroadcastAcquisitionRate(1800)", "fmBroadcastAcquisitionRate(2000)",
                                       "fmBroadcastStop()", "fmDLLShutDown()"));
    const size_t bound = Service::kBlocksPerTurn;
    ASSERT_EQ(commandsAt_.size(), 2u);
    for (size_t i = 0; i < 2; ++i) EXPECT_LE(commandsAt_[i] + 1 - asks_[i].block, bound) << "rate " << i;
    EXPECT_LE(counters_.size() + 1 - asks_[2].block, bound) << "shutdown";
    // Each block's first counter is 16 on from the one before, but where the
    // library's buffer was full and it lost blocks: none twice, none out of
    // order, none skipped but those (some are lost after the last one written).
    ASSERT_FALSE(counters_.empty());
    EXPECT_EQ(0.0f, counters_[0]);
    uint64_t skipped = 0;
    for (size_t i = 1; i < counters_.size(); ++i) {
        const float step = counters_[i] - counters_[i - 1];
        ASSERT_TRUE(step > 0.0f && std::fmod(step, 16.0f) == 0.0f) << "block " << i;
        skipped += static_cast<uint64_t>(step / 16.0f) - 1;
    }
    EXPECT_LE(skipped, UsbAmpSim::DroppedBlocks());
}

}  // namespace
}  // namespace KESUTest
