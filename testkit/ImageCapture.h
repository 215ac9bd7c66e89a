// A target that keeps exactly the bytes a value's SerialiseInto hands it.
// Shared by the SDK tests and the value fuzz targets.
#pragma once

#include <vector>

#include "sdk/IParameterValue.h"

namespace KESUTest {

class ImageCapture : public ZentuDigitalDevice::IParameterValue {
public:
    std::vector<unsigned char> bytes;

    uint32_t GetType() const override { return 0xFFFFFFFF; }
    bool SerialiseInto(IParameterValue& target) const override {
        return target.LoadFromBytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    bool LoadFromBytes(const unsigned char* data, uint32_t size) override {
        bytes.assign(data, data + size);
        return true;
    }
    void SetFlag1(bool) override {}
    bool GetFlag1() const override { return false; }
    void SetFlag2(bool) override {}
    bool GetFlag2() const override { return false; }
    void SetFlag3(bool) override {}
    bool GetFlag3() const override { return false; }
    bool Equals(const IParameterValue&) const override { return false; }
};

inline std::vector<unsigned char> ImageOf(const ZentuDigitalDevice::IParameterValue& value) {
    ImageCapture capture;
    value.SerialiseInto(capture);
    return capture.bytes;
}

}  // namespace KESUTest
