#include "sdk/IParameterValueBool.h"

namespace ZentuDigitalDevice {

bool IParameterValueBool::Equals(const IParameterValue& other) const {
    IParameterValueBool loaded;
    return other.SerialiseInto(loaded) && CommonFieldsEqual(loaded);
}

}  // namespace ZentuDigitalDevice
