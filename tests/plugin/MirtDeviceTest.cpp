// The amplifier device against the recording fake host: what it publishes,
// declares and writes, and the conversion of its share of a block bit for bit.
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <thread>
#include <tuple>

#include "tests/plugin/DescribedValue.h"
#include "tests/plugin/SharedConfigDeviceTest.h"

using namespace KESU;
using namespace KESUTest;
using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

typedef std::array<float, 9> Nine;  // Fx Fy Fz Mx My Mz Cx Cy Cz
const int64_t kWrap = 16777216;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<uint32_t> Bits(const float* values, size_t count) {
    std::vector<uint32_t> bits(count);
    std::memcpy(bits.data(), values, count * sizeof(float));
    return bits;
}
uint32_t Bits(float f) {
    return Bits(&f, 1)[0];
}

// The forms a sample above the threshold takes when the origin is 0.
Nine Reduced(float fx, float fy, float fz, float mx, float my, float mz) {
    return {-fx, fy, -fz, -mx, my, -mz, my / fz, mx / fz, 0.0f};
}

class MirtDeviceTest : public testing::Test {
protected:
    std::unique_ptr<VKESUMirtDevice> Make(std::array<float, 3> inches, uint32_t index = 0) {
        VKESUDriverService::VDeviceInfo record;
        record.amplifierModelNumber = "A";
        record.amplifierSerialNumber = "B";
        record.platformModelNumber = "C";
        record.platformSerialNumber = "D";
        record.amplifierFirmwareVersion = "F";
        record.platformXYZOffsets.assign(inches.begin(), inches.end());
        record.deviceIndex = index;
        auto definition = std::make_unique<VKESUGenericPlateDefinition>();
        definition->syncPort = "Trigger In";
        auto device = std::make_unique<VKESUMirtDevice>(1000, record, *definition, &host, nullptr);
        definition.reset();  // the device works on its own copy
        return device;
    }
    // Connected and started as host device 7, the record cleared.
    std::unique_ptr<VKESUMirtDevice> Running(std::array<float, 3> inches, uint32_t index, double threshold) {
        auto device = Make(inches, index);
        device->SetDataThreshold(threshold);
        device->Connect(&host.DeviceHost("BD"));
        EXPECT_TRUE(device->Start(7, &host));
        host.ClearCalls();
        return device;
    }

    FakeHost host;
};

TEST_F(MirtDeviceTest, OriginIsInSinglePrecisionAndTheHostIsShownItWidened) {
    struct Case {
        std::array<float, 3> inches;
        std::array<uint32_t, 3> originBits;
        std::array<double, 3> shown;  // ParameterA, ParameterB, ParameterAZ0
    };
    const Case cases[] = {
        {{1, 2, 3},
         {Bits(0.0254f), Bits(0.0508f), Bits(-0.0762f)},
         {-0.025399999693036079, 0.050799999386072159, 0.076200000941753387}},
        // 7.5 x 0.0254 comes out one float lower in single than in double precision.
        {{7.5f, -0.25f, 0},
         {0x3e43126e, 0xbbd013a9, 0x80000000},
         {-0.19049999117851257, -0.0063499999232590199, 0}},
    };
    for (const Case& c : cases) {
        auto device = Make(c.inches);
        EXPECT_THAT(Bits(device->origin.data(), device->origin.size()), ElementsAreArray(c.originBits));
        device->Connect(&host.DeviceHost("BD"));
        const char* names[] = {"ParameterA", "ParameterB", "ParameterAZ0"};
        for (size_t i = 0; i < 3; ++i) {
            FakeDoubleValue shown;
            ASSERT_TRUE(host.DeviceHost("BD").ReadStoredValue(names[i], shown)) << names[i];
            EXPECT_EQ(c.shown[i], shown.value) << names[i];
        }
    }
}

