#pragma once

#include "sdk/IParameterValueTemplate.h"

namespace ZentuDigitalDevice {

class IParameterValueAction : public IParameterValueTemplate<unsigned int> {
public:
    IParameterValueAction() : IParameterValueTemplate<unsigned int>(ParameterValueType::Action) {}
    bool Equals(const IParameterValue& other) const override;
};

}  // namespace ZentuDigitalDevice
