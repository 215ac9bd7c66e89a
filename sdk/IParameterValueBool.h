#pragma once

#include "sdk/IParameterValueTemplate.h"

namespace ZentuDigitalDevice {

// GetValue answers whether the held byte is non-zero; the image and Equals
// use the byte itself.
class IParameterValueBool : public IParameterValueTemplate<bool> {
public:
    IParameterValueBool() : IParameterValueTemplate<bool>(ParameterValueType::Bool) {}
    bool Equals(const IParameterValue& other) const override;
};

}  // namespace ZentuDigitalDevice
