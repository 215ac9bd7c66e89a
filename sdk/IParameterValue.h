// The interface through which the host works on every parameter value. The
// order of the operations is shared with the host and must not change.
#pragma once

#include <cstdint>

namespace ZentuDigitalDevice {

// Type tags, carried as u32 in the value and in its byte image.
struct ParameterValueType {
    enum : uint32_t { Action = 0, Bool = 1, Double = 3, String = 4, Enum = 7 };
};

class IParameterValue {
public:
    virtual ~IParameterValue() = default;
    virtual uint32_t GetType() const = 0;
    // Writes this value's byte image and makes the target load it.
    virtual bool SerialiseInto(IParameterValue& target) const = 0;
    // Reads an image of this value's own type; true when all of it was read.
    virtual bool LoadFromBytes(const unsigned char* data, uint32_t size) = 0;
    virtual void SetFlag1(bool flag) = 0;
    virtual bool GetFlag1() const = 0;
    virtual void SetFlag2(bool flag) = 0;
    virtual bool GetFlag2() const = 0;
    virtual void SetFlag3(bool flag) = 0;
    virtual bool GetFlag3() const = 0;
    virtual bool Equals(const IParameterValue& other) const = 0;
};

}  // namespace ZentuDigitalDevice