TEST_F(MirtDeviceTest, ConstructionLogsAndConnectPublishesTheIdentityThenConnected) {
    auto device = Make({1, 2, 3}, 2);
    ASSERT_THAT(host.LogTexts(), ElementsAre("Instantiating device 2: A B C D"));
    EXPECT_EQ(1, host.LogLines()[0].level);
    EXPECT_EQ("BD", device->name);
    EXPECT_EQ("Trigger In", device->plateDefinition.syncPort);

    FakeDeviceHost& deviceHost = host.DeviceHost("BD");
    ASSERT_TRUE(deviceHost.SetStoredValue("Connected", FakeBoolValue()));  // the host holds false
    host.ClearCalls();
    device->Connect(&deviceHost);
    EXPECT_THAT(Trace(host),
                ElementsAre("SetParameterValue AmplifierSerial", "SetParameterValue AmplifierModel",
                            "SetParameterValue PlatformModel", "SetParameterValue PlatformSerial",
                            "SetParameterValue FirmwareVersion", "SetParameterValue ParameterA",
                            "SetParameterValue ParameterB", "SetParameterValue ParameterAZ0",
                            "GetParameterValue Connected", "SetParameterValue Connected"));
    for (const FakeCall& call : host.Calls()) EXPECT_EQ("", call.texts[1]) << call.texts[0];
    const char* names[] = {"AmplifierSerial", "AmplifierModel", "PlatformModel", "PlatformSerial",
                           "FirmwareVersion"};
    for (size_t i = 0; i < 5; ++i) {
        FakeStringValue text;
        ASSERT_TRUE(deviceHost.ReadStoredValue(names[i], text)) << names[i];
        EXPECT_EQ(std::string(1, "BACDF"[i]), text.value) << names[i];
    }
    FakeBoolValue connected;
    ASSERT_TRUE(deviceHost.ReadStoredValue("Connected", connected));
    EXPECT_EQ(1, connected.value);
}

