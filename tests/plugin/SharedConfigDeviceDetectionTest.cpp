// Detection handling: supported rates and trigger levels by amplifier type,
// rate snapping, and the amplifier devices kept, reused and instantiated.
#include "plugin/SampleRates.h"
#include "tests/plugin/SharedConfigDeviceTest.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Not;

namespace KESUTest {

namespace {

const std::vector<uint32_t> kType400Rates = {1000, 600, 500, 300, 250, 200, 150, 125,
                                             120,  100, 60,  50,  30,  25,  15,  10};

bool HostSaysConnected(FakeHost& host, const std::string& device) {
    ZentuDigitalDevice::IParameterValueBool connected;
    EXPECT_TRUE(host.DeviceHost(device).ReadStoredValue("Connected", connected));
    return connected.GetValue();
}

}  // namespace

TEST_F(PlaceholderTest, DetectionNarrowsRatesAndListsTriggerLevelsByType) {
    const std::vector<uint32_t> all(KESU::kDefaultRates, KESU::kDefaultRates + KESU::kDefaultRateCount);
    struct Case {
        std::vector<int32_t> types;
        std::vector<uint32_t> rates, levels;
    };
    // Each detection starts from the full list again.
    const Case cases[] = {
        {{400}, kType400Rates, {0}},
        {{100}, all, {1}},
        {{300}, std::vector<uint32_t>(all.begin() + 3, all.end()), {1}},
        {{300, 400}, kType400Rates, {1, 0}},
        {{400, 200, 100}, kType400Rates, {0, 1}},
        // A type the library could not read is unsupported, not a fresh start.
        {{300, 0, 100}, std::vector<uint32_t>(all.begin() + 3, all.end()), {1, 1}},
    };
    Connect({});
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.types));
        std::vector<UsbAmpSim::Amplifier> amplifiers;
        for (int32_t type : c.types) amplifiers.push_back(Amp(type, static_cast<int>(amplifiers.size())));
        host.ClearCalls();
        Rescan(amplifiers);
        std::vector<std::string> skipped, expected;
        for (const std::string& line : Log())
            if (line.find("unsupported") != std::string::npos) skipped.push_back(line);
        for (int32_t type : c.types)
            if (type != 100 && type != 300 && type != 400)
                expected.push_back("2 Detected unsupported device type " + std::to_string(type) +
                                   ", skipping...)");
        EXPECT_EQ(skipped, expected);
        EXPECT_EQ(Devices().size(), c.levels.size());
        boost::unique_lock<boost::mutex> lock(placeholder->mutex);
        EXPECT_THAT(std::vector<uint32_t>(placeholder->rates, placeholder->rates + placeholder->rateCount),
                    ElementsAreArray(c.rates));
        EXPECT_EQ(placeholder->triggerLevel, c.levels);
        EXPECT_EQ(placeholder->deviceCount, c.types.size());
    }
}

TEST_F(PlaceholderTest, SampleRateSnapsToTheNearerSupportedRateATieToTheLower) {
    Connect({Amp(400, 0), Amp(400, 1)});
    struct Case {
        uint32_t requested, rate;
    };
    for (const Case& c :
         {Case{900, 1000}, Case{800, 600}, Case{5, 10}, Case{2000, 2000}, Case{10, 10}, Case{0, 10}}) {
        SCOPED_TRACE(c.requested);
        host.ClearCalls();
        UsbAmpSim::ClearCalls();
        Change("SampleRate", std::to_string(c.requested), {1});
        ASSERT_TRUE(Drain());
        if (c.requested == c.rate)
            EXPECT_THAT(Log(), ::testing::IsEmpty());
        else
            EXPECT_THAT(Log(), ElementsAre("2 Sample rate " + std::to_string(c.requested) + " adjusted to " +
                                           std::to_string(c.rate) + " to match devices"));
        EXPECT_THAT(UsbAmpSim::Calls().back().arguments, ElementsAre(c.rate));
        EXPECT_EQ(placeholder->sampleRate, c.rate);
        for (const Device& device : Devices()) EXPECT_EQ(device->sampleRate, c.rate);
    }
}

