// The parameters every force-plate device carries besides "Connected" and the
// two standard dimensions.
#pragma once

#include "sdk/ParameterValues.h"
#include "sdk/VParameterRecord.h"

namespace KESU {

// Plain data: an amplifier device sets and reads the values of its own copy.
// Ids 1 to 5 are unique in a plate definition and so recognise their entry.
// 0 is shared by firmwareVersion and the "Connected" and "StandardDimension_Y"
// parameters that Describe adds, 6 by the three origin entries and
// "StandardDimension_X": those are told apart by name only.
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
