// Hands bytes to a configuration reader as the text of its file, without
// writing a file: the fuzz targets read every input this way, and the tests
// hold it to reading the same bytes from a file.
#pragma once

#include <cstddef>

#include "config/ConfigRead.h"
#include "config/TreadmillSupportRead.h"
#include "platform/mfc/CString.h"
#include "platform/mfc/StdioFile.h"

namespace KESUTest {

// ConfigRead::Read of a file holding the bytes: 1 or -1.
inline int ReadConfigBytes(ConfigRead& reader, const void* data, size_t size, CString& errors) {
    CStdioFile file;
    file.OpenBytes(data, size);
    return reader.ReadOpened(file, errors);
}

// TreadmillSupportRead::Read of a file holding the bytes: 1 or -1.
inline int ReadConfigBytes(TreadmillSupportRead& reader, const void* data, size_t size,
                           TreadmillSupportSettings* settings, CString& errors) {
    CStdioFile file;
    file.OpenBytes(data, size);
    return reader.ReadOpened(file, settings, errors);
}

}  // namespace KESUTest
