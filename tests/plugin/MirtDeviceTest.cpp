// The amplifier device against the recording fake host: what it publishes,
// declares and writes, and the conversion of its share of a block bit for bit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <boost/thread/locks.hpp>

#include "platform/usbamp/UsbAmpSim.h"
#include "plugin/VKESUMirtDevice.h"
#include "sdk/ModuleHost.h"
#include "tests/plugin/DescribedValue.h"
#include "tests/support/FakeHost.h"
#include "tests/support/Signal.h"
#include "tests/support/SleepRecorder.h"

using namespace KESU;
using namespace KESUTest;
using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

typedef std::array<float, 9> Nine;  // Fx Fy Fz Mx My Mz Cx Cy Cz
const int64_t kWrap = 16777216;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

std::vector<uint32_t> BitsOf(const float* values, size_t count) {
    std::vector<uint32_t> bits;
    for (size_t i = 0; i < count; ++i) bits.push_back(Bits(values[i]));
    return bits;
}

// Every parameter case prints as its name.
template <class Case>
auto operator<<(std::ostream& os, const Case& c) -> decltype(c.name, os) {
    return os << c.name;
}

// The forms a sample above the threshold takes when the origin is 0.
Nine Reduced(float fx, float fy, float fz, float mx, float my, float mz) {
    return {-fx, fy, -fz, -mx, my, -mz, my / fz, mx / fz, 0.0f};
}

VKESUDriverService::VDeviceInfo Record(std::array<float, 3> offsets, uint32_t index = 0) {
    VKESUDriverService::VDeviceInfo record;
    record.amplifierModelNumber = "A";
    record.amplifierSerialNumber = "B";
    record.platformModelNumber = "C";
    record.platformSerialNumber = "D";
    record.amplifierFirmwareVersion = "F";
    record.platformXYZOffsets.assign(offsets.begin(), offsets.end());
    record.deviceIndex = index;
    return record;
}

// 16 samples of `amplifiers` groups: counter, Fx..Mz, trigger.
struct Block {
    explicit Block(uint32_t amplifiers) : n(amplifiers), floats(16 * amplifiers * 8, 0.0f) {}
    float* Group(uint32_t s, uint32_t d) { return &floats[(s * n + d) * 8]; }
    uint32_t n;
    std::vector<float> floats;
};

class MirtDeviceTest : public testing::Test {
protected:
    std::unique_ptr<VKESUMirtDevice> Make(const VKESUDriverService::VDeviceInfo& record,
                                          VKESUDriverService* driver = nullptr) {
        VKESUGenericPlateDefinition definition;
        definition.syncPort = "Trigger In";
        auto device = std::make_unique<VKESUMirtDevice>(1000, record, definition, &host, driver);
        device->SetConnected(true);
        return device;
    }
    // Connected and started, the record cleared.
    FakeDeviceHost& Run(VKESUMirtDevice& device) {
        FakeDeviceHost& deviceHost = host.DeviceHost("BD");
        device.Connect(&deviceHost);
        EXPECT_TRUE(device.Start(7, &host));
        host.ClearCalls();
        return deviceHost;
    }

    FakeHost host;
};

struct OriginCase {
    const char* name;
    std::array<float, 3> inches;
    std::array<uint32_t, 3> originBits;
    std::array<double, 3> shown;  // ParameterA, ParameterB, ParameterAZ0
};

class MirtOriginTest : public MirtDeviceTest, public testing::WithParamInterface<OriginCase> {};

