#include "sdk/IParameterValueString.h"

namespace ZentuDigitalDevice {

bool IParameterValueString::Equals(const IParameterValue& other) const {
    return EqualsThroughImage<IParameterValueString>(other);
}

}  // namespace ZentuDigitalDevice
