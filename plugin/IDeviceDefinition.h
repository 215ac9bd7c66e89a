// What ProvideDeviceDefinitions announces to the host.
#pragma once

#include "sdk/IDeviceDefinitionBuilder.h"

namespace KESU {

class IDeviceDefinition {
public:
    virtual ~IDeviceDefinition() = default;

    // Host thread inside ProvideDeviceDefinitions. Every builder result is
    // released before Describe returns, and none makes it stop. offerBlink
    // says whether a plate adds its "BlinkAction" parameter.
    virtual void Describe(ZentuDigitalDevice::IDeviceDefinitionBuilder* builder, bool offerBlink) const = 0;
};

}  // namespace KESU
