#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sdk/ParameterValues.h"
#include "sdk/ValueImage.h"
#include "tests/support/FakeParameterValues.h"

using namespace ZentuDigitalDevice;
using namespace KESUTest;
using Bytes = std::vector<unsigned char>;

namespace {

template <class Value>
bool Load(Value& value, const Bytes& image, size_t size) {
    return value.LoadFromBytes(image.data(), static_cast<uint32_t>(size));
}
template <class Value>
bool Load(Value& value, const Bytes& image) {
    return Load(value, image, image.size());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The five example images of the image layout, with the values they describe.
IParameterValueBool ExampleBool() {
    IParameterValueBool v;
    v.SetValue(true);
    v.SetFlag1(true);
    v.SetFlag2(true);
    return v;
}
const Bytes kBoolImage = {0x01, 0, 0, 0, 0x01, 0x01, 0x01, 0x00};

const Bytes kActionImage(11, 0);

IParameterValueString ExampleString() {
    IParameterValueString v;
    v.SetValue("abc");
    v.SetFlag1(true);
    v.SetFlag2(true);
    return v;
}
const Bytes kStringImage = {0x04, 0, 0, 0, 0x03, 0, 0, 0, 0x61, 0x62, 0x63, 0x01, 0x01, 0x00};

IParameterValueDouble ExampleDouble() {
    IParameterValueDouble v;
    v.SetValue(20.0);
    v.minimum = 0.0;
    v.maximum = 50.0;
    v.hasLimits = 1;
    return v;
}
const Bytes kDoubleImage = Concat({{0x03, 0, 0, 0},
                                   {0, 0, 0, 0, 0, 0, 0x34, 0x40},
                                   {0, 0, 0},
                                   {0, 0, 0, 0, 0, 0, 0, 0},
                                   {0, 0, 0, 0, 0, 0, 0x49, 0x40},
                                   {0x01}});

IParameterValueEnum ExampleEnum() {
    IParameterValueEnum v;
    v.SetEntries({"A", "B"});
    v.SetValue("A");
    return v;
}
const Bytes kEnumImage = Concat({{0x07, 0, 0, 0},
                                 {0x01, 0, 0, 0, 0x41},
                                 {0, 0, 0},
                                 {0x02, 0, 0, 0},
                                 {0x01, 0, 0, 0, 0x41},
                                 {0x01, 0, 0, 0, 0x42}});

template <class Value>
void ExpectExample(const Value& original, const Bytes& image) {
    EXPECT_EQ(image, ImageOf(original));
    Value fresh;
    EXPECT_TRUE(Load(fresh, image));
    EXPECT_TRUE(fresh.Equals(original));
    EXPECT_TRUE(original.Equals(fresh));
    EXPECT_EQ(image, ImageOf(fresh));
}

TEST(ParameterValueImageTest, ExamplesComeOutByteForByteAndLoadBack) {
    ExpectExample(ExampleBool(), kBoolImage);
    ExpectExample(IParameterValueAction(), kActionImage);
    ExpectExample(ExampleString(), kStringImage);
    ExpectExample(ExampleDouble(), kDoubleImage);
    ExpectExample(ExampleEnum(), kEnumImage);
}

TEST(ParameterValueImageTest, OneByteFieldsKeepTheirByte) {
    const Bytes boolTwo = {0x01, 0, 0, 0, 0x02, 0x00, 0x00, 0x00};
    IParameterValueBool loaded;
    ASSERT_TRUE(Load(loaded, boolTwo));
    EXPECT_TRUE(loaded.GetValue());
    EXPECT_EQ(boolTwo, ImageOf(loaded));
    IParameterValueBool one;
    one.SetValue(true);
    EXPECT_FALSE(loaded.Equals(one));
    EXPECT_FALSE(one.Equals(loaded));
    IParameterValueBool alsoTwo;
    ASSERT_TRUE(Load(alsoTwo, boolTwo));
    EXPECT_TRUE(loaded.Equals(alsoTwo));

    Bytes doubleOdd = kDoubleImage;
    doubleOdd[12] = 0x02;
    doubleOdd[13] = 0x80;
    doubleOdd[14] = 0xFF;
    doubleOdd[31] = 0x07;
    IParameterValueDouble d;
    ASSERT_TRUE(Load(d, doubleOdd));
    EXPECT_TRUE(d.GetFlag1() && d.GetFlag2() && d.GetFlag3());
    EXPECT_EQ(0x07, d.hasLimits);
    EXPECT_EQ(doubleOdd, ImageOf(d));
    IParameterValueDouble folded = d;
    folded.SetFlag1(true);
    EXPECT_FALSE(folded.Equals(d));
}

TEST(ParameterValueImageTest, TextsAreCarriedWhole) {
    IParameterValueString s;
    s.SetValue(std::string("a\0b", 3));
    const Bytes image = ImageOf(s);
    EXPECT_EQ(Bytes({0x04, 0, 0, 0, 0x03, 0, 0, 0, 'a', 0x00, 'b', 0, 0, 0}), image);
    IParameterValueString loaded;
    ASSERT_TRUE(Load(loaded, image));
    EXPECT_EQ(std::string("a\0b", 3), loaded.GetValue());

    IParameterValueEnum e;
    e.SetEntries({"", std::string(1, '\0'), "\x92"});
    IParameterValueEnum eLoaded;
    ASSERT_TRUE(Load(eLoaded, ImageOf(e)));
    EXPECT_EQ(e.GetEntries(), eLoaded.GetEntries());
}

// One value of each class with something other than its default in every
// field, and a default one of each, in the same order.
std::vector<std::unique_ptr<IParameterValue>> OneOfEachFilled() {
    auto action = std::make_unique<IParameterValueAction>();
    action->SetValue(0x0A0B0C0Du);
    auto flag = std::make_unique<IParameterValueBool>();
    flag->SetValue(true);
    auto number = std::make_unique<IParameterValueDouble>();
    number->SetValue(2.5);
    number->minimum = -1.0;
    number->maximum = 1.0;
    number->hasLimits = 1;
    auto text = std::make_unique<IParameterValueString>();
    text->SetValue("filled");
    auto choice = std::make_unique<IParameterValueEnum>();
    choice->SetEntries({"A", "B"});
    choice->SetValue("B");

    std::vector<std::unique_ptr<IParameterValue>> values;
    values.push_back(std::move(action));
    values.push_back(std::move(flag));
    values.push_back(std::move(number));
    values.push_back(std::move(text));
    values.push_back(std::move(choice));
    for (const auto& value : values) {
        value->SetFlag1(true);
        value->SetFlag2(true);
        value->SetFlag3(true);
    }
    return values;
}

std::vector<std::unique_ptr<IParameterValue>> OneOfEachDefault() {
    std::vector<std::unique_ptr<IParameterValue>> values;
    values.push_back(std::make_unique<IParameterValueAction>());
    values.push_back(std::make_unique<IParameterValueBool>());
    values.push_back(std::make_unique<IParameterValueDouble>());
    values.push_back(std::make_unique<IParameterValueString>());
    values.push_back(std::make_unique<IParameterValueEnum>());
    return values;
}

Bytes Retagged(Bytes image, uint32_t tag) {
    for (size_t i = 0; i < 4; ++i) image[i] = static_cast<unsigned char>(tag >> (8 * i));
    return image;
}

TEST(ParameterValueImageTest, RefusedTagsAndShortHeadsLeaveTheValueUntouched) {
    const std::vector<Bytes> examples = {kActionImage, kBoolImage, kDoubleImage, kStringImage, kEnumImage};
    const std::vector<std::unique_ptr<IParameterValue>> targets = OneOfEachFilled();
    const std::vector<std::unique_ptr<IParameterValue>> defaults = OneOfEachDefault();
    for (size_t i = 0; i < targets.size(); ++i) {
        IParameterValue& target = *targets[i];
        const uint32_t tag = target.GetType();
        SCOPED_TRACE("tag " + std::to_string(tag));
        const Bytes before = ImageOf(target);
        const auto expectUntouched = [&](const unsigned char* data, size_t size, const std::string& what) {
            EXPECT_FALSE(target.LoadFromBytes(data, static_cast<uint32_t>(size))) << what;
            EXPECT_EQ(before, ImageOf(target)) << what;
        };

        for (size_t j = 0; j < examples.size(); ++j)
            if (j != i)
                expectUntouched(examples[j].data(), examples[j].size(),
                                "example of class " + std::to_string(j));

        // Images the target would load whole but for the tag, and whose every
        // field differs from what the target holds: a loader that reads
        // anything before it has checked the whole tag changes the target.
        const Bytes own = ImageOf(*defaults[i]);
        std::vector<uint32_t> wrongTags = {tag | 0x100u, tag | 0x1000000u};
        for (uint32_t other = 0; other <= 7; ++other)
            if (other != tag) wrongTags.push_back(other);
        for (uint32_t wrong : wrongTags) {
            const Bytes image = Retagged(own, wrong);
            expectUntouched(image.data(), image.size(), "tag " + std::to_string(wrong));
        }

        expectUntouched(nullptr, own.size(), "null data");
        expectUntouched(own.data(), 0, "size 0");
        for (size_t size = 1; size < 4; ++size)
            expectUntouched(own.data(), size, std::to_string(size) + " bytes");

        // The same bytes with the right tag do load.
        EXPECT_TRUE(target.LoadFromBytes(own.data(), static_cast<uint32_t>(own.size())));
        EXPECT_EQ(own, ImageOf(target));
    }
}

// The fields of a value as the fake host's own values read them from its
// image, the one-byte fields as the bytes held, printed for comparing.
std::string FieldText(uint8_t byte) {
    return std::to_string(byte);
}
std::string FieldText(uint32_t number) {
    return std::to_string(number);
}
std::string FieldText(double number) {
    char text[64];
    std::snprintf(text, sizeof text, "%a", number);
    return text;
}
std::string FieldText(const std::string& text) {
    return std::to_string(text.size()) + ":" + text;
}
std::string FieldText(const std::vector<std::string>& entries) {
    std::string text = std::to_string(entries.size()) + " entries";
    for (const std::string& entry : entries) text += " " + FieldText(entry);
    return text;
}

template <class Fake>
Fake Held(const IParameterValue& value) {
    const std::unique_ptr<FakeValue> read = FakeValue::FromImage(ImageOf(value));
    const Fake* typed = dynamic_cast<const Fake*>(read.get());
    if (typed == nullptr) {
        ADD_FAILURE() << "a value's own image does not read back";
        return Fake();
    }
    return *typed;
}

// The fakes keep every field as bytes, so they can give a value contents,
// such as flag bytes other than 0 and 1, that only an image can give it.
template <class Value>
Value Made(const FakeValue& contents) {
    Value value;
    EXPECT_TRUE(contents.SerialiseInto(value));
    return value;
}

template <class Fake>
struct Field {
    Field(const char* fieldName, size_t fieldEnd, std::function<std::string(const Fake&)> read)
        : name(fieldName), end(fieldEnd), text(std::move(read)) {}

    const char* name;
    size_t end;  // offset just past the field in the image
    std::function<std::string(const Fake&)> text;
    // For a field filled step by step (the Enum's entries): what it holds after
    // a refused load of that many bytes. Unset: all from the image once `end`
    // bytes were given, else as before.
    std::function<std::string(size_t size)> afterCut;
};

// A refused load leaves the fields read before the refusal with the image's
// contents and the others as they were, whatever the cut.
template <class Value, class Fake>
void ExpectPartialLoads(const Fake& loaded, const Fake& kept, const std::vector<Field<Fake>>& fields) {
    for (const Field<Fake>& field : fields)
        ASSERT_NE(field.text(loaded), field.text(kept)) << field.name << " must differ to be checked";
    const Value before = Made<Value>(kept);
    Bytes image = loaded.Image();

    for (size_t size = 0; size < image.size(); ++size) {
        Value target = before;
        EXPECT_FALSE(Load(target, image, size)) << size << " bytes";
        const Fake now = Held<Fake>(target);
        for (const Field<Fake>& field : fields) {
            const std::string expected =
                field.afterCut ? field.afterCut(size) : field.text(size >= field.end ? loaded : kept);
            EXPECT_EQ(expected, field.text(now)) << field.name << " after " << size << " bytes";
        }
    }

    image.push_back(0x00);
    Value overlong = before;
    EXPECT_FALSE(Load(overlong, image)) << "a byte left over";
    const Fake wholeImage = Held<Fake>(overlong);
    for (const Field<Fake>& field : fields)
        EXPECT_EQ(field.text(loaded), field.text(wholeImage)) << field.name << " with a byte left over";

    Value untouched = before;
    EXPECT_FALSE(untouched.LoadFromBytes(nullptr, static_cast<uint32_t>(image.size())));
    const Fake none = Held<Fake>(untouched);
    for (const Field<Fake>& field : fields)
        EXPECT_EQ(field.text(kept), field.text(none)) << field.name << " after null data";
}

template <class Fake>
void SetFlagBytes(Fake& value, uint8_t flag1, uint8_t flag2, uint8_t flag3) {
    value.flag1 = flag1;
    value.flag2 = flag2;
    value.flag3 = flag3;
}

// Distinct bytes in every flag of both values: a loader that clears, folds or
// swaps a flag shows.
template <class Fake>
void SetDistinctFlags(Fake& loaded, Fake& kept) {
    SetFlagBytes(loaded, 0x01, 0x02, 0x80);
    SetFlagBytes(kept, 0x11, 0x22, 0x44);
}

template <class Fake>
std::vector<Field<Fake>> ValueAndFlagFields(const char* valueName, size_t valueEnd,
                                            std::function<std::string(const Fake&)> value) {
    return {{valueName, valueEnd, std::move(value)},
            {"flag1", valueEnd + 1, [](const Fake& v) { return FieldText(v.flag1); }},
            {"flag2", valueEnd + 2, [](const Fake& v) { return FieldText(v.flag2); }},
            {"flag3", valueEnd + 3, [](const Fake& v) { return FieldText(v.flag3); }}};
}

TEST(ParameterValueImageTest, TruncatedOrOverlongImagesLoadFieldByField) {
    {
        SCOPED_TRACE("Bool");
        FakeBoolValue loaded, kept;
        loaded.value = 0x03;
        kept.value = 0x01;
        SetDistinctFlags(loaded, kept);
        ExpectPartialLoads<IParameterValueBool>(
            loaded, kept, ValueAndFlagFields<FakeBoolValue>("value", 5, [](const FakeBoolValue& v) {
                return FieldText(v.value);
            }));
    }
    {
        SCOPED_TRACE("Action");
        FakeActionValue loaded, kept;
        loaded.value = 0x01020304;
        kept.value = 9;
        SetDistinctFlags(loaded, kept);
        ExpectPartialLoads<IParameterValueAction>(
            loaded, kept, ValueAndFlagFields<FakeActionValue>("value", 8, [](const FakeActionValue& v) {
                return FieldText(v.value);
            }));
    }
    {
        SCOPED_TRACE("Double");
        FakeDoubleValue loaded, kept;
        loaded.value = 20.0;
        loaded.minimum = 0.0;
        loaded.maximum = 50.0;
        loaded.hasLimits = 0x01;
        kept.value = -1.0;
        kept.minimum = -5.0;
        kept.maximum = 5.0;
        kept.hasLimits = 0x09;
        SetDistinctFlags(loaded, kept);
        std::vector<Field<FakeDoubleValue>> fields = ValueAndFlagFields<FakeDoubleValue>(
            "value", 12, [](const FakeDoubleValue& v) { return FieldText(v.value); });
        fields.push_back({"minimum", 23, [](const FakeDoubleValue& v) { return FieldText(v.minimum); }});
        fields.push_back({"maximum", 31, [](const FakeDoubleValue& v) { return FieldText(v.maximum); }});
        fields.push_back({"hasLimits", 32, [](const FakeDoubleValue& v) { return FieldText(v.hasLimits); }});
        ExpectPartialLoads<IParameterValueDouble>(loaded, kept, fields);
    }
    {
        SCOPED_TRACE("String");
        FakeStringValue loaded, kept;
        loaded.value = "hello";
        kept.value = "old";
        SetDistinctFlags(loaded, kept);
        ExpectPartialLoads<IParameterValueString>(
            loaded, kept, ValueAndFlagFields<FakeStringValue>("value", 13, [](const FakeStringValue& v) {
                return FieldText(v.value);
            }));
    }
}

// The entries an Enum holds after a refused load of the first `size` bytes of
// an image carrying `loaded` from `countEnd` on: as before until the count is
// whole, and also when the bytes after it cannot hold that many entries of 4
// bytes at least; otherwise the list takes the count's length at once, and
// each entry its text once all of it lies inside.
std::vector<std::string> EntriesAfterCut(const std::vector<std::string>& before,
                                         const std::vector<std::string>& loaded, size_t countEnd,
                                         size_t size) {
    if (size < countEnd || size - countEnd < 4 * loaded.size()) return before;
    std::vector<std::string> entries = before;
    entries.resize(loaded.size());
    size_t end = countEnd;
    for (size_t i = 0; i < loaded.size(); ++i) {
        end += 4 + loaded[i].size();
        if (size < end) break;
        entries[i] = loaded[i];
    }
    return entries;
}

TEST(ParameterValueImageTest, EnumImagesLoadFieldByFieldAndEntryByEntry) {
    FakeEnumValue loaded;
    loaded.value = "abc";
    // A long middle entry, so that the cuts past the early refusal of the
    // count leave one entry read as well as two.
    loaded.entries = {"A", "BBBBBBBBBB", "Cc"};
    const size_t valueEnd = 4 + 4 + 3;
    const size_t countEnd = valueEnd + 3 + 4;

    // More entries before than the image has, and fewer: the list is cut
    // down, and grown with empty entries, before the first entry is read.
    for (const std::vector<std::string>& entriesBefore :
         {std::vector<std::string>{"w", "x", "y", "z"}, std::vector<std::string>{"only"}}) {
        SCOPED_TRACE(FieldText(entriesBefore) + " before");
        FakeEnumValue kept;
        kept.value = "old";
        kept.entries = entriesBefore;
        SetDistinctFlags(loaded, kept);
        std::vector<Field<FakeEnumValue>> fields = ValueAndFlagFields<FakeEnumValue>(
            "value", valueEnd, [](const FakeEnumValue& v) { return FieldText(v.value); });
        Field<FakeEnumValue> entries("entries", 0,
                                     [](const FakeEnumValue& v) { return FieldText(v.entries); });
        entries.afterCut = [&](size_t size) {
            return FieldText(EntriesAfterCut(entriesBefore, loaded.entries, countEnd, size));
        };
        fields.push_back(entries);
        ExpectPartialLoads<IParameterValueEnum>(loaded, kept, fields);
    }
}

TEST(ParameterValueImageTest, EnumEntriesLoadUpToTheFirstShortOne) {
    IParameterValueEnum before;
    before.SetEntries({"w", "x", "y", "z"});
    before.SetValue("old");

    // Count 3, two whole entries: the list takes three places, two from the image.
    const Bytes headerAbc = {0x07, 0, 0, 0, 0x03, 0, 0, 0, 'a', 'b', 'c', 0, 0, 0};
    IParameterValueEnum three = before;
    EXPECT_FALSE(Load(
        three, Concat({headerAbc, {3, 0, 0, 0}, {3, 0, 0, 0, 'a', 'b', 'c'}, {3, 0, 0, 0, 'd', 'e', 'f'}})));
    EXPECT_EQ("abc", three.GetValue());
    EXPECT_EQ(std::vector<std::string>({"abc", "def", "y"}), three.GetEntries());

    // A count the remaining bytes cannot hold is refused before the list changes.
    IParameterValueEnum tooMany = before;
    EXPECT_FALSE(Load(tooMany, Concat({headerAbc, {3, 0, 0, 0}, {1, 0, 0, 0, 'A'}, {1, 0, 0, 0, 'B'}})));
    EXPECT_EQ("abc", tooMany.GetValue());
    EXPECT_EQ(before.GetEntries(), tooMany.GetEntries());
    IParameterValueEnum huge = before;
    EXPECT_FALSE(Load(huge, Concat({headerAbc, {0xFF, 0xFF, 0xFF, 0xFF}})));
    EXPECT_EQ(before.GetEntries(), huge.GetEntries());

    IParameterValueEnum noCount = before;
    EXPECT_FALSE(Load(noCount, Concat({headerAbc, {0, 0, 0}})));
    EXPECT_EQ("abc", noCount.GetValue());
    EXPECT_EQ(before.GetEntries(), noCount.GetEntries());

    IParameterValueEnum emptied = before;
    EXPECT_TRUE(Load(emptied, Concat({headerAbc, {0, 0, 0, 0}})));
    EXPECT_TRUE(emptied.GetEntries().empty());
}

TEST(ParameterValueImageTest, LengthPrefixedTextReader) {
    ByteReader reader;
    reader.bytes = {0x02, 0, 0};
    std::string text = "keep";
    EXPECT_FALSE(ReadLengthPrefixedString(reader, text));
    EXPECT_EQ(0u, reader.position);

    reader.bytes = {0x05, 0, 0, 0, 'a', 'b', 'c'};
    EXPECT_FALSE(ReadLengthPrefixedString(reader, text));
    EXPECT_EQ("keep", text);
    EXPECT_EQ(4u, reader.position);

    reader = ByteReader();
    reader.bytes = {0x00, 0, 0, 0, 0x01, 0, 0, 0, 'z'};
    EXPECT_TRUE(ReadLengthPrefixedString(reader, text));
    EXPECT_EQ("", text);
    EXPECT_TRUE(ReadLengthPrefixedString(reader, text));
    EXPECT_EQ("z", text);
    EXPECT_EQ(reader.bytes.size(), reader.position);

    Bytes written;
    WriteLengthPrefixedString(written, std::string("x\0", 2));
    EXPECT_EQ(Bytes({0x02, 0, 0, 0, 'x', 0x00}), written);
}

}  // namespace
