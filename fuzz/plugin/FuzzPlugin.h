// What both plug-in fuzz targets share: a host that keeps nothing and checks
// what it is given, and a fixed detection of three amplifiers.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/VKESUDriverService.h"
#include "sdk/IDeviceHost.h"
#include "sdk/IHost.h"

namespace KESUFuzz {

// Ends the run with a crash libFuzzer reports, keeping the input.
inline void Require(bool rule) {
    if (!rule) std::abort();
}

class CheckingHost : public ZentuDigitalDevice::IHost, public ZentuDigitalDevice::IDeviceHost {
public:
    // IHost
    void Log(const char* text, int) override { Require(text != nullptr); }
    uint32_t GetBaseRate() override { return 1000000; }
    void Unused2() override {}
    double GetTime() override { return now; }

    // IDeviceHost: parameters are whatever the target answers.
    ZentuDigitalDevice::ResultPtr GetParameterValue(ZentuDigitalDevice::IParameterValue* into,
                                                    const char* name, const char*) override {
        const ZentuDigitalDevice::IParameterValue* value = Answer(name);
        if (value != nullptr && into != nullptr) value->SerialiseInto(*into);
        return {};
    }
    ZentuDigitalDevice::ResultPtr SetParameterValue(const ZentuDigitalDevice::IParameterValue*, const char*,
                                                    const char*) override {
        return {};
    }
    uint32_t GetChangedParameterCount() override { return static_cast<uint32_t>(changed.size()); }
    ZentuDigitalDevice::ResultPtr GetChangedParameterIds(const uint32_t*, uint64_t* ids,
                                                         uint32_t* count) override {
        std::memcpy(ids, changed.data(), changed.size() * sizeof(uint64_t));
        *count = static_cast<uint32_t>(changed.size());
        return {};
    }
    // Each plate's packets come whole, and its indices only rise.
    ZentuDigitalDevice::ResultPtr WriteSamples(uint32_t hostDeviceId, int64_t firstIndex,
                                               uint32_t sampleCount, const uint32_t* outputIds,
                                               uint32_t outputCount, const float* values,
                                               uint32_t valueCount) override {
        Require(sampleCount == 16 && outputCount == 3 && valueCount == 144 && outputIds && values);
        Require(hostDeviceId < 8);
        if (written[hostDeviceId]) Require(firstIndex > lastIndex[hostDeviceId]);
        written[hostDeviceId] = true;
        lastIndex[hostDeviceId] = firstIndex;
        // A sample whose Fz is not above the threshold is all zero; any
        // other shows Fz negated. The host device id is the amplifier's index.
        for (uint32_t s = 0; block != nullptr && s < 16; ++s) {
            const float fz = block[(s * amplifiers + hostDeviceId) * 8 + 3];
            const float* out = values + 9 * s;
            if (!(std::fabs(fz) > threshold)) {
                for (int k = 0; k < 9; ++k) Require(out[k] == 0.0f);
            } else {
                Require(out[2] == -fz);
            }
        }
        ++packets;
        return {};
    }
    void NotifyStatusChanged() override {}

    virtual const ZentuDigitalDevice::IParameterValue* Answer(const char*) { return nullptr; }

    double now = 0.0;
    // The block being handed over, when the target checks the conversion.
    const float* block = nullptr;
    uint32_t amplifiers = 3;
    double threshold = 0.0;
    std::vector<uint64_t> changed;
    bool written[8] = {};
    int64_t lastIndex[8] = {};
    long packets = 0;
};

// Three amplifiers of the given product types, device indices 0 to 2.
inline std::vector<KESU::VKESUDriverService::VDeviceInfo> Detection(const int32_t (&types)[3]) {
    std::vector<KESU::VKESUDriverService::VDeviceInfo> records(3);
    for (uint32_t i = 0; i < 3; ++i) {
        records[i].productType = types[i];
        records[i].amplifierModelNumber = "MIRT-300";
        records[i].amplifierSerialNumber = "A" + std::to_string(i);
        records[i].platformModelNumber = "Sorvik";
        records[i].platformSerialNumber = "P" + std::to_string(i);
        records[i].platformXYZOffsets = {0.25f * static_cast<float>(i), -0.5f, 1.5f};
        records[i].deviceIndex = i;
    }
    return records;
}

}  // namespace KESUFuzz
