#include "plugin/VGenericPlateParameterHolder.h"

#include <cstdint>

namespace KESU {

namespace {

template <class ValueClass>
void Fill(VParameterRecord<ValueClass>& record, const char* name, const char* displayName,
          const char* description, const char* group, bool flagged, uint64_t id) {
    record.name = name;
    record.displayName = displayName;
    record.description = description;
    record.group = group;
    record.value.SetFlag1(flagged);
    record.value.SetFlag2(flagged);
    record.id = id;
}

}  // namespace

VGenericPlateParameterHolder::VGenericPlateParameterHolder() {
    Fill(firmwareVersion, "FirmwareVersion", "Firmware Version", "Firmware Version", "Amplifier", true, 0);
    Fill(amplifierModel, "AmplifierModel", "Amplifier Model", "Amplifier Model", "Amplifier", true, 1);
    Fill(amplifierSerial, "AmplifierSerial", "Amplifier Serial", "Amplifier Serial", "Amplifier", true, 2);
    Fill(platformModel, "PlatformModel", "Platform Model", "Platform Model", "Platform", true, 3);
    Fill(platformSerial, "PlatformSerial", "Platform Serial", "Platform Serial", "Platform", true, 4);
    Fill(blinkAction, "BlinkAction", "Blink",
         "Make the selected signal conditioner blink. The amber light will blink for ten seconds. ",
         "Amplifier", false, 5);
    Fill(parameterA, "ParameterA", "a", "X displacement from sensor origin to force plate origin.", "Origin",
         true, 6);
    Fill(parameterB, "ParameterB", "b", "Y displacement from sensor origin to force plate origin.", "Origin",
         true, 6);
    Fill(parameterAZ0, "ParameterAZ0", "az0",
         "Negative Z displacement from sensor origin to force plate surface.", "Origin", true, 6);
}

}  // namespace KESU
