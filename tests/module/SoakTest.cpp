// A long capture through the module: sixteen amplifiers at 2000 Hz, blocks
// handed over one by one, every capture across the 24-bit counter wrap, in
// each synchronisation mode, with a setting changed, a re-scan and a stop and
// start in between. Every packet is checked as it arrives against the load
// scripted for its block.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/module/ModuleFixture.h"

namespace KESUTest {
namespace {

using KESUHost::DeviceHost;

const int kAmplifiers = 16;
const int64_t kCounterRange = int64_t(1) << 24;
// A few thousand samples below the wrap, and not on a block boundary.
const uint32_t kCounterStart = uint32_t(kCounterRange - 3003);
const size_t kInFlight = 64;

// The load on amplifier d for the block whose first counter is c: changes
// from block to block and differs between amplifiers, so a block or a plate
// mixed up with another shows.
float Force(int d, int64_t c) {
    return 50.0f + 10.0f * static_cast<float>(d) + 5.0f * static_cast<float>((c >> 4) % 32);
}
float LoadX(int d) {
    return -0.2f + 0.025f * static_cast<float>(d);
}
float LoadY(int d) {
    return 0.15f - 0.02f * static_cast<float>(d);
}

// Checks the packets of one capture as they come: for each plate the indices
// rise by 16 from the first, and every sample carries its block's load, or
// zeros where the load is not above the threshold.
class CaptureCheck {
public:
    // firstCounter: the counter of the capture's first block; firstIndex: the
    // index the capture's alignment gives its first sample.
    void Begin(const std::vector<DeviceHost*>& plates, int64_t firstCounter, int64_t firstIndex) {
        std::lock_guard<std::mutex> lock(mutex_);
        plates_ = plates;
        next_.assign(plates.size(), firstIndex);
        firstCounter_ = firstCounter;
        firstIndex_ = firstIndex;
        thresholds_.clear();
        thresholds_.push_back({0, 20.0f});
        failures_ = 0;
        first_.clear();
    }
    // From the capture's block `block` on, the threshold is this.
    void ThresholdFrom(int64_t block, float threshold) {
        std::lock_guard<std::mutex> lock(mutex_);
        thresholds_.push_back({block, threshold});
    }

    void Packet(const DeviceHost& plate, int64_t firstIndex, uint32_t sampleCount, const float* values) {
        std::lock_guard<std::mutex> lock(mutex_);
        size_t d = 0;
        while (d < plates_.size() && plates_[d] != &plate) ++d;
        if (d == plates_.size()) return Fail("a packet for a plate outside the capture");
        if (sampleCount != 16) return Fail("a packet of " + std::to_string(sampleCount) + " samples");
        if (firstIndex != next_[d])
            return Fail(plate.InstanceName() + ": index " + std::to_string(firstIndex) + " where " +
                        std::to_string(next_[d]) + " was due");
        next_[d] += 16;
        const int64_t block = (firstIndex - firstIndex_) / 16;
        const int64_t counter = (firstCounter_ + 16 * block) % kCounterRange;
        float threshold = 0.0f;
        for (const auto& step : thresholds_)
            if (block >= step.first) threshold = step.second;
        const int amplifier = static_cast<int>(d);
        const float force = Force(amplifier, counter);
        const bool loaded = force > threshold;
        for (uint32_t s = 0; s < 16; ++s) {
            const float* v = values + 9 * s;
            const bool same = loaded ? v[0] == 0.0f && v[1] == 0.0f && v[2] == force && v[8] == 0.0f &&
                                           std::fabs(v[6] - LoadX(amplifier)) < 1e-4f &&
                                           std::fabs(v[7] - LoadY(amplifier)) < 1e-4f
                                     : v[0] == 0.0f && v[2] == 0.0f && v[6] == 0.0f && v[7] == 0.0f;
            if (!same)
                return Fail(plate.InstanceName() + ": sample " + std::to_string(firstIndex + s) + " Fz " +
                            std::to_string(v[2]) + " where " + (loaded ? std::to_string(force) : "0") +
                            " was due");
        }
    }

    // The packets each plate received in this capture.
    std::vector<int64_t> Received() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<int64_t> received;
        for (int64_t next : next_) received.push_back((next - firstIndex_) / 16);
        return received;
    }
    std::string Failure() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return failures_ == 0 ? "" : std::to_string(failures_) + " failures, the first: " + first_;
    }

private:
    void Fail(const std::string& what) {
        if (failures_++ == 0) first_ = what;
    }

    mutable std::mutex mutex_;
    std::vector<DeviceHost*> plates_;
    std::vector<int64_t> next_;
    int64_t firstCounter_ = 0;
    int64_t firstIndex_ = 0;
    std::vector<std::pair<int64_t, float>> thresholds_;
    int failures_ = 0;
    std::string first_;
};

class SoakTest : public ModuleTest {
protected:
    // Hands over blocks [from, to) of the capture that began at
    // kCounterStart, each with its own loads, never more than kInFlight ahead
    // of the slowest plate, and waits for all of them.
    void HandOver(size_t from, size_t to) {
        for (size_t block = from; block < to; ++block) {
            const int64_t counter = (int64_t(kCounterStart) + 16 * int64_t(block)) % kCounterRange;
            for (int d = 0; d < kAmplifiers; ++d)
                UsbAmpSim::SetPointLoad(d, Force(d, counter), LoadX(d), LoadY(d));
            // A post that the worker's full message queue refuses leaves the
            // block to be fetched at a later message (the worker takes every
            // block there is at each), so its result is no loss; a lost block
            // shows in the packets.
            UsbAmpSim::HandOverBlock();
            if ((block + 1) % kInFlight == 0) {
                ASSERT_TRUE(session_->WaitForPackets(block + 1 - kInFlight / 2));
            }
        }
        ASSERT_TRUE(session_->WaitForPackets(to));
    }

