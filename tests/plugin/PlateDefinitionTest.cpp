// What a force-plate definition tells the builder, under every refusal rule,
// and what its copies carry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "plugin/ModuleStatics.h"
#include "plugin/VKESUGenericPlateDefinition.h"
#include "plugin/VKESUPlateModels.h"
#include "tests/plugin/DescribedValue.h"
#include "tests/support/FakeHost.h"

using namespace KESU;
using namespace KESUTest;

namespace {

const char* const kPlateDescription = "This device represents an KESU force plate/signal conditioner pair";
const char* const kBlinkDescription =
    "Make the selected signal conditioner blink. The amber light will blink for ten seconds. ";

std::vector<std::string> FullTrace(bool blink) {
    std::vector<std::string> trace = {"DefineDevice KESU",
                                      "AddParameter Connected",
                                      "AddOutput Force",
                                      "AddComponent Fx",
                                      "AddComponent Fy",
                                      "AddComponent Fz",
                                      "AddOutput Moment",
                                      "AddComponent Mx",
                                      "AddComponent My",
                                      "AddComponent Mz",
                                      "AddOutput CoP",
                                      "AddComponent Cx",
                                      "AddComponent Cy",
                                      "AddComponent Cz",
                                      "AddParameter StandardDimension_X",
                                      "AddParameter StandardDimension_Y",
                                      "AddParameter ParameterA",
                                      "AddParameter ParameterB",
                                      "AddParameter ParameterAZ0",
                                      "AddParameter AmplifierModel",
                                      "AddParameter AmplifierSerial",
                                      "AddParameter PlatformModel",
                                      "AddParameter PlatformSerial",
                                      "AddParameter FirmwareVersion"};
    if (blink) trace.push_back("AddParameter BlinkAction");
    trace.push_back("SetSyncPort Sync Port");
    trace.push_back("Finish");
    return trace;
}

struct ExpectedParameter {
    const char* name;
    const char* displayName;
    const char* description;
    const char* group;
    bool builderFlag;
    uint64_t id;
    uint32_t type;
    bool flagged;  // flag1 and flag2 set
};

const ExpectedParameter kPlateParameters[] = {
    {"Connected", "Connected", "Indicates whether the device is connected", "Status", false, 0, 1, true},
    {"StandardDimension_X", "X", "Length of force plate in the X Axis (meters)", "Dimensions", true, 6, 3,
     true},
    {"StandardDimension_Y", "Y", "Length of force plate in the Y Axis (meters)", "Dimensions", true, 0, 3,
     true},
    {"ParameterA", "a", "X displacement from sensor origin to force plate origin.", "Origin", true, 6, 3,
     true},
    {"ParameterB", "b", "Y displacement from sensor origin to force plate origin.", "Origin", true, 6, 3,
     true},
    {"ParameterAZ0", "az0", "Negative Z displacement from sensor origin to force plate surface.", "Origin",
     true, 6, 3, true},
    {"AmplifierModel", "Amplifier Model", "Amplifier Model", "Amplifier", true, 1, 4, true},
    {"AmplifierSerial", "Amplifier Serial", "Amplifier Serial", "Amplifier", true, 2, 4, true},
    {"PlatformModel", "Platform Model", "Platform Model", "Platform", true, 3, 4, true},
    {"PlatformSerial", "Platform Serial", "Platform Serial", "Platform", true, 4, 4, true},
    {"FirmwareVersion", "Firmware Version", "Firmware Version", "Amplifier", true, 0, 4, true},
    {"BlinkAction", "Blink", kBlinkDescription, "Amplifier", true, 5, 0, false},
};

}  // namespace

