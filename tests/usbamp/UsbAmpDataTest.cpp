// Data blocks of the simulated amplifier library: when they flow, how they are
// announced and fetched, their layout, counters and loads, and the paced
// producer's schedule on a clock the test moves.
#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "platform/usbamp/KESUUSBDevice.h"
#include "platform/usbamp/UsbAmpSim.h"
#include "platform/win/WinApi.h"
#include "tests/support/Signal.h"

namespace {

using namespace UsbAmpSim;
using std::chrono::milliseconds;

constexpr UINT kDataReady = 1133;
constexpr uint32_t kWrap = 1u << 24;
using KESUTest::kSafetyNet;

class UsbAmpDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        Reset();
        takeMessages();  // also creates this thread's queue
    }
    void TearDown() override { Reset(); }

    // What the driver's start-up and start do for the data path, with this
    // thread as the receiver.
    static void startStreaming() {
        fmDLLPostDataReadyMessages(1);
        fmDLLPostUserThreadMessages(GetCurrentThreadId());
        fmBroadcastStart();
    }

    static std::vector<MSG> takeMessages() {
        std::vector<MSG> messages;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) messages.push_back(msg);
        return messages;
    }

    // Takes the messages and checks that each is a data-ready announcement.
    static size_t takeAnnouncements() {
        const std::vector<MSG> messages = takeMessages();
        for (const MSG& msg : messages) {
            EXPECT_EQ(kDataReady, msg.message);
            EXPECT_EQ(0u, msg.wParam);
            EXPECT_EQ(0, msg.lParam);
        }
        return messages.size();
    }

    // Copies every ready block out; each has `floats` floats.
    static std::vector<std::vector<float>> transferAll(size_t floats) {
        std::vector<std::vector<float>> blocks;
        float* block = nullptr;
        while (fmDLLTransferFloatData(&block)) blocks.emplace_back(block, block + floats);
        return blocks;
    }
};

const float* group(const std::vector<float>& block, size_t devices, size_t sample, size_t device) {
    return &block[(sample * devices + device) * 8];
}

TEST_F(UsbAmpDataTest, BlocksFlowOnlyWhilePostingIsOnForAThreadAndAcquisitionRuns) {
    const DWORD me = GetCurrentThreadId();
    // posting, receiver, started: each left out in turn
    for (const auto& [posting, receiver, start] : {std::tuple{0, me, true}, {1, 0u, true}, {1, me, false}}) {
        SCOPED_TRACE(testing::Message() << posting << receiver << start);
        Reset();
        SetAmplifiers({Amplifier{}});
        fmDLLPostDataReadyMessages(posting);
        fmDLLPostUserThreadMessages(receiver);
        if (start) fmBroadcastStart();
        EXPECT_FALSE(WaitUntilStreaming(milliseconds(0)));
        EXPECT_FALSE(HandOverBlock());
        EXPECT_FALSE(HandOverBlock(std::vector<float>(128, 1.0f)));
        EXPECT_EQ(0u, takeAnnouncements());
        EXPECT_TRUE(transferAll(128).empty());
    }

    startStreaming();
    EXPECT_TRUE(WaitUntilStreaming(milliseconds(0)));
    EXPECT_FALSE(HandOverBlock(std::vector<float>()));
    EXPECT_TRUE(HandOverBlock());
    EXPECT_EQ(1u, takeAnnouncements());
    // What was made before a stop can still be fetched; a shutdown drops it.
    fmBroadcastStop();
    EXPECT_FALSE(HandOverBlock());
    EXPECT_EQ(1u, transferAll(128).size());
    startStreaming();
    fmDLLPostDataReadyMessages(0);
    EXPECT_FALSE(HandOverBlock());
    startStreaming();
    EXPECT_TRUE(HandOverBlock());
    fmDLLShutDown();
    EXPECT_FALSE(HandOverBlock());
    EXPECT_TRUE(transferAll(128).empty());
}

TEST_F(UsbAmpDataTest, HandedOverBlocksArriveInOrderAsMessagesAndTransfers) {
    startStreaming();
    std::vector<std::vector<float>> sent;
    for (int b = 0; b < 3; ++b) {
        std::vector<float> floats(256);
        for (size_t i = 0; i < floats.size(); ++i) floats[i] = static_cast<float>(b * 1000 + i);
        sent.push_back(floats);
        ASSERT_TRUE(HandOverBlock(floats));
    }
    EXPECT_EQ(3u, takeAnnouncements());

    float* first = nullptr;
    ASSERT_NE(0, fmDLLTransferFloatData(&first));
    // The lent block stays readable while more blocks are made.
    ASSERT_TRUE(HandOverBlock(std::vector<float>(256, -1.0f)));
    EXPECT_EQ(sent[0], std::vector<float>(first, first + 256));

    const auto rest = transferAll(256);
    ASSERT_EQ(3u, rest.size());
    EXPECT_EQ(sent[1], rest[0]);
    EXPECT_EQ(sent[2], rest[1]);
    EXPECT_EQ(std::vector<float>(256, -1.0f), rest[2]);

    float* untouched = first;
    EXPECT_EQ(0, fmDLLTransferFloatData(&untouched));
    EXPECT_EQ(first, untouched);
}

