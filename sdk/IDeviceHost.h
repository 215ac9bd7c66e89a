#pragma once

#include <cstdint>

#include "sdk/IParameterValue.h"
#include "sdk/IResult.h"

namespace ZentuDigitalDevice {

// The host's side of one connected device.
class IDeviceHost {
public:
    // Fills `into` with the host's current value of the parameter.
    virtual ResultPtr GetParameterValue(IParameterValue* into, const char* name, const char* scope) = 0;
    virtual ResultPtr SetParameterValue(const IParameterValue* value, const char* name,
                                        const char* scope) = 0;
    virtual uint32_t GetChangedParameterCount() = 0;
    // ids has room for GetChangedParameterCount() entries; *count receives how many were written.
    virtual ResultPtr GetChangedParameterIds(const uint32_t* selector, uint64_t* ids, uint32_t* count) = 0;
    virtual ResultPtr WriteSamples(uint32_t hostDeviceId, int64_t firstIndex, uint32_t sampleCount,
                                   const uint32_t* outputIds, uint32_t outputCount, const float* values,
                                   uint32_t valueCount) = 0;
    // The device's GetStatus has a new answer.
    virtual void NotifyStatusChanged() = 0;

protected:
    ~IDeviceHost() = default;
};

}  // namespace ZentuDigitalDevice
