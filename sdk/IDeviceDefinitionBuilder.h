#pragma once

#include <cstdint>

#include "sdk/IParameterValue.h"
#include "sdk/IResult.h"

namespace ZentuDigitalDevice {

// Receives the definitions the plug-in offers. A value passed to AddParameter
// may end with the call: the builder takes what it needs during it.
class IDeviceDefinitionBuilder {
public:
    virtual ResultPtr DefineDevice(const char* maker, const char* name, const char* version,
                                   const char* description, const char* type, const char* addLabel,
                                   const char* scope) = 0;
    virtual ResultPtr AddParameter(const char* name, const char* displayName, const char* description,
                                   const char* group, bool flag, const IParameterValue* value,
                                   uint64_t id) = 0;
    virtual ResultPtr SetSyncPort(const char* name) = 0;
    virtual ResultPtr AddOutput(const char* name, uint32_t kind) = 0;
    // Adds a component to the output added last.
    virtual ResultPtr AddComponent(const char* name) = 0;
    virtual void Unused5() = 0;
    virtual ResultPtr Finish() = 0;

protected:
    ~IDeviceDefinitionBuilder() = default;
};

}  // namespace ZentuDigitalDevice
