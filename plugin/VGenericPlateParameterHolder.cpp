#include "plugin/VGenericPlateParameterHolder.h"

#include "plugin/FillParameterRecord.h"

namespace KESU {

VGenericPlateParameterHolder::VGenericPlateParameterHolder() {
    FillParameterRecord(firmwareVersion, "FirmwareVersion", "Firmware Version", "Firmware Version",
                        "Amplifier", true, 0);
    FillParameterRecord(amplifierModel, "AmplifierModel", "Amplifier Model", "Amplifier Model", "Amplifier",
                        true, 1);
    FillParameterRecord(amplifierSerial, "AmplifierSerial", "Amplifier Serial", "Amplifier Serial",
                        "Amplifier", true, 2);
    FillParameterRecord(platformModel, "PlatformModel", "Platform Model", "Platform Model", "Platform", true,
                        3);
    FillParameterRecord(platformSerial, "PlatformSerial", "Platform Serial", "Platform Serial", "Platform",
                        true, 4);
    FillParameterRecord(
        blinkAction, "BlinkAction", "Blink",
        "Make the selected signal conditioner blink. The amber light will blink for ten seconds. ",
        "Amplifier", false, 5);
    FillParameterRecord(parameterA, "ParameterA", "a",
                        "X displacement from sensor origin to force plate origin.", "Origin", true, 6);
    FillParameterRecord(parameterB, "ParameterB", "b",
                        "Y displacement from sensor origin to force plate origin.", "Origin", true, 6);
    FillParameterRecord(parameterAZ0, "ParameterAZ0", "az0",
                        "Negative Z displacement from sensor origin to force plate surface.", "Origin", true,
                        6);
}

}  // namespace KESU
