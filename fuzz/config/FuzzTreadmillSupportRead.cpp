#include <cstdint>
#include <cstdlib>

#include "config/TreadmillSupportRead.h"
#include "fuzz/config/FuzzConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TreadmillSupportRead reader;
    TreadmillSupportSettings settings{};
    CString errors;
    const int result = KESUTest::ReadConfigBytes(reader, data, size, &settings, errors);
    KESUFuzz::CheckResult(result, errors);
    if (reader.physicalPlateCount < 0 || reader.physicalPlateCount > TreadmillSupportRead::kMaxPlates)
        std::abort();
    if (settings.setupType != 0 && settings.setupType != 4 && settings.setupType != 5) std::abort();
    return 0;
}
