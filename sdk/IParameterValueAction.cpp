#include "sdk/IParameterValueAction.h"

namespace ZentuDigitalDevice {

bool IParameterValueAction::Equals(const IParameterValue& other) const {
    IParameterValueAction loaded;
    return other.SerialiseInto(loaded) && CommonFieldsEqual(loaded);
}

}  // namespace ZentuDigitalDevice
