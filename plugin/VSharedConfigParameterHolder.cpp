#include "plugin/VSharedConfigParameterHolder.h"

#include <boost/format.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/FillParameterRecord.h"
#include "plugin/SampleRates.h"

namespace KESU {

namespace {

std::string RateText(uint32_t rate) {
    return (boost::format("%s") % rate).str();
}

}  // namespace

VSharedConfigParameterHolder::VSharedConfigParameterHolder() {
    FillParameterRecord(syncMode, "SyncMode", "Synchronization mode", "Synchronization mode",
                        "Device collection", false, 0);
    syncMode.value.SetEntries({"Software trigger", "Hardware trigger"});
    syncMode.value.SetValue("Software trigger");

    FillParameterRecord(
        sampleRate, "SampleRate", "Acquisition rate",
        "Broadcasts an acquisition rate, in datasets per second, to all connected signal conditioners.",
        "Device collection", false, 1);
    std::vector<std::string> rates;
    for (uint32_t rate : kDefaultRates) rates.push_back(RateText(rate));
    sampleRate.value.SetEntries(rates);
    sampleRate.value.SetValue(RateText(kDefaultRates[kDefaultRateIndex]));

    FillParameterRecord(dataThreshold, "DataThreshold", "Fz Threshold",
                        "Fz limit below which data are not collected.", "Device collection", false, 2);
    dataThreshold.value.minimum = 0.0;
    dataThreshold.value.maximum = 50.0;
    dataThreshold.value.hasLimits = 1;
    dataThreshold.value.SetValue(20.0);

    FillParameterRecord(
        broadcastZero, "BroadcastZero", "Zero digital platforms",
        "Send a 'Zero' command to all of the signal conditioners. Calling this function doesn't interrupt "
        "data acquisition.",
        "Actions", false, 3);

    // Id 4 is unused.
    FillParameterRecord(scanForHardware, "ScanForHardware", "Detect KESU digital devices",
                        "Search for additional signal conditioners", "Plug-in", false, 5);
}

}  // namespace KESU
