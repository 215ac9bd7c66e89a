// The fake host's own parameter values. They share nothing with sdk/ but the
// abstract interface: each reads and writes the byte image from its layout
// alone, so a test that passes values between these and the plug-in's checks
// the plug-in's image against an independent reading of it.
//
// Unlike the plug-in's values they load all or nothing: a refused image
// leaves the value as it was, as a host keeps its current value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sdk/IParameterValue.h"

namespace KESUTest {

class FakeValue : public ZentuDigitalDevice::IParameterValue {
public:
    // The host's value for a type tag; null for a tag the host does not know.
    static std::unique_ptr<FakeValue> Make(uint32_t type);
    // The value an image describes; null when the image does not load.
    static std::unique_ptr<FakeValue> FromImage(const std::vector<unsigned char>& image);

    virtual std::unique_ptr<FakeValue> Clone() const = 0;
    // This value's byte image.
    std::vector<unsigned char> Image() const;

    uint32_t GetType() const override { return type_; }
    bool SerialiseInto(ZentuDigitalDevice::IParameterValue& target) const override;
    bool LoadFromBytes(const unsigned char* data, uint32_t size) override;
    void SetFlag1(bool flag) override { flag1 = flag; }
    bool GetFlag1() const override { return flag1 != 0; }
    void SetFlag2(bool flag) override { flag2 = flag; }
    bool GetFlag2() const override { return flag2 != 0; }
    void SetFlag3(bool flag) override { flag3 = flag; }
    bool GetFlag3() const override { return flag3 != 0; }
    bool Equals(const ZentuDigitalDevice::IParameterValue& other) const override;

    uint8_t flag1 = 0;
    uint8_t flag2 = 0;
    uint8_t flag3 = 0;

protected:
    explicit FakeValue(uint32_t type) : type_(type) {}

    struct Cursor;
    // The bytes between the tag and the flags, then those after the flags.
    virtual void PutValue(std::vector<unsigned char>& out) const = 0;
    virtual void PutExtra(std::vector<unsigned char>&) const {}
    // Parse into a fresh object; only a complete image is copied over.
    virtual bool TakeValue(Cursor& in) = 0;
    virtual bool TakeExtra(Cursor&) { return true; }
    virtual bool SameFields(const FakeValue& other) const = 0;

private:
    uint32_t type_;
};

class FakeBoolValue : public FakeValue {
public:
    FakeBoolValue() : FakeValue(1) {}
    std::unique_ptr<FakeValue> Clone() const override { return std::make_unique<FakeBoolValue>(*this); }
    uint8_t value = 0;

protected:
    void PutValue(std::vector<unsigned char>& out) const override;
    bool TakeValue(Cursor& in) override;
    bool SameFields(const FakeValue& other) const override;
};

class FakeActionValue : public FakeValue {
public:
    FakeActionValue() : FakeValue(0) {}
    std::unique_ptr<FakeValue> Clone() const override { return std::make_unique<FakeActionValue>(*this); }
    uint32_t value = 0;

protected:
    void PutValue(std::vector<unsigned char>& out) const override;
    bool TakeValue(Cursor& in) override;
    bool SameFields(const FakeValue& other) const override;
};

class FakeDoubleValue : public FakeValue {
public:
    FakeDoubleValue() : FakeValue(3) {}
    std::unique_ptr<FakeValue> Clone() const override { return std::make_unique<FakeDoubleValue>(*this); }
    double value = 0.0;
    double minimum = -1.7976931348623157e308;
    double maximum = 1.7976931348623157e308;
    uint8_t hasLimits = 0;

protected:
    void PutValue(std::vector<unsigned char>& out) const override;
    void PutExtra(std::vector<unsigned char>& out) const override;
    bool TakeValue(Cursor& in) override;
    bool TakeExtra(Cursor& in) override;
    bool SameFields(const FakeValue& other) const override;
};

class FakeStringValue : public FakeValue {
public:
    FakeStringValue() : FakeValue(4) {}
    std::unique_ptr<FakeValue> Clone() const override { return std::make_unique<FakeStringValue>(*this); }
    std::string value;

protected:
    explicit FakeStringValue(uint32_t type) : FakeValue(type) {}
    void PutValue(std::vector<unsigned char>& out) const override;
    bool TakeValue(Cursor& in) override;
    bool SameFields(const FakeValue& other) const override;
};

class FakeEnumValue : public FakeStringValue {
public:
    FakeEnumValue() : FakeStringValue(7) {}
    std::unique_ptr<FakeValue> Clone() const override { return std::make_unique<FakeEnumValue>(*this); }
    std::vector<std::string> entries;

protected:
    void PutExtra(std::vector<unsigned char>& out) const override;
    bool TakeExtra(Cursor& in) override;
    bool SameFields(const FakeValue& other) const override;
};

}  // namespace KESUTest
