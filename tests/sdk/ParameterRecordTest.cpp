#include <gtest/gtest.h>

#include <cfloat>
#include <mutex>

#include "sdk/IResult.h"
#include "sdk/ParameterValues.h"
#include "sdk/VParameterRecord.h"
#include "tests/support/FakeHost.h"

using namespace ZentuDigitalDevice;
using KESU::VParameterRecord;

namespace {

template <class Value>
void ExpectDefaultRecord(uint32_t type) {
    VParameterRecord<Value> record;
    EXPECT_EQ("", record.name);
    EXPECT_EQ("", record.displayName);
    EXPECT_EQ("", record.description);
    EXPECT_EQ("", record.group);
    EXPECT_TRUE(record.builderFlag);
    EXPECT_EQ(0u, record.id);
    EXPECT_EQ(type, record.value.GetType());
    EXPECT_TRUE(record.value.Equals(Value()));
}

TEST(ParameterRecordTest, Defaults) {
    ExpectDefaultRecord<IParameterValueDouble>(3);
    ExpectDefaultRecord<IParameterValueEnum>(7);
    ExpectDefaultRecord<IParameterValueString>(4);
    ExpectDefaultRecord<IParameterValueAction>(0);
    VParameterRecord<IParameterValueDouble> threshold;
    EXPECT_EQ(-DBL_MAX, threshold.value.minimum);
    EXPECT_EQ(DBL_MAX, threshold.value.maximum);
}

TEST(ParameterRecordTest, CopiesAreMemberwiseAndOwnTheirValue) {
    VParameterRecord<IParameterValueEnum> rate;
    rate.name = "SampleRate";
    rate.displayName = "Sample rate";
    rate.group = "Acquisition";
    rate.id = 4;
    rate.value.SetEntries({"100", "1000"});
    rate.value.SetValue("1000");
    VParameterRecord<IParameterValueEnum> copy = rate;
    EXPECT_EQ("SampleRate", copy.name);
    EXPECT_EQ("Sample rate", copy.displayName);
    EXPECT_EQ("Acquisition", copy.group);
    EXPECT_EQ(4u, copy.id);
    EXPECT_TRUE(copy.value.Equals(rate.value));
    copy.value.SetEntries({"2000"});
    EXPECT_EQ(std::vector<std::string>({"100", "1000"}), rate.value.GetEntries());

    VParameterRecord<IParameterValueDouble> threshold;
    threshold.value.minimum = 0.0;
    threshold.value.maximum = 50.0;
    threshold.value.hasLimits = 1;
    VParameterRecord<IParameterValueDouble> thresholdCopy = threshold;
    EXPECT_EQ(0.0, thresholdCopy.value.minimum);
    EXPECT_EQ(50.0, thresholdCopy.value.maximum);
    EXPECT_EQ(1, thresholdCopy.value.hasLimits);
}

TEST(ResultPtrTest, EachHolderReleasesItsReferenceOnce) {
    std::mutex ledger;
    KESUTest::FakeResult result("refused", ledger);
    {
        ResultPtr first(&result);
        EXPECT_FALSE(first.IsEmpty());
        EXPECT_STREQ("refused", first.GetText());
        ResultPtr copy = first;
        EXPECT_EQ(2, result.References());
        ResultPtr moved = std::move(copy);
        EXPECT_TRUE(copy.IsEmpty());
        EXPECT_EQ(2, result.References());
        ResultPtr assigned;
        assigned = moved;
        EXPECT_EQ(3, result.References());
        assigned = ResultPtr();
        EXPECT_EQ(2, result.References());
        moved.Reset();
        moved.Reset();
        EXPECT_EQ(1, result.References());
    }
    EXPECT_EQ(0, result.References());
    EXPECT_EQ(0, result.Faults());

    ResultPtr empty;
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_EQ(nullptr, empty.GetText());
}

}  // namespace
