#pragma once

#include <cstdint>

namespace ZentuDigitalDevice {

// The host as the plug-in sees it from Initialise on. Borrowed, never freed.
class IHost {
public:
    // level: 0 trace, 1 information, 2 warning, 3 error.
    virtual void Log(const char* text, int level) = 0;
    virtual uint32_t GetBaseRate() = 0;
    virtual void Unused2() = 0;
    // Seconds, on the clock of IDevice::SetStartTime.
    virtual double GetTime() = 0;

protected:
    ~IHost() = default;
};

}  // namespace ZentuDigitalDevice
