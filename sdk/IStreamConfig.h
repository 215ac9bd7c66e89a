#pragma once

#include <cstdint>

#include "sdk/IResult.h"

namespace ZentuDigitalDevice {

// Handed to IDevice::Start and valid only during that call.
class IStreamConfig {
public:
    virtual ResultPtr SetRateDivisor(uint32_t divisor) = 0;
    virtual ResultPtr DeclareSyncPort(const char* name, uint32_t kind, uint32_t window, uint32_t reservedA,
                                      uint32_t reservedB, bool enabled) = 0;
    virtual void SetStreamMode(uint32_t mode) = 0;
    virtual ResultPtr SetSamplesPerPacket(uint32_t samples) = 0;

protected:
    ~IStreamConfig() = default;
};

}  // namespace ZentuDigitalDevice
