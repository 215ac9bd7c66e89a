#include <cstdint>
#include <cstdlib>

#include "config/CComboRead.h"
#include "fuzz/config/FuzzConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CComboRead reader;
    CString errors;
    const int result = KESUTest::ReadConfigBytes(reader, data, size, errors);
    KESUFuzz::CheckResult(result, errors);
    if (reader.comboReadCount > CComboRead::kMaxCombos ||
        reader.memberRefReadCount > CComboRead::kMaxMemberRefs ||
        reader.memberReadCount > CComboRead::kMaxMembers)
        std::abort();
    return 0;
}
