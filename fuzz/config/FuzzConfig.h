// What the configuration fuzz targets share. The bytes go to the readers in
// memory (testkit/ConfigBytes.h): a file per input held them to about 140
// runs a second.
#pragma once

#include <cstdlib>

#include "platform/mfc/CString.h"
#include "testkit/ConfigBytes.h"

namespace KESUFuzz {

// A reader's result and its error text must agree.
inline void CheckResult(int result, const CString& errors) {
    if (result != 1 && result != -1) std::abort();
    if ((result == 1) != errors.IsEmpty()) std::abort();
}

}  // namespace KESUFuzz
