#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sdk/ParameterValues.h"
#include "tests/sdk/ImageCapture.h"

using namespace ZentuDigitalDevice;
using KESUTest::ImageOf;
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

TEST(ParameterValueImageTest, EveryClassRefusesEveryOtherTag) {
    const std::vector<Bytes> images = {kActionImage, kBoolImage, kDoubleImage, kStringImage, kEnumImage};
    IParameterValueAction a;
    IParameterValueBool b;
    IParameterValueDouble d;
    IParameterValueString s;
    IParameterValueEnum e;
    const std::vector<IParameterValue*> values = {&a, &b, &d, &s, &e};
    for (size_t i = 0; i < values.size(); ++i)
        for (size_t j = 0; j < images.size(); ++j)
            EXPECT_EQ(i == j,
                      values[i]->LoadFromBytes(images[j].data(), static_cast<uint32_t>(images[j].size())))
                << "value " << i << ", image " << j;

    for (unsigned char unknownTag : {2, 5, 6}) {
        for (IParameterValue* value : values) {
            Bytes image = ImageOf(*value);
            image[0] = unknownTag;
            EXPECT_FALSE(value->LoadFromBytes(image.data(), static_cast<uint32_t>(image.size())));
        }
    }
}

// A refused load leaves exactly the fields that lay wholly inside the bytes
// given with the image's contents, and the rest as they were.
template <class Value>
struct Field {
    const char* name;
    size_t end;  // offset just past the field in the image
    std::function<bool(const Value&)> fromImage;
};

template <class Value>
void ExpectPartialLoads(const Value& original, const Value& before, const std::vector<Field<Value>>& fields) {
    Bytes image = ImageOf(original);
    for (size_t size = 0; size < image.size(); ++size) {
        Value target = before;
        EXPECT_FALSE(Load(target, image, size)) << size << " bytes";
        for (const Field<Value>& field : fields)
            EXPECT_EQ(size >= 4 && size >= field.end, field.fromImage(target))
                << field.name << " after " << size << " bytes";
    }
    image.push_back(0x00);
    Value target = before;
    EXPECT_FALSE(Load(target, image)) << "a byte left over";
    for (const Field<Value>& field : fields)
        EXPECT_TRUE(field.fromImage(target)) << field.name << " with a byte left over";

    Value untouched = before;
    EXPECT_FALSE(untouched.LoadFromBytes(nullptr, static_cast<uint32_t>(image.size())));
    for (const Field<Value>& field : fields) EXPECT_FALSE(field.fromImage(untouched)) << field.name;
}

template <class Value>
void SetFlags(Value& v, bool f1, bool f2, bool f3) {
    v.SetFlag1(f1);
    v.SetFlag2(f2);
    v.SetFlag3(f3);
}

template <class Value>
std::vector<Field<Value>> FlagFields(size_t valueEnd) {
    return {{"flag1", valueEnd + 1, [](const Value& v) { return v.GetFlag1(); }},
            {"flag2", valueEnd + 2, [](const Value& v) { return !v.GetFlag2(); }},
            {"flag3", valueEnd + 3, [](const Value& v) { return v.GetFlag3(); }}};
}

template <class Value>
std::vector<Field<Value>> With(std::vector<Field<Value>> fields, std::vector<Field<Value>> more) {
    fields.insert(fields.end(), more.begin(), more.end());
    return fields;
}

TEST(ParameterValueImageTest, TruncatedOrOverlongImagesLoadFieldByField) {
    IParameterValueBool b, bBefore;
    b.SetValue(true);
    SetFlags(b, true, false, true);
    SetFlags(bBefore, false, true, false);
    ExpectPartialLoads(b, bBefore,
                       With(FlagFields<IParameterValueBool>(5),
                            {{"value", 5, [](const IParameterValueBool& v) { return v.GetValue(); }}}));

    IParameterValueAction a, aBefore;
    a.SetValue(0x01020304);
    SetFlags(a, true, false, true);
    SetFlags(aBefore, false, true, false);
    aBefore.SetValue(9);
    ExpectPartialLoads(
        a, aBefore,
        With(FlagFields<IParameterValueAction>(8),
             {{"value", 8, [](const IParameterValueAction& v) { return v.GetValue() == 0x01020304u; }}}));

    IParameterValueDouble d, dBefore;
    d.SetValue(20.0);
    d.minimum = 0.0;
    d.maximum = 50.0;
    d.hasLimits = 1;
    SetFlags(d, true, false, true);
    dBefore.SetValue(-1.0);
    dBefore.minimum = -5.0;
    dBefore.maximum = 5.0;
    SetFlags(dBefore, false, true, false);
    ExpectPartialLoads(
        d, dBefore,
        With(FlagFields<IParameterValueDouble>(12),
             {{"value", 12, [](const IParameterValueDouble& v) { return v.GetValue() == 20.0; }},
              {"minimum", 23, [](const IParameterValueDouble& v) { return v.minimum == 0.0; }},
              {"maximum", 31, [](const IParameterValueDouble& v) { return v.maximum == 50.0; }},
              {"hasLimits", 32, [](const IParameterValueDouble& v) { return v.hasLimits == 1; }}}));

    IParameterValueString s, sBefore;
    s.SetValue("hello");
    SetFlags(s, true, false, true);
    sBefore.SetValue("old");
    SetFlags(sBefore, false, true, false);
    ExpectPartialLoads(
        s, sBefore,
        With(FlagFields<IParameterValueString>(13),
             {{"value", 13, [](const IParameterValueString& v) { return v.GetValue() == "hello"; }}}));
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

    // Every cut of a whole image is refused.
    const Bytes whole = ImageOf(ExampleEnum());
    for (size_t size = 0; size < whole.size(); ++size) {
        IParameterValueEnum cut = before;
        EXPECT_FALSE(Load(cut, whole, size)) << size;
    }
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
