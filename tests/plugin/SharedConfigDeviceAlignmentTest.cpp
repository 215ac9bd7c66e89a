// How a capture is tied to the host's start: the software trigger counts back
// from the host clock, the hardware trigger finds a trigger sample, genlock
// takes every block as it comes.
#include <cmath>
#include <optional>

#include "tests/plugin/SharedConfigDeviceTest.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace KESUTest {

namespace {

int64_t StartCounterOf(KESU::VSharedConfigDevice& placeholder, const Device& device) {
    boost::unique_lock<boost::mutex> lock(placeholder.mutex);
    return device->startCounter;
}

}  // namespace

TEST_F(PlaceholderTest, SoftwareTriggerCountsBackFromTheHostClock) {
    Connect({Amp(300, 0)});
    const Device device = Devices().at(0);
    struct Case {
        const char* what;
        std::optional<double> startTime;
        double now;
        float first;
        std::optional<int64_t> startCounter;  // none: the block is dropped
    };
    const Case cases[] = {
        {"no start time yet", std::nullopt, 5.0, 5000, std::nullopt},
        {"start 0.5 s before", 4.5, 5.0, 5000, 4500},
        {"clock before the start", 5.25, 5.0, 5000, 5250},
        {"clock answers NaN", 4.5, NAN, 5000, std::nullopt},
        {"count beyond 64 bits", 0.0, 1e300, 5000, std::nullopt},
        // Counts that fit 64 bits but would overflow the indices that follow.
        {"clock 9.2e15 s ahead", 0.0, 9.2e15, 5000, std::nullopt},
        {"clock 9.2e15 s behind", 0.0, -9.2e15, 5000, std::nullopt},
        {"clock 1e9 s ahead", 0.0, 1e9, 5000, 5000 - int64_t(1000000000000)},
        // At 1000 Hz: the clock is the double nearest 2^53 / 1000 s, and 1000 times it is
        // 2^53 + 0.1875, which rounds to 2^53, the largest count kept. One step of the
        // clock (2^-9 s) on, the product is 2^53 + 2.140625: 2^53 + 2, the next double.
        {"count exactly 2^53", 0.0, 9007199254740.9921875, 5000, 5000 - int64_t(9007199254740992)},
        {"count 2^53 + 2", 0.0, 9007199254740.994140625, 5000, std::nullopt},
        {"first counter NaN", 4.5, 5.0, NAN, std::nullopt},
        {"first counter past 24 bits", 4.5, 5.0, 16777216.0f, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(StartCapture());
        if (c.startTime) placeholder->SetStartTime(*c.startTime);
        host.SetTime(c.now);
        host.ClearCalls();
        const int64_t before = StartCounterOf(*placeholder, device);
        Feed(Block(1, c.first));
        if (c.startCounter) {
            EXPECT_EQ(StartCounterOf(*placeholder, device), *c.startCounter);
            EXPECT_THAT(FirstIndices("AS0PS0"), ElementsAre(5000 - *c.startCounter));
            continue;
        }
        EXPECT_EQ(StartCounterOf(*placeholder, device), before);
        EXPECT_THAT(FirstIndices("AS0PS0"), IsEmpty());
        // The next block tries again.
        placeholder->SetStartTime(4.5);
        host.SetTime(5.0);
        Feed(Block(1, 6000));
        EXPECT_EQ(StartCounterOf(*placeholder, device), 5500);
        EXPECT_THAT(FirstIndices("AS0PS0"), ElementsAre(500));
    }
}

TEST_F(PlaceholderTest, EachCaptureAlignsOnItsOwnStartAndReportsItsOwnStatus) {
    Connect({Amp(300, 0)});
    for (int capture = 0; capture < 2; ++capture) {
        SCOPED_TRACE(capture);
        host.ClearCalls();
        const size_t reported = placeholderHost->Statuses().size();
        ASSERT_TRUE(StartCapture());
        // As state * 10 + flag: the stop queued ahead of the start leaves it
        // starting, then it runs; the flag is down from the start on.
        const std::vector<uint32_t> statuses = placeholderHost->Statuses();
        EXPECT_THAT(std::vector<uint32_t>(statuses.begin() + reported, statuses.end()), ElementsAre(0, 10));
        // Before this capture's start time: dropped, whatever the last capture knew.
        Feed(Block(1, 5000));
        placeholder->SetStartTime(10.0 * capture);
        host.SetTime(10.0 * capture + 0.5);
        Feed(Block(1, 6000));
        EXPECT_THAT(FirstIndices("AS0PS0"), ElementsAre(500));
        placeholder->Stop();
        uint32_t state = 9;
        uint8_t flag = 9;
        placeholder->GetStatus(&state, &flag);
        EXPECT_EQ(state * 10 + flag, 20u);
    }
}

TEST_F(PlaceholderTest, HardwareTriggerStartsAtTheLastAmplifiersTrigger) {
    struct Trigger {
        uint32_t sample, group;
        float value;
        std::optional<float> counter = std::nullopt;  // replaces the sample's counter
    };
    struct Case {
        const char* what;
        std::vector<int32_t> types;  // levels: 1 for 300, 0 for 400
        std::vector<Trigger> triggers;
        uint32_t startSample;
    };
    const Case cases[] = {
        {"both amplifiers", {300, 300}, {{3, 0, 1}, {9, 1, 1}}, 9},
        {"first hit of one amplifier", {300}, {{4, 0, 1}, {7, 0, 1}}, 4},
        // The unsupported amplifier's group is not searched, and each level
        // is looked for in its own amplifier's group.
        {"unsupported at position 0", {200, 400, 300}, {{2, 0, 0}, {5, 1, 0}, {8, 2, 1}, {11, 1, 1}}, 8},
        {"type 0 in the middle", {300, 0, 100}, {{3, 0, 1}, {8, 2, 1}, {11, 1, 1}}, 8},
        {"hits without a usable counter",
         {300, 300},
         {{2, 0, 1, NAN}, {4, 1, 1, 16777216.0f}, {6, 0, 1}, {8, 1, 1, -1.0f}},
         6},
    };
    Connect({});
    Change("SyncMode", "Hardware trigger", {0});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<UsbAmpSim::Amplifier> amplifiers;
        for (int32_t type : c.types) amplifiers.push_back(Amp(type, static_cast<int>(amplifiers.size())));
        Rescan(amplifiers);
        ASSERT_TRUE(StartCapture());
        placeholder->SetStartTime(0.0);
        host.ClearCalls();
        const uint32_t n = static_cast<uint32_t>(c.types.size());
        Feed(Block(n, 1000));
        EXPECT_THAT(host.CallsOf("WriteSamples"), IsEmpty()) << "a block without a trigger was not dropped";

        std::vector<float> block = Block(n, 1000);
        for (const Trigger& t : c.triggers) {
            At(block, n, t.sample, t.group, 7) = t.value;
            if (t.counter) At(block, n, t.sample, t.group, 0) = *t.counter;
        }
        Feed(block);
        for (const Device& device : Devices())
            EXPECT_EQ(StartCounterOf(*placeholder, device), 1000 + c.startSample);
        EXPECT_EQ(host.CallsOf("WriteSamples").size(), Devices().size());
    }
}

TEST_F(PlaceholderTest, GenlockTakesEveryBlockAndEachStartAlignsAfresh) {
    Connect({Amp(300, 0)});
    const Device device = Devices().at(0);
    Change("SyncMode", "Genlock", {0});
    {
        boost::unique_lock<boost::mutex> lock(placeholder->mutex);
        device->startCounter = 777;
    }
    ASSERT_TRUE(StartCapture());
    placeholder->SetStartTime(0.0);
    Feed(Block(1, 3000));
    EXPECT_EQ(StartCounterOf(*placeholder, device), 777);

    Change("SyncMode", "Software trigger", {0});
    ASSERT_TRUE(StartCapture());
    placeholder->SetStartTime(1.0);
    host.SetTime(1.0);
    Feed(Block(1, 4000));
    // After the host's stop the old start counter still numbers the blocks.
    placeholder->Stop();
    Feed(Block(1, 4016));
    ASSERT_TRUE(StartCapture());
    placeholder->SetStartTime(2.0);
    host.SetTime(2.5);
    Feed(Block(1, 5000));
    EXPECT_THAT(FirstIndices("AS0PS0"), ElementsAre(3000 - 777, 0, 16, 500));
}

}  // namespace KESUTest
