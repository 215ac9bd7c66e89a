#pragma once

#include <string>

#include "sdk/IParameterValueTemplate.h"

namespace ZentuDigitalDevice {

// Narrow text carried byte for byte; embedded zero bytes included.
class IParameterValueString : public IParameterValueTemplate<std::string> {
public:
    IParameterValueString() : IParameterValueTemplate<std::string>(ParameterValueType::String) {}
    bool Equals(const IParameterValue& other) const override;
};

}  // namespace ZentuDigitalDevice
