#pragma once

#include <cstdint>

namespace ZentuDigitalDevice {

class IDeviceHost;
class IStreamConfig;

// A device instance the plug-in implements and owns; the host only borrows it.
// The host calls Connect first; per capture Start, SetStartTime, Stop.
class IDevice {
public:
    virtual ~IDevice() = default;
    // The device host is borrowed and kept for every later call back.
    virtual void Connect(IDeviceHost* deviceHost) = 0;
    virtual void OnParametersChanged() = 0;
    // streamConfig is used only during the call; false: the device cannot take part.
    virtual bool Start(uint32_t hostDeviceId, IStreamConfig* streamConfig) = 0;
    virtual void Unused4() = 0;
    virtual void SetStartTime(double startTime) = 0;
    virtual void Stop() = 0;
    // state: 0 starting, 1 running, 2 stopped.
    virtual void GetStatus(uint32_t* state, uint8_t* flag) = 0;
};

}  // namespace ZentuDigitalDevice
