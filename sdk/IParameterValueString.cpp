#include "sdk/IParameterValueString.h"

namespace ZentuDigitalDevice {

bool IParameterValueString::Equals(const IParameterValue& other) const {
    IParameterValueString loaded;
    return other.SerialiseInto(loaded) && CommonFieldsEqual(loaded);
}

}  // namespace ZentuDigitalDevice
