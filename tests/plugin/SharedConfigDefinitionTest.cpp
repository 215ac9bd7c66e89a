// The placeholder definition "Digital device common settings", its copy and
// the reading of a stored synchronisation mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/ModuleStatics.h"
#include "plugin/VSharedConfigDefinition.h"
#include "plugin/VSharedConfigDevice.h"
#include "tests/plugin/DescribedValue.h"
#include "tests/support/FakeHost.h"

using namespace KESU;
using namespace KESUTest;

namespace {

const std::vector<std::string> kRateTexts = {
    "2000", "1800", "1500", "1200", "1000", "900", "800", "600", "500", "450", "400", "360",
    "300",  "250",  "240",  "225",  "200",  "180", "150", "125", "120", "100", "90",  "80",
    "75",   "60",   "50",   "45",   "40",   "30",  "25",  "20",  "15",  "10"};

}  // namespace

TEST(SharedConfigDefinitionTest, DescribesTheCommonSettingsRateFirst) {
    FakeHost host;
    const IDeviceDefinition& definition = g_sharedConfigDefinition;
    definition.Describe(&host, true);

    EXPECT_EQ(
        std::vector<std::string>({"DefineDevice KESU", "AddParameter SampleRate", "AddParameter SyncMode",
                                  "AddParameter DataThreshold", "AddParameter BroadcastZero",
                                  "AddParameter ScanForHardware", "Finish"}),
        Trace(host));
    EXPECT_EQ(std::vector<std::string>(
                  {"KESU", "Digital device common settings", "V1.14",
                   "This is a placeholder device controlling settings common to all KESU devices",
                   "Shared Configuration", "Add KESU Mirt/Pelora devices", ""}),
              host.CallsOf("DefineDevice").at(0).texts);

    const std::vector<FakeCall> parameters = host.CallsOf("AddParameter");
    ASSERT_EQ(5u, parameters.size());
    const std::vector<std::vector<std::string>> texts = {
        {"SampleRate", "Acquisition rate",
         "Broadcasts an acquisition rate, in datasets per second, to all connected signal conditioners.",
         "Device collection"},
        {"SyncMode", "Synchronization mode", "Synchronization mode", "Device collection"},
        {"DataThreshold", "Fz Threshold", "Fz limit below which data are not collected.",
         "Device collection"},
        {"BroadcastZero", "Zero digital platforms",
         "Send a 'Zero' command to all of the signal conditioners. Calling this function doesn't interrupt "
         "data acquisition.",
         "Actions"},
        {"ScanForHardware", "Detect KESU digital devices", "Search for additional signal conditioners",
         "Plug-in"}};
    const int64_t ids[] = {1, 0, 2, 3, 5};
    for (size_t i = 0; i < parameters.size(); ++i) {
        SCOPED_TRACE(texts[i][0]);
        EXPECT_EQ(texts[i], parameters[i].texts);
        EXPECT_EQ(std::vector<int64_t>({1, ids[i]}), parameters[i].numbers);
        std::unique_ptr<FakeValue> value = FakeValue::FromImage(parameters[i].image);
        ASSERT_NE(nullptr, value);
        EXPECT_FALSE(value->GetFlag1());
        EXPECT_FALSE(value->GetFlag2());
        EXPECT_FALSE(value->GetFlag3());
    }

    std::unique_ptr<FakeEnumValue> rate = DescribedValue<FakeEnumValue>(parameters[0]);
    ASSERT_NE(nullptr, rate);
    EXPECT_EQ(kRateTexts, rate->entries);
    EXPECT_EQ("1000", rate->value);

    std::unique_ptr<FakeEnumValue> mode = DescribedValue<FakeEnumValue>(parameters[1]);
    ASSERT_NE(nullptr, mode);
    EXPECT_EQ(std::vector<std::string>({"Software trigger", "Hardware trigger"}), mode->entries);
    EXPECT_EQ("Software trigger", mode->value);

    std::unique_ptr<FakeDoubleValue> threshold = DescribedValue<FakeDoubleValue>(parameters[2]);
    ASSERT_NE(nullptr, threshold);
    EXPECT_EQ(20.0, threshold->value);
    EXPECT_EQ(0.0, threshold->minimum);
    EXPECT_EQ(50.0, threshold->maximum);
    EXPECT_EQ(1, threshold->hasLimits);

    for (size_t i : {3u, 4u}) {
        std::unique_ptr<FakeActionValue> action = DescribedValue<FakeActionValue>(parameters[i]);
        ASSERT_NE(nullptr, action);
        EXPECT_EQ(0u, action->value);
    }
    EXPECT_TRUE(host.FindDefinition("Digital device common settings")->finished);
}

TEST(SharedConfigDefinitionTest, BlinkFlagAndRefusalsChangeNothing) {
    FakeHost offered;
    g_sharedConfigDefinition.Describe(&offered, true);
    FakeHost notOffered;
    g_sharedConfigDefinition.Describe(&notOffered, false);
    EXPECT_EQ(Trace(offered), Trace(notOffered));

    FakeHost refusing;
    refusing.RefuseAll("no");
    g_sharedConfigDefinition.Describe(&refusing, true);
    EXPECT_EQ(Trace(offered), Trace(refusing));
    EXPECT_EQ(7u, refusing.ResultsHandedOut());
    EXPECT_TRUE(refusing.AllResultsReleased());
}

TEST(SharedConfigDefinitionTest, CopyCarriesEverythingAndSharesNothing) {
    VSharedConfigDefinition source;
    source.sampleRate.value.SetValue("600");
    source.dataThreshold.value.SetValue(35.5);

    VSharedConfigDefinition copy(source);
    EXPECT_EQ("Digital device common settings", copy.name);
    EXPECT_EQ("V1.14", copy.version);
    EXPECT_EQ("KESU", copy.maker);
    EXPECT_TRUE(copy.sampleRate.value.Equals(source.sampleRate.value));
    EXPECT_EQ("600", copy.sampleRate.value.GetValue());
    EXPECT_TRUE(copy.dataThreshold.value.Equals(source.dataThreshold.value));
    EXPECT_EQ(1u, copy.sampleRate.id);

    copy.sampleRate.value.SetEntries({"1000", "500"});
    copy.syncMode.value.SetValue("Genlock");
    copy.dataThreshold.value.maximum = 10.0;
    copy.name.clear();
    EXPECT_EQ(kRateTexts, source.sampleRate.value.GetEntries());
    EXPECT_EQ("Software trigger", source.syncMode.value.GetValue());
    EXPECT_EQ(50.0, source.dataThreshold.value.maximum);
    EXPECT_EQ("Digital device common settings", source.name);
}

TEST(SharedConfigDefinitionTest, SyncModeFromTextIsExactAndDefaultsToSoftware) {
    EXPECT_EQ(0, VSharedConfigDevice::SyncModeFromText("Software trigger"));
    EXPECT_EQ(1, VSharedConfigDevice::SyncModeFromText("Hardware trigger"));
    EXPECT_EQ(2, VSharedConfigDevice::SyncModeFromText("Genlock"));
    for (const char* other : {"", "software trigger", "Hardware Trigger", "genlock", "Genlock ",
                              " Hardware trigger", "Hardware trigger\n"})
        EXPECT_EQ(0, VSharedConfigDevice::SyncModeFromText(other)) << '"' << other << '"';
    EXPECT_EQ(0, VSharedConfigDevice::SyncModeFromText(std::string("Genlock\0", 8)));
}
