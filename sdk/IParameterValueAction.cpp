#include "sdk/IParameterValueAction.h"

namespace ZentuDigitalDevice {

bool IParameterValueAction::Equals(const IParameterValue& other) const {
    return EqualsThroughImage<IParameterValueAction>(other);
}

}  // namespace ZentuDigitalDevice
