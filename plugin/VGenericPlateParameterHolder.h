// The parameters every force-plate device carries besides "Connected" and the
// two standard dimensions.
#pragma once

#include "sdk/ParameterValues.h"
#include "sdk/VParameterRecord.h"

namespace KESU {

// Plain data: an amplifier device sets and reads the values of its own copy.
// Ids are not unique (the three origin entries share 6), so only the blink
// action can be recognised by its id.
class VGenericPlateParameterHolder {
public:
    VGenericPlateParameterHolder();

    VParameterRecord<ZentuDigitalDevice::IParameterValueString> firmwareVersion;
    VParameterRecord<ZentuDigitalDevice::IParameterValueString> amplifierModel;
    VParameterRecord<ZentuDigitalDevice::IParameterValueString> amplifierSerial;
    VParameterRecord<ZentuDigitalDevice::IParameterValueString> platformModel;
    VParameterRecord<ZentuDigitalDevice::IParameterValueString> platformSerial;
    VParameterRecord<ZentuDigitalDevice::IParameterValueAction> blinkAction;
    VParameterRecord<ZentuDigitalDevice::IParameterValueDouble> parameterA;
    VParameterRecord<ZentuDigitalDevice::IParameterValueDouble> parameterB;
    VParameterRecord<ZentuDigitalDevice::IParameterValueDouble> parameterAZ0;
};

}  // namespace KESU