TEST_F(UsbAmpDataTest, GeneratedBlocksInterleaveSixteenSamplesOfEveryAmplifierAnsweredAtTheLastInit) {
    // The fourth amplifier is answered but not listed: counters only.
    SetAmplifiers({Amplifier{}, Amplifier{}, Amplifier{}});
    SetDeviceCountAnswer(4);
    SetCounterStart(1000);
    SetPointLoad(1, 500.0f, 0.25f, 0.5f);
    SetTrigger(2, 1005, 1.0f);
    SetTrigger(0, 1010, 0.0f);
    SetTrigger(3, 1016, 1.0f);  // first sample of the second block
    startStreaming();
    ASSERT_TRUE(HandOverBlock());
    ASSERT_TRUE(HandOverBlock());
    EXPECT_EQ(2u, takeAnnouncements());

    const auto blocks = transferAll(16 * 4 * 8);  // ASan: not one float more
    ASSERT_EQ(2u, blocks.size());
    const std::map<std::pair<size_t, uint32_t>, float> triggers = {
        {{2, 1005}, 1.0f}, {{0, 1010}, 0.0f}, {{3, 1016}, 1.0f}};
    for (size_t b = 0; b < 2; ++b)
        for (size_t s = 0; s < 16; ++s)
            for (size_t d = 0; d < 4; ++d) {
                SCOPED_TRACE(testing::Message() << "block " << b << " sample " << s << " amplifier " << d);
                const float* g = group(blocks[b], 4, s, d);
                const uint32_t counter = static_cast<uint32_t>(1000 + 16 * b + s);
                EXPECT_EQ(static_cast<float>(counter), g[0]);
                const std::vector<float> load =
                    d == 1 ? std::vector<float>{0, 0, -500, -250, -125, 0} : std::vector<float>(6, 0.0f);
                EXPECT_EQ(load, std::vector<float>(g + 1, g + 7));
                const auto trigger = triggers.find({d, counter});
                EXPECT_EQ(trigger == triggers.end() ? kTriggerIdle : trigger->second, g[7]);
            }

    for (int32_t none : {0, -2}) {
        SetDeviceCountAnswer(none);
        EXPECT_FALSE(HandOverBlock());
    }
    EXPECT_EQ(0u, takeAnnouncements());

    // The set is fixed when the library is initialised: a later answer shows
    // only in the blocks made after the next fmDLLInit.
    SetDeviceCountAnswer(2);
    fmDLLInit();
    SetDeviceCountAnswer(4);
    ASSERT_TRUE(HandOverBlock());
    fmDLLInit();
    ASSERT_TRUE(HandOverBlock());
    float* block = nullptr;
    for (const size_t n : {2u, 4u}) {
        ASSERT_NE(0, fmDLLTransferFloatData(&block));
        const float last = n == 2 ? 1032 + 15 : 1048 + 15;  // sample 15 of the third and fourth block
        for (size_t d = 0; d < n; ++d) EXPECT_EQ(last, block[(15 * n + d) * 8]) << n << " amplifiers";
    }
}

TEST_F(UsbAmpDataTest, CountersWrapAtTwoToTheTwentyFourth) {
    SetAmplifiers({Amplifier{}});
    SetCounterStart(kWrap - 8);
    startStreaming();
    ASSERT_TRUE(HandOverBlock());
    ASSERT_TRUE(HandOverBlock());
    SetCounterStart(kWrap + 5);
    ASSERT_TRUE(HandOverBlock());
    const auto blocks = transferAll(16 * 8);
    ASSERT_EQ(3u, blocks.size());

    std::vector<float> counters;
    for (const auto& block : blocks)
        for (size_t s = 0; s < 16; ++s) counters.push_back(group(block, 1, s, 0)[0]);
    std::vector<float> expected;
    for (uint32_t c = kWrap - 8; c < kWrap; ++c) expected.push_back(static_cast<float>(c));
    for (uint32_t c = 0; c < 24; ++c) expected.push_back(static_cast<float>(c));
    for (uint32_t c = 5; c < 21; ++c) expected.push_back(static_cast<float>(c));
    EXPECT_EQ(expected, counters);
    EXPECT_EQ(16777215.0f, counters[7]);  // the largest counter is still exact
}

