#pragma once

#include <string>
#include <vector>

#include "sdk/IParameterValueTemplate.h"

namespace ZentuDigitalDevice {

// The selected text and the texts the host offers. Neither SetValue nor
// SetEntries checks the text against the entries.
class IParameterValueEnum : public IParameterValueTemplate<std::string> {
public:
    IParameterValueEnum() : IParameterValueTemplate<std::string>(ParameterValueType::Enum) {}
    bool Equals(const IParameterValue& other) const override;
    void AppendExtraBytes(std::vector<unsigned char>& image) const override;
    // Refuses a count the remaining bytes cannot hold (each entry needs at
    // least 4) before touching the entries. Otherwise the list takes the
    // count's size first, and each entry is kept as soon as it is read.
    bool ReadExtraBytes(ByteReader& reader) override;
    // Replaces the whole list; the selected text stays.
    virtual void SetEntries(const std::vector<std::string>& newEntries);

    const std::vector<std::string>& GetEntries() const { return entries; }

protected:
    std::vector<std::string> entries;
};

}  // namespace ZentuDigitalDevice
