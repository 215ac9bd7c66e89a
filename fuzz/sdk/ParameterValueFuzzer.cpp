// Any image a value accepts must come out of it again byte for byte: the
// host relies on a load followed by a write changing nothing.
// KESU_FUZZ_VALUE names the value class under test.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sdk/ParameterValues.h"
#include "sdk/ValueImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    ZentuDigitalDevice::KESU_FUZZ_VALUE value;
    if (!value.LoadFromBytes(data, static_cast<uint32_t>(size))) return 0;
    ZentuDigitalDevice::ImageCapture written;
    if (!value.SerialiseInto(written) || written.bytes.size() != size ||
        (size != 0 && std::memcmp(written.bytes.data(), data, size) != 0)) {
        std::fprintf(stderr, "a loaded image was written back differently\n");
        std::abort();
    }
    return 0;
}