TEST_F(MirtDeviceTest, StartDeclaresTheStream) {
    const auto declared = [](uint32_t divisor, int window = -1) {
        std::vector<std::string> d = {"SetSamplesPerPacket 16", "SetRateDivisor " + std::to_string(divisor),
                                      "SetStreamMode 2"};
        if (window >= 0) d.push_back("DeclareSyncPort Trigger In 1 " + std::to_string(window) + " 0 0 1");
        return d;
    };
    struct Case {
        const char* name;
        uint32_t baseRate, sampleRate, syncMode, deviceIndex;
        bool retired, noStreamConfig, answer;
        std::vector<std::string> declared;  // "operation arguments" of each stream configuration call
    };
    const Case cases[] = {
        {"Base2000", 2000, 1000, 1, 0, false, false, true, declared(2, 3)},
        {"Base1000", 1000, 1000, 1, 0, false, false, true, declared(1, 1)},
        {"Base3000", 3000, 1000, 1, 0, false, false, true, declared(3, 4)},
        {"BaseBelowRate", 999, 1000, 1, 0, false, false, true, declared(0, 1)},
        {"HardwareTriggerNotFirst", 2000, 1000, 1, 1, false, false, true, declared(2)},
        {"SoftwareTrigger", 2000, 1000, 0, 0, false, false, true, declared(2)},
        {"Genlock", 2000, 1000, 2, 0, false, false, true, declared(2)},
        {"RateZero", 2000, 0, 1, 0, false, false, false, {"SetSamplesPerPacket 16"}},
        {"Retired", 2000, 1000, 1, 0, true, false, false, {}},
        {"NoStreamConfig", 2000, 1000, 1, 0, false, true, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto device = Make({0, 0, 0}, c.deviceIndex);
        device->Connect(&host.DeviceHost("BD"));
        device->sampleRate = c.sampleRate;
        device->SetSyncMode(c.syncMode);
        if (c.retired) device->SetConnected(false);
        host.SetBaseRate(c.baseRate);
        host.ClearCalls();

        EXPECT_EQ(c.answer, device->Start(42, c.noStreamConfig ? nullptr : &host));
        std::vector<std::string> calls;
        for (const FakeCall& call : host.Calls()) {
            if (call.interfaceName != "IStreamConfig") continue;
            std::string text = call.operation;
            for (const std::string& t : call.texts) text += " " + t;
            for (int64_t n : call.numbers) text += " " + std::to_string(n);
            calls.push_back(text);
        }
        EXPECT_THAT(calls, ElementsAreArray(c.declared));
    }
}

TEST_F(MirtDeviceTest, ConvertsASampleBitForBit) {
    struct Case {
        const char* name;
        std::array<float, 3> inches;
        double threshold;
        std::array<float, 6> sample;  // Fx Fy Fz Mx My Mz as delivered
        Nine expected;
    };
    const float above = std::nextafter(20.0f, 21.0f);
    const Case cases[] = {
        {"Reference",
         {1, 2, 3},
         20,
         {12.5f, -7.25f, -300, 40, -25, 3},
         {-12.5f, -7.25f, 300, -24.20755f, -18.3325005f, -2.18085003f, 0.0611083359f, -0.0806918442f, 0}},
        {"FzEqualToThreshold", {1, 2, 3}, 20, {12.5f, -7.25f, -20, 40, -25, 3}, {}},
        {"FzNotANumber", {1, 2, 3}, 20, {12.5f, -7.25f, kNaN, 40, -25, 3}, {}},
        {"ThresholdZeroFzZero", {1, 2, 3}, 0, {12.5f, -7.25f, 0, 40, -25, 3}, {}},
        {"FzJustAboveThreshold",
         {0, 0, 0},
         20,
         {12.5f, -7.25f, above, 40, -25, 3},
         Reduced(12.5f, -7.25f, above, 40, -25, 3)},
        // In single precision the threshold would round up to 20 and hold the sample back.
        {"ThresholdComparedInDouble", {0, 0, 0}, 19.9999999, {1, 2, 20, 3, 5, 7}, Reduced(1, 2, 20, 3, 5, 7)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto device = Running(c.inches, 0, c.threshold);
        std::vector<float> block = Block(1, 0);
        std::copy(c.sample.begin(), c.sample.end(), &At(block, 1, 5, 0, 1));
        device->TransferData(block.data(), 1);

        const std::vector<FakeCall> writes = host.CallsOf("WriteSamples");
        ASSERT_EQ(1u, writes.size());
        std::vector<uint32_t> expected(144, 0);
        for (size_t k = 0; k < 9; ++k) expected[45 + k] = Bits(c.expected[k]);
        EXPECT_THAT(Bits(writes[0].values.data(), writes[0].values.size()), ElementsAreArray(expected));
    }
}

TEST_F(MirtDeviceTest, ReadsOnlyItsOwnGroupOfEachSample) {
    struct Case {
        uint32_t amplifiers, deviceIndex;
    };
    for (const Case& c : {Case{1, 0}, Case{3, 2}}) {
        SCOPED_TRACE(c.amplifiers);
        auto device = Running({0, 0, 0}, c.deviceIndex, 0);
        // Every float differs, counters and trigger values included.
        std::vector<float> block(16 * c.amplifiers * 8);
        for (size_t i = 0; i < block.size(); ++i) block[i] = -1000.0f - static_cast<float>(i);
        for (uint32_t d = 0; d < c.amplifiers; ++d) At(block, c.amplifiers, 0, d, 0) = 100.0f * (d + 1);
        device->TransferData(block.data(), c.amplifiers);

        std::vector<uint32_t> expected;
        for (uint32_t s = 0; s < 16; ++s) {
            const float* g = &At(block, c.amplifiers, s, c.deviceIndex, 0);
            for (float v : Reduced(g[1], g[2], g[3], g[4], g[5], g[6])) expected.push_back(Bits(v));
        }
        const std::vector<FakeCall> writes = host.CallsOf("WriteSamples");
        ASSERT_EQ(1u, writes.size());
        EXPECT_THAT(Bits(writes[0].values.data(), writes[0].values.size()), ElementsAreArray(expected));
        EXPECT_EQ(100 * (c.deviceIndex + 1), writes[0].numbers[1]);  // its own group's counter
    }
}

TEST_F(MirtDeviceTest, NumbersEveryPacketFromTheUnwrappedCounter) {
    const float kStart = -2.0f;  // not a block: Start again
    const int64_t kNone = std::numeric_limits<int64_t>::min();
    struct Step {
        float counter;
        int64_t index;  // kNone: nothing written
        bool refused = false;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"FirstBlockAtZeroIsNoWrap", {{0, -7}}},
        {"EqualCounterWrapsUntilTheNextStart", {{16, 9}, {16, kWrap + 9}, {kStart, kNone}, {0, -7}}},
        {"FallingCounterWraps", {{kWrap - 16, kWrap - 23}, {0, kWrap - 7}}},
        {"CounterThatIsNoCounterChangesNothing",
         {{16, 9}, {kNaN, kNone}, {INFINITY, kNone}, {-16, kNone}, {kWrap, kNone}, {32, 25}}},
        {"RefusedWriteChangesNothing", {{16, 9, true}, {32, 25}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto device = Running({0, 0, 0}, 1, 0);
        device->startCounter = 7;
        std::vector<int64_t> expected;
        for (const Step& step : c.steps) {
            if (step.counter == kStart) {
                ASSERT_TRUE(device->Start(7, &host));
                continue;
            }
            std::vector<float> block = Block(2, 0);  // Fz 0 throughout: every sample at the threshold
            At(block, 2, 0, 1, 0) = step.counter;
            if (step.refused) host.RefuseOperation("WriteSamples", "full");
            device->TransferData(block.data(), 2);
            host.ClearRefusals();
            if (step.index != kNone) expected.push_back(step.index);
        }
        std::vector<int64_t> indices;
        for (const FakeCall& write : host.CallsOf("WriteSamples")) {
            EXPECT_EQ("BD", write.deviceHost);
            EXPECT_THAT(write.numbers, ElementsAre(7, write.numbers[1], 16, 3, 144));
            EXPECT_THAT(write.outputIds, ElementsAre(0u, 1u, 2u));
            EXPECT_EQ(std::vector<float>(144, 0.0f), write.values);
            indices.push_back(write.numbers[1]);
        }
        EXPECT_THAT(indices, ElementsAreArray(expected));
        EXPECT_TRUE(host.AllResultsReleased());
        host.ClearCalls();
    }
}

TEST_F(MirtDeviceTest, WithoutADeviceHostNothingIsAskedOrWritten) {
    auto device = Make({0, 0, 0});
    device->wrapOffset = 5;
    device->lastCounter = 40;
    host.ClearCalls();
    device->Connect(nullptr);
    device->SetConnected(true);
    device->OnParametersChanged();
    device->TransferData(Block(1, 16).data(), 1);
    EXPECT_TRUE(host.Calls().empty());
    EXPECT_EQ(5, device->wrapOffset);
    EXPECT_EQ(40, device->lastCounter);
}

// A host may call these from inside one of its own callbacks while the device holds its lock.
TEST_F(MirtDeviceTest, LockFreeSlotsOfBothDevicesReturnWhileTheLockIsHeld) {
    auto device = Make({0, 0, 0});
    device->state = 2;
    VSharedConfigDevice placeholder(nullptr);
    uint32_t states[2] = {9, 9};
    uint8_t flags[2] = {9, 9};
    const std::vector<std::tuple<const char*, boost::mutex&, std::function<void()>>> slots = {
        {"GetStatus", device->mutex, [&] { device->GetStatus(&states[0], &flags[0]); }},
        {"SetStartTime", device->mutex, [&] { device->SetStartTime(1.5); }},
        {"Stop", device->mutex, [&] { device->Stop(); }},
        {"Unused4", device->mutex, [&] { device->Unused4(); }},
        {"SetDataThreshold", device->mutex, [&] { device->SetDataThreshold(3.5); }},
        {"SetSyncMode", device->mutex, [&] { device->SetSyncMode(1); }},
        {"placeholder GetStatus", placeholder.mutex, [&] { placeholder.GetStatus(&states[1], &flags[1]); }},
        {"placeholder Unused4", placeholder.mutex, [&] { placeholder.Unused4(); }},
    };
    host.ClearCalls();
    for (const auto& slot : slots) {
        SCOPED_TRACE(std::get<0>(slot));
        boost::unique_lock<boost::mutex> held(std::get<1>(slot));
        Signal returned;
        std::thread caller([&] {
            std::get<2>(slot)();
            returned.Raise();
        });
        EXPECT_TRUE(returned.Wait());
        held.unlock();
        caller.join();
    }
    EXPECT_TRUE(host.Calls().empty());
    EXPECT_THAT(states, ElementsAre(2u, 2u));  // placeholder: stopped at first
    EXPECT_THAT(flags, ElementsAre(0u, 1u));
}

}  // namespace