TEST_P(MirtOriginTest, OriginIsInSinglePrecisionAndTheHostIsShownItWidened) {
    const OriginCase& c = GetParam();
    auto device = Make(Record(c.inches));
    EXPECT_THAT(BitsOf(device->origin.data(), device->origin.size()), ElementsAreArray(c.originBits));

    device->Connect(&host.DeviceHost("BD"));
    for (size_t i = 0; i < 3; ++i) {
        const char* name = std::array<const char*, 3>{"ParameterA", "ParameterB", "ParameterAZ0"}[i];
        FakeDoubleValue shown;
        ASSERT_TRUE(host.DeviceHost("BD").ReadStoredValue(name, shown)) << name;
        EXPECT_EQ(c.shown[i], shown.value) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, MirtOriginTest,
    testing::Values(OriginCase{"Inches123",
                               {1, 2, 3},
                               {Bits(0.0254f), Bits(0.0508f), Bits(-0.0762f)},
                               {-0.025399999693036079, 0.050799999386072159, 0.076200000941753387}},
                    // 7.5 x 0.0254 comes out one float lower in single than in double precision.
                    OriginCase{"FactorHeldAsFloat",
                               {7.5f, -0.25f, 0},
                               {0x3e43126e, 0xbbd013a9, 0x80000000},
                               {-0.19049999117851257, -0.0063499999232590199, 0.0}}),
    [](const testing::TestParamInfo<OriginCase>& info) { return std::string(info.param.name); });

TEST_F(MirtDeviceTest, ConstructionLogsAndCopiesTheIdentityIntoItsOwnDefinition) {
    auto definition = std::make_unique<VKESUGenericPlateDefinition>();
    definition->syncPort = "Trigger In";
    VKESUMirtDevice device(1000, Record({1, 2, 3}, 2), *definition, &host, nullptr);
    definition.reset();

    ASSERT_EQ(1u, host.LogLines().size());
    EXPECT_EQ("Instantiating device 2: A B C D", host.LogLines()[0].text);
    EXPECT_EQ(1, host.LogLines()[0].level);
    EXPECT_THAT(host.Operations(), ElementsAre("Log"));
    EXPECT_EQ("BD", device.name);
    EXPECT_EQ("Trigger In", device.plateDefinition.syncPort);
    const VKESUGenericPlateDefinition& own = device.plateDefinition;
    EXPECT_THAT(
        (std::vector<std::string>{own.amplifierModel.value.GetValue(), own.amplifierSerial.value.GetValue(),
                                  own.platformModel.value.GetValue(), own.platformSerial.value.GetValue(),
                                  own.firmwareVersion.value.GetValue()}),
        ElementsAre("A", "B", "C", "D", "F"));
    uint32_t state = 9;
    uint8_t flag = 9;
    device.GetStatus(&state, &flag);
    EXPECT_EQ(1u, state);
    EXPECT_EQ(0u, flag);
}

struct ConnectCase {
    const char* name;
    std::function<void(FakeHost&, FakeDeviceHost&)> arrange;
};

class MirtConnectTest : public MirtDeviceTest, public testing::WithParamInterface<ConnectCase> {};

TEST_P(MirtConnectTest, PublishesEveryParameterThenReadsAndSetsConnected) {
    auto device = Make(Record({1, 2, 3}));
    FakeDeviceHost& deviceHost = host.DeviceHost("BD");
    GetParam().arrange(host, deviceHost);
    host.ClearCalls();

    device->Connect(&deviceHost);
    EXPECT_THAT(Trace(host),
                ElementsAre("SetParameterValue AmplifierSerial", "SetParameterValue AmplifierModel",
                            "SetParameterValue PlatformModel", "SetParameterValue PlatformSerial",
                            "SetParameterValue FirmwareVersion", "SetParameterValue ParameterA",
                            "SetParameterValue ParameterB", "SetParameterValue ParameterAZ0",
                            "GetParameterValue Connected", "SetParameterValue Connected"));
    const std::vector<FakeCall> calls = host.Calls();
    EXPECT_EQ("B", DescribedValue<FakeStringValue>(calls[0])->value);
    EXPECT_EQ("A", DescribedValue<FakeStringValue>(calls[1])->value);
    EXPECT_EQ("C", DescribedValue<FakeStringValue>(calls[2])->value);
    EXPECT_EQ("D", DescribedValue<FakeStringValue>(calls[3])->value);
    EXPECT_EQ("F", DescribedValue<FakeStringValue>(calls[4])->value);
    EXPECT_EQ(1, DescribedValue<FakeBoolValue>(calls[9])->value);
    for (const FakeCall& call : calls) EXPECT_EQ("", call.texts[1]) << call.texts[0];
    EXPECT_EQ(static_cast<const void*>(static_cast<ZentuDigitalDevice::IParameterValue*>(&device->connected)),
              calls[8].object);
    EXPECT_TRUE(host.AllResultsReleased());
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, MirtConnectTest,
    testing::Values(ConnectCase{"HostHoldsFalse",
                                [](FakeHost&, FakeDeviceHost& h) {
                                    FakeBoolValue no;
                                    ASSERT_TRUE(h.SetStoredValue("Connected", no));
                                }},
                    ConnectCase{"HostKnowsNoConnected", [](FakeHost&, FakeDeviceHost&) {}},
                    ConnectCase{"HostRefusesEverything",
                                [](FakeHost& host, FakeDeviceHost&) { host.RefuseAll("no"); }}),
    [](const testing::TestParamInfo<ConnectCase>& info) { return std::string(info.param.name); });

TEST_F(MirtDeviceTest, ConnectedFollowsSetConnectedOnceConnected) {
    auto device = Make(Record({0, 0, 0}));
    device->SetConnected(false);
    EXPECT_THAT(host.Operations(), ElementsAre("Log"));  // the constructor's line
    EXPECT_FALSE(device->Start(1, &host));

    FakeDeviceHost& deviceHost = host.DeviceHost("BD");
    device->Connect(&deviceHost);
    device->SetConnected(false);
    FakeBoolValue shown;
    ASSERT_TRUE(deviceHost.ReadStoredValue("Connected", shown));
    EXPECT_EQ(0, shown.value);
}

struct StartCase {
    const char* name;
    uint32_t baseRate, sampleRate, syncMode, deviceIndex;
    bool retired, noStreamConfig, refuseAll;
    bool answer;
    std::vector<std::string> declared;  // "operation numbers..." of the stream configuration
};

class MirtStartTest : public MirtDeviceTest, public testing::WithParamInterface<StartCase> {};

TEST_P(MirtStartTest, DeclaresTheStream) {
    const StartCase& c = GetParam();
    auto device = Make(Record({0, 0, 0}, c.deviceIndex));
    device->Connect(&host.DeviceHost("BD"));
    device->sampleRate = c.sampleRate;
    device->SetSyncMode(c.syncMode);
    if (c.retired) device->SetConnected(false);
    host.SetBaseRate(c.baseRate);
    if (c.refuseAll) host.RefuseAll("no");
    host.ClearCalls();

    EXPECT_EQ(c.answer, device->Start(42, c.noStreamConfig ? nullptr : &host));
    std::vector<std::string> declared;
    for (const FakeCall& call : host.Calls()) {
        if (call.interfaceName != "IStreamConfig") continue;
        std::string text = call.operation;
        for (const std::string& t : call.texts) text += " " + t;
        for (int64_t n : call.numbers) text += " " + std::to_string(n);
        declared.push_back(text);
    }
    EXPECT_THAT(declared, ElementsAreArray(c.declared));
    uint32_t state = 9;
    uint8_t flag = 9;
    device->GetStatus(&state, &flag);
    EXPECT_EQ(0u, state);
    EXPECT_EQ(42u, device->hostDeviceId);
    EXPECT_TRUE(host.AllResultsReleased());
}

std::vector<std::string> Declared(uint32_t divisor, int64_t window = -1) {
    std::vector<std::string> d = {"SetSamplesPerPacket 16", "SetRateDivisor " + std::to_string(divisor),
                                  "SetStreamMode 2"};
    if (window >= 0) d.push_back("DeclareSyncPort Trigger In 1 " + std::to_string(window) + " 0 0 1");
    return d;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MirtStartTest,
    testing::Values(
        StartCase{"Base2000", 2000, 1000, 1, 0, false, false, false, true, Declared(2, 3)},
        StartCase{"Base1000", 1000, 1000, 1, 0, false, false, false, true, Declared(1, 1)},
        StartCase{"Base3000", 3000, 1000, 1, 0, false, false, false, true, Declared(3, 4)},
        StartCase{"BaseBelowRate", 999, 1000, 1, 0, false, false, false, true, Declared(0, 1)},
        StartCase{"HardwareTriggerNotFirst", 2000, 1000, 1, 1, false, false, false, true, Declared(2)},
        StartCase{"SoftwareTrigger", 2000, 1000, 0, 0, false, false, false, true, Declared(2)},
        StartCase{"Genlock", 2000, 1000, 2, 0, false, false, false, true, Declared(2)},
        StartCase{"HostRefusesEverything", 2000, 1000, 1, 0, false, false, true, true, Declared(2, 3)},
        StartCase{"RateZero", 2000, 0, 1, 0, false, false, false, false, {"SetSamplesPerPacket 16"}},
        StartCase{"Retired", 2000, 1000, 1, 0, true, false, false, false, {}},
        StartCase{"NoStreamConfig", 2000, 1000, 1, 0, false, true, false, false, {}}),
    [](const testing::TestParamInfo<StartCase>& info) { return std::string(info.param.name); });

// A real driver service on the simulated library, its pauses recorded.
class MirtBlinkTest : public MirtDeviceTest {
protected:
    void SetUp() override {
        UsbAmpSim::Reset();
        g_host = &driverLog;
        driver = std::make_unique<VKESUDriverService>();
    }
    void TearDown() override {
        driver.reset();
        g_host = nullptr;
        UsbAmpSim::Reset();
    }
    // The library calls of the commands queued so far.
    std::vector<std::string> LibraryCalls() {
        auto done = std::make_shared<Signal>();
        driver->Enqueue([done] { done->Raise(); });
        EXPECT_TRUE(done->Wait());
        std::vector<std::string> calls;
        for (const UsbAmpSim::Call& call : UsbAmpSim::Calls())
            calls.push_back(call.function +
                            (call.arguments.empty() ? "" : " " + std::to_string(call.arguments[0])));
        return calls;
    }

    SleepRecorder recorder;
    FakeHost driverLog;
    std::unique_ptr<VKESUDriverService> driver;
};

TEST_F(MirtBlinkTest, EachBlinkActionIdBlinksTheAmplifierOnce) {
    struct Case {
        std::vector<uint64_t> ids;
        bool connect;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {{5, 5}, true, {"fmDLLSelectDeviceIndex 3", "fmSetBlink", "fmDLLSelectDeviceIndex 3", "fmSetBlink"}},
        {{0, 1, 2, 3, 4, 6}, true, {}},
        {{4, 5}, true, {"fmDLLSelectDeviceIndex 3", "fmSetBlink"}},
        {{5}, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.ids) + (c.connect ? " connected" : " before Connect"));
        auto device = Make(Record({0, 0, 0}, 3), driver.get());
        FakeDeviceHost& deviceHost = host.DeviceHost("BD");
        deviceHost.SetChangedParameterIds(c.ids);
        if (c.connect) device->Connect(&deviceHost);
        host.ClearCalls();
        UsbAmpSim::ClearCalls();

        device->OnParametersChanged();
        EXPECT_THAT(LibraryCalls(), ElementsAreArray(c.calls));
        if (c.connect) {
            ASSERT_THAT(host.Operations(), ElementsAre("GetChangedParameterCount", "GetChangedParameterIds"));
            EXPECT_EQ(1, host.Calls()[1].numbers[0]);  // the selector
        } else {
            EXPECT_TRUE(host.Calls().empty());
        }
    }
}

