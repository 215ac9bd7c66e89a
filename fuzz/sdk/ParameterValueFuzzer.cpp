// Any image a value accepts must come out of it again byte for byte: the
// host relies on a load followed by a write changing nothing.
// KESU_FUZZ_VALUE names the value class under test.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sdk/ParameterValues.h"

namespace {

class ImageCapture : public ZentuDigitalDevice::IParameterValue {
public:
    std::vector<unsigned char> bytes;

    uint32_t GetType() const override { return 0xFFFFFFFF; }
    bool SerialiseInto(IParameterValue&) const override { return false; }
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    ZentuDigitalDevice::KESU_FUZZ_VALUE value;
    if (!value.LoadFromBytes(data, static_cast<uint32_t>(size))) return 0;
    ImageCapture written;
    if (!value.SerialiseInto(written) || written.bytes.size() != size ||
        (size != 0 && std::memcmp(written.bytes.data(), data, size) != 0)) {
        std::fprintf(stderr, "a loaded image was written back differently\n");
        std::abort();
    }
    return 0;
}