TEST(PlateDefinitionTest, GenericDefinitionDescribesItselfCompletely) {
    FakeHost host;
    VKESUGenericPlateDefinition definition;
    definition.Describe(&host, true);

    EXPECT_EQ(FullTrace(true), Trace(host));

    const std::vector<FakeCall> define = host.CallsOf("DefineDevice");
    ASSERT_EQ(1u, define.size());
    EXPECT_EQ(
        std::vector<std::string>({"KESU", "Force plate", "   ", kPlateDescription, "ForcePlate", "", ""}),
        define[0].texts);

    const std::vector<FakeCall> parameters = host.CallsOf("AddParameter");
    ASSERT_EQ(std::size(kPlateParameters), parameters.size());
    for (size_t i = 0; i < parameters.size(); ++i) {
        const ExpectedParameter& expected = kPlateParameters[i];
        const FakeCall& call = parameters[i];
        SCOPED_TRACE(expected.name);
        EXPECT_EQ(std::vector<std::string>(
                      {expected.name, expected.displayName, expected.description, expected.group}),
                  call.texts);
        EXPECT_EQ(std::vector<int64_t>({expected.builderFlag ? 1 : 0, static_cast<int64_t>(expected.id)}),
                  call.numbers);
        std::unique_ptr<FakeValue> value = FakeValue::FromImage(call.image);
        ASSERT_NE(nullptr, value);
        EXPECT_EQ(expected.type, value->GetType());
        EXPECT_EQ(expected.flagged, value->GetFlag1());
        EXPECT_EQ(expected.flagged, value->GetFlag2());
        EXPECT_FALSE(value->GetFlag3());
        if (auto* number = dynamic_cast<FakeDoubleValue*>(value.get())) {
            // No entry and no dimension carries limits.
            EXPECT_EQ(-DBL_MAX, number->minimum);
            EXPECT_EQ(DBL_MAX, number->maximum);
            EXPECT_EQ(0, number->hasLimits);
        }
    }
    std::unique_ptr<FakeBoolValue> connected = DescribedValue<FakeBoolValue>(parameters[0]);
    ASSERT_NE(nullptr, connected);
    EXPECT_EQ(0, connected->value);
    EXPECT_EQ(0.5, DescribedValueNamed<FakeDoubleValue>(host, "StandardDimension_X"));
    EXPECT_EQ(0.5, DescribedValueNamed<FakeDoubleValue>(host, "StandardDimension_Y"));
    EXPECT_EQ(0.0, DescribedValueNamed<FakeDoubleValue>(host, "ParameterA"));
    EXPECT_EQ("", DescribedValueNamed<FakeStringValue>(host, "PlatformSerial"));
    std::unique_ptr<FakeActionValue> blink = DescribedValue<FakeActionValue>(parameters.back());
    ASSERT_NE(nullptr, blink);
    EXPECT_EQ(0u, blink->value);

    const std::vector<FakeCall> outputs = host.CallsOf("AddOutput");
    ASSERT_EQ(3u, outputs.size());
    EXPECT_EQ(13, outputs[0].numbers.at(0));
    EXPECT_EQ(14, outputs[1].numbers.at(0));
    EXPECT_EQ(1, outputs[2].numbers.at(0));

    std::unique_ptr<FakeDefinition> described = host.FindDefinition("Force plate");
    ASSERT_NE(nullptr, described);
    EXPECT_EQ("Sync Port", described->syncPort);
    EXPECT_TRUE(described->finished);
    EXPECT_EQ(0u, host.ResultsHandedOut());
}

TEST(PlateDefinitionTest, ModelDefinitionDiffersOnlyInNameAndSizes) {
    FakeHost host;
    const IDeviceDefinition& model = g_tamselPlateDefinition;
    model.Describe(&host, true);

    EXPECT_EQ(FullTrace(true), Trace(host));
    EXPECT_EQ(std::vector<std::string>({"KESU", "Tamsel", "   ", kPlateDescription, "ForcePlate", "", ""}),
              host.CallsOf("DefineDevice").at(0).texts);
    EXPECT_EQ(0.4, DescribedValueNamed<FakeDoubleValue>(host, "StandardDimension_X"));
    EXPECT_EQ(0.6, DescribedValueNamed<FakeDoubleValue>(host, "StandardDimension_Y"));
}

TEST(PlateDefinitionTest, WithoutBlinkOnlyTheBlinkActionIsLeftOut) {
    FakeHost host;
    g_vellPlateDefinition.Describe(&host, false);

    EXPECT_EQ(FullTrace(false), Trace(host));
    EXPECT_EQ("Vell", host.CallsOf("DefineDevice").at(0).texts.at(1));
    EXPECT_EQ(0.498, DescribedValueNamed<FakeDoubleValue>(host, "StandardDimension_X"));
    EXPECT_EQ(0.498, DescribedValueNamed<FakeDoubleValue>(host, "StandardDimension_Y"));
}

