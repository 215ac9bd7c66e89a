#include <cstdint>
#include <cstdlib>

#include "config/AmbulorRead.h"
#include "fuzz/config/FuzzConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AmbulorRead reader;
    CString errors;
    const int result = KESUTest::ReadConfigBytes(reader, data, size, errors);
    KESUFuzz::CheckResult(result, errors);
    if (reader.count < 0 || reader.count > AmbulorRead::kMaxDevices) std::abort();
    return 0;
}
