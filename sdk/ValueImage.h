// A value's byte image as a plain byte vector: what a host keeps of a value,
// and what the tests and fuzz targets compare.
#pragma once

#include <vector>

#include "sdk/IParameterValue.h"

namespace ZentuDigitalDevice {

// A target that keeps exactly the bytes a value's SerialiseInto hands it.
class ImageCapture final : public IParameterValue {
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

// Empty when the value gives no image.
inline std::vector<unsigned char> ImageOf(const IParameterValue& value) {
    ImageCapture capture;
    if (!value.SerialiseInto(capture)) return {};
    return capture.bytes;
}

}  // namespace ZentuDigitalDevice