TEST(PlateDefinitionTest, RefusedCallsEndOnlyTheirOwnStep) {
    {
        SCOPED_TRACE("every call refused");
        FakeHost host;
        host.RefuseAll("no");
        g_genericPlateDefinition.Describe(&host, true);
        const std::vector<std::string> expected = {"DefineDevice KESU",
                                                   "AddParameter Connected",
                                                   "AddOutput Force",
                                                   "AddOutput Moment",
                                                   "AddOutput CoP",
                                                   "AddParameter StandardDimension_X",
                                                   "AddParameter ParameterA",
                                                   "AddParameter ParameterB",
                                                   "AddParameter ParameterAZ0",
                                                   "AddParameter AmplifierModel",
                                                   "AddParameter AmplifierSerial",
                                                   "AddParameter PlatformModel",
                                                   "AddParameter PlatformSerial",
                                                   "AddParameter FirmwareVersion",
                                                   "AddParameter BlinkAction",
                                                   "SetSyncPort Sync Port",
                                                   "Finish"};
        EXPECT_EQ(expected, Trace(host));
        EXPECT_EQ(expected.size(), host.ResultsHandedOut());
        EXPECT_TRUE(host.AllResultsReleased());
    }
    {
        SCOPED_TRACE("Fy refused");
        FakeHost host;
        host.RefuseOperationWith("AddComponent", "Fy", "no Fy");
        g_genericPlateDefinition.Describe(&host, true);
        std::vector<std::string> expected = FullTrace(true);
        expected.erase(std::find(expected.begin(), expected.end(), "AddComponent Fz"));
        EXPECT_EQ(expected, Trace(host));
        const std::vector<FakeOutput> outputs = host.FindDefinition("Force plate")->outputs;
        ASSERT_EQ(3u, outputs.size());
        EXPECT_EQ(std::vector<std::string>({"Fx"}), outputs[0].components);
        EXPECT_EQ(std::vector<std::string>({"Mx", "My", "Mz"}), outputs[1].components);
        EXPECT_EQ(1u, host.ResultsHandedOut());
        EXPECT_TRUE(host.AllResultsReleased());
    }
    {
        SCOPED_TRACE("Force output refused");
        FakeHost host;
        host.RefuseOperationWith("AddOutput", "Force", "no force");
        g_genericPlateDefinition.Describe(&host, true);
        std::vector<std::string> expected = FullTrace(true);
        for (const char* component : {"AddComponent Fx", "AddComponent Fy", "AddComponent Fz"})
            expected.erase(std::find(expected.begin(), expected.end(), component));
        EXPECT_EQ(expected, Trace(host));
        EXPECT_TRUE(host.AllResultsReleased());
    }
    {
        SCOPED_TRACE("StandardDimension_X refused");
        FakeHost host;
        host.RefuseOperationWith("AddParameter", "StandardDimension_X", "no X");
        g_genericPlateDefinition.Describe(&host, true);
        std::vector<std::string> expected = FullTrace(true);
        expected.erase(std::find(expected.begin(), expected.end(), "AddParameter StandardDimension_Y"));
        EXPECT_EQ(expected, Trace(host));
        EXPECT_EQ(1u, host.ResultsHandedOut());
        EXPECT_TRUE(host.AllResultsReleased());
    }
    {
        SCOPED_TRACE("entries refused");
        // Outside the four steps a refusal stops nothing.
        FakeHost host;
        host.RefuseOperationWith("AddParameter", "ParameterA", "no a");
        host.RefuseOperation("SetSyncPort", "no port");
        g_genericPlateDefinition.Describe(&host, true);
        EXPECT_EQ(FullTrace(true), Trace(host));
        EXPECT_EQ(2u, host.ResultsHandedOut());
        EXPECT_TRUE(host.AllResultsReleased());
    }
}

TEST(PlateDefinitionTest, CopiesCarryTheCurrentValuesAndShareNothing) {
    VKESU_Carvo_PlateDefinition source;
    source.platformSerial.value.SetValue("P-1234");
    source.parameterA.value.SetValue(0.012);
    source.parameterA.value.SetFlag1(false);
    source.blinkAction.value.SetValue(3);

    VKESUGenericPlateDefinition copy(source);
    EXPECT_EQ("Carvo", copy.name);
    EXPECT_EQ(0.61, copy.sizeX);
    EXPECT_EQ(1.219, copy.sizeY);
    EXPECT_EQ("P-1234", copy.platformSerial.value.GetValue());
    EXPECT_EQ(0.012, copy.parameterA.value.GetValue());
    EXPECT_FALSE(copy.parameterA.value.GetFlag1());
    EXPECT_TRUE(copy.parameterA.value.Equals(source.parameterA.value));
    EXPECT_EQ(3u, copy.blinkAction.value.GetValue());

    copy.platformSerial.value.SetValue("P-9");
    copy.parameterA.value.SetValue(-1.0);
    copy.name = "Renamed";
    copy.description.clear();
    copy.sizeX = 2.0;
    copy.blinkAction.id = 99;
    EXPECT_EQ("P-1234", source.platformSerial.value.GetValue());
    EXPECT_EQ(0.012, source.parameterA.value.GetValue());
    EXPECT_EQ("Carvo", source.name);
    EXPECT_EQ(kPlateDescription, source.description);
    EXPECT_EQ(0.61, source.sizeX);
    EXPECT_EQ(5u, source.blinkAction.id);

    // An assigned copy is as independent as a constructed one.
    VKESUGenericPlateDefinition assigned;
    assigned = copy;
    EXPECT_EQ("Renamed", assigned.name);
    EXPECT_EQ("P-9", assigned.platformSerial.value.GetValue());
    assigned.amplifierModel.value.SetValue("changed");
    EXPECT_EQ("", copy.amplifierModel.value.GetValue());

    // What the copy describes is its own state, not its source's.
    FakeHost host;
    copy.Describe(&host, true);
    EXPECT_EQ("Renamed", host.CallsOf("DefineDevice").at(0).texts.at(1));
    EXPECT_EQ("P-9", DescribedValueNamed<FakeStringValue>(host, "PlatformSerial"));
    EXPECT_EQ(-1.0, DescribedValueNamed<FakeDoubleValue>(host, "ParameterA"));
    EXPECT_EQ(2.0, DescribedValueNamed<FakeDoubleValue>(host, "StandardDimension_X"));
}