    // A capture of `blocks` blocks in the current mode, its first sample
    // numbered firstIndex; midway runs between its two halves.
    void Capture(size_t blocks, int64_t firstIndex, std::function<void(size_t)> midway = nullptr) {
        for (DeviceHost* plate : session_->plates) plate->ClearPackets();
        ASSERT_TRUE(session_->Start());
        UsbAmpSim::SetCounterStart(kCounterStart);
        check_.Begin(session_->plates, kCounterStart, firstIndex);
        const size_t half = midway ? blocks / 2 : blocks;
        HandOver(0, half);
        if (midway) midway(half);
        HandOver(half, blocks);
        session_->Stop();
        EXPECT_EQ("", check_.Failure());
        EXPECT_EQ(std::vector<int64_t>(kAmplifiers, int64_t(blocks)), check_.Received());
        total_ += blocks;
    }

    std::unique_ptr<HostSession> session_;
    CaptureCheck check_;
    size_t total_ = 0;
};

TEST_F(SoakTest, SixteenAmplifiersAt2000HzAcrossTheWrapInEveryModeWithChangesInBetween) {
    UsbAmpSim::SetAmplifiers(Amplifiers(kAmplifiers));
    session_.reset(new HostSession);
    HostSession& s = *session_;
    const auto checked = [this](const DeviceHost& plate, int64_t first, uint32_t count, const float* values) {
        check_.Packet(plate, first, count, values);
    };
    s.host.SetPacketSink(checked);
    KESUHost::PluginModule& module = Load();
    ASSERT_TRUE(s.Boot(module));
    ASSERT_TRUE(s.Detect());
    ASSERT_EQ(size_t(kAmplifiers), s.plates.size());
    ASSERT_TRUE(s.ChangeText("SampleRate", "2000"));
    ASSERT_TRUE(s.ChangeNumber("DataThreshold", 20.0));
    ASSERT_TRUE(s.WaitForDetection(1));

    // Software trigger; midway the threshold rises above some of the loads.
    Capture(6000, 0, [&](size_t block) {
        ASSERT_TRUE(s.ChangeNumber("DataThreshold", 200.0));
        check_.ThresholdFrom(int64_t(block), 200.0f);
    });
    for (DeviceHost* plate : s.plates)
        EXPECT_EQ(KESUHost::ExampleHost::kBaseRate / 2000, plate->Stream().rateDivisor);
    ASSERT_TRUE(s.ChangeNumber("DataThreshold", 20.0));

    // Hardware trigger on the first amplifier, at sample 5 of the first block:
    // that sample is index 0.
    ASSERT_TRUE(s.ChangeText("SyncMode", "Hardware trigger"));
    UsbAmpSim::SetTrigger(0, kCounterStart + 5, 1.0f);
    Capture(5000, -5);

    // Genlock: the amplifiers' own counters number the samples.
    ASSERT_TRUE(s.ChangeText("SyncMode", "Genlock"));
    {
        for (DeviceHost* plate : s.plates) plate->ClearPackets();
        ASSERT_TRUE(s.Start());
        UsbAmpSim::SetCounterStart(kCounterStart);
        // The first packet shows where the numbering of this capture lies.
        std::vector<int64_t> firsts;
        s.host.SetPacketSink([&](const DeviceHost&, int64_t firstIndex, uint32_t, const float*) {
            firsts.push_back(firstIndex);
        });
        HandOver(0, 1);
        s.Stop();
        ASSERT_EQ(size_t(kAmplifiers), firsts.size());
        for (int64_t first : firsts) EXPECT_EQ(firsts[0], first);
        s.host.SetPacketSink(checked);
        // Acquisition started afresh restarts the counters where the script says.
        Capture(5000, firsts[0]);
    }

    // Software trigger again; midway a re-scan stops the amplifiers, finds the
    // same sixteen and the host starts a new capture on the same instances.
    ASSERT_TRUE(s.ChangeText("SyncMode", "Software trigger"));
    Capture(2500, 0);
    const size_t instances = s.host.Instances().size();
    // The re-scan waits for every packet of the blocks before it.
    for (DeviceHost* plate : s.plates) plate->ClearPackets();
    ASSERT_TRUE(s.Start());
    UsbAmpSim::SetCounterStart(kCounterStart);
    check_.Begin(s.plates, kCounterStart, 0);
    HandOver(0, 1200);
    ASSERT_TRUE(s.Rescan());
    ASSERT_TRUE(s.WaitForDetection(2));
    EXPECT_EQ(instances, s.host.Instances().size());
    EXPECT_EQ(std::vector<int64_t>(kAmplifiers, 1200), check_.Received());
    EXPECT_EQ("", check_.Failure());
    total_ += 1200;
    s.Stop();
    Capture(2500, 0);

    EXPECT_GE(total_, 20000u);
    module.Shutdown();
    Unload();
    EXPECT_EQ(0u, s.LogCount("[error]")) << s.log.str().substr(0, 4000);
}

}  // namespace
}  // namespace KESUTest
