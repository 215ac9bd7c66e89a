#include "sdk/IParameterValueBool.h"

namespace ZentuDigitalDevice {

bool IParameterValueBool::Equals(const IParameterValue& other) const {
    return EqualsThroughImage<IParameterValueBool>(other);
}

}  // namespace ZentuDigitalDevice