TEST_F(PlaceholderTest, DetectionReusesDevicesByIdentityRetiresTheOthersAndLogsItsOutcome) {
    Connect({Amp(300, 0), Amp(300, 1)});
    const std::vector<Device> first = Devices();
    ASSERT_EQ(first.size(), 2u);
    Rescan({Amp(300, 1)});
    EXPECT_THAT(Devices(), ElementsAre(first[1]));
    EXPECT_EQ(first[1]->deviceIndex, 0u);
    EXPECT_FALSE(HostSaysConnected(host, "AS0PS0"));
    EXPECT_TRUE(HostSaysConnected(host, "AS1PS1"));

    Rescan({Amp(300, 1), Amp(300, 0)});
    EXPECT_THAT(Devices(), ElementsAre(first[1], first[0]));
    EXPECT_EQ(first[0]->deviceIndex, 1u);
    EXPECT_TRUE(HostSaysConnected(host, "AS0PS0"));
    EXPECT_EQ(host.CallsOf("InstantiateDevice").size(), 3u) << "the placeholder and two amplifiers";

    // Another plate on amplifier 1: a device of its own, not the old plate's.
    std::vector<UsbAmpSim::Amplifier> moved = {Amp(300, 1), Amp(300, 0)};
    moved[0].platformSerial = "PS9";
    Rescan(moved);
    const Device plate = Devices().at(0);
    EXPECT_NE(plate, first[1]);
    EXPECT_EQ(plate->platformSerialNumber, "PS9");
    EXPECT_EQ(plate->name, "AS1PS9");
    Rescan({Amp(300, 1), Amp(300, 0)});
    EXPECT_THAT(Devices(), ElementsAre(first[1], first[0]));

    for (bool timedOut : {false, true}) {
        host.ClearCalls();
        UsbAmpSim::SetReadyAfterPolls(timedOut ? UsbAmpSim::kNeverReady : 1);
        UsbAmpSim::SetSetupCheckCode(0);
        Rescan({});
        EXPECT_THAT(Log(), ElementsAre(timedOut ? "3 Unsuccessful KESU device detection loop: KESU device "
                                                  "initialization timed out, consider restarting the "
                                                  "application."
                                                : "1 Successful KESU device detection loop: No KESU devices "
                                                  "were found",
                                       "1 Detected 0 KESU digital devices"));
        EXPECT_TRUE(Devices().empty());
        EXPECT_FALSE(HostSaysConnected(host, "AS1PS1"));
    }
}

TEST_F(PlaceholderTest, EachNewDeviceGetsItsPlateDefinitionAndUnsupportedTypesAreSkipped) {
    KESU::g_customPlateDefinitions = new KESU::VKESUGenericPlateDefinition[1];
    KESU::g_customPlateDefinitions[0].name = "Walkway";
    KESU::g_customPlateCount = 1;
    std::vector<UsbAmpSim::Amplifier> amplifiers = {Amp(200, 0), Amp(300, 1), Amp(400, 2), Amp(100, 3)};
    amplifiers[1].platformModel = "Ruvo 1";
    amplifiers[2].platformModel = "Walkway";
    host.RefuseOperationWith("InstantiateDevice", "AS3PS3", "No room");
    Connect(amplifiers);
    delete[] KESU::g_customPlateDefinitions;
    KESU::g_customPlateDefinitions = nullptr;
    KESU::g_customPlateCount = 0;

    std::vector<std::string> instantiated;
    for (const FakeCall& call : host.CallsOf("InstantiateDevice"))
        instantiated.push_back(call.texts[1] + "/" + call.texts[3]);
    EXPECT_THAT(instantiated, ElementsAre("Digital device common settings/KESU Shared Config Device",
                                          "Ruvo/AS1PS1", "Walkway/AS2PS2", "Force plate/AS3PS3"));
    const std::vector<std::string> log = Log();
    EXPECT_THAT(log, Contains("2 Detected unsupported device type 200, skipping...)"));
    EXPECT_THAT(log, Contains("1 Detected 4 KESU digital devices"));
    EXPECT_THAT(log, Contains("2 Host returned \"No room\" when trying to instantiate device PM3"));
    EXPECT_TRUE(host.AllResultsReleased());
    const std::vector<Device> devices = Devices();
    ASSERT_EQ(devices.size(), 3u);
    for (uint32_t d = 0; d < 3; ++d) EXPECT_EQ(devices[d]->deviceIndex, d + 1);
}

TEST_F(PlaceholderTest, RecordsOfOneIdentityGetADeviceEachAndKeepThemAcrossDetections) {
    Connect({Amp(300, 0), Amp(300, 0)});
    const std::vector<Device> first = Devices();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_NE(first[0], first[1]);

    // Again, fewer and more of them: the earlier devices in the order they
    // were made, and a new one only for the third record.
    Rescan({Amp(300, 0), Amp(300, 0)});
    EXPECT_THAT(Devices(), ElementsAre(first[0], first[1]));
    Rescan({Amp(300, 0)});
    EXPECT_THAT(Devices(), ElementsAre(first[0]));
    Rescan({Amp(300, 0), Amp(300, 0), Amp(300, 0)});
    const std::vector<Device> third = Devices();
    ASSERT_EQ(third.size(), 3u);
    EXPECT_EQ(third[0], first[0]);
    EXPECT_EQ(third[1], first[1]);
    EXPECT_EQ(host.Instances().size(), 4u) << "the placeholder and three amplifier devices";
}

}  // namespace KESUTest
