// Where the readers find their files on drive C:. (The fuzz targets write no
// files: they hand the readers their bytes in memory, testkit/ConfigBytes.h.)
#pragma once

#include <string>

#include "platform/mfc/CString.h"
#include "tests/platform/TempFolder.h"

namespace KESUTest {

// The Windows path of C:\KESU\CFG\<name>.
inline CString ConfigPath(const std::string& name) {
    const std::wstring path = L"C:\\KESU\\CFG\\" + std::wstring(name.begin(), name.end());
    return CString(path.c_str());
}

// Writes C:\KESU\CFG\<name> of the drive whose root is drive, and answers its
// Windows path.
inline CString WriteConfigFile(const TempFolder& drive, const std::string& name, const std::string& bytes) {
    drive.Write("KESU/CFG/" + name, bytes);
    return ConfigPath(name);
}

}  // namespace KESUTest
