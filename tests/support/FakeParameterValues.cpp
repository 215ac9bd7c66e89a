#include "tests/support/FakeParameterValues.h"

#include <cstring>

namespace KESUTest {

// Little-endian reads over the caller's bytes; a short field fails the parse.
struct FakeValue::Cursor {
    const unsigned char* at;
    size_t left;

    bool Take(void* out, size_t n) {
        if (left < n) return false;
        std::memcpy(out, at, n);
        at += n;
        left -= n;
        return true;
    }
    bool U8(uint8_t& out) { return Take(&out, 1); }
    bool U32(uint32_t& out) {
        unsigned char b[4];
        if (!Take(b, 4)) return false;
        out = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
        return true;
    }
    bool F64(double& out) {
        unsigned char b[8];
        if (!Take(b, 8)) return false;
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= uint64_t(b[i]) << (8 * i);
        std::memcpy(&out, &bits, 8);
        return true;
    }
    bool Text(std::string& out) {
        uint32_t n = 0;
        if (!U32(n) || left < n) return false;
        out.assign(reinterpret_cast<const char*>(at), n);
        at += n;
        left -= n;
        return true;
    }
};

namespace {

void PutU32(std::vector<unsigned char>& out, uint32_t v) {
    const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    out.insert(out.end(), b, b + 4);
}

void PutF64(std::vector<unsigned char>& out, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<unsigned char>(bits >> (8 * i)));
}

void PutText(std::vector<unsigned char>& out, const std::string& text) {
    PutU32(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

std::unique_ptr<FakeValue> FakeValue::Make(uint32_t type) {
    switch (type) {
        case 0:
            return std::make_unique<FakeActionValue>();
        case 1:
            return std::make_unique<FakeBoolValue>();
        case 3:
            return std::make_unique<FakeDoubleValue>();
        case 4:
            return std::make_unique<FakeStringValue>();
        case 7:
            return std::make_unique<FakeEnumValue>();
        default:
            return nullptr;
    }
}

std::unique_ptr<FakeValue> FakeValue::FromImage(const std::vector<unsigned char>& image) {
    Cursor in{image.data(), image.size()};
    uint32_t tag = 0;
    if (!in.U32(tag)) return nullptr;
    std::unique_ptr<FakeValue> value = Make(tag);
    if (!value || !value->LoadFromBytes(image.data(), static_cast<uint32_t>(image.size()))) return nullptr;
    return value;
}

std::vector<unsigned char> FakeValue::Image() const {
    std::vector<unsigned char> out;
    PutU32(out, type_);
    PutValue(out);
    out.push_back(flag1);
    out.push_back(flag2);
    out.push_back(flag3);
    PutExtra(out);
    return out;
}

bool FakeValue::SerialiseInto(ZentuDigitalDevice::IParameterValue& target) const {
    const std::vector<unsigned char> image = Image();
    return target.LoadFromBytes(image.data(), static_cast<uint32_t>(image.size()));
}

bool FakeValue::LoadFromBytes(const unsigned char* data, uint32_t size) {
    if (data == nullptr) return false;
    // A trial on a copy first, so that a refused image changes nothing here.
    auto parse = [data, size](FakeValue& into) {
        Cursor in{data, size};
        uint32_t tag = 0;
        return in.U32(tag) && tag == into.type_ && into.TakeValue(in) && in.U8(into.flag1) &&
               in.U8(into.flag2) && in.U8(into.flag3) && into.TakeExtra(in) && in.left == 0;
    };
    std::unique_ptr<FakeValue> trial = Clone();
    return parse(*trial) && parse(*this);
}

bool FakeValue::Equals(const ZentuDigitalDevice::IParameterValue& other) const {
    std::unique_ptr<FakeValue> received = Make(type_);
    return other.SerialiseInto(*received) && received->type_ == type_ && received->flag1 == flag1 &&
           received->flag2 == flag2 && received->flag3 == flag3 && SameFields(*received);
}

void FakeBoolValue::PutValue(std::vector<unsigned char>& out) const {
    out.push_back(value);
}
bool FakeBoolValue::TakeValue(Cursor& in) {
    return in.U8(value);
}
bool FakeBoolValue::SameFields(const FakeValue& other) const {
    return value == static_cast<const FakeBoolValue&>(other).value;
}

void FakeActionValue::PutValue(std::vector<unsigned char>& out) const {
    PutU32(out, value);
}
bool FakeActionValue::TakeValue(Cursor& in) {
    return in.U32(value);
}
bool FakeActionValue::SameFields(const FakeValue& other) const {
    return value == static_cast<const FakeActionValue&>(other).value;
}

void FakeDoubleValue::PutValue(std::vector<unsigned char>& out) const {
    PutF64(out, value);
}
void FakeDoubleValue::PutExtra(std::vector<unsigned char>& out) const {
    PutF64(out, minimum);
    PutF64(out, maximum);
    out.push_back(hasLimits);
}
bool FakeDoubleValue::TakeValue(Cursor& in) {
    return in.F64(value);
}
bool FakeDoubleValue::TakeExtra(Cursor& in) {
    return in.F64(minimum) && in.F64(maximum) && in.U8(hasLimits);
}
bool FakeDoubleValue::SameFields(const FakeValue& other) const {
    const auto& o = static_cast<const FakeDoubleValue&>(other);
    return value == o.value && minimum == o.minimum && maximum == o.maximum && hasLimits == o.hasLimits;
}

void FakeStringValue::PutValue(std::vector<unsigned char>& out) const {
    PutText(out, value);
}
bool FakeStringValue::TakeValue(Cursor& in) {
    return in.Text(value);
}
bool FakeStringValue::SameFields(const FakeValue& other) const {
    return value == static_cast<const FakeStringValue&>(other).value;
}

void FakeEnumValue::PutExtra(std::vector<unsigned char>& out) const {
    PutU32(out, static_cast<uint32_t>(entries.size()));
    for (const std::string& entry : entries) PutText(out, entry);
}
bool FakeEnumValue::TakeExtra(Cursor& in) {
    uint32_t count = 0;
    if (!in.U32(count)) return false;
    std::vector<std::string> taken;
    for (uint32_t i = 0; i < count; ++i) {
        std::string entry;
        if (!in.Text(entry)) return false;
        taken.push_back(std::move(entry));
    }
    entries = std::move(taken);
    return true;
}
bool FakeEnumValue::SameFields(const FakeValue& other) const {
    const auto& o = static_cast<const FakeEnumValue&>(other);
    return FakeStringValue::SameFields(other) && entries == o.entries;
}

}  // namespace KESUTest
