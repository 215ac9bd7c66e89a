// The five settings common to all amplifiers, with their defaults.
#pragma once

#include "sdk/ParameterValues.h"
#include "sdk/VParameterRecord.h"

namespace KESU {

// Plain data: the placeholder device keeps the last value it read from the
// host in the value of the entry of that name.
class VSharedConfigParameterHolder {
public:
    VSharedConfigParameterHolder();

    VParameterRecord<ZentuDigitalDevice::IParameterValueEnum> syncMode;
    VParameterRecord<ZentuDigitalDevice::IParameterValueEnum> sampleRate;
    VParameterRecord<ZentuDigitalDevice::IParameterValueDouble> dataThreshold;
    VParameterRecord<ZentuDigitalDevice::IParameterValueAction> broadcastZero;
    VParameterRecord<ZentuDigitalDevice::IParameterValueAction> scanForHardware;
};

}  // namespace KESU
