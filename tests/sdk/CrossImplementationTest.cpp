// The plug-in's values against the fake host's independent ones: each side
// reads what the other writes, so Equals must agree in both directions.
#include <gtest/gtest.h>

#include <cmath>

#include "sdk/ParameterValues.h"
#include "sdk/ValueImage.h"
#include "tests/support/FakeParameterValues.h"

using namespace ZentuDigitalDevice;
using namespace KESUTest;

namespace {

void ExpectEqualBothWays(const IParameterValue& ours, const IParameterValue& host, bool equal) {
    EXPECT_EQ(equal, ours.Equals(host));
    EXPECT_EQ(equal, host.Equals(ours));
}

TEST(CrossImplementationTest, BoolAndAction) {
    IParameterValueBool ours;
    ours.SetValue(true);
    ours.SetFlag1(true);
    FakeBoolValue host;
    host.value = 1;
    host.flag1 = 1;
    ExpectEqualBothWays(ours, host, true);
    host.value = 2;
    ExpectEqualBothWays(ours, host, false);
    ASSERT_TRUE(host.SerialiseInto(ours));
    ExpectEqualBothWays(ours, host, true);
    EXPECT_EQ(host.Image(), ImageOf(ours));

    IParameterValueAction action;
    action.SetValue(7);
    FakeActionValue hostAction;
    hostAction.value = 7;
    ExpectEqualBothWays(action, hostAction, true);
    hostAction.flag3 = 1;
    ExpectEqualBothWays(action, hostAction, false);
}

TEST(CrossImplementationTest, DoubleWithLimitsNanAndSignedZero) {
    IParameterValueDouble ours;
    ours.SetValue(0.5);
    ours.minimum = 0.0;
    ours.maximum = 50.0;
    ours.hasLimits = 1;
    ours.SetFlag2(true);
    FakeDoubleValue host;
    host.value = 0.5;
    host.minimum = 0.0;
    host.maximum = 50.0;
    host.hasLimits = 1;
    host.flag2 = 1;
    ExpectEqualBothWays(ours, host, true);

    host.maximum = 49.0;
    ExpectEqualBothWays(ours, host, false);
    host.maximum = 50.0;
    host.hasLimits = 0;
    ExpectEqualBothWays(ours, host, false);
    host.hasLimits = 1;

    host.value = -0.0;
    ours.SetValue(0.0);
    ExpectEqualBothWays(ours, host, true);
    host.value = std::nan("");
    ours.SetValue(std::nan(""));
    ExpectEqualBothWays(ours, host, false);

    IParameterValueDouble defaults;
    ExpectEqualBothWays(defaults, FakeDoubleValue(), true);
}

TEST(CrossImplementationTest, StringAndEnum) {
    IParameterValueString ours;
    ours.SetValue(std::string("A\0B", 3));
    FakeStringValue host;
    host.value = std::string("A\0B", 3);
    ExpectEqualBothWays(ours, host, true);
    host.value = "A";
    ExpectEqualBothWays(ours, host, false);

    IParameterValueEnum rate;
    rate.SetEntries({"100", "1000", "2000"});
    rate.SetValue("1000");
    FakeEnumValue hostRate;
    hostRate.entries = {"100", "1000", "2000"};
    hostRate.value = "1000";
    ExpectEqualBothWays(rate, hostRate, true);
    hostRate.entries = {"1000", "100", "2000"};
    ExpectEqualBothWays(rate, hostRate, false);
    hostRate.entries = {"100", "1000"};
    ExpectEqualBothWays(rate, hostRate, false);

    FakeStringValue sameTextAsString;
    sameTextAsString.value = "1000";
    IParameterValueEnum noEntries;
    noEntries.SetValue("1000");
    ExpectEqualBothWays(noEntries, sameTextAsString, false);
}

}  // namespace
