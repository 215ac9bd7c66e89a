#include "sdk/IParameterValueTemplate.h"

#include <limits>
#include <stdexcept>

namespace ZentuDigitalDevice {

static_assert(sizeof(unsigned int) == 4, "an Action's value is carried as u32");

namespace {

void AppendValueField(std::vector<unsigned char>& image, uint8_t field) {
    image.push_back(field);
}
void AppendValueField(std::vector<unsigned char>& image, double field) {
    AppendDouble(image, field);
}
void AppendValueField(std::vector<unsigned char>& image, unsigned int field) {
    AppendU32(image, field);
}
void AppendValueField(std::vector<unsigned char>& image, const std::string& field) {
    WriteLengthPrefixedString(image, field);
}

bool ReadValueField(ByteReader& reader, uint8_t& field) {
    return reader.ReadByte(field);
}
bool ReadValueField(ByteReader& reader, double& field) {
    return reader.ReadDouble(field);
}
bool ReadValueField(ByteReader& reader, unsigned int& field) {
    return reader.ReadU32(field);
}
bool ReadValueField(ByteReader& reader, std::string& field) {
    return ReadLengthPrefixedString(reader, field);
}

}  // namespace

template <typename T>
uint32_t IParameterValueTemplate<T>::GetType() const {
    return type;
}

template <typename T>
bool IParameterValueTemplate<T>::SerialiseInto(IParameterValue& target) const {
    std::vector<unsigned char> image;
    AppendU32(image, type);
    AppendValueField(image, value);
    image.push_back(flag1);
    image.push_back(flag2);
    image.push_back(flag3);
    AppendExtraBytes(image);
    if (image.size() > std::numeric_limits<uint32_t>::max())
        throw std::length_error("parameter value image longer than a u32 can count");
    return target.LoadFromBytes(image.data(), static_cast<uint32_t>(image.size()));
}

template <typename T>
bool IParameterValueTemplate<T>::LoadFromBytes(const unsigned char* data, uint32_t size) {
    if (data == nullptr || size == 0) return false;
    ByteReader reader;
    reader.bytes.assign(data, data + size);
    uint32_t tag = 0;
    if (!reader.ReadU32(tag) || tag != type) return false;
    if (!ReadValueField(reader, value)) return false;
    if (!reader.ReadByte(flag1) || !reader.ReadByte(flag2) || !reader.ReadByte(flag3)) return false;
    if (!ReadExtraBytes(reader)) return false;
    return reader.position == reader.bytes.size();
}

template <typename T>
void IParameterValueTemplate<T>::SetFlag1(bool flag) {
    flag1 = flag ? 1 : 0;
}
template <typename T>
bool IParameterValueTemplate<T>::GetFlag1() const {
    return flag1 != 0;
}
template <typename T>
void IParameterValueTemplate<T>::SetFlag2(bool flag) {
    flag2 = flag ? 1 : 0;
}
template <typename T>
bool IParameterValueTemplate<T>::GetFlag2() const {
    return flag2 != 0;
}
template <typename T>
void IParameterValueTemplate<T>::SetFlag3(bool flag) {
    flag3 = flag ? 1 : 0;
}
template <typename T>
bool IParameterValueTemplate<T>::GetFlag3() const {
    return flag3 != 0;
}

template <typename T>
void IParameterValueTemplate<T>::SetValue(const T& newValue) {
    value = ParameterValueStorage<T>::Store(newValue);
}

template <typename T>
T IParameterValueTemplate<T>::GetValue() const {
    return ParameterValueStorage<T>::Load(value);
}

template <typename T>
void IParameterValueTemplate<T>::AppendExtraBytes(std::vector<unsigned char>&) const {}

template <typename T>
bool IParameterValueTemplate<T>::ReadExtraBytes(ByteReader&) {
    return true;
}

template <typename T>
bool IParameterValueTemplate<T>::CommonFieldsEqual(const IParameterValueTemplate& other) const {
    return type == other.type && value == other.value && flag1 == other.flag1 && flag2 == other.flag2 &&
           flag3 == other.flag3;
}

template class IParameterValueTemplate<bool>;
template class IParameterValueTemplate<double>;
template class IParameterValueTemplate<unsigned int>;
template class IParameterValueTemplate<std::string>;

}  // namespace ZentuDigitalDevice