struct ConversionCase {
    const char* name;
    std::array<float, 3> inches;
    double threshold;
    std::array<float, 6> sample;  // Fx Fy Fz Mx My Mz as delivered
    Nine expected;
};

class MirtConversionTest : public MirtDeviceTest, public testing::WithParamInterface<ConversionCase> {};

TEST_P(MirtConversionTest, ConvertsBitForBit) {
    const ConversionCase& c = GetParam();
    auto device = Make(Record(c.inches));
    device->SetDataThreshold(c.threshold);
    Run(*device);
    Block block(1);
    std::copy(c.sample.begin(), c.sample.end(), block.Group(5, 0) + 1);

    device->TransferData(block.floats.data(), 1);
    const std::vector<FakeCall> writes = host.CallsOf("WriteSamples");
    ASSERT_EQ(1u, writes.size());
    ASSERT_EQ(144u, writes[0].values.size());
    std::vector<uint32_t> expected(144, 0);
    for (size_t k = 0; k < 9; ++k) expected[45 + k] = Bits(c.expected[k]);
    EXPECT_THAT(BitsOf(writes[0].values.data(), 144), ElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Samples, MirtConversionTest,
    testing::Values(ConversionCase{"Reference",
                                   {1, 2, 3},
                                   20,
                                   {12.5f, -7.25f, -300, 40, -25, 3},
                                   {-12.5f, -7.25f, 300, -24.20755f, -18.3325005f, -2.18085003f,
                                    0.0611083359f, -0.0806918442f, 0}},
                    ConversionCase{"FzEqualToThreshold", {1, 2, 3}, 20, {12.5f, -7.25f, -20, 40, -25, 3}, {}},
                    ConversionCase{"FzBelowThreshold", {1, 2, 3}, 20, {12.5f, -7.25f, 19.5f, 40, -25, 3}, {}},
                    ConversionCase{"FzNotANumber", {1, 2, 3}, 20, {12.5f, -7.25f, kNaN, 40, -25, 3}, {}},
                    ConversionCase{"ThresholdZeroFzZero", {1, 2, 3}, 0, {12.5f, -7.25f, 0, 40, -25, 3}, {}},
                    ConversionCase{"FzJustAboveThreshold",
                                   {0, 0, 0},
                                   20,
                                   {12.5f, -7.25f, std::nextafter(20.0f, 21.0f), 40, -25, 3},
                                   Reduced(12.5f, -7.25f, std::nextafter(20.0f, 21.0f), 40, -25, 3)},
                    // In single precision the threshold would round up to 20 and hold the sample back.
                    ConversionCase{"ThresholdComparedInDouble",
                                   {0, 0, 0},
                                   19.9999999,
                                   {1, 2, 20, 3, 5, 7},
                                   Reduced(1, 2, 20, 3, 5, 7)},
                    ConversionCase{"LargeNegativeFz",
                                   {0, 0, 0},
                                   20,
                                   {-3.5f, 6, -1.0e6f, 11, -13, 17},
                                   Reduced(-3.5f, 6, -1.0e6f, 11, -13, 17)}),
    [](const testing::TestParamInfo<ConversionCase>& info) { return std::string(info.param.name); });

struct LayoutCase {
    const char* name;
    uint32_t amplifiers, deviceIndex;
};

class MirtLayoutTest : public MirtDeviceTest, public testing::WithParamInterface<LayoutCase> {};

TEST_P(MirtLayoutTest, ReadsOnlyItsOwnGroupOfEachSample) {
    const LayoutCase& c = GetParam();
    auto device = Make(Record({0, 0, 0}, c.deviceIndex));
    Run(*device);
    // Every float of the block differs, counters and trigger values included.
    Block block(c.amplifiers);
    for (size_t i = 0; i < block.floats.size(); ++i) block.floats[i] = -1000.0f - static_cast<float>(i);
    for (uint32_t d = 0; d < c.amplifiers; ++d) block.Group(0, d)[0] = static_cast<float>(100 * (d + 1));

    device->TransferData(block.floats.data(), c.amplifiers);
    std::vector<uint32_t> expected;
    for (uint32_t s = 0; s < 16; ++s) {
        const float* g = block.floats.data() + (c.deviceIndex + s * c.amplifiers) * 8;
        const Nine sample = Reduced(g[1], g[2], g[3], g[4], g[5], g[6]);
        for (float v : sample) expected.push_back(Bits(v));
    }
    const std::vector<FakeCall> writes = host.CallsOf("WriteSamples");
    ASSERT_EQ(1u, writes.size());
    EXPECT_THAT(BitsOf(writes[0].values.data(), writes[0].values.size()), ElementsAreArray(expected));
    EXPECT_EQ(100 * (c.deviceIndex + 1), writes[0].numbers[1]);  // the counter of sample 0's own group
}

INSTANTIATE_TEST_SUITE_P(Blocks, MirtLayoutTest,
                         testing::Values(LayoutCase{"OneAmplifier", 1, 0}, LayoutCase{"FirstOfThree", 3, 0},
                                         LayoutCase{"LastOfThree", 3, 2}),
                         [](const testing::TestParamInfo<LayoutCase>& info) {
                             return std::string(info.param.name);
                         });

// A block with this counter, or (kStart) a new Start of the device.
struct Step {
    float counter;
    bool writes;
    int64_t index;
};
const float kStart = -2.0f;
Step Written(float counter, int64_t index) {
    return {counter, true, index};
}
Step Skipped(float counter) {
    return {counter, false, 0};
}
Step Restart() {
    return {kStart, false, 0};
}

struct IndexCase {
    const char* name;
    std::vector<Step> steps;
};

class MirtIndexTest : public MirtDeviceTest, public testing::WithParamInterface<IndexCase> {};

TEST_P(MirtIndexTest, NumbersEveryPacketFromTheUnwrappedCounter) {
    auto device = Make(Record({0, 0, 0}, 1));
    device->SetDataThreshold(0);
    FakeDeviceHost& deviceHost = Run(*device);
    device->startCounter = 7;
    std::vector<int64_t> expected;
    for (const Step& step : GetParam().steps) {
        if (step.counter == kStart) {
            ASSERT_TRUE(device->Start(7, &host));
            continue;
        }
        // Fz 0 throughout: every sample below the threshold.
        Block block(2);
        block.Group(0, 1)[0] = step.counter;
        device->TransferData(block.floats.data(), 2);
        if (step.writes) expected.push_back(step.index);
    }
    std::vector<int64_t> indices;
    for (const FakeCall& write : host.CallsOf("WriteSamples")) {
        EXPECT_EQ(deviceHost.Name(), write.deviceHost);
        EXPECT_THAT(write.numbers, ElementsAre(7, write.numbers[1], 16, 3, 144));
        EXPECT_THAT(write.outputIds, ElementsAre(0u, 1u, 2u));
        EXPECT_EQ(std::vector<float>(144, 0.0f), write.values);
        indices.push_back(write.numbers[1]);
    }
    EXPECT_THAT(indices, ElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Counters, MirtIndexTest,
    testing::Values(
        IndexCase{"FirstBlockAtZeroIsNoWrap", {Written(0, -7)}},
        IndexCase{"FirstBlockAt16", {Written(16, 9)}},
        IndexCase{"RisingCounter", {Written(16, 9), Written(32, 25)}},
        IndexCase{"EqualCounterWraps", {Written(16, 9), Written(16, kWrap + 9)}},
        IndexCase{"FallingCounterWraps", {Written(kWrap - 16, kWrap - 23), Written(0, kWrap - 7)}},
        IndexCase{"StartResetsTheCounters",
                  {Written(16, 9), Written(16, kWrap + 9), Restart(), Written(0, -7)}},
        IndexCase{"NaNCounter", {Written(16, 9), Skipped(kNaN), Written(32, 25)}},
        IndexCase{"InfiniteCounter",
                  {Written(16, 9), Skipped(std::numeric_limits<float>::infinity()), Written(32, 25)}},
        IndexCase{"NegativeCounter", {Written(16, 9), Skipped(-16), Written(32, 25)}},
        IndexCase{"CounterOf2To24", {Written(16, 9), Skipped(kWrap), Written(32, 25)}}),
    [](const testing::TestParamInfo<IndexCase>& info) { return std::string(info.param.name); });

TEST_F(MirtDeviceTest, ARefusedWriteIsReleasedAndTheNextBlockWrittenAsUsual) {
    auto device = Make(Record({0, 0, 0}));
    Run(*device);
    Block block(1);
    host.RefuseOperation("WriteSamples", "full");
    block.floats[0] = 16;
    device->TransferData(block.floats.data(), 1);
    host.ClearRefusals();
    block.floats[0] = 32;
    device->TransferData(block.floats.data(), 1);

    const std::vector<FakeCall> writes = host.CallsOf("WriteSamples");
    ASSERT_EQ(2u, writes.size());
    EXPECT_TRUE(writes[0].refused);
    EXPECT_FALSE(writes[1].refused);
    EXPECT_EQ(32, writes[1].numbers[1]);
    EXPECT_TRUE(host.AllResultsReleased());
}

TEST_F(MirtDeviceTest, WithoutADeviceHostABlockChangesNothing) {
    auto device = Make(Record({0, 0, 0}));
    device->wrapOffset = 5;
    device->lastCounter = 40;
    Block block(1);
    block.floats[0] = 16;
    host.ClearCalls();
    device->TransferData(block.floats.data(), 1);
    EXPECT_TRUE(host.Calls().empty());
    EXPECT_EQ(5, device->wrapOffset);
    EXPECT_EQ(40, device->lastCounter);
}

// These never wait for the device's lock, so a host may call them from
// inside one of its own callbacks while the device holds it.
TEST_F(MirtDeviceTest, LockFreeSlotsReturnWhileTheLockIsHeld) {
    auto device = Make(Record({0, 0, 0}));
    device->state = 2;
    const std::vector<std::pair<const char*, std::function<void()>>> slots = {
        {"GetStatus",
         [&] {
             uint32_t state = 9;
             uint8_t flag = 9;
             device->GetStatus(&state, &flag);
             EXPECT_EQ(2u, state);
             EXPECT_EQ(0u, flag);
         }},
        {"SetStartTime", [&] { device->SetStartTime(1.5); }},
        {"Stop", [&] { device->Stop(); }},
        {"Unused4", [&] { device->Unused4(); }},
        {"SetDataThreshold", [&] { device->SetDataThreshold(3.5); }},
        {"SetSyncMode", [&] { device->SetSyncMode(1); }},
    };
    host.ClearCalls();
    for (const auto& slot : slots) {
        SCOPED_TRACE(slot.first);
        boost::unique_lock<boost::mutex> held(device->mutex);
        Signal returned;
        std::thread caller([&] {
            slot.second();
            returned.Raise();
        });
        EXPECT_TRUE(returned.Wait());
        held.unlock();
        caller.join();
    }
    EXPECT_TRUE(host.Calls().empty());
    EXPECT_EQ(2u, device->state.load());
    EXPECT_EQ(3.5, device->dataThreshold);
    EXPECT_EQ(1u, device->syncMode.load());
}

}  // namespace
