// The placeholder device that carries the settings common to all plates.
#pragma once

#include <string>

#include "driver/VKESUDriverService.h"

namespace KESU {

class VSharedConfigDevice {
public:
    // Any thread; uses no device state. The match code of the model table
    // (1 to 19): the first row whose model text occurs in the platform's model
    // text, else the first whose length and width both lie within 1 % of the
    // measured sizes; 0 when none does.
    static int MatchPlateModel(VKESUDriverService::VDeviceInfo record);

    // Any thread. 0 software trigger, 1 hardware trigger, 2 genlock; any text
    // not spelt exactly as one of those selects the software trigger.
    static int SyncModeFromText(std::string text);
};

}  // namespace KESU
