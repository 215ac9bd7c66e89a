#include <cstdlib>

#include "config/CComboRead.h"
#include "fuzz/config/FuzzConfigFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const CString path = KESUFuzz::Drive().Write("CombinationPlatform.cfg", data, size);
    CComboRead reader;
    CString errors;
    const int result = reader.Read(path, errors);
    KESUFuzz::CheckResult(result, errors);
    if (reader.comboReadCount > CComboRead::kMaxCombos ||
        reader.memberRefReadCount > CComboRead::kMaxMemberRefs ||
        reader.memberReadCount > CComboRead::kMaxMembers)
        std::abort();
    return 0;
}