TEST_F(UsbAmpDataTest, AFullBufferLosesTheNewBlocksWithTheirCountersAndCountsThem) {
    SetAmplifiers({Amplifier{}});
    SetCounterStart(160);
    startStreaming();
    for (size_t b = 0; b < kBlockBufferLimit; ++b) ASSERT_TRUE(HandOverBlock()) << b;
    EXPECT_FALSE(HandOverBlock());
    EXPECT_FALSE(HandOverBlock());
    EXPECT_FALSE(HandOverBlock(std::vector<float>(128, 1.0f)));
    EXPECT_EQ(3u, DroppedBlocks());
    EXPECT_EQ(kBlockBufferLimit, takeAnnouncements());

    const auto kept = transferAll(16 * 8);
    ASSERT_EQ(kBlockBufferLimit, kept.size());
    EXPECT_EQ(160.0f + 16.0f * (kBlockBufferLimit - 1), kept.back()[0]);
    // The receiver has caught up; the two blocks made meanwhile are a gap.
    ASSERT_TRUE(HandOverBlock());
    const auto next = transferAll(16 * 8);
    ASSERT_EQ(1u, next.size());
    EXPECT_EQ(kept.back()[0] + 16.0f * 3, next[0][0]);
    Reset();
    EXPECT_EQ(0u, DroppedBlocks());
}

// The plug-in's conversion of one raw group, in single precision, for a plate
// whose offsets are (x, y, z) inches.
struct Converted {
    float fz, cx, cy;
};
Converted convert(const float* g, const std::array<float, 3>& offsets) {
    const float a = offsets[0] * 0.0254f;
    const float b = offsets[1] * 0.0254f;
    const float c = offsets[2] * -0.0254f;
    const float fx = g[1], fy = g[2], fz = g[3], mx = g[4], my = g[5];
    return {-fz, ((c * fx + my) / fz) - a, ((mx - c * fy) / fz) + b};
}

TEST_F(UsbAmpDataTest, APointLoadComesBackThroughTheConversionAtItsPosition) {
    struct Case {
        std::array<float, 3> offsets;
        float force, x, y;
    };
    const std::vector<Case> cases = {
        {{0.0f, 0.0f, 0.0f}, 700.0f, 0.1f, -0.2f},
        {{1.5f, -2.25f, 1.6f}, 812.5f, -0.25f, 0.3f},
        {{-9.75f, 12.0f, -0.75f}, 35.0f, 0.45f, 0.0f},
        {{0.3f, 0.4f, 2.0f}, 1500.0f, 0.0f, -0.6f},
    };
    std::vector<Amplifier> amplifiers(cases.size());
    for (size_t d = 0; d < cases.size(); ++d) {
        amplifiers[d].xyzOffsets = cases[d].offsets;
        SetPointLoad(static_cast<int32_t>(d), cases[d].force, cases[d].x, cases[d].y);
    }
    SetAmplifiers(amplifiers);
    startStreaming();
    ASSERT_TRUE(HandOverBlock());
    const auto blocks = transferAll(16 * cases.size() * 8);
    ASSERT_EQ(1u, blocks.size());

    for (size_t d = 0; d < cases.size(); ++d) {
        SCOPED_TRACE(d);
        const float* g = group(blocks[0], cases.size(), 9, d);
        // No shear and no torque, so the origin's height drops out.
        EXPECT_EQ((std::vector<float>{0.0f, 0.0f, 0.0f}), (std::vector<float>{g[1], g[2], g[6]}));
        const Converted out = convert(g, cases[d].offsets);
        EXPECT_EQ(cases[d].force, out.fz);
        EXPECT_NEAR(cases[d].x, out.cx, 1e-6);
        EXPECT_NEAR(cases[d].y, out.cy, 1e-6);
    }
}

// --- The paced producer, on a clock that moves only when the test says so ---

class UsbAmpProducerTest : public UsbAmpDataTest {
protected:
    void SetUp() override {
        UsbAmpDataTest::SetUp();
        clock = std::make_shared<ManualClock>();
        SetClock(clock);
        SetBlockSource(BlockSource::Producer);
        SetAmplifiers({Amplifier{}});
    }

    // Moves the clock and answers how many blocks were announced once the
    // producer sleeps again, with the deadline it sleeps for.
    std::pair<size_t, milliseconds> advance(milliseconds step) {
        clock->Advance(step);
        const milliseconds deadline = sleeperDeadline();
        return {takeAnnouncements(), deadline};
    }

