#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "sdk/ParameterValues.h"

using namespace ZentuDigitalDevice;

namespace {

std::vector<std::unique_ptr<IParameterValue>> OneOfEachDefault() {
    std::vector<std::unique_ptr<IParameterValue>> values;
    values.push_back(std::make_unique<IParameterValueAction>());
    values.push_back(std::make_unique<IParameterValueBool>());
    values.push_back(std::make_unique<IParameterValueDouble>());
    values.push_back(std::make_unique<IParameterValueString>());
    values.push_back(std::make_unique<IParameterValueEnum>());
    return values;
}

TEST(ParameterValueTest, DefaultsAndTags) {
    IParameterValueBool b;
    IParameterValueDouble d;
    IParameterValueAction a;
    IParameterValueString s;
    IParameterValueEnum e;
    EXPECT_EQ(1u, b.GetType());
    EXPECT_EQ(3u, d.GetType());
    EXPECT_EQ(0u, a.GetType());
    EXPECT_EQ(4u, s.GetType());
    EXPECT_EQ(7u, e.GetType());

    EXPECT_FALSE(b.GetValue());
    EXPECT_EQ(0.0, d.GetValue());
    EXPECT_EQ(-DBL_MAX, d.minimum);
    EXPECT_EQ(DBL_MAX, d.maximum);
    EXPECT_EQ(0, d.hasLimits);
    EXPECT_EQ(0u, a.GetValue());
    EXPECT_EQ("", s.GetValue());
    EXPECT_EQ("", e.GetValue());
    EXPECT_TRUE(e.GetEntries().empty());
    for (const auto& value : OneOfEachDefault()) {
        EXPECT_FALSE(value->GetFlag1());
        EXPECT_FALSE(value->GetFlag2());
        EXPECT_FALSE(value->GetFlag3());
    }
}

TEST(ParameterValueTest, ValuesOfDifferentTagsAreNeverEqual) {
    auto left = OneOfEachDefault();
    auto right = OneOfEachDefault();
    for (size_t i = 0; i < left.size(); ++i)
        for (size_t j = 0; j < right.size(); ++j)
            EXPECT_EQ(i == j, left[i]->Equals(*right[j]))
                << "tags " << left[i]->GetType() << ", " << right[j]->GetType();

    IParameterValueString s;
    IParameterValueEnum e;
    s.SetValue("Software trigger");
    e.SetValue("Software trigger");
    EXPECT_FALSE(s.Equals(e));
    EXPECT_FALSE(e.Equals(s));
}

TEST(ParameterValueTest, DoubleEqualityIsIeee) {
    IParameterValueDouble nan;
    nan.SetValue(std::numeric_limits<double>::quiet_NaN());
    IParameterValueDouble copy = nan;
    EXPECT_FALSE(nan.Equals(nan));
    EXPECT_FALSE(nan.Equals(copy));

    IParameterValueDouble negativeZero, positiveZero;
    negativeZero.SetValue(-0.0);
    positiveZero.SetValue(0.0);
    ASSERT_TRUE(std::signbit(negativeZero.GetValue()));
    EXPECT_TRUE(negativeZero.Equals(positiveZero));
    EXPECT_TRUE(positiveZero.Equals(negativeZero));

    IParameterValueDouble nanLimit;
    nanLimit.minimum = std::nan("");
    EXPECT_FALSE(nanLimit.Equals(nanLimit));
}

TEST(ParameterValueTest, EveryFieldCountsForEquality) {
    using DoubleChange = std::function<void(IParameterValueDouble&)>;
    const std::vector<DoubleChange> doubleChanges = {
        [](IParameterValueDouble& v) { v.SetValue(1.5); },
        [](IParameterValueDouble& v) { v.minimum = 0.0; },
        [](IParameterValueDouble& v) { v.maximum = 50.0; },
        [](IParameterValueDouble& v) { v.hasLimits = 1; },
        [](IParameterValueDouble& v) { v.SetFlag1(true); },
        [](IParameterValueDouble& v) { v.SetFlag2(true); },
        [](IParameterValueDouble& v) { v.SetFlag3(true); },
    };
    for (size_t i = 0; i < doubleChanges.size(); ++i) {
        IParameterValueDouble base, changed;
        doubleChanges[i](changed);
        EXPECT_FALSE(base.Equals(changed)) << "change " << i;
        EXPECT_FALSE(changed.Equals(base)) << "change " << i;
    }

    IParameterValueString plain, flagged;
    plain.SetValue("abc");
    flagged.SetValue("abc");
    flagged.SetFlag3(true);
    EXPECT_FALSE(plain.Equals(flagged));

    IParameterValueAction one, two;
    one.SetValue(1);
    two.SetValue(2);
    EXPECT_FALSE(one.Equals(two));

    IParameterValueBool yes, no;
    yes.SetValue(true);
    EXPECT_FALSE(yes.Equals(no));
}

TEST(ParameterValueTest, EnumEntriesCountInOrder) {
    IParameterValueEnum ab, ba, abc;
    ab.SetEntries({"A", "B"});
    ba.SetEntries({"B", "A"});
    abc.SetEntries({"A", "B", "C"});
    for (IParameterValueEnum* e : {&ab, &ba, &abc}) e->SetValue("A");
    EXPECT_FALSE(ab.Equals(ba));
    EXPECT_FALSE(ab.Equals(abc));
    EXPECT_FALSE(abc.Equals(ab));

    IParameterValueEnum same;
    same.SetValue("A");
    same.SetEntries({"A", "B"});
    EXPECT_TRUE(ab.Equals(same));
}

TEST(ParameterValueTest, SettersStoreWithoutChecks) {
    IParameterValueDouble threshold;
    threshold.minimum = 0.0;
    threshold.maximum = 50.0;
    threshold.hasLimits = 1;
    threshold.SetValue(75.0);
    EXPECT_EQ(75.0, threshold.GetValue());

    IParameterValueEnum mode;
    mode.SetEntries({"Software trigger", "Hardware trigger"});
    mode.SetValue("Genlock");
    EXPECT_EQ("Genlock", mode.GetValue());
    mode.SetEntries({"X"});
    EXPECT_EQ("Genlock", mode.GetValue());
    EXPECT_EQ(std::vector<std::string>{"X"}, mode.GetEntries());

    IParameterValueAction action;
    action.SetValue(0xFFFFFFFFu);
    EXPECT_EQ(0xFFFFFFFFu, action.GetValue());
}

// Assigning through the common base would carry the tag along: a String
// given an Enum's 7. Only the concrete classes copy.
template <class T>
constexpr bool kBaseCopies = std::is_copy_assignable_v<IParameterValueTemplate<T>> ||
                             std::is_move_assignable_v<IParameterValueTemplate<T>>;
static_assert(!kBaseCopies<bool> && !kBaseCopies<double> && !kBaseCopies<unsigned int> &&
                  !kBaseCopies<std::string>,
              "a value's tag could be overwritten through its base");
template <class Value>
constexpr bool Copies() {
    return std::is_copy_constructible_v<Value> && std::is_copy_assignable_v<Value>;
}
static_assert(Copies<IParameterValueBool>() && Copies<IParameterValueDouble>() &&
                  Copies<IParameterValueAction>() && Copies<IParameterValueString>() &&
                  Copies<IParameterValueEnum>(),
              "values are plain copyable objects");

TEST(ParameterValueTest, CopiesAreWholeAndIndependent) {
    IParameterValueEnum source;
    source.SetEntries({"100", "1000"});
    source.SetValue("1000");
    source.SetFlag2(true);
    IParameterValueEnum copy = source;
    EXPECT_TRUE(copy.Equals(source));
    EXPECT_TRUE(copy.GetFlag2());
    copy.SetEntries({"100"});
    EXPECT_EQ(2u, source.GetEntries().size());
    EXPECT_FALSE(copy.Equals(source));

    IParameterValueDouble limited;
    limited.minimum = -3.0;
    limited.maximum = 3.0;
    limited.hasLimits = 1;
    IParameterValueDouble assigned;
    assigned = limited;
    EXPECT_EQ(-3.0, assigned.minimum);
    EXPECT_EQ(3.0, assigned.maximum);
    EXPECT_TRUE(assigned.Equals(limited));
}

}  // namespace
