#pragma once

#include "sdk/IDevice.h"
#include "sdk/IResult.h"

namespace ZentuDigitalDevice {

class IDeviceFactory {
public:
    // An empty result: the host accepted the instance.
    virtual ResultPtr InstantiateDevice(const char* maker, const char* definitionName, const char* version,
                                        const char* instanceName, IDevice* device) = 0;

protected:
    ~IDeviceFactory() = default;
};

}  // namespace ZentuDigitalDevice
