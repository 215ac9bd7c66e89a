#include "sdk/IParameterValueEnum.h"

namespace ZentuDigitalDevice {

bool IParameterValueEnum::Equals(const IParameterValue& other) const {
    return EqualsThroughImage<IParameterValueEnum>(
        other, [this](const IParameterValueEnum& loaded) { return entries == loaded.entries; });
}

void IParameterValueEnum::AppendExtraBytes(std::vector<unsigned char>& image) const {
    AppendU32(image, static_cast<uint32_t>(entries.size()));
    for (const std::string& entry : entries) WriteLengthPrefixedString(image, entry);
}

bool IParameterValueEnum::ReadExtraBytes(ByteReader& reader) {
    uint32_t count = 0;
    if (!reader.ReadU32(count)) return false;
    if (count > reader.Remaining() / 4) return false;
    entries.resize(count);
    for (std::string& entry : entries)
        if (!ReadLengthPrefixedString(reader, entry)) return false;
    return true;
}

void IParameterValueEnum::SetEntries(const std::vector<std::string>& newEntries) {
    entries = newEntries;
}

}  // namespace ZentuDigitalDevice
