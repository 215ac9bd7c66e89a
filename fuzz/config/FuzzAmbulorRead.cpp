#include <cstdlib>

#include "config/AmbulorRead.h"
#include "fuzz/config/FuzzConfigFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const CString path = KESUFuzz::Drive().Write("Ambulor.cfg", data, size);
    AmbulorRead reader;
    CString errors;
    const int result = reader.Read(path, errors);
    KESUFuzz::CheckResult(result, errors);
    if (reader.count < 0 || reader.count > AmbulorRead::kMaxDevices) std::abort();
    return 0;
}