    // The deadline the producer sleeps for once it has made what was due.
    milliseconds sleeperDeadline() {
        const auto deadline = clock->WaitForSleeper(kSafetyNet);
        EXPECT_TRUE(deadline.has_value());
        return std::chrono::duration_cast<milliseconds>(deadline.value_or(milliseconds(-1)));
    }

    std::shared_ptr<ManualClock> clock;
};

TEST_F(UsbAmpProducerTest, MakesRateOverSixteenBlocksASecondWithoutDrift) {
    struct Case {
        uint32_t rate;
        milliseconds firstDue;
        std::vector<std::pair<size_t, milliseconds>> perSecond;  // blocks, then next due
    };
    const Case cases[] = {
        {1600, milliseconds(10), {{100, milliseconds(1010)}, {100, milliseconds(2010)}}},
        // 187.5 blocks a second, 5.33 ms apart: the half block is made up in
        // the next second, and the fraction of a millisecond never adds up.
        {3000,
         milliseconds(5),
         {{187, milliseconds(1002)}, {188, milliseconds(2005)}, {187, milliseconds(3002)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        SetUp();
        fmBroadcastAcquisitionRate(c.rate);
        startStreaming();
        EXPECT_EQ(c.firstDue, sleeperDeadline());
        size_t total = 0;
        std::vector<std::vector<float>> blocks;
        for (const auto& expected : c.perSecond) {
            const auto got = advance(std::chrono::seconds(1));
            EXPECT_EQ(expected, got);
            total += got.first;
            // Fetched each second, as a receiver would, before the buffer fills.
            for (const auto& block : transferAll(16 * 8)) blocks.push_back(block);
        }
        ASSERT_EQ(total, blocks.size());
        for (size_t k = 0; k < blocks.size(); ++k) EXPECT_EQ(static_cast<float>(16 * k), blocks[k][0]);
    }
}

TEST_F(UsbAmpProducerTest, ARateChangeStartsANewScheduleFromNow) {
    fmBroadcastAcquisitionRate(1600);
    startStreaming();
    EXPECT_EQ((std::pair<size_t, milliseconds>{2, milliseconds(30)}), advance(milliseconds(27)));
    fmBroadcastAcquisitionRate(3200);
    EXPECT_EQ(milliseconds(32), sleeperDeadline());
    EXPECT_EQ((std::pair<size_t, milliseconds>{2, milliseconds(42)}), advance(milliseconds(10)));
}

TEST_F(UsbAmpProducerTest, NothingIsMadeAfterStopUntilAFreshStart) {
    fmBroadcastAcquisitionRate(1600);
    startStreaming();
    EXPECT_EQ(1u, advance(milliseconds(15)).first);
    fmBroadcastStop();
    clock->Advance(std::chrono::seconds(10));
    EXPECT_EQ(0u, takeAnnouncements());

    fmBroadcastStart();  // at 10.015 s
    EXPECT_EQ(milliseconds(10025), sleeperDeadline());
    EXPECT_EQ(1u, advance(milliseconds(10)).first);

    // The manual source stops the producer as well.
    SetBlockSource(BlockSource::Manual);
    clock->Advance(std::chrono::seconds(10));
    EXPECT_EQ(0u, takeAnnouncements());
}

TEST_F(UsbAmpProducerTest, NothingIsMadeAfterShutdownOrReset) {
    // A producer that lived on would sleep on the clock until its next block
    // was due. One found there is given the time to make what falls due, so
    // that the checks after it see its blocks.
    auto passManyDueTimes = [this] {
        const bool livesOn = clock->WaitForSleeper(milliseconds(0)).has_value();
        EXPECT_FALSE(livesOn) << "a producer still waits for its next block";
        clock->Advance(std::chrono::seconds(1));
        if (livesOn) clock->WaitForSleeper(kSafetyNet);
        EXPECT_EQ(0u, takeAnnouncements());
        EXPECT_TRUE(transferAll(16 * 8).empty());
    };
    fmBroadcastAcquisitionRate(1600);  // a block every 10 ms
    startStreaming();
    EXPECT_EQ(1u, advance(milliseconds(15)).first);
    ASSERT_EQ(1u, transferAll(16 * 8).size());
    fmDLLShutDown();
    EXPECT_FALSE(WaitUntilStreaming(milliseconds(0)));
    {
        SCOPED_TRACE("after the shutdown");
        passManyDueTimes();
    }

    // Reset gives the library the wall clock again, but a producer it missed
    // would still sleep on this one.
    startStreaming();
    EXPECT_EQ(1u, advance(milliseconds(10)).first);
    ASSERT_EQ(1u, transferAll(16 * 8).size());
    Reset();
    EXPECT_FALSE(WaitUntilStreaming(milliseconds(0)));
    SCOPED_TRACE("after the reset");
    passManyDueTimes();
}

}  // namespace
