// A host that keeps nothing and only counts the packets written to it, so that
// whatever allocates or takes time on the data path is the plug-in's.
#pragma once

#include <cstdint>

#include "sdk/IDeviceHost.h"
#include "sdk/IHost.h"

namespace KESUTest {

class CountingHost : public ZentuDigitalDevice::IHost, public ZentuDigitalDevice::IDeviceHost {
public:
    void Log(const char*, int) override {}
    uint32_t GetBaseRate() override { return 1000000; }
    void Unused2() override {}
    double GetTime() override { return 0.0; }
    ZentuDigitalDevice::ResultPtr GetParameterValue(ZentuDigitalDevice::IParameterValue*, const char*,
                                                    const char*) override {
        return {};
    }
    ZentuDigitalDevice::ResultPtr SetParameterValue(const ZentuDigitalDevice::IParameterValue*, const char*,
                                                    const char*) override {
        return {};
    }
    uint32_t GetChangedParameterCount() override { return 0; }
    ZentuDigitalDevice::ResultPtr GetChangedParameterIds(const uint32_t*, uint64_t*, uint32_t*) override {
        return {};
    }
    ZentuDigitalDevice::ResultPtr WriteSamples(uint32_t, int64_t, uint32_t, const uint32_t*, uint32_t,
                                               const float* values, uint32_t) override {
        ++writes;
        converted += values[2] != 0.0f;  // Fz of sample 0 above the threshold
        lastValue = values[143];
        return {};
    }
    void NotifyStatusChanged() override {}

    int64_t writes = 0;
    int64_t converted = 0;
    float lastValue = 0.0f;
};

}  // namespace KESUTest
